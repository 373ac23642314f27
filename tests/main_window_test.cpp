// The main window as the headless platform records it, built straight from
// the defaults without a board.
#include "ui/main_window.h"

#include <gtest/gtest.h>

#include <set>
#include <vector>

#include "base/state.h"
#include "platform/headless/headless.h"
#include "tests/support/program_start.h"
#include "ui/control_numbers.h"

namespace {

class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override { StartFresh(); }
};

Text ContentOf(int number) {
  const HeadlessControl* c = HeadlessFindControl(number);
  return c ? c->Content : "<no control>";
}

Text TooltipOf(int number) {
  const HeadlessControl* c = HeadlessFindControl(number);
  return c ? c->Tooltip : "<no control>";
}

// clang-format off
const std::vector<int> kCreationOrder = {
    4, 5, 6, 7, 8, 9, 10, 11,                              // output names
    42, 39, 44, 45, 40, 47, 48, 49, 50, 51, 52, 53,        // level labels
    111, 102,                                              // level bar, cycle
    12, 17,                                                // QUIT caption, data
    74, 75, 76, 77, 78, 79, 80, 81, 82,                    // switch buttons
    83, 85, 86, 87, 88, 89, 90, 91,                        // delay column
    110,                                                   // safety lock
    13, 14, 15, 16, 28, 29, 30, 31, 32, 26,                // headings
    33, 34, 35, 36,                                        // refresh labels
    18, 19, 20, 21, 22, 23, 24, 25,                        // output states
    54, 62, 70, 55, 63, 71, 56, 64, 72, 57, 65, 73,        // analog rows
    58, 66, 59, 67, 60, 68, 61, 69,                        // digital rows
    97, 92, 93, 98, 100, 101};                 // console, picture, refresh
// clang-format on

const std::set<int> kHeadings = {
    HeadingDevice,  HeadingSwitch, HeadingDelay, HeadingRelayStatus,
    HeadingConsole, HeadingAnalog, HeadingValue, HeadingUnit,
    HeadingDigital, HeadingStatus};

TEST_F(MainWindowTest, OpensCentredWindowWithTitleFrameAndTimer) {
  ASSERT_TRUE(BuildMainWindow());
  const HeadlessWindow* w = HeadlessFindWindow(MainWindow);
  ASSERT_NE(w, nullptr);
  EXPECT_TRUE(w->Open);
  EXPECT_EQ(w->Frame, FrameMain);
  // The title is Windows-1252: the u-umlaut is one byte 0xFC, and the title
  // ends in a blank.
  EXPECT_EQ(w->Title,
            "KORVALINEX-Steuerprogramm f\xFCr einen Brunnen mit Trockenlauf "
            "und Alarm ");
  EXPECT_EQ(Text(MainWindowTitle), w->Title);
  EXPECT_EQ(w->ClientWidth, 540);
  EXPECT_EQ(w->ClientHeight, 590);
  EXPECT_GT(w->OuterWidth, 540);
  EXPECT_GT(w->OuterHeight, 590);
  EXPECT_EQ(w->X, (1024 - w->OuterWidth) / 2);
  EXPECT_EQ(w->Y, (768 - w->OuterHeight) / 2);
  EXPECT_TRUE(w->EraseOnlyOutsideControls);
  EXPECT_EQ(w->Timer, 123);
  EXPECT_EQ(w->TimerInterval, 1000);
  EXPECT_EQ(w->OpenCount, 1);
}

TEST_F(MainWindowTest, WindowOnSmallScreenStartsAtTheEdgeItDoesNotFit) {
  HeadlessSetScreenSize(1024, 400);
  ASSERT_TRUE(BuildMainWindow());
  const HeadlessWindow* w = HeadlessFindWindow(MainWindow);
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(w->X, (1024 - w->OuterWidth) / 2);
  EXPECT_EQ(w->Y, 0);
  EXPECT_LE(w->OuterHeight, 400);

  HeadlessReset();
  HeadlessSetScreenSize(300, 200);
  ASSERT_TRUE(BuildMainWindow());
  w = HeadlessFindWindow(MainWindow);
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(w->X, 0);
  EXPECT_EQ(w->Y, 0);
  EXPECT_LE(w->OuterWidth, 300);
  EXPECT_LE(w->OuterHeight, 200);
  EXPECT_EQ(HeadlessCreationOrder(MainWindow).size(), 90u);
}

