// The level sensor's check: a grade for each measurement cycle from its
// proven readings, before anything is decided on them. Pure procedures:
// they read the settings and the readings given and change only the
// history handed to them (AppState.Sensor.Run in the program).
//
// Rules, in this order (figures in SensorFigures, base/sensor_state.h):
// - Fewer than 2 proven powered readings: no grade, nothing decided (the
//   reading in doubt, as without the check).
// - Out of span (failed): every reading at or above the top of the input
//   (4,90 V), or, with a live-zero span, every reading below its live zero
//   by more than the margin (2,5 % of the span).
// - No response to its power (failed): the last unpowered reading at or
//   above 0,10 V and every powered reading within 2 counts of it, in 2
//   cycles in a row (the first such cycle decides as usual).
// - Spread (suspect): the readings more than 0,20 V apart: nothing decided.
// - Two readings only, on either side of a threshold: no grade, nothing
//   decided (they have no middle one to settle it).
// - Rise (suspect): the median more than 0,50 V above the last level
//   decided on, from below the Minimum threshold to above it, would release
//   the dry-run protection: it is decided only when the next cycle confirms
//   it (a median within 0,50 V of it). A drop is decided at once.
// - Flat line: the median within 1 count of the same count for 24 h: an
//   event only, the cycle decides as usual.
// Otherwise the cycle is ok and decides on the median of its readings.
#pragma once

#include <cstdint>

#include "base/state.h"

// One count of input 1 in volts, as the program reads them.
constexpr double SensorVoltsPerCount = 5.0 / 1024.0;

struct SensorCycleResult {
  SensorGrade Grade;  // SensorUngraded: too few readings
  SensorCause Cause;
  double Volts;   // the median (NaN when ungraded)
  bool Decides;   // the cycle decides on Volts
  bool FlatLine;  // the flat line reached its time in this cycle
};

// The median of `count` readings (the mean of the middle two for an even
// count); NaN for none.
double SensorMedian(const double* readings, int count);

// Grades a cycle: its proven powered readings (V), the last proven
// unpowered reading when `run->UnpoweredKnown` (used up by the grading),
// at universal time `now` (s). Updates the history of `run` that the
// grading keeps (no-response cycles, the last level, a rise waiting, the
// flat line); the episodes and counts of good and failed cycles are the
// caller's.
SensorCycleResult GradeSensorCycle(const SensorSettings& settings,
                                   const double* readings, int count,
                                   int64_t now, SensorRunState* run);
