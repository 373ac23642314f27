#include "tests/guard/guard_scenario.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "app/command_line.h"
#include "app/startup.h"
#include "base/state.h"
#include "board/commands.h"
#include "board/link.h"
#include "control/alarms.h"
#include "control/history.h"
#include "control/measurement.h"
#include "control/refresh.h"
#include "platform/headless/headless.h"
#include "tests/support/program_start.h"

namespace guard {

bool SensorCheckLeftOff = false;

double LevelVolts(int count) {
  return std::round(count * 0.0048828 * 1000) / 1000;
}

bool ExpectedOn(int output, const Truth& truth) {
  double v = LevelVolts(truth.LevelCount);
  if (output == 5) return truth.MaximumReleased && v > 1.18;
  return truth.MinimumReleased && v < 0.21000000000000002;
}

int LossBound(const Manner& way) {
  int reply = way.Speed + way.Speed / 8 + 5;
  int query = 17 * reply + 2 * (12 * way.LineGap + 400);
  return 40000 + 10 * (query + 3000);
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

// The next cycle's level with a sensor checked: as often the level of the
// cycle before or near it (a rise of more than 0.50 V waits a cycle in the
// program), else as PickLevel below the top of the input; a live-zero
// sensor's from its live zero to the top of its span.
int PickSensorLevel(Draws* d, int before, int liveZero) {
  int level;
  if (before >= 0 && d->Percent(50))
    level = before + d->Between(-30, 30);
  else if (liveZero > 0)
    level = d->Percent(40) ? d->Between(238, 246) : d->Between(liveZero, 901);
  else
    level = PickLevel(d);
  // A level at the top of the input reads as a sensor pinned there.
  int lowest = liveZero, highest = liveZero > 0 ? 901 : TopOfInputCount - 1;
  return level < lowest ? lowest : level > highest ? highest : level;
}

// A live-zero sensor's live zero: 0.88 V of a 4-20 mA sensor over 220 ohms
// (its top at 4.40 V, count 901).
const int LiveZeroCount = 180;

class Scenario {
 public:
  Scenario(uint64_t seed, Profile profile, const uint8_t* data, size_t size,
           bool tracing)
      : draws_(seed, data, size),
        boardProfile_(BoardProfile(profile, &draws_)),
        board_(&draws_, boardProfile_),
        profile_(profile),
        healthy_(IsHealthy(boardProfile_)),
        lossy_(boardProfile_ >= Profile::PowerCuts),
        sensing_(IsSensorProfile(profile)) {
    board_.Tracing = tracing || getenv("KVX_GUARD_TRACE") != nullptr;
  }

  Outcome Run();

 private:
  // A fault at `at`; the trace ends at the worst one's.
  void Fail(Fault kind, const std::string& what, uint32_t at) {
    if (out_.Found[kind]) return;
    out_.Found[kind] = true;
    out_.What[kind] = what;
    board_.Note(at, std::string("FAILED (") + FaultName(kind) + "): " + what);
    if (out_.Ok || kind < failedKind_) {
      out_.Failure = what;
      failedAt_ = at;
      failedKind_ = kind;
    }
    out_.Ok = false;
  }
  void Fail(Fault kind, const std::string& what) {
    Fail(kind, what, PlatTickCount());
  }
  bool Going() const {
    return !out_.Found[WrongSwitch] && !out_.Found[FailedReadingDecided];
  }
  // One pass of the main loop begins: the watch's events, then its check.
  void BeginPass();
  void EndPass();
  void CheckWatch();
  // After a step of the cycle: the connection made again as the main
  // loop would, and on a healthy board the step's level commands checked.
  void AfterEvaluation(size_t switchesBefore, bool mustDecide);
  void CheckSwitches(size_t from);
  // The sensor profiles.
  void RunSensorCycles();
  void SetUpSensorCheck();
  SensorCondition DrawCycleSensor(int cycle);
  void CheckSensorSwitch(const LevelSwitch& s, size_t index);
  bool FailureKnowable(int cycle) const;
  bool RiseKeepsProtection(const LevelSwitch& s, size_t index) const;
  void SensorCycleEnded(int cycle);
  void CheckUntilMadeGood();
  void KeepConnected();
  void WaitForTick(uint32_t tickStart);
  void RunCycleByTicks();
  void RunCycleByEvaluations();
  // The scenarios of outputs lost on the board: on the main loop's rhythm.
  void RunCycles();
  void RunOnTheLoop();
  void LoopPass();
  void QueryOrReconnect();
  void CheckLosses();
  // The guard may not be held to a loss's bound before `at`.
  void RestartLossClocks(uint32_t at) {
    for (int n = 4; n <= 5; n++)
      if ((int32_t)(at - lossClock_[n]) > 0) lossClock_[n] = at;
  }

  Draws draws_;
  Profile boardProfile_;
  ModelBoard board_;
  Profile profile_;
  bool healthy_;
  bool lossy_;
  bool sensing_;
  // The sensor profiles: the sensor, the action while it has failed
  // (schutz, else halten), its live zero (counts, 0: none), its fault in
  // the scenario and the cycles that fault has; each cycle's sensor and
  // truth (by ModelSensor::Cycle, from 1).
  ModelSensor sensor_;
  bool protect_ = true;
  int liveZero_ = 0;
  SensorFault fault_ = SensorFault::None;
  int faultFrom_ = 0, faultUntil_ = 0;
  struct SensorCycle {
    SensorCondition Sensor;
    Truth When;
  };
  std::vector<SensorCycle> cycles_;
  bool releaseHeldAtPass_ = false, failureOpenAtPass_ = false;
  int releasesCycle_ = 0;  // the sensor's cycle the releases are of
  Outcome out_;
  uint32_t lossClock_[6] = {};
  bool lossOpen_[6] = {};
  uint32_t lossSince_[6] = {};
  int doubtedBefore_ = 0;
  uint32_t watchedDecidedAt_ = 0;
  bool watchedBlind_ = false;
  uint32_t failedAt_ = UINT32_MAX;
  Fault failedKind_ = FaultKinds;
  uint32_t releasedAt_ = 0;
  uint32_t passStart_ = 0, previousPassStart_ = 0;
  bool passBefore_ = false;
  int longestPass_ = 0;
  bool blindNow_ = false;  // the present stretch went past the bound
};

void Scenario::WaitForTick(uint32_t tickStart) {
  int32_t spent = (int32_t)(PlatTickCount() - tickStart);
  if (spent < TickMs) HeadlessAdvanceClock(TickMs - spent);
}

void Scenario::KeepConnected() {
  if (BoardConnected()) return;
  out_.Losses++;
  board_.Note(PlatTickCount(), "program: connection lost");
  if (healthy_)
    Fail(HealthyUndecided, "the connection was lost on a healthy board");
  for (int attempt = 0; attempt < 5 && !BoardConnected(); attempt++) {
    int32_t left = (int32_t)(AppState.Link.NextReconnectTime - PlatTickCount());
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
    if (sensing_) {
      CheckSensorSwitch(s, i);
      continue;
    }
    bool on = ExpectedOn(s.Output, s.When);
    if ((s.On == 1) == on) continue;
    char what[256];
    snprintf(what, sizeof what,
             "WRONG: setport %d.%d at %u ms, %s: setport %d.%d was due",
             s.Output, s.On, s.At, Describe(s.When).c_str(), s.Output,
             on ? 1 : 0);
    Fail(WrongSwitch, what, s.At);
  }
}

void Scenario::AfterEvaluation(size_t before, bool mustDecide) {
  out_.Evaluations++;
  CheckSwitches(before);
  if (healthy_ && mustDecide) {
    const std::vector<LevelSwitch>& s = board_.Switches;
    if (s.size() != before + 2 || s[before].Output != 5 ||
        s[before + 1].Output != 4)
      Fail(HealthyUndecided,
           "an evaluation on a healthy board did not send setport 5.x and "
           "then setport 4.x");
  }
  KeepConnected();
}

// The watch, at the start of a pass (after the program's own watch of the
// pass): output 4's last decision is the last "setport 4.x" answered "OK"
// and not belied by the status after it, or the release of the
// measurement. Once a whole pass began past the bound
// (and a tick, and the longest pass: the program may take a query's time
// to note a decision), the blindness must be announced by now; on a
// healthy board, once the program had a whole pass after a decision, it
// must no longer be.
void Scenario::CheckWatch() {
  uint32_t now = PlatTickCount();
  uint32_t decided = releasedAt_;
  bool anyDecision = false;
  for (const LevelSwitch& s : board_.Switches)
    if (s.Output == 4 && s.Decides(now) &&
        (int32_t)(s.AnsweredAt - decided) >= 0) {
      decided = s.AnsweredAt;
      anyDecision = true;
    }
  int limit = GuardBlindLimit();
  int32_t since = (int32_t)(now - decided);
  if (since > limit && !blindNow_) {
    blindNow_ = true;
    out_.Blind++;
    board_.Note(now, "oracle: output 4 undecided past the bound of " +
                         std::to_string(limit) + " ms");
  }
  if (since <= limit) blindNow_ = false;
  if (!passBefore_) return;
  int32_t before = (int32_t)(previousPassStart_ - decided);
  if (before > limit + TickMs + longestPass_ &&
      !AppState.Alarms.GuardBlindAnnounced) {
    char what[256];
    snprintf(what, sizeof what,
             "output 4 undecided since %u ms (%d ms, past the bound of %d ms "
             "and a pass) and the guard's blindness not announced",
             decided, since, limit);
    Fail(BlindUnannounced, what, now);
  }
  // Only a healthy board's status surely reaches the program in step: on
  // a faulty one the program may not read the status that bears out a
  // decision, and then rightly counts it as none.
  if (healthy_ && anyDecision && AppState.Alarms.GuardBlindAnnounced &&
      (int32_t)(previousPassStart_ - decided) > 0 &&
      since < limit - TickMs - longestPass_) {
    char what[256];
    snprintf(what, sizeof what,
             "output 4 decided at %u ms (%d ms ago, within the bound of %d "
             "ms) and the guard's blindness still announced",
             decided, since, limit);
    Fail(BlindUnannounced, what, now);
  }
}

void Scenario::BeginPass() {
  passStart_ = PlatTickCount();
  if (sensing_) {
    releaseHeldAtPass_ = AppState.Sensor.Run.ReleaseHeld;
    failureOpenAtPass_ = AppState.Sensor.Run.FailureOpen;
  }
  board_.Advance(passStart_);
  WatchAlarms();
  if (board_.Tracing) {
    // The program's own watch, as it stands, in the trace.
    if (AppState.Alarms.GuardDecidedAt != watchedDecidedAt_)
      board_.Note(passStart_,
                  "program: output 4 decided at " +
                      std::to_string(AppState.Alarms.GuardDecidedAt) +
                      " ms, for its watch");
    if (AppState.Alarms.GuardBlindAnnounced != watchedBlind_)
      board_.Note(passStart_, AppState.Alarms.GuardBlindAnnounced
                                  ? "program: blindness announced"
                                  : "program: blindness over");
    watchedDecidedAt_ = AppState.Alarms.GuardDecidedAt;
    watchedBlind_ = AppState.Alarms.GuardBlindAnnounced;
  }
  CheckWatch();
  if (lossy_) CheckLosses();
}

// Output 4 and 5 on the board against the guard's decisions.
void Scenario::CheckLosses() {
  uint32_t now = PlatTickCount();
  if (!board_.Steady()) RestartLossClocks(now);
  RestartLossClocks(board_.SteadySince());
  if (AppState.Alarms.GuardBlindAnnounced ||
      AppState.Alarms.AlarmBlindAnnounced)
    RestartLossClocks(now);
  // A failed sensor, told as such, decides nothing on its reading: no
  // output 5, and with halten no output 4, that a fresh measurement could
  // make good again.
  if (sensing_ && AppState.Sensor.Run.FailureOpen)
    for (int n = protect_ ? 5 : 4; n <= 5; n++)
      if ((int32_t)(now - lossClock_[n]) > 0) lossClock_[n] = now;
  for (int n = 4; n <= 5; n++) {
    bool released =
        n == 4 ? board_.Now.MinimumReleased : board_.Now.MaximumReleased;
    if (!board_.Differs(n)) {
      if (lossOpen_[n]) {
        // Made good: how much of its bound it took.
        uint32_t from = lossClock_[n];
        if ((int32_t)(lossSince_[n] - from) > 0) from = lossSince_[n];
        int took = 100 * (int32_t)(now - from) / LossBound(board_.Way);
        if (took > out_.LongestLoss) out_.LongestLoss = took;
        board_.Note(now, "oracle: output " + std::to_string(n) +
                             " agrees again, " + std::to_string(took) +
                             "% of the bound after the board came back");
      }
      lossOpen_[n] = false;
      continue;
    }
    // Two losses between two passes are one for the passes: the last
    // one's start counts.
    lossSince_[n] = board_.DiffersSince(n);
    if (!lossOpen_[n]) {
      lossOpen_[n] = true;
      out_.Lost++;
      board_.Note(board_.DiffersSince(n),
                  "oracle: output " + std::to_string(n) +
                      " differs from the guard's decision");
    }
    if (!released) lossClock_[n] = now;
    uint32_t from = lossClock_[n];
    if ((int32_t)(board_.DiffersSince(n) - from) > 0)
      from = board_.DiffersSince(n);
    // Once the guard has told the operator that the board shows the output
    // otherwise, making it good may take as long as its watch on itself
    // allows (a board whose replies keep failing their proof); untold, the
    // board's own bound holds.
    int bound = LossBound(board_.Way);
    if (AppState.Guard.DeviationShown[n] && GuardBlindLimit() > bound)
      bound = GuardBlindLimit();
    int32_t since = (int32_t)(now - from);
    if (since > bound) {
      char what[256];
      snprintf(what, sizeof what,
               "output %d on the board differs from the guard's decision "
               "since %u ms, %d ms past the board's coming back, beyond the "
               "bound of %d ms, %s",
               n, board_.DiffersSince(n), since, bound,
               AppState.Guard.DeviationShown[n]
                   ? "told, but not made good within the guard's own watch"
                   : "and the guard announced nothing");
      Fail(LossUncorrected, what, now);
    }
  }
}

void Scenario::EndPass() {
  int took = (int)(PlatTickCount() - passStart_);
  if (took > longestPass_) longestPass_ = took;
  previousPassStart_ = passStart_;
  passBefore_ = true;
}

// A cycle as the timer runs it: the idle ticks of the period, then the
// sensor's five (evaluations at the last three).
void Scenario::RunCycleByTicks() {
  AppState.Measurement.CycleCounter = 0;
  int ticks = AppState.Measurement.CyclePeriod + 5;
  for (int tick = 1; tick <= ticks && Going(); tick++) {
    BeginPass();
    size_t before = board_.Switches.size();
    bool evaluates = AppState.Measurement.CycleCounter + 1 >
                     AppState.Measurement.CyclePeriod + 2;
    MeasurementCycle();
    if (evaluates) {
      AfterEvaluation(before, true);
    } else {
      CheckSwitches(before);
      KeepConnected();
    }
    EndPass();
    WaitForTick(passStart_);
  }
}

// Three evaluations a tick apart on a warm sensor, then the rest of the
// period idle.
void Scenario::RunCycleByEvaluations() {
  for (int e = 0; e < 3 && Going(); e++) {
    BeginPass();
    size_t before = board_.Switches.size();
    bool mustDecide = board_.QueriesThisConnection > 0;
    board_.Note(passStart_, "program: evaluation " + std::to_string(e + 1));
    // The sensor as the cycle's first ticks leave it: switched on by the
    // guard, shown on by the board, warmed up.
    board_.SetRelay(3, true);
    SensorAsWarmedUp();
    EvaluateLevel();
    AfterEvaluation(before, mustDecide);
    EndPass();
    WaitForTick(passStart_);
  }
  for (int tick = 0; tick < AppState.Measurement.CyclePeriod + 2 && Going();
       tick++) {
    BeginPass();
    EndPass();
    HeadlessAdvanceClock(TickMs);
  }
}

// The main loop's automatic query a second after the one before, or while
// the connection is lost its attempt to reconnect every ReconnectInterval
// (as app/main_loop.cpp's RefreshOrReconnect).
void Scenario::QueryOrReconnect() {
  uint32_t now = PlatTickCount();
  if (!BoardConnected()) {
    RestartLossClocks(now);
    ForgetSensorPower();
    if ((int32_t)(AppState.Link.NextReconnectTime - now) > 0 || !Reconnect())
      return;
    board_.Note(PlatTickCount(), "program: connected again");
    RestartLossClocks(PlatTickCount());
  } else if ((int32_t)(now - AppState.Refresh.NextRefreshTime) < 0) {
    return;
  }
  RefreshBoard();
  AppState.Refresh.NextRefreshTime =
      PlatTickCount() + (uint32_t)AppState.Refresh.RefreshInterval;
}

// One pass on the measurement timer's tick, as the main loop runs it.
void Scenario::LoopPass() {
  BeginPass();
  size_t before = board_.Switches.size();
  bool connected = BoardConnected();
  int records = HistorySize();
  QueryOrReconnect();
  MeasurementCycle();
  if (connected && !BoardConnected()) {
    out_.Losses++;
    board_.Note(PlatTickCount(), "program: connection lost");
    if (sensing_ && healthy_)
      Fail(HealthyUndecided, "the connection was lost on a healthy board");
  }
  if (HistorySize() > records) out_.Evaluations += HistorySize() - records;
  if (sensing_ && board_.Tracing && AppState.Sensor.Run.Readings > 0) {
    // The cycle's readings the program has gathered so far.
    std::string r = "program: the cycle's readings";
    for (int i = 0; i < AppState.Sensor.Run.Readings; i++)
      r += " " + std::to_string(AppState.Sensor.Run.Reading[i]).substr(0, 5);
    board_.Note(PlatTickCount(), r);
  }
  if (sensing_ && board_.Tracing && HistorySize() > records) {
    // The sensor's check as the program has it after the evaluation.
    const SensorRunState& run = AppState.Sensor.Run;
    char what[160];
    snprintf(what, sizeof what,
             "program: sensor %d failed and %d good cycles in a row, no "
             "response %d%s%s",
             run.FailedCycles, run.GoodCycles, run.NoResponseCycles,
             run.FailureOpen ? ", failure open" : "",
             run.SuspicionOpen ? ", suspicion open" : "");
    board_.Note(PlatTickCount(), what);
  }
  CheckSwitches(before);
  // The operator's releases as they are in the well's next cycle.
  if (sensing_ && sensor_.Cycle() != releasesCycle_) {
    releasesCycle_ = sensor_.Cycle();
    AppState.Switching.MinimumEnabled = board_.Now.MinimumReleased;
    AppState.Switching.MaximumEnabled = board_.Now.MaximumReleased;
  }
  // An evaluation in doubt: the guard could not read the well.
  if (AppState.Measurement.DoubtedEvaluations > 0 &&
      AppState.Measurement.DoubtedEvaluations != doubtedBefore_)
    RestartLossClocks(PlatTickCount());
  doubtedBefore_ = AppState.Measurement.DoubtedEvaluations;
  EndPass();
  WaitForTick(passStart_);
}

// A few cycles of the measurement with the well's level changing between
// them (between two passes, so never within an evaluation), the board's
// troubles coming as drawn; then the troubles stop and the passes go on
// until the board's outputs agree with the guard again or the bound of a
// loss is past.
void Scenario::RunOnTheLoop() {
  // The alarm command's runs tell which events the guard announced.
  AppState.Settings.AlarmCommand = "alarm.exe";
  AppState.Refresh.RefreshInterval = 1000;
  AppState.Refresh.NextRefreshTime = PlatTickCount() + 1000;
  int cycles = draws_.Between(1, 2);
  for (int cycle = 1; cycle <= cycles && Going(); cycle++) {
    Truth t{PickLevel(&draws_), !draws_.Percent(15), !draws_.Percent(15)};
    board_.Now = t;
    AppState.Switching.MinimumEnabled = t.MinimumReleased;
    AppState.Switching.MaximumEnabled = t.MaximumReleased;
    board_.Note(PlatTickCount(),
                "period " + std::to_string(cycle) + ": " + Describe(t) +
                    ", cycle period " +
                    std::to_string(AppState.Measurement.CyclePeriod) + " s");
    // A cycle's ticks and a few more: on a slow board each pass takes
    // the time of its queries.
    int passes = AppState.Measurement.CyclePeriod + 5 + draws_.Between(0, 3);
    for (int pass = 0; pass < passes && Going(); pass++) LoopPass();
  }
  CheckUntilMadeGood();
}

// The board's troubles stop; the passes go on until its outputs agree with
// the guard again or the bound of a loss is past.
void Scenario::CheckUntilMadeGood() {
  board_.Calm = true;
  board_.Note(PlatTickCount(), "oracle: the board's troubles stop");
  // Long enough to see a loss made good at the slowest bound, and the
  // watch's own bound.
  uint32_t last = PlatTickCount() + (uint32_t)(LossBound(board_.Way) + 5000);
  uint32_t least = PlatTickCount() + 20000;
  while (Going() && !out_.Found[LossUncorrected] &&
         (int32_t)(PlatTickCount() - last) < 0) {
    bool open = board_.Differs(4) || board_.Differs(5) || !board_.Steady();
    if (!open && (int32_t)(PlatTickCount() - least) >= 0) break;
    LoopPass();
  }
}

// A few cycles, each by ticks or by its evaluations.
void Scenario::RunCycles() {
  // The slow boards' scenarios are shorter: each of their queries takes
  // up to half a minute, and two or three cycles show the watch's bound; a
  // healthy slow board shows its decisions in one or two.
  bool slow = profile_ >= Profile::BusyBoard;
  int cycles = !slow      ? draws_.Between(2, 4)
               : healthy_ ? draws_.Between(1, 2)
                          : draws_.Between(1, 3);
  bool byTicks = draws_.Percent(slow ? 40 : 25);
  AppState.Measurement.CyclePeriod =
      draws_.Percent(30) ? 0 : draws_.Between(10, 90);
  for (int cycle = 1; cycle <= cycles && Going(); cycle++) {
    Truth t{PickLevel(&draws_), !draws_.Percent(15), !draws_.Percent(15)};
    board_.Now = t;
    AppState.Switching.MinimumEnabled = t.MinimumReleased;
    AppState.Switching.MaximumEnabled = t.MaximumReleased;
    board_.Note(PlatTickCount(),
                "cycle " + std::to_string(cycle) + ": " + Describe(t) +
                    ", period " +
                    std::to_string(AppState.Measurement.CyclePeriod) + " s" +
                    (byTicks ? " (by ticks)" : ""));
    if (byTicks)
      RunCycleByTicks();
    else
      RunCycleByEvaluations();
    // The well moves between cycles while the program waits.
    HeadlessAdvanceClock(draws_.Between(0, 3000));
  }
}

// --- The sensor profiles ---------------------------------------------------

// The scenario's sensor, its fault and the program's check set as its
// start-up sets them from the command line.
void Scenario::SetUpSensorCheck() {
  static const SensorFault Faults[] = {
      SensorFault::None,      SensorFault::PinnedTop, SensorFault::PinnedTop,
      SensorFault::PinnedLow, SensorFault::PinnedLow, SensorFault::CableBreak,
      SensorFault::Spike,     SensorFault::Spike,     SensorFault::SlowStart,
      SensorFault::SlowStart, SensorFault::Flat};
  fault_ = Faults[draws_.Below(sizeof Faults / sizeof Faults[0])];
  liveZero_ = fault_ == SensorFault::CableBreak || draws_.Percent(20)
                  ? LiveZeroCount
                  : 0;
  protect_ = draws_.Percent(50);
  std::vector<Text> arguments = {"/sensor", protect_ ? "schutz" : "halten"};
  if (liveZero_ > 0) {
    arguments.push_back("/sensor-bereich");
    arguments.push_back("0,88:4,40");
  }
  ProgramOptions options;
  std::vector<Text> rest;
  Text problem;
  if (!ReadOptions(arguments, &options, &rest, &problem)) {
    Fail(HealthyUndecided, "the sensor's options were refused: " + problem);
    return;
  }
  if (!SensorCheckLeftOff) AppState.Sensor.Settings = options.Sensor;
  board_.Sensor = &sensor_;
}

// The sensor of cycle `cycle` (from 1): a failure lasts from faultFrom_ to
// faultUntil_, a spike or a slow start comes in some cycles.
SensorCondition Scenario::DrawCycleSensor(int cycle) {
  SensorFault fault = SensorFault::None;
  switch (fault_) {
    case SensorFault::PinnedTop:
    case SensorFault::PinnedLow:
    case SensorFault::CableBreak:
      if (cycle >= faultFrom_ && cycle <= faultUntil_) fault = fault_;
      break;
    case SensorFault::Spike:
    case SensorFault::SlowStart:
      if (draws_.Percent(60)) fault = fault_;
      break;
    default:
      fault = fault_;
  }
  return DrawSensor(&draws_, liveZero_, fault);
}

// The cycles on the main loop's rhythm; a cycle's well and sensor take
// over when the board takes the "setport 3.0" that ends the cycle before.
void Scenario::RunSensorCycles() {
  AppState.Settings.AlarmCommand = "alarm.exe";
  AppState.Refresh.RefreshInterval = 1000;
  AppState.Refresh.NextRefreshTime = PlatTickCount() + 1000;
  AppState.Measurement.CyclePeriod =
      draws_.Percent(30) ? 0 : draws_.Between(10, 60);
  int cycles = AppState.Measurement.CyclePeriod == 0 ? draws_.Between(6, 16)
                                                     : draws_.Between(3, 6);
  faultFrom_ = draws_.Between(1, 3);
  faultUntil_ = draws_.Percent(50) ? cycles : faultFrom_ + draws_.Between(1, 3);
  if (cycles < faultFrom_ + 3) cycles = faultFrom_ + 3;
  cycles_.resize(1);
  int before = -1;
  // Cycle n's truth and sensor, queued for the end of cycle n - 1.
  auto queue = [&](int n) {
    Truth t{fault_ == SensorFault::Flat && before >= 0
                ? before
                : PickSensorLevel(&draws_, before, liveZero_),
            !draws_.Percent(15), !draws_.Percent(15)};
    before = t.LevelCount;
    SensorCondition c = DrawCycleSensor(n);
    cycles_.push_back({c, t});
    board_.NextCycle(t, c);
  };
  queue(1);
  sensor_.CycleEnds();
  board_.Now = cycles_[1].When;
  char head[160];
  snprintf(
      head, sizeof head, "sensor %s, %s, action %s, %d cycles, period %d s%s",
      SensorFaultName(fault_), liveZero_ ? "live zero 0.88 V" : "0..5 V",
      protect_ ? "schutz" : "halten", cycles, AppState.Measurement.CyclePeriod,
      fault_ == SensorFault::PinnedTop || fault_ == SensorFault::PinnedLow ||
              fault_ == SensorFault::CableBreak
          ? (", failed in cycles " + std::to_string(faultFrom_) + ".." +
             std::to_string(faultUntil_))
                .c_str()
          : "");
  board_.Note(PlatTickCount(), head);
  board_.Note(PlatTickCount(),
              "cycle 1: " + sensor_.Describe() + ", " + Describe(board_.Now));
  if (cycles > 1) queue(2);
  AppState.Switching.MinimumEnabled = board_.Now.MinimumReleased;
  AppState.Switching.MaximumEnabled = board_.Now.MaximumReleased;
  releasesCycle_ = 1;
  int seen = 1;
  // Every cycle's ticks, and more: a board that cannot take the end of a
  // cycle leaves its sensor to the next, and one without power takes no
  // connection for up to 30 s.
  int passes = (cycles + 1) * (AppState.Measurement.CyclePeriod + 5) + 120;
  for (int pass = 0; pass < passes && Going() && seen <= cycles; pass++) {
    LoopPass();
    if (sensor_.Cycle() == seen) continue;
    // The board took the end of the cycle (LoopPass gave the program the
    // next one's releases).
    SensorCycleEnded(seen);
    seen = sensor_.Cycle();
    board_.Note(PlatTickCount(), "cycle " + std::to_string(seen) + ": " +
                                     sensor_.Describe() + ", " +
                                     Describe(board_.Now));
    if (seen < cycles)
      queue(seen + 1);
    else if (seen == cycles) {
      // The last cycle's sensor stays.
      cycles_.push_back(cycles_.back());
      board_.NextCycle(cycles_.back().When, cycles_.back().Sensor);
    }
  }
  if (lossy_ && Going()) CheckUntilMadeGood();
}

// Whether the program can know that cycle `cycle`'s sensor has failed: at
// once when it reads at the top of the input or below a live zero; when it
// does not respond to its power, on a healthy board, once the program has
// decided on an earlier cycle of the same failure (its first sight of it).
bool Scenario::FailureKnowable(int cycle) const {
  const SensorCondition& c = cycles_[(size_t)cycle].Sensor;
  // 0.62 V lies below a live zero of 0.88 V by more than 2.5 % of the
  // span.
  if (c.Fault == SensorFault::PinnedTop || c.Fault == SensorFault::CableBreak ||
      (c.Fault == SensorFault::PinnedLow && c.LiveZero > 0))
    return true;
  // No response is seen against the reading without power, which on a
  // faulty board the program may not have had proven: there no knowing.
  if (c.Fault != SensorFault::PinnedLow || !healthy_) return false;
  for (int j = cycle - 1;
       j >= 1 && cycles_[(size_t)j].Sensor.Fault == SensorFault::PinnedLow; j--)
    for (const LevelSwitch& s : board_.Switches)
      if (s.Cycle == j && s.Answered) return true;
  return false;
}

// "setport 4.1" keeps the protection on in a cycle whose level rose by
// more than 0.50 V above that of a cycle since the last "setport 4.1":
// the program waits a cycle to confirm such a rise.
bool Scenario::RiseKeepsProtection(const LevelSwitch& s, size_t index) const {
  int since = -1;
  for (size_t i = 0; i < index; i++)
    if (board_.Switches[i].Output == 4)
      since = board_.Switches[i].On == 1 ? board_.Switches[i].Cycle : -1;
  if (since < 1) return false;
  double now = LevelVolts(s.When.LevelCount);
  for (int j = since; j < s.Cycle; j++)
    if (!cycles_[(size_t)j].Sensor.Failed() &&
        now - LevelVolts(cycles_[(size_t)j].When.LevelCount) > 0.50)
      return true;
  return false;
}

void Scenario::CheckSensorSwitch(const LevelSwitch& s, size_t index) {
  const SensorCondition& c = cycles_[(size_t)s.Cycle].Sensor;
  bool protect = protect_ && s.Output == 4 && s.On == 1;
  char what[320];
  if (c.Failed() && FailureKnowable(s.Cycle)) {
    if (protect) return;
    snprintf(what, sizeof what,
             "FAILED READING DECIDED: setport %d.%d at %u ms in cycle %d, "
             "whose sensor is %s (known to the program), action %s: %s",
             s.Output, s.On, s.At, s.Cycle, SensorFaultName(c.Fault),
             protect_ ? "schutz" : "halten",
             protect_ ? "only setport 4.1 may go out"
                      : "no level command may go out");
    Fail(FailedReadingDecided, what, s.At);
    return;
  }
  // A failure the program cannot know yet is judged against what the
  // sensor reads, or may have the fail-safe of schutz.
  if (c.Failed() && protect) return;
  Truth judged = s.When;
  if (c.Failed()) judged.LevelCount = PinnedLowCount;
  bool on = ExpectedOn(s.Output, judged);
  if ((s.On == 1) == on) return;
  // Output 4 held on after a failure until the program's sensor-ok: the
  // last "setport 4.1" repeated.
  int last4 = -1;
  for (size_t i = 0; i < index; i++)
    if (board_.Switches[i].Output == 4) last4 = board_.Switches[i].On;
  bool held = s.Output == 4 && s.On == 1 && last4 == 1 &&
              (releaseHeldAtPass_ || AppState.Sensor.Run.ReleaseHeld);
  // With schutz the fail-safe goes on while the program's failure is open
  // (until its sensor-ok), whatever the sensor does meanwhile.
  bool failSafe =
      protect && (failureOpenAtPass_ || AppState.Sensor.Run.FailureOpen);
  if (held || failSafe || (protect && RiseKeepsProtection(s, index))) return;
  snprintf(what, sizeof what,
           "WRONG: setport %d.%d at %u ms in cycle %d (sensor %s), %s%s: "
           "setport %d.%d was due",
           s.Output, s.On, s.At, s.Cycle, SensorFaultName(c.Fault),
           Describe(s.When).c_str(),
           c.Failed() ? ", the sensor reads 0.620 V" : "", s.Output,
           on ? 1 : 0);
  Fail(WrongSwitch, what, s.At);
}

// The end of cycle `cycle` on a healthy board: schutz has put output 4 on
// in the second cycle in a row known failed, a working sensor's cycle at a
// level that did not rise has decided both outputs, and four working
// cycles after a failure have ended it.
void Scenario::SensorCycleEnded(int cycle) {
  std::vector<const LevelSwitch*> mine;
  for (const LevelSwitch& s : board_.Switches)
    if (s.Cycle == cycle) mine.push_back(&s);
  auto failed = [this](int n) {
    return n >= 1 && cycles_[(size_t)n].Sensor.Failed() && FailureKnowable(n);
  };
  bool on4 = false;
  for (const LevelSwitch* s : mine) on4 = on4 || (s->Output == 4 && s->On == 1);
  if (failed(cycle) && on4) out_.FailSafe++;
  if (!healthy_) return;
  uint32_t now = PlatTickCount();
  std::string at = " (cycle " + std::to_string(cycle) + ")";
  if (protect_ && failed(cycle) && failed(cycle - 1) && !on4 &&
      cycles_[(size_t)cycle].When.MinimumReleased)
    Fail(HealthyUndecided,
         "the action schutz did not put output 4 on in the second cycle in "
         "a row whose sensor had failed" +
             at,
         now);
  // A working sensor in this cycle and the one before, at a level that
  // releases no protection against the level last decided on (a rise of
  // more than 0.50 V from below the Minimum threshold to above it), or
  // confirms such a rise of the cycle before.
  auto steady = [this](int n) {
    if (n < 2) return false;
    auto working = [this](int m) {
      SensorFault x = cycles_[(size_t)m].Sensor.Fault;
      return x == SensorFault::None || x == SensorFault::Flat;
    };
    if (!working(n) || !working(n - 1)) return false;
    int decided = 0;
    for (const LevelSwitch& s : board_.Switches)
      if (s.Output == 4 && s.Cycle < n &&
          !cycles_[(size_t)s.Cycle].Sensor.Failed())
        decided = s.Cycle;
    if (decided == 0) return false;
    double last = LevelVolts(cycles_[(size_t)decided].When.LevelCount);
    auto releases = [last](double v) {
      return last < MinimumThreshold && !(v < MinimumThreshold) &&
             v - last > 0.50;
    };
    double now = LevelVolts(cycles_[(size_t)n].When.LevelCount);
    double before = LevelVolts(cycles_[(size_t)n - 1].When.LevelCount);
    return !releases(now) || (decided < n - 1 && releases(before) &&
                              std::fabs(now - before) <= 0.50);
  };
  bool anyFailure = false;
  for (int n = 1; n < cycle; n++)
    anyFailure = anyFailure || cycles_[(size_t)n].Sensor.Failed();
  if (steady(cycle) && !anyFailure &&
      (mine.size() < 2 || mine[mine.size() - 2]->Output != 5 ||
       mine.back()->Output != 4))
    Fail(HealthyUndecided,
         "a cycle of a working sensor at a steady level did not end with "
         "setport 5.x and then setport 4.x" +
             at,
         now);
  if (anyFailure && steady(cycle) && steady(cycle - 1) && steady(cycle - 2) &&
      AppState.Sensor.Run.FailureOpen)
    Fail(HealthyUndecided,
         "four cycles of a working sensor after its failure and no "
         "sensor-ok" +
             at,
         now);
}

Outcome Scenario::Run() {
  StartFresh();
  HeadlessSetBoardModel(&board_);
  AppState.Settings.LcdEnabled = draws_.Percent(20);
  if (sensing_) SetUpSensorCheck();
  std::string failed = StartLink();
  if (!failed.empty()) Fail(HealthyUndecided, failed);
  uint32_t begin = PlatTickCount();

  AppState.Switching.MeasurementEnabled = true;
  releasedAt_ = PlatTickCount();
  AppState.Alarms.GuardDecidedAt = releasedAt_;
  if (sensing_) {
    RunSensorCycles();
  } else if (lossy_) {
    AppState.Measurement.CyclePeriod =
        draws_.Percent(30) ? 0 : draws_.Between(10, 90);
    RunOnTheLoop();
  } else {
    RunCycles();
  }
  if (Going()) {
    BeginPass();
    EndPass();
  }

  out_.Switches = (int)board_.Switches.size();
  for (const HeadlessProgramStart& run : HeadlessProgramStarts())
    if (!run.Arguments.empty() && run.Arguments[0] == "ausgang-abweichend")
      out_.Deviations++;
  out_.PowerCuts = board_.PowerCuts;
  out_.OthersSwitched = board_.OthersSwitched;
  out_.Refused = board_.Refused;
  if (sensing_) {
    for (size_t c = 1; c < cycles_.size(); c++)
      if (cycles_[c].Sensor.Failed()) out_.SensorFailed++;
  }
  out_.Millis = PlatTickCount() - begin;
  out_.Way = board_.Way;
  out_.Trace = board_.TraceText(failedAt_);

  CloseConnection();
  ReleaseFacilities();
  HeadlessSetBoardModel(nullptr);
  ZeroAppState();
  HeadlessReset();
  return out_;
}

}  // namespace

bool ProfileOfKey(const std::string& key, Profile* profile) {
  for (int n = 0; n < ProfileCount; n++)
    if (key == ProfileKey((Profile)n)) {
      *profile = (Profile)n;
      return true;
    }
  return false;
}

const char* FaultName(Fault fault) {
  switch (fault) {
    case WrongSwitch:
      return "wrong level command";
    case FailedReadingDecided:
      return "a failed reading decided";
    case LossUncorrected:
      return "output lost on the board and not made good";
    case BlindUnannounced:
      return "blindness not announced";
    case HealthyUndecided:
      return "healthy board undecided";
    case FaultKinds:
      break;
  }
  return "?";
}

Outcome RunScenario(uint64_t seed, Profile profile, const uint8_t* data,
                    size_t size, bool trace) {
  Outcome out = Scenario(seed, profile, data, size, false).Run();
  if (out.Ok) return out;
  char head[200];
  snprintf(head, sizeof head,
           "seed %llu, profile %s (%s): ", (unsigned long long)seed,
           ProfileKey(profile), ProfileName(profile));
  for (std::string& what : out.What)
    if (!what.empty()) what = head + what;
  if (!trace) {
    out.Failure = head + out.Failure;
    return out;
  }
  // Once more with the trace kept: the scenario runs the same again.
  Outcome traced = Scenario(seed, profile, data, size, true).Run();
  out.Trace = std::move(traced.Trace);
  out.Failure = head + out.Failure;
  if (traced.Ok) out.Failure += "\n(the traced run did not fail again)";
  return out;
}

}  // namespace guard
