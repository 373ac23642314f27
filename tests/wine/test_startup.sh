#!/bin/bash
# Start-up and end of the Windows program under Wine: against the board
# simulator (main window, board traffic, QUIT ends with exit code 0 and no
# last command), and against a port where nothing listens (the
# board-not-found message, no main window, exit code 0 after OK).
source "$(dirname "$0")/lib.sh"

kvx_start_display
kvx_prepare_prefix

# --- No board: nothing listens on the board port -------------------------
kvx_log "start without a board"
kvx_wait_for 30 kvx_port_free "$KVX_BOARD_PORT" ||
  kvx_fail "port $KVX_BOARD_PORT is in use"
kvx_start_program
kvx_drive wait @problem 60000 || kvx_fail "no message box 'KORVALINEX: Problem'"
text=$(kvx_drive msgbox @problem) || kvx_fail "message box text unreadable"
kvx_expect_eq "$text" "Das KORVALINEX-Board kann nicht gefunden werden!" \
  "board-not-found text"
kvx_drive wait @main 0 && kvx_fail "main window shown without a board"
kvx_drive wait @notice 0 && kvx_fail "notice still open behind the message"
kvx_alive "$KVX_PROGRAM_PID" || kvx_fail "program ended before OK"
kvx_drive ok @problem || kvx_fail "could not press OK"
kvx_wait_program_end 30 || kvx_fail "program did not end after OK"
kvx_expect_eq "$KVX_PROGRAM_RC" 0 "exit code without a board"

# --- Against the simulator ------------------------------------------------
kvx_log "start against the simulator"
kvx_start_simulator
kvx_start_program
[[ $(kvx_sim waitconnect 1 60000) == OK ]] ||
  kvx_fail "the simulator saw no connection"
kvx_drive wait @main 60000 || kvx_fail "main window did not appear"
kvx_drive wait @notice 0 && kvx_fail "connection notice still open"
kvx_drive msgbox @problem 0 >/dev/null && kvx_fail "unexpected problem box"

# The first board query: the board data box fills in.
data_arrived() { [[ $(kvx_drive text @main 17) == *"uC: ATmega32"* ]]; }
kvx_wait_for 30 data_arrived || kvx_fail "board data not shown in label 17"
log=$(kvx_sim log)
[[ $log == *'text Help \x5cr\x5cn'* ]] || kvx_fail "no Help command seen"
[[ $log == *'text Getstatus \x5cr\x5cn'* ]] || kvx_fail "no Getstatus seen"

# QUIT: the program ends with exit code 0; the last thing the board saw is
# the end of an ordinary query, then the connection closes.
kvx_drive click @main 82 || kvx_fail "could not click QUIT"
kvx_wait_program_end 30 || kvx_fail "program did not end after QUIT"
kvx_expect_eq "$KVX_PROGRAM_RC" 0 "exit code after QUIT"
last=$(kvx_sim log | tail -n 1)
[[ $last == *'text GETPORT 4 \x5cr\x5cn' ]] ||
  kvx_fail "a command after the last query: $last"
closed() { [[ $(kvx_sim status) == *connected=0* ]]; }
kvx_wait_for 30 closed || kvx_fail "connection still open after the end"

kvx_log "PASS"
