#include "base/clock_text.h"

#include <cstdio>
#include <string>

int64_t FloorDiv(int64_t a, int64_t b) {
  return a / b - ((a % b != 0) && ((a < 0) != (b < 0)) ? 1 : 0);
}

int64_t DaysOfDate(int day, int month, int year) {
  int64_t y = year - (month <= 2 ? 1 : 0);
  int64_t era = FloorDiv(y, 400);
  int64_t yoe = y - era * 400;
  int64_t mp = (month + 9) % 12;
  int64_t doy = (153 * mp + 2) / 5 + day - 1;
  int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

void DateOfDays(int64_t days, int* day, int* month, int* year) {
  days += 719468;
  int64_t era = FloorDiv(days, 146097);
  int64_t doe = days - era * 146097;
  int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  int64_t mp = (5 * doy + 2) / 153;
  *day = (int)(doy - (153 * mp + 2) / 5 + 1);
  *month = (int)(mp < 10 ? mp + 3 : mp - 9);
  *year = (int)(yoe + era * 400 + (*month <= 2 ? 1 : 0));
}

int64_t DayOfTime(int64_t time) { return FloorDiv(time, 86400); }

int SecondOfDay(int64_t time) { return (int)(time - DayOfTime(time) * 86400); }

int MonthOfTime(int64_t time) {
  int day = 0, month = 0, year = 0;
  DateOfDays(DayOfTime(time), &day, &month, &year);
  return year * 12 + month - 1;
}

int64_t LeadOf(int64_t local, int64_t universal) {
  int64_t lead = local - universal;
  return FloorDiv(lead + 450, 900) * 900;
}

namespace {

// A time taken apart.
struct ClockParts {
  int Day, Month, Year;
  int Hour, Minute, Second;
};

ClockParts PartsOf(int64_t time) {
  ClockParts p{};
  DateOfDays(DayOfTime(time), &p.Day, &p.Month, &p.Year);
  int second = SecondOfDay(time);
  p.Hour = second / 3600;
  p.Minute = second / 60 % 60;
  p.Second = second % 60;
  return p;
}

}  // namespace

Text DateTimeText(int64_t time) {
  ClockParts p = PartsOf(time);
  char text[40];
  snprintf(text, sizeof text, "%02d.%02d.%04d %02d:%02d:%02d", p.Day, p.Month,
           p.Year, p.Hour, p.Minute, p.Second);
  return text;
}

Text IsoDateTimeText(int64_t time) {
  ClockParts p = PartsOf(time);
  char text[40];
  snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d", p.Year, p.Month,
           p.Day, p.Hour, p.Minute, p.Second);
  return text;
}

Text FileDateText(int64_t time) {
  ClockParts p = PartsOf(time);
  char text[40];
  snprintf(text, sizeof text, "%04d-%02d-%02d", p.Year, p.Month, p.Day);
  return text;
}

Text YearMonthText(int month) {
  char text[40];
  snprintf(text, sizeof text, "%04d-%02d", month / 12, month % 12 + 1);
  return text;
}

Text DayMonthText(int64_t time) {
  ClockParts p = PartsOf(time);
  char text[16];
  snprintf(text, sizeof text, "%02d.%02d.", p.Day, p.Month);
  return text;
}

Text HourMinuteText(int64_t time) {
  ClockParts p = PartsOf(time);
  char text[16];
  snprintf(text, sizeof text, "%02d:%02d", p.Hour, p.Minute);
  return text;
}

Text HourMinuteSecondText(int64_t time) {
  ClockParts p = PartsOf(time);
  char text[16];
  snprintf(text, sizeof text, "%02d:%02d:%02d", p.Hour, p.Minute, p.Second);
  return text;
}

Text DisplayDateTimeText(int64_t time) {
  ClockParts p = PartsOf(time);
  char text[40];
  snprintf(text, sizeof text, "%02d.%02d.%04d/%02d:%02d", p.Day, p.Month,
           p.Year, p.Hour, p.Minute);
  return text;
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

bool ReadDateTimeText(const Text& text, int64_t* time) {
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

// "2 h 05 min": whole hours and the minutes beyond them, two digits.
static Text HoursMinutesText(int64_t minutes) {
  return std::to_string(minutes / 60) + " h " + (minutes % 60 < 10 ? "0" : "") +
         std::to_string(minutes % 60) + " min";
}

Text AgeText(int64_t ms) {
  int64_t s = ms < 0 ? 0 : ms / 1000;
  if (s < 60) return std::to_string(s) + " s";
  if (s < 3600)
    return std::to_string(s / 60) + " min " + std::to_string(s % 60) + " s";
  if (s < 86400) return HoursMinutesText(s / 60);
  int64_t days = s / 86400;
  return std::to_string(days) + (days == 1 ? " Tag" : " Tage");
}

Text SleepDurationText(int64_t ms) {
  int64_t seconds = ms > 0 ? ms / 1000 : 0;
  int64_t minutes = seconds / 60, hours = minutes / 60, days = hours / 24;
  if (days > 0)
    return std::to_string(days) + (days == 1 ? " Tag " : " Tage ") +
           std::to_string(hours % 24) + " h";
  if (hours > 0)
    return std::to_string(hours) + " h " + std::to_string(minutes % 60) +
           " min";
  if (minutes > 0) return std::to_string(minutes) + " min";
  return std::to_string(seconds) + " s";
}

Text OnTimeText(int64_t seconds) {
  int64_t minutes = seconds / 60;
  return minutes >= 60 ? HoursMinutesText(minutes)
                       : std::to_string(minutes) + " min";
}
