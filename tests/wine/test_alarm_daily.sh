#!/bin/bash
# The daily sign of life under Wine: started with /alarm SCRIPT (the
# example script of the release zip) and /alarm-taeglich at a minute 40 to
# 100 s ahead on this machine's local clock (the one Wine shows), the
# program runs the script once at that minute with the past day's counts;
# the level log holds its event line. The wait is bounded: at most about
# two minutes.
# Runs for about 100 s.
KVX_BOARD_PORT=0 # a board port of its own: runs beside the other tests
source "$(dirname "$0")/lib.sh"

kvx_log_and_alarm_script

kvx_start_display
kvx_prepare_prefix
# A well in the middle: no other event comes.
kvx_start_simulator --level 150 --inflow 0 --draw 0

# A minute that begins 40..100 s from now: the program is up well before
# it, so the minute is still ahead at its start.
now=$(date +%s)
due=$(((now / 60 + 1) * 60))
((due - now >= 40)) || ((due += 60))
DAILY=$(date -d "@$due" +%H:%M)
kvx_log "daily sign at $DAILY (local), now $(date +%T)"

kvx_start_program /log "$LOG_FOLDER" /alarm "$SCRIPT" /alarm-taeglich "$DAILY" \
  127.0.0.1 "$KVX_BOARD_PORT"
kvx_await_main_loop
((SECONDS_LEFT = due - $(date +%s)))
((SECONDS_LEFT > 5)) || kvx_fail "the program took too long to start"

sign() { [[ -s $ALARMS ]] && grep -q lebenszeichen "$ALARMS"; }
kvx_wait_for $((due - $(date +%s) + 30)) sign ||
  kvx_fail "no daily sign by $DAILY: $(ls "$ALARM_DIR")"
line=$(grep lebenszeichen "$ALARMS" | head -n 1 | tr -d '\r')
kvx_log "the script wrote: $line"
# At its minute, with the counts of a quiet day.
[[ $line =~ ^20[0-9-]+T${DAILY}:[0-5][0-9]\ lebenszeichen\ Trockenlauf\ 0-mal\ 0\ min,\ unsicher\ 0,\ Verbindung\ weg\ 0-mal$ ]] ||
  kvx_fail "the script's line is not its time and the day's counts: '$line'"

event() { f=$(log_file) && [[ -n $f ]] &&
  grep -q ';Ereignis;;;;;;Lebenszeichen, letzte 24 h: .*'$'\r$' "$f"; }
kvx_wait_for 30 event || kvx_fail "no event line in the log: $(cat "$(log_file)")"
kvx_expect_eq "$(grep -c lebenszeichen "$ALARMS")" 1 "daily signs the script wrote"

kvx_drive click @main 82 || kvx_fail "could not click QUIT"
kvx_wait_program_end 30 || kvx_fail "program did not end after QUIT"
kvx_expect_eq "$KVX_PROGRAM_RC" 0 "exit code after QUIT"
kvx_log "PASS"
