// Soak: the whole program over the driven clock against the simulated
// board, for 1,000 board queries at the 1-second refresh and 10 full
// measurement cycles at the shortest cycle period. Whatever the program
// holds must not grow: its memory blocks, its open file descriptors and the
// heap in use are the same after the run as before it.
//
// The board runs on the driven clock too, so the run takes a fraction of a
// second. A shorter run against the board on a real loopback socket
// (RealSoak.*) holds the real sockets to the same account. The tests are
// named Soak.* and RealSoak.*, so that a quick run can leave them out
// (ctest -E 'Soak\.') and a nightly one can run them alone (ctest -R
// 'Soak\.').
#include <dirent.h>
#include <malloc.h>

#include <atomic>
#include <cstdio>
#include <string>

#include "tests/program_fixture.h"
#include "ui/control_numbers.h"

namespace {

class Soak : public BoardTest {
 protected:
  // The run: `kQueries` queries and `kCycles` full cycles between the two
  // readings.
  void RunSoak(int kQueries, int kCycles);
};

class RealSoak : public Soak {
 protected:
  RealSoak() { RealSocket = true; }
};
// Heap in use may differ by a few texts of other lengths (a label's digits)
// and by the allocator's bookkeeping; a leak of eight bytes per query
// exceeds this.
const size_t kHeapTolerance = 8 * 1024;

int OpenFileDescriptors() {
  DIR* d = opendir("/proc/self/fd");
  if (!d) return -1;
  int n = 0;
  while (dirent* e = readdir(d))
    if (e->d_name[0] != '.') n++;
  closedir(d);
  return n - 1;  // the directory's own descriptor
}

struct Usage {
  int blocks;
  int fds;
  size_t heap;
};

Usage Measure() {
  return Usage{HeadlessLiveMemoryBlocks(), OpenFileDescriptors(),
               mallinfo2().uordblks};
}

std::string Show(const Usage& u) {
  return std::to_string(u.blocks) + " blocks, " + std::to_string(u.fds) +
         " descriptors, " + std::to_string(u.heap) + " bytes of heap";
}

}  // namespace

TEST_F(Soak, AThousandQueriesAndTenCyclesLeaveNothingBehind) {
  RunSoak(1000, 10);
}

TEST_F(RealSoak, TwoHundredQueriesAndTwoCyclesOnASocketLeaveNothingBehind) {
  RunSoak(200, 2);
}

void Soak::RunSoak(const int kQueries, const int kCycles) {
  // Counted on the board's side: a query begins with "Help"; a full cycle
  // is three level evaluations (each commands output 5) and then the end
  // of the cycle ("setport 3.0"), which also comes every five ticks while
  // the measurement is off and is not counted then.
  std::atomic<int> queries{0}, cycles{0};
  int evaluations = 0;  // on the simulator's thread only
  Sim.SetCommandListener([&](const kvxsim::CommandRecord& c) {
    if (c.text == "Help") queries++;
    if (c.text.rfind("setport 5.", 0) == 0) evaluations++;
    if (c.text == "setport 3.0") {
      if (evaluations >= 3) cycles++;
      evaluations = 0;
    }
  });

  const int fdsBeforeStart = OpenFileDescriptors();
  enum Step {
    WarmQueries,
    LockMeasurement,
    ShortenCycle,
    WarmCycles,
    SettleOff,
    Cycles,
    Queries,
    Done
  };
  Step step = WarmQueries;
  int mark = 0;  // queries or cycles at the start of a step
  int q0 = 0, c0 = 0;
  Usage before{}, after{};
  bool clicksRefused = false;
  auto click = [&](int control) {
    if (!HeadlessPostClick(control)) clicksRefused = true;
  };

  RunProgram(
      [&](int) {
        // The board's log stays short, so that its own memory does not
        // grow between the two measurements.
        if (Sim.CommandCount() > 500) Sim.ClearLog();
        switch (step) {
          case WarmQueries:  // queries at the default period
            if (queries < 20) break;
            click(ButtonMeasurementOff);
            step = LockMeasurement;
            break;
          case LockMeasurement:  // the period follows the trackbar now
            HeadlessMoveTrackbar(TrackbarCycle, 0);
            step = ShortenCycle;
            break;
          case ShortenCycle:
            if (AppState.Measurement.CyclePeriod != 0) break;
            click(ButtonMeasurementOn);
            mark = cycles;
            step = WarmCycles;
            break;
          case WarmCycles:
            if (cycles - mark < 2) break;
            click(ButtonMeasurementOff);
            mark = queries;
            step = SettleOff;
            break;
          case SettleOff:
            if (queries - mark < 20) break;
            Sim.ClearLog();
            before = Measure();
            q0 = queries;
            c0 = cycles;
            click(ButtonMeasurementOn);
            step = Cycles;
            break;
          case Cycles:
            if (cycles - c0 < kCycles) break;
            click(ButtonMeasurementOff);
            step = Queries;
            break;
          case Queries:
            if (queries - q0 < kQueries) break;
            Sim.ClearLog();
            after = Measure();
            click(ButtonQuit);
            step = Done;
            break;
          case Done:
            break;
        }
      },
      400000);

  ASSERT_EQ(step, Done) << "the run ended early: " << queries << " queries, "
                        << cycles << " cycles";
  EXPECT_FALSE(clicksRefused);
  EXPECT_GE(queries - q0, kQueries);
  EXPECT_GE(cycles - c0, kCycles);
  fprintf(stderr, "[ soak     ] %d queries, %d full cycles\n", queries - q0,
          cycles - c0);
  fprintf(stderr, "[ soak     ] before: %s\n", Show(before).c_str());
  fprintf(stderr, "[ soak     ] after:  %s\n", Show(after).c_str());

  EXPECT_EQ(after.blocks, before.blocks);
  EXPECT_EQ(after.fds, before.fds);
  EXPECT_LE(after.heap, before.heap + kHeapTolerance)
      << "the heap in use grew by " << (after.heap - before.heap) << " bytes";

  // At the end everything is given back: no block, and only the
  // descriptors that were open before the start (once the board has seen
  // the connection close).
  EXPECT_EQ(HeadlessLiveMemoryBlocks(), 0);
  EXPECT_TRUE(Sim.WaitFor([&] { return !Sim.Connected(); }, 5000));
  EXPECT_EQ(OpenFileDescriptors(), fdsBeforeStart);
}
