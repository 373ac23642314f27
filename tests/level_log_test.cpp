// The level log: the form of its lines, the writing of every evaluation,
// the read-back at start, what the program does when the folder or the
// disk fails it, and the history window's CSV export.
#include "control/level_log.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>

#include "base/clock_text.h"
#include "base/level_csv.h"
#include "control/history.h"
#include "control/measurement.h"
#include "tests/program_fixture.h"
#include "tests/support/program_start.h"
#include "ui/history_window.h"

namespace {

const char Folder[] = "C:\\Brunnen";
const char December[] = "C:\\Brunnen\\korvalinex-2026-12.csv";
const char Header[] =
    "Zeit;Art;Stand Ausgang 5 (V);Ausgang 5;Stand Ausgang 4 (V);Ausgang 4;"
    "Messwert;Meldung;Zeit (UTC)\r\n";
// The header and a line of the form before the universal time's column.
const char EightColumnHeader[] =
    "Zeit;Art;Stand Ausgang 5 (V);Ausgang 5;Stand Ausgang 4 (V);Ausgang 4;"
    "Messwert;Meldung\r\n";

LevelRecord Record(int64_t time, double level5, int output5, double level4,
                   int output4, bool doubted) {
  // Local time an hour ahead of universal time, as the headless clock's.
  return LevelRecord{
      time,    level5,     level4, (int8_t)output4, (int8_t)output5,
      doubted, time - 3600};
}

bool SameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// The lines of a file, line ends kept.
std::vector<Text> LinesOf(const std::string& content) {
  std::vector<Text> lines;
  size_t at = 0;
  while (at < content.size()) {
    size_t end = content.find("\r\n", at);
    end = end == Text::npos ? content.size() : end + 2;
    lines.push_back(content.substr(at, end - at));
    at = end;
  }
  return lines;
}

std::string FileOr(const char* path) {
  const std::string* content = HeadlessFileContent(path);
  return content ? *content : "(none)";
}

}  // namespace

TEST(LevelCsv, ALineIsTheEvaluationInASpreadsheetsForm) {
  int64_t t = 20428 * 86400LL + 10 * 3600 + 5 * 60 + 7;  // 06.12.2025
  EXPECT_EQ(LevelCsvLine(Record(t, 1.0546875, 0, 0.1953125, 1, false)),
            "06.12.2025 10:05:07;Messung;1,0546875;AUS;0,1953125;EIN;sicher;;"
            "06.12.2025 09:05:07\r\n");
  // Output 4 undecided for a reading in doubt; nothing decided at all.
  EXPECT_EQ(LevelCsvLine(Record(t, 1.25, 1, NAN, CommandNotSent, true)),
            "06.12.2025 10:05:07;Messung;1,25;EIN;;;unsicher;;"
            "06.12.2025 09:05:07\r\n");
  EXPECT_EQ(
      LevelCsvLine(Record(t, NAN, CommandNotSent, NAN, CommandNotSent, true)),
      "06.12.2025 10:05:07;Messung;;;;;unsicher;;06.12.2025 09:05:07\r\n");
  EXPECT_EQ(Text(LevelCsvHeader), Header);
  // "ö" and every other letter in Windows-1252.
  for (char c : LevelCsvLine(Record(t, 0.5, 0, 0.5, 0, false)))
    EXPECT_LT((unsigned char)c, 0x80);
}

TEST(LevelCsv, EveryLevelReadsBackAsTheSameNumber) {
  std::vector<double> levels;
  for (int count = 0; count < 1024; count++)
    levels.push_back(count * 0.0048828);
  std::mt19937_64 random(18);
  std::uniform_real_distribution<double> volts(-1.0, 6.0);
  for (int i = 0; i < 2000; i++) levels.push_back(volts(random));
  for (double odd : {1e-9, 1e-300, 123456789.125, 1e300, -0.0})
    levels.push_back(odd);
  for (double level : levels) {
    LevelRecord back{};
    Text line = LevelCsvLine(Record(3600, level, 1, -level, 0, true));
    ASSERT_EQ(ReadLevelCsvLine(line.substr(0, line.size() - 2), &back),
              LineMeasurement)
        << line;
    EXPECT_TRUE(SameBits(back.Level5, level)) << line;
    EXPECT_TRUE(SameBits(back.Level4, -level)) << line;
    EXPECT_EQ(back.Time, 3600);
    EXPECT_EQ(back.Output5, 1);
    EXPECT_EQ(back.Output4, 0);
    EXPECT_TRUE(back.Doubted);
  }
  LevelRecord none{};
  ASSERT_EQ(ReadLevelCsvLine("01.01.1970 00:00:00;Messung;;;;;sicher;", &none),
            LineMeasurement);
  EXPECT_TRUE(std::isnan(none.Level5));
  EXPECT_TRUE(std::isnan(none.Level4));
  EXPECT_EQ(none.Output5, CommandNotSent);
  EXPECT_FALSE(none.Doubted);
}

