#include "sweep/intervals.h"

#include <cctype>
#include <iterator>
#include <string>

namespace {

// Number of the calendar week holding `day`, weeks starting on
// `first_weekday`.
int64_t WeekNumber(int64_t day, int first_weekday) {
  // Shift so that a first weekday falls on a multiple of 7.
  const int64_t offset = (Weekday(day) - first_weekday + 7) % 7;
  return FloorDiv(day - offset, 7);
}

}  // namespace

std::optional<IntervalCode> ParseIntervalCode(std::string_view code) {
  std::string lower(code);
  for (char& c : lower)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  for (const IntervalCodeName& entry : kIntervalCodes)
    if (lower == entry.name) return entry.code;
  return std::nullopt;
}

std::string IntervalCodeList() {
  std::string list;
  const size_t count = std::size(kIntervalCodes);
  for (size_t i = 0; i < count; ++i) {
    if (i > 0) list += i + 1 == count ? " or " : ", ";
    list += kIntervalCodes[i].name;
  }
  return list;
}

int64_t CountIntervals(IntervalCode code, const CivilTime& from,
                       const CivilTime& to, int first_weekday) {
  const int64_t days = DayNumber(to) - DayNumber(from);
  const int64_t hours = days * 24 + (to.hour - from.hour);
  const int64_t minutes = hours * 60 + (to.minute - from.minute);
  switch (code) {
    case IntervalCode::kYear:
      return static_cast<int64_t>(to.year) - from.year;
    case IntervalCode::kQuarter:
      return (4 * static_cast<int64_t>(to.year) + (to.month - 1) / 3) -
             (4 * static_cast<int64_t>(from.year) + (from.month - 1) / 3);
    case IntervalCode::kMonth:
      return (12 * static_cast<int64_t>(to.year) + to.month) -
             (12 * static_cast<int64_t>(from.year) + from.month);
    case IntervalCode::kDayOfYear:
    case IntervalCode::kDay:
      return days;
    case IntervalCode::kWeekday:
      return days / 7;  // truncates toward zero
    case IntervalCode::kWeek:
      return WeekNumber(DayNumber(to), first_weekday) -
             WeekNumber(DayNumber(from), first_weekday);
    case IntervalCode::kHour:
      return hours;
    case IntervalCode::kMinute:
      return minutes;
    case IntervalCode::kSecond:
      return minutes * 60 + (to.second - from.second);
  }
  return 0;
}
