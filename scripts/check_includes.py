#!/usr/bin/env python3
"""The include order of the program's folders, checked on its sources.

Bottom to top (ORDER below is the one statement of it):
  platform/  the system's facilities: includes only itself
  base/      the floor (the state record, the number readers, ...):
             itself and platform/
  board/     the board link, standing on the floor alone: itself, base/
             and platform/, never ui/
  ui/        the views, standing on the floor alone: itself, base/ and
             platform/, never board/
  web/       the status page (its requests, its page, its server): itself,
             ui/, base/ and platform/, never board/
  mqtt/      the read-only MQTT client (its packets, its topics, its
             connection): itself, ui/, base/ and platform/, never board/
             or web/
  control/   the handlers (decide, talk to the board, ask a view to draw):
             itself, board/, ui/, web/, mqtt/, base/ and platform/
  app/       start-up, the main loop, the command line: any of them.
             Nothing outside app/ includes app/.
And no unit reaches itself through includes (a .cpp and its header count
as one unit). A quoted include of another folder of the repository
(tests/, tools/, ...) breaks the order too. A quoted include that names
no folder is looked for beside the file that includes it.

Prints the order it checked in one line, then every include against it
("back arrow: FROM -> TO (FILE:LINE, ...)", "outside the order: ..." for
another folder), every cycle ("cycle: A -> B ->
A", one loop of each knot of units, with the knot's other units), and a
count; exit code 1 when there is a back arrow or a cycle.

    python3 scripts/check_includes.py [REPOSITORY]
"""
import os
import re
import sys
from collections import deque

# Each folder, bottom to top, with the folders it may include besides
# itself.
ORDER = [
    ("platform", ()),
    ("base", ("platform",)),
    ("board", ("base", "platform")),
    ("ui", ("base", "platform")),
    ("web", ("ui", "base", "platform")),
    ("mqtt", ("ui", "base", "platform")),
    ("control", ("board", "ui", "web", "mqtt", "base", "platform")),
    ("app", ("control", "board", "ui", "web", "mqtt", "base", "platform")),
]
FOLDERS = [folder for folder, _ in ORDER]
MAY_INCLUDE = {folder: set(lower) | {folder} for folder, lower in ORDER}
SOURCES = (".cpp", ".h")
INCLUDE = re.compile(r'\s*#\s*include\s+"([^"]+)"')


def order_line():
    """The order as one line, from ORDER."""
    parts = [f"{folder}/ -> " + (" ".join(f"{f}/" for f in lower) or "nothing")
             for folder, lower in ORDER]
    top = [f"{f}/" for f in FOLDERS if not any(f in lower for _, lower in ORDER)]
    return ("include order, bottom to top (a folder -> what it may include "
            "besides itself): " + "; ".join(parts) +
            f"; nothing includes {' '.join(top)}; no cycles")


def unit_of(path):
    return os.path.splitext(path)[0]


def includes(root):
    """Every quoted include of the order's folders: (file, line, target),
    the target a path from the root when it names a file or folder of the
    repository (else the include is a system or library header)."""
    found = []
    for folder in FOLDERS:
        for directory, dirs, files in os.walk(os.path.join(root, folder)):
            dirs.sort()
            for name in sorted(files):
                if not name.endswith(SOURCES):
                    continue
                path = os.path.relpath(os.path.join(directory, name), root)
                path = path.replace(os.sep, "/")
                with open(os.path.join(root, path), encoding="latin-1") as f:
                    for number, text in enumerate(f, 1):
                        m = INCLUDE.match(text)
                        if not m:
                            continue
                        target = m.group(1)
                        beside = os.path.normpath(
                            os.path.join(os.path.dirname(path), target))
                        if (target.split("/")[0] not in FOLDERS and
                                os.path.exists(os.path.join(root, beside))):
                            target = beside.replace(os.sep, "/")
                        first = target.split("/")[0]
                        if "/" in target and (first in FOLDERS or os.path.isdir(
                                os.path.join(root, first))):
                            found.append((path, number, target))
    return found


def cycles(graph):
    """The knots of units that reach each other (strongly connected
    components of more than one unit, Tarjan), each sorted."""
    index, low, stack, on_stack, found = {}, {}, [], set(), []

    def visit(v):
        index[v] = low[v] = len(index)
        stack.append(v)
        on_stack.add(v)
        for w in sorted(graph[v]):
            if w not in index:
                visit(w)
                low[v] = min(low[v], low[w])
            elif w in on_stack:
                low[v] = min(low[v], index[w])
        if low[v] == index[v]:
            component = []
            while True:
                w = stack.pop()
                on_stack.discard(w)
                component.append(w)
                if w == v:
                    break
            if len(component) > 1:
                found.append(sorted(component))

    for v in sorted(graph):
        if v not in index:
            visit(v)
    return found


def shortest_loop(graph, knot):
    """A shortest way from the knot's first unit back to it, inside it."""
    start, inside = knot[0], set(knot)
    came_from, todo = {start: None}, deque([start])
    while todo:
        v = todo.popleft()
        for w in sorted(graph[v]):
            if w == start:
                way = [v]
                while came_from[way[-1]] is not None:
                    way.append(came_from[way[-1]])
                return way[::-1] + [start]
            if w in inside and w not in came_from:
                came_from[w] = v
                todo.append(w)
    raise AssertionError(f"no loop in the knot {knot}")


def check(root):
    """(report lines, number of back arrows, number of cycles)."""
    for folder in FOLDERS:
        if not os.path.isdir(os.path.join(root, folder)):
            return [f"no folder {folder}/ under {root}"], 1, 0
    graph, where = {}, {}
    for path, number, target in includes(root):
        unit, to = unit_of(path), unit_of(target)
        graph.setdefault(unit, set())
        if to == unit:
            continue
        graph[unit].add(to)
        graph.setdefault(to, set())
        where.setdefault((unit, to), []).append(f"{path}:{number}")
    for folder in FOLDERS:  # units that include nothing of the order
        for directory, _, files in os.walk(os.path.join(root, folder)):
            for name in files:
                if name.endswith(SOURCES):
                    path = os.path.relpath(os.path.join(directory, name), root)
                    graph.setdefault(unit_of(path.replace(os.sep, "/")), set())

    lines = []
    back = 0
    for unit, to in sorted(where):
        here, there = unit.split("/")[0], to.split("/")[0]
        if there in MAY_INCLUDE[here]:
            continue
        back += 1
        kind = "back arrow" if there in MAY_INCLUDE else "outside the order"
        lines.append(f"{kind}: {unit} -> {to} ({', '.join(where[unit, to])})")
    knots = cycles(graph)
    for knot in knots:
        loop = shortest_loop(graph, knot)
        rest = sorted(set(knot) - set(loop))
        lines.append("cycle: " + " -> ".join(loop) +
                     (f" (in one knot with {' '.join(rest)})" if rest else ""))
    edges = sum(len(t) for t in graph.values())
    lines.append(f"{len(graph)} units, {edges} includes, {len(knots)} cycles, "
                 f"{back} back arrows")
    return lines, back, len(knots)


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(
        os.path.dirname(os.path.abspath(__file__)), "..")
    print(order_line())
    lines, back, knots = check(root)
    print("\n".join(lines))
    return 1 if back or knots else 0


if __name__ == "__main__":
    sys.exit(main())
