// Checks CountIntervals for every interval code on times from 1601 to 9999:
// against counts taken from running second numbers, against boundaries
// counted one date at a time over spans of up to 400 days, and for the
// properties any count of boundaries has (zero from a time to itself, sign
// change when swapped, growth with the later time, sums over a time between).
// The same walk over dates checks that the calendar steps one day at a time.
//
// Input, little-endian, missing bytes read as zero:
//   byte 0       first weekday (value % 7) and how `to` is read ((value / 7) % 3):
//                0 a time of its own, 1 `from` plus up to 400 days either way,
//                2 `from` plus up to 3 days either way
//   bytes 1-8    from: seconds since 1970-01-01 00:00:00 (SecondNumber); a
//                value outside the years 1601..9999 is folded into them
//   bytes 9-16   to, read as byte 0 says
//   bytes 17-24  a third time, read like `from`
//   bytes 25-28  seconds added to `to` for a later time (unsigned)
//   bytes 29-    up to 8 bytes of interval code text for ParseIntervalCode

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>

#include "platform/civil_time.h"
#include "sweep/intervals.h"

namespace {

const char* NameOf(IntervalCode code) {
  for (const IntervalCodeName& entry : kIntervalCodes)
    if (entry.code == code) return entry.name;
  return "?";
}

class Reader {
 public:
  Reader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  uint64_t Read(size_t bytes) {
    uint64_t v = 0;
    for (size_t i = 0; i < bytes; ++i)
      v |= static_cast<uint64_t>(pos_ < size_ ? data_[pos_++] : 0) << (8 * i);
    return v;
  }
  std::string_view Rest(size_t max) {
    const size_t n = pos_ < size_ ? std::min(max, size_ - pos_) : 0;
    return {reinterpret_cast<const char*>(data_ + pos_), n};
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

constexpr int64_t kDay = 86400;

int64_t Floor(int64_t a, int64_t b) {
  return a / b - ((a % b != 0 && (a < 0) != (b < 0)) ? 1 : 0);
}

bool IsLeap(int year) {
  return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
}

int DaysInMonth(int year, int month) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeap(year) ? 29 : kDays[month - 1];
}

std::string Show(const CivilTime& t) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", t.year,
                t.month, t.day, t.hour, t.minute, t.second);
  return buf;
}

[[noreturn]] void Fail(const char* what, const CivilTime& from,
                       const CivilTime& to, int first_weekday,
                       const char* code, int64_t got, int64_t want) {
  std::fprintf(stderr,
               "intervals: %s: code %s from %s to %s first weekday %d: "
               "got %lld, want %lld\n",
               what, code, Show(from).c_str(), Show(to).c_str(), first_weekday,
               static_cast<long long>(got), static_cast<long long>(want));
  std::abort();
}

void Expect(bool ok, const char* what, const CivilTime& from,
            const CivilTime& to, int first_weekday, IntervalCode code,
            int64_t got, int64_t want) {
  if (!ok) Fail(what, from, to, first_weekday, NameOf(code), got, want);
}

// The first and last second of the years 1601..9999.
int64_t MinSecond() { return DayNumber(1601, 1, 1) * kDay; }
int64_t MaxSecond() { return DayNumber(10000, 1, 1) * kDay - 1; }

int64_t FoldIntoRange(uint64_t raw) {
  const auto v = static_cast<int64_t>(raw);
  if (v >= MinSecond() && v <= MaxSecond()) return v;
  const auto span = static_cast<uint64_t>(MaxSecond() - MinSecond() + 1);
  return MinSecond() + static_cast<int64_t>(raw % span);
}

int64_t Clamp(int64_t v) {
  return v < MinSecond() ? MinSecond() : v > MaxSecond() ? MaxSecond() : v;
}

// A valid date and time whose second number is `s`.
CivilTime TimeAt(int64_t s) {
  const CivilTime t = CivilFromSecondNumber(s);
  const bool valid = t.year >= 1601 && t.year <= 9999 && t.month >= 1 &&
                     t.month <= 12 && t.day >= 1 &&
                     t.day <= DaysInMonth(t.year, t.month) && t.hour >= 0 &&
                     t.hour < 24 && t.minute >= 0 && t.minute < 60 &&
                     t.second >= 0 && t.second < 60;
  if (!valid || SecondNumber(t) != s) {
    std::fprintf(stderr, "civil time: second %lld gives %s (back: %lld)\n",
                 static_cast<long long>(s), Show(t).c_str(),
                 static_cast<long long>(SecondNumber(t)));
    std::abort();
  }
  return t;
}

struct Boundaries {
  int64_t years = 0, quarters = 0, months = 0, week_starts = 0;
};

// Boundaries in the dates after `lo_day` up to and including `hi_day`,
// found by stepping through them one by one; checks each step on the way.
Boundaries CountByWalking(int64_t lo_day, int64_t hi_day, int first_weekday) {
  Boundaries b;
  CivilTime prev = CivilFromSecondNumber(lo_day * kDay);
  int prev_weekday = Weekday(lo_day);
  for (int64_t d = lo_day + 1; d <= hi_day; ++d) {
    const CivilTime t = CivilFromSecondNumber(d * kDay);
    const bool next_day = t.year == prev.year && t.month == prev.month &&
                          t.day == prev.day + 1;
    const bool next_month = t.day == 1 &&
                            prev.day == DaysInMonth(prev.year, prev.month) &&
                            ((t.year == prev.year && t.month == prev.month + 1) ||
                             (t.year == prev.year + 1 && t.month == 1 &&
                              prev.month == 12));
    const int weekday = Weekday(d);
    if (!(next_day || next_month) || DayNumber(t) != d ||
        weekday != (prev_weekday + 1) % 7) {
      std::fprintf(stderr, "calendar: day %lld is %s (weekday %d) after %s (weekday %d)\n",
                   static_cast<long long>(d), Show(t).c_str(), weekday,
                   Show(prev).c_str(), prev_weekday);
      std::abort();
    }
    if (t.day == 1) {
      ++b.months;
      if (t.month % 3 == 1) ++b.quarters;
      if (t.month == 1) ++b.years;
    }
    if (weekday == first_weekday) ++b.week_starts;
    prev = t;
    prev_weekday = weekday;
  }
  return b;
}

