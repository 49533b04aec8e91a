// Calendar arithmetic on local dates and times, free of any time zone or
// operating-system call, so that age counting is exact and testable.
#pragma once

#include <cstdint>
#include <string>

// A local date and time of day, whole seconds.
struct CivilTime {
  int year = 1601;
  int month = 1;  // 1..12
  int day = 1;    // 1..31
  int hour = 0;   // 0..23
  int minute = 0;
  int second = 0;
};

// Division rounding toward negative infinity (b > 0). Inline: the local time
// conversion runs it for every file time of a sweep.
inline int64_t FloorDiv(int64_t a, int64_t b) {
  const int64_t q = a / b;
  return q - (a % b < 0 ? 1 : 0);
}

// Running day number: consecutive dates differ by 1; 1970-01-01 is 0.
int64_t DayNumber(int year, int month, int day);
inline int64_t DayNumber(const CivilTime& t) {
  return DayNumber(t.year, t.month, t.day);
}

// The date of a running day number.
void DateOfDayNumber(int64_t days, int* year, int* month, int* day);

// Day of the week of a running day number: 0 is Sunday, 6 is Saturday.
int Weekday(int64_t days);

// Seconds since 1970-01-01 00:00:00 of the same calendar (no zone applied).
int64_t SecondNumber(const CivilTime& t);
CivilTime CivilFromSecondNumber(int64_t seconds);

// The general date of English (United States): "12/7/2026 6:48:36 AM".
std::string FormatUsGeneralDate(const CivilTime& t);
