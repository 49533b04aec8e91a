// Counting date intervals between two local times: the age of a file.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/civil_time.h"

enum class IntervalCode {
  kYear,       // yyyy
  kQuarter,    // q
  kMonth,      // m
  kDayOfYear,  // y
  kDay,        // d
  kWeekday,    // w
  kWeek,       // ww
  kHour,       // h
  kMinute,     // n
  kSecond,     // s
};

// Every interval code as it is typed, in the order the help lists them.
struct IntervalCodeName {
  const char* name;
  IntervalCode code;
};
inline constexpr IntervalCodeName kIntervalCodes[] = {
    {"yyyy", IntervalCode::kYear},   {"q", IntervalCode::kQuarter},
    {"m", IntervalCode::kMonth},     {"y", IntervalCode::kDayOfYear},
    {"d", IntervalCode::kDay},       {"w", IntervalCode::kWeekday},
    {"ww", IntervalCode::kWeek},     {"h", IntervalCode::kHour},
    {"n", IntervalCode::kMinute},    {"s", IntervalCode::kSecond},
};

// Reads an interval code without regard to case; nullopt for anything else.
std::optional<IntervalCode> ParseIntervalCode(std::string_view code);

// The codes for a message: "yyyy, q, m, y, d, w, ww, h, n or s".
std::string IntervalCodeList();

// The signed number of interval boundaries crossed going from `from` to `to`.
// `first_weekday` (0 Sunday .. 6 Saturday) starts the weeks of kWeek.
int64_t CountIntervals(IntervalCode code, const CivilTime& from,
                       const CivilTime& to, int first_weekday);
