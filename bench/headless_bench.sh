#!/bin/bash
# Process figures of the program over the headless platform, each beside
# its baseline, against the board simulator program on loopback ports:
#
#   1. CPU time over 60 s of real time at the 1-second refresh (the driven
#      clock held in step with real time), beside a bare client making the
#      same exchanges once a second and an idle process sleeping the same
#      60 s;
#   2. CPU time per minute of the driven clock (the clock jumps over the
#      waits), program and bare client, several runs each;
#   3. peak resident memory (VmHWM) after 10 minutes of the driven clock,
#      with the history as those minutes leave it and with it full, beside
#      the idle process;
#   4. valgrind massif: peak heap of the same run, beside the idle process;
#   5. valgrind callgrind: user-space instructions in one driven minute,
#      program and bare client;
#   6. strace: system calls of one driven minute, program and bare client.
#
# Usage: bench/headless_bench.sh [BUILD_DIR]   (default: build-bench)
# BUILD_DIR must hold korvalinex-sim and bench/kvx-headless-run.
set -u

here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../build-bench}" && pwd) || exit 2
sim_exe="$build/korvalinex-sim"
run_exe="$build/bench/kvx-headless-run"
for f in "$sim_exe" "$run_exe"; do
  [[ -x $f ]] || { echo "missing $f" >&2; exit 2; }
done

tmp=$(mktemp -d "${TMPDIR:-/tmp}/kvx-headless-bench.XXXXXX")
sim_pids=()
cleanup() {
  local p
  for p in "${sim_pids[@]}"; do
    kill "$p" 2>/dev/null
    wait "$p" 2>/dev/null
  done
  rm -rf "$tmp"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# Starts one simulator on an ephemeral loopback port; sets sim_port.
start_sim() {
  local name=$1 i
  "$sim_exe" --address 127.0.0.1 --port 0 --port-file "$tmp/$name.ports" \
    --quiet >"$tmp/$name.log" 2>&1 &
  sim_pids+=($!)
  for ((i = 0; i < 50; i++)); do
    [[ -s $tmp/$name.ports ]] && break
    sleep 0.1
  done
  sim_port=$(awk '{print $1}' "$tmp/$name.ports" 2>/dev/null)
}

# value KEY FILE: the value of a key=value line.
value() { sed -n "s/^$1=//p" "$2"; }
cpu() { awk -v u="$(value cpu_user_ms "$1")" -v s="$(value cpu_sys_ms "$1")" \
  'BEGIN{printf "%.1f", u + s}'; }

start_sim a
port_a=$sim_port
start_sim b
port_b=$sim_port
[[ $port_a =~ ^[0-9]+$ && $port_b =~ ^[0-9]+$ ]] ||
  { echo "the simulator did not start" >&2; exit 1; }
echo "simulators on 127.0.0.1:$port_a and 127.0.0.1:$port_b"

echo
echo "== 1. CPU over 60 s of real time (1-second refresh), in parallel"
"$run_exe" --port "$port_a" --seconds 60 --realtime >"$tmp/rt.program" &
p1=$!
"$run_exe" --port "$port_b" --seconds 60 --realtime --bare >"$tmp/rt.bare" &
p2=$!
"$run_exe" --seconds 60 --realtime --idle >"$tmp/rt.idle" &
p3=$!
wait $p1 $p2 $p3
# (user and system time together: their split is sampled at clock ticks)
printf '%-8s %10s %8s\n' run cpu_ms wall_s
for m in program bare idle; do
  f=$tmp/rt.$m
  printf '%-8s %10s %8.1f\n' $m "$(cpu "$f")" \
    "$(awk -v w="$(value wall_ms "$f")" 'BEGIN{print w/1000}')"
done
echo "program passes of the main loop: $(value waits "$tmp/rt.program")"

echo
echo "== 2. CPU per minute of the driven clock (5 runs each, ms)"
for m in program bare; do
  line=""
  for i in 1 2 3 4 5; do
    if [[ $m == program ]]; then
      "$run_exe" --port "$port_a" --seconds 60 >"$tmp/sim.$m"
    else
      "$run_exe" --port "$port_b" --seconds 60 --bare >"$tmp/sim.$m"
    fi
    line+=" $(cpu "$tmp/sim.$m")"
  done
  echo "$m:$line"
done

echo
echo "== 3. Peak resident memory (VmHWM, kB)"
"$run_exe" --port "$port_a" --seconds 600 >"$tmp/mem.program"
"$run_exe" --port "$port_a" --seconds 600 --full-history >"$tmp/mem.full"
"$run_exe" --seconds 1 --idle >"$tmp/mem.idle"
echo "program after 600 s driven: $(value vm_hwm_kb "$tmp/mem.program")"
echo "the same, history full:     $(value vm_hwm_kb "$tmp/mem.full")"
echo "idle process:               $(value vm_hwm_kb "$tmp/mem.idle")"

massif_peak() {
  awk -F= '/^mem_heap_B/{h=$2} /^mem_heap_extra_B/{t=h+$2; if (t>m) m=t}
    END{print m}' "$1"
}
if command -v valgrind >/dev/null; then
  echo
  echo "== 4. valgrind massif: peak heap (useful + allocator overhead, bytes)"
  valgrind -q --tool=massif --massif-out-file="$tmp/massif.program" \
    "$run_exe" --port "$port_a" --seconds 600 >/dev/null
  valgrind -q --tool=massif --massif-out-file="$tmp/massif.idle" \
    "$run_exe" --seconds 1 --idle >/dev/null
  echo "program, 600 s driven: $(massif_peak "$tmp/massif.program")"
  echo "idle process:          $(massif_peak "$tmp/massif.idle")"

  echo
  echo "== 5. valgrind callgrind: instructions in one driven minute"
  for m in program bare; do
    extra=()
    [[ $m == bare ]] && extra=(--bare)
    port=$port_a
    [[ $m == bare ]] && port=$port_b
    valgrind -q --tool=callgrind --collect-atstart=no \
      --callgrind-out-file="$tmp/cg.$m" \
      "$run_exe" --port "$port" --seconds 60 "${extra[@]}" >/dev/null
    ir=$(awk '/^summary:/{print $2}' "$tmp/cg.$m")
    echo "$m: $ir Ir ($((ir / 60)) per query)"
  done
fi

if command -v strace >/dev/null; then
  echo
  echo "== 6. strace: system calls of a whole run with one driven minute"
  for m in program bare idle; do
    extra=()
    port=$port_a
    [[ $m == bare ]] && extra=(--bare) && port=$port_b
    [[ $m == idle ]] && extra=(--idle)
    strace -f -c -o "$tmp/st.$m" \
      "$run_exe" --port "$port" --seconds 60 "${extra[@]}" >/dev/null
    echo "$m: $(awk '$NF ~ /^(send|sendto|recv|recvfrom|poll|ppoll)$/ \
      {printf "%s=%s ", $NF, $4} /total/{printf "total=%s", $4}' "$tmp/st.$m")"
  done
fi
