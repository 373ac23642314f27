// The command console against the simulated board: what goes out on the
// wire for ordinary and display commands, what the reply line shows, the
// box's content and colour, and the command summary.
#include "ui/console.h"

#include <string>
#include <vector>

#include "app/startup.h"
#include "board/link.h"
#include "board/poll.h"
#include "control/console.h"
#include "tests/program_fixture.h"
#include "ui/control_numbers.h"
#include "ui/held_buttons.h"
#include "ui/main_window.h"

namespace {

// The board link and the main window, with the click loaded so that the
// click sound can be counted.
class Console : public BoardTest {
 protected:
  void SetUp() override {
    BoardTest::SetUp();
    if (HasFatalFailure()) return;
    ConnectOnly();
    if (HasFatalFailure()) return;
    ASSERT_TRUE(PlatStartSound());
    ASSERT_TRUE(PlatLoadClick());
    AppState.Settings.SoundLoaded = 1;
    ASSERT_TRUE(BuildMainWindow());
  }

  // The operator types `command` into field 97 and clicks button 92.
  void Send(const Text& command) {
    HeadlessTypeText(EditConsole, command);
    SendConsoleCommand();
  }

  // The console command on the wire: the bytes in front of the board
  // query's first command, which the console's PollBoard sends next.
  std::string ConsoleBytes() {
    Sim.WaitFor([&] { return ReceivedBytes().find("Help ") != Text::npos; },
                5000);
    std::string all = ReceivedBytes();
    return all.substr(0, all.find("Help "));
  }

  Text Box() {
    const HeadlessControl* c = HeadlessFindControl(RichConsole);
    return c ? c->Content : "<no box>";
  }
  uint32_t BoxColour() { return HeadlessFindControl(RichConsole)->TextColour; }
};

const Text Suffix = " \\r\\n";

// A display block as the board must receive it: the text, a zero byte,
// blanks up to 100 bytes.
std::string Block(const std::string& text) {
  std::string block = text;
  block += '\0';
  block.append(100 - block.size(), ' ');
  return block;
}

}  // namespace

TEST_F(Console, OrdinaryCommandGoesOutWithTheSuffixAndShowsTheReplyInBlue) {
  Sim.SetOutput(3, true);
  int clicks = HeadlessClickCount();
  Send("GETSTATUS");

  EXPECT_EQ(ConsoleBytes(), "GETSTATUS" + Suffix);
  EXPECT_EQ(ConsoleBytes().size(), 14u);
  const Text reply = "S00000100\r\n";
  EXPECT_EQ(AppState.Console.ConsoleCommandText, "GETSTATUS");
  EXPECT_EQ(AppState.Console.ConsoleReplyText,
            reply + Text(100 - reply.size(), ' '));
  // The box shows two items: the echo line and the reply (the box keeps
  // its lines apart with a carriage return).
  EXPECT_EQ(Box(), ">GETSTATUS\rS00000100\r" + Text(89, ' '));
  EXPECT_EQ(BoxColour(), Blue);

  // The board query ran after the exchange, one click for the exchange.
  EXPECT_EQ(Sim.Commands().size(), 15u);
  EXPECT_EQ(HeadlessClickCount(), clicks + 1);
  // The button stays greyed until the main loop has taken the clicks made
  // during the exchange; then it is usable and has the keyboard focus.
  EXPECT_FALSE(C(ButtonConsoleSend).Enabled);
  ReleaseHeldButtons();
  EXPECT_TRUE(C(ButtonConsoleSend).Enabled);
  EXPECT_EQ(HeadlessFocus(), ButtonConsoleSend);
  EXPECT_EQ(PlatGetText(EditConsole), "GETSTATUS");
}

TEST_F(Console, EmptyFieldSendsTheSuffixAloneAndEchoesTheMarkAlone) {
  Send("");
  EXPECT_EQ(ConsoleBytes(), " \x5cr\x5cn");
  EXPECT_EQ(AppState.Console.ConsoleCommandText, "");
  EXPECT_EQ(Box().substr(0, 2), ">\r");
}

