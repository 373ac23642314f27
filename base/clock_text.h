// The calendar and the texts of a time: the one place where seconds
// counted from 1 January 1970 (PlatLocalClock's local count, or
// PlatUniversalClock's) become a date, a day or a text the program writes,
// and where such a text is read back. Gregorian calendar throughout, days
// starting at multiples of 86400.
#pragma once

#include <cstdint>

#include "platform/platform.h"

// a / b rounded down (towards minus infinity), for any signs; b not 0.
int64_t FloorDiv(int64_t a, int64_t b);

// Days since 1 January 1970 of a date, and the date of such a day.
int64_t DaysOfDate(int day, int month, int year);
void DateOfDays(int64_t days, int* day, int* month, int* year);
// The day (days since 1970) of a time, and its second within that day
// (0 .. 86399).
int64_t DayOfTime(int64_t time);
int SecondOfDay(int64_t time);
// The month of a time: year * 12 + month - 1.
int MonthOfTime(int64_t time);
// The local clock's lead on universal time from a local and a universal
// time read at about the same instant, to whole quarter hours (the two
// clocks may be read a second apart).
int64_t LeadOf(int64_t local, int64_t universal);

// "09.12.2026 10:04:17": the level log, the history's CSV, the alarm
// events' lines.
Text DateTimeText(int64_t time);
// "2026-12-09T10:04:17": the alarm command's argument (no blank in it).
Text IsoDateTimeText(int64_t time);
// "2026-12-09": a file named after its day.
Text FileDateText(int64_t time);
// "2026-12" of a month as MonthOfTime counts it.
Text YearMonthText(int month);
// "09.12.", "10:04" and "10:04:17": the history window and its picture.
Text DayMonthText(int64_t time);
Text HourMinuteText(int64_t time);
Text HourMinuteSecondText(int64_t time);
// "09.12.2026/10:04": the board's display.
Text DisplayDateTimeText(int64_t time);
// The age of a reading, from ms: "12 s", "3 min 18 s", "2 h 05 min",
// "1 Tag", "3 Tage" (a negative age reads 0 s): the status page.
Text AgeText(int64_t ms);
// A time asleep as the operator reads it: "40 s", "10 min", "2 h 14 min",
// "30 Tage 2 h" (whole units, cut; the minutes not padded): the sleep's
// event and the clock's jump.
Text SleepDurationText(int64_t ms);
// A time switched on, from seconds: "45 min", "2 h 05 min" (whole
// minutes, cut): the dry-run protection's summary in the history window.
Text OnTimeText(int64_t seconds);

// Reads "dd.mm.yyyy hh:mm:ss" (DateTimeText's form) back: false for any
// other text, a year before 1970 and a day the month does not have.
bool ReadDateTimeText(const Text& text, int64_t* time);
