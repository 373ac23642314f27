#!/usr/bin/env bash
# Builds the libFuzzer harnesses with clang (build-fuzz) and runs each for a
# bounded time on a fresh copy of its seed corpus (tests/fuzz/corpus), as
# many at once as there are cores.
# Exits non-zero when any harness finds a crash, a sanitizer report, a leak,
# a time-out or runs out of memory; the input that did it is kept in
# build-fuzz/findings/.
#
#   scripts/fuzz.sh                  every harness, FUZZ_SECONDS each
#   FUZZ_SECONDS=10 scripts/fuzz.sh fuzz_poll
#
# Needs cmake, ninja, clang, libclang-rt-14-dev and libgtest-dev (the
# project's configure step asks for GoogleTest). The harnesses use a
# scripted board, the model board or in-memory clients of the status
# page: nothing they run opens a network
# connection.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

seconds=${FUZZ_SECONDS:-60}
build=$root/build-fuzz
harnesses=("$@")
[ ${#harnesses[@]} -gt 0 ] || harnesses=(fuzz_poll fuzz_numbers fuzz_console fuzz_guard fuzz_reply_reader fuzz_web_request fuzz_web_clients fuzz_mqtt_inbound)

generator=()
command -v ninja >/dev/null && generator=(-G Ninja)

echo "== configuring $build (clang++)"
mkdir -p "$build"
cmake -S . -B "$build" "${generator[@]}" -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKORVALINEX_BOARD_ADDRESS=127.0.0.1 \
  -DKVX_FUZZ=ON >"$build/configure.log" 2>&1 ||
  { cat "$build/configure.log"; exit 1; }
echo "== building ${harnesses[*]}"
cmake --build "$build" -j "$(nproc)" --target "${harnesses[@]}"

findings=$build/findings
rm -rf "$findings" "$build/corpus-run"
mkdir -p "$findings" "$build/corpus-run"

export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1}

# One harness: its line for the summary in $build/$h.result, non-zero when
# it found something.
run_one() {
  local h=$1 corpus log start status elapsed runs rate cov found line
  corpus=$build/corpus-run/$h
  cp -r "$root/tests/fuzz/corpus/$h" "$corpus"
  log=$build/$h.log
  start=$(date +%s)
  status=0
  "$build/tests/fuzz/$h" "$corpus" -max_total_time="$seconds" \
    -max_len=4096 -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$findings/$h-" >"$log" 2>&1 || status=$?
  elapsed=$(($(date +%s) - start))
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
  cov=$( (grep -o 'cov: [0-9]*' "$log" || true) | tail -1 | cut -d' ' -f2)
  found=$(find "$findings" -name "$h-*" | head -1)
  if [ "$status" -ne 0 ] || [ -n "$found" ]; then
    grep -E 'ERROR|runtime error|SUMMARY|board query:|console:|numbers:|guard:' \
      "$log" | head -20 || true
    line="$h: FAILED (exit $status) after ${elapsed} s; input: ${found:-none}; log: $log"
    echo "$line" >"$build/$h.result"
    echo "$line"
    return 1
  fi
  line="$h: ok, ${runs:-?} runs in ${elapsed} s (${rate:-?} exec/s), coverage ${cov:-?}, corpus $(ls "$corpus" | wc -l) inputs"
  echo "$line" >"$build/$h.result"
  echo "$line"
}

# As many harnesses at once as there are cores, each for its full time.
jobs=$(nproc)
failed=0
running=0
for h in "${harnesses[@]}"; do
  rm -f "$build/$h.result"
  if ((running >= jobs)); then
    wait -n || failed=1
    running=$((running - 1))
  fi
  echo "== $h: ${seconds} s"
  run_one "$h" &
  running=$((running + 1))
done
while ((running > 0)); do
  wait -n || failed=1
  running=$((running - 1))
done

echo "== summary"
for h in "${harnesses[@]}"; do
  cat "$build/$h.result" 2>/dev/null || { echo "$h: no result"; failed=1; }
done
exit "$failed"
