#!/usr/bin/env bash
# The program against a real MQTT broker: Debian's mosquitto on 127.0.0.1
# and a free port, with a password file and an access list that lets the
# program's user write only its own topics, started and stopped here. The
# program runs over the headless platform in real time (kvx-mqtt-run,
# with the board simulator in its process); mosquitto_sub reads back as a
# user that may only read.
#   - the discovery configs with their required keys, the retained states,
#     "online";
#   - "offline" after QUIT;
#   - the will "offline" within 1.5 x keep-alive (90 s) after the program
#     is killed;
#   - a wrong password refused and tried again 30 s later, never online;
#   - no SUBSCRIBE from the program and nothing of it denied in the
#     broker's log.
# Skipped (exit 77) when mosquitto or its clients are not installed.
# Runs for about 90 s.
set -euo pipefail
run=${KVX_MQTT_RUN:?the kvx-mqtt-run program}
source "$(dirname "$0")/mqtt_broker_lib.sh"
if ! mqtt_broker_found; then
  echo "SKIP: mosquitto and mosquitto-clients are not installed" \
    "(apt-get install mosquitto mosquitto-clients)"
  exit 77
fi

work=$(mktemp -d)
MQTT_BROKER_PID=""
program_pid=""
cleanup() {
  [[ -z $program_pid ]] || kill -9 "$program_pid" 2>/dev/null || true
  [[ -z $MQTT_BROKER_PID ]] || kill "$MQTT_BROKER_PID" 2>/dev/null || true
  [[ -z $MQTT_BROKER_PID ]] || wait "$MQTT_BROKER_PID" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
failed=0
fail() {
  echo "FAIL: $*"
  failed=1
}

if ! mqtt_broker_start "$work"; then
  echo "FAIL: mosquitto did not listen within 5 s"
  cat "$work/broker.log" 2>/dev/null || true
  exit 1
fi
port=$MQTT_PORT
echo "== mosquitto on 127.0.0.1:$port"

printf 'brunnen\ngeheim\n' >"$work/login.txt"
printf 'brunnen\nfalsch\n' >"$work/wrong.txt"
mqtt=(/mqtt "127.0.0.1:$port" /mqtt-login 'C:\Brunnen\mqtt.txt')
sub() { mqtt_sub "$@"; }
retained() { mqtt_retained; }
status_within() { mqtt_status_within "$@"; }

# --- A run of 15 s, then QUIT --------------------------------------------------
echo "== the program for 15 s"
"$run" --seconds 15 --login "$work/login.txt" "${mqtt[@]}" >"$work/run1.out" &
program_pid=$!
status_within 10 online || fail "no retained 'online' within 10 s"
sleep 2
retained >"$work/retained.txt"
wait "$program_pid" || fail "the program's run: $(cat "$work/run1.out")"
program_pid=""
cat "$work/run1.out"
python3 "$(dirname "$0")/mqtt_check_retained.py" "$work/retained.txt" ||
  failed=1
status_within 3 offline || fail "no retained 'offline' after QUIT"

# --- Killed: the will ---------------------------------------------------------
echo "== the program killed: its will"
"$run" --seconds 120 --login "$work/login.txt" "${mqtt[@]}" >/dev/null &
program_pid=$!
status_within 10 online || fail "no 'online' on the second run"
sub -t korvalinex/brunnen/status -C 2 -W 95 >"$work/will.txt" 2>/dev/null &
watcher=$!
sleep 1
kill -9 "$program_pid"
killed=$(date +%s%N)
wait "$program_pid" 2>/dev/null || true
program_pid=""
wait "$watcher" || true
took=$((($(date +%s%N) - killed) / 1000000))
if [[ $(tail -n 1 "$work/will.txt") == offline ]] && ((took <= 90000)); then
  echo "== the will 'offline' came $took ms after the kill"
else
  fail "no will 'offline' within 90 s of the kill ($took ms): $(cat "$work/will.txt")"
fi

# --- A wrong password ---------------------------------------------------------
echo "== a wrong password, for 35 s"
"$run" --seconds 35 --login "$work/wrong.txt" "${mqtt[@]}" >"$work/run3.out" ||
  fail "the run with the wrong password: $(cat "$work/run3.out")"
cat "$work/run3.out"
grep -qx 'accepted=0' "$work/run3.out" || fail "a wrong password was accepted"
grep -qE '^refused=[2-9]' "$work/run3.out" ||
  fail "a wrong password not refused and tried again 30 s later"
grep -qE '^last_refusal=[45]$' "$work/run3.out" || fail "refused otherwise"
grep -q 'Benutzer oder Passwort falsch\|nicht berechtigt' "$work/run3.out" ||
  fail "the refusal not told"
[[ $(retained | grep '^korvalinex/brunnen/status ') == \
  "korvalinex/brunnen/status offline" ]] || fail "online with a wrong password"

# --- The broker's log ---------------------------------------------------------
grep -q 'Received PUBLISH from korvalinex-brunnen' "$work/broker.log" ||
  fail "no PUBLISH of the program in the broker's log"
if grep -E '(SUBSCRIBE|Denied).* korvalinex-brunnen|korvalinex-brunnen.*(SUBSCRIBE|Denied)' \
  "$work/broker.log"; then
  fail "the program subscribed or was denied"
fi

if ((failed)); then
  echo "== the broker's log (its end):"
  tail -n 40 "$work/broker.log"
  echo "FAILED"
  exit 1
fi
echo "PASS"
