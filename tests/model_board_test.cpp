// The model board on the headless driven clock: what the program receives
// and when, and the board's answers and faults, where the guard's
// scenarios (guard_model_test.cpp) depend on them.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/headless/headless.h"
#include "tests/guard/board_model.h"

namespace {

using guard::Draws;
using guard::ModelBoard;
using guard::Profile;

// A board that answers every send with the same pieces, each `After` ms
// after the send; it records what it was sent.
struct FixedBoard : HeadlessBoardModel {
  struct Piece {
    int After;
    std::string Bytes;
    bool Closes;
  };
  std::vector<Piece> Answer;
  std::vector<std::string> Sent;
  int Accepted = 0;
  bool Refuse = false;

  bool Accept(uint32_t, std::vector<HeadlessArrival>*) override {
    if (Refuse) return false;
    Accepted++;
    return true;
  }
  void Take(const char* bytes, int length, uint32_t now,
            std::vector<HeadlessArrival>* out) override {
    Sent.emplace_back(bytes, (size_t)length);
    for (const Piece& p : Answer)
      out->push_back({now + (uint32_t)p.After, p.Bytes, p.Closes});
  }
};

class ModelLink : public ::testing::Test {
 protected:
  FixedBoard Board;
  PlatSocket S = NoSocket;

  void SetUp() override {
    HeadlessReset();
    HeadlessSetClock(5000);
    HeadlessSetBoardModel(&Board);
    ASSERT_TRUE(PlatSocketsStart());
    S = Connect();
    ASSERT_NE(S, NoSocket);
  }
  void TearDown() override { HeadlessReset(); }

