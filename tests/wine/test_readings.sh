#!/bin/bash
# The level outputs under Wine switch only on readings that are the
# board's own answers to GETADC 1, against a board that behaves but is not
# quick about it: one that writes its Version a line at a time (5 ms
# between the lines), and a long HELP typed at the console whose reply
# arrives in three pieces, with the measurement going on at once. Every
# cycle is evaluated with a cycle period of 0; outputs 5 and 4 must follow
# the well (a full one: 5.1 and 4.0, a dry one: 5.0 and 4.1), or, where a
# reading is in doubt, stay untouched; never may they go the wrong way.
# Label 17 keeps the Version's three lines and the network settings.
# Runs for about 200 s.
KVX_BOARD_PORT=0 # a board port of its own: runs beside the other tests
source "$(dirname "$0")/lib.sh"

FULL=600  # 2.93 V: above the Maximum of 1.18 V
DRY=20    # 0.098 V: below the Minimum of 0.21 V

# A Help of 629 bytes in lines: longer than any receive of the program.
HELP_LINE='GETADC X   Ruft analogen Eingang ab\r\n'
HELP_TEXT=""
for ((i = 0; i < 17; i++)); do HELP_TEXT+=$HELP_LINE; done

# The board's log from index $1 as "INDEX<TAB>COMMAND" lines, the command
# without its suffix (as test_well.sh reads it). The index counts from the
# last clearlog. Anything not sent as a text command fails the test.
LOG="$KVX_TMP/commands"
load_log() {
  kvx_sim log | awk '
    $2 != "text" { print "BAD\t" $0; next }
    { $1 = ""; $2 = ""; sub(/^  /, ""); sub(/ \\x5cr\\x5cn$/, "")
      print NR - 1 "\t" $0 }' >"$LOG"
  ! grep -q '^BAD' "$LOG" || kvx_fail "a command that is no text command: $(grep -m1 '^BAD' "$LOG")"
}

# Index of the $1-th "setport 3.0" (the end of a cycle) in the log loaded
# last, counted from index $2; nothing when there is none.
nth_cycle_end() {
  awk -F'\t' -v n="$1" -v from="$2" '
    $1 >= from && $2 == "setport 3.0" && ++seen == n { print $1; exit }' "$LOG"
}

# Waits until the log from index $1 holds an end of a cycle; CYCLE_END is
# its index.
cycle_end_after() {
  local from=$1
  has_end() {
    load_log
    CYCLE_END=$(nth_cycle_end 1 "$from")
    [[ -n $CYCLE_END ]]
  }
  kvx_wait_for 60 has_end || kvx_fail "no end of a cycle within 60 s after index $from"
}

# The commands to outputs 4 and 5 in the log from index $1 up to (not
# including) $2, as "5.1 4.0 ...".
level_commands() {
  awk -F'\t' -v from="$1" -v to="$2" '
    $1 >= from && $1 < to && $2 ~ /^setport [45]\./ {
      printf "%s%s", sep, substr($2, 9); sep = " " }' "$LOG"
}

# The phases of the well: from index PHASE_FROM[k] on, the well stands at
# PHASE_LEVEL[k]; outputs 5 and 4 must then get PHASE_WANT[k].
PHASE_FROM=(0)
PHASE_LEVEL=("$FULL")
PHASE_WANT=("5.1 4.0")

# Sets the well to $1 at the next end of a cycle, as the board takes its
# "setport 3.0" (however late the test itself comes to it, on a loaded
# machine too), for the cycles after it (whose outputs must get "$2").
# CYCLE_END is the index of that end of a cycle.
well_at_next_cycle_end() {
  kvx_expect_eq "$(kvx_sim levelafter setport3.0 "$1")" OK "level $1 after a cycle"
  changed() { [[ $(kvx_sim levelafter) == changed* ]]; }
  kvx_wait_for 60 changed || kvx_fail "no end of a cycle within 60 s for the level $1"
  CYCLE_END=$(kvx_sim levelafter | cut -d' ' -f2)
  load_log
  [[ $(awk -F'\t' -v i="$CYCLE_END" '$1 == i { print $2 }' "$LOG") == "setport 3.0" ]] ||
    kvx_fail "the well changed to $1 at command $CYCLE_END, no end of a cycle"
  PHASE_FROM+=($((CYCLE_END + 1)))
  PHASE_LEVEL+=("$1")
  PHASE_WANT+=("$2")
}

