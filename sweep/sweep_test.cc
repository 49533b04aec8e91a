#include "sweep/sweep.h"

#include <gtest/gtest.h>

#include <deque>

#include "platform/fake_platform.h"

namespace {

// Every report of a sweep, one line each, in the order it was made.
struct Recorder : SweepObserver {
  std::vector<std::string> events;
  std::deque<bool> answers;  // ConfirmDeletion's answers; No when empty

  void FileMatched(const std::string& path, const FileTimes&) override {
    events.push_back("matched " + path);
  }
  bool ConfirmDeletion(const std::string& path) override {
    events.push_back("ask " + path);
    const bool yes = !answers.empty() && answers.front();
    if (!answers.empty()) answers.pop_front();
    return yes;
  }
  void FileDeleted(const std::string& path) override {
    events.push_back("deleted " + path);
  }
  void DeletionFailed(const std::string& path, int64_t number,
                      const std::string& text) override {
    events.push_back("failed " + path + ": " + std::to_string(number) + " " +
                     text);
  }
  void FolderUnreadable(const std::string& folder, int64_t number,
                        const std::string& text) override {
    events.push_back("unreadable " + folder + ": " + std::to_string(number) +
                     " " + text);
  }
  void TimesUnreadable(const std::string& path, int64_t number,
                       const std::string& text) override {
    events.push_back("no times " + path + ": " + std::to_string(number) + " " +
                     text);
  }
  void WouldDelete(const std::string& path) override {
    events.push_back("would delete " + path);
  }
};

struct SweepTest : testing::Test {
  FakePlatform platform;
  Recorder recorder;
  SweepSettings settings;
  SweepTotals totals;

  SweepTest() {
    platform.now = {2026, 12, 7, 12, 0, 0};
    settings.wildcard = "*.*";
    settings.quiet_mode = true;
    settings.use_modified_time = true;
    settings.interval = IntervalCode::kDay;
    settings.time_frame = 30;
  }

  void Sweep(std::string folder = "/data/") {
    settings.folder = folder;
    recorder.events.clear();
    int64_t error_number = 0;
    std::string error_text;
    totals = SearchFolder(platform, settings,
                          platform.OpenFolder(folder, &error_number, &error_text),
                          recorder);
    EXPECT_EQ(static_cast<size_t>(totals.FilesFound), Paths().size());
  }

  // The matched files, in walk order.
  std::vector<std::string> Paths() const {
    std::vector<std::string> paths;
    for (const std::string& e : recorder.events)
      if (e.rfind("matched ", 0) == 0) paths.push_back(e.substr(8));
    return paths;
  }

  FileTime Old() { return FakeFileTime(2026, 1, 1); }
  FileTime Young() { return FakeFileTime(2026, 12, 1); }
};

using Lines = std::vector<std::string>;

}  // namespace

TEST_F(SweepTest, EmptyFolderCountsDotEntries) {
  platform.Add("/data", true);
  Sweep();
  EXPECT_EQ(2, totals.FilesSearched);
  EXPECT_EQ(0, totals.FilesFound);
}

TEST_F(SweepTest, MissingOrUnlistableFolderIsAnEmptySweep) {
  Sweep("/nowhere/");
  EXPECT_EQ(0, totals.FilesSearched);
  platform.Add("/data", true).unlistable = true;
  Sweep();
  EXPECT_EQ(0, totals.FilesSearched);
  EXPECT_TRUE(recorder.events.empty());
}

TEST_F(SweepTest, SubfoldersAreCountedButNotEnteredWithoutS) {
  for (const char* f : {"/data/a.log", "/data/b.log", "/data/c.log"})
    platform.AddFile(f, Young());
  platform.AddFile("/data/sub1/x.log", Young());
  platform.AddFile("/data/sub2/y.log", Young());
  Sweep();
  EXPECT_EQ(7, totals.FilesSearched);
  EXPECT_EQ(3, totals.FilesFound);
}

TEST_F(SweepTest, WalksDepthFirstInListingOrderAndSkipsDotFolders) {
  settings.include_subdirs = true;
  platform.AddFile("/data/a.log", Young());
  platform.AddFile("/data/logs/inner.log", Young());
  platform.AddFile("/data/logs/deeper/d.log", Young());
  platform.AddFile("/data/.cache/hidden.log", Young());
  platform.AddFile("/data/.profile", Young());
  platform.AddFile("/data/z.log", Young());
  platform.Add("/data/link", true).is_link = true;
  platform.Add("/data/locked", true).unlistable = true;
  Sweep();
  EXPECT_EQ(Lines({"/data/a.log", "/data/logs/inner.log",
                   "/data/logs/deeper/d.log", "/data/.profile", "/data/z.log"}),
            Paths());
  // data: . .. a.log logs .cache .profile z.log link locked = 9
  // logs: . .. inner.log deeper = 4; deeper: . .. d.log = 3
  EXPECT_EQ(16, totals.FilesSearched);
  EXPECT_EQ(5, totals.FilesFound);
}

