#!/usr/bin/env python3
"""Compares two runs of the Wine tests kept with KVX_WINE_KEEP=DIR (see
tests/wine/lib.sh): the screenshots pixel for pixel, and what the board
got as the sequence of its commands. Prints one line for every screenshot
and command log, the differences in detail, and a last line with the
verdict; exit code 0 when the runs agree, 1 when they differ (or a test
failed, or something is missing in one run), 2 on wrong use.

    python3 scripts/compare_wine_runs.py [--diffs DIR] BEFORE AFTER

--diffs DIR writes, for every screenshot that differs, DIR/TEST-NAME.png:
the AFTER screenshot with the differing pixels magenta and the areas left
out darkened. Reading the screenshots takes ImageMagick's convert.

Screenshots. Every pixel counts, except in the areas a test lists in
NAME.mask (kvx_keep_screen): "clock" areas show a time of day, a countdown
or a measured duration; "paced" areas show readings of a well that moves
in real time while the test waits on it, so that each run meets other
levels (the history chart below its legend, its events and summary). The
areas left out are the union of both runs' masks; a mask that names
another rectangle in the other run (a window or control moved) is a
difference. The report lists them.

Command logs (wire-N.log: "MS KIND BYTES" a command, the simulator's
--log). The times are dropped; the commands are compared as their kind and
bytes, line end included, in a normal form that forgets what the pace of a
run decides, and only that:
  1. A whole board query (the 14 commands Help ... GETPORT 4, in order)
     is one step, and a run of queries one step: the main loop queries the
     board at every tick, and how many ticks pass between two events (a
     click of the test, the well reaching a level) depends on how fast
     Wine and the test go. A query that lacks a command or has one out of
     order is not a query and stays as its commands.
  2. Only whole measurement cycles count. In a stretch of the log where
     the board gets nothing but queries and the measurement's commands
     (setport 3.x, the sensor; setport 4.x and 5.x, the level decisions),
     a cycle is whole from just after one sensor off ("setport 3.0") to
     the next; the measurement's commands before the first and after the
     last sensor off of the stretch belong to cycles cut short (by a click
     of the test, by the measurement switched on or off, by the end of the
     test) at a moment the test's pace chose, and are left out.
  3. The values of the level decisions are replaced by "*", and a run of
     whole cycles that are then the same is one cycle: how many cycles the
     well takes to drain or fill, and at which reading of a cycle a
     decision changes, follow the real time the well moves in and the
     moment the test changes it.
  4. The decisions themselves (all of them, cut cycles included) are
     compared beside the sequence, as the successive states they set: a
     decision that repeats the value its output already has is left out
     (each reading repeats them).
So a command added, dropped, changed in a byte or moved against the others
shows, and so does a change in the course of a whole cycle (its sensor
commands, readings and decisions, with the queries between them) or a
decision that sets an output to another state or in another order. What
does not show: how many queries come between two commands, how many cycles
of the same course follow each other, at which reading the well crossed a
threshold, and what happens in a cut cycle but for its decisions. The
report says when the two logs are equal with step 1 alone.
"""
import argparse
import os
import re
import subprocess
import sys

QUERY = ["Help", "Version", "Getip", "Getgw", "Getmask", "Getstatus",
         "GETADC 1", "GETADC 2", "GETADC 3", "GETADC 4",
         "GETPORT 1", "GETPORT 2", "GETPORT 3", "GETPORT 4"]
SUFFIX = r" \x5cr\x5cn"  # a text command's line end as the log writes it
QUERY_COMMANDS = [f"text {c}{SUFFIX}" for c in QUERY]
QUERY_STEP = "[board query]"
DECISION = re.compile(r"^text setport ([45])\.([01])" + re.escape(SUFFIX) + "$")
SENSOR_OFF = f"text setport 3.0{SUFFIX}"
# The measurement's commands: the sensor (3) and the level decisions.
MEASUREMENT = re.compile(r"^text setport [345]\.[01]" + re.escape(SUFFIX) + "$")


# --- Command logs -----------------------------------------------------------

