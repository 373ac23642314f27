#include "app/command_line.h"

#include <string>

#include "app/state.h"

static bool IsSeparator(char c) { return c == ' ' || c == '\t'; }

std::vector<Text> SplitCommandLine(const Text& line) {
  std::vector<Text> parts;
  size_t i = 0;
  const size_t n = line.size();

  // The program name: double quotes only group, nothing is escaped.
  Text name;
  bool quoted = false;
  for (; i < n && (quoted || !IsSeparator(line[i])); ++i) {
    if (line[i] == '"')
      quoted = !quoted;
    else
      name += line[i];
  }
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
    "[ADRESSE [PORT]]\r\n"
    "ORDNER: Ordner für das Protokoll des Wasserstands\r\n"
    "BEFEHL: Programm oder Skript (.cmd), das bei jedem Alarm startet\r\n"
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
};

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
  return true;
}
