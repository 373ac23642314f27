#include "control/measurement.h"

#include <string>

#include "app/state.h"
#include "board/connection.h"
#include "board/poll.h"
#include "control/history.h"
#include "ui/board_view.h"
#include "ui/click.h"
#include "ui/control_numbers.h"

// 0.21 itself is the double just below 0.21000000000000002; the threshold
// is the next one up, so a measured 0.210 is below it and switches the
// Minimum output on.
const double MinimumThreshold = 0.21000000000000002;
const double MaximumThreshold = 1.18;

// Bounds of the marks at the top of the level bar.
static const double Mark80Low = 1.08;
static const double Mark90Low = 1.16;

// One switching command of the cycle: the command, its reply into
// CommandBuffer (not looked at), the click and a fresh board query. Without
// a connection nothing goes out. True when the board answered it.
static bool CycleCommand(const char* keyword) {
  if (!BoardConnected()) return false;
  bool answered = SwitchExchange(keyword);
  PlaySwitchSound();
  PollBoard();
  ShowBoard();
  return answered;
}

// Output 4 or 5 follows the level: on or off. When it goes on and was off
// in the board's status just before, an operator who is not looking at the
// main window is called: its taskbar button flashes until he activates it.
// Returns what went out: 1, 0 or CommandNotSent.
static int LevelSwitch(int output, bool on) {
  bool wasOn = AppState.StatusFresh && AppState.OutputOn[output];
  std::string keyword =
      "setport " + std::to_string(output) + (on ? ".1" : ".0");
  if (!CycleCommand(keyword.c_str())) return CommandNotSent;
  if (on && !wasOn && !PlatWindowIsActive(MainWindow))
    PlatFlashUntilActive(MainWindow);
  return on ? 1 : 0;
}

// The end of a measurement: the sensor's power off. When it cannot reach
// the board, it goes out first on the next connection.
static void SensorOff() {
  if (!BoardConnected()) {
    AppState.OffOwed[3] = true;
    return;
  }
  if (!SwitchExchange("setport 3.0")) AppState.OffOwed[3] = true;
  PlaySwitchSound();
  PollBoard();
  ShowBoard();
}

// The outputs follow only a level the board has just sent: without a reply
// to GETADC 1 in the query just before (the connection was lost), the
// evaluation leaves outputs 4 and 5 alone.
void EvaluateLevel() {
  PollBoard();
  ShowBoard();
  if (!AppState.LevelFresh) return;

  ShowLevelBar();
  double level = AppState.LevelVoltage;

  int output5 = LevelSwitch(
      5, AppState.LevelVoltage > MaximumThreshold && AppState.MaximumEnabled);

  // The Minimum decision takes the level of the query that followed the
  // Maximum command.
  int output4 = CommandNotSent;
  if (AppState.LevelFresh)
    output4 = LevelSwitch(
        4, AppState.LevelVoltage < MinimumThreshold && AppState.MinimumEnabled);

  RecordEvaluation(level, output4, output5);
}

void MeasurementCycle() {
  AppState.CycleCounter++;

  if (AppState.CycleCounter > AppState.CyclePeriod &&
      AppState.MeasurementEnabled)
    CycleCommand("setport 3.1");

  if (AppState.CycleCounter > AppState.CyclePeriod + 2 &&
      AppState.MeasurementEnabled)
    EvaluateLevel();

  // The end of the cycle runs whether or not the measurement is released,
  // so output 3 never stays powered past the cycle.
  if (AppState.CycleCounter > AppState.CyclePeriod + 4 ||
      AppState.CyclePeriod < 0) {
    AppState.CycleCounter = 0;
    SensorOff();
  }
}

void ShowLevelPercent() {
  double v = AppState.LevelVoltage;
  if (v < Mark90Low && v > Mark80Low) PlatSetText(LabelLevelTop, "80%");
  if (v < MaximumThreshold && v > Mark90Low) PlatSetText(LabelLevelTop, "90%");
  if (v > MaximumThreshold) PlatSetText(LabelLevelTop, "100%");
}

void ReadCyclePeriod() {
  if (AppState.MeasurementEnabled) return;
  AppState.CyclePeriod = PlatGetValue(TrackbarCycle);
  PlatSetText(LabelCyclePeriod, std::to_string(AppState.CyclePeriod) + " s");
}
