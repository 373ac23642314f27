// The level history: what the measurement cycle records, the history
// window and its picture, and the alarm when the well runs low or full
// while the operator looks elsewhere.
#include "control/history.h"

#include <algorithm>
#include <cmath>

#include "control/measurement.h"
#include "tests/program_fixture.h"
#include "ui/control_numbers.h"
#include "ui/history_chart.h"
#include "ui/history_window.h"

namespace {

const double VoltsPerCount = 0.0048828;

using History = HandlerTest;

// The steps of the history window's picture of one kind and colour.
std::vector<HeadlessDrawStep> Drawn(DrawStepKind kind, uint32_t colour) {
  std::vector<HeadlessDrawStep> found;
  for (const HeadlessDrawStep& s : HeadlessShownDrawing(HistoryWindow))
    if (s.Kind == kind && s.Colour == colour) found.push_back(s);
  return found;
}

const HeadlessDrawStep* TextStep(const Text& text) {
  for (const HeadlessDrawStep& s : HeadlessShownDrawing(HistoryWindow))
    if (s.Kind == StepText && s.Content == text) return &s;
  return nullptr;
}

// The time axis' labels, left to right.
std::vector<Text> TimeLabels() {
  std::vector<Text> labels;
  for (const HeadlessDrawStep& s : HeadlessShownDrawing(HistoryWindow))
    if (s.Kind == StepText && s.Align == AlignCentre)
      labels.push_back(s.Content);
  return labels;
}

// The y of a voltage as the axis labels give it: linear between the labels
// "0,00" and `topLabel` (`top` volts).
double YOfVolts(double volts, const Text& topLabel, double top) {
  const HeadlessDrawStep* zero = TextStep("0,00");
  const HeadlessDrawStep* high = TextStep(topLabel);
  if (!zero || !high) return NAN;
  return zero->Y1 + (high->Y1 - zero->Y1) * volts / top;
}

struct Expected {
  double counts;
  int output5, output4;
};

}  // namespace

TEST_F(History, RecordsEveryEvaluationOfADrainingThenFillingWell) {
  // Down to dry, twice below the Minimum, up again past the Maximum.
  const Expected well[] = {{150, 0, 0}, {60, 0, 0},  {40, 0, 1}, {20, 0, 1},
                           {90, 0, 0},  {260, 1, 0}, {280, 1, 0}};
  int64_t start = PlatLocalClock();
  uint32_t t0 = PlatTickCount();
  for (const Expected& e : well) MeasureWholeCycle(e.counts);
  // Each evaluation is recorded as it ends, after its command to output 4
  // and the proven query that shows it done (its quiet lasts ReplyStartLimit
  // after its last command).
  std::vector<uint32_t> ends;
  for (const kvxsim::CommandRecord& c : Sim.Commands())
    if (c.text.rfind("setport 4.", 0) == 0) ends.push_back(c.time - t0);
  ASSERT_EQ(ends.size(), 21u);

  // A cycle evaluates at its ticks 13, 14 and 15.
  ASSERT_EQ(HistorySize(), 21);
  for (int i = 0; i < 21; i++) {
    SCOPED_TRACE(i);
    const LevelRecord& r = HistoryEntry(i);
    const Expected& e = well[i / 3];
    EXPECT_NEAR(r.Level5, e.counts * VoltsPerCount, 1e-3);
    EXPECT_EQ(r.Output5, e.output5);
    EXPECT_EQ(r.Output4, e.output4);
    EXPECT_GE(r.Time, start + 15 * (i / 3) + 13 + i % 3);
    EXPECT_NEAR((double)r.Time,
                (double)start + (ends[i] + ReplyStartLimit) / 1000.0, 1.0);
  }
  EXPECT_NEAR(AppState.History.LowestLevel.Level5, 20 * VoltsPerCount, 1e-3);
  EXPECT_EQ(AppState.History.LowestLevel.Time,
            HistoryEntry(9).Time);  // its first
  EXPECT_NEAR(AppState.History.HighestLevel.Level5, 280 * VoltsPerCount, 1e-3);
  EXPECT_EQ(HistorySummaryText(),
            "Zuletzt: 1,36 V (06.12. 07:49)     Tiefster: 0,09 V (06.12. "
            "07:47)     Höchster: 1,36 V (06.12. 07:49)");
}

// A level reads as in the main window: 1.187 V is 1,18 there, cut at the
// second decimal, and so here, not 1,19.
TEST_F(History, LevelsReadAsInTheMainWindow) {
  RecordEvaluation(1.187, 1, 1.187, 0, false);
  RecordEvaluation(0.098, 0, 0.098, 1, false);
  EXPECT_EQ(HistorySummaryText(),
            "Zuletzt: 0,09 V (06.12. 07:45)     Tiefster: 0,09 V (06.12. "
            "07:45)     Höchster: 1,18 V (06.12. 07:45)");
}

