// Figures of the program against a slow board and a board that comes back:
//
//   kvx-slow-board [--seconds S] [--returns N] [--delays D,D,...]
//                  [--count N] [--queries-only]
//
// 1. The wall time of one board query against the simulator (on a thread
//    of this process) answering every reply at once, 100 ms, 250 ms and
//    700 ms late (or at the --delays given); of one query a level decision
//    rides on (PollBoardProven); and of one evaluation of the level (that
//    query, setport 5.x, that query again, setport 4.x, and the query that
//    shows the outputs). --count sets how many of each are timed (default
//    200 at once, 10 at 100 and 250 ms, 3 at 700 ms; evaluations a
//    twentieth of that, at least 2). --queries-only ends after the queries.
// 2. The share of time the window cannot take a click: the program runs
//    over the headless platform held in step with real time for S seconds
//    (default 30) at each delay, with the 1-second refresh, and the time
//    outside the event wait is summed (while the program waits for the
//    board the windows are served, but clicks wait).
// 3. The time from the board listening again to current displays: the
//    board stops listening, and N times (default 5) starts again at a
//    different moment of the program's 5-second reconnect interval; the
//    time until label 63 shows the board's new value is taken.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "app/startup.h"
#include "base/state.h"
#include "board/link.h"
#include "board/poll.h"
#include "control/measurement.h"
#include "platform/headless/headless.h"
#include "simulator/simulator.h"
#include "tests/support/program_start.h"
#include "ui/board_view.h"
#include "ui/control_numbers.h"
#include "ui/main_window.h"

namespace {

using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point t) {
  return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

std::string Shown(int number) {
  const HeadlessControl* c = HeadlessFindControl(number);
  return c ? c->Content : "";
}

// Holds the driven clock in step with real time: the waits and sleeps take
// their time in real time (HeadlessSetRealTimeWaits), and the time the
// program spends working or waiting for the board is added to the clock at
// every wait and whenever it serves its windows, as the system's tick count
// goes on meanwhile.
struct RealTime {
  Clock::time_point start = Clock::now();
  uint32_t ticks = PlatTickCount();
  void CatchUp() {
    long real = (long)MsSince(start);
    long driven = (long)(PlatTickCount() - ticks);
    if (real > driven) HeadlessAdvanceClock((int)(real - driven));
  }
  void Sync() { CatchUp(); }
};

// Mean wall time of one board query; `proven`: the query a level decision
// rides on (the link proven quiet after it). `first`: the wall time of the
// connection's first query, from the connection opened.
double QueryMs(kvxsim::Simulator& sim, int delay, int queries, bool proven,
               double* first) {
  StartFresh(sim.Port());
  sim.SetReplyDelay(delay);
  Clock::time_point opened = Clock::now();
  StartLink();
  PollBoard();  // the first one outside the measurement
  ShowBoard();
  *first = MsSince(opened);
  Clock::time_point t = Clock::now();
  for (int i = 0; i < queries; i++) {
    if (proven)
      PollBoardForDecision();
    else
      PollBoard();
    ShowBoard();
  }
  double ms = MsSince(t) / queries;
  bool kept = BoardConnected();
  CloseConnection();
  ReleaseFacilities();
  sim.SetReplyDelay(0);
  if (!kept) fprintf(stderr, "the connection was lost at %d ms\n", delay);
  return ms;
}

// Mean wall time of one evaluation of the level, the measurement released
// with both level outputs; -1 when one of them could not decide.
double EvaluationMs(kvxsim::Simulator& sim, int delay, int evaluations) {
  StartFresh(sim.Port());
  StartLink();
  AppState.Switching.MeasurementEnabled = 1;
  AppState.Switching.MinimumEnabled = 1;
  AppState.Switching.MaximumEnabled = 1;
  sim.SetReplyDelay(delay);
  PollBoard();  // the first one outside the measurement
  ShowBoard();
  bool decided = true;
  Clock::time_point t = Clock::now();
  sim.SetOutput(3, true);  // the sensor powered, as after its warm-up
  for (int i = 0; i < evaluations; i++) {
    SensorAsWarmedUp();
    EvaluateLevel();
    decided = decided && AppState.Measurement.DoubtedEvaluations == 0;
  }
  double ms = MsSince(t) / evaluations;
  bool kept = BoardConnected();
  CloseConnection();
  ReleaseFacilities();
  sim.SetReplyDelay(0);
  if (!kept) fprintf(stderr, "the connection was lost at %d ms\n", delay);
  return decided && kept ? ms : -1;
}

// Share of `seconds` of real time the program spends outside its event
// wait, with the 1-second refresh and no measurement cycle in the stretch.
double BusyShare(kvxsim::Simulator& sim, int delay, int seconds,
                 double* queries) {
  HeadlessReset();
  HeadlessSetRealTimeWaits(true);
  HeadlessSetBoardPort(sim.Port());
  sim.SetReplyDelay(delay);
  RealTime clock;
  bool started = false;
  Clock::time_point begin;
  long waitedBefore = 0, waited = 0;
  double total = 0;
  uint64_t commandsBefore = 0;
  HeadlessSetWaitLimit(0);
  HeadlessSetServeHook([&] { clock.CatchUp(); });
  HeadlessSetWaitHook([&] {
    if (!started) {
      started = true;
      begin = Clock::now();
      waitedBefore = HeadlessRealTimeWaited();
      commandsBefore = sim.CommandCount();
    }
    if (total == 0 && MsSince(begin) >= seconds * 1000.0) {
      total = MsSince(begin);
      waited = HeadlessRealTimeWaited() - waitedBefore;
      HeadlessPostClick(ButtonQuit);
    }
    clock.Sync();
  });
  ProgramMain();
  HeadlessSetWaitHook(nullptr);
  HeadlessSetServeHook(nullptr);
  sim.SetReplyDelay(0);
  *queries = (double)(sim.CommandCount() - commandsBefore) / 14;
  return total > 0 ? 1.0 - waited / total : -1;
}

// Real ms from the board listening again to the new value on label 63;
// the board listens again `offsetMs` after the program found it gone.
double BackAfter(kvxsim::Simulator& sim, int offsetMs, int value) {
  HeadlessReset();
  HeadlessSetRealTimeWaits(true);
  HeadlessSetBoardPort(sim.Port());
  sim.SetAnalog(2, 100);
  RealTime clock;
  enum { Warm, Gone, Listening, Done } phase = Warm;
  Clock::time_point lost, listening;
  double ms = -1;
  HeadlessSetWaitLimit(0);
  HeadlessSetServeHook([&] { clock.CatchUp(); });
  HeadlessSetWaitHook([&] {
    switch (phase) {
      case Warm:
        if (Shown(LabelAnalogValue1 + 1) == "0,48") {
          sim.SetListening(false);
          sim.SetAnalog(2, value);
          phase = Gone;
        }
        break;
      case Gone:
        if (AppState.Link.ConnectionLost && lost == Clock::time_point())
          lost = Clock::now();
        if (lost != Clock::time_point() && MsSince(lost) >= offsetMs) {
          sim.SetListening(true);
          listening = Clock::now();
          phase = Listening;
        }
        break;
      case Listening:
        if (Shown(LabelAnalogValue1 + 1) != "--.--" &&
            Shown(LabelAnalogValue1 + 1) != "0,48") {
          ms = MsSince(listening);
          phase = Done;
          HeadlessPostClick(ButtonQuit);
        }
        break;
      case Done:
        break;
    }
    clock.Sync();
  });
  ProgramMain();
  HeadlessSetWaitHook(nullptr);
  HeadlessSetServeHook(nullptr);
  return ms;
}

}  // namespace

