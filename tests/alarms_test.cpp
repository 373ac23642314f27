// The alarm events: each once, at its moment, and not again while its
// condition holds; the alarm command with its arguments; and a command
// that fails, hangs or is asked for again and again never touches what
// the guard sends to the board.
#include "control/alarms.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "base/clock_text.h"
#include "base/level_csv.h"
#include "base/state.h"
#include "board/poll.h"
#include "control/history.h"
#include "control/level_log.h"
#include "control/measurement.h"
#include "control/refresh.h"
#include "control/switching.h"
#include "tests/program_fixture.h"
#include "tests/support/program_start.h"
#include "ui/board_view.h"
#include "ui/control_numbers.h"
#include "ui/history_window.h"

namespace {

const int FullWell = 600;    // 2,93 V: above the Maximum threshold
const int NormalWell = 150;  // 0,73 V
const int DryWell = 20;      // 0,09 V: below the Minimum threshold

const char Command[] = "C:\\Brunnen\\alarm.cmd";

using Names = std::vector<std::string>;

class Alarms : public HandlerTest {
 protected:
  void SetUp() override {
    HandlerTest::SetUp();
    Sim.SetOutput(3, true);  // the sensor powered: analog 1 reads the well
  }

  void Evaluate(int well) {
    Sim.SetLevel(well);
    SensorAsWarmedUp();
    EvaluateLevel();
  }

  // The short names of the alarm command's starts so far.
  static Names Started() {
    Names names;
    for (const HeadlessProgramStart& s : HeadlessProgramStarts())
      names.push_back(s.Arguments.empty() ? "" : s.Arguments[0]);
    return names;
  }

