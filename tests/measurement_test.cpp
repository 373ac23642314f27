// The measurement cycle against the simulated board: the commands of a
// cycle tick by tick, the level decisions at their thresholds, the level
// bar and its top mark, and the cycle period while the measurement is off.
#include "control/measurement.h"

#include "control/switching.h"
#include "tests/program_fixture.h"
#include "tests/support/program_start.h"
#include "ui/control_numbers.h"
#include "ui/main_window.h"

namespace {

using Commands = std::vector<std::string>;

class Measurement : public HandlerTest {
 protected:
  // Runs `ticks` ticks of timer 123 and returns the commands they sent,
  // once the board has every one of them (one send call each).
  Commands Ticks(int ticks) {
    Sim.ClearLog();
    int sends = HeadlessSendCount();
    for (int i = 0; i < ticks; i++) {
      MeasurementCycle();
    }
    ExpectCommands((uint64_t)(HeadlessSendCount() - sends));
    return CommandTexts();
  }
  // One evaluation with the sensor powered and warm.
  Commands Evaluate() {
    Sim.ClearLog();
    Sim.SetOutput(3, true);
    SensorAsWarmedUp();
    EvaluateLevel();
    return CommandTexts();
  }
};

// What the ticks P + 1 to P + 5 of a released cycle send, the level being
// above the maximum.
Commands PoweredTicks() {
  Commands all;
  auto add = [&all](const Commands& c) {
    all.insert(all.end(), c.begin(), c.end());
  };
  for (int tick = 1; tick <= 5; tick++) {
    add({"setport 3.1"});
    add(QueryCommands);
    if (tick >= 3) {
      add(QueryCommands);
      add({"setport 5.1"});
      add(QueryCommands);
      add({"setport 4.0"});
      add(QueryCommands);
    }
    if (tick == 5) {
      add({"setport 3.0"});
      add(QueryCommands);
    }
  }
  return all;
}

}  // namespace

TEST_F(Measurement, FullCycleCommandsClicksAndQueries) {
  Sim.SetAnalog(1, 300);  // 1.465 V, read only while output 3 is on
  for (int period : {360, 0}) {
    SCOPED_TRACE(period);
    AppState.Measurement.CyclePeriod = period;
    AppState.Measurement.CycleCounter = 0;
    EXPECT_TRUE(Ticks(period).empty());
    EXPECT_EQ(AppState.Measurement.CycleCounter, period);

    int clicks = HeadlessClickCount();
    Commands sent = Ticks(5);
    EXPECT_EQ(sent, PoweredTicks());
    EXPECT_EQ(OnlySetports(sent).size(), 12u);
    EXPECT_EQ(sent.size() - 12, 15 * QueryCommands.size());
    EXPECT_EQ(HeadlessClickCount() - clicks, 12);
    EXPECT_EQ(AppState.Measurement.CycleCounter, 0);
    EXPECT_FALSE(Sim.Output(3));
    EXPECT_TRUE(Sim.Output(5));

    // With P = 0 output 3 is off for one tick only.
    Commands next = Ticks(1);
    EXPECT_EQ(OnlySetports(next),
              period == 0 ? Commands({"setport 3.1"}) : Commands());
    EXPECT_EQ(AppState.Measurement.CycleCounter, 1);
  }
}

TEST_F(Measurement, SwitchedOffCycleOnlyEndsAndNegativePeriodEndsEveryTick) {
  AppState.Switching.MeasurementEnabled = 0;
  AppState.Measurement.CyclePeriod = 10;
  Commands sent = Ticks(30);
  Commands expected;
  for (int i = 0; i < 2; i++) {
    expected.push_back("setport 3.0");
    expected.insert(expected.end(), QueryCommands.begin(), QueryCommands.end());
  }
  EXPECT_EQ(sent, expected);

  AppState.Measurement.CyclePeriod = -1;
  EXPECT_EQ(OnlySetports(Ticks(2)), Commands({"setport 3.0", "setport 3.0"}));
  EXPECT_EQ(AppState.Measurement.CycleCounter, 0);
}

