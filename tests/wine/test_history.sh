#!/bin/bash
# The level history window under Wine, against a draining well: opened from
# the main window's system menu (empty before the first evaluation), chosen
# again it stays one window and comes to the front (restored when
# minimised); it follows the evaluations of a quick measurement cycle and
# draws them (level line, threshold, band of output 5 on the screen); its
# controls follow a new size; its close request and its button close it
# and leave the main window running; QUIT ends the program with exit code
# 0. A screenshot of the window after a short history goes to the file
# KVX_HISTORY_PNG names, when it names one.
KVX_BOARD_PORT=0 # a board port of its own: runs beside the other tests
source "$(dirname "$0")/lib.sh"

HISTORY="KORVALINEX: Verlauf des Wasserstands"
# The item "Verlauf des Wasserstands..." of the main window's system menu:
# command 1, sent by the menu as WM_SYSCOMMAND 0x10 (the command moved
# past the four bits the system keeps for itself). Wine lets no other
# process read the menu, so the driver names the item by this identifier.
HISTORY_ITEM=0x10

history_says() { [[ $(kvx_drive text "$HISTORY" 112) == "$1"* ]]; }
front_is() { [[ $(kvx_drive front) == "$1"* ]]; }
history_count() { kvx_drive count "$HISTORY"; }
one_history() { [[ $(history_count) == 1 ]]; }
choose_history() {
  kvx_drive syscommand @main "$HISTORY_ITEM" ||
    kvx_fail "the main window took no system command"
}

kvx_start_display
kvx_prepare_prefix
# A full well (330 counts, 1.61 V: output 5 on) that drains by 8 counts a
# second while output 4 is off and never fills, until rain sets in below.
kvx_start_simulator --level 330 --inflow 0 --draw 8
kvx_start_program 127.0.0.1 "$KVX_BOARD_PORT"
kvx_await_main_loop

