#!/usr/bin/env python3
"""Runs the velq benchmarks against Lua 5.4 and Python 3 and prints the results.

Each workload in bench/workloads exists three times (NAME.velq, NAME.lua, NAME.py) and
prints one result line; the three lines must agree. Every workload is run several times
per engine, the engines taking turns. One table gives each engine's median wall and CPU
(user + system) seconds, a second the ratios velq/Lua and velq/Python of both and each
engine's peak resident memory. A scaling check then runs the workloads at n, 2n and 4n,
so that a cost growing faster than the work shows up as a growth exponent well above 1.

With --velq-base a second velq tool (the build before a change) is measured beside the
first as the engine velq-base, so that before and after come from one run. With
--callgrind every workload also runs once per engine under valgrind's callgrind tool,
and a table gives the total instructions executed (Ir): unlike times, velq's counts
repeat exactly from run to run, so they show small changes on a busy machine.

The "compile" workload is different: its three files generate a large script of n
functions in their own language. The benchmark times compiling that script without
running it (velq -d to /dev/null, Lua's load, Python's compile); the generated scripts
are run once, untimed, to check that they agree.

bench/run builds velq and installs Lua before calling this; see bench/README.md.
"""

import argparse
import math
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import threading
import time
from dataclasses import dataclass, field

BENCH_DIR = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(BENCH_DIR)
WORKLOAD_DIR = os.path.join(BENCH_DIR, "workloads")


# The groups of workloads, each printed in tables of its own, in this order: the small
# loops that each stress one part of the interpreter, the classic cross-language benchmark
# programs, and the text-building workload, whose time goes mostly to copying and to the
# kernel (see bench/README.md).
GROUPS = [
    ("interpreter", "Interpreter workloads"),
    ("program", "Benchmark programs"),
    ("text", "Text building"),
]


@dataclass
class Workload:
    name: str
    size: int          # the n of the table
    what: str
    group: str = "interpreter"
    compile_only: bool = False
    scaling: bool = True
    fixed_size: bool = False  # --size-factor leaves n as it is
    memory_size: int = 0      # the n of the peak memory table (0: not in it)


# The sizes let every engine run at least 0.3 s of CPU on the project's machines, except
# where the notes in bench/README.md say why not (text, compile).
WORKLOADS = [
    Workload("fib", 33, "recursive calls, fib(n)", scaling=False, fixed_size=True),
    Workload("calls", 3_000_000, "calls of 5 and 3 parameters with locals", scaling=False),
    Workload("loop", 10_000_000, "counting loop, integer arithmetic"),
    Workload("int64", 8_000_000, "int64 products, sums and hash past 2^31", scaling=False),
    Workload("real", 7_000_000, "real arithmetic in a loop"),
    Workload("string", 500_000, "concatenation, substr, index, upper"),
    Workload("array", 3_000_000, "array fill, sum, read back", memory_size=3_000_000),
    Workload("match", 300_000, "like and match with captures"),
    Workload("switch", 8_000_000, "switch dispatch loop"),
    Workload("builtin", 3_000_000, "built-in abs called from a loop"),
    Workload("compile", 2_000, "compile n generated functions", compile_only=True),
    Workload("towers", 150, "Towers: 13 disks on linked piles, n times", "program", scaling=False),
    Workload("queens", 350, "Queens: 8 queens ten times, n times", "program", scaling=False),
    Workload("sieve", 700, "Sieve: 5000 flags, n times", "program", scaling=False),
    Workload("bounce", 350, "Bounce: 100 balls 50 steps, n times", "program", scaling=False),
    Workload("list", 600, "List: tail over linked lists, n times", "program", scaling=False),
    Workload("permute", 300, "Permute: 6 elements, n times", "program", scaling=False),
    Workload("nbody", 250_000, "NBody: 5 bodies, n steps", "program", scaling=False),
    Workload("mandelbrot", 750, "Mandelbrot: n by n points", "program", scaling=False),
    Workload("storage", 100, "Storage: a tree of 5461 arrays, n times", "program", scaling=False,
             memory_size=100),
    Workload("text", 20_000, "appends n lines to one text variable", "text"),
]


