#!/bin/bash
# The sensor check under Wine: started with /sensor schutz, /alarm SCRIPT
# (the example script of the release zip) and /log FOLDER against a board
# whose level input is pinned at its top (count 1023, 4,995 V: set through
# the simulator's control port), the program measuring every tick: the
# alarm command gets sensor-fehler with the volts as the main window cuts
# them (4,99), the board gets "setport 4.1" from the fail-safe time on and
# no other level command, and the level log's Messwert column says
# Sensorfehler, beside the event's line with the volts.
KVX_BOARD_PORT=0 # a board port of its own: runs beside the other tests
source "$(dirname "$0")/lib.sh"

TIME='20[0-9][0-9]-[01][0-9]-[0-3][0-9]T[0-2][0-9]:[0-5][0-9]:[0-5][0-9]'

kvx_log_and_alarm_script sensor

kvx_start_display
kvx_prepare_prefix
# A well at 300 counts (1,46 V) that stands still: a working sensor would
# keep output 4 off and switch output 5 on.
kvx_start_simulator --level 300 --inflow 0 --draw 0
kvx_expect_eq "$(kvx_sim sensor pinned 1023)" OK "the sensor pinned"
kvx_expect_eq "$(kvx_sim sensor)" "pinned 1023" "the sensor's fault"

kvx_start_program /sensor schutz /log "$LOG_FOLDER" /alarm "$SCRIPT" \
  127.0.0.1 "$KVX_BOARD_PORT"
kvx_await_main_loop
kvx_measure_every_tick

failed() { [[ -s $ALARMS ]] && grep -q sensor-fehler "$ALARMS"; }
kvx_wait_for 40 failed || kvx_fail "no sensor-fehler from the alarm script: $(cat "$ALARMS" 2>/dev/null)"
line=$(grep sensor-fehler "$ALARMS" | head -n 1 | tr -d '\r')
kvx_log "the script wrote: $line"
[[ $line =~ ^${TIME}\ sensor-fehler\ Stand\ 4,99$ ]] ||
  kvx_fail "the script's line is not time, sensor-fehler and 4,99: '$line'"

# The fail-safe: output 4 on by the guard's own "setport 4.1".
protected() { [[ $(kvx_sim output 4) == 1 ]]; }
kvx_wait_for 30 protected || kvx_fail "output 4 did not go on after the sensor failed"
wire=$(kvx_sim log)
grep -q 'setport 4\.1' <<<"$wire" || kvx_fail "no setport 4.1 on the wire"
! grep -q 'setport 5\.\|setport 4\.0' <<<"$wire" ||
  kvx_fail "a level command on the failed reading: $(grep 'setport [45]\.' <<<"$wire" | head -n 3)"
kvx_expect_eq "$(grep -c sensor-fehler "$ALARMS")" 1 "sensor failures the script wrote"

# The level log: the event with the volts, the failed cycles as such, the
# one with the fail-safe with output 4 on.
DAY='[0-9][0-9][.][0-9][0-9][.][0-9]\{4\} [0-9:]\{8\}'
logged() { f=$(log_file) && [[ -n $f ]] &&
  grep -q ";Messung;;;;EIN;Sensorfehler;;$DAY"$'\r$' "$f"; }
kvx_wait_for 30 logged || kvx_fail "no failed cycle with the fail-safe in the log: $(cat "$(log_file)")"
f=$(log_file)
grep -q ";Messung;;;;;Sensorfehler;;$DAY"$'\r$' "$f" ||
  kvx_fail "no failed cycle before the fail-safe in the log"
grep -q ';Ereignis;;;;;;Sensorfehler: Messwert 4,99 V am oberen Ende' "$f" ||
  kvx_fail "no sensor-fehler event with its volts in the log"
! grep -q ';Messung;.*;sicher;' "$f" || kvx_fail "a cycle of the failed sensor logged as sure"

kvx_drive click @main 82 || kvx_fail "could not click QUIT"
kvx_wait_program_end 30 || kvx_fail "program did not end after QUIT"
kvx_expect_eq "$KVX_PROGRAM_RC" 0 "exit code after QUIT"
kvx_log "PASS"
