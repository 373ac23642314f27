#!/bin/bash
# Figures of the Windows program (korvalinex.exe) under Wine, each beside
# its baseline, against the board simulator on loopback:
#
#   - the size of korvalinex.exe, beside bench/idle_window.cpp built here
#     with the same cross compiler and link options;
#   - CPU time over 60 s of normal running at the 1-second refresh: the
#     program's process, every process of the Wine prefix (wine server and
#     services included) and the X server, from /proc; beside the same 60 s
#     of the idle window program;
#   - CPU time while the window is idle between queries: the refresh set to
#     10 s, CPU over 8 s inside each of several gaps between two queries
#     (checked with the simulator's command count);
#   - peak resident memory (VmHWM) of the program's process after the runs,
#     beside the idle window program's.
#
# The run happens in a network namespace of its own (unshare -rn) in which
# only the loopback interface exists: the board port 50290 there is this
# run's alone, and nothing can be reached beyond the machine. The program
# is refused unless its build directory says it was built for 127.0.0.1.
#
# Usage: KVX_WIN_BUILD=build-win KVX_SIM=build-bench/korvalinex-sim \
#          bench/wine_bench.sh [SECONDS] [GAPS]
# KVX_WIN_BUILD is the build this host runs (scripts/wine_host.sh): on a
# host that cannot execute 32-bit code, the 64-bit build (build-win64); the
# baselines are built with the same cross compiler.
# SECONDS of measurement (60), GAPS between queries to measure (5).
# Uses its own Wine prefix (KVX_WINEPREFIX, default /tmp/kvx-bench-wine-UID).
set -u

here=$(cd "$(dirname "$0")" && pwd)
seconds=${1:-60}
gaps=${2:-5}

: "${KVX_WIN_BUILD:?KVX_WIN_BUILD must name the Windows build directory}"
: "${KVX_SIM:?KVX_SIM must name the simulator program}"
KVX_WIN_BUILD=$(cd "$KVX_WIN_BUILD" && pwd)
KVX_SIM=$(cd "$(dirname "$KVX_SIM")" && pwd)/$(basename "$KVX_SIM")

address=$(sed -n 's/^KORVALINEX_BOARD_ADDRESS:STRING=//p' \
  "$KVX_WIN_BUILD/CMakeCache.txt" 2>/dev/null)
if [[ $address != 127.0.0.1 ]]; then
  echo "refused: $KVX_WIN_BUILD was built for board address '$address'," \
    "not 127.0.0.1" >&2
  exit 2
fi

if [[ ${KVX_BENCH_NETNS:-} != 1 ]]; then
  export KVX_WIN_BUILD KVX_SIM
  export KVX_WINEPREFIX=${KVX_WINEPREFIX:-${TMPDIR:-/tmp}/kvx-bench-wine-$UID}
  exec unshare -rn env KVX_BENCH_NETNS=1 bash "$0" "$@"
fi
ip link set lo up || { echo "no loopback in the namespace" >&2; exit 2; }

source "$here/../tests/wine/lib.sh"

# Every process of this run's Wine prefix (found once before each
# measurement, so that the snapshots themselves are quick).
prefix_pids() {
  local d
  for d in /proc/[0-9]*; do
    tr '\0' '\n' 2>/dev/null <"$d/environ" |
      grep -qx "WINEPREFIX=$WINEPREFIX" && echo "${d#/proc/}"
  done
}

