// The guard of the well against the model board: scenarios of measurement
// cycles in which every "setport 4.x" and "setport 5.x" must agree with the
// well's true level, the guard's blindness past its bound must be
// announced, and a healthy board at any speed must get every decision. Its
// own executable (tests named "guard."), as its scenarios run the whole
// measurement many thousand times; each profile's scenarios are split into
// shards (one CTest test each), so that the cores share them.
//
// A failure names the seed and the profile; KVX_GUARD_SEED=<seed> with
// KVX_GUARD_PROFILE=<key> runs that one scenario with its whole trace
// (test GuardOracle.OneScenario; with KVX_GUARD_TRACE its trace also when
// it passes). KVX_GUARD_SCENARIOS=N runs N times as many in every shard.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/startup.h"
#include "base/state.h"
#include "board/link.h"
#include "board/reply_forms.h"
#include "control/measurement.h"
#include "platform/headless/headless.h"
#include "tests/guard/board_model.h"
#include "tests/guard/guard_scenario.h"
#include "tests/support/program_start.h"

namespace {

using guard::Outcome;
using guard::Profile;

TEST(GuardOracle, ThresholdsOfTheLevel) {
  guard::Truth t{43, true, true};
  EXPECT_TRUE(guard::ExpectedOn(4, t)) << "0.210 V counts as below 0.21";
  t.LevelCount = 44;
  EXPECT_FALSE(guard::ExpectedOn(4, t));
  t.LevelCount = 241;
  EXPECT_FALSE(guard::ExpectedOn(5, t));
  t.LevelCount = 242;
  EXPECT_TRUE(guard::ExpectedOn(5, t));
  t.MaximumReleased = false;
  EXPECT_FALSE(guard::ExpectedOn(5, t));
}

// One evaluation against a board answering in `way`, with `line` coming
// `gap` ms after the reply to `after` in the connection's query `query`
// (and, with `held`, the reply to `held` in that query reaching the
// program `holdMs` late, everything behind it too); the level commands the
// board received.
std::vector<guard::LevelSwitch> Evaluate(const guard::Manner& way,
                                         const guard::Truth& truth,
                                         const char* after, int query,
                                         const char* line, int gap,
                                         const char* held = nullptr,
                                         int holdMs = 0) {
  guard::Draws draws(1);
  guard::ModelBoard board(&draws, Profile::BusyStrays);
  board.Fix(way);
  board.StrayAfter(after, query, line, gap);
  if (held) board.HoldReply(held, query, holdMs);
  board.SetAnalog(4, 0);  // nothing on it
  board.Now = truth;
  board.Tracing = getenv("KVX_GUARD_TRACE") != nullptr;
  StartFresh();
  HeadlessSetBoardModel(&board);
  EXPECT_EQ(StartLink(), "");
  AppState.Switching.MeasurementEnabled = true;
  AppState.Switching.MinimumEnabled = truth.MinimumReleased;
  AppState.Switching.MaximumEnabled = truth.MaximumReleased;
  SensorAsWarmedUp();
  EvaluateLevel();
  std::vector<guard::LevelSwitch> switches = board.Switches;
  if (getenv("KVX_GUARD_TRACE"))
    printf("%sfaults %d doubt %d proven %d level %f clock %u\n",
           board.TraceText(UINT32_MAX).c_str(), AppState.Query.ReplyFaults,
           AppState.Query.LinkInDoubt, AppState.Readings.LevelProven,
           AppState.Readings.LevelVoltage, PlatTickCount());
  CloseConnection();
  ReleaseFacilities();
  HeadlessSetBoardModel(nullptr);
  ZeroAppState();
  HeadlessReset();
  return switches;
}

// A board that takes longer per reply than the link's quiet time, with one
// count line too many between the status and GETADC 1 of the query that
// decides output 4: every later reply is one late and still of its
// command's form (analog input 4 reads 0, the form of a digital input's),
// and the one left over comes more than the quiet time after the one
// before it. Neither output may follow the stray's 600.
TEST(GuardOracle, AStrayCountBehindTheStatusOfASlowBoardSwitchesNothingWrong) {
  const guard::Truth dry{20, true, true};  // 0.098 V: output 4 on
  for (bool link : {false, true}) {
    for (int speed : {650, 900, 2000}) {
      SCOPED_TRACE(std::string(link ? "slow link" : "busy board") + " of " +
                   std::to_string(speed) + " ms a reply");
      guard::Manner way;
      way.Link = link;
      way.Speed = speed;
      way.Steady = true;
      // The evaluation's first query is the connection's first, the one
      // that decides output 4 its second.
      for (const guard::LevelSwitch& s :
           Evaluate(way, dry, "Getstatus", 2, "600\r\n", 100))
        EXPECT_EQ(s.On == 1, guard::ExpectedOn(s.Output, dry))
            << "setport " << s.Output << "." << s.On << " on a dry well";
    }
  }
}

// A prompt board whose link holds back the last reply of a query (GETPORT
// 4) for up to 2.9 s, in the query a decision rides on, behind a stray
// count line 2 ms after the status: every reply from GETADC 1 on is one
// late, and the one left over comes well past the link's quiet time,
// though within the 3 s by which a living board has begun any reply.
// Neither output may follow the stray's count.
void ExpectNothingWrongWithTheLastReplyHeld(const guard::Truth& truth,
                                            int query, const char* stray) {
  for (int speed : {5, 50}) {
    for (int holdMs : {600, 650, 1000, 2000, 2900}) {
      SCOPED_TRACE("board of " + std::to_string(speed) +
                   " ms a reply, GETPORT 4 held back " +
                   std::to_string(holdMs) + " ms");
      guard::Manner way;
      way.Speed = speed;
      way.Steady = true;
      for (const guard::LevelSwitch& s : Evaluate(
               way, truth, "Getstatus", query, stray, 2, "GETPORT 4", holdMs))
        EXPECT_EQ(s.On == 1, guard::ExpectedOn(s.Output, truth))
            << "setport " << s.Output << "." << s.On << " against the truth";
    }
  }
}

// The query that decides output 4 (the connection's second) on a dry
// well: a stray 600 would switch 4.0.
TEST(GuardOracle, AHeldLastReplyBehindAStrayCountSwitchesNoOutput4Wrong) {
  ExpectNothingWrongWithTheLastReplyHeld({20, true, true}, 2, "600\r\n");
}

// The query that decides output 5 (the first) on a full well: a stray 20
// would switch 5.0.
TEST(GuardOracle, AHeldLastReplyBehindAStrayCountSwitchesNoOutput5Wrong) {
  ExpectNothingWrongWithTheLastReplyHeld({600, true, true}, 1, "20\r\n");
}

// --- The slow model board itself --------------------------------------------

const char* const Query[] = {"Help",      "Version",   "Getip",     "Getgw",
                             "Getmask",   "Getstatus", "GETADC 1",  "GETADC 2",
                             "GETADC 3",  "GETADC 4",  "GETPORT 1", "GETPORT 2",
                             "GETPORT 3", "GETPORT 4"};

std::string Wire(const std::string& command) { return command + " \\r\\n"; }

// What the board writes for one command sent at `now`.
std::vector<HeadlessArrival> Send(guard::ModelBoard* board,
                                  const std::string& command, uint32_t now) {
  std::vector<HeadlessArrival> out;
  std::string wire = Wire(command);
  board->Take(wire.data(), (int)wire.size(), now, &out);
  return out;
}

guard::Manner Steady(bool link, int speed) {
  guard::Manner way;
  way.Link = link;
  way.Speed = speed;
  way.Steady = true;
  return way;
}

TEST(GuardModel, ABusyBoardAnswersOneCommandAtATime) {
  guard::Draws draws(3);
  guard::ModelBoard board(&draws, Profile::BusyBoard);
  board.Fix(Steady(false, 500));
  std::vector<HeadlessArrival> out;
  board.Accept(0, &out);
  std::string three = Wire("Getip") + Wire("Getgw") + Wire("Getmask");
  board.Take(three.data(), (int)three.size(), 1000, &out);
  ASSERT_EQ(out.size(), 3u);
  EXPECT_EQ(out[0].At, 1500u);
  EXPECT_EQ(out[1].At, 2000u) << "its processing begins once the one before "
                                 "is out";
  EXPECT_EQ(out[2].At, 2500u);
  EXPECT_EQ(out[2].Bytes, "255.255.255.0\r\n");
}

TEST(GuardModel, OverASlowLinkRepliesAreOnTheWayTogether) {
  guard::Draws draws(3);
  guard::ModelBoard board(&draws, Profile::SlowLink);
  board.Fix(Steady(true, 800));
  std::vector<HeadlessArrival> out;
  board.Accept(0, &out);
  std::vector<HeadlessArrival> a = Send(&board, "Getip", 1000);
  std::vector<HeadlessArrival> b = Send(&board, "Getgw", 1100);
  ASSERT_EQ(a.size(), 1u);
  ASSERT_EQ(b.size(), 1u);
  EXPECT_GE(a[0].At, 1800u);
  EXPECT_LE(a[0].At, 1805u);
  EXPECT_GE(b[0].At, 1900u);
  EXPECT_LE(b[0].At, 1905u) << "the second is on its way before the first "
                               "has arrived";
}

// A healthy slow board, whatever its drawn speed: each reply begins within
// 2.5 s of its command (and of the end of the reply before), comes whole
// or a line at a time up to 300 ms apart, and nothing else comes.
TEST(GuardModel, AHealthySlowBoardKeepsItsBounds) {
  for (Profile p : {Profile::BusyBoard, Profile::SlowLink}) {
    uint32_t slowest = 0, fastest = UINT32_MAX, widest = 0;
    for (uint64_t seed = 1; seed <= 300; seed++) {
      SCOPED_TRACE(std::string(guard::ProfileKey(p)) + " seed " +
                   std::to_string(seed));
      guard::Draws draws(seed);
      guard::ModelBoard board(&draws, p);
      std::vector<HeadlessArrival> none;
      board.Accept(0, &none);
      uint32_t now = 10, end = 0;
      for (const char* command : Query) {
        std::vector<HeadlessArrival> out = Send(&board, command, now);
        ASSERT_FALSE(out.empty());
        std::string reply;
        for (size_t i = 0; i < out.size(); i++) {
          reply += out[i].Bytes;
          if (i > 0) {
            EXPECT_LE(out[i].At - out[i - 1].At, 300u);
            EXPECT_EQ(out[i - 1].Bytes.back(), '\n') << "cut inside a line";
          }
          if (i > 0) widest = std::max(widest, out[i].At - out[i - 1].At);
        }
        uint32_t begun = out[0].At - (now > end ? now : end);
        EXPECT_LE(begun, 2505u) << command;
        slowest = std::max(slowest, begun);
        fastest = std::min(fastest, begun);
        EXPECT_EQ(reply.back(), '\n');
        end = out.back().At;
        now = end + 1;
      }
      std::vector<HeadlessArrival> later;
      EXPECT_FALSE(board.Update(now + 60000, &later));
      EXPECT_TRUE(later.empty()) << "nothing unasked";
    }
    // Every speed is met, the quiet time's neighbourhood included.
    EXPECT_LE(fastest, 20u);
    EXPECT_GE(slowest, 2400u);
    EXPECT_GE(widest, 250u);
  }
}

// Strays in every reply form: those that pass the program's form checks
// most of all (no restraint about counts).
TEST(GuardModel, StraysComeInEveryForm) {
  guard::Draws draws(11);
  guard::ModelBoard board(&draws, Profile::BusyStrays);
  board.Now = {43, true, true};
  int count = 0, status = 0, address = 0, input = 0, ok = 0, lines = 0;
  for (int i = 0; i < 3000; i++) {
    std::string s = board.StrayLine();
    count += IsCountReply(s);
    status += IsStatusReply(s);
    address += IsAddressReply(s);
    input += IsInputReply(s);
    ok += s == "OK\r\n";
    lines += std::count(s.begin(), s.end(), '\n') > 1;
  }
  EXPECT_GT(count, 300) << "a count line, as GETADC 1's would be";
  EXPECT_GT(status, 100);
  EXPECT_GT(address, 100);
  EXPECT_GT(input, 100);
  EXPECT_GT(ok, 100);
  EXPECT_GT(lines, 100) << "Help- and Version-like text";
}

// A board that drops its connections drops them only once a query is
// answered: no reply the program waits for is left out before the close.
TEST(GuardModel, ADroppedConnectionEndsOnlyAnAnsweredQuery) {
  guard::Manner way = Steady(false, 700);
  way.DropPercent = 100;
  guard::Draws draws(5);
  guard::ModelBoard board(&draws, Profile::Drops);
  board.Fix(way);
  std::vector<HeadlessArrival> out;
  board.Accept(0, &out);
  uint32_t now = 0;
  for (const char* command : Query) {
    std::vector<HeadlessArrival> got = Send(&board, command, now);
    ASSERT_EQ(got.size(), 1u) << command;
    std::vector<HeadlessArrival> meanwhile;
    EXPECT_FALSE(board.Update(got[0].At, &meanwhile)) << command;
    now = got[0].At;
  }
  std::vector<HeadlessArrival> close;
  EXPECT_TRUE(board.Update(now + 3000, &close));
  ASSERT_EQ(close.size(), 1u);
  EXPECT_TRUE(close[0].Closes);
  EXPECT_TRUE(Send(&board, "Help", now + 3001).empty())
      << "a closed connection answers nothing";
}

// A power cut: every relay off, the connection reset at once, new ones
// refused for 2 to 30 s, then taken again with the outputs still off.
TEST(GuardModel, APowerCutTakesTheOutputsAndTheConnection) {
  int cuts = 0;
  for (uint64_t seed = 1; seed <= 40; seed++) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    guard::Draws draws(seed);
    guard::ModelBoard board(&draws, Profile::PowerCuts);
    board.Fix(Steady(false, 10));
    std::vector<HeadlessArrival> out;
    ASSERT_TRUE(board.Accept(0, &out));
    Send(&board, "setport 4.1", 10);
    Send(&board, "setport 5.1", 20);
    uint32_t now = 100;
    std::vector<HeadlessArrival> close;
    while (!board.Update(now, &close) && now < 210000) now += 100;
    ASSERT_EQ(board.PowerCuts, 1) << "the first cut within 200 s";
    cuts++;
    ASSERT_EQ(close.size(), 1u);
    EXPECT_TRUE(close[0].Closes) << "the connection reset with the power";
    EXPECT_FALSE(board.Relay(4));
    EXPECT_FALSE(board.Relay(5));
    EXPECT_TRUE(board.Differs(4));
    EXPECT_TRUE(board.Differs(5));
    EXPECT_TRUE(Send(&board, "Getstatus", now).empty());
    uint32_t cut = board.DiffersSince(4);
    uint32_t back = now;
    while (!board.Accept(back, &out)) back += 100;
    EXPECT_GE(back - cut, 2000u);
    EXPECT_LE(back - cut, 30100u);
    EXPECT_EQ(board.SteadySince() + 100 > back, true);
    std::vector<HeadlessArrival> status = Send(&board, "Getstatus", back + 1);
    ASSERT_FALSE(status.empty());
    EXPECT_EQ(status[0].Bytes, "S00000000\r\n") << "up again, all off";
  }
  EXPECT_EQ(cuts, 40);
}

