// The headless stand-in behaves as the window system does where the
// program depends on it.

#include "platform/headless/headless.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "tests/support/blocking_connect.h"

namespace {

class Headless : public ::testing::Test {
 protected:
  void SetUp() override { HeadlessReset(); }
  void TearDown() override { HeadlessReset(); }

  void OpenWindowZero() {
    ASSERT_TRUE(PlatOpenWindow(0, FrameMain, "W", 540, 590, true, 0, 0));
  }
};

// The rest of the contract is checked on both layers by
// platform_conformance_test.cpp; here the operator's moves of the headless
// test API.
TEST_F(Headless, OperatorMovesStayInTheRange) {
  OpenWindowZero();
  PlatCreateControl(0, 101, KindTrackbar, 0, 0, 175, 20, "", 0);
  PlatSetRange(101, 1, 10);
  HeadlessMoveTrackbar(101, -3);
  EXPECT_EQ(PlatGetValue(101), 1);
  HeadlessMoveTrackbar(101, 7);
  EXPECT_EQ(PlatGetValue(101), 7);
  EXPECT_EQ(HeadlessFocus(), 101);
  PlatEnable(101, false);
  HeadlessMoveTrackbar(101, 9);
  EXPECT_EQ(PlatGetValue(101), 7);

  // The arrows hand the focus to their field.
  PlatCreateControl(0, 83, KindSpin, 0, 0, 70, 20, "9999", 0);
  PlatSetRange(83, 1, 10000);
  HeadlessSpinStep(83, +1);
  EXPECT_EQ(PlatGetText(83), "10000");
  EXPECT_EQ(HeadlessFocus(), 83);
}

TEST_F(Headless, ClicksReachOnlyEnabledControlsAndToggleTheCheckBox) {
  OpenWindowZero();
  PlatCreateControl(0, 110, KindCheckBox, 0, 0, 18, 25, "", 0);
  PlatCreateControl(0, 81, KindButton, 0, 0, 70, 20, "EIN / AUS", 0);
  PlatCreateControl(0, 13, KindLabel, 0, 0, 70, 20, "Gerät", 0);
  PlatEnable(81, false);

  EXPECT_FALSE(HeadlessPostClick(81));
  EXPECT_FALSE(HeadlessPostClick(13));
  EXPECT_FALSE(HeadlessPostClick(999));
  EXPECT_TRUE(HeadlessPostClick(110));
  EXPECT_TRUE(PlatIsChecked(110));
  EXPECT_EQ(HeadlessFocus(), 110);

  PlatEvent e = PlatWaitEvent(500);
  EXPECT_EQ(e.Kind, EventControl);
  EXPECT_EQ(e.Number, 110);
  EXPECT_EQ(PlatWaitEvent(500).Kind, EventNone);

  HeadlessPostClick(110);
  EXPECT_FALSE(PlatIsChecked(110));

  // Closing the window takes its controls and their queued clicks along.
  PlatCloseWindow(0);
  EXPECT_EQ(HeadlessFindControl(110), nullptr);
  EXPECT_EQ(HeadlessFocus(), 0);
  EXPECT_EQ(PlatWaitEvent(0).Kind, EventNone);
  EXPECT_EQ(HeadlessFindWindow(0)->OpenCount, 1);
  EXPECT_FALSE(HeadlessFindWindow(0)->Open);
}

TEST_F(Headless, RichAppendBreaksLinesOnlyAfterText) {
  OpenWindowZero();
  PlatCreateControl(0, 98, KindRichText, 0, 0, 400, 50, "", PropReadOnly);
  PlatRichAppend(98, "");
  PlatRichAppend(98, "eins");
  PlatRichAppend(98, "");
  PlatRichAppend(98, "zwei\rdrei\r\nvier");
  EXPECT_EQ(PlatGetText(98), "eins\r\rzwei\rdrei\rvier");
  PlatRichClear(98);
  PlatRichAppend(98, "neu");
  EXPECT_EQ(PlatGetText(98), "neu");
}

TEST_F(Headless, WindowsAreCentredAndCutToTheScreen) {
  OpenWindowZero();
  const HeadlessWindow* w = HeadlessFindWindow(0);
  EXPECT_EQ(w->OuterWidth, 546);
  EXPECT_EQ(w->OuterHeight, 615);
  EXPECT_EQ(w->X, (1024 - 546) / 2);
  EXPECT_EQ(w->Y, (768 - 615) / 2);

  ASSERT_TRUE(PlatOpenWindow(1, FrameTitleOnly, "D", 540, 590, false, w->X + 20,
                             w->Y + 20));
  int x, y;
  ASSERT_TRUE(PlatWindowOuterPosition(1, &x, &y));
  EXPECT_EQ(x, w->X + 20);

  HeadlessSetScreenSize(800, 600);
  OpenWindowZero();  // replaces the open one
  w = HeadlessFindWindow(0);
  EXPECT_EQ(w->OpenCount, 2);
  EXPECT_EQ(w->OuterHeight, 600);
  EXPECT_EQ(w->Y, 0);
  EXPECT_EQ(w->X, (800 - 546) / 2);

  HeadlessFaultSettings().MainWindowFails = true;
  EXPECT_FALSE(PlatOpenWindow(0, FrameMain, "W", 540, 590, true, 0, 0));
}

TEST_F(Headless, WaitRunsOnTheDrivenClockAndMergesTicks) {
  HeadlessSetClock(0xFFFFFE00u);  // the tick count wraps during the test
  OpenWindowZero();
  ASSERT_TRUE(PlatAddTimer(0, 123, 1000));
  uint32_t start = PlatTickCount();

  EXPECT_EQ(PlatWaitEvent(500).Kind, EventNone);
  EXPECT_EQ(PlatTickCount() - start, 500u);
  PlatEvent e = PlatWaitEvent(500);
  EXPECT_EQ(e.Kind, EventTimer);
  EXPECT_EQ(e.Number, 123);
  EXPECT_EQ(PlatTickCount() - start, 1000u);

  // A busy stretch of 3.5 intervals leaves one tick, and the timer keeps
  // its grid: the next tick comes at 5000.
  PlatSleep(3500);
  EXPECT_EQ(HeadlessSleeps(), std::vector<int>{3500});
  HeadlessPostClose(0);
  e = PlatWaitEvent(500);
  EXPECT_EQ(e.Kind, EventClose);  // posted events come before the tick
  EXPECT_EQ(e.Number, 0);
  EXPECT_EQ(PlatWaitEvent(500).Kind, EventTimer);
  EXPECT_EQ(PlatTickCount() - start, 4500u);
  EXPECT_EQ(PlatWaitEvent(500).Kind, EventTimer);
  EXPECT_EQ(PlatTickCount() - start, 5000u);

  // The hook acts for the operator when nothing is queued.
  HeadlessSetWaitHook([] { HeadlessPostOther(); });
  EXPECT_EQ(PlatWaitEvent(500).Kind, EventOther);
  EXPECT_EQ(PlatTickCount() - start, 5000u);

  HeadlessSetWaitLimit(HeadlessWaitCount());
  e = PlatWaitEvent(500);
  EXPECT_EQ(e.Kind, EventClose);
  EXPECT_EQ(e.Number, 0);
}

TEST_F(Headless, ReceiveWaitsBoundedOnALoopbackConnection) {
  int listener = socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_GE(listener, 0);
  sockaddr_in at{};
  at.sin_family = AF_INET;
  at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof at;
  ASSERT_EQ(bind(listener, (sockaddr*)&at, sizeof at), 0);
  ASSERT_EQ(listen(listener, 1), 0);
  ASSERT_EQ(getsockname(listener, (sockaddr*)&at, &size), 0);

  ASSERT_TRUE(PlatSocketsStart());
  uint32_t address;
  ASSERT_TRUE(PlatLookupHost("localhost", &address));
  EXPECT_FALSE(PlatLookupHost("board.example", &address));
  EXPECT_EQ(PlatDottedAddress("127.0.0.1"), htonl(INADDR_LOOPBACK));
  EXPECT_EQ(PlatDottedAddress("board"), 0xFFFFFFFFu);

  PlatSocket s = PlatStreamSocket();
  ASSERT_NE(s, NoSocket);
  ASSERT_TRUE(
      BlockingConnect(s, PlatDottedAddress("127.0.0.1"), ntohs(at.sin_port)));
  int peer = accept(listener, nullptr, nullptr);
  ASSERT_GE(peer, 0);

  char buffer[16];
  int waited = -1;
  EXPECT_EQ(PlatReceive(s, buffer, sizeof buffer, 20, &waited),
            ReceiveTimedOut);
  EXPECT_GE(waited, 20);
  EXPECT_LT(waited, 1000);

  ASSERT_EQ(send(peer, "late", 4, 0), 4);
  ASSERT_EQ(PlatReceive(s, buffer, 2, 1000, &waited), 2);
  // What is left of it goes unread.
  PlatDiscardPending(s);
  EXPECT_EQ(PlatReceive(s, buffer, sizeof buffer, 0, &waited), ReceiveTimedOut);

  EXPECT_EQ(PlatSend(s, "ping", 4), 4);
  ASSERT_EQ(recv(peer, buffer, sizeof buffer, 0), 4);
  close(peer);
  EXPECT_EQ(PlatReceive(s, buffer, sizeof buffer, 1000, &waited),
            ReceiveClosed);
  // Sending into a closed connection fails instead of ending the process.
  int sent = 0;
  for (int i = 0; i < 100 && sent >= 0; i++) sent = PlatSend(s, "ping", 4);
  EXPECT_LT(sent, 0);
  PlatCloseSocket(s);
  close(listener);

  HeadlessFaultSettings().SocketsFail = true;
  EXPECT_FALSE(PlatSocketsStart());
}

TEST_F(Headless, ResetForgetsARunThatEnded) {
  PlatTakeZeroedMemory(100);
  unsigned char* b = PlatTakeZeroedMemory(1000);
  EXPECT_EQ(b[999], 0);
  EXPECT_EQ(HeadlessLiveMemoryBlocks(), 2);
  ASSERT_TRUE(PlatStartSound());
  ASSERT_TRUE(PlatLoadClick());
  PlatPlayClick();
  EXPECT_EQ(HeadlessClickCount(), 1);
  OpenWindowZero();
  PlatMessageBox("KORVALINEX: Problem", "Text");
  EXPECT_EQ(HeadlessMessageBoxes()[0].OpenWindows, std::vector<int>{0});
  PlatReleaseSound();
  PlatPlayClick();
  EXPECT_EQ(HeadlessClickCount(), 1);

  HeadlessReset();
  EXPECT_EQ(HeadlessLiveMemoryBlocks(), 0);
  EXPECT_EQ(HeadlessClickCount(), 0);
  EXPECT_TRUE(HeadlessMessageBoxes().empty());
  EXPECT_EQ(HeadlessFindWindow(0), nullptr);
  EXPECT_EQ(PlatTickCount(), 0u);
  EXPECT_STREQ(PlatBuildBoardAddress(), "127.0.0.1");
  EXPECT_EQ(PlatBuildBoardPort(), 50290);
}

}  // namespace

// A connect given its own destination port as its source is connected to
// itself (on loopback, with nothing listening there): it is no board, and
// the port is let go for the board that should listen on it.
TEST_F(Headless, AConnectionToItselfIsNoConnection) {
  ASSERT_TRUE(PlatSocketsStart());
  PlatSocket s = PlatStreamSocket();
  ASSERT_NE(s, NoSocket);
  sockaddr_in at{};
  at.sin_family = AF_INET;
  at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof at;
  ASSERT_EQ(bind((int)s, (sockaddr*)&at, sizeof at), 0);
  ASSERT_EQ(getsockname((int)s, (sockaddr*)&at, &size), 0);
  int state =
      PlatConnectStart(s, PlatDottedAddress("127.0.0.1"), ntohs(at.sin_port));
  for (int i = 0; i < 20 && state == ConnectPending; i++)
    state = PlatConnectWait(s, 100);
  EXPECT_EQ(state, (int)ConnectFailed);
  PlatCloseSocket(s);
}
