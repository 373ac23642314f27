// The console for raw board commands.
#pragma once

#include "platform/platform.h"

// Button 92: sends the text of field 97 and shows the exchange.
void SendConsoleCommand();
// Button 93: shows the command summary.
void ShowCommandOverview();
// Tells the operator in the console box that there is no connection to the
// board, with `what` (what did not happen) on the next line.
void ShowNoConnection(const Text& what);
extern const char NoConnectionText[];