// A refused setport: "ERR", the relay as it was, and the guard's decision
// not on the board; the status after it belies it, so it decides nothing.
// One carried out decides once it is answered, and the status after it
// bears it out.
TEST(GuardModel, ARefusedSetportSwitchesNothingAndDecidesNothing) {
  guard::Manner way = Steady(false, 10);
  way.RefusePercent = 100;
  guard::Draws draws(9);
  guard::ModelBoard board(&draws, Profile::Refusals);
  board.Fix(way);
  std::vector<HeadlessArrival> out;
  board.Accept(0, &out);
  std::vector<HeadlessArrival> reply = Send(&board, "setport 4.1", 100);
  ASSERT_EQ(reply.size(), 1u);
  EXPECT_EQ(reply[0].Bytes, "ERR\r\n");
  EXPECT_FALSE(board.Relay(4));
  EXPECT_TRUE(board.Differs(4));
  EXPECT_EQ(board.DiffersSince(4), 100u);
  EXPECT_EQ(board.Refused, 1);
  ASSERT_EQ(board.Switches.size(), 1u);
  EXPECT_FALSE(board.Switches[0].Accepted);
  EXPECT_FALSE(board.Switches[0].Decides(reply[0].At + 1));
  Send(&board, "Getstatus", 200);
  EXPECT_TRUE(board.Switches[0].Judged);
  EXPECT_FALSE(board.Switches[0].Shown);

  guard::Draws more(9);
  guard::ModelBoard willing(&more, Profile::Refusals);
  willing.Fix(Steady(false, 10));
  willing.Accept(0, &out);
  reply = Send(&willing, "setport 4.1", 100);
  ASSERT_EQ(reply.size(), 1u);
  EXPECT_EQ(reply[0].Bytes, "OK\r\n");
  EXPECT_TRUE(willing.Relay(4));
  EXPECT_FALSE(willing.Differs(4));
  EXPECT_FALSE(willing.Switches[0].Decides(reply[0].At - 1))
      << "not before its answer";
  EXPECT_TRUE(willing.Switches[0].Decides(reply[0].At));
  std::vector<HeadlessArrival> status = Send(&willing, "Getstatus", 200);
  ASSERT_EQ(status.size(), 1u);
  EXPECT_EQ(status[0].Bytes, "S00001000\r\n");
  EXPECT_TRUE(willing.Switches[0].Shown);
  EXPECT_TRUE(willing.Switches[0].Decides(status[0].At));
}

