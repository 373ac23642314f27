// The level history window: opened from the main window's system menu, it
// shows the water level of every evaluation since the start as a picture,
// follows new evaluations while it is open, and closes on its own without
// touching the rest of the program.
#pragma once

#include "base/state.h"

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

// The line about the level log, the alarm command and the last save
// (HistoryLogText) shown anew, the rest as it stands.
void ShowHistoryLog();
// The line above the summary: what went wrong with the level log and the
// alarm command, how the last save went, and with /web what the status
// page listens on or why it cannot; empty when there is nothing to say.
Text HistoryLogText();

// The line below the picture: the last level, the lowest and the highest
// since the start, with their times.
Text HistorySummaryText();

// The line about the dry-run protection: how often output 4 was switched
// on by an evaluation today and in the last 7 days, and how long it was
// on, from the evaluations the history keeps.
Text DryRunSummaryText();
// The list of the last `lines` alarm events, one a line, the newest last.
Text AlarmEventsText(int lines);
