#include "platform/posix/posix_listing.h"
#include "platform/posix/posix_log_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <set>
#include <string>
#include <vector>

namespace {

// A folder of the test's own under TMPDIR, removed with all it holds.
class TempFolder {
 public:
  TempFolder() {
    const char* tmp = getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") +
                          "/agesweep-listing-test.XXXXXX";
    if (mkdtemp(pattern.data())) path_ = pattern;
  }
  ~TempFolder() {
    if (path_.empty()) return;
    for (auto it = made_.rbegin(); it != made_.rend(); ++it)
      if (unlink(it->c_str()) != 0) rmdir(it->c_str());
    rmdir(path_.c_str());
  }
  const std::string& path() const { return path_; }

  // Creates a file (or a folder, or a link to `target`) at the relative path.
  void File(const std::string& name) {
    const std::string full = Track(name);
    const int fd = open(full.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
    ASSERT_GE(fd, 0) << full;
    close(fd);
  }
  void Folder(const std::string& name) {
    ASSERT_EQ(0, mkdir(Track(name).c_str(), 0755)) << name;
  }
  void Link(const std::string& name, const std::string& target) {
    ASSERT_EQ(0, symlink(target.c_str(), Track(name).c_str())) << name;
  }

 private:
  std::string Track(const std::string& name) {
    made_.push_back(path_ + "/" + name);
    return made_.back();
  }
  std::string path_;
  std::vector<std::string> made_;
};

struct Listed {
  std::string name;
  bool is_dir;
  bool operator<(const Listed& o) const { return name < o.name; }
};

std::set<Listed> ListAll(const std::string& folder) {
  std::set<Listed> listed;
  std::unique_ptr<Listing> listing = OpenPosixFolder(folder + "/");
  if (!listing) return listed;
  DirEntry entry;
  std::string error_text;
  int64_t number = 0;
  while (listing->Next(&entry, &number, &error_text)) {
    EXPECT_TRUE(listed.insert({std::string(entry.name), entry.is_dir}).second)
        << "listed twice: " << entry.name;
  }
  EXPECT_EQ("", error_text);
  return listed;
}

TEST(PosixListing, NamesOfEveryLengthComeWhole) {
  TempFolder tmp;
  ASSERT_FALSE(tmp.path().empty());
  std::set<Listed> want = {{".", true}, {"..", true}};
  // Every length from 1 to 255 bytes, so that each padding of the kernel's
  // records occurs, with enough names to need several reads.
  for (size_t length = 1; length <= 255; ++length) {
    std::string name(length, static_cast<char>('a' + length % 26));
    name[0] = 'n';
    tmp.File(name);
    want.insert({name, false});
  }
  tmp.File("\xC3\xA9t\xC3\xA9.log");
  want.insert({"\xC3\xA9t\xC3\xA9.log", false});
  EXPECT_EQ(want.size(), ListAll(tmp.path()).size());
  for (const Listed& l : ListAll(tmp.path())) {
    const auto it = want.find(l);
    ASSERT_NE(want.end(), it) << "unexpected name of " << l.name.size()
                              << " bytes: " << l.name;
    EXPECT_EQ(it->is_dir, l.is_dir) << l.name;
  }
}

TEST(PosixListing, LargeFoldersAreListedCompletely) {
  TempFolder tmp;
  ASSERT_FALSE(tmp.path().empty());
  std::set<std::string> want = {".", ".."};
  for (int i = 0; i < 3000; ++i) {
    const std::string name = "file-" + std::to_string(i) + "-of-a-large-folder.log";
    tmp.File(name);
    want.insert(name);
  }
  std::set<std::string> got;
  for (const Listed& l : ListAll(tmp.path())) got.insert(l.name);
  EXPECT_EQ(want, got);
}

TEST(PosixListing, FoldersAndLinksToFoldersCarryTheDirectoryBit) {
  TempFolder tmp;
  ASSERT_FALSE(tmp.path().empty());
  tmp.Folder("sub");
  tmp.File("sub/inner.txt");
  tmp.File("plain.txt");
  tmp.Link("to-sub", "sub");
  tmp.Link("to-plain", "plain.txt");
  tmp.Link("dangling", "nowhere");
  const std::set<Listed> got = ListAll(tmp.path());
  const auto dir = [&](const std::string& name) {
    const auto it = got.find({name, false});
    return it != got.end() && it->is_dir;
  };
  EXPECT_EQ(7u, got.size());  // with "." and ".."
  EXPECT_TRUE(dir("sub"));
  EXPECT_TRUE(dir("to-sub"));
  EXPECT_FALSE(dir("plain.txt"));
  EXPECT_FALSE(dir("to-plain"));
  EXPECT_FALSE(dir("dangling"));

  // The link is listed as a folder but never entered.
  std::unique_ptr<Listing> listing = OpenPosixFolder(tmp.path() + "/");
  ASSERT_TRUE(listing);
  DirEntry entry;
  std::string error_text;
  int64_t number = 0;
  int opened = 0;
  while (listing->Next(&entry, &number, &error_text)) {
    if (entry.name == "sub" || entry.name == "to-sub" || entry.name == "plain.txt") {
      std::unique_ptr<Listing> sub = listing->OpenCurrentFolder(&number, &error_text);
      EXPECT_EQ(entry.name == "sub", sub != nullptr) << entry.name;
      EXPECT_EQ(entry.name == "plain.txt", listing->CurrentIsNotAFolder()) << entry.name;
      opened += sub != nullptr;
    }
  }
  // Passing a link over is no failure.
  EXPECT_EQ("", error_text);
  EXPECT_EQ(1, opened);
}

TEST(PosixListing, TimesAreThoseOfTheCurrentEntry) {
  TempFolder tmp;
  ASSERT_FALSE(tmp.path().empty());
  tmp.File("old.log");
  tmp.File("new.log");
  const struct timespec old_times[2] = {{1000000000, 0}, {1000000000, 500}};
  ASSERT_EQ(0, utimensat(AT_FDCWD, (tmp.path() + "/old.log").c_str(),
                         old_times, 0));
  std::unique_ptr<Listing> listing = OpenPosixFolder(tmp.path() + "/");
  ASSERT_TRUE(listing);
  DirEntry entry;
  std::string error_text;
  int64_t number = 0;
  int seen = 0;
  while (listing->Next(&entry, &number, &error_text)) {
    if (entry.name != "old.log") continue;
    ++seen;
    EntryFacts facts;
    ASSERT_TRUE(listing->ReadCurrent(&facts, &number, &error_text)) << error_text;
    const FileTimes& times = facts.times;
    ASSERT_TRUE(times.last_write.valid);
    EXPECT_EQ(1000000000LL * 10000000 + 5 + 116444736000000000LL,
              times.last_write.ticks);
  }
  EXPECT_EQ(1, seen);
}

TEST(PosixListing, TheTopFolderAndTheLogTellTheirPathsAsTheSystemNamesThem) {
  TempFolder tmp;
  ASSERT_FALSE(tmp.path().empty());
  tmp.Folder("real");
  tmp.File("real/agesweep.log");
  tmp.Link("link", tmp.path() + "/real");
  char* real = realpath((tmp.path() + "/real").c_str(), nullptr);
  ASSERT_TRUE(real);
  const std::string expected = real;
  free(real);
  std::unique_ptr<Listing> listing = OpenPosixFolder(tmp.path() + "/link/");
  std::string error_text;
  std::unique_ptr<LogFile> log =
      OpenPosixLogFile(tmp.path() + "/link/agesweep.log", &error_text);
  ASSERT_TRUE(listing && log) << error_text;
  EXPECT_EQ(expected, listing->FinalPath());
  EXPECT_EQ(expected + "/agesweep.log", log->FinalPath());
}

// Either way a spool is made, it has no name by the time the run writes
// to it, so nothing of it can be left behind or met by the sweep.
TEST(PosixLogSpool, EitherWayItIsMadeItHasNoName) {
  for (const bool unnamed_first : {true, false}) {
    TempFolder tmp;
    const int fd = OpenSpoolFile(tmp.path(), unnamed_first);
    ASSERT_GE(fd, 0) << unnamed_first;
    struct stat st;
    ASSERT_EQ(0, fstat(fd, &st));
    EXPECT_EQ(0u, st.st_nlink) << unnamed_first;
    EXPECT_EQ(2u, ListAll(tmp.path()).size()) << unnamed_first;  // . and ..
    close(fd);
  }
}

TEST(PosixListing, AMissingFolderIsNotListed) {
  EXPECT_EQ(nullptr, OpenPosixFolder("/nonexistent-agesweep-folder/"));
}

}  // namespace