// Another client switches outputs 3, 4 and 5, most often to the other
// state; output 4 or 5 switched so differs from the guard's decision
// until the guard's next setport.
TEST(GuardModel, AnotherClientSwitchesOutputsThreeToFive) {
  int switched = 0, differed = 0;
  for (uint64_t seed = 1; seed <= 20; seed++) {
    guard::Draws draws(seed);
    guard::ModelBoard board(&draws, Profile::Meddling);
    board.Fix(Steady(false, 10));
    std::vector<HeadlessArrival> out;
    board.Accept(0, &out);
    Send(&board, "setport 4.0", 10);
    Send(&board, "setport 5.0", 20);
    for (uint32_t now = 100; now < 1000000; now += 500) {
      board.Advance(now);
      if (!board.Differs(4) && !board.Differs(5)) continue;
      differed++;
      // The guard's decisions again.
      Send(&board, "setport 4.0", now);
      Send(&board, "setport 5.0", now + 1);
      EXPECT_FALSE(board.Differs(4));
      EXPECT_FALSE(board.Differs(5));
    }
    switched += board.OthersSwitched;
    EXPECT_EQ(board.PowerCuts, 0);
    EXPECT_EQ(board.Refused, 0);
  }
  EXPECT_GT(switched, 25);
  EXPECT_GT(differed, 10);
}

