#include "sweep/sweep.h"

#include <cstdio>
#include <cstring>

#include "run/run_log.h"
#include "sweep/wildcard.h"
#include "ui/results_list.h"

namespace {

// Appends `value` as at least `width` digits, as printf's "%0*d" does.
void AppendPadded(std::string* out, int value, int width) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%0*d", width, value);
  out->append(buf);
}

// "00" to "99", two characters each.
constexpr char kTwoDigits[] =
    "0001020304050607080910111213141516171819"
    "2021222324252627282930313233343536373839"
    "4041424344454647484950515253545556575859"
    "6061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

// Writes 0..99 as two digits.
char* PutTwo(char* p, unsigned value) {
  std::memcpy(p, kTwoDigits + 2 * value, 2);
  return p + 2;
}

char* PutText(char* p, const std::string& text) {
  if (text.size() == 1) {
    *p = text[0];
    return p + 1;
  }
  std::memcpy(p, text.data(), text.size());
  return p + text.size();
}

// A stamp's text: "mm/dd/yyyy hh:nn:ss" with the locale's separators; empty
// when the platform cannot convert the time.
class Stamp {
 public:
  Stamp(Platform& platform, const LocaleInfo& locale, FileTime time,
        CivilTime* local) {
    if (!time.valid || !platform.ToLocal(time, local)) return;
    valid_ = true;
    const CivilTime& t = *local;
    const std::string& ds = locale.date_separator;
    const std::string& ts = locale.time_separator;
    // Unsigned, a negative field fails the range test too.
    const auto two = [](int v) { return static_cast<unsigned>(v) < 100; };
    const unsigned year = static_cast<unsigned>(t.year);
    if (two(t.month) && two(t.day) && year < 10000 && two(t.hour) &&
        two(t.minute) && two(t.second) && ds.size() <= kMaxSeparator &&
        ts.size() <= kMaxSeparator) {
      // The usual case, written in place.
      char* p = PutTwo(buffer_, static_cast<unsigned>(t.month));
      p = PutText(p, ds);
      p = PutTwo(p, static_cast<unsigned>(t.day));
      p = PutText(p, ds);
      p = PutTwo(PutTwo(p, year / 100), year % 100);
      *p++ = ' ';
      p = PutTwo(p, static_cast<unsigned>(t.hour));
      p = PutText(p, ts);
      p = PutTwo(p, static_cast<unsigned>(t.minute));
      p = PutText(p, ts);
      p = PutTwo(p, static_cast<unsigned>(t.second));
      size_ = static_cast<size_t>(p - buffer_);
      return;
    }
    AppendPadded(&other_, t.month, 2);
    other_ += ds;
    AppendPadded(&other_, t.day, 2);
    other_ += ds;
    AppendPadded(&other_, t.year, 4);
    other_ += ' ';
    AppendPadded(&other_, t.hour, 2);
    other_ += ts;
    AppendPadded(&other_, t.minute, 2);
    other_ += ts;
    AppendPadded(&other_, t.second, 2);
  }

  bool valid() const { return valid_; }
  std::string_view text() const {
    return size_ ? std::string_view(buffer_, size_) : std::string_view(other_);
  }

 private:
  static constexpr size_t kMaxSeparator = 8;
  bool valid_ = false;
  // 14 digits, a space and four separators.
  static constexpr size_t kBufferBytes = 14 + 1 + 4 * kMaxSeparator;
  char buffer_[kBufferBytes];
  size_t size_ = 0;
  std::string other_;  // a stamp outside the usual ranges
};

// One walk: the run's context and the wildcard list, read once.
struct Walk {
  SweepContext& ctx;
  WildcardList wildcard;
};

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

// The matched-file step for `entry`; `path` is its full path.
void MatchedFile(Walk& walk, Listing& listing, const DirEntry& entry,
                 const std::string& path) {
  SweepContext& ctx = walk.ctx;
  const FileTimes times = listing.ReadTimes(entry, path);
  CivilTime created, written;
  const Stamp created_stamp(ctx.platform, ctx.locale, times.creation, &created);
  const Stamp written_stamp(ctx.platform, ctx.locale, times.last_write,
                            &written);
  ctx.results.AddJoined(
      {path, "\t", created_stamp.text(), "\t", written_stamp.text()});

  // A time that cannot be converted has no age: the file is never due,
  // rather than being judged by some other time.
  const bool use_written = ctx.use_modified_time;
  if (!(use_written ? written_stamp : created_stamp).valid()) return;
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

// Walks one open folder whose folder text is `folder`. The text grows by an
// entry's name while that entry is handled and is as given on return.
void WalkListing(Walk& walk, Listing& listing, std::string& folder) {
  SweepContext& ctx = walk.ctx;
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
          WalkListing(walk, *sub, folder);
        folder.resize(folder_length);
      }
    } else if (walk.wildcard.Matches(entry.name)) {
      ++ctx.FilesFound;
      folder.append(entry.name);
      MatchedFile(walk, listing, entry, folder);
      folder.resize(folder_length);
    }
    ++ctx.FilesSearched;
  }
}

}  // namespace

std::string FormatStamp(Platform& platform, const LocaleInfo& locale,
                        FileTime time, CivilTime* local) {
  return std::string(Stamp(platform, locale, time, local).text());
}

void SearchFolder(SweepContext& ctx, std::string& folder) {
  if (std::unique_ptr<Listing> listing = ctx.platform.OpenFolder(folder)) {
    Walk walk{ctx, WildcardList(ctx.wildcard)};
    WalkListing(walk, *listing, folder);
  }
}