@dataclass
class Engine:
    name: str
    label: str  # the engine's short name in column headers
    ext: str
    exe: str

    def run_command(self, script, n):
        return [self.exe, script, str(n)]

    def compile_command(self, script):
        if self.ext == ".velq":
            return [self.exe, "-d", script]
        driver = os.path.join(BENCH_DIR, "compile_only" + self.ext)
        return [self.exe, driver, script]


@dataclass
class Sample:
    seconds: float
    cpu: float  # user and system time of the engine
    peak_kb: int
    status: int
    output: str
    error: str
    timed_out: bool = False


@dataclass
class Result:
    times: list = field(default_factory=list)
    cpu: list = field(default_factory=list)
    peak_kb: int = 0
    output: str = None
    failure: str = None

    def add(self, sample):
        if sample.timed_out:
            self.failure = "timed out"
        elif sample.status != 0:
            self.failure = "exit %d: %s" % (sample.status, first_line(sample.error))
        if self.failure:
            return
        self.times.append(sample.seconds)
        self.cpu.append(sample.cpu)
        self.peak_kb = max(self.peak_kb, sample.peak_kb)
        if self.output is None:
            self.output = sample.output
        elif self.output != sample.output:
            self.failure = "output changed between runs"

    def median(self, cpu=False):
        values = self.cpu if cpu else self.times
        return statistics.median(values) if values and not self.failure else None

    def best(self, cpu=False):
        values = self.cpu if cpu else self.times
        return min(values) if values and not self.failure else None


def first_line(text):
    lines = [line for line in text.splitlines() if line.strip()]
    return lines[0][:120] if lines else ""


# The peak memory of a child is read by /usr/bin/time: the resource usage that wait4
# reports for a child forked from this harness also counts the harness's own pages
# from before the exec, which would hide the small engines' footprint.
TIME_TOOL = "/usr/bin/time" if os.access("/usr/bin/time", os.X_OK) else None


def measure(command, timeout, capture=True):
    """Runs one command; returns its wall time, peak memory, status and output."""
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err, \
            tempfile.NamedTemporaryFile(mode="r") as peak:
        if TIME_TOOL:
            command = [TIME_TOOL, "-q", "-f", "%M", "-o", peak.name] + command
        start = time.perf_counter()
        process = subprocess.Popen(command, stdin=subprocess.DEVNULL,
                                   stdout=out if capture else subprocess.DEVNULL, stderr=err)
        killed = threading.Event()

        def kill():
            killed.set()
            process.kill()

        timer = threading.Timer(timeout, kill)
        timer.start()
        try:
            _, status, usage = os.wait4(process.pid, 0)
        finally:
            timer.cancel()
        seconds = time.perf_counter() - start
        process.returncode = os.waitstatus_to_exitcode(status)
        out.seek(0)
        err.seek(0)
        peak_kb = usage.ru_maxrss
        if TIME_TOOL:
            text = peak.read().split()
            peak_kb = int(text[-1]) if text and text[-1].isdigit() else 0
        # wait4 reports the child with the children it waited for: the engine under the
        # time tool.
        cpu = usage.ru_utime + usage.ru_stime
        return Sample(seconds, cpu, peak_kb, process.returncode,
                      out.read().decode("utf-8", "replace").strip(),
                      err.read().decode("utf-8", "replace"), killed.is_set())


