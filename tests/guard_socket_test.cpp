// The well's guard against a board whose replies misbehave, on the driven
// clock and, in one shorter shard, on a real loopback socket: many
// measurement evaluations, each against a board that
// holds a drawn level (often at a threshold) and answers in a drawn way
// (every reply whole; multi-line replies line by line; or now and then a
// reply late, in pieces, too long, garbage, or with a line too many). Every
// "setport 5.x" and "setport 4.x" the board receives must agree with the
// level the board holds; leaving the outputs alone is allowed (a lost
// connection is never a wrong decision), and a board that answers
// correctly must get both.
//
// The scenarios are split into shards (one CTest test each, so that they
// run side by side); every scenario's seed is printed with its failure, and
// KVX_GUARD_SEED=<seed> runs that one scenario alone (in shard 0).
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "base/state.h"
#include "board/commands.h"
#include "board/link.h"
#include "control/measurement.h"
#include "tests/program_fixture.h"
#include "tests/support/program_start.h"

namespace {

using Clock = std::chrono::steady_clock;

const uint32_t kBaseSeed = 0x6A11C0DEu;
const int kShards = 5;
const int kScenariosPerShard = 50;
// The shard on a real socket takes real time for every wait: fewer
// scenarios, with seeds of their own.
const int kRealScenarios = 10;
// A shard gives up (and fails) when its scenarios take longer than this.
const int kShardBudgetS = 280;

uint32_t Mix(uint32_t x) {
  x += 0x9E3779B9u;
  x = (x ^ (x >> 16)) * 0x85EBCA6Bu;
  x = (x ^ (x >> 13)) * 0xC2B2AE35u;
  return x ^ (x >> 16);
}

// The scenario's own draws (level, profile, locks), apart from the board's.
struct Draw {
  uint32_t state;
  uint32_t Next() { return state = Mix(state); }
  int Below(int n) {
    return static_cast<int>(Next() % static_cast<uint32_t>(n));
  }
};

// What the outputs must be for a level of `count`, worked out here on its
// own: the volts rounded to thousandths, Maximum above 1.18 V, Minimum
// below 0.21000000000000002 V, each only while its function is released.
bool MaximumOn(int count, bool released) {
  const double v = std::round(count * 0.0048828 * 1000) / 1000;
  return v > 1.18 && released;
}
bool MinimumOn(int count, bool released) {
  const double v = std::round(count * 0.0048828 * 1000) / 1000;
  return v < 0.21000000000000002 && released;
}

struct Scenario {
  uint32_t seed;
  int count;            // the well's level, sensor counts
  std::string profile;  // whole, lines or faults
  bool maximumReleased, minimumReleased;

