#include "base/level_csv.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

const char LevelCsvHeader[] =
    "Zeit;Art;Stand Ausgang 5 (V);Ausgang 5;Stand Ausgang 4 (V);Ausgang 4;"
    "Messwert;Meldung;Zeit (UTC)\r\n";
// The header before "Zeit (UTC)" came.
static const char EightColumnHeader[] =
    "Zeit;Art;Stand Ausgang 5 (V);Ausgang 5;Stand Ausgang 4 (V);Ausgang 4;"
    "Messwert;Meldung";

static const char MeasurementKind[] = "Messung";
static const char EventKind[] = "Ereignis";
static const int FieldCount = 9;
static const int EightFields = 8;

// Days since 1 January 1970 as a date of the Gregorian calendar.
static void DateOfDays(int64_t days, int* day, int* month, int* year) {
  days += 719468;
  int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  int64_t doe = days - era * 146097;
  int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  int64_t mp = (5 * doy + 2) / 153;
  *day = (int)(doy - (153 * mp + 2) / 5 + 1);
  *month = (int)(mp < 10 ? mp + 3 : mp - 9);
  *year = (int)(yoe + era * 400 + (*month <= 2 ? 1 : 0));
}

static int64_t DaysOfDate(int day, int month, int year) {
  int64_t y = year - (month <= 2 ? 1 : 0);
  int64_t era = (y >= 0 ? y : y - 399) / 400;
  int64_t yoe = y - era * 400;
  int64_t mp = (month + 9) % 12;
  int64_t doy = (153 * mp + 2) / 5 + day - 1;
  int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

static int64_t FloorDiv(int64_t a, int64_t b) {
  return a / b - ((a % b != 0) && ((a < 0) != (b < 0)) ? 1 : 0);
}

Text LevelCsvTime(int64_t time) {
  int64_t days = FloorDiv(time, 86400);
  int64_t second = time - days * 86400;
  int day = 0, month = 0, year = 0;
  DateOfDays(days, &day, &month, &year);
  char text[40];
  snprintf(text, sizeof text, "%02d.%02d.%04d %02d:%02d:%02d", day, month, year,
           (int)(second / 3600), (int)(second / 60 % 60), (int)(second % 60));
  return text;
}

int64_t LeadOf(int64_t local, int64_t universal) {
  int64_t lead = local - universal;
  return FloorDiv(lead + 450, 900) * 900;
}

int MonthOfTime(int64_t time) {
  int day = 0, month = 0, year = 0;
  DateOfDays(FloorDiv(time, 86400), &day, &month, &year);
  return year * 12 + month - 1;
}

Text LevelLogFileName(int month) {
  char name[40];
  snprintf(name, sizeof name, "korvalinex-%04d-%02d.csv", month / 12,
           month % 12 + 1);
  return name;
}

// The shortest fixed-point form that reads back as the same number, with a
// decimal comma; one in exponent form where fixed point would need more
// than 17 decimals. Empty for a level that is no number.
static Text LevelText(double level) {
  if (!std::isfinite(level)) return "";
  char text[400];
  bool exact = false;
  for (int decimals = 1; decimals <= 17 && !exact; decimals++) {
    snprintf(text, sizeof text, "%.*f", decimals, level);
    exact = strtod(text, nullptr) == level;
  }
  if (!exact) snprintf(text, sizeof text, "%.17E", level);
  Text out = text;
  for (char& c : out)
    if (c == '.') c = ',';
  return out;
}

static Text OutputText(int output) {
  if (output == 1) return "EIN";
  if (output == 0) return "AUS";
  return "";
}

Text LevelCsvLine(const LevelRecord& r) {
  return LevelCsvTime(r.Time) + ";" + MeasurementKind + ";" +
         LevelText(r.Level) + ";" + OutputText(r.Output5) + ";" +
         LevelText(r.Level4) + ";" + OutputText(r.Output4) + ";" +
         (r.Doubted ? "unsicher" : "sicher") + ";;" +
         LevelCsvTime(r.Universal) + "\r\n";
}

Text LevelCsvEventLine(int64_t time, int64_t universal, int output, int sent,
                       double level, const Text& message) {
  Text level5, level4, output5, output4;
  if (output == 5) {
    level5 = LevelText(level);
    output5 = OutputText(sent);
  }
  if (output == 4) {
    level4 = LevelText(level);
    output4 = OutputText(sent);
  }
  Text text = message;
  for (char& c : text)
    if (c == ';' || c == '\r' || c == '\n') c = ',';
  return LevelCsvTime(time) + ";" + EventKind + ";" + level5 + ";" + output5 +
         ";" + level4 + ";" + output4 + ";;" + text + ";" +
         LevelCsvTime(universal) + "\r\n";
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

// `count` decimal digits at `at`, as a number; -1 when they are not.
static int Digits(const Text& text, size_t at, size_t count) {
  if (at + count > text.size()) return -1;
  int value = 0;
  for (size_t i = at; i < at + count; i++) {
    if (text[i] < '0' || text[i] > '9') return -1;
    value = value * 10 + (text[i] - '0');
  }
  return value;
}

static bool ReadTime(const Text& text, int64_t* time) {
  if (text.size() != 19 || text[2] != '.' || text[5] != '.' ||
      text[10] != ' ' || text[13] != ':' || text[16] != ':')
    return false;
  int day = Digits(text, 0, 2), month = Digits(text, 3, 2),
      year = Digits(text, 6, 4), hour = Digits(text, 11, 2),
      minute = Digits(text, 14, 2), second = Digits(text, 17, 2);
  if (day < 1 || month < 1 || month > 12 || year < 1970 || hour < 0 ||
      hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59)
    return false;
  int64_t days = DaysOfDate(day, month, year);
  int d = 0, m = 0, y = 0;
  DateOfDays(days, &d, &m, &y);
  if (d != day) return false;  // a day the month does not have
  *time = days * 86400 + hour * 3600 + minute * 60 + second;
  return true;
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
  if (!ReadTime(f[0], &read.Time)) return LineForeign;
  read.Universal = UniversalUnknown;
  if (f.size() == FieldCount &&
      (!ReadTime(f[8], &read.Universal) ||
       std::llabs(read.Time - read.Universal) > 86400))
    return LineForeign;
  if (f[1] == EventKind) return LineEvent;
  if (f[1] != MeasurementKind || !f[7].empty()) return LineForeign;
  if (!ReadLevel(f[2], &read.Level) || !ReadOutput(f[3], &read.Output5) ||
      !ReadLevel(f[4], &read.Level4) || !ReadOutput(f[5], &read.Output4))
    return LineForeign;
  if (f[6] == "sicher")
    read.Doubted = false;
  else if (f[6] == "unsicher")
    read.Doubted = true;
  else
    return LineForeign;
  *r = read;
  return LineMeasurement;
}