  PlatSocket Connect() {
    PlatSocket s = PlatStreamSocket();
    if (PlatConnectStart(s, PlatDottedAddress("127.0.0.1"), 50290) !=
        ConnectDone) {
      PlatCloseSocket(s);
      return NoSocket;
    }
    return s;
  }
  void Send(PlatSocket s = NoSocket) {
    ASSERT_EQ(PlatSend(s == NoSocket ? S : s, "x", 1), 1);
  }
  // One receive; `got` is what it delivered ("" for a time-out or close).
  int Receive(int max, int waitMs, std::string* got, int* waited,
              PlatSocket s = NoSocket) {
    char bytes[256];
    int n = PlatReceive(s == NoSocket ? S : s, bytes, max, waitMs, waited);
    *got = n > 0 ? std::string(bytes, (size_t)n) : std::string();
    return n;
  }
  // One receive of at most `max` bytes that waits at most `waitMs`: it
  // delivers `bytes` (nothing: a time-out), says it waited `waited` ms and
  // leaves the driven clock at `clock`.
  void ExpectReceive(const char* what, int max, int waitMs,
                     const std::string& bytes, int waited, uint32_t clock) {
    SCOPED_TRACE(what);
    std::string got;
    int w = -1;
    EXPECT_EQ(Receive(max, waitMs, &got, &w),
              bytes.empty() ? ReceiveTimedOut : (int)bytes.size());
    EXPECT_EQ(got, bytes);
    EXPECT_EQ(w, waited);
    EXPECT_EQ(PlatTickCount(), clock);
  }
};

TEST_F(ModelLink, ReceiveMovesTheClockExactlyAsFarAsItWaited) {
  Board.Answer = {{100, "ab", false}, {250, "cd\r\n", false}};
  Send();
  ExpectReceive("nothing within the wait: the whole wait passes", 100, 60, "",
                60, 5060);
  ExpectReceive("the first piece within the wait: the clock stops at it", 100,
                3000, "ab", 40, 5100);
  ExpectReceive("not there yet and no wait: nothing, no time", 100, 0, "", 0,
                5100);
  ExpectReceive("a receive smaller than what came leaves the rest", 3, 3000,
                "cd\r", 150, 5250);
  ExpectReceive("the rest, for the next receive", 3, 0, "\n", 0, 5250);
}

TEST_F(ModelLink, PiecesThatHaveArrivedComeTogether) {
  Board.Answer = {{0, "12", false}, {10, "3\r\n", false}, {900, "X", false}};
  Send();
  HeadlessAdvanceClock(20);
  ExpectReceive("the two pieces that have arrived", 100, 500, "123\r\n", 0,
                5020);
}

TEST_F(ModelLink, DiscardThrowsAwayOnlyWhatHasArrived) {
  Board.Answer = {{0, "old\r\n", false}, {300, "new\r\n", false}};
  Send();
  PlatDiscardPending(S);
  EXPECT_EQ(PlatTickCount(), 5000u) << "a discard does not wait";
  ExpectReceive("what came after the discard", 100, 1000, "new\r\n", 300, 5300);
}

TEST_F(ModelLink, ANewConnectionStartsWithNothingPending) {
  Board.Answer = {{500, "late\r\n", false}};
  Send();
  PlatCloseSocket(S);
  S = Connect();
  ASSERT_NE(S, NoSocket);
  EXPECT_EQ(Board.Accepted, 2);
  std::string got;
  int waited;
  EXPECT_EQ(Receive(100, 1000, &got, &waited), ReceiveTimedOut);
  EXPECT_EQ(waited, 1000);

  // A second connection ends the first one's stream.
  Board.Answer = {{0, "A", false}};
  PlatSocket other = Connect();
  ASSERT_NE(other, NoSocket);
  EXPECT_EQ(Receive(100, 100, &got, &waited), ReceiveClosed);
  EXPECT_EQ(PlatSend(S, "x", 1), -1);
  Send(other);
  EXPECT_EQ(Receive(100, 100, &got, &waited, other), 1);

  Board.Refuse = true;
  EXPECT_EQ(Connect(), NoSocket);
}

TEST_F(ModelLink, ABoardThatClosesGivesWhatCameFirstThenClosed) {
  Board.Answer = {{10, "OK\r\n", false}, {20, "", true}};
  Send();
  std::string got;
  int waited;
  EXPECT_EQ(Receive(100, 1000, &got, &waited), 4);
  EXPECT_EQ(got, "OK\r\n");
  EXPECT_EQ(PlatSend(S, "y", 1), 1) << "the close has not arrived yet";
  EXPECT_EQ(Receive(100, 1000, &got, &waited), ReceiveClosed);
  EXPECT_EQ(waited, 10);
  EXPECT_EQ(Receive(100, 1000, &got, &waited), ReceiveClosed);
  EXPECT_EQ(PlatSend(S, "z", 1), -1);
}

// --- The model board ---------------------------------------------------------

// Everything the board writes for `commands` sent at once, in one string,
// and whether its pieces come in order.
std::string Exchange(ModelBoard* board, const std::string& commands,
                     bool* inOrder) {
  std::vector<HeadlessArrival> out;
  board->Take(commands.data(), (int)commands.size(), 1000, &out);
  std::string all;
  *inOrder = true;
  for (size_t i = 0; i < out.size(); i++) {
    all += out[i].Bytes;
    if (i > 0 && (int32_t)(out[i].At - out[i - 1].At) < 0) *inOrder = false;
  }
  return all;
}

TEST(ModelBoardTest, AHealthyBoardAnswersAsTheFirmwareInOrder) {
  Draws draws(7);
  ModelBoard board(&draws, Profile::LineByLine);
  board.Now = {321, true, true};
  std::vector<HeadlessArrival> none;
  board.Accept(0, &none);
  std::string block = "writelcd 1.** KORVALINEX **";
  block.resize(100, '\0');
  bool inOrder;
  std::string all =
      Exchange(&board,
               "Version \\r\\nGetip \\r\\nsetport 5.1 \\r\\n"
               "setport 2.1 \\r\\nGetstatus \\r\\nGETADC 1 \\r\\n" +
                   block + "GETPORT 9 \\r\\n",
               &inOrder);
  EXPECT_TRUE(inOrder);
  EXPECT_EQ(all,
            "uC: ATmega32\r\nVer: 1.5\r\nNIC: ENC28J60\r\n192.168.1.50\r\n"
            "OK\r\nOK\r\nS00010010\r\n321\r\nOK\r\nERR unknown command\r\n");
  ASSERT_EQ(board.Switches.size(), 1u);
  EXPECT_EQ(board.Switches[0].Output, 5);
  EXPECT_EQ(board.Switches[0].When.LevelCount, 321);
}

TEST(ModelBoardTest, HelpFitsTheReceiveOnAHealthyBoard) {
  Draws draws(11);
  ModelBoard board(&draws, Profile::WholeReplies);
  for (int i = 0; i < 200; i++) {
    bool inOrder;
    std::string help = Exchange(&board, "Help \\r\\n", &inOrder);
    int lines = 0;
    for (char c : help) lines += c == '\n';
    EXPECT_LT(help.size(), 200u);
    EXPECT_GE(lines, 5);
    EXPECT_LE(lines, 12);
    EXPECT_EQ(help.substr(help.size() - 2), "\r\n");
  }
}

// The model must never lie about the well: a GETADC reply in the form of a
// count that is not the true one would be a wrong decision nobody could
// catch.
TEST(ModelBoardTest, GarbageForAnAnalogInputIsNeverACount) {
  Draws draws(3);
  ModelBoard board(&draws, Profile::Faulty);
  for (int i = 0; i < 20000; i++) {
    std::string g = board.Garbage(i % 2 ? "GETADC 1" : "GETADC 3");
    size_t lf = g.find('\n');
    ASSERT_FALSE(guard::IsCountReply(g)) << guard::Shown(g);
    if (lf != std::string::npos) {
      ASSERT_FALSE(guard::IsCountReply(g.substr(0, lf + 1))) << guard::Shown(g);
    }
    if (i % 2) {
      ASSERT_FALSE(g.empty());
    }
  }
  EXPECT_TRUE(guard::IsCountReply("1023\r\n"));
  EXPECT_TRUE(guard::IsCountReply("0\r\n"));
  EXPECT_FALSE(guard::IsCountReply("1024\r\n"));
  EXPECT_FALSE(guard::IsCountReply("512\n"));
}

TEST(ModelBoardTest, RepliesBeginOnlyAfterTheReplyBeforeIsWritten) {
  Draws draws(5);
  ModelBoard board(&draws, Profile::Faulty);
  std::vector<HeadlessArrival> none;
  board.Accept(0, &none);
  for (int i = 0; i < 2000; i++) {
    bool inOrder;
    Exchange(&board, "Help \\r\\nVersion \\r\\nGETADC 1 \\r\\n", &inOrder);
    ASSERT_TRUE(inOrder) << "round " << i;
  }
}

}  // namespace
