// Numbers of the program's windows, its timer and its controls. The main
// loop tells controls apart by number alone, so every number is unique
// across the program's windows (the description window uses 95, 96 and 99;
// the history window 112 to 115; the connection notice 3).
// Per-channel controls are consecutive: the control of output n is
// <first> + n - 1, of analog or digital input i <first> + i - 1.
#pragma once

// Windows and the timer. Window 0 is the connection notice at start-up and
// the main window after it; timer 123 is the measurement's 1-second clock.
enum {
  MainWindow = 0,
  DescriptionWindow = 1,
  HistoryWindow = 2,
  MeasurementTimer = 123
};

// Items the program adds to the main window's system menu.
enum { MenuLevelHistory = 1 };

// The label of the connection notice.
enum { NoticeLabel = 3 };

enum {
  // Output rows: column headings.
  HeadingDevice = 13,
  HeadingSwitch = 14,
  HeadingDelay = 15,
  HeadingRelayStatus = 16,

  // Output rows, one per output.
  LabelOutputName1 = 4,    // .. 11
  LabelOutputState1 = 18,  // .. 25

  // Switch column.
  ButtonPulse1 = 74,
  ButtonPulse2 = 75,
  ButtonMeasurementOn = 76,
  ButtonMinimumOn = 77,
  ButtonMaximumOn = 78,
  ButtonOutput6On = 79,
  ButtonOutput7On = 80,
  ButtonPulse8 = 81,
  CheckSafetyLock = 110,

  // Delay column.
  SpinDelay1 = 83,
  SpinDelay2 = 85,
  ButtonMeasurementOff = 86,
  ButtonMinimumOff = 87,
  ButtonMaximumOff = 88,
  ButtonOutput6Off = 89,
  ButtonOutput7Off = 90,
  SpinDelay8 = 91,

  // Input rows: headings, then one row per input.
  HeadingAnalog = 28,
  HeadingValue = 29,
  HeadingUnit = 30,
  HeadingDigital = 31,
  HeadingStatus = 32,
  LabelAnalogName1 = 54,    // .. 57
  LabelAnalogValue1 = 62,   // .. 65
  LabelAnalogUnit1 = 70,    // .. 73
  LabelDigitalName1 = 58,   // .. 61
  LabelDigitalState1 = 66,  // .. 69

  // Refresh strip.
  LabelPingCountdown = 36,
  LabelRefreshMin = 34,
  TrackbarRefresh = 101,
  LabelRefreshMax = 35,
  LabelRefreshSeconds = 33,

  // Console.
  HeadingConsole = 26,
  EditConsole = 97,
  ButtonConsoleSend = 92,
  ButtonCommandOverview = 93,
  RichConsole = 98,

  // Bottom.
  ButtonPicture = 100,
  LabelQuit = 12,
  ButtonQuit = 82,
  LabelBoardData = 17,

  // Water level and cycle period.
  LabelLevelCaption = 42,
  ProgressLevel = 111,
  LabelLevelTop = 39,  // the top mark: " 100%", "80%", "90%" or "100%"
  LabelLevel70 = 44,
  LabelLevel60 = 45,
  LabelLevel50 = 40,
  LabelLevel40 = 47,
  LabelLevel30 = 48,
  LabelLevel20 = 49,
  LabelLevel10 = 50,
  LabelLevel0 = 51,
  LabelCycleCaption = 52,
  LabelCyclePeriod = 53,
  TrackbarCycle = 102,

  // The board description window.
  RichDescription = 99,
  ButtonCloseDescription = 95,
  ButtonMakerPage = 96,

  // The level history window.
  LabelHistorySummary = 112,
  ButtonCloseHistory = 113,
  LabelHistoryLog = 114,
  ButtonSaveHistory = 115,
  LabelHistoryEvents = 116,
  LabelHistoryDryRun = 117,
};

// The per-channel controls: of output n (1..8), of analog or digital input
// i (1..4).
inline int OutputNameLabel(int n) { return LabelOutputName1 + n - 1; }
inline int OutputStateLabel(int n) { return LabelOutputState1 + n - 1; }
// The switch column's button of output n: 74 (output 1) to 81 (output 8).
inline int SwitchColumnButton(int n) { return ButtonPulse1 + n - 1; }
// The delay column's control of output n: the delay field of a pulse
// output (1, 2, 8), the AUS button of outputs 3 to 7.
inline int DelayColumnControl(int n) {
  switch (n) {
    case 1:
      return SpinDelay1;
    case 2:
      return SpinDelay2;
    case 8:
      return SpinDelay8;
    default:
      return ButtonMeasurementOff + n - 3;
  }
}
inline int AnalogNameLabel(int i) { return LabelAnalogName1 + i - 1; }
inline int AnalogValueLabel(int i) { return LabelAnalogValue1 + i - 1; }
inline int AnalogUnitLabel(int i) { return LabelAnalogUnit1 + i - 1; }
inline int DigitalNameLabel(int i) { return LabelDigitalName1 + i - 1; }
inline int DigitalStateLabel(int i) { return LabelDigitalState1 + i - 1; }
