// The home automation's discovery: one retained config a thing, under
// homeassistant/COMPONENT/korvalinex_NAME/THING/config, all of one device
// (the well, known by its board's address and port). Every thing is
// available only while both the program and its board's link are (the
// link itself only while the program is), so the level goes unavailable
// when either is down and never stands at a stale last value; the level
// also expires a little over two cycles after the last evaluation.
#pragma once

#include <vector>

#include "base/state.h"
#include "mqtt/mqtt_topics.h"

// Seconds after which the level counts as stale: two cycles and a minute.
int MqttLevelExpiry(int cyclePeriodSeconds);

std::vector<MqttMessage> MqttDiscoveryMessages(const MqttSettings& settings,
                                               const MqttSnapshot& s);
