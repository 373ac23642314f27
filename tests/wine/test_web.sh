#!/bin/bash
# The status page of the Windows program under Wine, against the board
# simulator. Without /web the program's processes hold no listening
# socket. With /web 127.0.0.1:PORT exactly one, on that address; GET of
# the page, the JSON and the picture are answered 200, another method 405,
# another path 404. Headless Chromium (Debian's package) loads the page at
# a phone's size, 360 x 800: its level equals the main window's label 62,
# and a screenshot goes to the file KVX_WEB_PNG names, when it names one.
# Without Chromium the browser's part says so and the test is skipped
# (exit 77) after the rest has run. KVX_CHROMIUM names another browser
# program (a name that is not there tries the skip).
KVX_BOARD_PORT=0 # a board port of its own: runs beside the other tests
source "$(dirname "$0")/lib.sh"

# The listening TCP sockets of this test's Wine processes (the program,
# the driver, the wine server: those whose environment names this
# prefix), as "ADDRESS:PORT" lines; the simulator's are not among them.
wine_listeners() {
  local line pid
  while read -r line; do
    for pid in $(grep -o 'pid=[0-9]*' <<<"$line" | cut -d= -f2 | sort -u); do
      [[ $pid == "$KVX_SIM_PID" ]] && continue
      if tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null |
        grep -qx "WINEPREFIX=$WINEPREFIX"; then
        awk '{print $4}' <<<"$line"
        break
      fi
    done
  done < <(ss -ltnpH 2>/dev/null)
}

# One request to the page over loopback; prints the answer.
web_request() {
  local answer
  exec 5<>"/dev/tcp/127.0.0.1/$WEB_PORT" || return 1
  printf '%b' "$1" >&5
  answer=$(timeout 10 cat <&5 | tr -d '\r')
  exec 5>&-
  printf '%s' "$answer"
}
web_status() { web_request "$1" | head -n 1; }

kvx_start_display
kvx_prepare_prefix
# A full well (330 counts, 1.61 V: output 5 on) that drains by 8 counts a
# second while output 4 is off: the page's picture has something to show.
kvx_start_simulator --level 330 --inflow 0 --draw 8

# --- Without /web: no listening socket --------------------------------------
kvx_start_program 127.0.0.1 "$KVX_BOARD_PORT"
kvx_await_main_loop
kvx_expect_eq "$(wine_listeners)" "" "listening sockets without /web"
kvx_drive close @main || kvx_fail "close request not taken"
kvx_wait_program_end 30 || kvx_fail "the program did not end"
kvx_expect_eq "$KVX_PROGRAM_RC" 0 "exit code"

# --- With /web 127.0.0.1:PORT -----------------------------------------------
WEB_PORT=""
for port in $(kvx__own_ports); do
  ((port == 0)) && port=$((30000 + RANDOM % 20000))
  if kvx_port_free "$port"; then
    WEB_PORT=$port
    break
  fi
done
[[ -n $WEB_PORT ]] || kvx_fail "no free port for the page"
kvx_start_program /web "127.0.0.1:$WEB_PORT" 127.0.0.1 "$KVX_BOARD_PORT"
kvx_await_main_loop
kvx_log "page on 127.0.0.1:$WEB_PORT"
kvx_expect_eq "$(wine_listeners)" "127.0.0.1:$WEB_PORT" "listening sockets with /web"

answered() { [[ $(web_status "GET / HTTP/1.1\r\nHost: b\r\n\r\n") == "HTTP/1.1 200 OK" ]]; }
kvx_wait_for 30 answered || kvx_fail "the page was not answered"
kvx_expect_eq "$(web_status "GET /status.json HTTP/1.0\r\n\r\n")" \
  "HTTP/1.1 200 OK" "the JSON"
kvx_expect_eq "$(web_status "HEAD /verlauf.svg HTTP/1.0\r\n\r\n")" \
  "HTTP/1.1 200 OK" "the picture"
kvx_expect_eq "$(web_status "POST / HTTP/1.1\r\nHost: b\r\nContent-Length: 11\r\n\r\nsetport 4.1")" \
  "HTTP/1.1 405 Method Not Allowed" "POST"
kvx_expect_eq "$(web_status "GET /setport HTTP/1.1\r\nHost: b\r\n\r\n")" \
  "HTTP/1.1 404 Not Found" "another path"
json=$(web_request "GET /status.json HTTP/1.0\r\n\r\n")
[[ $json == *'"verbindung": {"steht": true'* ]] ||
  kvx_fail "the JSON does not show the connection: $json"

# A few evaluations for the picture: a measurement at every tick.
kvx_measure_every_tick
evaluated() { [[ $(web_request "GET /status.json HTTP/1.0\r\n\r\n") == *'"letzte_auswertung": {"zeit": "'* ]]; }
kvx_wait_for 30 evaluated || kvx_fail "no evaluation on the page"
sleep 15

# --- In a real browser ------------------------------------------------------
# KVX_CHROMIUM names the browser (one that is not there tries the skip).
browser=""
for b in ${KVX_CHROMIUM:-chromium chromium-browser}; do
  command -v "$b" >/dev/null && browser=$(command -v "$b") && break
done
if [[ -z $browser ]]; then
  kvx_drive close @main
  kvx_wait_program_end 30
  echo "SKIP: Chromium is not installed (Debian package chromium): the page was not loaded in a browser"
  exit 77
fi
# Loopback only: every host name resolves to nothing, every other address
# goes to a proxy that is not there, and Chromium's own services are off.
chrome() {
  HOME=$KVX_TMP timeout 90 "$browser" --headless=new --no-sandbox \
    --disable-gpu --user-data-dir="$KVX_TMP/chromium" --no-first-run \
    --no-default-browser-check --disable-background-networking \
    --disable-component-update --disable-sync --disable-extensions \
    --disable-default-apps --metrics-recording-only \
    --host-resolver-rules="MAP * ~NOTFOUND, EXCLUDE 127.0.0.1" \
    --proxy-server="http://127.0.0.1:9" --proxy-bypass-list="<-loopback>;127.0.0.1" \
    --hide-scrollbars --window-size=360,800 "$@" \
    2>>"$KVX_TMP/chromium.log"
}
# The level in the page the browser built, beside label 62 read before
# and after it: the same text while the level stands.
same_level() {
  local before after dom shown
  before=$(kvx_drive text @main 62)
  dom=$(chrome --dump-dom "http://127.0.0.1:$WEB_PORT/")
  after=$(kvx_drive text @main 62)
  shown=$(sed -n 's/.*id="stand">\([^<]*\) V<.*/\1/p' <<<"$dom" | head -n 1)
  kvx_log "label 62 '$before'/'$after', page '$shown'"
  [[ -n $shown && $shown == "$before" && $shown == "$after" ]]
}
kvx_wait_for 120 same_level || kvx_fail "the page's level is not label 62's"
chrome --screenshot="$KVX_TMP/web.png" "http://127.0.0.1:$WEB_PORT/" >/dev/null ||
  kvx_fail "Chromium took no screenshot"
[[ $(identify -format '%w %h' "$KVX_TMP/web.png") == "360 800" ]] ||
  kvx_fail "the screenshot is not 360 x 800"
if [[ -n ${KVX_WEB_PNG:-} ]]; then
  cp "$KVX_TMP/web.png" "$KVX_WEB_PNG"
  kvx_log "screenshot in $KVX_WEB_PNG"
fi

kvx_drive close @main || kvx_fail "close request not taken"
kvx_wait_program_end 30 || kvx_fail "the program did not end"
kvx_expect_eq "$KVX_PROGRAM_RC" 0 "exit code"
kvx_log "PASS"
