// The sweep: walking the folder tree, and for every file whose name matches
// the wildcard list, its results line, its age test, the confirmation and the
// deletion.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/platform.h"
#include "sweep/intervals.h"

struct RunLog;
class ResultsList;

// What a sweep is asked to do, complete and checked: built once from the
// run's settings after the defaults and the refusals.
struct SweepSettings {
  std::string folder;  // ends in the platform's separator
  std::string wildcard;
  bool include_subdirs = false;
  bool quiet_mode = false;
  bool use_modified_time = true;  // false: the creation time
  IntervalCode interval = IntervalCode::kDayOfYear;
  int time_frame = 20;
};

// What a sweep did.
struct SweepTotals {
  int64_t FilesSearched = 0;  // every entry examined
  int64_t FilesFound = 0;     // every file whose name matched
  bool deletion_failed = false;
  bool listing_failed = false;  // the system ran short while opening a folder
};

// Walks `top`, the open folder `settings.folder`, adding one results line
// per matching file to `results` and the deletion and failure lines to
// `log`. A null `top` (a folder that cannot be listed) is an empty sweep.
SweepTotals SearchFolder(Platform& platform, const SweepSettings& settings,
                         std::unique_ptr<Listing> top, RunLog& log,
                         ResultsList& results);
