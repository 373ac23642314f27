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
