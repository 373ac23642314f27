#include "ui/main_window.h"

#include <string>

#include "base/state.h"
#include "base/state_words.h"
#include "platform/platform.h"
#include "ui/board_view.h"
#include "ui/control_numbers.h"
#include "ui/history_window.h"

const char MainWindowTitle[] =
    "KORVALINEX-Steuerprogramm für einen Brunnen mit Trockenlauf und Alarm ";

enum {
  MainClientWidth = 540,
  MainClientHeight = 590,
  MeasurementTimerMs = 1000,
  CyclePeriodMax = 4000,
};

// Top edge of output row n (1..8) and of input row i (1..4).
static int OutputRowY(int n) { return 20 + 20 * (n - 1); }
static int InputRowY(int i) { return 210 + 20 * (i - 1); }

static void Create(int number, ControlKind kind, int x, int y, int width,
                   int height, const Text& text, int properties) {
  PlatCreateControl(MainWindow, number, kind, x, y, width, height, text,
                    properties);
}

static void Label(int number, int x, int y, int width, int height,
                  const Text& text, int properties) {
  Create(number, KindLabel, x, y, width, height, text, properties);
}

// Column headings read in the system font, not the small control font.
static void Heading(int number, int x, int y, int width, const Text& text) {
  Label(number, x, y, width, 20, text, PropCentred);
  PlatUseSystemFont(number);
}

static void Button(int number, int x, int y, int width, const Text& caption,
                   const Text& tooltip) {
  Create(number, KindButton, x, y, width, 20, caption, 0);
  PlatSetTooltip(number, tooltip);
}

// The names keep their trailing blanks ("Messung "): the tooltips show them
// exactly as stored.
static Text Quoted(int output) {
  return "'" + Settings().OutputName[output] + "'";
}

static Text PulseTooltip(int output) {
  return "EIN/AUS-Schalter für " + Quoted(output);
}
static Text OnTooltip(int output) {
  return "EIN-Schalter für " + Quoted(output);
}
static Text OffTooltip(int output) {
  return "AUS-Schalter für " + Quoted(output);
}
static Text DelayTooltip(int output) {
  return "Schaltverzögerung für Schalter " + Quoted(output) +
         ". Gültige Eingabewerte = " +
         std::to_string(Settings().MinSwitchDelay[output]) + "..." +
         std::to_string(Settings().MaxSwitchDelay[output]);
}

// A delay field of a pulse switch: the field sits in the delay column of
// the output's row and steps within the output's delay limits.
static void DelayField(int number, int output) {
  Create(number, KindSpin, 220, OutputRowY(output), 70, 20, "", 0);
  PlatSetRange(number, Settings().MinSwitchDelay[output],
               Settings().MaxSwitchDelay[output]);
}

static void BuildOutputNames() {
  for (int n = 1; n <= 8; n++) {
    // The three well functions have their names centred.
    int properties = (n >= 3 && n <= 5) ? PropBorder | PropCentred : PropBorder;
    Label(OutputNameLabel(n), 10, OutputRowY(n), 100, 20,
          Settings().OutputName[n], properties);
  }
}

static void BuildWaterLevel() {
  struct ScaleMark {
    int Number, Y, Height;
    const char* Text;
  };
  static const ScaleMark marks[] = {
      {LabelLevelTop, 15, 10, " 100%"}, {LabelLevel70, 25, 20, "  70%"},
      {LabelLevel60, 72, 20, "  60%"},  {LabelLevel50, 120, 20, " 50%"},
      {LabelLevel40, 200, 20, "  40%"}, {LabelLevel30, 265, 20, "  30%"},
      {LabelLevel20, 345, 20, " 20%"},  {LabelLevel10, 460, 20, " 10%"},
      {LabelLevel0, 550, 20, " 0%"},
  };

  Label(LabelLevelCaption, 440, 5, 25, 8, "Wasserstand", 0);
  for (const ScaleMark& mark : marks)
    Label(mark.Number, 480, mark.Y, 25, mark.Height, mark.Text, 0);
  Label(LabelCycleCaption, 475, 5, 25, 8, "Messz", 0);
  Label(LabelCyclePeriod, 505, 5, 25, 8,
        std::to_string(AppState.Measurement.CyclePeriod) + " s", 0);

  Create(ProgressLevel, KindProgressBar, 420, 20, 50, 560, "",
         PropVertical | PropSmooth);
  PlatSetRange(ProgressLevel, 0, LevelBarMax);
  PlatSetValue(ProgressLevel, 0);

  Create(TrackbarCycle, KindTrackbar, 506, 20, 20, 560, "",
         PropVertical | PropTickMarks);
  PlatSetRange(TrackbarCycle, 0, CyclePeriodMax);
  PlatSetValue(TrackbarCycle, 0);
}