TEST_F(MainWindowTest, FailingWindowGivesFalseWithoutControlsOrTimer) {
  HeadlessFaultSettings().MainWindowFails = true;
  EXPECT_FALSE(BuildMainWindow());
  const HeadlessWindow* w = HeadlessFindWindow(MainWindow);
  if (w) {
    EXPECT_FALSE(w->Open);
    EXPECT_EQ(w->Timer, 0);
  }
  EXPECT_TRUE(HeadlessCreationOrder(MainWindow).empty());
  for (int number : kCreationOrder)
    EXPECT_EQ(HeadlessFindControl(number), nullptr) << number;
}

TEST_F(MainWindowTest, CreatesAllNinetyControlsInTabOrder) {
  ASSERT_TRUE(BuildMainWindow());
  EXPECT_EQ(HeadlessCreationOrder(MainWindow), kCreationOrder);
  EXPECT_EQ(std::set<int>(kCreationOrder.begin(), kCreationOrder.end()).size(),
            90u);
  for (int i = 0; i < static_cast<int>(kCreationOrder.size()); i++) {
    const HeadlessControl* c = HeadlessFindControl(kCreationOrder[i]);
    ASSERT_NE(c, nullptr) << kCreationOrder[i];
    EXPECT_EQ(c->Window, MainWindow);
    EXPECT_EQ(c->CreationIndex, i) << kCreationOrder[i];
  }
  // Numbers of the other windows stay free.
  for (int number : std::vector<int>{NoticeLabel, ButtonCloseDescription,
                                     ButtonMakerPage, RichDescription})
    EXPECT_EQ(HeadlessFindControl(number), nullptr) << number;

  // Tab walks the controls that take focus in creation order.
  std::vector<int> focusOrder;
  int labels = 0;
  for (int number : HeadlessCreationOrder(MainWindow)) {
    ControlKind kind = HeadlessFindControl(number)->Kind;
    if (kind == KindLabel) labels++;
    if (kind != KindLabel && kind != KindProgressBar)
      focusOrder.push_back(number);
  }
  EXPECT_EQ(labels, 64);
  EXPECT_EQ(focusOrder, (std::vector<int>{102, 74, 75, 76, 77, 78,  79, 80, 81,
                                          82,  83, 85, 86, 87, 88,  89, 90, 91,
                                          110, 97, 92, 93, 98, 100, 101}));
}

TEST_F(MainWindowTest, ControlsHaveTheirKindsPlacesAndProperties) {
  ASSERT_TRUE(BuildMainWindow());
  struct Expected {
    int Number;
    ControlKind Kind;
    int X, Y, Width, Height, Properties;
  };
  const Expected table[] = {
      {HeadingDevice, KindLabel, 10, 0, 100, 20, PropCentred},
      {HeadingConsole, KindLabel, 10, 320, 410, 20, PropCentred},
      {OutputNameLabel(1), KindLabel, 10, 20, 100, 20, PropBorder},
      {OutputNameLabel(3), KindLabel, 10, 60, 100, 20,
       PropBorder | PropCentred},
      {ButtonPulse1, KindButton, 130, 20, 70, 20, 0},
      {ButtonPulse8, KindButton, 130, 160, 70, 20, 0},
      {CheckSafetyLock, KindCheckBox, 112, 158, 18, 25, 0},
      {SpinDelay1, KindSpin, 220, 20, 70, 20, 0},
      {ButtonMeasurementOff, KindButton, 220, 60, 70, 20, 0},
      {SpinDelay8, KindSpin, 220, 160, 70, 20, 0},
      {OutputStateLabel(1), KindLabel, 310, 20, 110, 20,
       PropBorder | PropCentred},
      {AnalogNameLabel(1), KindLabel, 10, 210, 110, 20, PropBorder},
      {AnalogValueLabel(4), KindLabel, 111, 270, 40, 20,
       PropBorder | PropRightAligned},
      {DigitalNameLabel(3), KindLabel, 210, 250, 110, 20, PropBorder},
      {DigitalStateLabel(4), KindLabel, 310, 270, 100, 20,
       PropBorder | PropCentred},
      {LabelPingCountdown, KindLabel, 10, 293, 192, 20, PropCentred},
      {TrackbarRefresh, KindTrackbar, 220, 290, 175, 20, 0},
      {LabelRefreshSeconds, KindLabel, 299, 305, 20, 15, PropCentred},
      {EditConsole, KindEdit, 10, 340, 200, 20, 0},
      {ButtonCommandOverview, KindButton, 320, 340, 90, 20, 0},
      {RichConsole, KindRichText, 10, 365, 400, 50, PropReadOnly},
      {ButtonPicture, KindImageButton, 10, 420, 120, 160, 0},
      {LabelQuit, KindLabel, 150, 530, 110, 20, PropBorder | PropCentred},
      {ButtonQuit, KindButton, 170, 560, 70, 20, 0},
      {LabelBoardData, KindLabel, 280, 420, 130, 160, PropBorder},
      {ProgressLevel, KindProgressBar, 420, 20, 50, 560,
       PropVertical | PropSmooth},
      {LabelLevel0, KindLabel, 480, 550, 25, 20, 0},
      {LabelCyclePeriod, KindLabel, 505, 5, 25, 8, 0},
      {TrackbarCycle, KindTrackbar, 506, 20, 20, 560,
       PropVertical | PropTickMarks},
  };
  for (const Expected& e : table) {
    const HeadlessControl* c = HeadlessFindControl(e.Number);
    ASSERT_NE(c, nullptr) << e.Number;
    EXPECT_EQ(c->Kind, e.Kind) << e.Number;
    EXPECT_EQ(c->X, e.X) << e.Number;
    EXPECT_EQ(c->Y, e.Y) << e.Number;
    EXPECT_EQ(c->Width, e.Width) << e.Number;
    EXPECT_EQ(c->Height, e.Height) << e.Number;
    EXPECT_EQ(c->Properties, e.Properties) << e.Number;
  }

  // Every output row lines up across its four columns.
  for (int n = 1; n <= 8; n++) {
    int y = 20 + 20 * (n - 1);
    for (int number : {OutputNameLabel(n), SwitchColumnButton(n),
                       DelayColumnControl(n), OutputStateLabel(n)})
      EXPECT_EQ(HeadlessFindControl(number)->Y, y) << number;
    EXPECT_EQ(HeadlessFindControl(DelayColumnControl(n))->X, 220) << n;
  }
}

