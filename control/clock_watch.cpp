#include "control/clock_watch.h"

#include "base/level_csv.h"

void ClockChangeTexts(const WallClockChange& c, Text told[2]) {
  told[0] = told[1] = Text();
  if (c.LeadChange != 0)
    told[0] =
        ZoneChangeMessage(c.Local - c.Step - c.LeadChange, c.Local - c.Step);
  if (c.Step != 0) told[1] = ClockStepMessage(c.Local - c.Step, c.Local);
}