  static int Flashes() { return HeadlessFindWindow(MainWindow)->FlashCount; }
};

TEST(AlarmArguments, NameTimeAndLevelAsACommandLineTakesThem) {
  AppState.Settings.AnalogTextWidth[1] = 5;
  int64_t time = 20796 * 86400LL + 10 * 3600 + 4 * 60 + 17;  // 09.12.2026
  EXPECT_EQ(AlarmArguments(AlarmMinimumOn, time, 0.0977),
            (std::vector<Text>{"minimum-ein", "2026-12-09T10:04:17", "0,09"}));
  EXPECT_EQ(AlarmArguments(AlarmBlind, time, NAN),
            (std::vector<Text>{"verbindung-weg", "2026-12-09T10:04:17", "-"}));
  EXPECT_EQ(AlarmArguments(AlarmMaximumOn, time + 86400 * 23, 2.93)[1],
            "2027-01-01T10:04:17");
  // Every short name is ASCII without blanks, every name different.
  for (int a = 0; a < AlarmEventCount; a++) {
    for (const char* c = AlarmEvents[a].Name; *c; c++)
      EXPECT_TRUE((*c >= 'a' && *c <= 'z') || *c == '-') << AlarmEvents[a].Name;
    for (int b = 0; b < a; b++)
      EXPECT_STRNE(AlarmEvents[a].Name, AlarmEvents[b].Name);
  }
}

TEST_F(Alarms, OutputEventsComeOnceWhileTheirConditionHolds) {
  AppState.Settings.AlarmCommand = Command;
  HeadlessActivateOtherProgram();
  for (int i = 0; i < 3; i++) Evaluate(NormalWell);
  EXPECT_EQ(Started(), Names());
  EXPECT_EQ(Flashes(), 0);

  Evaluate(DryWell);
  ASSERT_EQ(Started(), Names({"minimum-ein"}));
  const HeadlessProgramStart& first = HeadlessProgramStarts()[0];
  EXPECT_EQ(first.Program, Command);
  ASSERT_EQ(first.Arguments.size(), 3u);
  EXPECT_EQ(first.Arguments[1].substr(0, 14), "2026-12-06T07:");
  EXPECT_EQ(first.Arguments[2], "0,09");
  EXPECT_EQ(Flashes(), 1);
  // Still dry: nothing new.
  Evaluate(DryWell);
  Evaluate(DryWell);
  EXPECT_EQ(Started(), Names({"minimum-ein"}));
  EXPECT_EQ(Flashes(), 1);

  // Full: output 5 on, output 4 off again; still full: nothing new.
  Evaluate(FullWell);
  Evaluate(FullWell);
  EXPECT_EQ(Started(), Names({"minimum-ein", "maximum-ein", "minimum-aus"}));
  EXPECT_EQ(HeadlessProgramStarts()[1].Arguments[2], "2,93");
  EXPECT_EQ(HeadlessProgramStarts()[2].Arguments[2], "2,93");
  EXPECT_EQ(Flashes(), 3);  // the all-clear calls too
  Evaluate(NormalWell);
  Evaluate(NormalWell);
  EXPECT_EQ(Started(), Names({"minimum-ein", "maximum-ein", "minimum-aus",
                              "maximum-aus"}));
  EXPECT_EQ(Flashes(), 4);

  // The history window lists them, the newest last.
  ASSERT_EQ(AppState.Alarms.AlarmLines.size(), 4u);
  EXPECT_NE(AppState.Alarms.AlarmLines[0].find(
                "Trockenlauf: Ausgang 4 (Minimum) eingeschaltet (0,09 V)"),
            Text::npos)
      << AppState.Alarms.AlarmLines[0];
  EXPECT_NE(AppState.Alarms.AlarmLines[3].find("Entwarnung: Ausgang 5"),
            Text::npos);
  OpenHistoryWindow();
  Text shown = C(LabelHistoryEvents).Content;
  EXPECT_NE(shown.find(AppState.Alarms.AlarmLines[0]), Text::npos) << shown;
  EXPECT_NE(shown.find(AppState.Alarms.AlarmLines[3]), Text::npos) << shown;

  // The operator looks: the next events call nobody.
  HeadlessActivateWindow(MainWindow);
  Evaluate(DryWell);
  EXPECT_EQ(Started().size(), 5u);
  EXPECT_EQ(AppState.Alarms.AlarmLines.size(), 5u);
  EXPECT_EQ(Flashes(), 4);
}

// A function locked by the operator switches its output off on the next
// evaluation: that is no all-clear, and the event says so. A level that
// came back inside its threshold still gives the all-clear, locked or not.
TEST_F(Alarms, ALockedFunctionIsNoAllClear) {
  struct Case {
    int output;
    int beyond, inside;  // wells beyond the output's threshold and inside
    Names on, locked, clear;
    const char* lockedText;
  };
  const Case cases[] = {
      {4,
       DryWell,
       NormalWell,
       {"minimum-ein"},
       {"minimum-gesperrt"},
       {"minimum-aus"},
       "Ausgang 4 (Minimum) ausgeschaltet: Trockenlaufschutz gesperrt "
       "(0,09 V)"},
      {5,
       FullWell,
       NormalWell,
       {"maximum-ein"},
       {"maximum-gesperrt"},
       {"maximum-aus"},
       "Ausgang 5 (Maximum) ausgeschaltet: Hochstandmeldung gesperrt "
       "(2,93 V)"},
  };
  AppState.Settings.AlarmCommand = Command;
  HeadlessActivateOtherProgram();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.output);
    size_t from = Started().size();
    auto since = [&] {
      Names all = Started();
      return Names(all.begin() + (long)from, all.end());
    };
    auto expect = [&](const Names& names) {
      EXPECT_EQ(since(), names);
      from = Started().size();
    };
    Evaluate(c.beyond);
    expect(c.on);
    int flashes = Flashes();
    SwitchFunction(c.output, false);
    Evaluate(c.beyond);
    EXPECT_FALSE(Sim.Output(c.output));
    expect(c.locked);
    EXPECT_EQ(Flashes(), flashes + 1);
    EXPECT_NE(AppState.Alarms.AlarmLines.back().find(c.lockedText), Text::npos)
        << AppState.Alarms.AlarmLines.back();
    EXPECT_EQ(AppState.Alarms.AlarmLines.back().find("Entwarnung"), Text::npos);
    Evaluate(c.beyond);
    expect({});

    // Released again on the same level: on again; the level back inside:
    // the all-clear.
    SwitchFunction(c.output, true);
    Evaluate(c.beyond);
    expect(c.on);
    Evaluate(c.inside);
    expect(c.clear);
    // Locked while the level comes back: the all-clear.
    Evaluate(c.beyond);
    expect(c.on);
    SwitchFunction(c.output, false);
    Evaluate(c.inside);
    expect(c.clear);
    SwitchFunction(c.output, true);
  }
}

