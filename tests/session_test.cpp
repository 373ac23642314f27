// The guard among the other programs and in the Windows session: every
// start told and registered for a restart, every end of the session told
// before the program ends, and one guard per well.
#include "app/session.h"

#include <string>
#include <vector>

#include "app/startup.h"
#include "base/state.h"
#include "board/link.h"
#include "control/alarms.h"
#include "tests/program_fixture.h"
#include "ui/control_numbers.h"

namespace {

const char Folder[] = "D:\\Brunnen";
const char Command[] = "C:\\Alarm\\alarm.cmd";

class Session : public BoardTest {
 protected:
  // The arguments after the program's name, as the operator's shortcut
  // gives them.
  std::string Arguments() const {
    return std::string("/log ") + Folder + " /alarm \"" + Command +
           "\" 127.0.0.1 " + std::to_string(Sim.Port());
  }

  void StartWithLogAndAlarm() {
    ResetPlatform();
    HeadlessAddFolder(Folder);
    std::string line =
        "\"C:\\Program Files\\KORVALINEX\\korvalinex.exe\"  " + Arguments();
    HeadlessSetCommandLine(line.c_str());
  }

  // The level log's event lines, as written.
  static std::vector<std::string> EventLines() {
    std::vector<std::string> lines;
    for (const HeadlessFileWrite& w : HeadlessFileWrites())
      if (w.Bytes.find(";Ereignis;") != std::string::npos)
        lines.push_back(w.Bytes);
    return lines;
  }

  static std::vector<std::string> StartedNames() {
    std::vector<std::string> names;
    for (const HeadlessProgramStart& s : HeadlessProgramStarts())
      names.push_back(s.Arguments.empty() ? "" : s.Arguments[0]);
    return names;
  }