def read_commands(path):
    """The commands of a wire log as "KIND BYTES", without the times."""
    commands = []
    with open(path, encoding="latin-1") as f:
        for number, line in enumerate(f, 1):
            line = line.rstrip("\n")
            parts = line.split(" ", 1)
            if len(parts) != 2 or not parts[0].isdigit():
                raise ValueError(f"{path}:{number}: not 'MS KIND BYTES': {line}")
            commands.append(parts[1])
    return commands


def query_steps(commands):
    """Step 1: whole queries as one step (a run of them as one, for the
    report's "equal with only the queries collapsed")."""
    steps, i, n = [], 0, len(QUERY_COMMANDS)
    while i < len(commands):
        if commands[i:i + n] == QUERY_COMMANDS:
            if not steps or steps[-1] != QUERY_STEP:
                steps.append(QUERY_STEP)
            i += n
        else:
            steps.append(commands[i])
            i += 1
    return steps


def queries_merged(steps):
    """A run of queries as one."""
    out = []
    for s in steps:
        if not (s == QUERY_STEP and out and out[-1] == QUERY_STEP):
            out.append(s)
    return out


def whole_cycles(steps):
    """Step 2: the measurement's commands of cut cycles left out."""
    out, stretch = [], []

    def end_stretch():
        offs = [i for i, s in enumerate(stretch) if s == SENSOR_OFF]
        first, last = (offs[0], offs[-1]) if offs else (len(stretch), -1)
        out.extend(s for i, s in enumerate(stretch)
                   if s == QUERY_STEP or first < i <= last)
        stretch.clear()

    for s in steps:
        if s == QUERY_STEP or MEASUREMENT.match(s):
            stretch.append(s)
        else:
            end_stretch()
            out.append(s)
    end_stretch()
    return queries_merged(out)


def cycles_collapsed(steps):
    """Step 3: decision values as "*", runs of the same whole cycle as
    one."""
    out, cycle, last = [], [], None
    for s in steps:
        measuring = MEASUREMENT.match(s)
        if not measuring and not cycle:
            out.append(s)  # between cycles
            if s != QUERY_STEP:
                last = None
            continue
        if not measuring and s != QUERY_STEP:
            out.extend(cycle)  # not a whole cycle: it has no sensor off
            cycle, last = [], None
            out.append(s)
            continue
        cycle.append(DECISION.sub(
            lambda m: f"text setport {m.group(1)}.*{SUFFIX}", s))
        if s == SENSOR_OFF:
            if cycle != last:
                out.extend(cycle)
            last, cycle = cycle, []
    out.extend(cycle)
    return queries_merged(out)


def decisions(steps):
    """Step 4: the level decisions that change their output's state."""
    state, out = {}, []
    for s in steps:
        m = DECISION.match(s)
        if m and state.get(m.group(1)) != m.group(2):
            state[m.group(1)] = m.group(2)
            out.append(f"setport {m.group(1)}.{m.group(2)}")
    return out


def normal_form(commands):
    """(steps with runs of queries collapsed, the normal form, decisions)"""
    steps = query_steps(commands)
    return steps, cycles_collapsed(whole_cycles(steps)), decisions(steps)


def first_difference(a, b):
    i = 0
    while i < len(a) and i < len(b) and a[i] == b[i]:
        i += 1
    return i


def show_steps(seq, i, context=4):
    lo = max(0, i - context)
    lines = [f"      {k:5d} {seq[k]}" for k in range(lo, min(len(seq), i + context + 1))]
    if i >= len(seq):
        lines.append(f"      {i:5d} (end)")
    return lines


def compare_wire(before_path, after_path):
    """(equal, report lines) for two command logs."""
    b_steps, b_form, b_dec = normal_form(read_commands(before_path))
    a_steps, a_form, a_dec = normal_form(read_commands(after_path))
    lines = []
    if b_form == a_form and b_dec == a_dec:
        how = ("with only the queries collapsed" if b_steps == a_steps
               else "in the normal form")
        return True, [f"equal {how} ({len(b_form)} steps, "
                      f"{len(b_dec)} changes of outputs 4 and 5)"]
    if b_form != a_form:
        i = first_difference(b_form, a_form)
        lines.append(f"the sequences differ from step {i} on "
                     f"({len(b_form)} steps before, {len(a_form)} after):")
        lines.append("    before:")
        lines += show_steps(b_form, i)
        lines.append("    after:")
        lines += show_steps(a_form, i)
    if b_dec != a_dec:
        lines.append("the decisions differ:")
        lines.append("    before: " + (" ".join(b_dec) or "(none)"))
        lines.append("    after:  " + (" ".join(a_dec) or "(none)"))
    return False, lines


