#!/usr/bin/env python3
"""One writer for each part of the state record, checked on the sources.

The program keeps its state in one record, AppState (base/state.h), made
of sub-records. Each sub-record is written by one file, its owner (OWNERS
below, the one statement of it); every other file reads it, or asks the
owner through a call. The settings are written at start-up alone (the
files of START_UP), and read by everyone else through Settings(), a const
reference to them.

The check reads the program's sources (the folders of the include order,
not tests/, bench/, simulator/ or tools/) and finds every write to a field
of AppState:
  an assignment (=), a compound assignment (+=, |=, ...), ++ and --;
  a container's mutator (push_back, erase, clear, insert, assign, ...);
  a non-const reference or pointer taken to a field (T& r = AppState.X,
  T* p = &AppState.X, a range-for by non-const reference), written through;
  the address of a field, or a field itself, handed to a function whose
  parameter in that place is a non-const pointer or reference (the
  sources' own declarations tell; a function they do not declare counts
  as writing what it is handed the address of);
  a member pointer applied to a sub-record (AppState.X.*m) and written or
  its address taken: a write of the sub-record.
A write of a sub-record as a whole is a write of each of its fields.

It fails (exit code 1) when a field is written from a second file ("second
writer: ..."), when a write comes from a file that does not own the field
("not the owner: ..."; a setting written after start-up is one), and when
a written field has no owner named ("no owner: ..."). The zeroing of the
whole record at start (ZeroAppState, base/state.cpp) is the one write of
it all. With KVX_WRITERS_MAP set it also prints every written field and
the files that write it ("map: ...").

    python3 scripts/check_writers.py [REPOSITORY]
"""
import os
import re
import sys

# Each sub-record of AppState (a path from AppState, as written in the
# sources) and the one file that writes it. The longest path that begins a
# written field names its owner.
OWNERS = {
    "Link": "board/link.cpp",
    "Commands": "board/commands.cpp",
    "Readings": "board/readings.cpp",
    "Query": "board/poll.cpp",
    "Guard": "control/guard_outputs.cpp",
    "Measurement": "control/measurement.cpp",
    "Switching": "control/switching.cpp",
    "Refresh": "control/refresh.cpp",
    "Loop": "app/main_loop.cpp",
    "History": "base/state.cpp",
    "Log": "control/level_log.cpp",
    "Saving": "control/history.cpp",
    "Alarms": "control/alarms.cpp",
    "Console": "control/console.cpp",
    "View.Board": "ui/board_view.cpp",
    "View.History": "ui/history_window.cpp",
    "View.Held": "ui/held_buttons.cpp",
    "Web.Snapshot": "control/web_snapshot.cpp",
    "Web.StatusText": "web/web_server.cpp",
    "Sensor.Run": "control/sensor_watch.cpp",
    "Mqtt.Snapshot": "control/mqtt_snapshot.cpp",
    "Mqtt.Events": "control/mqtt_snapshot.cpp",
    "Mqtt.EventSerial": "control/mqtt_snapshot.cpp",
    "Mqtt.EventsDropped": "control/mqtt_snapshot.cpp",
    "Mqtt.StatusText": "mqtt/mqtt_client.cpp",
    "Sleep": "base/sleep_clock.cpp",
    "SleepWatch": "control/sleep_watch.cpp",
    "WallClock": "base/wall_clock.cpp",
    "WallClockChanges": "base/wall_clock.cpp",
}
# The settings: written at start-up alone (the defaults, then the command
# line); everyone else reads them through Settings(), a const reference.
SETTINGS = ("Settings", "Web.Settings", "Sensor.Settings", "Mqtt.Settings")
START_UP = ("base/state.cpp", "app/command_line.cpp", "app/startup.cpp")
# The file that zeroes the whole record at start.
ZEROING = "base/state.cpp"

