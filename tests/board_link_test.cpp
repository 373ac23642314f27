// The board link over real loopback TCP against the simulated board: the
// bytes on the wire, the reply-buffer rules, the wait for a reply, its
// pieces, the loss of the connection and the new one.
#include <arpa/inet.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <chrono>
#include <cstring>

#include "app/startup.h"
#include "board/commands.h"
#include "board/link.h"
#include "board/reply_driver.h"
#include "tests/program_fixture.h"
#include "tests/support/program_start.h"

using BoardLink = RealBoardTest;

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
  memset(AppState.Settings.CommandBuffer.Bytes, 'x', CommandBufferSize);
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
  EXPECT_EQ(ReceiveReply(&AppState.Settings.IpBuffer, 100, OneLineReply).Kept,
            17);
  SendCommand("Getip");
  EXPECT_EQ(ReceiveReply(&AppState.Settings.IpBuffer, 100, OneLineReply).Kept,
            14);  // 192.168.1.50\r\n
  // No zero byte is added after a receive: the earlier reply's tail stays.
  EXPECT_EQ(ReplyText(&AppState.Settings.IpBuffer), "192.168.1.50\r\n0\r\n");
}

// A reply longer than its receive is read to its end: its first bytes are
// kept, the rest is thrown away instead of becoming the beginning of the
// next command's reply, and the link is in doubt.
TEST_F(BoardLink, ReplyLongerThanTheReceiveIsReadToItsEnd) {
  ConnectOnly();
  for (const char* ending : {"\r\n", ""}) {
    SCOPED_TRACE(*ending ? "with its line feed" : "without a line feed");
    std::string help = std::string(200, 'H') + std::string(48, 'T') + ending;
    Sim.SetReply("HELP", help, 1);
    SendCommand("Help");
    ReceivedReply reply =
        ReceiveReply(&AppState.Settings.PingBuffer, 200, LinesReply);
    EXPECT_EQ(reply.Kept, 200);
    EXPECT_EQ(BufferBytes(AppState.Settings.PingBuffer, 200),
              std::string(200, 'H'));
    // A full buffer without a zero byte: the text runs to the buffer's end.
    EXPECT_EQ(ReplyText(&AppState.Settings.PingBuffer), std::string(200, 'H'));
    EXPECT_TRUE(reply.InDoubt);
    EXPECT_FALSE(reply.Faulty);

    SendCommand("Version");
    int n =
        ReceiveReply(&AppState.Settings.VersionBuffer, 200, LinesReply).Kept;
    EXPECT_EQ(BufferBytes(AppState.Settings.VersionBuffer, n),
              "uC: ATmega32\r\nVer: 1.5\r\nNIC: ENC28J60\r\n");
  }
  EXPECT_TRUE(BoardConnected());
}

// A reply written a line at a time is read whole; a one-line reply ends
// at its line feed, and a second line behind it is no part of it.
TEST_F(BoardLink, RepliesOfSeveralLinesAndExtraLines) {
  ConnectOnly();
  Sim.SetReplySplit(3, 10);  // Version's three lines, 10 ms apart
  SendCommand("Version");
  ReceivedReply reply =
      ReceiveReply(&AppState.Settings.VersionBuffer, 200, LinesReply);
  EXPECT_EQ(BufferBytes(AppState.Settings.VersionBuffer, reply.Kept),
            "uC: ATmega32\r\nVer: 1.5\r\nNIC: ENC28J60\r\n");
  Sim.SetReplySplit(0, 0);
  EXPECT_FALSE(reply.InDoubt);

  Sim.SetReply("GETADC 1", "512\r\n600\r\n", 1);
  SendCommand("GETADC 1");
  reply = ReceiveReply(&AppState.Settings.AdcBuffer, 100, OneLineReply);
  EXPECT_EQ(BufferBytes(AppState.Settings.AdcBuffer, reply.Kept), "512\r\n");
  EXPECT_TRUE(reply.InDoubt);
  EXPECT_TRUE(reply.Faulty);
  EXPECT_TRUE(reply.Read.ExtraLine);
  EXPECT_EQ(WaitUntilQuiet(LinkQuietTime), LinkQuiet);
}

