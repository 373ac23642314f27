// The main window's board displays: what the board query read, drawn as
// colours, enabled states and captions, with the words of the states
// (base/state_words.h) and volts.
#pragma once

#include "base/state.h"

// The level bar's range: 0 to 400, the level in volts times 360.
enum { LevelBarMax = 400 };

// The level bar, blue, at LevelVoltage times 360, cut to the bar's range
// first: a level beyond it (or none at all, as a hostile analog reply can
// give) shows the bar full, one below it empty.
void ShowLevelBar();

// The first text of label 17, before the board has said anything.
extern const char BoardDataTemplate[];

// Redraws every board display from the state record: the output and input
// labels with their colours, the function switches' enabled states, the
// captions of buttons 87 and 88 after a status reply, and label 17. Once
// the connection is gone: every board display at its first text (the board
// link has forgotten the data), the captions of buttons 87 and 88 "AUS",
// and label 36 the reconnect countdown.
void ShowBoard();

// The shown text of analog input n: its voltage cut to AnalogTextWidth[n]
// characters with a decimal comma, "--.--" while it is not read.
Text AnalogValueText(int n);

// Every pass of the main loop: the percentage mark at the top of the bar.
void ShowLevelPercent();

// Label 36 while the connection is lost: the seconds to the next attempt.
void ShowReconnectCountdown();