// A held stream keeps its order: every byte behind the hold waits too,
// and a reply's bytes, however held, reach the program within
// LatestHeldReply of its command. Behind a stray line or a trickle that the
// link held back, the first byte after the command still does (a trickle's
// own bytes may come seconds apart, and the reply after them).
TEST(GuardModel, AHeldStreamKeepsItsOrderAndItsBound) {
  int held = 0;
  for (uint64_t seed = 1; seed <= 200; seed++) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    guard::Manner way = Steady(seed % 2 == 0, (int)(seed % 7) * 100);
    way.HoldPercent = 30;
    if (seed % 3 == 0) {
      way.StrayPercent = 40;
      way.TricklePercent = 30;
    }
    guard::Draws draws(seed);
    guard::ModelBoard board(&draws, Profile::Holds);
    board.Fix(way);
    std::vector<HeadlessArrival> none;
    board.Accept(0, &none);
    uint32_t now = 10, last = 0;
    for (const char* command : Query) {
      std::vector<HeadlessArrival> out = Send(&board, command, now);
      ASSERT_FALSE(out.empty());
      std::string reply;
      EXPECT_LE((int32_t)(out.front().At - now),
                (int32_t)guard::LatestHeldReply)
          << command;
      for (const HeadlessArrival& a : out) {
        EXPECT_GE(a.At, last) << "out of order";
        if (way.TricklePercent == 0) {
          EXPECT_LE((int32_t)(a.At - now), (int32_t)guard::LatestHeldReply)
              << command;
        }
        if (a.At - now > 700u + (uint32_t)way.Speed) held++;
        last = a.At;
        reply += a.Bytes;
      }
      EXPECT_EQ(reply.back(), '\n') << "a reply whole, however held";
      now = last + 1;
    }
  }
  EXPECT_GT(held, 50) << "holds well past the board's own time";
}