TEST_F(Alarms, TheBoardHoldingAnOutputOnFromBeforeStillGivesTheEvent) {
  // The board has output 4 on from before the start: the event comes (at
  // start an output counts as off), and calls the operator.
  Sim.SetOutput(4, true);
  RefreshBoard();
  HeadlessActivateOtherProgram();
  AppState.Settings.AlarmCommand = Command;
  Evaluate(DryWell);
  EXPECT_EQ(Started(), Names({"minimum-ein"}));
  EXPECT_EQ(Flashes(), 1);
  // Switched off by hand: the guard says that the board no longer holds
  // its decision. On again by the next dry evaluation: no new "minimum-ein"
  // (the events still hold it on), but the board saw it go on.
  Sim.SetOutput(4, false);
  RefreshBoard();
  AnnounceWaitingAlarms();  // as the main loop's next pass does
  EXPECT_EQ(Started(), Names({"minimum-ein", "ausgang-abweichend"}));
  EXPECT_EQ(Flashes(), 2);
  Evaluate(DryWell);
  EXPECT_EQ(Started(), Names({"minimum-ein", "ausgang-abweichend"}));
  EXPECT_EQ(Flashes(), 3);
  EXPECT_TRUE(Sim.Output(4));
}

TEST_F(Alarms, AWholeCycleInDoubtComesOnceUntilAReadingDecides) {
  AppState.Settings.AlarmCommand = Command;
  HeadlessActivateOtherProgram();
  Sim.SetReply("GETADC 1", "abc\r\n");
  for (int i = 0; i < 2; i++) Evaluate(DryWell);
  EXPECT_EQ(Started(), Names());
  Evaluate(DryWell);
  EXPECT_EQ(Started(), Names({"messwert-unsicher"}));
  EXPECT_EQ(HeadlessProgramStarts()[0].Arguments[2], "-");
  EXPECT_EQ(Flashes(), 1);
  for (int i = 0; i < 4; i++) Evaluate(DryWell);
  EXPECT_EQ(Started(), Names({"messwert-unsicher"}));

  Sim.ClearReplies();
  Evaluate(NormalWell);
  Sim.SetReply("GETADC 1", "abc\r\n");
  for (int i = 0; i < 3; i++) Evaluate(NormalWell);
  EXPECT_EQ(Started(), Names({"messwert-unsicher", "messwert-unsicher"}));
  EXPECT_EQ(Flashes(), 2);
}

// Readings in doubt only after output 5 was switched: output 4 alone
// stayed undecided, and the event says so, not that nothing was switched.
TEST_F(Alarms, ACycleInDoubtForOutput4AloneSaysOutput5WasSwitched) {
  AppState.Settings.AlarmCommand = Command;
  // Every reading taken while output 5 is on is in doubt: the query before
  // "setport 5.1" is proven, the one after it not.
  Sim.SetReplyTransform(
      [this](const std::string& keyword, const std::string& reply) {
        return keyword == "GETADC" && Sim.Output(5) ? std::string("abc\r\n")
                                                    : reply;
      });
  for (int i = 0; i < 3; i++) {
    Sim.SetOutput(5, false);
    Evaluate(FullWell);
    EXPECT_EQ(HistoryEntry(HistorySize() - 1).Output5, 1);
    EXPECT_EQ(HistoryEntry(HistorySize() - 1).Output4, CommandNotSent);
  }
  // Output 5 found off before the second and third evaluation, though the
  // guard had switched it on: one episode, told once.
  EXPECT_EQ(Started(),
            Names({"maximum-ein", "ausgang-abweichend", "messwert-unsicher"}));
  const Text& line = AppState.Alarms.AlarmLines.back();
  EXPECT_EQ(line.find("nichts geschaltet"), Text::npos) << line;
  EXPECT_NE(line.find("Ausgang 4 (Minimum) nicht geschaltet"), Text::npos)
      << line;
  EXPECT_NE(line.find("Ausgang 5 (Maximum) geschaltet"), Text::npos) << line;

  // A whole cycle with nothing proven: neither output.
  Sim.SetReplyTransform(nullptr);
  Evaluate(NormalWell);
  Sim.SetReply("GETADC 1", "abc\r\n");
  for (int i = 0; i < 3; i++) Evaluate(NormalWell);
  EXPECT_NE(AppState.Alarms.AlarmLines.back().find("nichts geschaltet"),
            Text::npos)
      << AppState.Alarms.AlarmLines.back();
}

