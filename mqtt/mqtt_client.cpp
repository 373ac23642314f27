#include "mqtt/mqtt_client.h"

#include <deque>
#include <map>
#include <string>
#include <vector>

#include "base/wait_service.h"
#include "mqtt/mqtt_discovery.h"
#include "mqtt/mqtt_packets.h"
#include "mqtt/mqtt_reader.h"
#include "mqtt/mqtt_topics.h"

namespace {

enum Phase {
  PhaseOff,         // no /mqtt, or stopped
  PhaseWaiting,     // for the next try
  PhaseConnecting,  // the connection is being made
  PhaseGreeting,    // CONNECT goes or has gone, CONNACK awaited
  PhaseUp,          // accepted: publishing
};

struct Waiting {
  Text Topic;
  Text Payload;
  bool Retain;
};

// The client's socket, what waits and what went live here, not in the
// state record: nothing the broker sends is ever kept where the guard
// looks.
struct Client {
  Phase Now = PhaseOff;
  PlatSocket Socket = NoSocket;
  TickCount TriedAt = 0;     // the last try began
  TickCount LastSent = 0;    // the bytes formed last went wholly
  TickCount ProgressAt = 0;  // the broker last took bytes
  bool PingOut = false;
  TickCount PingAt = 0;
  MqttReader Reader = {};
  Text Out;  // packets formed, from Written on not yet taken
  size_t Written = 0;
  std::vector<Waiting> Topics;  // one value a topic, in the order they came
  std::deque<Waiting> Events;
  std::map<Text, Text> Published;  // on this connection: topic -> payload
  int SeenEvaluations = -1;
  int SeenSerial = 0;
  int TakenEvent = 0;
  MqttCounts Counts = {};
};
Client Mqtt;

const MqttSettings& Options() { return AppState.Mqtt.Settings; }

TickCount Now() { return PlatTickCount(); }

bool Past(TickCount since, int ms) { return (int32_t)(Now() - since) >= ms; }

Text Where() {
  return Options().Address + ":" + std::to_string(Options().Port);
}

void Say(const Text& text) { AppState.Mqtt.StatusText = "MQTT: " + text; }

Text Again() {
  return " Neuer Versuch alle " + std::to_string(MqttRetryTime / 1000) + " s.";
}

void Enqueue(const Text& topic, const Text& payload, bool retain) {
  for (Waiting& w : Mqtt.Topics) {
    if (w.Topic != topic) continue;
    w.Payload = payload;
    w.Retain = retain;
    Mqtt.Counts.Replaced++;
    return;
  }
  if ((int)Mqtt.Topics.size() >= MqttTopicsWaiting) {
    Mqtt.Counts.Lost++;
    return;
  }
  Mqtt.Topics.push_back(Waiting{topic, payload, retain});
}

// The events written since the last look, the oldest dropped beyond
// MqttEventsKept.
void TakeEvents() {
  for (const MqttEventNote& e : AppState.Mqtt.Events) {
    if (e.Serial <= Mqtt.TakenEvent) continue;
    MqttMessage m = MqttEventMessage(Options(), e);
    Mqtt.Events.push_back(Waiting{m.Topic, m.Payload, m.Retain});
    Mqtt.TakenEvent = e.Serial;
  }
  while ((int)Mqtt.Events.size() > MqttEventsKept) {
    Mqtt.Events.pop_front();
    Mqtt.Counts.Lost++;
  }
}

// What changed since the last snapshot looked at (`all`: everything, for a
// new connection) into the topics waiting.
void TakeStates(bool all) {
  const MqttSnapshot& s = AppState.Mqtt.Snapshot;
  if (s.Serial == 0 || (!all && s.Serial == Mqtt.SeenSerial)) return;
  bool evaluated = s.EvaluationCount != Mqtt.SeenEvaluations;
  std::vector<MqttMessage> messages = MqttDiscoveryMessages(Options(), s);
  std::vector<MqttMessage> states = MqttStateMessages(Options(), s);
  messages.insert(messages.end(), states.begin(), states.end());
  for (const MqttMessage& m : messages) {
    auto sent = Mqtt.Published.find(m.Topic);
    bool same = sent != Mqtt.Published.end() && sent->second == m.Payload;
    if (all || !same || (m.EveryEvaluation && evaluated)) {
      Enqueue(m.Topic, m.Payload, m.Retain);
      Mqtt.Published[m.Topic] = m.Payload;
    }
  }
  Mqtt.SeenSerial = s.Serial;
  Mqtt.SeenEvaluations = s.EvaluationCount;
}

void Close() {
  if (Mqtt.Socket != NoSocket) PlatCloseSocket(Mqtt.Socket);
  Mqtt.Socket = NoSocket;
  Mqtt.Out.clear();
  Mqtt.Written = 0;
  Mqtt.Topics.clear();
  Mqtt.Published.clear();
  Mqtt.PingOut = false;
}

// The connection is given up: tried again MqttRetryTime after the try
// that made it began.
void Fail(const Text& why) {
  if (Mqtt.Now == PhaseGreeting || Mqtt.Now == PhaseUp) Mqtt.Counts.Dropped++;
  Close();
  Mqtt.Now = PhaseWaiting;
  Say(why + Again());
}

void Greet() {
  MqttConnectForm form;
  form.ClientName = MqttClientIdentifier(Options());
  form.KeepAliveSeconds = MqttKeepAlive;
  form.WillTopic = MqttStatusTopic(Options());
  form.WillPayload = "offline";
  form.Login = Options().Login;
  form.User = Options().User;
  form.Password = Options().Password;
  Mqtt.Out = MqttConnectPacket(form);
  Mqtt.Written = 0;
  Mqtt.ProgressAt = Now();
  Mqtt.Now = PhaseGreeting;
}

void Try() {
  Mqtt.TriedAt = Now();
  Mqtt.Counts.Tries++;
  MqttReaderStart(&Mqtt.Reader);
  int result = PlatOpenNow(Options().Host, Options().Port, &Mqtt.Socket);
  if (result == ConnectDone) {
    Greet();
  } else if (result == ConnectPending) {
    Mqtt.Now = PhaseConnecting;
  } else {
    Mqtt.Socket = NoSocket;
    Mqtt.Now = PhaseWaiting;
    Say("Broker " + Where() + " nicht erreichbar." + Again());
  }
}

void Accepted() {
  Mqtt.Now = PhaseUp;
  Mqtt.Counts.Accepted++;
  Mqtt.LastSent = Now();
  Mqtt.Published.clear();
  Mqtt.Topics.clear();
  Enqueue(MqttStatusTopic(Options()), "online", true);
  TakeStates(true);
  Say("verbunden mit " + Where() + " als " + MqttClientIdentifier(Options()) +
      " (nur Veröffentlichen).");
}

// One packet of the broker. False when the connection was given up.
bool Take(const MqttInbound& p) {
  if (Mqtt.Now == PhaseGreeting) {
    if (p.Type != MqttConnack || p.Flags != 0 || p.Length != 2) {
      Fail("Broker " + Where() + " antwortet nicht wie ein MQTT-Broker.");
      return false;
    }
    int code = p.Body[1];
    if (code == 0) {
      Accepted();
      return true;
    }
    Mqtt.Counts.Refused++;
    Mqtt.Counts.LastRefusal = code;
    Fail("Broker " + Where() + " lehnt ab: " + MqttRefusalText(code) + ".");
    return false;
  }
  if (p.Type == MqttPingresp && p.Length == 0) {
    Mqtt.PingOut = false;
    return true;
  }
  if (p.Type == MqttConnack) {
    Fail("Broker " + Where() + " antwortet nicht wie ein MQTT-Broker.");
    return false;
  }
  // Anything else (a PUBLISH the client never asked for among it) is
  // counted and forgotten.
  Mqtt.Counts.Ignored++;
  return true;
}

// What came from the broker. False when the connection was given up.
bool Read() {
  char bytes[1024];
  for (int taken = 0; taken < MqttReadAtOnce; taken += (int)sizeof bytes) {
    int got = PlatReceiveNow(Mqtt.Socket, bytes, (int)sizeof bytes);
    if (got == ReceiveTimedOut) return true;
    if (got == ReceiveClosed) {
      Fail("Broker " + Where() + " hat die Verbindung beendet.");
      return false;
    }
    size_t at = 0;
    while (at < (size_t)got) {
      MqttInbound packet;
      size_t used = 0;
      MqttReadResult r =
          MqttRead(&Mqtt.Reader, bytes + at, (size_t)got - at, &used, &packet);
      at += used;
      if (r == MqttMalformed || r == MqttTooLong) {
        Fail("Broker " + Where() + " sendet Unverständliches.");
        return false;
      }
      if (r == MqttWhole && !Take(packet)) return false;
    }
  }
  return true;
}

// Packets from what waits: the topics first, then the events.
void Form() {
  while (Mqtt.Out.size() < MqttFormedAtOnce &&
         (!Mqtt.Topics.empty() || !Mqtt.Events.empty())) {
    Waiting w;
    if (!Mqtt.Topics.empty()) {
      w = Mqtt.Topics.front();
      Mqtt.Topics.erase(Mqtt.Topics.begin());
    } else {
      w = Mqtt.Events.front();
      Mqtt.Events.pop_front();
    }
    Text packet = MqttPublishPacket(w.Topic, w.Payload, w.Retain);
    if (packet.empty()) {
      Mqtt.Counts.Lost++;
      continue;
    }
    Mqtt.Out += packet;
    Mqtt.Counts.Published++;
  }
}

// Hands what is formed to the system, as much as it takes. False when the
// connection was given up.
bool Write() {
  while (Mqtt.Written < Mqtt.Out.size()) {
    int sent = PlatSendNow(Mqtt.Socket, Mqtt.Out.data() + Mqtt.Written,
                           (int)(Mqtt.Out.size() - Mqtt.Written));
    if (sent < 0) {
      Fail("Verbindung zum Broker " + Where() + " unterbrochen.");
      return false;
    }
    if (sent == 0) break;
    Mqtt.Written += (size_t)sent;
    Mqtt.ProgressAt = Now();
  }
  if (Mqtt.Written < Mqtt.Out.size()) {
    if (Past(Mqtt.ProgressAt, MqttAnswerTime)) {
      Fail("Broker " + Where() + " nimmt nichts mehr an.");
      return false;
    }
    return true;
  }
  if (!Mqtt.Out.empty()) Mqtt.LastSent = Now();
  Mqtt.Out.clear();
  Mqtt.Written = 0;
  return true;
}

}  // namespace