# Outputs 4 and 5 of the board as the cycle that ended at CYCLE_END left
# them ("$1"; what for: "$2"): read, then proven by the log to be read
# before the next evaluation sent anything. A reading that came later (a
# loaded machine) proves nothing and is only logged.
outputs_after_the_cycle() {
  local got
  got="$(kvx_sim output 4)$(kvx_sim output 5)"
  load_log
  if [[ -n $(level_commands $((CYCLE_END + 1)) 1000000000) ]]; then
    kvx_log "$2: read after the next evaluation had begun, not checked"
    return 0
  fi
  kvx_expect_eq "$got" "$1" "$2"
}

# No command to output 4 or 5 in the whole log goes against the well of
# its phase.
check_no_wrong_command() {
  local k from to got c
  load_log
  for ((k = 0; k < ${#PHASE_FROM[@]}; k++)); do
    from=${PHASE_FROM[k]}
    to=${PHASE_FROM[k + 1]:-1000000000}
    got=$(level_commands "$from" "$to")
    for c in $got; do
      [[ " ${PHASE_WANT[k]} " == *" $c "* ]] ||
        kvx_fail "setport $c with the well at ${PHASE_LEVEL[k]} (commands $from.. : $got)"
    done
  done
}

# Label 17: the board's data, the Version's three lines among them, and
# the network settings the board reports (BOARD_IP, BOARD_MASK, BOARD_GW).
board_data() {
  printf '%s' "Daten aus dem Board:"$'\r\r'"Firmware:"$'\r'"uC: ATmega32"$'\r\n'"Ver: 1.5"$'\r\n'"NIC: ENC28J60"$'\r\n\r'"Einstellungen:"$'\r'"Board-IP: $BOARD_IP"$'\r\n'"Subnetz: $BOARD_MASK"$'\r\n'"Gateway: $BOARD_GW"$'\r'
}
board_data_shown() { [[ $(kvx_drive text @main 17) == "$(board_data)" ]]; }
check_board_data() {
  kvx_wait_for 30 board_data_shown ||
    kvx_fail "$1: label 17 reads '$(kvx_drive text @main 17 | cat -A)'"
}

# Checks the whole cycle between the ends of a cycle $1 and $2: every one
# of its three evaluations decided, for the well of $3 ("$4").
check_cycle() {
  local got
  got=$(level_commands "$1" "$2")
  kvx_expect_eq "$got" "$4 $4 $4" "commands to outputs 5 and 4 in a cycle with the well at $3"
  kvx_log "well at $3: the cycle's three evaluations sent $got"
}

# --- The console's HELP ------------------------------------------------------

# Sensor ticks since the last end of a cycle in the log loaded last ("-"
# before the first end).
sensor_ticks() {
  awk -F'\t' '$2 == "setport 3.0" { n = 0; seen = 1 }
    $2 == "setport 3.1" { n++ }
    END { print seen ? n : "-" }' "$LOG"
}
second_tick() { load_log && [[ $(sensor_ticks) == 2 ]]; }

# Types HELP at the console just after the second sensor tick of a cycle,
# with every reply in three pieces 30 ms apart until the board has taken
# the HELP; the evaluations of ticks 3 to 5 follow it. Sets HELP_AT (its
# index in the log) and checks what the console shows.
console_help() {
  kvx_wait_for 30 second_tick || kvx_fail "no second sensor tick within 20 s"
  kvx_expect_eq "$(kvx_sim split 3 30)" OK "split"
  kvx_drive settext @main 97 HELP || kvx_fail "could not write field 97"
  kvx_drive click @main 92 || kvx_fail "could not click button 92"
  help_taken() {
    load_log
    HELP_AT=$(awk -F'\t' '$2 == "HELP" { i = $1 } END { print i }' "$LOG")
    [[ -n $HELP_AT ]] && ((HELP_AT > LAST_HELP))
  }
  kvx_wait_for 30 help_taken || kvx_fail "the console's HELP never reached the board"
  kvx_expect_eq "$(kvx_sim split 0 0)" OK "split off"
  LAST_HELP=$HELP_AT
  answered() {
    [[ $(kvx_drive enabled @main 92) == 1 ]] && kvx_shows_prefix 98 ">HELP"$'\r\n'
  }
  kvx_wait_for 45 answered || kvx_fail "console: no exchange for HELP"
  # The box keeps the reply's first 100 bytes: its own, from the start.
  local want
  want=$(printf '%b' "$HELP_TEXT")
  kvx_expect_eq "$(kvx_drive text @main 98)" ">HELP"$'\r\n'"${want:0:100}" "box after HELP"
}

# What the tick after the HELP at HELP_AT did, once that tick is over:
# "eval N: COMMANDS" (N the tick of its cycle; COMMANDS those to outputs 5
# and 4, maybe none) when it evaluated, "tick N" when it did not.
tick_after_help() {
  awk -F'\t' -v h="$HELP_AT" '
    $2 == "setport 3.0" { n = 0 }
    $2 == "setport 3.1" { n++ }
    $1 <= h { next }
    $2 ~ /^setport 3\./ {
      if (started) { done = 1; exit }
      started = 1; tick = n; next
    }
    started && $2 ~ /^setport [45]\./ { cmds = cmds " " substr($2, 9) }
    END {
      if (!done) exit 1
      if (tick >= 3) print "eval " tick ":" cmds; else print "tick " tick
    }' "$LOG"
}
tick_after_help_over() { load_log && tick_after_help >/dev/null; }

# Up to three HELPs until one is followed at once by an evaluation with
# the well at $1; its commands must be "$2" or none.
help_then_evaluation() {
  local attempt result
  for ((attempt = 1; attempt <= 3; attempt++)); do
    console_help
    kvx_wait_for 45 tick_after_help_over || kvx_fail "no tick after the HELP within 45 s"
    result=$(tick_after_help)
    kvx_log "well at $1, HELP at index $HELP_AT: then $result"
    [[ $result == eval* ]] || continue
    case ${result#*:} in
      " $2") kvx_log "the evaluation after the HELP decided" ;;
      "" | " ${2% *}") kvx_log "the evaluation after the HELP left outputs undecided" ;;
      *) kvx_fail "the evaluation after the HELP sent${result#*:} with the well at $1" ;;
    esac
    return 0
  done
  kvx_fail "three HELPs, none followed at once by an evaluation"
}

# ---------------------------------------------------------------------------

kvx_start_display
kvx_prepare_prefix
# A well that neither fills nor drains by itself; the board writes its
# Version a line at a time.
kvx_start_simulator --level "$FULL" --inflow 0 --draw 0 --line-gap 5,VERSION
read -r BOARD_IP BOARD_MASK BOARD_GW <<<"$(kvx_sim network)"
[[ -n $BOARD_GW ]] || kvx_fail "the simulator's network settings are unreadable"
kvx_start_program 127.0.0.1 "$KVX_BOARD_PORT"
kvx_drive wait @main 60000 || kvx_fail "main window did not appear"
kvx_wait_for 30 board_data_shown ||
  kvx_fail "board data not shown in label 17: '$(kvx_drive text @main 17 | cat -A)'"
entered() { [[ $(kvx_drive trackbar @main 102) == "360 "* ]]; }
kvx_wait_for 30 entered || kvx_fail "trackbar 102 never reached 360"
kvx_measure_every_tick
kvx_expect_eq "$(kvx_sim clearlog)" OK "clearlog"
LAST_HELP=-1

# --- Version a line at a time: a full well, then a dry one -----------------
cycle_end_after 0
first=$CYCLE_END
well_at_next_cycle_end "$DRY" "5.0 4.1"
second=$CYCLE_END
kvx_log "ends of a cycle at the indices $first and $second"
check_cycle $((first + 1)) "$second" "$FULL" "5.1 4.0"
check_board_data "Version a line at a time, full well"
well_at_next_cycle_end "$FULL" "5.1 4.0"
third=$CYCLE_END
check_cycle $((second + 1)) "$third" "$DRY" "5.0 4.1"
outputs_after_the_cycle 10 "outputs 4 and 5 after a dry cycle"
check_board_data "Version a line at a time, dry well"

# --- The console's HELP in pieces, then at once an evaluation ---------------
kvx_expect_eq "$(kvx_sim reply HELP "$HELP_TEXT")" OK "a long Help"
help_then_evaluation "$FULL" "5.1 4.0"
well_at_next_cycle_end "$DRY" "5.0 4.1"
help_then_evaluation "$DRY" "5.0 4.1"
kvx_expect_eq "$(kvx_sim unreply HELP)" OK "unreply"
check_board_data "after the HELPs"

# A healthy board again: the next whole cycle decides every time.
well_at_next_cycle_end "$FULL" "5.1 4.0"
end=$CYCLE_END
cycle_end_after $((end + 1))
check_cycle $((end + 1)) "$CYCLE_END" "$FULL" "5.1 4.0"
outputs_after_the_cycle 01 "outputs 4 and 5 after a full cycle"
check_no_wrong_command
kvx_log "$(wc -l <"$LOG") commands on the board, none to outputs 4 and 5 against the well"

# --- QUIT ----------------------------------------------------------------------
kvx_drive click @main 82 || kvx_fail "could not click QUIT"
kvx_wait_program_end 30 || kvx_fail "program did not end after QUIT"
kvx_expect_eq "$KVX_PROGRAM_RC" 0 "exit code after QUIT"

kvx_log "PASS"
