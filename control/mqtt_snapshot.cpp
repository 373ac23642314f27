#include "control/mqtt_snapshot.h"

#include <cmath>
#include <string>

#include "base/clock_text.h"
#include "base/state.h"

void TakeMqttSnapshot() {
  MqttState& m = AppState.Mqtt;
  if (m.Settings.Address.empty()) return;
  MqttSnapshot& s = m.Snapshot;
  s.Serial++;
  s.BoardAddress = Settings().BoardAddress;
  s.BoardPort = Settings().BoardPort;
  const WebSettings& web = AppState.Web.Settings;
  s.PageUrl =
      web.Address.empty() || web.Bind == 0
          ? Text()
          : "http://" + web.Address + ":" + std::to_string(web.Port) + "/";
  s.Connected = !AppState.Link.ConnectionLost;
  for (int n = 1; n <= 8; n++) {
    s.Output[n] = AppState.Readings.OutputState[n];
    s.OutputName[n] = Settings().OutputName[n];
  }
  int n = HistorySize();
  s.Evaluated = n > 0;
  if (n > 0) {
    const LevelRecord& last = HistoryEntry(n - 1);
    s.EvaluationUniversal = last.Universal;
    s.Level = last.Level5;
  } else {
    s.Level = NAN;
  }
  s.EvaluationCount = AppState.History.EvaluationCount;
  s.CyclePeriod = AppState.Measurement.CyclePeriod;
  s.ReadingsTrusted = AppState.Measurement.DoubtedEvaluations == 0;
  s.GuardBlind = AppState.Alarms.GuardBlindAnnounced;
  s.SensorOn = AppState.Sensor.Settings.On;
  s.SensorFailureOpen = AppState.Sensor.Run.FailureOpen;
  s.SensorSuspicionOpen = AppState.Sensor.Run.SuspicionOpen;
}

void NoteMqttEvent(const char* name, const Text& message, double level,
                   int64_t local, int64_t universal) {
  MqttState& m = AppState.Mqtt;
  if (m.Settings.Address.empty()) return;
  m.EventSerial++;
  m.Events.push_back(MqttEventNote{m.EventSerial, universal,
                                   LeadOf(local, universal), name, message,
                                   level});
  while ((int)m.Events.size() > MqttEventsKept) {
    m.Events.pop_front();
    m.EventsDropped++;
  }
}
