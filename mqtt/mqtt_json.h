// The forms of what goes to the broker: texts as JSON strings in UTF-8
// (the program's texts are Windows-1252), volts with a decimal point, and
// times as ISO 8601 with their offset.
#pragma once

#include <cstdint>

#include "base/state.h"

// A text as a JSON string, quotes included: ", \ and control characters
// escaped, the other bytes as they are (a JSON text is made in
// Windows-1252 and turned into UTF-8 whole).
Text JsonString(const Text& cp1252);
// Volts with two decimals and a decimal point, cut as the operator's texts
// cut them ("0.18"); "null" for a level that is no number.
Text WireVolts(double volts);
// "2026-12-06T06:45:00+00:00" of a universal time (s), and the same
// instant on the local clock with its lead (s), "2026-12-06T07:45:00+01:00".
Text UtcTimeText(int64_t universal);
Text ZonedTimeText(int64_t universal, int64_t lead);
