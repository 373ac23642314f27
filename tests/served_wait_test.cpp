// The one wait of the program on the driven clock: it ends at its deadline
// or when what it waits for comes, and serves the windows and the services
// every ServeSlice meanwhile, across waits too.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/wait_service.h"
#include "platform/headless/headless.h"

namespace {

std::vector<uint32_t> WindowsServed, ServicesServed;
std::vector<bool> ServedForBoard;
int OtherServed;

void RecordService() {
  ServicesServed.push_back(PlatTickCount());
  ServedForBoard.push_back(WaitingForBoard());
}
void OtherService() { OtherServed++; }

// A board that sends `Bytes` at `At` after the connection begins.
struct LateBoard : HeadlessBoardModel {
  uint32_t At = 0;
  std::string Bytes;
  bool Closes = false;
  bool Accept(uint32_t now, std::vector<HeadlessArrival>* out) override {
    out->push_back({now + At, Bytes, Closes});
    return true;
  }
  void Take(const char*, int, uint32_t,
            std::vector<HeadlessArrival>*) override {}
};

class ServedWaitTest : public ::testing::Test {
 protected:
  void SetUp() override {
    HeadlessReset();
    RemoveAllWaitServices();
    WindowsServed.clear();
    ServicesServed.clear();
    ServedForBoard.clear();
    OtherServed = 0;
    HeadlessSetServeHook([] {
      WindowsServed.push_back(PlatTickCount());
      EXPECT_TRUE(WaitingForBoard());
    });
  }
  void TearDown() override {
    RemoveAllWaitServices();
    HeadlessSetBoardModel(nullptr);
    HeadlessReset();
  }

  // A connection to the board model, begun at the current tick.
  PlatSocket Connect(LateBoard* board) {
    HeadlessSetBoardModel(board);
    PlatSocket s = PlatStreamSocket();
    EXPECT_EQ(PlatConnectStart(s, PlatDottedAddress("127.0.0.1"), 50290),
              ConnectDone);
    return s;
  }
};

std::vector<uint32_t> Ticks(uint32_t from, uint32_t to, uint32_t step) {
  std::vector<uint32_t> t;
  for (uint32_t at = from; at <= to; at += step) t.push_back(at);
  return t;
}

}  // namespace

TEST_F(ServedWaitTest, ATimeWaitEndsAtItsDeadlineServingAtTheOneSpacing) {
  AddWaitService(RecordService);
  HeadlessSetClock(1000);
  WaitClock clock = StartWaitClock();
  WaitFor nothing = WaitForNothing();
  EXPECT_EQ(ServedWait(&clock, 95, &nothing), WaitDeadline);
  EXPECT_EQ(PlatTickCount(), 1095u);
  // Never served before: at once, then every ServeSlice.
  EXPECT_EQ(WindowsServed, Ticks(1000, 1080, ServeSlice));
  EXPECT_EQ(ServicesServed, WindowsServed);
  for (bool b : ServedForBoard) EXPECT_TRUE(b);
  EXPECT_FALSE(WaitingForBoard());
  for (int ms : HeadlessSleeps()) EXPECT_LE(ms, (int)ServeSlice);

  // The next wait goes on where this one left off: the last serving was
  // 15 ms before it began.
  WindowsServed.clear();
  ServedPause(30);
  EXPECT_EQ(PlatTickCount(), 1125u);
  EXPECT_EQ(WindowsServed, std::vector<uint32_t>({1100, 1120}));
}

TEST_F(ServedWaitTest, ABytesWaitEndsWhenTheyComeOrAtItsDeadline) {
  LateBoard board;
  board.At = 70;
  board.Bytes = "OK\r\n";
  HeadlessSetClock(5000);
  PlatSocket s = Connect(&board);
  char got[16] = {};
  WaitClock clock = StartWaitClock();
  WaitFor bytes = WaitForBytesOn(s, got, (int)sizeof got);
  EXPECT_EQ(ServedWait(&clock, 1000, &bytes), WaitCame);
  EXPECT_EQ(bytes.Got, 4);
  EXPECT_EQ(std::string(got, 4), "OK\r\n");
  EXPECT_EQ(PlatTickCount(), 5070u);
  EXPECT_EQ(WaitTime(clock), 70);
  EXPECT_EQ(WindowsServed, Ticks(5000, 5060, ServeSlice));

  // Nothing more comes: the deadline, on the same clock.
  EXPECT_EQ(ServedWait(&clock, 130, &bytes), WaitDeadline);
  EXPECT_EQ(PlatTickCount(), 5130u);
  PlatCloseSocket(s);

  // A board that closes: said so at once.
  board.At = 30;
  board.Bytes.clear();
  board.Closes = true;
  s = Connect(&board);
  clock = StartWaitClock();
  bytes = WaitForBytesOn(s, got, (int)sizeof got);
  EXPECT_EQ(ServedWait(&clock, 1000, &bytes), WaitClosed);
  EXPECT_EQ(PlatTickCount(), 5160u);
  PlatCloseSocket(s);
}

