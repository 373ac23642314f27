#!/usr/bin/env bash
# Installs what the tests need, builds the Windows program and the native
# builds, and runs every test (the Wine end-to-end tests included) and
# every fuzz harness. Prints the wall time of each phase as it ends and a
# table of them with the total at the end, also when a phase fails (the
# run then stops: the phases side by side are ended).
#
# What runs where:
#   build-win     the 32-bit korvalinex.exe (the release program), built
#                 and checked (PE32, GUI subsystem, system DLLs only) on
#                 every run, with the Wine tests' driver and checks
#   build         native, Debug, no sanitizers: the board simulator of the
#                 Wine tests, the Wine tests themselves (label wine), the
#                 tests that time the program on a real socket (label
#                 realtime) or count its heap (label plain), the guard's
#                 oracle shards (label oracle), the checks of scripts
#                 and of the release program (label script),
#                 and the benchmarks (bench/, compiled, not run:
#                 docs/benchmarks.md)
#   build-asan    native, Debug, AddressSanitizer and UBSan: every other
#                 test (all but labels realtime, oracle and script)
#   build-fuzz    clang, the fuzz harnesses (scripts/fuzz.sh): each from
#                 its seed corpus for FUZZ_SECONDS (15 here; a longer run
#                 by hand: FUZZ_SECONDS=600 scripts/fuzz.sh)
#
# The Wine tests mostly wait on Wine and on the board, so they start as
# soon as the program and the simulator are built, and run while the other
# builds, the sanitizer tests and the fuzzers go on beside them; those
# work at a lower priority (the builds and the fuzzers at nice 19, the
# sanitizer tests at nice 10), so that the tests that keep time get the
# processor first. The output of each phase that runs side by side goes to
# build-logs/PHASE.log and is shown when the phase is waited for at the
# end; its time in the table runs from its start to its end.
#
# The Wine tests run the build that this host can run (scripts/wine_host.sh
# decides; set KVX_WINE_ARCH=win32 or win64 to force it): the 32-bit
# program itself, or on hosts that cannot execute 32-bit code, the 64-bit
# build of the same sources under the 64-bit Wine loader. The 64-bit build
# also runs them when the 32-bit Wine packages cannot be installed (unless
# KVX_WINE_ARCH is win32); one line says so.
#
# A package list that fails to download is a warning; failed installs are
# tried again (KVX_APT_TRIES, KVX_APT_PAUSE; see scripts/wine_host.sh). To
# try out the fallback to the 64-bit build on any host:
#   KVX_FAIL_I386_INSTALL=1 KVX_ASSUME_32BIT_HOST=1 scripts/test.sh
# (the first makes every :i386 package impossible to install, the second
# takes the host to run 32-bit code).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
source scripts/wine_host.sh

logs=$root/build-logs
rm -rf "$logs"
mkdir -p "$logs"

# --- Phase times ----------------------------------------------------------
run_start=$(date +%s)
phase=""
phase_start=0
phase_names=()   # every phase that ended, in the order it ended
phase_starts=()  # its start, seconds after the run's start
phase_times=()   # its wall time in seconds
phase_notes=()   # "" or FAILED
lane_names=()    # the phases side by side that are still to be waited for
lane_pids=()
lane_starts=()

now() { date +%s; }

duration() {
  if (($1 >= 60)); then
    printf '%dm %02ds' $(($1 / 60)) $(($1 % 60))
  else
    printf '%ds' "$1"
  fi
}

# Keeps phase $1: started at $2 (seconds since the epoch), took $3 s,
# note $4.
phase_keep() {
  phase_names+=("$1")
  phase_starts+=("$(($2 - run_start))")
  phase_times+=("$3")
  phase_notes+=("${4:-}")
}

# Ends the running phase, if any: prints and keeps its time.
phase_end() {
  [[ -n $phase ]] || return 0
  local s=$(($(now) - phase_start))
  phase_keep "$phase" "$phase_start" "$s"
  echo "== $phase: $(duration "$s")"
  phase=""
}

# Starts phase $1 (its name in the table), with the heading $2.
phase_begin() {
  phase_end
  phase=$1
  phase_start=$(now)
  echo "== ${2:-$1}"
}