// A slow board: the evaluation's record is stamped at its end; its events
// carry that same time, in the list, the log and the command's arguments.
TEST_F(Alarms, AnEventCarriesTheTimeOfItsEvaluation) {
  AppState.Settings.AlarmCommand = Command;
  Sim.SetReplyDelay(900);
  Evaluate(DryWell);
  Sim.SetReplyDelay(0);
  ASSERT_EQ(Started(), Names({"minimum-ein"}));
  int64_t recorded = HistoryEntry(HistorySize() - 1).Time;
  EXPECT_EQ(HeadlessProgramStarts()[0].Arguments[1],
            AlarmArguments(AlarmMinimumOn, recorded, NAN)[1]);
  EXPECT_EQ(AppState.Alarms.AlarmLines.back().rfind(DateTimeText(recorded), 0),
            0u)
      << AppState.Alarms.AlarmLines.back() << " / " << DateTimeText(recorded);

  // In the level log the event's line begins with its evaluation's local
  // time and ends with its universal one.
  AppState.Settings.LogFolder = "C:\\Brunnen";
  HeadlessAddFolder(AppState.Settings.LogFolder);
  Sim.SetReplyDelay(900);
  Evaluate(NormalWell);
  Sim.SetReplyDelay(0);
  const std::string* log = HeadlessFileContent(LevelLogPath(PlatLocalClock()));
  ASSERT_NE(log, nullptr);
  auto stamp = [](const std::string& line) {
    return line.substr(0, line.find(';')) + line.substr(line.rfind(';'));
  };
  std::string evaluation, event;
  size_t at = 0;
  for (size_t end; (end = log->find("\r\n", at)) != std::string::npos;
       at = end + 2) {
    std::string line = log->substr(at, end - at);
    if (line.find(";Messung;") != std::string::npos) evaluation = stamp(line);
    if (line.find(";Ereignis;") != std::string::npos) event = stamp(line);
  }
  EXPECT_FALSE(event.empty()) << *log;
  EXPECT_EQ(event, evaluation) << *log;
}

