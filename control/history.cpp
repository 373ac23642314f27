#include "control/history.h"

#include <cmath>

#include "control/level_log.h"
#include "platform/platform.h"

// The lowest and highest level since the start; a level that is no number
// (a hostile analog reply can give one) is neither.
static void TakeExtremes(const LevelRecord& r) {
  if (!std::isfinite(r.Level)) return;
  if (!AppState.HistoryHasExtremes || r.Level < AppState.LowestLevel.Level)
    AppState.LowestLevel = r;
  if (!AppState.HistoryHasExtremes || r.Level > AppState.HighestLevel.Level)
    AppState.HighestLevel = r;
  AppState.HistoryHasExtremes = true;
}

static void RecordPastEvaluation(const LevelRecord& r) {
  TakeExtremes(r);
  AppState.EvaluationCount++;
  if (!AppState.History) return;
  if (AppState.HistoryCount < HistoryCapacity) {
    int slot =
        (AppState.HistoryFirst + AppState.HistoryCount) % HistoryCapacity;
    AppState.History[slot] = r;
    AppState.HistoryCount++;
    return;
  }
  AppState.History[AppState.HistoryFirst] = r;
  AppState.HistoryFirst = (AppState.HistoryFirst + 1) % HistoryCapacity;
}

void RecordEvaluation(double level5, int output5, double level4, int output4,
                      bool doubted) {
  LevelRecord r{PlatLocalClock(), level5,          level4,
                (int8_t)output4,  (int8_t)output5, doubted};
  RecordPastEvaluation(r);
  LogEvaluation(r);
}

void RestoreHistoryFromLog() {
  for (const LevelRecord& r : ReadLevelLog()) RecordPastEvaluation(r);
}
