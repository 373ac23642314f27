#include "ui/console.h"

#include <cstring>
#include <string>

#include "app/state.h"
#include "board/connection.h"
#include "board/poll.h"
#include "ui/board_view.h"
#include "ui/click.h"
#include "ui/control_numbers.h"
#include "ui/held_buttons.h"

// Lower case of one Windows-1252 byte: A-Z, À-Þ except × (D7), and the four
// letters whose small forms lie elsewhere in the code page (Š, Œ, Ž, Ÿ).
static unsigned char LowerLetter1252(unsigned char c) {
  if (c >= 'A' && c <= 'Z') return (unsigned char)(c + 0x20);
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return (unsigned char)(c + 0x20);
  switch (c) {
    case 0x8A:  // Š
    case 0x8C:  // Œ
    case 0x8E:  // Ž
      return (unsigned char)(c + 0x10);
    case 0x9F:  // Ÿ
      return 0xFF;
    default:
      return c;
  }
}

// A display command starts with the word WriteLCD in any mix of upper and
// lower case; it goes out as a 100-byte block instead of a text.
static bool IsDisplayCommand(const Text& command) {
  static const char Word[] = "writelcd";
  const size_t wordLength = sizeof Word - 1;
  if (command.size() < wordLength) return false;
  for (size_t i = 0; i < wordLength; i++) {
    if (LowerLetter1252((unsigned char)command[i]) != (unsigned char)Word[i])
      return false;
  }
  return true;
}

const char NoConnectionText[] = "Keine Verbindung zum KORVALINEX-Board!";

void ShowNoConnection(const Text& what) {
  PlatRichClear(RichConsole);
  PlatRichSetColour(RichConsole, AppState.ColourRed);
  PlatRichAppend(RichConsole, NoConnectionText);
  PlatRichAppend(RichConsole, what);
}

void SendConsoleCommand() {
  if (!BoardConnected()) {
    ShowNoConnection("Der Befehl wurde nicht gesendet.");
    FocusButton(ButtonConsoleSend);
    return;
  }
  EnableButton(ButtonConsoleSend, false);
  PlatRichClear(RichConsole);

  ReplyBuffer* buffer = &AppState.CommandBuffer;
  if (buffer->Bytes) memset(buffer->Bytes, ' ', buffer->Size);

  // A field's text ends at its first zero byte, as the window system keeps
  // it; a zero byte in a text command would make the board take it for a
  // display block and swallow the commands that follow it.
  AppState.ConsoleCommandText = PlatGetText(EditConsole);
  size_t zero = AppState.ConsoleCommandText.find('\0');
  if (zero != Text::npos) AppState.ConsoleCommandText.resize(zero);

  // A display command longer than 99 characters does not fit the block
  // together with its zero byte: SendBlock sends its first 99 characters.
  // The board shows only 16 per line anyway; the echo line keeps the text
  // as typed.
  if (IsDisplayCommand(AppState.ConsoleCommandText))
    SendBlock(AppState.ConsoleCommandText);
  else
    SendCommand(AppState.ConsoleCommandText);

  // Any command may be answered in several lines, and the operator may
  // type one the board answers at length (HELP): the reply is read whole,
  // its first 100 bytes kept. What else the board may still send is no
  // command's of the program's: the link is in doubt until proven quiet.
  int got = ReceiveReply(buffer, CommandBufferSize, ProvenSettleTime);
  AppState.LinkInDoubt = true;
  PlaySwitchSound();
  AppState.ConsoleReplyText = ReplyText(buffer);

  if (got > 0) {
    PlatRichClear(RichConsole);
    PlatRichSetColour(RichConsole, AppState.ColourBlue);
    PlatRichAppend(RichConsole, ">" + AppState.ConsoleCommandText);
    PlatRichAppend(RichConsole, AppState.ConsoleReplyText);
  } else {
    ShowNoConnection("Keine Antwort auf >" + AppState.ConsoleCommandText);
  }

  PollBoard();
  ShowBoard();

  // Held until the clicks made during the exchange are taken.
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
  PlatRichSetColour(RichConsole, AppState.ColourRed);
  for (const OverviewLine& line : CommandOverview) {
    Text text = line.Command;
    text.append(line.Blanks, ' ');
    text += line.Description;
    PlatRichAppend(RichConsole, text);
  }
  FocusButton(ButtonConsoleSend);
}