// ParseIntervalCode accepts exactly the codes of the table, in any mix of
// case.
void CheckParse(std::string_view text) {
  std::string lower(text);
  for (char& c : lower)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  std::optional<IntervalCode> want;
  for (const IntervalCodeName& entry : kIntervalCodes)
    if (lower == entry.name) want = entry.code;
  const std::optional<IntervalCode> got = ParseIntervalCode(text);
  if (got != want) {
    std::fprintf(stderr, "ParseIntervalCode(\"%s\") gives %s, want %s\n",
                 lower.c_str(), got ? NameOf(*got) : "nothing",
                 want ? NameOf(*want) : "nothing");
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Reader in(data, size);
  const auto control = static_cast<int>(in.Read(1));
  const int first_weekday = control % 7;
  const int to_mode = (control / 7) % 3;
  const int64_t s_from = FoldIntoRange(in.Read(8));
  const uint64_t raw_to = in.Read(8);
  int64_t s_to = FoldIntoRange(raw_to);
  if (to_mode != 0) {
    const int64_t reach = (to_mode == 1 ? 400 : 3) * kDay;
    const auto width = static_cast<uint64_t>(2 * reach + 1);
    s_to = Clamp(s_from + static_cast<int64_t>(raw_to % width) - reach);
  }
  const int64_t s_mid = FoldIntoRange(in.Read(8));
  const int64_t s_later = Clamp(s_to + static_cast<int64_t>(in.Read(4)));
  CheckParse(in.Rest(8));

  const CivilTime from = TimeAt(s_from), to = TimeAt(s_to),
                  mid = TimeAt(s_mid), later = TimeAt(s_later);
  const auto count = [&](IntervalCode code, const CivilTime& a,
                         const CivilTime& b) {
    return CountIntervals(code, a, b, first_weekday);
  };

  const int64_t days = Floor(s_to, kDay) - Floor(s_from, kDay);
  const bool walkable = days >= -400 && days <= 400;
  Boundaries walked;
  if (walkable) {
    walked = days >= 0 ? CountByWalking(Floor(s_from, kDay), Floor(s_to, kDay),
                                        first_weekday)
                       : CountByWalking(Floor(s_to, kDay), Floor(s_from, kDay),
                                        first_weekday);
    const int64_t sign = days >= 0 ? 1 : -1;
    walked.years *= sign;
    walked.quarters *= sign;
    walked.months *= sign;
    walked.week_starts *= sign;
  }

  for (const IntervalCodeName& entry : kIntervalCodes) {
    const IntervalCode code = entry.code;
    const int64_t n = count(code, from, to);
    const auto expect = [&](bool ok, const char* what, int64_t got,
                            int64_t want) {
      Expect(ok, what, from, to, first_weekday, code, got, want);
    };
    const int64_t self = count(code, from, from);
    expect(self == 0, "from a time to itself", self, 0);
    const int64_t back = count(code, to, from);
    expect(back == -n, "swapped times (got is the swapped count)", back, -n);
    const int64_t grown = count(code, from, later);
    expect(grown >= n, "a later `to` (got is the count to it)", grown, n);
    if (code != IntervalCode::kWeekday) {  // whole 7-day spans do not add up
      const int64_t via = count(code, from, mid) + count(code, mid, to);
      expect(via == n, "sum over a time between (got is the sum)", via, n);
    }

    int64_t want = 0;
    switch (code) {
      case IntervalCode::kSecond:
        want = s_to - s_from;
        break;
      case IntervalCode::kMinute:
        want = Floor(s_to, 60) - Floor(s_from, 60);
        break;
      case IntervalCode::kHour:
        want = Floor(s_to, 3600) - Floor(s_from, 3600);
        break;
      case IntervalCode::kDay:
      case IntervalCode::kDayOfYear:
        want = days;
        break;
      case IntervalCode::kWeekday:
        want = days / 7;  // whole seven-day spans, truncated toward zero
        break;
      case IntervalCode::kYear:
        want = to.year - from.year;
        if (walkable) expect(n == walked.years, "year starts walked", n, walked.years);
        break;
      case IntervalCode::kQuarter:
        want = 4 * (to.year - from.year) + (to.month - 1) / 3 - (from.month - 1) / 3;
        if (walkable)
          expect(n == walked.quarters, "quarter starts walked", n, walked.quarters);
        break;
      case IntervalCode::kMonth:
        want = 12 * (to.year - from.year) + to.month - from.month;
        if (walkable) expect(n == walked.months, "month starts walked", n, walked.months);
        break;
      case IntervalCode::kWeek: {
        // Any run of `days` consecutive dates holds days / 7 or one more week
        // starts; over short spans the walk gives the exact number.
        const int64_t whole = days / 7, extra = days >= 0 ? 1 : -1;
        expect(n == whole || n == whole + extra, "week starts against days", n, whole);
        want = walkable ? walked.week_starts : n;
        break;
      }
    }
    expect(n == want, "count", n, want);
  }
  return 0;
}