static void BuildQuitCaptionAndBoardData() {
  Label(LabelQuit, 150, 530, 110, 20,
        "Programmende:", PropBorder | PropCentred);
  Label(LabelBoardData, 280, 420, 130, 160, BoardDataTemplate, PropBorder);
  PlatSetTextColour(LabelBoardData, Settings().ColourBlue);
}

static void BuildSwitchColumn() {
  for (int n = 1; n <= 8; n++) {
    bool pulse = n == 1 || n == 2 || n == 8;
    Button(SwitchColumnButton(n), 130, OutputRowY(n), 70,
           pulse ? "EIN / AUS" : "EIN", pulse ? PulseTooltip(n) : OnTooltip(n));
  }
  Button(ButtonQuit, 170, 560, 70, "QUIT", "Programm beenden");
}

static void BuildDelayColumn() {
  DelayField(SpinDelay1, 1);
  PlatSetText(SpinDelay1, Settings().SwitchDelayText[1]);
  PlatSetTooltip(SpinDelay1, DelayTooltip(1));

  DelayField(SpinDelay2, 2);
  PlatSetText(SpinDelay2, Settings().SwitchDelayText[2]);
  PlatSetTooltip(SpinDelay2, DelayTooltip(2));

  for (int n = 3; n <= 7; n++)
    Button(DelayColumnControl(n), 220, OutputRowY(n), 70, "AUS", OffTooltip(n));

  DelayField(SpinDelay8, 8);
  PlatSetTooltip(SpinDelay8, DelayTooltip(8));
  PlatSetText(SpinDelay8, Settings().SwitchDelayText[8]);
}

// Output 8 may only be pulsed while its safety lock is ticked; the main
// loop keeps button 81 in step with the box from its first pass on, and
// until then the button is locked.
static void BuildSafetyLock() {
  Create(CheckSafetyLock, KindCheckBox, 112, 158, 18, 25, "", 0);
  PlatSetTooltip(CheckSafetyLock,
                 "Sicherheitslock: Schalter zur Aktivierung des "
                 "EIN/AUS-Schalters für " +
                     Quoted(8));
  PlatSetChecked(CheckSafetyLock, false);
  PlatEnable(ButtonPulse8, false);
}

static void BuildHeadings() {
  Heading(HeadingDevice, 10, 0, 100, "Gerät");
  Heading(HeadingSwitch, 130, 0, 70, "Schalter");
  Heading(HeadingDelay, 220, 0, 70, "Delay (ms)");
  Heading(HeadingRelayStatus, 310, 0, 110, "Relais-Status");
  Heading(HeadingAnalog, 10, 190, 100, "Analogeing");
  Heading(HeadingValue, 111, 190, 40, "Wert");
  Heading(HeadingUnit, 152, 190, 50, "Einheit");
  Heading(HeadingDigital, 210, 190, 110, "Digitaleingang");
  Heading(HeadingStatus, 310, 190, 110, "Status");
  Heading(HeadingConsole, 10, 320, 410,
          "Konsole für direkte Befehle an das KORVALINEX-Board");
}

static void BuildRefreshLabels() {
  Text seconds = std::to_string(AppState.Refresh.RefreshInterval / 1000);
  Label(LabelRefreshSeconds, 299, 305, 20, 15, seconds, PropCentred);
  Label(LabelRefreshMin, 211, 293, 10, 20, "1", 0);
  Label(LabelRefreshMax, 397, 293, 13, 20,
        std::to_string(Settings().InitialRefreshInterval / 1000), 0);
  // The main loop rewrites this on its first pass with the real ping time
  // and countdown.
  Label(LabelPingCountdown, 10, 293, 192, 20,
        "Ping war-ms / New Dat in " + seconds + " s", PropCentred);
}

