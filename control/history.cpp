#include "control/history.h"

#include "control/level_log.h"
#include "platform/platform.h"

void RecordEvaluation(double level5, int output5, double level4, int output4,
                      bool doubted) {
  LevelRecord r{PlatLocalClock(),    level5,          level4,
                (int8_t)output4,     (int8_t)output5, doubted,
                PlatUniversalClock()};
  KeepEvaluation(r);
  LogEvaluation(r);
}

void RestoreHistoryFromLog() {
  for (const LevelRecord& r : ReadLevelLog()) KeepEvaluation(r);
  AppState.LogReadWaiting =
      !AppState.LogFolder.empty() && !PlatFolderExists(AppState.LogFolder);
}

DryRuns DryRunsBetween(int64_t fromUniversal, int64_t toUniversal) {
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
  int n = HistorySize();
  for (int i = 0; i < n; i++) {
    const LevelRecord& r = HistoryEntry(i);
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
