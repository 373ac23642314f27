#!/bin/bash
# The well under Wine, against the board simulator: one whole measurement
# cycle with a cycle period of 0 (the order and timing of its commands on
# the board, the level bar, the level outputs for a full and a dry well),
# and the pulse of output 1 with a hexadecimal and an invalid delay.
KVX_BOARD_PORT=0 # a board port of its own: runs beside the other tests
source "$(dirname "$0")/lib.sh"

# The 14 commands of one board query, in order.
QUERY=(Help Version Getip Getgw Getmask Getstatus "GETADC 1" "GETADC 2"
  "GETADC 3" "GETADC 4" "GETPORT 1" "GETPORT 2" "GETPORT 3" "GETPORT 4")

# The board's log from index $1 as "MS<TAB>COMMAND" lines, the command
# without its suffix. Anything not sent as a text command fails the test.
commands_from() {
  kvx_sim log "$1" | awk '
    $2 != "text" { print "BAD\t" $0; next }
    { t = $1; $1 = ""; $2 = ""; sub(/^  /, ""); sub(/ \\x5cr\\x5cn$/, "")
      print t "\t" $0 }'
}

# Reads "MS<TAB>COMMAND" lines from $1 (a file) into TIMES and WORDS.
load_commands() {
  TIMES=()
  WORDS=()
  local t w
  while IFS=$'\t' read -r t w; do
    [[ $t == BAD ]] && kvx_fail "a command that is no text command: $w"
    TIMES+=("$t")
    WORDS+=("$w")
  done <"$1"
}

