// Decided is done: while the measurement and a level function are
// released, the board is held to the guard's decisions. A board whose
// status shows output 4 otherwise (its relays dropped in a power cut,
// another client or the console switched it, it refused the command) is
// measured afresh at once and the operator is told; a refused command is
// no decision; no level is read without the sensor's power; and odd
// readings of the other inputs do not slow the refresh. Over the whole
// program on the driven clock, at the default 360-s cycle.
#include <functional>
#include <string>
#include <vector>

#include "control/alarms.h"
#include "control/guard_outputs.h"
#include "tests/program_fixture.h"
#include "ui/control_numbers.h"

namespace {

const int DryWell = 20;    // 0,09 V: output 4 on
const int FullWell = 600;  // 2,93 V: output 5 on
const char Command[] = "C:\\Brunnen\\alarm.cmd";

// From the status that shows output 4 lost (on a prompt board) to the
// guard's "setport 4.1": the next tick, two ticks of warm-up and one
// evaluation of two proven queries.
const uint32_t RestoreBound = 15000;

class DecidedIsDone : public BoardTest {
 protected:
  void SetUp() override {
    BoardTest::SetUp();
    Sim.SetRates(0, 0);  // the well stands where it is put
    Sim.SetLevel(DryWell);
    WithLogAndCommand();
  }

  // The program started with a level log and an alarm command.
  void WithLogAndCommand() {
    HeadlessAddFolder("C:\\Brunnen");
    HeadlessSetCommandLine((std::string("korvalinex.exe /log C:\\Brunnen "
                                        "/alarm ") +
                            Command + " 127.0.0.1 " +
                            std::to_string(Sim.Port()))
                               .c_str());
  }

  // Runs the program until the clock reaches `untilMs`, calling `atPass`
  // at every wait of the main loop; the alarm command's starts are noted
  // with their ticks.
  void RunUntil(uint32_t untilMs, const std::function<void()>& atPass) {
    bool quit = false;
    size_t seen = 0;
    int code = RunProgram(
        [&](int) {
          const std::vector<HeadlessProgramStart>& s = HeadlessProgramStarts();
          for (; seen < s.size(); seen++)
            Events.push_back(
                {s[seen].Arguments.empty() ? "" : s[seen].Arguments[0],
                 PlatTickCount()});
          if (atPass) atPass();
          if (!quit && PlatTickCount() >= untilMs)
            quit = HeadlessPostClick(ButtonQuit);
        },
        100000);
    EXPECT_EQ(code, 0);
    EXPECT_TRUE(quit) << "the run ended at " << PlatTickCount() << " ms";
  }

  // The times the board received `text`, in order.
  std::vector<uint32_t> Received(const std::string& text) {
    std::vector<uint32_t> at;
    for (const kvxsim::CommandRecord& c : Sim.Commands())
      if (c.text == text) at.push_back(c.time);
    return at;
  }
  // The first time at or after `from` the board received `text`; 0: never.
  uint32_t FirstAfter(const std::string& text, uint32_t from) {
    for (uint32_t t : Received(text))
      if (t >= from) return t;
    return 0;
  }
  int Count(const std::string& name, uint32_t from = 0) const {
    int n = 0;
    for (const auto& e : Events) n += e.first == name && e.second >= from;
    return n;
  }

