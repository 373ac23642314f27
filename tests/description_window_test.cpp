// The board description window: where it opens, what it holds, how it is
// replaced and closed, and the request for the maker's page.
#include "ui/description_window.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/state.h"
#include "platform/headless/headless.h"
#include "tests/program_fixture.h"
#include "tests/support/program_start.h"
#include "ui/control_numbers.h"
#include "ui/main_window.h"

namespace {

// The description as the operator reads it, one entry per line on the
// screen (the box keeps its lines apart with a carriage return). Its odd
// spots are the board's own text and stay: no blank between "oder" and
// the quote before Hyperterminal, a blank at the end of the line that ends
// in "8 Geräte ".
const std::vector<Text> ShownLines = {
    "Kurzbeschreibung des KORVALINEX-Boards:",
    "",
    "Das KORVALINEX-Board ist eine vollständig unabhängig arbeitende",
    "Elektronikplatine mit RS232-Schnittstelle und Ethernet-Netzwerkanschluß.",
    "",
    "Über die Ethernet-Schnittstelle und die RS232-Schnittstelle (über ein "
    "serielles",
    "Verbindungskabel), können Befehle an das Board geschickt werden. Hierzu",
    "können entsprechende Terminalprogramme wie \"PuTTY\" "
    "oder\"Hyperterminal\"",
    "benutzt werden.",
    "",
    "Mit diesem Board können, über ein internes Netzwerk oder das Internet, 8 "
    "Geräte ",
    "geschalten oder Datenabfragen verschiedener Messwerte (4 analoge und",
    "4 digitale Eingänge sind vorhanden) vorgenommen werden.",
    "",
    "Da das Board mit einem programmierbaren Atmel-Mikrocontroller "
    "ausgestattet ist,",
    "können auch eigene Projekte in das Board übertragen werden.",
    "",
    "Das KORVALINEX-Board ist mit folgenden Eigenschaften ausgestattet:",
    "",
    "- Mikrocontroller Atmel ATMega32",
    "- Netzwerkcontroller ENC28J60",
    "",
    "- 8 digitale Ausgänge, die über den 25poligen Sub-D-Stecker abgegriffen "
    "werden",
    "- 4 digitale Eingänge, die über den 25poligen Sub-D-Stecker zugeführt "
    "werden",
    "- 4 analoge Eingänge (10 Bit), die direkt über Anschlußklemmen zugeführt "
    "werden",
    "",
    "- ISP-Steckerleiste (Atmel-Standardbelegung) für die Programmierung",
    "  des Mikrocontrollers ATMega32 (geeigneter Adapter erforderlich!)",
    "- 10polige Pfostenleiste (Extension-Port) für weitere "
    "Mikrocontroller-Ports.",
    "  (z. B.:  ein HD44780-kompatibler Controller mit einem "
    "2x16-Zeichen-Display)",
    "",
    "- RS232-Schnittstelle (Tx, Rx) mit Pegelanpassung über MAX232",
    "",
    "- RJ45-Ethernet-Netzwerkanschluß mit 10 MBit/Sekunde",
    "  Übertragungsgeschwindigkeit",
    "",
    "- separate AVRef-Referenzspannungszuführung möglich",
    "",
    "- Betriebsspannung 9V~ oder 9V=",
    "- max. Stromaufnahme ca. 190mA",
    "",
    "Abmessungen der Platine (LxBxH): 108x76x22mm",
    "",
    "ACHTUNG: Ein Netzteil ist nicht im Lieferumfang des Boards!",
};

Text ShownText() {
  Text all;
  for (size_t i = 0; i < ShownLines.size(); i++)
    all += (i ? "\r" : "") + ShownLines[i];
  return all;
}

// The main window built from the defaults, no board; the click loaded so
// that it can be counted.
class DescriptionWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    StartFresh();
    ASSERT_TRUE(PlatStartSound());
    ASSERT_TRUE(PlatLoadClick());
    AppState.SoundLoaded = 1;
    ASSERT_TRUE(BuildMainWindow());
  }
};

}  // namespace