// The daily sign of life: at its minute, once a day, whatever the clock
// does, with the counts of the 24 hours before it.
TEST_F(Alarms, TheDailySignComesOnceADayAtItsTimeWithThePastDaysCounts) {
  AppState.Settings.AlarmCommand = Command;
  AppState.Settings.AlarmDailyMinute = 7 * 60;
  HeadlessActivateOtherProgram();
  auto signs = [] {
    std::vector<std::vector<Text>> all;
    for (const HeadlessProgramStart& s : HeadlessProgramStarts())
      if (!s.Arguments.empty() && s.Arguments[0] == "lebenszeichen")
        all.push_back(s.Arguments);
    return all;
  };
  // Time passing to a later minute; an earlier one: the clock set back.
  auto at = [](int day, int hour, int minute) {
    char text[32];
    snprintf(text, sizeof text, "%02d.12.2026 %02d:%02d:00", day, hour, minute);
    int64_t target = 0;
    ASSERT_TRUE(ReadDateTimeText(text, &target));
    if (target >= PlatLocalClock())
      HeadlessAdvanceClock((int)((target - PlatLocalClock()) * 1000));
    else
      HeadlessSetLocalTime(day, 12, 2026, hour, minute);
    WatchAlarms();
    WatchAlarms();
  };
  HeadlessSetLocalTime(5, 12, 2026, 5, 0);
  AppState.WallClock = WallClockState{};
  // The day before: output 4 on at 05:00 for 40 minutes (older than the
  // sign's day), on again at 07:30 for 30 minutes, two evaluations in
  // doubt, and the connection lost twice.
  at(5, 5, 0);
  Evaluate(DryWell);
  at(5, 5, 40);
  Evaluate(NormalWell);
  AppState.Alarms.AlarmDailyArmed = false;  // a start after the day's minute
  at(5, 7, 30);
  Evaluate(DryWell);
  at(5, 8, 0);
  Evaluate(NormalWell);
  Sim.SetReply("GETADC 1", "abc\r\n");
  Evaluate(NormalWell);
  Evaluate(NormalWell);
  Sim.ClearReplies();
  Evaluate(NormalWell);
  for (int i = 0; i < 2; i++) {
    AppState.Link.ConnectionLost = true;
    WatchAlarms();
    AppState.Link.ConnectionLost = false;
    WatchAlarms();
  }
  EXPECT_TRUE(signs().empty());  // its minute was past at the start

  at(6, 6, 59);
  EXPECT_TRUE(signs().empty());
  int flashes = Flashes();
  at(6, 7, 0);
  ASSERT_EQ(signs().size(), 1u);
  EXPECT_EQ(signs()[0],
            (std::vector<Text>{"lebenszeichen", "2026-12-06T07:00:00", "-", "1",
                               "30", "2", "2"}));
  EXPECT_EQ(Flashes(), flashes);  // no call: its coming is what counts
  EXPECT_NE(AppState.Alarms.AlarmLines.back().find(
                "Lebenszeichen, letzte 24 h: Ausgang 4 (Minimum) 1-mal ein, "
                "30 min lang, 2 Messungen unsicher, Verbindung 2-mal verloren"),
            Text::npos)
      << AppState.Alarms.AlarmLines.back();

  // The rest of the day, midnight, and a clock set back an hour and a day
  // and set right again: nothing again. The next day at its time: the
  // next, with that day's counts (output 4 on since the evaluation
  // recorded a few seconds past 23:00: 7 h 59 min in whole minutes).
  at(6, 23, 0);
  Evaluate(DryWell);
  at(6, 23, 59);
  at(7, 0, 0);
  at(7, 6, 59);
  at(7, 5, 59);
  at(6, 5, 59);
  HeadlessSetLocalTime(7, 12, 2026, 6, 59);
  WatchAlarms();
  EXPECT_EQ(signs().size(), 1u);
  at(7, 7, 0);
  ASSERT_EQ(signs().size(), 2u);
  EXPECT_EQ(signs()[1],
            (std::vector<Text>{"lebenszeichen", "2026-12-07T07:00:00", "-", "1",
                               "479", "0", "0"}));
  // A clock set forward past the next day's minute: no sign before a
  // real day has passed since the last.
  HeadlessSetLocalTime(9, 12, 2026, 12, 0);
  WatchAlarms();
  at(9, 13, 0);
  EXPECT_EQ(signs().size(), 2u);

  // The program started again after the day's minute: nothing that day;
  // started before it: the sign at its minute.
  for (int startHour : {8, 6}) {
    AppState.Alarms.AlarmDailyArmed = false;
    AppState.WallClock = WallClockState{};
    AppState.Alarms.AlarmLossTimes.clear();
    size_t before = signs().size();
    at(10, startHour, 0);
    at(10, 7, 0);
    at(10, 9, 0);
    EXPECT_EQ(signs().size(), before + (startHour == 6 ? 1 : 0)) << startHour;
    at(11, 7, 0);
    EXPECT_EQ(signs().size(), before + (startHour == 6 ? 2 : 1)) << startHour;
    HeadlessSetLocalTime(20, 12, 2026, 0, 0);  // the next start's days
    AppState.Alarms.AlarmDailyArmed = false;
    WatchAlarms();
  }
}

// Without the option the clock passing any minute starts nothing.
TEST_F(Alarms, WithoutTheDailyTimeNoSignComes) {
  AppState.Settings.AlarmCommand = Command;
  AppState.Switching.MeasurementEnabled =
      false;  // no guard to go blind meanwhile
  HeadlessSetLocalTime(7, 12, 2026, 0, 0);
  for (int hour = 0; hour < 24; hour++) {
    if (hour > 0) HeadlessAdvanceClock(3600000);
    WatchAlarms();
  }
  EXPECT_TRUE(HeadlessProgramStarts().empty());
  EXPECT_TRUE(AppState.Alarms.AlarmLines.empty());
}

