#!/usr/bin/env bash
# The include order of the program's folders (scripts/check_includes.py):
# first the check of the tree itself; then, on a small tree of its own (a
# few files in each folder that keep the order), the check passes it as it
# is and finds every kind of include against the order, and a cycle, put
# into it, with the exact line it prints. Fails when either part fails.
#
#   tests/check_includes_test.sh [--planted-only]   (skips the tree itself)
set -euo pipefail
source_dir=${KVX_SOURCE_DIR:-$(dirname "$0")/..}
check=$source_dir/scripts/check_includes.py
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0

fail() {
  echo "FAIL: $*"
  failed=1
}

tree_rc=0
if [[ ${1:-} != --planted-only ]]; then
  echo "== the tree: $source_dir"
  python3 "$check" "$source_dir" || tree_rc=$?
  ((tree_rc == 0)) || fail "the tree breaks the include order"
fi

# --- A tree of its own that keeps the order ---------------------------------
tree=$work/tree

put() {  # FILE LINE...: writes the file with these lines
  local file=$tree/$1
  shift
  mkdir -p "$(dirname "$file")"
  printf '%s\n' "$@" >"$file"
}

fresh_tree() {
  rm -rf "$tree"
  put platform/platform.h '#include <cstdint>'
  put platform/win32/entry.cpp '#include "platform/platform.h"'
  put base/state.h '#include <vector>' '#include "platform/platform.h"'
  put base/state.cpp '#include "base/state.h"'
  put base/numbers.h '#include "base/state.h"'
  put board/link.h '#include "base/state.h"'
  put board/link.cpp '#include "board/link.h"' '#include "platform/platform.h"' \
    '#include "board/reply.h"'
  put board/reply.h '#include <string>'
  put board/poll.cpp '#include "board/link.h"' '#include "base/numbers.h"'
  put ui/view.h '#include "base/state.h"'
  put ui/view.cpp '#include "ui/view.h"' '#include "ui/colours.h"'
  put ui/colours.h '#include <cstdint>'
  # A header named beside its includer, and a library's header in quotes.
  put ui/chart.h '#include "view.h"'
  put ui/chart.cpp '#include "ui/chart.h"' '#include "gtest/gtest.h"'
  put web/page.h '#include "base/state.h"'
  put web/page.cpp '#include "web/page.h"' '#include "ui/chart.h"' \
    '#include "platform/platform.h"'
  put web/server.h '#include <cstdint>'
  put mqtt/client.h '#include "base/state.h"'
  put mqtt/client.cpp '#include "mqtt/client.h"' '#include "ui/colours.h"' \
    '#include "platform/platform.h"' '#include "mqtt/packets.h"'
  put mqtt/packets.h '#include <cstdint>'
  put control/handler.h '#include "board/link.h"' '#include "ui/view.h"'
  put control/handler.cpp '#include "control/handler.h"' '#include "ui/chart.h"' \
    '#include "control/limits.h"' '#include "web/server.h"' \
    '#include "mqtt/packets.h"'
  put control/limits.h '#include <cstdint>'
  put app/main.cpp '#include "control/handler.h"' '#include "board/poll.h"' \
    '#include "ui/view.h"' '#include "base/state.h"' \
    '#include "platform/platform.h"' '#include "app/options.h"' \
    '#include "web/page.h"' '#include "mqtt/client.h"'
  put app/options.h '#include <string>'
  put tests/support/fake_board.h '#include "board/link.h"'
}

run_check() {  # sets out and rc
  rc=0
  out=$(python3 "$check" "$tree") || rc=$?
}

fresh_tree
run_check
order=$(head -n 1 <<<"$out")
echo "== $order"
((rc == 0)) || fail "the tree that keeps the order fails: $out"
[[ $order == "include order, bottom to top"* ]] || fail "no order line: $out"
grep -qxF "18 units, 32 includes, 0 cycles, 0 back arrows" <<<"$out" ||
  fail "counts of the tree that keeps the order: $out"