int main(int argc, char** argv) {
  int seconds = 30, returns = 5, count = 0;
  bool queriesOnly = false;
  std::vector<int> delays = {0, 100, 250, 700};
  for (int i = 1; i < argc; i++) {
    const char* value = i + 1 < argc ? argv[i + 1] : "";
    if (!strcmp(argv[i], "--queries-only")) {
      queriesOnly = true;
      continue;
    }
    if (!strcmp(argv[i], "--seconds")) seconds = atoi(value);
    if (!strcmp(argv[i], "--returns")) returns = atoi(value);
    if (!strcmp(argv[i], "--count")) count = atoi(value);
    if (!strcmp(argv[i], "--delays")) {
      delays.clear();
      char* end = nullptr;
      for (const char* p = value; *p; p = *end == ',' ? end + 1 : end) {
        delays.push_back((int)strtol(p, &end, 10));
        if (end == p) break;
      }
    }
    i++;
  }
  kvxsim::Simulator sim;
  if (!sim.Start(0)) {
    fprintf(stderr, "the board simulator did not start\n");
    return 1;
  }
  sim.SetRates(0, 0);
  for (int delay : delays) {
    int queries = count > 0 ? count : delay == 0 ? 200 : delay < 500 ? 10 : 3;
    int evaluations = std::max(queries / 20, 2);
    double first = 0;
    printf("query_ms delay=%d queries=%d mean=%.2f\n", delay, queries,
           QueryMs(sim, delay, queries, false, &first));
    printf("first_query_ms delay=%d ms=%.2f\n", delay, first);
    printf("proven_query_ms delay=%d queries=%d mean=%.2f\n", delay, queries,
           QueryMs(sim, delay, queries, true, &first));
    printf("evaluation_ms delay=%d evaluations=%d mean=%.2f\n", delay,
           evaluations, EvaluationMs(sim, delay, evaluations));
    fflush(stdout);
  }
  if (queriesOnly) {
    sim.Stop();
    return 0;
  }
  for (int delay : delays) {
    double queries = 0;
    double share = BusyShare(sim, delay, seconds, &queries);
    printf("busy_share delay=%d seconds=%d share=%.4f queries=%.1f\n", delay,
           seconds, share, queries);
    fflush(stdout);
  }
  std::vector<double> back;
  for (int i = 0; i < returns; i++) {
    int offset =
        500 + i * (ReconnectInterval - 1000) / std::max(returns - 1, 1);
    double ms = BackAfter(sim, offset, 200 + i * 100);
    printf("back_ms listening_again_after=%d ms=%.0f\n", offset, ms);
    fflush(stdout);
    back.push_back(ms);
  }
  std::sort(back.begin(), back.end());
  double sum = 0;
  for (double ms : back) sum += ms;
  if (!back.empty())
    printf("back_ms min=%.0f mean=%.0f max=%.0f\n", back.front(),
           sum / back.size(), back.back());
  sim.Stop();
  return 0;
}
