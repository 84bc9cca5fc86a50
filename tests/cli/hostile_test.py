#!/usr/bin/env python3
"""Scripts written to escape the budgets, each run by the velq tool under a small time
and memory budget: each must end with its error within the budget plus a small bound,
whatever one instruction or built-in costs. Wall time and peak RSS are measured per
row and printed, so a failure shows how far a row went.

Usage: hostile_test.py VELQ
"""
import os
import resource
import signal
import subprocess
import sys
import time

# A text of n bytes, built by doubling and cut to size, as the first lines of main.
def text_of(n, name="s"):
    return (f'  {name} = "x";\n'
            f'  while (length({name}) < {n}) {name} = {name} . {name};\n'
            f'  {name} = left({name}, {n});\n')

MiB = 1 << 20

# The slack allowed past a time limit. Generous, as the machines that run the tests are
# shared; before the work inside instructions was charged, these rows ran for tens of
# seconds or minutes, so the bound still tells a fault from a slow machine.
TIME_SLACK = 1.5
# The tool's own resident memory around a run (code, libraries, the script's text), and
# what the allocator holds beyond what a budget counts (freed blocks it keeps).
RSS_BASELINE = 8 * MiB

# name, script body, options, expected error text, time limit (s), memory limit (bytes),
# and, for a row that Ctrl-C stops, the delay before the signal.
ROWS = [
    ("concatenation of a large text", text_of(16 * MiB) + '  while (1) t = s . "y";\n',
     0.5, 96 * MiB, "Error 27", None),
    ("upper of a large text", text_of(16 * MiB) + "  while (1) t = upper(s);\n",
     0.5, 96 * MiB, "Error 27", None),
    ("index in a large text", text_of(32 * MiB) + '  while (1) t = index(s, "ab");\n',
     0.5, 160 * MiB, "Error 27", None),
    ("left padding to a large width", '  while (1) t = left("a", 16000000);\n',
     0.5, 96 * MiB, "Error 27", None),
    ("Replace in a large text", text_of(8 * MiB) + '  while (1) t = Replace(s, "x", "yz");\n',
     0.5, 96 * MiB, "Error 27", None),
    ("Join of many pieces",
     text_of(1 * MiB) + '  p = Split(s, "");\n  while (1) t = Join(p, ",");\n',
     1.0, 1024 * MiB, "Error 27", None),
    ("Sort of many elements",
     '  array a;\n  i = 0;\n  while (i < 2000000) { a[i] = (i * 7919) % 1000003; i++; }\n'
     '  while (1) t = Sort(a);\n', 1.0, 1024 * MiB, "Error 27", None),
    ("Split into characters", text_of(15 * MiB) + '  p = Split(s, "");\n  return Count(p);\n',
     0.2, 4096 * MiB, "Error 27", None),
    ("copies of nested arrays under a deadline",
     "  array a;\n  array b;\n  a[0] = 1;\n  while (1) { b[0] = a; b[1] = a; a = b; }\n",
     0.5, 4096 * MiB, "Error 27", None),
    ("copies of nested arrays under a memory budget",
     "  array a;\n  array b;\n  a[0] = 1;\n  while (1) { b[0] = a; b[1] = a; a = b; }\n",
     10.0, 64 * MiB, "Error 28", None),
    ("many small values under a memory budget",
     '  array a;\n  i = 0;\n  while (1) { a[i] = i . ""; i++; }\n',
     10.0, 32 * MiB, "Error 28", None),
    ("Ctrl-C during copies of nested arrays",
     "  array a;\n  array b;\n  a[0] = 1;\n  while (1) { b[0] = a; b[1] = a; a = b; }\n",
     0, 4096 * MiB, "Run cancelled", 0.3),
]


def run_row(velq, workdir, row):
    name, body, seconds, memory, expected, interrupt_after = row
    path = os.path.join(workdir, "hostile.velq")
    with open(path, "w") as f:
        f.write("sub main() {\n" + body + "}\n")
    command = [velq, "--max-memory", str(memory)]
    if seconds:
        command += ["--timeout", str(seconds)]
    command.append(path)
    start = time.monotonic()
    process = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    try:
        if interrupt_after is not None:
            time.sleep(interrupt_after)
            process.send_signal(signal.SIGINT)
            start = time.monotonic()  # the bound runs from the signal
        out, err = process.communicate(timeout=float(os.environ.get("VELQ_HOSTILE_GIVE_UP", "60")))
    except subprocess.TimeoutExpired:
        process.kill()
        out, err = process.communicate()
    wall = time.monotonic() - start
    # The peak RSS of this child alone: each row runs in a child of its own process.
    return process.returncode, wall, err.decode(errors="replace")


def measured(velq, workdir, row):
    # A fork per row, so that RUSAGE_CHILDREN sees that row's tool alone.
    read_end, write_end = os.pipe()
    pid = os.fork()
    if pid == 0:
        os.close(read_end)
        status, wall, err = run_row(velq, workdir, row)
        rss = resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss * 1024
        os.write(write_end, repr((status, wall, rss, err)).encode())
        os._exit(0)
    os.close(write_end)
    data = b""
    while True:
        chunk = os.read(read_end, 65536)
        if not chunk:
            break
        data += chunk
    os.close(read_end)
    os.waitpid(pid, 0)
    return eval(data.decode())


def main():
    velq = sys.argv[1]
    workdir = os.environ.get("TMPDIR", "/tmp")
    workdir = os.path.join(workdir, f"velq-hostile-{os.getpid()}")
    os.makedirs(workdir, exist_ok=True)
    failures = 0
    for row in ROWS:
        name, _, seconds, memory, expected, interrupt_after = row
        status, wall, rss, err = measured(velq, workdir, row)
        time_bound = (seconds if interrupt_after is None else 0) + TIME_SLACK
        rss_bound = memory + memory // 10 + RSS_BASELINE
        problems = []
        wanted_status = 130 if interrupt_after is not None else 1
        if status != wanted_status:
            problems.append(f"exit status {status}, not {wanted_status}")
        if expected not in err:
            problems.append(f"no '{expected}' in: {err.strip()[:200]}")
        if wall > time_bound:
            problems.append(f"took {wall:.2f} s, past {time_bound:.2f} s")
        if rss > rss_bound and memory < 1024 * MiB:
            problems.append(f"held {rss / MiB:.0f} MiB, past {rss_bound / MiB:.0f} MiB")
        verdict = "FAIL" if problems else "ok"
        print(f"{verdict:4} {name}: {wall:.2f} s, peak RSS {rss / MiB:.0f} MiB"
              + ("" if not problems else " -- " + "; ".join(problems)))
        failures += bool(problems)
    try:
        os.remove(os.path.join(workdir, "hostile.velq"))
        os.rmdir(workdir)
    except OSError:
        pass
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