// A cycle of a failed or suspect sensor has its own word in "Messwert";
// old lines, without one, read back as before.
TEST(LevelCsv, TheSensorsWordsReadBackBesideTheOldOnes) {
  LevelRecord failed = Record(3600, NAN, CommandNotSent, NAN, 1, false);
  failed.Sensor = SensorFailed;
  Text line = LevelCsvLine(failed);
  EXPECT_EQ(line,
            "01.01.1970 01:00:00;Messung;;;;EIN;Sensorfehler;;01.01.1970 "
            "00:00:00\r\n");
  LevelRecord back{};
  ASSERT_EQ(ReadLevelCsvLine(line.substr(0, line.size() - 2), &back),
            LineMeasurement);
  EXPECT_EQ(back.Sensor, SensorFailed);
  EXPECT_EQ(back.Output4, 1);
  EXPECT_FALSE(back.Doubted);

  ASSERT_EQ(ReadLevelCsvLine("01.01.1970 00:00:00;Messung;;;;;Sensorverdacht;",
                             &back),
            LineMeasurement);
  EXPECT_EQ(back.Sensor, SensorSuspect);
  for (const char* old : {"sicher", "unsicher"}) {
    ASSERT_EQ(
        ReadLevelCsvLine(Text("01.01.1970 00:00:00;Messung;0,5;AUS;0,5;AUS;") +
                             old + ";;01.01.1970 00:00:00",
                         &back),
        LineMeasurement);
    EXPECT_EQ(back.Sensor, 0) << old;
  }
  EXPECT_EQ(ReadLevelCsvLine("01.01.1970 00:00:00;Messung;;;;;Sensor;", &back),
            LineForeign);
}

TEST(LevelCsv, LinesOfAnotherFormAreToldApart) {
  LevelRecord r{};
  EXPECT_EQ(ReadLevelCsvLine(Text(Header, strlen(Header) - 2), &r), LineHeader);
  EXPECT_EQ(ReadLevelCsvLine("06.12.2026 07:45:00;Ereignis;0,1;;;;sicher;"
                             "Trockenlauf",
                             &r),
            LineEvent);
  for (const char* foreign : {
           "",
           "hello",
           "06.12.2026 07:45:00;Messung;0,5;AUS;0,5;AUS;sicher",  // 7 fields
           "06.12.2026 07:45:00;Messung;0,5;AUS;0,5;AUS;sicher;;",
           "31.11.2026 07:45:00;Messung;0,5;AUS;0,5;AUS;sicher;",
           "06.12.2026 24:00:00;Messung;0,5;AUS;0,5;AUS;sicher;",
           "2026-12-06 07:45:00;Messung;0,5;AUS;0,5;AUS;sicher;",
           "06.12.2026 07:45:00;Messung;0.5;AUS;0,5;AUS;sicher;",
           "06.12.2026 07:45:00;Messung;0,5 V;AUS;0,5;AUS;sicher;",
           "06.12.2026 07:45:00;Messung;0,5;an;0,5;AUS;sicher;",
           "06.12.2026 07:45:00;Messung;0,5;AUS;0,5;AUS;ja;",
           "06.12.2026 07:45:00;Messung;0,5;AUS;0,5;AUS;sicher;Text",
           "06.12.2026 07:45:00;Wartung;0,5;AUS;0,5;AUS;sicher;",
           "06.12.2026 07:4",
       })
    EXPECT_EQ(ReadLevelCsvLine(foreign, &r), LineForeign) << foreign;
}

TEST(LevelCsv, OneFilePerMonthOfLocalTime) {
  int64_t day = 86400;
  int64_t newYear2027 = 20819 * day;  // 01.01.2027
  EXPECT_EQ(DateTimeText(newYear2027), "01.01.2027 00:00:00");
  EXPECT_EQ(LevelLogFileName(MonthOfTime(newYear2027)),
            "korvalinex-2027-01.csv");
  EXPECT_EQ(LevelLogFileName(MonthOfTime(newYear2027 - 1)),
            "korvalinex-2026-12.csv");
  EXPECT_EQ(DateTimeText(newYear2027 - 1), "31.12.2026 23:59:59");
  // 29 February of a leap year belongs to February.
  int64_t leapDay = newYear2027 + (365 + 31 + 28) * day;  // 29.02.2028
  EXPECT_EQ(DateTimeText(leapDay), "29.02.2028 00:00:00");
  EXPECT_EQ(LevelLogFileName(MonthOfTime(leapDay)), "korvalinex-2028-02.csv");

  AppState.Settings.LogFolder = "D:\\Brunnen\\";
  EXPECT_EQ(LevelLogPath(leapDay), "D:\\Brunnen\\korvalinex-2028-02.csv");
  AppState.Settings.LogFolder = "D:\\Brunnen";
  EXPECT_EQ(LevelLogPath(leapDay), "D:\\Brunnen\\korvalinex-2028-02.csv");
  AppState.Settings.LogFolder.clear();
}

namespace {

using LevelLog = HandlerTest;

}  // namespace

