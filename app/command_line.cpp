#include "app/command_line.h"

#include <cstring>
#include <string>

#include "base/state.h"
#include "ui/web_request.h"

static bool IsSeparator(char c) { return c == ' ' || c == '\t'; }

// The program name: double quotes only group, nothing is escaped. Returns
// where it ends.
static size_t ProgramName(const Text& line, Text* name) {
  size_t i = 0;
  bool quoted = false;
  for (; i < line.size() && (quoted || !IsSeparator(line[i])); ++i) {
    if (line[i] == '"')
      quoted = !quoted;
    else
      *name += line[i];
  }
  return i;
}

Text ArgumentsAsGiven(const Text& line) {
  Text name;
  size_t i = ProgramName(line, &name);
  while (i < line.size() && IsSeparator(line[i])) ++i;
  return line.substr(i);
}

std::vector<Text> SplitCommandLine(const Text& line) {
  std::vector<Text> parts;
  const size_t n = line.size();
  Text name;
  size_t i = ProgramName(line, &name);
  bool quoted = false;
  parts.push_back(name);

  while (true) {
    while (i < n && IsSeparator(line[i])) ++i;
    if (i == n) break;
    Text part;
    quoted = false;
    while (i < n) {
      size_t backslashes = 0;
      while (i < n && line[i] == '\\') {
        ++backslashes;
        ++i;
      }
      if (i < n && line[i] == '"') {
        part.append(backslashes / 2, '\\');
        if (backslashes % 2 == 1) {
          part += '"';  // an escaped double quote
        } else if (quoted && i + 1 < n && line[i + 1] == '"') {
          part += '"';  // two within a quoted stretch
          ++i;
        } else {
          quoted = !quoted;
        }
        ++i;
        continue;
      }
      part.append(backslashes, '\\');
      if (i == n || (!quoted && IsSeparator(line[i]))) break;
      part += line[i++];
    }
    parts.push_back(part);
  }
  return parts;
}

static const char RightForm[] =
    "\r\n\r\nRichtig: korvalinex.exe [ADRESSE [PORT]]\r\n"
    "ADRESSE: IPv4-Adresse wie 192.168.1.50 oder Rechnername\r\n"
    "PORT: ganze Zahl von 1 bis 65535";

// The right form where the options are concerned.
static const char RightFormWithOptions[] =
    "\r\n\r\nRichtig: korvalinex.exe [/log ORDNER] [/alarm BEFEHL] "
    "[/alarm-taeglich HH:MM] [/web IP:PORT [/web-token SCHLÜSSEL]] "
    "[ADRESSE [PORT]]\r\n"
    "ORDNER: Ordner für das Protokoll des Wasserstands\r\n"
    "BEFEHL: Programm oder Skript (.cmd), das bei jedem Alarm startet\r\n"
    "HH:MM: Uhrzeit des täglichen Lebenszeichens (nur mit /alarm)\r\n"
    "IP:PORT: Adresse dieses PCs und Port der Statusseite, etwa "
    "192.168.1.20:8080\r\n"
    "SCHLÜSSEL: 1 bis 64 Zeichen A-Z a-z 0-9 . _ ~ - (nur mit /web)\r\n"
    "ADRESSE: IPv4-Adresse wie 192.168.1.50 oder Rechnername\r\n"
    "PORT: ganze Zahl von 1 bis 65535";

// The wrong argument as the operator sees it in the box: in double quotes,
// a long one cut.
static Text Shown(const Text& argument) {
  const size_t most = 40;
  if (argument.size() <= most) return "\"" + argument + "\"";
  return "\"" + argument.substr(0, most) + "...\"";
}

// A whole number in 1..65535, decimal digits only: no sign, no blanks.
static bool ReadPort(const Text& text, int* port) {
  if (text.empty()) return false;
  long value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
    if (value > 65535) return false;
  }
  if (value < 1) return false;
  *port = static_cast<int>(value);
  return true;
}

bool ReadBoardArguments(const std::vector<Text>& arguments, Text* address,
                        int* port, Text* problem) {
  if (arguments.size() > 2) {
    *problem = "Zu viele Angaben: " + Shown(arguments[2]) +
               " ist die dritte, erlaubt sind höchstens zwei." + RightForm;
    return false;
  }
  if (arguments.empty()) return true;
  const Text& givenAddress = arguments[0];
  if (givenAddress.empty()) {
    *problem = Text("Die Adresse (erste Angabe) ist leer.") + RightForm;
    return false;
  }
  if (givenAddress.size() > LongestBoardAddress) {
    *problem = "Die Adresse (erste Angabe) " + Shown(givenAddress) +
               " ist zu lang: " + std::to_string(givenAddress.size()) +
               " Zeichen, höchstens " + std::to_string(LongestBoardAddress) +
               " sind möglich." + RightForm;
    return false;
  }
  int givenPort = 0;
  if (arguments.size() == 2 && !ReadPort(arguments[1], &givenPort)) {
    *problem = "Der Port (zweite Angabe) " + Shown(arguments[1]) +
               " ist keine ganze Zahl von 1 bis 65535." + RightForm;
    return false;
  }
  *address = givenAddress;
  if (arguments.size() == 2) *port = givenPort;
  return true;
}

