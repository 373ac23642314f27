#include "app/command_line.h"

#include <cstring>
#include <string>

#include "base/state.h"
#include "web/web_request.h"

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
    "[/sensor schutz|halten [/sensor-bereich V:V] [/sensor-werte WERTE]] "
    "[/mqtt IP:PORT [/mqtt-name NAME] [/mqtt-login DATEI]] "
    "[ADRESSE [PORT]]\r\n"
    "ORDNER: Ordner für das Protokoll des Wasserstands\r\n"
    "BEFEHL: Programm oder Skript (.cmd), das bei jedem Alarm startet\r\n"
    "HH:MM: Uhrzeit des täglichen Lebenszeichens (nur mit /alarm)\r\n"
    "IP:PORT: Adresse dieses PCs und Port der Statusseite, etwa "
    "192.168.1.20:8080\r\n"
    "SCHLÜSSEL: 1 bis 64 Zeichen A-Z a-z 0-9 . _ ~ - (nur mit /web)\r\n"
    "schutz|halten: bei Sensorfehler Trockenlaufschutz ein oder Zustand "
    "halten\r\n"
    "V:V: Messbereich des Sensors in Volt, etwa 0,88:4,40 (nur mit "
    "/sensor)\r\n"
    "WERTE: etwa oben=4,90;sprung=0,50 (nur mit /sensor)\r\n"
    "IP:PORT nach /mqtt: Adresse und Port des MQTT-Brokers, etwa "
    "192.168.1.10:1883\r\n"
    "NAME: 1 bis 12 Zeichen A-Z a-z 0-9 _ - (nur mit /mqtt)\r\n"
    "DATEI: Textdatei mit Benutzer und Passwort in zwei Zeilen (nur mit "
    "/mqtt)\r\n"
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
    {"/sensor", "Handlung", &ProgramOptions::SensorActionText, 6},
    {"/sensor-bereich", "Messbereich", &ProgramOptions::SensorSpanText, 20},
    {"/sensor-werte", "Wert", &ProgramOptions::SensorFiguresText,
     LongestSensorFigures},
    {"/mqtt", "Endpunkt", &ProgramOptions::MqttEndpoint, LongestWebEndpoint},
    {"/mqtt-name", "Name", &ProgramOptions::MqttName, LongestMqttName},
    {"/mqtt-login", "Dateiname", &ProgramOptions::MqttLoginFile,
     LongestAlarmCommand},
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

// Decimal digits with one decimal comma or point, no sign, no blanks.
static bool ReadOperatorDecimal(const Text& text, double* number) {
  double value = 0;
  double scale = 0;  // 0 before the decimal sign
  int digits = 0;
  for (char c : text) {
    if ((c == ',' || c == '.') && scale == 0) {
      scale = 1;
    } else if (c >= '0' && c <= '9' && digits < 9) {
      digits++;
      if (scale == 0) {
        value = value * 10 + (c - '0');
      } else {
        scale /= 10;
        value += scale * (c - '0');
      }
    } else {
      return false;
    }
  }
  if (digits == 0) return false;
  *number = value;
  return true;
}

bool ReadSensorVolts(const Text& text, double* volts) {
  double value = 0;
  if (!ReadOperatorDecimal(text, &value) || value > 5.0) return false;
  *volts = value;
  return true;
}

// A whole number of decimal digits in lo..hi.
static bool ReadWhole(const Text& text, int lo, int hi, int* number) {
  if (text.empty() || text.size() > 5) return false;
  int value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  if (value < lo || value > hi) return false;
  *number = value;
  return true;
}

