#!/usr/bin/env python3
"""The retained messages of the well at the broker, as mosquitto_sub -v
printed them ("TOPIC PAYLOAD" a line), checked: the program online, the
board online, the outputs, the trust and the guard's sight; the discovery
configs of one device with their required keys, each available only with
the program (and, but for the board's link itself, with the board), the
level a voltage measured, output 4 a problem, the board's link a
diagnostic connectivity, the last evaluation a timestamp. Prints what is
missing; exit code 1 then.

    python3 tests/mqtt_check_retained.py FILE
"""
import json, sys
messages = {}
for line in open(sys.argv[1], encoding="utf-8"):
    topic, _, payload = line.rstrip("\n").partition(" ")
    messages[topic] = payload
bad = []
def need(cond, what):
    if not cond:
        bad.append(what)
need(messages.get("korvalinex/brunnen/status") == "online", "status online")
need(messages.get("korvalinex/brunnen/board") == "online", "board online")
for n in range(1, 9):
    need(messages.get(f"korvalinex/brunnen/output/{n}") in ("ON", "OFF"),
         f"output {n}")
need(messages.get("korvalinex/brunnen/trusted") in ("ON", "OFF"), "trusted")
need(messages.get("korvalinex/brunnen/guard_blind") == "OFF", "guard_blind")
configs = {t: p for t, p in messages.items() if t.startswith("homeassistant/")}
need(len(configs) >= 13, f"13 discovery configs, {len(configs)} found")
device = None
for topic, payload in configs.items():
    need(topic.split("/")[2] == "korvalinex_brunnen" and
         topic.endswith("/config"), f"config topic {topic}")
    try:
        c = json.loads(payload)
    except ValueError as e:
        bad.append(f"{topic}: not JSON: {e}")
        continue
    for key in ("name", "unique_id", "state_topic", "availability", "device"):
        need(key in c, f"{topic}: {key}")
    need(c.get("state_topic", "").startswith("korvalinex/brunnen/"),
         f"{topic}: state_topic")
    d = c.get("device", {})
    for key in ("identifiers", "name", "model", "sw_version"):
        need(key in d, f"{topic}: device.{key}")
    if device is None:
        device = d.get("identifiers")
    need(d.get("identifiers") == device, f"{topic}: one device")
    topics = [a.get("topic") for a in c.get("availability", [])]
    need("korvalinex/brunnen/status" in topics, f"{topic}: availability")
    if not topic.endswith("/board/config"):
        need(c.get("availability_mode") == "all" and
             "korvalinex/brunnen/board" in topics,
             f"{topic}: availability of program and board")
level = json.loads(configs.get(
    "homeassistant/sensor/korvalinex_brunnen/level/config", "{}"))
need(level.get("device_class") == "voltage", "level: voltage")
need(level.get("state_class") == "measurement", "level: measurement")
need(level.get("unit_of_measurement") == "V", "level: V")
need(isinstance(level.get("expire_after"), int), "level: expire_after")
dry = json.loads(configs.get(
    "homeassistant/binary_sensor/korvalinex_brunnen/output_4/config", "{}"))
need(dry.get("device_class") == "problem", "output 4: problem")
board = json.loads(configs.get(
    "homeassistant/binary_sensor/korvalinex_brunnen/board/config", "{}"))
need(board.get("device_class") == "connectivity" and
     board.get("entity_category") == "diagnostic", "board: connectivity")
last = json.loads(configs.get(
    "homeassistant/sensor/korvalinex_brunnen/last_evaluation/config", "{}"))
need(last.get("device_class") == "timestamp", "last evaluation: timestamp")
for b in bad:
    print("FAIL: " + b)
print(f"== {len(messages)} retained messages, {len(configs)} configs checked")
sys.exit(1 if bad else 0)