# CPU time of one process in microseconds (the run time of each of its
# threads from /proc/PID/task/*/schedstat, in nanoseconds there), 0 when
# gone. Finer than the 10 ms ticks of /proc/PID/stat.
cpu_us() {
  cat /proc/"$1"/task/*/schedstat 2>/dev/null |
    awk '{ns += $1} END {printf "%d", ns / 1000}'
}

# snapshot FILE: "pid cpu_us name" of the processes of the prefix (as found
# by the last find_pids), the X server and the simulator.
snapshot() {
  local p
  {
    for p in $measured_pids; do
      echo "$p $(cpu_us "$p") $(tr ' ' _ 2>/dev/null <"/proc/$p/comm")"
    done
    echo "x$KVX_XVFB_PID $(cpu_us "$KVX_XVFB_PID")"
    [[ -n $KVX_SIM_PID ]] && echo "s$KVX_SIM_PID $(cpu_us "$KVX_SIM_PID")"
  } >"$1"
}
measured_pids=""
find_pids() { measured_pids=$(prefix_pids); }

# cpu_ms BEFORE AFTER PID|tree|server|x|sim: CPU ms between two snapshots
# of one process, the whole prefix, the wine server, the X server or the
# simulator.
cpu_ms() {
  awk -v what="$3" -v xp="x$KVX_XVFB_PID" -v sp="s$KVX_SIM_PID" '
    FNR == NR { before[$1] = $2; next }
    {
      if (what == "tree" && ($1 == xp || $1 == sp)) next
      if (what == "server" && $3 !~ /^wineserver/) next
      if (what == "x" && $1 != xp) next
      if (what == "sim" && $1 != sp) next
      if (what ~ /^[0-9]+$/ && $1 != what) next
      sum += $2 - (($1 in before) ? before[$1] : 0)
    }
    END { printf "%.1f", sum / 1000 }' "$1" "$2"
}

# breakdown BEFORE AFTER: CPU ms of each prefix process between two
# snapshots, by name.
breakdown() {
  local pid name
  while read -r pid _ name; do
    [[ $pid =~ ^[0-9]+$ ]] || continue
    printf '  %6s ms  %s (%s)\n' "$(cpu_ms "$1" "$2" "$pid")" "$name" "$pid"
  done <"$2"
}

hwm_kb() { awk '/^VmHWM:/{print $2}' "/proc/$1/status" 2>/dev/null; }

# measure NAME PID SECONDS [keep]: CPU of the process, the prefix and the X server
# over SECONDS; sets NAME_prog, NAME_server, NAME_tree, NAME_x, NAME_sim
# (ms). "keep":
# the processes found by the last find_pids.
measure() {
  local name=$1 pid=$2 s=$3
  [[ ${4:-} == keep ]] || find_pids
  snapshot "$KVX_TMP/$name.0"
  sleep "$s"
  snapshot "$KVX_TMP/$name.1"
  printf -v "${name}_prog" '%s' "$(cpu_ms "$KVX_TMP/$name.0" "$KVX_TMP/$name.1" "$pid")"
  printf -v "${name}_tree" '%s' "$(cpu_ms "$KVX_TMP/$name.0" "$KVX_TMP/$name.1" tree)"
  printf -v "${name}_server" '%s' "$(cpu_ms "$KVX_TMP/$name.0" "$KVX_TMP/$name.1" server)"
  printf -v "${name}_x" '%s' "$(cpu_ms "$KVX_TMP/$name.0" "$KVX_TMP/$name.1" x)"
  printf -v "${name}_sim" '%s' "$(cpu_ms "$KVX_TMP/$name.0" "$KVX_TMP/$name.1" sim)"
}

row() { printf '%-34s %9s %9s %9s %9s\n' "$@"; }

kvx_start_display
kvx_prepare_prefix

# --- Sizes ------------------------------------------------------------------
baseline_exe=$KVX_TMP/idle_window.exe
"$KVX_WIN_CROSS-g++-posix" -O3 -Wall -Wextra -Werror -static -static-libgcc \
  -static-libstdc++ -mwindows -o "$baseline_exe" "$here/idle_window.cpp" ||
  kvx_fail "the idle window program did not build"
bare_exe=$KVX_TMP/bare_client_win.exe
"$KVX_WIN_CROSS-g++-posix" -O3 -Wall -Wextra -Werror -static -static-libgcc \
  -static-libstdc++ -std=c++17 -I"$here/.." -o "$bare_exe" "$here/bare_client_win.cpp" \
  -lwsock32 ||
  kvx_fail "the bare client did not build"
echo
echo "== Size (bytes)"
for f in "$KVX_EXE" "$baseline_exe"; do
  "$KVX_WIN_CROSS-strip" -o "$KVX_TMP/stripped.exe" "$f"
  echo "$(basename "$f"): $(stat -c %s "$f"), stripped $(stat -c %s "$KVX_TMP/stripped.exe")"
done

# --- Baseline: the idle window program ----------------------------------------
kvx_log "idle window program"
wine "$baseline_exe" >"$KVX_TMP/idle.log" 2>&1 &
idle_pid=$!
KVX_PIDS+=("$idle_pid")
kvx_drive wait KVX-bench-idle 60000 || kvx_fail "the idle window did not appear"
sleep 5
measure idle "$idle_pid" "$seconds"
idle_hwm=$(hwm_kb "$idle_pid")
kvx_drive close KVX-bench-idle
kvx_wait_for 20 kvx_dead "$idle_pid" || kvx_stop_pid "$idle_pid"

# --- The program at the 1-second refresh ----------------------------------------
kvx_log "program"
kvx_start_simulator
kvx_start_program
[[ $(kvx_sim waitconnect 1 60000) == OK ]] || kvx_fail "no board connection"
kvx_drive wait @main 60000 || kvx_fail "main window did not appear"
data_arrived() { [[ $(kvx_drive text @main 17) == *"uC: ATmega32"* ]]; }
kvx_wait_for 30 data_arrived || kvx_fail "board data not shown"
sleep 5
kvx_sim clearlog >/dev/null
measure run "$KVX_PROGRAM_PID" "$seconds"
run_commands=$(kvx_sim count)

# --- Idle between queries: the refresh at 10 s -------------------------------
kvx_log "idle between queries"
kvx_drive trackbar @main 101 10 >/dev/null || kvx_fail "trackbar 101 not set"
count() { kvx_sim count; }
# Waits for the next query to have ended: the count moved, is a whole number
# of queries and stays for 300 ms.
query_ended() {
  local c
  c=$(count)
  ((c > last_count && c % 14 == 0)) || return 1
  sleep 0.3
  [[ $(count) == "$c" ]] || return 1
  last_count=$c
}
last_count=$(count)
find_pids
gap_seconds=0 gap_used=0
for ((g = 0; g < gaps + 1; g++)); do
  kvx_wait_for 20 query_ended || kvx_fail "no query at the 10-s refresh"
  ((g == 0)) && continue  # the query that set the new deadline
  measure gap "$KVX_PROGRAM_PID" 7 keep
  if [[ $(count) == "$last_count" ]]; then
    add() { awk -v a="${1:-0}" -v b="$2" 'BEGIN{printf "%.1f", a + b}'; }
    gap_prog_sum=$(add "${gap_prog_sum:-0}" "$gap_prog")
    gap_server_sum=$(add "${gap_server_sum:-0}" "$gap_server")
    gap_tree_sum=$(add "${gap_tree_sum:-0}" "$gap_tree")
    gap_x_sum=$(add "${gap_x_sum:-0}" "$gap_x")
    ((gap_seconds += 7, gap_used++))
  fi
done
run_hwm=$(hwm_kb "$KVX_PROGRAM_PID")

kvx_drive click @main 82 || kvx_fail "could not click QUIT"
kvx_wait_program_end 30 || kvx_fail "the program did not end"

# --- Baseline: the same exchanges by a bare client, no window -----------------
# As many queries in the same time as the program made at the 1-s refresh.
kvx_log "bare client"
queries=$((run_commands / 14))
((queries > 0)) || kvx_fail "the program made no query"
period=$((seconds * 1000 / queries))
closed() { [[ $(kvx_sim status) == *connected=0* ]]; }
kvx_wait_for 10 closed || kvx_fail "the board connection stayed open"
wine "$bare_exe" $(((seconds + 5) * 1000 / period)) "$period" \
  >"$KVX_TMP/bare.log" 2>&1 &
bare_pid=$!
KVX_PIDS+=("$bare_pid")
[[ $(kvx_sim waitconnect 2 60000) == OK ]] || kvx_fail "bare client: no connection"
sleep 2
kvx_sim clearlog >/dev/null
measure bare "$bare_pid" "$seconds"
bare_commands=$(kvx_sim count)
wait "$bare_pid"
bare_rc=$?

# --- Report -----------------------------------------------------------------------
echo
echo "== CPU over $seconds s (ms), refresh 1 s"
row "" process wineserv prefix "X server"
row "korvalinex.exe" "$run_prog" "$run_server" "$run_tree" "$run_x"
row "idle window program (baseline)" "$idle_prog" "$idle_server" "$idle_tree" \
  "$idle_x"
row "bare client, no window (baseline)" "$bare_prog" "$bare_server" \
  "$bare_tree" "$bare_x"
echo "queries in the $seconds s: $((run_commands / 14)) ($run_commands commands);" \
  "simulator CPU ${run_sim} ms"
echo "bare client: $((bare_commands / 14)) queries ($bare_commands commands)," \
  "exit code $bare_rc"
echo "by process, program run:"
breakdown "$KVX_TMP/run.0" "$KVX_TMP/run.1"
echo "by process, bare client run:"
breakdown "$KVX_TMP/bare.0" "$KVX_TMP/bare.1"
echo "by process, idle window run:"
breakdown "$KVX_TMP/idle.0" "$KVX_TMP/idle.1"
echo
echo "== CPU while idle between queries (refresh 10 s), ms per second"
echo "over $gap_used gaps of 7 s:"
per_s() { awk -v a="$1" -v s="$2" 'BEGIN{printf "%.1f", s ? a / s : 0}'; }
row "" process wineserv prefix "X server"
row "korvalinex.exe" "$(per_s "${gap_prog_sum:-0}" "$gap_seconds")" \
  "$(per_s "${gap_server_sum:-0}" "$gap_seconds")" \
  "$(per_s "${gap_tree_sum:-0}" "$gap_seconds")" \
  "$(per_s "${gap_x_sum:-0}" "$gap_seconds")"
row "idle window program (baseline)" "$(per_s "$idle_prog" "$seconds")" \
  "$(per_s "$idle_server" "$seconds")" "$(per_s "$idle_tree" "$seconds")" \
  "$(per_s "$idle_x" "$seconds")"
echo
echo "== Peak resident memory (VmHWM, kB)"
echo "korvalinex.exe:                 $run_hwm"
echo "idle window program (baseline): $idle_hwm"
kvx_log "done"
