#include "sweep/sweep.h"

#include <gtest/gtest.h>

#include "platform/fake_platform.h"
#include "run/run_log.h"
#include "ui/results_list.h"

namespace {

struct SweepTest : testing::Test {
  FakePlatform platform;
  RunLog log;
  ResultsList results;
  SweepSettings settings;
  SweepTotals totals;

  SweepTest() {
    platform.now = {2026, 12, 7, 12, 0, 0};
    settings.wildcard = "*.*";
    settings.quiet_mode = true;
    settings.interval = IntervalCode::kDay;
    settings.time_frame = 30;
  }

  void Sweep(std::string folder = "/data/") {
    settings.folder = folder;
    results.Clear();
    std::string reason;
    totals = SearchFolder(platform, settings,
                          platform.OpenFolder(folder, &reason), log, results);
    EXPECT_EQ(static_cast<size_t>(totals.FilesFound), results.size());
  }

  std::vector<std::string> Paths() const {
    std::vector<std::string> paths;
    for (size_t i = 0; i < results.size(); ++i) {
      std::string_view line = results[i];
      paths.emplace_back(line.substr(0, line.find('\t')));
    }
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
  EXPECT_EQ("", log.text);
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

TEST_F(SweepTest, ResultsLineShowsBothStampsCreationFirst) {
  platform.utc_offset_minutes = 60;
  platform.AddFile("/data/a.log", FakeFileTime(2024, 1, 2, 2, 4, 5),
                   FakeFileTime(2023, 3, 5, 8, 7, 3));
  Sweep();
  ASSERT_EQ(1u, results.size());
  EXPECT_EQ("/data/a.log\t03/05/2023 09:07:03\t01/02/2024 03:04:05",
            results[0]);
}

TEST_F(SweepTest, StampsUseTheLocaleSeparators) {
  platform.locale.date_separator = ".";
  platform.locale.time_separator = "h";
  platform.AddFile("/data/a.log", FakeFileTime(2024, 11, 12, 13, 14, 15));
  Sweep();
  EXPECT_EQ("/data/a.log\t11.12.2024 13h14h15\t11.12.2024 13h14h15",
            results[0]);
}

TEST_F(SweepTest, StampsWithLongSeparatorsOrFiveDigitYears) {
  platform.locale.date_separator = " de ";
  platform.locale.time_separator = "::::::::::";  // longer than any real one
  platform.AddFile("/data/a.log", FakeFileTime(2024, 1, 2, 3, 4, 5),
                   FakeFileTime(12024, 11, 12, 13, 14, 15));
  Sweep();
  ASSERT_EQ(1u, results.size());
  EXPECT_EQ(
      "/data/a.log\t11 de 12 de 12024 13::::::::::14::::::::::15"
      "\t01 de 02 de 2024 03::::::::::04::::::::::05",
      results[0]);
}

TEST_F(SweepTest, DueFilesAreDeletedYoungOnesStayUnlogged) {
  platform.AddFile("/data/old.log", Old());
  platform.AddFile("/data/young.log", Young());
  platform.AddFile("/data/edge.log", FakeFileTime(2026, 11, 7, 23, 59, 59));
  Sweep();
  EXPECT_FALSE(platform.Find("/data/old.log"));
  EXPECT_TRUE(platform.Find("/data/young.log"));
  EXPECT_FALSE(platform.Find("/data/edge.log"));  // exactly 30 days
  EXPECT_EQ("Delete: /data/old.log\r\nDelete: /data/edge.log\r\n", log.text);
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
  platform.answers = {true, false};
  Sweep();
  EXPECT_EQ(Lines({"Confirm Delete: Are you sure you want to delete /data/a.log",
                   "Confirm Delete: Are you sure you want to delete /data/b.log"}),
            platform.prompts);
  EXPECT_FALSE(platform.Find("/data/a.log"));
  EXPECT_TRUE(platform.Find("/data/b.log"));
  EXPECT_EQ("Delete: /data/a.log\r\n", log.text);
}

TEST_F(SweepTest, FailedDeletionIsLoggedAndTheWalkGoesOn) {
  platform.AddFile("/data/locked.log", Old()).delete_error = 13;
  platform.AddFile("/data/next.log", Old());
  Sweep();
  EXPECT_EQ(
      "Error: 13: Permission denied\r\nFile:  /data/locked.log\r\n"
      "Delete: /data/next.log\r\n",
      log.text);
  EXPECT_TRUE(totals.deletion_failed);
  EXPECT_EQ(2, totals.FilesFound);
}

TEST_F(SweepTest, UnreadableTimeShowsEmptyAndIsNeverDue) {
  settings.time_frame = -32768;  // everything with a time would be due
  FakeNode& node = platform.AddFile("/data/a.log", Old());
  node.times.last_write = FileTime{};
  Sweep();
  ASSERT_EQ(1u, results.size());
  EXPECT_EQ("/data/a.log\t01/01/2026 00:00:00\t", results[0]);
  EXPECT_TRUE(platform.Find("/data/a.log"));
  EXPECT_EQ("", log.text);
}

TEST_F(SweepTest, WindowsSeparatorBuildsFolderTexts) {
  platform.separator = '\\';
  settings.include_subdirs = true;
  platform.AddFile("\\c\\sub\\a.txt", Young());
  Sweep("\\c\\");
  EXPECT_EQ(Lines({"\\c\\sub\\a.txt"}), Paths());
}

TEST_F(SweepTest, NamesCannotForgeLinesOrMoveTheCursor) {
  settings.quiet_mode = false;
  const std::string name = "evil\r\nError: 5: Access is denied\x1b[2J\x7f";
  platform.AddFile("/data/" + name, Old());
  platform.AddFile("/data/locked\n.log", Old()).delete_error = 13;
  platform.answers = {true, true};
  Sweep();
  EXPECT_FALSE(platform.Find("/data/" + name));  // the exact name went
  EXPECT_EQ(
      "Delete: /data/evil??Error: 5: Access is denied?[2J?\r\n"
      "Error: 13: Permission denied\r\nFile:  /data/locked?.log\r\n",
      log.text);
  EXPECT_EQ("Confirm Delete: Are you sure you want to delete "
            "/data/evil??Error: 5: Access is denied?[2J?",
            platform.prompts[0]);
  EXPECT_EQ(Lines({"agesweep: cannot delete /data/locked?.log: Permission denied"}),
            platform.errors);
}

TEST_F(SweepTest, ASubfolderTheSystemRanShortForIsReportedAndTheWalkGoesOn) {
  settings.include_subdirs = true;
  platform.Add("/data/deep", true).open_trouble = "Too many open files";
  platform.AddFile("/data/deep/old.log", Old());
  platform.AddFile("/data/old.log", Old());
  Sweep();
  EXPECT_EQ(Lines({"agesweep: cannot list folder /data/deep/: Too many open files"}),
            platform.errors);
  EXPECT_TRUE(totals.listing_failed);
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
