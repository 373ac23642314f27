// The floor beneath the program's folders, on its own: the calendar and
// the texts of a time, the texts of volts, the dry-run statistics and the
// history as a CSV file.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "base/clock_text.h"
#include "base/dry_runs.h"
#include "base/level_csv.h"
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

// An evaluation at universal time `universal`, the local clock `lead`
// ahead, that sent `output4` to output 4.
LevelRecord At(int64_t universal, int output4, bool doubted = false,
               int64_t lead = 3600) {
  return LevelRecord{universal + lead, 0.2,     0.2,      (int8_t)output4,
                     (int8_t)0,        doubted, universal};
}

LevelRing RingOf(const std::vector<LevelRecord>& records) {
  return LevelRing{records.data(), (int)records.size(), 0, (int)records.size()};
}

// 06.12.2026 10:00 universal time.
const int64_t T0 = DaysOfDate(6, 12, 2026) * 86400 + 10 * 3600;

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

// Trips begin with an "on" after an "off" (or after nothing); an
// evaluation that sent output 4 nothing neither begins nor ends one.
TEST(DryRuns, TripsOnTimesAndDoubtsWithinTheSpan) {
  std::vector<LevelRecord> h = {
      At(T0, 0),
      At(T0 + 600, 1),                      // a trip: on for 20 min
      At(T0 + 900, CommandNotSent, true),   // in doubt, still on
      At(T0 + 1200, 1),                     // still on: no new trip
      At(T0 + 1800, 0),                     // off
      At(T0 + 2400, CommandNotSent, true),  // in doubt, still off
      At(T0 + 3000, 1),                     // a second trip
      At(T0 + 3300, 0)};                    // 5 min
  DryRuns all = DryRunsBetween(RingOf(h), T0, T0 + 3600);
  EXPECT_EQ(all.Trips, 2);
  EXPECT_EQ(all.OnSeconds, 1200 + 300);
  EXPECT_EQ(all.Doubted, 2);
  // The span's ends belong to it.
  DryRuns edges = DryRunsBetween(RingOf(h), T0 + 600, T0 + 3000);
  EXPECT_EQ(edges.Trips, 2);
  EXPECT_EQ(edges.OnSeconds, 1200);
  // Nothing before the first evaluation, nothing in an empty history.
  DryRuns before = DryRunsBetween(RingOf(h), T0 - 7200, T0 - 1);
  EXPECT_EQ(before.Trips + before.OnSeconds + before.Doubted, 0);
  DryRuns none = DryRunsBetween(RingOf({}), T0, T0 + 3600);
  EXPECT_EQ(none.Trips + none.OnSeconds + none.Doubted, 0);
}

// A run that began before the span counts its time within it but no trip;
// one still on at the last evaluation lasts to the span's end.
TEST(DryRuns, ARunOpenAtTheSpansEdges) {
  std::vector<LevelRecord> h = {At(T0, 1), At(T0 + 1800, 0), At(T0 + 3000, 1)};
  DryRuns late = DryRunsBetween(RingOf(h), T0 + 600, T0 + 1200);
  EXPECT_EQ(late.Trips, 0);
  EXPECT_EQ(late.OnSeconds, 600);
  DryRuns open = DryRunsBetween(RingOf(h), T0 + 2000, T0 + 4000);
  EXPECT_EQ(open.Trips, 1);
  EXPECT_EQ(open.OnSeconds, 1000);
  // The run on since T0 + 3000 is cut at the span's end, not at now.
  DryRuns cut = DryRunsBetween(RingOf(h), T0 + 2000, T0 + 3500);
  EXPECT_EQ(cut.OnSeconds, 500);
}

// A ring that wraps: the oldest at First, the newest before it.
TEST(DryRuns, AWrappedRingIsReadOldestFirst) {
  std::vector<LevelRecord> slots = {At(T0 + 1200, 0), At(T0 + 1800, 1),
                                    At(T0, 1), At(T0 + 600, 0)};
  LevelRing ring{slots.data(), 4, 2, 4};
  EXPECT_EQ(RingEntry(ring, 0).Universal, T0);
  EXPECT_EQ(RingEntry(ring, 3).Universal, T0 + 1800);
  DryRuns runs = DryRunsBetween(ring, T0, T0 + 2400);
  EXPECT_EQ(runs.Trips, 2);
  EXPECT_EQ(runs.OnSeconds, 600 + 600);
}

