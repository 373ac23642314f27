// What the program publishes: the topics under korvalinex/NAME/, their
// payloads from the snapshot (base/mqtt_status.h), and the alarm events
// as JSON. States are retained, events not.
//
//   korvalinex/NAME/status          online | offline (the will)
//   korvalinex/NAME/board           online | offline: the board's link
//   korvalinex/NAME/level           the last evaluation's level, V
//   korvalinex/NAME/output/N        ON | OFF, outputs 1..8
//   korvalinex/NAME/trusted         ON | OFF: no evaluation in doubt now
//   korvalinex/NAME/guard_blind     ON | OFF
//   korvalinex/NAME/sensor          gut | verdächtig | ausgefallen (/sensor)
//   korvalinex/NAME/last_evaluation the last evaluation's time
//   korvalinex/NAME/event           {"name", "text", "time", "level"}
#pragma once

#include <vector>

#include "base/state.h"

struct MqttMessage {
  Text Topic;
  Text Payload;
  bool Retain;
  // Sent with every new evaluation, also when the payload is the same: the
  // home automation counts the level stale when it stops coming.
  bool EveryEvaluation;
};

Text MqttBaseTopic(const MqttSettings& settings);
Text MqttStatusTopic(const MqttSettings& settings);
Text MqttBoardTopic(const MqttSettings& settings);
// The client's identifier at the broker: korvalinex-NAME.
Text MqttClientIdentifier(const MqttSettings& settings);
// The well's identifier in the home automation, from the board's address
// and port: korvalinex_192_168_1_50_50290.
Text MqttDeviceIdentifier(const MqttSnapshot& s);

// The states of the snapshot, the board's link first. Outputs the board has
// not said on this connection and a level not read are left out (their
// availability says why).
std::vector<MqttMessage> MqttStateMessages(const MqttSettings& settings,
                                           const MqttSnapshot& s);
// An alarm event, not retained.
MqttMessage MqttEventMessage(const MqttSettings& settings,
                             const MqttEventNote& event);
