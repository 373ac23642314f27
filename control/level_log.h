// The level log: with a folder given on the command line, every evaluation
// is appended as a line to the month's file there (app/level_csv.h gives
// the form), and at start the last 30 days are read back for the level
// history (control/history.h). Without a folder nothing here reads or writes
// anything.
//
// Nothing that goes wrong stops or holds up the guard: what cannot be read
// is skipped and counted, what cannot be written waits in memory and is
// written with the next line (each line to its own month's file, whatever
// fails with another), and the history window says what is wrong
// (AppState.Log.LogReadProblem, AppState.Log.LogWriteProblem).
#pragma once

#include <vector>

#include "base/state.h"

// How far back the log is read at start, in days.
enum { LogReadDays = 30 };
// Of each month's file, at most its last this many bytes are read at start:
// much more than the history keeps at any cycle.
enum { LogReadLimit = 8 * 1024 * 1024 };

// The month's file of a local time: the folder and its file name.
Text LevelLogPath(int64_t time);

// Appends the evaluation's line, after any lines still waiting.
void LogEvaluation(const LevelRecord& r);

// Appends an alarm event's line (app/level_csv.h) at its local and
// universal time, as an evaluation's.
void LogAlarmEvent(int64_t time, int64_t universal, int output, int sent,
                   double level, const Text& message);

// Reads the evaluations of the last LogReadDays days from the log, in the
// order of events (their universal time), and notes in
// AppState.Log.LogReadProblem what was skipped: lines of another form, and
// lines dated ahead of now or outside their file's month.
std::vector<LevelRecord> ReadLevelLog();

// Called before a line is logged: when the read-back waits
// (AppState.Log.LogReadWaiting: the folder was missing at start) and the folder
// is there now, the log is read back, once. Its evaluations from before
// the first one recorded since the start go into the history before those,
// and the extremes take them in; nothing written since the start is read.
void ReadBackLateLog();
// At start, after the log was read: a folder given and missing then is
// waited for (AppState.Log.LogReadWaiting).
void NoteLogFolderAtStart();
