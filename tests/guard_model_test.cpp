// The guard of the well against the model board: scenarios of measurement
// cycles in which every "setport 4.x" and "setport 5.x" must agree with the
// well's true level. Its own executable (tests named "guard."), as its
// scenarios run the whole measurement many thousand times.

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "tests/guard/board_model.h"
#include "tests/guard/guard_scenario.h"

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

// Runs `count` scenarios from seed `first` on (KVX_GUARD_SCENARIOS=N
// runs N times as many, for a long run); fails with the first few wrong
// ones, their seeds and the end of their traces.
void RunMany(Profile profile, uint64_t first, int count) {
  if (const char* times = getenv("KVX_GUARD_SCENARIOS"))
    if (atoi(times) > 1) count *= atoi(times);
  int failed = 0;
  long evaluations = 0, switches = 0, losses = 0;
  for (uint64_t seed = first; seed < first + (uint64_t)count; seed++) {
    Outcome out = guard::RunScenario(seed, profile);
    evaluations += out.Evaluations;
    switches += out.Switches;
    losses += out.Losses;
    if (out.Ok) continue;
    if (++failed <= 3)
      ADD_FAILURE() << out.Failure << "\n" << guard::TraceTail(out.Trace, 80);
  }
  EXPECT_EQ(failed, 0) << "scenarios with a wrong or missing decision";
  // The scenarios did decide: the oracle had something to check. On the
  // faulty board most queries meet a fault (a reply in pieces too far
  // apart, a line too many, garbage) and decide nothing; still a good part
  // of the evaluations switch, each with two commands.
  EXPECT_GT(switches * 10, evaluations);
  ::testing::Test::RecordProperty("evaluations", (int)evaluations);
  ::testing::Test::RecordProperty("losses", (int)losses);
}

TEST(GuardOracle, FaultyBoardNeverGetsAWrongLevelCommand) {
  RunMany(Profile::Faulty, 1, 2000);
}

TEST(GuardOracle, HealthyBoardWithWholeRepliesGetsBothCommandsEveryTime) {
  RunMany(Profile::WholeReplies, 100001, 200);
}

TEST(GuardOracle, HealthyBoardWritingLineByLineGetsBothCommandsEveryTime) {
  RunMany(Profile::LineByLine, 200001, 200);
}

}  // namespace
