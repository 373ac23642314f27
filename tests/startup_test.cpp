// Start-up, its two failures, and the normal end, over the headless
// platform against the simulated board.
#include "app/startup.h"

#include <arpa/inet.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <vector>

#include "tests/program_fixture.h"
#include "tests/support/program_start.h"
#include "ui/control_numbers.h"
#include "ui/main_window.h"

using StartUp = RealBoardTest;

// The values the defaults give are in tests/golden/defaults.txt. The
// reply buffers and the history's ring are blocks of the program's heap,
// given back at the end.
TEST(Defaults, BuffersAreHeapBlocksGivenBackAtTheEnd) {
  HeadlessReset();
  ZeroAppState();
  InitDefaults();
  const AppStateRecord& s = AppState;
  EXPECT_EQ(HeadlessLiveMemoryBlocks(), 11);
  ReleaseFacilities();
  EXPECT_EQ(HeadlessLiveMemoryBlocks(), 0);
  const ReplyBuffer* buffers[] = {
      &s.Settings.StatusBuffer,  &s.Settings.AdcBuffer,
      &s.Settings.PortBuffer,    &s.Settings.PingBuffer,
      &s.Settings.VersionBuffer, &s.Settings.IpBuffer,
      &s.Settings.MaskBuffer,    &s.Settings.GatewayBuffer,
      &s.Settings.CommandBuffer, &s.Settings.LcdReplyBuffer};
  for (const ReplyBuffer* b : buffers) {
    EXPECT_EQ(b->Bytes, nullptr);
    EXPECT_EQ(b->Size, 0);
  }
  EXPECT_EQ(s.History.History, nullptr);
}

TEST(Defaults, TextsAreWindows1252Bytes) {
  EXPECT_EQ(
      (unsigned char)MainWindowTitle[strlen("KORVALINEX-Steuerprogramm f")],
      0xFC);
  EXPECT_EQ(std::string(BoardNotFoundText),
            "Das KORVALINEX-Board kann nicht gefunden werden!");
}

TEST(Defaults, ConnectionNoticeNamesAddressAndPort) {
  HeadlessReset();
  HeadlessSetBoardAddress("192.168.1.50");
  StartState();
  EXPECT_EQ(ConnectionNoticeText(),
            "Verbindungsaufbau zum KORVALINEX-Board...\r\rIP/DNS: "
            "192.168.1.50\r\rPort: 50290");
  ReleaseFacilities();
}

// The board is not reachable: the notice, then the message, then the end,
// without a main window ever.
static void ExpectBoardNotFound(int exitCode) {
  EXPECT_EQ(exitCode, 0);
  ASSERT_EQ(HeadlessMessageBoxes().size(), 1u);
  EXPECT_EQ(HeadlessMessageBoxes()[0].Title, "KORVALINEX: Problem");
  EXPECT_EQ(HeadlessMessageBoxes()[0].Body,
            "Das KORVALINEX-Board kann nicht gefunden werden!");
  EXPECT_TRUE(HeadlessMessageBoxes()[0].OpenWindows.empty());
  const HeadlessWindow* w = HeadlessFindWindow(MainWindow);
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(w->OpenCount, 1);  // the notice only
  EXPECT_EQ(w->Title, "KORVALINEX: Meldung");
  EXPECT_EQ(w->Frame, FrameTitleOnly);
  EXPECT_EQ(w->ClientWidth, 250);
  EXPECT_EQ(w->ClientHeight, 90);
  EXPECT_FALSE(w->Open);
  EXPECT_EQ(HeadlessWaitCount(), 0);
  EXPECT_EQ(HeadlessLiveMemoryBlocks(), 0);
}

TEST_F(StartUp, NoListenerEndsWithTheBoardNotFoundMessage) {
  HeadlessSetBoardPort(UnusedPort());
  ExpectBoardNotFound(ProgramMain());
}

using Clock = std::chrono::steady_clock;

static long MsBetween(Clock::time_point from, Clock::time_point to) {
  return (long)std::chrono::duration_cast<std::chrono::milliseconds>(to - from)
      .count();
}

