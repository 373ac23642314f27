// kvx-headless-run: the program over the headless platform against a board
// (the simulator program) on a loopback port, for the figures of one whole
// process: the CPU time of a stretch of running, peak memory, and, under
// valgrind, heap and instruction counts.
//
//   kvx-headless-run --port N [--seconds S] [--realtime] [--full-history]
//                    [--idle | --bare]
//
// The program starts, runs S seconds (default 60) of the driven clock from
// its first wait on (the stretch), then QUIT ends it.
//   --realtime  holds the driven clock in step with real time: before each
//               wait the process sleeps until real time has caught up with
//               the clock, so the stretch lasts S seconds of real time.
//               Without it the clock jumps over the waits and the stretch
//               takes only as long as the program's work.
//   --full-history  the level history's ring filled to the last record
//               (HistoryCapacity evaluations recorded) at the first wait,
//               before the stretch: the memory of a history that is full.
//   --idle      no program: the process only sleeps through the stretch in
//               500 ms steps (with --realtime), the baseline of the process.
//   --bare      no program: a bare client (plain POSIX sockets) makes the
//               same 14 exchanges as one board query once a second of the
//               stretch (paced as the program with --realtime).
// Prints key=value lines: cpu_user_ms and cpu_sys_ms of the stretch,
// wall_ms of the stretch, vm_hwm_kb and vm_rss_kb at its end,
// maxrss_kb of the whole run, waits (main-loop passes in the stretch).
// Under callgrind with --collect-atstart=no only the stretch is counted.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>

#if __has_include(<valgrind/callgrind.h>)
#include <valgrind/callgrind.h>
#else
#define CALLGRIND_TOGGLE_COLLECT
#endif

#include "app/startup.h"
#include "board/query_table.h"
#include "control/history.h"
#include "platform/headless/headless.h"
#include "ui/control_numbers.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Sample {
  double userMs, sysMs;
  Clock::time_point at;
};

Sample Now() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return Sample{u.ru_utime.tv_sec * 1e3 + u.ru_utime.tv_usec / 1e3,
                u.ru_stime.tv_sec * 1e3 + u.ru_stime.tv_usec / 1e3,
                Clock::now()};
}

long StatusKb(const char* key) {
  std::ifstream status("/proc/self/status");
  std::string line;
  size_t n = strlen(key);
  while (std::getline(status, line))
    if (line.compare(0, n, key) == 0) return atol(line.c_str() + n + 1);
  return -1;
}

struct Stretch {
  Sample begin{}, end{};
  long hwmKb = -1, rssKb = -1;
  int waits = 0;
};

void BeginStretch(Stretch* s) {
  CALLGRIND_TOGGLE_COLLECT;
  s->begin = Now();
}

void EndStretch(Stretch* s) {
  s->end = Now();
  CALLGRIND_TOGGLE_COLLECT;
  s->hwmKb = StatusKb("VmHWM:");
  s->rssKb = StatusKb("VmRSS:");
}

bool RunBare(int port, int seconds, bool realtime, Stretch* s) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  to.sin_port = htons((uint16_t)port);
  if (fd < 0 || connect(fd, (const sockaddr*)&to, sizeof to) != 0) {
    fprintf(stderr, "kvx-headless-run: no board on 127.0.0.1:%d\n", port);
    return false;
  }
  std::string wire[BoardQueryLength];
  for (int i = 0; i < BoardQueryLength; i++)
    wire[i] = std::string(BoardQuery[i].Keyword) + " \\r\\n";
  char reply[1000];
  BeginStretch(s);
  for (int q = 0; q < seconds; q++) {
    if (realtime)
      std::this_thread::sleep_until(s->begin.at + std::chrono::seconds(q));
    for (int i = 0; i < BoardQueryLength; i++) {
      send(fd, wire[i].data(), wire[i].size(), MSG_NOSIGNAL);
      if (recv(fd, reply, (size_t)BoardQuery[i].ReceiveMax, 0) <= 0) {
        fprintf(stderr, "kvx-headless-run: the board did not answer\n");
        close(fd);
        return false;
      }
    }
  }
  if (realtime)
    std::this_thread::sleep_until(s->begin.at + std::chrono::seconds(seconds));
  EndStretch(s);
  close(fd);
  return true;
}

