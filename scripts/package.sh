#!/usr/bin/env bash
# Builds the release korvalinex.exe (for the board address of a real
# installation, or KORVALINEX_BOARD_ADDRESS/PORT from the environment) and
# the simulator for Windows (korvalinex-sim.exe, for a trial without a
# board), and writes dist/korvalinex-<version>.zip with both, the README,
# the program's behaviour in detail, the operator's notes and the example
# alarm script (with CR LF line ends, as cmd.exe wants them). Neither
# program is run here: the program reaches for the well's board.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
# The installation's board, as the preset "installation" has it. A plain
# build has 127.0.0.1; the shipped program is given its address here.
installation_address=192.168.1.50
installation_port=50290
address=${KORVALINEX_BOARD_ADDRESS:-$installation_address}
port=${KORVALINEX_BOARD_PORT:-$installation_port}
version=$(sed -n 's/^project(korvalinex VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)

cmake -S . -B build-release -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-i686.cmake" \
  -DCMAKE_BUILD_TYPE=Release \
  -DKORVALINEX_BOARD_ADDRESS="$address" -DKORVALINEX_BOARD_PORT="$port"
cmake --build build-release --target korvalinex korvalinex-sim
i686-w64-mingw32-strip build-release/korvalinex.exe build-release/korvalinex-sim.exe

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
dir="$stage/korvalinex-$version"
mkdir -p "$dir/simulator" "$dir/docs"
cp build-release/korvalinex.exe README.md "$dir/"
cp docs/screenshot.png docs/history.png docs/web.png docs/behaviour.md "$dir/docs/"
cp docs/bedienung.md "$dir/BEDIENUNG.md"
cp docs/operating.md "$dir/OPERATING.md"
cp build-release/korvalinex-sim.exe "$dir/simulator/"
sed 's/\r*$/\r/' examples/alarm-beispiel.cmd >"$dir/alarm-beispiel.cmd"
mkdir -p dist
rm -f "dist/korvalinex-$version.zip"
(cd "$stage" && zip -qr "$root/dist/korvalinex-$version.zip" "korvalinex-$version")
echo "dist/korvalinex-$version.zip (board $address:$port)"
unzip -l "dist/korvalinex-$version.zip"
