#include "ui/console.h"

#include <string>

#include "base/state.h"
#include "ui/click.h"
#include "ui/control_numbers.h"
#include "ui/held_buttons.h"

const char NoConnectionText[] = "Keine Verbindung zum KORVALINEX-Board!";

void ShowNoConnection(const Text& what) {
  PlatRichClear(RichConsole);
  PlatRichSetColour(RichConsole, Settings().ColourRed);
  PlatRichAppend(RichConsole, NoConnectionText);
  PlatRichAppend(RichConsole, what);
}

void ShowConsoleNotSent() {
  ShowNoConnection("Der Befehl wurde nicht gesendet.");
  FocusButton(ButtonConsoleSend);
}

// A field's text ends at its first zero byte, as the window system keeps
// it; a zero byte in a text command would make the board take it for a
// display block and swallow the commands that follow it. The echo line
// keeps the text as typed.
Text ConsoleCommandTyped() {
  Text command = PlatGetText(EditConsole);
  size_t zero = command.find('\0');
  if (zero != Text::npos) command.resize(zero);
  return command;
}

void ShowConsoleSending() {
  EnableButton(ButtonConsoleSend, false);
  PlatRichClear(RichConsole);
}

void ShowConsoleExchange(bool answered) {
  if (answered) {
    PlatRichClear(RichConsole);
    PlatRichSetColour(RichConsole, Settings().ColourBlue);
    PlatRichAppend(RichConsole, ">" + AppState.Console.ConsoleCommandText);
    PlatRichAppend(RichConsole, AppState.Console.ConsoleReplyText);
  } else {
    ShowNoConnection("Keine Antwort auf >" +
                     AppState.Console.ConsoleCommandText);
  }
}

// Held until the clicks made during the exchange are taken.
void ShowConsoleDone() {
  EnableButton(ButtonConsoleSend, true);
  FocusButton(ButtonConsoleSend);
}

// One line of the command summary: the command, the blanks that line up
// its description, the description. Empty lines have neither.
struct OverviewLine {
  const char* Command;
  int Blanks;
  const char* Description;
};

static const OverviewLine CommandOverview[] = {
    {"Befehle für das KORVALINEX-Board", 0, ""},
    {"", 0, ""},
    {"GETPORT X", 8,
     "Ruft von digitalem Eingang X (1-4) Wert (1=AUF, 0=ZU) ab"},
    {"GETADC X", 11, "Ruft von analogem Eingang X (1-4) Wert (0-1023) ab"},
    {"SETPORT X.Y", 5, "Schaltet Ausgang X (1-8) auf Y (1=EIN, 0=AUS)"},
    {"GETSTATUS", 7, "Status der Ausgänge (S87654321) abfragen (1=EIN, 0=AUS)"},
    {"GETIP", 18, "IP-Einstellung abfragen"},
    {"GETMASK", 11, "Subnetzmaske abfragen"},
    {"GETGW", 15, "Gateway abfragen"},
    {"HELP", 20, "Hilfetext zum Board"},
    {"RESET", 17, "Board zurücksetzen (benötigt Neustart dieses Programms)"},
    {"VERSION", 13,
     "Abfrage von Microcontroller, Firmware, Netzwerkcontroller"},
    {"", 0, ""},
    {"SETIP X.X.X.X", 13, "IP-Einstellung setzen (benötigt Reboot des Boards)"},
    {"SETMASK X.X.X.X", 6, "Subnetzmaske setzen (benötigt Reboot des Boards)"},
    {"SETGW X.X.X.X", 10, "Gateway setzen (benötigt Reboot des Boards)"},
    {"", 0, ""},
    {"INITLCD", 23, "initialisiert angeschlossenes 2x16-Zeichen-Display"},
    {"WRITELCD X.Y", 11, "Gibt den Text Y in Display-Zeile X (1 oder 2) aus"},
    {"CLEARLCD [X]", 13, "Löscht gesamtes Display oder Zeile X (1 oder 2)"},
};

void ShowCommandOverview() {
  PlaySwitchSound();
  PlatRichClear(RichConsole);
  PlatRichSetColour(RichConsole, Settings().ColourRed);
  for (const OverviewLine& line : CommandOverview) {
    Text text = line.Command;
    text.append(line.Blanks, ' ');
    text += line.Description;
    PlatRichAppend(RichConsole, text);
  }
  FocusButton(ButtonConsoleSend);
}