static bool SameNameAnyCase(const Text& a, const char* b) {
  size_t i = 0;
  for (; i < a.size() && b[i]; i++) {
    char x = a[i];
    char y = b[i];
    if (x >= 'A' && x <= 'Z') x = (char)(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = (char)(y - 'A' + 'a');
    if (x != y) return false;
  }
  return i == a.size() && !b[i];
}

// The options the program knows: the name, what its value is called in
// the box, the field of ProgramOptions the value goes to, and its longest.
struct OptionForm {
  const char* Name;
  const char* ValueName;
  Text ProgramOptions::*Value;
  size_t Longest;
};
static const OptionForm Options[] = {
    {"/log", "Ordner", &ProgramOptions::LogFolder, LongestLogFolder},
    {"/alarm", "Befehl", &ProgramOptions::AlarmCommand, LongestAlarmCommand},
    {"/alarm-taeglich", "Zeitpunkt", &ProgramOptions::DailyTime, 5},
    {"/web", "Endpunkt", &ProgramOptions::WebEndpoint, LongestWebEndpoint},
    {"/web-token", "Schlüssel", &ProgramOptions::WebToken, LongestWebToken},
};

static bool EndsWithAnyCase(const Text& text, const char* end) {
  size_t n = 0;
  while (end[n]) n++;
  return text.size() >= n && SameNameAnyCase(text.substr(text.size() - n), end);
}

// A script goes through cmd.exe, which would expand a % in its path and end
// its quoting at a ": the program never starts such a script, so it is
// refused here, at once, rather than failing at every event.
static bool ScriptPathRefused(const Text& command) {
  return (EndsWithAnyCase(command, ".cmd") ||
          EndsWithAnyCase(command, ".bat")) &&
         command.find_first_of("\"%") != Text::npos;
}

// A time of day as H:MM or HH:MM, 0:00 to 23:59: its minute of the day,
// -1 when it is none.
static int ReadTimeOfDay(const Text& text) {
  size_t colon = text.find(':');
  if (colon == Text::npos || colon < 1 || colon > 2 || text.size() != colon + 3)
    return -1;
  int hour = 0;
  int minute = 0;
  for (size_t i = 0; i < text.size(); i++) {
    if (i == colon) continue;
    char c = text[i];
    if (c < '0' || c > '9') return -1;
    if (i < colon)
      hour = hour * 10 + (c - '0');
    else
      minute = minute * 10 + (c - '0');
  }
  if (hour > 23 || minute > 59) return -1;
  return hour * 60 + minute;
}

// A dotted IPv4 address: four numbers 0..255 of one to three decimal
// digits, nothing else.
static bool ReadDottedAddress(const Text& text, uint32_t* address) {
  uint32_t value = 0;
  size_t i = 0;
  for (int part = 0; part < 4; part++) {
    if (part > 0) {
      if (i == text.size() || text[i] != '.') return false;
      i++;
    }
    int number = 0;
    size_t digits = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9' && digits < 3) {
      number = number * 10 + (text[i] - '0');
      i++;
      digits++;
    }
    if (digits == 0 || number > 255) return false;
    value = value << 8 | (uint32_t)number;
  }
  if (i != text.size()) return false;
  // Network byte order: the first number in the first byte.
  unsigned char bytes[4] = {(unsigned char)(value >> 24),
                            (unsigned char)(value >> 16),
                            (unsigned char)(value >> 8), (unsigned char)value};
  uint32_t network;
  memcpy(&network, bytes, 4);
  *address = network;
  return true;
}

bool ReadWebEndpoint(const Text& text, uint32_t* address, int* port) {
  size_t colon = text.rfind(':');
  if (colon == Text::npos) return false;
  uint32_t a;
  int p;
  if (!ReadDottedAddress(text.substr(0, colon), &a) ||
      !ReadPort(text.substr(colon + 1), &p))
    return false;
  *address = a;
  *port = p;
  return true;
}

static const OptionForm* FindOption(const Text& argument) {
  for (const OptionForm& form : Options)
    if (SameNameAnyCase(argument, form.Name)) return &form;
  return nullptr;
}