TEST_F(SweepTest, FoldersAreNeverMatched) {
  settings.include_subdirs = true;
  settings.wildcard = "*.txt";
  platform.AddFile("/data/archive.txt/inside.txt", Old());
  platform.AddFile("/data/notes.txt.old", Old());
  Sweep();
  EXPECT_EQ(Lines({"/data/archive.txt/inside.txt"}), Paths());
  EXPECT_FALSE(platform.Find("/data/archive.txt/inside.txt"));
  EXPECT_TRUE(platform.Find("/data/archive.txt"));
}

TEST_F(SweepTest, DueFilesAreDeletedYoungOnesStayUnlogged) {
  platform.AddFile("/data/old.log", Old());
  platform.AddFile("/data/young.log", Young());
  platform.AddFile("/data/edge.log", FakeFileTime(2026, 11, 7, 23, 59, 59));
  Sweep();
  EXPECT_FALSE(platform.Find("/data/old.log"));
  EXPECT_TRUE(platform.Find("/data/young.log"));
  EXPECT_FALSE(platform.Find("/data/edge.log"));  // exactly 30 days
  EXPECT_EQ(Lines({"matched /data/old.log", "deleted /data/old.log",
                   "matched /data/young.log", "matched /data/edge.log",
                   "deleted /data/edge.log"}),
            recorder.events);
  EXPECT_EQ(3, totals.FilesFound);
  // Deleting the current entry does not skip the next one.
  EXPECT_EQ(5, totals.FilesSearched);
}

TEST_F(SweepTest, CreationTimeChoosesTheAge) {
  settings.use_modified_time = false;
  platform.AddFile("/data/rewritten.log", Young(), Old());
  platform.AddFile("/data/new.log", Old(), Young());
  Sweep();
  EXPECT_FALSE(platform.Find("/data/rewritten.log"));
  EXPECT_TRUE(platform.Find("/data/new.log"));
}

TEST_F(SweepTest, FutureFilesAreDueOnlyForNegativeTimeFrames) {
  platform.AddFile("/data/future.log", FakeFileTime(2027, 1, 1));
  Sweep();
  EXPECT_TRUE(platform.Find("/data/future.log"));
  settings.time_frame = -30;
  Sweep();
  EXPECT_FALSE(platform.Find("/data/future.log"));
}

TEST_F(SweepTest, ConfirmationAsksForEachDueFileOnlyYesDeletes) {
  settings.quiet_mode = false;
  platform.AddFile("/data/a.log", Old());
  platform.AddFile("/data/b.log", Old());
  platform.AddFile("/data/c.log", Young());
  recorder.answers = {true, false};
  Sweep();
  EXPECT_EQ(
      Lines({"matched /data/a.log", "ask /data/a.log", "deleted /data/a.log",
             "matched /data/b.log", "ask /data/b.log", "matched /data/c.log"}),
      recorder.events);
  EXPECT_FALSE(platform.Find("/data/a.log"));
  EXPECT_TRUE(platform.Find("/data/b.log"));
}

TEST_F(SweepTest, FailedDeletionIsLoggedAndTheWalkGoesOn) {
  platform.AddFile("/data/locked.log", Old()).delete_error = 13;
  platform.AddFile("/data/next.log", Old());
  Sweep();
  EXPECT_EQ(Lines({"matched /data/locked.log",
                   "failed /data/locked.log: 13 Permission denied",
                   "matched /data/next.log", "deleted /data/next.log"}),
            recorder.events);
}

TEST_F(SweepTest, AnUnreadableTimeIsNeverDueNotJudgedByTheOther) {
  settings.time_frame = -32768;  // everything with a time would be due
  FakeNode& node = platform.AddFile("/data/a.log", Old());
  node.times.last_write = FileTime{};
  Sweep();
  EXPECT_TRUE(platform.Find("/data/a.log"));
  EXPECT_EQ(Lines({"matched /data/a.log"}), recorder.events);
}

TEST_F(SweepTest, WindowsSeparatorBuildsFolderTexts) {
  platform.separator = '\\';
  settings.include_subdirs = true;
  platform.AddFile("\\c\\sub\\a.txt", Young());
  Sweep("\\c\\");
  EXPECT_EQ(Lines({"\\c\\sub\\a.txt"}), Paths());
}

