// The level sensor's check in the running program (/sensor): the readings
// of each measurement cycle gathered, the cycle graded (control/
// sensor_check.h), and the episodes of a failed or suspect sensor told as
// alarm events: "sensor-fehler" at the first failed cycle, "sensor-ok"
// after the good cycles that follow (SensorFigures.GoodCycles in a row),
// "sensor-verdacht" once until a good cycle. Nothing here talks to the
// board; control/measurement.cpp acts on the grades. Without /sensor none
// of it is called.
#pragma once

#include "control/sensor_check.h"

// A measurement cycle begins (its first powered tick): no readings yet.
void SensorCycleBegins();
// A proven board query whose status shows the sensor unpowered read
// `volts` on input 1.
void SensorUnpoweredReading(double volts);
// An evaluation's proven powered reading, the sensor powered since tick
// `poweredSince`: readings of an earlier stretch of power are let go.
void SensorCycleReading(double volts, int poweredSince);
// The cycle's grade from the readings gathered (which are then let go),
// with its events and the counts of good and failed cycles.
SensorCycleResult SensorGradeCycle();
// The sensor has failed for the fail-safe time (the cycles in a row) and
// the operator chose the protection: the guard switches output 4 on.
bool SensorFailSafeDue();
// Output 4 may not be released (switched off) by the guard: the sensor
// failed and has not been good again long enough.
bool SensorReleaseHeld();
