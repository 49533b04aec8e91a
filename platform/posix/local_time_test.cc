#include "platform/posix/local_time.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

#include <optional>
#include <string>
#include <vector>

namespace {

// Puts TZ to `zone` for one test and back afterwards.
class ScopedZone {
 public:
  explicit ScopedZone(const char* zone) {
    if (const char* old = getenv("TZ")) saved_ = old;
    setenv("TZ", zone, 1);
    tzset();
  }
  ~ScopedZone() {
    if (saved_)
      setenv("TZ", saved_->c_str(), 1);
    else
      unsetenv("TZ");
    tzset();
  }

 private:
  std::optional<std::string> saved_;
};

bool ZoneInstalled(const std::string& zone) {
  const std::string path = "/usr/share/zoneinfo/" + zone;
  return access(path.c_str(), R_OK) == 0;
}

struct Reference {
  bool ok = false;
  CivilTime local;
  long offset = 0;
};

Reference FromLibrary(int64_t t) {
  Reference r;
  const time_t tt = static_cast<time_t>(t);
  struct tm tm;
  if (!localtime_r(&tt, &tm)) return r;
  r.ok = true;
  r.local = CivilTime{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                      tm.tm_hour,        tm.tm_min,     tm.tm_sec};
  r.offset = tm.tm_gmtoff;
  return r;
}

std::string Text(const CivilTime& t) {
  char buf[64];
  snprintf(buf, sizeof buf, "%d-%02d-%02d %02d:%02d:%02d", t.year, t.month,
           t.day, t.hour, t.minute, t.second);
  return buf;
}

// Converts `t` with `cache` and expects exactly what localtime_r gives.
void ExpectSame(LocalTimeCache& cache, int64_t t) {
  const Reference want = FromLibrary(t);
  CivilTime got;
  const bool ok = cache.Convert(t, &got);
  ASSERT_EQ(want.ok, ok) << "at " << t;
  if (ok) {
    ASSERT_EQ(Text(want.local), Text(got)) << "at " << t;
  }
}

// Every change of offset between `from` and `to`, found by stepping a day at
// a time and then halving the interval: the first second of the new offset.
std::vector<int64_t> Changes(int64_t from, int64_t to) {
  std::vector<int64_t> changes;
  for (int64_t t = from; t + 86400 <= to; t += 86400) {
    if (FromLibrary(t).offset == FromLibrary(t + 86400).offset) continue;
    int64_t lo = t, hi = t + 86400;  // offset(lo) differs from offset(hi)
    while (hi - lo > 1) {
      const int64_t mid = lo + (hi - lo) / 2;
      (FromLibrary(mid).offset == FromLibrary(lo).offset ? lo : hi) = mid;
    }
    changes.push_back(hi);
  }
  return changes;
}

// Zones with daylight saving, with offsets of half and quarter hours, with
// changes at odd seconds in their history, and plain UTC.
const char* const kZones[] = {
    "America/New_York", "Europe/Berlin",   "Australia/Lord_Howe",
    "Asia/Kathmandu",   "Pacific/Chatham", "America/St_Johns",
    "Europe/Amsterdam", "Africa/Monrovia", "UTC"};

TEST(LocalTimeCache, AgreesWithLocaltimeAroundEveryChangeOfOffset) {
  int zones = 0;
  for (const char* zone : kZones) {
    if (!ZoneInstalled(zone)) continue;
    ++zones;
    ScopedZone scoped(zone);
    LocalTimeCache cache;
    // 1900 to 2040: the history of most zones, and future rules.
    const int64_t from = -2208988800LL, to = 2208988800LL;
    const std::vector<int64_t> changes = Changes(from, to);
    for (const int64_t change : changes) {
      // Around the change, a second at a time, then across its whole day.
      for (int64_t t = change - 3; t <= change + 3; ++t) ExpectSame(cache, t);
      const int64_t day = change - ((change % 86400) + 86400) % 86400;
      for (int64_t t = day - 86400; t < day + 2 * 86400; t += 599)
        ExpectSame(cache, t);
    }
    // And a day's spread of instants over the whole range.
    for (int64_t t = from; t < to; t += 86400 * 7 + 3607) ExpectSame(cache, t);
    if (std::string(zone) != "UTC") {
      EXPECT_LT(0u, changes.size()) << zone;
    }
  }
  if (zones == 0) GTEST_SKIP() << "tzdata missing";
}

TEST(LocalTimeCache, LeapSecondsOfRightZonesAreNotLost) {
  if (!ZoneInstalled("right/UTC")) GTEST_SKIP() << "right/ zones missing";
  ScopedZone scoped("right/UTC");
  LocalTimeCache cache;
  // 2016-12-31 23:59:60 UTC is a leap second; counted zones show it.
  const int64_t around = 1483228800 + 26;  // leap seconds so far
  for (int64_t t = around - 100; t <= around + 100; ++t) ExpectSame(cache, t);
  for (int64_t t = around - 10 * 86400; t < around; t += 3593)
    ExpectSame(cache, t);
}

TEST(LocalTimeCache, MostConversionsNeedNoLibraryCall) {
  ScopedZone scoped("UTC");
  struct CountedCache : LocalTimeCache {
    int64_t library_calls() const { return library_calls_; }
  } cache;
  for (int64_t t = 1700000000; t < 1700000000 + 30 * 86400; t += 61)
    ExpectSame(cache, t);
  // One day's check costs 26 calls; 30 days of instants a minute apart
  // would be 42,000 calls without the table.
  EXPECT_LE(cache.library_calls(), 31 * 26);
}

TEST(LocalTimeCache, InstantsFarOutsideFileTimesStillConvert) {
  ScopedZone scoped("UTC");
  LocalTimeCache cache;
  for (const int64_t t : {int64_t{0}, int64_t{-1}, int64_t{-11644473600LL},
                          int64_t{1} << 52, -(int64_t{1} << 52),
                          (int64_t{1} << 52) + 1, INT64_MAX, INT64_MIN})
    ExpectSame(cache, t);
}

}  // namespace
