#include "control/measurement.h"

#include <cmath>
#include <string>

#include "base/state.h"
#include "board/connection.h"
#include "board/poll.h"
#include "control/alarms.h"
#include "control/history.h"
#include "control/refresh.h"
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
// the click and a fresh board query. Without a connection nothing goes out.
// An answered "setport 3.1" that finds the sensor not known powered starts
// its warm-up; one that is not answered leaves its state unknown.
static void SensorOn() {
  if (!BoardConnected()) {
    AppState.SensorPowered = false;
    return;
  }
  bool answered = SetPort(3, true, OweNothing);
  if (!answered) {
    AppState.SensorPowered = false;
  } else if (!AppState.SensorPowered) {
    AppState.SensorPowered = true;
    AppState.SensorOnSince = AppState.MeasurementTicks;
  }
  PlaySwitchSound();
  RefreshBoard();
}

// The sensor has been powered long enough for its level to be read.
static bool SensorWarm() {
  return AppState.SensorPowered &&
         AppState.MeasurementTicks - AppState.SensorOnSince >=
             SensorWarmUpTicks;
}

void ForgetSensorPower() { AppState.SensorPowered = false; }

// What went out to output 4 or 5 on `level`, a proven reading:
// "setport n.1" or "setport n.0" with its reply and the click; 1, 0 or
// CommandNotSent.
// What it did goes to the alarm events, which call an operator who is not
// looking at the main window when it went on and was off in the board's
// status just before, or when it changed what the events last announced.
// An output whose function is locked is switched off; beyond its
// threshold that is the lock's doing, no all-clear.
static int LevelSwitch(int output, double level) {
  bool beyond =
      output == 4 ? level < MinimumThreshold : level > MaximumThreshold;
  bool enabled =
      output == 4 ? AppState.MinimumEnabled : AppState.MaximumEnabled;
  bool on = beyond && enabled;
  bool wasOn =
      AppState.StatusFresh && AppState.OutputState[output] == ContactClosed;
  if (!BoardConnected()) return CommandNotSent;
  bool answered = SetPort(output, on, OweNothing);
  PlaySwitchSound();
  if (!answered) {
    ShowBoard();  // the loss
    return CommandNotSent;
  }
  int sent = on ? 1 : 0;
  // Output 4 decided on a proven reading: the guard sees, before what it
  // sees is told.
  if (output == 4) AlarmOutput4Decided(sent, level);
  AlarmLevelOutput(output, sent, level, wasOn, beyond && !enabled);
  return sent;
}

// The end of a measurement: the sensor's power off. When it cannot reach
// the board, it goes out first on the next connection.
static void SensorOff() {
  ForgetSensorPower();
  bool connected = BoardConnected();
  SetPort(3, false, OweOff);
  if (!connected) return;
  PlaySwitchSound();
  RefreshBoard();
}

// The query a decision rides on, and its redraw: true when its level is
// provably the board's answer to its GETADC 1.
static bool ProvenQuery() {
  bool proven = PollBoardProven();
  ShowBoard();
  TakeWebSnapshot();  // the status page shows what label 62 shows
  return proven;
}

// An evaluation that could not decide for want of a proven reading: label
// 36 says so until an evaluation decides again, and once the dry-run
// output has gone undecided for a whole cycle (three evaluations) that is
// an alarm event. `output5Switched`: output 5 was decided on the proven
// query before, and only output 4 stayed undecided.
static void ReadingDoubted(bool output5Switched) {
  int n = ++AppState.DoubtedEvaluations;
  AppState.DoubtedLastSwitched5 = output5Switched;
  if (n == 1) AppState.DoubtedWithOutput5 = 0;
  if (n <= EvaluationsPerCycle && output5Switched)
    AppState.DoubtedWithOutput5++;
  if (n == EvaluationsPerCycle)
    AlarmReadingsInDoubt(AppState.DoubtedWithOutput5, EvaluationsPerCycle);
}

// The query after "setport 5.x" is in step with the commands only when the
// board's status in it shows output 5 as just sent.
static bool StatusShowsOutput5(int sent) {
  return AppState.StatusFresh &&
         (AppState.OutputState[5] == ContactClosed) == (sent == 1);
}

// Each output follows only a level that is provably the board's answer to
// the GETADC 1 just sent: output 5 the level of the query before its
// command, output 4 that of the query after it, when that query's status
// shows output 5 as sent. A reading in doubt switches nothing; without a
// connection nothing goes out either.
static void DecideAndRecord() {
  bool proven5 = ProvenQuery();
  if (!proven5) {
    if (BoardConnected()) {
      ReadingDoubted(false);
      RecordEvaluation(NAN, CommandNotSent, NAN, CommandNotSent, true);
    }
    return;
  }
  ShowLevelBar();
  double level5 = AppState.LevelVoltage;
  int output5 = LevelSwitch(5, level5);

  double level4 = NAN;
  int output4 = CommandNotSent;
  bool doubted = false;
  if (output5 != CommandNotSent) {
    if (ProvenQuery() && StatusShowsOutput5(output5)) {
      level4 = AppState.LevelVoltage;
      output4 = LevelSwitch(4, level4);
      if (output4 != CommandNotSent) RefreshBoard();
    } else {
      doubted = BoardConnected();
    }
  }
  if (doubted) {
    ReadingDoubted(true);
  } else if (output4 != CommandNotSent) {
    AppState.DoubtedEvaluations = 0;
  }
  RecordEvaluation(level5, output5, level4, output4, doubted);
}

// The alarm events of an evaluation come once it is recorded, with the
// time of its record (a slow board makes it seconds later than the
// decisions).
void EvaluateLevel() {
  DecideAndRecord();
  if (!AppState.AlarmsWaiting.empty() && HistorySize() > 0)
    AnnounceWaitingAlarms(&HistoryEntry(HistorySize() - 1));
  else
    AnnounceWaitingAlarms();
}

void MeasurementCycle() {
  AppState.CycleCounter++;
  AppState.MeasurementTicks++;
  // The board may have lost its outputs with the connection.
  if (AppState.ConnectionLost) ForgetSensorPower();

  if (AppState.CycleCounter > AppState.CyclePeriod &&
      AppState.MeasurementEnabled)
    SensorOn();

  // An evaluation before the sensor's warm-up takes no reading and
  // switches nothing; the guard's watch counts the time it loses.
  if (AppState.CycleCounter > AppState.CyclePeriod + 2 &&
      AppState.MeasurementEnabled && SensorWarm())
    EvaluateLevel();

  // The end of the cycle runs whether or not the measurement is released,
  // so output 3 never stays powered past the cycle.
  if (AppState.CycleCounter > AppState.CyclePeriod + 4 ||
      AppState.CyclePeriod < 0) {
    AppState.CycleCounter = 0;
    SensorOff();
  }
}