TEST_F(Console, DisplayCommandGoesOutAsOneBlockInAnyLetterCase) {
  const std::vector<std::string> spellings = {
      "WRITELCD 1.Hallo", "writelcd 1.Hallo", "WriteLcd 1.Hallo",
      "writelcdX"};  // the word need not stand alone
  for (const std::string& command : spellings) {
    Sim.ClearLog();
    Send(command);
    std::string bytes = ConsoleBytes();
    EXPECT_EQ(bytes.size(), 100u) << command;
    EXPECT_EQ(bytes, Block(command)) << command;
    ASSERT_FALSE(Sim.Commands().empty());
    EXPECT_EQ(Sim.Commands()[0].kind, kvxsim::CommandKind::Block) << command;
  }
  EXPECT_EQ(Sim.Lcd(1).substr(0, 5), "Hallo");
}

TEST_F(Console, TextsThatDoNotStartWithTheWordAreOrdinaryCommands) {
  const std::vector<std::string> commands = {
      " writelcd 1.Hallo",  // a blank in front
      "writelc",            // shorter than the word
      "writeLC 1.Hallo",    // the 8th character is a blank
      // Windows-1252 capital eth: its small form is eth, not d.
      "WRITELC\xD0 1.Hallo",
      // Bytes above 7F in the first eight characters.
      "\xC4\x8A\x9F\xD7writelcd"};
  for (const std::string& command : commands) {
    Sim.ClearLog();
    Send(command);
    EXPECT_EQ(ConsoleBytes(), command + Suffix) << command;
    EXPECT_EQ(AppState.Console.ConsoleCommandText, command);
  }
}

TEST_F(Console, OverlongDisplayCommandIsCutToFitTheBlock) {
  const std::string command = "writelcd 1." + std::string(120, 'x');
  Send(command);
  std::string bytes = ConsoleBytes();
  ASSERT_EQ(bytes.size(), 100u);
  EXPECT_EQ(bytes, command.substr(0, 99) + '\0');
  // The echo line keeps the command as typed, the field too.
  EXPECT_EQ(Box().substr(0, command.size() + 2), ">" + command + "\r");
  EXPECT_EQ(AppState.Console.ConsoleCommandText, command);
  EXPECT_EQ(PlatGetText(EditConsole), command);
}

TEST_F(Console, ReplyTextIsTheBufferUpToAZeroByteAtMostOneHundredLong) {
  // A shorter reply is followed by blanks, not by the rest of the last one.
  Send("GETIP");
  Sim.SetReply("GETMASK", "OK\r\n", 1);
  Send("GETMASK");
  EXPECT_EQ(AppState.Console.ConsoleReplyText, "OK\r\n" + Text(96, ' '));

  Sim.SetReply("GETGW", std::string("OK\0junk\r\n", 9), 1);
  Send("GETGW");
  EXPECT_EQ(AppState.Console.ConsoleReplyText, "OK");

  // Last: the rest of this reply stays in the connection.
  Sim.SetReply("VERSION", std::string(150, 'v'), 1);
  Send("VERSION");
  EXPECT_EQ(AppState.Console.ConsoleReplyText, std::string(100, 'v'));
}

TEST_F(Console, RestOfALongReplyDoesNotPutTheBoardQueryOutOfStep) {
  // The board's help text is longer than the console's 100 bytes. What is
  // left of it is no reply to the query that follows: every display still
  // shows its own command's reply, in this query and the next.
  Sim.SetNetwork("10.1.2.3", "255.255.0.0", "10.1.0.1");
  Send("HELP");
  EXPECT_EQ(AppState.Console.ConsoleReplyText.substr(0, 21),
            "KORVALINEX Befehle:\r\n");
  for (int query = 0; query < 2; query++) {
    EXPECT_EQ(AppState.Readings.FirmwareText,
              "uC: ATmega32\r\nVer: 1.5\r\nNIC: ENC28J60\r\n")
        << query;
    EXPECT_EQ(AppState.Readings.BoardIpText, "10.1.2.3\r\n") << query;
    EXPECT_EQ(AppState.Readings.GatewayText, "10.1.0.1\r\n") << query;
    EXPECT_EQ(AppState.Readings.SubnetMaskText, "255.255.0.0\r\n") << query;
    PollBoard();
  }
}

TEST_F(Console, SilentBoardIsALostConnectionAndSaysSo) {
  Sim.SetSilent(true);
  Send("GETSTATUS");
  // The buffer keeps what it held before the receive: the blanks.
  EXPECT_EQ(AppState.Console.ConsoleReplyText, Text(100, ' '));
  EXPECT_EQ(Box(),
            "Keine Verbindung zum KORVALINEX-Board!\rKeine Antwort auf "
            ">GETSTATUS");
  EXPECT_FALSE(BoardConnected());
  ReleaseHeldButtons();

  // Without a connection nothing goes out, and the box says so.
  Sim.ClearLog();
  Send("WriteLCD 2.Welt");
  EXPECT_EQ(Box(),
            Text(NoConnectionText) + "\rDer Befehl wurde nicht gesendet.");
  EXPECT_EQ(HeadlessFocus(), ButtonConsoleSend);
  EXPECT_TRUE(HeadlessFindControl(ButtonConsoleSend)->Enabled);
  EXPECT_EQ(Sim.CommandCount(), 0u);
}