static long MsSince(std::chrono::steady_clock::time_point start) {
  return (long)std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now() - start)
      .count();
}

TEST_F(BoardLink, ClosedOrResetConnectionIsLostAtOnceAndLeavesTheBuffer) {
  for (bool reset : {false, true}) {
    SCOPED_TRACE(reset ? "reset" : "closed");
    if (reset) {
      ReleaseFacilities();
      Sim.ClearLog();
      ConnectOnly();
      ASSERT_TRUE(Sim.WaitForConnection(2, 5000));
    } else {
      ConnectOnly();
    }
    SendCommand("Getgw");
    ASSERT_GT(
        ReceiveReply(&AppState.Settings.GatewayBuffer, 100, OneLineReply).Kept,
        0);
    std::string before = BufferBytes(AppState.Settings.GatewayBuffer, 100);
    HeadlessSetClock(50000);
    if (reset)
      Sim.ResetNow();
    else
      Sim.CloseNow();
    ASSERT_TRUE(Sim.WaitFor([&] { return !Sim.Connected(); }, 5000));
    auto start = std::chrono::steady_clock::now();
    SendCommand("Getgw");
    EXPECT_EQ(
        ReceiveReply(&AppState.Settings.GatewayBuffer, 100, OneLineReply).Kept,
        0);
    EXPECT_LT(MsSince(start), 1000);  // a closed connection costs no wait
    EXPECT_FALSE(BoardConnected());
    EXPECT_EQ(AppState.Link.ConnectionLost, 1);
    EXPECT_EQ(AppState.Link.NextReconnectTime, 50000 + ReconnectInterval);
    EXPECT_EQ(BufferBytes(AppState.Settings.GatewayBuffer, 100), before);
    // Nothing goes out on a lost connection.
    EXPECT_FALSE(SendCommand("Getgw"));
    EXPECT_EQ(
        ReceiveReply(&AppState.Settings.GatewayBuffer, 100, OneLineReply).Kept,
        0);
  }
}

TEST_F(BoardLink, SilentBoardIsLostAfterTheReplyBoundWithTheWindowsServed) {
  ConnectOnly();
  Sim.SetSilent(true);
  int servedBefore = HeadlessServeCount();
  auto start = std::chrono::steady_clock::now();
  SendCommand("Getmask");
  EXPECT_EQ(ReceiveReply(&AppState.Settings.MaskBuffer, 100, OneLineReply).Kept,
            0);
  long waited = MsSince(start);
  EXPECT_GE(waited, ReplyStartLimit);
  EXPECT_LT(waited, ReplyStartLimit + 1500);
  EXPECT_FALSE(BoardConnected());
  EXPECT_EQ(AppState.Link.ConnectionLost, 1);
  // Served at least every few slices while waiting.
  EXPECT_GE(HeadlessServeCount() - servedBefore,
            ReplyStartLimit / ServeSlice / 4);
  // The board sees the connection closed.
  EXPECT_TRUE(Sim.WaitFor([&] { return !Sim.Connected(); }, 5000));
}

TEST_F(BoardLink, LateRepliesWithinTheBoundAreTakenForTheirOwnCommands) {
  ConnectOnly();
  // Every reply 1000 ms late, and one 1250 ms late: each receive takes its
  // own command's reply, however long it takes.
  Sim.SetReplyDelay(1000);
  SendCommand("Getip");
  int n = ReceiveReply(&AppState.Settings.IpBuffer, 100, OneLineReply).Kept;
  EXPECT_EQ(BufferBytes(AppState.Settings.IpBuffer, n), "192.168.1.50\r\n");
  Sim.SetReplyDelay(0);
  Sim.DelayReplyOnce("GETSTATUS", 1250);
  Sim.SetOutput(3, true);
  SendCommand("Getstatus");
  n = ReceiveReply(&AppState.Settings.StatusBuffer, 200, OneLineReply).Kept;
  EXPECT_EQ(BufferBytes(AppState.Settings.StatusBuffer, n), "S00000100\r\n");
  Sim.SetLevel(100);
  SendCommand("GETADC 1");
  n = ReceiveReply(&AppState.Settings.AdcBuffer, 100, OneLineReply).Kept;
  EXPECT_EQ(BufferBytes(AppState.Settings.AdcBuffer, n), "100\r\n");
  EXPECT_TRUE(BoardConnected());
}

