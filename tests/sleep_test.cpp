// The PC's sleep, over the whole program on the driven clock: the system
// sleeps (the tick count and the wall clock jump, the clock of the time it
// ran does not; its notices come or do not) in the event wait or while the
// program waits for the board. Each wake is told once with its length,
// nothing is decided on a reading from before it, the board is queried
// and measured afresh at once, and the watches go on; the program asks
// the system to stay awake while the measurement is released.
#include <functional>
#include <string>
#include <vector>

#include "base/clock_text.h"
#include "base/sleep_clock.h"
#include "control/alarms.h"
#include "control/sleep_watch.h"
#include "tests/program_fixture.h"
#include "ui/control_numbers.h"

namespace {

const int Period = 40;    // s: the guard's watch is blind after 67.5 s
const double High = 300;  // 1,46 V: output 5 on, output 4 off
const double Dry = 20;    // 0,09 V: output 5 off, output 4 on
const char Command[] = "C:\\Brunnen\\alarm.cmd";
const int64_t Minute = 60000, Hour = 60 * Minute, Day = 24 * Hour;

struct Start {
  std::vector<Text> args;
  uint32_t at;
};

// Where the PC falls asleep.
enum Place {
  MidCycle,          // in the event wait, between two measurements
  BeforeEvaluation,  // in the event wait before an evaluation's tick
  FirstProofQuiet,   // in the quiet that proves output 5's reading
  SecondProofQuiet,  // in the quiet that proves output 4's reading
};

class PcSleep : public BoardTest {
 protected:
  void SetUp() override {
    BoardTest::SetUp();
    Prepare();
  }

  void Prepare() {
    Sim.SetLevel(High);
    HeadlessAddFolder("C:\\Brunnen");
    HeadlessSetCommandLine(
        (std::string("korvalinex.exe /log C:\\Brunnen /alarm ") + Command +
         " 127.0.0.1 " + std::to_string(Sim.Port()))
            .c_str());
    Sim.SetCommandListener([this](const kvxsim::CommandRecord& c) {
      Last = c.text;
      if (c.text.rfind("setport ", 0) == 0) {
        LastSetport = c.text;
        Setports.push_back({c.text, PlatTickCount()});
      }
      if (c.text == "Help") Queries.push_back(PlatTickCount());
    });
  }

  // Runs the program until `atPass` (at every wait after the first, which
  // sets the cycle period) says it is done; the alarm command's starts are
  // noted with their ticks.
  void Run(const std::function<bool()>& atPass) {
    bool quit = false;
    size_t seen = 0;
    int code = RunProgram(
        [&](int wait) {
          if (wait == 1) {
            HeadlessActivateOtherProgram();
            HeadlessMoveTrackbar(TrackbarCycle, Period);
            AppState.Measurement.CyclePeriod = Period;
            AppState.Measurement.CycleCounter = 0;
          }
          const std::vector<HeadlessProgramStart>& s = HeadlessProgramStarts();
          for (; seen < s.size(); seen++)
            Starts.push_back({s[seen].Arguments, PlatTickCount()});
          if (!quit && wait > 1 && atPass())
            quit = HeadlessPostClick(ButtonQuit);
        },
        60000);
    EXPECT_EQ(code, 0);
    EXPECT_TRUE(quit) << "the run ended at " << PlatTickCount() << " ms";
  }

  // Whether the PC should fall asleep now, at `place`, once a whole cycle
  // has decided both outputs on the high well.
  bool Due(Place place, bool inWait) const {
    if (Woke || PlatTickCount() < 50000) return false;
    int c = AppState.Measurement.CycleCounter;
    switch (place) {
      case MidCycle:
        return inWait && c == 10;
      case BeforeEvaluation:
        return inWait && c == Period + 2 && AppState.Guard.SensorPowered;
      case FirstProofQuiet:
        return !inWait && c == Period + 3 && Last == "GETPORT 4" &&
               LastSetport == "setport 3.1";
      case SecondProofQuiet:
        return !inWait && c == Period + 3 && Last == "GETPORT 4" &&
               LastSetport == "setport 5.1";
    }
    return false;
  }

