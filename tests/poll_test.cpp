// The board query against the simulated board: the exchanges in order, the
// conversions of the replies and the redraw of every display.
#include "board/poll.h"

#include "board/link.h"
#include "tests/program_fixture.h"
#include "ui/board_view.h"
#include "ui/control_numbers.h"
#include "ui/held_buttons.h"
#include "ui/main_window.h"

namespace {

class Poll : public BoardTest {
 protected:
  void SetUp() override {
    BoardTest::SetUp();
    ConnectOnly();
    ASSERT_TRUE(BuildMainWindow());
  }
  static void ExpectLabel(int number, const std::string& text,
                          uint32_t colour) {
    EXPECT_EQ(C(number).Content, text) << "label " << number;
    EXPECT_TRUE(C(number).HasTextColour) << "label " << number;
    EXPECT_EQ(C(number).TextColour, colour) << "label " << number;
  }
  void PollOnce() {
    Sim.ClearLog();
    PollBoard();
    ShowBoard();
  }
};

}  // namespace

TEST_F(Poll, FourteenExchangesInOrderWithoutTheDisplay) {
  PollOnce();
  EXPECT_EQ(CommandTexts(), QueryCommands);
  for (const kvxsim::CommandRecord& c : Sim.Commands()) {
    EXPECT_EQ(c.kind, kvxsim::CommandKind::Text);
    EXPECT_EQ(c.raw, c.text + " \\r\\n");
  }
}

TEST_F(Poll, DisplayAddsInitAndTwoBlocks) {
  AppState.Settings.LcdEnabled = 1;
  HeadlessSetLocalTime(6, 12, 2026, 7, 45);
  PollOnce();
  EXPECT_EQ(CommandTexts(), QueryCommandsWithDisplay("06.12.2026/07:45"));
  std::vector<kvxsim::CommandRecord> log = Sim.Commands();
  ASSERT_EQ(log.size(), 17u);
  EXPECT_EQ(log[6].kind, kvxsim::CommandKind::Block);
  EXPECT_EQ(log[6].raw.size(), 100u);
  EXPECT_EQ(log[7].raw.size(), 100u);
  EXPECT_EQ(Sim.Lcd(1), "** KORVALINEX **");
  EXPECT_EQ(Sim.Lcd(2), "06.12.2026/07:45");
}

// The display's date and time is the local clock's as it stands at the
// query, over a year's end too.
TEST_F(Poll, DisplayShowsTheClockOfItsQuery) {
  AppState.Settings.LcdEnabled = 1;
  HeadlessSetLocalTime(31, 12, 2026, 23, 59);
  HeadlessAdvanceClock(61000);
  PollOnce();
  EXPECT_EQ(Sim.Lcd(2), "01.01.2027/00:00");
  EXPECT_EQ(AppState.Query.LcdLine2Command, "writelcd 2.01.01.2027/00:00");
}

TEST_F(Poll, OutputStatusByPosition) {
  AppState.Switching.MinimumEnabled = 1;
  Sim.SetReply("GETSTATUS", "S00000001\r\n");
  PollOnce();
  ExpectLabel(OutputStateLabel(1), "GESCHLOSSEN", Red);
  for (int output : {2, 6, 7, 8})
    ExpectLabel(OutputStateLabel(output), "OFFEN", Blue);
  EXPECT_EQ(C(ButtonMinimumOff).Content, "Aus");
  EXPECT_EQ(C(ButtonMaximumOff).Content, "Aus");
  EXPECT_TRUE(C(ButtonOutput6On).Enabled);
  EXPECT_TRUE(C(ButtonOutput7On).Enabled);
  EXPECT_FALSE(C(ButtonOutput6Off).Enabled);
  EXPECT_FALSE(C(ButtonOutput7Off).Enabled);

  // Outputs 4 and 5 on: the AUS captions say so, the labels keep showing
  // the functions.
  Sim.SetReply("GETSTATUS", "S00011000\r\n");
  PollOnce();
  EXPECT_EQ(C(ButtonMinimumOff).Content, "Ausgelöst");
  EXPECT_EQ(C(ButtonMaximumOff).Content, "Ausgelöst");
  ExpectLabel(OutputStateLabel(4), "Freigegeben", Red);
  ExpectLabel(OutputStateLabel(5), "gesperrt", Blue);

  // Outputs 6 and 7 on: only their AUS buttons can be used.
  Sim.SetReply("GETSTATUS", "S01100100\r\n");
  PollOnce();
  ExpectLabel(OutputStateLabel(6), "GESCHLOSSEN", Red);
  ExpectLabel(OutputStateLabel(7), "GESCHLOSSEN", Red);
  EXPECT_FALSE(C(ButtonOutput6On).Enabled);
  // Made usable, each stays greyed until the main loop has taken the
  // clicks made while it was.
  EXPECT_FALSE(C(ButtonOutput6Off).Enabled);
  ReleaseHeldButtons();
  EXPECT_TRUE(C(ButtonOutput6Off).Enabled);
  // Position 7 says output 3 is on, but its label shows the measurement.
  EXPECT_EQ(C(OutputStateLabel(3)).Content.find("GESCHLOSSEN"), Text::npos);
}

