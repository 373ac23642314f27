#include "ui/history_window.h"

#include <cmath>
#include <string>

#include "base/clock_text.h"
#include "base/dry_runs.h"
#include "base/operator_numbers.h"
#include "base/state_words.h"
#include "platform/platform.h"
#include "ui/click.h"
#include "ui/control_numbers.h"
#include "ui/history_chart.h"

const char HistoryMenuText[] = "Verlauf des Wasserstands...";
const char HistoryWindowTitle[] = "KORVALINEX: Verlauf des Wasserstands";

// First client size, and the strip below the picture: the line about the
// level log and the save button above the summary line and the close
// button.
static const int FirstWidth = 720;
static const int FirstHeight = 420;
static const int StripHeight = 36;
static const int LogRowHeight = 28;
// Above the log's line: the dry-run line, and the last alarm events a line
// each, as many as fit while the picture keeps at least its least height.
static const int DryRunRowHeight = 20;
static const int EventLineHeight = 15;
static const int LeastPictureHeight = 80;
static const int CloseButtonWidth = 150;

static const char SaveButtonText[] = "Als CSV speichern...";

// A level as the main window shows analog input 1: cut, not rounded, at
// its second decimal (1.187 V reads 1,18 in both windows).
static Text LevelAndTime(const LevelRecord& r) {
  Text level = std::isfinite(r.Level5)
                   ? VoltageText(r.Level5, Settings().AnalogTextWidth[1])
                   : "--,--";
  return level + " V (" + DayMonthText(r.Time) + " " + HourMinuteText(r.Time) +
         ")";
}

// The last evaluation: its level, or that a reading in doubt kept it
// from deciding (on both outputs, or on output 4 alone).
static Text LastEvaluationText(const LevelRecord& r) {
  Text when = " (" + DayMonthText(r.Time) + " " + HourMinuteText(r.Time) + ")";
  if (r.Sensor == SensorFailed)
    return SensorFailedWord +
           Text(r.Output4 == 1 ? ", Ausgang 4 (Minimum) zum Schutz ein"
                               : ", nichts geschaltet") +
           when;
  if (r.Sensor == SensorSuspect)
    return SensorSuspectWord + (", nichts geschaltet" + when);
  if (r.Doubted && !std::isfinite(r.Level5))
    return DoubtedReadingWord + (", nichts geschaltet" + when);
  Text text = LevelAndTime(r);
  if (r.Doubted) text += Text(", ") + DoubtedOutput4LongText;
  return text;
}

Text HistorySummaryText() {
  int n = HistorySize();
  if (n == 0)
    return "Seit dem Programmstart wurde noch kein Wasserstand gemessen.";
  Text text = "Zuletzt: " + LastEvaluationText(HistoryEntry(n - 1));
  if (AppState.History.HistoryHasExtremes)
    text += "     Tiefster: " + LevelAndTime(AppState.History.LowestLevel) +
            "     Höchster: " + LevelAndTime(AppState.History.HighestLevel);
  return text;
}

Text HistoryLogText() {
  Text text;
  auto add = [&text](const Text& part) {
    if (part.empty()) return;
    if (!text.empty()) text += " ";
    text += part;
  };
  add(AppState.Log.LogReadProblem);
  add(AppState.Log.LogWriteProblem);
  size_t waiting = AppState.Log.LogPending.size();
  if (waiting > 0)
    add((waiting == 1 ? Text("1 Zeile wartet und wird")
                      : std::to_string(waiting) + " Zeilen warten und werden") +
        " nachgeschrieben, sobald das Schreiben wieder geht.");
  if (AppState.Log.LogDropped > 0)
    add("Protokoll: " + std::to_string(AppState.Log.LogDropped) +
        " ungeschriebene Zeilen verworfen (zu viele warteten).");
  add(AppState.Alarms.AlarmCommandProblem);
  if (AppState.Alarms.AlarmCommandsFailed +
          AppState.Alarms.AlarmCommandsOverdue +
          AppState.Alarms.AlarmCommandsLeftOut >
      0)
    add("Alarmbefehl bisher: " +
        std::to_string(AppState.Alarms.AlarmCommandsFailed) +
        " nicht gestartet, " +
        std::to_string(AppState.Alarms.AlarmCommandsOverdue) +
        " zu lange gelaufen, " +
        std::to_string(AppState.Alarms.AlarmCommandsLeftOut) + " ausgelassen.");
  add(AppState.Saving.HistorySaveText);
  add(AppState.Web.StatusText);
  add(AppState.Mqtt.StatusText);
  return text;
}

static Text DryRunText(const DryRuns& runs) {
  return std::to_string(runs.Trips) + "-mal, " + OnTimeText(runs.OnSeconds) +
         " ein";
}

Text DryRunSummaryText() {
  int64_t local = PlatLocalClock();
  int64_t now = PlatUniversalClock();
  DryRunWeek runs = DryRunStatistics(HistoryRing(), local, now);
  return "Trockenlaufschutz (Ausgang 4): heute " + DryRunText(runs.Today) +
         "; letzte 7 Tage " + DryRunText(runs.LastWeek) + ".";
}