static void BuildOutputStates() {
  for (int n = 1; n <= 8; n++)
    Label(OutputStateLabel(n), 310, OutputRowY(n), 110, 20,
          ContactWord(AppState.Readings.OutputState[n]),
          PropBorder | PropCentred);
}

static void BuildInputRows() {
  for (int i = 1; i <= 4; i++) {
    int y = InputRowY(i);
    Label(AnalogNameLabel(i), 10, y, 110, 20, Settings().AnalogName[i],
          PropBorder);
    Label(AnalogValueLabel(i), 111, y, 40, 20, AnalogValueText(i),
          PropBorder | PropRightAligned);
    Label(AnalogUnitLabel(i), 152, y, 50, 20, Settings().AnalogUnit[i],
          PropBorder);
  }
  for (int i = 1; i <= 4; i++) {
    int y = InputRowY(i);
    Label(DigitalNameLabel(i), 210, y, 110, 20, Settings().DigitalInputName[i],
          PropBorder);
    Label(DigitalStateLabel(i), 310, y, 100, 20,
          ContactWord(AppState.Readings.InputState[i]),
          PropBorder | PropCentred);
  }
}

static void BuildConsolePictureAndRefresh() {
  Create(EditConsole, KindEdit, 10, 340, 200, 20, "", 0);
  PlatSetTooltip(EditConsole,
                 "Konsolenbefehl hier eingeben und anschließend 'Befehl "
                 "Senden' anklicken");
  Button(ButtonConsoleSend, 220, 340, 90, "Befehl Senden",
         "Konsolenbefehl absenden");
  Button(ButtonCommandOverview, 320, 340, 90, "Befehlsübersicht",
         "Übersicht der möglichen Konsolen-Befehle");
  Create(RichConsole, KindRichText, 10, 365, 400, 50, "", PropReadOnly);
  PlatSetTooltip(RichConsole,
                 "Hier erscheinen Ihre Konsolenbefehle mit entsprechenden "
                 "Rückmeldungen des KORVALINEX");
  Create(ButtonPicture, KindImageButton, 10, 420, 120, 160, "", 0);
  PlatSetTooltip(ButtonPicture, "Kleine Beschreibung des KORVALINEX");

  // The refresh interval runs from 1 s up to the interval that stands at
  // start; the main loop sets the trackbar's first position.
  int maxSeconds = AppState.Refresh.RefreshInterval / 1000;
  Create(TrackbarRefresh, KindTrackbar, 220, 290, 175, 20, "", 0);
  PlatSetRange(TrackbarRefresh, 1, maxSeconds);
  PlatSetValue(TrackbarRefresh, 1);
  PlatSetTooltip(TrackbarRefresh, "Abfrageintervall der Messdaten. Von 1..." +
                                      std::to_string(maxSeconds) +
                                      " Sekunden einstellbar");
}

// The creation order is also the Tab order of the window.
bool BuildMainWindow(bool* timerStarted) {
  if (timerStarted) *timerStarted = false;
  if (!PlatOpenWindow(MainWindow, FrameMain, MainWindowTitle, MainClientWidth,
                      MainClientHeight, true, 0, 0))
    return false;
  bool timer = PlatAddTimer(MainWindow, MeasurementTimer, MeasurementTimerMs);
  if (timerStarted) *timerStarted = timer;
  PlatAddSystemMenuItem(MainWindow, MenuLevelHistory, HistoryMenuText);

  BuildOutputNames();
  BuildWaterLevel();
  BuildQuitCaptionAndBoardData();
  BuildSwitchColumn();
  BuildDelayColumn();
  BuildSafetyLock();
  BuildHeadings();
  BuildRefreshLabels();
  BuildOutputStates();
  BuildInputRows();
  BuildConsolePictureAndRefresh();

  PlatEraseOnlyOutsideControls(MainWindow);
  return true;
}
