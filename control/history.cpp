#include "control/history.h"

#include <cmath>

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

void RecordEvaluation(double level, int output4, int output5) {
  LevelRecord r{PlatLocalClock(), level, (int8_t)output4, (int8_t)output5};
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

int HistorySize() { return AppState.History ? AppState.HistoryCount : 0; }

const LevelRecord& HistoryEntry(int index) {
  return AppState.History[(AppState.HistoryFirst + index) % HistoryCapacity];
}
