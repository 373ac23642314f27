// The level history: every evaluation of the measurement cycle that
// decided on a fresh level, kept in memory for the life of the program.
#pragma once

#include "app/state.h"

// Records an evaluation at the local time of now: the level output 5 was
// decided on and what went to it (1, 0 or CommandNotSent), likewise for
// output 4 (NaN where no decision was taken), and whether a reading in
// doubt kept a decision from being taken. When the history is full, the
// oldest evaluation goes.
void RecordEvaluation(double level5, int output5, double level4, int output4,
                      bool doubted);