Text AlarmEventsText(int lines) {
  int all = (int)AppState.Alarms.AlarmLines.size();
  Text text;
  for (int i = lines < all ? all - lines : 0; i < all; i++)
    text += (text.empty() ? "" : "\r\n") + AppState.Alarms.AlarmLines[i];
  return text;
}

// Places the controls for the window's size and draws the picture above
// them.
static void LayOutAndDraw() {
  int width = 0;
  int height = 0;
  if (!PlatWindowClientSize(HistoryWindow, &width, &height)) return;
  int stripTop = height - StripHeight;
  int logTop = stripTop - LogRowHeight;
  // The last events that fit, the newest kept.
  int room = (logTop - DryRunRowHeight - LeastPictureHeight) / EventLineHeight;
  int lines = (int)AppState.Alarms.AlarmLines.size();
  if (lines > room) lines = room > 0 ? room : 0;
  int eventsTop = logTop - lines * EventLineHeight;
  int dryRunTop = eventsTop - DryRunRowHeight;
  PlatMoveControl(LabelHistoryDryRun, 10, dryRunTop + 2, width - 20, 18);
  PlatSetText(LabelHistoryDryRun, DryRunSummaryText());
  PlatMoveControl(LabelHistoryEvents, 10, eventsTop, width - 20,
                  lines * EventLineHeight);
  PlatSetText(LabelHistoryEvents, AlarmEventsText(lines));
  int buttonX = width - CloseButtonWidth - 10;
  PlatMoveControl(ButtonSaveHistory, buttonX, logTop + 7, CloseButtonWidth, 22);
  PlatMoveControl(LabelHistoryLog, 10, logTop + 10,
                  width - CloseButtonWidth - 30, 18);
  PlatSetText(LabelHistoryLog, HistoryLogText());
  PlatMoveControl(ButtonCloseHistory, buttonX, stripTop + 7, CloseButtonWidth,
                  22);
  PlatMoveControl(LabelHistorySummary, 10, stripTop + 10,
                  width - CloseButtonWidth - 30, 18);
  PlatSetText(LabelHistorySummary, HistorySummaryText());
  DrawHistoryChart(HistoryWindow, 0, 0, width, dryRunTop);
  AppState.View.History.HistoryShownCount = AppState.History.EvaluationCount;
  AppState.View.History.HistoryShownEvents =
      AppState.Alarms.AlarmEventsAnnounced;
}

void OpenHistoryWindow() {
  PlaySwitchSound();
  if (PlatWindowIsOpen(HistoryWindow)) {
    PlatBringToFront(HistoryWindow);
    return;
  }
  // 40 pixels right of and below the main window as it stands now.
  int x = 0;
  int y = 0;
  PlatWindowOuterPosition(MainWindow, &x, &y);
  if (!PlatOpenWindow(HistoryWindow, FrameSizable, HistoryWindowTitle,
                      FirstWidth, FirstHeight, false, x + 40, y + 40))
    return;
  // Tab goes from the save button to the close button; the labels take
  // no focus.
  PlatCreateControl(HistoryWindow, LabelHistoryDryRun, KindLabel, 0, 0, 0, 0,
                    "", 0);
  PlatCreateControl(HistoryWindow, LabelHistoryEvents, KindLabel, 0, 0, 0, 0,
                    "", 0);
  PlatCreateControl(HistoryWindow, LabelHistoryLog, KindLabel, 0, 0, 0, 0, "",
                    0);
  PlatCreateControl(HistoryWindow, ButtonSaveHistory, KindButton, 0, 0, 0, 0,
                    SaveButtonText, 0);
  PlatCreateControl(HistoryWindow, LabelHistorySummary, KindLabel, 0, 0, 0, 0,
                    "", 0);
  PlatCreateControl(HistoryWindow, ButtonCloseHistory, KindButton, 0, 0, 0, 0,
                    "Dieses Fenster schließen", 0);
  LayOutAndDraw();
}

void CloseHistoryWindow() {
  if (!PlatWindowIsOpen(HistoryWindow)) return;
  PlatCloseWindow(HistoryWindow);
  PlaySwitchSound();
}

void HistoryWindowResized() { LayOutAndDraw(); }

void ShowHistory() {
  if (!PlatWindowIsOpen(HistoryWindow)) return;
  if (AppState.View.History.HistoryShownCount !=
          AppState.History.EvaluationCount ||
      AppState.View.History.HistoryShownEvents !=
          AppState.Alarms.AlarmEventsAnnounced) {
    LayOutAndDraw();
    return;
  }
  Text log = HistoryLogText();
  if (PlatGetText(LabelHistoryLog) != log) PlatSetText(LabelHistoryLog, log);
}

void ShowHistoryLog() { PlatSetText(LabelHistoryLog, HistoryLogText()); }
