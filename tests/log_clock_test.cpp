// The level log and the history when the local clock is put forward or
// back (summer time), and the read-back of files the program did not write
// as they are: lines of every line end, foreign bytes, huge lines, dates
// that cannot be true, and a folder that turns up after the start.
#include <cmath>
#include <cstdio>
#include <string>

#include "base/clock_text.h"
#include "base/dry_runs.h"
#include "base/level_csv.h"
#include "control/history.h"
#include "control/level_log.h"
#include "tests/program_fixture.h"
#include "tests/support/program_start.h"
#include "ui/control_numbers.h"
#include "ui/history_chart.h"
#include "ui/history_window.h"

namespace {

const char Folder[] = "C:\\Brunnen";
const char December[] = "C:\\Brunnen\\korvalinex-2026-12.csv";
const char November[] = "C:\\Brunnen\\korvalinex-2026-11.csv";

using LogClock = HandlerTest;

std::vector<HeadlessDrawStep> Drawn(DrawStepKind kind, uint32_t colour) {
  std::vector<HeadlessDrawStep> found;
  for (const HeadlessDrawStep& s : HeadlessShownDrawing(HistoryWindow))
    if (s.Kind == kind && s.Colour == colour) found.push_back(s);
  return found;
}

// A night of evaluations 6 minutes apart, output 4 on from `on` to before
// `off`; before evaluation `change` the local clock's lead on universal
// time becomes `after`.
struct Night {
  int day, month, hour, minute;  // local time of the first evaluation
  int before, after;             // the lead, s
  int change, on, off, count;
};

void RecordNight(const Night& n) {
  HeadlessSetUtcOffset(n.before);
  HeadlessSetLocalTime(n.day, n.month, 2026, n.hour, n.minute);
  for (int i = 0; i < n.count; i++) {
    if (i > 0) HeadlessAdvanceClock(360000);
    if (i == n.change) HeadlessSetUtcOffset(n.after);
    bool on = i >= n.on && i < n.off;
    RecordEvaluation(on ? 0.1 : 0.5, 0, on ? 0.1 : 0.5, on ? 1 : 0, false);
  }
}

// The dry-run line, output 4's one band (besides the legend's) from the
// evaluation that switched it on to the one that switched it off, and the
// evaluations drawn left to right in the order they happened.
void ExpectOneRun(const Night& n, const Text& onTime) {
  EXPECT_EQ(DryRunSummaryText(),
            "Trockenlaufschutz (Ausgang 4): heute 1-mal, " + onTime +
                " ein; letzte 7 Tage 1-mal, " + onTime + " ein.");
  OpenHistoryWindow();
  std::vector<HeadlessDrawStep> dots = Drawn(StepDot, ChartLevel);
  ASSERT_EQ((int)dots.size(), n.count);
  for (int i = 1; i < n.count; i++) EXPECT_GT(dots[i].X1, dots[i - 1].X1) << i;
  std::vector<HeadlessDrawStep> bands = Drawn(StepRect, ChartOutput4Band);
  ASSERT_EQ(bands.size(), 2u);
  EXPECT_EQ(bands[0].X1, dots[n.on].X1);
  EXPECT_EQ(bands[0].X2, dots[n.off].X1);
  CloseHistoryWindow();
}

void Restart() {
  StartState();
  AppState.Settings.LogFolder = Folder;
  RestoreHistoryFromLog();
}

}  // namespace

// The end of summer time: on at 02:30 summer time, off at 02:42 winter
// time, 72 minutes later; the start: on at 01:54, off at 03:12, 18 minutes
// later. Both while the program runs and after a restart from the log.
TEST_F(LogClock, ARunAcrossAClockChangeKeepsItsCountAndLength) {
  const Night end{25, 10, 2, 18, 7200, 3600, 7, 2, 14, 17};
  const Night start{29, 3, 1, 36, 3600, 7200, 4, 3, 6, 9};
  for (const Night& n : {end, start}) {
    SCOPED_TRACE(n.month);
    StartState();
    HeadlessAddFolder(Folder);
    AppState.Settings.LogFolder = Folder;
    RecordNight(n);
    Text onTime = n.month == 10 ? "1 h 12 min" : "18 min";
    ExpectOneRun(n, onTime);
    std::vector<LevelRecord> before;
    for (int i = 0; i < HistorySize(); i++) before.push_back(HistoryEntry(i));

    Restart();
    EXPECT_EQ(AppState.Log.LogReadProblem, "");
    ASSERT_EQ(HistorySize(), n.count);
    for (int i = 0; i < n.count; i++) {
      EXPECT_EQ(HistoryEntry(i).Time, before[i].Time) << i;
      EXPECT_EQ(HistoryEntry(i).Universal, before[i].Universal) << i;
    }
    ExpectOneRun(n, onTime);
  }
}

