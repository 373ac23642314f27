#include "control/level_log.h"

#include <algorithm>
#include <string>
#include <vector>

#include "base/clock_text.h"
#include "base/level_csv.h"
#include "platform/platform.h"

static Text InFolder(const Text& name) {
  const Text& folder = Settings().LogFolder;
  if (!folder.empty() && (folder.back() == '\\' || folder.back() == '/'))
    return folder + name;
  return folder + "\\" + name;
}

Text LevelLogPath(int64_t time) {
  return InFolder(LevelLogFileName(MonthOfTime(time)));
}

static Text WhyNotWritten(AppendResult result) {
  switch (result) {
    case AppendNoFolder:
      return "der Ordner " + Settings().LogFolder + " fehlt";
    case AppendDenied:
      return "kein Schreibrecht (schreibgeschützt?)";
    case AppendDiskFull:
      return "der Datenträger ist voll";
    default:
      return "Schreibfehler";
  }
}

// What must come before the lines that go to a file now: the header where
// the file does not begin with it (the rest of it where the file holds a
// beginning of it and nothing else), a line end where its last line has
// none. The file's end is looked at before every append, its start only
// when the file is not as the program left it. `*size`: the file's size
// now, -1 when it could not be read (the lines go as they are).
static Text Lead(const LogFileState& state, int64_t* size) {
  const Text header = LevelCsvHeader;
  Text end;
  ReadResult read = PlatReadFileEnd(state.File, 2, &end, size);
  if (read == FileMissing) return header;
  if (read != FileRead) {
    *size = -1;
    return "";
  }
  if (*size == state.Left && end == "\r\n") return "";
  Text start;
  int64_t whole = 0;
  if (PlatReadFileStart(state.File, (int)header.size(), &start, &whole) !=
          FileRead ||
      whole != *size) {
    *size = -1;
    return "";
  }
  if (whole < (int64_t)header.size() &&
      header.compare(0, start.size(), start) == 0)
    return header.substr(start.size());
  Text lead;
  if (end.back() == '\r')
    lead = "\n";
  else if (end.back() != '\n')
    lead = "\r\n";
  if (!BeginsWithLevelCsvHeader(start)) lead += header;
  return lead;
}

// After an append to a file of size `size` that failed with `lead` and
// `lines` (those of LogPending at `at`, in order): how many of the lines
// got in whole, found from the file's size now. A line whose line feed
// alone is missing reads as whole, and counts. None when the size tells
// nothing sure.
static size_t LinesThatGotIn(const Text& file, int64_t size, size_t lead,
                             const std::vector<size_t>& at) {
  Text none;
  int64_t now = 0;
  ReadResult read = PlatReadFileEnd(file, 0, &none, &now);
  if (size < 0 || read == FileUnreadable || now < size) return 0;
  int64_t got = now - size - (int64_t)lead;
  size_t count = 0;
  int64_t through = 0;
  for (size_t index : at) {
    const Text& bytes = AppState.Log.LogPending[index].Bytes;
    through += (int64_t)bytes.size();
    bool crlf =
        bytes.size() >= 2 && bytes.compare(bytes.size() - 2, 2, "\r\n") == 0;
    if (got < through - (crlf ? 1 : 0)) break;
    count++;
  }
  if (got > through) return 0;  // more than was written: not the program's
  return count;
}

// The history window's word on what waits: each file that has lines
// waiting, why, and with more than one such file, how many of them.
static Text WaitingText() {
  std::vector<int> waiting(AppState.Log.LogFiles.size(), 0);
  for (const PendingLogLine& line : AppState.Log.LogPending)
    for (size_t f = 0; f < AppState.Log.LogFiles.size(); f++)
      if (AppState.Log.LogFiles[f].File == line.File) {
        waiting[f]++;
        break;
      }
  int files = 0;
  for (int count : waiting) files += count > 0 ? 1 : 0;
  Text text;
  for (size_t f = 0; f < AppState.Log.LogFiles.size(); f++) {
    if (waiting[f] == 0) continue;
    Text count = files == 1 ? Text()
                 : waiting[f] == 1
                     ? Text(" (1 Zeile)")
                     : " (" + std::to_string(waiting[f]) + " Zeilen)";
    text += Text(text.empty() ? "" : " ") + "Protokoll " +
            AppState.Log.LogFiles[f].File + count + " nicht geschrieben: " +
            WhyNotWritten(AppState.Log.LogFiles[f].Last) + ".";
  }
  return text;
}