  std::vector<std::pair<std::string, uint32_t>> Events;
};

// The first cycle has switched output 4 on three times (the dry well).
bool FirstCycleDone(kvxsim::Simulator& sim) {
  int n = 0;
  for (const kvxsim::CommandRecord& c : sim.Commands())
    n += c.text == "setport 4.1";
  return n >= 3 && sim.Output(4);
}

// The board loses its power for 20 s, its relays dropping, 5 s after the
// cycle's last evaluation and 180 s into the next cycle: output 4 is on
// again within the bound of the new connection, and the operator is told.
TEST_F(DecidedIsDone, APowerCutOfTheBoardIsUndoneAtOnceOnItsReturn) {
  for (uint32_t offset : {180000u, 5000u}) {
    SCOPED_TRACE(offset);
    ResetPlatform();
    WithLogAndCommand();
    Sim.ClearLog();
    for (int n = 1; n <= 8; n++) Sim.SetOutput(n, false);
    Events.clear();
    uint32_t cutAt = 0, backAt = 0;
    RunUntil(800000, [&] {
      uint32_t now = PlatTickCount();
      if (!cutAt && FirstCycleDone(Sim)) {
        uint32_t last = Received("setport 4.1").back();
        if (now < last + offset) return;
        cutAt = now;
        Sim.SetListening(false);
        for (int n = 1; n <= 8; n++) Sim.SetOutput(n, false);
      }
      if (cutAt && !backAt && now >= cutAt + 20000) {
        backAt = now;
        Sim.SetListening(true);
      }
    });
    ASSERT_NE(backAt, 0u);
    // The new connection's first command: the owed off, or its query.
    uint32_t connectedAt = 0;
    for (const kvxsim::CommandRecord& c : Sim.Commands())
      if (!connectedAt && c.time >= backAt) connectedAt = c.time;
    ASSERT_NE(connectedAt, 0u);
    uint32_t onAgain = FirstAfter("setport 4.1", connectedAt);
    ASSERT_NE(onAgain, 0u) << "output 4 never switched on again";
    EXPECT_LE(onAgain - connectedAt, RestoreBound);
    EXPECT_EQ(Count("ausgang-abweichend", backAt), 1);
    EXPECT_EQ(FirstAfter("setport 4.0", cutAt), 0u);
    EXPECT_TRUE(Sim.Output(4));
  }
}

// Another client switches output 4 off on the dry well, then the operator
// does with the console: each is undone within the bound, with one event
// each.
TEST_F(DecidedIsDone, AnOutputSwitchedOffByAnotherClientOrTheConsoleIsUndone) {
  uint32_t otherAt = 0, consoleAt = 0;
  RunUntil(520000, [&] {
    uint32_t now = PlatTickCount();
    if (!otherAt && FirstCycleDone(Sim) && now > 400000) {
      otherAt = now;
      Sim.SetOutput(4, false);
    }
    if (otherAt && !consoleAt && now > otherAt + 40000 &&
        PlatIsEnabled(ButtonConsoleSend)) {
      HeadlessTypeText(EditConsole, "SETPORT 4.0");
      if (HeadlessPostClick(ButtonConsoleSend)) consoleAt = now;
    }
  });
  ASSERT_NE(consoleAt, 0u);
  uint32_t first = FirstAfter("setport 4.1", otherAt);
  ASSERT_NE(first, 0u);
  EXPECT_LE(first - otherAt, RestoreBound);
  uint32_t consoleOff = FirstAfter("SETPORT 4.0", consoleAt);
  ASSERT_NE(consoleOff, 0u);
  uint32_t second = FirstAfter("setport 4.1", consoleOff);
  ASSERT_NE(second, 0u);
  EXPECT_LE(second - consoleOff, RestoreBound);
  EXPECT_EQ(Count("ausgang-abweichend"), 2);
  EXPECT_EQ(FirstAfter("setport 4.0", 0), 0u);
  EXPECT_TRUE(Sim.Output(4));
}

// Someone keeps switching output 4 off, every 2 s for 100 s: one episode,
// told once, and at most one measurement started afresh in 30 s.
TEST_F(DecidedIsDone, AnOutputSwitchedAgainAndAgainIsBounded) {
  uint32_t from = 0;
  uint32_t next = 0;
  RunUntil(560000, [&] {
    uint32_t now = PlatTickCount();
    if (!from && FirstCycleDone(Sim) && now > 400000) from = next = now;
    if (from && now < from + 100000 && now >= next) {
      Sim.SetOutput(4, false);
      next = now + 2000;
    }
  });
  ASSERT_NE(from, 0u);
  // Each measurement powers the sensor five times.
  int powered = 0;
  for (uint32_t t : Received("setport 3.1"))
    powered += t >= from && t < from + 100000;
  int measurements = (powered + 4) / 5;
  EXPECT_GE(measurements, 2);
  EXPECT_LE(measurements, 100000 / (int)DeviationRetryInterval + 1);
  EXPECT_EQ(Count("ausgang-abweichend", from), 1);
}

// The board answers "ERR" to "setport 4.1" for 400 s on the dry well: no
// such command counts as a decision, so the guard's watch announces its
// blindness in its bound; the refusal is told once, the evaluations are
// in doubt and no "minimum-ein" comes while output 4 is not on. Once the
// board takes the command, output 4 is on and the guard sees again.
TEST_F(DecidedIsDone, ARefusedCommandIsNoDecision) {
  bool refusing = true;
  Sim.SetReply("SETPORT4.1", "ERR\r\n");
  Sim.SetCommandListener([&](const kvxsim::CommandRecord& c) {
    if (refusing && c.text == "setport 4.1") Sim.SetOutput(4, false);
  });
  uint32_t refusedUntil = 0;
  RunUntil(1100000, [&] {
    if (refusing && PlatTickCount() > 360000 + 400000) {
      refusing = false;
      refusedUntil = PlatTickCount();
      Sim.ClearReply("SETPORT4.1");
    }
  });
  Sim.SetCommandListener(nullptr);
  ASSERT_NE(refusedUntil, 0u);
  EXPECT_EQ(Count("waechter-blind"), 1);
  ASSERT_GT(Received("setport 4.1").size(), 0u);
  uint32_t firstTry = Received("setport 4.1")[0];
  for (const auto& e : Events)
    if (e.first == "waechter-blind") {
      EXPECT_LE(e.second, (uint32_t)GuardBlindLimit() + 10000);
      EXPECT_LT(e.second, refusedUntil);
    }
  EXPECT_EQ(Count("ausgang-abweichend", 0) -
                Count("ausgang-abweichend", refusedUntil),
            1);  // the refusal, told once
  EXPECT_EQ(Count("minimum-ein", 0) - Count("minimum-ein", refusedUntil), 0);
  EXPECT_GT(firstTry, 360000u);
  // Taken again: on, the all-clear of the watch, and "minimum-ein".
  EXPECT_TRUE(Sim.Output(4));
  EXPECT_EQ(Count("waechter-sieht", refusedUntil), 1);
  EXPECT_EQ(Count("minimum-ein", refusedUntil), 1);
}

// The board answers "OK" and "ERR" together to "setport 4.0" on a full
// well, where output 4 is off anyway: which line is its answer cannot be
// told, so no such command is a decision, and the guard's watch announces
// its blindness in its bound instead of taking the status for one.
TEST_F(DecidedIsDone, AnAnswerOfOkAndErrTogetherIsNoDecision) {
  Sim.SetLevel(FullWell);
  Sim.SetReply("SETPORT4.0", "OK\r\nERR\r\n");
  RunUntil(800000, nullptr);
  ASSERT_GE(Received("setport 4.0").size(), 3u);
  EXPECT_FALSE(Sim.Output(4));
  EXPECT_EQ(Count("waechter-blind"), 1);
  for (const auto& e : Events) {
    if (e.first == "waechter-blind") {
      EXPECT_LE(e.second, (uint32_t)GuardBlindLimit() + 10000);
    }
  }
  EXPECT_EQ(Count("waechter-sieht"), 0);
  EXPECT_EQ(Count("ausgang-abweichend"), 0) << "not a refusal either";
}

// The board answers "ERR" to "setport 3.1" and leaves the sensor
// unpowered on a full well: its input reads 0 V, which is no level. No
// output 4, no dry-run alarm, the refusal told, the readings in doubt.
TEST_F(DecidedIsDone, NoLevelIsReadWithoutTheSensorsPower) {
  Sim.SetLevel(FullWell);
  Sim.SetReply("SETPORT3.1", "ERR\r\n");
  Sim.SetCommandListener([&](const kvxsim::CommandRecord& c) {
    if (c.text == "setport 3.1") Sim.SetOutput(3, false);
  });
  RunUntil(2 * 365000 + 30000, nullptr);
  Sim.SetCommandListener(nullptr);
  EXPECT_GE(Received("setport 3.1").size(), 10u);
  EXPECT_EQ(Received("setport 4.1").size(), 0u);
  EXPECT_EQ(Received("setport 5.0").size(), 0u);
  EXPECT_EQ(Count("minimum-ein"), 0);
  EXPECT_EQ(Count("ausgang-abweichend"), 1);  // the refusal, told once
  EXPECT_FALSE(Sim.Output(4));
}

// Analog input 4 answers "abc" and digital input 3 "x": the replies are
// whole and in step, so the board is read once a second all the same.
TEST_F(DecidedIsDone, OddInputsKeepTheOneSecondRefresh) {
  Sim.SetReply("GETADC 4", "abc\r\n");
  Sim.SetReply("GETPORT 3", "x\r\n");
  RunUntil(60000, nullptr);
  std::vector<uint32_t> queries = Received("Help");
  ASSERT_GE(queries.size(), 40u);
  for (size_t i = 5; i < queries.size(); i++) {
    SCOPED_TRACE(i);
    EXPECT_GE(queries[i] - queries[i - 1], 900u);
    EXPECT_LE(queries[i] - queries[i - 1], 1100u);
  }
}

}  // namespace