# --- Opened from the system menu, before any evaluation --------------------
kvx_expect_eq "$(history_count)" 0 "history windows at start"
choose_history
kvx_drive wait "$HISTORY" 15000 || kvx_fail "the history window did not open"
kvx_expect_eq "$(kvx_drive client "$HISTORY")" "720 420" "history client size"
read -r style _ <<<"$(kvx_drive style "$HISTORY")"
style=$((16#$style))
want=$((0x00C00000 | 0x00080000 | 0x00040000 | 0x00020000 | 0x00010000))
(((style & want) == want)) ||
  kvx_fail "history frame lacks caption, menu, sizing frame or boxes"
kvx_expect_eq "$(kvx_drive text "$HISTORY" 112)" \
  "Seit dem Programmstart wurde noch kein Wasserstand gemessen." \
  "summary before the first evaluation"
kvx_wait_for 30 front_is "$HISTORY" || kvx_fail "the new window is not in front"

# --- Chosen again: still one window, and it comes to the front -------------
kvx_drive activate @main || kvx_fail "could not bring the main window to the front"
kvx_wait_for 30 front_is "KORVALINEX-Steuerprogramm" ||
  kvx_fail "the main window did not come to the front"
choose_history
kvx_wait_for 30 front_is "$HISTORY" ||
  kvx_fail "the history window did not come to the front: $(kvx_drive front)"
kvx_expect_eq "$(history_count)" 1 "history windows after a second choice"
# Minimised, it is restored by the next choice.
kvx_drive show "$HISTORY" min || kvx_fail "could not minimise the history window"
minimised() { [[ $(kvx_drive client "$HISTORY") == "0 0" ]]; }
kvx_wait_for 30 minimised || kvx_fail "the history window did not minimise"
choose_history
restored() { [[ $(kvx_drive client "$HISTORY") == "720 420" ]]; }
kvx_wait_for 30 restored || kvx_fail "the history window was not restored"
kvx_wait_for 30 front_is "$HISTORY" || kvx_fail "the restored window is not in front"
kvx_expect_eq "$(history_count)" 1 "history windows after a third choice"

# --- A quick cycle: period 0 -----------------------------------------------
kvx_measure_every_tick
kvx_sim level 330 >/dev/null  # full again for the first evaluation

# The open window follows the evaluations. The well drains from 330 counts
# past the Maximum (about 242) and the Minimum (about 43) in some 40 s;
# output 4 goes on, and rain fills the well again.
kvx_wait_for 30 history_says "Zuletzt: " || kvx_fail "the history window shows no evaluation"
dry() { [[ $(kvx_sim output 4) == 1 ]]; }
kvx_wait_for 90 dry || kvx_fail "output 4 did not go on for a dry well"
kvx_sim rates 12 0 >/dev/null
risen() { (($(kvx_sim level | cut -d. -f1) > 150)); }
kvx_wait_for 60 risen || kvx_fail "the well did not fill above 150 counts"
summary=$(kvx_drive text "$HISTORY" 112)
changed() { [[ $(kvx_drive text "$HISTORY" 112) != "$summary" ]]; }
kvx_wait_for 30 changed || kvx_fail "the summary did not follow the next evaluation"
summary=$(kvx_drive text "$HISTORY" 112)
kvx_log "summary: $summary"
[[ $summary == *"Tiefster: "*$'H\xf6chster: '* ]] ||
  kvx_fail "summary without the lowest and highest level: $summary"

# --- The picture on the screen ----------------------------------------------
# The clicks on the main window's buttons brought it to the front; the
# menu brings the history window back over it.
choose_history
kvx_wait_for 30 front_is "$HISTORY" || kvx_fail "the history window did not come to the front"
read -r l t r b <<<"$(kvx_drive rect "$HISTORY")"
read -r ox oy <<<"$(kvx_drive origin "$HISTORY")"
# The picture: the client area above the strip of the summary and button.
picture_colours() {
  import -window root "$KVX_TMP/screen.png" || return 1
  convert "$KVX_TMP/screen.png" -crop "720x384+$ox+$oy" -format %c \
    histogram:info:- >"$KVX_TMP/colours"
}
# Level line 0x00A05000, Maximum line 0x00C00000, bands of output 4
# 0x00C8C8FF and of output 5 0x00FFDCB4, background white (as RGB on the
# screen).
drawn() {
  picture_colours &&
    grep -q '#0050A0' "$KVX_TMP/colours" &&
    grep -q '#0000C0' "$KVX_TMP/colours" &&
    grep -q '#FFC8C8' "$KVX_TMP/colours" &&
    grep -q '#B4DCFF' "$KVX_TMP/colours" &&
    grep -q '#FFFFFF' "$KVX_TMP/colours"
}
kvx_wait_for 30 drawn ||
  kvx_fail "the picture lacks the level, the Maximum or a band: $(sort -rn "$KVX_TMP/colours" | head -n 8 | tr '\n' ' ')"
# Kept for a comparison of two runs without what follows the pace of the
# run: the chart below its legend (its time axis follows the clock, its
# line the levels the evaluations happened to meet), the events and the
# summary (times of day and levels).
read -r _ dry_top _ <<<"$(kvx_drive rect "$HISTORY" 117)"
kvx_keep_screen picture "paced=$HISTORY:+0,26,720,$((dry_top - 2 - oy - 26))" \
  "paced=$HISTORY:116" "paced=$HISTORY:112"
if [[ -n ${KVX_HISTORY_PNG:-} ]]; then
  convert "$KVX_TMP/screen.png" -crop "$((r - l))x$((b - t))+$l+$t" +repage \
    "$KVX_HISTORY_PNG" || kvx_fail "could not write $KVX_HISTORY_PNG"
  kvx_log "screenshot: $KVX_HISTORY_PNG"
fi

# button 113 stands at the bottom right corner of a client area $1 x $2.
button_placed() {
  local ox oy br bb
  read -r ox oy <<<"$(kvx_drive origin "$HISTORY")"
  read -r _ _ br bb <<<"$(kvx_drive rect "$HISTORY" 113)"
  ((br == ox + $1 - 10 && bb == oy + $2 - 7))
}

# --- Minimised while it follows the well, it comes back as it was -----------
kvx_drive show "$HISTORY" min || kvx_fail "could not minimise the history window"
kvx_wait_for 30 minimised || kvx_fail "the history window did not minimise"
summary=$(kvx_drive text "$HISTORY" 112)
kvx_wait_for 30 changed || kvx_fail "the minimised window did not follow the evaluations"
choose_history
kvx_wait_for 30 restored || kvx_fail "the history window was not restored"
button_placed 720 420 ||
  kvx_fail "button 113 misplaced after the restore: $(kvx_drive rect "$HISTORY" 113)"

# --- A new size: the button keeps to the bottom right corner ---------------
# With the measurement off no evaluation redraws the window: only the
# resizing can move its controls.
kvx_drive click @main 86 || kvx_fail "could not switch the measurement off"
kvx_wait_for 30 kvx_shows 20 "keine Messung" || kvx_fail "label 20 after AUS"
kvx_drive size "$HISTORY" 600 360 || kvx_fail "could not resize the history window"
kvx_expect_eq "$(kvx_drive client "$HISTORY")" "600 360" "client after resizing"
kvx_wait_for 30 button_placed 600 360 ||
  kvx_fail "button 113 did not follow the new size: $(kvx_drive rect "$HISTORY" 113)"
# The operator cannot make it smaller than its least size.
kvx_drive size "$HISTORY" 100 80 || kvx_fail "could not resize the history window"
read -r w h <<<"$(kvx_drive client "$HISTORY")"
((w >= 360 && h >= 240)) || kvx_fail "the history window shrank to $w x $h"

# --- Closing it leaves the program running ------------------------------------
kvx_drive close "$HISTORY" || kvx_fail "could not send the close request"
kvx_drive gone "$HISTORY" 10000 || kvx_fail "the close request did not close it"
kvx_alive "$KVX_PROGRAM_PID" || kvx_fail "the program ended with the history window"
kvx_drive wait @main 0 || kvx_fail "the main window went with the history window"
# The main loop goes on: the board gets a further whole query.
commands=$(kvx_sim count)
[[ $(kvx_sim wait $((commands + 14)) 10000) == OK ]] ||
  kvx_fail "the board got no further query after the close"

# Opened anew (with the history so far), closed by its button.
choose_history
kvx_drive wait "$HISTORY" 15000 || kvx_fail "the history window did not open again"
kvx_expect_eq "$(kvx_drive client "$HISTORY")" "720 420" "client when opened again"
kvx_wait_for 30 history_says "Zuletzt: " || kvx_fail "the window opened again without the history"
kvx_drive click "$HISTORY" 113 || kvx_fail "could not click button 113"
kvx_drive gone "$HISTORY" 10000 || kvx_fail "button 113 did not close the window"
kvx_alive "$KVX_PROGRAM_PID" || kvx_fail "the program ended with the history window"

# --- QUIT --------------------------------------------------------------------
kvx_drive click @main 82 || kvx_fail "could not click QUIT"
kvx_wait_program_end 30 || kvx_fail "program did not end after QUIT"
kvx_expect_eq "$KVX_PROGRAM_RC" 0 "exit code after QUIT"

kvx_log "PASS"
