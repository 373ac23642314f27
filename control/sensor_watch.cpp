#include "control/sensor_watch.h"

#include <cmath>

#include "control/alarms.h"

void SensorCycleBegins() { AppState.Sensor.Run.Readings = 0; }

void SensorUnpoweredReading(double volts) {
  SensorRunState& run = AppState.Sensor.Run;
  run.UnpoweredKnown = true;
  run.Unpowered = volts;
}

void SensorCycleReading(double volts, int poweredSince) {
  SensorRunState& run = AppState.Sensor.Run;
  if (run.Readings > 0 && run.ReadingsPoweredSince != poweredSince)
    run.Readings = 0;
  run.ReadingsPoweredSince = poweredSince;
  if (run.Readings < SensorReadingsPerCycle)
    run.Reading[run.Readings++] = volts;
}

// A failed cycle: the failure told at the first of an episode, with its
// cause and volts; output 4 is held from now until sensor-ok.
static void CycleFailed(const SensorCycleResult& r) {
  SensorRunState& run = AppState.Sensor.Run;
  run.FailedCycles++;
  run.GoodCycles = 0;
  run.ReleaseHeld = true;
  if (run.FailureOpen) return;
  run.FailureOpen = true;
  AlarmSensor(AlarmSensorFailed, r.Cause, r.Volts);
}

static void CycleSuspect(const SensorCycleResult& r) {
  SensorRunState& run = AppState.Sensor.Run;
  run.GoodCycles = 0;
  if (run.SuspicionOpen) return;
  run.SuspicionOpen = true;
  AlarmSensor(AlarmSensorSuspect, r.Cause, r.Volts);
}

static void CycleGood(const SensorCycleResult& r) {
  SensorRunState& run = AppState.Sensor.Run;
  const SensorFigures& f = AppState.Sensor.Settings.Figures;
  run.FailedCycles = 0;
  run.SuspicionOpen = false;
  run.GoodCycles++;
  if (run.FailureOpen && run.GoodCycles >= f.GoodCycles) {
    run.FailureOpen = false;
    run.ReleaseHeld = false;
    AlarmSensor(AlarmSensorOk, SensorNoCause, r.Volts);
  }
  if (r.FlatLine) AlarmSensor(AlarmSensorSuspect, SensorFlat, r.Volts);
}

SensorCycleResult SensorGradeCycle() {
  SensorRunState& run = AppState.Sensor.Run;
  SensorCycleResult r =
      GradeSensorCycle(AppState.Sensor.Settings, run.Reading, run.Readings,
                       PlatUniversalClock(), &run);
  run.Readings = 0;
  switch (r.Grade) {
    case SensorFailed:
      CycleFailed(r);
      break;
    case SensorSuspect:
      CycleSuspect(r);
      break;
    case SensorOk:
      CycleGood(r);
      break;
    default:
      break;
  }
  return r;
}

bool SensorFailSafeDue() {
  const SensorState& s = AppState.Sensor;
  return s.Settings.Action == SensorProtect && s.Run.FailedCycles > 0 &&
         s.Run.FailedCycles >= s.Settings.Figures.FailSafeCycles;
}

bool SensorReleaseHeld() { return AppState.Sensor.Run.ReleaseHeld; }
