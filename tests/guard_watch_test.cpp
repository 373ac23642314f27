// The guard's watch on itself, over the whole program on the driven clock:
// while the measurement is released, output 4 left undecided on a proven
// reading for longer than GuardBlindLimit is announced once, whatever
// kept it undecided, and its end once output 4 is decided again; a
// locked measurement is never blind.
#include <functional>
#include <string>
#include <vector>

#include "control/alarms.h"
#include "tests/program_fixture.h"
#include "ui/control_numbers.h"

namespace {

const int DryWell = 20;  // 0,09 V: below the Minimum threshold
const int Period = 40;   // s: a bound of 1.5 x 45 s, above the minute
const char Command[] = "C:\\Brunnen\\alarm.cmd";

// One alarm command started: its short name and the tick it came at.
struct Start {
  std::string name;
  uint32_t at;
};

class GuardWatch : public BoardTest {
 protected:
  void SetUp() override {
    BoardTest::SetUp();
    Sim.SetLevel(DryWell);
    WithLogAndCommand();
  }

  // The program started with a level log and an alarm command.
  void WithLogAndCommand() {
    HeadlessAddFolder("C:\\Brunnen");
    HeadlessSetCommandLine(
        (std::string("korvalinex.exe /log C:\\Brunnen /alarm ") + Command +
         " 127.0.0.1 " + std::to_string(Sim.Port()))
            .c_str());
  }

  // Runs the program until the clock reaches `untilMs`, calling `atPass`
  // at every wait of the main loop (after the first, which sets the cycle
  // period); the alarm command's starts are noted with their ticks.
  void RunUntil(uint32_t untilMs, const std::function<void()>& atPass) {
    bool quit = false;
    size_t seen = 0;
    int code = RunProgram(
        [&](int wait) {
          if (wait == 1) {
            HeadlessActivateOtherProgram();
            HeadlessMoveTrackbar(TrackbarCycle, Period);
            AppState.Measurement.CyclePeriod = Period;
            AppState.Measurement.CycleCounter = 0;
            StartOfWatch = AppState.Alarms.GuardDecidedAt;
          }
          const std::vector<HeadlessProgramStart>& s = HeadlessProgramStarts();
          for (; seen < s.size(); seen++)
            Starts.push_back(
                {s[seen].Arguments.empty() ? "" : s[seen].Arguments[0],
                 PlatTickCount()});
          if (atPass) atPass();
          if (!quit && PlatTickCount() >= untilMs)
            quit = HeadlessPostClick(ButtonQuit);
        },
        40000);
    EXPECT_EQ(code, 0);
    EXPECT_TRUE(quit) << "the run ended at " << PlatTickCount() << " ms";
  }

  std::vector<Start> Named(const std::string& name) const {
    std::vector<Start> found;
    for (const Start& s : Starts)
      if (s.name == name) found.push_back(s);
    return found;
  }

  static int Flashes() { return HeadlessFindWindow(MainWindow)->FlashCount; }

  // The event's line in the history window's list.
  static bool Listed(AlarmEvent event) {
    for (const Text& line : AppState.Alarms.AlarmLines)
      if (line.find(AlarmEvents[event].Message) != Text::npos) return true;
    return false;
  }
  // Its "Ereignis" lines in the level log.
  static int Logged(AlarmEvent event) {
    int n = 0;
    for (const HeadlessFileWrite& w : HeadlessFileWrites())
      n += w.Bytes.find(";Ereignis;") != std::string::npos &&
           w.Bytes.find(AlarmEvents[event].Message) != std::string::npos;
    return n;
  }

  // A board that accepts every connection and answers the commands of one
  // board query on it, then nothing more.
  void SilentAfterOneQuery() {
    Sim.SetCommandListener([this](const kvxsim::CommandRecord&) {
      if (Sim.ConnectionCount() != connection_) {
        connection_ = Sim.ConnectionCount();
        answered_ = 0;
      }
      if (++answered_ == QueryCommands.size()) Sim.SetSilent(true);
    });
  }
  // At every pass: a lost connection finds the board answering again on
  // the next one.
  void WhileSilentAfterOneQuery() {
    if (AppState.Link.ConnectionLost) Sim.SetSilent(false);
  }

  std::vector<Start> Starts;
  TickCount StartOfWatch = 0;

