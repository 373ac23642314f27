// The guard inside the loops the system runs for the operator's own
// windows, over the whole program on the driven clock: while a menu is
// open, a window is moved, or the save dialog waits, the board is queried
// at the set rate, the measurement decides, the watch runs and the status
// page answers, a sleep of the PC is told; a click made meanwhile is
// taken once, after the loop. A loop that begins while the program waits
// for the board starts nothing.
#include <arpa/inet.h>

#include <functional>
#include <string>
#include <vector>

#include "control/alarms.h"
#include "tests/program_fixture.h"
#include "ui/control_numbers.h"

namespace {

const int DryWell = 20;  // 0,09 V: below the Minimum threshold
const int Period = 40;   // s
const uint32_t HoldFrom = 10000;
const int WebPort = 8080;
const char Get[] = "GET / HTTP/1.1\r\nHost: brunnen\r\n\r\n";

// Board-clock times of the commands `text`.
std::vector<uint32_t> TimesOf(const kvxsim::Simulator& sim,
                              const std::string& text) {
  std::vector<uint32_t> times;
  for (const kvxsim::CommandRecord& c : sim.Commands())
    if (c.text == text) times.push_back(c.time);
  return times;
}

// The longest time from `from` to `to` without a board query ("Help").
uint32_t LongestPause(const kvxsim::Simulator& sim, uint32_t from,
                      uint32_t to) {
  uint32_t last = from, longest = 0;
  for (uint32_t t : TimesOf(sim, "Help")) {
    if (t < from || t > to) continue;
    longest = std::max(longest, t - last);
    last = t;
  }
  return std::max(longest, to - last);
}

int CommandsBetween(const kvxsim::Simulator& sim, uint32_t from, uint32_t to) {
  int n = 0;
  for (const kvxsim::CommandRecord& c : sim.Commands())
    n += c.time > from && c.time < to;
  return n;
}

// What a run that held one loop saw.
struct Held {
  uint32_t From = 0, To = 0;  // the loop, on the driven clock
  uint32_t OpenedAt = 0;      // the description window, first seen open
  std::string Page;           // what the page's client read in the loop
  // The alarm command's starts: event name and tick.
  std::vector<std::pair<std::string, uint32_t>> Alarms;
};

class ModalLoop : public BoardTest {
 protected:
  void SetUp() override {
    BoardTest::SetUp();
    Sim.SetLevel(DryWell);
  }

