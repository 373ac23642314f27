// The program's entry and exit.
#pragma once

#include "platform/platform.h"

// ProgramMain (declared in platform/platform.h, which calls it): start-up,
// the main loop and the normal end.

// Releases the platform facilities in their order. Does not close the
// board connection.
void ReleaseFacilities();

// Every end of the program leaves through here; returns the exit code 0.
int ExitPath();

// Titles and texts of the start-up failures and the connection notice.
extern const char ProblemTitle[];
extern const char NetworkFailedText[];
extern const char BoardNotFoundText[];
extern const char NoticeTitle[];
extern const char TimerFailedText[];
Text ConnectionNoticeText();
