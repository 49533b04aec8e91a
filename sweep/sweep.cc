#include "sweep/sweep.h"

#include <memory>
#include <new>
#include <utility>
#include <vector>

#include "sweep/wildcard.h"

namespace {

// One sweep's state: what it reads, whom it tells, and the wildcard list
// read once. What it will enter and read is said in one place, for the walk
// itself and for the platform reading ahead of it.
struct Walk final : ReadAheadPlan {
  Walk(Platform& platform, const SweepSettings& settings,
       SweepObserver& observer)
      : platform(platform),
        settings(settings),
        observer(observer),
        first_weekday(platform.Locale().first_weekday),
        separator(platform.Separator()),
        wildcard(settings.wildcard) {}

  // Every folder whose name starts with a dot is passed over, not only "."
  // and "..": hidden folders such as .cache are left alone.
  bool WillEnter(std::string_view name) const override {
    return settings.include_subdirs && !name.empty() && name[0] != '.';
  }
  bool WillRead(std::string_view name) const override {
    return wildcard.Matches(name);
  }

  Platform& platform;
  const SweepSettings& settings;
  SweepObserver& observer;
  int first_weekday;
  char separator;
  WildcardList wildcard;
  SweepTotals totals;
};

// Deletes the listing's current entry, whose full path is `path`. A failure
// is reported and gives false; it never stops the walk.
bool KillFile(Walk& walk, Listing& listing, const std::string& path) {
  int64_t number = 0;
  std::string text;
  if (listing.RemoveCurrent(&number, &text)) return true;
  walk.observer.DeletionFailed(path, number, text);
  return false;
}

// Whether a file with `times` is due now. A time that cannot be converted
// has no age: the file is never due, rather than being judged by some other
// time.
bool IsDue(Walk& walk, const FileTimes& times) {
  const SweepSettings& settings = walk.settings;
  CivilTime local;
  const FileTime chosen =
      settings.use_modified_time ? times.last_write : times.creation;
  if (!chosen.valid || !walk.platform.ToLocal(chosen, &local)) return false;
  return CountIntervals(settings.interval, local, walk.platform.Now(),
                        walk.first_weekday) >= settings.time_frame;
}

// The matched-file step for the listing's current entry, whose full path is
// `path` (for the reports only: the deletion acts on the entry itself).
void MatchedFile(Walk& walk, Listing& listing, const DirEntry& entry,
                 const std::string& path) {
  const SweepSettings& settings = walk.settings;
  // Facts read ahead may be stale. Keeping a file is always safe, so they
  // may pass it over; a file they find due is read again, and only that
  // read decides its deletion.
  if (entry.early && !IsDue(walk, entry.early->times)) {
    walk.observer.FileMatched(path, entry.early->times);
    return;
  }
  EntryFacts facts;
  std::string error_text;
  if (!listing.ReadCurrent(&facts, &error_text)) {
    walk.observer.TimesUnreadable(path, error_text);
    return;
  }
  walk.observer.FileMatched(path, facts.times);
  if (!IsDue(walk, facts.times)) return;
  if (settings.own_log == facts.identity) return;
  if (settings.dry_run) {
    walk.observer.WouldDelete(path);
    return;
  }

  if (!settings.quiet_mode) {
    if (!walk.observer.ConfirmDeletion(path)) return;
    // The answer may have taken long: what is deleted must still be the
    // file that was asked about, and still due.
    EntryFacts now;
    if (!listing.ReadCurrent(&now, &error_text) ||
        now.identity != facts.identity || !IsDue(walk, now.times)) {
      walk.observer.FileChanged(path);
      return;
    }
  }
  if (KillFile(walk, listing, path)) walk.observer.FileDeleted(path);
}

// One open folder of the walk, and the length of its folder text.
struct Level {
  std::unique_ptr<Listing> listing;
  size_t folder_length;
};

// Walks the tree below `top`, depth first in listing order, with a stack of
// its own rather than the call stack: a tree may be deeper than any call
// stack, and then the system's limit on open folders is what stops the
// descent, as a folder that cannot be listed. `folder` is the folder text of
// `top`; it grows and shrinks with the walk. An interruption ends the walk
// after the entry at hand.
void WalkTree(Walk& walk, std::unique_ptr<Listing> top, std::string folder) {
  SweepTotals& totals = walk.totals;
  std::vector<Level> stack;
  stack.push_back(Level{std::move(top), folder.size()});
  DirEntry entry;
  std::string error_text;
  while (!stack.empty() && walk.platform.InterruptSignal() == 0) {
    Listing& listing = *stack.back().listing;
    folder.resize(stack.back().folder_length);
    error_text.clear();
    if (!listing.Next(&entry, &error_text)) {
      if (!error_text.empty()) walk.observer.FolderUnreadable(folder, error_text);
      stack.pop_back();
      continue;
    }
    ++totals.FilesSearched;
    if (entry.is_dir) {
      if (!walk.WillEnter(entry.name)) continue;
      folder.append(entry.name);
      folder += walk.separator;
      if (std::unique_ptr<Listing> sub =
              listing.OpenCurrentFolder(&error_text)) {
        stack.push_back(Level{std::move(sub), folder.size()});
      } else if (!error_text.empty()) {
        walk.observer.FolderUnreadable(folder, error_text);
      }
    } else if (walk.WillRead(entry.name)) {
      ++totals.FilesFound;
      folder.append(entry.name);
      MatchedFile(walk, listing, entry, folder);
    }
  }
}

}  // namespace

SweepTotals SearchFolder(Platform& platform, const SweepSettings& settings,
                         std::unique_ptr<Listing> top,
                         SweepObserver& observer) {
  Walk walk(platform, settings, observer);
  try {
    if (top) {
      top->ReadAhead(walk);
      WalkTree(walk, std::move(top), settings.folder);
    }
  } catch (const std::bad_alloc&) {
    // The walk's folders are closed and their memory freed on the way out,
    // so the run has room to say what it did.
    walk.totals.out_of_memory = true;
  }
  return walk.totals;
}
