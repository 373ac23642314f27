// Benchmarks of the status page:
//
//   BM_WebPage, BM_WebFigures, BM_WebPicture
//       one answer drawn whole (header lines and body) from a snapshot of
//       a full day: 720 evaluations, six events
//   BM_WebServeOne
//       one whole request over an in-memory client: taken, read, drawn,
//       written, closed (ServeWebClients until it is done)
//   BM_QueriesWithClients/N
//       the guard's board query (RefreshBoard: 14 exchanges, the redraw,
//       the snapshot) once a second against the simulator on a loopback
//       port, with /web on a real loopback listener and N clients (threads
//       of plain POSIX sockets) that each load the page once a second;
//       the page is served between the queries and within their waits.
//       N = 0 is the baseline. Each iteration is one query; counters give
//       the mean, the 99th percentile and the longest query in ms, and the
//       pages answered.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <string>
#include <thread>
#include <vector>

#include "base/state.h"
#include "base/wait_service.h"
#include "board/link.h"
#include "control/refresh.h"
#include "control/web_snapshot.h"
#include "platform/headless/headless.h"
#include "simulator/simulator.h"
#include "tests/support/program_start.h"
#include "web/web_page.h"
#include "web/web_request.h"
#include "web/web_server.h"

namespace {

const int64_t Local = 20793 * 86400LL + 7 * 3600 + 45 * 60;

WebSnapshot FullDay() {
  WebSnapshot s{};
  s.Taken = s.Connected = s.Queried = s.LevelRead = s.Evaluated = true;
  s.RefreshInterval = 1000;
  s.ConnectionSince = Local - 86400;
  s.QueryTime = Local;
  s.LevelText = "0,73";
  s.LevelVolts = 0.732;
  for (int n = 1; n <= 8; n++) {
    s.Output[n] = n % 2 ? ContactOpen : ContactClosed;
    s.OutputName[n] = "Device " + std::to_string(n);
  }
  for (int n = 1; n <= 4; n++) {
    s.Input[n] = ContactOpen;
    s.InputName[n] = "Digital " + std::to_string(n);
    s.AnalogName[n] = "Analog " + std::to_string(n);
    s.AnalogUnit[n] = "Volt";
    s.AnalogText[n] = "0,73";
  }
  s.MeasurementEnabled = s.MinimumEnabled = s.MaximumEnabled = true;
  for (int i = 0; i < 6; i++)
    s.Events.push_back("06.12.2026 07:4" + std::to_string(i) +
                       ":00  Trockenlauf: Ausgang 4 (Minimum) eingeschaltet");
  s.DryRunText =
      "Trockenlaufschutz (Ausgang 4): heute 1-mal, 6 min ein; letzte 7 Tage "
      "2-mal, 12 min ein.";
  for (int i = 0; i < 720; i++) {
    LevelRecord r{};
    r.Time = Local - 86400 + i * 120;
    r.Universal = r.Time - 3600;
    r.Level5 = r.Level4 = 0.1 + (i % 300) * 0.004;
    r.Output4 = (int8_t)(i % 300 < 20);
    r.Output5 = (int8_t)(i % 300 > 280);
    AddToWebDay(&s.Day, r);
    s.LastEvaluation = r;
  }
  s.DayEndLocal = Local;
  s.DayEndUniversal = Local - 3600;
  return s;
}

void Answer(benchmark::State& state, WebResource resource) {
  WebSnapshot s = FullDay();
  size_t bytes = 0;
  for (auto _ : state) {
    Text answer = WebAnswer(WebRequest{200, resource, false}, s, "");
    bytes = answer.size();
    benchmark::DoNotOptimize(answer);
  }
  state.counters["bytes"] = (double)bytes;
}

void BM_WebPage(benchmark::State& state) { Answer(state, WebPage); }
void BM_WebFigures(benchmark::State& state) { Answer(state, WebFigures); }
void BM_WebPicture(benchmark::State& state) { Answer(state, WebPicture); }

uint32_t Loopback() { return inet_addr("127.0.0.1"); }

void BM_WebServeOne(benchmark::State& state) {
  HeadlessReset();
  ZeroAppState();
  HeadlessUseWebClients(true);
  PlatSocketsStart();
  AppState.Web.Settings = WebSettings{"127.0.0.1", Loopback(), 8080, ""};
  AppState.Web.Snapshot = FullDay();
  StartWebServer();
  const std::string get = "GET / HTTP/1.1\r\nHost: brunnen\r\n\r\n";
  size_t got = 0;
  for (auto _ : state) {
    int c = HeadlessClientConnect(Loopback(), 8080);
    HeadlessClientSend(c, get);
    while (!HeadlessClientClosedByServer(c)) ServeWebClients();
    got = HeadlessClientRead(c).size();
  }
  state.counters["bytes"] = (double)got;
  StopWebServer();
  PlatSocketsCleanup();
}

// A client that loads the page once a second until told to stop.
void Reader(int port, const std::atomic<bool>* stop, std::atomic<int>* pages) {
  const std::string get = "GET / HTTP/1.1\r\nHost: brunnen\r\n\r\n";
  auto next = std::chrono::steady_clock::now();
  while (!stop->load()) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons((uint16_t)port);
    to.sin_addr.s_addr = Loopback();
    timeval limit{5, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    if (connect(fd, (sockaddr*)&to, sizeof to) == 0 &&
        send(fd, get.data(), get.size(), MSG_NOSIGNAL) == (ssize_t)get.size()) {
      std::string answer;
      char buffer[16384];
      ssize_t n;
      while ((n = recv(fd, buffer, sizeof buffer, 0)) > 0)
        answer.append(buffer, (size_t)n);
      if (answer.rfind("HTTP/1.1 200 OK", 0) == 0 &&
          answer.find("</html>") != std::string::npos)
        pages->fetch_add(1);
    }
    close(fd);
    next += std::chrono::seconds(1);
    std::this_thread::sleep_until(next);
  }
}

void BM_QueriesWithClients(benchmark::State& state) {
  int clients = (int)state.range(0);
  kvxsim::Simulator sim;
  if (!sim.Start(0, "127.0.0.1")) {
    state.SkipWithError("the simulator did not start");
    return;
  }
  sim.SetRates(0, 0);
  sim.SetLevel(150);
  StartFresh(sim.Port());
  if (!StartLink(StartUpTo::MainWindow).empty()) {
    state.SkipWithError("no link to the simulator");
    sim.Stop();
    return;
  }
  AppState.Refresh.RefreshInterval = 1000;
  AppState.Web.Settings = WebSettings{"127.0.0.1", Loopback(), 0, ""};
  StartWebServer();
  AddWaitService(ServeWebClients);
  int port = WebListeningPort();
  std::atomic<bool> stop{false};
  std::atomic<int> pages{0};
  std::vector<std::thread> readers;
  for (int i = 0; i < clients; i++) {
    readers.emplace_back(Reader, port, &stop, &pages);
    std::this_thread::sleep_for(std::chrono::milliseconds(1000 / clients));
  }
  // The connection's first query learns the board's replies and proves
  // the link (over half a second): not one of those timed.
  RefreshBoard();
  std::vector<double> ms;
  auto next = std::chrono::steady_clock::now();
  for (auto _ : state) {
    auto start = std::chrono::steady_clock::now();
    RefreshBoard();
    double took = std::chrono::duration<double, std::milli>(
                      std::chrono::steady_clock::now() - start)
                      .count();
    ms.push_back(took);
    state.SetIterationTime(took / 1000);
    // The rest of the second: the main loop's waits, the page served.
    next += std::chrono::seconds(1);
    while (std::chrono::steady_clock::now() < next) {
      ServeWebClients();
      std::this_thread::sleep_for(std::chrono::milliseconds(ServeSlice));
    }
  }
  stop = true;
  for (std::thread& t : readers) t.join();
  std::sort(ms.begin(), ms.end());
  double sum = 0;
  for (double m : ms) sum += m;
  state.counters["mean_ms"] = sum / (double)ms.size();
  state.counters["median_ms"] = ms[ms.size() / 2];
  state.counters["p99_ms"] = ms[(size_t)((double)(ms.size() - 1) * 0.99)];
  state.counters["max_ms"] = ms.back();
  state.counters["pages"] = pages.load();
  state.counters["board_ok"] = BoardConnected() ? 1 : 0;
  RemoveWaitService(ServeWebClients);
  StopWebServer();
  CloseConnection();
  PlatSocketsCleanup();
  sim.Stop();
}

}  // namespace

BENCHMARK(BM_WebPage)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_WebFigures)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_WebPicture)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_WebServeOne)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_QueriesWithClients)
    ->Arg(0)
    ->Arg(10)
    ->Iterations(60)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
