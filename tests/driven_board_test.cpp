// The board simulator on the driven clock, as the program's sockets meet
// it: replies at the tick their delay says, one command after another,
// closes that cut a reply short, a board that does not listen, unasked-for
// bytes, a restart, and the program's own close.
#include "tests/driven_board.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/headless/headless.h"
#include "simulator/simulator.h"

namespace {

const uint16_t Port = 50555;

class Driven : public ::testing::Test {
 protected:
  kvxsim::Simulator Sim;
  std::unique_ptr<DrivenBoard> Board;
  PlatSocket Socket = NoSocket;

  void SetUp() override {
    HeadlessReset();
    HeadlessSetClock(1000);
    Board = std::make_unique<DrivenBoard>(&Sim, Port);
    ASSERT_TRUE(PlatSocketsStart());
    ASSERT_TRUE(Connect());
  }
  void TearDown() override {
    if (Socket != NoSocket) PlatCloseSocket(Socket);
    PlatSocketsCleanup();
    HeadlessReset();
  }

  bool Connect(int port = Port) {
    if (Socket != NoSocket) PlatCloseSocket(Socket);
    Socket = PlatStreamSocket();
    return PlatConnectStart(Socket, PlatDottedAddress("127.0.0.1"), port) ==
           ConnectDone;
  }
  void Send(const std::string& bytes) {
    ASSERT_EQ(PlatSend(Socket, bytes.data(), (int)bytes.size()),
              (int)bytes.size());
  }
  // One receive; its bytes, or "<timed out>" or "<closed>", and the time
  // it waited in `*waited`.
  std::string Receive(int waitMs, int* waited = nullptr) {
    char buffer[512];
    int ms = 0;
    int got = PlatReceive(Socket, buffer, sizeof buffer, waitMs, &ms);
    if (waited) *waited = ms;
    if (got == ReceiveTimedOut) return "<timed out>";
    if (got == ReceiveClosed) return "<closed>";
    return std::string(buffer, (size_t)got);
  }
};

TEST_F(Driven, RepliesArriveWhenTheirDelaySaysAndQueueBehindEachOther) {
  Sim.SetReplyDelay(700);
  Send("GETIP\r\n");
  Send("GETMASK\r\n");
  int waited = 0;
  EXPECT_EQ(Receive(500, &waited), "<timed out>");
  EXPECT_EQ(waited, 500);
  EXPECT_EQ(Receive(500, &waited), "192.168.1.50\r\n");
  EXPECT_EQ(waited, 200);
  EXPECT_EQ(PlatTickCount(), 1700u);
  // The board answers one command after another: the second reply waits
  // for the first, then for its own delay.
  EXPECT_EQ(Receive(1000, &waited), "255.255.255.0\r\n");
  EXPECT_EQ(PlatTickCount(), 2400u);
  std::vector<kvxsim::CommandRecord> log = Sim.Commands();
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[0].time, 1000u);
  EXPECT_EQ(log[1].time, 1700u);
}

TEST_F(Driven, ACloseCutsTheReplyShortAndTheBoardTakesTheNextConnection) {
  Sim.SetReplyDelay(300);
  Send("GETSTATUS\r\n");
  Sim.CloseNow();
  EXPECT_FALSE(Sim.Connected());
  EXPECT_EQ(Receive(1000), "<closed>");
  EXPECT_EQ(PlatTickCount(), 1000u) << "a closed stream costs no wait";
  EXPECT_LT(PlatSend(Socket, "x\r\n", 3), 0);
  ASSERT_TRUE(Connect());
  EXPECT_EQ(Sim.ConnectionCount(), 2u);
  Send("GETIP\r\n");
  EXPECT_EQ(Receive(1000), "192.168.1.50\r\n");
}

TEST_F(Driven, ABoardThatDoesNotListenRefusesAndOnlyItsPortLeadsToIt) {
  EXPECT_FALSE(Connect(Port + 1));
  EXPECT_EQ(Sim.ConnectionCount(), 1u);
  ASSERT_TRUE(Connect());
  Sim.SetListening(false);
  EXPECT_FALSE(Sim.Connected());
  EXPECT_EQ(Receive(100), "<closed>");
  EXPECT_FALSE(Connect());
  Sim.SetListening(true);
  EXPECT_TRUE(Connect());
  EXPECT_TRUE(Sim.Connected());
}

TEST_F(Driven, UnaskedBytesComeAfterTheReplyBeingSent) {
  Sim.SetReplyDelay(200);
  Send("GETGW\r\n");
  Sim.SendRaw("600\r\n");
  std::string got;
  for (int i = 0; i < 4 && got.size() < 18; i++) {
    std::string piece = Receive(1000);
    if (piece[0] != '<') got += piece;
  }
  EXPECT_EQ(got, "192.168.1.1\r\n600\r\n");
}

