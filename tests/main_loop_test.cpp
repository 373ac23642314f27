// The main loop over the driven clock, against the simulated board: the
// entry steps, the refresh timing and the labels it keeps current.
#include <vector>

#include "tests/program_fixture.h"
#include "ui/control_numbers.h"

namespace {

using MainLoop = BoardTest;

// Board-clock times of every board query (its "Help" command).
std::vector<uint32_t> QueryTimes(kvxsim::Simulator& sim) {
  std::vector<uint32_t> times;
  for (const kvxsim::CommandRecord& c : sim.Commands())
    if (c.text == "Help") times.push_back(c.time);
  return times;
}

}  // namespace

TEST_F(MainLoop, EntryRunsTheFirstQueryWithTheFunctionsStillOff) {
  Then([&] {
    EXPECT_EQ(Sim.CommandCount(), 14u);
    EXPECT_EQ(C(OutputStateLabel(3)).Content, "keine Messung");
    EXPECT_EQ(C(OutputStateLabel(3)).TextColour, Blue);
    EXPECT_EQ(C(OutputStateLabel(4)).Content, "gesperrt");
    EXPECT_EQ(C(OutputStateLabel(5)).Content, "gesperrt");
    for (int on : {ButtonMeasurementOn, ButtonMinimumOn, ButtonMaximumOn})
      EXPECT_TRUE(C(on).Enabled) << on;
    for (int off : {ButtonMeasurementOff, ButtonMinimumOff, ButtonMaximumOff})
      EXPECT_FALSE(C(off).Enabled) << off;
    EXPECT_EQ(C(TrackbarRefresh).Value, 1);
    EXPECT_EQ(AppState.Refresh.RefreshInterval, 1000);
    EXPECT_EQ(C(TrackbarCycle).Value, 360);
    EXPECT_EQ(C(LabelCyclePeriod).Content, "360 s");
    EXPECT_EQ(AppState.Switching.MeasurementEnabled, 1);
  });
  // The second query shows the functions released.
  ThenWhen(
      100, [&] { return Sim.CommandCount() >= 28; },
      [&] {
        EXPECT_EQ(C(OutputStateLabel(3)).Content, "Messung in 360 Sek");
        EXPECT_EQ(C(OutputStateLabel(3)).TextColour, Red);
        EXPECT_EQ(C(OutputStateLabel(4)).Content, "Freigegeben");
        EXPECT_EQ(C(OutputStateLabel(5)).TextColour, Red);
        for (int on : {ButtonMeasurementOn, ButtonMinimumOn, ButtonMaximumOn})
          EXPECT_FALSE(C(on).Enabled) << on;
      },
      "a second query");
  // The AUS buttons are usable once the main loop has taken the clicks
  // made while they were greyed.
  Then([] {
    for (int off : {ButtonMeasurementOff, ButtonMinimumOff, ButtonMaximumOff})
      EXPECT_TRUE(C(off).Enabled) << off;
  });
  RunSteps();
}

TEST_F(MainLoop, QueriesOncePerIntervalAndANewIntervalAppliesFromTheNext) {
  ThenWhen(
      1000, [] { return PlatTickCount() >= 10000; },
      [] { HeadlessMoveTrackbar(TrackbarRefresh, 3); }, "10 s");
  ThenWithin(
      1000, [] { return PlatTickCount() >= 30000; },
      [] { return std::string("30 s never came"); });
  RunSteps();
  std::vector<uint32_t> t = QueryTimes(Sim);
  ASSERT_GE(t.size(), 16u);
  // Every query is a whole one: 14 commands from one "Help" to the next.
  EXPECT_EQ(Sim.CommandCount(), 14u * t.size());
  int atOneSecond = 0, atThreeSeconds = 0;
  for (size_t i = 1; i < t.size(); i++) {
    uint32_t gap = t[i] - t[i - 1];
    // Never earlier than the deadline, at most one wait after it.
    if (t[i - 1] < 10000) {
      EXPECT_GE(gap, 1000u);
      EXPECT_LE(gap, 1500u);
      atOneSecond++;
    } else if (t[i - 1] > 11000) {
      EXPECT_GE(gap, 3000u);
      EXPECT_LE(gap, 3500u);
      atThreeSeconds++;
    }
  }
  EXPECT_GE(atOneSecond, 8);
  EXPECT_GE(atThreeSeconds, 5);
  // One click after each automatic query (the first query has none), one
  // at the end.
  EXPECT_EQ(HeadlessClickCount(), (int)t.size());
}

TEST_F(MainLoop, LabelsFollowTheTrackbarAndCountDown) {
  std::vector<std::string> countdowns;
  auto record = [&] { countdowns.push_back(C(LabelPingCountdown).Content); };
  for (int pass = 0; pass < 3; pass++) Then(record);
  Then([&] {
    record();
    HeadlessMoveTrackbar(TrackbarRefresh, 3);
  });
  Then([&] {
    record();
    EXPECT_EQ(C(LabelRefreshSeconds).Content, "3");
  });
  for (int pass = 0; pass < 7; pass++) Then(record);
  RunSteps();
  ASSERT_EQ(countdowns.size(), 12u);
  // Label 36 before the first pass shows the build's template.
  EXPECT_EQ(countdowns[0], "Ping war-ms / New Dat in 10 s");
  bool sawOne = false;
  for (const std::string& s : countdowns)
    if (s == "Ping war 0 ms / Neue Daten in 1 s") sawOne = true;
  EXPECT_TRUE(sawOne);
}

