#include "ui/board_view.h"

#include <cmath>
#include <string>

#include "base/state.h"
#include "board/poll.h"
#include "platform/platform.h"
#include "ui/control_numbers.h"
#include "ui/held_buttons.h"

const char BoardDataTemplate[] =
    "Daten aus dem Board:\r\rFirmware:\ruC: ---\rVer: ---\rNIC: ---\r\r"
    "Einstellungen:\rBoard-IP: ---\rSubnetz: ---\rGateway: ---";

const char DoubtedReadingText[] = "Messwert unsicher: nichts geschaltet";
const char DoubtedOutput4Text[] = "Messwert unsicher: Ausg. 4 nicht geschaltet";

// Digit `position` (from 1) of the status reply is a 1.
static bool StatusOn(const Text& status, size_t position) {
  return position <= status.size() && status[position - 1] == '1';
}

static uint32_t OnColour(bool on) {
  return on ? AppState.ColourRed : AppState.ColourBlue;
}

static void ShowRelay(int output) {
  bool closed = AppState.OutputStateText[output] == AppState.ClosedText;
  PlatSetTextColour(OutputStateLabel(output), OnColour(closed));
  PlatSetText(OutputStateLabel(output), AppState.OutputStateText[output]);
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
  bool closed = AppState.OutputStateText[output] == AppState.ClosedText;
  PlatSetTextColour(OutputStateLabel(output), OnColour(closed));
  EnableButton(einButton, !closed);
  EnableButton(ausButton, closed);
  PlatSetText(OutputStateLabel(output), AppState.OutputStateText[output]);
}

void ShowBoard() {
  ShowRelay(1);
  ShowRelay(2);

  if (AppState.MeasurementEnabled)
    ShowFunction(
        3, true, ButtonMeasurementOn, ButtonMeasurementOff,
        "Messung in " +
            std::to_string(AppState.CyclePeriod - AppState.CycleCounter) +
            " Sek");
  else
    ShowFunction(3, false, ButtonMeasurementOn, ButtonMeasurementOff,
                 "keine Messung");
  bool minimum = AppState.MinimumEnabled;
  ShowFunction(4, minimum, ButtonMinimumOn, ButtonMinimumOff,
               minimum ? "Freigegeben" : "gesperrt");
  bool maximum = AppState.MaximumEnabled;
  ShowFunction(5, maximum, ButtonMaximumOn, ButtonMaximumOff,
               maximum ? "Freigegeben" : "gesperrt");

  ShowSwitchedOutput(6, ButtonOutput6On, ButtonOutput6Off);
  ShowSwitchedOutput(7, ButtonOutput7On, ButtonOutput7Off);
  ShowRelay(8);

  for (int n = 1; n <= 4; n++) {
    bool closed = AppState.InputStateText[n] == AppState.InputClosedText[n];
    PlatSetTextColour(DigitalStateLabel(n), OnColour(closed));
    PlatSetText(DigitalStateLabel(n), AppState.InputStateText[n]);
  }
  for (int n = 1; n <= 4; n++)
    PlatSetTextColour(AnalogValueLabel(n), AppState.ColourBlue);
  for (int n = 1; n <= 4; n++)
    PlatSetText(AnalogValueLabel(n), AppState.AnalogValueText[n]);

  // The captions of the Minimum and Maximum AUS buttons follow the last
  // status reply the board sent.
  if (AppState.StatusFresh) {
    const Text& s = AppState.StatusReplyText;
    PlatSetText(ButtonMinimumOff, StatusOn(s, 6) ? "Ausgelöst" : "Aus");
    PlatSetText(ButtonMaximumOff, StatusOn(s, 5) ? "Ausgelöst" : "Aus");
  }

  PlatSetTextColour(LabelBoardData, AppState.ColourBlue);
  // From the moment the connection is found gone, nothing the board said
  // on it passes for current: every board display is back at its first
  // text (the board link forgot the replies), the AUS buttons read "AUS"
  // and label 36 counts down to the next attempt. The function labels keep
  // the operator's settings.
  if (AppState.ConnectionLost) {
    PlatSetText(ButtonMinimumOff, "AUS");
    PlatSetText(ButtonMaximumOff, "AUS");
    PlatSetText(LabelBoardData, BoardDataTemplate);
    ShowReconnectCountdown();
    return;
  }
  PlatSetText(LabelBoardData,
              "Daten aus dem Board:\r\rFirmware:\r" + AppState.FirmwareText +
                  "\rEinstellungen:\rBoard-IP: " + AppState.BoardIpText +
                  "Subnetz: " + AppState.SubnetMaskText +
                  "Gateway: " + AppState.GatewayText);
}

void ShowLevelBar() {
  double value = AppState.LevelVoltage * 100 * 3.6;
  if (!(value < LevelBarMax)) value = LevelBarMax;  // NaN too
  if (value < 0) value = 0;
  PlatSetBarColour(ProgressLevel, AppState.ColourBlue);
  PlatSetValue(ProgressLevel, (int)std::lround(value));
}

void RefreshBoard() {
  PollBoard();
  ShowBoard();
}

void ShowReconnectCountdown() {
  int32_t left = (int32_t)(AppState.NextReconnectTime - PlatTickCount());
  PlatSetText(LabelPingCountdown, "Keine Verbindung / Neuer Versuch in " +
                                      std::to_string(left / 1000) + " s");
}
