#include "control/history.h"

#include <string>

#include "base/clock_text.h"
#include "base/level_csv.h"
#include "control/alarms.h"
#include "control/level_log.h"
#include "platform/platform.h"
#include "ui/click.h"
#include "ui/control_numbers.h"
#include "ui/history_window.h"

void RecordEvaluation(double level5, int output5, double level4, int output4,
                      bool doubted, int sensor) {
  // A step of the clock since the last look renames the history before
  // this evaluation takes its time, and is told before its line.
  WatchClock();
  LevelRecord r{PlatLocalClock(),     level5,          level4,
                (int8_t)output4,      (int8_t)output5, doubted,
                PlatUniversalClock(), (int8_t)sensor};
  KeepEvaluation(r);
  LogEvaluation(r);
}

void RestoreHistoryFromLog() {
  for (const LevelRecord& r : ReadLevelLog()) KeepEvaluation(r);
  NoteLogFolderAtStart();
}

void SaveHistoryAsCsv() {
  if (!PlatWindowIsOpen(HistoryWindow)) return;
  PlaySwitchSound();
  Text suggested = "verlauf-" + FileDateText(PlatLocalClock()) + ".csv";
  Text path;
  if (!PlatAskSavePath(HistoryWindow, "Verlauf als CSV speichern",
                       "CSV-Dateien", "csv", suggested, &path))
    return;
  Text csv = LevelCsvText(HistoryRing());
  int n = HistorySize();
  if (PlatWriteFile(path, csv.data(), (int)csv.size()) == AppendWritten)
    AppState.Saving.HistorySaveText = "Verlauf gespeichert: " + path + " (" +
                                      std::to_string(n) +
                                      (n == 1 ? " Messung)." : " Messungen).");
  else
    AppState.Saving.HistorySaveText = "Verlauf nicht gespeichert: " + path +
                                      " kann nicht geschrieben werden.";
  ShowHistoryLog();
}