class Bench:
    def __init__(self, engines, options):
        self.engines = engines
        self.options = options
        self.workdir = tempfile.mkdtemp(prefix="velq-bench-")

    def close(self):
        shutil.rmtree(self.workdir, ignore_errors=True)

    def script(self, workload, engine):
        return os.path.join(WORKLOAD_DIR, workload.name + engine.ext)

    def prepare(self, workload, n):
        """The command to time per engine, and the result each engine's version gives.

        For a compile workload this generates the large script (untimed) and runs it once
        (untimed) for the result; the timed command then only compiles it."""
        commands, checks = {}, {}
        for engine in self.engines:
            if not workload.compile_only:
                commands[engine.name] = engine.run_command(self.script(workload, engine), n)
                continue
            generated = os.path.join(self.workdir, "%s_%d%s" % (workload.name, n, engine.ext))
            sample = measure(engine.run_command(self.script(workload, engine), n),
                             self.options.timeout)
            if sample.status != 0 or sample.timed_out:
                checks[engine.name] = Sample(0, 0, 0, sample.status or 1, "", "generator: " + sample.error,
                                             sample.timed_out)
                commands[engine.name] = None
                continue
            with open(generated, "w") as text:
                text.write(sample.output + "\n")
            checks[engine.name] = measure([engine.exe, generated], self.options.timeout)
            commands[engine.name] = engine.compile_command(generated)
        return commands, checks

    def measure_workload(self, workload, n, reps):
        commands, checks = self.prepare(workload, n)
        results = {engine.name: Result() for engine in self.engines}
        for name, check in checks.items():
            take_check(check, results[name])
        for rep in range(reps):
            # The engines take turns, each round starting with the next one, so that a
            # disturbance of the machine does not fall on one engine alone.
            order = self.engines[rep % len(self.engines):] + self.engines[:rep % len(self.engines)]
            for engine in order:
                result = results[engine.name]
                if result.failure or commands[engine.name] is None:
                    continue
                sample = measure(commands[engine.name], self.options.timeout,
                                 capture=not workload.compile_only)
                if workload.compile_only:
                    # The output checked is the generated script's result, taken above.
                    sample.output = result.output if result.output is not None else ""
                result.add(sample)
        return results

    def count_workload(self, workload, n):
        """Runs the workload once per engine under callgrind; the instruction counts."""
        commands, checks = self.prepare(workload, n)
        counts = {engine.name: Count() for engine in self.engines}
        for name, check in checks.items():
            take_check(check, counts[name])
        for engine in self.engines:
            count = counts[engine.name]
            if count.failure or commands[engine.name] is None:
                continue
            profile = os.path.join(self.workdir, "callgrind.%s.%d.%s.out"
                                   % (workload.name, n, engine.name))
            count_instructions(commands[engine.name], profile, self.options.timeout,
                               capture=not workload.compile_only, count=count)
        return counts


def take_check(check, result):
    """Records the untimed run of a generated script: its output, or why it failed."""
    if check.timed_out:
        result.failure = "generated script timed out"
    elif check.status != 0:
        result.failure = "exit %d: %s" % (check.status, first_line(check.error))
    else:
        result.output = check.output


VALGRIND = shutil.which("valgrind")


@dataclass
class Count:
    instructions: int = None  # the total Ir of the run
    output: str = None
    failure: str = None


def count_instructions(command, profile, timeout, capture, count):
    """Runs one command under callgrind, writing its profile to the file profile, and
    records the total instructions and the output in count. A compile workload's
    output is already there (the generated script's result) and is kept."""
    # --quiet leaves standard error to the program, whose first line a failure reports.
    command = [VALGRIND, "--tool=callgrind", "--quiet", "--callgrind-out-file=" + profile] + command
    try:
        done = subprocess.run(command, stdin=subprocess.DEVNULL,
                              stdout=subprocess.PIPE if capture else subprocess.DEVNULL,
                              stderr=subprocess.PIPE, timeout=timeout)
    except subprocess.TimeoutExpired:
        count.failure = "timed out under callgrind"
        return
    if done.returncode != 0:
        count.failure = "exit %d under callgrind: %s" % (
            done.returncode, first_line(done.stderr.decode("utf-8", "replace")))
        return
    if capture:
        count.output = done.stdout.decode("utf-8", "replace").strip()
    count.instructions = callgrind_total(profile)
    if count.instructions is None:
        count.failure = "no instruction total in " + profile