# Starts phase $1 (heading $2) beside the others: runs "${@:3}" (a
# command or a function of this script, under set -e) in the background,
# its output in $logs/$1.log. It runs in a process group of its own, so
# that a failed run can end it and everything it started.
lane_begin() {
  local name=$1 heading=$2
  shift 2
  phase_end
  echo "== $heading: side by side, output in ${logs#"$root"/}/$name.log"
  set -m
  (
    set +e
    start=$(now)
    (
      set -e
      "$@"
    ) >"$logs/$name.log" 2>&1 </dev/null
    rc=$?
    echo "$start $(now) $rc" >"$logs/$name.times"
    exit "$rc"
  ) &
  lane_pids+=($!)
  set +m
  lane_names+=("$name")
  lane_starts+=("$(now)")
}

# Waits for every phase side by side, in the order they began: shows the
# output of each, keeps its time. Non-zero when one of them failed. After
# lanes_end, a phase that had not ended is kept as ended unfinished.
lanes_wait() {
  local i name start end rc failed=0
  for i in "${!lane_names[@]}"; do
    name=${lane_names[i]}
    wait "${lane_pids[i]}" 2>/dev/null || true
    if ! read -r start end rc 2>/dev/null <"$logs/$name.times"; then
      echo "== $name: ended unfinished; its output so far:"
      tail -n 40 "$logs/$name.log" 2>/dev/null || true
      phase_keep "$name" "${lane_starts[i]}" $(($(now) - lane_starts[i])) \
        "ended unfinished"
      continue
    fi
    echo "== $name (side by side): its output"
    cat "$logs/$name.log"
    if ((rc)); then
      phase_keep "$name" "$start" $((end - start)) FAILED
      echo "== $name: FAILED (exit $rc) after $(duration $((end - start)))"
      failed=1
    else
      phase_keep "$name" "$start" $((end - start))
      echo "== $name: $(duration $((end - start)))"
    fi
  done
  lane_names=()
  lane_pids=()
  lane_starts=()
  return "$failed"
}

# Ends the phases side by side that still run (a failed run).
lanes_end() {
  local pid
  for pid in "${lane_pids[@]}"; do
    kill -TERM -- "-$pid" 2>/dev/null || true
  done
  for pid in "${lane_pids[@]}"; do
    wait "$pid" 2>/dev/null || true
  done
}

