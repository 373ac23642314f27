// Benchmarks of the MQTT client:
//
//   BM_QueriesWithBroker/MODE
//       the guard's board query (RefreshBoard: 14 exchanges, the redraw,
//       the snapshots) once a second against the simulator on a loopback
//       port, 30 queries, with /mqtt to a broker played by a thread of
//       plain POSIX sockets on another loopback port; the client is served
//       between the queries (every 20 ms, as the main loop's wait does)
//       and within their waits. Each query also brings a new evaluation
//       into the snapshot, so the level and its time go out every time.
//       MODE 0: no /mqtt (the baseline); 1: a broker that answers CONNECT
//       and PINGREQ and reads everything; 2: none (the port refuses, a try
//       every 30 s); 3: a slow broker that accepts and answers CONNECT,
//       then never reads (its window full, the client drops it after 15
//       s and tries again); 4: a broker that takes the connection and
//       never answers it. Counters: the mean, median, 99th percentile and
//       longest query in ms, and the client's PUBLISH packets formed.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
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
#include "base/wait_service.h"
#include "board/link.h"
#include "control/history.h"
#include "control/refresh.h"
#include "mqtt/mqtt_client.h"
#include "platform/headless/headless.h"
#include "simulator/simulator.h"
#include "tests/support/program_start.h"

namespace {

enum Mode { NoMqtt, BrokerUp, BrokerDown, BrokerSlow, BrokerSilent };

// The broker's thread: one connection at a time.
void Broker(int listener, Mode mode, std::atomic<bool>* stop) {
  while (!*stop) {
    pollfd p{listener, POLLIN, 0};
    if (poll(&p, 1, 50) <= 0) continue;
    int fd = accept(listener, nullptr, nullptr);
    if (fd < 0) continue;
    bool greeted = false;
    while (!*stop) {
      pollfd q{fd, POLLIN, 0};
      if (mode == BrokerSlow && greeted) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        char probe;
        if (recv(fd, &probe, 1, MSG_PEEK | MSG_DONTWAIT) == 0) break;
        continue;
      }
      if (poll(&q, 1, 50) <= 0) continue;
      char bytes[65536];
      ssize_t n = recv(fd, bytes, sizeof bytes, 0);
      if (n <= 0) break;
      if (mode == BrokerSilent) continue;
      for (ssize_t i = 0; i < n; i++) {
        unsigned char b = (unsigned char)bytes[i];
        // Only the first bytes of CONNECT and PINGREQ matter here: both
        // start a read the client sends whole, in one piece each.
        if (!greeted && b == 0x10) {
          send(fd, "\x20\x02\x00\x00", 4, MSG_NOSIGNAL);
          greeted = true;
          break;
        }
        if (greeted && b == 0xC0 && i + 1 < n && bytes[i + 1] == 0) {
          send(fd, "\xD0\x00", 2, MSG_NOSIGNAL);
          break;
        }
      }
    }
    close(fd);
  }
}

void BM_QueriesWithBroker(benchmark::State& state) {
  Mode mode = (Mode)state.range(0);
  kvxsim::Simulator sim;
  if (!sim.Start(0, "127.0.0.1")) {
    state.SkipWithError("the simulator did not start");
    return;
  }
  sim.SetRates(0, 0);
  sim.SetLevel(150);
  // The broker's port: listening (up, slow, silent) or bound and closed
  // again (down: nothing listens there).
  int listener = socket(AF_INET, SOCK_STREAM, 0);
  int small = 4096;
  if (mode == BrokerSlow)
    setsockopt(listener, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
  sockaddr_in at{};
  at.sin_family = AF_INET;
  at.sin_addr.s_addr = inet_addr("127.0.0.1");
  socklen_t size = sizeof at;
  bind(listener, (sockaddr*)&at, sizeof at);
  getsockname(listener, (sockaddr*)&at, &size);
  int port = ntohs(at.sin_port);
  if (mode == BrokerDown) {
    close(listener);
    listener = -1;
  } else {
    listen(listener, 4);
  }
  std::atomic<bool> stop{false};
  std::thread broker;
  if (listener >= 0) broker = std::thread(Broker, listener, mode, &stop);

  StartFresh(sim.Port());
  if (!StartLink(StartUpTo::MainWindow).empty()) {
    state.SkipWithError("no link to the simulator");
    stop = true;
    if (broker.joinable()) broker.join();
    sim.Stop();
    return;
  }
  AppState.Refresh.RefreshInterval = 1000;
  AppState.Measurement.CyclePeriod = 360;
  if (mode != NoMqtt) {
    MqttSettings& m = AppState.Mqtt.Settings;
    m.Address = "127.0.0.1";
    m.Host = inet_addr("127.0.0.1");
    m.Port = port;
    m.Name = "brunnen";
    StartMqttClient();
    AddWaitService(ServeMqtt);
  }
  RefreshBoard();  // learns the board's replies: not one of those timed
  std::vector<double> ms;
  auto next = std::chrono::steady_clock::now();
  for (auto _ : state) {
    // A new evaluation, its level to publish.
    RecordEvaluation(0.5 + (double)(ms.size() % 10) / 100, 0, 0.5, 0, false);
    auto start = std::chrono::steady_clock::now();
    RefreshBoard();
    double took = std::chrono::duration<double, std::milli>(
                      std::chrono::steady_clock::now() - start)
                      .count();
    ms.push_back(took);
    state.SetIterationTime(took / 1000);
    next += std::chrono::seconds(1);
    while (std::chrono::steady_clock::now() < next) {
      ServeMqtt();
      std::this_thread::sleep_for(std::chrono::milliseconds(ServeSlice));
    }
  }
  std::sort(ms.begin(), ms.end());
  double sum = 0;
  for (double m : ms) sum += m;
  state.counters["mean_ms"] = sum / (double)ms.size();
  state.counters["median_ms"] = ms[ms.size() / 2];
  state.counters["p99_ms"] = ms[(size_t)((double)(ms.size() - 1) * 0.99)];
  state.counters["max_ms"] = ms.back();
  MqttCounts c = MqttCounted();
  state.counters["published"] = c.Published;
  state.counters["tries"] = c.Tries;
  state.counters["board_ok"] = BoardConnected() ? 1 : 0;
  StopMqttClient();
  RemoveAllWaitServices();
  CloseConnection();
  PlatSocketsCleanup();
  stop = true;
  if (broker.joinable()) broker.join();
  if (listener >= 0) close(listener);
  sim.Stop();
}

}  // namespace

BENCHMARK(BM_QueriesWithBroker)
    ->DenseRange(0, 4)
    ->Iterations(30)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
