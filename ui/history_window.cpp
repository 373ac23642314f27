#include "ui/history_window.h"

#include <cmath>

#include "board/poll.h"
#include "platform/platform.h"
#include "ui/click.h"
#include "ui/control_numbers.h"
#include "ui/history_chart.h"

const char HistoryMenuText[] = "Verlauf des Wasserstands...";
const char HistoryWindowTitle[] = "KORVALINEX: Verlauf des Wasserstands";

// First client size, and the strip below the picture for the summary line
// and the close button.
static const int FirstWidth = 720;
static const int FirstHeight = 420;
static const int StripHeight = 36;
static const int CloseButtonWidth = 150;

// A level as the main window shows analog input 1: cut, not rounded, at
// its second decimal (1.187 V reads 1,18 in both windows).
static Text LevelAndTime(const LevelRecord& r) {
  Text level = std::isfinite(r.Level)
                   ? VoltageText(r.Level, AppState.AnalogTextWidth[1])
                   : "--,--";
  return level + " V (" + HistoryDayText(r.Time) + " " +
         HistoryClockText(r.Time) + ")";
}

// The last evaluation: its level, or that a reading in doubt kept it
// from deciding (on both outputs, or on output 4 alone).
static Text LastEvaluationText(const LevelRecord& r) {
  Text when =
      " (" + HistoryDayText(r.Time) + " " + HistoryClockText(r.Time) + ")";
  if (r.Doubted && !std::isfinite(r.Level))
    return "Messwert unsicher, nichts geschaltet" + when;
  Text text = LevelAndTime(r);
  if (r.Doubted) text += ", Messwert unsicher: Ausgang 4 nicht geschaltet";
  return text;
}

Text HistorySummaryText() {
  int n = HistorySize();
  if (n == 0)
    return "Seit dem Programmstart wurde noch kein Wasserstand gemessen.";
  Text text = "Zuletzt: " + LastEvaluationText(HistoryEntry(n - 1));
  if (AppState.HistoryHasExtremes)
    text += "     Tiefster: " + LevelAndTime(AppState.LowestLevel) +
            "     Höchster: " + LevelAndTime(AppState.HighestLevel);
  return text;
}

// Places the controls for the window's size and draws the picture above
// them.
static void LayOutAndDraw() {
  int width = 0;
  int height = 0;
  if (!PlatWindowClientSize(HistoryWindow, &width, &height)) return;
  int stripTop = height - StripHeight;
  PlatMoveControl(ButtonCloseHistory, width - CloseButtonWidth - 10,
                  stripTop + 7, CloseButtonWidth, 22);
  PlatMoveControl(LabelHistorySummary, 10, stripTop + 10,
                  width - CloseButtonWidth - 30, 18);
  PlatSetText(LabelHistorySummary, HistorySummaryText());
  DrawHistoryChart(HistoryWindow, 0, 0, width, stripTop);
  AppState.HistoryShownCount = AppState.EvaluationCount;
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
  if (PlatWindowIsOpen(HistoryWindow) &&
      AppState.HistoryShownCount != AppState.EvaluationCount)
    LayOutAndDraw();
}
