#include "control/level_log.h"

#include <algorithm>
#include <string>
#include <vector>

#include "app/level_csv.h"
#include "platform/platform.h"

static Text InFolder(const Text& name) {
  const Text& folder = AppState.LogFolder;
  if (!folder.empty() && (folder.back() == '\\' || folder.back() == '/'))
    return folder + name;
  return folder + "\\" + name;
}

Text LevelLogPath(int64_t time) {
  return InFolder(LevelLogFileName(MonthOfTime(time)));
}

static Text WriteProblemText(const Text& file, AppendResult result) {
  Text why;
  switch (result) {
    case AppendNoFolder:
      why = "der Ordner " + AppState.LogFolder + " fehlt";
      break;
    case AppendDenied:
      why = "kein Schreibrecht (schreibgeschützt?)";
      break;
    case AppendDiskFull:
      why = "der Datenträger ist voll";
      break;
    default:
      why = "Schreibfehler";
      break;
  }
  return "Protokoll " + file + " nicht geschrieben: " + why + ".";
}

// What must come before the first line that goes to a file: the header
// for a file that is new (or empty), a line end after a torn last line.
static Text Lead(const Text& file) {
  Text end;
  int64_t size = 0;
  ReadResult read = PlatReadFileEnd(file, 2, &end, &size);
  if (read == FileMissing || (read == FileRead && size == 0))
    return LevelCsvHeader;
  if (read == FileRead && end != "\r\n") return "\r\n";
  return "";
}

// Writes the lines still waiting, the oldest first, as far as writing
// works; the first that fails stops it, and the history window says why.
static void WriteWaitingLogLines() {
  while (!AppState.LogPending.empty()) {
    const PendingLogLine& line = AppState.LogPending.front();
    if (line.File != AppState.LogFileName || !AppState.LogFileChecked) {
      AppState.LogFileName = line.File;
      AppState.LogFileChecked = false;
    }
    Text bytes =
        AppState.LogFileChecked ? line.Bytes : Lead(line.File) + line.Bytes;
    AppendResult result =
        PlatAppendFile(line.File, bytes.data(), (int)bytes.size());
    if (result != AppendWritten) {
      // Some of it may be in the file: its end is looked at again.
      AppState.LogFileChecked = false;
      AppState.LogWriteProblem = WriteProblemText(line.File, result);
      return;
    }
    AppState.LogFileChecked = true;
    AppState.LogPending.pop_front();
  }
  AppState.LogWriteProblem.clear();
}

// Queues a line for its month's file and writes what waits; when too many
// are left waiting, the oldest go.
static void AppendLogLine(int64_t time, const Text& bytes) {
  ReadBackLateLog();
  if (AppState.LogFolder.empty()) return;
  AppState.LogPending.push_back(PendingLogLine{LevelLogPath(time), bytes});
  WriteWaitingLogLines();
  while ((int)AppState.LogPending.size() > LogPendingLimit) {
    AppState.LogPending.pop_front();
    AppState.LogDropped++;
  }
}

void LogEvaluation(const LevelRecord& r) {
  AppendLogLine(r.Time, LevelCsvLine(r));
}

void LogAlarmEvent(int64_t time, int output, int sent, double level,
                   const Text& message) {
  // The event's universal time: it has the local clock's present lead.
  int64_t universal = time - LeadOf(PlatLocalClock(), PlatUniversalClock());
  AppendLogLine(
      time, LevelCsvEventLine(time, universal, output, sent, level, message));
}

// What reading one file found.
struct FileReading {
  int Foreign = 0;    // lines of another form, skipped
  int OutOfTime = 0;  // lines dated ahead of now or outside the file's month
  bool Torn = false;  // the last line breaks off
  bool Unreadable = false;
};

