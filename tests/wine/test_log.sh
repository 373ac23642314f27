#!/bin/bash
# The level log under Wine, against a draining well: with /log FOLDER the
# program appends one line per evaluation to the month's CSV file there
# (header, CR LF, the spreadsheet's form) while the dry well switches
# output 4 on; started again with the same folder, its history window
# shows the earlier levels before any new evaluation; the window's save
# button and the standard save dialog write the history as CSV. Started
# with a folder that is not there yet, and the folder made (with the first
# run's file in it) while it runs: the next evaluation reads it back, once,
# and writes the lines that waited after it.
KVX_BOARD_PORT=0 # a board port of its own: runs beside the other tests
source "$(dirname "$0")/lib.sh"

HISTORY="KORVALINEX: Verlauf des Wasserstands"
HISTORY_ITEM=0x10 # "Verlauf des Wasserstands..." in the system menu
SAVE_DIALOG="Verlauf als CSV speichern"
HEADER="Zeit;Art;Stand Ausgang 5 (V);Ausgang 5;Stand Ausgang 4 (V);Ausgang 4;Messwert;Meldung;Zeit (UTC)"
TIME='[0-3][0-9]\.[01][0-9]\.20[0-9][0-9] [0-2][0-9]:[0-5][0-9]:[0-5][0-9]'
LINE="^$TIME;Messung;[0-9]*(,[0-9]+)?;(EIN|AUS)?;[0-9]*(,[0-9]+)?;(EIN|AUS)?;(sicher|unsicher);;$TIME\$"
EVENT="^$TIME;Ereignis;[0-9]*(,[0-9]+)?;(EIN|AUS)?;[0-9]*(,[0-9]+)?;(EIN|AUS)?;;[^;]+;$TIME\$"

LOG_DIR="$KVX_TMP/log"
mkdir -p "$LOG_DIR"
# The same folder as Windows sees it (drive Z: is the root).
LOG_FOLDER="Z:${LOG_DIR//\//\\}"

log_file() { ls "$LOG_DIR"/korvalinex-20[0-9][0-9]-[01][0-9].csv 2>/dev/null | head -n 1; }
log_lines() { local f; f=$(log_file) && [[ -n $f ]] && tr -d '\r' <"$f" | wc -l || echo 0; }

# Checks the file $1: the header first, then evaluation lines and alarm
# event lines, every line ended by CR LF; sets EVALUATIONS and EVENTS.
check_csv() {
  # The texts are Windows-1252 bytes (the start's event: "Wächter").
  local LC_ALL=C
  local file=$1 n=0 events=0 line
  [[ -f $file ]] || kvx_fail "no file $file"
  [[ $(tail -c 2 "$file" | od -An -tx1 | tr -d ' ') == 0d0a ]] ||
    kvx_fail "$file does not end with CR LF"
  (($(grep -c $'\r$' "$file") == $(wc -l <"$file"))) ||
    kvx_fail "$file has a line without CR LF"
  while IFS= read -r line; do
    line=${line%$'\r'}
    if ((n == 0)); then
      kvx_expect_eq "$line" "$HEADER" "first line of $file"
    else
      if [[ $line =~ $EVENT ]]; then
        events=$((events + 1))
      else
        [[ $line =~ $LINE ]] || kvx_fail "line $((n + 1)) of $file: '$line'"
      fi
    fi
    ((n++))
  done <"$file"
  EVALUATIONS=$((n - 1 - events))
  EVENTS=$events
}

choose_history() {
  kvx_drive syscommand @main "$HISTORY_ITEM" ||
    kvx_fail "the main window took no system command"
  kvx_drive wait "$HISTORY" 15000 || kvx_fail "the history window did not open"
}

quit_program() {
  kvx_drive click @main 82 || kvx_fail "could not click QUIT"
  kvx_wait_program_end 30 || kvx_fail "program did not end after QUIT"
  kvx_expect_eq "$KVX_PROGRAM_RC" 0 "exit code after QUIT"
}

kvx_start_display
kvx_prepare_prefix
# 80 counts (0.39 V), draining by 6 counts a second while output 4 is off:
# below the Minimum (about 43 counts) within some 10 s.
kvx_start_simulator --level 80 --inflow 0 --draw 6

# --- First run: the dry well, line by line ----------------------------------
kvx_start_program /log "$LOG_FOLDER" 127.0.0.1 "$KVX_BOARD_PORT"
kvx_await_main_loop
kvx_measure_every_tick
dry() { [[ $(kvx_sim output 4) == 1 ]]; }
kvx_wait_for 60 dry || kvx_fail "output 4 did not go on for a dry well"
# The evaluation that switched output 4 on is in the file.
switched() { f=$(log_file) && [[ -n $f ]] && grep -q ';EIN;sicher;;' "$f"; }
kvx_wait_for 30 switched || kvx_fail "no line with output 4 on in the log: $(ls "$LOG_DIR")"
# The file grows with each evaluation, as it happens; the run goes on to
# three of them at least (on a slow start the well may be dry at the first).
measurements() {
  local f
  f=$(log_file)
  [[ -n $f ]] || { echo 0; return; }
  grep -c ';Messung;' "$f" || true
}
before=$(measurements)
grown() { (($(measurements) > before && $(measurements) >= 3)); }
kvx_wait_for 60 grown || kvx_fail "the log did not grow past $before evaluations to three"
kvx_drive click @main 86 || kvx_fail "could not switch the measurement off"
kvx_wait_for 30 kvx_shows 20 "keine Messung" || kvx_fail "label 20 after AUS"
quit_program
FILE=$(log_file)
check_csv "$FILE"
first_run=$EVALUATIONS
((first_run >= 3)) || kvx_fail "only $first_run evaluations in the log"
kvx_log "first run: $first_run evaluations in $(basename "$FILE")"
last_line=$(grep ";Messung;" "$FILE" | tail -n 1 | tr -d "\r")