TEST_F(History, AnEvaluationWithoutAFreshLevelRecordsNothing) {
  MeasureWholeCycle(150);
  ASSERT_EQ(HistorySize(), 3);
  // The board goes away between the sensor's power and the evaluation.
  Sim.SetLevel(20);
  AppState.Measurement.CyclePeriod = 10;
  AppState.Measurement.CycleCounter = 0;
  for (int tick = 0; tick < 12; tick++) MeasurementCycle();
  Sim.CloseNow();
  MeasurementCycle();
  EXPECT_TRUE(AppState.Link.ConnectionLost);
  EXPECT_EQ(HistorySize(), 3);
  EXPECT_EQ(AppState.History.EvaluationCount, 3);
}

TEST_F(History, TheBoundDropsTheOldestButKeepsTheExtremesSinceTheStart) {
  for (int i = 0; i < HistoryCapacity + 5; i++) {
    HeadlessAdvanceClock(360000);
    double level = i == 2 ? 0.05 : 0.5 + (i % 100) * 0.01;
    RecordEvaluation(level, 0, level, 0, false);
  }
  ASSERT_EQ(HistorySize(), HistoryCapacity);
  EXPECT_NEAR(HistoryEntry(0).Level5, 0.5 + 5 * 0.01, 1e-9);
  EXPECT_NEAR(HistoryEntry(HistoryCapacity - 1).Level5,
              0.5 + ((HistoryCapacity + 4) % 100) * 0.01, 1e-9);
  EXPECT_EQ(HistoryEntry(1).Time - HistoryEntry(0).Time, 360);
  // The lowest level was dropped from the ring, not from the summary.
  EXPECT_NEAR(AppState.History.LowestLevel.Level5, 0.05, 1e-9);
  EXPECT_EQ(AppState.History.EvaluationCount, HistoryCapacity + 5);

  // Six weeks in one picture: a line through every evaluation, too dense
  // for points, and dates on the time axis.
  OpenHistoryWindow();
  EXPECT_EQ(Drawn(StepLine, ChartLevel).size(), (size_t)HistoryCapacity);
  EXPECT_TRUE(Drawn(StepDot, ChartLevel).empty());
  std::vector<Text> labels = TimeLabels();
  EXPECT_GE(labels.size(), 3u);
  for (const Text& label : labels) {
    EXPECT_EQ(label.size(), 6u) << label;
    EXPECT_EQ(label[2], '.') << label;
  }
}