TEST_F(LevelLog, EveryEvaluationIsAppendedAsItHappens) {
  HeadlessAddFolder(Folder);
  AppState.Settings.LogFolder = Folder;
  MeasureWholeCycle(150);
  MeasureWholeCycle(20);

  // Six evaluations, each stamped with the time it was recorded, and the
  // Minimum's alarm event after the evaluation that switched it on.
  const std::vector<HeadlessFileWrite>& writes = HeadlessFileWrites();
  ASSERT_EQ(writes.size(), 7u);
  for (const HeadlessFileWrite& w : writes) {
    EXPECT_EQ(w.Path, December);
    EXPECT_EQ(w.Result, AppendWritten);
  }
  // The first write makes the file with its header; each write one line.
  EXPECT_EQ(LinesOf(writes[0].Bytes).size(), 2u);
  for (size_t i = 1; i < writes.size(); i++)
    EXPECT_EQ(LinesOf(writes[i].Bytes).size(), 1u) << i;

  std::vector<Text> lines = LinesOf(FileOr(December));
  ASSERT_EQ(lines.size(), 8u);
  EXPECT_EQ(lines[0], Header);
  // 150 counts read 0.732 V; 20 counts, 0.098 V, below the Minimum.
  Text utc0 = DateTimeText(HistoryEntry(0).Time - 3600);
  Text utc3 = DateTimeText(HistoryEntry(3).Time - 3600);
  EXPECT_EQ(lines[1], DateTimeText(HistoryEntry(0).Time) +
                          ";Messung;0,732;AUS;0,732;AUS;sicher;;" + utc0 +
                          "\r\n");
  EXPECT_EQ(lines[4], DateTimeText(HistoryEntry(3).Time) +
                          ";Messung;0,098;AUS;0,098;EIN;sicher;;" + utc3 +
                          "\r\n");
  EXPECT_EQ(lines[5], DateTimeText(HistoryEntry(3).Time) +
                          ";Ereignis;;;0,098;EIN;;Trockenlauf: Ausgang 4 "
                          "(Minimum) eingeschaltet;" +
                          utc3 + "\r\n");
  lines.erase(lines.begin() + 5);
  for (int i = 0; i < 6; i++) {
    LevelRecord back{};
    ASSERT_EQ(ReadLevelCsvLine(lines[i + 1].substr(0, lines[i + 1].size() - 2),
                               &back),
              LineMeasurement);
    EXPECT_EQ(back.Time, HistoryEntry(i).Time);
    EXPECT_TRUE(SameBits(back.Level5, HistoryEntry(i).Level5));
  }
  EXPECT_EQ(HistoryLogText(), "");
}

TEST_F(LevelLog, WithoutTheOptionNothingIsWrittenAndTheWireIsTheSame) {
  MeasureWholeCycle(150);
  MeasureWholeCycle(20);
  std::vector<std::string> without = CommandTexts();
  EXPECT_TRUE(HeadlessFileWrites().empty());
  RestoreHistoryFromLog();
  EXPECT_EQ(HistorySize(), 6);
  EXPECT_EQ(HistoryLogText(), "");

  // The same cycles with the log: the same commands, in the same order.
  HeadlessAddFolder(Folder);
  AppState.Settings.LogFolder = Folder;
  MeasureWholeCycle(150);
  MeasureWholeCycle(20);
  std::vector<std::string> with = CommandTexts();
  ASSERT_EQ(with.size(), 2 * without.size());
  EXPECT_EQ(
      std::vector<std::string>(with.begin() + (long)without.size(), with.end()),
      without);
}

TEST_F(LevelLog, AReadOnlyFolderHoldsTheLinesUntilWritingWorksAgain) {
  HeadlessAddFolder(Folder, true);
  AppState.Settings.LogFolder = Folder;
  MeasureWholeCycle(150);
  MeasureWholeCycle(20);
  // The guard went on: both cycles decided as without a log.
  EXPECT_EQ(LevelCommands(),
            std::vector<std::string>(
                {"setport 5.0", "setport 4.0", "setport 5.0", "setport 4.0",
                 "setport 5.0", "setport 4.0", "setport 5.0", "setport 4.1",
                 "setport 5.0", "setport 4.1", "setport 5.0", "setport 4.1"}));
  EXPECT_EQ(HeadlessFileContent(December), nullptr);
  // Six evaluations and the Minimum's event.
  EXPECT_EQ(AppState.Log.LogPending.size(), 7u);
  OpenHistoryWindow();
  EXPECT_EQ(C(LabelHistoryLog).Content,
            Text("Protokoll ") + December +
                " nicht geschrieben: kein Schreibrecht (schreibgeschützt?). "
                "7 Zeilen warten und werden nachgeschrieben, sobald das "
                "Schreiben wieder geht.");
  EXPECT_TRUE(HeadlessMessageBoxes().empty());

  // Writable again: the next evaluation writes the seven before its own.
  HeadlessSetFolderReadOnly(Folder, false);
  MeasureWholeCycle(90);
  std::vector<Text> lines = LinesOf(FileOr(December));
  ASSERT_EQ(lines.size(), 1u + 9u + 2u);
  std::vector<Text> evaluations;
  for (size_t i = 1; i < lines.size(); i++)
    if (lines[i].find(";Messung;") != Text::npos)
      evaluations.push_back(lines[i]);
  ASSERT_EQ(evaluations.size(), 9u);
  for (int i = 0; i < 9; i++)
    EXPECT_EQ(evaluations[i], LevelCsvLine(HistoryEntry(i))) << i;
  EXPECT_NE(lines[5].find(";Ereignis;"), Text::npos);
  EXPECT_NE(lines[9].find(";Ereignis;"), Text::npos);
  EXPECT_TRUE(AppState.Log.LogPending.empty());
  EXPECT_EQ(C(LabelHistoryLog).Content, "");
}