void StartMqttClient() {
  if (AppState.Mqtt.Settings.Address.empty()) return;
  Mqtt = Client();
  Mqtt.Now = PhaseWaiting;
  TakeEvents();
  Try();
}

void ServeMqtt() {
  if (Mqtt.Now == PhaseOff) return;
  TakeEvents();
  if (Mqtt.Now == PhaseWaiting) {
    if (!Past(Mqtt.TriedAt, MqttRetryTime)) return;
    Try();
  }
  if (Mqtt.Now == PhaseConnecting) {
    int made = PlatOpenedNow(Mqtt.Socket);
    if (made == ConnectFailed) {
      Close();
      Mqtt.Now = PhaseWaiting;
      Say("Broker " + Where() + " nicht erreichbar." + Again());
      return;
    }
    if (made == ConnectPending) {
      if (Past(Mqtt.TriedAt, MqttAnswerTime)) {
        Close();
        Mqtt.Now = PhaseWaiting;
        Say("Broker " + Where() + " antwortet nicht." + Again());
      }
      return;
    }
    Greet();
  }
  if (Mqtt.Now != PhaseGreeting && Mqtt.Now != PhaseUp) return;
  if (!Read()) return;
  if (Mqtt.Now == PhaseGreeting && Past(Mqtt.TriedAt, MqttAnswerTime)) {
    Fail("Broker " + Where() + " antwortet nicht.");
    return;
  }
  if (Mqtt.Now == PhaseUp) {
    if (Mqtt.PingOut && Past(Mqtt.PingAt, MqttAnswerTime)) {
      Fail("Broker " + Where() + " antwortet nicht mehr.");
      return;
    }
    TakeStates(false);
    if (Mqtt.Out.empty()) {
      if (!Mqtt.PingOut && Past(Mqtt.LastSent, MqttKeepAlive * 1000)) {
        Mqtt.Out = MqttPingreqPacket();
        Mqtt.PingOut = true;
        Mqtt.PingAt = Now();
        Mqtt.Counts.Pings++;
      } else {
        Form();
      }
    }
  }
  Write();
}

void StopMqttClient() {
  if (Mqtt.Now == PhaseOff) return;
  if (Mqtt.Now == PhaseUp) {
    // What is half handed over goes first, so that the stream stays whole.
    Mqtt.Out.erase(0, Mqtt.Written);
    Mqtt.Written = 0;
    Mqtt.Out += MqttPublishPacket(MqttStatusTopic(Options()), "offline", true);
    Mqtt.Out += MqttDisconnectPacket();
    TickCount start = Now();
    Mqtt.ProgressAt = start;
    while (Mqtt.Now == PhaseUp && Write() && !Mqtt.Out.empty() &&
           !Past(start, MqttGoodbyeTime))
      ServedPause(ServeSlice);
  }
  Close();
  Mqtt.Now = PhaseOff;
}

MqttCounts MqttCounted() { return Mqtt.Counts; }

bool MqttConnected() { return Mqtt.Now == PhaseUp; }

int MqttWaiting() { return (int)(Mqtt.Topics.size() + Mqtt.Events.size()); }

int MqttUnsent() { return (int)(Mqtt.Out.size() - Mqtt.Written); }