def callgrind_total(path):
    """The total instructions executed (event Ir) that a callgrind profile records, or
    None. The profile names its events on an "events:" line and gives their totals, in
    that order, on a "totals:" line (older versions: "summary:")."""
    events, total = ["Ir"], None
    try:
        with open(path, errors="replace") as profile:
            for line in profile:
                if line.startswith("events:"):
                    events = line.split()[1:]
                elif line.startswith(("totals:", "summary:")) and "Ir" in events:
                    values = line.split()[1:]
                    position = events.index("Ir")
                    if position < len(values) and values[position].isdigit():
                        total = int(values[position])
    except OSError:
        return None
    return total


def seconds_text(value):
    if value is None:
        return "-"
    return "%.3f" % value


def ratio_text(a, b, digits=2):
    if a is None or b is None or b <= 0:
        return "-"
    return "%.*f" % (digits, a / b)


def count_text(value):
    return "-" if value is None else "{:,}".format(value)


def memory_text(result):
    return "%.1f" % (result.peak_kb / 1024.0) if result.peak_kb and not result.failure else "-"


def print_table(rows, header, out):
    widths = [max(len(str(row[i])) for row in [header] + rows) for i in range(len(header))]
    line = "  ".join(str(h).ljust(w) if i == 0 else str(h).rjust(w)
                     for i, (h, w) in enumerate(zip(header, widths)))
    out.write(line + "\n")
    out.write("-" * len(line) + "\n")
    for row in rows:
        out.write("  ".join(str(c).ljust(w) if i == 0 else str(c).rjust(w)
                            for i, (c, w) in enumerate(zip(row, widths))) + "\n")


def agreement(results, engines):
    outputs = {e.name: results[e.name].output for e in engines if not results[e.name].failure}
    failed = [e.name for e in engines if results[e.name].failure]
    if failed:
        return "FAIL " + ",".join(failed)
    if len(set(outputs.values())) > 1:
        return "MISMATCH"
    return "ok"


def scaled_size(workload, factor):
    if workload.fixed_size:
        return workload.size
    return max(1, int(round(workload.size * factor)))


def parse_options():
    parser = argparse.ArgumentParser(description="Benchmarks velq against Lua 5.4 and Python 3.")
    parser.add_argument("--velq", default=os.path.join(ROOT, "build-bench", "bin", "velq"),
                        help="the velq tool to measure")
    parser.add_argument("--velq-base", default="",
                        help="a second velq tool (the build before a change), measured beside "
                             "the first as the engine velq-base")
    parser.add_argument("--lua", default=shutil.which("lua5.4") or "lua5.4")
    # Debian's python3 is the baseline; a python3 earlier on PATH may be a wrapper script
    # (a version manager's shim) whose own start-up would be timed.
    parser.add_argument("--python", default="/usr/bin/python3" if os.access("/usr/bin/python3", os.X_OK)
                        else shutil.which("python3") or "python3")
    parser.add_argument("--reps", type=int, default=5, help="runs per engine and workload")
    parser.add_argument("--scale-reps", type=int, default=2,
                        help="runs per engine and size in the scaling check")
    parser.add_argument("--size-factor", type=float, default=1.0,
                        help="multiply every workload's n by this (quick runs)")
    parser.add_argument("--only", default="", help="comma-separated workload names")
    parser.add_argument("--no-scaling", action="store_true", help="skip the scaling check")
    parser.add_argument("--no-memory", action="store_true", help="skip the peak memory table")
    parser.add_argument("--no-timing", action="store_true",
                        help="skip the timed tables and the scaling check (with --callgrind: "
                             "only the instruction counts)")
    parser.add_argument("--callgrind", action="store_true",
                        help="also count each workload's instructions under valgrind's callgrind, "
                             "one run per engine")
    parser.add_argument("--callgrind-size-factor", type=float, default=0.1,
                        help="multiply every workload's n by this for the callgrind runs "
                             "(in place of --size-factor)")
    parser.add_argument("--timeout", type=float, default=600.0, help="seconds per run")
    return parser.parse_args()


