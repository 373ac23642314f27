#!/bin/bash
# The board's address and port on the command line, and a trial without a
# board, all Windows: korvalinex-sim.exe (the simulator built for Windows)
# listens on a loopback port of its own; nothing listens on the port the
# program was built for. Started with "127.0.0.1 <simulator's port>", the
# program connects and runs; started with a wrong port (a blank in front,
# quoted as a shortcut would have it), it shows the problem box, no window,
# sends nothing and ends with exit code 0.
source "$(dirname "$0")/lib.sh"

KVX_SIM_EXE="$KVX_WIN_BUILD/korvalinex-sim.exe"

# The Windows path of a file under /tmp (Wine's drive Z: is /).
kvx_windows_path() { printf 'Z:%s' "${1//\//\\}"; }

kvx_start_display
kvx_prepare_prefix
kvx_check_exe "$KVX_SIM_EXE"

kvx_wait_for 30 kvx_port_free "$KVX_BUILD_PORT" ||
  kvx_fail "port $KVX_BUILD_PORT is in use"

# --- The simulator for Windows: loopback only -----------------------------
timeout 60 "$KVX_WINE_LOADER" "$KVX_SIM_EXE" --address 0.0.0.0 --port 0 \
  >"$KVX_TMP/sim-refused.log" 2>&1 8>&-
rc=$?
kvx_expect_eq "$rc" 2 "exit code of korvalinex-sim.exe --address 0.0.0.0"
grep -q "loopback only" "$KVX_TMP/sim-refused.log" ||
  kvx_fail "no refusal of a non-loopback address"

kvx_log "start korvalinex-sim.exe"
wine "$KVX_SIM_EXE" --address 127.0.0.1 --port 0 --control-port 0 \
  --port-file "$(kvx_windows_path "$KVX_TMP/sim.ports")" \
  >"$KVX_TMP/sim.log" 2>&1 8>&- &
KVX_SIM_PID=$!
KVX_PIDS+=("$KVX_SIM_PID")
kvx_wait_for 60 kvx_file_filled "$KVX_TMP/sim.ports" ||
  kvx_fail "korvalinex-sim.exe did not start"
# A Windows text file: the line ends in CR LF.
read -r sim_port KVX_SIM_CONTROL < <(tr -d '\r' <"$KVX_TMP/sim.ports")
[[ $sim_port =~ ^[0-9]+$ && $KVX_SIM_CONTROL =~ ^[0-9]+$ ]] ||
  kvx_fail "no ports from korvalinex-sim.exe"
[[ $sim_port != "$KVX_BUILD_PORT" ]] || kvx_fail "simulator on the build port"
kvx_log "korvalinex-sim.exe on port $sim_port, control port $KVX_SIM_CONTROL"
[[ $(kvx_sim ping) == OK ]] || kvx_fail "control channel does not answer"

# --- Address and port given: the program runs against the simulator ------
kvx_start_program 127.0.0.1 "$sim_port"
[[ $(kvx_sim waitconnect 1 60000) == OK ]] ||
  kvx_fail "korvalinex-sim.exe saw no connection"
kvx_drive wait @main 60000 || kvx_fail "main window did not appear"
kvx_drive msgbox @problem 0 >/dev/null && kvx_fail "unexpected problem box"
data_arrived() { [[ $(kvx_drive text @main 17) == *"uC: ATmega32"* ]]; }
kvx_wait_for 30 data_arrived || kvx_fail "board data not shown in label 17"
log=$(kvx_sim log)
[[ $log == *'text Help \x5cr\x5cn'* ]] || kvx_fail "no Help command seen"
[[ $log == *'text GETPORT 4 \x5cr\x5cn'* ]] || kvx_fail "no full query seen"
# The simulator switches like the board: output 7 on from the program.
kvx_drive click @main 80 || kvx_fail "could not click output 7 on"
output7_on() { [[ $(kvx_sim output 7) == 1 ]]; }
kvx_wait_for 30 output7_on || kvx_fail "output 7 not switched on"

kvx_drive click @main 82 || kvx_fail "could not click QUIT"
kvx_wait_program_end 30 || kvx_fail "program did not end after QUIT"
kvx_expect_eq "$KVX_PROGRAM_RC" 0 "exit code after QUIT"
closed() { [[ $(kvx_sim status) == *connected=0* ]]; }
kvx_wait_for 30 closed || kvx_fail "connection still open after the end"

# --- A wrong port: the box, nothing sent, exit code 0 ---------------------
kvx_sim clearlog >/dev/null
kvx_start_program 127.0.0.1 " $sim_port"
kvx_drive wait @problem 60000 || kvx_fail "no message box 'KORVALINEX: Problem'"
text=$(kvx_drive msgbox @problem) || kvx_fail "message box text unreadable"
[[ $text == *"Port (zweite Angabe) \" $sim_port\" ist keine ganze Zahl"* ]] ||
  kvx_fail "the box does not name the wrong port: $text"
[[ $text == *"korvalinex.exe [ADRESSE [PORT]]"* ]] ||
  kvx_fail "the box does not show the right form: $text"
kvx_drive wait @main 0 && kvx_fail "main window shown for a wrong port"
kvx_drive wait @notice 0 && kvx_fail "connection notice shown for a wrong port"
kvx_alive "$KVX_PROGRAM_PID" || kvx_fail "program ended before OK"
kvx_drive ok @problem || kvx_fail "could not press OK"
kvx_wait_program_end 30 || kvx_fail "program did not end after OK"
kvx_expect_eq "$KVX_PROGRAM_RC" 0 "exit code after a wrong port"
status=$(kvx_sim status)
[[ $status == *connections=1\ * && $status == *commands=0* ]] ||
  kvx_fail "the simulator was contacted: $status"

# --- A terminal's line to korvalinex-sim.exe, then a reset ---------------
exec 6<>"/dev/tcp/127.0.0.1/$sim_port" || kvx_fail "no connection to the simulator"
printf 'GETSTATUS\r\n' >&6
IFS= read -r -t 10 line <&6 || kvx_fail "no reply to GETSTATUS"
line=${line%$'\r'}
# Output 8 first: output 7, switched on by the program, is the second digit.
[[ $line =~ ^S[01]{8}$ && ${line:2:1} == 1 ]] ||
  kvx_fail "GETSTATUS answered '$line'"
[[ $(kvx_sim reset) == OK ]] || kvx_fail "reset not answered"
read -r -t 10 line <&6 && kvx_fail "connection still open after the reset"
exec 6>&-
kvx_wait_for 30 closed || kvx_fail "simulator still connected after the reset"

# --- The simulator ends on its control command ----------------------------
[[ $(kvx_sim shutdown) == OK ]] || kvx_fail "shutdown not answered"
sim_ended() { kvx_dead "$KVX_SIM_PID"; }
kvx_wait_for 30 sim_ended || kvx_fail "korvalinex-sim.exe did not end"
wait "$KVX_SIM_PID"
kvx_expect_eq "$?" 0 "exit code of korvalinex-sim.exe"

kvx_log "PASS"
