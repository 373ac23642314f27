#include "mqtt/mqtt_topics.h"

#include <cmath>
#include <string>

#include "base/utf8_text.h"
#include "mqtt/mqtt_json.h"

Text MqttBaseTopic(const MqttSettings& settings) {
  return "korvalinex/" + settings.Name;
}

Text MqttStatusTopic(const MqttSettings& settings) {
  return MqttBaseTopic(settings) + "/status";
}

Text MqttBoardTopic(const MqttSettings& settings) {
  return MqttBaseTopic(settings) + "/board";
}

Text MqttClientIdentifier(const MqttSettings& settings) {
  return "korvalinex-" + settings.Name;
}

Text MqttDeviceIdentifier(const MqttSnapshot& s) {
  Text id = "korvalinex_";
  for (char c : s.BoardAddress) {
    bool plain = (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                 (c >= 'A' && c <= 'Z');
    id.push_back(plain ? (char)(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c)
                       : '_');
  }
  return id + "_" + std::to_string(s.BoardPort);
}

static const char* OnOff(bool on) { return on ? "ON" : "OFF"; }

std::vector<MqttMessage> MqttStateMessages(const MqttSettings& settings,
                                           const MqttSnapshot& s) {
  Text base = MqttBaseTopic(settings) + "/";
  std::vector<MqttMessage> m;
  m.push_back(
      {base + "board", s.Connected ? "online" : "offline", true, false});
  if (s.Evaluated && std::isfinite(s.Level))
    m.push_back({base + "level", WireVolts(s.Level), true, true});
  for (int n = 1; n <= 8; n++)
    if (s.Output[n] != ContactUnknown)
      m.push_back({base + "output/" + std::to_string(n),
                   OnOff(s.Output[n] == ContactClosed), true, false});
  m.push_back({base + "trusted", OnOff(s.ReadingsTrusted), true, false});
  m.push_back({base + "guard_blind", OnOff(s.GuardBlind), true, false});
  if (s.SensorOn)
    m.push_back({base + "sensor",
                 s.SensorFailureOpen     ? "ausgefallen"
                 : s.SensorSuspicionOpen ? Utf8FromWindows1252("verdächtig")
                                         : "gut",
                 true, false});
  if (s.Evaluated)
    m.push_back({base + "last_evaluation", UtcTimeText(s.EvaluationUniversal),
                 true, false});
  return m;
}

MqttMessage MqttEventMessage(const MqttSettings& settings,
                             const MqttEventNote& event) {
  Text json = "{\"name\":" + JsonString(event.Name) +
              ",\"text\":" + JsonString(event.Message) + ",\"time\":\"" +
              ZonedTimeText(event.Universal, event.Lead) +
              "\",\"level\":" + WireVolts(event.Level) + "}";
  return {MqttBaseTopic(settings) + "/event", Utf8FromWindows1252(json), false,
          false};
}
