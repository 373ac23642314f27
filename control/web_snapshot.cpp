#include "control/web_snapshot.h"

#include "base/state.h"
#include "ui/board_view.h"
#include "ui/history_window.h"

// The last day's evaluations, the oldest first.
static void TakeDay(WebSnapshot* s, int64_t universal) {
  s->Day.clear();
  int n = HistorySize();
  int first = n;
  while (first > 0 && HistoryEntry(first - 1).Universal > universal - 86400)
    first--;
  for (int i = first; i < n; i++) s->Day.push_back(HistoryEntry(i));
}

void TakeWebSnapshot() {
  if (AppState.Web.Settings.Address.empty()) return;
  WebSnapshot& s = AppState.Web.Snapshot;
  TickCount tick = PlatTickCount();
  int64_t local = PlatLocalClock();
  int64_t universal = PlatUniversalClock();

  // The connection: a change of it (or a new one) starts its time anew.
  bool connected = !AppState.ConnectionLost;
  if (!s.Taken || connected != s.Connected ||
      AppState.ConnectionNumber != s.ConnectionNumber) {
    s.Connected = connected;
    s.ConnectionSince = local;
    s.ConnectionNumber = AppState.ConnectionNumber;
  }
  s.Taken = true;
  s.TakenTick = tick;
  s.RefreshInterval = AppState.RefreshInterval;
  if (connected && AppState.StatusFresh) {
    s.Queried = true;
    s.QueryTime = local;
    s.QueryTick = tick;
  }

  s.LevelText = AnalogValueText(1);
  s.LevelRead = AppState.AnalogRead[1];
  s.LevelVolts = AppState.AnalogVoltage[1];
  for (int n = 1; n <= 8; n++) {
    s.Output[n] = AppState.OutputState[n];
    s.OutputName[n] = AppState.OutputName[n];
  }
  for (int n = 1; n <= 4; n++) {
    s.Input[n] = AppState.InputState[n];
    s.InputName[n] = AppState.DigitalInputName[n];
    s.AnalogText[n] = AnalogValueText(n);
    s.AnalogName[n] = AppState.AnalogName[n];
    s.AnalogUnit[n] = AppState.AnalogUnit[n];
  }
  s.MeasurementEnabled = AppState.MeasurementEnabled;
  s.MinimumEnabled = AppState.MinimumEnabled;
  s.MaximumEnabled = AppState.MaximumEnabled;
  s.CycleSecondsLeft = AppState.CyclePeriod - AppState.CycleCounter;
  if (s.CycleSecondsLeft < 0) s.CycleSecondsLeft = 0;  // a period of 0 s

  s.DoubtedEvaluations = AppState.DoubtedEvaluations;
  s.DoubtedLastSwitched5 = AppState.DoubtedLastSwitched5;
  s.GuardBlind = AppState.GuardBlindAnnounced;

  // The evaluations: the picture and the last one anew only when one came.
  int n = HistorySize();
  if (n > 0 &&
      (!s.Evaluated || s.EvaluationCount != AppState.EvaluationCount)) {
    s.Evaluated = true;
    s.LastEvaluation = HistoryEntry(n - 1);
    s.EvaluationCount = AppState.EvaluationCount;
    TakeDay(&s, universal);
  }
  s.DayEndUniversal = universal;
  s.DayEndLocal = local;
  // An evaluation ages out of the last day even when none comes.
  while (!s.Day.empty() && s.Day.front().Universal <= universal - 86400)
    s.Day.erase(s.Day.begin());

  s.Events.clear();
  int all = (int)AppState.AlarmLines.size();
  for (int i = all > AlarmLinesShown ? all - AlarmLinesShown : 0; i < all; i++)
    s.Events.push_back(AppState.AlarmLines[i]);
  s.DryRunText = DryRunSummaryText();
}
