#include "ui/board_view.h"

#include <cmath>
#include <string>

#include "base/operator_numbers.h"
#include "base/state.h"
#include "base/state_words.h"
#include "platform/platform.h"
#include "ui/control_numbers.h"
#include "ui/held_buttons.h"

const char BoardDataTemplate[] =
    "Daten aus dem Board:\r\rFirmware:\ruC: ---\rVer: ---\rNIC: ---\r\r"
    "Einstellungen:\rBoard-IP: ---\rSubnetz: ---\rGateway: ---";

// The text of a value not read.
static const char NoValueText[] = "--.--";

// Bounds of the marks at the top of the level bar.
static const double Mark80Low = 1.08;
static const double Mark90Low = 1.16;

Text AnalogValueText(int n) {
  if (!AppState.Readings.AnalogRead[n]) return NoValueText;
  return VoltageText(AppState.Readings.AnalogVoltage[n],
                     Settings().AnalogTextWidth[n]);
}

static uint32_t OnColour(bool on) {
  return on ? Settings().ColourRed : Settings().ColourBlue;
}

static void ShowRelay(int output) {
  Contact state = AppState.Readings.OutputState[output];
  PlatSetTextColour(OutputStateLabel(output), OnColour(state == ContactClosed));
  PlatSetText(OutputStateLabel(output), ContactWord(state));
}

// A function switch: the EIN button is usable while the function is off,
// the AUS button while it is on.
static void ShowFunction(int output, bool on, int einButton, int ausButton,
                         const Text& text) {
  PlatSetTextColour(OutputStateLabel(output), OnColour(on));
  EnableButton(einButton, !on);
  EnableButton(ausButton, on);
  PlatSetText(OutputStateLabel(output), text);
}

static void ShowSwitchedOutput(int output, int einButton, int ausButton) {
  Contact state = AppState.Readings.OutputState[output];
  bool closed = state == ContactClosed;
  PlatSetTextColour(OutputStateLabel(output), OnColour(closed));
  EnableButton(einButton, !closed);
  EnableButton(ausButton, closed);
  PlatSetText(OutputStateLabel(output), ContactWord(state));
}

void ShowBoard() {
  ShowRelay(1);
  ShowRelay(2);

  if (AppState.Switching.MeasurementEnabled)
    ShowFunction(3, true, ButtonMeasurementOn, ButtonMeasurementOff,
                 "Messung in " +
                     std::to_string(AppState.Measurement.CyclePeriod -
                                    AppState.Measurement.CycleCounter) +
                     " Sek");
  else
    ShowFunction(3, false, ButtonMeasurementOn, ButtonMeasurementOff,
                 "keine Messung");
  bool minimum = AppState.Switching.MinimumEnabled;
  ShowFunction(4, minimum, ButtonMinimumOn, ButtonMinimumOff,
               minimum ? "Freigegeben" : "gesperrt");
  bool maximum = AppState.Switching.MaximumEnabled;
  ShowFunction(5, maximum, ButtonMaximumOn, ButtonMaximumOff,
               maximum ? "Freigegeben" : "gesperrt");

  ShowSwitchedOutput(6, ButtonOutput6On, ButtonOutput6Off);
  ShowSwitchedOutput(7, ButtonOutput7On, ButtonOutput7Off);
  ShowRelay(8);

  for (int n = 1; n <= 4; n++) {
    Contact state = AppState.Readings.InputState[n];
    PlatSetTextColour(DigitalStateLabel(n), OnColour(state == ContactClosed));
    PlatSetText(DigitalStateLabel(n), ContactWord(state));
  }
  for (int n = 1; n <= 4; n++)
    PlatSetTextColour(AnalogValueLabel(n), Settings().ColourBlue);
  for (int n = 1; n <= 4; n++)
    PlatSetText(AnalogValueLabel(n), AnalogValueText(n));

  // The captions of the Minimum and Maximum AUS buttons follow the last
  // status reply the board sent.
  if (AppState.Readings.StatusFresh) {
    bool minimum = AppState.Readings.OutputState[4] == ContactClosed;
    bool maximum = AppState.Readings.OutputState[5] == ContactClosed;
    PlatSetText(ButtonMinimumOff, minimum ? "Ausgelöst" : "Aus");
    PlatSetText(ButtonMaximumOff, maximum ? "Ausgelöst" : "Aus");
  }

  PlatSetTextColour(LabelBoardData, Settings().ColourBlue);
  // From the moment the connection is found gone, nothing the board said
  // on it passes for current: every board display is back at its first
  // text (the board link forgot the replies), the AUS buttons read "AUS"
  // and label 36 counts down to the next attempt. The function labels keep
  // the operator's settings.
  if (AppState.Link.ConnectionLost) {
    PlatSetText(ButtonMinimumOff, "AUS");
    PlatSetText(ButtonMaximumOff, "AUS");
    PlatSetText(LabelBoardData, BoardDataTemplate);
    ShowReconnectCountdown();
    return;
  }
  PlatSetText(
      LabelBoardData,
      "Daten aus dem Board:\r\rFirmware:\r" + AppState.Readings.FirmwareText +
          "\rEinstellungen:\rBoard-IP: " + AppState.Readings.BoardIpText +
          "Subnetz: " + AppState.Readings.SubnetMaskText +
          "Gateway: " + AppState.Readings.GatewayText);
}

void ShowLevelBar() {
  AppState.View.Board.LevelBarDrawn = true;
  AppState.View.Board.LevelBarVoltage = AppState.Readings.LevelVoltage;
  double value = AppState.Readings.LevelVoltage * 100 * 3.6;
  if (!(value < LevelBarMax)) value = LevelBarMax;  // NaN too
  if (value < 0) value = 0;
  PlatSetBarColour(ProgressLevel, Settings().ColourBlue);
  PlatSetValue(ProgressLevel, (int)std::lround(value));
}

void ShowReconnectCountdown() {
  int32_t left = (int32_t)(AppState.Link.NextReconnectTime - PlatTickCount());
  PlatSetText(LabelPingCountdown, "Keine Verbindung / Neuer Versuch in " +
                                      std::to_string(left / 1000) + " s");
}

void ShowLevelPercent() {
  double v = AppState.Readings.LevelVoltage;
  if (v < Mark90Low && v > Mark80Low) PlatSetText(LabelLevelTop, "80%");
  if (v < MaximumThreshold && v > Mark90Low) PlatSetText(LabelLevelTop, "90%");
  if (v > MaximumThreshold) PlatSetText(LabelLevelTop, "100%");
}
