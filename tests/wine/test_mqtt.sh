#!/bin/bash
# The Windows program under Wine against a real MQTT broker (Debian's
# mosquitto on 127.0.0.1 and a free port, with a password file and an
# access list that lets the program write only its own topics) and the
# board simulator. Without /mqtt the program opens no connection but the
# board's. With /mqtt and /mqtt-login: "online", the discovery configs
# with their required keys and the retained states (tests/
# mqtt_check_retained.py), the start as an event, the level once a
# measurement ran; "offline" after QUIT; the will "offline" within 90 s
# (1.5 x keep-alive) after the program is killed; a wrong password
# refused and tried again 30 s later; no SUBSCRIBE from the program in the
# broker's log. Skipped (exit 77) without mosquitto and its clients.
# Runs for about 150 s.
KVX_BOARD_PORT=0 # a board port of its own: runs beside the other tests
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/../mqtt_broker_lib.sh"

if ! mqtt_broker_found; then
  echo "SKIP: mosquitto and mosquitto-clients are not installed" \
    "(apt-get install mosquitto mosquitto-clients)"
  exit 77
fi
mqtt_broker_start "$KVX_TMP" || kvx_fail "mosquitto did not listen within 5 s"
KVX_PIDS+=("$MQTT_BROKER_PID")
kvx_log "mosquitto pid $MQTT_BROKER_PID on 127.0.0.1:$MQTT_PORT"
printf 'brunnen\r\ngeheim\r\n' >"$KVX_TMP/login.txt"
printf 'brunnen\r\nfalsch\r\n' >"$KVX_TMP/wrong.txt"
login="Z:${KVX_TMP//\//\\}\\login.txt"
wrong="Z:${KVX_TMP//\//\\}\\wrong.txt"

# The TCP connections of this test's Wine processes (those whose
# environment names this prefix) to another port than the board's.
other_connections() {
  local line pid
  while read -r line; do
    [[ $line == *":$KVX_BOARD_PORT "* ]] && continue
    for pid in $(grep -o 'pid=[0-9]*' <<<"$line" | cut -d= -f2 | sort -u); do
      [[ $pid == "$KVX_SIM_PID" ]] && continue
      if tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null |
        grep -qx "WINEPREFIX=$WINEPREFIX"; then
        awk '{print $4 " -> " $5}' <<<"$line"
        break
      fi
    done
  done < <(ss -tnpH 2>/dev/null)
}

kvx_start_display
kvx_prepare_prefix
kvx_start_simulator --level 150

# --- Without /mqtt: no connection but the board's -----------------------------
kvx_start_program 127.0.0.1 "$KVX_BOARD_PORT"
kvx_await_main_loop
sleep 2
kvx_expect_eq "$(other_connections)" "" "connections without /mqtt"
kvx_drive close @main || kvx_fail "close request not taken"
kvx_wait_program_end 30 || kvx_fail "the program did not end"
! grep -q 'korvalinex-brunnen' "$KVX_TMP/broker.log" ||
  kvx_fail "the program reached the broker without /mqtt"

# --- With /mqtt: online, discovery, states, the start's event, the level ------
mqtt_sub -t korvalinex/brunnen/event -C 1 -W 90 >"$KVX_TMP/event.txt" \
  2>/dev/null &
event_pid=$!
KVX_PIDS+=("$event_pid")
sleep 0.5
kvx_start_program /mqtt "127.0.0.1:$MQTT_PORT" /mqtt-login "$login" \
  127.0.0.1 "$KVX_BOARD_PORT"
kvx_await_main_loop
mqtt_status_within 20 online || kvx_fail "no retained 'online'"
sleep 2
mqtt_retained >"$KVX_TMP/retained.txt"
python3 "$(dirname "$0")/../mqtt_check_retained.py" "$KVX_TMP/retained.txt" ||
  kvx_fail "the retained messages"
wait "$event_pid" || true
grep -q '"name":"programm-start"' "$KVX_TMP/event.txt" ||
  kvx_fail "the start not published as an event: $(cat "$KVX_TMP/event.txt")"
kvx_measure_every_tick
level_published() {
  [[ $(mqtt_sub -t korvalinex/brunnen/level --retained-only -C 1 -W 1 \
    2>/dev/null) =~ ^[0-9]+\.[0-9][0-9]$ ]]
}
kvx_wait_for 60 level_published || kvx_fail "no level with a decimal point"
kvx_log "level $(mqtt_sub -t korvalinex/brunnen/level --retained-only -C 1 -W 1)"
kvx_drive close @main || kvx_fail "close request not taken"
kvx_wait_program_end 30 || kvx_fail "the program did not end"
kvx_expect_eq "$KVX_PROGRAM_RC" 0 "exit code"
mqtt_status_within 5 offline || kvx_fail "no retained 'offline' after QUIT"

# --- Killed: the will ---------------------------------------------------------
kvx_start_program /mqtt "127.0.0.1:$MQTT_PORT" /mqtt-login "$login" \
  127.0.0.1 "$KVX_BOARD_PORT"
kvx_await_main_loop
mqtt_status_within 20 online || kvx_fail "no 'online' on the second run"
mqtt_sub -t korvalinex/brunnen/status -C 2 -W 95 >"$KVX_TMP/will.txt" \
  2>/dev/null &
watcher=$!
sleep 1
killed=$SECONDS
kill -9 "$KVX_PROGRAM_PID"
wait "$watcher" || true
took=$((SECONDS - killed))
[[ $(tail -n 1 "$KVX_TMP/will.txt") == offline ]] ||
  kvx_fail "no will 'offline' within 95 s: $(cat "$KVX_TMP/will.txt")"
((took <= 90)) || kvx_fail "the will came $took s after the kill"
kvx_log "the will came within $took s of the kill"
kvx_wait_program_end 10 || true

# --- A wrong password: refused, tried again at 30 s, never online ------------
kvx_start_program /mqtt "127.0.0.1:$MQTT_PORT" /mqtt-login "$wrong" \
  127.0.0.1 "$KVX_BOARD_PORT"
kvx_await_main_loop
# The broker names no client it refused; only the program connects here.
refusals() {
  (($(grep -c 'disconnected, not authori[sz]ed' "$KVX_TMP/broker.log") >= $1))
}
kvx_wait_for 30 refusals 1 || kvx_fail "the wrong password was not refused"
kvx_wait_for 40 refusals 2 || kvx_fail "not tried again within 40 s"
kvx_expect_eq "$(mqtt_sub -t korvalinex/brunnen/status --retained-only -C 1 -W 1)" \
  offline "the status with a wrong password"
kvx_drive close @main || kvx_fail "close request not taken"
kvx_wait_program_end 30 || kvx_fail "the program did not end"

if grep -E 'SUBSCRIBE.*korvalinex-brunnen|korvalinex-brunnen.*SUBSCRIBE' \
  "$KVX_TMP/broker.log"; then
  kvx_fail "the program subscribed"
fi
kvx_log "PASS"