// A board whose connect never completes (switched off, or a full queue as
// here) is given up after the start-up bound, not when the system gives
// up; the notice is served all the while, and the end is the same as for
// a board that refuses.
TEST_F(StartUp, ConnectThatNeverCompletesEndsAtTheBoundWithTheNoticeServed) {
  int port = 0;
  int listener = SilentListener(&port);
  ASSERT_GE(listener, 0);
  FullAcceptQueue queue;
  ASSERT_TRUE(queue.Fill(port));
  HeadlessSetBoardPort(port);

  std::vector<Clock::time_point> serves;
  int servedWithoutNotice = 0;
  HeadlessSetServeHook([&] {
    serves.push_back(Clock::now());
    const HeadlessWindow* w = HeadlessFindWindow(MainWindow);
    const HeadlessControl* label = HeadlessFindControl(NoticeLabel);
    if (!w || !w->Open || w->Title != "KORVALINEX: Meldung" || !label ||
        label->Content != ConnectionNoticeText())
      servedWithoutNotice++;
  });
  Clock::time_point start = Clock::now();
  int code = ProgramMain();
  Clock::time_point end = Clock::now();
  close(listener);

  ExpectBoardNotFound(code);
  long took = MsBetween(start, end);
  EXPECT_GE(took, StartupConnectLimit - 50);
  EXPECT_LE(took, StartupConnectLimit + 2000);
  ASSERT_GE(serves.size(), (size_t)StartupConnectLimit / ServeSlice / 2);
  EXPECT_EQ(servedWithoutNotice, 0);
  long longestGap = MsBetween(start, serves.front());
  for (size_t n = 1; n < serves.size(); n++)
    longestGap = std::max(longestGap, MsBetween(serves[n - 1], serves[n]));
  longestGap = std::max(longestGap, MsBetween(serves.back(), end));
  EXPECT_LE(longestGap, 250);
}

// A board that takes the connection only after the bound of a reconnect
// (here when its queue gets room, 1.5 s into the wait) is still within the
// start-up bound: the program starts as with a board that answers at once.
TEST_F(StartUp, BoardThatTakesTheConnectionLateIsConnectedNormally) {
  FullAcceptQueue queue;
  ASSERT_TRUE(queue.Fill(Sim.Port()));
  uint64_t fillers = Sim.ConnectionCount();
  Clock::time_point start = Clock::now();
  bool released = false;
  HeadlessSetServeHook([&] {
    if (!released && MsBetween(start, Clock::now()) >= ConnectLimit + 500) {
      queue.Release();
      released = true;
    }
  });
  long connectedAfter = -1;
  int code = RunProgram([&](int wait) {
    if (wait == 1) connectedAfter = MsBetween(start, Clock::now());
    if (wait == 3) HeadlessPostClick(ButtonQuit);
  });
  EXPECT_EQ(code, 0);
  EXPECT_TRUE(released);
  EXPECT_TRUE(HeadlessMessageBoxes().empty());
  EXPECT_GT(connectedAfter, (long)ConnectLimit + 500);
  EXPECT_LT(connectedAfter, (long)StartupConnectLimit);
  const HeadlessWindow* w = HeadlessFindWindow(MainWindow);
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(w->OpenCount, 2);  // the notice, then the main window
  // The fillers carried no byte: all the board received is the program's,
  // from its first query on.
  ASSERT_TRUE(Sim.WaitForCommands(QueryCommands.size(), 5000));
  std::vector<std::string> texts = CommandTexts();
  EXPECT_EQ(std::vector<std::string>(texts.begin(),
                                     texts.begin() + QueryCommands.size()),
            QueryCommands);
  EXPECT_GT(Sim.ConnectionCount(), fillers);
}

TEST_F(StartUp, UnresolvableAddressEndsTheSameWay) {
  HeadlessSetBoardAddress("255.255.255.255");
  ExpectBoardNotFound(ProgramMain());
  HeadlessReset();
  HeadlessSetBoardAddress("no-such-board");
  ExpectBoardNotFound(ProgramMain());
  EXPECT_EQ(Sim.ConnectionCount(), 0u);
}

TEST_F(StartUp, NetworkingFailureEndsBeforeAnyWindow) {
  HeadlessFaultSettings().SocketsFail = true;
  EXPECT_EQ(ProgramMain(), 0);
  ASSERT_EQ(HeadlessMessageBoxes().size(), 1u);
  EXPECT_EQ(HeadlessMessageBoxes()[0].Title, "KORVALINEX: Problem");
  EXPECT_EQ(HeadlessMessageBoxes()[0].Body,
            "Das Netzwerk kann nicht initialisiert werden!");
  EXPECT_EQ(HeadlessFindWindow(MainWindow), nullptr);
  EXPECT_EQ(Sim.ConnectionCount(), 0u);
}