TEST_F(LevelLog, AMissingFolderIsNamed) {
  AppState.Settings.LogFolder = Folder;
  RestoreHistoryFromLog();
  EXPECT_EQ(AppState.Log.LogReadProblem,
            "Protokollordner C:\\Brunnen nicht gefunden.");
  MeasureWholeCycle(150);
  EXPECT_EQ(HistorySize(), 3);
  EXPECT_EQ(
      HistoryLogText(),
      Text("Protokollordner C:\\Brunnen nicht gefunden. Protokoll ") +
          December +
          " nicht geschrieben: der Ordner C:\\Brunnen fehlt. 3 Zeilen "
          "warten und werden nachgeschrieben, sobald das Schreiben wieder "
          "geht.");
}

TEST_F(LevelLog, AFullDiskTearsALineThatIsWrittenAgainOnANewLine) {
  HeadlessAddFolder(Folder);
  AppState.Settings.LogFolder = Folder;
  MeasureWholeCycle(150);
  size_t written = FileOr(December).size();
  // Room for half a line: the next evaluation's line is torn.
  HeadlessSetDiskSpace(20);
  MeasureWholeCycle(20);
  EXPECT_EQ(FileOr(December).size(), written + 20);
  // Three evaluations and the Minimum's event.
  EXPECT_EQ(AppState.Log.LogPending.size(), 4u);
  EXPECT_NE(AppState.Log.LogWriteProblem.find("der Datenträger ist voll"),
            Text::npos);
  EXPECT_EQ(LevelCommands().size(), 12u);

  HeadlessSetDiskSpace(-1);
  MeasureWholeCycle(90);
  // The torn piece stays; a line end closes it, then every line follows.
  std::string content = FileOr(December);
  EXPECT_EQ(content.substr(written + 20, 2), "\r\n");
  EXPECT_TRUE(AppState.Log.LogWriteProblem.empty());

  // Read back: all nine evaluations; the torn piece is one foreign line.
  StartState();
  AppState.Settings.LogFolder = Folder;
  RestoreHistoryFromLog();
  ASSERT_EQ(HistorySize(), 9);
  EXPECT_EQ(AppState.Log.LogReadProblem, Text("Protokoll ") + December +
                                             ": 1 Zeile in fremder Form "
                                             "übersprungen.");
}

TEST_F(LevelLog, WaitingLinesAreBounded) {
  HeadlessAddFolder(Folder, true);
  AppState.Settings.LogFolder = Folder;
  for (int i = 0; i < LogPendingLimit + 7; i++)
    RecordEvaluation(0.5 + i * 1e-6, 0, 0.5, 0, false);
  EXPECT_EQ((int)AppState.Log.LogPending.size(), LogPendingLimit);
  EXPECT_EQ(AppState.Log.LogDropped, 7);
  EXPECT_NE(HistoryLogText().find("7 ungeschriebene Zeilen verworfen"),
            Text::npos);
  // The newest are kept: the first waiting is the eighth evaluation.
  HeadlessSetFolderReadOnly(Folder, false);
  size_t writes = HeadlessFileWrites().size();
  RecordEvaluation(0.4, 0, 0.4, 0, false);
  std::vector<Text> lines = LinesOf(FileOr(December));
  ASSERT_EQ(lines.size(), (size_t)LogPendingLimit + 2);
  EXPECT_EQ(lines[1], LevelCsvLine(HistoryEntry(7)));
  // All of them, and the new one, in one append.
  ASSERT_EQ(HeadlessFileWrites().size(), writes + 1);
  EXPECT_EQ(HeadlessFileWrites().back().Result, AppendWritten);
}

namespace {

const char January[] = "C:\\Brunnen\\korvalinex-2027-01.csv";

// `count` evaluations two minutes apart, the first two minutes from now.
void EvaluateEveryTwoMinutes(int count) {
  for (int i = 0; i < count; i++) {
    HeadlessAdvanceClock(120000);
    double level = 0.3 + (HistorySize() % 100) * 0.01;
    RecordEvaluation(level, 0, level, 0, false);
  }
}

// The lines of the files but their headers, in file order.
std::vector<Text> LoggedLines(std::vector<const char*> files) {
  std::vector<Text> all;
  for (const char* file : files)
    for (const Text& line : LinesOf(FileOr(file)))
      if (line != Header) all.push_back(line);
  return all;
}

}  // namespace

