#!/bin/bash
# The console and the description window under Wine, against the board
# simulator: what a console command puts on the wire, byte for byte (a
# text command with its suffix, a display command as a 100-byte block),
# what the box shows and in which colour, the command summary, and the
# description window (place, title, text, closing it while the program
# goes on); QUIT ends the program with exit code 0.
KVX_BOARD_PORT=0 # a board port of its own: runs beside the other tests
source "$(dirname "$0")/lib.sh"

QUERY_KEYWORDS=" Help Version Getip Getgw Getmask Getstatus GETADC GETPORT "

# The commands in the board's log that are not part of a board query, as
# "KIND ESCAPED-BYTES" (without the time).
foreign_commands() {
  kvx_sim log | while read -r _ kind raw; do
    word=${raw%% *}
    [[ $kind == text && $QUERY_KEYWORDS == *" $word "* &&
      $raw == *' \x5cr\x5cn' ]] && continue
    echo "$kind $raw"
  done
}

# The colours in control N's area of the screen (a histogram).
colours_of() {
  local l t r b
  read -r l t r b <<<"$(kvx_drive rect @main "$1")"
  import -window root "$KVX_TMP/screen.png" || return 1
  convert "$KVX_TMP/screen.png" -crop "$((r - l))x$((b - t))+$l+$t" \
    -format %c histogram:info:-
}
box_in() {  # blue|red: the box's text has that colour and not the other
  local h
  h=$(colours_of 98) || return 1
  case $1 in
    blue) [[ $h == *"#0000FF"* && $h != *"#FF0000"* ]] ;;
    red) [[ $h == *"#FF0000"* && $h != *"#0000FF"* ]] ;;
  esac
}

# Types $1 into field 97, sends it, and waits for box 98 to show the echo.
console() {
  kvx_drive settext @main 97 "$1" || kvx_fail "could not write field 97"
  kvx_sim clearlog >/dev/null
  kvx_drive click @main 92 || kvx_fail "could not click button 92"
  answered() {
    [[ $(kvx_drive enabled @main 92) == 1 ]] && kvx_shows_prefix 98 ">$1"$'\r\n'
  }
  kvx_wait_for 30 answered "$1" || kvx_fail "console: no exchange for '$1'"
  # The button takes the focus back just after it is usable again.
  kvx_wait_for 30 focused 92 || kvx_fail "focus after sending '$1': $(kvx_drive focus @main)"
}

blanks() { printf '%*s' "$1" ""; }
focused() { [[ $(kvx_drive focus @main) == "$1" ]]; }

kvx_start_display
kvx_prepare_prefix
kvx_start_simulator
kvx_start_program 127.0.0.1 "$KVX_BOARD_PORT"
kvx_drive wait @main 60000 || kvx_fail "main window did not appear"
kvx_wait_for 30 kvx_shows_prefix 17 "Daten aus dem Board:" ||
  kvx_fail "board data not shown in label 17"
kvx_wait_for 30 kvx_shows_prefix 20 "Messung in " || kvx_fail "loop never entered"
kvx_expect_eq "$(kvx_drive text @main 98)" "" "console box at start"

# --- A text command: its letters and the five-byte suffix, in one piece ----
console GETSTATUS
kvx_expect_eq "$(foreign_commands)" 'text GETSTATUS \x5cr\x5cn' \
  "the board's view of GETSTATUS"
kvx_sim chunks | grep -qx '[0-9]* GETSTATUS \\x5cr\\x5cn' ||
  kvx_fail "GETSTATUS did not arrive as one piece of 14 bytes"
# The reply (a status line of 11 bytes) and the blanks the console put
# into the buffer before the command: 100 characters in all.
status="S$(kvx_sim outputs | rev)"
kvx_expect_eq "$(kvx_drive text @main 98)" \
  ">GETSTATUS"$'\r\n'"$status"$'\r\n'"$(blanks 89)" "box after GETSTATUS"
kvx_expect_eq "$(kvx_drive text @main 97)" GETSTATUS "field 97 keeps the command"
kvx_wait_for 30 box_in blue || kvx_fail "the exchange is not shown in blue"
# (Kept for a comparison of two runs, as the next two: without the
# countdown to the next measurement and label 36, ping time and countdown.)
kvx_keep_screen getstatus clock=@main:20 clock=@main:36

# --- A display command: one 100-byte block, no line end --------------------
console "WriteLcd 1.Hallo"
kvx_expect_eq "$(foreign_commands)" \
  "block WriteLcd 1.Hallo\\x00$(blanks 82)\\x20" "the board's view of WriteLcd"
kvx_expect_eq "$(kvx_sim lcd 1)" "Hallo$(blanks 10)\\x20" "display line 1"
# The 4-byte reply overwrote the block's first four bytes; the rest of the
# block up to its zero byte follows it.
kvx_expect_eq "$(kvx_drive text @main 98)" \
  ">WriteLcd 1.Hallo"$'\r\n'"OK"$'\r\n'"eLcd 1.Hallo" "box after WriteLcd"

