// The PC's sleeps, as the program finds them: from the system's power
// notices and from its clocks, so that a sleep the system did not announce
// (a notice lost, a program busy when it came) is found as well.
//
// On the clocks a sleep shows as a lead of the tick count, which goes on
// while the PC sleeps, over the time the system ran, which does not
// (PlatRunningTime). Where the system has no such clock, a pass of the main
// loop that comes far later than the one before counts as a sleep.
//
// Every part of the program that must not take something from before a
// sleep for something after it (a board query proven in step, an
// evaluation's decision) notes SleepsFound() when it begins and looks
// again when it is done: a number that changed means the PC slept between.
#pragma once

#include "base/state.h"

enum {
  // The tick count's lead over the time the system ran that makes a sleep
  // (ms); the two clocks tick apart by a few ms at most.
  SleepClockGap = 2000,
  // Without that clock: passes of the main loop this far apart (ms) are a
  // sleep. A pass comes every half second, a slow board holds one for
  // seconds, never for minutes.
  SleepPassGap = 120000,
  // A resume notice this soon (ms) after a sleep the clocks found, with no
  // suspend notice between, is that sleep's own.
  ResumeMergeTime = 60000,
};

// Looks at the clocks and the notices: the number of sleeps found since
// the start. The first look only takes the clocks as they stand.
int SleepsFound();
// The whole time asleep of the sleeps found (ms).
int64_t SleptMs();
// The suspend notices the system has given since the start.
int SuspendNotices();
// Every pass of the main loop: where the system has no clock that leaves
// out sleep, a pass far behind the one before is a sleep.
void NoteMainLoopPass();

// A clock that counted from tick `since` (a loss, a decision), carried
// over a sleep of `asleepMs` just found: the time since then with the
// sleep counted, held at `capMs` at most, so that its signed 32-bit
// difference to the tick count cannot overflow whatever the sleep's length.
TickCount SinceAcrossSleep(TickCount since, int64_t asleepMs, int64_t capMs);

// The length whose tick-count reading is `mod` (modulo 2^32) nearest to
// what the wall clock says (`wallMs`): the tick count wraps after 49.7
// days, the wall clock does not (but goes in whole seconds, and may have
// been set meanwhile).
int64_t LengthBeyondWrap(uint32_t mod, int64_t wallMs);