TEST_F(MainLoop, SlowPassShowsANegativeCountOnceAndQueriesAtOnce) {
  size_t queriesBefore = 0;
  for (int pass = 0; pass < 5; pass++) Then([] {});
  Then([&] {
    queriesBefore = QueryTimes(Sim).size();
    HeadlessAdvanceClock(2600);  // a busy pass, as a long pulse makes
  });
  Then([&] {
    std::string afterSlowPass = C(LabelPingCountdown).Content;
    EXPECT_EQ(afterSlowPass.find("Ping war 0 ms / Neue Daten in -"), 0u)
        << afterSlowPass;
    EXPECT_EQ(QueryTimes(Sim).size(), queriesBefore + 1);
  });
  RunSteps();
}

TEST_F(MainLoop, TickCountWrapIsHarmless) {
  HeadlessSetClock(0xFFFFFFFFu - 4500);
  ThenWithin(
      1000,
      [] { return PlatTickCount() >= 6000 && PlatTickCount() < 0x80000000u; },
      [] { return std::string("the clock never passed its wrap"); });
  RunSteps();
  std::vector<uint32_t> t = QueryTimes(Sim);
  ASSERT_GE(t.size(), 9u);
  for (size_t i = 1; i < t.size(); i++) {
    uint32_t gap = t[i] - t[i - 1];  // wraps with the clock
    EXPECT_GE(gap, 1000u);
    EXPECT_LE(gap, 1500u);
  }
}

// Each other event ends its wait, and a whole pass follows it (label 36 is
// written afresh) before the next wait; it sends nothing and ends nothing.
TEST_F(MainLoop, OtherEventsRunAPassOfTheirOwn) {
  int passesAfterOther = 0;
  uint64_t commands = 0;
  auto post = [] {
    PlatSetText(LabelPingCountdown, "-");
    HeadlessPostOther();
  };
  auto passed = [&] {
    EXPECT_EQ(AppState.Loop.LastEvent, EventOther);
    if (C(LabelPingCountdown).Content != "-") passesAfterOther++;
  };
  // The entry's query learns the board's replies and takes longer than the
  // refresh interval: the query it owes comes at the next pass.
  Then([] {});
  Then([&] {
    commands = Sim.CommandCount();
    post();
  });
  for (int other = 0; other < 3; other++) {
    Then([&] {
      passed();
      post();
    });
  }
  Then([&] {
    passed();
    EXPECT_EQ(Sim.CommandCount(), commands);
    EXPECT_FALSE(HeadlessPostClick(LabelBoardData));  // a label takes none
  });
  RunSteps();
  EXPECT_EQ(passesAfterOther, 4);
}

TEST_F(MainLoop, CloseRequestForTheDescriptionWindowClosesOnlyThatWindow) {
  bool stillRunning = false;
  Then([] {});
  Then([] { HeadlessPostClick(ButtonPicture); });
  Then([] {
    ASSERT_NE(HeadlessFindWindow(DescriptionWindow), nullptr);
    EXPECT_TRUE(HeadlessFindWindow(DescriptionWindow)->Open);
    HeadlessPostClose(DescriptionWindow);
  });
  Then([&] {
    EXPECT_FALSE(HeadlessFindWindow(DescriptionWindow)->Open);
    stillRunning = HeadlessFindWindow(MainWindow)->Open;
  });
  RunSteps();
  EXPECT_TRUE(stillRunning);
}

// The event wait ends at the refresh deadline: each automatic query starts
// at its deadline, not up to half a second after it, also when the window
// timer's ticks do not fall on the deadlines.
TEST_F(MainLoop, EachQueryStartsAtItsDeadline) {
  Then([] { HeadlessSetClock(250); });  // the timer ticks at 1250, 2250...
  ThenWithin(
      100, [this] { return QueryTimes(Sim).size() >= 6; },
      [] { return std::string("fewer than six queries"); });
  RunSteps();
  std::vector<uint32_t> times = QueryTimes(Sim);
  ASSERT_GE(times.size(), 6u);
  // The entry's query at 0, its deadline set before it: the next at 1000.
  // Then one a second after the one before it ended: every query takes the
  // same time on a prompt board, so they lie the same distance apart, and
  // none of them on a tick of the timer.
  EXPECT_EQ(times[1], 1000u);
  const uint32_t apart = times[2] - times[1];
  EXPECT_GE(apart, 1000u);
  EXPECT_LT(apart, 1200u);
  for (size_t i = 2; i < times.size(); i++) {
    EXPECT_EQ(times[i] - times[i - 1], apart) << i;
    EXPECT_NE(times[i] % 1000, 250u) << i;
  }
}
