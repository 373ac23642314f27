// The whole program when the connection to the board goes: the board closes
// or resets it, goes silent, or stops listening for a while. The loss is
// shown at once, nothing the board said before passes for current, the
// program connects again by itself, and what ends a pulse or a measurement
// reaches the board first on the new connection. No level command is given
// on a level the board did not just send.
#include <algorithm>
#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "board/poll.h"
#include "tests/program_fixture.h"
#include "ui/console.h"
#include "ui/control_numbers.h"
#include "ui/main_window.h"

namespace {

std::string Shown(int number) {
  const HeadlessControl* c = HeadlessFindControl(number);
  return c ? c->Content : "<missing>";
}

// "" when every board display shows its first text, else what does not.
std::string NotFirstTexts() {
  std::string wrong;
  auto expect = [&](int number, const std::string& text) {
    if (Shown(number) != text)
      wrong += std::to_string(number) + " shows '" + Shown(number) + "'; ";
  };
  for (int output : {1, 2, 6, 7, 8}) expect(OutputStateLabel(output), "---");
  for (int n = 0; n < 4; n++) {
    expect(LabelAnalogValue1 + n, "--.--");
    expect(LabelDigitalState1 + n, "---");
  }
  expect(LabelBoardData, BoardDataTemplate);
  expect(ButtonMinimumOff, "AUS");
  expect(ButtonMaximumOff, "AUS");
  return wrong;
}

// Label 36 while the connection is lost: the seconds to the next attempt.
bool ShowsReconnectCountdown() {
  const std::string head = "Keine Verbindung / Neuer Versuch in ";
  std::string text = Shown(LabelPingCountdown);
  if (text.rfind(head, 0) != 0) return false;
  int s = atoi(text.c_str() + head.size());
  return s >= 0 && s <= ReconnectInterval / 1000 &&
         text == head + std::to_string(s) + " s";
}

struct Sent {
  uint64_t connection;  // 1 for the first
  std::string text;
};

class Loss : public BoardTest {
 protected:
  void SetUp() override {
    BoardTest::SetUp();
    Sim.SetAnalog(2, 200);
    Sim.SetNetwork("10.0.0.7", "255.0.0.0", "10.0.0.1");
    Sim.SetLevel(600);  // a full well
  }

  // Every command the board parsed, with the connection it came on.
  void Record(std::function<void(const kvxsim::CommandRecord&)> also = {}) {
    Sim.SetCommandListener([this, also](const kvxsim::CommandRecord& c) {
      {
        std::lock_guard<std::mutex> lk(mu_);
        sent_.push_back({Sim.ConnectionCount(), c.text});
      }
      if (also) also(c);
    });
  }

  std::vector<Sent> SentSoFar() {
    std::lock_guard<std::mutex> lk(mu_);
    return sent_;
  }

  std::vector<std::string> SentOn(uint64_t connection) {
    std::vector<std::string> texts;
    for (const Sent& s : SentSoFar())
      if (s.connection == connection) texts.push_back(s.text);
    return texts;
  }

  // The queries on the wire: each begins with Help and runs in order; one
  // cut by the loss may end early, none repeats a command.
  void ExpectQueriesNeitherDoubledNorReordered() {
    size_t at = 0;
    int cut = 0;
    for (const Sent& s : SentSoFar()) {
      if (s.text.rfind("setport", 0) == 0) continue;
      if (s.text == "Help" && at != 0) {
        cut++;
        at = 0;
      }
      ASSERT_LT(at, QueryCommands.size());
      EXPECT_EQ(s.text, QueryCommands[at]);
      at = (at + 1) % QueryCommands.size();
    }
    EXPECT_LE(cut, 1);
  }

  // The board's values shown again, from the new connection.
  static bool Current(const char* analog2 = "0,97") {
    return Shown(AnalogValueLabel(2)) == analog2 &&
           AppState.Readings.BoardIpText == "10.0.0.7\r\n" &&
           Shown(LabelPingCountdown).rfind("Ping war ", 0) == 0;
  }

  std::mutex mu_;
  std::vector<Sent> sent_;
};

struct Way {
  const char* name;
  std::function<void(kvxsim::Simulator&)> fail;
  // Called at every pass while the connection is lost, with the number of
  // attempts to reconnect that failed so far.
  std::function<void(kvxsim::Simulator&, int failed)> whileLost;
  int failedAttempts;  // attempts that must fail before the board is back
};

}  // namespace

