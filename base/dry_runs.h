// The dry-run guard's statistics: output 4's runs in a history of
// evaluations, reckoned from the records and the times handed in alone.
// Counted on universal time (LevelRecord.Universal), so a clock put
// forward or back changes nothing.
#pragma once

#include <cstdint>

#include "base/state.h"

// Output 4's runs between two instants of universal time: the trips that
// began in [from, to], the seconds it was on within it, and the
// evaluations in doubt within it. An evaluation that sent output 4
// nothing neither begins nor ends a run; a run still on at the last
// evaluation lasts to `to`.
struct DryRuns {
  int Trips;
  int64_t OnSeconds;
  int Doubted;
};
DryRuns DryRunsBetween(const LevelRing& history, int64_t fromUniversal,
                       int64_t toUniversal);

// The universal time at which the local day of `local` began, `local` and
// `universal` read at the same instant: its midnight at the lead of the
// day's first evaluation (a clock is put forward or back in the night,
// not at midnight), or at the present lead when the history has none of
// that day.
int64_t DayStartUniversal(const LevelRing& history, int64_t local,
                          int64_t universal);

// What the history window says of the guard: today (since local
// midnight) and the last 7 days, up to now.
struct DryRunWeek {
  DryRuns Today;
  DryRuns LastWeek;
};
DryRunWeek DryRunStatistics(const LevelRing& history, int64_t local,
                            int64_t universal);
