// The guard at the speeds a living board can have: a busy board that
// takes most of a second per reply, a line nobody asked for in the query a
// decision rides on, a board that trickles its bytes, one that writes its
// replies of lines a line at a time. A slow board makes queries slow,
// never wrong, and never stalls the windows.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "base/state.h"
#include "board/commands.h"
#include "board/link.h"
#include "board/poll.h"
#include "control/measurement.h"
#include "control/refresh.h"
#include "platform/headless/headless.h"
#include "tests/program_fixture.h"
#include "tests/support/program_start.h"
#include "ui/board_view.h"
#include "ui/control_numbers.h"

namespace {

const char VersionText[] = "uC: ATmega32\r\nVer: 1.5\r\nNIC: ENC28J60\r\n";
const char HelpText[] =
    "KORVALINEX Befehle:\r\nGETPORT n, GETADC n, SETPORT x.y, GETSTATUS\r\n"
    "HELP, RESET, VERSION\r\n";

// A board that handles one command at a time: each reply begins `Delay` ms
// after its command came in or the reply before it was out, whichever is
// later. Its replies of lines go out a line at a time, `LineGap` apart.
// `After` may add bytes nobody asked for behind a reply; `Trickle` makes
// the replies to one command come a byte at a time.
class BusyBoard : public HeadlessBoardModel {
 public:
  int Delay = 0;
  int LineGap = 0;
  int Level = 20;
  bool Outputs[9] = {};
  struct Command {
    std::string Text;
    uint32_t At;
  };
  std::vector<Command> Commands;
  // Called behind each reply, with the command, its number among those
  // with the same text, and the time its reply is out.
  std::function<std::string(const std::string&, int)> After;
  std::string TrickleCommand;
  int TrickleGap = 0;
  int Connections = 0;

  bool Accept(uint32_t now, std::vector<HeadlessArrival>*) override {
    inbox_.clear();
    busyUntil_ = now;
    Connections++;
    return true;
  }

  void Take(const char* bytes, int length, uint32_t now,
            std::vector<HeadlessArrival>* out) override {
    inbox_.append(bytes, (size_t)length);
    static const std::string Suffix = " \\r\\n";
    for (size_t end; (end = inbox_.find(Suffix)) != std::string::npos;) {
      std::string command = inbox_.substr(0, end);
      inbox_.erase(0, end + Suffix.size());
      Answer(command, now, out);
    }
  }

  // The setports of outputs 4 and 5, in order.
  std::vector<std::string> LevelCommands() const {
    std::vector<std::string> levels;
    for (const Command& c : Commands)
      if (c.Text.rfind("setport 4.", 0) == 0 ||
          c.Text.rfind("setport 5.", 0) == 0)
        levels.push_back(c.Text);
    return levels;
  }

 private:
  std::string Reply(const std::string& c) {
    if (c == "Help") return HelpText;
    if (c == "Version") return VersionText;
    if (c == "Getip") return "192.168.1.50\r\n";
    if (c == "Getgw") return "192.168.1.1\r\n";
    if (c == "Getmask") return "255.255.255.0\r\n";
    if (c == "Getstatus") {
      std::string s = "S";
      for (int n = 8; n >= 1; n--) s += Outputs[n] ? '1' : '0';
      return s + "\r\n";
    }
    if (c == "GETADC 1") return std::to_string(Level) + "\r\n";
    // Inputs 2 to 4 unconnected: a count of 0 has the form of an input's
    // state too, so a shift by one line keeps every reply in form.
    if (c.rfind("GETADC ", 0) == 0) return "0\r\n";
    if (c.rfind("GETPORT ", 0) == 0) return "0\r\n";
    if (c.rfind("setport ", 0) == 0 && c.size() == 11) {
      int n = c[8] - '0';
      if (n >= 1 && n <= 8) Outputs[n] = c[10] == '1';
      return "OK\r\n";
    }
    return "ERR unknown command\r\n";
  }

  void Emit(uint32_t at, const std::string& bytes,
            std::vector<HeadlessArrival>* out) {
    if (at < busyUntil_) at = busyUntil_;
    out->push_back(HeadlessArrival{at, bytes, false});
    busyUntil_ = at;
  }

