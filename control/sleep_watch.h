// The PC's sleep as the guard meets it. A sleeping PC guards nothing: the
// program asks the system to stay awake while the measurement is
// released, and when it sleeps all the same (a lid, the power button,
// "Energie sparen", a request the system ignores), the operator is told,
// nothing is decided on what was read before, and the guard looks again
// at once.
#pragma once

#include "base/state.h"

// At the start of every pass of the main loop and right after its event
// wait. At the system's notice that it goes to sleep, the event
// "pc-schlaf". After a sleep (found by base/sleep_clock.h): the event
// "pc-wach" with its length, the watches' clocks carried over it
// (AlarmPcWoke, GuardClocksAfterSleep), a board query at once (or at
// once the attempt to reconnect), and a new measurement from the next
// tick (MeasureAfterSleep).
void WatchSleep();

// The request to keep the system awake follows the measurement: it stands
// while the measurement is released, and is withdrawn while it is locked
// and at the program's end (`ending`). Never the display.
void KeepAwakeWhileGuarding(bool ending = false);
// Its reason as the system shows it (powercfg /requests): the program and
// the well's address and port.
Text KeepAwakeReason();