# The commands WORDS[$1] .. WORDS[$2 - 1] as a sentence: "3.1" for
# "setport 3.1", "Q" for one whole board query; SETPORT_TIMES gets the time
# of each setport. Fails on a partial or disordered query.
summarise() {
  local i=$1 end=$2 k
  SENTENCE=""
  SETPORT_TIMES=()
  while ((i < end)); do
    if [[ ${WORDS[i]} == "setport "* ]]; then
      SENTENCE+=" ${WORDS[i]#setport }"
      SETPORT_TIMES+=("${TIMES[i]}")
      ((i++))
      continue
    fi
    for ((k = 0; k < 14; k++)); do
      [[ ${WORDS[i + k]:-} == "${QUERY[k]}" ]] ||
        kvx_fail "board query broken at command $((i + k)): '${WORDS[i + k]:-}' where '${QUERY[k]}' belongs"
    done
    SENTENCE+=" Q"
    ((i += 14))
  done
  SENTENCE=${SENTENCE# }
}

# Waits until the log from index $1 holds at least $2 "setport 3.0".
sensor_offs() {
  commands_from "$1" >"$KVX_TMP/commands"
  (($(grep -c $'\tsetport 3.0$' "$KVX_TMP/commands") >= $2))
}

# Checks one whole cycle (from just after one "setport 3.0" to the next)
# with the given commands for output 5 ($1) and output 4 ($2) at the
# evaluations: the sensor goes on five times, a tick apart; the level is
# evaluated in the last three of these seconds, two board queries after
# the sensor command; a query follows every command.
check_cycle() {
  local max=${1//./\\.} min=${2//./\\.} t
  local tick="(Q )+3\.1 Q Q $max Q $min"
  local want="^(Q )+3\.1 (Q )+3\.1 $tick $tick $tick Q 3\.0$"
  [[ $SENTENCE =~ $want ]] ||
    kvx_fail "cycle commands (Q = one board query): $SENTENCE"
  # The five sensor commands are the setports 1, 2, 3, 6 and 9.
  local sensor=("${SETPORT_TIMES[0]}" "${SETPORT_TIMES[1]}" "${SETPORT_TIMES[2]}"
    "${SETPORT_TIMES[5]}" "${SETPORT_TIMES[8]}")
  # A tick that evaluates takes about nine seconds (each of its three
  # proven queries waits until 3 s after its last command), so the timer's
  # ticks that fall due meanwhile merge into one, which comes at once
  # after it: a short gap follows a long one: the merged tick is handled
  # late, and the
  # timer's next one may fall due a few ms after it. Each sensor command
  # still has a tick of its own (a board query between them, above).
  for ((t = 1; t < 5; t++)); do
    local gap=$((sensor[t] - sensor[t - 1]))
    ((gap >= 1 && gap <= 15000)) ||
      kvx_fail "sensor commands $t and $((t + 1)) are $gap ms apart (${sensor[*]})"
  done
  kvx_log "cycle ok: sensor on at ${sensor[*]} ms"
}

sim_is() { [[ $(kvx_sim "${@:1:$#-1}") == "${!#}" ]]; }

kvx_start_display
kvx_prepare_prefix
# A well at 300 counts (1.465 V, above the Maximum of 1.18 V) that neither
# fills nor drains by itself.
kvx_start_simulator --level 300 --inflow 0 --draw 0
kvx_start_program 127.0.0.1 "$KVX_BOARD_PORT"
kvx_drive wait @main 60000 || kvx_fail "main window did not appear"
kvx_wait_for 30 kvx_shows_prefix 17 "Daten aus dem Board:"$'\r\r'"Firmware:"$'\r'"uC: ATmega32" ||
  kvx_fail "board data not shown in label 17"
entered() { [[ $(kvx_drive trackbar @main 102) == "360 "* ]]; }
kvx_wait_for 30 entered || kvx_fail "trackbar 102 never reached 360"
kvx_expect_eq "$(kvx_drive text @main 39)" " 100%" "level mark before a measurement"

# --- Period 0: measurement off, trackbar to 0, measurement on -------------
kvx_measure_every_tick
# With the measurement on, the period is frozen: the trackbar has no effect.
kvx_drive trackbar @main 102 50 >/dev/null
kvx_expect_eq "$(kvx_drive text @main 53)" "0 s" "label 53 while measuring"
kvx_drive trackbar @main 102 0 >/dev/null
kvx_expect_eq "$(kvx_sim clearlog)" OK "clearlog"

# --- A full well: Maximum on, Minimum off ----------------------------------
# The cycle under way may be a partial one; the one after it is whole. The
# well goes dry as the board takes the end of a whole cycle, however late
# this script comes to it: the next cycle finds it dry.
kvx_wait_for 60 sensor_offs 0 1 || kvx_fail "no end of a cycle within 60 s"
kvx_expect_eq "$(kvx_sim levelafter setport3.0 20)" OK "a dry well after the next cycle"
dried() { [[ $(kvx_sim levelafter) == changed* ]]; }
kvx_wait_for 60 dried || kvx_fail "no end of the next cycle within 60 s"
second=$(kvx_sim levelafter | cut -d' ' -f2)
commands_from 0 >"$KVX_TMP/commands"
load_commands "$KVX_TMP/commands"
[[ ${WORDS[second]} == "setport 3.0" ]] ||
  kvx_fail "the well went dry at command $second: '${WORDS[second]}'"
first=-1
for ((i = 0; i < second; i++)); do
  [[ ${WORDS[i]} == "setport 3.0" ]] && first=$i
done
((first >= 0)) || kvx_fail "no end of a cycle before command $second"
summarise $((first + 1)) $((second + 1))
check_cycle 5.1 4.0
# 300 counts -> 1.465 V -> 527 on the bar, which shows it as full.
kvx_expect_eq "$(kvx_drive progress @main 111)" "400 0 400" "level bar, full well"
kvx_expect_eq "$(kvx_drive text @main 39)" "100%" "level mark above 1.18 V"
kvx_wait_for 30 sim_is output 5 1 || kvx_fail "output 5 not on for a full well"
kvx_expect_eq "$(kvx_sim output 4)" 0 "output 4 for a full well"

# --- A dry well: Minimum on, Maximum off ------------------------------------
kvx_wait_for 60 sensor_offs $((second + 1)) 1 ||
  kvx_fail "no end of the next cycle within 60 s"
commands_from 0 >"$KVX_TMP/commands"
load_commands "$KVX_TMP/commands"
third=-1
for ((i = second + 1; i < ${#WORDS[@]}; i++)); do
  [[ ${WORDS[i]} == "setport 3.0" ]] && third=$i && break
done
summarise $((second + 1)) $((third + 1))
check_cycle 5.0 4.1
kvx_wait_for 30 sim_is output 4 1 || kvx_fail "output 4 not on for a dry well"
kvx_expect_eq "$(kvx_sim output 5)" 0 "output 5 for a dry well"
# 20 counts -> 0.098 V -> 35 on the bar; the top mark keeps its text.
kvx_expect_eq "$(kvx_drive progress @main 111)" "35 0 400" "level bar, dry well"
kvx_expect_eq "$(kvx_drive text @main 39)" "100%" "level mark at 0.098 V"
kvx_wait_for 30 kvx_shows 87 "Ausgel"$'\xf6'"st" || kvx_fail "button 87 with output 4 on"
kvx_expect_eq "$(kvx_drive text @main 88)" "Aus" "button 88 with output 5 off"

# --- Pulse of output 1 ---------------------------------------------------
kvx_drive click @main 86 || kvx_fail "could not switch the measurement off"
kvx_wait_for 30 kvx_shows 20 "keine Messung" || kvx_fail "label 20 after AUS"

# Clicks button 74 with delay text $1; sets PULSE_MS from the board's log
# (from "setport 1.1" to "setport 1.0") and checks the one board query
# between them.
pulse() {
  kvx_drive settext @main 83 "$1" || kvx_fail "could not write field 83"
  kvx_sim clearlog >/dev/null
  kvx_drive click @main 74 || kvx_fail "could not click button 74"
  pulse_done() {
    [[ $(kvx_drive enabled @main 74) == 1 ]] &&
      commands_from 0 >"$KVX_TMP/commands" &&
      grep -q $'\tsetport 1.0$' "$KVX_TMP/commands"
  }
  kvx_wait_for 30 pulse_done || kvx_fail "pulse with '$1' did not end"
  load_commands "$KVX_TMP/commands"
  local i on=-1 off=-1
  for ((i = 0; i < ${#WORDS[@]}; i++)); do
    [[ ${WORDS[i]} == "setport 1.1" ]] && on=$i
    [[ ${WORDS[i]} == "setport 1.0" ]] && off=$i
  done
  ((on >= 0 && off > on)) || kvx_fail "pulse with '$1': no 1.1 before 1.0"
  summarise "$on" $((off + 1))
  kvx_expect_eq "$SENTENCE" "1.1 Q 1.0" "pulse with '$1' (Q = one board query)"
  PULSE_MS=$((TIMES[off] - TIMES[on]))
  kvx_log "pulse with '$1': output 1 on for $PULSE_MS ms"
  kvx_wait_for 30 sim_is output 1 0 || kvx_fail "output 1 still on after the pulse"
}

# A dollar sign and FA: 250 ms; valid input stays as typed.
hex_250=\$FA
pulse "$hex_250"
((PULSE_MS >= 250 && PULSE_MS < 1000)) ||
  kvx_fail "a delay of $hex_250 kept output 1 on for $PULSE_MS ms"
kvx_expect_eq "$(kvx_drive text @main 83)" "$hex_250" "field 83 after a valid delay"
kvx_wait_for 30 kvx_shows 18 "OFFEN" || kvx_fail "label 18 after the pulse"

# Invalid input gives the default of 1000 ms, written back into the field.
pulse abc
((PULSE_MS >= 1000 && PULSE_MS < 2500)) ||
  kvx_fail "an invalid delay kept output 1 on for $PULSE_MS ms"
kvx_expect_eq "$(kvx_drive text @main 83)" 1000 "field 83 after 'abc'"

# --- QUIT ------------------------------------------------------------------
kvx_drive click @main 82 || kvx_fail "could not click QUIT"
kvx_wait_program_end 30 || kvx_fail "program did not end after QUIT"
kvx_expect_eq "$KVX_PROGRAM_RC" 0 "exit code after QUIT"

kvx_log "PASS"
