// The well in the operator's home automation (/mqtt): what the command
// line asked for, and what the program writes for the broker after each
// board query, each evaluation and each alarm event. The MQTT client
// (mqtt/mqtt_client.h) reads nothing but this; it publishes and never
// subscribes, and nothing a broker sends reaches the board, the rest of
// the state record or a file.
//
// A part of the state record (AppState.Mqtt): base/state.h includes it
// where the types it uses are declared. Include base/state.h.
#pragma once

#include <cstdint>
#include <deque>

// /mqtt IP:PORT, /mqtt-name NAME and /mqtt-login FILE, as the command line
// gave them and the login file said them. Address empty: no client, no
// socket.
struct MqttSettings {
  Text Address;   // dotted IPv4, as written
  uint32_t Host;  // the same in network byte order
  int Port;       // 1..65535
  // The client's name: its identifier at the broker and the name in its
  // topics (korvalinex/NAME/..., homeassistant/.../korvalinex_NAME/...).
  Text Name;
  // From the login file: a user name and a password (Login: given).
  bool Login;
  Text User;
  Text Password;
};

// An alarm event for the broker, waiting until the client took it; the
// oldest are dropped beyond MqttEventsKept (a broker away for long gets
// the last ones).
struct MqttEventNote {
  int Serial;         // counts the events from 1
  int64_t Universal;  // when (PlatUniversalClock)
  int64_t Lead;       // the local clock's lead on it then, s
  Text Name;          // the alarm command's short name
  Text Message;       // the operator's text (Windows-1252)
  double Level;       // V; NaN when the event names none
};
enum { MqttEventsKept = 16 };

// What is published, as the program had it when it wrote it.
struct MqttSnapshot {
  int Serial;  // counts the snapshots written; 0: none yet
  // Who the well is: the board's address and port, the status page's
  // address (empty without /web).
  Text BoardAddress;
  int BoardPort;
  Text PageUrl;
  // The connection to the board; the outputs 1..8 as the board last said
  // them and their captions.
  bool Connected;
  Contact Output[9];
  Text OutputName[9];
  // The last evaluation: its universal time, its count, and its level (V;
  // NaN when it decided nothing on one).
  bool Evaluated;
  int EvaluationCount;
  int64_t EvaluationUniversal;
  double Level;
  int CyclePeriod;  // s
  // Trust in the readings (no evaluation in doubt now), the guard's
  // blindness announced.
  bool ReadingsTrusted;
  bool GuardBlind;
  // With the sensor's check (/sensor): a failure or a suspicion open.
  bool SensorOn;
  bool SensorFailureOpen;
  bool SensorSuspicionOpen;
};

struct MqttState {
  MqttSettings Settings;
  MqttSnapshot Snapshot;
  std::deque<MqttEventNote> Events;
  int EventSerial;    // the serial of the newest event written
  int EventsDropped;  // dropped before the client took them
  // What the client says of itself, for the history window's line.
  Text StatusText;
};