// The figures /sensor-werte knows: the name, its unit and bounds as the
// box says them, where it goes; volts (or a percentage) or whole numbers.
struct SensorFigureForm {
  const char* Name;
  const char* Bounds;
  double SensorFigures::*Decimal;
  int SensorFigures::*Whole;
  double Lowest, Highest;
};
static const SensorFigureForm SensorFigureForms[] = {
    {"oben", "Volt von 1,00 bis 5,00", &SensorFigures::TopVolts, nullptr, 1.0,
     5.0},
    {"rand", "Prozent von 0 bis 50", &SensorFigures::MarginPercent, nullptr,
     0.0, 50.0},
    {"stromlos", "Volt von 0,01 bis 5,00", &SensorFigures::UnpoweredVolts,
     nullptr, 0.01, 5.0},
    {"reaktion", "Zählschritte von 0 bis 1023", nullptr,
     &SensorFigures::NoResponseCounts, 0, 1023},
    {"streuung", "Volt von 0,01 bis 5,00", &SensorFigures::SpreadVolts, nullptr,
     0.01, 5.0},
    {"sprung", "Volt von 0,01 bis 5,00", &SensorFigures::JumpVolts, nullptr,
     0.01, 5.0},
    {"flach", "Zählschritte von 0 bis 1023", nullptr,
     &SensorFigures::FlatCounts, 0, 1023},
    {"flach-stunden", "Stunden von 0 (aus) bis 8760", nullptr,
     &SensorFigures::FlatHours, 0, 8760},
    {"ausfall", "Zyklen von 1 bis 100", nullptr, &SensorFigures::FailSafeCycles,
     1, 100},
    {"gut", "Zyklen von 1 bis 100", nullptr, &SensorFigures::GoodCycles, 1,
     100},
};

static const char SensorFiguresForm[] =
    "\r\n\r\nRichtig: /sensor-werte \"NAME=WERT;NAME=WERT...\"\r\n"
    "oben=4,90 (Volt: Messwert am oberen Ende des Eingangs)\r\n"
    "rand=2,5 (Prozent des Messbereichs unter dem Nullpunkt)\r\n"
    "stromlos=0,10 (Volt: Eingang ohne Sensorstrom)\r\n"
    "reaktion=2 (Zählschritte: keine Antwort auf den Sensorstrom)\r\n"
    "streuung=0,20 (Volt innerhalb eines Zyklus)\r\n"
    "sprung=0,50 (Volt Anstieg zwischen zwei Zyklen)\r\n"
    "flach=1 (Zählschritte) flach-stunden=24 (Stunden, 0: aus)\r\n"
    "ausfall=2 (Zyklen bis zur Sicherheitshandlung)\r\n"
    "gut=2 (gute Zyklen bis Sensor in Ordnung)";

static Text TrimBlanks(const Text& text) {
  size_t a = 0, b = text.size();
  while (a < b && IsSeparator(text[a])) a++;
  while (b > a && IsSeparator(text[b - 1])) b--;
  return text.substr(a, b - a);
}

bool ReadSensorFigures(const Text& text, SensorFigures* figures,
                       Text* problem) {
  SensorFigures read = *figures;
  bool seen[sizeof SensorFigureForms / sizeof SensorFigureForms[0]] = {};
  size_t start = 0;
  int pairs = 0;
  while (start <= text.size()) {
    size_t end = text.find(';', start);
    if (end == Text::npos) end = text.size();
    Text pair = TrimBlanks(text.substr(start, end - start));
    start = end + 1;
    if (pair.empty()) continue;
    pairs++;
    size_t equals = pair.find('=');
    Text name = TrimBlanks(pair.substr(0, equals));
    const SensorFigureForm* form = nullptr;
    for (const SensorFigureForm& f : SensorFigureForms)
      if (SameNameAnyCase(name, f.Name)) form = &f;
    if (!form) {
      *problem = "Nach /sensor-werte ist " + Shown(name) +
                 " kein bekannter Wert." + SensorFiguresForm;
      return false;
    }
    size_t which = (size_t)(form - SensorFigureForms);
    if (seen[which]) {
      *problem = Text("Nach /sensor-werte ist ") + form->Name +
                 " zweimal angegeben." + SensorFiguresForm;
      return false;
    }
    seen[which] = true;
    Text value =
        equals == Text::npos ? Text() : TrimBlanks(pair.substr(equals + 1));
    bool good;
    if (form->Decimal) {
      double v = 0;
      good = ReadOperatorDecimal(value, &v);
      good = good && v >= form->Lowest && v <= form->Highest;
      if (good) read.*(form->Decimal) = v;
    } else {
      int v = 0;
      good = ReadWhole(value, (int)form->Lowest, (int)form->Highest, &v);
      if (good) read.*(form->Whole) = v;
    }
    if (!good) {
      *problem = Text("Der Wert von ") + form->Name + " nach /sensor-werte " +
                 Shown(value) + " ist keine Zahl in " + form->Bounds + "." +
                 SensorFiguresForm;
      return false;
    }
  }
  if (pairs == 0) {
    *problem = Text("Nach /sensor-werte steht kein Wert.") + SensorFiguresForm;
    return false;
  }
  *figures = read;
  return true;
}

