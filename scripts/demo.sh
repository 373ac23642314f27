#!/usr/bin/env bash
# Shows the Windows program at work on this Linux machine: builds the board
# simulator and korvalinex.exe (board address 127.0.0.1), starts the
# simulator with a quick well on loopback and the program against it under
# Wine (under Xvfb when there is no DISPLAY), writes docs/screenshot.png
# after the first refresh, and runs until the program ends.
#
#   scripts/demo.sh [--seconds N] [--cycle S] [--no-install]
#
#   --seconds N   end the program (QUIT) after N seconds; default: run until
#                 the operator ends it (without a display: 600 s)
#   --cycle S     measurement period in seconds, set through the program's
#                 own controls once it runs (default 30; 0 keeps 360 s)
#   --no-install  do not install missing packages
#
# The well alternates between rain and drought: when the program switches
# "Maximum " on, the simulator's well starts to drain; when it switches
# "Minimum " on, rain sets in. So both switch within a few minutes.
#
# Installing goes on past a package list that fails to download and tries
# failed installs again; when the 32-bit Wine packages cannot be had, the
# demo runs the 64-bit build (one line says so) unless KVX_WINE_ARCH=win32
# asks for the 32-bit one. KVX_FAIL_I386_INSTALL=1 KVX_ASSUME_32BIT_HOST=1
# tries that out on any host (scripts/wine_host.sh).
set -uo pipefail
cd "$(dirname "$0")/.." || exit 1
root=$PWD

seconds=""
cycle=30
install=1
while (($#)); do
  case $1 in
    --seconds) seconds=${2:?--seconds needs a number}; shift 2 ;;
    --cycle) cycle=${2:?--cycle needs a number}; shift 2 ;;
    --no-install) install=0; shift ;;
    -h | --help) sed -n '2,24p' "$0"; exit 0 ;;
    *) echo "demo: unknown option $1" >&2; exit 2 ;;
  esac
done
[[ -z $seconds || $seconds =~ ^[0-9]+$ ]] || { echo "demo: bad --seconds" >&2; exit 2; }
[[ $cycle =~ ^[0-9]+$ ]] || { echo "demo: bad --cycle" >&2; exit 2; }

# --- Packages -------------------------------------------------------------
# Which build runs under which Wine loader on this host: the 32-bit program
# itself, or where the kernel cannot run 32-bit code or the 32-bit Wine
# packages cannot be installed, the 64-bit build (KVX_WINE_ARCH=win32 or
# win64 forces it).
source "$root/scripts/wine_host.sh"
kvx_wine_choose || exit 2
echo "== $(kvx_wine_describe)"
if ((install)); then
  kvx_wine_install cmake g++ libgtest-dev xvfb imagemagick fonts-liberation ||
    { echo "demo: installing failed; missing: ${KVX_NOT_INSTALLED[*]}" >&2; exit 1; }
fi

# --- Builds ---------------------------------------------------------------
jobs=$(nproc)
win=$root/build-demo-$KVX_WINE_ARCH
host=$root/build-demo-sim
echo "== building korvalinex.exe ($KVX_WINE_ARCH, board 127.0.0.1)"
cmake -S . -B "$win" -DCMAKE_TOOLCHAIN_FILE="$KVX_WIN_TOOLCHAIN" \
  -DCMAKE_BUILD_TYPE=Release -DKORVALINEX_BOARD_ADDRESS=127.0.0.1 >/dev/null &&
  cmake --build "$win" -j "$jobs" >/dev/null ||
  { echo "demo: the Windows build failed" >&2; exit 1; }
echo "== building the simulator"
cmake -S . -B "$host" -DKORVALINEX_BOARD_ADDRESS=127.0.0.1 >/dev/null &&
  cmake --build "$host" -j "$jobs" --target korvalinex-sim >/dev/null ||
  { echo "demo: the simulator build failed" >&2; exit 1; }
# Never run a build that talks to anything but this machine.
grep -qx 'KORVALINEX_BOARD_ADDRESS:STRING=127.0.0.1' "$win/CMakeCache.txt" ||
  { echo "demo: korvalinex.exe is not built for 127.0.0.1" >&2; exit 1; }

# --- Run ------------------------------------------------------------------
export KVX_WIN_BUILD=$win KVX_SIM=$host/korvalinex-sim KVX_SOURCE_DIR=$root
export KVX_WINEPREFIX=${TMPDIR:-/tmp}/kvx-demo-$UID
source "$root/tests/wine/lib.sh"

if [[ -z ${DISPLAY:-} ]]; then
  kvx_start_display
  [[ -n $seconds ]] || seconds=600
fi
kvx_prepare_prefix
# A quick well: starts in drought, 150 counts (about 0.73 V).
rain="2.0 0.5"
drought="0.2 2.5"
kvx_start_simulator --level 150 --inflow 0.2 --draw 2.5
kvx_start_program
kvx_drive wait @main 120000 || kvx_fail "the main window did not appear"

# After the first refresh: the board data are shown and the loop's entry
# has set the measurement period.
refreshed() {
  [[ $(kvx_drive text @main 17) == *"uC: "* ]] &&
    [[ $(kvx_drive trackbar @main 102) == "360 "* ]]
}
kvx_wait_for 60 refreshed || kvx_fail "no refresh within 60 s"
sleep 2  # one more query, which shows the functions released
read -r l t r b <<<"$(kvx_drive rect @main)"
mkdir -p "$root/docs"
if import -window root -crop "$((r - l))x$((b - t))+$l+$t" +repage \
  "$root/docs/screenshot.png"; then
  kvx_log "screenshot: docs/screenshot.png"
else
  kvx_log "no screenshot (import failed)"
fi

period_shown() { [[ $(kvx_drive text @main 53) == "$cycle s" ]]; }
if ((cycle > 0)); then
  # As an operator would: measurement off, period on the trackbar, on.
  kvx_drive click @main 86 && kvx_drive trackbar @main 102 "$cycle" >/dev/null &&
    kvx_wait_for 10 period_shown && kvx_drive click @main 76 &&
    kvx_log "measurement period ${cycle} s"
fi

kvx_log "running; the program ends with QUIT or its close box${seconds:+, or after $seconds s}"
start=$SECONDS
weather=drought
while kvx_alive "$KVX_PROGRAM_PID"; do
  if [[ -n $seconds ]] && ((SECONDS - start >= seconds)); then
    echo
    kvx_log "time is up: QUIT"
    kvx_drive click @main 82 || break
    break
  fi
  outputs=$(kvx_sim outputs)
  if [[ ${outputs:4:1} == 1 && $weather != drought ]]; then
    weather=drought
    kvx_sim rates $drought >/dev/null
    echo
    kvx_log "Maximum on: the well drains"
  elif [[ ${outputs:3:1} == 1 && $weather != rain ]]; then
    weather=rain
    kvx_sim rates $rain >/dev/null
    echo
    kvx_log "Minimum on: rain"
  fi
  printf '\r%s  outputs %s  level %s   ' "$(date +%T)" "$outputs" \
    "$(kvx_sim level | tr -d '\n')"
  sleep 2
done
echo
if kvx_wait_program_end 30; then
  kvx_log "the program ended, exit code $KVX_PROGRAM_RC"
else
  kvx_log "the program did not end; stopping it"
fi