  // Runs the program with a level log, an alarm command and the status
  // page, the cycle period at Period, and holds it in a loop of `kind`
  // for `ms` from HoldFrom (the save dialog: the history window opened
  // before, its save button clicked then). Half-way through the loop the
  // operator clicks the picture button and a client asks for the page.
  // `atLoop` is called at every turn of the loop. QUIT at `quitAt`.
  Held RunHolding(HeadlessModalKind kind, int ms, uint32_t quitAt,
                  std::function<void()> atLoop = {}) {
    ResetPlatform();
    Sim.ClearLog();
    HeadlessUseWebClients(true);
    HeadlessAddFolder("C:\\Brunnen");
    HeadlessSetCommandLine(
        ("korvalinex.exe /log C:\\Brunnen /alarm C:\\Brunnen\\alarm.cmd "
         "/web 127.0.0.1:" +
         std::to_string(WebPort) + " 127.0.0.1 " + std::to_string(Sim.Port()))
            .c_str());
    Held h;
    int client = -1;
    size_t seen = 0;
    auto noteAlarms = [&] {
      const std::vector<HeadlessProgramStart>& s = HeadlessProgramStarts();
      for (; seen < s.size(); seen++)
        h.Alarms.emplace_back(
            s[seen].Arguments.empty() ? "" : s[seen].Arguments[0],
            PlatTickCount());
    };
    HeadlessSetModalHook([&] {
      uint32_t now = PlatTickCount();
      // The first turn comes one interval after the loop began.
      if (!h.From) {
        h.From = now - ModalServiceInterval;
        h.To = h.From + (uint32_t)ms;
      }
      if (client < 0 && now >= h.From + (uint32_t)ms / 2) {
        EXPECT_TRUE(HeadlessPostClick(ButtonPicture));
        client = HeadlessClientConnect(inet_addr("127.0.0.1"), WebPort);
        HeadlessClientSend(client, Get);
      }
      if (client >= 0) h.Page += HeadlessClientRead(client);
      noteAlarms();
      if (atLoop) atLoop();
    });
    bool held = false, quit = false;
    int code = RunProgram(
        [&](int wait) {
          uint32_t now = PlatTickCount();
          if (wait == 1) {
            HeadlessMoveTrackbar(TrackbarCycle, Period);
            AppState.Measurement.CyclePeriod = Period;
            AppState.Measurement.CycleCounter = 0;
            if (kind == HeadlessSaveDialogLoop)
              HeadlessChooseSystemMenuItem(MainWindow, MenuLevelHistory);
          }
          noteAlarms();
          if (!h.OpenedAt && PlatWindowIsOpen(DescriptionWindow))
            h.OpenedAt = now;
          if (!held && now >= HoldFrom) {
            held = true;
            HeadlessHoldModalLoop(kind, ms);
            if (kind == HeadlessSaveDialogLoop) {
              EXPECT_TRUE(HeadlessPostClick(ButtonSaveHistory));
            }
          }
          if (!quit && now >= quitAt) quit = HeadlessPostClick(ButtonQuit);
        },
        100000);
    EXPECT_EQ(code, 0);
    EXPECT_TRUE(quit);
    EXPECT_EQ(HeadlessModalLoopCount(), 1);
    return h;
  }
};

const uint32_t EvaluationPause = 3000;

// Each of the operator's loops held a minute: queries at the set rate of
// 1 s, the dry well's decision, the page answered, and the click made in
// the loop taken once, after it.
TEST_F(ModalLoop, EachLoopKeepsTheGuardGoingAndTheClickWaits) {
  struct Kind {
    const char* name;
    HeadlessModalKind kind;
  };
  for (const Kind& k :
       {Kind{"menu", HeadlessMenuLoop}, Kind{"move", HeadlessMoveLoop},
        Kind{"save dialog", HeadlessSaveDialogLoop}}) {
    SCOPED_TRACE(k.name);
    Held h = RunHolding(k.kind, 60000, 90000);
    ASSERT_NE(h.From, 0u) << "the loop never ran";
    EXPECT_GE(h.From, HoldFrom);
    // As in the main loop: one query a second, and an evaluation's proven
    // queries a measurement tick or three apart.
    EXPECT_LE(LongestPause(Sim, h.From, h.To), EvaluationPause);
    bool decided = false;
    for (uint32_t t : TimesOf(Sim, "setport 4.1"))
      decided = decided || (t > h.From && t < h.To);
    EXPECT_TRUE(decided) << "no \"setport 4.1\" in the loop";
    EXPECT_EQ(h.Page.substr(0, 15), "HTTP/1.1 200 OK");
    // The click: once, after the loop.
    EXPECT_GE(h.OpenedAt, h.To);
    EXPECT_EQ(HeadlessFindWindow(DescriptionWindow)->OpenCount, 1);
  }
}

// The board gone while the save dialog stays open: the watch still sees
// that output 4 stays undecided, and says so within its bound.
TEST_F(ModalLoop, ABoardGoneWhileTheSaveDialogWaitsIsTold) {
  bool gone = false;
  Held h = RunHolding(HeadlessSaveDialogLoop, 200000, 220000, [&] {
    if (!gone) Sim.SetSilent(gone = true);
  });
  ASSERT_NE(h.From, 0u);
  ASSERT_EQ(GuardBlindLimit(), 67500);
  uint32_t blindAt = 0;
  for (const auto& a : h.Alarms)
    if (a.first == "waechter-blind" && !blindAt) blindAt = a.second;
  ASSERT_NE(blindAt, 0u) << "no waechter-blind";
  EXPECT_GT(blindAt, h.From);
  EXPECT_LT(blindAt, h.From + 67500 + 30000);
  // The program kept trying to reach the board meanwhile.
  EXPECT_GT(Sim.ConnectionCount(), 2u);
}

// The PC sleeps 2 h while the save dialog stays open, and nothing but its
// clocks shows it: the guard tells of it at once, inside the dialog.
TEST_F(ModalLoop, ASleepWhileTheSaveDialogWaitsIsTold) {
  const int64_t Asleep = 2 * 3600 * 1000;
  uint32_t wokeAt = 0;
  Held h = RunHolding(HeadlessSaveDialogLoop, (int)Asleep + 60000,
                      (uint32_t)Asleep + 120000, [&] {
                        if (wokeAt || PlatTickCount() < HoldFrom + 20000)
                          return;
                        HeadlessSystemSleep(Asleep, false);
                        wokeAt = PlatTickCount();
                      });
  ASSERT_NE(wokeAt, 0u);
  uint32_t toldAt = 0;
  for (const auto& a : h.Alarms)
    if (a.first == "pc-wach" && !toldAt) toldAt = a.second;
  ASSERT_NE(toldAt, 0u) << "no pc-wach";
  EXPECT_GE(toldAt, wokeAt);
  EXPECT_LE(toldAt, wokeAt + 1000);
  EXPECT_LT(toldAt, h.To);
}

// Another program moves the window while the program waits for the board
// (in an exchange of the main loop, or in one the guard began inside a
// menu): the loop that begins there sends nothing, and the guard goes on
// once the exchange has ended.
TEST_F(ModalLoop, ALoopBegunInAnExchangeStartsNothing) {
  for (bool inMenu : {false, true}) {
    SCOPED_TRACE(inMenu ? "inside a menu" : "in the main loop");
    ResetPlatform();
    Sim.ClearLog();
    Sim.SetReplyDelay(100);
    uint32_t movedAt = 0;
    int callsBefore = 0;
    HeadlessSetServeHook([&] {
      bool inLoop = HeadlessModalLoopCount() == (inMenu ? 1 : 0);
      if (movedAt || PlatTickCount() < HoldFrom + 5000 || !inLoop) return;
      movedAt = PlatTickCount();
      callsBefore = HeadlessModalServiceCalls();
      HeadlessHoldModalLoop(HeadlessMoveLoopInServe, 5000);
    });
    bool quit = false, menu = false;
    RunProgram([&](int) {
      if (inMenu && !menu && PlatTickCount() >= HoldFrom) {
        menu = true;
        HeadlessHoldModalLoop(HeadlessMenuLoop, 30000);
      }
      if (!quit && PlatTickCount() >= 60000)
        quit = HeadlessPostClick(ButtonQuit);
    });
    ASSERT_NE(movedAt, 0u);
    EXPECT_EQ(HeadlessModalLoopCount(), inMenu ? 2 : 1);
    // The service was called in there, and did nothing.
    EXPECT_GT(HeadlessModalServiceCalls(), callsBefore + 90);
    EXPECT_EQ(CommandsBetween(Sim, movedAt, movedAt + 5000), 0);
    EXPECT_LE(LongestPause(Sim, movedAt + 5000, 55000), EvaluationPause + 500);
  }
}

}  // namespace
