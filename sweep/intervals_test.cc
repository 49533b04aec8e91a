#include "sweep/intervals.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace {

constexpr int kSunday = 0;
constexpr int kMonday = 1;

int64_t Count(const char* code, CivilTime from, CivilTime to,
              int first_weekday = kSunday) {
  return CountIntervals(*ParseIntervalCode(code), from, to, first_weekday);
}

}  // namespace

TEST(Intervals, CodesAreReadWithoutRegardToCase) {
  EXPECT_EQ(IntervalCode::kDay, ParseIntervalCode("D"));
  EXPECT_EQ(IntervalCode::kWeek, ParseIntervalCode("wW"));
  EXPECT_EQ(IntervalCode::kYear, ParseIntervalCode("YYYY"));
  EXPECT_EQ(IntervalCode::kMinute, ParseIntervalCode("n"));
  for (const char* bad : {"", "x", "yy", "www", "mm", "d ", "hh"})
    EXPECT_FALSE(ParseIntervalCode(bad)) << bad;
}

TEST(Intervals, OneSecondAcrossNewYear) {
  const CivilTime from{2023, 12, 31, 23, 59, 59};
  const CivilTime to{2024, 1, 1, 0, 0, 0};
  for (const char* code : {"yyyy", "q", "m", "y", "d", "h", "n", "s"})
    EXPECT_EQ(1, Count(code, from, to)) << code;
  EXPECT_EQ(0, Count("w", from, to));
  // 1 January 2024 was a Monday: a week start only when weeks start Monday.
  EXPECT_EQ(0, Count("ww", from, to, kSunday));
  EXPECT_EQ(1, Count("ww", from, to, kMonday));
}

TEST(Intervals, TimeOfDayPlaysNoPartForCalendarCodes) {
  const CivilTime from{2024, 3, 1, 10, 0, 0};
  EXPECT_EQ(0, Count("d", from, {2024, 3, 1, 23, 59, 59}));
  EXPECT_EQ(13, Count("h", from, {2024, 3, 1, 23, 59, 59}));
  EXPECT_EQ(0, Count("h", from, {2024, 3, 1, 10, 59, 59}));
  EXPECT_EQ(1, Count("h", from, {2024, 3, 1, 11, 0, 0}));
  EXPECT_EQ(1, Count("d", {2024, 3, 1, 23, 59, 59}, {2024, 3, 2, 0, 0, 0}));
}

TEST(Intervals, QuartersAndMonthsFollowTheCalendar) {
  EXPECT_EQ(0, Count("q", {2024, 1, 1}, {2024, 3, 31, 23, 59, 59}));
  EXPECT_EQ(1, Count("q", {2024, 3, 31}, {2024, 4, 1}));
  EXPECT_EQ(5, Count("q", {2023, 2, 15}, {2024, 6, 1}));
  EXPECT_EQ(1, Count("m", {2024, 1, 31}, {2024, 2, 1}));
  EXPECT_EQ(13, Count("m", {2023, 1, 1}, {2024, 2, 28}));
  EXPECT_EQ(-13, Count("m", {2024, 2, 28}, {2023, 1, 1}));
}

TEST(Intervals, WeekdayCountsWholeSevenDaySpansTowardZero) {
  const CivilTime from{2024, 1, 10, 12, 0, 0};
  EXPECT_EQ(2, Count("w", from, {2024, 1, 30}));  // 20 days
  EXPECT_EQ(3, Count("w", from, {2024, 1, 31}));  // 21 days
  EXPECT_EQ(-2, Count("w", from, {2023, 12, 21}));  // -20 days
}

TEST(Intervals, WeekCountsWeekStartsCrossed) {
  // Wednesday 2024-01-10; the Sundays after it fall on the 14th, 21st, 28th.
  const CivilTime wed{2024, 1, 10};
  EXPECT_EQ(0, Count("ww", wed, {2024, 1, 13, 23, 59, 59}));
  EXPECT_EQ(1, Count("ww", wed, {2024, 1, 14}));
  EXPECT_EQ(3, Count("ww", wed, {2024, 1, 28}));
  EXPECT_EQ(-1, Count("ww", {2024, 1, 14}, wed));
  // A file written on a Saturday is three week starts old 15 days later.
  EXPECT_EQ(3, Count("ww", {2024, 1, 13}, {2024, 1, 28}));
  EXPECT_EQ(2, Count("ww", {2024, 1, 13}, {2024, 1, 28}, kMonday));
  // Weeks starting on Saturday.
  EXPECT_EQ(1, Count("ww", {2024, 1, 12}, {2024, 1, 13}, 6));
}

TEST(Intervals, ClockCodesAreSixtyFourBit) {
  // More than 68 years in seconds would overflow a 32-bit age.
  const CivilTime from{1900, 1, 1};
  const CivilTime to{2026, 12, 7};
  const int64_t days = DayNumber(to) - DayNumber(from);
  EXPECT_EQ(days * 86400, Count("s", from, to));
  EXPECT_GT(Count("s", from, to), int64_t{INT32_MAX});
  EXPECT_EQ(-days * 1440, Count("n", to, from));
}
