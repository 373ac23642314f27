#!/usr/bin/env bash
# Installs what the tests need, builds the native test build and the Windows
# program, and runs every test (the Wine end-to-end tests included).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"

packages=(cmake ninja-build g++ libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev g++-mingw-w64-i686-posix wine wine32:i386 xvfb
  imagemagick fonts-liberation xdotool)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" ||
    missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "== installing: ${missing[*]}"
  $sudo dpkg --add-architecture i386
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
fi

jobs=$(nproc)

echo "== Windows program"
cmake -S . -B build-win -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-i686.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DKORVALINEX_BOARD_ADDRESS=127.0.0.1
cmake --build build-win -j "$jobs"

echo "== native build"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DKORVALINEX_BOARD_ADDRESS=127.0.0.1 -DKVX_WIN_BUILD="$root/build-win"
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