  void Answer(const std::string& command, uint32_t now,
              std::vector<HeadlessArrival>* out) {
    Commands.push_back(Command{command, now});
    int same = 0;
    for (const Command& c : Commands) same += c.Text == command;
    std::string reply = Reply(command);
    uint32_t at = (now > busyUntil_ ? now : busyUntil_) + (uint32_t)Delay;
    if (command == TrickleCommand) {
      for (char b : reply) {
        Emit(at, std::string(1, b), out);
        at += (uint32_t)TrickleGap;
      }
    } else if (LineGap > 0) {
      for (size_t from = 0; from < reply.size();) {
        size_t lf = reply.find('\n', from);
        size_t to = lf == std::string::npos ? reply.size() : lf + 1;
        Emit(at, reply.substr(from, to - from), out);
        at += (uint32_t)LineGap;
        from = to;
      }
    } else {
      Emit(at, reply, out);
    }
    if (After) {
      std::string extra = After(command, same);
      if (!extra.empty()) Emit(busyUntil_ + 1, extra, out);
    }
  }

  std::string inbox_;
  uint32_t busyUntil_ = 0;
};

class BoardSpeed : public HandlerTest {
 protected:
  BusyBoard Board;

  void SetUp() override {
    HandlerTest::SetUp();
    HeadlessSetBoardModel(&Board);
    Board.Outputs[3] = true;  // the sensor powered
    ASSERT_TRUE(Reconnect());
  }
  void TearDown() override {
    HeadlessSetBoardModel(nullptr);
    HandlerTest::TearDown();
  }