TEST_F(MainWindowTest, InitialTextsComeFromTheDefaults) {
  ASSERT_TRUE(BuildMainWindow());
  const char* names[] = {"Device 1", "Device 2", "Messung ", "Minimum ",
                         "Maximum ", "Device 6", "Device 7", "Device 8"};
  for (int n = 1; n <= 8; n++) {
    EXPECT_EQ(ContentOf(OutputNameLabel(n)), names[n - 1]);
    EXPECT_EQ(ContentOf(OutputStateLabel(n)), "---") << n;
  }
  for (int i = 1; i <= 4; i++) {
    EXPECT_EQ(ContentOf(AnalogNameLabel(i)), "Analog " + std::to_string(i));
    EXPECT_EQ(ContentOf(AnalogValueLabel(i)), "--.--") << i;
    EXPECT_EQ(ContentOf(AnalogUnitLabel(i)), "Volt") << i;
    EXPECT_EQ(ContentOf(DigitalNameLabel(i)), "Digital " + std::to_string(i));
    EXPECT_EQ(ContentOf(DigitalStateLabel(i)), "---") << i;
  }

  EXPECT_EQ(ContentOf(ButtonPulse1), "EIN / AUS");
  EXPECT_EQ(ContentOf(ButtonPulse2), "EIN / AUS");
  EXPECT_EQ(ContentOf(ButtonPulse8), "EIN / AUS");
  for (int n = 76; n <= 80; n++) EXPECT_EQ(ContentOf(n), "EIN") << n;
  for (int n = 86; n <= 90; n++) EXPECT_EQ(ContentOf(n), "AUS") << n;
  EXPECT_EQ(ContentOf(SpinDelay1), "1000");
  EXPECT_EQ(ContentOf(SpinDelay2), "200");
  EXPECT_EQ(ContentOf(SpinDelay8), "100");

  EXPECT_EQ(ContentOf(HeadingDevice), "Ger\xE4t");
  EXPECT_EQ(ContentOf(HeadingConsole),
            "Konsole f\xFCr direkte Befehle an das KORVALINEX-Board");

  EXPECT_EQ(ContentOf(LabelPingCountdown), "Ping war-ms / New Dat in 10 s");
  EXPECT_EQ(ContentOf(LabelRefreshMin), "1");
  EXPECT_EQ(ContentOf(LabelRefreshMax), "10");
  EXPECT_EQ(ContentOf(LabelRefreshSeconds), "10");

  EXPECT_EQ(ContentOf(ButtonConsoleSend), "Befehl Senden");
  EXPECT_EQ(ContentOf(ButtonCommandOverview),
            "Befehls\xFC"
            "bersicht");
  EXPECT_EQ(ContentOf(LabelQuit), "Programmende:");
  EXPECT_EQ(ContentOf(ButtonQuit), "QUIT");
  EXPECT_EQ(ContentOf(LabelBoardData),
            "Daten aus dem Board:\r\rFirmware:\ruC: ---\rVer: ---\rNIC: "
            "---\r\rEinstellungen:\rBoard-IP: ---\rSubnetz: ---\rGateway: ---");

  // The scale marks are right-aligned by leading blanks: two before the
  // two-digit marks 70..30, one before 50, 20, 10, 0 and 100.
  EXPECT_EQ(ContentOf(LabelLevelCaption), "Wasserstand");
  EXPECT_EQ(ContentOf(LabelLevelTop), " 100%");
  EXPECT_EQ(ContentOf(LabelLevel70), "  70%");
  EXPECT_EQ(ContentOf(LabelLevel50), " 50%");
  EXPECT_EQ(ContentOf(LabelLevel30), "  30%");
  EXPECT_EQ(ContentOf(LabelLevel0), " 0%");
  EXPECT_EQ(ContentOf(LabelCycleCaption), "Messz");
  EXPECT_EQ(ContentOf(LabelCyclePeriod), "0 s");
}

