// The level history: every evaluation of the measurement cycle that
// decided on a fresh level, kept in memory for the life of the program.
#pragma once

#include "app/state.h"

// Records an evaluation at the local time of now: the level it decided on
// and what it sent to outputs 4 and 5 (1, 0 or CommandNotSent). When the
// history is full, the oldest evaluation goes.
void RecordEvaluation(double level, int output4, int output5);

// The evaluations kept, the oldest first (0 .. HistorySize() - 1).
int HistorySize();
const LevelRecord& HistoryEntry(int index);