  static Scenario From(uint32_t seed) {
    Draw d{seed};
    Scenario s;
    s.seed = seed;
    const int where = d.Below(20);
    if (where < 7)
      s.count = 41 + d.Below(5);  // at the Minimum threshold (43 | 44)
    else if (where < 14)
      s.count = 240 + d.Below(5);  // at the Maximum threshold (241 | 242)
    else
      s.count = d.Below(1024);
    const int kind = d.Below(10);
    s.profile = kind < 2 ? "whole" : kind < 4 ? "lines" : "faults";
    s.maximumReleased = d.Below(8) != 0;
    s.minimumReleased = d.Below(8) != 0;
    return s;
  }
  bool Healthy() const { return profile != "faults"; }
  std::string Describe() const {
    std::ostringstream out;
    out << "scenario seed " << seed << " (KVX_GUARD_SEED=" << seed
        << "): level " << count << " counts, profile " << profile
        << ", Maximum " << (maximumReleased ? "released" : "locked")
        << ", Minimum " << (minimumReleased ? "released" : "locked");
    return out.str();
  }
};

// A level command as the board received it.
struct Received {
  std::string command;
  int scenario;
  double level;  // the board's level when it arrived
};

class GuardSocket : public HandlerTest,
                    public ::testing::WithParamInterface<int> {
 protected:
  void SetUp() override {
    HandlerTest::SetUp();
    Sim.SetOutput(3, true);  // the sensor powered: analog 1 reads the level
    // The mark that ends a scenario: no reply, so the program never sees
    // it; the board takes it only after every command before it.
    Sim.SetReply("KVXMARK", "");
    Sim.SetCommandListener([this](const kvxsim::CommandRecord& c) {
      if (c.keyword == "KVXMARK") {
        marks_.fetch_add(1);
        return;
      }
      if (c.text.rfind("setport 4.", 0) != 0 &&
          c.text.rfind("setport 5.", 0) != 0)
        return;
      std::lock_guard<std::mutex> lk(mu_);
      received_.push_back({c.text, scenario_.load(), Sim.Level()});
    });
  }
  void TearDown() override {
    Sim.SetCommandListener(nullptr);
    HandlerTest::TearDown();
  }

  // As the main loop does after a loss: a new connection, a few attempts.
  bool Connect() {
    for (int attempt = 0; attempt < 5 && !BoardConnected(); ++attempt)
      Reconnect();
    return BoardConnected();
  }

  // Runs one scenario; failures name its seed.
  void Run(int index, const Scenario& s) {
    Sim.SetRandomReplies(kvxsim::RandomReplies());  // off while setting up
    Sim.ClearLog();
    Sim.SetLevel(s.count);
    scenario_ = index;
    kvxsim::RandomReplies r;
    ASSERT_TRUE(kvxsim::RandomProfile(s.profile, &r));
    r.seed = Mix(s.seed ^ 0x5EEDu);
    Sim.SetRandomReplies(r);
    ASSERT_TRUE(Connect()) << "no connection to the board; " << s.Describe();
    AppState.Switching.MaximumEnabled = s.maximumReleased;
    AppState.Switching.MinimumEnabled = s.minimumReleased;
    const uint64_t connections = Sim.ConnectionCount();

    SensorAsWarmedUp();

    EvaluateLevel();

    const bool lost = !BoardConnected();
    if (lost) ++losses_;
    // Everything the program sent has reached the board once the board
    // has taken a mark sent after it (on a new connection after a loss:
    // the board serves one connection at a time).
    ASSERT_TRUE(Connect()) << "no connection to the board; " << s.Describe();
    const int marks = marks_.load();
    ASSERT_TRUE(SendCommand("kvxmark"));
    ASSERT_TRUE(Sim.WaitFor([&] { return marks_.load() > marks; }, 20000))
        << "the board never took the mark; " << s.Describe();
    Check(index, s, lost || Sim.ConnectionCount() != connections);
  }

  void Check(int index, const Scenario& s, bool lost) {
    std::vector<Received> mine;
    {
      std::lock_guard<std::mutex> lk(mu_);
      for (const Received& r : received_)
        if (r.scenario == index) mine.push_back(r);
    }
    int fives = 0, fours = 0;
    for (const Received& r : mine) {
      const bool on = r.command.back() == '1';
      const int held = static_cast<int>(std::lround(r.level));
      bool right;
      if (r.command[8] == '5') {
        ++fives;
        right = on == MaximumOn(held, s.maximumReleased);
      } else {
        ++fours;
        right = on == MinimumOn(held, s.minimumReleased);
      }
      EXPECT_TRUE(right) << "WRONG \"" << r.command << "\" with the level at "
                         << held << " counts; " << s.Describe() << "\n"
                         << Exchanges();
    }
    EXPECT_LE(fives, 1) << s.Describe();
    EXPECT_LE(fours, 1) << s.Describe();
    if (s.Healthy()) {
      EXPECT_FALSE(lost) << "connection lost on a healthy board; "
                         << s.Describe();
      EXPECT_TRUE(fives == 1 && fours == 1)
          << "a healthy board got " << fives << " setport 5 and " << fours
          << " setport 4; " << s.Describe() << "\n"
          << Exchanges();
    }
  }

  // The scenario's commands and the replies the board sent, for a failure.
  std::string Exchanges() {
    std::string out =
        "the board's side (command => reply as sent; [pieces +wait ms:bytes] "
        "when not whole at once):\n";
    int n = 0;
    for (const kvxsim::CommandRecord& c : Sim.Commands()) {
      if (++n > 80) return out + "  ...\n";
      out += "  " + kvxsim::EscapeBytes(c.text) + " => " +
             kvxsim::EscapeBytes(c.reply) +
             (c.pieces.empty() ? "" : "   [pieces " + c.pieces + "]") + "\n";
    }
    return out;
  }

  // The scenarios of shard `shard` (seeds of its own), `scenarios` of them.
  void RunShard(int shard, int scenarios);

  std::mutex mu_;
  std::vector<Received> received_;
  std::atomic<int> scenario_{-1};
  std::atomic<int> marks_{0};
  int losses_ = 0;
};

class RealGuardSocket : public GuardSocket {
 protected:
  RealGuardSocket() { RealSocket = true; }
};

TEST_P(GuardSocket, LevelCommandsFollowTheBoardsLevel) {
  RunShard(GetParam(), kScenariosPerShard);
}

TEST_P(RealGuardSocket, LevelCommandsFollowTheBoardsLevel) {
  RunShard(kShards + GetParam(), kRealScenarios);
}

void GuardSocket::RunShard(int shard, int scenarios) {
  const char* only = std::getenv("KVX_GUARD_SEED");
  if (only && *only) {
    if (shard != 0) return;
    Run(0,
        Scenario::From(static_cast<uint32_t>(std::strtoul(only, nullptr, 0))));
    return;
  }
  const Clock::time_point start = Clock::now();
  int healthy = 0, run = 0;
  for (int i = 0; i < scenarios; ++i) {
    if (Clock::now() - start > std::chrono::seconds(kShardBudgetS)) {
      ADD_FAILURE() << "shard " << shard << " ran out of time after " << run
                    << " scenarios";
      break;
    }
    const Scenario s = Scenario::From(
        Mix(kBaseSeed + static_cast<uint32_t>(shard * 1000 + i)));
    healthy += s.Healthy();
    Run(i, s);
    ++run;
    if (HasFatalFailure()) break;
  }
  const double seconds =
      std::chrono::duration<double>(Clock::now() - start).count();
  std::printf(
      "shard %d: %d scenarios (%d healthy), %d connections lost, "
      "%.1f s\n",
      shard, run, healthy, losses_, seconds);
}

INSTANTIATE_TEST_SUITE_P(Shards, GuardSocket, ::testing::Range(0, kShards));
INSTANTIATE_TEST_SUITE_P(RealShard, RealGuardSocket, ::testing::Range(0, 1));

}  // namespace
