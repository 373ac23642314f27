// What the MQTT client publishes (base/mqtt_status.h), written from the
// state record after each board query and each evaluation, and each alarm
// event as it is announced; only with /mqtt.
#pragma once

#include <cstdint>

#include "base/state.h"

// Takes the board's link, its outputs, the last evaluation, the trust in
// the readings, the guard's blindness and the sensor's grade. Nothing
// without /mqtt.
void TakeMqttSnapshot();

// An alarm event as announced: its short name, its text, its level (NaN:
// none), its local and universal time. The oldest waiting are dropped
// beyond MqttEventsKept. Nothing without /mqtt.
void NoteMqttEvent(const char* name, const Text& message, double level,
                   int64_t local, int64_t universal);
