#!/bin/bash
# Start-up of the Windows program against a board that never takes the
# connection (the board port's accept queue is full, so every SYN to it is
# dropped, as for a board that is switched off): the connection notice
# answers every probe while the program waits, the board-not-found message
# comes once the start-up bound is up, and OK ends the program with exit
# code 0 and no main window.
source "$(dirname "$0")/lib.sh"

LIMIT_S=15   # the program's bound on the connect at start-up
MARGIN_S=5   # Wine's start and the polling of the driver
PROBES=20
PROBE_INTERVAL_MS=400  # the probes take about 8 s of the 15

now_ms() { echo $(($(date +%s%N) / 1000000)); }

kvx_start_display
kvx_prepare_prefix

kvx_wait_for 30 kvx_port_free "$KVX_BOARD_PORT" ||
  kvx_fail "port $KVX_BOARD_PORT is in use"
python3 "$(dirname "$0")/full_queue.py" --port "$KVX_BOARD_PORT" \
  --ready-file "$KVX_TMP/queue.ready" --lifetime 120 \
  >"$KVX_TMP/queue.log" 2>&1 8>&- &
KVX_PIDS+=("$!")
kvx_wait_for 30 kvx_file_filled "$KVX_TMP/queue.ready" ||
  kvx_fail "the board port's accept queue did not fill"
kvx_log "$(cat "$KVX_TMP/queue.log")"

kvx_start_program
kvx_drive wait @notice 60000 || kvx_fail "no connection notice"
notice_at=$(now_ms)
expected=$(printf 'Verbindungsaufbau zum KORVALINEX-Board...\r\rIP/DNS: 127.0.0.1\r\rPort: %s' \
  "$KVX_BOARD_PORT")

# Label 3 of the notice on the screen: its text drawn in black. A window
# that is not painted shows its background alone.
painted() {
  local l t r b
  read -r l t r b <<<"$(kvx_drive rect @notice 3)" || return 1
  import -window root "$KVX_TMP/screen.png" || return 1
  [[ $(convert "$KVX_TMP/screen.png" -crop "$((r - l))x$((b - t))+$l+$t" \
    -format %c histogram:info:-) == *"#000000"* ]]
}

# Label 3 of the notice read PROBES times, PROBE_INTERVAL_MS apart, with a
# message the program's thread must answer (within 2 s each); meanwhile the
# label is looked at on the screen.
kvx_drive_apart probe @notice 3 "$PROBES" "$PROBE_INTERVAL_MS" >"$KVX_TMP/probe.out" &
probe_pid=$!
KVX_PIDS+=("$probe_pid")
drawn_at=""
kvx_wait_for 3 painted && drawn_at=$(($(now_ms) - notice_at))
wait "$probe_pid" ||
  kvx_fail "a probe of the notice was not answered: $(cat "$KVX_TMP/probe.out")"
probed=$(($(now_ms) - notice_at))
[[ -n $drawn_at ]] || kvx_fail "the notice's text is not drawn"
kvx_log "notice drawn, $drawn_at ms into the wait"
{
  IFS= read -r first
  IFS= read -r summary
  IFS= read -r extra
} <"$KVX_TMP/probe.out"
kvx_expect_eq "${first#*$'\t'}" "$expected" "notice text"
[[ -z ${extra:-} ]] || kvx_fail "the notice's text changed: $extra"
[[ $summary == "probes=$PROBES answer="* ]] || kvx_fail "probe summary: $summary"
kvx_log "$summary, done $probed ms into the wait"

kvx_drive msgbox @problem $(((LIMIT_S + MARGIN_S) * 1000)) >/dev/null ||
  kvx_fail "no message box within $((LIMIT_S + MARGIN_S)) s of the notice"
waited=$(($(now_ms) - notice_at))
kvx_log "problem box $waited ms after the notice was seen"
((waited >= (LIMIT_S - 2) * 1000)) ||
  kvx_fail "the program gave up after $waited ms, before its bound"
((waited <= (LIMIT_S + MARGIN_S) * 1000)) ||
  kvx_fail "the message came $waited ms after the notice"
text=$(kvx_drive msgbox @problem) || kvx_fail "message box text unreadable"
kvx_expect_eq "$text" "Das KORVALINEX-Board kann nicht gefunden werden!" \
  "board-not-found text"
kvx_drive wait @main 0 && kvx_fail "main window shown without a board"
kvx_drive wait @notice 0 && kvx_fail "notice still open behind the message"
kvx_drive ok @problem || kvx_fail "could not press OK"
kvx_wait_program_end 30 || kvx_fail "program did not end after OK"
kvx_expect_eq "$KVX_PROGRAM_RC" 0 "exit code"

kvx_log "PASS"
