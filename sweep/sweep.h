// The sweep: walking the folder tree, and for every file whose name matches
// the wildcard list, its age test, the confirmation and the deletion.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/platform.h"
#include "sweep/intervals.h"

// What a sweep is asked to do, complete and checked: built once from the
// command line, which gives every setting its default, after the refusals.
// The zero values here are no one's defaults.
struct SweepSettings {
  std::string folder;  // ends in the platform's separator
  std::string wildcard;
  bool include_subdirs = false;
  bool quiet_mode = false;
  bool use_modified_time = false;  // false: the creation time
  IntervalCode interval{};
  int time_frame = 0;
};

// What a sweep reports as it goes, in walk order. The sweep only says what
// happened; what becomes of it (log lines, messages, prompts) is the
// caller's. Paths are exact: whoever shows one masks it.
struct SweepObserver {
  virtual ~SweepObserver() = default;

  // A file whose name matched, before its age is judged; a time that could
  // not be read is invalid.
  virtual void FileMatched(const std::string& path, const FileTimes& times) = 0;
  // A due file, when the sweep is not quiet: true to delete it.
  virtual bool ConfirmDeletion(const std::string& path) = 0;
  virtual void FileDeleted(const std::string& path) = 0;
  // The deletion of a due file failed, with the platform's numbering and
  // wording of the failure.
  virtual void DeletionFailed(const std::string& path, int64_t error_number,
                              const std::string& error_text) = 0;
  // A subfolder that could not be listed because the system ran short (of
  // descriptors or memory); `folder` ends in the separator.
  virtual void FolderUnlisted(const std::string& folder,
                              const std::string& error_text) = 0;
};

// What a sweep counted.
struct SweepTotals {
  int64_t FilesSearched = 0;  // every entry examined
  int64_t FilesFound = 0;     // every file whose name matched
};

// Walks `top`, the open folder `settings.folder`, reporting to `observer`.
// A null `top` (a folder that cannot be listed) is an empty sweep.
SweepTotals SearchFolder(Platform& platform, const SweepSettings& settings,
                         std::unique_ptr<Listing> top, SweepObserver& observer);