void RunIdle(int seconds, bool realtime, Stretch* s) {
  BeginStretch(s);
  if (realtime)
    for (int step = 1; step <= seconds * 2; step++)
      std::this_thread::sleep_until(s->begin.at +
                                    std::chrono::milliseconds(500 * step));
  EndStretch(s);
}

bool RunProgram(int port, int seconds, bool realtime, bool fullHistory,
                Stretch* s) {
  HeadlessReset();
  HeadlessSetBoardPort(port);
  HeadlessSetWaitLimit(seconds * 10 + 1000);
  bool started = false, running = false;
  uint32_t clockStart = 0;
  int firstWait = 0;
  HeadlessSetWaitHook([&] {
    if (!started) {
      if (fullHistory)
        for (int i = 0; i < HistoryCapacity; i++)
          RecordEvaluation(1.0 + (i % 100) * 0.01, 0, 1.0, 0, false);
      started = running = true;
      clockStart = PlatTickCount();
      firstWait = HeadlessWaitCount();
      BeginStretch(s);
      return;
    }
    if (!running) return;
    uint32_t elapsed = PlatTickCount() - clockStart;
    if (realtime)
      std::this_thread::sleep_until(s->begin.at +
                                    std::chrono::milliseconds(elapsed));
    if (elapsed >= (uint32_t)seconds * 1000) {
      EndStretch(s);
      running = false;
      s->waits = HeadlessWaitCount() - firstWait;
      HeadlessPostClick(ButtonQuit);
    }
  });
  ProgramMain();
  HeadlessSetWaitHook(nullptr);
  if (!started || running) {
    fprintf(stderr, "kvx-headless-run: the program ended early%s\n",
            HeadlessMessageBoxes().empty()
                ? ""
                : (": " + HeadlessMessageBoxes()[0].Body).c_str());
    return false;
  }
  return true;
}

int Usage() {
  fprintf(stderr,
          "usage: kvx-headless-run --port N [--seconds S] [--realtime] "
          "[--full-history] [--idle | --bare]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  int port = 0, seconds = 60;
  bool realtime = false, idle = false, bare = false, fullHistory = false;
  for (int i = 1; i < argc; i++) {
    std::string a = argv[i];
    if (a == "--port" && i + 1 < argc)
      port = atoi(argv[++i]);
    else if (a == "--seconds" && i + 1 < argc)
      seconds = atoi(argv[++i]);
    else if (a == "--realtime")
      realtime = true;
    else if (a == "--full-history")
      fullHistory = true;
    else if (a == "--idle")
      idle = true;
    else if (a == "--bare")
      bare = true;
    else
      return Usage();
  }
  if (seconds <= 0 || (!idle && (port <= 0 || port > 65535))) return Usage();

  Stretch s;
  bool ok = idle   ? (RunIdle(seconds, realtime, &s), true)
            : bare ? RunBare(port, seconds, realtime, &s)
                   : RunProgram(port, seconds, realtime, fullHistory, &s);
  if (!ok) return 1;
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  printf("mode=%s\n", idle ? "idle" : bare ? "bare" : "program");
  printf("seconds=%d\nrealtime=%d\n", seconds, realtime ? 1 : 0);
  printf("cpu_user_ms=%.1f\ncpu_sys_ms=%.1f\n", s.end.userMs - s.begin.userMs,
         s.end.sysMs - s.begin.sysMs);
  printf(
      "wall_ms=%.1f\n",
      std::chrono::duration<double, std::milli>(s.end.at - s.begin.at).count());
  printf("vm_hwm_kb=%ld\nvm_rss_kb=%ld\nmaxrss_kb=%ld\nwaits=%d\n", s.hwmKb,
         s.rssKb, (long)u.ru_maxrss, s.waits);
  return 0;
}