// --- The model's level sensor ----------------------------------------------

// What GETADC 1 reads at `now` (-1: no count).
int ReadLevel(guard::ModelBoard* board, uint32_t now) {
  std::string reply;
  for (const HeadlessArrival& a : Send(board, "GETADC 1", now))
    reply += a.Bytes;
  return IsCountReply(reply) ? atoi(reply.c_str()) : -1;
}

// Each fault reads as it claims, with the sensor's power (output 3) on and
// off; the next cycle's well and sensor take over with "setport 3.0".
TEST(GuardModel, TheSensorsFaultsReadAsTheyClaim) {
  using guard::SensorFault;
  guard::Draws draws(7);
  for (SensorFault fault :
       {SensorFault::None, SensorFault::PinnedTop, SensorFault::PinnedLow,
        SensorFault::CableBreak, SensorFault::Spike, SensorFault::SlowStart,
        SensorFault::Flat}) {
    for (int liveZero : {0, 180}) {
      SCOPED_TRACE(std::string(guard::SensorFaultName(fault)) +
                   (liveZero ? ", live zero" : ""));
      guard::ModelBoard board(&draws, Profile::WholeReplies);
      guard::ModelSensor sensor;
      board.Sensor = &sensor;
      std::vector<HeadlessArrival> none;
      board.Accept(0, &none);
      guard::SensorCondition c = guard::DrawSensor(&draws, liveZero, fault);
      const int level = liveZero + 300;
      board.NextCycle({level, true, true}, c);
      Send(&board, "setport 3.0", 10);
      ASSERT_EQ(sensor.Cycle(), 1);
      ASSERT_EQ(board.Now.LevelCount, level);
      int idle = ReadLevel(&board, 100);
      Send(&board, "setport 3.1", 1000);
      std::vector<int> powered;
      for (uint32_t at = 1000; at <= 6000; at += 250)
        powered.push_back(ReadLevel(&board, at));
      Send(&board, "setport 3.0", 7000);
      int after = ReadLevel(&board, 7100);
      switch (fault) {
        case SensorFault::PinnedTop:
        case SensorFault::PinnedLow:
        case SensorFault::CableBreak: {
          int mid = fault == SensorFault::PinnedTop   ? 1023
                    : fault == SensorFault::PinnedLow ? 127
                                                      : 0;
          for (int r : powered) EXPECT_NEAR(r, mid, 1) << "powered";
          EXPECT_NEAR(idle, mid, 1) << "whatever output 3 does";
          EXPECT_NEAR(after, mid, 1);
          break;
        }
        default: {
          EXPECT_LT(idle, 20) << "a working sensor without power: < 0.10 V";
          EXPECT_EQ(after, idle);
          int off = 0;
          for (int r : powered) off += r != level;
          if (fault == SensorFault::Spike) {
            EXPECT_GE(std::abs(powered[(size_t)c.SpikeAt - 1] - level),
                      (int)guard::SpikeDistance)
                << "beyond the spread of a cycle's readings";
            EXPECT_EQ(off, 1) << "one reading of the cycle";
          } else if (fault == SensorFault::SlowStart) {
            EXPECT_EQ(powered[0], idle) << "nothing at the power's first ms";
            EXPECT_GT(off, 1);
            EXPECT_LE(off, 12) << "the level within 2.9 s";
            for (size_t i = 1; i < powered.size(); i++)
              EXPECT_GE(powered[i], powered[i - 1]) << "a rise, no more";
          } else {
            EXPECT_EQ(off, 0);
          }
        }
      }
    }
  }
}

