#include "tests/guard/guard_scenario.h"

#include <cmath>
#include <cstdint>
#include <cstdio>

#include "app/startup.h"
#include "app/state.h"
#include "board/connection.h"
#include "control/measurement.h"
#include "platform/headless/headless.h"
#include "tests/support/program_start.h"

namespace guard {

double LevelVolts(int count) {
  return std::round(count * 0.0048828 * 1000) / 1000;
}

bool ExpectedOn(int output, const Truth& truth) {
  double v = LevelVolts(truth.LevelCount);
  if (output == 5) return truth.MaximumReleased && v > 1.18;
  return truth.MinimumReleased && v < 0.21000000000000002;
}

std::string TraceTail(const std::string& trace, int lines) {
  size_t at = trace.size();
  for (int n = 0; n <= lines && at > 0; n++) {
    size_t lf = trace.rfind('\n', at - 1);
    if (lf == std::string::npos) return trace;
    at = lf;
  }
  return at == 0 ? trace : "...\n" + trace.substr(at + 1);
}

namespace {

// The timer of the measurement cycle ticks every second.
const int TickMs = 1000;

std::string Describe(const Truth& t) {
  char s[128];
  snprintf(s, sizeof s, "true count %d = %.3f V, Minimum %s, Maximum %s",
           t.LevelCount, LevelVolts(t.LevelCount),
           t.MinimumReleased ? "released" : "locked",
           t.MaximumReleased ? "released" : "locked");
  return s;
}

// The next cycle's level: mostly next to a threshold (Minimum between
// counts 43 and 44, Maximum between 241 and 242), else anywhere.
int PickLevel(Draws* d) {
  switch (d->Below(5)) {
    case 0:
      return d->Between(41, 45);
    case 1:
      return d->Between(240, 244);
    case 2:
      return d->Between(0, 60);
    case 3:
      return d->Between(200, 300);
    default:
      return d->Between(0, 1023);
  }
}

class Scenario {
 public:
  Scenario(uint64_t seed, Profile profile, const uint8_t* data, size_t size,
           bool tracing)
      : draws_(seed, data, size),
        board_(&draws_, profile),
        healthy_(profile != Profile::Faulty) {
    board_.Tracing = tracing;
  }

  Outcome Run();

 private:
  // The scenario fails at `at` (the trace ends there).
  void Fail(const std::string& what, uint32_t at) {
    if (!out_.Ok) return;
    out_.Ok = false;
    out_.Failure = what;
    failedAt_ = at;
    board_.Note(at, "FAILED: " + what);
  }
  void Fail(const std::string& what) { Fail(what, PlatTickCount()); }
  // After a step of the cycle: the connection made again as the main
  // loop would, and on a healthy board the step's level commands checked.
  void AfterEvaluation(size_t switchesBefore);
  void CheckSwitches(size_t from);
  void KeepConnected();
  void WaitForTick(uint32_t tickStart);

