// The read-only MQTT client (/mqtt): one connection to the broker, served
// from the program's one thread between its steps and while it waits for
// the board, as the status page is. It never waits: every socket call
// returns at once. It publishes what the snapshot says (base/mqtt_status.h)
// and never subscribes; of what the broker sends it reads CONNACK and
// PINGRESP, counts anything else off unseen, and drops a connection that
// sends what no broker should. A broker that is away is tried again every
// MqttRetryTime; what waits for it is the latest value of each topic and
// the last few events, so a dead or slow broker neither holds the guard
// nor grows the program's memory.
#pragma once

#include "base/state.h"

enum {
  // The keep-alive CONNECT announces (s): a PINGREQ goes when nothing has
  // gone for this long.
  MqttKeepAlive = 60,
  // A broker that is away, refuses or fails is tried again this long (ms)
  // after the last try began.
  MqttRetryTime = 30000,
  // The connection must be made and answered (CONNACK) this long (ms)
  // after the try began, a PINGRESP must come this long after its PINGREQ,
  // and bytes handed to a broker that does not take them must go within
  // it; otherwise the connection is dropped.
  MqttAnswerTime = 15000,
  // Topics waiting at most; beyond it a new topic is dropped (every topic
  // the program has is fewer).
  MqttTopicsWaiting = 64,
  // Bytes of packets formed at once for the broker.
  MqttFormedAtOnce = 16384,
  // Bytes read from the broker in one serving, at most.
  MqttReadAtOnce = 4096,
  // At the end, the last packets ("offline", DISCONNECT) are given this
  // long (ms) to go.
  MqttGoodbyeTime = 1000,
};

// At start, after the main window is up: without /mqtt nothing happens
// and no socket is opened; with it, the first try.
void StartMqttClient();
// Connects when due, reads what came, publishes what changed, pings when
// due. Returns at once; does nothing without /mqtt.
void ServeMqtt();
// At the end: "offline" and DISCONNECT, given MqttGoodbyeTime to go, and
// the socket closed.
void StopMqttClient();

// What the client has done since the start, for the tests and benchmarks.
struct MqttCounts {
  int Tries;     // connections begun
  int Accepted;  // CONNACK 0
  int Refused;   // CONNACK 1..5 (the last code in LastRefusal)
  int LastRefusal;
  int Dropped;    // connections dropped: no answer, closed, garbage
  int Published;  // PUBLISH packets formed
  int Pings;      // PINGREQ sent
  int Ignored;    // packets of the broker that were no answer
  int Replaced;   // waiting values replaced by a newer one of their topic
  int Lost;       // values or events dropped for want of room
};
MqttCounts MqttCounted();
// Whether the client is connected and accepted now.
bool MqttConnected();
// Topics and events waiting, and bytes formed not yet taken by the broker.
int MqttWaiting();
int MqttUnsent();
