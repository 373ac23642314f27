// The level history window: opened from the main window's system menu, it
// shows the water level of every evaluation since the start as a picture,
// follows new evaluations while it is open, and closes on its own without
// touching the rest of the program.
#pragma once

#include "app/state.h"

extern const char HistoryMenuText[];
extern const char HistoryWindowTitle[];

// Opens the window, or brings the open one to the front.
void OpenHistoryWindow();
// Closes it (its close box or its button).
void CloseHistoryWindow();
// The operator gave it a new size: its controls and picture follow.
void HistoryWindowResized();
// After a tick of the measurement: an open window draws the evaluations
// recorded since it drew last.
void ShowHistory();

// The line below the picture: the last level, the lowest and the highest
// since the start, with their times.
Text HistorySummaryText();