TEST_F(Poll, ShortOrEmptyStatusReadsMissingOutputsAsOff) {
  Sim.SetReply("GETSTATUS", "S11111111\r\n");
  PollOnce();
  ExpectLabel(OutputStateLabel(1), "GESCHLOSSEN", Red);
  Sim.SetReply("GETSTATUS", "S11\r\n");  // outputs 8 and 7 on, rest missing
  PollOnce();
  ExpectLabel(OutputStateLabel(8), "GESCHLOSSEN", Red);
  ExpectLabel(OutputStateLabel(7), "GESCHLOSSEN", Red);
  ExpectLabel(OutputStateLabel(6), "OFFEN", Blue);
  ExpectLabel(OutputStateLabel(2), "OFFEN", Blue);
  ExpectLabel(OutputStateLabel(1), "OFFEN", Blue);
  Sim.SetReply("GETSTATUS", std::string(1, '\0') + "\r\n");
  PollOnce();
  for (int n : {1, 2, 4, 5, 6, 7, 8})
    EXPECT_EQ(AppState.Readings.OutputState[n], ContactOpen) << n;
}

TEST_F(Poll, AnalogRepliesBecomeRoundedVoltsAndCutTexts) {
  struct Case {
    std::string reply;
    double volts;
    std::string text;
  };
  const Case cases[] = {
      {"512\r\n", 2.5, "2,50"},
      {"1023\n", 4.995, "4,99"},
      {"43\r\n", 0.21, "0,21"},
      {"0\r\n", 0.0, "0,00"},
      {"abc\r\n", 0.0, "0,00"},
      {std::string(1, '\0') + "\r\n", 0.0, "0,00"},
      {"\r5\r12\r\n", 2.5, "2,50"},
      // A reply is one line: an empty line first is the whole reply, and
      // what follows it is thrown away, never taken for the next input.
      {"\r\n512\r\n", 0.0, "0,00"},
      {"242\r\n", 1.182, "1,18"},
  };
  for (const Case& c : cases) {
    for (int n = 1; n <= 4; n++)
      Sim.SetReply("GETADC " + std::to_string(n), c.reply);
    PollOnce();
    for (int n = 1; n <= 4; n++) {
      EXPECT_DOUBLE_EQ(AppState.Readings.AnalogVoltage[n], c.volts) << c.reply;
      ExpectLabel(AnalogValueLabel(n), c.text, Blue);
    }
    EXPECT_EQ(AppState.Readings.LevelVoltage,
              AppState.Readings.AnalogVoltage[1]);
  }
}

TEST_F(Poll, EachAnalogReplyIsItsOwnEvenWhenShorter) {
  Sim.SetReply("GETADC 1", "1000\r\n");
  Sim.SetReply("GETADC 2", "5\r\n");
  Sim.SetReply("GETADC 3", "77\r\n");
  Sim.SetReply("GETADC 4", "9\r\n");
  PollOnce();
  EXPECT_DOUBLE_EQ(AppState.Readings.AnalogVoltage[1], 4.883);
  EXPECT_DOUBLE_EQ(AppState.Readings.AnalogVoltage[2], 0.024);
  EXPECT_DOUBLE_EQ(AppState.Readings.AnalogVoltage[3], 0.376);
  EXPECT_DOUBLE_EQ(AppState.Readings.AnalogVoltage[4], 0.044);
  EXPECT_EQ(AppState.Readings.LevelVoltage, 4.883);
  EXPECT_EQ(AppState.Readings.AdcReplyText[2], "5");
}

// A reply that never comes is never made up from another command's reply:
// the connection counts as lost, and nothing further goes out on it.
TEST_F(Poll, AMissingReplyEndsTheQueryAndTheConnection) {
  Sim.SetReply("GETADC 3", "512\r\n");
  PollOnce();
  ASSERT_EQ(AnalogValueText(3), "2,50");
  Sim.SetReply("GETADC 3", "");  // no reply at all
  PollOnce();
  std::vector<std::string> sent = CommandTexts();
  ASSERT_FALSE(sent.empty());
  EXPECT_EQ(sent.back(), "GETADC 3");
  EXPECT_EQ(sent.size(), 9u);
  EXPECT_FALSE(BoardConnected());
  EXPECT_EQ(AnalogValueText(3), "--.--");
  EXPECT_EQ(AnalogValueText(4), "--.--");
  // GETADC 1 had its reply before the loss, but the level is no longer
  // the board's of just now.
  EXPECT_EQ(AppState.Readings.LevelProven, 0);
}

