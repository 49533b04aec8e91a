// The sweep: walking the folder tree, and for every file whose name matches
// the wildcard list, its age test, the confirmation and the deletion.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
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
  // Report what would be deleted, and delete and ask nothing.
  bool dry_run = false;
  // The run's own log file, which the sweep never deletes: the file with
  // this identity, and the file at this path (spelled as the sweep spells
  // the paths it reports, from `folder`; empty when the log is not in the
  // tree, or where it is cannot be told). The path is what holds on a
  // share that makes up a new file number each time it is asked.
  std::optional<FileIdentity> own_log;
  std::string own_log_path;
  // The log's spool, where it has a name the sweep can meet: left alone
  // as the log is.
  std::optional<FileIdentity> own_spool;
  // How many deletions of a quiet sweep may be in flight at once: enough
  // to keep the platform's threads busy behind a slow share (measured in
  // bench/README.md), fewer where the observer must have room for what
  // each says after a stop.
  size_t removals_in_flight = 4096;
};

// What a sweep counted.
struct SweepTotals {
  int64_t FilesSearched = 0;  // every entry examined
  int64_t FilesFound = 0;     // every file whose name matched
  // Memory ran out: the walk stopped after the entry at hand, as on an
  // interruption.
  bool out_of_memory = false;
};

// What a sweep reports as it goes, in walk order. The sweep only says what
// happened; what becomes of it (log lines, messages, prompts) is the
// caller's. Paths are exact: whoever shows one masks it.
struct SweepObserver {
  virtual ~SweepObserver() = default;

  // A file whose name matched, before its age is judged; a time the file
  // system does not keep is invalid.
  virtual void FileMatched(const std::string& path, const FileTimes& times) = 0;
  // A file whose name matched but whose times could not be read: it has no
  // age and stays. Failures come as the platform numbers and words them.
  virtual void TimesUnreadable(const std::string& path, int64_t error_number,
                               const std::string& error_text) = 0;
  // A due file that a dry run would delete.
  virtual void WouldDelete(const std::string& path) = 0;
  // A due file, when the sweep is not quiet: true to delete it.
  virtual bool ConfirmDeletion(const std::string& path) = 0;
  virtual void FileDeleted(const std::string& path) = 0;
  // The deletion of a due file failed, with the platform's numbering and
  // wording of the failure. A due file that is no longer the file judged
  // when its deletion comes (gone, replaced, made young while asked) is
  // kept, and told here: as the platform says a file it cannot find, or
  // with kFileChangedNumber and kFileChangedText.
  virtual void DeletionFailed(const std::string& path, int64_t error_number,
                              const std::string& error_text) = 0;
  // A subfolder that could not be opened, or a folder whose reading failed
  // part-way; `folder` ends in the separator. The walk goes on with the
  // rest of the tree.
  virtual void FolderUnreadable(const std::string& folder,
                                int64_t error_number,
                                const std::string& error_text) = 0;
  // Every few dozen entries, with what the walk has counted so far: for a
  // sign of life on a long run.
  virtual void Progress(const SweepTotals& so_far) { (void)so_far; }
};

// Walks `top`, the open folder `settings.folder`, reporting to `observer`.
// A null `top` (a folder that cannot be listed) is an empty sweep. An
// observer may stop the walk by throwing std::bad_alloc: memory ran out.
SweepTotals SearchFolder(Platform& platform, const SweepSettings& settings,
                         std::unique_ptr<Listing> top, SweepObserver& observer);
