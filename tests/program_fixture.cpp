#include "tests/program_fixture.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <memory>

#include "app/startup.h"
#include "board/link.h"
#include "control/alarms.h"
#include "control/measurement.h"
#include "tests/support/program_start.h"
#include "ui/history_window.h"
#include "ui/main_window.h"

void BoardTest::SetUp() {
  HeadlessReset();
  if (RealSocket) {
    ASSERT_TRUE(Sim.Start(0)) << Sim.LastError();
  } else {
    // A port nothing listens on: a connection that missed the board is
    // refused, never answered by someone else's.
    driven_ = std::make_unique<DrivenBoard>(&Sim, (uint16_t)UnusedPort());
  }
  Sim.SetRates(0, 0);  // the level stays where a test puts it
  Sim.SetClock([] { return PlatTickCount(); });
  HeadlessSetBoardPort(Sim.Port());
}

void BoardTest::ResetPlatform() {
  HeadlessReset();
  if (driven_) HeadlessSetBoardModel(driven_.get());
  HeadlessSetBoardPort(Sim.Port());
}

void BoardTest::TearDown() {
  if (linkOnly_) {
    CloseConnection();
    ReleaseFacilities();
  }
  HeadlessSetBoardModel(nullptr);
  Sim.Stop();
}

int BoardTest::RunProgram(const std::function<void(int wait)>& atWait,
                          int waitLimit) {
  HeadlessSetWaitLimit(waitLimit);
  HeadlessSetWaitHook([atWait] { atWait(HeadlessWaitCount()); });
  return ProgramMain();
}

void BoardTest::ThenWithin(int passes, std::function<bool()> done,
                           std::function<std::string()> otherwise) {
  auto left = std::make_shared<int>(passes);
  Steps.push_back([this, left, done, otherwise] {
    if (done()) return;
    if (--*left > 0) {
      Steps.insert(Steps.begin() + (long)next_, Steps[next_ - 1]);
      return;
    }
    ADD_FAILURE() << otherwise();
  });
}

void BoardTest::ThenWhen(int passes, std::function<bool()> ready,
                         std::function<void()> act, const std::string& what) {
  ThenWithin(
      passes,
      [ready, act] {
        if (!ready()) return false;
        act();
        return true;
      },
      [what] { return "never came true: " + what; });
}

void BoardTest::ThenClick(int control, int passes) {
  ThenWhen(
      passes, [control] { return PlatIsEnabled(control); },
      [control] { EXPECT_TRUE(HeadlessPostClick(control)); },
      "control " + std::to_string(control) + " usable");
}

void BoardTest::RunSteps(int waitLimit) {
  next_ = 0;
  bool quit = false;
  int code = RunProgram(
      [&](int) {
        if (next_ < Steps.size()) {
          std::function<void()> step = Steps[next_++];
          step();
        } else if (!quit) {
          quit = HeadlessPostClick(ButtonQuit);
        }
      },
      waitLimit);
  Steps.clear();  // a test may script another run after this one
  EXPECT_EQ(code, 0);
  EXPECT_TRUE(quit) << "the run ended before its last step";
  EXPECT_TRUE(HeadlessMessageBoxes().empty());
}

void BoardTest::ConnectOnly() {
  StartState();
  std::string failed = StartLink(StartUpTo::Connection);
  linkOnly_ = failed.empty();
  ASSERT_EQ(failed, "");
  ASSERT_TRUE(Sim.WaitForConnection(1, 5000));
}

void HandlerTest::SetUp() {
  BoardTest::SetUp();
  ConnectOnly();
  ASSERT_TRUE(BuildMainWindow());
  ASSERT_TRUE(PlatStartSound() && PlatLoadClick());
  AppState.Settings.SoundLoaded = 1;
  AppState.Switching.MeasurementEnabled = AppState.Switching.MinimumEnabled =
      AppState.Switching.MaximumEnabled = 1;
  AlarmGuardWatchFromNow();
}

void HandlerTest::MeasureWholeCycle(double counts) {
  Sim.SetLevel(counts);
  AppState.Measurement.CyclePeriod = 10;
  AppState.Measurement.CycleCounter = 0;
  for (int tick = 0; tick < 15; tick++) {
    HeadlessAdvanceClock(1000);
    MeasurementCycle();
    ShowHistory();
  }
}