// December's file held open (a spreadsheet) or made read-only from 31.12.
// 23:30 on: January's lines are written to January's file all the same.
TEST_F(LevelLog, AMonthChangeWithTheOldFileLockedLosesNothing) {
  HeadlessAddFolder(Folder);
  AppState.Settings.LogFolder = Folder;
  HeadlessSetLocalTime(31, 12, 2026, 23, 0);
  EvaluateEveryTwoMinutes(15);  // to 23:30, written
  HeadlessSetFileLocked(December, true);
  EvaluateEveryTwoMinutes(14);   // 23:32 to 23:58
  EvaluateEveryTwoMinutes(720);  // a day of January
  ASSERT_EQ(HistorySize(), 749);
  std::vector<Text> january = LinesOf(FileOr(January));
  ASSERT_EQ(january.size(), 721u);
  EXPECT_EQ(january[0], Header);
  for (int i = 0; i < 720; i++)
    EXPECT_EQ(january[i + 1], LevelCsvLine(HistoryEntry(29 + i))) << i;
  EXPECT_EQ(AppState.Log.LogPending.size(), 14u);
  EXPECT_EQ(HistoryLogText(),
            Text("Protokoll ") + December +
                " nicht geschrieben: kein Schreibrecht (schreibgeschützt?). "
                "14 Zeilen warten und werden nachgeschrieben, sobald das "
                "Schreiben wieder geht.");

  // Both files failing, each for its own reason: each is named.
  HeadlessSetDiskSpace(0);
  EvaluateEveryTwoMinutes(2);
  EXPECT_EQ(HistoryLogText(),
            Text("Protokoll ") + December +
                " (14 Zeilen) nicht geschrieben: kein Schreibrecht "
                "(schreibgeschützt?). Protokoll " +
                January +
                " (2 Zeilen) nicht geschrieben: der Datenträger ist voll. "
                "16 Zeilen warten und werden nachgeschrieben, sobald das "
                "Schreiben wieder geht.");
  HeadlessSetDiskSpace(-1);
  EvaluateEveryTwoMinutes(1);
  EXPECT_EQ(AppState.Log.LogPending.size(), 14u);

  // A restart now reads back every evaluation written.
  EXPECT_EQ(ReadLevelLog().size(), 15u + 723u);

  // December writable again: its lines after its first ones, in one
  // append, and every evaluation is in the log once.
  HeadlessSetFileLocked(December, false);
  size_t writes = HeadlessFileWrites().size();
  EvaluateEveryTwoMinutes(1);
  EXPECT_EQ(HeadlessFileWrites().size(), writes + 2);
  EXPECT_TRUE(AppState.Log.LogPending.empty());
  EXPECT_EQ(HistoryLogText(), "");
  std::vector<Text> logged = LoggedLines({December, January});
  ASSERT_EQ(logged.size(), (size_t)HistorySize());
  for (int i = 0; i < HistorySize(); i++)
    EXPECT_EQ(logged[i], LevelCsvLine(HistoryEntry(i))) << i;

  // And after a restart the history is all there.
  StartState();
  AppState.Settings.LogFolder = Folder;
  RestoreHistoryFromLog();
  EXPECT_EQ(HistorySize(), 753);
  EXPECT_EQ(AppState.Log.LogReadProblem, "");
}

// Someone emptied the file, replaced it, or typed a note at its end
// between two evaluations: the header where it has none, and each line of
// the program on a line of its own.
TEST_F(LevelLog, AFileChangedMeanwhileGetsItsHeaderAndLinesOfTheirOwn) {
  HeadlessAddFolder(Folder);
  AppState.Settings.LogFolder = Folder;
  auto line = [](int i) { return LevelCsvLine(HistoryEntry(i)); };
  EvaluateEveryTwoMinutes(1);
  HeadlessPutFile(December, "");
  EvaluateEveryTwoMinutes(1);
  EXPECT_EQ(FileOr(December), Header + line(1));

  HeadlessPutFile(December, FileOr(December) + "Pumpe getauscht");
  EvaluateEveryTwoMinutes(1);
  EXPECT_EQ(FileOr(December),
            Header + line(1) + "Pumpe getauscht\r\n" + line(2));
  EXPECT_EQ(ReadLevelLog().size(), 2u);

  // Replaced by a file of another form, torn or whole at its end.
  HeadlessPutFile(December, "Datum,Pegel\r\n06.12.2026,0.5");
  EvaluateEveryTwoMinutes(1);
  EXPECT_EQ(FileOr(December),
            "Datum,Pegel\r\n06.12.2026,0.5\r\n" + Text(Header) + line(3));
  HeadlessPutFile(December, "Datum,Pegel\n");
  EvaluateEveryTwoMinutes(1);
  EXPECT_EQ(FileOr(December), "Datum,Pegel\n" + Text(Header) + line(4));
  // Left alone, the file gets only the line.
  EvaluateEveryTwoMinutes(1);
  EXPECT_EQ(FileOr(December),
            "Datum,Pegel\n" + Text(Header) + line(4) + line(5));
}