FOLDERS = ("platform", "base", "board", "ui", "web", "mqtt", "control", "app")
SOURCES = (".cpp", ".h")
MUTATORS = {
    "push_back", "push_front", "pop_back", "pop_front", "emplace",
    "emplace_back", "emplace_front", "erase", "clear", "insert", "assign",
    "resize", "reserve", "swap", "append", "replace", "shrink_to_fit", "fill",
}
IDENT = re.compile(r"[A-Za-z_]\w*")
KEYWORDS = {"if", "for", "while", "switch", "return", "sizeof", "catch",
            "decltype", "alignof", "static_cast", "reinterpret_cast",
            "const_cast", "dynamic_cast"}


def strip(text):
    """The text without comments, string and character literals (their
    characters blanked, the line ends kept)."""
    out, i, n = [], 0, len(text)
    while i < n:
        c = text[i]
        if text.startswith("//", i):
            j = text.find("\n", i)
            j = n if j < 0 else j
            out.append(" " * (j - i))
            i = j
        elif text.startswith("/*", i):
            j = text.find("*/", i + 2)
            j = n if j < 0 else j + 2
            out.append(re.sub(r"[^\n]", " ", text[i:j]))
            i = j
        elif c in "\"'":
            if c == "'" and i > 0 and text[i - 1].isalnum():  # 1'000
                out.append(c)
                i += 1
                continue
            j = i + 1
            while j < n and text[j] != c:
                j += 2 if text[j] == "\\" else 1
            j = min(j + 1, n)
            out.append(c + re.sub(r"[^\n]", " ", text[i + 1:j - 1]) + c)
            i = j
        else:
            out.append(c)
            i += 1
    return "".join(out)


def skip_space(text, i):
    while i < len(text) and text[i].isspace():
        i += 1
    return i


def skip_brackets(text, i):
    """From an opening bracket at i, the index after its closing one."""
    pairs = {"[": "]", "(": ")"}
    stack = [pairs[text[i]]]
    i += 1
    while i < len(text) and stack:
        if text[i] in pairs:
            stack.append(pairs[text[i]])
        elif text[i] == stack[-1]:
            stack.pop()
        i += 1
    return i


def read_path(text, i):
    """The member path that follows a root at i: (names, end, member
    pointer applied). Indices are skipped; a method call ends the path."""
    names = []
    while True:
        j = skip_space(text, i)
        while j < len(text) and text[j] == "[":
            j = skip_space(text, skip_brackets(text, j))
        if text.startswith(".*", j) or text.startswith("->*", j):
            return names, j, True
        step = 1 if text.startswith(".", j) else (
            2 if text.startswith("->", j) else 0)
        if not step:
            return names, j, False
        k = skip_space(text, j + step)
        m = IDENT.match(text, k)
        if not m:
            return names, j, False
        after = skip_space(text, m.end())
        if after < len(text) and text[after] == "(":  # a method call
            return names, j, False
        names.append(m.group(0))
        i = m.end()


# A declared parameter: a type, then its name (or the type alone, ending
# in a pointer or reference).
PARAMETER = re.compile(r"(const\s+)?[A-Za-z_][\w:<>, ]*(\s*[*&]+\s*|\s+)"
                       r"(const\s+)?([A-Za-z_]\w*(\[\w*\])?)?|void|\.\.\.")


def function_signatures(texts):
    """For each function name declared in the sources, the places of its
    parameters that are non-const pointers or references (any overload)."""
    mutable = {}
    decl = re.compile(r"\b([A-Za-z_]\w*)\s*\(([^(){};]*)\)\s*(const\s*)?[{;:]")
    for text in texts:
        for m in decl.finditer(text):
            name, params = m.group(1), m.group(2)
            if name in KEYWORDS:
                continue
            params = [re.sub(r"=.*", "", p).strip()
                      for p in params.split(",")]
            if not all(re.fullmatch(PARAMETER, p) for p in params if p):
                continue  # a call, not a declaration
            places = mutable.setdefault(name, set())
            for index, param in enumerate(params):
                if ("&" in param or "*" in param) and not re.match(
                        r"(const\b|.*\bconst\s*[&*])", param):
                    places.add(index)
    return mutable


