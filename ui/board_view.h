// The main window's board displays: what the board query read, drawn as
// colours, enabled states and captions.
#pragma once

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

// What follows every exchange with the board: a board query (PollBoard)
// and the redraw of what it read (ShowBoard).
void RefreshBoard();

// Label 36 while the connection is lost: the seconds to the next attempt.
void ShowReconnectCountdown();
// Label 36 after an evaluation that decided nothing because its reading
// was not proven the board's answer to GETADC 1.
extern const char DoubtedReadingText[];
// Label 36 when output 5 was switched and only output 4 stayed undecided.
extern const char DoubtedOutput4Text[];