// A log written before the universal time's column: the hour repeated at
// the end of summer time does not interleave; the run is one run.
TEST_F(LogClock, LinesOfEightColumnsKeepTheirFileOrder) {
  const Night end{25, 10, 2, 18, 7200, 3600, 7, 2, 14, 17};
  HeadlessAddFolder(Folder);
  AppState.Settings.LogFolder = Folder;
  RecordNight(end);
  std::vector<int64_t> written;
  for (int i = 0; i < HistorySize(); i++)
    written.push_back(HistoryEntry(i).Time);
  // The same lines without their last column.
  const char* october = "C:\\Brunnen\\korvalinex-2026-10.csv";
  std::string old;
  const std::string* file = HeadlessFileContent(october);
  ASSERT_NE(file, nullptr);
  for (size_t at = 0; at < file->size();) {
    size_t end = file->find("\r\n", at);
    std::string line = file->substr(at, end - at);
    old += line.substr(0, line.rfind(';')) + "\r\n";
    at = end + 2;
  }
  HeadlessPutFile(october, old);

  Restart();
  EXPECT_EQ(AppState.Log.LogReadProblem, "");
  ASSERT_EQ(HistorySize(), end.count);
  for (int i = 0; i < end.count; i++)
    EXPECT_EQ(HistoryEntry(i).Time, written[i]) << i;
  DryRuns runs = DryRunsBetween(HistoryRing(), PlatUniversalClock() - 86400,
                                PlatUniversalClock());
  EXPECT_EQ(runs.Trips, 1);
  // Its length is known within a cycle: the clock change is seen only
  // as the local time going back.
  EXPECT_GE(runs.OnSeconds, 66 * 60);
  EXPECT_LE(runs.OnSeconds, 72 * 60);
}

TEST_F(LogClock, DryRunsCountOnlyWhatLiesWithinTheSpan) {
  HeadlessSetLocalTime(6, 12, 2026, 10, 0);
  int64_t t0 = PlatUniversalClock();
  // On at 0 and 20 min, off at 10 and 30 min; one doubted evaluation.
  const int output4[] = {1, 0, 1, 0};
  for (int i = 0; i < 4; i++) {
    RecordEvaluation(0.2, 0, 0.2, output4[i], false);
    HeadlessAdvanceClock(300000);
    RecordEvaluation(NAN, CommandNotSent, NAN, CommandNotSent, true);
    HeadlessAdvanceClock(300000);
  }
  DryRuns all = DryRunsBetween(HistoryRing(), t0, t0 + 3600);
  EXPECT_EQ(all.Trips, 2);
  EXPECT_EQ(all.OnSeconds, 1200);
  EXPECT_EQ(all.Doubted, 4);
  // From 5 to 25 min, both ends in it: the second trip, half of each run.
  DryRuns middle = DryRunsBetween(HistoryRing(), t0 + 300, t0 + 1500);
  EXPECT_EQ(middle.Trips, 1);
  EXPECT_EQ(middle.OnSeconds, 600);
  EXPECT_EQ(middle.Doubted, 3);  // at 5, 15 and 25 min
}

