#include "sweep/sweep.h"

#include <cstdio>

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
// becomes two lines of the log and a false result; it never stops the walk.
bool KillFile(Walk& walk, Listing& listing, const std::string& path) {
  int64_t number = 0;
  std::string text;
  if (listing.RemoveCurrent(&number, &text)) return true;
  walk.log.AppendLine("Error: " + std::to_string(number) + ": " + text);
  walk.log.AppendLine("File:  " + path);
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
      !walk.platform.AskYesNo("Confirm Delete",
                              "Are you sure you want to delete " + path))
    return;
  if (KillFile(walk, listing, path)) walk.log.AppendLine("Delete: " + path);
}

// Walks one open folder whose folder text is `folder`. The text grows by an
// entry's name while that entry is handled and is as given on return.
void WalkListing(Walk& walk, Listing& listing, std::string& folder) {
  SweepTotals& totals = walk.totals;
  const size_t folder_length = folder.size();
  DirEntry entry;
  while (listing.Next(&entry)) {
    if (entry.is_dir) {
      // Every folder whose name starts with a dot is passed over, not only
      // "." and "..": hidden folders such as .cache are left alone.
      if (entry.name[0] != '.' && walk.settings.include_subdirs) {
        folder.append(entry.name);
        folder += walk.separator;
        if (std::unique_ptr<Listing> sub = listing.OpenCurrentFolder())
          WalkListing(walk, *sub, folder);
        folder.resize(folder_length);
      }
    } else if (walk.wildcard.Matches(entry.name)) {
      ++totals.FilesFound;
      folder.append(entry.name);
      MatchedFile(walk, listing, folder);
      folder.resize(folder_length);
    }
    ++totals.FilesSearched;
  }
}

}  // namespace

SweepTotals SearchFolder(Platform& platform, const SweepSettings& settings,
                         RunLog& log, ResultsList& results) {
  Walk walk{platform,
            settings,
            log,
            results,
            platform.Locale(),
            platform.Separator(),
            WildcardList(settings.wildcard),
            std::string(),
            SweepTotals()};
  if (std::unique_ptr<Listing> listing = platform.OpenFolder(settings.folder)) {
    std::string folder = settings.folder;
    WalkListing(walk, *listing, folder);
  }
  return walk.totals;
}
