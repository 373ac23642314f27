// Benchmarks of the status page under load, with a 0-s cycle's full day
// kept (25,000 evaluations, one every 3.456 s, the history full):
//
//   BM_FullDaySnapshot/0      one snapshot after one more evaluation
//   BM_FullDaySnapshot/1      the full day's snapshot taken again after the
//                             clock went half a day forward (half the day
//                             or more ages out at once)
//   BM_FullDaySnapshot/2      the full day's snapshot after a step of the
//                             PC's clock: the day read afresh from the
//                             history, as the first snapshot of a run
//   BM_FullDayPage, BM_FullDayFigures, BM_FullDayPicture
//                             one answer drawn whole from that snapshot
//   BM_EightPictures          one serving that takes eight in-memory
//                             clients asking for the picture at once
//   BM_PhoneUnderLoad         the phone's time to its page over real
//                             loopback sockets while 8 clients from one
//                             address send a byte every 200 ms, 100 from
//                             another hold slow connections, and a third
//                             opens 200 silent connections a second; the
//                             server served every 20 ms as the main loop
//                             does. Counters: the phone's median, 90th
//                             percentile and longest time in ms, pages
//                             answered and loads that failed, and the
//                             longest serving in ms.
//
// Only what the program offered before these bounds is used, so the same
// file measures the program before and after them.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "base/state.h"
#include "control/history.h"
#include "control/web_snapshot.h"
#include "platform/headless/headless.h"
#include "web/web_page.h"
#include "web/web_request.h"
#include "web/web_server.h"

