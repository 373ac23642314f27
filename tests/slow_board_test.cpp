// The whole program against a board that answers slowly, on the driven
// clock (one run also in real time, on a loopback socket):
// every reply late by the same time, or by a varying time. However long the
// board takes, each receive takes its own command's reply: every display
// shows the board's value for its own channel, and every level command of
// the measurement cycle follows the level the board holds.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <string>
#include <vector>

#include "tests/program_fixture.h"
#include "ui/control_numbers.h"

namespace {

using Clock = std::chrono::steady_clock;

// Sensor counts of a full well (2,93 V, above the Maximum threshold) and a
// dry one (0,09 V, below the Minimum threshold).
const int FullWell = 600;
const int DryWell = 20;

// One cycle of period 0 (five ticks): the sensor on at every tick, three
// evaluations, the sensor off at the end.
std::vector<std::string> CycleFor(bool full) {
  const char* maximum = full ? "setport 5.1" : "setport 5.0";
  const char* minimum = full ? "setport 4.0" : "setport 4.1";
  return {"setport 3.1", "setport 3.1", "setport 3.1", maximum,
          minimum,       "setport 3.1", maximum,       minimum,
          "setport 3.1", maximum,       minimum,       "setport 3.0"};
}

std::string Shown(int number) {
  const HeadlessControl* c = HeadlessFindControl(number);
  return c ? c->Content : "<missing>";
}

class SlowBoard : public BoardTest {
 protected:
  void SetUp() override {
    BoardTest::SetUp();
    // Outputs 1 and 6 on; the program switches none of 1, 2, 6, 7, 8 here.
    Sim.SetOutput(1, true);
    Sim.SetOutput(6, true);
    Sim.SetAnalog(2, 200);
    Sim.SetAnalog(3, 300);
    Sim.SetAnalog(4, 400);
    Sim.SetDigital(1, 1);
    Sim.SetDigital(2, 0);
    Sim.SetDigital(3, 1);
    Sim.SetDigital(4, 0);
    Sim.SetNetwork("10.0.0.7", "255.0.0.0", "10.0.0.1");
    Sim.SetLevel(FullWell);
  }

  // Each display shows its own channel's value (the level on analog 1 only
  // while the sensor is powered); "" when so.
  static std::string WrongDisplays() {
    std::string wrong;
    auto expect = [&](int number, const std::string& text) {
      if (Shown(number) != text)
        wrong += std::to_string(number) + " shows '" + Shown(number) + "'; ";
    };
    expect(OutputStateLabel(1), "GESCHLOSSEN");
    expect(OutputStateLabel(2), "OFFEN");
    expect(OutputStateLabel(6), "GESCHLOSSEN");
    expect(OutputStateLabel(7), "OFFEN");
    expect(OutputStateLabel(8), "OFFEN");
    std::string level = Shown(AnalogValueLabel(1));
    if (level != "0,00" && level != "2,93" && level != "0,09")
      wrong += "level shows '" + level + "'; ";
    expect(AnalogValueLabel(2), "0,97");
    expect(AnalogValueLabel(3), "1,46");
    expect(AnalogValueLabel(4), "1,95");
    expect(DigitalStateLabel(1), "OFFEN");
    expect(DigitalStateLabel(2), "GESCHLOSSEN");
    expect(DigitalStateLabel(3), "OFFEN");
    expect(DigitalStateLabel(4), "GESCHLOSSEN");
    expect(LabelBoardData,
           "Daten aus dem Board:\r\rFirmware:\ruC: ATmega32\r\nVer: "
           "1.5\r\nNIC: ENC28J60\r\n\rEinstellungen:\rBoard-IP: "
           "10.0.0.7\r\nSubnetz: 255.0.0.0\r\nGateway: 10.0.0.1\r\n");
    return wrong;
  }

  // The commands on the wire: the board queries, each whole and in order,
  // and between them the setport commands, which are returned.
  std::vector<std::string> SetportsBetweenWholeQueries() {
    std::vector<std::string> setports;
    size_t at = 0;
    for (const std::string& text : CommandTexts()) {
      if (text.rfind("setport", 0) == 0) {
        EXPECT_EQ(at, 0u) << text << " inside a query";
        setports.push_back(text);
        continue;
      }
      EXPECT_EQ(text, QueryCommands[at]);
      at = (at + 1) % QueryCommands.size();
    }
    EXPECT_EQ(at, 0u) << "the last query is not whole";
    return setports;
  }

