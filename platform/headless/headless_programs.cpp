// Headless stand-in: programs started in name only, recorded for the
// tests, failing or running on as a test asks.

#include <map>
#include <vector>

#include "platform/headless/headless.h"
#include "platform/headless/headless_internal.h"

namespace {

struct ProgramModel {
  std::vector<HeadlessProgramStart> Starts;
  bool StartsFail = false;
  bool KeepRunning = false;
  PlatProgram LastNumber = NoProgram;
  // Numbers the program holds, and whether that program still runs.
  std::map<PlatProgram, bool> Held;
  int Running = 0;  // started and not yet ended
};

ProgramModel Programs;

}  // namespace

void HeadlessResetPrograms() { Programs = ProgramModel(); }

const std::vector<HeadlessProgramStart>& HeadlessProgramStarts() {
  return Programs.Starts;
}

void HeadlessSetProgramStartsFail(bool fail) { Programs.StartsFail = fail; }
void HeadlessSetProgramsKeepRunning(bool keep) { Programs.KeepRunning = keep; }

void HeadlessEndPrograms() {
  for (auto& held : Programs.Held) held.second = false;
  Programs.Running = 0;
}

int HeadlessRunningPrograms() { return Programs.Running; }

PlatProgram PlatStartProgram(const Text& program,
                             const std::vector<Text>& arguments) {
  bool starts = !Programs.StartsFail && !program.empty() &&
                !HeadlessFileKnownMissing(program);
  Programs.Starts.push_back(HeadlessProgramStart{program, arguments, starts});
  if (!starts) return NoProgram;
  PlatProgram number = ++Programs.LastNumber;
  Programs.Held[number] = Programs.KeepRunning;
  if (Programs.KeepRunning) Programs.Running++;
  return number;
}

bool PlatProgramRunning(PlatProgram program) {
  auto held = Programs.Held.find(program);
  if (held == Programs.Held.end()) return false;
  if (held->second) return true;
  Programs.Held.erase(held);
  return false;
}
