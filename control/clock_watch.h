// The PC's clock watched from above (base/wall_clock.h finds its changes):
// a change found (a step of it, a new zone or summer time) is told, a line
// in the history window's list of the last events and an "Ereignis" line
// in the level log, named by the clock after it (control/alarms.h,
// WatchClock). It is no alarm event: no alarm command, no call; the guard
// goes on on the tick count.
#pragma once

#include "base/state.h"

// The texts that tell a change: the zone's first, then the step named in
// the new zone; empty where the change has none.
void ClockChangeTexts(const WallClockChange& change, Text told[2]);