  std::string WellName() const {
    return "KORVALINEX-Brunnen-127.0.0.1-" + std::to_string(Sim.Port());
  }
};

using Names = std::vector<std::string>;

TEST_F(Session, EveryStartIsToldAndRegisteredForARestartWithItsArguments) {
  StartWithLogAndAlarm();
  Text claimed;
  Names startedAtFirstWait;
  int code = RunProgram([&](int wait) {
    if (wait == 1) {
      claimed = HeadlessClaimHeld();
      startedAtFirstWait = StartedNames();
    }
    if (wait == 3) HeadlessPostClick(ButtonQuit);
  });
  EXPECT_EQ(code, 0);
  EXPECT_TRUE(HeadlessMessageBoxes().empty());
  // Told once the main window stands, before the first wait.
  EXPECT_EQ(startedAtFirstWait, Names({"programm-start"}));
  EXPECT_EQ(HeadlessProgramStarts()[0].Arguments[2], "-");
  ASSERT_EQ(AppState.Alarms.AlarmLines.size(), 1u);
  std::string said = "Wächter gestartet: KORVALINEX-Board 127.0.0.1, Port " +
                     std::to_string(Sim.Port());
  EXPECT_NE(AppState.Alarms.AlarmLines[0].find(said), std::string::npos)
      << AppState.Alarms.AlarmLines[0];
  ASSERT_EQ(EventLines().size(), 1u);
  EXPECT_NE(EventLines()[0].find(said), std::string::npos) << EventLines()[0];
  // The arguments as the shortcut gave them, quotes and all.
  EXPECT_EQ(HeadlessRestartRegistrations(), std::vector<Text>({Arguments()}));
  // The well is held while the program runs, and let go at its end.
  EXPECT_EQ(claimed, WellName());
  EXPECT_EQ(HeadlessClaimHeld(), "");
}

TEST_F(Session, EachEndOfTheSessionIsToldWithItsReasonAndEndsAsQuitDoes) {
  struct Case {
    SessionEndReason Reason;
    const char* Name;
    const char* Says;
  };
  const Case cases[] = {
      {SessionEndShutdown, "herunterfahren",
       "Windows wird heruntergefahren oder neu gestartet: der Wächter endet"},
      {SessionEndLogoff, "abmelden", "Windows meldet den Benutzer ab"},
      {SessionEndUpdate, "update",
       "Windows beendet das Programm für ein Update"},
      {SessionEndCritical, "kritisch", "Windows endet sofort"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    StartWithLogAndAlarm();
    // The alarm command is not waited for: it still runs when the program
    // has ended.
    HeadlessSetProgramsKeepRunning(true);
    uint64_t connections = Sim.ConnectionCount() + 1;
    int postedAt = 0;
    int code = RunProgram([&](int wait) {
      if (wait == 3) {
        HeadlessPostSessionEnd(c.Reason);
        postedAt = wait;
      }
    });
    EXPECT_EQ(code, 0);
    // It ends at the wait that took the end, as after QUIT.
    EXPECT_EQ(HeadlessWaitCount(), postedAt);
    EXPECT_TRUE(HeadlessMessageBoxes().empty());
    EXPECT_EQ(Sim.ConnectionCount(), connections);
    EXPECT_FALSE(BoardConnected());
    EXPECT_EQ(HeadlessClaimHeld(), "");
    ASSERT_EQ(StartedNames(), Names({"programm-start", "pc-ende"}));
    const std::vector<Text>& args = HeadlessProgramStarts()[1].Arguments;
    ASSERT_EQ(args.size(), 4u);
    EXPECT_EQ(args[2], "-");
    EXPECT_EQ(args[3], c.Name);
    EXPECT_EQ(HeadlessRunningPrograms(), 2);
    ASSERT_EQ(AppState.Alarms.AlarmLines.size(), 2u);
    EXPECT_NE(AppState.Alarms.AlarmLines[1].find(c.Says), std::string::npos)
        << AppState.Alarms.AlarmLines[1];
    ASSERT_EQ(EventLines().size(), 2u);
    EXPECT_NE(EventLines()[1].find(c.Says), std::string::npos)
        << EventLines()[1];
    HeadlessEndPrograms();
  }
}

// Windows may end the process as soon as the program has answered: the
// end is told there and then, also in the middle of an exchange with the
// board, not at the program's next event wait. Told once, however many
// windows hear of it.
TEST_F(Session, TheEndIsToldWhereWindowsSaysItEvenInTheMiddleOfAnExchange) {
  StartWithLogAndAlarm();
  int postedInWait = -1, servesAfter = 0;
  Names atNextServe;
  HeadlessSetServeHook([&] {
    if (postedInWait < 0 && HeadlessWaitCount() >= 3) {
      HeadlessPostSessionEnd(SessionEndUpdate);
      postedInWait = HeadlessWaitCount();
    } else if (postedInWait >= 0 && servesAfter++ == 0) {
      atNextServe = StartedNames();
      HeadlessPostSessionEnd(SessionEndShutdown);  // not told again
    }
  });
  int code = RunProgram([](int) {});
  EXPECT_EQ(code, 0);
  ASSERT_GT(postedInWait, 0) << "the program never waited for the board";
  ASSERT_GT(servesAfter, 0) << "the exchange ended with the serve";
  EXPECT_EQ(atNextServe, Names({"programm-start", "pc-ende"}));
  // The program ends at its next wait.
  EXPECT_EQ(HeadlessWaitCount(), postedInWait + 1);
  EXPECT_EQ(StartedNames(), Names({"programm-start", "pc-ende"}));
  EXPECT_EQ(HeadlessProgramStarts()[1].Arguments[3], "update");
}

TEST_F(Session, AfterTheEndOfTheProgramASessionEndIsNotTold) {
  StartWithLogAndAlarm();
  RunProgram([](int wait) {
    if (wait == 2) HeadlessPostClick(ButtonQuit);
  });
  HeadlessPostSessionEnd(SessionEndShutdown);
  PlatServeWindows();
  EXPECT_EQ(StartedNames(), Names({"programm-start"}));
}

class OneGuardPerWell : public Session {
 protected:
  // The start refused: the box, and nothing of the program.
  void ExpectRefused(int code, const std::string& well) {
    EXPECT_EQ(code, 0);
    ASSERT_EQ(HeadlessMessageBoxes().size(), 1u);
    EXPECT_EQ(HeadlessMessageBoxes()[0].Title, "KORVALINEX: Problem");
    EXPECT_EQ(HeadlessMessageBoxes()[0].Body,
              "Dieser Brunnen (" + well +
                  ") wird schon von einem laufenden KORVALINEX bewacht!");
    EXPECT_EQ(HeadlessFindWindow(MainWindow), nullptr);
    EXPECT_EQ(HeadlessSendCount(), 0);
    EXPECT_EQ(Sim.ConnectionCount(), 0u);
    EXPECT_TRUE(HeadlessProgramStarts().empty());
    EXPECT_TRUE(HeadlessRestartRegistrations().empty());
    EXPECT_EQ(HeadlessLiveMemoryBlocks(), 0);
  }

  void StartFor(const std::string& address, int port) {
    std::string line = "korvalinex.exe /alarm C:\\Alarm\\alarm.cmd " + address +
                       " " + std::to_string(port);
    HeadlessSetCommandLine(line.c_str());
  }
};

TEST_F(OneGuardPerWell, ASecondStartForTheSameWellIsRefusedBeforeItConnects) {
  std::string port = std::to_string(Sim.Port());
  ResetPlatform();
  HeadlessHoldClaimElsewhere(WellName(), true);
  StartFor("127.0.0.1", Sim.Port());
  ExpectRefused(ProgramMain(), "127.0.0.1:" + port);

  // The same well by its name.
  ResetPlatform();
  HeadlessHoldClaimElsewhere(WellName(), true);
  StartFor("LocalHost", Sim.Port());
  ExpectRefused(ProgramMain(), "LocalHost:" + port);
}

TEST_F(OneGuardPerWell, AnotherWellAndASystemWithoutNamesStartAsEver) {
  ResetPlatform();
  // The guard of the well at the next port runs.
  HeadlessHoldClaimElsewhere(
      "KORVALINEX-Brunnen-127.0.0.1-" + std::to_string(Sim.Port() + 1), true);
  StartFor("127.0.0.1", Sim.Port());
  EXPECT_EQ(RunProgram([](int wait) {
              if (wait == 2) HeadlessPostClick(ButtonQuit);
            }),
            0);
  EXPECT_TRUE(HeadlessMessageBoxes().empty());
  EXPECT_EQ(StartedNames(), Names({"programm-start"}));
  EXPECT_EQ(Sim.ConnectionCount(), 1u);

  // Better two guards than none.
  ResetPlatform();
  HeadlessSetClaimsFail(true);
  StartFor("127.0.0.1", Sim.Port());
  EXPECT_EQ(RunProgram([](int wait) {
              if (wait == 2) HeadlessPostClick(ButtonQuit);
            }),
            0);
  EXPECT_TRUE(HeadlessMessageBoxes().empty());
  EXPECT_EQ(Sim.ConnectionCount(), 2u);
}

TEST(WellClaimName, AnUnknownNameIsTakenInSmallLettersAndPlainCharacters) {
  HeadlessReset();
  AppState.Settings.BoardAddress = "Brunnen_Nord.example";
  AppState.Settings.BoardPort = 7;
  EXPECT_EQ(WellClaimName(), "KORVALINEX-Brunnen-brunnen_nord.example-7");
  AppState.Settings.BoardAddress = "Brunnen\\Nord Ost";
  EXPECT_EQ(WellClaimName(), "KORVALINEX-Brunnen-brunnen_nord_ost-7");
}

}  // namespace
