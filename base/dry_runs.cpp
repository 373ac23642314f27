#include "base/dry_runs.h"

#include "base/clock_text.h"

DryRuns DryRunsBetween(const LevelRing& history, int64_t fromUniversal,
                       int64_t toUniversal) {
  DryRuns runs{0, 0, 0};
  bool on = false;
  int64_t onSince = 0;
  auto addOnTime = [&](int64_t from, int64_t to) {
    if (from < fromUniversal) from = fromUniversal;
    if (to > toUniversal) to = toUniversal;
    if (to > from) runs.OnSeconds += to - from;
  };
  auto within = [&](int64_t t) {
    return t >= fromUniversal && t <= toUniversal;
  };
  for (int i = 0; i < history.Count; i++) {
    const LevelRecord& r = RingEntry(history, i);
    if (r.Doubted && within(r.Universal)) runs.Doubted++;
    if (r.Output4 == CommandNotSent) continue;
    bool nowOn = r.Output4 == 1;
    if (nowOn && !on) {
      onSince = r.Universal;
      if (within(r.Universal)) runs.Trips++;
    }
    if (!nowOn && on) addOnTime(onSince, r.Universal);
    on = nowOn;
  }
  if (on) addOnTime(onSince, toUniversal);
  return runs;
}

int64_t DayStartUniversal(const LevelRing& history, int64_t local,
                          int64_t universal) {
  int64_t midnight = DayOfTime(local) * 86400;
  int64_t lead = LeadOf(local, universal);
  for (int i = history.Count - 1; i >= 0; i--) {
    const LevelRecord& r = RingEntry(history, i);
    if (r.Universal < universal - 2 * 86400) break;
    if (r.Time >= midnight && r.Time < midnight + 86400)
      lead = LeadOf(r.Time, r.Universal);
  }
  return midnight - lead;
}

DryRunWeek DryRunStatistics(const LevelRing& history, int64_t local,
                            int64_t universal) {
  return DryRunWeek{
      DryRunsBetween(history, DayStartUniversal(history, local, universal),
                     universal),
      DryRunsBetween(history, universal - 7 * 86400, universal)};
}
