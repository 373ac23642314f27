#include "control/web_snapshot.h"

#include <cmath>

#include "base/clock_text.h"
#include "base/state.h"
#include "ui/board_view.h"
#include "ui/history_window.h"

void AddToWebDay(WebDay* day, const LevelRecord& r) {
  int64_t index = FloorDiv(r.Universal, WebColumnSeconds);
  while (!day->Columns.empty() && day->Columns.back().Index > index)
    day->Columns.pop_back();
  if (day->Columns.empty() || day->Columns.back().Index != index) {
    WebColumn c{};
    c.Index = index;
    day->Columns.push_back(c);
  }
  WebColumn& c = day->Columns.back();
  c.Count++;
  if (c.Count == 1 || r.Universal > c.Newest) c.Newest = r.Universal;
  bool level = std::isfinite(r.Level5);
  if (level) {
    if (!c.HasLevel) {
      c.HasLevel = true;
      c.Joined = day->LastHadLevel && day->Columns.size() > 1 &&
                 day->Columns[day->Columns.size() - 2].HasLevel;
      c.First = c.Low = c.High = r.Level5;
    }
    if (r.Level5 < c.Low) c.Low = r.Level5;
    if (r.Level5 > c.High) c.High = r.Level5;
    c.Last = r.Level5;
  }
  day->LastHadLevel = level;

  const int sent[2] = {r.Output4, r.Output5};
  for (int k = 0; k < 2; k++) {
    std::deque<WebSpan>& on = day->On[k];
    bool open = !on.empty() && on.back().Open;
    if (open) on.back().To = r.Universal;
    if (sent[k] == 1 && !open) {
      if (!on.empty() && r.Universal - on.back().To < WebColumnSeconds &&
          r.Universal >= on.back().To)
        on.back().Open = true;  // one span at the picture's resolution
      else
        on.push_back(WebSpan{r.Universal, r.Universal, true});
    } else if (sent[k] == 0 && open) {
      on.back().Open = false;
    }
  }
}

void AgeWebDay(WebDay* day, int64_t universal) {
  int64_t from = universal - 86400;
  while (!day->Columns.empty() && day->Columns.front().Newest <= from)
    day->Columns.pop_front();
  for (std::deque<WebSpan>& on : day->On)
    while (!on.empty() && !on.front().Open && on.front().To <= from)
      on.pop_front();
}

// The evaluations that came since the last snapshot into the day; the
// whole day from the history at the first (the level log's read-back
// included).
static void TakeNewEvaluations(WebSnapshot* s, int64_t universal) {
  int n = HistorySize();
  int fresh =
      s->Evaluated ? AppState.History.EvaluationCount - s->EvaluationCount : n;
  if (fresh > n) fresh = n;
  if (fresh <= 0) return;
  int first = n - fresh;
  if (!s->Evaluated) {
    s->Day = WebDay();
    // Back from the newest to the first of the last day.
    first = n;
    while (first > 0 && HistoryEntry(first - 1).Universal > universal - 86400)
      first--;
  }
  for (int i = first; i < n; i++) AddToWebDay(&s->Day, HistoryEntry(i));
  s->Evaluated = true;
  s->LastEvaluation = HistoryEntry(n - 1);
  s->EvaluationCount = AppState.History.EvaluationCount;
}

void WebDayRenamed() { AppState.Web.Snapshot.Evaluated = false; }

void TakeWebSnapshot() {
  if (AppState.Web.Settings.Address.empty()) return;
  WebSnapshot& s = AppState.Web.Snapshot;
  TickCount tick = PlatTickCount();
  int64_t local = PlatLocalClock();
  int64_t universal = PlatUniversalClock();

  // The connection: a change of it (or a new one) starts its time anew.
  bool connected = !AppState.Link.ConnectionLost;
  if (!s.Taken || connected != s.Connected ||
      AppState.Link.ConnectionNumber != s.ConnectionNumber) {
    s.Connected = connected;
    s.ConnectionSince = local;
    s.ConnectionNumber = AppState.Link.ConnectionNumber;
  }
  s.Taken = true;
  s.TakenTick = tick;
  s.Serial++;
  s.RefreshInterval = AppState.Refresh.RefreshInterval;
  // The query's time is its answer's, not this snapshot's.
  if (connected && AppState.Readings.StatusFresh) {
    s.Queried = true;
    s.QueryTime = AppState.Readings.StatusAnsweredTime;
    s.QueryTick = AppState.Readings.StatusAnsweredTick;
  }

  s.LevelText = AnalogValueText(1);
  s.LevelRead = AppState.View.Board.LevelBarDrawn;
  s.LevelVolts = AppState.View.Board.LevelBarVoltage;
  for (int n = 1; n <= 8; n++) {
    s.Output[n] = AppState.Readings.OutputState[n];
    s.OutputName[n] = Settings().OutputName[n];
  }
  for (int n = 1; n <= 4; n++) {
    s.Input[n] = AppState.Readings.InputState[n];
    s.InputName[n] = Settings().DigitalInputName[n];
    s.AnalogText[n] = AnalogValueText(n);
    s.AnalogName[n] = Settings().AnalogName[n];
    s.AnalogUnit[n] = Settings().AnalogUnit[n];
  }
  s.MeasurementEnabled = AppState.Switching.MeasurementEnabled;
  s.MinimumEnabled = AppState.Switching.MinimumEnabled;
  s.MaximumEnabled = AppState.Switching.MaximumEnabled;
  s.CycleSecondsLeft =
      AppState.Measurement.CyclePeriod - AppState.Measurement.CycleCounter;
  if (s.CycleSecondsLeft < 0) s.CycleSecondsLeft = 0;  // a period of 0 s

  s.DoubtedEvaluations = AppState.Measurement.DoubtedEvaluations;
  s.DoubtedLastSwitched5 = AppState.Measurement.DoubtedLastSwitched5;
  s.GuardBlind = AppState.Alarms.GuardBlindAnnounced;
  s.SensorFailureOpen = AppState.Sensor.Run.FailureOpen;
  s.SensorSuspicionOpen = AppState.Sensor.Run.SuspicionOpen;

  // The evaluations that came since; an evaluation ages out of the last
  // day even when none comes.
  TakeNewEvaluations(&s, universal);
  AgeWebDay(&s.Day, universal);
  s.DayEndUniversal = universal;
  s.DayEndLocal = local;

  s.Events.clear();
  int all = (int)AppState.Alarms.AlarmLines.size();
  for (int i = all > AlarmLinesShown ? all - AlarmLinesShown : 0; i < all; i++)
    s.Events.push_back(AppState.Alarms.AlarmLines[i]);
  // The dry-run line names minutes: made anew when a minute of either
  // clock or an evaluation has come.
  int64_t minute[2] = {FloorDiv(local, 60), FloorDiv(universal, 60)};
  if (s.DryRunText.empty() || minute[0] != s.DryRunMinute[0] ||
      minute[1] != s.DryRunMinute[1] ||
      s.DryRunCount != AppState.History.EvaluationCount) {
    s.DryRunText = DryRunSummaryText();
    s.DryRunMinute[0] = minute[0];
    s.DryRunMinute[1] = minute[1];
    s.DryRunCount = AppState.History.EvaluationCount;
  }
}
