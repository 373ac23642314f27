#!/usr/bin/env python3
"""The comparison of two kept Wine runs (scripts/compare_wine_runs.py): what
the pace of a run decides is forgotten, every other change of the board's
commands or of a screenshot is found.

    python3 tests/compare_wine_runs_test.py
"""
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

sys.dont_write_bytecode = True  # nothing left behind in scripts/
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                "..", "scripts"))
import compare_wine_runs as cmp  # noqa: E402

SUFFIX = r" \x5cr\x5cn"


def log_lines(*parts):
    """A wire log from steps: "Q" a whole query, "N.V" a setport, any other
    text a text command; times rising."""
    commands = []
    for p in parts:
        if p == "Q":
            commands += cmp.QUERY_COMMANDS
        elif len(p) == 3 and p[1] == ".":
            commands.append(f"text setport {p}{SUFFIX}")
        else:
            commands.append(p if p.startswith(("text ", "block ")) else
                            f"text {p}{SUFFIX}")
    return [f"{100 * i} {c}" for i, c in enumerate(commands)]


def cycle(*readings, warm_up=2):
    """A whole measurement cycle: the sensor on for warm_up ticks, then for
    each reading "MN" (output 5 gets M, output 4 gets N) the sensor on
    again and the two decisions, then the sensor off; a query after each
    command."""
    steps = ["3.1", "Q"] * warm_up
    for r in readings:
        steps += ["3.1", "Q", "5." + r[0], "Q", "4." + r[1], "Q"]
    return steps + ["3.0", "Q"]


FULL, LOW = cycle("10", "10", "10"), cycle("00", "00", "00")
REFILL = cycle("01", "01", "00")  # the well dry, then filled by the test
# Cycles cut short: by the measurement switched on, before and after a
# console command, by the measurement switched off before a pulse.
HEAD = ["3.1", "Q", "5.1", "Q", "4.0", "Q", "3.0", "Q"]
BEFORE_CONSOLE = ["3.1", "Q"]
AFTER_CONSOLE = ["3.1", "Q", "3.1", "Q", "5.0", "Q", "4.0", "Q",
                 "3.1", "Q", "5.0", "Q", "4.0", "Q", "3.0", "Q"]
PULSE = ["3.1", "Q", "3.1", "Q", "1.1", "Q", "1.0", "Q"]


def course(full=FULL, low=LOW, refill=REFILL, after_console=AFTER_CONSOLE):
    """A run that switches the measurement on in the middle of a cycle,
    lets the well drain past Maximum and Minimum and fill again, gives a
    console command in the middle of a cycle, switches the measurement
    off in the middle of one and pulses output 1."""
    return (["Q", "Q", "Q"] + HEAD + full + low * 3 + refill + low * 2 +
            BEFORE_CONSOLE + ["GETSTATUS", "Q"] + after_console + low + PULSE)


class Wire(unittest.TestCase):
    BEFORE = course()

    def setUp(self):
        self.dir = tempfile.mkdtemp()

    def tearDown(self):
        shutil.rmtree(self.dir)

    def compare(self, before, after):
        paths = []
        for name, lines in (("before.log", before), ("after.log", after)):
            paths.append(os.path.join(self.dir, name))
            with open(paths[-1], "w", encoding="latin-1") as f:
                f.write("".join(line + "\n" for line in lines))
        return cmp.compare_wire(*paths)

    def assert_found(self, after, *expected):
        equal, report = self.compare(log_lines(*self.BEFORE), after)
        self.assertFalse(equal, "found no difference")
        text = "\n".join(report)
        for e in expected:
            self.assertIn(e, text)
        return report

    def test_the_pace_of_a_run_is_forgotten(self):
        # Fewer queries between the events; the measurement switched on and
        # off, and the console command given, at other moments of their
        # cycles; one cycle more at each level; the refilled well seen a
        # reading later.
        after = (["Q"] + cycle("10")[4:] + FULL * 2 + LOW * 4 +
                 cycle("01", "01", "01") + ["GETSTATUS", "Q", "Q"] +
                 AFTER_CONSOLE[4:] + LOW * 3 + ["Q", "1.1", "Q", "Q", "1.0",
                                                "Q"])
        equal, report = self.compare(log_lines(*self.BEFORE), log_lines(*after))
        self.assertTrue(equal, report)
        self.assertIn("in the normal form", report[0])
        equal, report = self.compare(log_lines(*self.BEFORE),
                                     log_lines(*self.BEFORE))
        self.assertTrue(equal, report)
        self.assertIn("with only the queries collapsed", report[0])

    def test_a_changed_command_is_found(self):
        lines = log_lines(*self.BEFORE)
        # The first query without Getgw.
        broken = lines[:3] + lines[4:]
        self.assertEqual(broken[3].split(" ", 1)[1], f"text Getmask{SUFFIX}")
        self.assert_found(broken, "the sequences differ", f"text Getip{SUFFIX}")
        # A console command with another line end.
        self.assert_found(
            [line.replace(f"GETSTATUS{SUFFIX}", r"GETSTATUS \x5cn")
             for line in lines], r"text GETSTATUS \x5cn")
        # A console command sent twice.
        twice = list(self.BEFORE)
        twice.insert(twice.index("GETSTATUS"), "GETSTATUS")
        self.assert_found(log_lines(*twice), "the sequences differ")
        # The pulse without its query.
        self.assert_found(log_lines(*(self.BEFORE[:-3] + self.BEFORE[-2:])),
                          "the sequences differ")

    def test_a_changed_cycle_is_found(self):
        # Two readings a cycle where there were three.
        self.assert_found(log_lines(*course(low=cycle("00", "00"))),
                          "the sequences differ")
        # The sensor warming up a tick longer.
        self.assert_found(log_lines(*course(
            full=cycle("10", "10", "10", warm_up=3))), "the sequences differ")
        # The readings without their decisions on output 4.
        no_4 = [s for s in FULL if not s.startswith("4.")]
        no_4 = [s for i, s in enumerate(no_4) if not (s == no_4[i - 1] == "Q")]
        self.assert_found(log_lines(*course(full=no_4)), "the sequences differ")
        # The sensor never switched off: no whole cycle is left.
        self.assert_found(log_lines(*[s for s in self.BEFORE if s != "3.0"]),
                          "the sequences differ")

    def test_changed_decisions_are_found(self):
        # The dry well never switches output 4 on: the same commands, the
        # decisions alone differ.
        report = self.assert_found(log_lines(*course(refill=LOW)))
        self.assertEqual(report, [
            "the decisions differ:",
            "    before: setport 5.1 setport 4.0 setport 5.0 setport 4.1 "
            "setport 4.0",
            "    after:  setport 5.1 setport 4.0 setport 5.0"])
        # The decisions of a reading sent the other way round, output 4
        # before output 5.
        swapped = [{"5.1": "4.0", "4.0": "5.1"}.get(s, s) for s in self.BEFORE]
        self.assert_found(log_lines(*swapped), "the decisions differ")

    def test_a_cut_cycle_counts_by_its_decisions_alone(self):
        # The normal form's price: a cycle cut short by a click may change
        # its course unseen, not its decisions.
        other = ["3.1", "Q", "5.0", "Q", "4.0", "Q", "3.0", "Q"]
        equal, report = self.compare(log_lines(*self.BEFORE),
                                     log_lines(*course(after_console=other)))
        self.assertTrue(equal, report)
        other[2] = "5.1"
        self.assert_found(log_lines(*course(after_console=other)),
                          "the decisions differ")

    def test_a_line_that_is_no_command_is_refused(self):
        with self.assertRaises(ValueError):
            self.compare(["12 text Help"], ["Help"])