TEST_F(Measurement, LevelOutputsAtTheirThresholds) {
  struct Case {
    const char* count;  // the board's reply to GETADC 1
    double level;
    int maximum, minimum;  // MaximumEnabled, MinimumEnabled
    const char* toOutput5;
    const char* toOutput4;
  };
  const Case cases[] = {
      {"242", 1.182, 1, 1, "setport 5.1", "setport 4.0"},

      {"241", 1.177, 1, 1, "setport 5.0", "setport 4.0"},
      {"300", 1.465, 0, 1, "setport 5.0", "setport 4.0"},
      {"43", 0.21, 1, 1, "setport 5.0", "setport 4.1"},
      {"44", 0.215, 1, 1, "setport 5.0", "setport 4.0"},
      {"0", 0.0, 1, 0, "setport 5.0", "setport 4.0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.count);
    Sim.SetReply("GETADC 1", std::string(c.count) + "\r\n");
    // A locked function's output is switched off, not left alone.
    Sim.SetOutput(4, true);
    Sim.SetOutput(5, true);
    AppState.Switching.MaximumEnabled = c.maximum;
    AppState.Switching.MinimumEnabled = c.minimum;
    EXPECT_EQ(OnlySetports(Evaluate()), Commands({c.toOutput5, c.toOutput4}));
    EXPECT_EQ(AppState.Readings.LevelVoltage, c.level);
    EXPECT_EQ(Sim.Output(5), std::string(c.toOutput5) == "setport 5.1");
    EXPECT_EQ(Sim.Output(4), std::string(c.toOutput4) == "setport 4.1");
  }
}

// The board's count is a whole number: a reply such as "241.67", which
// would read as exactly 1.18 V, is not its form, and decides nothing.
TEST_F(Measurement, AReplyThatIsNoCountDecidesNothing) {
  for (const char* reply :
       {"241.67\r\n", "abc\r\n", "\r\n", "S00001100\r\n", "-3\r\n",
        "1023 1023\r\n", "5000\r\n", "99999\r\n"}) {
    SCOPED_TRACE(reply);
    Sim.SetReply("GETADC 1", reply);
    EXPECT_EQ(OnlySetports(Evaluate()), Commands({}));
    EXPECT_GT(AppState.Measurement.DoubtedEvaluations, 0);
  }
  Sim.ClearReplies();
  Sim.SetOutput(3, true);
  Sim.SetAnalog(1, 600);
  EXPECT_EQ(OnlySetports(Evaluate()), Commands({"setport 5.1", "setport 4.0"}));
  EXPECT_EQ(AppState.Measurement.DoubtedEvaluations, 0);
}

// Output 4's reading rides on the query after "setport 5.x": a board
// whose status then does not show output 5 as just sent is not in step
// with its commands, and that reading decides nothing.
TEST_F(Measurement, Output4NeedsTheStatusToShowOutput5AsSent) {
  struct Case {
    int counts;
    const char* status;  // the board's every reply to Getstatus
    const char* toOutput5;
    bool decides;
  };
  const Case cases[] = {
      {600, "S00000100\r\n", "setport 5.1", false},
      {150, "S00010100\r\n", "setport 5.0", false},
      {600, "S00010100\r\n", "setport 5.1", true},
      {150, "S00000100\r\n", "setport 5.0", true},
  };
  Sim.SetOutput(3, true);
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.counts) + " " + c.status);
    Sim.SetAnalog(1, c.counts);
    Sim.SetReply("GETSTATUS", c.status);
    AppState.Measurement.DoubtedEvaluations = 0;
    Commands sent = OnlySetports(Evaluate());
    ASSERT_FALSE(sent.empty());
    EXPECT_EQ(sent[0], c.toOutput5);
    EXPECT_EQ(sent.size(), c.decides ? 2u : 1u);
    EXPECT_EQ(AppState.Measurement.DoubtedEvaluations, c.decides ? 0 : 1);
    const LevelRecord& last = HistoryEntry(HistorySize() - 1);
    EXPECT_EQ(last.Doubted, !c.decides);
    EXPECT_EQ(last.Output4, c.decides ? 0 : CommandNotSent);
  }
  // A whole cycle of it is a cycle in doubt.
  Sim.SetAnalog(1, 600);
  Sim.SetReply("GETSTATUS", "S00000100\r\n");
  for (int i = 0; i < 3; i++) Evaluate();
  EXPECT_EQ(AppState.Measurement.DoubtedEvaluations, 3);
  ASSERT_FALSE(AppState.Alarms.AlarmLines.empty());
  EXPECT_NE(AppState.Alarms.AlarmLines.back().find("ohne sicheren Messwert"),
            Text::npos)
      << AppState.Alarms.AlarmLines.back();
}

TEST_F(Measurement, MinimumDecidesOnTheLevelReadAfterTheMaximumCommand) {
  Sim.SetOutput(3, true);
  Sim.SetAnalog(1, 43);                    // 0.21 V from the second read on
  Sim.SetReply("GETADC 1", "300\r\n", 1);  // 1.465 V at the first read
  EXPECT_EQ(OnlySetports(Evaluate()), Commands({"setport 5.1", "setport 4.1"}));
  EXPECT_EQ(C(ProgressLevel).Value, 400);  // 527: shown full
}