  // The PC sleeps `ms` once, at `place`, while the well runs dry; the run
  // goes on to 150 s after the wake.
  void SleepOnce(Place place, int64_t ms, bool notices) {
    auto sleep = [=] {
      Sim.SetLevel(Dry);
      HeadlessSystemSleep(ms, notices);
      Woke = true;
      WokeAt = PlatTickCount();
      SetportsAtWake = Setports.size();
      QueriesAtWake = Queries.size();
    };
    HeadlessSetServeHook([=] {
      if (Due(place, false)) sleep();
    });
    Run([=] {
      if (Due(place, true)) sleep();
      return Woke && PlatTickCount() - WokeAt > 150000;
    });
    HeadlessSetServeHook(nullptr);
    ASSERT_TRUE(Woke);
  }

  std::vector<Start> Named(const std::string& name) const {
    std::vector<Start> found;
    for (const Start& s : Starts)
      if (!s.args.empty() && s.args[0] == name) found.push_back(s);
    return found;
  }

  // The first setport of `output` at or after the wake; empty when none.
  std::pair<std::string, uint32_t> FirstAfterWake(char output) const {
    for (size_t i = SetportsAtWake; i < Setports.size(); i++)
      if (Setports[i].first[8] == output) return Setports[i];
    return {"", 0};
  }

  // What every wake must show: told once with its length; the board queried
  // and the sensor powered at once; no level decision before the sensor
  // has warmed up again, and then on the dry well; the guard's watch blind
  // before that decision and seeing again after it; the queries going on.
  void ExpectWake(int64_t ms, const std::string& length) {
    std::vector<Start> woke = Named("pc-wach");
    ASSERT_EQ(woke.size(), 1u);
    EXPECT_LE(woke[0].at - WokeAt, 8000u);
    ASSERT_EQ(woke[0].args.size(), 4u);
    EXPECT_EQ(woke[0].args[3], std::to_string(ms / Minute));
    bool listed = false;
    for (const Text& line : AppState.Alarms.AlarmLines)
      listed = listed ||
               line.find("Der PC hat " + length + " geschlafen") != Text::npos;
    EXPECT_TRUE(listed) << length;

    std::pair<std::string, uint32_t> sensor = FirstAfterWake('3');
    std::pair<std::string, uint32_t> out5 = FirstAfterWake('5');
    std::pair<std::string, uint32_t> out4 = FirstAfterWake('4');
    // The sensor's power: its "off" may end the cycle the sleep broke.
    uint32_t sensorOn = 0;
    for (size_t i = SetportsAtWake; i < Setports.size() && !sensorOn; i++)
      if (Setports[i].first == "setport 3.1") sensorOn = Setports[i].second;
    ASSERT_FALSE(sensor.first.empty());
    // A connection that did not live through the sleep is found dead by
    // the first query and made anew.
    const uint32_t Checked = 2 * ReplyStartLimit + ReconnectInterval + 4000;
    EXPECT_LE(sensorOn - WokeAt, Checked);
    EXPECT_EQ(out5.first, "setport 5.0");
    EXPECT_EQ(out4.first, "setport 4.1");
    EXPECT_GE(out5.second - sensorOn, 2000u) << "decided before the warm-up";
    uint32_t firstQuery = 0;
    int inAMinute = 0;
    for (size_t i = QueriesAtWake; i < Queries.size(); i++) {
      uint32_t q = Queries[i];
      if (!firstQuery) firstQuery = q;
      inAMinute += q - WokeAt < 60000;
    }
    EXPECT_LE(firstQuery - WokeAt, 8000u);
    EXPECT_GE(inAMinute, 20);

    std::vector<Start> blind = Named("waechter-blind");
    std::vector<Start> sees = Named("waechter-sieht");
    ASSERT_EQ(blind.size(), 1u);
    EXPECT_LT(blind[0].at - WokeAt, out4.second - WokeAt);
    ASSERT_EQ(sees.size(), 1u);
    EXPECT_GE(sees[0].at - WokeAt, out4.second - WokeAt);
    EXPECT_TRUE(Named("pc-schlaf").empty());
  }

  void Clear() {
    ResetPlatform();
    Starts.clear();
    Setports.clear();
    Queries.clear();
    Last.clear();
    LastSetport.clear();
    Woke = false;
    WokeAt = 0;
    SetportsAtWake = QueriesAtWake = 0;
    Prepare();
  }

