#include "platform/posix/local_time.h"

#include <time.h>

namespace {

bool SameFields(const CivilTime& a, const CivilTime& b) {
  return a.year == b.year && a.month == b.month && a.day == b.day &&
         a.hour == b.hour && a.minute == b.minute && a.second == b.second;
}

// Day number of a second number.
inline int64_t DayOf(int64_t seconds) { return FloorDiv(seconds, 86400); }

}  // namespace

bool LocalTimeCache::FromLibrary(int64_t utc_seconds, CivilTime* local,
                                 int64_t* offset) {
  ++library_calls_;
  const time_t t = static_cast<time_t>(utc_seconds);
  if (static_cast<int64_t>(t) != utc_seconds) return false;
  struct tm tm;
  if (!localtime_r(&t, &tm)) return false;
  *local = CivilTime{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                     tm.tm_hour,        tm.tm_min,     tm.tm_sec};
  if (offset) *offset = tm.tm_gmtoff;
  return true;
}

void LocalTimeCache::Fill(Slot* slot, int64_t day) {
  slot->day = day;
  slot->exact = false;
  const int64_t first = day * 86400;
  const int64_t last = first + 86399;
  CivilTime start, end, ignored;
  int64_t offset = 0, other = 0;
  if (!FromLibrary(first, &start, &offset)) return;
  for (int64_t t = first + 3600; t < last; t += 3600)
    if (!FromLibrary(t, &ignored, &other) || other != offset) return;
  if (!FromLibrary(last, &end, &other) || other != offset) return;
  if (!SameFields(start, CivilFromSecondNumber(first + offset)) ||
      !SameFields(end, CivilFromSecondNumber(last + offset)))
    return;
  slot->offset = offset;
  slot->first_local_day = DayOf(first + offset);
  for (int i = 0; i < 2; ++i) {
    Date& d = slot->dates[i];
    DateOfDayNumber(slot->first_local_day + i, &d.year, &d.month, &d.day);
  }
  slot->exact = true;
}

bool LocalTimeCache::Convert(int64_t utc_seconds, CivilTime* local) {
  // Far outside any file time: no day arithmetic near the integer limits.
  constexpr int64_t kLimit = int64_t{1} << 52;
  if (utc_seconds < -kLimit || utc_seconds > kLimit)
    return FromLibrary(utc_seconds, local, nullptr);
  const int64_t day = DayOf(utc_seconds);
  Slot& slot = slots_[static_cast<uint64_t>(day) % kSlots];
  if (slot.day != day) Fill(&slot, day);
  if (!slot.exact) return FromLibrary(utc_seconds, local, nullptr);
  const int64_t local_seconds = utc_seconds + slot.offset;
  const int64_t local_day = DayOf(local_seconds);
  const Date& date = slot.dates[local_day - slot.first_local_day];
  const int rest = static_cast<int>(local_seconds - local_day * 86400);
  *local = CivilTime{date.year,  date.month,        date.day,
                     rest / 3600, rest / 60 % 60, rest % 60};
  return true;
}