namespace {

using Clock = std::chrono::steady_clock;

uint32_t Ip(const char* dotted) { return inet_addr(dotted); }

// The history full of a day at a 0-s cycle, and its snapshot.
void FullDay() {
  HeadlessReset();
  ZeroAppState();
  InitDefaults();
  AppState.Web.Settings = WebSettings{"127.0.0.1", Ip("127.0.0.1"), 8080, ""};
  AppState.Refresh.RefreshInterval = 1000;
  for (int i = 0; i < HistoryCapacity; i++) {
    RecordEvaluation(0.2 + (i % 500) * 0.002, i % 700 == 0 ? 1 : CommandNotSent,
                     0.2, i % 300 == 0 ? 1 : (i % 300 == 40 ? 0 : -1), false);
    HeadlessAdvanceClock(3456);
  }
  AppState.Readings.StatusFresh = true;
  TakeWebSnapshot();
}

void BM_FullDaySnapshot(benchmark::State& state) {
  FullDay();
  bool jump = state.range(0) == 1;
  bool step = state.range(0) == 2;
  WebSnapshot kept = AppState.Web.Snapshot;
  for (auto _ : state) {
    if (step) {
      state.PauseTiming();
      AppState.Web.Snapshot = kept;
      AppState.Web.Snapshot.Evaluated = false;
      state.ResumeTiming();
    } else if (jump) {
      state.PauseTiming();
      AppState.Web.Snapshot = kept;
      HeadlessAdvanceClock(43200 * 1000);
      state.ResumeTiming();
    } else {
      state.PauseTiming();
      HeadlessAdvanceClock(3456);
      RecordEvaluation(0.5, CommandNotSent, 0.5, CommandNotSent, false);
      state.ResumeTiming();
    }
    TakeWebSnapshot();
  }
}

void Answer(benchmark::State& state, WebResource resource) {
  FullDay();
  size_t bytes = 0;
  for (auto _ : state) {
    Text answer =
        WebAnswer(WebRequest{200, resource, false}, AppState.Web.Snapshot, "");
    bytes = answer.size();
    benchmark::DoNotOptimize(answer);
  }
  state.counters["bytes"] = (double)bytes;
}

void BM_FullDayPage(benchmark::State& state) { Answer(state, WebPage); }
void BM_FullDayFigures(benchmark::State& state) { Answer(state, WebFigures); }
void BM_FullDayPicture(benchmark::State& state) { Answer(state, WebPicture); }

void BM_EightPictures(benchmark::State& state) {
  FullDay();
  HeadlessUseWebClients(true);
  PlatSocketsStart();
  StartWebServer();
  const std::string get = "GET /verlauf.svg HTTP/1.1\r\nHost: brunnen\r\n\r\n";
  double longest = 0;
  for (auto _ : state) {
    state.PauseTiming();
    std::vector<int> clients;
    for (int i = 0; i < 8; i++) {
      clients.push_back(HeadlessClientConnect(Ip("127.0.0.1"), 8080));
      HeadlessClientSend(clients.back(), get);
    }
    // A new snapshot: nothing drawn for the one before is of use.
    TakeWebSnapshot();
    state.ResumeTiming();
    auto start = Clock::now();
    ServeWebClients();
    double ms =
        std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    longest = std::max(longest, ms);
    state.PauseTiming();
    for (int i = 0; i < 100 && WebClientsOpen() > 0; i++) {
      for (int c : clients) HeadlessClientRead(c);
      ServeWebClients();
    }
    for (int c : clients) HeadlessClientRead(c);
    state.ResumeTiming();
  }
  state.counters["max_ms"] = longest;
  state.counters["answered"] = WebServerCounted().Answered;
  StopWebServer();
  PlatSocketsCleanup();
}

// A non-blocking connection from `from` to the page's port; -1 when the
// system refused it at once.
int Open(const char* from, int port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
  if (fd < 0) return -1;
  sockaddr_in own{};
  own.sin_family = AF_INET;
  own.sin_addr.s_addr = Ip(from);
  bind(fd, (const sockaddr*)&own, sizeof own);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = Ip("127.0.0.1");
  to.sin_port = htons((uint16_t)port);
  if (connect(fd, (const sockaddr*)&to, sizeof to) != 0 &&
      errno != EINPROGRESS) {
    close(fd);
    return -1;
  }
  return fd;
}

// Whether a connection is still open: what came is thrown away.
bool StillOpen(int fd) {
  char bytes[4096];
  for (;;) {
    ssize_t n = recv(fd, bytes, sizeof bytes, MSG_DONTWAIT);
    if (n > 0) continue;
    return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
  }
}

// `count` connections from `from`, each sending the next byte of a GET
// every `everyMs`, opened again when the server drops them.
void SlowSenders(const char* from, int count, int everyMs, int port,
                 const std::atomic<bool>* stop) {
  const std::string get = "GET / HTTP/1.1\r\nHost: brunnen\r\n\r\n";
  std::vector<int> fds(count, -1);
  std::vector<size_t> sent(count, 0);
  while (!stop->load()) {
    for (int i = 0; i < count; i++) {
      if (fds[i] >= 0 && !StillOpen(fds[i])) {
        close(fds[i]);
        fds[i] = -1;
      }
      if (fds[i] < 0) {
        fds[i] = Open(from, port);
        sent[i] = 0;
        continue;
      }
      // Never the whole request: its last byte is held back.
      if (sent[i] + 1 < get.size() &&
          send(fds[i], get.data() + sent[i], 1, MSG_NOSIGNAL) == 1)
        sent[i]++;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(everyMs));
  }
  for (int fd : fds)
    if (fd >= 0) close(fd);
}

// 200 connections a second from `from` that send nothing, each closed
// after two seconds.
void SilentFlood(int port, const std::atomic<bool>* stop) {
  std::vector<std::pair<Clock::time_point, int>> open;
  while (!stop->load()) {
    auto now = Clock::now();
    int fd = Open("127.0.0.4", port);
    if (fd >= 0) open.push_back({now + std::chrono::seconds(2), fd});
    while (!open.empty() && open.front().first <= now) {
      close(open.front().second);
      open.erase(open.begin());
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  for (auto& o : open) close(o.second);
}

// The phone: a page every 250 ms, each within 5 s or failed.
void Phone(int port, const std::atomic<bool>* stop, std::vector<double>* ms,
           int* failed) {
  const std::string get = "GET / HTTP/1.1\r\nHost: brunnen\r\n\r\n";
  while (!stop->load()) {
    auto start = Clock::now();
    int fd = Open("127.0.0.1", port);
    std::string answer;
    bool sent = false;
    while (fd >= 0 && Clock::now() - start < std::chrono::seconds(5)) {
      pollfd p{fd, (short)(sent ? POLLIN : POLLOUT), 0};
      poll(&p, 1, 20);
      if (!sent && (p.revents & POLLOUT)) {
        sent = send(fd, get.data(), get.size(), MSG_NOSIGNAL) ==
               (ssize_t)get.size();
        if (!sent) break;
      } else if (sent && (p.revents & (POLLIN | POLLHUP | POLLERR))) {
        char bytes[16384];
        ssize_t n = recv(fd, bytes, sizeof bytes, MSG_DONTWAIT);
        if (n > 0) answer.append(bytes, (size_t)n);
        if (n == 0 || (n < 0 && errno != EAGAIN)) break;
      } else if (p.revents & (POLLHUP | POLLERR)) {
        break;
      }
    }
    if (fd >= 0) close(fd);
    if (answer.rfind("HTTP/1.1 200 OK", 0) == 0 &&
        answer.find("</html>") != std::string::npos)
      ms->push_back(
          std::chrono::duration<double, std::milli>(Clock::now() - start)
              .count());
    else
      (*failed)++;
    std::this_thread::sleep_until(start + std::chrono::milliseconds(250));
  }
}

void BM_PhoneUnderLoad(benchmark::State& state) {
  FullDay();
  HeadlessUseWebClients(false);
  PlatSocketsStart();
  AppState.Web.Settings.Port = 0;
  StartWebServer();
  int port = WebListeningPort();
  std::vector<double> ms;
  int failed = 0;
  double longest = 0;
  for (auto _ : state) {
    std::atomic<bool> stop{false}, phoneStop{false};
    std::thread slow(SlowSenders, "127.0.0.2", 8, 200, port, &stop);
    std::thread queued(SlowSenders, "127.0.0.3", 100, 1000, port, &stop);
    std::thread silent(SilentFlood, port, &stop);
    // The loads a second on their own, then the phone for ten.
    auto start = Clock::now();
    std::thread phone;
    while (Clock::now() - start < std::chrono::seconds(11)) {
      if (!phone.joinable() && Clock::now() - start > std::chrono::seconds(1))
        phone = std::thread(Phone, port, &phoneStop, &ms, &failed);
      auto served = Clock::now();
      ServeWebClients();
      longest = std::max(longest, std::chrono::duration<double, std::milli>(
                                      Clock::now() - served)
                                      .count());
      std::this_thread::sleep_for(std::chrono::milliseconds(ServeSlice));
    }
    phoneStop = true;
    // The phone's last page is served to its end.
    while (phone.joinable()) {
      ServeWebClients();
      std::this_thread::sleep_for(std::chrono::milliseconds(ServeSlice));
      if (Clock::now() - start > std::chrono::seconds(17)) break;
    }
    phone.join();
    stop = true;
    slow.join();
    queued.join();
    silent.join();
    state.SetIterationTime(10);
  }
  std::sort(ms.begin(), ms.end());
  state.counters["pages"] = (double)ms.size();
  state.counters["failed"] = failed;
  if (!ms.empty()) {
    state.counters["median_ms"] = ms[ms.size() / 2];
    state.counters["p90_ms"] = ms[(size_t)((double)(ms.size() - 1) * 0.9)];
    state.counters["max_ms"] = ms.back();
  }
  state.counters["serving_max_ms"] = longest;
  StopWebServer();
  PlatSocketsCleanup();
}

}  // namespace

BENCHMARK(BM_FullDaySnapshot)
    ->Arg(0)
    ->Arg(1)
    ->Arg(2)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FullDayPage)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FullDayFigures)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FullDayPicture)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_EightPictures)->Iterations(200)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PhoneUnderLoad)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
