// The floor beneath the program's folders, on its own: the calendar and
// the texts of a time, the texts of volts.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "base/clock_text.h"
#include "base/operator_numbers.h"
#include "base/state.h"

namespace {

bool Leap(int year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int MonthLength(int month, int year) {
  static const int Days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return Days[month - 1] + (month == 2 && Leap(year) ? 1 : 0);
}

}  // namespace

// Day by day from 1900 to 2100, counted by hand: both ways of the
// calendar agree with the count, across leap days, 1900 and 2100 (no leap
// years) and 2000 (one), and before 1970.
TEST(Calendar, DaysAndDatesAgreeWithACountByHand) {
  int64_t days = -25567;  // 1 January 1900
  for (int year = 1900; year <= 2100; year++) {
    for (int month = 1; month <= 12; month++) {
      for (int day = 1; day <= MonthLength(month, year); day++, days++) {
        ASSERT_EQ(DaysOfDate(day, month, year), days)
            << day << "." << month << "." << year;
        int d = 0, m = 0, y = 0;
        DateOfDays(days, &d, &m, &y);
        ASSERT_EQ(d * 1000000 + m * 10000 + y,
                  day * 1000000 + month * 10000 + year)
            << days;
      }
    }
  }
  EXPECT_EQ(DaysOfDate(1, 1, 1970), 0);
}

TEST(Calendar, DaysAndSecondsRoundDownForEverySign) {
  EXPECT_EQ(FloorDiv(7, 2), 3);
  EXPECT_EQ(FloorDiv(-7, 2), -4);
  EXPECT_EQ(FloorDiv(7, -2), -4);
  EXPECT_EQ(FloorDiv(-7, -2), 3);
  EXPECT_EQ(FloorDiv(-8, 2), -4);
  EXPECT_EQ(DayOfTime(-1), -1);
  EXPECT_EQ(SecondOfDay(-1), 86399);
  EXPECT_EQ(DayOfTime(86400), 1);
  EXPECT_EQ(SecondOfDay(86400), 0);
  EXPECT_EQ(DateTimeText(-1), "31.12.1969 23:59:59");
  EXPECT_EQ(YearMonthText(2026 * 12 + 11), "2026-12");
  EXPECT_EQ(YearMonthText(2027 * 12), "2027-01");
}

// Clocks read a second or a few apart still give the lead of the zone.
TEST(Calendar, TheLeadIsTakenToWholeQuarterHours) {
  EXPECT_EQ(LeadOf(3600, 0), 3600);
  EXPECT_EQ(LeadOf(3601, 0), 3600);
  EXPECT_EQ(LeadOf(3599, 0), 3600);
  EXPECT_EQ(LeadOf(0, 1), 0);
  EXPECT_EQ(LeadOf(-19800 + 2, 0), -19800);                // 5:30 behind
  EXPECT_EQ(LeadOf(1000000 + 20700 - 3, 1000000), 20700);  // 5:45 ahead
}

// One instant in every form the program writes.
TEST(ClockText, EveryFormOfOneInstant) {
  int64_t t = DaysOfDate(9, 12, 2026) * 86400 + 10 * 3600 + 4 * 60 + 7;
  EXPECT_EQ(DateTimeText(t), "09.12.2026 10:04:07");
  EXPECT_EQ(IsoDateTimeText(t), "2026-12-09T10:04:07");
  EXPECT_EQ(FileDateText(t), "2026-12-09");
  EXPECT_EQ(DayMonthText(t), "09.12.");
  EXPECT_EQ(HourMinuteText(t), "10:04");
  EXPECT_EQ(HourMinuteSecondText(t), "10:04:07");
  EXPECT_EQ(DisplayDateTimeText(t), "09.12.2026/10:04");
  int64_t leapDay = DaysOfDate(29, 2, 2028) * 86400 + 86399;
  EXPECT_EQ(DateTimeText(leapDay), "29.02.2028 23:59:59");
  EXPECT_EQ(DateTimeText(leapDay + 1), "01.03.2028 00:00:00");
}

TEST(ClockText, ReadsBackItsOwnFormAndNothingElse) {
  for (int64_t t : {(int64_t)0, (int64_t)951782399, (int64_t)1796983200,
                    DaysOfDate(31, 12, 2099) * 86400 + 86399}) {
    int64_t back = -1;
    ASSERT_TRUE(ReadDateTimeText(DateTimeText(t), &back)) << t;
    EXPECT_EQ(back, t);
  }
  int64_t kept = 42;
  for (const char* foreign :
       {"30.02.2026 10:00:00", "29.02.2027 10:00:00", "31.12.1969 23:59:59",
        "01.13.2026 10:00:00", "01.01.2026 24:00:00", "01.01.2026 10:60:00",
        "01.01.2026 10:00:60", "1.01.2026 10:00:00", "01.01.2026 10:00:0",
        "01-01-2026 10:00:00", "01.01.2026T10:00:00", "01.01.2026 10:0a:00",
        ""}) {
    EXPECT_FALSE(ReadDateTimeText(foreign, &kept)) << foreign;
  }
  EXPECT_EQ(kept, 42);
}

// Two decimals, cut: what an alarm event says of its level and what the
// picture writes at its axis and thresholds.
TEST(VoltsText, HundredthsAreCutNotRounded) {
  EXPECT_EQ(VoltsToHundredths(1.187), "1,18");
  EXPECT_EQ(VoltsToHundredths(0.098), "0,09");
  EXPECT_EQ(VoltsToHundredths(10.5), "10,50");
  EXPECT_EQ(VoltsToHundredths(0.21), "0,21");
  EXPECT_EQ(VoltsToHundredths(MinimumThreshold), "0,21");
  EXPECT_EQ(VoltsToHundredths(-1.5), "-1,50");
  // Just below a hundredth: %.10f has it on the hundredth already.
  EXPECT_EQ(VoltsToHundredths(0.29999999999999), "0,30");
}

// The picture's labels read as they did when it rounded them: every
// multiple of its voltage steps up to its highest top, and its thresholds.
TEST(VoltsText, ThePicturesLabelsAreTheSameCutOrRounded) {
  for (double step : {0.1, 0.2, 0.25, 0.5, 1.0, 2.0}) {
    for (int k = 0; k * step <= 10.0 + 1e-9; k++) {
      double v = k * step;
      char rounded[32];
      snprintf(rounded, sizeof rounded, "%.2f", v);
      Text expected = rounded;
      expected[expected.find('.')] = ',';
      ASSERT_EQ(VoltsToHundredths(v), expected) << step << " * " << k;
    }
  }
  EXPECT_EQ(VoltsToHundredths(MaximumThreshold), "1,18");
}

// The level log's levels read back as the very numbers written.
TEST(VoltsText, TheLogsLevelsAreExact) {
  EXPECT_EQ(VoltsExactText(0.1), "0,1");
  EXPECT_EQ(VoltsExactText(1.0546875), "1,0546875");
  EXPECT_EQ(VoltsExactText(0.732421875), "0,732421875");
  EXPECT_EQ(VoltsExactText(-2.0), "-2,0");
  EXPECT_EQ(VoltsExactText(NAN), "");
  EXPECT_EQ(VoltsExactText(INFINITY), "");
  for (double v : {0.0048828 * 150, 1.0 / 3, 1e-20, 123456.789, -4.4e-7}) {
    Text text = VoltsExactText(v);
    ASSERT_EQ(text.find('.'), Text::npos) << text;
    Text number = text;
    number[number.find(',')] = '.';
    EXPECT_EQ(strtod(number.c_str(), nullptr), v) << text;
  }
}