TEST_F(DescriptionWindowTest, OpensBesideTheMainWindowWithTheDescription) {
  int clicks = HeadlessClickCount();
  OpenDescriptionWindow();
  const HeadlessWindow* main = HeadlessFindWindow(MainWindow);
  const HeadlessWindow* w = HeadlessFindWindow(DescriptionWindow);
  ASSERT_NE(w, nullptr);
  EXPECT_TRUE(w->Open);
  EXPECT_GT(main->X, 0);  // the main window is centred, not at the edge
  EXPECT_EQ(w->X, main->X + 20);
  EXPECT_EQ(w->Y, main->Y + 20);
  EXPECT_EQ(w->Frame, FrameTitleOnly);
  EXPECT_EQ(w->Title, "KORVALINEX: Infos zum KORVALINEX-Board");
  EXPECT_EQ(w->ClientWidth, 540);
  EXPECT_EQ(w->ClientHeight, 590);
  EXPECT_EQ(HeadlessClickCount(), clicks + 1);
  EXPECT_TRUE(main->Open);

  EXPECT_EQ(HeadlessCreationOrder(DescriptionWindow),
            (std::vector<int>{99, 95, 96}));
  const HeadlessControl& box = C(RichDescription);
  EXPECT_EQ(box.Kind, KindRichText);
  EXPECT_TRUE(box.Properties & PropReadOnly);
  EXPECT_EQ(box.TextColour, Blue);
  EXPECT_EQ(box.Content, ShownText());
  EXPECT_EQ((std::vector<int>{box.X, box.Y, box.Width, box.Height}),
            (std::vector<int>{5, 5, 410, 555}));
  EXPECT_EQ(C(ButtonCloseDescription).Content, "Dieses Fenster schließen");
  EXPECT_EQ(
      (std::vector<int>{
          C(ButtonCloseDescription).X, C(ButtonCloseDescription).Y,
          C(ButtonCloseDescription).Width, C(ButtonCloseDescription).Height}),
      (std::vector<int>{40, 565, 140, 20}));
  EXPECT_EQ(C(ButtonMakerPage).Content, "Brandolin-Homepage");
  EXPECT_EQ(
      (std::vector<int>{C(ButtonMakerPage).X, C(ButtonMakerPage).Y,
                        C(ButtonMakerPage).Width, C(ButtonMakerPage).Height}),
      (std::vector<int>{240, 565, 140, 20}));
}

TEST_F(DescriptionWindowTest, SecondOpeningReplacesItAndCloseButtonClosesIt) {
  OpenDescriptionWindow();
  int clicks = HeadlessClickCount();
  OpenDescriptionWindow();
  const HeadlessWindow* w = HeadlessFindWindow(DescriptionWindow);
  EXPECT_TRUE(w->Open);
  EXPECT_EQ(w->OpenCount, 2);
  EXPECT_EQ(HeadlessCreationOrder(DescriptionWindow),
            (std::vector<int>{99, 95, 96}));
  EXPECT_EQ(C(RichDescription).Content,
            ShownText());  // not appended to the old text
  EXPECT_EQ(HeadlessClickCount(), clicks + 1);

  CloseDescriptionWindow();
  EXPECT_FALSE(w->Open);
  EXPECT_EQ(HeadlessFindControl(RichDescription), nullptr);
  EXPECT_EQ(HeadlessClickCount(), clicks + 2);
  EXPECT_TRUE(HeadlessFindWindow(MainWindow)->Open);
}

TEST_F(DescriptionWindowTest, PageButtonAsksTheShellEachTimeAndKeepsTheWindow) {
  OpenDescriptionWindow();
  int clicks = HeadlessClickCount();
  OpenMakerPage();
  OpenMakerPage();
  EXPECT_EQ(HeadlessOpenedAddresses(),
            (std::vector<Text>{MakerPageAddress, MakerPageAddress}));
  EXPECT_EQ(Text(MakerPageAddress).rfind("http://www.example.com/", 0), 0u);
  EXPECT_EQ(HeadlessClickCount(), clicks + 2);
  EXPECT_TRUE(HeadlessFindWindow(DescriptionWindow)->Open);
}

// Through the main loop: the picture opens the window, the main window
// keeps working beside it, 96 asks the shell and 95 closes it.
TEST_F(BoardTest, DescriptionWindowThroughTheMainLoop) {
  bool openWithMainFont = false;
  bool consoleWorked = false;
  Then([] {});
  Then([] { HeadlessPostClick(ButtonPicture); });
  Then([&] {
    const HeadlessControl* box = HeadlessFindControl(RichDescription);
    openWithMainFont =
        box && box->Font == HeadlessFindControl(ButtonConsoleSend)->Font;
    HeadlessTypeText(EditConsole, "GETIP");
    HeadlessPostClick(ButtonConsoleSend);
  });
  Then([&] {
    consoleWorked = HeadlessFindControl(RichConsole)
                        ->Content.rfind(">GETIP\r192.168.1.50", 0) == 0;
    HeadlessPostClick(ButtonMakerPage);
  });
  Then([] { HeadlessPostClick(ButtonCloseDescription); });
  RunSteps();
  EXPECT_TRUE(openWithMainFont);
  EXPECT_TRUE(consoleWorked);
  EXPECT_EQ(HeadlessOpenedAddresses().size(), 1u);
  EXPECT_FALSE(HeadlessFindWindow(DescriptionWindow)->Open);
}
