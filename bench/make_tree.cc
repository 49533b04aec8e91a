// Builds a reproducible folder tree for the benchmark: the same seed and the
// same reference time give the same names, sizes and modification times.
//
//   agesweep_make_tree --root DIR [--folders N] [--files N] [--flat N]
//                      [--bushy DEPTH] [--log-percent P]
//                      [--seed S] [--now EPOCH] [--size BYTES]
//
// DIR must not exist yet: the program creates it and writes nothing outside
// it. By default DIR holds 1,000 folders (in groups of 100: DIR/gNN/dNNNN) of
// 1,000 files each; with --flat N it holds N files and no folder. With
// --bushy DEPTH every folder holds 6 files and, down to DEPTH levels below
// DIR, 6 folders (DIR/s0/s3/...): depth 3 makes 1 + 6 + 36 + 216 = 259
// folders, DIR included, the shape of a tree of many small folders where a
// program's time goes to listing folders rather than to their files.
//
// Names: by default about 40% end in .log, 30% in .txt, the rest in near
// misses of .log; with --log-percent P exactly P% of the files (rounded
// down, spread evenly in the order they are made) end in .log and the rest
// are .txt and near misses, half and half. On success the program prints
// what it made as key=value lines; "folders" does not count DIR.
//
// Modification times. Every file is last written on a whole day 1 to 60 days
// before the reference day, at local noon plus less than an hour; days 29
// and 30 are never used. That lets `agesweep /M d /T 30` (calendar days:
// midnights crossed) and `find -mtime +29` (whole 24-hour periods elapsed)
// select exactly the same files. A file written k days back is, when
// measured on a day j days after the reference day, k + j calendar days old
// for agesweep, while find sees k + j days plus (time of day now - time of
// day written), a remainder between -14 and +13 hours even across a
// daylight-saving change, so find's count is k + j or k + j - 1. The two can
// only disagree when k + j is exactly 30; leaving out 29 and 30 keeps them in
// agreement for a run on the reference day or on the day after it.
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// splitmix64: small, fast and the same on every platform.
struct Random {
  uint64_t state;
  uint64_t Next() {
    uint64_t z = (state += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
  }
  uint32_t Below(uint32_t n) { return static_cast<uint32_t>(Next() % n); }
};

struct Options {
  std::string root;
  long folders = 1000;
  long files = 1000;
  long flat = -1;   // >= 0: that many files in the root, no folders
  long bushy = -1;  // >= 0: depth of a tree of kBushyFan-way folders
  long log_percent = -1;  // >= 0: that share of the files are *.log
  uint64_t seed = 1;
  time_t now = 0;
  long size = 0;
};

struct Stats {
  long folders = 0;
  long files = 0;
  long log_files = 0;
  long log_due = 0;  // *.log files 30 or more days old
};

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "agesweep_make_tree: %s: %s\n", what.c_str(),
               std::strerror(errno));
  std::exit(1);
}

[[noreturn]] void Usage(const char* message) {
  std::fprintf(stderr,
               "agesweep_make_tree: %s\n"
               "usage: agesweep_make_tree --root DIR [--folders N] "
               "[--files N] [--flat N] [--bushy DEPTH] [--log-percent P] "
               "[--seed S] [--now EPOCH] [--size BYTES]\n",
               message);
  std::exit(2);
}

long ParseCount(const char* text) {
  char* end = nullptr;
  errno = 0;
  const long value = std::strtol(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || value < 0)
    Usage("counts must be whole numbers, 0 or more");
  return value;
}

Options ParseOptions(int argc, char** argv) {
  Options o;
  o.now = time(nullptr);
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (i + 1 >= argc) Usage(("missing value after " + arg).c_str());
    const char* value = argv[++i];
    if (arg == "--root") {
      o.root = value;
    } else if (arg == "--folders") {
      o.folders = ParseCount(value);
    } else if (arg == "--files") {
      o.files = ParseCount(value);
    } else if (arg == "--flat") {
      o.flat = ParseCount(value);
    } else if (arg == "--bushy") {
      o.bushy = ParseCount(value);
      // 6^DEPTH folders on the last level: depth 8 is 1.7 million folders.
      if (o.bushy > 8) Usage("--bushy takes a depth of at most 8");
    } else if (arg == "--log-percent") {
      o.log_percent = ParseCount(value);
      if (o.log_percent > 100) Usage("--log-percent takes 0 to 100");
    } else if (arg == "--seed") {
      o.seed = static_cast<uint64_t>(ParseCount(value));
    } else if (arg == "--now") {
      o.now = static_cast<time_t>(ParseCount(value));
    } else if (arg == "--size") {
      o.size = ParseCount(value);
    } else {
      Usage(("unknown option " + arg).c_str());
    }
  }
  if (o.root.empty()) Usage("--root is required");
  if (o.flat >= 0 && o.bushy >= 0) Usage("--flat and --bushy exclude each other");
  return o;
}