# --- Screenshots ------------------------------------------------------------

def read_image(path):
    """(width, height, RGB bytes) of an image, by ImageMagick."""
    data = subprocess.run(["convert", path, "-depth", "8", "ppm:-"],
                          check=True, capture_output=True).stdout
    # P6 header: magic, width, height, maximum, each ended by white space.
    fields, pos = [], 0
    while len(fields) < 4:
        while data[pos:pos + 1].isspace():
            pos += 1
        if data[pos:pos + 1] == b"#":
            pos = data.index(b"\n", pos) + 1
            continue
        end = pos
        while not data[end:end + 1].isspace():
            end += 1
        fields.append(data[pos:end])
        pos = end
    if fields[0] != b"P6" or fields[3] != b"255":
        raise ValueError(f"{path}: not an 8-bit picture")
    width, height = int(fields[1]), int(fields[2])
    pixels = data[pos + 1:pos + 1 + 3 * width * height]
    if len(pixels) != 3 * width * height:
        raise ValueError(f"{path}: picture data too short")
    return width, height, pixels


def read_mask(path):
    """{"WHY=WHERE": (left, top, right, bottom)} of a mask file."""
    areas = {}
    if not os.path.exists(path):
        return areas
    with open(path, encoding="latin-1") as f:
        for line in f:
            parts = line.rstrip("\n").split(" ", 4)
            if len(parts) != 5:
                raise ValueError(f"{path}: not 'LEFT TOP RIGHT BOTTOM WHY=WHERE'")
            areas[parts[4]] = tuple(int(v) for v in parts[:4])
    return areas


def masked_rows(areas, width, height):
    """For every row, the list of (from, to) columns left out."""
    rows = [[] for _ in range(height)]
    for left, top, right, bottom in areas:
        left, right = max(0, left), min(width, right)
        for y in range(max(0, top), min(height, bottom)):
            if left < right:
                rows[y].append((left, right))
    return rows


