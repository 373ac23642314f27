#!/bin/bash
# The board's data under Wine against a board that writes its Version a
# line at a time, 50 ms between the lines (longer than the program's pause
# after a line of a plain board query): from the second board query on,
# label 17 shows the Version's three lines under "Firmware:" and the
# board's own address under "Board-IP:" (its mask and gateway beneath),
# query after query; never a line of the Version in the place of the
# address.
KVX_BOARD_PORT=0 # a board port of its own: runs beside the other tests
source "$(dirname "$0")/lib.sh"

# Label 17 as it must read.
board_data() {
  printf '%s' "Daten aus dem Board:"$'\r\r'"Firmware:"$'\r'"uC: ATmega32"$'\r\n'"Ver: 1.5"$'\r\n'"NIC: ENC28J60"$'\r\n\r'"Einstellungen:"$'\r'"Board-IP: $BOARD_IP"$'\r\n'"Subnetz: $BOARD_MASK"$'\r\n'"Gateway: $BOARD_GW"$'\r'
}

# How many times the board was asked for $1 (since the start).
asked() {
  kvx_sim log | awk -v w="$1" '$2 == "text" {
    $1 = ""; $2 = ""; sub(/^  /, ""); sub(/ \\x5cr\\x5cn$/, "")
    if ($0 == w) n++ } END { print n + 0 }'
}
third_query_begun() { (($(asked Help) >= 3)); }

# Splits the output of "kvx-drive watch" (in $1) into SAMPLE_TIMES and
# SAMPLE_TEXTS: a sample begins with its time and a tab, its text may span
# lines; the summary line is left out.
split_watch() {
  SAMPLE_TIMES=()
  SAMPLE_TEXTS=()
  local line n=-1
  while IFS= read -r line; do
    if [[ $line =~ ^([0-9]+)$'\t'(.*)$ ]]; then
      ((n++))
      SAMPLE_TIMES[n]=${BASH_REMATCH[1]}
      SAMPLE_TEXTS[n]=${BASH_REMATCH[2]}
    elif [[ $line == samples=* ]]; then
      WATCH_SUMMARY=$line
    elif ((n >= 0)); then
      SAMPLE_TEXTS[n]+=$'\n'$line
    fi
  done <<<"$1"
}

kvx_start_display
kvx_prepare_prefix
kvx_start_simulator --line-gap 50,VERSION
read -r BOARD_IP BOARD_MASK BOARD_GW <<<"$(kvx_sim network)"
[[ -n $BOARD_GW ]] || kvx_fail "the simulator's network settings are unreadable"
kvx_start_program 127.0.0.1 "$KVX_BOARD_PORT"
kvx_drive wait @main 60000 || kvx_fail "main window did not appear"

# The second query was shown once the third has begun; from then on every
# query must show the board's data in its places.
kvx_wait_for 60 third_query_begun || kvx_fail "no third board query within 60 s"
kvx_log "the third board query has begun; label 17 is watched for 10 s"
out=$(kvx_drive watch @main 17 10000) || kvx_fail "label 17 not answered"
split_watch "$out"
((${#SAMPLE_TEXTS[@]} > 0)) || kvx_fail "no samples of label 17: $out"
want=$(board_data)
versions=$(asked Version)
kvx_log "label 17 sampled for 10 s (${WATCH_SUMMARY:-no summary}); $versions Version queries so far"
((versions >= 10)) || kvx_fail "only $versions board queries by the end of the watch"
wrong=0
first_wrong=""
for ((i = 0; i < ${#SAMPLE_TEXTS[@]}; i++)); do
  text=${SAMPLE_TEXTS[i]}
  [[ $text == "$want" ]] && continue
  ((wrong++))
  ip_line=${text#*Board-IP: }
  ip_line=${ip_line%%$'\r'*}
  kvx_log "label 17 at ${SAMPLE_TIMES[i]} ms of the watch: Board-IP '$ip_line'"
  [[ -n $first_wrong ]] ||
    first_wrong="$(printf '%s' "$text" | cat -A | tr '\n' ' ')"
done
((wrong == 0)) ||
  kvx_fail "$wrong of the ${#SAMPLE_TEXTS[@]} texts of label 17 misplaced the board's data; the first: $first_wrong"
kvx_log "label 17 was right in all ${#SAMPLE_TEXTS[@]} different texts it showed"

kvx_drive click @main 82 || kvx_fail "could not click QUIT"
kvx_wait_program_end 30 || kvx_fail "program did not end after QUIT"
kvx_expect_eq "$KVX_PROGRAM_RC" 0 "exit code after QUIT"
kvx_log "PASS"
