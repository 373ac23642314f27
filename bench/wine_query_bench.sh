#!/bin/bash
# The cost of one board query of the Windows program under Wine, side by
# side with the least window program that makes the same query
# (bench/query_window.cpp: a window, a label per exchange, the 14
# exchanges on each tick of a 1-second timer), against the board simulator
# on loopback. In each round the query window runs first and then each
# program given, SECONDS each, one after the other in the same Wine prefix
# and on the same display, so that the load of the machine falls on all of
# them alike; the medians over the rounds are what to read.
#
# For every run: the queries made in the SECONDS (the simulator's command
# count / 14), the CPU time of the process itself, of the wine server and
# of the X server (from /proc/PID/task/*/schedstat), each per query, and
# the peak resident memory (VmHWM) of the process at the run's end.
#
# The run happens in a network namespace of its own (unshare -rn) in which
# only the loopback interface exists, as in bench/wine_bench.sh. A program
# is refused unless the CMakeCache.txt beside it says it was built for
# 127.0.0.1.
#
# Usage: KVX_WIN_BUILD=build-win KVX_SIM=build/korvalinex-sim \
#          bench/wine_query_bench.sh [SECONDS [ROUNDS [EXE...]]]
# SECONDS of measurement per run (60), ROUNDS (3), the programs to compare
# (KVX_WIN_BUILD/korvalinex.exe when none is given; the others each from a
# build directory of their own, for a before and after). KVX_BENCH_SMAPS=DIR
# keeps each run's /proc/PID/smaps there, to see what is resident.
set -u