// Writes the lines still waiting, each to its own file: the lines of a
// file in one append, the files in the order of their oldest line. A file
// that fails holds back its own lines only; of an append cut short, the
// lines that got in whole are not written again.
static void WriteWaitingLogLines() {
  std::vector<LogFileState> files;
  std::vector<std::vector<size_t>> lines;
  for (size_t i = 0; i < AppState.Log.LogPending.size(); i++) {
    const Text& file = AppState.Log.LogPending[i].File;
    size_t f = 0;
    while (f < files.size() && files[f].File != file) f++;
    if (f == files.size()) {
      LogFileState known{file, -1, AppendWritten};
      for (const LogFileState& state : AppState.Log.LogFiles)
        if (state.File == file) known = state;
      files.push_back(known);
      lines.emplace_back();
    }
    lines[f].push_back(i);
  }
  std::vector<bool> written(AppState.Log.LogPending.size(), false);
  for (size_t f = 0; f < files.size(); f++) {
    LogFileState& state = files[f];
    int64_t size = -1;
    Text bytes = Lead(state, &size);
    size_t lead = bytes.size();
    for (size_t index : lines[f]) bytes += AppState.Log.LogPending[index].Bytes;
    state.Last = PlatAppendFile(state.File, bytes.data(), (int)bytes.size());
    size_t done = lines[f].size();
    if (state.Last == AppendWritten) {
      state.Left = size < 0 ? -1 : size + (int64_t)bytes.size();
    } else {
      // Some of it may be in the file: the file is looked at again.
      done = LinesThatGotIn(state.File, size, lead, lines[f]);
      state.Left = -1;
    }
    for (size_t i = 0; i < done; i++) written[lines[f][i]] = true;
  }
  std::deque<PendingLogLine> left;
  for (size_t i = 0; i < AppState.Log.LogPending.size(); i++)
    if (!written[i]) left.push_back(std::move(AppState.Log.LogPending[i]));
  AppState.Log.LogPending.swap(left);
  AppState.Log.LogFiles.swap(files);
}

// Queues a line for its month's file and writes what waits; when too many
// are left waiting, the oldest go.
static void AppendLogLine(int64_t time, const Text& bytes) {
  ReadBackLateLog();
  if (Settings().LogFolder.empty()) return;
  AppState.Log.LogPending.push_back(PendingLogLine{LevelLogPath(time), bytes});
  WriteWaitingLogLines();
  while ((int)AppState.Log.LogPending.size() > LogPendingLimit) {
    AppState.Log.LogPending.pop_front();
    AppState.Log.LogDropped++;
  }
  AppState.Log.LogWriteProblem = WaitingText();
}

void LogEvaluation(const LevelRecord& r) {
  AppendLogLine(r.Time, LevelCsvLine(r));
}

void LogAlarmEvent(int64_t time, int64_t universal, int output, int sent,
                   double level, const Text& message) {
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

// How far a step of the clock told in the log may move a line's time, at
// most, for the choice of what is read.
static const int64_t StepSlack = 2 * 86400;

// A line's time ahead of now by more than this (s) cannot be true.
static const int64_t NowSlack = 60;

// Whether a line's universal time, named by the present clock, is ahead
// of now. Looked at once the lines are so named (NameByPresentClock): a
// step of the clock told after a line may move it back.
static bool AheadOfNow(const LevelRecord& r, const ReadClock& c) {
  return r.Universal > c.Universal + NowSlack;
}

// Whether a line's time can be true as it is read: a line of 8 columns,
// its universal time not known, not more than an hour ahead of now (the
// clock may have been put back since), and within its file's month or a
// day either side of it.
static bool PossibleTime(const LevelRecord& r, int month, const ReadClock& c) {
  if (r.Universal == UniversalUnknown && r.Time > c.Local + 3600 + NowSlack)
    return false;
  return MonthOfTime(r.Time - 86400) <= month &&
         MonthOfTime(r.Time + 86400) >= month;
}

// A step of the clock told in the log: lines from `Before` on (in the
// evaluations read) were named by the clock after it.
struct LogStep {
  size_t Before;
  int64_t Step;
};

// Reads the evaluations of one file (its month as MonthOfTime counts) into
// `*found`, in file order, and the steps of the clock told between them
// into `*steps`.
static FileReading ReadLogFile(const Text& file, int month, const ReadClock& c,
                               int64_t since, std::vector<LevelRecord>* found,
                               std::vector<LogStep>* steps,
                               std::vector<int>* fileOf, int fileIndex) {
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
    int64_t step = 0;
    if (kind == LineEvent && ReadClockStepLine(line, &step))
      steps->push_back(LogStep{found->size(), step});
    if (kind == LineMeasurement && !PossibleTime(r, month, c)) {
      reading.OutOfTime++;
      continue;
    }
    // Too old for certain (a guessed universal time only goes back, a
    // step of the clock told in the log moves it by days at most): not
    // kept even for the moment.
    int64_t universal =
        r.Universal != UniversalUnknown ? r.Universal : r.Time - c.Lead;
    if (kind == LineMeasurement && universal >= since - StepSlack) {
      found->push_back(r);
      fileOf->push_back(fileIndex);
    }
    if (kind == LineForeign && !line.empty()) reading.Foreign++;
  }
  return reading;
}

