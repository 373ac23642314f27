// The PC's clock watched from above (base/wall_clock.h finds its changes):
// a change found (a step of it, a new zone or summer time) is told, a line
// in the history window's list of the last events and an "Ereignis" line
// in the level log, named by the clock after it. It is no alarm event: no
// alarm command, no call; the guard goes on on the tick count.
#pragma once

// Looks at the clocks and tells what changed. Called before an evaluation
// is recorded (its line comes after the change's) and every pass of the
// main loop (control/alarms.h: WatchAlarms).
void WatchClock();