// The well and the sensor of the next cycle wait for the end of the one
// before, and a level command names the cycle it came in.
TEST(GuardModel, TheNextCycleBeginsWithTheEndOfTheMeasurement) {
  guard::Draws draws(3);
  guard::ModelBoard board(&draws, Profile::WholeReplies);
  guard::ModelSensor sensor;
  board.Sensor = &sensor;
  std::vector<HeadlessArrival> none;
  board.Accept(0, &none);
  guard::SensorCondition working =
      guard::DrawSensor(&draws, 0, guard::SensorFault::None);
  board.NextCycle({100, true, true}, working);
  Send(&board, "setport 3.0", 10);
  board.NextCycle({20, true, true},
                  guard::DrawSensor(&draws, 0, guard::SensorFault::PinnedTop));
  Send(&board, "setport 3.1", 20);
  EXPECT_EQ(ReadLevel(&board, 3000), 100);
  Send(&board, "setport 4.0", 3100);
  Send(&board, "setport 3.0", 5000);
  EXPECT_EQ(sensor.Cycle(), 2);
  EXPECT_EQ(board.Now.LevelCount, 20);
  EXPECT_EQ(ReadLevel(&board, 5100), 1023);
  Send(&board, "setport 4.1", 5200);
  ASSERT_EQ(board.Switches.size(), 2u);
  EXPECT_EQ(board.Switches[0].Cycle, 1);
  EXPECT_EQ(board.Switches[0].When.LevelCount, 100);
  EXPECT_EQ(board.Switches[1].Cycle, 2);
  EXPECT_EQ(board.Switches[1].When.LevelCount, 20);
  Send(&board, "setport 3.0", 9000);
  EXPECT_EQ(sensor.Cycle(), 2) << "no third cycle asked for";
}

