#include "sweep/sweep.h"

#include <cstdio>
#include <memory>
#include <utility>
#include <vector>

#include "run/run_log.h"
#include "sweep/wildcard.h"
#include "ui/results_list.h"

namespace {

// "00" to "99", two characters each.
constexpr char kTwoDigits[] =
    "0001020304050607080910111213141516171819"
    "2021222324252627282930313233343536373839"
    "4041424344454647484950515253545556575859"
    "6061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

// Appends `value` with at least `width` digits, zero-padded. Two digits come
// from the table: this runs six times for every stamp of a large sweep.
void AppendNumber(std::string* out, int value, int width) {
  if (width == 2 && static_cast<unsigned>(value) < 100) {
    out->append(kTwoDigits + 2 * value, 2);
    return;
  }
  if (width == 4 && static_cast<unsigned>(value) < 10000) {
    AppendNumber(out, value / 100, 2);
    AppendNumber(out, value % 100, 2);
    return;
  }
  char buf[16];
  const int n = std::snprintf(buf, sizeof buf, "%0*d", width, value);
  out->append(buf, static_cast<size_t>(n));
}

// Appends the stamp of `time`, "mm/dd/yyyy hh:nn:ss" with the locale's
// separators, and returns true; appends nothing and returns false when the
// platform cannot convert the time. `local` receives the calendar time.
bool AppendStamp(std::string* out, Platform& platform,
                 const LocaleInfo& locale, FileTime time, CivilTime* local) {
  if (!time.valid || !platform.ToLocal(time, local)) return false;
  AppendNumber(out, local->month, 2);
  out->append(locale.date_separator);
  AppendNumber(out, local->day, 2);
  out->append(locale.date_separator);
  AppendNumber(out, local->year, 4);
  *out += ' ';
  AppendNumber(out, local->hour, 2);
  out->append(locale.time_separator);
  AppendNumber(out, local->minute, 2);
  out->append(locale.time_separator);
  AppendNumber(out, local->second, 2);
  return true;
}

// One sweep's state: what it reads, what it fills, the wildcard list read
// once, and a line buffer reused for every results line.
struct Walk {
  Platform& platform;
  const SweepSettings& settings;
  RunLog& log;
  ResultsList& results;
  LocaleInfo locale;
  char separator;
  WildcardList wildcard;
  std::string line;
  SweepTotals totals;
};

// Deletes the listing's current entry, whose full path is `path`. A failure
// becomes two lines of the log, a message and a false result; it never stops
// the walk.
bool KillFile(Walk& walk, Listing& listing, const std::string& path) {
  int64_t number = 0;
  std::string text;
  if (listing.RemoveCurrent(&number, &text)) return true;
  walk.log.AppendLine("Error: " + std::to_string(number) + ": " + text);
  walk.log.AppendLine("File:  " + path);
  walk.platform.ReportError("agesweep: cannot delete " + Printable(path) +
                            ": " + text);
  walk.totals.deletion_failed = true;
  return false;
}

// The matched-file step for the listing's current entry, whose full path is
// `path` (for the results line, the prompt and the log only).
void MatchedFile(Walk& walk, Listing& listing, const std::string& path) {
  const SweepSettings& settings = walk.settings;
  const FileTimes times = listing.ReadCurrentTimes();
  CivilTime created, written;
  std::string& line = walk.line;
  line.assign(path);
  line += '\t';
  const bool created_ok =
      AppendStamp(&line, walk.platform, walk.locale, times.creation, &created);
  line += '\t';
  const bool written_ok = AppendStamp(&line, walk.platform, walk.locale,
                                      times.last_write, &written);
  walk.results.Add(line);

  // A time that cannot be converted has no age: the file is never due,
  // rather than being judged by some other time.
  const bool use_written = settings.use_modified_time;
  if (!(use_written ? written_ok : created_ok)) return;
  const int64_t age =
      CountIntervals(settings.interval, use_written ? written : created,
                     walk.platform.Now(), walk.locale.first_weekday);
  if (age < settings.time_frame) return;

  if (!settings.quiet_mode &&
      !walk.platform.AskYesNo(
          "Confirm Delete", "Are you sure you want to delete " + Printable(path)))
    return;
  if (KillFile(walk, listing, path)) walk.log.AppendLine("Delete: " + path);
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
  while (!stack.empty() && walk.platform.InterruptSignal() == 0) {
    Listing& listing = *stack.back().listing;
    folder.resize(stack.back().folder_length);
    if (!listing.Next(&entry)) {
      stack.pop_back();
      continue;
    }
    ++totals.FilesSearched;
    if (entry.is_dir) {
      // Every folder whose name starts with a dot is passed over, not only
      // "." and "..": hidden folders such as .cache are left alone.
      if (entry.name[0] == '.' || !walk.settings.include_subdirs) continue;
      folder.append(entry.name);
      folder += walk.separator;
      std::string trouble;
      if (std::unique_ptr<Listing> sub = listing.OpenCurrentFolder(&trouble)) {
        stack.push_back(Level{std::move(sub), folder.size()});
      } else if (!trouble.empty()) {
        walk.platform.ReportError("agesweep: cannot list folder " +
                                  Printable(folder) + ": " + trouble);
        totals.listing_failed = true;
      }
    } else if (walk.wildcard.Matches(entry.name)) {
      ++totals.FilesFound;
      folder.append(entry.name);
      MatchedFile(walk, listing, folder);
    }
  }
}

}  // namespace

SweepTotals SearchFolder(Platform& platform, const SweepSettings& settings,
                         std::unique_ptr<Listing> top, RunLog& log,
                         ResultsList& results) {
  Walk walk{platform,
            settings,
            log,
            results,
            platform.Locale(),
            platform.Separator(),
            WildcardList(settings.wildcard),
            std::string(),
            SweepTotals()};
  if (top) WalkTree(walk, std::move(top), settings.folder);
  return walk.totals;
}