// The summary's lines are in tests/golden/run.txt (the run's step with
// button 93).
TEST_F(Console, SummaryReplacesTheExchangeAndAnExchangeReplacesTheSummary) {
  ShowCommandOverview();
  const Text summary = Box();
  EXPECT_EQ(summary.rfind("Befehle f\xFCr das KORVALINEX-Board\r", 0), 0u);

  Send("GETGW");
  ReleaseHeldButtons();
  uint64_t commands = Sim.CommandCount();
  int clicks = HeadlessClickCount();
  PlatSetFocus(EditConsole);
  ShowCommandOverview();
  EXPECT_EQ(Box(), summary);  // in place of the exchange, not after it
  EXPECT_EQ(BoxColour(), Red);
  EXPECT_EQ(HeadlessFocus(), ButtonConsoleSend);
  EXPECT_EQ(HeadlessClickCount(), clicks + 1);
  EXPECT_EQ(Sim.CommandCount(), commands);  // nothing sent, no query

  Send("GETGW");
  EXPECT_EQ(Box(), ">GETGW\r192.168.1.1\r" + Text(87, ' '));
  EXPECT_EQ(BoxColour(), Blue);
}

// Through the main loop: button 92 sends the field's text, which stays
// for a second send; button 93 shows the summary.
TEST_F(BoardTest, ConsoleButtonsWorkThroughTheMainLoop) {
  const int clicks[] = {ButtonConsoleSend, ButtonCommandOverview,
                        ButtonConsoleSend};
  std::vector<Text> boxes;
  Then([] {});
  for (size_t step = 0; step < 4; step++) {
    Then([&, step] {
      if (step == 0) HeadlessTypeText(EditConsole, "getport 2");
      if (step > 0) boxes.push_back(HeadlessFindControl(RichConsole)->Content);
    });
    if (step < 3) ThenClick(clicks[step]);
  }
  RunSteps();
  ASSERT_EQ(boxes.size(), 3u);
  EXPECT_EQ(boxes[0].substr(0, 13), ">getport 2\r1\r");
  EXPECT_EQ(boxes[1].substr(0, 32), "Befehle für das KORVALINEX-Board");
  EXPECT_EQ(boxes[2], boxes[0]);
  int sent = 0;
  for (const kvxsim::CommandRecord& c : Sim.Commands())
    sent += c.text == "getport 2";
  EXPECT_EQ(sent, 2);
}

// The send button is greyed while its exchange runs. Clicks made on it
// meanwhile wait in the window system's input queue until the program next
// waits for an event; they must meet the button greyed still and send
// nothing. A click once it is usable again sends as any.
TEST_F(BoardTest, ClicksOnTheGreyedSendButtonSendNothing) {
  const std::string command = "CLEARLCD 1";
  auto sent = [&] {
    int n = 0;
    for (const kvxsim::CommandRecord& c : Sim.Commands())
      n += c.text == command;
    return n;
  };
  // The reply comes late, so the windows are served during the exchange.
  Sim.DelayReplyOnce(command, 200);
  int queued = 0;
  HeadlessSetServeHook([&] {
    if (queued < 3 && !C(ButtonConsoleSend).Enabled) {
      HeadlessQueueMouseClick(ButtonConsoleSend);
      queued++;
    }
  });
  Then([&] { HeadlessTypeText(EditConsole, command); });
  ThenClick(ButtonConsoleSend);
  Then([&] { EXPECT_FALSE(C(ButtonConsoleSend).Enabled); });
  ThenWithin(
      20, [] { return C(ButtonConsoleSend).Enabled; },
      [] { return "button 92 stays greyed"; });
  Then([&] {
    EXPECT_EQ(queued, 3);
    EXPECT_EQ(sent(), 1);
    EXPECT_EQ(HeadlessFocus(), ButtonConsoleSend);
  });
  ThenClick(ButtonConsoleSend);
  Then([&] { EXPECT_EQ(sent(), 2); });
  RunSteps();
}