TEST_F(Loss, ClosedResetSilentOrNotListeningIsShownAndReconnected) {
  const Way ways[] = {
      {"closed", [](kvxsim::Simulator& s) { s.CloseNow(); },
       [](kvxsim::Simulator&, int) {}, 0},
      {"reset", [](kvxsim::Simulator& s) { s.ResetNow(); },
       [](kvxsim::Simulator&, int) {}, 0},
      {"silent", [](kvxsim::Simulator& s) { s.SetSilent(true); },
       [](kvxsim::Simulator& s, int) { s.SetSilent(false); }, 0},
      {"not listening", [](kvxsim::Simulator& s) { s.SetListening(false); },
       [](kvxsim::Simulator& s, int failed) {
         if (failed >= 2) s.SetListening(true);
       },
       2},
  };
  for (const Way& way : ways) {
    SCOPED_TRACE(way.name);
    ResetPlatform();
    Sim.ClearFaults();
    Sim.SetListening(true);
    Sim.SetAnalog(2, 200);
    ASSERT_TRUE(Sim.WaitFor([&] { return !Sim.Connected(); }, 5000));
    {
      std::lock_guard<std::mutex> lk(mu_);
      sent_.clear();
    }
    uint64_t connections = Sim.ConnectionCount();
    Record([&](const kvxsim::CommandRecord&) {});
    uint32_t lostAt = 0, backAt = 0;
    int failed = 0;
    TickCount lastAttempt = 0;
    bool back = false;
    Then([] {});
    ThenWhen(
        400, [&] { return Current(); },
        [&] {
          way.fail(Sim);
          Sim.SetAnalog(2, 700);  // the board changes meanwhile
        },
        "current displays");
    ThenWhen(
        400, [] { return AppState.Link.ConnectionLost; },
        [&] {
          // Shown in the pass that found it.
          lostAt =
              (uint32_t)AppState.Link.NextReconnectTime - ReconnectInterval;
          lastAttempt = AppState.Link.NextReconnectTime;
        },
        "the loss");
    // Every pass while the connection is lost, then the one that is back.
    ThenWithin(
        400,
        [&] {
          if (AppState.Link.ConnectionLost) {
            EXPECT_EQ(NotFirstTexts(), "") << "pass " << HeadlessWaitCount();
            EXPECT_TRUE(ShowsReconnectCountdown()) << Shown(LabelPingCountdown);
            if (AppState.Link.NextReconnectTime != lastAttempt) {
              failed++;
              lastAttempt = AppState.Link.NextReconnectTime;
            }
            way.whileLost(Sim, failed);
            return false;
          }
          backAt = PlatTickCount();
          // The query at once: the displays are current again.
          EXPECT_TRUE(Current("3,41")) << Shown(LabelPingCountdown);
          back = true;
          return true;
        },
        [] { return std::string("the connection never came back"); });
    RunSteps(400);
    ASSERT_TRUE(back);
    EXPECT_EQ(failed, way.failedAttempts);
    // Reconnected at the first attempt that could succeed.
    EXPECT_GE(backAt - lostAt, (uint32_t)ReconnectInterval);
    // The first query of a new connection learns the board's replies of
    // lines and proves itself in step.
    const int learning = 2 * LineGapSettle + LinkQuietTime;
    EXPECT_LE(backAt - lostAt,
              (uint32_t)((way.failedAttempts + 1) * ReconnectInterval + 600 +
                         learning));
    EXPECT_EQ(Sim.ConnectionCount(), connections + 2);
    EXPECT_TRUE(HeadlessMessageBoxes().empty());
    Sim.SetCommandListener(nullptr);
    ExpectQueriesNeitherDoubledNorReordered();
  }
}

// Output 1's pulse: the board resets the connection right after "on". The
// "off" goes out first on the next connection; while the connection is
// lost, the operator's switches send nothing and say so.
TEST_F(Loss, PulseOffGoesOutFirstOnTheNextConnection) {
  Record([this](const kvxsim::CommandRecord& c) {
    if (c.text == "setport 1.1") Sim.ResetNow();
  });
  int whileLost = 0;
  Then([] {});
  Then([] {
    HeadlessTypeText(SpinDelay1, "1000");
    EXPECT_TRUE(HeadlessPostClick(ButtonPulse1));
  });
  ThenWhen(
      400, [] { return AppState.Link.ConnectionLost; },
      [] {
        EXPECT_EQ(Shown(RichConsole),
                  std::string(NoConnectionText) +
                      "\rAusgang 1 wird ausgeschaltet, sobald die "
                      "Verbindung steht.");
        EXPECT_TRUE(HeadlessPostClick(ButtonOutput6On));
      },
      "the loss");
  // Every pass while the connection is lost, until it is back.
  ThenWithin(
      400,
      [&] {
        if (!AppState.Link.ConnectionLost) return true;
        whileLost++;
        EXPECT_EQ(Shown(RichConsole),
                  std::string(NoConnectionText) +
                      "\rAusgang 6 wurde nicht geschaltet.");
        EXPECT_EQ(Shown(OutputStateLabel(6)), "---");
        EXPECT_EQ(Shown(OutputStateLabel(1)), "---");
        return false;
      },
      [] { return std::string("the connection never came back"); });
  RunSteps(400);
  Sim.SetCommandListener(nullptr);
  EXPECT_GT(whileLost, 0);
  std::vector<std::string> second = SentOn(2);
  ASSERT_FALSE(second.empty());
  EXPECT_EQ(second[0], "setport 1.0");
  std::vector<std::string> setports;
  for (const Sent& s : SentSoFar())
    if (s.text.rfind("setport", 0) == 0) setports.push_back(s.text);
  EXPECT_EQ(setports, (std::vector<std::string>{"setport 1.1", "setport 1.0"}));
  EXPECT_FALSE(Sim.Output(1));
  EXPECT_FALSE(Sim.Output(6));
  ExpectQueriesNeitherDoubledNorReordered();
}

