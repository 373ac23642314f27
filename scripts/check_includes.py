#!/usr/bin/env python3
"""Include rules of the program's core: no file of app/, board/, control/
and ui/ reaches itself through includes (a .cpp and its header counted as
one unit), and the arrows point one way: board/ includes neither ui/ nor
control/, and ui/ never includes control/ (what a view draws it reads from
app/state.h or is handed). Prints every cycle and every back arrow; exit
code 1 when there is one.

    python3 scripts/check_includes.py [REPOSITORY]
"""
import os
import re
import sys

CORE = ["base", "app", "board", "control", "ui"]
# (folder, folder it must not include)
BACK_ARROWS = {("board", "ui"), ("board", "control"), ("ui", "control")}


def include_graph(root):
    graph = {}
    for folder in CORE:
        for name in sorted(os.listdir(os.path.join(root, folder))):
            if not name.endswith((".cpp", ".h")):
                continue
            path = f"{folder}/{name}"
            unit = os.path.splitext(path)[0]
            graph.setdefault(unit, set())
            with open(os.path.join(root, path), encoding="latin-1") as f:
                for line in f:
                    m = re.match(r'\s*#\s*include\s+"([^"]+)"', line)
                    if not m or m.group(1).split("/")[0] not in CORE:
                        continue
                    target = os.path.splitext(m.group(1))[0]
                    if target != unit:
                        graph[unit].add(target)
                        graph.setdefault(target, set())
    return graph


def cycles(graph):
    """Strongly connected components of more than one unit (Tarjan)."""
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


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(
        os.path.dirname(os.path.abspath(__file__)), "..")
    graph = include_graph(root)
    found = cycles(graph)
    for c in found:
        print("cycle:", " ".join(c))
    back = [(a, b) for a in sorted(graph) for b in sorted(graph[a])
            if (a.split("/")[0], b.split("/")[0]) in BACK_ARROWS]
    for a, b in back:
        print(f"back arrow: {a} -> {b}")
    edges = sum(len(t) for t in graph.values())
    print(f"{len(graph)} units, {edges} includes, {len(found)} cycles, "
          f"{len(back)} back arrows")
    return 1 if found or back else 0


if __name__ == "__main__":
    sys.exit(main())
