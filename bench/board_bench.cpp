// Benchmarks of the board link, each beside its baseline, against the board
// simulator on an ephemeral loopback port. The simulator runs in a child
// process of its own (the default), or with --board=thread on a thread of
// this process; the benchmarks reach its log through its control channel.
//
//   BM_PollBoard      one board query of the program (14 exchanges and the
//                     redraw of the main window's labels)
//   BM_BareQuery      the same 14 commands, byte for byte, each followed by
//                     one receive, by a bare client on plain POSIX sockets
//   BM_PollBoardProven one query a level decision rides on (the link proven
//                     quiet before it when in doubt and after it), and the
//                     redraw
//   BM_Evaluation     one evaluation of the level: the query a decision
//                     rides on, setport 5.x, the same query again, setport
//                     4.x and the query that shows the outputs
//   BM_ProgramMinute  the whole program (main loop, window timer, queries at
//                     the 1-second refresh) over one minute of the driven
//                     clock; the clock jumps over the waits, so the time is
//                     the program's work in that minute, not 60 s
//   BM_BareMinute     as many bare queries as the program made in its minute
//   BM_HistoryPicture the history window's picture of a full history
//                     (10,000 evaluations) built anew, as after every
//                     evaluation or resize while the window is open; the
//                     steps only, not their painting
//
// The CPU column is the CPU time of the benchmark's own thread, that is of
// the program or the bare client, without the simulator.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "app/startup.h"
#include "base/state.h"
#include "board/link.h"
#include "board/poll.h"
#include "board/query_table.h"
#include "control/history.h"
#include "control/measurement.h"
#include "platform/headless/headless.h"
#include "simulator/simulator.h"
#include "tests/support/board_query.h"
#include "tests/support/program_start.h"
#include "ui/board_view.h"
#include "ui/control_numbers.h"
#include "ui/history_chart.h"
#include "ui/main_window.h"

namespace {

const int kQuerySteps = BoardQueryLength;

// Queries of the program in one minute at the 1-second refresh (measured by
// BM_ProgramMinute, counter "queries").
const int kQueriesPerMinute = 60;

// ---------------------------------------------------------------------------
// The board
// ---------------------------------------------------------------------------

// What the benchmarks need of the simulated board.
class BoardLink {
 public:
  virtual ~BoardLink() = default;
  virtual uint16_t Port() = 0;
  virtual void ClearLog() = 0;
  virtual uint64_t CommandCount() = 0;
  virtual uint64_t ConnectionCount() = 0;
  virtual bool WaitForConnection(uint64_t count, int timeoutMs) = 0;
  virtual bool WaitForCommands(uint64_t count, int timeoutMs) = 0;
  // Every command since the log was cleared, its raw bytes escaped
  // (kvxsim::EscapeBytes).
  virtual std::vector<std::string> EscapedCommands() = 0;
};

// The simulator on a thread of this process.
class ThreadBoard : public BoardLink {
 public:
  bool Start() {
    if (!sim_.Start(0, "127.0.0.1")) return false;
    sim_.SetRates(0, 0);
    sim_.SetLevel(150);
    sim_.SetOutput(3, true);  // the sensor powered: the level reads
    return true;
  }
  uint16_t Port() override { return sim_.Port(); }
  void ClearLog() override { sim_.ClearLog(); }
  uint64_t CommandCount() override { return sim_.CommandCount(); }
  uint64_t ConnectionCount() override { return sim_.ConnectionCount(); }
  bool WaitForConnection(uint64_t count, int timeoutMs) override {
    return sim_.WaitForConnection(count, timeoutMs);
  }
  bool WaitForCommands(uint64_t count, int timeoutMs) override {
    return sim_.WaitForCommands(count, timeoutMs);
  }
  std::vector<std::string> EscapedCommands() override {
    std::vector<std::string> out;
    for (const kvxsim::CommandRecord& c : sim_.Commands())
      out.push_back(kvxsim::EscapeBytes(c.raw));
    return out;
  }

