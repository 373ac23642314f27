// The form of the level log's lines, shared by the log (control/level_log.h)
// and the history window's CSV export: what a German spreadsheet opens as
// it is. Windows-1252, lines ended by CR LF, fields separated by ';',
// decimal comma. Columns:
//   Zeit          dd.mm.yyyy hh:mm:ss, local time
//   Art           "Messung" (an evaluation) or "Ereignis" (an alarm event:
//                 an output's level and command only for the events of
//                 outputs 4 and 5, "Messwert" empty)
//   Stand Ausgang 5 (V), Ausgang 5, Stand Ausgang 4 (V), Ausgang 4
//                 the level each output was decided on (empty when none)
//                 and what went to it ("EIN", "AUS", empty when nothing)
//   Messwert      "sicher", or "unsicher" when a reading in doubt kept a
//                 decision from being taken; with the sensor's check,
//                 "Sensorfehler" or "Sensorverdacht" when the sensor failed
//                 or was suspect and its reading decided nothing (files of
//                 either kind read back)
//   Meldung       the text of an event; empty on an evaluation
//   Zeit (UTC)    the same instant in universal time, as "Zeit": the order
//                 of events and their durations when the local clock was
//                 put back or forward. Lines written before the column
//                 came (8 columns) are read too.
#pragma once

#include <cstdint>

#include "base/state.h"

// The first line of a file, line end included.
extern const char LevelCsvHeader[];
// A line's universal time read from a line of 8 columns: not known.
const int64_t UniversalUnknown = INT64_MIN;

// An evaluation as one line, line end included. A level is written with
// as many decimals as it takes to read back the very same number.
Text LevelCsvLine(const LevelRecord& r);

// A whole file of evaluations: the header and one line for each of the
// ring's evaluations, the oldest first (the history window's export).
Text LevelCsvText(const LevelRing& history);

// An alarm event as one line: its output (4 or 5, 0 for none) with what
// went to it and the level it was decided on, and its text in "Meldung"
// (a ';' or line end in it becomes ',').
Text LevelCsvEventLine(int64_t time, int64_t universal, int output, int sent,
                       double level, const Text& message);

// Reads one line (without its line end) back. LineMeasurement fills `*r`
// (Universal is UniversalUnknown for a line of 8 columns); LineHeader and
// LineEvent are lines of the form that hold no evaluation; anything else
// (a universal time more than a day from the local one too) is
// LineForeign.
enum LevelCsvKind { LineMeasurement, LineHeader, LineEvent, LineForeign };
LevelCsvKind ReadLevelCsvLine(const Text& line, LevelRecord* r);

// Whether the first bytes of a file are the header, or the header the
// log's files began with before "Zeit (UTC)" came (then followed by a line
// end): a file that begins so needs none.
bool BeginsWithLevelCsvHeader(const Text& start);

// The "Meldung" of the event line that tells a change of the PC's clock
// (no semicolon in it), from the local time the clock said before it to
// the one it says after, at the same instant: a step of the clock, or a
// new zone or summer time (the local clock alone moves).
Text ClockStepMessage(int64_t fromLocal, int64_t toLocal);
Text ZoneChangeMessage(int64_t fromLocal, int64_t toLocal);
// A line of the log that tells a step of the clock: true, and by how much
// (s) the clock was set. Lines of the same instant before it were named
// by the clock before the step.
bool ReadClockStepLine(const Text& line, int64_t* step);

// The log's file of a month (as MonthOfTime counts, base/clock_text.h):
// korvalinex-YYYY-MM.csv.
Text LevelLogFileName(int month);