phase_table() {
  local rc=$? i failed=""
  trap - EXIT
  if [[ -n $phase ]] && ((rc)); then
    failed=$phase
    phase_keep "$phase" "$phase_start" $(($(now) - phase_start)) FAILED
    echo "== $phase: FAILED (exit $rc) after $(duration "${phase_times[-1]}")"
    phase=""
  else
    phase_end
  fi
  if ((${#lane_names[@]})); then
    echo "== ending the phases side by side: ${lane_names[*]}"
    lanes_end
    lanes_wait || true
  fi
  echo "== phase times (started: after the run's start)"
  printf '  %-24s %8s %8s\n' phase started took
  for i in "${!phase_names[@]}"; do
    printf '  %-24s %8s %8s  %s\n' "${phase_names[i]}" \
      "$(duration "${phase_starts[i]}")" "$(duration "${phase_times[i]}")" \
      "${phase_notes[i]}"
    [[ -z $failed && ${phase_notes[i]} == FAILED ]] && failed=${phase_names[i]}
  done
  printf '  %-24s %8s %8s\n' total "" "$(duration $(($(now) - run_start)))"
  ((rc == 0)) ||
    echo "== FAILED in ${failed:-the set-up} (exit $rc)"
  exit "$rc"
}
trap phase_table EXIT
# An interrupted run is a failed one.
trap 'exit 130' INT
trap 'exit 143' TERM

# --- Packages -------------------------------------------------------------
kvx_wine_choose
echo "== $(kvx_wine_describe)"

# Everything in one install (the browser for the status page's test,
# tests/wine/test_web.sh, and the MQTT broker with its clients for
# tests/mqtt_broker_test.sh and tests/wine/test_mqtt.sh among it); when
# that cannot be had, the packages without which nothing runs, then the
# browser and the broker each on its own: without one, its tests say so
# and are skipped.
phase_begin installs "installing packages"
base_packages=(cmake ninja-build g++ libgtest-dev libgmock-dev
  libbenchmark-dev clang libclang-rt-14-dev binutils-mingw-w64-i686
  g++-mingw-w64-i686-posix xvfb imagemagick fonts-liberation xdotool python3)
kvx_wine_install_with "${base_packages[@]}" -- chromium mosquitto \
  mosquitto-clients || {
  echo "== nothing left to fall back to; missing: ${KVX_NOT_INSTALLED[*]}" >&2
  exit 1
}
kvx_package_installed chromium ||
  echo "== chromium cannot be had: the status page's browser test is skipped"
kvx_package_installed mosquitto && kvx_package_installed mosquitto-clients ||
  echo "== mosquitto cannot be had: the tests against a real broker are skipped"

jobs=$(nproc)

phase_begin "include rules"
python3 scripts/check_includes.py
python3 scripts/check_writers.py

windows_build() {  # directory, toolchain file
  cmake -S . -B "$1" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$2" \
    -DCMAKE_BUILD_TYPE=Release -DKORVALINEX_BOARD_ADDRESS=127.0.0.1
  cmake --build "$1" -j "$jobs"
}

phase_begin build-win "Windows program, 32-bit (the release program)"
windows_build build-win "$root/cmake/mingw-w64-i686.cmake"
wine_build=$root/build-win
if [[ $KVX_WINE_ARCH == win64 ]]; then
  phase_begin "$KVX_WIN_BUILD_NAME" \
    "Windows program, 64-bit (for the Wine tests on this host)"
  windows_build "$KVX_WIN_BUILD_NAME" "$KVX_WIN_TOOLCHAIN"
  wine_build=$root/$KVX_WIN_BUILD_NAME
fi

# The simulator first: with it the Wine tests can start.
phase_begin "board simulator" "native build: the board simulator"
echo "== the Wine tests run $wine_build/korvalinex.exe under $KVX_WINE_LOADER"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DKORVALINEX_BOARD_ADDRESS=127.0.0.1 -DKVX_WIN_BUILD="$wine_build" \
  -DKVX_WINE_ARCH="$KVX_WINE_ARCH" \
  -DKVX_RELEASE_WIN_BUILD="$root/build-win" -DKVX_BENCH=ON
cmake --build build -j "$jobs" --target korvalinex-sim

# Twice as many at once as there are cores: the Wine tests spend most of
# their time waiting on the board and on Wine.
wine_tests() {
  ctest --test-dir build --output-on-failure -j "$((jobs * 2))" \
    --timeout 600 -L '^wine$'
}
lane_begin "Wine tests" "the Wine end-to-end tests" wine_tests

# The rest of the native build, the benchmarks among it; then its tests
# beside the others: those that time the program on a real socket wait
# on it most of the time.
phase_begin "native build" "native build: tests and benchmarks"
nice -n 19 cmake --build build -j "$jobs"
plain_tests() {
  ctest --test-dir build --output-on-failure -j "$jobs" \
    --timeout 600 -L '^(realtime|plain|script|oracle)$'
}
lane_begin "native tests" "native tests: real sockets, the heap, scripts" \
  plain_tests

# The fuzz harnesses: their own build (clang), then each harness from its
# seed corpus.
fuzzing() {
  FUZZ_SECONDS=${FUZZ_SECONDS:-15} nice -n 19 scripts/fuzz.sh
}
lane_begin fuzzing "fuzzing (${FUZZ_SECONDS:-15} s a harness)" fuzzing

phase_begin "ASan build" "native build under AddressSanitizer and UBSan"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKVX_SANITIZE=ON \
  -DKORVALINEX_BOARD_ADDRESS=127.0.0.1
nice -n 19 cmake --build build-asan -j "$jobs"

# Every test but those that time the program (they would measure the
# sanitizers here), the checks of scripts and the guard's oracle shards
# (run in the other build).
phase_begin "ASan tests" "native tests under AddressSanitizer and UBSan"
nice -n 10 ctest --test-dir build-asan --output-on-failure -j "$jobs" \
  --timeout 600 -LE '^(realtime|script|oracle)$'

phase_end
lanes_wait
