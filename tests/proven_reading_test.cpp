// The level outputs switch only on a reading that is provably the board's
// answer to the GETADC 1 just sent. Ordinary boards and ordinary operator
// actions that cut a reply in the wrong place once made every later
// command take the reply of the one before it, and the level decision read
// whatever text landed on GETADC 1: a board writing its Version a line at
// a time, a Help longer than its receive, the console's HELP arriving in
// pieces, a second line behind a reply.
#include <atomic>
#include <cmath>
#include <string>
#include <vector>

#include "base/state.h"
#include "base/state_words.h"
#include "board/commands.h"
#include "board/link.h"
#include "control/console.h"
#include "control/history.h"
#include "control/measurement.h"
#include "tests/program_fixture.h"
#include "tests/support/program_start.h"
#include "ui/board_view.h"
#include "ui/console.h"
#include "ui/control_numbers.h"
#include "ui/history_window.h"

namespace {

const int FullWell = 600;  // 2,93 V: above the Maximum threshold
const int DryWell = 20;    // 0,10 V: below the Minimum threshold

using Commands = std::vector<std::string>;

const Commands ForFull = {"setport 5.1", "setport 4.0"};
const Commands ForDry = {"setport 5.0", "setport 4.1"};

const char BoardData[] =
    "Daten aus dem Board:\r\rFirmware:\ruC: ATmega32\r\nVer: 1.5\r\nNIC: "
    "ENC28J60\r\n\rEinstellungen:\rBoard-IP: 192.168.1.50\r\nSubnetz: "
    "255.255.255.0\r\nGateway: 192.168.1.1\r\n";

class ProvenReading : public HandlerTest {
 protected:
  void SetUp() override {
    HandlerTest::SetUp();
    Sim.SetOutput(3, true);  // the sensor powered: analog 1 reads the well
  }

  // One evaluation; the setport commands it sent to outputs 4 and 5.
  Commands Evaluate() {
    Sim.ClearLog();
    SensorAsWarmedUp();
    EvaluateLevel();
    Commands levels;
    for (const std::string& c : OnlySetports(CommandTexts()))
      if (c.rfind("setport 4.", 0) == 0 || c.rfind("setport 5.", 0) == 0)
        levels.push_back(c);
    return levels;
  }

  void ExpectEvaluation(int well, const Commands& expected) {
    Sim.SetLevel(well);
    EXPECT_EQ(Evaluate(), expected) << "well at " << well;
  }
};

TEST_F(ProvenReading, VersionWrittenALineAtATime) {
  for (int gap : {1, 3, 10}) {
    SCOPED_TRACE(gap);
    Sim.SetLineGap(gap, "VERSION");
    ExpectEvaluation(FullWell, ForFull);
    EXPECT_EQ(C(LabelBoardData).Content, BoardData);
    ExpectEvaluation(DryWell, ForDry);
    EXPECT_EQ(C(LabelBoardData).Content, BoardData);
  }
  EXPECT_TRUE(BoardConnected());
}

// Every multi-line reply a line at a time, up to 50 ms apart: the guard
// does not go blind.
TEST_F(ProvenReading, EveryMultiLineReplyALineAtATime) {
  Sim.SetLineGap(50);
  ExpectEvaluation(DryWell, ForDry);
  ExpectEvaluation(FullWell, ForFull);
}

// A Help longer than its 200-byte receive is read to its end, with or
// without a line feed at its end; nothing of it reaches Version.
TEST_F(ProvenReading, HelpLongerThanItsReceive) {
  std::string lines;
  while (lines.size() < 250) lines += "HELP   Hilfetext zum Board\r\n";
  Sim.SetReply("HELP", lines);
  ExpectEvaluation(DryWell, ForDry);
  ExpectEvaluation(FullWell, ForFull);
  EXPECT_EQ(C(LabelBoardData).Content, BoardData);
  // A Help that changes on a connection is no longer the one learned: the
  // evaluation that meets it decides nothing, the next one learns it anew.
  Sim.SetReply("HELP", std::string(400, 'H'));
  Sim.SetLevel(FullWell);
  EXPECT_EQ(Evaluate(), Commands());
  ExpectEvaluation(FullWell, ForFull);
  ExpectEvaluation(DryWell, ForDry);
  EXPECT_EQ(C(LabelBoardData).Content, BoardData);
}

// The console's HELP with a 600-byte reply written a line at a time,
// then at once an evaluation: the console takes the reply whole; lines
// too far apart for it are thrown away before the evaluation decides, or
// it decides nothing.
TEST_F(ProvenReading, ConsoleHelpInPiecesThenAnEvaluation) {
  std::string lines;
  while (lines.size() < 600) lines += "GETADC X   Ruft analogen Eingang ab\r\n";
  for (int gap : {30, 200}) {
    SCOPED_TRACE(gap);
    Sim.SetReply("HELP", lines, 1);
    Sim.SetLineGap(gap, "HELP");
    HeadlessTypeText(EditConsole, "HELP");
    SendConsoleCommand();
    Sim.SetLevel(FullWell);
    Commands sent = Evaluate();
    if (gap == 30) {
      EXPECT_EQ(sent, ForFull);
    } else {
      EXPECT_TRUE(sent.empty() || sent == ForFull)
          << ::testing::PrintToString(sent);
    }
    Sim.SetLineGap(0);
    if (!BoardConnected()) {
      ASSERT_TRUE(Reconnect());
    }
  }
}

// A second line behind a reply is no command's: a query with one decides
// nothing, whether the line comes with the reply or after it.
TEST_F(ProvenReading, ALineTooManyDecidesNothing) {
  Sim.SetLevel(FullWell);
  Sim.SetReply("GETADC 1", "20\r\n600\r\n", 1);  // two readings at once
  EXPECT_EQ(Evaluate(), Commands());
  EXPECT_GT(AppState.Measurement.DoubtedEvaluations, 0);
  Sim.SetReply("GETPORT 4", "1\r\n1\r\n", 1);  // the second comes late
  Sim.SetLineGap(60, "GETPORT 4");
  EXPECT_EQ(Evaluate(), Commands());
  Sim.SetLineGap(0);
  ExpectEvaluation(FullWell, ForFull);
  EXPECT_EQ(AppState.Measurement.DoubtedEvaluations, 0);
}

// Output 5 is decided on the query before its command, output 4 on the
// one after it, and the history keeps each output's own level.
TEST_F(ProvenReading, EachOutputOnItsOwnQueryAndTheHistoryKeepsBoth) {
  Sim.SetLevel(FullWell);
  Sim.SetCommandListener([&](const kvxsim::CommandRecord& c) {
    if (c.text.rfind("setport 5.", 0) == 0) Sim.SetLevel(DryWell);
  });
  EXPECT_EQ(Evaluate(), (Commands{"setport 5.1", "setport 4.1"}));
  Sim.SetCommandListener(nullptr);
  ASSERT_EQ(HistorySize(), 1);
  const LevelRecord& r = HistoryEntry(0);
  EXPECT_DOUBLE_EQ(r.Level5, 2.93);
  EXPECT_DOUBLE_EQ(r.Level4, 0.098);
  EXPECT_EQ(r.Output5, 1);
  EXPECT_EQ(r.Output4, 1);
  EXPECT_FALSE(r.Doubted);
}

// Evaluations that decide nothing for want of a proven reading say so in
// label 36 and in the history; a whole cycle of them calls the operator.
TEST_F(ProvenReading, DoubtedEvaluationsAreShownRecordedAndCallTheOperator) {
  HeadlessActivateOtherProgram();
  Sim.SetReply("GETADC 1", "abc\r\n");
  for (int i = 1; i <= 3; i++) {
    SCOPED_TRACE(i);
    EXPECT_EQ(Evaluate(), Commands());
    EXPECT_EQ(AppState.Measurement.DoubtedEvaluations, i);
    EXPECT_EQ(HeadlessFindWindow(MainWindow)->Flashing, i == 3);
  }
  ASSERT_EQ(HistorySize(), 3);
  EXPECT_TRUE(HistoryEntry(2).Doubted);
  EXPECT_TRUE(std::isnan(HistoryEntry(2).Level5));
  EXPECT_EQ(HistoryEntry(2).Output4, CommandNotSent);
  EXPECT_EQ(HistoryEntry(2).Output5, CommandNotSent);
  EXPECT_NE(HistorySummaryText().find("Messwert unsicher"), Text::npos)
      << HistorySummaryText();

  Sim.ClearReplies();
  ExpectEvaluation(DryWell, ForDry);
  EXPECT_EQ(AppState.Measurement.DoubtedEvaluations, 0);
  EXPECT_EQ(AppState.Measurement.DoubtedEvaluations, 0);
  EXPECT_FALSE(HistoryEntry(3).Doubted);
}

}  // namespace