// A reply split on its way is taken whole, however far apart its pieces:
// a rest left for the next receive would make every later reply one
// command behind, the level of GETADC 1 included; here the reply of the
// command after it is its own.
TEST_F(BoardLink, AReplySplitOnItsWayIsTakenWhole) {
  ConnectOnly();
  Sim.SetNetwork("10.20.30.40", "", "10.20.30.1");
  Sim.SetAnalog(2, 100);
  for (int gap : {1, 20, 400, 1250}) {
    SCOPED_TRACE(gap);
    Sim.SetReplySplit(3, gap);
    SendCommand("Getip");
    int n = ReceiveReply(&AppState.Settings.IpBuffer, 100, OneLineReply).Kept;
    EXPECT_EQ(BufferBytes(AppState.Settings.IpBuffer, n), "10.20.30.40\r\n");
    Sim.SetReplySplit(0, 0);
    SendCommand("GETADC 2");
    n = ReceiveReply(&AppState.Settings.AdcBuffer, 100, OneLineReply).Kept;
    EXPECT_EQ(BufferBytes(AppState.Settings.AdcBuffer, n), "100\r\n");
  }
  EXPECT_TRUE(BoardConnected());
}

// A reply that breaks off before its line feed and stays so for the
// reply bound: the board is taken for gone, as one that never answers.
TEST_F(BoardLink, AReplyBrokenOffIsALostConnection) {
  ConnectOnly();
  Sim.SetReply("GETADC 1", "10");
  SendCommand("GETADC 1");
  EXPECT_EQ(ReceiveReply(&AppState.Settings.AdcBuffer, 100, OneLineReply).Kept,
            0);
  EXPECT_FALSE(BoardConnected());
  EXPECT_TRUE(AppState.Link.ConnectionLost);
  // A reply that overfills the receive without a line feed ends once the
  // board falls silent; its excess is thrown away.
  Sim.ClearReplies();
  ASSERT_TRUE(Reconnect());
  Sim.SetReply("GETADC 1", std::string(150, '7'));
  SendCommand("GETADC 1");
  ReceivedReply reply =
      ReceiveReply(&AppState.Settings.AdcBuffer, 100, OneLineReply);
  EXPECT_EQ(reply.Kept, 100);
  EXPECT_TRUE(BoardConnected());
  EXPECT_TRUE(reply.InDoubt);
}

TEST_F(BoardLink, ReconnectSendsTheOwedOffCommandsFirst) {
  ConnectOnly();
  Sim.SetOutput(1, true);
  Sim.SetOutput(3, true);
  AppState.Commands.OffOwed[1] = 1;
  AppState.Commands.OffOwed[3] = 1;
  Sim.CloseNow();
  ASSERT_TRUE(Sim.WaitFor([&] { return !Sim.Connected(); }, 5000));
  SendCommand("Help");
  EXPECT_EQ(ReceiveReply(&AppState.Settings.PingBuffer, 200, LinesReply).Kept,
            0);
  ASSERT_EQ(AppState.Link.ConnectionLost, 1);
  Sim.ClearLog();
  ASSERT_TRUE(Reconnect());
  EXPECT_TRUE(BoardConnected());
  EXPECT_EQ(AppState.Link.ConnectionLost, 0);
  EXPECT_EQ(CommandTexts(),
            (std::vector<std::string>{"setport 1.0", "setport 3.0"}));
  EXPECT_FALSE(Sim.Output(1));
  EXPECT_FALSE(Sim.Output(3));
  EXPECT_EQ(AppState.Commands.OffOwed[1], 0);
  EXPECT_EQ(AppState.Commands.OffOwed[3], 0);
}

