// The board link over real loopback TCP against the simulated board: the
// bytes on the wire, the reply-buffer rules and the bounded reply wait.
#include <arpa/inet.h>
#include <sys/ioctl.h>

#include <cstring>

#include "app/startup.h"
#include "board/connection.h"
#include "tests/program_fixture.h"

using BoardLink = BoardTest;

static std::string BufferBytes(const ReplyBuffer& b, int n) {
  return std::string((const char*)b.Bytes, n);
}

TEST_F(BoardLink, TextCommandsEndInTheFiveByteSuffix) {
  ConnectOnly();
  SendCommand("Help");
  ExpectCommands(1);
  EXPECT_EQ(ReceivedBytes(),
            std::string("\x48\x65\x6C\x70\x20\x5C\x72\x5C\x6E"));

  Sim.ClearLog();
  SendCommand("setport 3.1");
  ExpectCommands(1);
  std::string wire = ReceivedBytes();
  EXPECT_EQ(wire.size(), 16u);
  EXPECT_EQ(wire, "setport 3.1 \\r\\n");
  EXPECT_EQ(wire.find('\r'), std::string::npos);
  EXPECT_EQ(wire.find('\n'), std::string::npos);
}

TEST_F(BoardLink, BlockIsTextZeroByteAndWhatTheBufferHeld) {
  ConnectOnly();
  memset(AppState.CommandBuffer.Bytes, 'x', CommandBufferSize);
  SendBlock("writelcd 1.Hallo");
  ExpectCommands(1);
  std::string wire = ReceivedBytes();
  ASSERT_EQ(wire.size(), 100u);
  EXPECT_EQ(wire.substr(0, 16), "writelcd 1.Hallo");
  EXPECT_EQ(wire[16], '\0');
  EXPECT_EQ(wire.substr(17), std::string(83, 'x'));
  EXPECT_EQ(wire.find('\r'), std::string::npos);
}

TEST_F(BoardLink, OverlongBlockTextIsCutAndNeverOverflowsTheBuffer) {
  ConnectOnly();
  std::string text = "writelcd 1." + std::string(150, 'A');
  SendBlock(text);
  ExpectCommands(1);
  std::string wire = ReceivedBytes();
  ASSERT_EQ(wire.size(), 100u);
  EXPECT_EQ(wire.substr(0, 99), text.substr(0, 99));
  EXPECT_EQ(wire[99], '\0');
}

TEST_F(BoardLink, ShorterReplyKeepsTheRestOfTheLongerOne) {
  ConnectOnly();
  Sim.SetReply("GETIP", "192.168.100.200\r\n", 1);
  SendCommand("Getip");
  EXPECT_EQ(ReceiveReply(&AppState.IpBuffer, 100), 17);
  SendCommand("Getip");
  EXPECT_EQ(ReceiveReply(&AppState.IpBuffer, 100), 14);  // 192.168.1.50\r\n
  // No zero byte is added after a receive: the earlier reply's tail stays.
  EXPECT_EQ(ReplyText(&AppState.IpBuffer), "192.168.1.50\r\n0\r\n");
}

TEST_F(BoardLink, ReplyLongerThanTheReceiveStaysForTheNextCommand) {
  ConnectOnly();
  std::string help(200, 'H');
  help += std::string(50, 'T');
  Sim.SetReply("HELP", help);
  SendCommand("Help");
  ASSERT_TRUE(Sim.WaitFor(
      [&] {
        int pending = 0;
        ioctl((int)AppState.BoardConnection, FIONREAD, &pending);
        return pending == 250;
      },
      5000));
  EXPECT_EQ(ReceiveReply(&AppState.PingBuffer, 200), 200);
  EXPECT_EQ(BufferBytes(AppState.PingBuffer, 200), std::string(200, 'H'));
  // A full buffer without a zero byte: the text runs to the buffer's end.
  EXPECT_EQ(ReplyText(&AppState.PingBuffer), std::string(200, 'H'));

  SendCommand("Version");
  int n = ReceiveReply(&AppState.VersionBuffer, 200);
  ASSERT_GE(n, 50);
  EXPECT_EQ(BufferBytes(AppState.VersionBuffer, 50), std::string(50, 'T'));
}

