#include "control/measurement.h"

#include <cmath>
#include <string>

#include "base/sleep_clock.h"
#include "base/state.h"
#include "board/commands.h"
#include "board/link.h"
#include "board/poll.h"
#include "control/alarms.h"
#include "control/guard_outputs.h"
#include "control/history.h"
#include "control/mqtt_snapshot.h"
#include "control/refresh.h"
#include "control/sensor_watch.h"
#include "control/web_snapshot.h"
#include "ui/board_view.h"
#include "ui/click.h"
#include "ui/control_numbers.h"

// A cycle evaluates the level this often (ticks P + 3 to P + 5).
static const int EvaluationsPerCycle = 3;

// The sensor gives a true level only this many ticks after its power came
// on: the evaluations of a cycle begin at its third powered tick.
static const int SensorWarmUpTicks = 2;

// The sensor's power on at the start of a measurement, with its reply,
// the click and a fresh board query, whose status tells whether the
// sensor has power (control/guard_outputs.h): its warm-up begins when the
// board first shows output 3 on. Without a connection nothing goes out.
static void SensorOn() {
  if (!BoardConnected()) {
    SensorPowerLost();
    return;
  }
  PortReply reply = SetPort(3, true, OweNothing);
  GuardSent(3, true, reply);
  if (reply == PortNotSent) SensorPowerLost();
  PlaySwitchSound();
  RefreshBoard();
}

// The sensor has been powered long enough for its level to be read.
static bool SensorWarm() {
  return AppState.Guard.SensorPowered &&
         AppState.Measurement.MeasurementTicks - AppState.Guard.SensorOnSince >=
             SensorWarmUpTicks;
}

void ForgetSensorPower() { SensorPowerLost(); }

void StartCyclePeriod() {
  AppState.Measurement.CyclePeriod = 360;
  PlatSetValue(TrackbarCycle, AppState.Measurement.CyclePeriod);
  PlatSetText(LabelCyclePeriod,
              std::to_string(AppState.Measurement.CyclePeriod) + " s");
}

void ReadCyclePeriod() {
  if (AppState.Switching.MeasurementEnabled) return;
  AppState.Measurement.CyclePeriod = PlatGetValue(TrackbarCycle);
  PlatSetText(LabelCyclePeriod,
              std::to_string(AppState.Measurement.CyclePeriod) + " s");
}

// Whether `level` lies beyond output 4's threshold (below the Minimum) or
// output 5's (above the Maximum), and whether the operator has left that
// output's function released.
static bool BeyondThreshold(int output, double level) {
  return output == 4 ? level < MinimumThreshold : level > MaximumThreshold;
}
static bool FunctionReleased(int output) {
  return output == 4 ? AppState.Switching.MinimumEnabled
                     : AppState.Switching.MaximumEnabled;
}

// "setport n.1" or "setport n.0" to output 4 or 5 on `level`, a proven
// reading, with its reply and the click: 1, 0 or CommandNotSent; `*reply`
// how the board answered. The guard's decision stands from now on
// (control/guard_outputs.h); it is done once the board's status shows it.
// An output whose function is locked is switched off. `keepOn`: the
// output goes on whatever the level (the sensor's check holds output 4 on).
static int LevelSwitch(int output, double level, PortReply* reply,
                       bool keepOn = false) {
  *reply = PortNotSent;
  bool on =
      (BeyondThreshold(output, level) || keepOn) && FunctionReleased(output);
  if (!BoardConnected()) return CommandNotSent;
  *reply = SetPort(output, on, OweNothing);
  GuardSent(output, on, *reply);
  PlaySwitchSound();
  if (*reply == PortNotSent) {
    ShowBoard();  // the loss
    return CommandNotSent;
  }
  return on ? 1 : 0;
}

// A decision on output 4 or 5 is done: the board took `sent` and shows it.
// What it did goes to the alarm events, which call an operator who is not
// looking at the main window when it went on and was off in the board's
// status just before (`wasOn`), or when it changed what the events last
// announced. An output whose function is locked is switched off; beyond
// its threshold that is the lock's doing, no all-clear.
static void LevelDecided(int output, int sent, double level, bool wasOn) {
  bool locked = BeyondThreshold(output, level) && !FunctionReleased(output);
  // Output 4 decided on a proven reading: the guard sees, before what it
  // sees is told.
  if (output == 4) AlarmOutput4Decided(sent, level);
  AlarmLevelOutput(output, sent, level, wasOn, locked);
}