static Text Lines(int count) {
  return count == 1 ? Text("1 Zeile") : std::to_string(count) + " Zeilen";
}

// The evaluations read, named by the clock as it is now, going back from
// the newest: a step of the clock told in the log moves every line before
// it by the step (what the clock called t before a step it calls t + step
// after it). Lines of 8 columns do not say their universal time: it is
// their local time less the lead of the nearest line of 9 columns after
// them (the lead they were written with, the upgrade came later), or the
// present lead where none follows. Where the local time goes back from
// one such line to the next, the clock was put back between them: the
// lines before are moved back by as much, so that they keep their order in
// the files (the order they were written in) and a run across the change
// keeps its length within one cycle.
static void NameByPresentClock(std::vector<LevelRecord>* found,
                               const std::vector<LogStep>& steps,
                               const ReadClock& c) {
  int64_t stepped = 0;
  int64_t lead = c.Lead;
  int64_t guessed = 0;
  bool any = false;
  int64_t later = 0;
  size_t s = steps.size();
  for (size_t i = found->size(); i-- > 0;) {
    while (s > 0 && steps[s - 1].Before > i) stepped += steps[--s].Step;
    LevelRecord& r = (*found)[i];
    if (r.Universal != UniversalUnknown) {
      lead = LeadOf(r.Time, r.Universal);
      guessed = 0;
      r.Universal += stepped;
    } else {
      r.Universal = r.Time - lead - guessed + stepped;
      if (any && r.Universal > later) {
        guessed += r.Universal - later;
        r.Universal = later;
      }
    }
    r.Time += stepped;
    later = r.Universal;
    any = true;
  }
}

std::vector<LevelRecord> ReadLevelLog() {
  std::vector<LevelRecord> found;
  if (Settings().LogFolder.empty()) return found;
  if (!PlatFolderExists(Settings().LogFolder)) {
    AppState.Log.LogReadProblem =
        "Protokollordner " + Settings().LogFolder + " nicht gefunden.";
    return found;
  }
  ReadClock c = ClockNow();
  int64_t since = c.Universal - (int64_t)LogReadDays * 86400;
  // Every month whose local time, in any zone, can fall in the period:
  // the zone may have changed since the lines were written.
  const int64_t zones = 14 * 3600;
  std::vector<LogStep> steps;
  std::vector<int> fileOf;
  std::vector<Text> files;
  std::vector<FileReading> readings;
  int last = MonthOfTime(c.Universal + zones);
  for (int month = MonthOfTime(since - zones); month <= last; month++) {
    files.push_back(InFolder(LevelLogFileName(month)));
    readings.push_back(ReadLogFile(files.back(), month, c, since, &found,
                                   &steps, &fileOf, (int)files.size() - 1));
  }
  NameByPresentClock(&found, steps, c);
  std::vector<LevelRecord> possible;
  for (size_t i = 0; i < found.size(); i++) {
    if (AheadOfNow(found[i], c))
      readings[fileOf[i]].OutOfTime++;
    else
      possible.push_back(found[i]);
  }
  found.swap(possible);
  Text problems;
  for (size_t f = 0; f < files.size(); f++) {
    const FileReading& reading = readings[f];
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
      problems += Text(problems.empty() ? "" : "; ") + files[f] + ": " + said;
  }
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
    AppState.Log.LogReadProblem = "Protokoll " + problems + ".";
  return found;
}

void NoteLogFolderAtStart() {
  AppState.Log.LogReadWaiting =
      !Settings().LogFolder.empty() && !PlatFolderExists(Settings().LogFolder);
}

void ReadBackLateLog() {
  if (!AppState.Log.LogReadWaiting || !PlatFolderExists(Settings().LogFolder))
    return;
  AppState.Log.LogReadWaiting = false;
  AppState.Log.LogReadProblem.clear();
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
  bool had = AppState.History.HistoryHasExtremes;
  LevelRecord lowest = AppState.History.LowestLevel;
  LevelRecord highest = AppState.History.HighestLevel;
  RestartHistory();
  for (const LevelRecord& r : read) KeepEvaluation(r);
  if (had) {
    TakeExtremes(lowest);
    TakeExtremes(highest);
  }
  for (const LevelRecord& r : since) {
    UncountEvaluation();  // counted when it was recorded
    KeepEvaluation(r);
  }
}
