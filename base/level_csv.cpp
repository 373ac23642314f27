#include "base/level_csv.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "base/clock_text.h"
#include "base/operator_numbers.h"
#include "base/state_words.h"
#include "base/wall_clock.h"

const char LevelCsvHeader[] =
    "Zeit;Art;Stand Ausgang 5 (V);Ausgang 5;Stand Ausgang 4 (V);Ausgang 4;"
    "Messwert;Meldung;Zeit (UTC)\r\n";
// The header before "Zeit (UTC)" came.
static const char EightColumnHeader[] =
    "Zeit;Art;Stand Ausgang 5 (V);Ausgang 5;Stand Ausgang 4 (V);Ausgang 4;"
    "Messwert;Meldung";

// The words of the "Art" column.
static const char MeasurementArt[] = "Messung";
static const char EventArt[] = "Ereignis";
static const int FieldCount = 9;
static const int EightFields = 8;

Text LevelLogFileName(int month) {
  return "korvalinex-" + YearMonthText(month) + ".csv";
}

static Text OutputText(int output) {
  if (output == 1) return "EIN";
  if (output == 0) return "AUS";
  return "";
}

// The words of the "Messwert" column: the reading trusted or in doubt,
// or, with the sensor's check, the sensor failed or suspect (the words
// every view uses).
static const char TrustedWord[] = "sicher";
static const char DoubtedWord[] = "unsicher";

static const char* ReadingWord(const LevelRecord& r) {
  if (r.Sensor == SensorFailed) return SensorFailedWord;
  if (r.Sensor == SensorSuspect) return SensorSuspectWord;
  return r.Doubted ? DoubtedWord : TrustedWord;
}

Text LevelCsvLine(const LevelRecord& r) {
  return DateTimeText(r.Time) + ";" + MeasurementArt + ";" +
         VoltsExactText(r.Level5) + ";" + OutputText(r.Output5) + ";" +
         VoltsExactText(r.Level4) + ";" + OutputText(r.Output4) + ";" +
         ReadingWord(r) + ";;" + DateTimeText(r.Universal) + "\r\n";
}

Text LevelCsvText(const LevelRing& history) {
  Text csv = LevelCsvHeader;
  for (int i = 0; i < history.Count; i++)
    csv += LevelCsvLine(RingEntry(history, i));
  return csv;
}

Text LevelCsvEventLine(int64_t time, int64_t universal, int output, int sent,
                       double level, const Text& message) {
  Text level5, level4, output5, output4;
  if (output == 5) {
    level5 = VoltsExactText(level);
    output5 = OutputText(sent);
  }
  if (output == 4) {
    level4 = VoltsExactText(level);
    output4 = OutputText(sent);
  }
  Text text = message;
  for (char& c : text)
    if (c == ';' || c == '\r' || c == '\n') c = ',';
  return DateTimeText(time) + ";" + EventArt + ";" + level5 + ";" + output5 +
         ";" + level4 + ";" + output4 + ";;" + text + ";" +
         DateTimeText(universal) + "\r\n";
}

static std::vector<Text> Fields(const Text& line) {
  std::vector<Text> fields(1);
  for (char c : line) {
    if (c == ';')
      fields.emplace_back();
    else
      fields.back() += c;
  }
  return fields;
}

// A level as LevelText writes it; an empty field is no level (NaN).
static bool ReadLevel(const Text& text, double* level) {
  if (text.empty()) {
    *level = NAN;
    return true;
  }
  if (text.size() > 380) return false;
  Text number;
  bool digit = false;
  for (char c : text) {
    if (c >= '0' && c <= '9') {
      digit = true;
      number += c;
    } else if (c == ',') {
      number += '.';
    } else if (c == '-' || c == '+' || c == 'E' || c == 'e') {
      number += c;
    } else {
      return false;
    }
  }
  if (!digit) return false;
  char* end = nullptr;
  double value = strtod(number.c_str(), &end);
  if (end != number.c_str() + number.size() || !std::isfinite(value))
    return false;
  *level = value;
  return true;
}