TEST_F(History, ThePictureFollowsTheData) {
  // An hour: levels every ten minutes, output 4 on for two of them,
  // output 5 for the last.
  const double levels[] = {0.9, 0.5, 0.18, 0.15, 0.6, 1.0, 1.3};
  const int output4[] = {0, 0, 1, 1, 0, 0, 0};
  const int output5[] = {0, 0, 0, 0, 0, 0, 1};
  for (int i = 0; i < 7; i++) {
    HeadlessAdvanceClock(600000);
    RecordEvaluation(levels[i], output5[i], levels[i], output4[i], false);
  }
  OpenHistoryWindow();
  ASSERT_TRUE(PlatWindowIsOpen(HistoryWindow));

  // The voltage axis: 0 to 1.4 V in steps the height allows.
  ASSERT_NE(TextStep("1,40"), nullptr);
  EXPECT_EQ(TextStep("1,60"), nullptr);
  // Points: one per evaluation, evenly apart in time, at their levels.
  std::vector<HeadlessDrawStep> dots = Drawn(StepDot, ChartLevel);
  ASSERT_EQ(dots.size(), 7u);
  for (int i = 0; i < 7; i++) {
    SCOPED_TRACE(i);
    EXPECT_NEAR(dots[i].Y1, YOfVolts(levels[i], "1,40", 1.4), 1.0);
    if (i > 0) {
      EXPECT_NEAR(dots[i].X1 - dots[i - 1].X1, dots[1].X1 - dots[0].X1, 1);
    }
  }
  EXPECT_EQ(Drawn(StepLine, ChartLevel).size(), 6u + 1);  // + the legend

  // The thresholds: dashed lines at their voltages, labelled.
  std::vector<HeadlessDrawStep> minimum = Drawn(StepLine, ChartMinimumLine);
  std::vector<HeadlessDrawStep> maximum = Drawn(StepLine, ChartMaximumLine);
  ASSERT_EQ(minimum.size(), 1u);
  ASSERT_EQ(maximum.size(), 1u);
  EXPECT_EQ(minimum[0].Style, LineDashed);
  EXPECT_NEAR(minimum[0].Y1, YOfVolts(0.21, "1,40", 1.4), 1.0);
  EXPECT_NEAR(maximum[0].Y1, YOfVolts(1.18, "1,40", 1.4), 1.0);
  EXPECT_NE(TextStep("Minimum 0,21 V"), nullptr);
  EXPECT_NE(TextStep("Maximum 1,18 V"), nullptr);

  // The bands: output 4 from its "on" to its "off", output 5 from its
  // "on" (the last evaluation) a few pixels wide; plus their legends.
  std::vector<HeadlessDrawStep> band4 = Drawn(StepRect, ChartOutput4Band);
  std::vector<HeadlessDrawStep> band5 = Drawn(StepRect, ChartOutput5Band);
  ASSERT_EQ(band4.size(), 2u);
  ASSERT_EQ(band5.size(), 2u);
  EXPECT_EQ(band4[0].X1, dots[2].X1);
  EXPECT_EQ(band4[0].X2, dots[4].X1);
  EXPECT_EQ(band5[0].X1, dots[6].X1);
  EXPECT_GE(band5[0].X2, band5[0].X1 + 4);

  // Time ticks of an hour's span: every ten minutes, local clock times.
  EXPECT_EQ(TimeLabels(), (std::vector<Text>{"08:00", "08:10", "08:20", "08:30",
                                             "08:40", "08:50"}));

  // A higher level raises the axis; the picture and the line below it
  // follow a new evaluation while the window is open.
  int shown = HeadlessDrawingShowCount(HistoryWindow);
  HeadlessAdvanceClock(600000);
  RecordEvaluation(2.9, 1, 2.9, 0, false);
  ShowHistory();
  EXPECT_EQ(HeadlessDrawingShowCount(HistoryWindow), shown + 1);
  EXPECT_NE(TextStep("3,00"), nullptr);
  EXPECT_EQ(TextStep("1,40"), nullptr);
  EXPECT_EQ(Drawn(StepDot, ChartLevel).size(), 8u);
  EXPECT_EQ(C(LabelHistorySummary).Content,
            "Zuletzt: 2,90 V (06.12. 09:05)     Tiefster: 0,15 V (06.12. "
            "08:25)     Höchster: 2,90 V (06.12. 09:05)");
  // Nothing new: nothing drawn again.
  ShowHistory();
  EXPECT_EQ(HeadlessDrawingShowCount(HistoryWindow), shown + 1);
}

TEST_F(History, AResizedWindowRedrawsToItsSize) {
  RecordEvaluation(0.7, 0, 0.7, 0, false);
  OpenHistoryWindow();
  auto axisRight = [] {
    int right = 0;
    for (const HeadlessDrawStep& s : HeadlessShownDrawing(HistoryWindow))
      if (s.Kind == StepLine && s.Colour == ChartAxis)
        right = std::max(right, s.X2);
    return right;
  };
  // One evaluation, at 07:45:00: two minutes around it, in half minutes.
  EXPECT_EQ(TimeLabels(), (std::vector<Text>{"07:44:00", "07:44:30", "07:45:00",
                                             "07:45:30", "07:46:00"}));
  int before = axisRight();
  ASSERT_TRUE(HeadlessResizeWindow(HistoryWindow, 1000, 600));
  HistoryWindowResized();
  EXPECT_EQ(axisRight() - before, 1000 - 720);
  EXPECT_EQ(C(ButtonCloseHistory).X + C(ButtonCloseHistory).Width, 990);
  EXPECT_GT(C(ButtonCloseHistory).Y, 560);
  EXPECT_EQ(C(LabelHistorySummary).Y, C(ButtonCloseHistory).Y + 3);

  // Too small for a plot: an empty picture, no crash.
  ASSERT_TRUE(HeadlessResizeWindow(HistoryWindow, 30, 20));
  HistoryWindowResized();
  EXPECT_TRUE(HeadlessShownDrawing(HistoryWindow).empty());
}

TEST_F(History, HostileLevelsStayInsideThePicture) {
  RecordEvaluation(0.5, 0, 0.5, 0, false);
  RecordEvaluation(INFINITY, 1, INFINITY, 0, false);
  RecordEvaluation(NAN, 0, NAN, 0, false);
  RecordEvaluation(-3, 0, -3, 1, false);
  RecordEvaluation(1e300, 1, 1e300, 0, false);
  // The end of summer time: the clock goes back an hour.
  HeadlessSetLocalTime(6, 12, 2026, 6, 45);
  RecordEvaluation(0.4, 0, 0.4, 0, false);
  OpenHistoryWindow();
  const HeadlessWindow* w = HeadlessFindWindow(HistoryWindow);
  ASSERT_NE(w, nullptr);
  // The axis stops at 10 V; the level that is no number is left out.
  EXPECT_NE(TextStep("10,00"), nullptr);
  std::vector<HeadlessDrawStep> dots = Drawn(StepDot, ChartLevel);
  EXPECT_EQ(dots.size(), 5u);
  int left = w->ClientWidth;
  int bottom = 0;
  for (const HeadlessDrawStep& s : HeadlessShownDrawing(HistoryWindow)) {
    if (s.Kind != StepLine || s.Colour != ChartAxis) continue;
    left = std::min(left, s.X1);
    bottom = std::max(bottom, s.Y2);
  }
  for (const HeadlessDrawStep& d : dots) {
    EXPECT_GT(d.X1, left);
    EXPECT_LT(d.X1, w->ClientWidth);
    EXPECT_GE(d.Y1, 0);
    EXPECT_LE(d.Y1, bottom);
  }
  EXPECT_NEAR(AppState.History.HighestLevel.Level5, 1e300, 1);
  EXPECT_NEAR(AppState.History.LowestLevel.Level5, -3, 1e-9);
}