// Where the line that begins at `at` ends, and where the next begins: a
// line ends at CR LF, at LF, or at a CR alone (a file saved with the line
// ends of old Macs); npos when it has no end in `bytes`.
static size_t LineEnd(const Text& bytes, size_t at, size_t* next) {
  size_t end = bytes.find_first_of("\r\n", at);
  if (end == Text::npos) return end;
  bool crlf =
      bytes[end] == '\r' && end + 1 < bytes.size() && bytes[end + 1] == '\n';
  *next = end + (crlf ? 2 : 1);
  return end;
}

// The clock as the read-back sees it: now, local and universal, and the
// local clock's present lead on universal time (to whole quarter hours).
struct ReadClock {
  int64_t Local;
  int64_t Universal;
  int64_t Lead;
};

static ReadClock ClockNow() {
  ReadClock c;
  c.Local = PlatLocalClock();
  c.Universal = PlatUniversalClock();
  c.Lead = LeadOf(c.Local, c.Universal);
  return c;
}

// Whether a line's time can be true: not ahead of now (a line of 8
// columns, its universal time not known, may be up to an hour ahead: the
// clock may have been put back since), and within its file's month or a
// day either side of it.
static bool PossibleTime(const LevelRecord& r, int month, const ReadClock& c) {
  const int64_t slack = 60;
  if (r.Universal != UniversalUnknown ? r.Universal > c.Universal + slack
                                      : r.Time > c.Local + 3600 + slack)
    return false;
  return MonthOfTime(r.Time - 86400) <= month &&
         MonthOfTime(r.Time + 86400) >= month;
}

// Reads the evaluations of one file (its month as MonthOfTime counts) into
// `*found`, in file order.
static FileReading ReadLogFile(const Text& file, int month, const ReadClock& c,
                               int64_t since, std::vector<LevelRecord>* found) {
  FileReading reading;
  Text bytes;
  int64_t size = 0;
  // One byte before the last LogReadLimit is read too: it tells whether
  // they begin on a line start.
  ReadResult result = PlatReadFileEnd(file, LogReadLimit + 1, &bytes, &size);
  if (result == FileUnreadable) reading.Unreadable = true;
  if (result != FileRead) return reading;
  size_t at = 0;
  // Cut at the limit: the first line is a piece of one, unless the byte
  // before the last LogReadLimit ends a line.
  if (size > LogReadLimit && !bytes.empty()) {
    size_t next = 0;
    at = LineEnd(bytes, 0, &next) == Text::npos ? bytes.size() : next;
  }
  while (at < bytes.size()) {
    size_t next = 0;
    size_t lineEnd = LineEnd(bytes, at, &next);
    bool whole = lineEnd != Text::npos;
    Text line = bytes.substr(at, whole ? lineEnd - at : Text::npos);
    at = whole ? next : bytes.size();
    LevelRecord r;
    LevelCsvKind kind = ReadLevelCsvLine(line, &r);
    if (!whole) {
      // A last line without its line end (the power went while it was
      // written) counts only when it is complete.
      reading.Torn = kind != LineMeasurement;
      if (reading.Torn) break;
    }
    if (kind == LineMeasurement && !PossibleTime(r, month, c)) {
      reading.OutOfTime++;
      continue;
    }
    // Too old for certain (a guessed universal time only goes back): not
    // kept even for the moment.
    int64_t universal =
        r.Universal != UniversalUnknown ? r.Universal : r.Time - c.Lead;
    if (kind == LineMeasurement && universal >= since) found->push_back(r);
    if (kind == LineForeign && !line.empty()) reading.Foreign++;
  }
  return reading;
}

static Text Lines(int count) {
  return count == 1 ? Text("1 Zeile") : std::to_string(count) + " Zeilen";
}