TEST_F(Alarms, TheBlindGuardIsAnnouncedAfterAMinuteAndItsSightOnce) {
  // The connection's events alone: with the measurement locked, output 4
  // left undecided is no event of its own.
  AppState.Switching.MeasurementEnabled = false;
  AppState.Settings.AlarmCommand = Command;
  HeadlessActivateOtherProgram();
  // A loss of half a minute: nothing.
  AppState.Link.ConnectionLost = true;
  WatchAlarms();
  HeadlessAdvanceClock(30000);
  WatchAlarms();
  AppState.Link.ConnectionLost = false;
  WatchAlarms();
  EXPECT_EQ(Started(), Names());

  AppState.Link.ConnectionLost = true;
  WatchAlarms();
  HeadlessAdvanceClock(AlarmBlindTime);
  WatchAlarms();
  EXPECT_EQ(Started(), Names());
  HeadlessAdvanceClock(1);
  WatchAlarms();
  EXPECT_EQ(Started(), Names({"verbindung-weg"}));
  EXPECT_EQ(Flashes(), 1);
  for (int i = 0; i < 10; i++) {
    HeadlessAdvanceClock(60000);
    WatchAlarms();
  }
  EXPECT_EQ(Started(), Names({"verbindung-weg"}));

  AppState.Link.ConnectionLost = false;
  WatchAlarms();
  WatchAlarms();
  EXPECT_EQ(Started(), Names({"verbindung-weg", "verbindung-zurueck"}));
  EXPECT_EQ(HeadlessProgramStarts()[1].Arguments[2], "-");
  EXPECT_EQ(Flashes(), 2);
}

TEST_F(Alarms, ACommandThatCannotStartIsShownAndNotTriedAgain) {
  HeadlessAddFolder("C:\\Brunnen");  // the folder, but no alarm.cmd in it
  AppState.Settings.AlarmCommand = Command;
  Evaluate(DryWell);
  for (int i = 0; i < 20; i++) WatchAlarms();
  ASSERT_EQ(HeadlessProgramStarts().size(), 1u);
  EXPECT_FALSE(HeadlessProgramStarts()[0].Started);
  EXPECT_EQ(AppState.Alarms.AlarmCommandsFailed, 1);
  OpenHistoryWindow();
  EXPECT_NE(
      C(LabelHistoryLog)
          .Content.find(
              "Alarmbefehl C:\\Brunnen\\alarm.cmd ließ sich nicht starten"),
      Text::npos)
      << C(LabelHistoryLog).Content;
  // The next event tries once more, once.
  Evaluate(FullWell);
  EXPECT_EQ(HeadlessProgramStarts().size(), 3u);
  EXPECT_EQ(AppState.Alarms.AlarmCommandsFailed, 3);
}

// Output 4 switched on or off by an evaluation that is then done.
void Output4(bool on) {
  AlarmLevelOutput(4, on ? 1 : 0, on ? 0.1 : 0.5, !on);
  AnnounceWaitingAlarms();
}

TEST_F(Alarms, HangingCommandsAreBoundedShownAndCounted) {
  HeadlessSetProgramsKeepRunning(true);
  AppState.Settings.AlarmCommand = Command;
  // A hundred events within a minute.
  for (int i = 0; i < 50; i++) {
    Output4(true);
    Output4(false);
    HeadlessAdvanceClock(500);
  }
  EXPECT_EQ(HeadlessProgramStarts().size(), (size_t)AlarmCommandsAtOnce);
  EXPECT_EQ(HeadlessRunningPrograms(), AlarmCommandsAtOnce);
  EXPECT_EQ(AppState.Alarms.AlarmCommandsLeftOut, 100 - AlarmCommandsAtOnce);
  EXPECT_EQ(AppState.Alarms.AlarmCommandsOverdue, 0);
  EXPECT_EQ(AppState.Alarms.AlarmLines.size(), (size_t)AlarmLinesShown);

  // Past the bound: each shown and counted once, and still in its place.
  HeadlessAdvanceClock(AlarmCommandLimit);
  for (int i = 0; i < 5; i++) WatchAlarms();
  EXPECT_EQ(AppState.Alarms.AlarmCommandsOverdue, AlarmCommandsAtOnce);
  Output4(true);
  EXPECT_EQ(HeadlessProgramStarts().size(), (size_t)AlarmCommandsAtOnce);
  OpenHistoryWindow();
  EXPECT_NE(C(LabelHistoryLog).Content.find("laufen noch"), Text::npos)
      << C(LabelHistoryLog).Content;

  // Once they end, the next event starts the command again.
  HeadlessEndPrograms();
  WatchAlarms();
  EXPECT_TRUE(AppState.Alarms.AlarmCommandsRunning.empty());
  Output4(false);
  EXPECT_EQ(HeadlessProgramStarts().size(), (size_t)AlarmCommandsAtOnce + 1);
}