std::vector<std::string> HandlerTest::LevelCommands() {
  std::vector<std::string> found;
  for (const std::string& c : OnlySetports(CommandTexts()))
    if (c.rfind("setport 4", 0) == 0 || c.rfind("setport 5", 0) == 0)
      found.push_back(c);
  return found;
}

std::string BoardTest::ReceivedBytes() {
  std::string all;
  for (const kvxsim::ChunkRecord& c : Sim.Chunks()) all += c.bytes;
  return all;
}

std::vector<std::string> BoardTest::CommandTexts() {
  std::vector<std::string> texts;
  for (const kvxsim::CommandRecord& c : Sim.Commands()) texts.push_back(c.text);
  return texts;
}

void BoardTest::ExpectCommands(uint64_t count) {
  ASSERT_TRUE(Sim.WaitForCommands(count, 5000))
      << "the board received " << Sim.CommandCount() << " commands, not "
      << count;
}

int UnusedPort() {
  int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = 0;
  bind(s, (sockaddr*)&a, sizeof a);
  socklen_t len = sizeof a;
  getsockname(s, (sockaddr*)&a, &len);
  close(s);
  return ntohs(a.sin_port);
}

bool FullAcceptQueue::Fill(int port) {
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  to.sin_port = htons((uint16_t)port);
  for (int n = 0; n < 64; n++) {
    int s = socket(AF_INET, SOCK_STREAM, 0);
    if (s < 0) return false;
    fillers_.push_back(s);
    fcntl(s, F_SETFL, fcntl(s, F_GETFL, 0) | O_NONBLOCK);
    if (connect(s, (const sockaddr*)&to, sizeof to) == 0) continue;
    if (errno != EINPROGRESS) return false;
    pollfd p{s, POLLOUT, 0};
    if (poll(&p, 1, 300) == 0) return true;  // dropped: the queue is full
    int error = 0;
    socklen_t size = sizeof error;
    getsockopt(s, SOL_SOCKET, SO_ERROR, &error, &size);
    if (error != 0) return false;
  }
  return false;
}

void FullAcceptQueue::Release() {
  for (int s : fillers_) close(s);
  fillers_.clear();
}

int SilentListener(int* port) {
  int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (s < 0 || bind(s, (const sockaddr*)&a, sizeof a) != 0 ||
      listen(s, 0) != 0) {
    if (s >= 0) close(s);
    return -1;
  }
  socklen_t len = sizeof a;
  getsockname(s, (sockaddr*)&a, &len);
  *port = ntohs(a.sin_port);
  return s;
}

const HeadlessControl& C(int number) {
  static const HeadlessControl none{};
  const HeadlessControl* c = HeadlessFindControl(number);
  return c ? *c : none;
}

std::vector<std::string> OnlySetports(const std::vector<std::string>& all) {
  std::vector<std::string> setports;
  for (const std::string& c : all)
    if (c.rfind("setport", 0) == 0) setports.push_back(c);
  return setports;
}

std::string PulseFault(const std::vector<kvxsim::CommandRecord>& log, int n,
                       uint32_t delayMs) {
  const std::string on = "setport " + std::to_string(n) + ".1";
  const std::string off = "setport " + std::to_string(n) + ".0";
  size_t onAt = log.size();
  for (size_t i = 0; i < log.size(); i++)
    if (log[i].text == on) onAt = i;
  if (onAt == log.size()) return "no " + on;
  size_t offAt = onAt + 1;
  while (offAt < log.size() && log[offAt].text != off) offAt++;
  if (offAt == log.size()) return "no " + off + " after " + on;
  // The reply to the command before the off, and the program's wait for
  // quiet after it, take a little time of their own on a prompt board.
  const uint32_t replyAndQuiet = 200;
  uint32_t before = log[offAt - 1].time;
  uint32_t held = log[offAt].time - before;
  if (held < delayMs || held > delayMs + replyAndQuiet)
    return off + " came " + std::to_string(held) + " ms after the command " +
           "before it, not " + std::to_string(delayMs) + " ms and a reply";
  return "";
}