  Draws draws_;
  ModelBoard board_;
  bool healthy_;
  Outcome out_;
  uint32_t failedAt_ = UINT32_MAX;
};

void Scenario::WaitForTick(uint32_t tickStart) {
  int32_t spent = (int32_t)(PlatTickCount() - tickStart);
  if (spent < TickMs) HeadlessAdvanceClock(TickMs - spent);
}

void Scenario::KeepConnected() {
  if (BoardConnected()) return;
  out_.Losses++;
  board_.Note(PlatTickCount(), "program: connection lost");
  if (healthy_) Fail("the connection was lost on a healthy board");
  for (int attempt = 0; attempt < 5 && !BoardConnected(); attempt++) {
    int32_t left = (int32_t)(AppState.NextReconnectTime - PlatTickCount());
    if (left > 0) HeadlessAdvanceClock(left);
    Reconnect();
  }
  // A board that drops every new connection leaves the guard without one:
  // nothing goes out, which is never a wrong decision.
  if (!BoardConnected())
    board_.Note(PlatTickCount(),
                "program: no new connection after five attempts");
}

// The level commands the board received since `from`, against the truth.
void Scenario::CheckSwitches(size_t from) {
  for (size_t i = from; i < board_.Switches.size(); i++) {
    const LevelSwitch& s = board_.Switches[i];
    bool on = ExpectedOn(s.Output, s.When);
    if ((s.On == 1) == on) continue;
    char what[256];
    snprintf(what, sizeof what,
             "WRONG: setport %d.%d at %u ms, %s: setport %d.%d was due",
             s.Output, s.On, s.At, Describe(s.When).c_str(), s.Output,
             on ? 1 : 0);
    Fail(what, s.At);
  }
}

void Scenario::AfterEvaluation(size_t before) {
  out_.Evaluations++;
  CheckSwitches(before);
  if (healthy_) {
    const std::vector<LevelSwitch>& s = board_.Switches;
    if (s.size() != before + 2 || s[before].Output != 5 ||
        s[before + 1].Output != 4)
      Fail(
          "an evaluation on a healthy board did not send setport 5.x and "
          "then setport 4.x");
  }
  KeepConnected();
}

Outcome Scenario::Run() {
  StartFresh();
  HeadlessSetBoardModel(&board_);
  AppState.LcdEnabled = draws_.Percent(20);
  std::string failed = StartLink();
  if (!failed.empty()) Fail(failed);
  AppState.MeasurementEnabled = true;

  int cycles = draws_.Between(2, 4);
  bool byTicks = draws_.Percent(25);
  for (int cycle = 1; cycle <= cycles && out_.Ok; cycle++) {
    Truth t{PickLevel(&draws_), !draws_.Percent(15), !draws_.Percent(15)};
    board_.Now = t;
    AppState.MinimumEnabled = t.MinimumReleased;
    AppState.MaximumEnabled = t.MaximumReleased;
    board_.Note(PlatTickCount(), "cycle " + std::to_string(cycle) + ": " +
                                     Describe(t) +
                                     (byTicks ? " (five ticks)" : ""));
    if (byTicks) {
      AppState.CyclePeriod = 0;
      AppState.CycleCounter = 0;
      for (int tick = 1; tick <= 5 && out_.Ok; tick++) {
        uint32_t start = PlatTickCount();
        size_t before = board_.Switches.size();
        MeasurementCycle();
        if (tick >= 3) {
          AfterEvaluation(before);
        } else {
          CheckSwitches(before);
          KeepConnected();
        }
        WaitForTick(start);
      }
    } else {
      for (int e = 0; e < 3 && out_.Ok; e++) {
        uint32_t start = PlatTickCount();
        size_t before = board_.Switches.size();
        board_.Note(start, "program: evaluation " + std::to_string(e + 1));
        EvaluateLevel();
        AfterEvaluation(before);
        WaitForTick(start);
      }
    }
    // The well moves between cycles while the program waits.
    HeadlessAdvanceClock(draws_.Between(0, 3000));
  }

  out_.Switches = (int)board_.Switches.size();
  out_.Trace = board_.TraceText(failedAt_);

  CloseConnection();
  ReleaseFacilities();
  HeadlessSetBoardModel(nullptr);
  ZeroAppState();
  HeadlessReset();
  return out_;
}

}  // namespace

Outcome RunScenario(uint64_t seed, Profile profile, const uint8_t* data,
                    size_t size) {
  Outcome out = Scenario(seed, profile, data, size, false).Run();
  if (out.Ok) return out;
  // Once more with the trace kept: the scenario runs the same again.
  Outcome traced = Scenario(seed, profile, data, size, true).Run();
  out.Trace = std::move(traced.Trace);
  char head[160];
  snprintf(head, sizeof head, "seed %llu, %s board: ", (unsigned long long)seed,
           ProfileName(profile));
  out.Failure = head + out.Failure;
  if (traced.Ok) out.Failure += "\n(the traced run did not fail again)";
  return out;
}

}  // namespace guard