// The end of summer time at 03:00 local: the hour from 02:00 comes twice.
// Counted on universal time, the run from 02:30 (summer) to 02:42
// (winter) lasts 72 minutes and is one trip, not the 12 its local times
// are apart.
TEST(DryRuns, ClockChangesCountOnUniversalTime) {
  int64_t midnight = DaysOfDate(25, 10, 2026) * 86400;  // local
  int64_t u0 = midnight + 2 * 3600 + 1800 - 7200;       // 02:30 summer
  std::vector<LevelRecord> h = {At(u0 - 1800, 0, false, 7200),
                                At(u0, 1, false, 7200),
                                At(u0 + 72 * 60, 0, false, 3600)};
  ASSERT_EQ(h[2].Time - h[1].Time, 12 * 60);
  DryRuns runs = DryRunsBetween(RingOf(h), u0 - 86400, u0 + 86400);
  EXPECT_EQ(runs.Trips, 1);
  EXPECT_EQ(runs.OnSeconds, 72 * 60);

  // Today began at local midnight at the lead the clock had then, that
  // of the day's first evaluation, not the present one.
  int64_t now = u0 + 3 * 3600;
  EXPECT_EQ(DayStartUniversal(RingOf(h), now + 3600, now), midnight - 7200);
  // Without an evaluation of the day: the present lead.
  EXPECT_EQ(DayStartUniversal(RingOf({}), now + 3600, now), midnight - 3600);
  std::vector<LevelRecord> yesterday = {At(u0 - 86400, 1, false, 7200)};
  EXPECT_EQ(DayStartUniversal(RingOf(yesterday), now + 3600, now),
            midnight - 3600);
}

// Today's count starts at local midnight; the week's takes yesterday's
// trip too, and a trip older than seven days in neither.
TEST(DryRuns, TodayAndTheLastSevenDays) {
  int64_t midnight = DaysOfDate(6, 12, 2026) * 86400 - 3600;  // universal
  std::vector<LevelRecord> h = {
      At(midnight - 8 * 86400, 1), At(midnight - 8 * 86400 + 600, 0),
      At(midnight - 3600, 1),      At(midnight - 1200, 0),
      At(midnight + 3600, 1),      At(midnight + 4200, 0)};
  int64_t now = midnight + 7200;
  DryRunWeek week = DryRunStatistics(RingOf(h), now + 3600, now);
  EXPECT_EQ(week.Today.Trips, 1);
  EXPECT_EQ(week.Today.OnSeconds, 600);
  EXPECT_EQ(week.LastWeek.Trips, 2);
  EXPECT_EQ(week.LastWeek.OnSeconds, 2400 + 600);
}

// The export of a ring that wraps: the header, then the oldest first.
TEST(LevelCsvText, TheHeaderThenEveryEvaluationOldestFirst) {
  EXPECT_EQ(LevelCsvText(RingOf({})), LevelCsvHeader);
  std::vector<LevelRecord> slots = {At(T0 + 600, 1), At(T0 + 1200, 0, true),
                                    At(T0, 0)};
  slots[1].Level5 = NAN;
  slots[1].Output5 = CommandNotSent;
  EXPECT_EQ(LevelCsvText(LevelRing{slots.data(), 3, 2, 3}),
            Text(LevelCsvHeader) +
                "06.12.2026 11:00:00;Messung;0,2;AUS;0,2;AUS;sicher;;"
                "06.12.2026 10:00:00\r\n"
                "06.12.2026 11:10:00;Messung;0,2;AUS;0,2;EIN;sicher;;"
                "06.12.2026 10:10:00\r\n"
                "06.12.2026 11:20:00;Messung;;;0,2;AUS;unsicher;;"
                "06.12.2026 10:20:00\r\n");
}