// In the running program, label 36 tells the operator that the last
// evaluation switched nothing, until one decides again.
using ProvenReadingRun = BoardTest;

TEST_F(ProvenReadingRun, Label36SaysWhenAReadingWasInDoubt) {
  Sim.SetReply("GETADC 1", "abc\r\n");
  Then([] {
    AppState.Measurement.CyclePeriod = 0;
    AppState.Measurement.CycleCounter = 0;
  });
  // Label 36 is written at the pass after the one that evaluated.
  ThenWhen(
      40, [] { return AppState.Measurement.DoubtedEvaluations > 0; }, [] {},
      "an evaluation in doubt");
  Then([&] {
    EXPECT_EQ(C(LabelPingCountdown).Content, DoubtedReadingText);
    Sim.ClearReplies();
  });
  ThenWhen(
      40, [] { return AppState.Measurement.DoubtedEvaluations == 0; }, [] {},
      "an evaluation that decides");
  Then([] {
    EXPECT_EQ(C(LabelPingCountdown).Content.rfind("Ping war ", 0), 0u)
        << C(LabelPingCountdown).Content;
  });
  RunSteps();
}

// Only output 4 left undecided (output 5 switched on the proven query
// before): label 36 says that, not that nothing was switched.
TEST_F(ProvenReadingRun, Label36SaysWhenOutput4AloneWasLeftUndecided) {
  Sim.SetLevel(FullWell);
  // Readings taken while output 5 is on are in doubt: the query after
  // "setport 5.1" is, the one before it not.
  Sim.SetReplyTransform(
      [this](const std::string& keyword, const std::string& reply) {
        return keyword == "GETADC" && Sim.Output(5) ? std::string("abc\r\n")
                                                    : reply;
      });
  Then([] {
    AppState.Measurement.CyclePeriod = 0;
    AppState.Measurement.CycleCounter = 0;
  });
  ThenWhen(
      40, [] { return AppState.Measurement.DoubtedEvaluations > 0; }, [] {},
      "an evaluation in doubt");
  Then([&] {
    EXPECT_EQ(C(LabelPingCountdown).Content, DoubtedOutput4Text);
    EXPECT_TRUE(Sim.Output(5));
    Sim.SetReplyTransform(nullptr);
  });
  RunSteps();
}