# --- Second run: the history is back before any evaluation -------------------
kvx_sim level 200 >/dev/null
kvx_start_program /LOG "$LOG_FOLDER" 127.0.0.1 "$KVX_BOARD_PORT"
kvx_await_main_loop
choose_history
earlier_levels() {
  summary=$(kvx_drive text "$HISTORY" 112)
  [[ $summary == "Zuletzt: "*"Tiefster: "*$'H\xf6chster: '* ]]
}
kvx_wait_for 30 earlier_levels ||
  kvx_fail "the restarted history shows no earlier levels: $summary"
kvx_log "summary after the restart: $summary"
kvx_expect_eq "$(kvx_drive text "$HISTORY" 114)" "" "log line of the history window"
# Nothing was written at start.
check_csv "$FILE"
kvx_expect_eq "$EVALUATIONS" "$first_run" "evaluations in the log after the restart"

# --- The save button: the standard dialog writes the CSV --------------------
kvx_drive click "$HISTORY" 115 || kvx_fail "could not click the save button"
SAVED="$KVX_TMP/verlauf.csv"
kvx_drive save "$SAVE_DIALOG" "Z:${SAVED//\//\\}" 15000 ||
  kvx_fail "could not fill in the save dialog"
saved() { [[ -s $SAVED ]]; }
kvx_wait_for 30 saved || kvx_fail "the save dialog wrote no file"
said() { [[ $(kvx_drive text "$HISTORY" 114) == "Verlauf gespeichert: "* ]]; }
kvx_wait_for 30 said || kvx_fail "line 114 after saving: $(kvx_drive text "$HISTORY" 114)"
check_csv "$SAVED"
kvx_expect_eq "$EVALUATIONS" "$first_run" "evaluations in the saved file"
kvx_expect_eq "$(tail -n 1 "$SAVED" | tr -d '\r')" "$last_line" "last line of the saved file"
quit_program

# --- Third run: the folder comes after the start ------------------------------
LATE_DIR="$KVX_TMP/late"
LATE_FOLDER="Z:${LATE_DIR//\//\\}"
# A well that stands still, high: this run's levels are all above the
# first run's lowest.
kvx_sim rates 0 0 >/dev/null
kvx_sim level 200 >/dev/null
kvx_start_program /log "$LATE_FOLDER" 127.0.0.1 "$KVX_BOARD_PORT"
kvx_await_main_loop
choose_history
missing() { [[ $(kvx_drive text "$HISTORY" 114) == "Protokollordner "*" nicht gefunden."* ]]; }
kvx_wait_for 30 missing || kvx_fail "line 114 without the folder: $(kvx_drive text "$HISTORY" 114)"
kvx_measure_every_tick
waiting() { [[ $(kvx_drive text "$HISTORY" 114) == *" nachgeschrieben, sobald"* ]]; }
kvx_wait_for 30 waiting || kvx_fail "no evaluation waits for the folder: $(kvx_drive text "$HISTORY" 114)"
mkdir -p "$LATE_DIR"
cp "$FILE" "$LATE_DIR/"
LATE_FILE="$LATE_DIR/$(basename "$FILE")"
late_written() { (($(grep -c ';Messung;' "$LATE_FILE") > first_run)); }
kvx_wait_for 30 late_written || kvx_fail "nothing written to the folder made late"
cleared() { [[ $(kvx_drive text "$HISTORY" 114) == "" ]]; }
kvx_wait_for 30 cleared || kvx_fail "line 114 once the folder is there: $(kvx_drive text "$HISTORY" 114)"
# The first run's lowest level (the dry well) is the history's lowest now.
low=$(kvx_drive text "$HISTORY" 112)
[[ $low == *"Tiefster: 0,"[0-2]* ]] || kvx_fail "the late read-back missed the earlier levels: $low"
kvx_drive click @main 86 || kvx_fail "could not switch the measurement off"
kvx_wait_for 30 kvx_shows 20 "keine Messung" || kvx_fail "label 20 after AUS"
quit_program
check_csv "$LATE_FILE"
# The first run's lines once, at the top, then this run's.
head -c "$(stat -c %s "$FILE")" "$LATE_FILE" | cmp -s - "$FILE" ||
  kvx_fail "the first run's file was not kept as it was"
dupes=$(grep ';Messung;' "$LATE_FILE" | sort | uniq -d | wc -l)
kvx_expect_eq "$dupes" 0 "evaluation lines written twice"
kvx_log "late folder: $EVALUATIONS evaluations, $first_run of them from the first run"

kvx_log "PASS"