bool ReadOptions(const std::vector<Text>& arguments, ProgramOptions* options,
                 std::vector<Text>* rest, Text* problem) {
  ProgramOptions read;
  std::vector<bool> seen(sizeof Options / sizeof Options[0], false);
  size_t i = 0;
  for (; i < arguments.size(); i++) {
    const OptionForm* form = FindOption(arguments[i]);
    if (!form) break;
    Text name = form->Name;
    Text value = form->ValueName;
    size_t which = (size_t)(form - Options);
    if (seen[which]) {
      *problem = name + " ist zweimal angegeben." + RightFormWithOptions;
      return false;
    }
    if (i + 1 == arguments.size()) {
      *problem =
          "Nach " + name + " fehlt der " + value + "." + RightFormWithOptions;
      return false;
    }
    const Text& given = arguments[++i];
    if (given.empty()) {
      *problem = "Der " + value + " nach " + name + " ist leer." +
                 RightFormWithOptions;
      return false;
    }
    if (given.size() > form->Longest) {
      *problem = "Der " + value + " nach " + name + " " + Shown(given) +
                 " ist zu lang: " + std::to_string(given.size()) +
                 " Zeichen, höchstens " + std::to_string(form->Longest) +
                 " sind möglich." + RightFormWithOptions;
      return false;
    }
    seen[which] = true;
    read.*(form->Value) = given;
  }
  for (size_t later = i; later < arguments.size(); later++) {
    if (const OptionForm* form = FindOption(arguments[later])) {
      *problem = Text(form->Name) +
                 " steht hinter der Adresse; es gehört davor." +
                 RightFormWithOptions;
      return false;
    }
  }
  if (ScriptPathRefused(read.AlarmCommand)) {
    *problem = "Der Befehl nach /alarm " + Shown(read.AlarmCommand) +
               " wird nicht ausgeführt: ein Skript (.cmd, .bat) mit % oder \" "
               "im Pfad wird nie gestartet. Bitte das Skript in einen Ordner "
               "ohne diese Zeichen legen." +
               RightFormWithOptions;
    return false;
  }
  if (!read.DailyTime.empty()) {
    read.DailyMinute = ReadTimeOfDay(read.DailyTime);
    if (read.DailyMinute < 0) {
      *problem = "Der Zeitpunkt nach /alarm-taeglich " + Shown(read.DailyTime) +
                 " ist keine Uhrzeit HH:MM von 00:00 bis 23:59." +
                 RightFormWithOptions;
      return false;
    }
    if (read.AlarmCommand.empty()) {
      *problem = Text("/alarm-taeglich gilt nur mit /alarm: ohne ") +
                 "Alarmbefehl käme das tägliche Lebenszeichen bei niemandem "
                 "an." +
                 RightFormWithOptions;
      return false;
    }
  }
  if (!read.WebEndpoint.empty() &&
      !ReadWebEndpoint(read.WebEndpoint, &read.WebBind, &read.WebPort)) {
    *problem = "Der Endpunkt nach /web " + Shown(read.WebEndpoint) +
               " ist keine IPv4-Adresse mit Port wie 192.168.1.20:8080 "
               "(Port 1 bis 65535)." +
               RightFormWithOptions;
    return false;
  }
  if (!read.WebToken.empty()) {
    if (read.WebEndpoint.empty()) {
      *problem = Text("/web-token gilt nur mit /web: ohne ") +
                 "Statusseite gibt es nichts zu schützen." +
                 RightFormWithOptions;
      return false;
    }
    if (!WebTokenForm(read.WebToken)) {
      *problem = "Der Schlüssel nach /web-token " + Shown(read.WebToken) +
                 " hat Zeichen, die eine Adresse im Browser nicht unverändert "
                 "trägt: erlaubt sind A-Z a-z 0-9 . _ ~ -" +
                 RightFormWithOptions;
      return false;
    }
  }
  rest->assign(arguments.begin() + (long)i, arguments.end());
  *options = read;
  return true;
}

bool TakeBoardArguments(Text* problem) {
  std::vector<Text> parts = SplitCommandLine(PlatCommandLine());
  parts.erase(parts.begin());
  ProgramOptions options;
  std::vector<Text> board;
  if (!ReadOptions(parts, &options, &board, problem)) return false;
  if (!ReadBoardArguments(board, &AppState.BoardAddress, &AppState.BoardPort,
                          problem))
    return false;
  AppState.LogFolder = options.LogFolder;
  AppState.AlarmCommand = options.AlarmCommand;
  AppState.AlarmDailyMinute = options.DailyMinute;
  if (!options.WebEndpoint.empty()) {
    size_t colon = options.WebEndpoint.rfind(':');
    AppState.Web.Settings.Address = options.WebEndpoint.substr(0, colon);
    AppState.Web.Settings.Bind = options.WebBind;
    AppState.Web.Settings.Port = options.WebPort;
    AppState.Web.Settings.Token = options.WebToken;
  }
  return true;
}