// The bound holds by the clock as well as by the waits asked: a serving
// that takes long (a slow repaint) shortens the wait, and a clock that
// jumped beyond its reach (a sleep of weeks) has passed every bound.
TEST_F(ServedWaitTest, TheClockCountsWhenItRunsAheadOfTheWaits) {
  HeadlessSetServeHook([] { HeadlessAdvanceClock(250); });
  WaitClock clock = StartWaitClock();
  WaitFor nothing = WaitForNothing();
  EXPECT_EQ(ServedWait(&clock, 1000, &nothing), WaitDeadline);
  EXPECT_EQ(HeadlessServeCount(), 4);
  int slept = 0;
  for (int ms : HeadlessSleeps()) slept += ms;
  EXPECT_LT(slept, 5 * ServeSlice);

  HeadlessSetServeHook([] {
    if (HeadlessServeCount() == 6) HeadlessSystemSleep(30LL * 86400000, false);
  });
  ServedPause(10000);
  EXPECT_EQ(HeadlessServeCount(), 6);
}

TEST_F(ServedWaitTest, TheEventWaitIsCutOnlyForAService) {
  ASSERT_TRUE(PlatOpenWindow(0, FrameMain, "W", 100, 100, true, 0, 0));
  // Without a service: one wait of the system, whole.
  WaitClock clock = StartWaitClock();
  WaitFor event = WaitForEventOfWindows();
  int waits = HeadlessWaitCount();
  EXPECT_EQ(ServedWait(&clock, 500, &event), WaitDeadline);
  EXPECT_EQ(event.Event.Kind, EventNone);
  EXPECT_EQ(HeadlessWaitCount() - waits, 1);
  EXPECT_EQ(PlatTickCount(), 500u);

  // A deadline already past: what is there, without waiting.
  clock = StartWaitClock();
  EXPECT_EQ(ServedWait(&clock, 0, &event), WaitDeadline);
  EXPECT_EQ(PlatTickCount(), 500u);

  // With services: each served every ServeSlice, not as a wait for the
  // board, counted from the end of the last event wait (which served the
  // windows); the window's timer ends the wait at its tick.
  AddWaitService(RecordService);
  AddWaitService(OtherService);
  ASSERT_TRUE(PlatAddTimer(0, 7, 110));
  clock = StartWaitClock();
  EXPECT_EQ(ServedWait(&clock, 500, &event), WaitCame);
  EXPECT_EQ(event.Event.Kind, EventTimer);
  EXPECT_EQ(event.Event.Number, 7);
  EXPECT_EQ(PlatTickCount(), 610u);
  EXPECT_EQ(ServicesServed, Ticks(520, 600, ServeSlice));
  EXPECT_EQ(OtherServed, (int)ServicesServed.size());
  for (bool b : ServedForBoard) EXPECT_FALSE(b);
  EXPECT_TRUE(WindowsServed.empty());

  // The operator's click ends it at once.
  ASSERT_TRUE(PlatCreateControl(0, 40, KindButton, 0, 0, 10, 10, "B", 0));
  ASSERT_TRUE(HeadlessPostClick(40));
  clock = StartWaitClock();
  EXPECT_EQ(ServedWait(&clock, 500, &event), WaitCame);
  EXPECT_EQ(event.Event.Kind, EventControl);
  EXPECT_EQ(PlatTickCount(), 610u);
}

TEST_F(ServedWaitTest, ServicesAreAFewEachServedOnce) {
  EXPECT_FALSE(AddWaitService(nullptr));
  EXPECT_TRUE(AddWaitService(OtherService));
  EXPECT_TRUE(AddWaitService(OtherService));
  ServeWaitServices();
  EXPECT_EQ(OtherServed, 1);
  EXPECT_TRUE(AddWaitService(RecordService));
  RemoveWaitService(OtherService);
  ServeWaitServices();
  EXPECT_EQ(OtherServed, 1);
  EXPECT_EQ(ServicesServed.size(), 1u);
  static int more;
  WaitService fill[] = {[] { more++; }, [] { more++; }, [] { more++; },
                        [] { more++; }};
  int added = 0;
  for (WaitService f : fill) added += AddWaitService(f) ? 1 : 0;
  EXPECT_EQ(added, WaitServiceCount - 1);
}
