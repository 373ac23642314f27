// Benchmarks of the level log over the headless platform (files in
// memory, so the figures are the program's own work, without the disk):
//
//   BM_RestoreHistory/N  the read-back at start: 30 days of log holding N
//                        evaluations (21,600: the 360-s cycle, three
//                        evaluations a cycle) parsed into the history;
//                        N = 0 is the baseline, a log folder without files
//   BM_RestoreFullFiles  the read-back at start with three files of the
//                        bound's size (8 MB each, lines 120 s apart, the
//                        last reaching now): the 1 March, so 30 days reach
//                        into January; peak_growth_kB is how far the
//                        process' peak resident memory rose over the
//                        read-backs above its size before them
//   BM_Evaluation/0      one evaluation recorded without a log (baseline)
//   BM_Evaluation/1      the same with the log: its line formed, the file
//                        end looked at, the line appended
//   BM_WaitingLines/N    one evaluation with the log after N lines of its
//                        month waited (a disk that failed for a week at
//                        the limit, LogPendingLimit): the N and its own
//                        written; N = 0 is the baseline
//
// The counters tell the bytes read and the heap the history's ring takes.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "base/clock_text.h"
#include "base/level_csv.h"
#include "base/state.h"
#include "control/history.h"
#include "control/level_log.h"
#include "platform/headless/headless.h"
#include "tests/support/program_start.h"