def find_engines(options):
    """The engines to measure, in the order of the table's columns: velq, velq-base when
    given, then Lua and Python where they are installed."""
    engines = []
    for name, label, exe in (("velq", "velq", options.velq), ("velq-base", "base", options.velq_base)):
        if name == "velq-base" and not exe:
            continue
        if not os.access(exe, os.X_OK):
            sys.exit("bench: no velq tool at %s (build it, or pass --%s)" % (exe, name))
        engines.append(Engine(name, label, ".velq", exe))
    for name, label, ext, exe in (("lua", "lua", ".lua", options.lua),
                                  ("python", "py", ".py", options.python)):
        if shutil.which(exe):
            engines.append(Engine(name, label, ext, exe))
        else:
            print("bench: %s not found (%s); its columns stay empty" % (name, exe), file=sys.stderr)
    return engines


def chosen_workloads(options):
    if not options.only:
        return WORKLOADS
    wanted = options.only.split(",")
    unknown = set(wanted) - {w.name for w in WORKLOADS}
    if unknown:
        sys.exit("bench: unknown workload(s): %s" % ", ".join(sorted(unknown)))
    return [w for w in WORKLOADS if w.name in wanted]


def report_failures(workload, results, engines):
    """Says on standard error why an engine failed, and what each printed on a mismatch."""
    for engine in engines:
        if results[engine.name].failure:
            print("bench: %s %s: %s" % (workload.name, engine.name, results[engine.name].failure),
                  file=sys.stderr)
    if agreement(results, engines) == "MISMATCH":
        for engine in engines:
            if results[engine.name].output is not None:
                print("bench: %s %s printed: %s" % (workload.name, engine.name,
                                                     results[engine.name].output), file=sys.stderr)


def geometric_mean(values):
    """The geometric mean of the positive values, or None when there are none."""
    values = [v for v in values if v is not None and v > 0]
    if not values:
        return None
    return math.exp(sum(math.log(v) for v in values) / len(values))


def grouped(workloads):
    """The workloads by group, in the order of GROUPS: (title, workloads) per group that
    has any."""
    return [(title, [w for w in workloads if w.group == group]) for group, title in GROUPS
            if any(w.group == group for w in workloads)]


def time_workloads(bench, workloads, options, out):
    """Times every workload on every engine and prints, per group, the table of times and
    the table of ratios; returns each workload's n and results for the scaling check."""
    engines = bench.engines
    summary = {}
    for workload in workloads:
        n = scaled_size(workload, options.size_factor)
        results = bench.measure_workload(workload, n, options.reps)
        summary[workload.name] = (n, results)
        report_failures(workload, results, engines)
    for title, members in grouped(workloads):
        print_time_tables(title, members, summary, engines, out)
    out.flush()
    return summary


def print_time_tables(title, workloads, summary, engines, out):
    """The table of median times of one group of workloads, then the ratios of velq's
    medians to each other engine's, with their geometric mean over the group."""
    out.write("%s: median wall seconds (s) and CPU seconds, user + system (cpu), per engine:\n"
              % title)
    header = ["workload", "n"]
    for engine in engines:
        header += [engine.label + " s", engine.label + " cpu"]
    rows = []
    for workload in workloads:
        n, results = summary[workload.name]
        row = [workload.name, n]
        for engine in engines:
            result = results[engine.name]
            row += [seconds_text(result.median()), seconds_text(result.median(cpu=True))]
        rows.append(row + [agreement(results, engines)])
    print_table(rows, header + ["result"], out)

    # velq against every other engine; the CPU ratios are disturbed less by other work
    # on the machine.
    velq, others = engines[0], engines[1:]
    out.write("\n%s: ratios of the medians, velq to each engine (velq/X wall, cpu v/X CPU):\n"
              % title)
    header = ["workload"] + ["velq/" + e.label for e in others] + ["cpu v/" + e.label for e in others]
    rows, ratios = [], []
    for workload in workloads:
        results = summary[workload.name][1]
        mine = results[velq.name]
        wall = [ratio_value(mine.median(), results[e.name].median()) for e in others]
        cpu = [ratio_value(mine.median(cpu=True), results[e.name].median(cpu=True)) for e in others]
        ratios.append(wall + cpu)
        rows.append([workload.name] + [ratio_text(v, 1) for v in wall + cpu])
    if len(workloads) > 1:
        rows.append(["geometric mean"] + [ratio_text(geometric_mean(column), 1)
                                          for column in zip(*ratios)])
    print_table(rows, header, out)
    for workload in workloads:
        out.write("  %-10s %s\n" % (workload.name, workload.what))
    out.write("\n")