  // One evaluation; the setports of outputs 4 and 5 it sent.
  std::vector<std::string> Evaluate() {
    Board.Commands.clear();
    SensorAsWarmedUp();
    EvaluateLevel();
    return Board.LevelCommands();
  }
};

using Commands = std::vector<std::string>;

// The stray line the board sends once, behind the Getstatus reply of the
// query that follows a "setport 5.x" (the one output 4 is decided on), or
// of the first query of the evaluation.
std::function<std::string(const std::string&, int)> StrayBehindStatus(
    BusyBoard* board, bool afterSetport5, const std::string& line) {
  auto sent = std::make_shared<bool>(false);
  return [=](const std::string& command, int) {
    if (*sent || command != "Getstatus") return std::string();
    bool after5 = false;
    for (auto c = board->Commands.rbegin(); c != board->Commands.rend(); ++c) {
      if (c->Text == "Help") {
        for (auto d = c + 1; d != board->Commands.rend(); ++d) {
          if (d->Text == "Help") break;
          if (d->Text.rfind("setport 5.", 0) == 0) after5 = true;
        }
        break;
      }
    }
    if (after5 != afterSetport5) return std::string();
    *sent = true;
    return line;
  };
}

// A busy board at 650 ms and more per reply, one line in count form too
// many between the status and GETADC 1's reply: every later reply shifts
// by one and still has its command's form, and the one left over comes
// more than 600 ms after the one before it. The program once took the
// stray line for the level and switched output 4 off on a dry well, or
// output 5 off on a full one. Now it decides right or not at all.
TEST_F(BoardSpeed, AStrayCountLineOnASlowBoardSwitchesNothingWrong) {
  for (int delay : {650, 700, 1200, 2500}) {
    SCOPED_TRACE(delay);
    Board.Delay = delay;
    ASSERT_TRUE(Reconnect());
    PollBoard();  // the connection's first query learns its replies

    // A dry well, the stray "600" in output 4's query.
    Board.Level = 20;
    Board.After = StrayBehindStatus(&Board, true, "600\r\n");
    Commands dry = Evaluate();
    for (const std::string& c : dry) EXPECT_NE(c, "setport 4.0");
    EXPECT_EQ(dry, Commands{"setport 5.0"});  // output 4 not decided

    // A full well, the stray "20" in output 5's query.
    ASSERT_TRUE(Reconnect());
    PollBoard();
    Board.Level = 600;
    Board.After = StrayBehindStatus(&Board, false, "20\r\n");
    EXPECT_EQ(Evaluate(), Commands());
    Board.After = nullptr;
    // Once the board is in step again, it decides.
    EXPECT_EQ(Evaluate(), (Commands{"setport 5.1", "setport 4.0"}));
  }
}

// A healthy board decides at any speed up to the reply limit, also with
// its replies of lines written a line at a time up to 300 ms apart, from
// the second query of a connection on.
TEST_F(BoardSpeed, AHealthySlowBoardGetsEveryDecision) {
  for (int delay : {0, 100, 700, 2500}) {
    for (int gap : {0, 50, 200, 300}) {
      SCOPED_TRACE(std::to_string(delay) + " ms per reply, lines " +
                   std::to_string(gap) + " ms apart");
      Board.Delay = delay;
      Board.LineGap = gap;
      ASSERT_TRUE(Reconnect());
      PollBoard();
      int connections = Board.Connections;
      Board.Level = 20;
      EXPECT_EQ(Evaluate(), (Commands{"setport 5.0", "setport 4.1"}));
      Board.Level = 600;
      EXPECT_EQ(Evaluate(), (Commands{"setport 5.1", "setport 4.0"}));
      EXPECT_TRUE(BoardConnected());
      EXPECT_EQ(Board.Connections, connections);
    }
  }
}

// Version a line at a time: from the second query of a connection on the
// board-data label shows each text in its place, on every plain query, and
// a plain query waits for no silence.
TEST_F(BoardSpeed, RepliesOfLinesALineAtATimeStayInTheirPlace) {
  const std::string data =
      "Daten aus dem Board:\r\rFirmware:\ruC: ATmega32\r\nVer: 1.5\r\nNIC: "
      "ENC28J60\r\n\rEinstellungen:\rBoard-IP: 192.168.1.50\r\nSubnetz: "
      "255.255.255.0\r\nGateway: 192.168.1.1\r\n";
  for (int gap : {5, 50, 300}) {
    SCOPED_TRACE(gap);
    Board.LineGap = gap;
    ASSERT_TRUE(Reconnect());
    RefreshBoard();  // learns
    for (int query = 0; query < 3; query++) {
      uint32_t start = PlatTickCount();
      RefreshBoard();
      EXPECT_EQ(C(LabelBoardData).Content, data);
      // The replies' own time, the lines' gaps: no settle after them.
      EXPECT_LT(PlatTickCount() - start, (uint32_t)(6 * gap + 50));
    }
    EXPECT_FALSE(AppState.Query.LinkInDoubt);
  }
}

// A board that trickles a reply a byte at a time without its line feed
// holds one query at most ReplyWholeLimit, not until a buffer is full; the
// windows are served at least every 20 ms all the while, however fast the
// bytes come.
TEST_F(BoardSpeed, ATrickleIsBoundedAndTheWindowsAreServedThroughout) {
  for (int trickle : {2900, 5, 1}) {
    SCOPED_TRACE(trickle);
    ASSERT_TRUE(Reconnect());
    RefreshBoard();
    Board.TrickleCommand = "Getstatus";
    Board.TrickleGap = trickle;
    // The status reply a byte at a time.
    Board.After = nullptr;
    uint32_t lastServe = PlatTickCount();
    uint32_t longest = 0;
    HeadlessSetServeHook([&] {
      uint32_t now = PlatTickCount();
      if (now - lastServe > longest) longest = now - lastServe;
      lastServe = now;
    });
    uint32_t start = PlatTickCount();
    std::string status = "S00000100";  // the sensor's output on
    RefreshBoard();
    uint32_t took = PlatTickCount() - start;
    HeadlessSetServeHook(nullptr);
    Board.TrickleCommand.clear();
    EXPECT_LE(longest, (uint32_t)ServeSlice);
    if (trickle == 2900) {
      // 11 bytes at 2.9 s: not whole by the reply's deadline.
      EXPECT_FALSE(BoardConnected());
      EXPECT_LE(took, (uint32_t)(ReplyWholeLimit + 100));
    } else {
      EXPECT_TRUE(BoardConnected());
      EXPECT_EQ(AppState.Readings.StatusReplyText, status + "\r\n");
    }
  }
}
}  // namespace
