// The console box for raw board commands: what the operator typed, and the
// exchange as it went (control/console.h runs it).
#pragma once

#include "platform/platform.h"

// Button 92 without a connection: nothing was sent.
void ShowConsoleNotSent();
// The command in field 97, up to its first zero byte.
Text ConsoleCommandTyped();
// While the command is out: button 92 greyed, the box empty.
void ShowConsoleSending();
// The exchange: the echo of AppState.Console.ConsoleCommandText and the reply,
// or, when none came, that there was no answer.
void ShowConsoleExchange(bool answered);
// Button 92 usable again, with the focus.
void ShowConsoleDone();
// Button 93: shows the command summary.
void ShowCommandOverview();
// Tells the operator in the console box that there is no connection to the
// board, with `what` (what did not happen) on the next line.
void ShowNoConnection(const Text& what);
extern const char NoConnectionText[];
