#!/usr/bin/env bash
# Queries a minute at the 1-second setting against a board whose analog
# input 4 answers "abc" and digital input 3 "x" (docs/benchmarks.md, 16).
#   bench/odd_inputs_rate.sh build-bench/bench/kvx-headless-run build-bench/korvalinex-sim [TAG]
set -u

run=$1; sim=$2; tag=${3:-run}; dir=$(mktemp -d)
$sim --address 127.0.0.1 --port 0 --control-port 0 --port-file $dir/ports --quiet > $dir/sim.out 2>&1 &
spid=$!
for i in $(seq 50); do [ -s $dir/ports ] && break; sleep 0.1; done
read bp cp < $dir/ports
ctl() { exec 3<>/dev/tcp/127.0.0.1/$cp; printf '%s\n' "$1" >&3; read -t 5 line <&3; exec 3>&-; echo "$line"; }
ctl "reply GETADC4 abc\r\n" >/dev/null
ctl "reply GETPORT3 x\r\n" >/dev/null
$run --port $bp --seconds 60 --realtime > $dir/run.out 2>&1
exec 3<>/dev/tcp/127.0.0.1/$cp; printf 'log\n' >&3; timeout 5 cat <&3 > $dir/log; exec 3>&-
n=$(grep -ci ' text Help' $dir/log)
echo "$tag help_commands_in_run=$n"; grep -E "wall_ms" $dir/run.out
kill $spid 2>/dev/null
