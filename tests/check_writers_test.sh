#!/usr/bin/env bash
# One writer for each part of the state record (scripts/check_writers.py):
# first the check of the tree itself; then, on a small tree of its own
# whose sub-records each have their one writer, the check passes it as it
# is and finds every kind of write from a file that is not the owner, put
# into it: a second writer by assignment, a compound assignment, ++, a
# container's mutator, a write through a reference taken to a field, the
# address of a field handed to a function that writes it, a write of a
# whole sub-record, and a setting written after start-up. Fails when
# either part fails.
#
#   tests/check_writers_test.sh [--planted-only]   (skips the tree itself)
set -euo pipefail
source_dir=${KVX_SOURCE_DIR:-$(dirname "$0")/..}
check=$source_dir/scripts/check_writers.py
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0

fail() {
  echo "FAIL: $*"
  failed=1
}

if [[ ${1:-} != --planted-only ]]; then
  echo "== the tree: $source_dir"
  python3 "$check" "$source_dir" || fail "the tree has a field of two writers"
fi

# --- A tree of its own whose sub-records have one writer each ----------------
tree=$work/tree

put() {  # FILE LINE...: writes the file with these lines
  local file=$tree/$1
  shift
  mkdir -p "$(dirname "$file")"
  printf '%s\n' "$@" >"$file"
}

fresh_tree() {
  rm -rf "$tree"
  mkdir -p "$tree"/{platform,ui,web,mqtt,app}
  put base/state.cpp 'void ZeroAppState() { AppState = AppStateRecord{}; }' \
    'void InitDefaults() { AppState.Settings.BoardPort = 80; }'
  put board/link.cpp 'void Fill(ReplyBuffer* b, const Text& t);' \
    'void Lose() {' '  AppState.Link.ConnectionLost = true;' \
    '  AppState.Link.ConnectionNumber++;' '}'
  put board/reply_driver.h 'int Read(ReplyBuffer* into);' \
    'void Show(const ReplyBuffer* from);'
  # Reads only: a comparison, a const reference, a const pointer handed on,
  # a field handed by value, a method that changes nothing.
  put board/poll.cpp 'void Poll() {' \
    '  if (AppState.Link.ConnectionLost == true) return;' \
    '  const LinkRecord& link = AppState.Link;' \
    '  Show(&AppState.Readings.Buffer);' \
    '  int n = Count(AppState.Link.ConnectionNumber);' \
    '  AppState.Readings.Level = n + AppState.Readings.Text.size();' \
    '  AppState.Readings.Output[3] = link.ConnectionLost ? 0 : 1;' '}'
  put control/alarms.cpp 'static void Line(const Text& t) {' \
    '  std::deque<Text>& lines = AppState.Alarms.Lines;' \
    '  lines.push_back(t);' '}'
  put app/command_line.cpp 'void Take() { AppState.Settings.BoardPort = 81; }'
}

run_check() {  # sets out and rc
  rc=0
  out=$(python3 "$check" "$tree") || rc=$?
}

# The owners of the small tree, in place of the program's.
sed -e '/^OWNERS = {$/,/^}$/c\
OWNERS = {"Link": "board/link.cpp", "Readings": "board/poll.cpp",\
          "Alarms": "control/alarms.cpp"}' "$check" >"$work/check.py"
check=$work/check.py

fresh_tree
run_check
echo "== $(head -n 1 <<<"$out")"
((rc == 0)) || fail "the tree of one writer each fails: $out"
grep -qxF "6 files, 8 writes of 6 fields, 0 faults" <<<"$out" ||
  fail "counts of the tree of one writer each: $out"

# Appends the lines to FILE of a fresh tree and expects the check to fail
# with LINE printed.
expect_found() {
  local file=$1 line=$2
  shift 2
  fresh_tree
  printf '%s\n' "$@" >>"$tree/$file"
  run_check
  if ((rc != 1)); then
    fail "exit code $rc, not 1, for $file: $out"
  elif ! grep -qF "$line" <<<"$out"; then
    fail "expected '$line' in: $out"
  else
    echo "found: $line"
  fi
}

# A second writer of a field, by assignment.
expect_found control/guard.cpp "second writer: AppState.Link.ConnectionLost \
written from board/link.cpp: board/link.cpp:3 (assignment); control/guard.cpp: \
control/guard.cpp:1 (assignment)" \
  'void Guard() { AppState.Link.ConnectionLost = false; }'