// Every line that can be read is read; the rest is counted and named, and
// a line dated ahead of the clock or outside its file's month stays out of
// the history (its picture, "Zuletzt:").
TEST_F(LogClock, AHostileLogLosesOnlyWhatCannotBeRead) {
  HeadlessSetLocalTime(20, 12, 2026, 12, 0);
  int64_t now = PlatLocalClock();
  auto line = [](int64_t t, double level) {
    return LevelCsvLine(LevelRecord{t, level, level, 0, 0, false, t - 3600});
  };
  auto bare = [&line](int64_t t, double level) {
    Text l = line(t, level);
    return l.substr(0, l.size() - 2);
  };
  std::string nul = bare(now - 5000, 0.5);
  nul[25] = '\0';
  std::string december =
      std::string(LevelCsvHeader) + bare(now - 9000, 0.31) + "\r\n" +
      bare(now - 8000, 0.32) + "\n" + bare(now - 7000, 0.33) + "\r" +
      std::string("\0\0\0\0", 4) + "\r\n" + nul + "\r\n" +
      std::string(1 << 20, 'x') + "\r\n" +
      "31.12.2036 10:00:00;Messung;2,5;AUS;2,5;AUS;sicher;;31.12.2036 "
      "09:00:00\r\n" +
      "15.06.2026 10:00:00;Messung;2,6;AUS;2,6;AUS;sicher;;15.06.2026 "
      "09:00:00\r\n" +
      "Zeit;Art;Stand Ausgang 5 (V);Ausgang 5;Stand Ausgang 4 (V);Ausgang "
      "4;Messwert;Meldung\r\n" +
      DateTimeText(now - 6000) + ";Messung;0,34;AUS;0,34;AUS;sicher;\r\n" +
      line(now - 5000, 0.35) + line(now + 600, 2.7);
  HeadlessPutFile(December, december);
  // November's file is longer than the bound, which falls inside a line
  // of a megabyte; the old lines after it are read and left out as older
  // than 30 days, the two of its last days kept.
  int64_t nov1 = now - 49 * 86400;
  std::string november = line(nov1, 0.2) + std::string(1 << 20, 'y') + "\r\n";
  Text old = line(nov1, 0.2);
  while (november.size() + old.size() + 200 < (size_t)LogReadLimit + 1000)
    november += old;
  november += line(now - 25 * 86400, 0.29) + line(now - 24 * 86400, 0.3);
  ASSERT_GT(november.size(), (size_t)LogReadLimit);
  HeadlessPutFile(November, november);

  Restart();
  ASSERT_EQ(HistorySize(), 7);
  const double expected[] = {0.29, 0.3, 0.31, 0.32, 0.33, 0.34, 0.35};
  for (int i = 0; i < 7; i++) EXPECT_EQ(HistoryEntry(i).Level5, expected[i]);
  EXPECT_EQ(AppState.History.HighestLevel.Level5, 0.35);
  EXPECT_EQ(HistorySummaryText().substr(0, 27), "Zuletzt: 0,35 V (20.12. 10:");
  EXPECT_EQ(AppState.Log.LogReadProblem,
            Text("Protokoll ") + December +
                ": 3 Zeilen in fremder Form übersprungen, 3 Zeilen mit "
                "unmöglicher Zeit (in der Zukunft oder nicht im Monat der "
                "Datei) übersprungen.");
}

// The folder is missing at start and there later (a network drive
// connected late): the next evaluation reads it back before its lines are
// written, once, the older evaluations before those since the start.
TEST_F(LogClock, AFolderThatAppearsLaterIsReadBackOnce) {
  AppState.Settings.LogFolder = Folder;
  RestoreHistoryFromLog();
  EXPECT_EQ(AppState.Log.LogReadProblem,
            "Protokollordner C:\\Brunnen nicht gefunden.");
  RecordEvaluation(0.6, 0, 0.6, 0, false);
  HeadlessAdvanceClock(360000);
  RecordEvaluation(0.7, 0, 0.7, 0, false);
  EXPECT_EQ(AppState.Log.LogPending.size(), 2u);

  // Yesterday a trip, and the lowest level.
  int64_t yesterday = PlatLocalClock() - 86400;
  std::string file = LevelCsvHeader;
  for (int i = 0; i < 3; i++) {
    int64_t t = yesterday + i * 360;
    file += LevelCsvLine(
        LevelRecord{t, 0.1, 0.1, (int8_t)(i == 1), 0, false, t - 3600});
  }
  HeadlessPutFile(December, file);
  HeadlessAdvanceClock(360000);
  RecordEvaluation(0.8, 0, 0.8, 0, false);

  ASSERT_EQ(HistorySize(), 6);
  EXPECT_EQ(AppState.History.EvaluationCount, 6);
  const double expected[] = {0.1, 0.1, 0.1, 0.6, 0.7, 0.8};
  for (int i = 0; i < 6; i++) EXPECT_EQ(HistoryEntry(i).Level5, expected[i]);
  EXPECT_EQ(AppState.History.LowestLevel.Time, yesterday);
  EXPECT_EQ(AppState.History.HighestLevel.Level5, 0.8);
  EXPECT_NE(DryRunSummaryText().find("letzte 7 Tage 1-mal, 6 min ein"),
            Text::npos);
  EXPECT_EQ(HistoryLogText(), "");
  // The three waiting since the start written after yesterday's lines.
  const std::string* written = HeadlessFileContent(December);
  ASSERT_NE(written, nullptr);
  EXPECT_EQ(written->substr(0, file.size()), file);
  EXPECT_EQ(written->size(),
            file.size() + 3 * LevelCsvLine(HistoryEntry(5)).size());

  // Not read again.
  HeadlessAdvanceClock(360000);
  RecordEvaluation(0.9, 0, 0.9, 0, false);
  EXPECT_EQ(HistorySize(), 7);
}