TEST_F(Driven, AResetAnswersClosesAndRestartsTheBoard) {
  Send("SETPORT 6.1\r\n");
  EXPECT_EQ(Receive(100), "OK\r\n");
  EXPECT_TRUE(Sim.Output(6));
  Send("RESET\r\n");
  EXPECT_EQ(Receive(100), "RESET\r\n");
  EXPECT_EQ(Receive(100), "<closed>");
  EXPECT_FALSE(Sim.Output(6));
  EXPECT_FALSE(Sim.Connected());
}

TEST_F(Driven, TheProgramsCloseEndsTheConnectionAtTheBoard) {
  EXPECT_TRUE(Sim.Connected());
  PlatCloseSocket(Socket);
  Socket = NoSocket;
  EXPECT_FALSE(Sim.Connected());
}

TEST_F(Driven, TheWellFollowsTheDrivenClock) {
  Sim.SetRates(0, 2.0);  // drains 2 counts a second while output 4 is off
  Sim.SetLevel(100);
  HeadlessAdvanceClock(10000);
  EXPECT_NEAR(Sim.Level(), 80, 1e-6);
}

// The well changes at an exact command, once, whenever that comes.
TEST_F(Driven, TheWellChangesWhenTheBoardTakesTheCommandAskedFor) {
  auto exchange = [this](const std::string& command) {
    Send(command + "\r\n");
    return Receive(100);
  };
  Sim.SetLevel(600);
  EXPECT_EQ(Sim.ControlCommand("levelafter"), "none\n");
  EXPECT_EQ(Sim.ControlCommand("levelafter setport5.1 20"), "OK\n");
  EXPECT_EQ(Sim.ControlCommand("levelafter"), "armed\n");
  EXPECT_EQ(exchange("setport 3.1"), "OK\r\n");
  EXPECT_EQ(exchange("GETADC 1"), "600\r\n");
  EXPECT_EQ(exchange("setport 5.0"), "OK\r\n");
  EXPECT_EQ(exchange("GETADC 1"), "600\r\n");
  EXPECT_EQ(exchange("setport 5.1"), "OK\r\n");
  EXPECT_EQ(exchange("GETADC 1"), "20\r\n");
  // The fifth command the board took, counted from 0.
  EXPECT_EQ(Sim.ControlCommand("levelafter"), "changed 4\n");
  Sim.SetLevel(600);
  EXPECT_EQ(exchange("setport 5.1"), "OK\r\n");
  EXPECT_EQ(exchange("GETADC 1"), "600\r\n");
  EXPECT_NE(Sim.ControlCommand("levelafter setport5.1"), "OK\n");
}

// A power cut on the driven clock: the outputs drop and the connection
// ends at once (the reply on its way never arrives); connects are refused
// until the cut's time has passed on the clock, to the tick.
TEST_F(Driven, APowerCutDropsTheOutputsAndRefusesConnectsForItsTime) {
  Send("SETPORT 4.1\r\n");
  EXPECT_EQ(Receive(100), "OK\r\n");
  Send("SETPORT 6.1\r\n");
  EXPECT_EQ(Receive(100), "OK\r\n");
  Sim.SetReplyDelay(500);
  Send("GETSTATUS\r\n");
  HeadlessAdvanceClock(100);
  const uint32_t cut = PlatTickCount();
  Sim.PowerCut(3000);
  EXPECT_EQ(Sim.Outputs(), "00000000");
  EXPECT_TRUE(Sim.PoweredOff());
  EXPECT_EQ(Receive(1000), "<closed>");
  EXPECT_FALSE(Connect());
  HeadlessAdvanceClock(cut + 2999 - PlatTickCount());
  EXPECT_FALSE(Connect());
  EXPECT_EQ(Sim.ConnectionCount(), 1u);
  HeadlessAdvanceClock(1);
  EXPECT_FALSE(Sim.PoweredOff());
  ASSERT_TRUE(Connect());
  uint32_t at = 0;
  ASSERT_TRUE(Sim.LastConnectAt(&at));
  EXPECT_EQ(at, cut + 3000);
  Sim.SetReplyDelay(0);
  Send("GETSTATUS\r\n");
  EXPECT_EQ(Receive(100), "S00000000\r\n");
  // Over the control channel, in seconds.
  EXPECT_EQ(Sim.ControlCommand("powercut 1.5"), "OK\n");
  EXPECT_EQ(Sim.ControlCommand("powercut"), "off\n");
  EXPECT_EQ(Receive(100), "<closed>");
  HeadlessAdvanceClock(1499);
  EXPECT_FALSE(Connect());
  HeadlessAdvanceClock(1);
  EXPECT_TRUE(Connect());
  EXPECT_EQ(Sim.ConnectionCount(), 3u);
}