// The disk fills in the middle of an append: what got in stays, the rest
// follows once there is room, nothing twice.
TEST_F(LevelLog, AnAppendCutShortIsFinishedWithoutLossOrRepeats) {
  HeadlessAddFolder(Folder);
  AppState.Settings.LogFolder = Folder;
  auto line = [](int i) { return LevelCsvLine(HistoryEntry(i)); };
  // Ten bytes into the header of a new file: the rest of the header.
  HeadlessSetDiskSpace(10);
  EvaluateEveryTwoMinutes(1);
  EXPECT_EQ(FileOr(December), Text(Header).substr(0, 10));
  HeadlessSetDiskSpace(-1);
  EvaluateEveryTwoMinutes(1);
  EXPECT_EQ(FileOr(December), Header + line(0) + line(1));

  // Three lines in one append; two and a piece of the third get in.
  HeadlessSetDiskSpace(0);
  EvaluateEveryTwoMinutes(2);
  std::string before = FileOr(December);
  HeadlessSetDiskSpace((int64_t)(line(2).size() + line(3).size()) + 20);
  EvaluateEveryTwoMinutes(1);
  EXPECT_EQ(AppState.Log.LogPending.size(), 1u);
  HeadlessSetDiskSpace(-1);
  EvaluateEveryTwoMinutes(1);
  EXPECT_EQ(FileOr(December), before + line(2) + line(3) +
                                  line(4).substr(0, 20) + "\r\n" + line(4) +
                                  line(5));

  // All but the last line feed of the second line waiting: it is whole,
  // its line feed follows.
  before = FileOr(December);
  HeadlessSetDiskSpace(0);
  EvaluateEveryTwoMinutes(2);
  HeadlessSetDiskSpace((int64_t)(line(6).size() + line(7).size()) - 1);
  EvaluateEveryTwoMinutes(1);
  EXPECT_EQ(AppState.Log.LogPending.size(), 1u);
  HeadlessSetDiskSpace(-1);
  EvaluateEveryTwoMinutes(1);
  EXPECT_EQ(FileOr(December), before + line(6) + line(7) + line(8) + line(9));

  // Read back: every evaluation once, the torn piece skipped.
  EXPECT_EQ(ReadLevelLog().size(), 10u);
}

TEST_F(LevelLog, TheLastThirtyDaysAreReadBackInTimeOrder) {
  // Now 05.01.2027 07:45: December's file and January's are read.
  HeadlessSetLocalTime(6, 12, 2026, 0, 0);
  int64_t dec6 = PlatLocalClock();
  HeadlessSetLocalTime(5, 1, 2027, 7, 45);
  int64_t now = PlatLocalClock();
  auto line = [](int64_t t, double level) {
    return LevelCsvLine(Record(t, level, 0, level, 0, false));
  };
  HeadlessPutFile("C:\\Brunnen\\korvalinex-2026-11.csv",
                  Header + line(dec6 - 10 * 86400, 0.01));
  HeadlessPutFile(December, Header + line(dec6 - 3600, 0.02) +  // too old
                                line(dec6 + 86400, 0.7) + "Summe;;;\r\n" +
                                line(dec6 + 2 * 86400, 0.3));
  HeadlessPutFile(
      "C:\\Brunnen\\korvalinex-2027-01.csv",
      Header + line(now - 60, 1.1) + line(now - 120, 0.9) + "05.01.2027 07:4");
  AppState.Settings.LogFolder = Folder;
  RestoreHistoryFromLog();

  ASSERT_EQ(HistorySize(), 4);
  const double expected[] = {0.7, 0.3, 0.9, 1.1};
  for (int i = 0; i < 4; i++) EXPECT_EQ(HistoryEntry(i).Level5, expected[i]);
  EXPECT_EQ(HistoryEntry(3).Time, now - 60);
  EXPECT_EQ(AppState.History.LowestLevel.Level5, 0.3);
  EXPECT_EQ(AppState.History.HighestLevel.Level5, 1.1);
  EXPECT_EQ(AppState.Log.LogReadProblem,
            Text("Protokoll ") + December +
                ": 1 Zeile in fremder Form übersprungen; "
                "C:\\Brunnen\\korvalinex-2027-01.csv: letzte Zeile "
                "unvollständig (übersprungen).");
  // Nothing is written at start.
  EXPECT_TRUE(HeadlessFileWrites().empty());

  // The next line starts on a line of its own, after the torn one.
  RecordEvaluation(0.5, 0, 0.5, 0, false);
  std::string january = FileOr("C:\\Brunnen\\korvalinex-2027-01.csv");
  EXPECT_NE(january.find("05.01.2027 07:4\r\n05.01.2027 07:45:00;Messung;"),
            Text::npos)
      << january;
}