namespace {

// Output 4 of an evaluation 6 minutes after the one before (the first at
// the clock as it stands), on in [on, off); before evaluation i the test's
// `step(i)` may set the clock.
template <typename Step>
void RecordRun(int count, int on, int off, Step step) {
  for (int i = 0; i < count; i++) {
    if (i > 0) HeadlessAdvanceClock(360000);
    step(i);
    bool isOn = i >= on && i < off;
    RecordEvaluation(isOn ? 0.1 : 0.5, 0, isOn ? 0.1 : 0.5, isOn ? 1 : 0,
                     false);
  }
}

// The local clock set to `local` (whole minutes), as an operator sets it.
void SetClock(int64_t local) {
  int d = 0, m = 0, y = 0, h = 0, min = 0;
  sscanf(DateTimeText(local).c_str(), "%d.%d.%d %d:%d", &d, &m, &y, &h, &min);
  HeadlessSetLocalTime(d, m, y, h, min);
}

DryRuns LastMonth() {
  return DryRunsBetween(HistoryRing(), PlatUniversalClock() - 30 * 86400,
                        PlatUniversalClock());
}

int Count(const std::string& text, const std::string& what) {
  int n = 0;
  for (size_t at = text.find(what); at != std::string::npos;
       at = text.find(what, at + 1))
    n++;
  return n;
}

}  // namespace

// A month's file begun before the universal time's column keeps its one
// header through restarts; its old lines and the new ones are read back.
TEST_F(LogClock, AFileOfEightColumnsKeepsItsOneHeader) {
  HeadlessAddFolder(Folder);
  HeadlessPutFile(December,
                  "Zeit;Art;Stand Ausgang 5 (V);Ausgang 5;Stand Ausgang 4 "
                  "(V);Ausgang 4;Messwert;Meldung\r\n"
                  "06.12.2026 07:00:00;Messung;0,5;AUS;0,5;AUS;sicher;\r\n");
  for (int start = 0; start < 4; start++) {
    Restart();
    HeadlessAdvanceClock(60000);
    RecordEvaluation(0.5, 0, 0.5, 0, false);
  }
  const std::string* file = HeadlessFileContent(December);
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(Count(*file, "Zeit;Art;"), 1) << *file;
  Restart();
  EXPECT_EQ(AppState.Log.LogReadProblem, "");
  EXPECT_EQ(HistorySize(), 5);
}

// Lines of 8 columns from summer time followed by lines of 9, read back
// in winter: the old lines take the lead of the new ones after them, keep
// their file order, and the run across them is one run of its length.
TEST_F(LogClock, OldLinesTakeTheLeadOfTheirTimeNotTodays) {
  HeadlessAddFolder(Folder);
  AppState.Settings.LogFolder = Folder;
  HeadlessSetUtcOffset(7200);
  HeadlessSetLocalTime(20, 10, 2026, 10, 0);
  RecordRun(24, 4, 20, [](int) {});
  const char* october = "C:\\Brunnen\\korvalinex-2026-10.csv";
  const std::string* file = HeadlessFileContent(october);
  ASSERT_NE(file, nullptr);
  // The header and the first 12 lines without their last column.
  std::string old;
  int line = 0;
  for (size_t at = 0; at < file->size(); line++) {
    size_t end = file->find("\r\n", at);
    std::string text = file->substr(at, end - at);
    old += (line <= 12 ? text.substr(0, text.rfind(';')) : text) + "\r\n";
    at = end + 2;
  }
  HeadlessPutFile(october, old);
  std::vector<int64_t> written;
  for (int i = 0; i < HistorySize(); i++)
    written.push_back(HistoryEntry(i).Universal);

  HeadlessSetUtcOffset(3600);
  HeadlessAdvanceClock(10 * 86400 * 1000);
  Restart();
  EXPECT_EQ(AppState.Log.LogReadProblem, "");
  ASSERT_EQ(HistorySize(), 24);
  for (int i = 0; i < 24; i++)
    EXPECT_EQ(HistoryEntry(i).Universal, written[i]) << i;
  DryRuns runs = LastMonth();
  EXPECT_EQ(runs.Trips, 1);
  EXPECT_EQ(runs.OnSeconds, 96 * 60);
}

