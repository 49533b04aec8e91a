#include "sweep/sweep.h"

#include <algorithm>
#include <deque>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <utility>
#include <vector>

#include "sweep/wildcard.h"

namespace {

// How many reports may wait behind the first deletion still in flight, for
// each deletion that may be: few enough that a stop leaves little to say.
constexpr size_t kReportsHeldPerRemoval = 2;

// How often, in entries, the observer hears how far the walk has come:
// often enough for a line redrawn ten times a second, seldom enough to
// cost nothing.
constexpr int64_t kProgressEvery = 64;

// What the sweep has to say, held back while a deletion before it is still
// being made, so that the observer hears everything in walk order.
class Reports {
 public:
  Reports(SweepObserver& observer, size_t removals_in_flight)
      : observer_(observer),
        removals_in_flight_(std::max<size_t>(1, removals_in_flight)) {}

  void Matched(const std::string& path, const FileTimes& times) {
    if (held_.empty()) return observer_.FileMatched(path, times);
    Hold(Held{Held::kMatched, path, times, 0, {}, {}, {}});
  }
  void TimesUnreadable(const std::string& path, int64_t number,
                       const std::string& text) {
    if (held_.empty()) return observer_.TimesUnreadable(path, number, text);
    Hold(Held{Held::kUnreadable, path, {}, number, text, {}, {}});
  }
  void FolderUnreadable(const std::string& folder, int64_t number,
                        const std::string& text) {
    if (held_.empty()) return observer_.FolderUnreadable(folder, number, text);
    Hold(Held{Held::kFolderUnreadable, folder, {}, number, text, {}, {}});
  }
  // Hands over the deletion of the listing's current entry. Its place is
  // taken first: once it is handed over, nothing may keep it from being
  // told.
  void Removal(const std::string& path, Listing& listing,
               const RemovalRule& rule) {
    held_.push_back(Held{Held::kRemoval, path, {}, 0, {}, {}, {}});
    try {
      held_.back().removal = listing.RemoveCurrentLater(rule);
    } catch (...) {
      held_.pop_back();
      throw;
    }
    ++removals_;
    TellWhatIsDue();
  }

  // Waits for every deletion in flight, or, when `stopping`, gives up
  // those not yet begun: they leave no trace, as files the walk never
  // reached. Throws nothing, so that it can follow a stop.
  // Gives the number given up.
  int64_t Settle(bool stopping) {
    int64_t given_up = 0;
    for (Held& held : held_) {
      if (held.kind != Held::kRemoval || held.outcome) continue;
      if (stopping && held.removal->Cancel()) {
        held.kind = Held::kGivenUp;
        ++given_up;
      } else {
        held.outcome = held.removal->Finish();
      }
      held.removal.reset();
    }
    return given_up;
  }

  // Says everything held back, after Settle. True when memory ran out on
  // the way: every report is made all the same.
  bool TellAll() {
    bool short_of_memory = false;
    while (!held_.empty()) {
      try {
        TellFirst();
      } catch (const std::bad_alloc&) {
        short_of_memory = true;
      }
    }
    return short_of_memory;
  }

 private:
  struct Held {
    enum Kind { kMatched, kUnreadable, kFolderUnreadable, kRemoval, kGivenUp };
    Kind kind;
    std::string path;
    FileTimes times;
    int64_t number;
    std::string text;
    std::unique_ptr<PendingRemoval> removal;
    std::optional<RemovalOutcome> outcome;
  };

  void Hold(Held held) {
    held_.push_back(std::move(held));
    TellWhatIsDue();
  }

  // What is done is said at once; what is not, once too much waits.
  void TellWhatIsDue() {
    while (!held_.empty() &&
           (removals_ > removals_in_flight_ ||
            held_.size() > kReportsHeldPerRemoval * removals_in_flight_ ||
            Ready(held_.front())))
      TellFirst();
  }

  static bool Ready(Held& held) {
    return held.kind != Held::kRemoval || held.outcome ||
           held.removal->Ready();
  }