@unittest.skipUnless(shutil.which("convert"), "ImageMagick's convert missing")
class Screens(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp()
        for run in ("before", "after"):
            os.makedirs(os.path.join(self.dir, run, "test_x"))
            self.write(run, "rc", "0\n")

    def tearDown(self):
        shutil.rmtree(self.dir)

    def write(self, run, name, text):
        with open(os.path.join(self.dir, run, "test_x", name), "w") as f:
            f.write(text)

    def picture(self, run, *dots, mask=""):
        """A 40 x 30 white picture with black dots "X,Y"."""
        draw = []
        for d in dots:
            draw += ["-draw", f"point {d}"]
        subprocess.run(["convert", "-size", "40x30", "xc:white", "-fill",
                        "black", *draw,
                        os.path.join(self.dir, run, "test_x", "s.png")],
                       check=True)
        self.write(run, "s.mask", mask)

    def compare(self):
        return cmp.compare_runs(os.path.join(self.dir, "before"),
                                os.path.join(self.dir, "after"),
                                os.path.join(self.dir, "diffs"))

    def test_pixels_outside_the_masks_count(self):
        os.makedirs(os.path.join(self.dir, "diffs"))
        mask = "10 10 20 15 clock=@main:20\n"
        self.picture("before", "12,11", mask=mask)
        self.picture("after", "19,14", mask=mask)
        differences, report = self.compare()
        self.assertEqual(differences, 0, report)
        self.assertIn("50 pixels left out: clock=@main:20", report[0])

        self.picture("after", "19,14", "20,14", "3,29", mask=mask)
        differences, report = self.compare()
        self.assertEqual(differences, 1, report)
        text = "\n".join(report)
        self.assertIn("2 pixels differ, within x 3..20, y 14..29", text)
        self.assertTrue(os.path.exists(
            os.path.join(self.dir, "diffs", "test_x-s.png")))

    def test_a_moved_mask_or_picture_size_is_a_difference(self):
        self.picture("before", mask="10 10 20 15 clock=@main:20\n")
        self.picture("after", mask="11 10 21 15 clock=@main:20\n")
        differences, report = self.compare()
        self.assertEqual(differences, 1, report)
        self.assertIn("clock=@main:20 is (10, 10, 20, 15) before, "
                      "(11, 10, 21, 15) after", "\n".join(report))
        subprocess.run(["convert", "-size", "41x30", "xc:white",
                        os.path.join(self.dir, "after", "test_x", "s.png")],
                       check=True)
        self.write("after", "s.mask", "10 10 20 15 clock=@main:20\n")
        differences, report = self.compare()
        self.assertIn("size 40x30 before, 41x30 after", "\n".join(report))

    def test_a_failed_test_or_a_missing_file_is_a_difference(self):
        self.picture("before")
        self.picture("after")
        self.write("after", "rc", "1\n")
        self.write("before", "wire-1.log", "")
        differences, report = self.compare()
        text = "\n".join(report)
        self.assertEqual(differences, 2, report)
        self.assertIn("test_x: the test did not pass after (exit code 1)", text)
        self.assertIn("DIFFERENT test_x/wire-1.log\n    kept only before", text)


if __name__ == "__main__":
    unittest.main()