// The wire of a stray line and a held reply in one board query: the line
// no command asked for comes 2 ms behind the Getstatus reply, and the
// query's last reply (GETPORT 4) 1000 ms after its command, the reply
// behind it after that. Both are armed by output 5's switching.
TEST_F(Driven, AHeldReplyHoldsTheRepliesBehindIt) {
  // `bytes` of replies, each piece after the tick it arrived at.
  auto arrivals = [this](size_t bytes) {
    std::string got;
    for (size_t taken = 0; taken < bytes;) {
      const std::string piece = Receive(5000);
      if (piece[0] == '<') return got + piece;
      got += "@" + std::to_string(PlatTickCount()) + ":" + piece;
      taken += piece.size();
    }
    return got;
  };
  EXPECT_EQ(Sim.ControlCommand("strayafter setport5* GETSTATUS 1 2 600\\r\\n"),
            "OK\n");
  EXPECT_EQ(Sim.ControlCommand("delayonce GETPORT4 1000 setport5*"), "OK\n");
  Send("GETPORT 4\r\n");  // not yet armed
  EXPECT_EQ(arrivals(3), "@1000:1\r\n");
  Send("SETPORT 5.1\r\n");
  EXPECT_EQ(arrivals(4), "@1000:OK\r\n");
  Send("GETSTATUS\r\nGETPORT 3\r\nGETPORT 4\r\nGETPORT 1\r\n");
  EXPECT_EQ(arrivals(11 + 5 + 3 + 3 + 3),
            "@1000:S00010000\r\n@1002:600\r\n1\r\n@2002:1\r\n1\r\n");
  // Used up: the next query's replies come at once.
  Send("SETPORT 5.0\r\nGETSTATUS\r\nGETPORT 4\r\n");
  EXPECT_EQ(arrivals(4 + 11 + 3), "@2002:OK\r\nS00000000\r\n1\r\n");
}

}  // namespace

// The level sensor's faults, as GETADC 1 answers them on the driven clock:
// the slow start follows the clock's seconds of power.
TEST_F(Driven, SensorFaultsAnswerGetadcAsTheSensorWould) {
  using kvxsim::SensorFault;
  using kvxsim::SensorFaultKind;
  Sim.SetRates(0, 0);
  Sim.SetLevel(400);
  auto command = [this](const std::string& text) {
    Send(text + " \\r\\n");
    return Receive(1000);
  };
  auto fault = [this](SensorFaultKind kind, int count, int after = 0,
                      double seconds = 0) {
    SensorFault f;
    f.kind = kind;
    f.count = count;
    f.after = after;
    f.seconds = seconds;
    Sim.SetSensorFault(f);
  };

  fault(SensorFaultKind::Pinned, 1023);
  EXPECT_EQ(command("GETADC 1"), "1023\r\n");  // unpowered too
  fault(SensorFaultKind::Flat, 300);
  EXPECT_EQ(command("GETADC 1"), "0\r\n");
  EXPECT_EQ(command("setport 3.1"), "OK\r\n");
  EXPECT_EQ(command("GETADC 1"), "300\r\n");
  fault(SensorFaultKind::LiveZero, 180);
  EXPECT_EQ(command("GETADC 1"), "580\r\n");
  fault(SensorFaultKind::CableBreak, 0);
  EXPECT_EQ(command("GETADC 1"), "0\r\n");
  // A spike: once, the reply after the one let pass.
  fault(SensorFaultKind::Spike, -100, 1);
  EXPECT_EQ(command("GETADC 1"), "400\r\n");
  EXPECT_EQ(command("GETADC 1"), "300\r\n");
  EXPECT_EQ(command("GETADC 1"), "400\r\n");

  // A slow start: from the "setport 3.1" that powers the sensor, a straight
  // line to the level over 4 s.
  fault(SensorFaultKind::SlowStart, 0, 0, 4.0);
  EXPECT_EQ(command("setport 3.0"), "OK\r\n");
  EXPECT_EQ(command("setport 3.1"), "OK\r\n");
  HeadlessAdvanceClock(2000);
  EXPECT_EQ(command("GETADC 1"), "200\r\n");
  HeadlessAdvanceClock(3000);
  EXPECT_EQ(command("GETADC 1"), "400\r\n");
  // None: the level while powered, 0 unpowered.
  Sim.SetSensorFault(SensorFault{});
  EXPECT_EQ(command("GETADC 1"), "400\r\n");
  EXPECT_EQ(command("setport 3.0"), "OK\r\n");
  EXPECT_EQ(command("GETADC 1"), "0\r\n");
}
