#include "platform/civil_time.h"

#include <gtest/gtest.h>

TEST(CivilTime, DayNumbersAreConsecutiveAndRoundTrip) {
  EXPECT_EQ(0, DayNumber(1970, 1, 1));
  EXPECT_EQ(-1, DayNumber(1969, 12, 31));
  EXPECT_EQ(-134774, DayNumber(1601, 1, 1));
  // Leap days: 2024-02-29 exists, 1900-02-29 does not, 2000-02-29 does.
  EXPECT_EQ(DayNumber(2024, 2, 28) + 2, DayNumber(2024, 3, 1));
  EXPECT_EQ(DayNumber(1900, 2, 28) + 1, DayNumber(1900, 3, 1));
  EXPECT_EQ(DayNumber(2000, 2, 28) + 2, DayNumber(2000, 3, 1));
  for (int64_t d = DayNumber(1600, 1, 1); d < DayNumber(2401, 1, 1); d += 7) {
    int y, m, day;
    DateOfDayNumber(d, &y, &m, &day);
    ASSERT_EQ(d, DayNumber(y, m, day)) << y << "-" << m << "-" << day;
  }
}

TEST(CivilTime, Weekdays) {
  EXPECT_EQ(4, Weekday(DayNumber(1970, 1, 1)));   // Thursday
  EXPECT_EQ(1, Weekday(DayNumber(2026, 12, 7)));  // Monday
  EXPECT_EQ(0, Weekday(DayNumber(1997, 11, 30)));  // Sunday
  EXPECT_EQ(1, Weekday(DayNumber(1601, 1, 1)));   // Monday, before 1970
}

TEST(CivilTime, SecondNumbersRoundTripBeforeAndAfter1970) {
  for (const CivilTime t : {CivilTime{1969, 12, 31, 23, 59, 59},
                            CivilTime{2024, 2, 29, 12, 0, 1},
                            CivilTime{1601, 1, 1, 0, 0, 0}}) {
    const CivilTime back = CivilFromSecondNumber(SecondNumber(t));
    EXPECT_EQ(t.year, back.year);
    EXPECT_EQ(t.month, back.month);
    EXPECT_EQ(t.day, back.day);
    EXPECT_EQ(t.hour, back.hour);
    EXPECT_EQ(t.minute, back.minute);
    EXPECT_EQ(t.second, back.second);
  }
}

TEST(CivilTime, UsGeneralDateUsesTwelveHourClock) {
  EXPECT_EQ("12/7/2026 6:48:36 AM",
            FormatUsGeneralDate({2026, 12, 7, 6, 48, 36}));
  EXPECT_EQ("1/2/2024 12:04:05 AM", FormatUsGeneralDate({2024, 1, 2, 0, 4, 5}));
  EXPECT_EQ("1/2/2024 12:00:00 PM", FormatUsGeneralDate({2024, 1, 2, 12, 0, 0}));
  EXPECT_EQ("1/2/2024 11:59:59 PM",
            FormatUsGeneralDate({2024, 1, 2, 23, 59, 59}));
}
