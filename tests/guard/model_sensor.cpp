#include "tests/guard/model_sensor.h"

#include <cstdio>

#include "tests/guard/board_model.h"

namespace guard {

const char* SensorFaultName(SensorFault fault) {
  switch (fault) {
    case SensorFault::None:
      return "working";
    case SensorFault::PinnedTop:
      return "pinned at 5.00 V";
    case SensorFault::PinnedLow:
      return "pinned at 0.62 V, no response to its power";
    case SensorFault::CableBreak:
      return "cable break, 0 V";
    case SensorFault::Spike:
      return "a spike";
    case SensorFault::SlowStart:
      return "a slow start";
    case SensorFault::Flat:
      return "a flat level";
  }
  return "?";
}

bool ModelSensor::CycleEnds() {
  if (!nextDue_) return false;
  now_ = next_;
  nextDue_ = false;
  cycle_++;
  poweredReadings_ = 0;
  return true;
}

void ModelSensor::Power(bool on, uint32_t at) {
  if (on && !powered_) poweredAt_ = at;
  powered_ = on;
}

int ModelSensor::Reading(int level, uint32_t at, Draws* draws) {
  switch (now_.Fault) {
    case SensorFault::PinnedTop:
      return PinnedTopCount;
    case SensorFault::PinnedLow:
      return PinnedLowCount + draws->Between(-1, 1);
    case SensorFault::CableBreak:
      return draws->Between(0, 1);
    default:
      break;
  }
  if (!powered_) return now_.Idle;
  poweredReadings_++;
  if (now_.Fault == SensorFault::Spike && poweredReadings_ == now_.SpikeAt) {
    // Nearer to the level it would be noise: beyond the spread a cycle's
    // readings may have (0.20 V).
    int spike = now_.SpikeCount;
    if (spike > level - SpikeDistance && spike < level + SpikeDistance)
      spike = level + SpikeDistance <= 1023 ? level + SpikeDistance
                                            : level - SpikeDistance;
    return spike;
  }
  if (now_.Fault == SensorFault::SlowStart) {
    // From the reading without power up to the level, in a straight line.
    int32_t since = (int32_t)(at - poweredAt_);
    if (since < now_.SlowMs) {
      if (since < 0) since = 0;
      return now_.Idle +
             (int)((int64_t)(level - now_.Idle) * since / now_.SlowMs);
    }
  }
  return level;
}

std::string ModelSensor::Describe() const {
  char s[160];
  int n = snprintf(s, sizeof s, "sensor %s%s", SensorFaultName(now_.Fault),
                   now_.LiveZero ? " (live zero)" : "");
  if (now_.Fault == SensorFault::Spike)
    snprintf(s + n, sizeof s - (size_t)n, ", reading %d reads %d", now_.SpikeAt,
             now_.SpikeCount);
  else if (now_.Fault == SensorFault::SlowStart)
    snprintf(s + n, sizeof s - (size_t)n, ", level after %d ms", now_.SlowMs);
  return s;
}

SensorCondition DrawSensor(Draws* d, int liveZero, SensorFault fault) {
  SensorCondition s;
  s.Fault = fault;
  s.LiveZero = liveZero;
  // Without power a working sensor gives next to nothing, well below the
  // 0.10 V of the check that it reacts to its power.
  s.Idle = d->Between(0, 3);
  if (fault == SensorFault::SlowStart) s.SlowMs = d->Between(1000, 2900);
  if (fault == SensorFault::Spike) {
    s.SpikeAt = d->Between(1, 12);
    switch (d->Below(4)) {
      case 0:
        s.SpikeCount = 1023;
        break;
      case 1:
        s.SpikeCount = d->Between(0, 5);
        break;
      default:
        s.SpikeCount = d->Between(0, 1023);
    }
  }
  return s;
}

}  // namespace guard
