# The MQTT broker of the tests (sourced): Debian's mosquitto on 127.0.0.1
# and a free port, with a password file (the program's user brunnen,
# password geheim; a reader leser, password lesen) and an access list that
# lets brunnen write only its own topics and leser only read.
#
#   mqtt_broker_found          false when mosquitto or its clients are missing
#   mqtt_broker_start DIR      starts it, its files and log in DIR; sets
#                              MQTT_PORT and MQTT_BROKER_PID; false when it
#                              does not listen within 5 s
#   mqtt_sub ARGS...           mosquitto_sub as leser
#   mqtt_retained              the retained messages now, "TOPIC PAYLOAD"
#   mqtt_status_within S WORD  the retained status is WORD within S seconds

mqtt_broker_found() {
  MQTT_BROKER=$(command -v mosquitto || true)
  [[ -n $MQTT_BROKER || ! -x /usr/sbin/mosquitto ]] ||
    MQTT_BROKER=/usr/sbin/mosquitto
  [[ -n $MQTT_BROKER ]] && command -v mosquitto_sub >/dev/null &&
    command -v mosquitto_passwd >/dev/null
}

mqtt_broker_start() {
  local dir=$1 _
  mqtt_broker_found || return 1
  MQTT_PORT=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
  mosquitto_passwd -b -c "$dir/passwd" brunnen geheim >/dev/null 2>&1
  mosquitto_passwd -b "$dir/passwd" leser lesen >/dev/null 2>&1
  cat >"$dir/acl" <<ACL
user brunnen
topic write korvalinex/brunnen/#
topic write homeassistant/+/korvalinex_brunnen/#

user leser
topic read #
ACL
  # As the user the test runs as (as root, mosquitto would otherwise
  # become the user mosquitto, who may not read this folder).
  cat >"$dir/mosquitto.conf" <<CONF
user $(id -un)
listener $MQTT_PORT 127.0.0.1
allow_anonymous false
password_file $dir/passwd
acl_file $dir/acl
persistence false
log_dest file $dir/broker.log
log_type all
connection_messages true
CONF
  "$MQTT_BROKER" -c "$dir/mosquitto.conf" >/dev/null 2>&1 &
  MQTT_BROKER_PID=$!
  for _ in $(seq 50); do
    (exec 3<>"/dev/tcp/127.0.0.1/$MQTT_PORT") 2>/dev/null && return 0
    sleep 0.1
  done
  return 1
}

mqtt_sub() {
  timeout 100 mosquitto_sub -h 127.0.0.1 -p "$MQTT_PORT" -u leser -P lesen "$@"
}

mqtt_retained() {
  mqtt_sub -t 'korvalinex/#' -t 'homeassistant/#' -v --retained-only -W 2 \
    2>/dev/null || true
}

mqtt_status_within() {
  local i
  for ((i = 0; i < $1 * 5; i++)); do
    [[ $(mqtt_sub -t korvalinex/brunnen/status --retained-only -C 1 -W 1 \
      2>/dev/null || true) == "$2" ]] && return 0
    sleep 0.2
  done
  return 1
}