bool MqttNameForm(const Text& name) {
  if (name.empty() || name.size() > LongestMqttName) return false;
  for (char c : name) {
    bool fits = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                (c >= '0' && c <= '9') || c == '_' || c == '-';
    if (!fits) return false;
  }
  return true;
}

// /mqtt, /mqtt-name and /mqtt-login: the broker's address and port, the
// client's name (brunnen unless given).
static bool ReadMqttOptions(ProgramOptions* read, Text* problem) {
  if (read->MqttEndpoint.empty()) {
    const char* alone = !read->MqttName.empty()        ? "/mqtt-name"
                        : !read->MqttLoginFile.empty() ? "/mqtt-login"
                                                       : nullptr;
    if (!alone) return true;
    *problem = Text(alone) +
               " gilt nur mit /mqtt: ohne Broker wird der Wert nicht "
               "gebraucht." +
               RightFormWithOptions;
    return false;
  }
  if (!ReadWebEndpoint(read->MqttEndpoint, &read->MqttHost, &read->MqttPort)) {
    *problem = "Der Endpunkt nach /mqtt " + Shown(read->MqttEndpoint) +
               " ist keine IPv4-Adresse mit Port wie 192.168.1.10:1883 "
               "(Port 1 bis 65535)." +
               RightFormWithOptions;
    return false;
  }
  if (read->MqttName.empty()) {
    read->MqttName = DefaultMqttName;
  } else if (!MqttNameForm(read->MqttName)) {
    *problem = "Der Name nach /mqtt-name " + Shown(read->MqttName) +
               " hat Zeichen, die ein Thema beim Broker nicht trägt: erlaubt "
               "sind A-Z a-z 0-9 _ -" +
               RightFormWithOptions;
    return false;
  }
  return true;
}

bool ReadMqttLogin(const Text& bytes, Text* user, Text* password) {
  std::vector<Text> lines;
  size_t start = 0;
  while (start < bytes.size() && lines.size() < 3) {
    size_t end = bytes.find('\n', start);
    if (end == Text::npos) end = bytes.size();
    Text line = bytes.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
    start = end + 1;
  }
  while (!lines.empty() && lines.back().empty()) lines.pop_back();
  if (lines.size() != 2 || lines[0].empty() ||
      lines[0].size() > LongestMqttLogin || lines[1].size() > LongestMqttLogin)
    return false;
  for (const Text& line : lines)
    for (char c : line)
      if ((unsigned char)c < 0x20) return false;
  *user = lines[0];
  *password = lines[1];
  return true;
}

static const OptionForm* FindOption(const Text& argument) {
  for (const OptionForm& form : Options)
    if (SameNameAnyCase(argument, form.Name)) return &form;
  return nullptr;
}