// A log longer than the read-back bound: its last LogReadLimit bytes are
// read. A line cut by the bound is skipped; one that begins right at it is
// whole and read.
TEST_F(LevelLog, TheReadBackBoundSkipsOnlyACutLine) {
  HeadlessSetLocalTime(20, 12, 2026, 12, 0);
  int64_t now = PlatLocalClock();
  Text first = LevelCsvLine(Record(now - 7200, 0.4, 0, 0.4, 0, false));
  Text last = LevelCsvLine(Record(now - 3600, 0.6, 0, 0.6, 0, false));
  for (int cut : {0, 1}) {
    SCOPED_TRACE(cut);
    // A line of 10 bytes, then `first`, a long foreign line and `last`:
    // the last LogReadLimit bytes begin right at `first` (cut 0), or one
    // byte into it (cut 1: it is a piece, and skipped).
    std::string pad(LogReadLimit - first.size() - last.size() + cut, 'z');
    pad.back() = '\n';
    HeadlessPutFile(December, "yyyyyyyyy\n" + first + pad + last);
    AppState.Settings.LogFolder = Folder;
    std::vector<LevelRecord> read = ReadLevelLog();
    ASSERT_EQ(read.size(), cut == 0 ? 2u : 1u);
    EXPECT_EQ(read.back().Level5, 0.6);
    if (cut == 0) {
      EXPECT_EQ(read.front().Level5, 0.4);
    }
  }
}

// A file saved with CR alone as its line ends (or a mix of them) is read
// line by line as one with CR LF.
TEST_F(LevelLog, LinesEndedByACarriageReturnAloneAreRead) {
  HeadlessSetLocalTime(20, 12, 2026, 12, 0);
  int64_t now = PlatLocalClock();
  std::string crOnly = std::string(Header).substr(0, sizeof Header - 2);
  std::string mixed = Header;
  for (int i = 0; i < 20; i++) {
    Text line =
        LevelCsvLine(Record(now - 600 * (20 - i), 0.3, 0, 0.3, 0, false));
    ASSERT_EQ(line.substr(line.size() - 2), "\r\n");
    crOnly += line.substr(0, line.size() - 1);  // without its LF
    mixed += i % 2 ? line : line.substr(0, line.size() - 2) + "\n";
  }
  for (const std::string& file : {crOnly, mixed}) {
    HeadlessPutFile(December, file);
    AppState.Settings.LogFolder = Folder;
    AppState.Log.LogReadProblem.clear();
    EXPECT_EQ(ReadLevelLog().size(), 20u);
    EXPECT_EQ(AppState.Log.LogReadProblem.find("unvollständig"), Text::npos)
        << AppState.Log.LogReadProblem;
  }
}

TEST_F(LevelLog, AnUnreadableFileIsNamed) {
  HeadlessPutFile(December, Header);
  HeadlessSetFileUnreadable(December);
  AppState.Settings.LogFolder = Folder;
  RestoreHistoryFromLog();
  EXPECT_EQ(AppState.Log.LogReadProblem,
            Text("Protokoll ") + December + ": nicht lesbar.");
}

TEST_F(LevelLog, TheSaveButtonWritesTheHistoryShownAsCsv) {
  RecordEvaluation(0.5, 0, 0.5, 0, false);
  HeadlessAdvanceClock(60000);
  RecordEvaluation(0.1, 0, 0.1, 1, false);
  HeadlessAdvanceClock(60000);
  RecordEvaluation(NAN, CommandNotSent, NAN, CommandNotSent, true);
  OpenHistoryWindow();
  HeadlessAddFolder("D:\\Auswertung");
  HeadlessAnswerSaveDialog(true, "D:\\Auswertung\\brunnen.csv");
  SaveHistoryAsCsv();

  ASSERT_EQ(HeadlessSaveDialogs().size(), 1u);
  EXPECT_EQ(HeadlessSaveDialogs()[0].Window, HistoryWindow);
  EXPECT_EQ(HeadlessSaveDialogs()[0].SuggestedName, "verlauf-2026-12-06.csv");
  EXPECT_EQ(HeadlessSaveDialogs()[0].Extension, "csv");
  EXPECT_EQ(FileOr("D:\\Auswertung\\brunnen.csv"),
            Text(Header) +
                "06.12.2026 07:45:00;Messung;0,5;AUS;0,5;AUS;sicher;;"
                "06.12.2026 06:45:00\r\n"
                "06.12.2026 07:46:00;Messung;0,1;AUS;0,1;EIN;sicher;;"
                "06.12.2026 06:46:00\r\n"
                "06.12.2026 07:47:00;Messung;;;;;unsicher;;"
                "06.12.2026 06:47:00\r\n");
  EXPECT_EQ(C(LabelHistoryLog).Content,
            "Verlauf gespeichert: D:\\Auswertung\\brunnen.csv (3 Messungen).");

  // Saved again over it: the file holds the history once.
  RecordEvaluation(0.6, 0, 0.6, 0, false);
  HeadlessAnswerSaveDialog(true, "D:\\Auswertung\\brunnen.csv");
  SaveHistoryAsCsv();
  EXPECT_EQ(LinesOf(FileOr("D:\\Auswertung\\brunnen.csv")).size(), 5u);

  // Cancelled: nothing written.
  size_t writes = HeadlessFileWrites().size();
  SaveHistoryAsCsv();
  EXPECT_EQ(HeadlessFileWrites().size(), writes);
  // A folder that cannot be written: said, no box.
  HeadlessAnswerSaveDialog(true, "E:\\nirgends.csv");
  SaveHistoryAsCsv();
  EXPECT_EQ(C(LabelHistoryLog).Content,
            "Verlauf nicht gespeichert: E:\\nirgends.csv kann nicht "
            "geschrieben werden.");
  EXPECT_TRUE(HeadlessMessageBoxes().empty());
}

