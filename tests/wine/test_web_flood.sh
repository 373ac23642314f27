#!/bin/bash
# The status page of the Windows program under Wine beside a flood of
# clients on loopback (tests/wine/web_flood.py, 12 s): 8 slow senders,
# 100 slow connections, 200 silent connections a second, and the phone
# loading the page every 250 ms. Every load of the phone is answered 200
# within 2 s; the guard's board queries (once a second) go on, the
# longest pause between two of them within 3 s. The phone's times and the
# pauses are logged.
KVX_BOARD_PORT=0 # a board port of its own: runs beside the other tests
source "$(dirname "$0")/lib.sh"

kvx_start_display
kvx_prepare_prefix
kvx_start_simulator --level 150 --log "$KVX_TMP/flood-wire.log"

WEB_PORT=""
for port in $(kvx__own_ports); do
  ((port == 0)) && port=$((30000 + RANDOM % 20000))
  if kvx_port_free "$port"; then
    WEB_PORT=$port
    break
  fi
done
[[ -n $WEB_PORT ]] || kvx_fail "no free port for the page"
kvx_start_program /web "127.0.0.1:$WEB_PORT" 127.0.0.1 "$KVX_BOARD_PORT"
kvx_await_main_loop
answered() {
  exec 5<>"/dev/tcp/127.0.0.1/$WEB_PORT" || return 1
  printf 'GET / HTTP/1.0\r\n\r\n' >&5
  local line
  read -r -t 10 line <&5
  exec 5>&-
  [[ $line == "HTTP/1.1 200 OK"* ]]
}
kvx_wait_for 30 answered || kvx_fail "the page was not answered"

timeout 60 python3 "$(dirname "$0")/web_flood.py" --port "$WEB_PORT" \
  --seconds 12 >"$KVX_TMP/flood.out" 2>&1 || kvx_fail "the flood failed: $(tail -n 3 "$KVX_TMP/flood.out")"
grep -q '^flood done$' "$KVX_TMP/flood.out" || kvx_fail "the flood did not end"

# The phone: every load a page, within 2 s.
loads=$(grep -c '^[0-9]' "$KVX_TMP/flood.out")
bad=$(awk '/^[0-9]/ && ($2 != "HTTP/1.1" || $3 != "200" || $NF == "(cut)" || $1 > 2000)' "$KVX_TMP/flood.out")
times=$(awk '/^[0-9]/ {print $1}' "$KVX_TMP/flood.out" | sort -n | tr '\n' ' ')
kvx_log "phone: $loads loads, ms sorted: $times"
((loads >= 20)) || kvx_fail "only $loads loads of the phone"
[[ -z $bad ]] || kvx_fail "loads of the phone not answered within 2 s: $bad"

# The guard's queries: the pauses between two Getstatus on the wire.
pauses=$(awk '/ Getstatus/ {if (last != "") print $1 - last; last = $1}' \
  "$KVX_TMP/flood-wire.log" | sort -n | tail -n 5 | tr '\n' ' ')
longest=$(awk '/ Getstatus/ {if (last != "" && $1 - last > m) m = $1 - last; last = $1} END {print m + 0}' \
  "$KVX_TMP/flood-wire.log")
kvx_log "the guard's longest pauses between queries (ms): $pauses"
((longest > 0 && longest <= 3000)) ||
  kvx_fail "a pause of $longest ms between two board queries"

kvx_drive close @main || kvx_fail "close request not taken"
kvx_wait_program_end 30 || kvx_fail "the program did not end"
kvx_expect_eq "$KVX_PROGRAM_RC" 0 "exit code"
kvx_log "PASS"