def call_place(text, start):
    """When the expression at `start` is an argument of a call: (the
    called function's name, the argument's place); else None."""
    i = start - 1
    while i >= 0 and text[i].isspace():
        i -= 1
    if i < 0 or text[i] not in "(,":
        return None
    depth, commas = 0, 0
    while i >= 0:
        c = text[i]
        if c in ")]}":
            depth += 1
        elif c in "([{":
            if depth == 0:
                if c != "(":
                    return None
                j = i - 1
                while j >= 0 and text[j].isspace():
                    j -= 1
                k = j
                while k >= 0 and (text[k].isalnum() or text[k] == "_"):
                    k -= 1
                name = text[k + 1:j + 1]
                if not name or name in KEYWORDS or name[0].isdigit():
                    return None
                return name, commas
            depth -= 1
        elif c == "," and depth == 0:
            commas += 1
        elif c == ";" and depth == 0:
            return None
        i -= 1
    return None


ALIAS = re.compile(
    r"(?P<const>\bconst\s+)?(?:auto|[A-Za-z_][\w:<>, ]*?)\s*(?P<kind>[&*])\s*"
    r"(?P<name>[A-Za-z_]\w*)\s*(?P<sep>=|:)\s*(?P<addr>&\s*)?$")


def writes_of(path, text, signatures):
    """Every write of the file: (field path, line, what)."""
    found = []
    scopes = [{}]  # alias name -> path, per brace level
    line_of = lambda i: text.count("\n", 0, i) + 1
    i, n = 0, len(text)
    token = re.compile(r"[{}]|[A-Za-z_]\w*")
    while i < n:
        m = token.search(text, i)
        if not m:
            break
        word = m.group(0)
        if word == "{":
            scopes.append({})
            i = m.end()
            continue
        if word == "}":
            if len(scopes) > 1:
                scopes.pop()
            i = m.end()
            continue
        before = text[m.start() - 1] if m.start() else " "
        if before in ".>" or before == ":" and text[m.start() - 2:m.start()] \
                == "::":
            i = m.end()
            continue
        root = None
        if word == "AppState":
            root = []
        else:
            for scope in reversed(scopes):
                if word in scope:
                    root = scope[word]
                    break
        if root is None:
            i = m.end()
            continue
        names, end, member = read_path(text, m.end())
        field = root + names
        start = m.start()
        # What the access is: an alias declared from it, or a write.
        head = text[max(text.rfind(c, 0, start) for c in ";{}") + 1:start]
        cut = head.rfind("(")
        if head.lstrip().startswith("for") and "(" in head:
            cut = head.find("(")
        alias = ALIAS.search(head[cut + 1:]) if not member else None
        after = text[skip_space(text, end):skip_space(text, end) + 3]
        address = text[:start].rstrip().endswith("&") and not \
            text[:start].rstrip().endswith("&&")
        what = None
        # A reference or pointer declared to the field (or a range-for's
        # element): what is written through it is written to the field. A
        # const one writes nothing.
        if alias and (after[:1] in ";)" or alias.group("sep") == ":"):
            if not alias.group("const"):
                scopes[-1][alias.group("name")] = field
            i = end
            continue
        j = skip_space(text, end)
        if member:
            j = skip_space(text, j + (2 if text[j] == "." else 3))
            mm = re.compile(r"[A-Za-z_]\w*(\s*(\.|->)\s*[A-Za-z_]\w*)*"
                            ).match(text, j)
            j = skip_space(text, mm.end() if mm else j)
            if text.startswith(")", j) and re.search(
                    r"&\s*\(\s*$", text[:start]):  # &(p.*m)
                address = True
                j = skip_space(text, j + 1)
        rest = text[j:j + 3]
        if re.match(r"(\+\+|--)", rest):
            what = rest[:2]
        elif re.match(r"([-+*/%&|^]|<<|>>)=", rest):
            what = "compound assignment"
        elif rest.startswith("=") and not rest.startswith("=="):
            what = "assignment"
        elif text[:start].rstrip().endswith(("++", "--")):
            what = "++/--"
        elif not member and re.match(r"(\.|->)\s*([A-Za-z_]\w*)\s*\(",
                                     text[j:]):
            method = re.match(r"(\.|->)\s*([A-Za-z_]\w*)", text[j:]).group(2)
            if method in MUTATORS:
                what = method
        if what is None:
            arg_start = start
            if address:
                arg_start = len(re.sub(r"&\s*\(?\s*$", "", text[:start]))
            place = call_place(text, arg_start)
            tail = skip_space(text, j)
            whole_argument = tail < n and text[tail] in ",)"
            if place and whole_argument:
                name, index = place
                if name in signatures:
                    if index in signatures[name]:
                        what = f"handed to {name}()"
                elif address:
                    what = f"address handed to {name}()"
            elif address and not member and text[tail:tail + 1] == ";":
                what = "address taken"
        if what:
            found.append((field, line_of(start), what))
        i = max(end, m.end())
    return found


