#include "control/clock_watch.h"

#include <cmath>
#include <vector>

#include "base/clock_text.h"
#include "base/level_csv.h"
#include "base/wall_clock.h"
#include "control/level_log.h"

static void TellClockChanges() {
  std::vector<WallClockChange> changes;
  changes.swap(AppState.WallClockChanges);
  // The history's times were carried onto the clock as it is now: the
  // status page's day is read from it anew at its next snapshot.
  if (!changes.empty()) AppState.Web.Snapshot.Evaluated = false;
  for (const WallClockChange& c : changes) {
    // The zone first, then the step named in the new zone.
    Text told[2];
    if (c.LeadChange != 0)
      told[0] =
          ZoneChangeMessage(c.Local - c.Step - c.LeadChange, c.Local - c.Step);
    if (c.Step != 0) told[1] = ClockStepMessage(c.Local - c.Step, c.Local);
    for (const Text& message : told) {
      if (message.empty()) continue;
      AppState.AlarmLines.push_back(DateTimeText(c.Local) + "  " + message);
      while ((int)AppState.AlarmLines.size() > AlarmLinesShown)
        AppState.AlarmLines.pop_front();
      LogAlarmEvent(c.Local, c.Universal, 0, 0, NAN, message);
    }
  }
}

void WatchClock() {
  WatchWallClock();
  TellClockChanges();
}