  // Says the first report held, waiting for its deletion if it is one. It
  // is let go of first, so that an observer that stops the walk never
  // hears it twice.
  void TellFirst() {
    Held held = std::move(held_.front());
    held_.pop_front();
    switch (held.kind) {
      case Held::kMatched:
        return observer_.FileMatched(held.path, held.times);
      case Held::kUnreadable:
        return observer_.TimesUnreadable(held.path, held.number, held.text);
      case Held::kFolderUnreadable:
        return observer_.FolderUnreadable(held.path, held.number, held.text);
      case Held::kGivenUp:
        --removals_;
        return;
      case Held::kRemoval:
        break;
    }
    --removals_;
    const RemovalOutcome outcome =
        held.outcome ? std::move(*held.outcome) : held.removal->Finish();
    held.removal.reset();
    TellRemoval(held.path, outcome);
  }

  // What a serial sweep says of a due file it reads and deletes, in the
  // same order. A report that runs out of memory does not silence the one
  // after it: the file may be gone.
  void TellRemoval(const std::string& path, const RemovalOutcome& outcome) {
    if (outcome.kind == RemovalOutcome::kUnreadable)
      return observer_.TimesUnreadable(path, outcome.error_number,
                                       outcome.error_text);
    bool short_of_memory = false;
    try {
      observer_.FileMatched(path, outcome.facts.times);
    } catch (const std::bad_alloc&) {
      short_of_memory = true;
    }
    if (outcome.kind == RemovalOutcome::kRemoved) observer_.FileDeleted(path);
    if (outcome.kind == RemovalOutcome::kFailed)
      observer_.DeletionFailed(path, outcome.error_number, outcome.error_text);
    if (short_of_memory) throw std::bad_alloc();
  }

  SweepObserver& observer_;
  const size_t removals_in_flight_;
  std::deque<Held> held_;
  size_t removals_ = 0;  // held, given up or not
};

// One sweep's state: what it reads, whom it tells, and the wildcard list
// read once. What it will enter and read is said in one place, for the walk
// itself and for the platform reading ahead of it, and what still goes at
// the moment of a deletion, for whichever thread makes it.
struct Walk final : ReadAheadPlan, RemovalRule {
  Walk(Platform& platform, const SweepSettings& settings,
       SweepObserver& observer)
      : platform(platform),
        settings(settings),
        observer(observer),
        reports(observer, settings.removals_in_flight),
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
  // A quiet deletion is never handed over for a file at the log's path,
  // so the rule made in the moment before it has only the identity left
  // to check.
  bool StillToRemove(const EntryFacts& now) const override {
    return IsDue(now.times) && !IsOwnLogFile(now.identity);
  }

  // Whether the file at `path`, whose identity is `identity`, is the run's
  // own log: either one says so. The identity follows the log under any
  // name; the path holds where the file system's identities do not (a
  // share that makes up its file numbers on every request).
  bool IsOwnLog(const std::string& path, const FileIdentity& identity) const {
    return IsOwnLogPath(path) || IsOwnLogFile(identity);
  }
  bool IsOwnLogPath(const std::string& path) const {
    return !settings.own_log_path.empty() && path == settings.own_log_path;
  }
  bool IsOwnLogFile(const FileIdentity& identity) const {
    return settings.own_log == identity || settings.own_spool == identity;
  }

  // Whether a file with `times` is due now. A time that cannot be
  // converted has no age: the file is never due, rather than being judged
  // by some other time. The platform's clock and conversions keep caches,
  // and deletions are judged in other threads too.
  bool IsDue(const FileTimes& times) const {
    const FileTime chosen =
        settings.use_modified_time ? times.last_write : times.creation;
    if (!chosen.valid) return false;
    std::lock_guard<std::mutex> lock(clock);
    CivilTime local;
    if (!platform.ToLocal(chosen, &local)) return false;
    return CountIntervals(settings.interval, local, platform.Now(),
                          first_weekday) >= settings.time_frame;
  }