// The end of a measurement: the sensor's power off. When it cannot reach
// the board, it goes out first on the next connection.
static void SensorOff() {
  ForgetSensorPower();
  bool connected = BoardConnected();
  GuardSent(3, false, SetPort(3, false, OweOff));
  if (!connected) return;
  PlaySwitchSound();
  RefreshBoard();
}

// A query proven the board's own answers as a decision query is, and its
// redraw: true when it is, so that its status is the board's answer to its
// Getstatus (not a stray line that took its place).
static bool ProvenQuery() {
  bool proven = PollBoardForDecision();
  ShowBoard();
  HoldBoardToGuard();
  TakeWebSnapshot();  // the status page shows what label 62 shows
  TakeMqttSnapshot();
  return proven;
}

// The query a decision rides on: true when its level is provably the
// board's answer to its GETADC 1, read with the sensor powered: the status
// of this very query shows output 3 on, as it has since the warm-up.
static bool DecisionQuery() {
  return ProvenQuery() && StatusShows(3, true) && SensorWarm();
}

// An evaluation that could not decide for want of a proven reading: label
// 36 says so until an evaluation decides again, and once the dry-run
// output has gone undecided for a whole cycle (three evaluations) that is
// an alarm event. `output5Switched`: output 5 was decided on the proven
// query before, and only output 4 stayed undecided.
static void ReadingDoubted(bool output5Switched) {
  int n = ++AppState.Measurement.DoubtedEvaluations;
  AppState.Measurement.DoubtedLastSwitched5 = output5Switched;
  if (n == 1) AppState.Measurement.DoubtedWithOutput5 = 0;
  if (n <= EvaluationsPerCycle && output5Switched)
    AppState.Measurement.DoubtedWithOutput5++;
  if (n == EvaluationsPerCycle)
    AlarmReadingsInDoubt(AppState.Measurement.DoubtedWithOutput5,
                         EvaluationsPerCycle);
}

static bool SleptSince(int sleeps) { return SleepsFound() != sleeps; }

// The decisions on outputs 5 and 4 once the query before them proved
// `level5`: output 4 decided on the query after output 5's command, or,
// with the sensor's check (`checked`), on `level5` as well, the cycle's
// median, and held on while the check holds it.
static void DecideOutputs(int sleeps, double level5, bool checked) {
  auto slept = [sleeps] { return SleptSince(sleeps); };
  bool wasOn5 = StatusShows(5, true);
  PortReply reply5;
  int output5 = LevelSwitch(5, level5, &reply5);

  double level4 = NAN;
  int output4 = CommandNotSent;
  bool done5 = false, done4 = false;
  if (output5 != CommandNotSent) {
    bool proven = DecisionQuery();
    bool awake = !slept();
    proven = proven && awake;
    done5 = awake && reply5 == PortAcknowledged && StatusShows(5, output5 == 1);
    if (done5) LevelDecided(5, output5, level5, wasOn5);
    // After an answer in doubt the status cannot tell whether the board
    // is in step with the commands: output 4 waits for the next evaluation.
    bool inStep =
        reply5 != PortInDoubt &&
        StatusShows(5, reply5 == PortAcknowledged ? output5 == 1 : wasOn5);
    if (proven && inStep) {
      level4 = checked ? level5 : AppState.Readings.LevelVoltage;
      bool keepOn = checked && SensorReleaseHeld() &&
                    AppState.Guard.GuardWants[4] == DecidedOn;
      bool wasOn4 = StatusShows(4, true);
      PortReply reply4;
      output4 = LevelSwitch(4, level4, &reply4, keepOn);
      // The query after "setport 4.x" shows whether it is done; it is
      // proven as the others, since the decision's end rides on it.
      if (output4 != CommandNotSent) {
        bool shown = ProvenQuery() && !slept();
        done4 =
            shown && reply4 == PortAcknowledged && StatusShows(4, output4 == 1);
        if (done4) LevelDecided(4, output4, level4, wasOn4);
      }
    }
  }
  if (slept()) {
    if (output5 != CommandNotSent)
      RecordEvaluation(level5, output5, level4, output4, false);
    return;
  }
  bool doubted = output5 != CommandNotSent && !done4 && BoardConnected();
  if (doubted) {
    ReadingDoubted(done5);
  } else if (done4) {
    AppState.Measurement.DoubtedEvaluations = 0;
  }
  RecordEvaluation(level5, output5, level4, output4, doubted);
}

