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
  AppendLogLine(time, LevelCsvEventLine(time, output, sent, level, message));
}

// What reading one file found.
struct FileReading {
  int Foreign = 0;    // lines of another form, skipped
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

// Reads the evaluations at or after `since` from one file into `*found`.
static FileReading ReadLogFile(const Text& file, int64_t since,
                               std::vector<LevelRecord>* found) {
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
    if (kind == LineMeasurement && r.Time >= since) found->push_back(r);
    if (kind == LineForeign && !line.empty()) reading.Foreign++;
  }
  return reading;
}

std::vector<LevelRecord> ReadLevelLog() {
  std::vector<LevelRecord> found;
  if (AppState.LogFolder.empty()) return found;
  if (!PlatFolderExists(AppState.LogFolder)) {
    AppState.LogReadProblem =
        "Protokollordner " + AppState.LogFolder + " nicht gefunden.";
    return found;
  }
  int64_t now = PlatLocalClock();
  int64_t since = now - (int64_t)LogReadDays * 86400;
  Text problems;
  for (int month = MonthOfTime(since); month <= MonthOfTime(now); month++) {
    Text file = InFolder(LevelLogFileName(month));
    FileReading reading = ReadLogFile(file, since, &found);
    Text said;
    if (reading.Unreadable) said = "nicht lesbar";
    if (reading.Foreign > 0)
      said =
          (reading.Foreign == 1 ? Text("1 Zeile")
                                : std::to_string(reading.Foreign) + " Zeilen") +
          " in fremder Form übersprungen";
    if (reading.Torn)
      said += Text(said.empty() ? "" : ", ") +
              "letzte Zeile unvollständig (übersprungen)";
    if (!said.empty())
      problems += Text(problems.empty() ? "" : "; ") + file + ": " + said;
  }
  // In time order, however the clock was set when they were written.
  std::stable_sort(found.begin(), found.end(),
                   [](const LevelRecord& a, const LevelRecord& b) {
                     return a.Time < b.Time;
                   });
  if (!problems.empty())
    AppState.LogReadProblem = "Protokoll " + problems + ".";
  return found;
}
