// The totals as the window shows them, in the user's locale.
#pragma once

#include <cstdint>
#include <string>

#include "platform/platform.h"

// Digits grouped in threes with the locale's separator; zero is "0".
std::string FormatCount(int64_t value, const LocaleInfo& locale);

// Seconds with exactly two decimals, grouped, then "  seconds".
std::string FormatRunTime(double seconds, const LocaleInfo& locale);