TEST(GuardOracle, TheBoundOfALossFollowsTheBoardsSpeed) {
  guard::Manner prompt;
  EXPECT_EQ(guard::LossBound(prompt), 78850);
  guard::Manner slowest = Steady(true, 2500);
  slowest.LineGap = 300;
  EXPECT_EQ(guard::LossBound(slowest), 628890);
  EXPECT_LT(guard::LossBound(Steady(false, 600)), guard::LossBound(slowest));
}

// The oracle has teeth: a program without the sensor check decides on
// failed readings, and the sensor profiles say so.
TEST(GuardOracle, ASensorProfileCatchesAProgramThatDecidesOnFailedReadings) {
  guard::SensorCheckLeftOff = true;
  int failedDecided = 0;
  for (Profile p : {Profile::Sensor, Profile::SensorFaulty})
    for (uint64_t seed = 1; seed <= 30; seed++)
      failedDecided += guard::RunScenario(seed, p, nullptr, 0, false)
                           .Found[guard::FailedReadingDecided];
  guard::SensorCheckLeftOff = false;
  EXPECT_GE(failedDecided, 10);
}

// One shard: `count` scenarios of one profile from seed `first` on.
struct Shard {
  Profile Board;
  uint64_t First;
  int Count;
};

// Every profile's share: the slow ones cost more driven time a scenario.
const int Shards = 2;
int ScenariosPerShard(Profile p) {
  switch (p) {
    case Profile::Faulty:
      return 1500;
    case Profile::WholeReplies:
    case Profile::LineByLine:
      return 500;
    // Their scenarios run on the main loop's rhythm until the board's
    // outputs agree with the guard again: several times the queries.
    case Profile::PowerCuts:
    case Profile::Meddling:
    case Profile::Refusals:
    case Profile::Everything:
      return 400;
    // Several cycles each on the main loop's rhythm.
    case Profile::Sensor:
    case Profile::SensorFaulty:
      return 300;
    default:
      return 950;
  }
}

// One shard of a profile's scenarios, with seeds of its own.
Shard ShardOf(Profile p, int shard) {
  int count = ScenariosPerShard(p);
  return {p, (uint64_t)p * 1000000 + 1 + (uint64_t)shard * (uint64_t)count,
          count};
}