def sources(root):
    for folder in FOLDERS:
        for directory, dirs, files in os.walk(os.path.join(root, folder)):
            dirs.sort()
            for name in sorted(files):
                if name.endswith(SOURCES):
                    path = os.path.relpath(os.path.join(directory, name), root)
                    yield path.replace(os.sep, "/")


def is_setting(field):
    name = ".".join(field)
    return any(name == k or name.startswith(k + ".") for k in SETTINGS)


def owner_of(field):
    name = ".".join(field)
    best = None
    for key in OWNERS:
        if name == key or name.startswith(key + "."):
            if best is None or len(key) > len(best):
                best = key
    return best


def check(root):
    """(report lines, number of faults)."""
    for folder in FOLDERS:
        if not os.path.isdir(os.path.join(root, folder)):
            return [f"no folder {folder}/ under {root}"], 1
    texts = {}
    for path in sources(root):
        with open(os.path.join(root, path), encoding="latin-1") as f:
            texts[path] = strip(f.read())
    signatures = function_signatures(texts.values())
    writes = []  # (field, file, line, what)
    for path, text in texts.items():
        for field, line, what in writes_of(path, text, signatures):
            writes.append((tuple(field), path, line, what))
    lines, faults = [], 0

    def fault(message):
        nonlocal faults
        faults += 1
        lines.append(message)

    fields = {}
    for field, path, line, what in writes:
        where = f"{path}:{line} ({what})"
        name = "AppState" + "".join("." + f for f in field)
        if not field:
            if path != ZEROING:
                fault(f"not the owner: {name} written whole from {where}")
            continue
        fields.setdefault(field, {}).setdefault(path, []).append(where)
        if is_setting(field):
            if path not in START_UP:
                fault(f"not the owner: {name} written from {where}; the "
                      f"settings are written at start-up alone")
            continue
        key = owner_of(field)
        if key is None:
            fault(f"no owner: {name} written from {where}")
        elif OWNERS[key] != path:
            fault(f"not the owner: {name} written from {where}, owned by "
                  f"{OWNERS[key]}")
    # A field written from two files, counting writes of a whole
    # sub-record as writes of each of its fields.
    for field in sorted(fields):
        if is_setting(field):
            continue
        files = {}
        for other, by in fields.items():
            if other[:len(field)] == field or field[:len(other)] == other:
                for path, where in by.items():
                    files.setdefault(path, []).extend(where)
        if len(files) > 1:
            name = "AppState." + ".".join(field)
            fault(f"second writer: {name} written from " +
                  "; ".join(f"{p}: {', '.join(sorted(set(files[p])))}"
                            for p in sorted(files)))
    if os.environ.get("KVX_WRITERS_MAP"):
        for field in sorted(fields):
            lines.append("map: " + ".".join(field) + " <- " + " ".join(
                sorted(fields[field])))
    written = len({f for f in fields})
    lines.append(f"{len(texts)} files, {len(writes)} writes of {written} "
                 f"fields, {faults} faults")
    return lines, faults


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(
        os.path.dirname(os.path.abspath(__file__)), "..")
    print("one writer for each part of the state record: " + "; ".join(
        f"{k} <- {v}" for k, v in OWNERS.items()) +
        f"; {', '.join(SETTINGS)} <- start-up ({', '.join(START_UP)})")
    lines, faults = check(root)
    print("\n".join(lines))
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