  void EachLengthWithAndWithoutNotices(Place place) {
    const std::pair<int64_t, const char*> lengths[] = {
        {10 * Minute, "10 min"},
        {2 * Hour, "2 h 0 min"},
        {10 * Hour, "10 h 0 min"},
        {30 * Day, "30 Tage 0 h"}};
    for (const auto& length : lengths) {
      for (bool notices : {true, false}) {
        SCOPED_TRACE(std::string(length.second) +
                     (notices ? ", with notices" : ", without notices"));
        Clear();
        SleepOnce(place, length.first, notices);
        ExpectWake(length.first, length.second);
      }
    }
  }

  std::vector<Start> Starts;
  std::vector<std::pair<std::string, uint32_t>> Setports;
  std::vector<uint32_t> Queries;
  std::string Last, LastSetport;
  bool Woke = false;
  uint32_t WokeAt = 0;
  size_t SetportsAtWake = 0, QueriesAtWake = 0;
};

TEST_F(PcSleep, InTheWaitBetweenMeasurements) {
  EachLengthWithAndWithoutNotices(MidCycle);
}

// The tick that would have evaluated on the sensor's warm-up from before
// the sleep starts a new measurement instead.
TEST_F(PcSleep, InTheWaitBeforeAnEvaluationTick) {
  EachLengthWithAndWithoutNotices(BeforeEvaluation);
}

// A proof in step that the PC slept through proves nothing: neither output
// is switched on the reading taken before the sleep.
TEST_F(PcSleep, InsideTheProofOfOutput5sReading) {
  EachLengthWithAndWithoutNotices(FirstProofQuiet);
}

TEST_F(PcSleep, InsideTheProofOfOutput4sReading) {
  EachLengthWithAndWithoutNotices(SecondProofQuiet);
}

// Beyond the tick count's wrap (49.7 days) the length is still right.
TEST_F(PcSleep, BeyondTheTickCountsWrap) {
  SleepOnce(MidCycle, 50 * Day + 3 * Hour, false);
  ExpectWake(50 * Day + 3 * Hour, "50 Tage 3 h");
}

// Where the system has no clock that leaves out sleep, the notices say it,
// and without them the long gap in the main loop's passes does.
TEST_F(PcSleep, WithoutTheRunningClock) {
  for (bool notices : {true, false}) {
    SCOPED_TRACE(notices ? "with notices" : "without notices");
    Clear();
    HeadlessSetRunningClock(false);
    SleepOnce(MidCycle, 2 * Hour, notices);
    ExpectWake(2 * Hour, "2 h 0 min");
  }
}

// The system's notice of the sleep to come is told at once, before the
// sleep; the resume notice that comes after the clocks found the sleep is
// no second sleep, and neither is the second resume notice of one wake.
TEST_F(PcSleep, NoticesAroundTheSleep) {
  int step = 0;
  uint32_t noticeAt = 0;
  Run([&] {
    switch (step) {
      case 0:
        if (PlatTickCount() < 50000 || AppState.Measurement.CycleCounter != 10)
          break;
        HeadlessPowerNotice(true);
        noticeAt = PlatTickCount();
        step = 1;
        break;
      case 1:
        if (PlatTickCount() - noticeAt < 1000) break;
        HeadlessSystemSleep(2 * Hour, false);
        WokeAt = PlatTickCount();
        step = 2;
        break;
      case 2:
        if (PlatTickCount() - WokeAt < 3000) break;
        HeadlessPowerNotice(false);
        step = 3;
        break;
      case 3:
        if (PlatTickCount() - WokeAt < 6000) break;
        HeadlessPowerNotice(false);
        step = 4;
        break;
      default:
        return PlatTickCount() - WokeAt > 20000;
    }
    return false;
  });
  std::vector<Start> goes = Named("pc-schlaf");
  ASSERT_EQ(goes.size(), 1u);
  EXPECT_LE(goes[0].at - noticeAt, 1000u) << "not at once";
  EXPECT_EQ(Named("pc-wach").size(), 1u);
}

// The system is asked to stay awake while the measurement is released,
// with the program and the well as its reason; the request goes when the
// measurement is locked and at the end, and comes back on its release.
TEST_F(PcSleep, KeptAwakeWhileTheMeasurementIsReleased) {
  std::vector<bool> seen;
  int step = 0;
  uint32_t at = 0;
  Run([&] {
    seen.push_back(HeadlessKeptAwake());
    switch (step) {
      case 0:
        EXPECT_EQ(HeadlessKeepAwakeReason(),
                  "KORVALINEX bewacht den Brunnen an 127.0.0.1:" +
                      std::to_string(Sim.Port()));
        if (HeadlessPostClick(ButtonMeasurementOff))
          step = 1, at = PlatTickCount();
        break;
      case 1:
        if (PlatTickCount() - at < 2000) break;
        EXPECT_FALSE(HeadlessKeptAwake());
        if (HeadlessPostClick(ButtonMeasurementOn))
          step = 2, at = PlatTickCount();
        break;
      case 2:
        if (PlatTickCount() - at < 2000) break;
        EXPECT_TRUE(HeadlessKeptAwake());
        return true;
    }
    return false;
  });
  ASSERT_FALSE(seen.empty());
  EXPECT_TRUE(seen.front());
  EXPECT_FALSE(HeadlessKeptAwake());
  EXPECT_EQ(HeadlessKeepAwakeChanges(), 4);
}

// The status page's listening socket, whose next try fell due while the
// PC slept 30 days, is tried at once after the wake, not 25 days later.
TEST_F(PcSleep, ThePagesListenerIsTriedAgainAfterALongSleep) {
  HeadlessUseWebClients(true);
  HeadlessHoldPort(8080, true);
  HeadlessSetCommandLine(("korvalinex.exe /web 127.0.0.1:8080 127.0.0.1 " +
                          std::to_string(Sim.Port()))
                             .c_str());
  uint32_t listening = 0;
  Run([&] {
    if (!Woke && PlatTickCount() > 10000) {
      HeadlessHoldPort(8080, false);  // the other program ended meanwhile
      HeadlessSystemSleep(30 * Day, false);
      Woke = true;
      WokeAt = PlatTickCount();
    }
    if (Woke && !listening && HeadlessListening() > 0)
      listening = PlatTickCount();
    return Woke && PlatTickCount() - WokeAt > 5000;
  });
  ASSERT_NE(listening, 0u);
  // Recorded at the next wait, after the first query found the
  // connection dead.
  EXPECT_LE(listening - WokeAt, (uint32_t)ReplyStartLimit + 1000);
}

// The clocks alone: a lead of the tick count over the time the system ran
// is a sleep of that length, a jitter within the gap is none.
TEST(SleepClock, LeadOfTheTickCountAndTheNotices) {
  HeadlessReset();
  ZeroAppState();
  EXPECT_EQ(SleepsFound(), 0);
  HeadlessAdvanceClock(5000);
  EXPECT_EQ(SleepsFound(), 0);
  HeadlessSystemSleep(SleepClockGap - 500, false);
  EXPECT_EQ(SleepsFound(), 0) << "within the clocks' jitter";
  HeadlessSystemSleep(10 * Minute, false);
  EXPECT_EQ(SleepsFound(), 1);
  EXPECT_EQ(SleptMs(), 10 * Minute);
  // Its resume notices come late: the same sleep.
  HeadlessAdvanceClock(2000);
  HeadlessPowerNotice(false);
  HeadlessPowerNotice(false);
  EXPECT_EQ(SleepsFound(), 1);
  // A short sleep only the notices tell.
  HeadlessSystemSleep(1000, true);
  EXPECT_EQ(SleepsFound(), 2);
  EXPECT_EQ(SleptMs(), 10 * Minute + 1000);
}

TEST(SleepClock, LengthsAsTheOperatorReadsThem) {
  EXPECT_EQ(SleepDurationText(0), "0 s");
  EXPECT_EQ(SleepDurationText(59999), "59 s");
  EXPECT_EQ(SleepDurationText(10 * Minute + 59000), "10 min");
  EXPECT_EQ(SleepDurationText(2 * Hour + 14 * Minute), "2 h 14 min");
  EXPECT_EQ(SleepDurationText(Day + 5 * Hour), "1 Tag 5 h");
  EXPECT_EQ(SleepDurationText(-5), "0 s");
}

}  // namespace