// Local noon of the day `days_back` days before the reference day.
time_t NoonDaysBack(time_t now, int days_back) {
  struct tm tm;
  localtime_r(&now, &tm);
  tm.tm_mday -= days_back;
  tm.tm_hour = 12;
  tm.tm_min = 0;
  tm.tm_sec = 0;
  tm.tm_isdst = -1;
  return mktime(&tm);
}

class TreeMaker {
 public:
  explicit TreeMaker(const Options& o) : o_(o), random_{o.seed} {
    for (int k = 1; k <= 60; ++k)
      if (k != 29 && k != 30) days_.push_back(k);
    for (int k = 0; k <= 60; ++k) noon_.push_back(NoonDaysBack(o.now, k));
    content_.assign(static_cast<size_t>(o.size), 'x');
  }

  void Make() {
    if (mkdir(o_.root.c_str(), 0755) != 0) Fail("cannot create " + o_.root);
    const int root = Open(AT_FDCWD, o_.root);
    if (o_.flat >= 0) {
      Files(root, o_.flat);
    } else if (o_.bushy >= 0) {
      Bushy(root, o_.bushy);
    } else {
      int group = -1;
      for (long f = 0; f < o_.folders; ++f) {
        if (f % 100 == 0) {
          if (group >= 0) close(group);
          const std::string name = Name("g%02ld", f / 100);
          group = Folder(root, name);
        }
        const int folder = Folder(group, Name("d%04ld", f));
        Files(folder, o_.files);
        close(folder);
      }
      if (group >= 0) close(group);
    }
    close(root);
  }

  const Stats& stats() const { return stats_; }

 private:
  static constexpr long kBushyFan = 6;  // files, and folders, per folder

  // Depth first, each folder's files before its folders.
  void Bushy(int folder, long levels_below) {
    Files(folder, kBushyFan);
    if (levels_below == 0) return;
    for (long i = 0; i < kBushyFan; ++i) {
      const int sub = Folder(folder, Name("s%ld", i));
      Bushy(sub, levels_below - 1);
      close(sub);
    }
  }

  static std::string Name(const char* format, long n) {
    char buf[32];
    std::snprintf(buf, sizeof buf, format, n);
    return buf;
  }

  int Open(int at, const std::string& name) {
    const int fd = openat(at, name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) Fail("cannot open " + name);
    return fd;
  }

  int Folder(int at, const std::string& name) {
    if (mkdirat(at, name.c_str(), 0755) != 0) Fail("cannot create " + name);
    ++stats_.folders;
    return Open(at, name);
  }

  void Files(int folder, long count) {
    static const char* const kWords[] = {"app", "web", "db",   "job",
                                         "srv", "mail", "cache", "report"};
    // About 40% *.log, 30% *.txt; the rest are names that a "*.log" list must
    // not match although they come close (".log.1", ".logx", "log" alone).
    static const char* const kOther[] = {".dat", ".csv", ".log.1", ".tmp",
                                         ".logx", "",    ".bak",   "-log"};
    for (long i = 0; i < count; ++i) {
      bool is_log;
      const char* ext;
      if (o_.log_percent < 0) {
        const uint32_t kind = random_.Below(10);
        is_log = kind < 4;
        ext = kind < 4 ? ".log" : kind < 7 ? ".txt" : kOther[random_.Below(8)];
      } else {
        // The file is a *.log one when it takes the count of *.log files so
        // far, P% of the files made, to the next whole number.
        const long made = stats_.files;
        is_log = (made + 1) * o_.log_percent / 100 > made * o_.log_percent / 100;
        ext = is_log                  ? ".log"
              : random_.Below(2) == 0 ? ".txt"
                                      : kOther[random_.Below(8)];
      }
      char name[96];
      std::snprintf(name, sizeof name, "%s-%06ld-%04x%s",
                    kWords[random_.Below(8)], i,
                    static_cast<unsigned>(random_.Below(0x10000)), ext);
      const int days_back = days_[random_.Below(days_.size())];
      const time_t written =
          noon_[static_cast<size_t>(days_back)] + random_.Below(3600);
      stats_.log_files += is_log;
      stats_.log_due += is_log && days_back >= 30;
      ++stats_.files;

      const int fd = openat(folder, name,
                            O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
      if (fd < 0) Fail(std::string("cannot create ") + name);
      if (!content_.empty() &&
          write(fd, content_.data(), content_.size()) !=
              static_cast<ssize_t>(content_.size()))
        Fail(std::string("cannot write ") + name);
      const struct timespec times[2] = {{written, 0}, {written, 0}};
      if (futimens(fd, times) != 0) Fail(std::string("cannot date ") + name);
      close(fd);
    }
  }

  const Options& o_;
  Random random_;
  std::vector<int> days_;
  std::vector<time_t> noon_;
  std::string content_;
  Stats stats_;
};

}  // namespace

int main(int argc, char** argv) {
  const Options options = ParseOptions(argc, argv);
  TreeMaker maker(options);
  maker.Make();
  const Stats& s = maker.stats();
  std::printf("folders=%ld\nfiles=%ld\nentries=%ld\nlog_files=%ld\n"
              "log_due=%ld\n",
              s.folders, s.files, s.folders + s.files, s.log_files, s.log_due);
  return 0;
}
