#!/bin/bash
# The guard inside the loops the system runs for the operator's own
# windows, under Wine, on a dry well measured at every tick: the main
# window's system menu held open HOLD seconds (Alt+Space, as a system
# command), the window moved for HOLD seconds (the keyboard move of the
# system menu, a step to the right every 2 s, Enter at the end), and the
# history window's save dialog held HOLD seconds from the click that opens
# it, then cancelled. At the start of each, output 4 is switched off at the
# board behind the program's back. The board's log of each hold shows a query (Help) at the
# set rate of 1 s, the measurement's commands, and output 4 switched on
# again ("setport 4.1"). The longest pause between two queries in each is
# printed.
# Runs for about 100 s.
KVX_BOARD_PORT=0 # a board port of its own: runs beside the other tests
source "$(dirname "$0")/lib.sh"

HOLD=20
# The longest pause between two queries: the rate of 1 s, an evaluation's
# proven queries up to 3 s apart, and Wine's slack.
LONGEST_PAUSE=4500
HISTORY="KORVALINEX: Verlauf des Wasserstands"
SAVE="Verlauf als CSV speichern"
WM_KEYDOWN=0x100
WM_COMMAND=0x111
WM_SYSCOMMAND=0x112
WM_CANCELMODE=0x1F
SC_MOVE=0xF010
SC_KEYMENU=0xF100
VK_RETURN=0x0D
VK_RIGHT=0x27

# The board's log from index $1 on: "MS<TAB>COMMAND" lines.
commands_from() {
  kvx_sim log "$1" | awk '
    $2 != "text" { next }
    { t = $1; $1 = ""; $2 = ""; sub(/^  /, ""); sub(/ \\x5cr\\x5cn$/, "")
      print t "\t" $0 }'
}

# What the board got during hold $1, from its log: from the last query
# before the hold (a whole query is 14 commands, a measurement adds some;
# the hold began at index $2) to the first query that began after it. Queries at the rate, the
# measurement's commands, output 4 switched on again.
check_hold() {
  local name=$1 log="$KVX_TMP/$1.log" from=$(($2 - 30)) end queries pause
  end=$(kvx_sim count)
  [[ $(kvx_sim wait $((end + 14)) 10000) == OK ]] ||
    kvx_fail "$name: no query after the hold"
  ((from >= 0)) || from=0
  commands_from "$from" | head -n $((end + 14 - from)) >"$log"
  read -r queries pause < <(awk -F'\t' '
    $2 == "Help" { if (n++ && $1 - last > gap) gap = $1 - last; last = $1 }
    END { print n + 0, gap + 0 }' "$log")
  kvx_log "$name: $queries queries, the longest pause $pause ms"
  echo "longest pause between queries, $name held $HOLD s: $pause ms"
  ((queries >= HOLD / 4)) || kvx_fail "$name: only $queries queries"
  ((pause <= LONGEST_PAUSE)) || kvx_fail "$name: $pause ms without a query"
  grep -q $'\tGETADC 1$' "$log" || kvx_fail "$name: no reading of the level"
  grep -q $'\tsetport 3\\.' "$log" || kvx_fail "$name: no measurement cycle"
  grep -q $'\tsetport 4\\.1$' "$log" || kvx_fail "$name: output 4 not switched on again"
}

kvx_start_display
kvx_prepare_prefix
kvx_start_simulator --level 20
kvx_start_program 127.0.0.1 "$KVX_BOARD_PORT"
kvx_await_main_loop
kvx_measure_every_tick
dry() { [[ $(kvx_sim output 4) == 1 ]]; }
kvx_wait_for 60 dry || kvx_fail "output 4 did not go on for the dry well"

# Starts a hold: output 4 off at the board; prints the log's index.
begin_hold() {
  local from
  from=$(kvx_sim count)
  kvx_sim setoutput 4 0 >/dev/null
  echo "$from"
}

# --- The system menu ---------------------------------------------------------
from=$(begin_hold)
kvx_drive post @main $WM_SYSCOMMAND $SC_KEYMENU 0x20 || kvx_fail "no system menu"
sleep "$HOLD"
kvx_drive post @main $WM_CANCELMODE 0 0 || kvx_fail "the menu was not closed"
check_hold "the system menu" "$from"

# --- A move ------------------------------------------------------------------
read -r left top _ <<<"$(kvx_drive rect @main)"
from=$(begin_hold)
kvx_drive post @main $WM_SYSCOMMAND $SC_MOVE 0 || kvx_fail "no move"
for ((i = 0; i < HOLD / 2; i++)); do
  sleep 2
  kvx_drive post @main $WM_KEYDOWN $VK_RIGHT 0 || kvx_fail "the move took no key"
done
kvx_drive post @main $WM_KEYDOWN $VK_RETURN 0 || kvx_fail "the move did not end"
check_hold "a move" "$from"
moved() { [[ $(kvx_drive rect @main | cut -d' ' -f1-2) != "$left $top" ]]; }
kvx_wait_for 30 moved || kvx_fail "the window did not move"

# --- The save dialog ---------------------------------------------------------
kvx_drive syscommand @main 0x10 || kvx_fail "the main window took no system command"
kvx_drive wait "$HISTORY" 15000 || kvx_fail "the history window did not open"
# The dialog's loop runs from the click on: Wine takes a while to open it.
from=$(begin_hold)
until=$((SECONDS + HOLD))
kvx_drive click "$HISTORY" 115 || kvx_fail "could not click the save button"
kvx_drive wait "$SAVE" 20000 || kvx_fail "the save dialog did not open"
((SECONDS < until)) && sleep $((until - SECONDS))
kvx_drive post "$SAVE" $WM_COMMAND 2 0 || kvx_fail "the dialog was not cancelled"
kvx_drive gone "$SAVE" 10000 || kvx_fail "the save dialog stayed"
check_hold "the save dialog" "$from"

# --- The program goes on, and ends as ever -----------------------------------
kvx_drive click @main 82 || kvx_fail "could not click QUIT"
kvx_wait_program_end 30 || kvx_fail "program did not end after QUIT"
kvx_expect_eq "$KVX_PROGRAM_RC" 0 "exit code after QUIT"

kvx_log "PASS"