 private:
  uint64_t connection_ = 0;
  size_t answered_ = 0;
};

// The longest a pass of the main loop can take on a board that has gone
// quiet or keeps talking: the check of the bound runs once a pass.
const uint32_t PassAtMost = ReplyStartLimit + LinkQuietTime + ConnectLimit;

TEST(GuardBlindLimit, OneAndAHalfCyclesAndAtLeastAMinute) {
  ZeroAppState();
  const std::pair<int, int> cases[] = {{360, 547500},  {40, 67500}, {35, 60000},
                                       {10, 60000},    {0, 60000},  {-1, 60000},
                                       {4000, 6007500}};
  for (const auto& c : cases) {
    AppState.Measurement.CyclePeriod = c.first;
    EXPECT_EQ(GuardBlindLimit(), c.second) << c.first;
  }
}

// Whatever keeps output 4 from being decided, the guard says so once
// within its bound, and once more when it decides again.
TEST_F(GuardWatch, BlindOnceWithinTheBoundWhateverTheCauseAndSeesAgain) {
  struct Way {
    const char* name;
    std::function<void()> fail;
    std::function<void()> atPass;  // while failing
    bool losesConnections;         // else: its readings are doubted
  };
  uint32_t nextChatter = 0;
  auto chatter = [&] {
    // An unasked line every 500 ms while connected.
    while ((int32_t)(PlatTickCount() - nextChatter) >= 0) {
      Sim.SendRaw("OK\r\n");
      nextChatter += 500;
    }
  };
  const Way ways[] = {
      {"silent after one query", [this] { SilentAfterOneQuery(); },
       [this] { WhileSilentAfterOneQuery(); }, true},
      {"chatter",
       [&] {
         nextChatter = PlatTickCount();
         HeadlessSetServeHook(chatter);
       },
       [&] { chatter(); }, true},
      {"doubt", [this] { Sim.SetReply("GETADC 1", "abc\r\n"); }, [] {}, false},
  };
  for (const Way& way : ways) {
    SCOPED_TRACE(way.name);
    ResetPlatform();
    Starts.clear();
    WithLogAndCommand();
    way.fail();
    const uint32_t limit = 67500;
    bool healed = false, lost = false, doubted = false;
    uint32_t healedAt = 0;
    int flashes = 0;
    bool called = false;
    RunUntil(3 * limit, [&] {
      lost = lost || AppState.Link.ConnectionLost;
      doubted = doubted || AppState.Measurement.DoubtedEvaluations > 0;
      if (Named("waechter-blind").empty()) flashes = Flashes();
      if (!healed && !Named("waechter-blind").empty()) {
        called = called || Flashes() > flashes;
        // Still blind a while: nothing new. Then the board is healthy.
        if (PlatTickCount() - Named("waechter-blind")[0].at < 30000) {
          way.atPass();
          return;
        }
        Sim.SetCommandListener(nullptr);
        HeadlessSetServeHook(nullptr);
        Sim.ClearReplies();
        Sim.SetSilent(false);
        healed = true;
        healedAt = PlatTickCount();
        return;
      }
      if (!healed) way.atPass();
    });
    ASSERT_EQ(GuardBlindLimit(), (int)limit);
    std::vector<Start> blind = Named("waechter-blind");
    ASSERT_EQ(blind.size(), 1u);
    EXPECT_GT(blind[0].at - StartOfWatch, limit);
    EXPECT_LE(blind[0].at - StartOfWatch, limit + PassAtMost);
    EXPECT_TRUE(called);
    EXPECT_TRUE(Listed(AlarmGuardBlind));
    EXPECT_EQ(Logged(AlarmGuardBlind), 1);
    EXPECT_EQ(lost, way.losesConnections);
    EXPECT_TRUE(doubted || way.losesConnections);
    // Output 4 decided again within the next whole cycle of the healthy
    // board: the end, once, and no second blindness.
    ASSERT_TRUE(healed);
    std::vector<Start> sees = Named("waechter-sieht");
    ASSERT_EQ(sees.size(), 1u);
    EXPECT_GE(sees[0].at, healedAt);
    EXPECT_LE(sees[0].at - healedAt, (uint32_t)(Period + 5) * 2000);
    EXPECT_TRUE(Listed(AlarmGuardSeesAgain));
    EXPECT_EQ(Logged(AlarmGuardSeesAgain), 1);
    EXPECT_FALSE(AppState.Alarms.GuardBlindAnnounced);
    // The dry well: output 4 on with the guard's sight, told after it.
    EXPECT_TRUE(Sim.Output(4));
    std::vector<std::string> told;
    for (const Start& s : Starts)
      if (s.name == "waechter-sieht" || s.name == "minimum-ein")
        told.push_back(s.name);
    EXPECT_EQ(told,
              (std::vector<std::string>{"waechter-sieht", "minimum-ein"}));
  }
}

// Locked, the measurement decides nothing and is not blind: the time it is
// locked is not counted. Released again, the watch goes on where it stood
// (it does not start over), also when the period was changed meanwhile:
// the event comes once the time released without a decision passes the
// bound of the period then set.
TEST_F(GuardWatch, TheLockedTimeIsNotCountedAndAReleaseDoesNotRestartTheWatch) {
  struct Case {
    int periodWhileLocked;  // the trackbar moved while locked (0: not)
    uint32_t limit;         // the bound after the release
  };
  for (const Case& c : {Case{0, 67500}, Case{60, 97500}}) {
    SCOPED_TRACE(c.periodWhileLocked);
    ResetPlatform();
    Starts.clear();
    WithLogAndCommand();
    SilentAfterOneQuery();
    const uint32_t blindBeforeLock = 30000;
    uint32_t lockedAt = 0, releasedAt = 0;
    RunUntil(8 * c.limit, [&] {
      WhileSilentAfterOneQuery();
      uint32_t now = PlatTickCount();
      if (!lockedAt && now - StartOfWatch >= blindBeforeLock &&
          PlatIsEnabled(ButtonMeasurementOff) &&
          HeadlessPostClick(ButtonMeasurementOff))
        lockedAt = now;
      if (lockedAt && c.periodWhileLocked && now > lockedAt + c.limit)
        HeadlessMoveTrackbar(TrackbarCycle, c.periodWhileLocked);
      if (lockedAt && !releasedAt && now > lockedAt + 3 * c.limit &&
          PlatIsEnabled(ButtonMeasurementOn) &&
          HeadlessPostClick(ButtonMeasurementOn))
        releasedAt = now;
    });
    ASSERT_NE(lockedAt, 0u);
    ASSERT_NE(releasedAt, 0u);
    EXPECT_EQ(GuardBlindLimit(), (int)c.limit);
    std::vector<Start> blind = Named("waechter-blind");
    ASSERT_EQ(blind.size(), 1u);
    ASSERT_GT(blind[0].at, releasedAt);
    // The time released without a decision, before the lock and after the
    // release.
    uint32_t counted = (lockedAt - StartOfWatch) + (blind[0].at - releasedAt);
    EXPECT_GT(counted, c.limit - PassAtMost);
    EXPECT_LE(counted, c.limit + 2 * PassAtMost);
  }
}

}  // namespace