 private:
  kvxsim::Simulator sim_;
};

// The simulator in a child process, reached through its control channel.
// The child ends when this process closes its end of a pipe (or dies).
class ProcessBoard : public BoardLink {
 public:
  // Call before any thread is started.
  bool Start() {
    int ports[2], alive[2];
    if (pipe(ports) != 0 || pipe(alive) != 0) return false;
    pid_t child = fork();
    if (child < 0) return false;
    if (child == 0) {
      prctl(PR_SET_PDEATHSIG, SIGTERM);
      close(ports[0]);
      close(alive[1]);
      kvxsim::Simulator sim;
      uint16_t p[2] = {0, 0};
      if (sim.Start(0, "127.0.0.1") && sim.StartControl(0, "127.0.0.1")) {
        sim.SetRates(0, 0);
        sim.SetLevel(150);
        sim.SetOutput(3, true);  // the sensor powered: the level reads
        p[0] = sim.Port();
        p[1] = sim.ControlPort();
      }
      if (write(ports[1], p, sizeof p) != (ssize_t)sizeof p) _exit(1);
      char c;
      while (read(alive[0], &c, 1) > 0) {
      }
      sim.Stop();
      _exit(0);
    }
    close(ports[1]);
    close(alive[0]);
    alive_ = alive[1];
    child_ = child;
    uint16_t p[2] = {0, 0};
    bool ok = read(ports[0], p, sizeof p) == (ssize_t)sizeof p && p[0] && p[1];
    close(ports[0]);
    port_ = p[0];
    controlPort_ = p[1];
    return ok;
  }
  // A simulator program already running (korvalinex-sim --port-file).
  void Attach(uint16_t port, uint16_t controlPort) {
    port_ = port;
    controlPort_ = controlPort;
  }
  ~ProcessBoard() override {
    if (alive_ >= 0) close(alive_);
    if (child_ > 0) waitpid(child_, nullptr, 0);
  }
  uint16_t Port() override { return port_; }
  void ClearLog() override { Ask("clearlog"); }
  uint64_t CommandCount() override {
    return strtoull(Ask("count").c_str(), nullptr, 10);
  }
  uint64_t ConnectionCount() override {
    std::string status = Ask("status");
    size_t at = status.find("connections=");
    return at == std::string::npos ? 0
                                   : strtoull(&status[at + 12], nullptr, 10);
  }
  bool WaitForConnection(uint64_t count, int timeoutMs) override {
    return Ask("waitconnect " + std::to_string(count) + " " +
               std::to_string(timeoutMs)) == "OK\n";
  }
  bool WaitForCommands(uint64_t count, int timeoutMs) override {
    return Ask("wait " + std::to_string(count) + " " +
               std::to_string(timeoutMs)) == "OK\n";
  }
  std::vector<std::string> EscapedCommands() override {
    // "<ms> <kind> <escaped raw>" per line, then END.
    std::vector<std::string> out;
    std::string all = Ask("log", true), line;
    size_t start = 0, end;
    while ((end = all.find('\n', start)) != std::string::npos) {
      line = all.substr(start, end - start);
      start = end + 1;
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (line == "END") break;
      size_t first = line.find(' ');
      size_t second =
          first == std::string::npos ? first : line.find(' ', first + 1);
      if (second != std::string::npos) out.push_back(line.substr(second + 1));
    }
    return out;
  }

 private:
  // One control command on a connection of its own; the reply up to its
  // line end, or up to the line END.
  std::string Ask(const std::string& command, bool untilEnd = false) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    to.sin_port = htons(controlPort_);
    std::string reply;
    if (fd >= 0 && connect(fd, (const sockaddr*)&to, sizeof to) == 0) {
      std::string line = command + "\n";
      send(fd, line.data(), line.size(), MSG_NOSIGNAL);
      char buffer[65536];
      for (;;) {
        ssize_t n = recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) break;
        reply.append(buffer, (size_t)n);
        if (!untilEnd && reply.find('\n') != std::string::npos) break;
        if (untilEnd && (reply.rfind("END\n") != std::string::npos ||
                         reply.rfind("END\r\n") != std::string::npos))
          break;
      }
    }
    if (fd >= 0) close(fd);
    return reply;
  }

  pid_t child_ = -1;
  int alive_ = -1;
  uint16_t port_ = 0, controlPort_ = 0;
};

