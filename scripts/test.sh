#!/usr/bin/env bash
# Installs what the tests need, builds the native test build and the Windows
# program, and runs every test (the Wine end-to-end tests included). Prints
# the wall time of each phase as it ends and a table of them with the total
# at the end, also when a phase fails (the run stops there, non-zero).
#
# The release program, the 32-bit korvalinex.exe, is built and checked
# (PE32, GUI subsystem, system DLLs only) on every run. The Wine tests run
# the build that this host can run (scripts/wine_host.sh decides; set
# KVX_WINE_ARCH=win32 or win64 to force it): the 32-bit program itself, or
# on hosts that cannot execute 32-bit code, the 64-bit build of the same
# sources under the 64-bit Wine loader. The 64-bit build also runs them
# when the 32-bit Wine packages cannot be installed (unless KVX_WINE_ARCH
# is win32); one line says so.
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

# --- Phase times ----------------------------------------------------------
run_start=$SECONDS
phase=""
phase_start=0
phase_names=()
phase_times=()

duration() {
  if (($1 >= 60)); then
    printf '%dm %02ds' $(($1 / 60)) $(($1 % 60))
  else
    printf '%ds' "$1"
  fi
}

# Ends the running phase, if any: prints and keeps its time.
phase_end() {
  [[ -n $phase ]] || return 0
  local s=$((SECONDS - phase_start))
  phase_names+=("$phase")
  phase_times+=("$s")
  echo "== $phase: $(duration "$s")"
  phase=""
}

# Starts phase $1 (its name in the table), with the heading $2.
phase_begin() {
  phase_end
  phase=$1
  phase_start=$SECONDS
  echo "== ${2:-$1}"
}

phase_table() {
  local rc=$? i failed=""
  trap - EXIT
  if [[ -n $phase ]] && ((rc)); then
    failed=$phase
    phase_names+=("$phase")
    phase_times+=("$((SECONDS - phase_start))")
    echo "== $phase: FAILED (exit $rc) after $(duration "${phase_times[-1]}")"
  else
    phase_end
  fi
  echo "== phase times"
  for i in "${!phase_names[@]}"; do
    printf '  %-24s %8s' "${phase_names[i]}" "$(duration "${phase_times[i]}")"
    [[ -n $failed && $i == $((${#phase_names[@]} - 1)) ]] && printf '  FAILED'
    echo
  done
  printf '  %-24s %8s\n' total "$(duration $((SECONDS - run_start)))"
  ((rc == 0)) ||
    echo "== FAILED in ${failed:-the set-up} (exit $rc); later phases did not run"
  exit "$rc"
}
trap phase_table EXIT

# --- Packages -------------------------------------------------------------
kvx_wine_choose
echo "== $(kvx_wine_describe)"

phase_begin installs "installing packages"
kvx_wine_install cmake ninja-build g++ libgtest-dev libgmock-dev \
  libbenchmark-dev clang libclang-rt-14-dev binutils-mingw-w64-i686 \
  g++-mingw-w64-i686-posix xvfb imagemagick fonts-liberation xdotool \
  python3 || {
  echo "== nothing left to fall back to; missing: ${KVX_NOT_INSTALLED[*]}" >&2
  exit 1
}

# The browser for the status page's test (tests/wine/test_web.sh); without
# it that test says so and is skipped.
kvx_install_packages chromium ||
  echo "== chromium cannot be had: the status page's browser test is skipped"

jobs=$(nproc)

phase_begin "include rules"
python3 scripts/check_includes.py

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

phase_begin "native build"
echo "== the Wine tests run $wine_build/korvalinex.exe under $KVX_WINE_LOADER"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DKORVALINEX_BOARD_ADDRESS=127.0.0.1 -DKVX_WIN_BUILD="$wine_build" \
  -DKVX_WINE_ARCH="$KVX_WINE_ARCH" \
  -DKVX_RELEASE_WIN_BUILD="$root/build-win"
cmake --build build -j "$jobs"

# Twice as many at once as there are cores: the Wine tests and the tests on
# a real socket spend most of their time waiting on the board and on Wine.
phase_begin "native and Wine tests" "tests"
ctest --test-dir build --output-on-failure -j "$((jobs * 2))" --timeout 600

phase_begin "ASan build" "native build under AddressSanitizer and UBSan"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKVX_SANITIZE=ON \
  -DKORVALINEX_BOARD_ADDRESS=127.0.0.1
cmake --build build-asan -j "$jobs"

# The tests that time the program against a real socket (label realtime)
# measure the sanitizers' slowness rather than the program here.
phase_begin "ASan tests" "native tests under AddressSanitizer and UBSan"
ctest --test-dir build-asan --output-on-failure -j "$jobs" --timeout 600 \
  -LE realtime

phase_begin fuzzing "fuzzing (${FUZZ_SECONDS:-60} s a harness)"
scripts/fuzz.sh