// /sensor, /sensor-bereich and /sensor-werte into the sensor's settings.
static bool ReadSensorOptions(ProgramOptions* read, Text* problem) {
  SensorSettings& sensor = read->Sensor;
  if (read->SensorActionText.empty()) {
    const char* alone = !read->SensorSpanText.empty()      ? "/sensor-bereich"
                        : !read->SensorFiguresText.empty() ? "/sensor-werte"
                                                           : nullptr;
    if (!alone) return true;
    *problem = Text(alone) +
               " gilt nur mit /sensor: ohne die Prüfung des Sensors "
               "wird der Wert nicht gebraucht." +
               RightFormWithOptions;
    return false;
  }
  if (SameNameAnyCase(read->SensorActionText, "schutz")) {
    sensor.Action = SensorProtect;
  } else if (SameNameAnyCase(read->SensorActionText, "halten")) {
    sensor.Action = SensorHold;
  } else {
    *problem = "Die Handlung nach /sensor " + Shown(read->SensorActionText) +
               " ist weder schutz (bei Sensorfehler Trockenlaufschutz ein) "
               "noch halten (bei Sensorfehler Zustand halten)." +
               RightFormWithOptions;
    return false;
  }
  sensor.On = true;
  if (!read->SensorSpanText.empty()) {
    const Text& span = read->SensorSpanText;
    size_t colon = span.find(':');
    double zero = 0, top = 0;
    if (colon == Text::npos || !ReadSensorVolts(span.substr(0, colon), &zero) ||
        !ReadSensorVolts(span.substr(colon + 1), &top) || !(zero > 0) ||
        !(top > zero)) {
      *problem = "Der Messbereich nach /sensor-bereich " + Shown(span) +
                 " ist nicht NULLPUNKT:ENDWERT in Volt mit 0 < NULLPUNKT < "
                 "ENDWERT <= 5,00, etwa 0,88:4,40 für einen Sensor 4-20 mA "
                 "an 220 Ohm." +
                 RightFormWithOptions;
      return false;
    }
    sensor.SpanGiven = true;
    sensor.LiveZeroVolts = zero;
    sensor.SpanTopVolts = top;
  }
  if (!read->SensorFiguresText.empty() &&
      !ReadSensorFigures(read->SensorFiguresText, &sensor.Figures, problem))
    return false;
  return true;
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
  if (!ReadSensorOptions(&read, problem)) return false;
  if (!ReadMqttOptions(&read, problem)) return false;
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
  if (!ReadBoardArguments(board, &AppState.Settings.BoardAddress,
                          &AppState.Settings.BoardPort, problem))
    return false;
  AppState.Settings.LogFolder = options.LogFolder;
  AppState.Settings.AlarmCommand = options.AlarmCommand;
  AppState.Settings.AlarmDailyMinute = options.DailyMinute;
  if (!options.WebEndpoint.empty()) {
    size_t colon = options.WebEndpoint.rfind(':');
    AppState.Web.Settings.Address = options.WebEndpoint.substr(0, colon);
    AppState.Web.Settings.Bind = options.WebBind;
    AppState.Web.Settings.Port = options.WebPort;
    AppState.Web.Settings.Token = options.WebToken;
  }
  AppState.Sensor.Settings = options.Sensor;
  if (!options.MqttEndpoint.empty()) {
    MqttSettings mqtt{};
    size_t colon = options.MqttEndpoint.rfind(':');
    mqtt.Address = options.MqttEndpoint.substr(0, colon);
    mqtt.Host = options.MqttHost;
    mqtt.Port = options.MqttPort;
    mqtt.Name = options.MqttName;
    if (!options.MqttLoginFile.empty()) {
      const Text& file = options.MqttLoginFile;
      Text bytes;
      int64_t size = 0;
      ReadResult read =
          PlatReadFileStart(file, LongestMqttLoginFile + 1, &bytes, &size);
      if (read != FileRead) {
        *problem = "Die Anmeldedatei nach /mqtt-login " + Shown(file) +
                   (read == FileMissing ? Text(" gibt es nicht.")
                                        : Text(" lässt sich nicht lesen.")) +
                   RightFormWithOptions;
        return false;
      }
      if (size > LongestMqttLoginFile ||
          !ReadMqttLogin(bytes, &mqtt.User, &mqtt.Password)) {
        *problem = "Die Anmeldedatei nach /mqtt-login " + Shown(file) +
                   " hat nicht genau zwei Zeilen: den Benutzer (nicht leer) "
                   "und das Passwort, jede höchstens " +
                   std::to_string(LongestMqttLogin) + " Zeichen." +
                   RightFormWithOptions;
        return false;
      }
      mqtt.Login = true;
    }
    AppState.Mqtt.Settings = mqtt;
  }
  return true;
}