// One board for every benchmark; its connections come one after another.
std::unique_ptr<BoardLink> TheBoard;
BoardLink& Board() { return *TheBoard; }

// Every command's bytes on the wire: keyword and the five-byte suffix.
std::vector<std::string> QueryWire() {
  std::vector<std::string> wire;
  for (const QueryExchange& s : BoardQuery)
    wire.push_back(std::string(s.Keyword) + " \\r\\n");
  return wire;
}

// ---------------------------------------------------------------------------
// The program's side
// ---------------------------------------------------------------------------

// Start-up without the connection notice: defaults, networking, the
// connection and the main window, the three functions on as after the
// loop's entry.
bool OpenProgramLink(std::string* error) {
  BoardLink& sim = Board();
  StartFresh(sim.Port());
  uint64_t connections = sim.ConnectionCount();
  *error = StartLink();
  if (!error->empty()) return false;
  AppState.Switching.MeasurementEnabled = 1;
  AppState.Switching.MinimumEnabled = 1;
  AppState.Switching.MaximumEnabled = 1;
  AppState.Measurement.CyclePeriod = 360;
  if (!sim.WaitForConnection(connections + 1, 5000))
    return *error = "the board saw no connection", false;
  return true;
}

void CloseProgramLink() {
  CloseConnection();
  ReleaseFacilities();
}

// True when the board received exactly the commands of `queries` board
// queries since the log was cleared, in order.
bool BoardSawQueries(int64_t queries, std::string* error) {
  BoardLink& sim = Board();
  uint64_t want = (uint64_t)(queries * kQuerySteps);
  if (!sim.WaitForCommands(want, 5000) || sim.CommandCount() != want) {
    *error = "the board saw " + std::to_string(sim.CommandCount()) +
             " commands, not " + std::to_string(want);
    return false;
  }
  return true;
}

// True when the first `count` commands since the log was cleared are those
// of board queries, in order.
bool BoardSawQueryCommands(size_t count, std::string* error) {
  std::vector<std::string> log = Board().EscapedCommands();
  if (log.size() < count) {
    *error = "the board's log is short";
    return false;
  }
  for (size_t i = 0; i < count; i++) {
    std::string want = kvxsim::EscapeBytes(
        QueryCommands[i % QueryCommands.size()] + " \\r\\n");
    if (log[i] != want) {
      *error = "unexpected command " + log[i] + " instead of " + want;
      return false;
    }
  }
  return true;
}

// The program's link opened and its first query made (which learns the
// board's replies), outside the timing; false, the benchmark skipped, when
// either failed.
bool OpenLinkAndQueryOnce(benchmark::State& state) {
  std::string error;
  Board().ClearLog();
  bool ok = OpenProgramLink(&error);
  if (ok) {
    PollBoard();
    ShowBoard();
    ok = BoardSawQueryCommands(kQuerySteps, &error);
  }
  if (!ok) {
    state.SkipWithError(error.c_str());
    CloseProgramLink();
    return false;
  }
  Board().ClearLog();
  return true;
}

void BM_PollBoard(benchmark::State& state) {
  if (!OpenLinkAndQueryOnce(state)) return;
  std::string error;
  for (auto _ : state) {
    PollBoard();
    ShowBoard();
  }
  bool kept = BoardConnected();
  CloseProgramLink();
  if (!kept) state.SkipWithError("the connection was lost");
  if (!BoardSawQueries((int64_t)state.iterations(), &error))
    state.SkipWithError(error.c_str());
  state.counters["exchanges"] = benchmark::Counter(
      (double)state.iterations() * kQuerySteps, benchmark::Counter::kIsRate);
}

// The commands of one evaluation: two queries a decision rides on, each
// followed by its setport, then the query that shows the outputs.
const int kEvaluationSteps = 3 * kQuerySteps + 2;

