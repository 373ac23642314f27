#include "ui/description_window.h"

#include "base/state.h"
#include "platform/platform.h"
#include "ui/click.h"
#include "ui/control_numbers.h"

const char DescriptionWindowTitle[] = "KORVALINEX: Infos zum KORVALINEX-Board";
const char MakerPageAddress[] = "http://www.example.com/korvalinex/";

// The description of the board, one item per appended line; a carriage
// return inside an item starts a further line in the box.
static const char* const DescriptionLines[] = {
    "Kurzbeschreibung des KORVALINEX-Boards:",
    "",
    "Das KORVALINEX-Board ist eine vollständig unabhängig arbeitende\r"
    "Elektronikplatine mit RS232-Schnittstelle und "
    "Ethernet-Netzwerkanschluß.",
    "",
    "Über die Ethernet-Schnittstelle und die RS232-Schnittstelle (über ein "
    "serielles\r"
    "Verbindungskabel), können Befehle an das Board geschickt werden. "
    "Hierzu\r"
    "können entsprechende Terminalprogramme wie \"PuTTY\" oder"
    "\"Hyperterminal\"\r"
    "benutzt werden.",
    "",
    "Mit diesem Board können, über ein internes Netzwerk oder das Internet, "
    "8 Geräte \r"
    "geschalten oder Datenabfragen verschiedener Messwerte (4 analoge und\r"
    "4 digitale Eingänge sind vorhanden) vorgenommen werden.",
    "",
    "Da das Board mit einem programmierbaren Atmel-Mikrocontroller "
    "ausgestattet ist,\r"
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
    "- 4 analoge Eingänge (10 Bit), die direkt über Anschlußklemmen "
    "zugeführt werden",
    "",
    "- ISP-Steckerleiste (Atmel-Standardbelegung) für die Programmierung\r"
    "  des Mikrocontrollers ATMega32 (geeigneter Adapter erforderlich!)",
    "- 10polige Pfostenleiste (Extension-Port) für weitere "
    "Mikrocontroller-Ports.\r"
    "  (z. B.:  ein HD44780-kompatibler Controller mit einem "
    "2x16-Zeichen-Display)",
    "",
    "- RS232-Schnittstelle (Tx, Rx) mit Pegelanpassung über MAX232",
    "",
    "- RJ45-Ethernet-Netzwerkanschluß mit 10 MBit/Sekunde\r"
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

void OpenDescriptionWindow() {
  // 20 pixels right of and below the main window as it stands now.
  int x = 0;
  int y = 0;
  PlatWindowOuterPosition(MainWindow, &x, &y);
  x += 20;
  y += 20;

  if (PlatWindowIsOpen(DescriptionWindow)) PlatCloseWindow(DescriptionWindow);
  if (!PlatOpenWindow(DescriptionWindow, FrameTitleOnly, DescriptionWindowTitle,
                      540, 590, false, x, y))
    return;

  PlatCreateControl(DescriptionWindow, RichDescription, KindRichText, 5, 5, 410,
                    555, "", PropReadOnly);
  PlatRichSetColour(RichDescription, Settings().ColourBlue);
  for (const char* line : DescriptionLines)
    PlatRichAppend(RichDescription, line);

  PlatCreateControl(DescriptionWindow, ButtonCloseDescription, KindButton, 40,
                    565, 140, 20, "Dieses Fenster schließen", 0);
  PlatCreateControl(DescriptionWindow, ButtonMakerPage, KindButton, 240, 565,
                    140, 20, "Brandolin-Homepage", 0);

  PlaySwitchSound();
}

void CloseDescriptionWindow() {
  PlatCloseWindow(DescriptionWindow);
  PlaySwitchSound();
}

void OpenMakerPage() {
  PlaySwitchSound();
  PlatOpenAddress(MakerPageAddress);
}