expect_found control/guard.cpp "not the owner: AppState.Link.ConnectionLost \
written from control/guard.cpp:1 (assignment), owned by board/link.cpp" \
  'void Guard() { AppState.Link.ConnectionLost = false; }'
# A compound assignment, ++ before its field, and -- after it.
expect_found ui/view.cpp "not the owner: AppState.Readings.Level written from \
ui/view.cpp:1 (compound assignment)" 'void V() { AppState.Readings.Level *= 2; }'
expect_found ui/view.cpp "second writer: AppState.Link.ConnectionNumber" \
  'void V() { ++AppState.Link.ConnectionNumber; }'
expect_found web/page.cpp "not the owner: AppState.Readings.Output written \
from web/page.cpp:2 (--)" 'void P() {' '  AppState.Readings.Output[n]--;' '}'
# A container's mutator, also at the end of a path through an element.
expect_found board/link.cpp "not the owner: AppState.Alarms.Lines written from \
board/link.cpp:6 (clear)" 'void Forget() { AppState.Alarms.Lines.clear(); }'
expect_found app/main_loop.cpp "not the owner: AppState.Alarms.Lines written \
from app/main_loop.cpp:1 (erase)" \
  'void M() { AppState.Alarms.Lines.erase(AppState.Alarms.Lines.begin()); }'
# A write through a reference alias taken on another line, and through a
# pointer; a range-for by reference. The alias ends with its block.
expect_found control/guard.cpp "not the owner: AppState.Link.ConnectionNumber \
written from control/guard.cpp:4 (assignment)" 'void G() {' \
  '  LinkRecord& link =' '      AppState.Link;' '  link.ConnectionNumber = 0;' \
  '}' 'void H(LinkRecord& link) { link.ConnectionNumber = 1; }'
expect_found control/guard.cpp "not the owner: AppState.Readings.Buffer.Bytes \
written from control/guard.cpp:3 (assignment)" 'void G() {' \
  '  ReplyBuffer* b = &AppState.Readings.Buffer;' '  b->Bytes[0] = 0;' '}'
expect_found ui/view.cpp "not the owner: AppState.Alarms.Lines written from \
ui/view.cpp:1 (assignment)" \
  'void V() { for (Text& t : AppState.Alarms.Lines) t = ""; }'
# A field's address handed to a function that writes through it (declared
# in the sources), and one the sources do not declare.
expect_found control/guard.cpp "not the owner: AppState.Readings.Buffer \
written from control/guard.cpp:1 (handed to Read())" \
  'void G() { Read(&AppState.Readings.Buffer); }'
expect_found control/guard.cpp "not the owner: AppState.Link.ConnectionLost \
written from control/guard.cpp:1 (address handed to memset())" \
  'void G() { memset(&AppState.Link.ConnectionLost, 0, 1); }'
# A whole sub-record written: every field of it has a second writer.
expect_found control/guard.cpp "second writer: AppState.Link.ConnectionNumber \
written from board/link.cpp: board/link.cpp:4 (++); control/guard.cpp: \
control/guard.cpp:1 (assignment)" 'void G() { AppState.Link = LinkRecord{}; }'
# A member pointer applied to a sub-record and written.
expect_found control/guard.cpp "not the owner: AppState.Readings written from \
control/guard.cpp:1 (assignment)" \
  'void G(Text ReadingsRecord::*m) { AppState.Readings.*m = "x"; }'
# A field of no sub-record, a setting written after start-up, and the
# setter of the settings called from there.
expect_found control/guard.cpp "no owner: AppState.Loose written from \
control/guard.cpp:1 (assignment)" 'void G() { AppState.Loose = 1; }'
expect_found ui/view.cpp "not the owner: AppState.Settings.BoardPort written \
from ui/view.cpp:1 (assignment); the settings are written at start-up alone" \
  'void V() { AppState.Settings.BoardPort = 82; }'
expect_found control/guard.cpp "not the owner: AppState written whole from \
control/guard.cpp:1 (assignment)" 'void G() { AppState = AppStateRecord{}; }'

# A root without the folders is no tree to check.
rc=0
out=$(python3 "$check" "$work/none") || rc=$?
if ((rc != 1)) || ! grep -q "^no folder platform/ under " <<<"$out"; then
  fail "a root without the folders: exit code $rc: $out"
fi

if ((failed)); then
  echo "FAILED"
  exit 1
fi
echo "PASS"