def ratio_value(a, b):
    return None if a is None or b is None or b <= 0 else a / b


def memory_workloads(bench, workloads, options, out):
    """Measures the peak memory of the workloads that have a memory size, once at that
    size and once at size 0 (the engine's floor: start-up and the script), and prints
    both with the difference, which is the memory the workload's data takes."""
    workloads = [w for w in workloads if w.memory_size]
    if not workloads:
        return
    engines = bench.engines
    velq, others = engines[0], engines[1:]
    rows = []
    for workload in workloads:
        floor = bench.measure_workload(workload, 0, 1)
        peak = bench.measure_workload(workload, workload.memory_size, 1)
        report_failures(workload, peak, engines)
        above = {}
        row = [workload.name, workload.memory_size]
        for engine in engines:
            low, high = floor[engine.name], peak[engine.name]
            ok = not low.failure and not high.failure and low.peak_kb and high.peak_kb
            above[engine.name] = (high.peak_kb - low.peak_kb) / 1024.0 if ok else None
            row += [memory_text(low), memory_text(high),
                    "-" if above[engine.name] is None else "%.1f" % above[engine.name]]
        row += [ratio_text(above[velq.name], above[e.name]) for e in others]
        rows.append(row + [agreement(peak, engines)])
    out.write("Peak memory in MB (the maximum resident set), one run per engine at size 0 (floor)\n"
              "and at the size n given here (peak); above = peak - floor, the workload's own data:\n")
    header = ["workload", "n"]
    for engine in engines:
        header += [engine.label + " floor", engine.label + " peak", engine.label + " above"]
    header += ["above v/" + e.label for e in others] + ["result"]
    print_table(rows, header, out)
    out.write("\n")
    out.flush()


def net_counts(at_n, at_zero, engines):
    """The instructions of the runs at n less those of the runs at size 0 (start-up,
    compiling the script, and for a compile workload the tool's own set-up), per engine,
    as Counts that keep the outputs at n; a failure of either run is the engine's
    failure."""
    net = {}
    for engine in engines:
        full, start = at_n[engine.name], at_zero[engine.name]
        count = Count(output=full.output, failure=full.failure)
        if not count.failure and start.failure:
            count.failure = "at size 0: " + start.failure
        if not count.failure:
            count.instructions = full.instructions - start.instructions
        net[engine.name] = count
    return net


def count_workloads(bench, workloads, options, out):
    """Counts every workload's instructions on every engine under callgrind, at n and at
    size 0, and prints the table of the differences, with the ratio of velq's to each
    other engine's, and the counts at size 0 (start-up)."""
    engines = bench.engines
    velq, others = engines[0], engines[1:]
    out.write("Instructions executed (callgrind's total Ir) at %g of each n less those at size 0\n"
              "(start-up, shown as X start), one run per engine and size; velq's repeat exactly\n"
              "(Lua's and Python's within a fraction of a percent, their hashing being seeded at\n"
              "random), so a ratio velq/base away from 1.000 is the change's own:\n"
              % options.callgrind_size_factor)
    out.flush()
    rows = []
    for workload in workloads:
        n = scaled_size(workload, options.callgrind_size_factor)
        at_n = bench.count_workload(workload, n)
        at_zero = bench.count_workload(workload, 0)
        counts = net_counts(at_n, at_zero, engines)
        report_failures(workload, counts, engines)
        mine = counts[velq.name].instructions
        row = [workload.name, n] + [count_text(counts[e.name].instructions) for e in engines]
        # The base ratio judges a change, so it gets a digit more.
        row += [ratio_text(mine, counts[e.name].instructions, 3 if e.name == "velq-base" else 2)
                for e in others]
        row += [count_text(at_zero[e.name].instructions) for e in engines]
        rows.append(row + [agreement(counts, engines)])
    header = (["workload", "n"] + [e.label + " Ir" for e in engines]
              + ["velq/" + e.label for e in others] + [e.label + " start" for e in engines]
              + ["result"])
    print_table(rows, header, out)
    out.flush()


