// The main window as the headless platform records it, built straight from
// the defaults without a board: what follows from the state at build time
// and from the screen. Its controls one by one, as they are built, are in
// tests/golden/main_window.txt (tests/golden_layout_test.cpp).
#include "ui/main_window.h"

#include <gtest/gtest.h>

#include <set>
#include <vector>

#include "base/state.h"
#include "platform/headless/headless.h"
#include "tests/support/program_start.h"
#include "ui/control_numbers.h"
#include "ui/description_window.h"
#include "ui/history_window.h"

namespace {

class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override { StartFresh(); }
};

Text ContentOf(int number) {
  const HeadlessControl* c = HeadlessFindControl(number);
  return c ? c->Content : "<no control>";
}

Text TooltipOf(int number) {
  const HeadlessControl* c = HeadlessFindControl(number);
  return c ? c->Tooltip : "<no control>";
}

TEST_F(MainWindowTest, WindowOnSmallScreenStartsAtTheEdgeItDoesNotFit) {
  HeadlessSetScreenSize(1024, 400);
  ASSERT_TRUE(BuildMainWindow());
  const HeadlessWindow* w = HeadlessFindWindow(MainWindow);
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(w->X, (1024 - w->OuterWidth) / 2);
  EXPECT_EQ(w->Y, 0);
  EXPECT_LE(w->OuterHeight, 400);

  HeadlessReset();
  HeadlessSetScreenSize(300, 200);
  ASSERT_TRUE(BuildMainWindow());
  w = HeadlessFindWindow(MainWindow);
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(w->X, 0);
  EXPECT_EQ(w->Y, 0);
  EXPECT_LE(w->OuterWidth, 300);
  EXPECT_LE(w->OuterHeight, 200);
  EXPECT_EQ(HeadlessCreationOrder(MainWindow).size(), 90u);
}

TEST_F(MainWindowTest, FailingWindowGivesFalseWithoutControlsOrTimer) {
  HeadlessFaultSettings().MainWindowFails = true;
  EXPECT_FALSE(BuildMainWindow());
  const HeadlessWindow* w = HeadlessFindWindow(MainWindow);
  if (w) {
    EXPECT_FALSE(w->Open);
    EXPECT_EQ(w->Timer, 0);
  }
  EXPECT_TRUE(HeadlessCreationOrder(MainWindow).empty());
  for (int number = 0; number < PlatControlCount; number++)
    EXPECT_EQ(HeadlessFindControl(number), nullptr) << number;
}

// The main loop tells controls apart by number alone: every number in every
// window is its own. A number taken twice, or one past the platform's
// limit, would not be created, and the count would come short.
TEST_F(MainWindowTest, ControlNumbersAreApartAcrossWindows) {
  ASSERT_TRUE(BuildMainWindow());
  OpenDescriptionWindow();
  OpenHistoryWindow();
  std::set<int> seen;
  int windows = 0;
  for (int window = 0; window < PlatWindowCount; window++) {
    const HeadlessWindow* w = HeadlessFindWindow(window);
    if (!w || !w->Open) continue;
    windows++;
    for (int number : HeadlessCreationOrder(window))
      EXPECT_TRUE(seen.insert(number).second) << number;
  }
  EXPECT_EQ(windows, 3);
  EXPECT_EQ(seen.size(), 90u + 3u + 6u);  // main, description, history
}

TEST_F(MainWindowTest, TextsRangesAndTooltipsFollowTheStateAtBuildTime) {
  AppState.Settings.OutputName[1] = "Pumpe";
  AppState.Settings.OutputName[8] = "Alarm";
  AppState.Settings.MinSwitchDelay[1] = 5;
  AppState.Settings.MaxSwitchDelay[1] = 500;
  AppState.Settings.SwitchDelayText[1] = "250";
  AppState.Settings.MaxSwitchDelay[8] = 3000;
  AppState.Refresh.RefreshInterval = 20000;
  AppState.Settings.InitialRefreshInterval = 30000;
  AppState.Measurement.CyclePeriod = 42;
  ASSERT_TRUE(BuildMainWindow());

  EXPECT_EQ(ContentOf(OutputNameLabel(1)), "Pumpe");
  EXPECT_EQ(TooltipOf(74), "EIN/AUS-Schalter f\xFCr 'Pumpe'");
  EXPECT_EQ(TooltipOf(83),
            "Schaltverz\xF6gerung f\xFCr Schalter 'Pumpe'. G\xFCltige "
            "Eingabewerte = 5...500");
  EXPECT_EQ(ContentOf(SpinDelay1), "250");
  EXPECT_EQ(HeadlessFindControl(SpinDelay1)->Min, 5);
  EXPECT_EQ(HeadlessFindControl(SpinDelay1)->Max, 500);
  EXPECT_EQ(HeadlessFindControl(SpinDelay8)->Max, 3000);
  EXPECT_EQ(TooltipOf(91),
            "Schaltverz\xF6gerung f\xFCr Schalter 'Alarm'. G\xFCltige "
            "Eingabewerte = 1...3000");
  EXPECT_EQ(TooltipOf(110),
            "Sicherheitslock: Schalter zur Aktivierung des EIN/AUS-Schalters "
            "f\xFCr 'Alarm'");

  EXPECT_EQ(HeadlessFindControl(TrackbarRefresh)->Max, 20);
  EXPECT_EQ(TooltipOf(101),
            "Abfrageintervall der Messdaten. Von 1...20 Sekunden einstellbar");
  EXPECT_EQ(ContentOf(LabelRefreshSeconds), "20");
  EXPECT_EQ(ContentOf(LabelRefreshMax), "30");
  EXPECT_EQ(ContentOf(LabelPingCountdown), "Ping war-ms / New Dat in 20 s");
  EXPECT_EQ(ContentOf(LabelCyclePeriod), "42 s");
}

}  // namespace
