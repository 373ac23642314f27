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

bool TakeBoardArguments(Text* problem) {
  std::vector<Text> parts = SplitCommandLine(PlatCommandLine());
  parts.erase(parts.begin());
  return ReadBoardArguments(parts, &AppState.BoardAddress, &AppState.BoardPort,
                            problem);
}