// One of the program's link operations (the first one outside the timing,
// so that the connection has made its first query), `steps` commands each.
template <typename Operation>
void TimeProgram(benchmark::State& state, int steps, Operation operation) {
  if (!OpenLinkAndQueryOnce(state)) return;
  int64_t proven = 0;
  for (auto _ : state) proven += operation() ? 1 : 0;
  bool kept = BoardConnected();
  CloseProgramLink();
  uint64_t want = (uint64_t)(state.iterations() * steps);
  if (!kept) state.SkipWithError("the connection was lost");
  if (!Board().WaitForCommands(want, 5000) || Board().CommandCount() != want)
    state.SkipWithError("the board saw a different number of commands");
  if (proven != (int64_t)state.iterations())
    state.SkipWithError("a reading went unproven");
  state.counters["commands"] =
      benchmark::Counter((double)steps, benchmark::Counter::kDefaults);
}

void BM_PollBoardProven(benchmark::State& state) {
  TimeProgram(state, kQuerySteps, [] {
    bool proven = PollBoardForDecision();
    ShowBoard();
    return proven;
  });
}

// Output 4 follows its decision with a query, so every evaluation makes
// the same commands; each must have decided (nothing doubted).
void BM_Evaluation(benchmark::State& state) {
  TimeProgram(state, kEvaluationSteps, [] {
    SensorAsWarmedUp();
    EvaluateLevel();
    return AppState.Measurement.DoubtedEvaluations == 0;
  });
}

// ---------------------------------------------------------------------------
// The bare client
// ---------------------------------------------------------------------------

int BareConnect() {
  BoardLink& sim = Board();
  uint64_t connections = sim.ConnectionCount();
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  to.sin_port = htons(sim.Port());
  if (fd < 0 || connect(fd, (const sockaddr*)&to, sizeof to) != 0 ||
      !sim.WaitForConnection(connections + 1, 5000)) {
    if (fd >= 0) close(fd);
    return -1;
  }
  return fd;
}

// One query: each command in one send, then one receive. False when a
// receive delivered nothing.
bool BareQuery(int fd, const std::vector<std::string>& wire) {
  char reply[1000];
  for (int i = 0; i < kQuerySteps; i++) {
    if (send(fd, wire[i].data(), wire[i].size(), MSG_NOSIGNAL) !=
        (ssize_t)wire[i].size())
      return false;
    if (recv(fd, reply, (size_t)BoardQuery[i].ReceiveMax, 0) <= 0) return false;
  }
  return true;
}

void BM_BareQuery(benchmark::State& state) {
  Board().ClearLog();
  std::vector<std::string> wire = QueryWire();
  int fd = BareConnect();
  if (fd < 0) {
    state.SkipWithError("no connection");
    return;
  }
  std::string error;
  if (!BareQuery(fd, wire) || !BoardSawQueryCommands(kQuerySteps, &error)) {
    state.SkipWithError(error.empty() ? "no reply" : error.c_str());
    close(fd);
    return;
  }
  Board().ClearLog();
  bool ok = true;
  for (auto _ : state) ok = BareQuery(fd, wire) && ok;
  close(fd);
  if (!ok) state.SkipWithError("a receive delivered nothing");
  if (!BoardSawQueries((int64_t)state.iterations(), &error))
    state.SkipWithError(error.c_str());
  state.counters["exchanges"] = benchmark::Counter(
      (double)state.iterations() * kQuerySteps, benchmark::Counter::kIsRate);
}

// ---------------------------------------------------------------------------
// A minute of running
// ---------------------------------------------------------------------------

// One iteration: the program starts (not timed), runs one minute of the
// driven clock from its first wait on (timed), and is ended by QUIT (not
// timed).
void BM_ProgramMinute(benchmark::State& state) {
  BoardLink& sim = Board();
  int64_t queries = 0;
  int64_t passes = 0;
  for (auto _ : state) {
    state.PauseTiming();
    sim.ClearLog();
    HeadlessReset();
    HeadlessSetBoardPort(sim.Port());
    HeadlessSetWaitLimit(10000);
    bool started = false, timing = false;
    uint32_t start = 0;
    int firstWait = 0;
    uint64_t commandsAtStart = 0;
    HeadlessSetWaitHook([&] {
      if (!started) {
        started = timing = true;
        start = PlatTickCount();
        firstWait = HeadlessWaitCount();
        commandsAtStart = sim.CommandCount();
        state.ResumeTiming();
      } else if (timing && PlatTickCount() - start >= 60000) {
        state.PauseTiming();
        timing = false;
        // Every reply the program took is logged once the board sent it.
        uint64_t n = sim.CommandCount() - commandsAtStart;
        queries += (int64_t)((n + kQuerySteps / 2) / kQuerySteps);
        passes += HeadlessWaitCount() - firstWait;
        HeadlessPostClick(ButtonQuit);
      }
    });
    ProgramMain();
    HeadlessSetWaitHook(nullptr);
    if (timing) {
      state.PauseTiming();
      state.SkipWithError("the program ended before its minute was over");
    }
    state.ResumeTiming();
  }
  state.counters["queries"] =
      benchmark::Counter((double)queries, benchmark::Counter::kAvgIterations);
  state.counters["passes"] =
      benchmark::Counter((double)passes, benchmark::Counter::kAvgIterations);
}

