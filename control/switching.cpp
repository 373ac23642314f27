#include "control/switching.h"

#include <string>

#include "base/read_number.h"
#include "base/state.h"
#include "base/wait_service.h"
#include "board/commands.h"
#include "board/link.h"
#include "board/readings.h"
#include "control/alarms.h"
#include "control/refresh.h"
#include "ui/board_view.h"
#include "ui/click.h"
#include "ui/console.h"
#include "ui/control_numbers.h"
#include "ui/held_buttons.h"

static bool IsPulseOutput(int output) {
  return output == 1 || output == 2 || output == 8;
}

// The operator's switch did nothing: there is no connection to the board.
static void NotSwitched(int output) {
  ShowNoConnection("Ausgang " + std::to_string(output) +
                   " wurde nicht geschaltet.");
}

void ReadSwitchDelay(int output) {
  if (!IsPulseOutput(output)) return;
  int field = DelayColumnControl(output);
  int32_t delay = ReadInteger(PlatGetText(field));
  if (delay > Settings().MaxSwitchDelay[output] ||
      delay < Settings().MinSwitchDelay[output]) {
    delay = Settings().DefaultSwitchDelay[output];
    PlatSetText(field, std::to_string(delay));
  }
  AppState.Switching.SwitchDelay[output] = delay;
}

void PulseOutput(int output) {
  if (!IsPulseOutput(output)) return;
  int button = SwitchColumnButton(output);
  // Output 8 pulses only behind a fresh tick of the safety lock.
  if (output == 8 && !PlatIsChecked(CheckSafetyLock)) return;
  if (!BoardConnected()) {
    NotSwitched(output);
    return;
  }

  ReadSwitchDelay(output);
  // Once "on" may have reached the board, its "off" is owed until it has.
  bool on = SetPort(output, true, OweOff);
  PlaySwitchSound();
  EnableButton(button, false);
  if (on) TakeOutputSwitched(output, true);
  RefreshBoard();

  // ReadSwitchDelay has kept the delay within 1..10000 ms. The windows are
  // served meanwhile so that none is taken for hung; operator input stays
  // queued, as during an exchange with the board.
  if (on) ServedPause(AppState.Switching.SwitchDelay[output]);

  // Without a connection the "off" goes out first on the next one.
  bool off = SetPort(output, false, OweOff);
  PlaySwitchSound();
  // Clicks made while the pulse ran must find the button greyed: it is
  // held until they are taken. Button 81 waits for a new tick of the
  // safety lock (ApplySafetyLock).
  if (output != 8) EnableButton(button, true);
  if (off) TakeOutputSwitched(output, false);
  // Every pulse of output 8 needs a new tick of the safety lock.
  if (output == 8) PlatSetChecked(CheckSafetyLock, false);
  RefreshBoard();
  if (!off)
    ShowNoConnection("Ausgang " + std::to_string(output) +
                     " wird ausgeschaltet, sobald die Verbindung steht.");
}

void SwitchOutput(int output, bool on) {
  if (output != 6 && output != 7) return;
  if (!BoardConnected()) {
    NotSwitched(output);
    return;
  }
  bool done = SetPort(output, on, OweNothing);
  PlaySwitchSound();
  if (done) TakeOutputSwitched(output, on);
  RefreshBoard();
  if (!done) NotSwitched(output);
}

void ReleaseAllFunctions() {
  AppState.Switching.MeasurementEnabled = true;
  AppState.Switching.MinimumEnabled = true;
  AppState.Switching.MaximumEnabled = true;
}

void SwitchFunction(int output, bool on) {
  switch (output) {
    case 3:
      // While the measurement is locked it decides nothing, and that is no
      // blindness: the guard's watch stands still meanwhile.
      if (on && !AppState.Switching.MeasurementEnabled)
        AlarmGuardWatchResumed();
      if (!on && AppState.Switching.MeasurementEnabled) AlarmGuardWatchPaused();
      AppState.Switching.MeasurementEnabled = on;
      break;
    case 4:
      AppState.Switching.MinimumEnabled = on;
      break;
    case 5:
      AppState.Switching.MaximumEnabled = on;
      break;
    default:
      return;
  }
  RefreshBoard();
}

void SafetyLockClicked() { PlaySwitchSound(); }

void ApplySafetyLock() {
  EnableButton(ButtonPulse8, PlatIsChecked(CheckSafetyLock));
}