TEST_F(BoardLink, ClosedConnectionReturnsAtOnceAndLeavesTheBuffer) {
  ConnectOnly();
  SendCommand("Getgw");
  ASSERT_GT(ReceiveReply(&AppState.GatewayBuffer, 100), 0);
  std::string before = BufferBytes(AppState.GatewayBuffer, 100);
  Sim.CloseNow();
  ASSERT_TRUE(Sim.WaitFor([&] { return !Sim.Connected(); }, 5000));
  for (int i = 0; i < 20; i++) {
    SendCommand("Getgw");
    EXPECT_EQ(ReceiveReply(&AppState.GatewayBuffer, 100), 0);
  }
  EXPECT_EQ(BufferBytes(AppState.GatewayBuffer, 100), before);
  // A closed connection is not a silent board: nothing was waited for.
  EXPECT_EQ(AppState.ReplyOutOfStep, 0);
  EXPECT_GT(AppState.ReplyWaitLeft, ReplyWaitPerPass / 2);
}

TEST_F(BoardLink, SilentBoardCostsABoundedWaitPerPass) {
  ConnectOnly();
  Sim.SetSilent(true);
  RenewReplyWait();
  for (int i = 0; i < 14; i++) {
    SendCommand("Getmask");
    EXPECT_EQ(ReceiveReply(&AppState.MaskBuffer, 100), 0);
    EXPECT_EQ(AppState.ReplyOutOfStep, 1);
  }
  // Two waits of the limit use up the pass's allowance; the other twelve
  // receives of the pass did not wait.
  EXPECT_LE(AppState.ReplyWaitLeft, 0);
  EXPECT_GE(AppState.ReplyWaitLeft, ReplyWaitPerPass - 3 * ReplyWaitLimit);
}

TEST_F(BoardLink, LateReplyIsNotTakenForTheNextOne) {
  ConnectOnly();
  Sim.SetReplyDelay(ReplyWaitLimit + 300);
  RenewReplyWait();
  SendCommand("Help");
  EXPECT_EQ(ReceiveReply(&AppState.PingBuffer, 200), 0);
  Sim.SetReplyDelay(0);
  // Let the late Help reply arrive.
  ASSERT_TRUE(Sim.WaitFor(
      [&] {
        int pending = 0;
        ioctl((int)AppState.BoardConnection, FIONREAD, &pending);
        return pending > 0;
      },
      5000));

  RenewReplyWait();
  SendCommand("Getip");
  int n = ReceiveReply(&AppState.IpBuffer, 100);
  ASSERT_GT(n, 0);
  EXPECT_EQ(BufferBytes(AppState.IpBuffer, n), "192.168.1.50\r\n");
  EXPECT_EQ(AppState.ReplyOutOfStep, 0);
}

TEST_F(BoardLink, NothingIsSentOrReceivedWithoutAConnection) {
  ZeroAppState();
  InitDefaults();
  SendCommand("Help");
  EXPECT_EQ(ReceiveReply(&AppState.PingBuffer, 200), 0);
  SendBlock("writelcd 1.x");  // still lands in the buffer
  EXPECT_EQ(ReplyText(&AppState.CommandBuffer), "writelcd 1.x");
  EXPECT_EQ(Sim.ConnectionCount(), 0u);
  ReleaseFacilities();
}

TEST(Resolving, DottedFirstThenKnownNamesAndNeverTheBroadcastAddress) {
  HeadlessReset();
  uint32_t a = 0;
  EXPECT_TRUE(ResolveBoardAddress("127.0.0.1", &a));
  EXPECT_EQ(a, htonl(0x7F000001));
  EXPECT_TRUE(ResolveBoardAddress("localhost", &a));
  EXPECT_EQ(a, htonl(0x7F000001));
  HeadlessAddHost("brunnen", htonl(0x7F000002));
  EXPECT_TRUE(ResolveBoardAddress("brunnen", &a));
  EXPECT_EQ(a, htonl(0x7F000002));
  EXPECT_FALSE(ResolveBoardAddress("255.255.255.255", &a));
  HeadlessAddHost("broadcast", 0xFFFFFFFFu);
  EXPECT_FALSE(ResolveBoardAddress("broadcast", &a));
  EXPECT_FALSE(ResolveBoardAddress("", &a));
  EXPECT_FALSE(ResolveBoardAddress("unknown-board", &a));
}
