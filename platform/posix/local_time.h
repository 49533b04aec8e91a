// Local time of UTC instants for a long run of conversions.
#pragma once

#include <cstdint>

#include "platform/civil_time.h"

// Converts UTC seconds to local time exactly as localtime_r does, with the
// zone's offset in force at each instant, daylight saving included, but
// without asking the C library for every instant: a sweep converts two file
// times per matching file, often hundreds of thousands.
//
// The offset is looked up once per UTC day and kept in a small table. A day
// is taken from the table only when localtime_r gives the same offset at
// every hour boundary of the day and at its last second, and its first and
// last seconds agree field by field with plain offset arithmetic. A day
// that holds a change of offset (a daylight-saving change, or one at an odd
// second as in many historical zones), or a leap second of a zone that
// counts them, fails that check and every instant in it goes to localtime_r.
// The one case the check cannot see is two changes between neighbouring
// hour boundaries that cancel out; in the time zone database no two changes
// of one zone are less than four days apart.
class LocalTimeCache {
 public:
  // False when the C library cannot convert the instant.
  bool Convert(int64_t utc_seconds, CivilTime* local);

 protected:
  // Calls of localtime_r so far: what the table saves, for a test to see.
  int64_t library_calls_ = 0;

 private:
  struct Date {
    int year, month, day;
  };
  struct Slot {
    int64_t day = INT64_MIN;  // UTC day number, seconds / 86400
    int64_t offset = 0;       // seconds east of UTC
    bool exact = false;       // offset arithmetic holds for the whole day
    // The UTC day spans at most two local dates: the first one's running
    // day number, and both dates.
    int64_t first_local_day = 0;
    Date dates[2] = {};
  };
  // Consecutive days take consecutive slots, so any run of this many days
  // stays in the table together.
  static constexpr int kSlots = 256;

  bool FromLibrary(int64_t utc_seconds, CivilTime* local, int64_t* offset);
  void Fill(Slot* slot, int64_t day);

  Slot slots_[kSlots];
};
