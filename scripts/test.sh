#!/usr/bin/env bash
# Installs what the tests need, builds the native test build and the Windows
# program, and runs every test (the Wine end-to-end tests included).
#
# The release program, the 32-bit korvalinex.exe, is built and checked
# (PE32, GUI subsystem, system DLLs only) on every run. The Wine tests run
# the build that this host can run (scripts/wine_host.sh decides; set
# KVX_WINE_ARCH=win32 or win64 to force it): the 32-bit program itself, or
# on hosts that cannot execute 32-bit code, the 64-bit build of the same
# sources under the 64-bit Wine loader.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
source scripts/wine_host.sh
kvx_wine_choose
echo "== $(kvx_wine_describe)"

kvx_install_packages cmake ninja-build g++ libgtest-dev libgmock-dev \
  libbenchmark-dev clang libclang-rt-14-dev binutils-mingw-w64-i686 \
  g++-mingw-w64-i686-posix "${KVX_WINE_PACKAGES[@]}" xvfb imagemagick \
  fonts-liberation xdotool python3

jobs=$(nproc)

windows_build() {  # directory, toolchain file
  cmake -S . -B "$1" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$2" \
    -DCMAKE_BUILD_TYPE=Release -DKORVALINEX_BOARD_ADDRESS=127.0.0.1
  cmake --build "$1" -j "$jobs"
}

echo "== Windows program, 32-bit (the release program)"
windows_build build-win "$root/cmake/mingw-w64-i686.cmake"
wine_build=$root/build-win
if [[ $KVX_WINE_ARCH == win64 ]]; then
  echo "== Windows program, 64-bit (for the Wine tests on this host)"
  windows_build build-win64 "$root/cmake/mingw-w64-x86_64.cmake"
  wine_build=$root/build-win64
fi
echo "== the Wine tests run $wine_build/korvalinex.exe under $KVX_WINE_LOADER"

echo "== native build"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DKORVALINEX_BOARD_ADDRESS=127.0.0.1 -DKVX_WIN_BUILD="$wine_build" \
  -DKVX_WINE_ARCH="$KVX_WINE_ARCH" \
  -DKVX_RELEASE_WIN_BUILD="$root/build-win"
cmake --build build -j "$jobs"

echo "== tests"
ctest --test-dir build --output-on-failure -j "$jobs" --timeout 600

echo "== native tests under AddressSanitizer and UBSan"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKVX_SANITIZE=ON \
  -DKORVALINEX_BOARD_ADDRESS=127.0.0.1
cmake --build build-asan -j "$jobs"
ctest --test-dir build-asan --output-on-failure -j "$jobs" --timeout 600

echo "== fuzzing (${FUZZ_SECONDS:-60} s a harness)"
scripts/fuzz.sh
