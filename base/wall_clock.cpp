#include "base/wall_clock.h"

#include "base/clock_text.h"
#include "base/sleep_clock.h"

int64_t WatchWallClock() {
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
    return 0;
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
    // What the history keeps is named anew on the clock as it is now;
    // the alarms' times are, once the change is taken (control/alarms.h).
    RenameHistoryTimes(change.Step);
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
  return change.Step;
}

std::vector<WallClockChange> TakeWallClockChanges() {
  std::vector<WallClockChange> changes;
  changes.swap(AppState.WallClockChanges);
  return changes;
}

Text ClockStepAmountText(int64_t seconds) {
  return SleepDurationText((seconds < 0 ? -seconds : seconds) * 1000);
}