  Platform& platform;
  const SweepSettings& settings;
  SweepObserver& observer;
  Reports reports;
  mutable std::mutex clock;
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

// The matched-file step for the listing's current entry, whose full path is
// `path` (for the reports only: the deletion acts on the entry itself).
void MatchedFile(Walk& walk, Listing& listing, const DirEntry& entry,
                 const std::string& path) {
  const SweepSettings& settings = walk.settings;
  // Facts read ahead may be stale. Keeping a file is always safe, so they
  // may pass it over; a file they find due is read again, and only that
  // read decides its deletion.
  if (entry.early && !walk.IsDue(entry.early->times)) {
    walk.reports.Matched(path, entry.early->times);
    return;
  }
  // A quiet deletion is handed over whole: the read that decides it is
  // made in the moment before it, wherever it is made. The file at the
  // log's path is not handed over at all; it is read and told as below.
  if (settings.quiet_mode && !settings.dry_run && !walk.IsOwnLogPath(path)) {
    walk.reports.Removal(path, listing, walk);
    return;
  }
  EntryFacts facts;
  int64_t error_number = 0;
  std::string error_text;
  if (!listing.ReadCurrent(&facts, &error_number, &error_text)) {
    walk.reports.TimesUnreadable(path, error_number, error_text);
    return;
  }
  walk.reports.Matched(path, facts.times);
  if (!walk.IsDue(facts.times)) return;
  if (walk.IsOwnLog(path, facts.identity)) return;
  if (settings.dry_run) {
    walk.observer.WouldDelete(path);
    return;
  }

  if (!walk.observer.ConfirmDeletion(path)) return;
  // The answer may have taken long: what is deleted must still be the
  // file that was asked about, and still due. One that is not stays, and
  // its deletion failed: a file gone says so as the platform does.
  EntryFacts now;
  if (!listing.ReadCurrent(&now, &error_number, &error_text)) {
    walk.observer.DeletionFailed(path, error_number, error_text);
    return;
  }
  if (now.identity != facts.identity || !walk.IsDue(now.times)) {
    walk.observer.DeletionFailed(path, kFileChangedNumber, kFileChangedText);
    return;
  }
  if (KillFile(walk, listing, path)) walk.observer.FileDeleted(path);
}

// One open folder of the walk, and the length of its folder text.
struct Level {
  std::unique_ptr<Listing> listing;
  size_t folder_length;
};

// The walk's loop over `stack`, until it is empty or a signal stops it.
void WalkLevels(Walk& walk, std::vector<Level>& stack, std::string& folder) {
  SweepTotals& totals = walk.totals;
  DirEntry entry;
  int64_t error_number = 0;
  std::string error_text;
  while (!stack.empty() && walk.platform.InterruptSignal() == 0) {
    Listing& listing = *stack.back().listing;
    folder.resize(stack.back().folder_length);
    error_number = 0;
    error_text.clear();
    if (!listing.Next(&entry, &error_number, &error_text)) {
      if (!error_text.empty())
        walk.reports.FolderUnreadable(folder, error_number, error_text);
      stack.pop_back();
      continue;
    }
    if (++totals.FilesSearched % kProgressEvery == 0)
      walk.observer.Progress(totals);
    // An entry listed as a folder is tried as one where the walk would
    // enter it, or where its name matches: it is a file when the opening
    // finds it no folder, and when its type is unsure and it is not
    // entered. One the walk would enter that cannot be opened is told
    // once, as the folder it may be.
    bool is_file = !entry.is_dir;
    if (entry.is_dir && walk.WillEnter(entry.name)) {
      folder.append(entry.name);
      folder += walk.separator;
      if (std::unique_ptr<Listing> sub =
              listing.OpenCurrentFolder(&error_number, &error_text)) {
        stack.push_back(Level{std::move(sub), folder.size()});
      } else if (!error_text.empty()) {
        walk.reports.FolderUnreadable(folder, error_number, error_text);
      } else {
        is_file = listing.CurrentIsNotAFolder();
      }
    } else if (entry.is_dir) {
      is_file = entry.type_unsure ||
                (walk.WillRead(entry.name) && entry.name != "." &&
                 entry.name != ".." &&
                 !listing.OpenCurrentFolder(&error_number, &error_text) &&
                 listing.CurrentIsNotAFolder());
    }
    if (is_file && walk.WillRead(entry.name)) {
      ++totals.FilesFound;
      folder.resize(stack.back().folder_length);  // this level: none was entered
      folder.append(entry.name);
      MatchedFile(walk, listing, entry, folder);
    }
  }
}

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
  try {
    WalkLevels(walk, stack, folder);
  } catch (const std::bad_alloc&) {
    totals.out_of_memory = true;
  }
  // Deletions in flight end before any folder is let go of; on a stop, no
  // new one begins. The folders go before their reports are made, so that
  // a run short of memory has room to say what it did.
  // A file given up counts as one the walk never reached: what was found
  // was handled to the end.
  totals.FilesFound -= walk.reports.Settle(
      totals.out_of_memory || walk.platform.InterruptSignal() != 0);
  while (!stack.empty()) stack.pop_back();
  if (walk.reports.TellAll()) totals.out_of_memory = true;
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
