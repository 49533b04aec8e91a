#include "sweep/sweep.h"

#include <cstdio>

#include "run/run_log.h"
#include "sweep/wildcard.h"
#include "ui/results_list.h"

namespace {

void AppendTwoDigits(std::string* out, int value) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%02d", value);
  out->append(buf);
}

// Deletes one file. A failure becomes two lines of the log and a false
// result; it never stops the walk.
bool KillFile(SweepContext& ctx, Listing& listing, const DirEntry& entry,
              const std::string& path) {
  int64_t number = 0;
  std::string text;
  if (listing.Remove(entry, path, &number, &text)) return true;
  ctx.log.AppendLine("Error: " + std::to_string(number) + ": " + text);
  ctx.log.AppendLine("File:  " + path);
  ctx.deletion_failed = true;
  return false;
}

void MatchedFile(SweepContext& ctx, Listing& listing, const DirEntry& entry,
                 const std::string& folder) {
  std::string path = folder;
  path.append(entry.name);

  const FileTimes times = listing.ReadTimes(entry, path);
  CivilTime created, written;
  const std::string creation_stamp =
      FormatStamp(ctx.platform, ctx.locale, times.creation, &created);
  const std::string write_stamp =
      FormatStamp(ctx.platform, ctx.locale, times.last_write, &written);

  std::string line = path;
  line += '\t';
  line += creation_stamp;
  line += '\t';
  line += write_stamp;
  ctx.results.Add(line);

  // A time that cannot be converted has no age: the file is never due,
  // rather than being judged by some other time.
  const bool use_written = ctx.use_modified_time;
  if ((use_written ? write_stamp : creation_stamp).empty()) return;
  const int64_t age =
      CountIntervals(ctx.interval, use_written ? written : created,
                     ctx.platform.Now(), ctx.locale.first_weekday);
  if (age < ctx.time_frame) return;

  if (!ctx.quiet_mode &&
      !ctx.platform.AskYesNo("Confirm Delete",
                             "Are you sure you want to delete " + path))
    return;
  if (KillFile(ctx, listing, entry, path)) ctx.log.AppendLine("Delete: " + path);
}

}  // namespace

std::string FormatStamp(Platform& platform, const LocaleInfo& locale,
                        FileTime time, CivilTime* local) {
  std::string out;
  if (!time.valid || !platform.ToLocal(time, local)) return out;
  AppendTwoDigits(&out, local->month);
  out += locale.date_separator;
  AppendTwoDigits(&out, local->day);
  out += locale.date_separator;
  char year[16];
  std::snprintf(year, sizeof year, "%04d", local->year);
  out += year;
  out += ' ';
  AppendTwoDigits(&out, local->hour);
  out += locale.time_separator;
  AppendTwoDigits(&out, local->minute);
  out += locale.time_separator;
  AppendTwoDigits(&out, local->second);
  return out;
}

namespace {

void WalkListing(SweepContext& ctx, Listing& listing, std::string& folder) {
  const size_t folder_length = folder.size();
  DirEntry entry;
  while (listing.Next(&entry)) {
    if (entry.is_dir) {
      // Every folder whose name starts with a dot is passed over, not only
      // "." and "..": hidden folders such as .cache are left alone.
      if (entry.name[0] != '.' && ctx.include_subdirs) {
        folder.append(entry.name);
        folder += ctx.separator;
        if (std::unique_ptr<Listing> sub = listing.OpenSubfolder(entry, folder))
          WalkListing(ctx, *sub, folder);
        folder.resize(folder_length);
      }
    } else if (MatchesWildcard(entry.name, ctx.wildcard)) {
      ++ctx.FilesFound;
      MatchedFile(ctx, listing, entry, folder);
    }
    ++ctx.FilesSearched;
  }
}

}  // namespace

void SearchFolder(SweepContext& ctx, std::string& folder) {
  if (std::unique_ptr<Listing> listing = ctx.platform.OpenFolder(folder))
    WalkListing(ctx, *listing, folder);
}
