#!/bin/bash
# The level outputs under Wine against a busy board: every reply comes
# 700 ms after its command, and in the board query that output 4's
# decision rides on (the one after "setport 5.x") one line no command
# asked for, "600" (a full well's count), comes 50 ms behind the
# Getstatus reply, before GETADC 1's. The well is dry (20 counts, below
# the Minimum): output 4 may only be switched on ("setport 4.1") or left
# alone, output 5 only switched off; never "setport 4.0" (the pump run
# dry) nor "setport 5.1".
KVX_BOARD_PORT=0 # a board port of its own: runs beside the other tests
source "$(dirname "$0")/lib.sh"

DRY=20 # 0.098 V: below the Minimum of 0.21 V
STRAY='600\r\n'

# The board's log since the last clearlog as "INDEX<TAB>COMMAND<TAB>REPLY"
# lines, the command without its suffix, the reply escaped as the
# simulator writes it. Anything not sent as a text command fails the test.
LOG="$KVX_TMP/replies"
load_log() {
  kvx_sim replies | awk '
    $2 != "text" { print "BAD\t" $0; next }
    { reply = $0; sub(/^.* => /, "", reply)
      $1 = ""; $2 = ""; cmd = $0; sub(/ => .*$/, "", cmd)
      sub(/^  /, "", cmd); sub(/ \\x5cr\\x5cn$/, "", cmd)
      print NR - 1 "\t" cmd "\t" reply }' >"$LOG"
  ! grep -q '^BAD' "$LOG" || kvx_fail "a command that is no text command: $(grep -m1 '^BAD' "$LOG")"
}

# Index of the first command $2 (a pattern) from index $1 on, in the log
# loaded last; nothing when there is none.
first_from() {
  awk -F'\t' -v from="$1" -v re="$2" '$1 >= from && $2 ~ re { print $1; exit }' "$LOG"
}

# The commands to outputs 4 and 5 from index $1 to $2 (not included), as
# "5.0 4.1 ...".
level_commands() {
  awk -F'\t' -v from="$1" -v to="$2" '
    $1 >= from && $1 < to && $2 ~ /^setport [45]\./ {
      printf "%s%s", sep, substr($2, 9); sep = " " }' "$LOG"
}

# The sensor's ticks since the last end of a cycle ("-" before the first).
sensor_ticks() {
  awk -F'\t' '$2 == "setport 3.0" { n = 0; seen = 1 }
    $2 == "setport 3.1" { n++ }
    END { print seen ? n : "-" }' "$LOG"
}
second_tick() { load_log && [[ $(sensor_ticks) == 2 ]]; }

# The stray went out behind a Getstatus reply (STRAY_AT: its index) and
# the tick after it is over: the next sensor command came (NEXT_TICK).
stray_tick_over() {
  load_log
  STRAY_AT=$(awk -F'\t' '$2 == "Getstatus" && $3 ~ /\\x0d\\x0a600\\x0d\\x0a$/ { print $1; exit }' "$LOG")
  [[ -n $STRAY_AT ]] || return 1
  NEXT_TICK=$(first_from "$STRAY_AT" '^setport 3[.]')
  [[ -n $NEXT_TICK ]]
}

kvx_start_display
kvx_prepare_prefix
# A dry well that neither fills nor drains by itself.
kvx_start_simulator --level "$DRY" --inflow 0 --draw 0
kvx_start_program 127.0.0.1 "$KVX_BOARD_PORT"
kvx_await_main_loop
kvx_measure_every_tick
kvx_expect_eq "$(kvx_sim clearlog)" OK "clearlog"

# --- A quick board first: a whole cycle finds the well dry ----------------
kvx_wait_for 40 second_tick || kvx_fail "no second sensor tick within 40 s"
load_log
healthy=$(level_commands 0 1000000000)
kvx_log "the quick board's commands to outputs 5 and 4: ${healthy:-none}"

# --- Then a busy board, and the stray line behind the Getstatus reply -----
# of the first query after the next "setport 5.x".
kvx_expect_eq "$(kvx_sim delay 700)" OK "delay 700"
kvx_expect_eq "$(kvx_sim strayafter 'setport5*' GETSTATUS 1 50 "$STRAY")" OK "strayafter"
load_log
armed=$(wc -l <"$LOG")
kvx_log "busy board from command $armed on"
kvx_wait_for 150 stray_tick_over ||
  kvx_fail "no stray line, or no tick after it, within 150 s: $(tail -n 5 "$LOG" | tr '\t\n' ' |')"
trigger=$(awk -F'\t' -v to="$STRAY_AT" '$1 < to && $2 ~ /^setport 5\./ { i = $1 } END { print i }' "$LOG")
kvx_log "trigger '$(awk -F'\t' -v i="$trigger" '$1 == i { print $2 }' "$LOG")' at $trigger, stray behind Getstatus at $STRAY_AT, next sensor command at $NEXT_TICK"
after=$(level_commands "$STRAY_AT" "$NEXT_TICK")
kvx_log "commands to outputs 5 and 4 after the stray line, up to the next tick: ${after:-none}"
# On the wire from the Getstatus with the stray line to the next command
# to output 4 (or the next tick): "command => reply".
decision=$(first_from "$STRAY_AT" '^setport 4[.]')
wire_to=${decision:-$NEXT_TICK}
kvx_log "on the wire: $(awk -F'\t' -v from="$STRAY_AT" -v to="$wire_to" '
  $1 >= from && $1 <= to { printf "%s%s => %s", sep, $2, $3; sep = " | " }' "$LOG")"
all=$(level_commands 0 "$NEXT_TICK")
for c in $all; do
  [[ $c == 4.1 || $c == 5.0 ]] ||
    kvx_fail "setport $c with the well dry (commands since the start of the log: $all; after the stray: ${after:-none})"
done
kvx_expect_eq "$(kvx_sim output 5)" 0 "output 5 with the well dry"

kvx_expect_eq "$(kvx_sim faults off)" OK "faults off"
kvx_drive click @main 82 || kvx_fail "could not click QUIT"
kvx_wait_program_end 30 || kvx_fail "program did not end after QUIT"
kvx_expect_eq "$KVX_PROGRAM_RC" 0 "exit code after QUIT"
kvx_log "PASS"