TEST_F(MainWindowTest, TooltipsNameTheOutputsWithTheirTrailingBlanks) {
  ASSERT_TRUE(BuildMainWindow());
  EXPECT_EQ(TooltipOf(74), "EIN/AUS-Schalter f\xFCr 'Device 1'");
  EXPECT_EQ(TooltipOf(76), "EIN-Schalter f\xFCr 'Messung '");
  EXPECT_EQ(TooltipOf(77), "EIN-Schalter f\xFCr 'Minimum '");
  EXPECT_EQ(TooltipOf(78), "EIN-Schalter f\xFCr 'Maximum '");
  EXPECT_EQ(TooltipOf(81), "EIN/AUS-Schalter f\xFCr 'Device 8'");
  EXPECT_EQ(TooltipOf(86), "AUS-Schalter f\xFCr 'Messung '");
  EXPECT_EQ(TooltipOf(83),
            "Schaltverz\xF6gerung f\xFCr Schalter 'Device 1'. G\xFCltige "
            "Eingabewerte = 1...10000");
  EXPECT_EQ(TooltipOf(91),
            "Schaltverz\xF6gerung f\xFCr Schalter 'Device 8'. G\xFCltige "
            "Eingabewerte = 1...10000");
  EXPECT_EQ(TooltipOf(110),
            "Sicherheitslock: Schalter zur Aktivierung des EIN/AUS-Schalters "
            "f\xFCr 'Device 8'");
  EXPECT_EQ(TooltipOf(82), "Programm beenden");
  EXPECT_EQ(TooltipOf(97),
            "Konsolenbefehl hier eingeben und anschlie\xDF"
            "end 'Befehl Senden' anklicken");
  EXPECT_EQ(TooltipOf(93),
            "\xDC"
            "bersicht der m\xF6glichen Konsolen-Befehle");
  EXPECT_EQ(TooltipOf(98),
            "Hier erscheinen Ihre Konsolenbefehle mit entsprechenden "
            "R\xFC"
            "ckmeldungen des KORVALINEX");
  EXPECT_EQ(TooltipOf(100), "Kleine Beschreibung des KORVALINEX");
  EXPECT_EQ(TooltipOf(101),
            "Abfrageintervall der Messdaten. Von 1...10 Sekunden einstellbar");

  // Labels, the level bar and the cycle trackbar have none.
  for (int number : kCreationOrder) {
    ControlKind kind = HeadlessFindControl(number)->Kind;
    if (kind == KindLabel || kind == KindProgressBar || number == 102) {
      EXPECT_EQ(TooltipOf(number), "") << number;
    }
  }
}

