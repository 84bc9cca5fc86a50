#!/usr/bin/env python3
"""Checks the benchmark harness's instruction counting: reading callgrind's profiles, and
the table that compares velq with the other engines and with a base build."""

import io
import os
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "bench"))
import harness  # noqa: E402


def profile_file(text):
    """A temporary file holding text, removed when the test ends."""
    handle = tempfile.NamedTemporaryFile("w", suffix=".out", delete=False)
    handle.write(text)
    handle.close()
    return handle.name


class CallgrindTotal(unittest.TestCase):
    CASES = [
        ("current profile", "events: Ir\nsummary: 1234\n\nfn=(1) main\n5 7\ntotals: 1234\n", 1234),
        ("older profile, summary only", "events: Ir\nsummary: 99\nfn=(1) main\n", 99),
        ("Ir not the first event", "events: Dr Ir Dw\ntotals: 5 77 9\n", 77),
        ("no Ir event", "events: Dr Dw\ntotals: 5 9\n", None),
        ("no totals", "events: Ir\nfn=(1) main\n", None),
        ("cut short", "events: Ir\ntotals:\n", None),
    ]

    def test_reads_the_total_instructions(self):
        for name, text, expected in self.CASES:
            with self.subTest(name):
                path = profile_file(text)
                self.addCleanup(os.remove, path)
                self.assertEqual(harness.callgrind_total(path), expected)

    def test_missing_profile_has_no_total(self):
        self.assertIsNone(harness.callgrind_total("/nonexistent/callgrind.out"))


@unittest.skipUnless(harness.VALGRIND, "valgrind is not installed")
class CountInstructions(unittest.TestCase):
    """Runs real commands under callgrind, so the profile's actual format is read."""

    def setUp(self):
        self.folder = tempfile.TemporaryDirectory()
        self.addCleanup(self.folder.cleanup)
        self.profile = os.path.join(self.folder.name, "run.out")

    def test_counts_a_run_and_keeps_its_output(self):
        count = harness.Count()
        harness.count_instructions(["/bin/echo", "42 7"], self.profile, 120, True, count)
        self.assertIsNone(count.failure)
        self.assertEqual(count.output, "42 7")
        self.assertGreater(count.instructions, 0)

    def test_failing_run_is_reported_without_a_count(self):
        count = harness.Count()
        harness.count_instructions(["/bin/false"], self.profile, 120, True, count)
        self.assertEqual(count.failure.split(":")[0], "exit 1 under callgrind")
        self.assertIsNone(count.instructions)


class InstructionTable(unittest.TestCase):
    """The table of counts gives each engine's count at n less its count at size 0, and
    divides velq's by each other engine's."""

    ENGINES = [harness.Engine("velq", "velq", ".velq", "velq"),
               harness.Engine("velq-base", "base", ".velq", "velq-old"),
               harness.Engine("lua", "lua", ".lua", "lua5.4")]

    class FakeBench:
        """Gives each workload's counts per size from a table instead of running
        callgrind."""

        def __init__(self, engines, counts):
            self.engines = engines
            self.counts = counts

        def count_workload(self, workload, n):
            return self.counts[workload.name][n]

    def table(self, counts):
        options = type("Options", (), {"callgrind_size_factor": 0.1})()
        workloads = [harness.Workload(name, 1000, "") for name in counts]
        out = io.StringIO()
        stderr, sys.stderr = sys.stderr, io.StringIO()  # the failure notes
        try:
            harness.count_workloads(self.FakeBench(self.ENGINES, counts), workloads, options, out)
        finally:
            sys.stderr = stderr
        lines = out.getvalue().splitlines()
        header = lines.index(next(line for line in lines if line.startswith("workload")))
        return {line.split()[0]: line.split() for line in lines[header + 2:] if line.strip()}

    @staticmethod
    def count(ir, output="7"):
        return harness.Count(instructions=ir, output=output)

    def start_up(self, velq=50, base=60, lua=20):
        return {"velq": self.count(velq, "0"), "velq-base": self.count(base, "0"),
                "lua": self.count(lua, "0")}

    def test_start_up_is_subtracted_before_the_ratios(self):
        rows = self.table({"loop": {
            100: {"velq": self.count(1000), "velq-base": self.count(1060), "lua": self.count(520)},
            0: self.start_up()}})
        # workload, n, the three net counts, velq/base, velq/lua, the three start-up counts,
        # result; the output compared is the one at n.
        self.assertEqual(rows["loop"], ["loop", "100", "950", "1,000", "500", "0.950", "1.90",
                                        "50", "60", "20", "ok"])

    def test_failed_engine_leaves_its_cells_empty(self):
        rows = self.table({"text": {
            100: {"velq": self.count(60), "velq-base": harness.Count(failure="exit 1 under callgrind"),
                  "lua": self.count(25)},
            0: self.start_up()}})
        self.assertEqual(rows["text"], ["text", "100", "10", "-", "5", "-", "2.00",
                                        "50", "60", "20", "FAIL", "velq-base"])

    def test_failed_start_up_run_fails_the_engine(self):
        start = self.start_up()
        start["lua"] = harness.Count(failure="exit 1 under callgrind")
        rows = self.table({"fib": {
            100: {"velq": self.count(60), "velq-base": self.count(60), "lua": self.count(25)},
            0: start}})
        self.assertEqual(rows["fib"][2:7], ["10", "0", "-", "-", "-"])
        self.assertEqual(rows["fib"][-2:], ["FAIL", "lua"])

    def test_different_outputs_are_a_mismatch(self):
        rows = self.table({"fib": {
            100: {"velq": self.count(60), "velq-base": self.count(70), "lua": self.count(25, "8")},
            0: self.start_up()}})
        self.assertEqual(rows["fib"][-1], "MISMATCH")


class GroupedTables(unittest.TestCase):
    """The timed tables come per group, each with the geometric mean of its ratios."""

    def test_geometric_mean_skips_missing_ratios(self):
        self.assertAlmostEqual(harness.geometric_mean([2.0, 8.0, None]), 4.0)
        self.assertIsNone(harness.geometric_mean([None]))

    def test_groups_keep_their_order_and_leave_out_empty_ones(self):
        workloads = [harness.Workload("towers", 1, "", "program"),
                     harness.Workload("loop", 1, ""),
                     harness.Workload("sieve", 1, "", "program")]
        self.assertEqual([(title, [w.name for w in members])
                          for title, members in harness.grouped(workloads)],
                         [("Interpreter workloads", ["loop"]),
                          ("Benchmark programs", ["towers", "sieve"])])

    def test_every_workload_has_a_known_group_and_its_three_scripts(self):
        groups = {group for group, _ in harness.GROUPS}
        for workload in harness.WORKLOADS:
            with self.subTest(workload.name):
                self.assertIn(workload.group, groups)
                for extension in (".velq", ".lua", ".py"):
                    self.assertTrue(os.path.exists(os.path.join(
                        harness.WORKLOAD_DIR, workload.name + extension)))


if __name__ == "__main__":
    unittest.main()
