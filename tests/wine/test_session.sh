#!/bin/bash
# The guard among the other programs and in the Windows session, under
# Wine: started with /log and /alarm (the example script of the release
# zip), its start is an event; a second program for the same well shows
# the problem box before it connects and leaves with 0; one for another
# port is not stopped by it; and the end of the session, asked and told as
# Windows does for an update, gives "pc-ende" with its reason (the log's
# event line and the script's run) at once, and the program ends with 0.
KVX_BOARD_PORT=0 # a board port of its own: runs beside the other tests
source "$(dirname "$0")/lib.sh"

kvx_log_and_alarm_script
script_wrote() { [[ -s $ALARMS ]] && grep -q -- "$1" "$ALARMS"; }

# A further program beside the first, with its own arguments.
start_another() {
  (
    kvx__close_driver
    exec "$KVX_WINE_LOADER" "$KVX_EXE" "$@"
  ) >"$KVX_TMP/another.log" 2>&1 8>&- &
  ANOTHER_PID=$!
  KVX_PIDS+=("$ANOTHER_PID")
}

# The problem box of the further program says $1; OK; it ends with 0.
another_leaves_with() {
  local text rc
  kvx_drive wait @problem 30000 || kvx_fail "no problem box for $2"
  text=$(kvx_drive msgbox @problem) || kvx_fail "the box of $2 is unreadable"
  kvx_expect_eq "$text" "$1" "the box of $2"
  kvx_alive "$ANOTHER_PID" || kvx_fail "$2 ended before OK"
  kvx_drive ok @problem || kvx_fail "could not press OK for $2"
  kvx_wait_for 30 kvx_dead "$ANOTHER_PID" || kvx_fail "$2 did not end after OK"
  wait "$ANOTHER_PID"
  rc=$?
  kvx_expect_eq "$rc" 0 "exit code of $2"
}

kvx_start_display
kvx_prepare_prefix
kvx_start_simulator
kvx_start_program /log "$LOG_FOLDER" /alarm "$SCRIPT" 127.0.0.1 "$KVX_BOARD_PORT"
kvx_await_main_loop
kvx_wait_for 30 script_wrote programm-start ||
  kvx_fail "the script wrote no start: $(cat "$ALARMS" 2>/dev/null)"

# --- A second program for the same well ------------------------------------
kvx_log "a second program for 127.0.0.1:$KVX_BOARD_PORT"
start_another 127.0.0.1 "$KVX_BOARD_PORT"
another_leaves_with \
  "Dieser Brunnen (127.0.0.1:$KVX_BOARD_PORT) wird schon von einem laufenden KORVALINEX bewacht!" \
  "the second program"
kvx_expect_eq "$(kvx_sim waitconnect 2 500)" "TIMEOUT 1" \
  "a second connection to the board"

# --- One for another port: not stopped by the first -------------------------
other=$((KVX_BOARD_PORT + 1))
kvx_port_free "$other" || kvx_fail "port $other is in use"
kvx_log "a program for 127.0.0.1:$other, where no board listens"
start_another 127.0.0.1 "$other"
another_leaves_with "Das KORVALINEX-Board kann nicht gefunden werden!" \
  "the program for another port"
kvx_alive "$KVX_PROGRAM_PID" || kvx_fail "the first program ended"

# --- The end of the session, for an update -----------------------------------
answer=$(kvx_drive endsession @main 1) || kvx_fail "the end of the session was not taken"
kvx_log "asked and told the end of the session: '$answer' (may end, ms taken)"
read -r may took <<<"$answer"
kvx_expect_eq "$may" 1 "the answer to 'may the session end'"
((took < 1000)) || kvx_fail "the end of the session took $took ms"
kvx_wait_program_end 30 || kvx_fail "program did not end after the end of the session"
kvx_expect_eq "$KVX_PROGRAM_RC" 0 "exit code at the end of the session"
kvx_wait_for 30 script_wrote "pc-ende Grund update" ||
  kvx_fail "the script wrote no end: $(cat "$ALARMS" 2>/dev/null)"
LC_ALL=C grep -q ';Ereignis;.*Windows beendet das Programm f.r ein Update' "$(log_file)" ||
  kvx_fail "no end in the log: $(grep -a ';Ereignis;' "$(log_file)" 2>/dev/null)"
kvx_log "PASS"
