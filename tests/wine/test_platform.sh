#!/bin/bash
# The platform contract on the Windows layer: kvx-platform-checks.exe runs
# the checks the native suite runs on the headless layer (one line each)
# and ends with exit code 0 only when every one held. Its sockets stay on
# loopback ports of their own.
KVX_BOARD_PORT=0 # a board port of its own: runs beside the other tests
source "$(dirname "$0")/lib.sh"

KVX_CHECKS_EXE="$KVX_WIN_BUILD/kvx-platform-checks.exe"

kvx_start_display
kvx_prepare_prefix
kvx_check_exe "$KVX_CHECKS_EXE"

kvx_log "run $(basename "$KVX_CHECKS_EXE")"
timeout 120 "$KVX_WINE_LOADER" "$KVX_CHECKS_EXE" "$@" \
  >"$KVX_TMP/checks.log" 2>"$KVX_TMP/checks-stderr.log" 8>&-
rc=$?
# A Windows program's lines end in CR LF.
tr -d '\r' <"$KVX_TMP/checks.log" >"$KVX_TMP/checks.txt"
cat "$KVX_TMP/checks.txt"
((rc == 124)) && kvx_fail "the checks did not end within 120 s (a wait that blocks)"
grep -q ' checks held$' "$KVX_TMP/checks.txt" ||
  kvx_fail "the checks did not run to their end"
((rc == 0)) || kvx_fail "$(grep -c '^FAIL' "$KVX_TMP/checks.txt") checks failed (exit code $rc)"
kvx_log "all checks held"
