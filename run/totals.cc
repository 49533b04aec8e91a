#include "run/totals.h"

#include <cmath>
#include <cstdio>

namespace {

std::string Group(const std::string& digits, const std::string& separator) {
  std::string out;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out += separator;
    out += digits[i];
  }
  return out;
}

}  // namespace

std::string FormatCount(int64_t value, const LocaleInfo& locale) {
  const uint64_t magnitude =
      value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
  std::string out = Group(std::to_string(magnitude), locale.thousands_separator);
  return value < 0 ? "-" + out : out;
}

std::string FormatRunTime(double seconds, const LocaleInfo& locale) {
  const int64_t cents = std::llround(seconds * 100.0);
  const bool negative = cents < 0;
  const uint64_t magnitude =
      negative ? 0 - static_cast<uint64_t>(cents) : static_cast<uint64_t>(cents);
  char fraction[8];
  std::snprintf(fraction, sizeof fraction, "%02d",
                static_cast<int>(magnitude % 100));
  std::string out = negative ? "-" : "";
  out += Group(std::to_string(magnitude / 100), locale.thousands_separator);
  out += locale.decimal_separator;
  out += fraction;
  out += "  seconds";
  return out;
}