// The same evaluations with no alarm command, one that cannot start and
// one that hangs: the same commands on the wire, in the same order.
TEST_F(Alarms, NoCommandChangesWhatTheGuardSends) {
  const int wells[] = {NormalWell, DryWell, DryWell,    FullWell,
                       FullWell,   DryWell, NormalWell, DryWell};
  auto run = [&] {
    Sim.ClearLog();
    for (int well : wells) Evaluate(well);
    return LevelCommands();
  };
  auto reset = [] {
    for (int n : {4, 5}) AppState.Alarms.AlarmOutputOn[n] = false;
  };
  std::vector<std::string> without = run();
  EXPECT_TRUE(HeadlessProgramStarts().empty());
  EXPECT_TRUE(HeadlessFileWrites().empty());
  EXPECT_EQ(without.size(), 16u);

  reset();
  HeadlessAddFolder("C:\\Brunnen");
  AppState.Settings.AlarmCommand = Command;
  EXPECT_EQ(run(), without);
  EXPECT_EQ(AppState.Alarms.AlarmCommandsFailed, 7);

  reset();
  AppState.Settings.AlarmCommand = "C:\\Anderswo\\alarm.exe";
  HeadlessSetProgramsKeepRunning(true);
  EXPECT_EQ(run(), without);
  EXPECT_EQ(AppState.Alarms.AlarmCommandsLeftOut, 7 - AlarmCommandsAtOnce);
  EXPECT_TRUE(HeadlessFileWrites().empty());
}

}  // namespace

namespace {

using AlarmWindow = HandlerTest;

// Time passing to a later local time ("03.12.2026 07:00:00"): the clock is
// not set, it runs there.
void PassTo(const char* local) {
  int64_t target = 0;
  ASSERT_TRUE(ReadDateTimeText(local, &target));
  ASSERT_GE(target, PlatLocalClock());
  HeadlessAdvanceClock((int)((target - PlatLocalClock()) * 1000));
}

}  // namespace

TEST_F(AlarmWindow, TheDryRunLineCountsTodayAndTheLastWeek) {
  auto record = [](int output4) {
    RecordEvaluation(0.5, 0, 0.1, output4, output4 == CommandNotSent);
  };
  // Eight days ago: a trip outside the week.
  HeadlessSetLocalTime(28, 11, 2026, 7, 0);
  record(1);
  HeadlessAdvanceClock(60000);
  record(0);
  // Three days ago: on for an hour and a quarter.
  PassTo("03.12.2026 07:00:00");
  record(1);
  HeadlessAdvanceClock(45 * 60000);
  record(1);  // still on: no new trip
  HeadlessAdvanceClock(30 * 60000);
  record(0);
  // Today: on since 07:45, a reading in doubt decides nothing, still on.
  PassTo("06.12.2026 07:45:00");
  record(1);
  HeadlessAdvanceClock(10 * 60000);
  record(CommandNotSent);
  HeadlessAdvanceClock(5 * 60000);
  EXPECT_EQ(DryRunSummaryText(),
            "Trockenlaufschutz (Ausgang 4): heute 1-mal, 15 min ein; "
            "letzte 7 Tage 2-mal, 1 h 30 min ein.");
  OpenHistoryWindow();
  EXPECT_EQ(C(LabelHistoryDryRun).Content, DryRunSummaryText());
}