// The connection closes during an evaluation's query, after the status and
// before GETADC 1: that evaluation and the rest of the cycle switch nothing
// on outputs 4 and 5, and "setport 3.0" at the cycle's end reaches the
// board first on the next connection, where the levels are fresh again.
TEST_F(Loss, NoLevelCommandOnAStaleLevelAndTheSensorOffIsOwed) {
  std::atomic<int> sensorOn{0}, statusAfter{0};
  Record([&](const kvxsim::CommandRecord& c) {
    if (Sim.ConnectionCount() != 1) return;
    if (c.text == "setport 3.1") {
      sensorOn++;
      statusAfter = 0;
    }
    if (c.text == "Getstatus" && sensorOn == 3 && ++statusAfter == 2)
      Sim.CloseNow();
  });
  Then([] {
    HeadlessMoveTrackbar(TrackbarRefresh, 10);
    AppState.Measurement.CyclePeriod = 0;
    AppState.Measurement.CycleCounter = 0;
  });
  ThenWithin(
      400,
      [this] {
        std::vector<std::string> second = SentOn(2);
        return std::count(second.begin(), second.end(), "setport 4.0") >= 1;
      },
      [] { return std::string("no evaluation on the second connection"); });
  RunSteps(400);
  Sim.SetCommandListener(nullptr);
  std::vector<std::string> first = SentOn(1);
  for (const std::string& t : first)
    EXPECT_TRUE(t.rfind("setport 4.", 0) != 0 && t.rfind("setport 5.", 0) != 0)
        << t << " on the connection that was lost";
  ASSERT_FALSE(first.empty());
  EXPECT_EQ(first.back(), "Getstatus");  // GETADC 1 met a closed connection
  std::vector<std::string> second = SentOn(2);
  ASSERT_FALSE(second.empty());
  EXPECT_EQ(second[0], "setport 3.0");
  // Every level command follows a GETADC 1 of the query just before it on
  // the same connection, and matches the full well.
  bool fresh = false;
  for (const std::string& t : second) {
    if (t == "GETADC 1") fresh = true;
    if (t == "setport 5.0" || t == "setport 4.1") ADD_FAILURE() << t;
    if (t == "setport 5.1" || t == "setport 4.0") {
      EXPECT_TRUE(fresh) << t << " without a fresh level";
      fresh = false;
    }
  }
  ExpectQueriesNeitherDoubledNorReordered();
}

// One Getstatus reply 1250 ms late is its own command's reply; one later
// than the reply bound ends in a lost connection, never in a reply taken
// for another command, and the program connects again.
TEST_F(Loss, LateStatusRepliesWithinAndBeyondTheBound) {
  Sim.SetOutput(6, true);
  Record();
  uint64_t lateAt = 0;
  Then([] {});
  Then([&] {
    Sim.DelayReplyOnce("GETSTATUS", 1250);
    lateAt = Sim.CommandCount();
  });
  ThenWhen(
      400, [&] { return Sim.CommandCount() >= lateAt + QueryCommands.size(); },
      [&] {
        EXPECT_EQ(Shown(OutputStateLabel(6)), "GESCHLOSSEN");
        EXPECT_EQ(Shown(AnalogValueLabel(2)), "0,97");
        EXPECT_FALSE(AppState.Link.ConnectionLost);
        Sim.DelayReplyOnce("GETSTATUS", ReplyStartLimit + 1000);
      },
      "the query with the late reply");
  // Every pass while the connection is lost, then the one that is back.
  ThenWithin(
      400,
      [&] {
        if (AppState.Link.ConnectionLost) {
          EXPECT_EQ(NotFirstTexts(), "");
          return false;
        }
        if (Sim.ConnectionCount() != 2 || !Current()) return false;
        EXPECT_EQ(Shown(OutputStateLabel(6)), "GESCHLOSSEN");
        return true;
      },
      [] { return std::string("the connection never came back"); });
  RunSteps(400);
  Sim.SetCommandListener(nullptr);
  std::vector<std::string> first = SentOn(1);
  ASSERT_FALSE(first.empty());
  EXPECT_EQ(first.back(), "Getstatus");  // nothing after the silent one
  EXPECT_EQ(Sim.ConnectionCount(), 2u);
  ExpectQueriesNeitherDoubledNorReordered();
}
