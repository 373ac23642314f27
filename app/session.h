// The guard's place among the other programs and in the Windows session:
// one guard per well, its start told, its end told, and its return after
// an update.
#pragma once

#include "platform/platform.h"

// The name a program holds while it guards the well at AppState's board
// address and port: the address as the lookup gives it (a name and its
// address are one well), else as written, in small letters.
Text WellClaimName();
// The box's text when another program guards the well already.
Text WellGuardedText();

// Before the program connects: the well claimed. False when another
// running program guards it: the program is to say so and end.
// A system that cannot make the name leaves the start as it is (better
// two guards than none).
bool ClaimTheWell();

// Once the main window stands: the start event, the registration for a
// restart with the program's own arguments, and from now on the session's
// end heard and told.
void GuardStarts();
// The main loop has ended: a session's end is no longer told.
void GuardEnds();
