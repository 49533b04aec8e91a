#include "run/totals.h"

#include <gtest/gtest.h>

TEST(Totals, CountsAreGroupedInThrees) {
  const LocaleInfo us;
  EXPECT_EQ("0", FormatCount(0, us));
  EXPECT_EQ("7", FormatCount(7, us));
  EXPECT_EQ("999", FormatCount(999, us));
  EXPECT_EQ("1,234", FormatCount(1234, us));
  EXPECT_EQ("123,456", FormatCount(123456, us));
  EXPECT_EQ("1,234,567", FormatCount(1234567, us));
  // Past the 32-bit range nothing wraps.
  EXPECT_EQ("4,294,967,296", FormatCount(int64_t{1} << 32, us));
  LocaleInfo de;
  de.thousands_separator = ".";
  EXPECT_EQ("1.234.567", FormatCount(1234567, de));
}

TEST(Totals, RunTimeHasTwoDecimalsAndTwoSpacesBeforeSeconds) {
  const LocaleInfo us;
  EXPECT_EQ("0.25  seconds", FormatRunTime(0.25, us));
  EXPECT_EQ("0.00  seconds", FormatRunTime(0.004, us));
  EXPECT_EQ("0.01  seconds", FormatRunTime(0.005, us));
  EXPECT_EQ("1,234.50  seconds", FormatRunTime(1234.5, us));
  LocaleInfo de;
  de.thousands_separator = ".";
  de.decimal_separator = ",";
  EXPECT_EQ("1.234,57  seconds", FormatRunTime(1234.567, de));
}

TEST(Totals, RunTimeStaysExactLongAfterStartUp) {
  // Readings taken 50 days after the clock started still give a short run
  // its true length: nothing is rounded away before the subtraction.
  const double start = 50 * 86400.0 + 0.123;
  EXPECT_EQ("0.01  seconds", FormatRunTime((start + 0.006) - start, LocaleInfo{}));
}