# --- The command summary replaces the exchange, in red --------------------
kvx_sim clearlog >/dev/null
kvx_drive click @main 93 || kvx_fail "could not click button 93"
kvx_wait_for 30 kvx_shows_prefix 98 "Befehle f"$'\xfc'"r das KORVALINEX-Board"$'\r\n' ||
  kvx_fail "the summary did not replace the exchange"
mapfile -t summary <<<"$(kvx_drive text @main 98 | tr -d '\r')"
kvx_expect_eq "${#summary[@]}" 20 "lines of the summary"
kvx_expect_eq "${summary[1]}" "" "summary line 2"
kvx_expect_eq "${summary[2]}" \
  "GETPORT X$(blanks 8)Ruft von digitalem Eingang X (1-4) Wert (1=AUF, 0=ZU) ab" \
  "summary line 3"
kvx_expect_eq "${summary[9]}" "HELP$(blanks 20)Hilfetext zum Board" "summary line 10"
kvx_expect_eq "${summary[19]}" \
  "CLEARLCD [X]$(blanks 13)L"$'\xf6'"scht gesamtes Display oder Zeile X (1 oder 2)" \
  "summary line 20"
kvx_wait_for 30 box_in red || kvx_fail "the summary is not shown in red"
kvx_keep_screen summary clock=@main:20 clock=@main:36
kvx_wait_for 30 focused 92 || kvx_fail "focus after the summary: $(kvx_drive focus @main)"
kvx_expect_eq "$(foreign_commands)" "" "commands sent for the summary"

# --- A further command replaces the summary, in blue again ------------------
kvx_sim analog 2 512 >/dev/null
console "GETADC 2"
kvx_expect_eq "$(kvx_drive text @main 98)" \
  ">GETADC 2"$'\r\n'"512"$'\r\n'"$(blanks 95)" "box after GETADC 2"
kvx_wait_for 30 box_in blue || kvx_fail "the exchange after the summary is not blue"
kvx_keep_screen getadc clock=@main:20 clock=@main:36
kvx_wait_for 30 kvx_shows 63 "2,50" || kvx_fail "label 63 after the console command"

# --- A reply that looks like a rich-text document is shown as it stands ----
kvx_sim replyonce RTFTEST '{\\rtf1 {\\b fett}}\r\n' >/dev/null
console RTFTEST
kvx_expect_eq "$(kvx_drive text @main 98 | head -n 2 | tr -d '\r')" \
  ">RTFTEST"$'\n''{\rtf1 {\b fett}}' "box after a reply in rich-text form"

# --- The description window --------------------------------------------------
read -r left top _ <<<"$(kvx_drive rect @main)"
kvx_drive click @main 100 || kvx_fail "could not click the picture"
kvx_drive wait @description 10000 || kvx_fail "description window missing"
# Exactly one window of that title, beside the main window.
titles=$(kvx_drive windows @main | cut -f2)
kvx_expect_eq "$(grep -cx "KORVALINEX: Infos zum KORVALINEX-Board" <<<"$titles")" 1 \
  "description windows"
read -r dl dt _ <<<"$(kvx_drive rect @description)"
kvx_expect_eq "$dl $dt" "$((left + 20)) $((top + 20))" "description position"
desc=$(kvx_drive text @description 99)
mapfile -t lines <<<"$(tr -d '\r' <<<"$desc")"
kvx_expect_eq "${#lines[@]}" 44 "lines of the description"
kvx_expect_eq "${lines[0]}" "Kurzbeschreibung des KORVALINEX-Boards:" "first line"
kvx_expect_eq "${lines[7]}" \
  "k"$'\xf6'"nnen entsprechende Terminalprogramme wie \"PuTTY\" oder\"Hyperterminal\"" \
  "the line with the terminal programs"
kvx_expect_eq "$(tr -cd '"' <<<"$desc" | wc -c)" 4 "double quotes in the text"
kvx_expect_eq "${lines[43]}" \
  "ACHTUNG: Ein Netzteil ist nicht im Lieferumfang des Boards!" "last line"
kvx_expect_eq "${lines[8]}|${lines[9]}" "benutzt werden.|" "the lines after it"

# Closing it leaves the program running and talking to the board.
kvx_drive click @description 95 || kvx_fail "could not click button 95"
kvx_drive gone @description 10000 || kvx_fail "description window stays"
kvx_alive "$KVX_PROGRAM_PID" || kvx_fail "the program ended with the window"
kvx_drive wait @main 0 || kvx_fail "main window went with the description"
before=$(kvx_sim count)
more_traffic() { (($(kvx_sim count) >= before + 28)); }
kvx_wait_for 30 more_traffic || kvx_fail "no board queries after the window closed"

# --- QUIT --------------------------------------------------------------------
kvx_drive click @main 82 || kvx_fail "could not click QUIT"
kvx_wait_program_end 30 || kvx_fail "program did not end after QUIT"
kvx_expect_eq "$KVX_PROGRAM_RC" 0 "exit code after QUIT"

kvx_log "PASS"