TEST_F(MainWindowTest, TextsRangesAndTooltipsFollowTheStateAtBuildTime) {
  AppState.OutputName[1] = "Pumpe";
  AppState.OutputName[8] = "Alarm";
  AppState.MinSwitchDelay[1] = 5;
  AppState.MaxSwitchDelay[1] = 500;
  AppState.SwitchDelayText[1] = "250";
  AppState.MaxSwitchDelay[8] = 3000;
  AppState.RefreshInterval = 20000;
  AppState.InitialRefreshInterval = 30000;
  AppState.CyclePeriod = 42;
  ASSERT_TRUE(BuildMainWindow());

  EXPECT_EQ(ContentOf(OutputNameLabel(1)), "Pumpe");
  EXPECT_EQ(TooltipOf(74), "EIN/AUS-Schalter f\xFCr 'Pumpe'");
  EXPECT_EQ(TooltipOf(83),
            "Schaltverz\xF6gerung f\xFCr Schalter 'Pumpe'. G\xFCltige "
            "Eingabewerte = 5...500");
  EXPECT_EQ(ContentOf(SpinDelay1), "250");
  EXPECT_EQ(HeadlessFindControl(SpinDelay1)->Min, 5);
  EXPECT_EQ(HeadlessFindControl(SpinDelay1)->Max, 500);
  EXPECT_EQ(HeadlessFindControl(SpinDelay8)->Max, 3000);
  EXPECT_EQ(TooltipOf(91),
            "Schaltverz\xF6gerung f\xFCr Schalter 'Alarm'. G\xFCltige "
            "Eingabewerte = 1...3000");
  EXPECT_EQ(TooltipOf(110),
            "Sicherheitslock: Schalter zur Aktivierung des EIN/AUS-Schalters "
            "f\xFCr 'Alarm'");

  EXPECT_EQ(HeadlessFindControl(TrackbarRefresh)->Max, 20);
  EXPECT_EQ(TooltipOf(101),
            "Abfrageintervall der Messdaten. Von 1...20 Sekunden einstellbar");
  EXPECT_EQ(ContentOf(LabelRefreshSeconds), "20");
  EXPECT_EQ(ContentOf(LabelRefreshMax), "30");
  EXPECT_EQ(ContentOf(LabelPingCountdown), "Ping war-ms / New Dat in 20 s");
  EXPECT_EQ(ContentOf(LabelCyclePeriod), "42 s");
}

TEST_F(MainWindowTest, StartStatesOfSwitchesSlidersAndBar) {
  ASSERT_TRUE(BuildMainWindow());
  // Output 8 stays locked until the safety lock is ticked.
  const HeadlessControl* lock = HeadlessFindControl(CheckSafetyLock);
  ASSERT_NE(lock, nullptr);
  EXPECT_FALSE(lock->Checked);
  EXPECT_FALSE(PlatIsEnabled(ButtonPulse8));
  for (int number : kCreationOrder)
    if (number != ButtonPulse8) {
      EXPECT_TRUE(HeadlessFindControl(number)->Enabled) << number;
    }

  const HeadlessControl* refresh = HeadlessFindControl(TrackbarRefresh);
  EXPECT_EQ(refresh->Min, 1);
  EXPECT_EQ(refresh->Max, 10);
  EXPECT_EQ(refresh->Value, 1);
  EXPECT_EQ(PlatGetValue(TrackbarRefresh), 1);

  const HeadlessControl* cycle = HeadlessFindControl(TrackbarCycle);
  EXPECT_EQ(cycle->Min, 0);
  EXPECT_EQ(cycle->Max, 4000);
  EXPECT_EQ(cycle->Value, 0);
  EXPECT_EQ(PlatGetValue(TrackbarCycle), 0);

  const HeadlessControl* level = HeadlessFindControl(ProgressLevel);
  EXPECT_EQ(level->Min, 0);
  EXPECT_EQ(level->Max, 400);
  EXPECT_EQ(level->Value, 0);

  for (int number : {SpinDelay1, SpinDelay2, SpinDelay8}) {
    EXPECT_EQ(HeadlessFindControl(number)->Min, 1) << number;
    EXPECT_EQ(HeadlessFindControl(number)->Max, 10000) << number;
  }
}

TEST_F(MainWindowTest, OnlyHeadingsUseSystemFontAndOnlyBoardDataIsBlue) {
  ASSERT_TRUE(BuildMainWindow());
  for (int number : kCreationOrder) {
    const HeadlessControl* c = HeadlessFindControl(number);
    EXPECT_EQ(c->SystemFont, kHeadings.count(number) == 1) << number;
    EXPECT_EQ(c->HasTextColour, number == LabelBoardData) << number;
    EXPECT_FALSE(c->HasBarColour) << number;
  }
  EXPECT_EQ(HeadlessFindControl(LabelBoardData)->TextColour, 0x00FF0000u);
}

}  // namespace
