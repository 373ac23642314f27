#include "base/wall_clock.h"

#include "base/clock_text.h"
#include "base/sleep_clock.h"

// Everything kept with a wall clock time, named anew after a step of
// `step` seconds: what happened at an instant the old clock called t, the
// clock now calls t + step.
static void RenameKeptTimes(int64_t step) {
  for (int i = 0; i < AppState.HistoryCount; i++) {
    LevelRecord& r =
        AppState.History[(AppState.HistoryFirst + i) % HistoryCapacity];
    r.Time += step;
    r.Universal += step;
  }
  if (AppState.HistoryHasExtremes) {
    AppState.LowestLevel.Time += step;
    AppState.LowestLevel.Universal += step;
    AppState.HighestLevel.Time += step;
    AppState.HighestLevel.Universal += step;
  }
  for (int64_t& t : AppState.AlarmLossTimes) t += step;
  for (WaitingAlarm& a : AppState.AlarmsWaiting) {
    a.Time += step;
    a.Universal += step;
  }
  AppState.AlarmDailyNotBefore += step;
}

void WatchWallClock() {
  WallClockState& w = AppState.WallClock;
  TickCount tick = PlatTickCount();
  int64_t universal = PlatUniversalClock();
  int64_t local = PlatLocalClock();
  int64_t lead = LeadOf(local, universal);
  if (!w.Started) {
    w.Started = true;
    w.SeenTick = tick;
    w.SteadyMs = universal * 1000;
    w.SeenLead = lead;
    return;
  }
  w.SteadyMs +=
      LengthBeyondWrap(tick - w.SeenTick, universal * 1000 - w.SteadyMs);
  w.SeenTick = tick;
  // The wall clock goes in whole seconds: in step, it is up to a second
  // behind.
  int64_t off = universal * 1000 - w.SteadyMs;
  WallClockChange change{0, 0, local, universal};
  if (off > WallClockStepLimit * 1000 ||
      off <= -(WallClockStepLimit + 1) * 1000) {
    change.Step = FloorDiv(off + 999, 1000);
    w.SteadyMs += change.Step * 1000;
    RenameKeptTimes(change.Step);
  } else if (off > 0) {
    w.SteadyMs = universal * 1000;
  } else if (off <= -1000) {
    w.SteadyMs = universal * 1000 + 999;
  }
  if (lead != w.SeenLead) {
    change.LeadChange = lead - w.SeenLead;
    w.SeenLead = lead;
  }
  if (change.Step != 0 || change.LeadChange != 0)
    AppState.WallClockChanges.push_back(change);
}

Text ClockStepAmountText(int64_t seconds) {
  return SleepDurationText((seconds < 0 ? -seconds : seconds) * 1000);
}