void BM_BareMinute(benchmark::State& state) {
  Board().ClearLog();
  std::vector<std::string> wire = QueryWire();
  int fd = BareConnect();
  if (fd < 0) {
    state.SkipWithError("no connection");
    return;
  }
  bool ok = true;
  for (auto _ : state)
    for (int q = 0; q < kQueriesPerMinute; q++) ok = BareQuery(fd, wire) && ok;
  close(fd);
  if (!ok) state.SkipWithError("a receive delivered nothing");
  state.counters["queries"] = benchmark::Counter(kQueriesPerMinute);
}

void BM_HistoryPicture(benchmark::State& state) {
  StartFresh();
  for (int i = 0; i < HistoryCapacity; i++) {
    HeadlessAdvanceClock(360000);
    double level = 0.1 + (i % 300) * 0.004;
    RecordEvaluation(level, i % 300 > 280, level, i % 300 < 20, false);
  }
  PlatOpenWindow(HistoryWindow, FrameSizable, "", 720, 420, true, 0, 0);
  for (auto _ : state) DrawHistoryChart(HistoryWindow, 0, 0, 720, 384);
  state.counters["steps"] =
      benchmark::Counter((double)HeadlessShownDrawing(HistoryWindow).size());
  PlatCloseWindow(HistoryWindow);
  PlatReleaseMemory();
}

BENCHMARK(BM_PollBoard)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_BareQuery)->UseRealTime()->Unit(benchmark::kMicrosecond);
// A few iterations each: the proof after a query waits more than half a
// second.
BENCHMARK(BM_PollBoardProven)
    ->UseRealTime()
    ->Iterations(4)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Evaluation)
    ->UseRealTime()
    ->Iterations(2)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ProgramMinute)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BareMinute)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HistoryPicture)->Unit(benchmark::kMicrosecond);

}  // namespace

// --board=process (default), --board=thread or --board=PORT:CONTROLPORT
// (a simulator program on those loopback ports), then Google Benchmark's
// own options.
int main(int argc, char** argv) {
  bool thread = false;
  unsigned port = 0, controlPort = 0;
  std::string kind = "process";
  std::vector<char*> rest;
  for (int i = 0; i < argc; i++) {
    if (!strcmp(argv[i], "--board=thread"))
      thread = true;
    else if (sscanf(argv[i], "--board=%u:%u", &port, &controlPort) == 2)
      kind = "program on 127.0.0.1:" + std::to_string(port);
    else if (strcmp(argv[i], "--board=process") != 0)
      rest.push_back(argv[i]);
  }
  if (thread) kind = "thread";
  bool started;
  if (port && controlPort && port < 65536 && controlPort < 65536) {
    auto* board = new ProcessBoard;
    TheBoard.reset(board);
    board->Attach((uint16_t)port, (uint16_t)controlPort);
    started = true;
  } else if (thread) {
    auto* board = new ThreadBoard;
    TheBoard.reset(board);
    started = board->Start();
  } else {
    auto* board = new ProcessBoard;  // before any thread exists
    TheBoard.reset(board);
    started = board->Start();
  }
  if (!started) {
    fprintf(stderr, "the board simulator did not start\n");
    return 1;
  }
  int n = (int)rest.size();
  benchmark::Initialize(&n, rest.data());
  if (benchmark::ReportUnrecognizedArguments(n, rest.data())) return 1;
  benchmark::AddCustomContext("board", kind);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  TheBoard.reset();
  return 0;
}
