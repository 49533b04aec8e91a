// Counting date intervals between two local times: the age of a file.
#pragma once

#include <cstdint>
#include <optional>
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

// Reads an interval code without regard to case; nullopt for anything else.
std::optional<IntervalCode> ParseIntervalCode(std::string_view code);

// The signed number of interval boundaries crossed going from `from` to `to`.
// `first_weekday` (0 Sunday .. 6 Saturday) starts the weeks of kWeek.
int64_t CountIntervals(IntervalCode code, const CivilTime& from,
                       const CivilTime& to, int first_weekday);