// The window from the main window's system menu, through the main loop.
TEST_F(BoardTest, HistoryWindowOpensOnceAndClosesAlone) {
  Then([] {
    const HeadlessWindow* main = HeadlessFindWindow(MainWindow);
    ASSERT_EQ(main->SystemMenu.size(), 1u);
    EXPECT_EQ(main->SystemMenu[0].second, "Verlauf des Wasserstands...");
    EXPECT_TRUE(HeadlessChooseSystemMenuItem(MainWindow, MenuLevelHistory));
  });
  Then([] {
    const HeadlessWindow* w = HeadlessFindWindow(HistoryWindow);
    ASSERT_TRUE(w && w->Open);
    EXPECT_EQ(w->Title, "KORVALINEX: Verlauf des Wasserstands");
    EXPECT_EQ(w->Frame, FrameSizable);
    EXPECT_NE(TextStep("Noch keine Messung seit dem Programmstart"), nullptr);
    EXPECT_EQ(C(LabelHistorySummary).Content,
              "Seit dem Programmstart wurde noch kein Wasserstand gemessen.");
    HeadlessActivateWindow(MainWindow);
    HeadlessChooseSystemMenuItem(MainWindow, MenuLevelHistory);
  });
  Then([] {
    // The open one comes to the front; no second one.
    EXPECT_EQ(HeadlessFindWindow(HistoryWindow)->OpenCount, 1);
    EXPECT_TRUE(PlatWindowIsActive(HistoryWindow));
    HeadlessPostClose(HistoryWindow);
  });
  Then([] {
    EXPECT_FALSE(PlatWindowIsOpen(HistoryWindow));
    EXPECT_TRUE(PlatWindowIsOpen(MainWindow));
    HeadlessChooseSystemMenuItem(MainWindow, MenuLevelHistory);
  });
  Then([] { EXPECT_TRUE(HeadlessPostClick(ButtonCloseHistory)); });
  Then([] {
    EXPECT_FALSE(PlatWindowIsOpen(HistoryWindow));
    EXPECT_TRUE(PlatWindowIsOpen(MainWindow));
    EXPECT_EQ(HeadlessFindWindow(HistoryWindow)->OpenCount, 2);
  });
  RunSteps();
}

TEST_F(History, AlarmFlashesWhenOutput4Or5GoesOnOrOffUnseen) {
  const HeadlessWindow* main = HeadlessFindWindow(MainWindow);
  ASSERT_NE(main, nullptr);

  // Low, the operator in another program: the main window flashes.
  HeadlessActivateOtherProgram();
  MeasureWholeCycle(20);
  EXPECT_TRUE(main->Flashing);
  EXPECT_EQ(main->FlashCount, 1);
  // Still low: output 4 was on already, no new call.
  HeadlessActivateWindow(MainWindow);
  HeadlessActivateOtherProgram();
  MeasureWholeCycle(20);
  EXPECT_FALSE(main->Flashing);
  EXPECT_EQ(main->FlashCount, 1);
  // Normal: output 4 off again, the all-clear calls.
  MeasureWholeCycle(100);
  EXPECT_EQ(main->FlashCount, 2);
  // Low again while the operator looks at the main window: no call.
  HeadlessActivateWindow(MainWindow);
  MeasureWholeCycle(20);
  EXPECT_EQ(main->FlashCount, 2);
  // Full, the history window in front: the main window is not active.
  MeasureWholeCycle(100);
  OpenHistoryWindow();
  MeasureWholeCycle(260);
  EXPECT_TRUE(main->Flashing);
  EXPECT_EQ(main->FlashCount, 3);
  HeadlessActivateWindow(MainWindow);
  EXPECT_FALSE(main->Flashing);
  // Output 5 off again, unseen: the all-clear calls.
  HeadlessActivateOtherProgram();
  MeasureWholeCycle(100);
  EXPECT_EQ(main->FlashCount, 4);
}