TEST_F(Measurement, BarIsBlueAndShowsTheLevelTimes360) {
  const std::pair<const char*, int> cases[] = {
      {"205", 360}, {"228", 400}, {"43", 76}, {"100", 176}, {"1023", 400}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.first);
    Sim.SetReply("GETADC 1", std::string(c.first) + "\r\n");
    Evaluate();
    EXPECT_EQ(C(ProgressLevel).Value, c.second);
    EXPECT_TRUE(C(ProgressLevel).HasBarColour);
    EXPECT_EQ(C(ProgressLevel).BarColour, Blue);
  }
}

// A hostile analog reply gives a level far beyond the bar, or none at
// all: it is no reading of the well, and the bar keeps the last one.
TEST_F(Measurement, BarKeepsTheLastProvenLevelOverAHostileReply) {
  Sim.SetReply("GETADC 1", "100\r\n");
  Evaluate();
  ASSERT_EQ(C(ProgressLevel).Value, 176);
  for (const char* hostile :
       {"1e400", "99999999999", "-99999999999", "-1e400"}) {
    SCOPED_TRACE(hostile);
    Sim.SetReply("GETADC 1", std::string(hostile) + "\r\n");
    Evaluate();
    EXPECT_EQ(C(ProgressLevel).Value, 176);
  }
}

TEST_F(Measurement, TopMarkFollowsTheLevelAndKeepsItAtTheBoundaries) {
  const std::pair<double, const char*> steps[] = {
      {1.05, " 100%"}, {1.08, " 100%"}, {1.16, " 100%"}, {1.18, " 100%"},
      {1.10, "80%"},   {1.16, "80%"},   {1.17, "90%"},   {1.18, "90%"},
      {1.19, "100%"},  {1.05, "100%"},  {1.081, "80%"},  {1.159, "80%"},
      {1.161, "90%"},  {1.181, "100%"}, {0.0, "100%"}};
  for (const auto& s : steps) {
    AppState.Readings.LevelVoltage = s.first;
    ShowLevelPercent();
    EXPECT_EQ(C(LabelLevelTop).Content, s.second) << s.first;
  }
}

// ---------------------------------------------------------------------------
// Whole program on the driven clock
// ---------------------------------------------------------------------------

using MeasurementRun = BoardTest;

TEST_F(MeasurementRun, FirstCycleRunsAtTicks361To365) {
  Sim.SetAnalog(1, 300);
  ThenWithin(
      5000, [] { return PlatTickCount() > 400000; },
      [] { return std::string("the clock never reached 400 s"); });
  RunSteps();
  std::vector<std::pair<uint32_t, std::string>> sent;
  for (const kvxsim::CommandRecord& c : Sim.Commands())
    if (c.text.rfind("setport", 0) == 0) sent.push_back({c.time, c.text});
  std::vector<std::string> expected;
  for (int tick = 361; tick <= 365; tick++) {
    expected.push_back("setport 3.1");
    if (tick >= 363) {
      expected.push_back("setport 5.1");
      expected.push_back("setport 4.0");
    }
  }
  expected.push_back("setport 3.0");
  std::vector<std::string> texts;
  for (const auto& s : sent) texts.push_back(s.second);
  ASSERT_EQ(texts, expected);
  // The sensor goes on at tick 361, and each later tick of the cycle comes
  // at least a second after the one before it (later when an evaluation
  // took its time on the wire); the end comes in the pass of the last,
  // after the proven query that shows output 4 done (its quiet lasts
  // ReplyStartLimit after its last command).
  EXPECT_EQ(sent[0].first, 361000u);
  uint32_t tick = sent[0].first;
  for (size_t i = 1; i < sent.size(); i++) {
    if (sent[i].second != "setport 3.1") continue;
    EXPECT_GE(sent[i].first - tick, 1000u) << i;
    tick = sent[i].first;
  }
  EXPECT_LT(sent.back().first - sent[sent.size() - 2].first,
            (uint32_t)ReplyStartLimit + 1000u);
}

TEST_F(MeasurementRun, SwitchedOffCycleStillEndsEveryPeriodPlusFive) {
  Then([] {});
  Then([] { HeadlessMoveTrackbar(TrackbarCycle, 10); });
  ThenClick(ButtonMeasurementOff);
  ThenWithin(
      5000, [] { return PlatTickCount() > 80000; },
      [] { return std::string("the clock never reached 80 s"); });
  RunSteps();
  std::vector<uint32_t> ends;
  for (const kvxsim::CommandRecord& c : Sim.Commands()) {
    if (c.text.rfind("setport", 0) != 0) continue;
    EXPECT_EQ(c.text, "setport 3.0");
    ends.push_back(c.time);
  }
  ASSERT_GE(ends.size(), 4u);
  for (size_t i = 1; i < ends.size(); i++)
    EXPECT_EQ(ends[i] - ends[i - 1], 15000u) << i;
}