// The PC's clock set back an hour, or a day ahead for half an hour, while
// output 4 is on: the run is one run of its real length, live, in the
// picture and after a restart; the change is told in the event list and
// in the log.
TEST_F(LogClock, AClockSetDuringARunLeavesItsCountAndLength) {
  struct Case {
    const char* name;
    int month;
    int64_t first, second;  // the steps (s) before evaluations 4 and 7
    const char* told;
  };
  for (const Case& c :
       {Case{"back", 11, -3600, 0, "Uhr des PCs verstellt: 1 h 0 min zurück"},
        Case{"day", 12, 86400, -86400,
             "Uhr des PCs verstellt: 1 Tag 0 h vor"}}) {
    SCOPED_TRACE(c.name);
    StartState();
    HeadlessAddFolder(Folder);
    AppState.Settings.LogFolder = Folder;
    // The tick count wraps during the run: no step of the clock.
    HeadlessSetClock(0xFFFFFFFFu - 20 * 60000);
    HeadlessSetLocalTime(10, c.month, 2026, 10, 0);
    Night n{10, c.month, 10, 0, 3600, 3600, 0, 1, 9, 10};
    RecordRun(n.count, n.on, n.off, [&](int i) {
      if (i == 4) SetClock(PlatLocalClock() + c.first);
      if (i == 7 && c.second != 0) SetClock(PlatLocalClock() + c.second);
      if (i == 6) {
        // Half an hour on so far, whatever the clock says.
        DryRuns live = LastMonth();
        EXPECT_EQ(live.Trips, 1);
        EXPECT_EQ(live.OnSeconds, 30 * 60);
      }
    });
    ExpectOneRun(n, "48 min");
    bool told = false;
    for (const Text& line : AppState.Alarms.AlarmLines)
      told = told || line.find(c.told) != Text::npos;
    EXPECT_TRUE(told);
    const std::string* log =
        HeadlessFileContent(c.month == 12 ? December : November);
    ASSERT_NE(log, nullptr);
    EXPECT_EQ(Count(*log, ";Ereignis;"), c.second != 0 ? 2 : 1) << *log;

    // At once (the lines written while the clock was ahead are not in
    // the future), and the next day.
    for (int days : {0, 1}) {
      HeadlessAdvanceClock(days * 86400 * 1000);
      Restart();
      EXPECT_EQ(AppState.Log.LogReadProblem, "") << days;
      ASSERT_EQ(HistorySize(), n.count) << days;
      DryRuns runs = LastMonth();
      EXPECT_EQ(runs.Trips, 1) << days;
      EXPECT_EQ(runs.OnSeconds, 48 * 60) << days;
      OpenHistoryWindow();
      EXPECT_EQ(Drawn(StepRect, ChartOutput4Band).size(), 2u) << days;
      CloseHistoryWindow();
    }
  }
}

// The zone changed between two runs at the start of a month: the new
// month's file is read although the local clock is in the old month.
TEST_F(LogClock, EveryMonthOfThePeriodIsReadWhateverTheZone) {
  HeadlessAddFolder(Folder);
  AppState.Settings.LogFolder = Folder;
  HeadlessSetUtcOffset(3600);
  HeadlessSetLocalTime(30, 11, 2026, 23, 30);
  RecordRun(10, 2, 8, [](int) {});
  ASSERT_NE(HeadlessFileContent(December), nullptr);
  HeadlessSetUtcOffset(-5 * 3600);
  HeadlessAdvanceClock(60000);
  Restart();
  EXPECT_EQ(AppState.Log.LogReadProblem, "");
  EXPECT_EQ(HistorySize(), 10);
  DryRuns runs = LastMonth();
  EXPECT_EQ(runs.Trips, 1);
  EXPECT_EQ(runs.OnSeconds, 36 * 60);
}
