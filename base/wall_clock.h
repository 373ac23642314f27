// The PC's wall clock against the tick count. The tick count only ever runs
// on, through a sleep of the PC too; the wall clock (PlatUniversalClock,
// PlatLocalClock) can be set. Universal time that moves other than the tick
// count says is a step of the clock (the operator or a time service set
// it), not a sleep: a sleep moves both alike (base/sleep_clock.h tells
// sleeps). A lead of the local clock on universal time that changes is a
// new zone or summer time: universal time goes on.
//
// Within a run the tick count gives the order of events and their
// lengths; the wall clock only names them. So at a step everything kept
// with a wall clock time is named anew by the clock as it is now: the
// history's evaluations, the connection's losses, the daily sign of
// life's bound; the change waits in AppState.WallClockChanges to be told
// (control/clock_watch.h, TakeWallClockChanges).
#pragma once

#include "base/state.h"

enum {
  // Universal time this far (s) from where the tick count carries it is a
  // step of the clock; less is the clocks' own drift, followed silently.
  WallClockStepLimit = 10,
};

// Looks at the clocks; the first look only takes them as they stand.
// Called before anything takes the time of an event, and every pass of
// the main loop. The step it found (s, 0 when none): the history is named
// anew on it here, what else keeps a wall clock time by its owner
// (control/clock_watch.h).
int64_t WatchWallClock();
// The changes found and not yet told, the oldest first; none are left.
std::vector<WallClockChange> TakeWallClockChanges();

// A length of time as the operator reads it: "40 s", "10 min",
// "1 h 0 min", "1 Tag 0 h" (whole units, cut).
Text ClockStepAmountText(int64_t seconds);
