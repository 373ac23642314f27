// The main window: window 0, its timer and its 90 controls.
#pragma once

#include "ui/board_view.h"
#include "ui/control_numbers.h"

// Returns false when window 0 could not be opened (no controls, no timer).
// `timerStarted` (when given) tells whether timer 123 runs.
bool BuildMainWindow(bool* timerStarted = nullptr);

extern const char MainWindowTitle[];