// Lines of 8 columns do not say their universal time: it is taken as
// their local time less the local clock's present lead, going back from
// the newest. Where the local time goes back from one such line to the
// next, the clock was put back between them: the lines before are moved
// back by as much, so that they keep their order in the files (the order
// they were written in) and a run across the change keeps its length
// within one cycle.
static void GuessUniversalTimes(std::vector<LevelRecord>* found,
                                const ReadClock& c) {
  bool any = false;
  int64_t later = 0;
  int64_t shift = 0;
  for (size_t i = found->size(); i-- > 0;) {
    LevelRecord& r = (*found)[i];
    if (r.Universal != UniversalUnknown) continue;
    r.Universal = r.Time - c.Lead - shift;
    if (any && r.Universal > later) {
      shift += r.Universal - later;
      r.Universal = later;
    }
    later = r.Universal;
    any = true;
  }
}

std::vector<LevelRecord> ReadLevelLog() {
  std::vector<LevelRecord> found;
  if (AppState.LogFolder.empty()) return found;
  if (!PlatFolderExists(AppState.LogFolder)) {
    AppState.LogReadProblem =
        "Protokollordner " + AppState.LogFolder + " nicht gefunden.";
    return found;
  }
  ReadClock c = ClockNow();
  int64_t since = c.Universal - (int64_t)LogReadDays * 86400;
  Text problems;
  // From the local month of the first day read.
  int first = MonthOfTime(since + c.Lead);
  for (int month = first; month <= MonthOfTime(c.Local); month++) {
    Text file = InFolder(LevelLogFileName(month));
    FileReading reading = ReadLogFile(file, month, c, since, &found);
    Text said;
    auto say = [&said](const Text& what) {
      said += Text(said.empty() ? "" : ", ") + what;
    };
    if (reading.Unreadable) say("nicht lesbar");
    if (reading.Foreign > 0)
      say(Lines(reading.Foreign) + " in fremder Form übersprungen");
    if (reading.OutOfTime > 0)
      say(Lines(reading.OutOfTime) +
          " mit unmöglicher Zeit (in der Zukunft oder nicht im Monat der "
          "Datei) übersprungen");
    if (reading.Torn) say("letzte Zeile unvollständig (übersprungen)");
    if (!said.empty())
      problems += Text(problems.empty() ? "" : "; ") + file + ": " + said;
  }
  GuessUniversalTimes(&found, c);
  // In the order of events, however the local clock was set when they
  // were written; lines of the same instant keep their file order.
  std::stable_sort(found.begin(), found.end(),
                   [](const LevelRecord& a, const LevelRecord& b) {
                     return a.Universal < b.Universal;
                   });
  found.erase(std::remove_if(found.begin(), found.end(),
                             [since](const LevelRecord& r) {
                               return r.Universal < since;
                             }),
              found.end());
  if (!problems.empty())
    AppState.LogReadProblem = "Protokoll " + problems + ".";
  return found;
}

void ReadBackLateLog() {
  if (!AppState.LogReadWaiting || !PlatFolderExists(AppState.LogFolder)) return;
  AppState.LogReadWaiting = false;
  AppState.LogReadProblem.clear();
  std::vector<LevelRecord> read = ReadLevelLog();
  // Everything in the history was recorded since the start.
  std::vector<LevelRecord> since;
  for (int i = 0; i < HistorySize(); i++) since.push_back(HistoryEntry(i));
  if (!since.empty()) {
    int64_t first = since.front().Universal;
    read.erase(std::remove_if(read.begin(), read.end(),
                              [first](const LevelRecord& r) {
                                return r.Universal >= first;
                              }),
               read.end());
  }
  // The extremes since the start, with the older evaluations first: of
  // equal levels the earlier is kept.
  bool had = AppState.HistoryHasExtremes;
  LevelRecord lowest = AppState.LowestLevel;
  LevelRecord highest = AppState.HighestLevel;
  AppState.HistoryHasExtremes = false;
  AppState.HistoryCount = 0;
  AppState.HistoryFirst = 0;
  for (const LevelRecord& r : read) KeepEvaluation(r);
  if (had) {
    TakeExtremes(lowest);
    TakeExtremes(highest);
  }
  for (const LevelRecord& r : since) {
    AppState.EvaluationCount--;  // counted when it was recorded
    KeepEvaluation(r);
  }
}
