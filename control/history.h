// The level history: every evaluation of the measurement cycle that
// decided on a fresh level, kept in memory for the life of the program,
// and in the level log when there is one (control/level_log.h).
#pragma once

#include "base/state.h"

// Records an evaluation at the local time of now: the level output 5 was
// decided on and what went to it (1, 0 or CommandNotSent), likewise for
// output 4 (NaN where no decision was taken), and whether a reading in
// doubt kept a decision from being taken; `sensor`, the grade of a failed
// or suspect sensor (/sensor) that kept its reading from being decided on.
// When the history is full, the oldest evaluation goes.
void RecordEvaluation(double level5, int output5, double level4, int output4,
                      bool doubted, int sensor = 0);

// At start, with a level log: its last days' evaluations go into the
// history as if recorded then (they are not logged again), so the picture
// and the extremes are those of before the restart.
// A folder missing at start leaves the read-back waiting
// (AppState.Log.LogReadWaiting, control/level_log.h: ReadBackLateLog).
void RestoreHistoryFromLog();

// The history window's save button: the history shown, in the level log's
// form (base/level_csv.h, LevelCsvText), to a file the operator picks in
// the standard save dialog; how it went is said in the window
// (AppState.Saving.HistorySaveText). Nothing while the window is closed.
void SaveHistoryAsCsv();
