#include "control/sensor_check.h"

#include <algorithm>
#include <cmath>

double SensorMedian(const double* readings, int count) {
  if (count <= 0) return NAN;
  double sorted[SensorReadingsPerCycle];
  int n = std::min(count, (int)SensorReadingsPerCycle);
  std::copy(readings, readings + n, sorted);
  std::sort(sorted, sorted + n);
  if (n % 2 == 1) return sorted[n / 2];
  return (sorted[n / 2 - 1] + sorted[n / 2]) / 2;
}

// A voltage as the count it was read from.
static int Count(double volts) {
  return (int)std::lround(volts / SensorVoltsPerCount);
}

static bool AllAtOrAbove(const double* r, int n, double bound) {
  for (int i = 0; i < n; i++)
    if (!(r[i] >= bound)) return false;
  return true;
}
static bool AllBelow(const double* r, int n, double bound) {
  for (int i = 0; i < n; i++)
    if (!(r[i] < bound)) return false;
  return true;
}

// `low` and `high` lie on either side of `threshold` as the decisions
// compare them (a level below output 4's threshold, above output 5's).
static bool Straddles(double low, double high, double threshold) {
  return threshold == MinimumThreshold ? low < threshold && !(high < threshold)
                                       : high > threshold && !(low > threshold);
}

// The powered readings did not move from the unpowered one.
static bool NoResponse(const SensorFigures& f, const double* r, int n,
                       const SensorRunState& run) {
  if (!run.UnpoweredKnown || !(run.Unpowered >= f.UnpoweredVolts)) return false;
  int unpowered = Count(run.Unpowered);
  for (int i = 0; i < n; i++)
    if (std::abs(Count(r[i]) - unpowered) > f.NoResponseCounts) return false;
  return true;
}

SensorCycleResult GradeSensorCycle(const SensorSettings& settings,
                                   const double* readings, int count,
                                   int64_t now, SensorRunState* run) {
  const SensorFigures& f = settings.Figures;
  SensorCycleResult result{SensorUngraded, SensorNoCause, NAN, false, false};
  if (count < 2) return result;
  int n = std::min(count, (int)SensorReadingsPerCycle);
  double median = SensorMedian(readings, n);
  result.Volts = median;
  bool silent = NoResponse(f, readings, n, *run);
  bool unpoweredSeen = run->UnpoweredKnown;
  run->UnpoweredKnown = false;

  auto failed = [&](SensorCause cause) {
    result.Grade = SensorFailed;
    result.Cause = cause;
    return result;
  };
  if (AllAtOrAbove(readings, n, f.TopVolts)) return failed(SensorAtTop);
  if (settings.SpanGiven) {
    double span = settings.SpanTopVolts - settings.LiveZeroVolts;
    double floor = settings.LiveZeroVolts - span * f.MarginPercent / 100;
    if (AllBelow(readings, n, floor)) return failed(SensorBelowZero);
  }
  // A cycle without an unpowered reading before it neither counts nor
  // breaks the cycles without a response.
  if (silent)
    run->NoResponseCycles++;
  else if (unpoweredSeen)
    run->NoResponseCycles = 0;
  if (run->NoResponseCycles >= 2) return failed(SensorNoResponse);

  double low = *std::min_element(readings, readings + n);
  double high = *std::max_element(readings, readings + n);
  if (high - low > f.SpreadVolts) {
    result.Grade = SensorSuspect;
    result.Cause = SensorSpread;
    return result;
  }
  // Two readings have no middle one: their mean is a level neither showed.
  // When they lie on either side of a threshold, one of them may be the
  // sensor still settling or a passing disturbance, and nothing tells
  // which: the cycle decides nothing, as one with too few readings.
  if (n == 2 && (Straddles(low, high, MinimumThreshold) ||
                 Straddles(low, high, MaximumThreshold))) {
    result.Volts = NAN;
    return result;
  }
  bool releases = run->LastKnown && run->LastLevel < MinimumThreshold &&
                  !(median < MinimumThreshold) &&
                  median - run->LastLevel > f.JumpVolts;
  bool confirmed =
      run->RisePending && std::fabs(median - run->RiseLevel) <= f.JumpVolts;
  if (releases && !confirmed) {
    run->RisePending = true;
    run->RiseLevel = median;
    result.Grade = SensorSuspect;
    result.Cause = SensorRise;
    return result;
  }
  run->RisePending = false;
  run->LastKnown = true;
  run->LastLevel = median;
  result.Grade = SensorOk;
  result.Decides = true;

  int medianCount = Count(median);
  if (f.FlatHours > 0 && run->FlatKnown &&
      std::abs(medianCount - run->FlatCount) <= f.FlatCounts) {
    if (!run->FlatTold && now - run->FlatSince >= (int64_t)f.FlatHours * 3600) {
      run->FlatTold = true;
      result.FlatLine = true;
    }
  } else {
    run->FlatKnown = true;
    run->FlatCount = medianCount;
    run->FlatSince = now;
    run->FlatTold = false;
  }
  return result;
}