TEST_F(AlarmWindow, TheEventLinesFitFromTheSmallestSize) {
  for (int i = 0; i < AlarmLinesShown; i++)
    AppState.Alarms.AlarmLines.push_back("06.12.2026 07:45:0" +
                                         std::to_string(i) +
                                         "  Trockenlauf: Ausgang 4 (Minimum) "
                                         "eingeschaltet (0,09 V)");
  OpenHistoryWindow();
  std::vector<int> order = HeadlessCreationOrder(HistoryWindow);
  // The new lines take no place in the keyboard's way: the save and close
  // buttons stay the only stops, in that order.
  std::vector<int> buttons;
  for (int n : order)
    if (C(n).Kind == KindButton) buttons.push_back(n);
  EXPECT_EQ(buttons, (std::vector<int>{ButtonSaveHistory, ButtonCloseHistory}));
  int shownBefore = 0;
  for (auto size : {std::pair<int, int>{360, 240}, {720, 420}, {1000, 700}}) {
    ASSERT_TRUE(HeadlessResizeWindow(HistoryWindow, size.first, size.second));
    HistoryWindowResized();
    for (size_t i = 0; i < order.size(); i++) {
      const HeadlessControl& a = C(order[i]);
      EXPECT_GE(a.Y, 0) << a.Number;
      EXPECT_LE(a.X + a.Width, size.first) << a.Number;
      EXPECT_LE(a.Y + a.Height, size.second) << a.Number;
      for (size_t j = i + 1; j < order.size(); j++) {
        const HeadlessControl& b = C(order[j]);
        bool apart = a.X + a.Width <= b.X || b.X + b.Width <= a.X ||
                     a.Y + a.Height <= b.Y || b.Y + b.Height <= a.Y;
        EXPECT_TRUE(apart) << a.Number << " and " << b.Number;
      }
    }
    // The picture ends above the dry-run line, and keeps some height.
    int top = C(LabelHistoryDryRun).Y;
    EXPECT_GE(top, 80);
    for (const HeadlessDrawStep& s : HeadlessShownDrawing(HistoryWindow))
      EXPECT_LT(std::max(s.Y1, s.Y2), top);
    // The newest line is always there; a bigger window shows more.
    Text events = C(LabelHistoryEvents).Content;
    EXPECT_NE(events.find(AppState.Alarms.AlarmLines.back()), Text::npos)
        << events;
    int shown = (int)std::count(events.begin(), events.end(), '\n') + 1;
    EXPECT_GE(shown, shownBefore);
    shownBefore = shown;
  }
  EXPECT_EQ(shownBefore, AlarmLinesShown);
}

// The daily sign of life comes once per real day whatever is done to the
// PC's clock: put a day ahead after the day's sign and corrected, no
// second one that day and the next day's all the same; put back a day,
// the next real day has its sign.
TEST_F(Alarms, TheDailySignComesOncePerRealDayThroughClockChanges) {
  AppState.Settings.AlarmCommand = Command;
  AppState.Settings.AlarmDailyMinute = 7 * 60;
  auto signs = [] {
    int n = 0;
    for (const HeadlessProgramStart& s : HeadlessProgramStarts())
      if (!s.Arguments.empty() && s.Arguments[0] == "lebenszeichen") n++;
    return n;
  };
  // Time passing, a pass of the main loop every half minute.
  auto pass = [](int minutes) {
    for (int i = 0; i < 2 * minutes; i++) {
      HeadlessAdvanceClock(30000);
      WatchAlarms();
    }
  };
  for (int ahead : {1, -1}) {
    SCOPED_TRACE(ahead);
    HeadlessSetLocalTime(6, 12, 2026, 6, 0);
    AppState.WallClock = WallClockState{};
    AppState.Alarms.AlarmDailyArmed = false;
    WatchAlarms();
    int before = signs();
    pass(61);  // 07:01
    EXPECT_EQ(signs(), before + 1);
    pass(59);  // 08:00: the clock set a day ahead or back
    HeadlessSetLocalTime(6 + ahead, 12, 2026, 8, 0);
    pass(30);
    if (ahead == 1) HeadlessSetLocalTime(6, 12, 2026, 8, 30);
    pass(23 * 60);  // the next real day, 07:30
    EXPECT_EQ(signs(), before + 2);
    pass(30);
  }
}