namespace {

const char Folder[] = "C:\\Brunnen";

// A fresh program state with an empty history and the log folder set.
void FreshState() {
  PlatReleaseMemory();
  StartState();
  AppState.Settings.LogFolder = Folder;
}

Text InFolderPath(int month) {
  return Text(Folder) + "\\" + LevelLogFileName(month);
}

// N evaluations, 120 s apart, ending now, in their month's files: a well
// that drains and fills over the days.
size_t WriteLog(int n) {
  std::string files[2];
  int64_t now = PlatLocalClock();
  int thisMonth = MonthOfTime(now);
  for (int i = 0; i < n; i++) {
    int64_t t = now - (int64_t)(n - i) * 120;
    double level = 0.1 + (i % 300) * 0.0048828;
    LevelRecord r{
        t,     level,   level, (int8_t)(i % 300 < 20), (int8_t)(i % 300 > 280),
        false, t - 3600};
    std::string& file = files[MonthOfTime(t) == thisMonth ? 1 : 0];
    if (file.empty()) file = LevelCsvHeader;
    file += LevelCsvLine(r);
  }
  size_t bytes = 0;
  if (!files[0].empty())
    HeadlessPutFile(LevelLogPath(now - 30 * 86400), files[0]);
  if (!files[1].empty()) HeadlessPutFile(LevelLogPath(now), files[1]);
  HeadlessAddFolder(Folder);
  bytes = files[0].size() + files[1].size();
  return bytes;
}

void BM_RestoreHistory(benchmark::State& state) {
  HeadlessReset();
  // The 20th of a month: 30 days reach into the month before.
  HeadlessSetLocalTime(20, 12, 2026, 12, 0);
  FreshState();
  size_t bytes = WriteLog((int)state.range(0));
  for (auto _ : state) {
    state.PauseTiming();
    FreshState();
    state.ResumeTiming();
    RestoreHistoryFromLog();
  }
  if (HistorySize() != state.range(0)) state.SkipWithError("not all read back");
  state.counters["evaluations"] = HistorySize();
  state.counters["bytes"] = (double)bytes;
  state.counters["ring_bytes"] = (double)HistoryCapacity * sizeof(LevelRecord);
  PlatReleaseMemory();
}

// A figure of /proc/self/status ("VmRSS", "VmHWM"), kB; 0 where not known.
long StatusKilobytes(const char* name) {
  FILE* status = fopen("/proc/self/status", "r");
  if (!status) return 0;
  char line[256];
  char format[64];
  snprintf(format, sizeof format, "%s: %%ld kB", name);
  long kb = 0;
  while (fgets(line, sizeof line, status))
    if (sscanf(line, format, &kb) == 1) break;
  fclose(status);
  return kb;
}

// Starts the peak (VmHWM) anew at the present resident size.
void ResetPeak() {
  FILE* refs = fopen("/proc/self/clear_refs", "w");
  if (!refs) return;
  fputs("5", refs);
  fclose(refs);
}

void BM_RestoreFullFiles(benchmark::State& state) {
  HeadlessReset();
  // The starts of January, February and March 2027, and now.
  int64_t starts[3];
  for (int m = 0; m < 3; m++) {
    HeadlessSetLocalTime(1, m + 1, 2027, 0, 0);
    starts[m] = PlatLocalClock();
  }
  HeadlessSetLocalTime(1, 3, 2027, 12, 0);
  FreshState();
  int64_t now = PlatLocalClock();
  int64_t ends[3] = {starts[1], starts[2], now};
  size_t bytes = 0;
  size_t largest = 0;
  for (int m = 0; m < 3; m++) {
    // As many lines as fill the bound, spread evenly over the month (up
    // to now): most lie before the 30 days and are read and left out.
    // The lines' mean length, from the first 300 (the levels repeat).
    size_t sample = 0;
    for (int i = 0; i < 300; i++) {
      double level = 0.1 + i * 0.0048828;
      sample +=
          LevelCsvLine(LevelRecord{now, level, level, 0, 0, false, now}).size();
    }
    int64_t count = (LogReadLimit - (int64_t)strlen(LevelCsvHeader)) * 300 /
                    (int64_t)sample;
    std::string file = LevelCsvHeader;
    file.reserve(LogReadLimit + 200);
    for (int64_t i = 0; i < count; i++) {
      int64_t t = starts[m] + (ends[m] - starts[m]) * i / count;
      double level = 0.1 + (i % 300) * 0.0048828;
      file += LevelCsvLine(LevelRecord{t, level, level, (int8_t)(i % 300 < 20),
                                       0, false, t - 3600});
    }
    bytes += file.size();
    if (file.size() > largest) largest = file.size();
    HeadlessPutFile(InFolderPath(MonthOfTime(starts[m])), file);
  }
  HeadlessAddFolder(Folder);
  long resident = StatusKilobytes("VmRSS");
  ResetPeak();
  for (auto _ : state) {
    state.PauseTiming();
    FreshState();
    state.ResumeTiming();
    RestoreHistoryFromLog();
  }
  if (!AppState.Log.LogReadProblem.empty())
    state.SkipWithError(AppState.Log.LogReadProblem.c_str());
  state.counters["evaluations"] = HistorySize();
  state.counters["bytes"] = (double)bytes;
  state.counters["peak_growth_kB"] =
      (double)(StatusKilobytes("VmHWM") - resident);
  state.counters["largest_file"] = (double)largest;
  PlatReleaseMemory();
}

void BM_Evaluation(benchmark::State& state) {
  HeadlessReset();
  FreshState();
  HeadlessAddFolder(Folder);
  if (state.range(0) == 0) AppState.Settings.LogFolder.clear();
  int i = 0;
  for (auto _ : state) {
    double level = 0.1 + (i++ % 300) * 0.0048828;
    RecordEvaluation(level, 0, level, level < 0.21, false);
  }
  const std::string* file = HeadlessFileContent(LevelLogPath(PlatLocalClock()));
  state.counters["file_bytes"] = file ? (double)file->size() : 0;
  PlatReleaseMemory();
}

void BM_WaitingLines(benchmark::State& state) {
  HeadlessReset();
  int waiting = (int)state.range(0);
  size_t appends = 0;
  size_t bytes = 0;
  for (auto _ : state) {
    state.PauseTiming();
    HeadlessReset();
    StartState();
    AppState.Settings.LogFolder = Folder;
    HeadlessAddFolder(Folder);
    int64_t now = PlatLocalClock();
    for (int i = 0; i < waiting; i++) {
      double level = 0.1 + (i % 300) * 0.0048828;
      int64_t t = now - (int64_t)(waiting - i);
      LevelRecord r{t, level, level, 0, 0, false, t - 3600};
      AppState.Log.LogPending.push_back(
          PendingLogLine{LevelLogPath(now), LevelCsvLine(r)});
    }
    size_t before = HeadlessFileWrites().size();
    state.ResumeTiming();
    RecordEvaluation(0.5, 0, 0.5, 0, false);
    state.PauseTiming();
    appends = HeadlessFileWrites().size() - before;
    const std::string* file = HeadlessFileContent(LevelLogPath(now));
    bytes = file ? file->size() : 0;
    if (!AppState.Log.LogPending.empty())
      state.SkipWithError("lines left waiting");
    state.ResumeTiming();
  }
  state.counters["appends"] = (double)appends;
  state.counters["file_bytes"] = (double)bytes;
  PlatReleaseMemory();
}

BENCHMARK(BM_RestoreHistory)->Arg(0)->Arg(21600)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RestoreFullFiles)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Evaluation)->Arg(0)->Arg(1)->Unit(benchmark::kNanosecond);
BENCHMARK(BM_WaitingLines)
    ->Arg(0)
    ->Arg(LogPendingLimit)
    ->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