here=$(cd "$(dirname "$0")" && pwd)
seconds=${1:-60}
rounds=${2:-3}
shift $(($# < 2 ? $# : 2))

: "${KVX_WIN_BUILD:?KVX_WIN_BUILD must name the Windows build directory}"
: "${KVX_SIM:?KVX_SIM must name the simulator program}"
KVX_WIN_BUILD=$(cd "$KVX_WIN_BUILD" && pwd)
KVX_SIM=$(cd "$(dirname "$KVX_SIM")" && pwd)/$(basename "$KVX_SIM")

exes=()
for e in "${@:-$KVX_WIN_BUILD/korvalinex.exe}"; do
  e=$(cd "$(dirname "$e")" && pwd)/$(basename "$e")
  address=$(sed -n 's/^KORVALINEX_BOARD_ADDRESS:STRING=//p' \
    "$(dirname "$e")/CMakeCache.txt" 2>/dev/null)
  if [[ $address != 127.0.0.1 ]]; then
    echo "refused: $e was built for board address '$address', not 127.0.0.1" >&2
    exit 2
  fi
  exes+=("$e")
done

if [[ ${KVX_BENCH_NETNS:-} != 1 ]]; then
  export KVX_WIN_BUILD KVX_SIM
  export KVX_WINEPREFIX=${KVX_WINEPREFIX:-${TMPDIR:-/tmp}/kvx-bench-wine-$UID}
  exec unshare -rn env KVX_BENCH_NETNS=1 bash "$0" "$seconds" "$rounds" \
    "${exes[@]}"
fi
ip link set lo up || { echo "no loopback in the namespace" >&2; exit 2; }

source "$here/../tests/wine/lib.sh"

# CPU time of one process in microseconds, 0 when gone.
cpu_us() {
  cat /proc/"$1"/task/*/schedstat 2>/dev/null |
    awk '{ns += $1} END {printf "%d", ns / 1000}'
}
hwm_kb() { awk '/^VmHWM:/{print $2}' "/proc/$1/status" 2>/dev/null; }
server_pid() {
  local d
  for d in /proc/[0-9]*; do
    [[ $(cat "$d/comm" 2>/dev/null) == wineserver* ]] || continue
    tr '\0' '\n' 2>/dev/null <"$d/environ" |
      grep -qx "WINEPREFIX=$WINEPREFIX" && { echo "${d#/proc/}"; return; }
  done
}

results=$KVX_TMP/results
: >"$results"
connections=0

# measure NAME PID: CPU of the process, the wine server and the X server
# over the run's seconds, the queries in them, the peak memory; one line
# "NAME queries own_ms server_ms x_ms hwm_kb" to the results.
measure() {
  local name=$1 pid=$2 server p0 s0 x0 p1 s1 x1 count
  server=$(server_pid)
  kvx_sim clearlog >/dev/null
  p0=$(cpu_us "$pid") s0=$(cpu_us "$server") x0=$(cpu_us "$KVX_XVFB_PID")
  sleep "$seconds"
  p1=$(cpu_us "$pid") s1=$(cpu_us "$server") x1=$(cpu_us "$KVX_XVFB_PID")
  count=$(kvx_sim count)
  [[ -n ${KVX_BENCH_SMAPS:-} ]] &&
    cp "/proc/$pid/smaps" "$KVX_BENCH_SMAPS/$name-$(date +%s).smaps"
  echo "$name $((count / 14)) $(((p1 - p0) / 1000)) $(((s1 - s0) / 1000))" \
    "$(((x1 - x0) / 1000)) $(hwm_kb "$pid")" | tee -a "$results"
}

kvx_start_display
kvx_prepare_prefix
query_exe=$KVX_TMP/query_window.exe
"$KVX_WIN_CROSS-g++-posix" -O3 -Wall -Wextra -Werror -static -static-libgcc \
  -static-libstdc++ -mwindows -std=c++17 -I"$here/.." -o "$query_exe" \
  "$here/query_window.cpp" -lwsock32 ||
  kvx_fail "the query window program did not build"
kvx_start_simulator

data_arrived() { [[ $(kvx_drive text @main 17) == *"uC: ATmega32"* ]]; }
closed() { [[ $(kvx_sim status) == *connected=0* ]]; }

echo "run queries own_ms server_ms x_ms hwm_kb"
for ((r = 1; r <= rounds; r++)); do
  kvx_log "round $r: query window"
  # Through exec, so that the process measured is the program's own.
  (exec "$KVX_WINE_LOADER" "$query_exe" "$KVX_BOARD_PORT") \
    >"$KVX_TMP/query.log" 2>&1 8>&- &
  pid=$!
  KVX_PIDS+=("$pid")
  connections=$((connections + 1))
  [[ $(kvx_sim waitconnect $connections 60000) == OK ]] ||
    kvx_fail "query window: no connection"
  kvx_drive wait KVX-bench-query 60000 || kvx_fail "no query window"
  sleep 5
  measure query "$pid"
  kvx_drive close KVX-bench-query
  kvx_wait_for 20 kvx_dead "$pid" || kvx_stop_pid "$pid"
  kvx_wait_for 10 closed || kvx_fail "the query window's connection stayed open"

  for ((e = 0; e < ${#exes[@]}; e++)); do
    KVX_EXE=${exes[e]}
    kvx_log "round $r: program $e ($KVX_EXE)"
    kvx_start_program
    connections=$((connections + 1))
    [[ $(kvx_sim waitconnect $connections 60000) == OK ]] ||
      kvx_fail "program $e: no board connection"
    kvx_drive wait @main 60000 || kvx_fail "program $e: no main window"
    kvx_wait_for 30 data_arrived || kvx_fail "program $e: board data not shown"
    sleep 5
    measure "program$e" "$KVX_PROGRAM_PID"
    kvx_drive click @main 82 || kvx_fail "could not click QUIT"
    kvx_wait_program_end 30 || kvx_fail "program $e did not end"
    kvx_wait_for 10 closed || kvx_fail "program $e's connection stayed open"
  done
done

# --- Medians ------------------------------------------------------------------
echo
echo "== Medians over $rounds rounds of $seconds s (CPU in ms per query)"
printf '%-10s %8s %9s %9s %9s %10s %9s\n' run queries own server X \
  own+srv+X "VmHWM kB"
median() { sort -n | awk '{v[NR] = $1} END {
  if (NR % 2) printf "%.2f", v[(NR + 1) / 2];
  else printf "%.2f", (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
for name in query $(for ((e = 0; e < ${#exes[@]}; e++)); do echo "program$e"; done); do
  col() { awk -v n="$name" -v c="$1" '$1 == n && $2 > 0 {
    if (c == "q") print $2; else if (c == "all") print ($3 + $4 + $5) / $2;
    else if (c == "hwm") print $6; else print $c / $2 }' "$results" | median; }
  printf '%-10s %8s %9s %9s %9s %10s %9s\n' "$name" "$(col q)" "$(col 3)" \
    "$(col 4)" "$(col 5)" "$(col all)" "$(col hwm)"
done
for ((e = 0; e < ${#exes[@]}; e++)); do
  echo "program$e: ${exes[e]} ($(stat -c %s "${exes[e]}") bytes)"
done
kvx_log "done"
