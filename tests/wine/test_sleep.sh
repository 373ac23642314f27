#!/bin/bash
# The PC's sleep under Wine, as the system tells it: the driver sends the
# main window the power messages Windows sends around a sleep. The notice
# of the sleep to come gives the event "pc-schlaf" at once, the resume
# "pc-wach" with the time asleep (the alarm script writes both), the level
# log holds the wake's line, and a new measurement starts at once (the
# sensor's power on, long before the 360-s cycle would have it).
KVX_BOARD_PORT=0 # a board port of its own: runs beside the other tests
source "$(dirname "$0")/lib.sh"

kvx_log_and_alarm_script

kvx_start_display
kvx_prepare_prefix
kvx_start_simulator --level 500

kvx_start_program /log "$LOG_FOLDER" /alarm "$SCRIPT" 127.0.0.1 "$KVX_BOARD_PORT"
kvx_await_main_loop
kvx_expect_eq "$(kvx_sim output 3)" 0 "output 3 before the first measurement"

kvx_drive power @main suspend || kvx_fail "the suspend message was not taken"
told() { [[ -s $ALARMS ]] && grep -q "$1" "$ALARMS"; }
kvx_wait_for 30 told pc-schlaf || kvx_fail "no pc-schlaf from the script"

kvx_drive power @main resume || kvx_fail "the resume message was not taken"
kvx_wait_for 30 told pc-wach || kvx_fail "no pc-wach from the script"
line=$(grep pc-wach "$ALARMS" | head -n 1 | tr -d '\r')
kvx_log "the script wrote: $line"
[[ $line =~ \ pc-wach\ [0-9]+\ min\ geschlafen$ ]] ||
  kvx_fail "the script's line has no minutes asleep: '$line'"
kvx_expect_eq "$(grep -c pc-wach "$ALARMS")" 1 "pc-wach lines"

# The measurement starts afresh at once, not after the cycle's 360 s.
sensor() { [[ $(kvx_sim output 3) == 1 ]]; }
kvx_wait_for 30 sensor || kvx_fail "no measurement after the wake"

woke() { f=$(log_file) && [[ -n $f ]] &&
  grep -a ';Ereignis;' "$f" | grep -aq 'Der PC hat [0-9]* s geschlafen'; }
kvx_wait_for 30 woke || kvx_fail "no wake line in the log: $(cat "$(log_file)")"

kvx_drive click @main 82 || kvx_fail "could not click QUIT"
kvx_wait_program_end 30 || kvx_fail "program did not end after QUIT"
kvx_expect_eq "$KVX_PROGRAM_RC" 0 "exit code after QUIT"