// Each output follows only a level that is provably the board's answer to
// the GETADC 1 just sent, read with the sensor powered: output 5 the level
// of the query before its command, output 4 that of the query after it;
// the query after output 4's command is proven as well.
// That query is in step with the commands only when its status shows
// output 5 as the board should have it: as sent when it took the command,
// as before when it refused it. A reading in doubt switches nothing;
// without a connection nothing goes out either. A decision is done only
// when the board took the command and its next status shows it; one that
// is not done counts for the guard's watch as none, and the evaluation is
// recorded in doubt.
// A sleep of the PC anywhere in the evaluation ends it: nothing is decided
// on a reading or a proof from before it, no decision counts as done, and
// the evaluation is no doubt of the readings (the wake is told, and a new
// measurement follows); what went out before it is recorded.
static void DecideAndRecord() {
  int sleeps = SleepsFound();
  if (!DecisionQuery() || SleptSince(sleeps)) {
    if (BoardConnected() && !SleptSince(sleeps)) {
      ReadingDoubted(false);
      RecordEvaluation(NAN, CommandNotSent, NAN, CommandNotSent, true);
    }
    return;
  }
  ShowLevelBar();
  DecideOutputs(sleeps, AppState.Readings.LevelVoltage, false);
}

// The cycle's last evaluation (tick P + 5): the sensor's check grades the
// cycle there.
static bool LastEvaluationOfCycle() {
  return AppState.Measurement.CycleCounter >
         AppState.Measurement.CyclePeriod + 4;
}

// A failed sensor decides nothing on its reading. From the fail-safe time
// on, with the protection chosen and the Minimum function released, the
// guard switches output 4 on: its decision, done once the board shows it,
// as any other. The cycle is recorded as the sensor's failure.
static void ActOnFailedSensor(int sleeps) {
  int output4 = CommandNotSent;
  bool done4 = false;
  if (SensorFailSafeDue() && AppState.Switching.MinimumEnabled) {
    bool wasOn4 = StatusShows(4, true);
    PortReply reply4;
    output4 = LevelSwitch(4, NAN, &reply4, true);
    if (output4 != CommandNotSent) {
      bool shown = ProvenQuery() && !SleptSince(sleeps);
      done4 = shown && reply4 == PortAcknowledged && StatusShows(4, true);
      if (done4) LevelDecided(4, output4, NAN, wasOn4);
    }
  }
  if (SleptSince(sleeps)) {
    RecordEvaluation(NAN, CommandNotSent, NAN, output4, false, SensorFailed);
    return;
  }
  bool doubted = output4 != CommandNotSent && !done4 && BoardConnected();
  if (doubted)
    ReadingDoubted(false);
  else if (done4)
    AppState.Measurement.DoubtedEvaluations = 0;
  RecordEvaluation(NAN, CommandNotSent, NAN, output4, doubted, SensorFailed);
}

// With the sensor's check: each evaluation takes its proven reading and
// the first two switch nothing; the last grades the cycle and decides on
// its median when the sensor is good, nothing when it is suspect, and the
// fail-safe when it has failed. An evaluation without a proven reading is
// in doubt as without the check; at the last one the cycle is then not
// graded. A sleep lets the cycle's readings go.
static void DecideOnCheckedSensor() {
  int sleeps = SleepsFound();
  bool last = LastEvaluationOfCycle();
  if (!DecisionQuery() || SleptSince(sleeps)) {
    if (SleptSince(sleeps) || last) SensorCycleBegins();
    if (BoardConnected() && !SleptSince(sleeps)) {
      ReadingDoubted(false);
      RecordEvaluation(NAN, CommandNotSent, NAN, CommandNotSent, true);
    }
    return;
  }
  ShowLevelBar();
  SensorCycleReading(AppState.Readings.LevelVoltage,
                     AppState.Guard.SensorOnSince);
  if (!last) return;
  SensorCycleResult r = SensorGradeCycle();
  switch (r.Grade) {
    case SensorOk:
      DecideOutputs(sleeps, r.Volts, true);
      break;
    case SensorSuspect:
      RecordEvaluation(NAN, CommandNotSent, NAN, CommandNotSent, false,
                       SensorSuspect);
      break;
    case SensorFailed:
      ActOnFailedSensor(sleeps);
      break;
    default:  // too few proven readings: in doubt
      ReadingDoubted(false);
      RecordEvaluation(NAN, CommandNotSent, NAN, CommandNotSent, true);
      break;
  }
}

