// The packets the program sends to an MQTT broker (version 3.1.1), byte
// for byte: CONNECT, PUBLISH at QoS 0, PINGREQ and DISCONNECT. The program
// publishes and never subscribes: no packet here asks the broker for
// anything to be sent back but CONNACK and PINGRESP.
#pragma once

#include <cstdint>

#include "base/state.h"

// Bounds of the wire.
enum {
  // The longest remaining length the four bytes of its field can carry.
  MqttLongestRemaining = 268435455,
  // A topic or a string field: its length is two bytes.
  MqttLongestString = 65535,
};

// The packet types (the high four bits of a packet's first byte).
enum MqttType {
  MqttConnect = 1,
  MqttConnack = 2,
  MqttPublish = 3,
  MqttPuback = 4,
  MqttPubrec = 5,
  MqttPubrel = 6,
  MqttPubcomp = 7,
  MqttSubscribe = 8,
  MqttSuback = 9,
  MqttUnsubscribe = 10,
  MqttUnsuback = 11,
  MqttPingreq = 12,
  MqttPingresp = 13,
  MqttDisconnect = 14,
};

// The remaining length as its field carries it: seven bits a byte, the
// lowest first, the top bit saying another byte follows. Empty for a
// length below 0 or beyond MqttLongestRemaining.
Text MqttRemainingLength(int64_t length);

// What CONNECT carries. Always a clean session and a will: `WillTopic`
// gets `WillPayload`, retained, at QoS 0, when the connection ends
// without DISCONNECT. A user name and a password only when `Login`.
struct MqttConnectForm {
  Text ClientName;
  int KeepAliveSeconds;
  Text WillTopic;
  Text WillPayload;
  bool Login;
  Text User;
  Text Password;
};

// The whole packet; empty when a field is longer than its two-byte length
// allows.
Text MqttConnectPacket(const MqttConnectForm& form);
// PUBLISH at QoS 0 (no packet identifier), retained or not; empty when the
// topic is empty or too long, or the packet would be.
Text MqttPublishPacket(const Text& topic, const Text& payload, bool retain);
Text MqttPingreqPacket();
Text MqttDisconnectPacket();

// A return code of CONNACK: 0 accepted, 1 to 5 refused. The German words
// of a refusal, for the history window's line.
const char* MqttRefusalText(int code);