static bool ReadOutput(const Text& text, int8_t* output) {
  if (text == "EIN")
    *output = 1;
  else if (text == "AUS")
    *output = 0;
  else if (text.empty())
    *output = CommandNotSent;
  else
    return false;
  return true;
}

LevelCsvKind ReadLevelCsvLine(const Text& line, LevelRecord* r) {
  if (line + "\r\n" == LevelCsvHeader || line == EightColumnHeader)
    return LineHeader;
  std::vector<Text> f = Fields(line);
  if (f.size() != FieldCount && f.size() != EightFields) return LineForeign;
  LevelRecord read{};
  if (!ReadDateTimeText(f[0], &read.Time)) return LineForeign;
  read.Universal = UniversalUnknown;
  if (f.size() == FieldCount &&
      (!ReadDateTimeText(f[8], &read.Universal) ||
       std::llabs(read.Time - read.Universal) > 86400))
    return LineForeign;
  if (f[1] == EventArt) return LineEvent;
  if (f[1] != MeasurementArt || !f[7].empty()) return LineForeign;
  if (!ReadLevel(f[2], &read.Level5) || !ReadOutput(f[3], &read.Output5) ||
      !ReadLevel(f[4], &read.Level4) || !ReadOutput(f[5], &read.Output4))
    return LineForeign;
  if (f[6] == TrustedWord) {
    read.Doubted = false;
  } else if (f[6] == DoubtedWord) {
    read.Doubted = true;
  } else if (f[6] == SensorFailedWord || f[6] == SensorSuspectWord) {
    // A failed sensor's cycle is in doubt where the fail-safe was not done;
    // the line does not say, and its dry-run counts take it as trusted.
    read.Sensor = f[6] == SensorFailedWord ? SensorFailed : SensorSuspect;
  } else {
    return LineForeign;
  }
  *r = read;
  return LineMeasurement;
}

bool BeginsWithLevelCsvHeader(const Text& start) {
  if (start == LevelCsvHeader) return true;
  const Text eight = EightColumnHeader;
  if (start.compare(0, eight.size(), eight) != 0) return false;
  Text end = start.substr(eight.size(), 2);
  return end == "\r\n" || (!end.empty() && end[0] == '\n');
}

static const char ClockStepWords[] = "Uhr des PCs verstellt: ";
static const char ZoneChangeWords[] =
    "Ortszeit des PCs umgestellt (Zeitzone oder Sommerzeit): ";

static Text ChangeText(const char* words, int64_t fromLocal, int64_t toLocal) {
  int64_t by = toLocal - fromLocal;
  return Text(words) + ClockStepAmountText(by) + (by < 0 ? " zurück" : " vor") +
         " (von " + DateTimeText(fromLocal) + " auf " + DateTimeText(toLocal) +
         ")";
}

Text ClockStepMessage(int64_t fromLocal, int64_t toLocal) {
  return ChangeText(ClockStepWords, fromLocal, toLocal);
}

Text ZoneChangeMessage(int64_t fromLocal, int64_t toLocal) {
  return ChangeText(ZoneChangeWords, fromLocal, toLocal);
}

bool ReadClockStepLine(const Text& line, int64_t* step) {
  std::vector<Text> f = Fields(line);
  if ((f.size() != FieldCount && f.size() != EightFields) || f[1] != EventArt)
    return false;
  const Text& m = f[7];
  const Text words = ClockStepWords;
  if (m.compare(0, words.size(), words) != 0 || m.empty() || m.back() != ')')
    return false;
  size_t from = m.rfind(" (von ");
  size_t to = m.rfind(" auf ");
  if (from == Text::npos || to == Text::npos || to < from) return false;
  int64_t before = 0, after = 0;
  if (!ReadDateTimeText(m.substr(from + 6, to - from - 6), &before) ||
      !ReadDateTimeText(m.substr(to + 5, m.size() - to - 6), &after))
    return false;
  *step = after - before;
  return true;
}