// Before the sensor's power goes on, with the check: a proven query whose
// status shows it off gives the unpowered reading the cycle's powered ones
// are held against.
static void TakeUnpoweredReading() {
  SensorCycleBegins();
  if (!BoardConnected() || AppState.Guard.SensorPowered) return;
  int sleeps = SleepsFound();
  if (ProvenQuery() && !SleptSince(sleeps) && StatusShows(3, false))
    SensorUnpoweredReading(AppState.Readings.LevelVoltage);
}

// The alarm events of an evaluation come once it is recorded, with the
// time of its record (a slow board makes it seconds later than the
// decisions).
void EvaluateLevel() {
  if (AppState.Sensor.Settings.On)
    DecideOnCheckedSensor();
  else
    DecideAndRecord();
  if (!AppState.Alarms.AlarmsWaiting.empty() && HistorySize() > 0)
    AnnounceWaitingAlarms(&HistoryEntry(HistorySize() - 1));
  else
    AnnounceWaitingAlarms();
}

// A board that does not show the guard's decisions is measured afresh at
// once: the cycle goes on as if its period had just run out, so the
// sensor comes on at this tick and the level is evaluated after its
// warm-up. Not while a measurement runs (its evaluations decide anyway),
// and at most once in DeviationRetryInterval.
static void StartFreshMeasurementIfWanted() {
  if (!AppState.Guard.FreshMeasurementWanted) return;
  if (!AppState.Switching.MeasurementEnabled ||
      AppState.Measurement.CycleCounter > AppState.Measurement.CyclePeriod) {
    FreshMeasurementDropped();
    return;
  }
  TickCount now = PlatTickCount();
  if (AppState.Guard.FreshMeasurementStarted &&
      (int32_t)(now - AppState.Guard.FreshMeasurementAt) <
          DeviationRetryInterval)
    return;
  FreshMeasurementStarts(now);
  AppState.Measurement.CycleCounter = AppState.Measurement.CyclePeriod;
}

void MeasureAfterSleep() {
  ForgetSensorPower();
  // Whatever the board said while the PC slept is no reply of its own.
  DoubtTheLink();
  FreshMeasurementDropped();
  AppState.Measurement.MeasureWanted = true;
}

// After a sleep the cycle starts over at the first tick the board can be
// reached: a connection that did not live through the sleep is made anew
// first.
static void StartMeasurementAfterSleep() {
  if (!AppState.Measurement.MeasureWanted) return;
  if (!AppState.Switching.MeasurementEnabled) {
    AppState.Measurement.MeasureWanted = false;
    return;
  }
  if (!BoardConnected()) return;
  AppState.Measurement.MeasureWanted = false;
  AppState.Measurement.CycleCounter = AppState.Measurement.CyclePeriod;
}

void MeasurementCycle() {
  StartMeasurementAfterSleep();
  StartFreshMeasurementIfWanted();
  AppState.Measurement.CycleCounter++;
  AppState.Measurement.MeasurementTicks++;
  // The board may have lost its outputs with the connection.
  if (AppState.Link.ConnectionLost) ForgetSensorPower();

  if (AppState.Sensor.Settings.On &&
      AppState.Measurement.CycleCounter ==
          AppState.Measurement.CyclePeriod + 1 &&
      AppState.Switching.MeasurementEnabled)
    TakeUnpoweredReading();
  if (AppState.Measurement.CycleCounter > AppState.Measurement.CyclePeriod &&
      AppState.Switching.MeasurementEnabled)
    SensorOn();

  // An evaluation before the sensor's warm-up takes no reading and
  // switches nothing; the guard's watch counts the time it loses.
  if (AppState.Measurement.CycleCounter >
          AppState.Measurement.CyclePeriod + 2 &&
      AppState.Switching.MeasurementEnabled && SensorWarm())
    EvaluateLevel();

  // The end of the cycle runs whether or not the measurement is released,
  // so output 3 never stays powered past the cycle.
  if (AppState.Measurement.CycleCounter >
          AppState.Measurement.CyclePeriod + 4 ||
      AppState.Measurement.CyclePeriod < 0) {
    AppState.Measurement.CycleCounter = 0;
    SensorOff();
  }
}
