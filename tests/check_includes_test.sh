#!/usr/bin/env bash
# The include rules of the core: the tree itself keeps them, and the check
# finds a back arrow (ui/ -> control/, board/ -> ui/ or control/) and a
# cycle when one is put into a copy of the tree.
set -euo pipefail
source_dir=${KVX_SOURCE_DIR:-$(dirname "$0")/..}
check=$source_dir/scripts/check_includes.py
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fail() { echo "FAIL: $*"; exit 1; }

python3 "$check" "$source_dir" || fail "the tree breaks an include rule"

# Expects the check to fail on the copy in $work/tree with `line` printed.
expect_found() {
  local line=$1 out
  if out=$(python3 "$check" "$work/tree"); then
    fail "not found: $line"
  fi
  grep -qxF "$line" <<<"$out" || fail "expected '$line' in: $out"
}

fresh_copy() {
  rm -rf "$work/tree"
  mkdir -p "$work/tree"
  cp -r "$source_dir"/{base,app,board,control,ui} "$work/tree/"
}

fresh_copy
echo '#include "control/history.h"' >>"$work/tree/ui/history_window.cpp"
expect_found "back arrow: ui/history_window -> control/history"

fresh_copy
echo '#include "ui/board_view.h"' >>"$work/tree/board/poll.cpp"
expect_found "back arrow: board/poll -> ui/board_view"

fresh_copy
echo '#include "control/switching.h"' >>"$work/tree/board/connection.h"
expect_found "back arrow: board/connection -> control/switching"

fresh_copy
echo '#include "ui/main_window.h"' >>"$work/tree/ui/board_view.h"
expect_found "cycle: ui/board_view ui/main_window"

echo "PASS"