TEST_F(SweepTest, ASubfolderTheSystemRanShortForIsReportedAndTheWalkGoesOn) {
  settings.include_subdirs = true;
  platform.Add("/data/deep", true).open_trouble = "Too many open files";
  platform.AddFile("/data/deep/old.log", Old());
  platform.AddFile("/data/old.log", Old());
  Sweep();
  EXPECT_EQ(Lines({"unreadable /data/deep/: 24 Too many open files",
                   "matched /data/old.log", "deleted /data/old.log"}),
            recorder.events);
  EXPECT_TRUE(platform.Find("/data/deep/old.log"));
  EXPECT_FALSE(platform.Find("/data/old.log"));
}

TEST_F(SweepTest, AnInterruptionStopsTheWalkBeforeTheNextEntry) {
  platform.AddFile("/data/a.log", Old());
  platform.interrupt_signal = 2;
  Sweep();
  EXPECT_EQ(0, totals.FilesSearched);
  EXPECT_TRUE(platform.Find("/data/a.log"));
}

TEST_F(SweepTest, TimesReadAheadOnlyEverKeepAFileNeverDeleteIt) {
  // What the walk read ahead, and what is there when it gets to the file.
  struct Row {
    bool early_old, now_old, quiet;
    Lines events;
  };
  const Row rows[] = {
      // Young ahead: passed over on those times, however old it is now.
      {false, true, true, {"matched /data/a.log"}},
      // Old ahead: read again, and the second reading decides.
      {true, false, true, {"matched /data/a.log"}},
      {true, true, true, {"matched /data/a.log", "deleted /data/a.log"}},
      {true, false, false, {"matched /data/a.log"}},
      {true, true, false,
       {"matched /data/a.log", "ask /data/a.log", "deleted /data/a.log"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(testing::Message() << row.early_old << row.now_old << row.quiet);
    settings.quiet_mode = row.quiet;
    recorder.answers = {true};
    FakeNode& node = platform.AddFile("/data/a.log", row.now_old ? Old() : Young());
    node.early_times = FileTimes{{}, row.early_old ? Old() : Young()};
    Sweep();
    EXPECT_EQ(row.events, recorder.events);
    platform.root.children.clear();
  }
}

TEST_F(SweepTest, TheFileAtTheLogsPathStaysWhereFileNumbersAreMadeUp) {
  // Every read gives a new file number: the log's identity matches no
  // entry, and a file asked about is another file once its Yes comes.
  platform.unstable_identities = true;
  settings.wildcard = "*.log";
  settings.own_log = FileIdentity{1, FakeNode::NextFakeFileNumber(), 1};
  settings.own_log_path = "/data/agesweep.log";
  struct Row {
    bool quiet, dry;
    const char* old_log;  // what becomes of the other due file
  };
  const Row rows[] = {
      {true, false, "deleted /data/old.log"},
      {false, false,
       "failed /data/old.log: 2 the file changed before it could be deleted"},
      {true, true, "would delete /data/old.log"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(testing::Message() << row.quiet << row.dry);
    settings.quiet_mode = row.quiet;
    settings.dry_run = row.dry;
    recorder.answers = {true, true};
    platform.AddFile("/data/agesweep.log", Old());
    platform.AddFile("/data/old.log", Old());
    Sweep();
    Lines expected = {"matched /data/agesweep.log", "matched /data/old.log"};
    if (!row.quiet) expected.push_back("ask /data/old.log");
    expected.push_back(row.old_log);
    EXPECT_EQ(expected, recorder.events);
    EXPECT_TRUE(platform.Find("/data/agesweep.log"));
    platform.root.children.clear();
  }
}

TEST_F(SweepTest, AFileListedAsAFolderOrAnEntryOfUnsureTypeIsNotPassedOver) {
  using L = FakeNode::Listed;
  const Lines gone = {"matched /data/x.log", "deleted /data/x.log"};
  const struct { bool dir, subdirs, dry; L listed; Lines events; } rows[] = {
      {true, true, false, L::kUnsure, {"unreadable /data/x.log/: 13 Permission denied"}},
      {false, false, false, L::kUnsure, gone},
      {false, true, false, L::kAsFolder, gone},
      {false, true, true, L::kAsFolder, {"matched /data/x.log", "would delete /data/x.log"}},
      {false, false, false, L::kAsFolder, gone},
      {true, false, false, L::kAsIs, {}},  // a folder, not entered: not named
  };
  for (const auto& row : rows) {
    settings.include_subdirs = row.subdirs;
    settings.dry_run = row.dry;
    FakeNode& node = platform.AddFile("/data/x.log", Old());
    node.is_dir = node.unlistable = row.dir;
    node.listed = row.listed;
    Sweep();
    EXPECT_EQ(row.events, recorder.events) << &row - rows;
    platform.root.children.clear();
  }
}
