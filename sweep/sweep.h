// The sweep: walking the folder tree, and for every file whose name matches
// the wildcard list, its results line, its age test, the confirmation and the
// deletion.
#pragma once

#include <cstdint>
#include <string>

#include "platform/platform.h"
#include "sweep/intervals.h"

struct RunLog;
class ResultsList;

// What the sweep reads (never changes) and what it fills, for one run.
struct SweepContext {
  SweepContext(Platform& p, RunLog& l, ResultsList& r)
      : platform(p), log(l), results(r) {}

  Platform& platform;
  RunLog& log;
  ResultsList& results;

  // Settings of the run, fixed before the sweep starts.
  std::string wildcard;
  bool include_subdirs = false;
  bool quiet_mode = false;
  bool use_modified_time = true;
  IntervalCode interval = IntervalCode::kDayOfYear;
  int64_t time_frame = 20;
  LocaleInfo locale;
  char separator = '/';

  // Totals of the run.
  int64_t FilesSearched = 0;
  int64_t FilesFound = 0;
  bool deletion_failed = false;
};

// Walks `folder` (a folder text ending in the separator). The text is used as
// a scratch buffer while subfolders are walked and is as given on return.
void SearchFolder(SweepContext& ctx, std::string& folder);

// A file time as "mm/dd/yyyy hh:nn:ss" with the locale's separators; empty
// when the platform cannot convert it. `local` receives the calendar time.
std::string FormatStamp(Platform& platform, const LocaleInfo& locale,
                        FileTime time, CivilTime* local);
