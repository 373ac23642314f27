#!/bin/bash
# The windows and controls of the Windows program under Wine, against the
# board simulator: frame and placement, trackbars (the vertical one reads
# its maximum at the top), the safety lock, spin fields, the Tab order,
# label colours on the screen, the description window, and the close box.
KVX_BOARD_PORT=0 # a board port of its own: runs beside the other tests
source "$(dirname "$0")/lib.sh"

kvx_start_display
kvx_prepare_prefix
kvx_start_simulator
kvx_start_program 127.0.0.1 "$KVX_BOARD_PORT"
kvx_await_main_loop

# --- Frame and placement --------------------------------------------------
kvx_expect_eq "$(kvx_drive client @main)" "540 590" "client size"
read -r left top right bottom <<<"$(kvx_drive rect @main)"
kvx_expect_eq "$left" $(((1024 - (right - left)) / 2)) "centred left"
kvx_expect_eq "$top" $(((768 - (bottom - top)) / 2)) "centred top"
read -r style _ <<<"$(kvx_drive style @main)"
style=$((16#$style))
want=$((0x00C00000 | 0x00080000 | 0x00020000))  # caption, menu, minimise
(((style & want) == want)) || kvx_fail "main frame lacks caption/menu/min"
((style & (0x00010000 | 0x00040000))) && kvx_fail "main window is sizable"
((style & 0x02000000)) || kvx_fail "background erased under the controls"

# --- Values after the loop entry -------------------------------------------
kvx_expect_eq "$(kvx_drive trackbar @main 101)" "1 1 1 10" "trackbar 101"
kvx_expect_eq "$(kvx_drive trackbar @main 102)" "360 3640 0 4000" \
  "vertical trackbar 102 (value raw min max)"
kvx_expect_eq "$(kvx_drive progress @main 111)" "0 0 400" "level bar"
kvx_expect_eq "$(kvx_drive enabled @main 81)" 0 "button 81 at start"

# --- Colours on the screen: label 20 red, label 17 blue ------------------
# Label 20 turns red with the first query after the measurement is on.
measuring() { [[ $(kvx_drive text @main 20) == "Messung in "* ]]; }
kvx_wait_for 30 measuring || kvx_fail "label 20 never showed the measurement"
read -r ox oy <<<"$(kvx_drive origin @main)"
colours() {  # x y w h (client) -> histogram of that area of the screenshot
  convert "$KVX_TMP/screen.png" -crop "$3x$4+$((ox + $1))+$((oy + $2))" \
    -format %c histogram:info:-
}
coloured() {  # the screen catches up with the texts within a few paints
  import -window root "$KVX_TMP/screen.png" || return 1
  label20=$(colours 310 60 110 20)
  label17=$(colours 280 420 130 160)
  [[ $label20 == *"#FF0000"* && $label20 != *"#0000FF"* &&
    $label17 == *"#0000FF"* ]]
}
kvx_wait_for 30 coloured ||
  kvx_fail "label colours: 20 should be red only, 17 blue"
# (Kept for a comparison of two runs, without the countdown to the next
# measurement and the ping time and countdown of label 36.)
kvx_keep_screen colours clock=@main:20 clock=@main:36

# --- Safety lock: the check box releases button 81 -----------------------
kvx_drive click @main 110 || kvx_fail "could not click check box 110"
kvx_expect_eq "$(kvx_drive checked @main 110)" 1 "check box after a click"
released() { [[ $(kvx_drive enabled @main 81) == 1 ]]; }
kvx_wait_for 30 released || kvx_fail "button 81 not enabled by the lock"
kvx_drive click @main 110 || kvx_fail "could not click check box 110"
locked() { [[ $(kvx_drive enabled @main 81) == 0 ]]; }
kvx_wait_for 30 locked || kvx_fail "button 81 not disabled again"
# Greyed for 2 s on end, the button refuses the click.
kvx_drive click @main 81 2000 && kvx_fail "a disabled button took a click"

# --- Tab order from the check box, wrapping at the end --------------------
kvx_expect_eq "$(kvx_drive focus @main)" 110 "focus after the click"
for next in 97 92 93 98 100 101 102 74; do
  kvx_drive key @main 0 tab
  moved() { [[ $(kvx_drive focus @main) == "$next" ]]; }
  kvx_wait_for 30 moved || kvx_fail "Tab did not move to $next"
done

# --- Trackbars read by the main loop --------------------------------------
kvx_drive trackbar @main 101 5 >/dev/null
kvx_wait_for 30 kvx_shows 33 5 || kvx_fail "label 33 does not follow trackbar 101"
usable() { [[ $(kvx_drive enabled @main "$1") == 1 ]]; }
kvx_wait_for 30 usable 86 || kvx_fail "button 86 (measurement off) disabled"
kvx_drive click @main 86 || kvx_fail "could not switch the measurement off"
kvx_drive trackbar @main 102 100 >/dev/null
kvx_wait_for 30 kvx_shows 53 "100 s" ||
  kvx_fail "label 53 does not follow trackbar 102"
kvx_expect_eq "$(kvx_drive trackbar @main 102)" "100 3900 0 4000" \
  "trackbar 102 after moving"

# --- Spin fields: 70 x 20, the arrows a strip 10 wide at the right --------
for n in 83 85 91; do
  read -r fl ft fr fb <<<"$(kvx_drive rect @main $n)"
  read -r al at ar ab <<<"$(kvx_drive rect @main $((n + 1000)))"
  kvx_expect_eq "$((fr - fl))x$((fb - ft)) $((ar - al))x$((ab - at))" \
    "60x20 10x20" "spin $n: field and arrows"
  kvx_expect_eq "$al $at" "$fr $ft" "spin $n: arrows beside the field"
done

# --- Spin field: the arrow keys step within 1..10000, no separators -------
spin_key() {  # start key expected
  kvx_drive settext @main 83 "$1"
  kvx_drive key @main 83 "$2"
  kvx_wait_for 30 kvx_shows 83 "$3" || kvx_fail "spin 83: $1 $2 gave $(kvx_drive text @main 83)"
}
spin_key 1000 up 1001
spin_key 9999 up 10000
spin_key 10000 up 10000
spin_key 1 down 1

# --- Description window ---------------------------------------------------
kvx_drive click @main 100 || kvx_fail "could not click the picture"
kvx_drive wait @description 10000 || kvx_fail "description window missing"
read -r dl dt _ <<<"$(kvx_drive rect @description)"
kvx_expect_eq "$dl $dt" "$((left + 20)) $((top + 20))" "description position"
read -r dstyle _ <<<"$(kvx_drive style @description)"
kvx_expect_eq "$(((16#$dstyle) & 0x00CF0000))" $((0x00C00000)) \
  "description frame (title bar only)"
desc=$(kvx_drive text @description 99)
[[ $desc == "Kurzbeschreibung des KORVALINEX-Boards:"$'\r\n\r\n'"Das "* ]] ||
  kvx_fail "description text starts wrongly"
[[ $desc == *$'\r\n'"ACHTUNG: Ein Netzteil ist nicht im Lieferumfang des Boards!" ]] ||
  kvx_fail "description text ends wrongly"
breaks=$(grep -c $'\r$' <<<"$desc")
kvx_expect_eq "$breaks" 43 "line breaks in the description"
kvx_keep_settled_screen description
kvx_drive click @description 95 || kvx_fail "could not click button 95"
kvx_drive gone @description 10000 || kvx_fail "description window stays"
kvx_drive wait @main 0 || kvx_fail "main window went with the description"

# --- The close box ends the program like QUIT ------------------------------
kvx_drive close @main || kvx_fail "close request not taken"
kvx_wait_program_end 30 || kvx_fail "program did not end on the close box"
kvx_expect_eq "$KVX_PROGRAM_RC" 0 "exit code after the close box"

kvx_log "PASS"