// Without timer 123 the measurement would never run: the program says so
// and ends before its first board query.
TEST_F(StartUp, TimerThatCannotStartEndsWithItsOwnMessage) {
  HeadlessFaultSettings().TimerFails = true;
  EXPECT_EQ(ProgramMain(), 0);
  ASSERT_EQ(HeadlessMessageBoxes().size(), 1u);
  EXPECT_EQ(HeadlessMessageBoxes()[0].Title, "KORVALINEX: Problem");
  EXPECT_EQ(HeadlessMessageBoxes()[0].Body,
            "Der Messzeitgeber kann nicht gestartet werden!");
  EXPECT_EQ(HeadlessWaitCount(), 0);
  EXPECT_EQ(HeadlessLiveMemoryBlocks(), 0);
  const HeadlessWindow* w = HeadlessFindWindow(MainWindow);
  ASSERT_NE(w, nullptr);
  EXPECT_FALSE(w->Open);
  // The board saw a connection and its end, and not one command. The
  // program may be done before the board has even taken the connection.
  ASSERT_TRUE(Sim.WaitFor(
      [&] { return Sim.ConnectionCount() >= 1 && !Sim.Connected(); }, 5000));
  EXPECT_EQ(Sim.ConnectionCount(), 1u);
  EXPECT_EQ(Sim.CommandCount(), 0u);
}

TEST_F(StartUp, HostNameIsLookedUpWhenNotDotted) {
  HeadlessAddHost("brunnen", htonl(0x7F000001));
  HeadlessSetBoardAddress("brunnen");
  int code = RunProgram([](int) { HeadlessPostClick(ButtonQuit); });
  EXPECT_EQ(code, 0);
  EXPECT_EQ(Sim.ConnectionCount(), 1u);
  EXPECT_TRUE(HeadlessMessageBoxes().empty());
}

TEST_F(StartUp, FontsAndSoundFailuresOnlyChangeLooksAndSilence) {
  HeadlessFaultSettings().SoundFails = true;
  HeadlessFaultSettings().FontFails[1] = true;
  int code = RunProgram([](int) { HeadlessPostClick(ButtonQuit); });
  EXPECT_EQ(code, 0);
  EXPECT_TRUE(HeadlessMessageBoxes().empty());
  EXPECT_EQ(AppState.Settings.SoundLoaded, 0);
  EXPECT_EQ(HeadlessClickCount(), 0);
}

// Both ways of ending: one click, 100 ms, the connection closed, exit 0,
// and no command to the board at the end.
static void ExpectNormalEnd(BoardTest* t, kvxsim::Simulator& sim,
                            int clicksBefore, uint64_t commandsBefore,
                            int code) {
  (void)t;
  EXPECT_EQ(code, 0);
  EXPECT_EQ(HeadlessClickCount(), clicksBefore + 1);
  // The pause for the click, the windows served meanwhile: the program
  // sleeps nowhere else in these runs.
  int paused = 0;
  for (int ms : HeadlessSleeps()) {
    EXPECT_LE(ms, (int)ServeSlice);
    paused += ms;
  }
  EXPECT_EQ(paused, 100);
  EXPECT_TRUE(sim.WaitFor([&] { return !sim.Connected(); }, 5000));
  EXPECT_EQ(sim.CommandCount(), commandsBefore);
  EXPECT_EQ(HeadlessLiveMemoryBlocks(), 0);
}

TEST_F(StartUp, QuitEndsTheProgram) {
  int clicks = 0;
  uint64_t commands = 0;
  int code = RunProgram([&](int wait) {
    if (wait == 3) {
      ASSERT_TRUE(Sim.WaitForCommands(Sim.CommandCount(), 5000));
      clicks = HeadlessClickCount();
      commands = Sim.CommandCount();
      HeadlessPostClick(ButtonQuit);
    }
  });
  ExpectNormalEnd(this, Sim, clicks, commands, code);
}

TEST_F(StartUp, CloseBoxEndsTheProgramTheSameWay) {
  int clicks = 0;
  uint64_t commands = 0;
  int code = RunProgram([&](int wait) {
    if (wait == 3) {
      clicks = HeadlessClickCount();
      commands = Sim.CommandCount();
      HeadlessPostClose(MainWindow);
    }
  });
  ExpectNormalEnd(this, Sim, clicks, commands, code);
}