def main():
    options = parse_options()
    if options.callgrind and not VALGRIND:
        sys.exit("bench: --callgrind needs valgrind (apt-get install -y valgrind)")
    engines = find_engines(options)
    workloads = chosen_workloads(options)

    out = sys.stdout
    out.write("velq benchmarks: %s\n" % ", ".join("%s=%s" % (e.name, e.exe) for e in engines))
    if not options.no_timing:
        out.write("%d runs each per workload and engine, medians in seconds\n" % options.reps)
    out.write("load average at start: %.2f %.2f %.2f on %d cores\n\n"
              % (os.getloadavg() + (os.cpu_count() or 0,)))
    out.flush()

    bench = Bench(engines, options)
    try:
        if not options.no_timing:
            summary = time_workloads(bench, workloads, options, out)
            if not options.no_memory:
                memory_workloads(bench, workloads, options, out)
            if not options.no_scaling:
                scaling(bench, [w for w in workloads if w.scaling], summary, options, out)
        if options.callgrind:
            count_workloads(bench, workloads, options, out)
        out.write("\nload average at end: %.2f %.2f %.2f\n" % os.getloadavg())
    finally:
        bench.close()


def scaling(bench, workloads, summary, options, out):
    """Times each workload at n, 2n and 4n and prints the growth per doubling.

    The fastest run of each size is used, since other work on the machine only ever
    makes a run slower, and the growth is computed from CPU time (user + system), which
    that work disturbs less than wall time. The exponent log2(t(4n)/t(n))/2 is 1 for a
    cost linear in n and 2 for a quadratic one; start-up time pulls it below 1 for short
    runs."""
    out.write("Scaling: fastest of %d runs at n, 2n, 4n; wall times, then the growth of CPU time;\n"
              "exponent = log2(cpu(4n)/cpu(n))/2 (1 linear, 2 quadratic)\n" % options.scale_reps)
    rows = []
    for workload in workloads:
        n, base = summary[workload.name]
        wall = {name: [base[name].best()] for name in base}
        cpu = {name: [base[name].best(True)] for name in base}
        peaks = {name: [base[name].peak_kb] for name in base}
        for factor in (2, 4):
            results = bench.measure_workload(workload, n * factor, options.scale_reps)
            for name in wall:
                wall[name].append(results[name].best())
                cpu[name].append(results[name].best(True))
                peaks[name].append(results[name].peak_kb)
        for engine in bench.engines:
            t, c = wall[engine.name], cpu[engine.name]
            if any(v is None for v in t + c) or min(c) <= 0:
                rows.append([workload.name, engine.name, n] + ["-"] * 7)
                continue
            exponent = math.log2(c[2] / c[0]) / 2
            verdict = "GROWS FASTER THAN n" if exponent > 1.25 and c[2] > 0.2 else ""
            rows.append([workload.name, engine.name, n] + [seconds_text(v) for v in t] +
                        ["%.2f" % (c[1] / c[0]), "%.2f" % (c[2] / c[1]), "%.2f" % exponent,
                         "%.1f/%.1f" % (peaks[engine.name][0] / 1024.0, peaks[engine.name][2] / 1024.0),
                         verdict])
        out.flush()
    header = ["workload", "engine", "n", "t(n)", "t(2n)", "t(4n)", "cpu 2n/n", "cpu 4n/2n",
              "exponent", "MB n/4n", ""]
    rows = [r + [""] * (len(header) - len(r)) for r in rows]
    print_table(rows, header, out)
    out.write("\n")


if __name__ == "__main__":
    main()