TEST_F(LevelLog, TheWindowsNewControlsFitFromItsSmallestSize) {
  AppState.Log.LogReadProblem = "Protokollordner C:\\Brunnen nicht gefunden.";
  OpenHistoryWindow();
  // Tab order is creation order: save, then close.
  std::vector<int> order = HeadlessCreationOrder(HistoryWindow);
  auto at = [&order](int n) {
    return std::find(order.begin(), order.end(), n) - order.begin();
  };
  EXPECT_LT(at(ButtonSaveHistory), at(ButtonCloseHistory));
  EXPECT_EQ(C(ButtonSaveHistory).Content, "Als CSV speichern...");
  EXPECT_EQ(C(LabelHistoryLog).Content,
            "Protokollordner C:\\Brunnen nicht gefunden.");
  for (auto size : {std::pair<int, int>{360, 240}, {720, 420}, {1000, 700}}) {
    ASSERT_TRUE(HeadlessResizeWindow(HistoryWindow, size.first, size.second));
    HistoryWindowResized();
    std::vector<const HeadlessControl*> all;
    for (int n : order) all.push_back(HeadlessFindControl(n));
    for (size_t i = 0; i < all.size(); i++) {
      const HeadlessControl& a = *all[i];
      EXPECT_GE(a.X, 0);
      EXPECT_GE(a.Y, 0);
      EXPECT_LE(a.X + a.Width, size.first) << a.Number;
      EXPECT_LE(a.Y + a.Height, size.second) << a.Number;
      EXPECT_GT(a.Width, 100) << a.Number;
      for (size_t j = i + 1; j < all.size(); j++) {
        const HeadlessControl& b = *all[j];
        bool apart = a.X + a.Width <= b.X || b.X + b.Width <= a.X ||
                     a.Y + a.Height <= b.Y || b.Y + b.Height <= a.Y;
        EXPECT_TRUE(apart) << a.Number << " and " << b.Number;
      }
    }
    // The picture ends above the log's line.
    for (const HeadlessDrawStep& s : HeadlessShownDrawing(HistoryWindow))
      EXPECT_LT(std::max(s.Y1, s.Y2), C(LabelHistoryLog).Y + 1);
  }
}

namespace {

using LogRun = BoardTest;

struct Shown {
  std::vector<LevelRecord> History;
  Text Summary;
};

Shown WhatTheHistoryShows() {
  Shown s;
  for (int i = 0; i < HistorySize(); i++) s.History.push_back(HistoryEntry(i));
  s.Summary = HistorySummaryText();
  return s;
}

}  // namespace

// The whole program twice with the same log folder: the second run starts
// with the first one's history, picture and extremes.
TEST_F(LogRun, TheHistoryComesBackAfterARestart) {
  HeadlessAddFolder(Folder);
  HeadlessSetCommandLine("korvalinex.exe /log C:\\Brunnen");
  Sim.SetLevel(150);
  Then([] {});
  Then([] { HeadlessMoveTrackbar(TrackbarCycle, 10); });
  ThenClick(ButtonMeasurementOff);
  ThenClick(ButtonMeasurementOn);
  ThenWithin(
      2000,
      [this] {
        if (HistorySize() == 3) Sim.SetLevel(20);
        return HistorySize() >= 6;
      },
      [] { return "six evaluations: " + std::to_string(HistorySize()); });
  Shown first;
  Then([&first] { first = WhatTheHistoryShows(); });
  RunSteps();
  ASSERT_EQ(first.History.size(), 6u);
  size_t written = FileOr(December).size();

  Shown second;
  Then([&second] { second = WhatTheHistoryShows(); });
  Then([] { HeadlessChooseSystemMenuItem(MainWindow, MenuLevelHistory); });
  Then([&first] {
    EXPECT_EQ(C(LabelHistorySummary).Content, first.Summary);
    EXPECT_EQ(C(LabelHistoryLog).Content, "");
  });
  RunSteps();
  ASSERT_EQ(second.History.size(), first.History.size());
  for (size_t i = 0; i < first.History.size(); i++) {
    EXPECT_EQ(second.History[i].Time, first.History[i].Time) << i;
    EXPECT_TRUE(SameBits(second.History[i].Level5, first.History[i].Level5));
    EXPECT_TRUE(SameBits(second.History[i].Level4, first.History[i].Level4));
    EXPECT_EQ(second.History[i].Output4, first.History[i].Output4) << i;
    EXPECT_EQ(second.History[i].Output5, first.History[i].Output5) << i;
  }
  EXPECT_EQ(second.Summary, first.Summary);
  EXPECT_NE(first.Summary.find("Tiefster: 0,09 V"), Text::npos);
  // Reading wrote nothing: the one line more is the second start's event.
  std::string added = FileOr(December).substr(written);
  EXPECT_EQ(std::count(added.begin(), added.end(), '\n'), 1) << added;
  EXPECT_NE(added.find(";Ereignis;"), std::string::npos) << added;
  EXPECT_NE(added.find("Wächter gestartet"), std::string::npos) << added;
}
