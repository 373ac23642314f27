#!/bin/bash
# A trickling board under Wine: after a healthy start (the well between
# Minimum and Maximum, every cycle evaluated), the board answers the next
# command a byte every 2.9 s, without a line feed, and never ends the
# reply. The connection is never silent for 3 s, so it is never taken for
# lost, and no level is read any more. Throughout, the main window answers
# within 1 s; and once output 4 (Minimum) has gone undecided for one and a
# half measurement cycles (with a cycle period of 0: the least, 60 s), the
# guard tells the operator it is blind: the event "waechter-blind", run by
# the alarm command (the example script writes its name) and written to
# the level log ("Ausgang 4 (Minimum) seit über anderthalb Messzyklen ...").
KVX_BOARD_PORT=0 # a board port of its own: runs beside the other tests
source "$(dirname "$0")/lib.sh"

LEVEL=100      # 0.49 V: between the Minimum (0.21 V) and the Maximum (1.18 V)
TRICKLE_MS=2900
EVENT_NAME=waechter-blind
EVENT_TEXT="Ausgang 4 (Minimum) seit "$'\xfc'"ber anderthalb Messzyklen"
EVENT_LIMIT=100 # s from the trickle's start: 60 s and room for a cycle

kvx_log_and_alarm_script

# The event came: the alarm script wrote its name, the level log its text.
by_alarm() { [[ -s $ALARMS ]] && grep -q " $EVENT_NAME " "$ALARMS"; }
in_log() {
  local f
  f=$(log_file) && [[ -n $f ]] && LC_ALL=C grep -q ";Ereignis;.*;$EVENT_TEXT" "$f"
}

# The board's commands as text (escaped, without time and kind).
commands() { kvx_sim log | awk '{ $1 = ""; $2 = ""; sub(/^  /, ""); print }'; }
decided() { commands | grep -q '^setport 4\.'; }

# Watches label 36 for 3 s: every read answered within 1 s. LONGEST holds
# the longest answer of all the watches.
LONGEST=0
WATCHES=0
answers_promptly() {
  local out last answer
  out=$(kvx_drive watch @main 36 3000) || kvx_fail "the main window did not answer ($1)"
  last=${out##*$'\n'}
  [[ $last =~ answer=([0-9]+) ]] || kvx_fail "no watch summary: $last"
  answer=${BASH_REMATCH[1]}
  ((WATCHES++))
  ((answer > LONGEST)) && LONGEST=$answer
  ((answer <= 1000)) || kvx_fail "$1: the main window took $answer ms to answer"
  kvx_alive "$KVX_PROGRAM_PID" || kvx_fail "$1: the program ended"
}

kvx_start_display
kvx_prepare_prefix
kvx_start_simulator --level "$LEVEL" --inflow 0 --draw 0
kvx_start_program /log "$LOG_FOLDER" /alarm "$SCRIPT" 127.0.0.1 "$KVX_BOARD_PORT"
kvx_await_main_loop
kvx_measure_every_tick

# --- A healthy start: output 4 decided -------------------------------------
kvx_expect_eq "$(kvx_sim clearlog)" OK "clearlog"
kvx_wait_for 40 decided || kvx_fail "no command to output 4 within 40 s"
! by_alarm || kvx_fail "$EVENT_NAME before the trickle: $(cat "$ALARMS")"

# --- The trickle ------------------------------------------------------------
kvx_expect_eq "$(kvx_sim trickle "$TRICKLE_MS")" OK "trickle"
start=$SECONDS
kvx_log "the board trickles from now on, a byte every $TRICKLE_MS ms"
came=0
while ((SECONDS - start < EVENT_LIMIT)); do
  answers_promptly "$((SECONDS - start)) s into the trickle"
  if by_alarm && in_log; then
    came=1
    break
  fi
done
elapsed=$((SECONDS - start))
status=$(kvx_sim status)
trickled=$(kvx_sim replies | tail -n 1)
kvx_log "after $elapsed s: $WATCHES watches of 3 s, the longest answer $LONGEST ms; board: $status"
kvx_log "the board's last command and what it trickled of its reply: $trickled"
[[ $status == *" connections=1 "* ]] ||
  kvx_log "the program connected again meanwhile: the trickle was taken for a loss"
((came)) || kvx_fail "no event $EVENT_NAME within $EVENT_LIMIT s of the trickle (the window answered throughout); alarm script: '$(cat "$ALARMS" 2>/dev/null)'; level log's events: '$(grep -a ';Ereignis;' "$(log_file)" 2>/dev/null)'"
kvx_log "the script wrote: $(grep " $EVENT_NAME " "$ALARMS" | tr -d '\r')"

kvx_expect_eq "$(kvx_sim trickle off)" OK "trickle off"
kvx_drive click @main 82 || kvx_fail "could not click QUIT"
kvx_wait_program_end 30 || kvx_fail "program did not end after QUIT"
kvx_expect_eq "$KVX_PROGRAM_RC" 0 "exit code after QUIT"
kvx_log "PASS"
