#!/bin/bash
# The alarm command under Wine, against a draining well: started with
# /log FOLDER and /alarm SCRIPT (the example script of the release zip),
# the program switches output 4 on for the dry well; the log holds the
# evaluations and the event's line, and the script, run by cmd.exe without
# the program waiting for it, wrote the event with its arguments into the
# file beside it.
KVX_BOARD_PORT=0 # a board port of its own: runs beside the other tests
source "$(dirname "$0")/lib.sh"

TIME='20[0-9][0-9]-[01][0-9]-[0-3][0-9]T[0-2][0-9]:[0-5][0-9]:[0-5][0-9]'

kvx_log_and_alarm_script "alarm mit Blank"

kvx_start_display
kvx_prepare_prefix
# 80 counts (0.39 V), draining by 6 counts a second while output 4 is off.
kvx_start_simulator --level 80 --inflow 0 --draw 6

kvx_start_program /log "$LOG_FOLDER" /alarm "$SCRIPT" 127.0.0.1 "$KVX_BOARD_PORT"
kvx_await_main_loop
kvx_measure_every_tick
dry() { [[ $(kvx_sim output 4) == 1 ]]; }
kvx_wait_for 60 dry || kvx_fail "output 4 did not go on for a dry well"

ran() { [[ -s $ALARMS ]] && grep -q minimum-ein "$ALARMS"; }
kvx_wait_for 30 ran || kvx_fail "the alarm script wrote nothing: $(ls "$ALARM_DIR")"
line=$(grep minimum-ein "$ALARMS" | head -n 1 | tr -d '\r')
kvx_log "the script wrote: $line"
[[ $line =~ ^${TIME}\ minimum-ein\ Stand\ 0,[0-9][0-9]$ ]] ||
  kvx_fail "the script's line is not time, name and level: '$line'"
# One event, one run: the dry well stays dry. The start is an event too.
kvx_expect_eq "$(grep -c minimum-ein "$ALARMS")" 1 "dry runs the script wrote"
kvx_expect_eq "$(grep -c programm-start "$ALARMS")" 1 "starts the script wrote"
kvx_expect_eq "$(grep -c . "$ALARMS")" 2 "lines the script wrote"

event() { f=$(log_file) && [[ -n $f ]] &&
  grep -q ';Ereignis;;;0,[0-9]*;EIN;;Trockenlauf: Ausgang 4 (Minimum) eingeschaltet;[0-9][0-9][.][0-9][0-9][.][0-9]\{4\} [0-9:]\{8\}'$'\r$' "$f"; }
kvx_wait_for 30 event || kvx_fail "no event line in the log: $(cat "$(log_file)")"
grep -q ';Messung;.*;EIN;sicher;;[0-9][0-9][.][0-9][0-9][.][0-9]\{4\} [0-9:]\{8\}'$'\r$' "$(log_file)" ||
  kvx_fail "no evaluation line with output 4 on in the log"
# The event bears the time of the evaluation that switched: both lines
# begin with the same local and end with the same universal time.
stamp=$(grep -a ';Ereignis;.*Trockenlauf' "$(log_file)" | head -n 1 | tr -d '\r' |
  sed 's/^\([^;]*\);.*;\([^;]*\)$/\1 \2/')
grep -a ';Messung;.*;EIN;sicher;' "$(log_file)" | tr -d '\r' |
  sed 's/^\([^;]*\);.*;\([^;]*\)$/\1 \2/' | grep -qxF "$stamp" ||
  kvx_fail "the event's time ($stamp) is no evaluation's time"

kvx_drive click @main 82 || kvx_fail "could not click QUIT"
kvx_wait_program_end 30 || kvx_fail "program did not end after QUIT"
kvx_expect_eq "$KVX_PROGRAM_RC" 0 "exit code after QUIT"
kvx_log "PASS"