// What is owed follows SetPort's own arguments: an "on" with OweOff owes
// its output's "off" even when it cannot go out, an "off" owes it while it
// cannot reach the board, and only an "off" that completed, of that very
// output, settles it.
TEST_F(BoardLink, SetPortKeepsWhatIsOwedFromItsArguments) {
  ConnectOnly();
  EXPECT_TRUE(SetPort(1, true, OweOff));
  EXPECT_TRUE(AppState.Commands.OffOwed[1]);
  EXPECT_TRUE(SetPort(6, true, OweNothing));
  EXPECT_TRUE(SetPort(6, false, OweNothing));
  EXPECT_FALSE(AppState.Commands.OffOwed[6]);
  EXPECT_TRUE(AppState.Commands.OffOwed[1])
      << "another output's off settled it";
  EXPECT_FALSE(SetPort(9, false, OweOff));
  EXPECT_FALSE(SetPort(0, true, OweOff));
  EXPECT_TRUE(SetPort(1, false, OweOff));
  EXPECT_FALSE(AppState.Commands.OffOwed[1]);
  EXPECT_EQ(CommandTexts(),
            (std::vector<std::string>{"setport 1.1", "setport 6.1",
                                      "setport 6.0", "setport 1.0"}));
  EXPECT_TRUE(Sim.WaitFor([&] { return Sim.Output(6) == false; }, 5000));

  Sim.CloseNow();
  ASSERT_TRUE(Sim.WaitFor([&] { return !Sim.Connected(); }, 5000));
  EXPECT_FALSE(SetPort(3, false, OweOff));
  EXPECT_TRUE(AppState.Commands.OffOwed[3]);
  EXPECT_FALSE(SetPort(2, true, OweOff));
  EXPECT_TRUE(AppState.Commands.OffOwed[2]) << "an on that may have gone out";
  EXPECT_FALSE(SetPort(7, false, OweNothing));
  EXPECT_FALSE(AppState.Commands.OffOwed[7]);
}

TEST_F(BoardLink, ReconnectToABoardThatDoesNotListenFailsWithinItsBound) {
  ConnectOnly();
  Sim.SetListening(false);
  ASSERT_TRUE(Sim.WaitFor([&] { return !Sim.Connected(); }, 5000));
  SendCommand("Help");
  EXPECT_EQ(ReceiveReply(&AppState.Settings.PingBuffer, 200, LinesReply).Kept,
            0);
  HeadlessSetClock(7000);
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(Reconnect());
  EXPECT_LT(MsSince(start), ConnectLimit + 500);
  EXPECT_EQ(AppState.Link.ConnectionLost, 1);
  EXPECT_EQ(AppState.Link.NextReconnectTime, 7000 + ReconnectInterval);
  Sim.SetListening(true);
  // The board listens again on the same port.
  EXPECT_TRUE(Sim.WaitFor([&] { return Reconnect(); }, 5000));
  EXPECT_TRUE(Sim.WaitForConnection(2, 5000));
}

// The bound holds by the clock as well: waits that take longer than asked
// (a slow repaint, a coarse system timer) end the connect as early as the
// time they took says.
TEST_F(BoardLink, BoundedConnectCountsTheTimeTheClockShows) {
  int port = 0;
  int listener = SilentListener(&port);
  ASSERT_GE(listener, 0);
  FullAcceptQueue queue;
  ASSERT_TRUE(queue.Fill(port));
  HeadlessSetServeHook([] { HeadlessAdvanceClock(250); });
  int before = HeadlessServeCount();
  EXPECT_EQ(ConnectBounded("127.0.0.1", port, ConnectLimit), NoSocket);
  EXPECT_EQ(HeadlessServeCount() - before, ConnectLimit / 250);
  close(listener);
}

TEST_F(BoardLink, NothingIsSentOrReceivedWithoutAConnection) {
  StartState();
  SendCommand("Help");
  EXPECT_EQ(ReceiveReply(&AppState.Settings.PingBuffer, 200, LinesReply).Kept,
            0);
  SendBlock("writelcd 1.x");  // still lands in the buffer
  EXPECT_EQ(ReplyText(&AppState.Settings.CommandBuffer), "writelcd 1.x");
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
