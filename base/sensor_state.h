// The level sensor's check: what the command line asked for (/sensor,
// /sensor-bereich, /sensor-werte) and what the check has learned of the
// sensor since the start (control/sensor_check.h grades the cycles,
// control/measurement.cpp acts on the grades).
//
// A part of the state record (AppState.Sensor): base/state.h includes it.
// Include base/state.h.
#pragma once

#include <cstdint>

// The figures of the check, each one the operator can change with
// /sensor-werte. Volts are those of input 1 as the program reads them
// (1 count = 5/1024 V).
struct SensorFigures {
  double TopVolts;        // a cycle at or above this is out of span
  double MarginPercent;   // below live zero by more than this % of the span
  double UnpoweredVolts;  // an unpowered reading at or above this floats
  int NoResponseCounts;   // powered within this many counts of it: no
                          // response to the sensor's power
  double SpreadVolts;     // a cycle's readings spread wider: suspect
  double JumpVolts;       // a rise between cycles wider: confirmed first
  int FlatCounts;         // unchanged within this many counts ...
  int FlatHours;          // ... for this long: a flat line
  int FailSafeCycles;     // failed cycles in a row before the action
  int GoodCycles;         // good cycles in a row before sensor-ok
};

// What the guard does while the sensor has failed, from the fail-safe
// time on: the dry-run protection on (output 4 on), or the outputs left
// as they were.
enum SensorAction : int8_t { SensorProtect = 0, SensorHold };

// Settings, set at start-up only. On: /sensor was given; without it
// nothing of the check runs. SpanGiven: /sensor-bereich gave the live-zero
// span LiveZeroVolts .. SpanTopVolts.
struct SensorSettings {
  bool On;
  SensorAction Action;
  bool SpanGiven;
  double LiveZeroVolts;
  double SpanTopVolts;
  SensorFigures Figures;
};

// The grade of one cycle and why.
enum SensorGrade : int8_t {
  SensorUngraded = 0,
  SensorOk,
  SensorSuspect,
  SensorFailed
};
enum SensorCause : int8_t {
  SensorNoCause = 0,
  SensorAtTop,       // failed: at or above the top of the input
  SensorBelowZero,   // failed: below the live zero
  SensorNoResponse,  // failed: no response to its power
  SensorSpread,      // suspect: the cycle's readings spread too wide
  SensorRise,        // suspect: a rise not yet confirmed
  SensorFlat,        // suspect (event only): a flat line
};

// The most readings a cycle takes (one per evaluation).
enum { SensorReadingsPerCycle = 3 };

// What the check knows while the program runs.
struct SensorRunState {
  // The current cycle's proven powered readings, V, all of one stretch of
  // the sensor's power: since the tick ReadingsPoweredSince
  // (AppState.Guard.SensorOnSince).
  int Readings;
  double Reading[SensorReadingsPerCycle];
  int ReadingsPoweredSince;
  // The last proven reading with the sensor unpowered (the refresh between
  // cycles), V.
  bool UnpoweredKnown;
  double Unpowered;
  // Cycles in a row whose powered readings did not respond to the power.
  int NoResponseCycles;
  // The level of the last cycle decided on, V; a rise beyond the jump
  // waits for the next cycle (RisePending, at RiseLevel).
  bool LastKnown;
  double LastLevel;
  bool RisePending;
  double RiseLevel;
  // Failed cycles in a row; good cycles in a row since the last failure.
  int FailedCycles;
  int GoodCycles;
  // An episode: a failure announced (sensor-fehler) and sensor-ok not yet;
  // a suspicion announced (sensor-verdacht) and a good cycle not yet.
  bool FailureOpen;
  bool SuspicionOpen;
  // Output 4 may be released again only after sensor-ok: held on since a
  // failure.
  bool ReleaseHeld;
  // The flat line: the count the level has stayed near since FlatSince
  // (universal time, s), and whether that was told.
  bool FlatKnown;
  int FlatCount;
  int64_t FlatSince;
  bool FlatTold;
};

struct SensorState {
  SensorSettings Settings;
  SensorRunState Run;
};

// The figures of the check before the operator changes any.
SensorFigures DefaultSensorFigures();