// Switched on past P + 2, the cycle powers the sensor at its last ticks,
// but they come before the sensor's two ticks of warm-up: no reading.
TEST_F(MeasurementRun, SwitchingOnPastPeriodPlusTwoReadsNothingBeforeWarmUp) {
  Sim.SetAnalog(1, 100);
  size_t before = 0;
  bool clicked = false;
  Then([] {});
  Then([] { HeadlessMoveTrackbar(TrackbarCycle, 10); });
  ThenClick(ButtonMeasurementOff);
  ThenWhen(
      1000,
      [] {
        return AppState.Measurement.CyclePeriod == 10 &&
               AppState.Measurement.CycleCounter == 13;
      },
      [&] {
        clicked = HeadlessPostClick(ButtonMeasurementOn);
        before = Sim.CommandCount();
      },
      "tick 13 of a 10-second cycle");
  ThenWithin(
      1000, [] { return AppState.Measurement.CycleCounter == 1; },
      [] { return std::string("the cycle never began anew"); });
  RunSteps();
  ASSERT_TRUE(clicked);
  Commands after = CommandTexts();
  after.erase(after.begin(), after.begin() + before);
  EXPECT_EQ(OnlySetports(after),
            Commands({"setport 3.1", "setport 3.1", "setport 3.0"}));
}

TEST_F(MeasurementRun, PeriodFollowsTheTrackbarOnlyWhileTheMeasurementIsOff) {
  Then([] {});
  Then([&] { HeadlessMoveTrackbar(TrackbarCycle, 50); });
  Then([] {});
  Then([&] {
    EXPECT_EQ(AppState.Measurement.CyclePeriod, 360);
    EXPECT_EQ(C(LabelCyclePeriod).Content, "360 s");
    HeadlessPostClick(ButtonMeasurementOff);
  });
  Then([] {});
  Then([&] {
    EXPECT_EQ(AppState.Measurement.CyclePeriod, 50);
    EXPECT_EQ(C(LabelCyclePeriod).Content, "50 s");
    HeadlessPostClick(ButtonMeasurementOn);
  });
  Then([&] { HeadlessMoveTrackbar(TrackbarCycle, 70); });
  Then([] {});
  Then([&] {
    EXPECT_EQ(AppState.Measurement.CyclePeriod, 50);
    EXPECT_EQ(C(LabelCyclePeriod).Content, "50 s");
  });
  RunSteps();
}

// The connection goes at the end of a cycle, so its "setport 3.0" is owed,
// and comes back during the next one: the sensor, switched off first on
// the new connection, is read no earlier than two ticks after it is on
// again. On the wire: each level command has at least three "setport 3.1"
// before it since the sensor was last off or the connection new (the one
// that switched it on and one for each tick of warm-up).
TEST_F(MeasurementRun, NoReadingBeforeTheSensorsWarmUpOnANewConnection) {
  struct Sent {
    uint64_t connection;
    std::string text;
  };
  std::vector<Sent> sent;
  int level4 = 0;
  Sim.SetAnalog(1, 300);
  Sim.SetCommandListener([&](const kvxsim::CommandRecord& c) {
    sent.push_back({Sim.ConnectionCount(), c.text});
    // The third evaluation of the first cycle: the board goes away.
    if (c.text.rfind("setport 4.", 0) == 0 && ++level4 == 3) Sim.CloseNow();
  });
  Then([] {
    AppState.Measurement.CyclePeriod = 2;
    AppState.Measurement.CycleCounter = 0;
  });
  ThenWithin(
      200,
      [&] {
        for (const Sent& s : sent)
          if (s.connection == 2 && s.text.rfind("setport 4.", 0) == 0)
            return true;
        return false;
      },
      [] { return std::string("no evaluation on the second connection"); });
  RunSteps();
  Sim.SetCommandListener(nullptr);
  std::vector<std::string> second;
  for (const Sent& s : sent)
    if (s.connection == 2) second.push_back(s.text);
  ASSERT_FALSE(second.empty());
  EXPECT_EQ(second[0], "setport 3.0");
  int warm = 0;
  uint64_t connection = 0;
  for (const Sent& s : sent) {
    if (s.connection != connection) warm = 0;
    connection = s.connection;
    if (s.text == "setport 3.0") warm = 0;
    if (s.text == "setport 3.1") warm++;
    if (s.text.rfind("setport 4.", 0) == 0 ||
        s.text.rfind("setport 5.", 0) == 0) {
      EXPECT_GE(warm, 3) << s.text << " on connection " << s.connection;
    }
  }
}