TEST_F(Poll, DigitalInputsByTheirFirstCharacter) {
  const struct {
    std::string reply;
    std::string text;
    uint32_t colour;
  } cases[] = {
      {"1\r\n", "OFFEN", Blue},       {"0\r\n", "GESCHLOSSEN", Red},
      {"7\r\n", "GESCHLOSSEN", Red},  // 2..9 keep the previous state
      {"1\r\n", "OFFEN", Blue},       {"7\r\n", "OFFEN", Blue},
      {" 1\r\n", "GESCHLOSSEN", Red}, {"x\r\n", "GESCHLOSSEN", Red},
      {"1\r\n", "OFFEN", Blue},       {"\r\n", "GESCHLOSSEN", Red},
  };
  for (const auto& c : cases) {
    for (int n = 1; n <= 4; n++)
      Sim.SetReply("GETPORT " + std::to_string(n), c.reply);
    PollOnce();
    for (int n = 1; n <= 4; n++)
      ExpectLabel(DigitalStateLabel(n), c.text, c.colour);
  }
}

TEST_F(Poll, BoardDataTextIsBuiltFromTheReplies) {
  PollOnce();
  ExpectLabel(LabelBoardData,
              "Daten aus dem Board:\r\rFirmware:\r"
              "uC: ATmega32\r\nVer: 1.5\r\nNIC: ENC28J60\r\n"
              "\rEinstellungen:\rBoard-IP: 192.168.1.50\r\n"
              "Subnetz: 255.255.255.0\r\nGateway: 192.168.1.1\r\n",
              Blue);
  Sim.SetReply("VERSION", std::string(200, 'V'));
  PollOnce();
  EXPECT_EQ(AppState.Readings.FirmwareText, std::string(200, 'V'));
}

TEST_F(Poll, FunctionLabelsFollowTheFlags) {
  PollOnce();
  ExpectLabel(OutputStateLabel(3), "keine Messung", Blue);
  ExpectLabel(OutputStateLabel(4), "gesperrt", Blue);
  EXPECT_TRUE(C(ButtonMeasurementOn).Enabled);
  EXPECT_FALSE(C(ButtonMeasurementOff).Enabled);
  AppState.Switching.MeasurementEnabled = 1;
  AppState.Measurement.CyclePeriod = 360;
  AppState.Measurement.CycleCounter = 100;
  PollOnce();
  ExpectLabel(OutputStateLabel(3), "Messung in 260 Sek", Red);
  EXPECT_FALSE(C(ButtonMeasurementOn).Enabled);
  EXPECT_FALSE(C(ButtonMeasurementOff).Enabled);
  ReleaseHeldButtons();
  EXPECT_TRUE(C(ButtonMeasurementOff).Enabled);
  AppState.Measurement.CycleCounter = 363;
  PollOnce();
  ExpectLabel(OutputStateLabel(3), "Messung in -3 Sek", Red);
}

TEST_F(Poll, ClosedConnectionShowsTheFirstTextsAtOnce) {
  Sim.SetReply("GETSTATUS", "S10011001\r\n");
  Sim.SetReply("GETADC 3", "512\r\n");
  AppState.Switching.MeasurementEnabled = 1;
  AppState.Switching.MinimumEnabled = 1;
  PollOnce();
  ASSERT_EQ(C(ButtonMinimumOff).Content, "Ausgelöst");
  ASSERT_EQ(C(AnalogValueLabel(3)).Content, "2,50");
  HeadlessSetClock(20000);
  Sim.CloseNow();
  ASSERT_TRUE(Sim.WaitFor([&] { return !Sim.Connected(); }, 5000));
  PollOnce();
  EXPECT_EQ(AppState.Link.ConnectionLost, 1);
  for (int output : {1, 2, 6, 7, 8})
    EXPECT_EQ(C(OutputStateLabel(output)).Content, "---") << output;
  for (int n = 0; n < 4; n++) {
    EXPECT_EQ(C(AnalogValueLabel(n + 1)).Content, "--.--") << n + 1;
    EXPECT_EQ(C(DigitalStateLabel(n + 1)).Content, "---") << n + 1;
  }
  EXPECT_EQ(C(LabelBoardData).Content, BoardDataTemplate);
  EXPECT_EQ(C(ButtonMinimumOff).Content, "AUS");
  EXPECT_EQ(C(ButtonMaximumOff).Content, "AUS");
  EXPECT_EQ(C(LabelPingCountdown).Content,
            "Keine Verbindung / Neuer Versuch in 5 s");
  // The function labels keep the operator's settings.
  EXPECT_EQ(C(OutputStateLabel(3)).Content.rfind("Messung in", 0), 0u);
  EXPECT_EQ(C(OutputStateLabel(4)).Content, "Freigegeben");
  EXPECT_EQ(C(OutputStateLabel(5)).Content, "gesperrt");
  // A query without a connection sends nothing and changes nothing.
  PollOnce();
  EXPECT_EQ(C(LabelBoardData).Content, BoardDataTemplate);
  EXPECT_EQ(AppState.Readings.LevelProven, 0);
}