def write_diff(path, width, height, pixels, differing, rows):
    out = bytearray(pixels)
    for y in range(height):
        for left, right in rows[y]:
            for x in range(left, right):
                k = 3 * (y * width + x)
                out[k:k + 3] = bytes(v // 3 for v in out[k:k + 3])
    for x, y in differing:
        k = 3 * (y * width + x)
        out[k:k + 3] = b"\xff\x00\xff"
    header = f"P6\n{width} {height}\n255\n".encode()
    subprocess.run(["convert", "ppm:-", path], input=header + bytes(out),
                   check=True)


def compare_screen(before_png, after_png, diff_path=None):
    """(equal, report lines) for two screenshots and their masks."""
    b_mask = read_mask(before_png[:-4] + ".mask")
    a_mask = read_mask(after_png[:-4] + ".mask")
    lines = []
    equal = True
    if b_mask != a_mask:
        equal = False
        for area in sorted(set(b_mask) | set(a_mask)):
            if b_mask.get(area) != a_mask.get(area):
                lines.append(f"the area {area} is {b_mask.get(area)} before, "
                             f"{a_mask.get(area)} after")
    bw, bh, bp = read_image(before_png)
    aw, ah, ap = read_image(after_png)
    if (bw, bh) != (aw, ah):
        return False, lines + [f"size {bw}x{bh} before, {aw}x{ah} after"]
    rows = masked_rows(list(b_mask.values()) + list(a_mask.values()), bw, bh)
    left_out = sum(len(set(x for lo, hi in r for x in range(lo, hi)))
                   for r in rows)
    differing = []
    row_bytes = 3 * bw
    for y in range(bh):
        start = y * row_bytes
        if bp[start:start + row_bytes] == ap[start:start + row_bytes]:
            continue
        for x in range(bw):
            k = start + 3 * x
            if bp[k:k + 3] != ap[k:k + 3] and not any(
                    lo <= x < hi for lo, hi in rows[y]):
                differing.append((x, y))
    if differing:
        equal = False
        xs = [x for x, _ in differing]
        ys = [y for _, y in differing]
        lines.append(f"{len(differing)} pixels differ, within "
                     f"x {min(xs)}..{max(xs)}, y {min(ys)}..{max(ys)}")
        if diff_path:
            write_diff(diff_path, aw, ah, ap, differing, rows)
            lines.append(f"marked in {diff_path}")
    kinds = sorted(set(b_mask) | set(a_mask))
    note = (f", {left_out} pixels left out: " + ", ".join(kinds)) if kinds else ""
    if equal:
        return True, [f"equal, {bw}x{bh}{note}"]
    return False, lines + ([f"left out: {', '.join(kinds)}"] if kinds else [])


# --- The runs -----------------------------------------------------------------

def kept_files(directory):
    return sorted(f for f in os.listdir(directory)
                  if f.endswith(".png") or re.fullmatch(r"wire-\d+\.log", f))


def compare_runs(before, after, diffs=None):
    """(number of differences, report lines)."""
    lines, differences = [], 0

    def differ(what, detail):
        nonlocal differences
        differences += 1
        lines.append(f"DIFFERENT {what}")
        lines.extend("    " + d for d in detail)

    tests = sorted(set(os.listdir(before)) | set(os.listdir(after)))
    tests = [t for t in tests if os.path.isdir(os.path.join(before, t)) or
             os.path.isdir(os.path.join(after, t))]
    if not tests:
        differ("runs", ["neither run kept a test"])
    for test in tests:
        b_dir, a_dir = os.path.join(before, test), os.path.join(after, test)
        if not (os.path.isdir(b_dir) and os.path.isdir(a_dir)):
            differ(test, [f"kept only in {before if os.path.isdir(b_dir) else after}"])
            continue
        for run, d in (("before", b_dir), ("after", a_dir)):
            try:
                with open(os.path.join(d, "rc")) as f:
                    rc = f.read().strip()
            except OSError:
                rc = "missing"
            if rc != "0":
                differ(f"{test}: the test did not pass {run} (exit code {rc})",
                       ["what it kept is incomplete"])
        b_files, a_files = kept_files(b_dir), kept_files(a_dir)
        for name in sorted(set(b_files) ^ set(a_files)):
            differ(f"{test}/{name}",
                   [f"kept only {'before' if name in b_files else 'after'}"])
        for name in sorted(set(b_files) & set(a_files)):
            b_path, a_path = os.path.join(b_dir, name), os.path.join(a_dir, name)
            if name.endswith(".png"):
                diff_path = (os.path.join(diffs, f"{test}-{name}")
                             if diffs else None)
                equal, detail = compare_screen(b_path, a_path, diff_path)
            else:
                equal, detail = compare_wire(b_path, a_path)
            if equal:
                lines.append(f"same      {test}/{name}: {detail[0]}")
            else:
                differ(f"{test}/{name}", detail)
    return differences, lines


def main():
    parser = argparse.ArgumentParser(
        description="Compares two runs of the Wine tests kept with "
        "KVX_WINE_KEEP.")
    parser.add_argument("before")
    parser.add_argument("after")
    parser.add_argument("--diffs", metavar="DIR",
                        help="write the differing screenshots, marked, there")
    args = parser.parse_args()
    for d in (args.before, args.after):
        if not os.path.isdir(d):
            parser.error(f"{d} is no directory")
    if args.diffs:
        os.makedirs(args.diffs, exist_ok=True)
    differences, lines = compare_runs(args.before, args.after, args.diffs)
    print("\n".join(lines))
    if differences:
        print(f"{differences} differences between {args.before} and {args.after}")
        return 1
    print(f"{args.before} and {args.after} agree")
    return 0


if __name__ == "__main__":
    sys.exit(main())