  // Runs the program with a cycle period of 0 and queries every 10 s, from
  // a full well to a dry one after the first cycle, until `cycles` cycles
  // have ended. Checks the displays at every pass; returns the longest
  // time in ms the windows went unserved (no event wait, no serving): on
  // the driven clock, or on the real one against the board on a socket.
  long RunCycles(int cycles) {
    std::atomic<int> ended{0};
    Sim.SetCommandListener([&](const kvxsim::CommandRecord& c) {
      if (c.text == "setport 3.0" && ++ended == 1) Sim.SetLevel(DryWell);
    });
    long longest = 0;
    auto nowMs = [this]() -> long {
      if (!RealSocket) return (long)PlatTickCount();
      return (long)std::chrono::duration_cast<std::chrono::milliseconds>(
                 Clock::now().time_since_epoch())
          .count();
    };
    long last = nowMs();
    auto served = [&] {
      long now = nowMs();
      longest = std::max(longest, now - last);
      last = now;
    };
    HeadlessSetServeHook(served);
    bool quit = false;
    int code = RunProgram(
        [&](int wait) {
          served();
          EXPECT_EQ(WrongDisplays(), "") << "pass " << wait;
          if (wait == 1) {
            HeadlessMoveTrackbar(TrackbarRefresh, 10);
            AppState.Measurement.CyclePeriod = 0;
            AppState.Measurement.CycleCounter = 0;
          }
          if (ended >= cycles && !quit) quit = HeadlessPostClick(ButtonQuit);
        },
        400);
    Sim.SetCommandListener(nullptr);
    EXPECT_EQ(code, 0);
    EXPECT_TRUE(quit);
    EXPECT_TRUE(HeadlessMessageBoxes().empty());
    EXPECT_EQ(Sim.ConnectionCount(), 1u);
    return longest;
  }

  void ExpectTwoCycles() {
    RunCycles(2);
    std::vector<std::string> expected = CycleFor(true);
    std::vector<std::string> dry = CycleFor(false);
    expected.insert(expected.end(), dry.begin(), dry.end());
    EXPECT_EQ(SetportsBetweenWholeQueries(), expected);
  }

  void ExpectServedThrough(int cycles) {
    Sim.SetReplyDelay(250);
    long longest = RunCycles(cycles);
    std::vector<std::string> expected = CycleFor(true);
    if (cycles > 1) {
      std::vector<std::string> dry = CycleFor(false);
      expected.insert(expected.end(), dry.begin(), dry.end());
    }
    EXPECT_EQ(SetportsBetweenWholeQueries(), expected);
    EXPECT_LT(longest, 300);
  }
};

class RealSlowBoard : public SlowBoard {
 protected:
  RealSlowBoard() { RealSocket = true; }
};

}  // namespace

TEST_F(SlowBoard, PromptBoardTwoCycles) { ExpectTwoCycles(); }

TEST_F(SlowBoard, Replies100msLateTwoCycles) {
  Sim.SetReplyDelay(100);
  ExpectTwoCycles();
}

TEST_F(SlowBoard, Replies150msLateTwoCycles) {
  Sim.SetReplyDelay(150);
  ExpectTwoCycles();
}

// The windows are served all along, also while a query waits: on the
// driven clock, and for real through one cycle against the board on a
// loopback socket.
TEST_F(SlowBoard, Replies250msLateTwoCyclesWithTheWindowsServed) {
  ExpectServedThrough(2);
}

TEST_F(RealSlowBoard, Replies250msLateOneCycleWithTheWindowsServed) {
  ExpectServedThrough(1);
}

TEST_F(SlowBoard, RepliesLateBy0To250msTwoCycles) {
  Sim.SetSeed(20261208);
  Sim.SetReplyJitter(250);
  ExpectTwoCycles();
}

// With every reply a second late, the first evaluation still switches on
// the level the board holds. The delay starts at the evaluating tick and
// ends with the evaluation's last command, to keep the run short.
TEST_F(SlowBoard, RepliesASecondLateAtAnEvaluation) {
  std::atomic<bool> evaluated{false};
  Sim.SetCommandListener([&](const kvxsim::CommandRecord& c) {
    if (c.text.rfind("setport 4.", 0) == 0 && !evaluated) {
      evaluated = true;
      Sim.SetReplyDelay(0);
    }
  });
  bool slow = false, quit = false;
  int code = RunProgram(
      [&](int wait) {
        EXPECT_EQ(WrongDisplays(), "") << "pass " << wait;
        if (wait == 1) {
          HeadlessMoveTrackbar(TrackbarRefresh, 10);
          AppState.Measurement.CyclePeriod = 0;
          AppState.Measurement.CycleCounter = 0;
        }
        if (AppState.Measurement.CycleCounter == 2 && !slow) {
          Sim.SetReplyDelay(1000);
          slow = true;
        }
        if (evaluated && !quit) quit = HeadlessPostClick(ButtonQuit);
      },
      400);
  Sim.SetCommandListener(nullptr);
  EXPECT_EQ(code, 0);
  EXPECT_TRUE(quit);
  std::vector<std::string> setports = SetportsBetweenWholeQueries();
  ASSERT_GE(setports.size(), 5u);
  EXPECT_EQ(
      std::vector<std::string>(setports.begin(), setports.begin() + 5),
      (std::vector<std::string>{"setport 3.1", "setport 3.1", "setport 3.1",
                                "setport 5.1", "setport 4.0"}));
  for (const std::string& s : setports)
    EXPECT_TRUE(s != "setport 5.0" && s != "setport 4.1") << s;
  EXPECT_EQ(Sim.ConnectionCount(), 1u);
}