# Appends '#include "TARGET"' to FILE of a fresh tree and expects the check
# to fail with LINE printed (@ in it stands for FILE:ITS-LINE) and with the
# count line COUNTS.
expect_found() {
  local file=$1 target=$2 line=$3 counts=$4
  fresh_tree
  echo "#include \"$target\"" >>"$tree/$file"
  line=${line//@/$file:$(wc -l <"$tree/$file")}
  run_check
  if ((rc != 1)); then
    fail "exit code $rc, not 1, for $file -> $target: $out"
  elif ! grep -qxF "$line" <<<"$out"; then
    fail "expected '$line' in: $out"
  elif ! grep -qE "^[0-9]+ units, [0-9]+ includes, $counts\$" <<<"$out"; then
    fail "expected '$counts' for $file -> $target in: $out"
  else
    echo "found: $line"
  fi
}

arrow() {  # FILE TARGET FROM TO: one back arrow FROM -> TO
  expect_found "$1" "$2" "back arrow: $3 -> $4 (@)" "0 cycles, 1 back arrows"
}

# Each arrow goes to a header that includes nothing, so that it closes no
# cycle. The floor includes nothing above it.
arrow base/state.cpp board/reply.h base/state board/reply
arrow base/numbers.h ui/colours.h base/numbers ui/colours
arrow base/state.h control/limits.h base/state control/limits
# The board link and the views stand apart (the last one named from
# beside its includer).
arrow board/link.cpp ui/colours.h board/link ui/colours
arrow ui/view.cpp board/reply.h ui/view board/reply
arrow board/poll.cpp ../ui/colours.h board/poll ui/colours
# The status page stands on the views, apart from the board link; the
# views and the board link never include it.
arrow web/page.cpp board/reply.h web/page board/reply
arrow ui/view.cpp web/server.h ui/view web/server
arrow board/poll.cpp web/server.h board/poll web/server
# The MQTT client stands on the views, apart from the board link and the
# status page; none of those below it includes it.
arrow mqtt/client.cpp board/reply.h mqtt/client board/reply
arrow mqtt/packets.h web/server.h mqtt/packets web/server
arrow web/page.cpp mqtt/packets.h web/page mqtt/packets
arrow board/poll.cpp mqtt/packets.h board/poll mqtt/packets
arrow ui/view.cpp mqtt/packets.h ui/view mqtt/packets
arrow base/state.cpp mqtt/packets.h base/state mqtt/packets
arrow mqtt/client.h control/limits.h mqtt/client control/limits
arrow mqtt/client.cpp app/options.h mqtt/client app/options
# None of them includes the handlers.
arrow board/link.h control/limits.h board/link control/limits
arrow ui/chart.cpp control/limits.h ui/chart control/limits
arrow web/page.h control/limits.h web/page control/limits
# Nothing outside app/ includes app/.
arrow platform/platform.h app/options.h platform/platform app/options
arrow base/state.cpp app/options.h base/state app/options
arrow board/poll.cpp app/options.h board/poll app/options
arrow ui/view.h app/options.h ui/view app/options
arrow web/page.cpp app/options.h web/page app/options
arrow control/handler.cpp app/options.h control/handler app/options
# The system's facilities stand beneath the floor.
arrow platform/win32/entry.cpp base/numbers.h platform/win32/entry base/numbers
# Another folder of the repository is not part of the order.
expect_found ui/view.cpp tests/support/fake_board.h \
  "outside the order: ui/view -> tests/support/fake_board (@)" \
  "0 cycles, 1 back arrows"
# A cycle of two units through a .cpp and its header (ui/chart.h includes
# ui/view.h; ui/view.cpp now includes ui/chart.h), and one of three.
expect_found ui/view.cpp ui/chart.h "cycle: ui/chart -> ui/view -> ui/chart" \
  "1 cycles, 0 back arrows"
fresh_tree
put board/a.h '#include "board/b.h"'
put board/b.h '#include "board/c.h"'
put board/c.h '#include "board/link.h"' '#include "board/a.h"'
run_check
if ((rc == 1)) &&
  grep -qxF "cycle: board/a -> board/b -> board/c -> board/a" <<<"$out"; then
  echo "found: cycle: board/a -> board/b -> board/c -> board/a"
else
  fail "the cycle of three units: exit code $rc: $out"
fi

# A root without the folders is no tree that keeps the order.
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