void RunShard(Profile p, int index) {
  const Shard shard = ShardOf(p, index);
  int count = shard.Count;
  if (const char* times = getenv("KVX_GUARD_SCENARIOS"))
    if (atoi(times) > 1) count *= atoi(times);
  int found[guard::FaultKinds] = {};
  long evaluations = 0, switches = 0, losses = 0, blind = 0, lost = 0, told = 0;
  long sensorFailed = 0, failSafe = 0;
  int longest = 0;
  for (uint64_t seed = shard.First; seed < shard.First + (uint64_t)count;
       seed++) {
    int shown = 0;
    for (int k = 0; k < guard::FaultKinds; k++) shown += found[k] > 0;
    Outcome out = guard::RunScenario(seed, shard.Board, nullptr, 0, false);
    evaluations += out.Evaluations;
    switches += out.Switches;
    losses += out.Losses;
    blind += out.Blind;
    lost += out.Lost;
    told += out.Deviations;
    sensorFailed += out.SensorFailed;
    failSafe += out.FailSafe;
    longest = std::max(longest, out.LongestLoss);
    if (out.Ok) continue;
    bool first = false;
    for (int k = 0; k < guard::FaultKinds; k++)
      if (out.Found[k] && found[k]++ == 0) first = true;
    // The first scenario of each kind once more, with its trace.
    if (first && shown < guard::FaultKinds) {
      Outcome traced = guard::RunScenario(seed, shard.Board);
      std::string what;
      for (const std::string& w : traced.What)
        if (!w.empty()) what += w + "\n";
      ADD_FAILURE() << what << guard::TraceTail(traced.Trace, 60);
    }
  }
  printf(
      "%s: %d scenarios from seed %llu, %ld evaluations, %ld level "
      "commands, %ld connections lost, %ld blind stretches, %ld outputs "
      "lost on the board (%ld told as differing, the longest made good in "
      "%d%% of its bound); failed: %d wrong, %d failed readings decided, %d "
      "not made good, %d unannounced, %d healthy undecided\n",
      guard::ProfileName(shard.Board), count, (unsigned long long)shard.First,
      evaluations, switches, losses, blind, lost, told, longest,
      found[guard::WrongSwitch], found[guard::FailedReadingDecided],
      found[guard::LossUncorrected], found[guard::BlindUnannounced],
      found[guard::HealthyUndecided]);
  EXPECT_EQ(found[guard::WrongSwitch], 0)
      << "scenarios with a wrong level command";
  EXPECT_EQ(found[guard::FailedReadingDecided], 0)
      << "scenarios in which a failed sensor's reading decided";
  EXPECT_EQ(found[guard::LossUncorrected], 0)
      << "scenarios with an output lost on the board and not made good";
  EXPECT_EQ(found[guard::BlindUnannounced], 0)
      << "scenarios whose guard went blind past its bound unannounced";
  if (guard::IsHealthy(shard.Board)) {
    EXPECT_EQ(found[guard::HealthyUndecided], 0)
        << "scenarios in which a healthy board lost its decisions";
  }
  if (guard::IsSensorProfile(shard.Board))
    printf("%ld cycles of a failed sensor, %ld of them with the fail-safe\n",
           sensorFailed, failSafe);
  // The scenarios did decide: the oracle had something to check.
  EXPECT_GT(switches, 0);
}

// Each profile's shards, one CTest test each.
#define GUARD_SHARDS(name, profile)                                \
  TEST(GuardProfiles, name##_0) { RunShard(Profile::profile, 0); } \
  TEST(GuardProfiles, name##_1) { RunShard(Profile::profile, 1); }
static_assert(Shards == 2, "GUARD_SHARDS makes two");
GUARD_SHARDS(Faulty, Faulty)
GUARD_SHARDS(WholeReplies, WholeReplies)
GUARD_SHARDS(LineByLine, LineByLine)
GUARD_SHARDS(BusyBoard, BusyBoard)
GUARD_SHARDS(SlowLink, SlowLink)
GUARD_SHARDS(BusyStrays, BusyStrays)
GUARD_SHARDS(LinkStrays, LinkStrays)
GUARD_SHARDS(Trickles, Trickles)
GUARD_SHARDS(Chatter, Chatter)
GUARD_SHARDS(Drops, Drops)
GUARD_SHARDS(Anything, Anything)
GUARD_SHARDS(Holds, Holds)
GUARD_SHARDS(PowerCuts, PowerCuts)
GUARD_SHARDS(Meddling, Meddling)
GUARD_SHARDS(Refusals, Refusals)
GUARD_SHARDS(Everything, Everything)
GUARD_SHARDS(Sensor, Sensor)
GUARD_SHARDS(SensorFaulty, SensorFaulty)
static_assert(guard::ProfileCount == 18, "a profile without its shards");

// KVX_GUARD_SEED and KVX_GUARD_PROFILE: one scenario, its whole trace
// printed.
TEST(GuardOracle, OneScenario) {
  const char* seed = getenv("KVX_GUARD_SEED");
  const char* key = getenv("KVX_GUARD_PROFILE");
  if (!seed || !key) GTEST_SKIP() << "KVX_GUARD_SEED and KVX_GUARD_PROFILE";
  Profile profile;
  ASSERT_TRUE(guard::ProfileOfKey(key, &profile)) << "no profile " << key;
  Outcome out = guard::RunScenario(strtoull(seed, nullptr, 0), profile);
  if (!out.Ok || getenv("KVX_GUARD_TRACE")) printf("%s\n", out.Trace.c_str());
  EXPECT_TRUE(out.Ok) << out.Failure;
}

}  // namespace
