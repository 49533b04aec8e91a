// End-to-end runs of the built program on fresh temporary trees (the
// fixture is in e2e_support.h).
#include <functional>

#include "tests/e2e_support.h"

TEST_F(E2eTest, EveryIntervalCodeDeletesOnlyWhatIsOldEnough) {
  struct Case {
    const char* code;
    const char* time_frame;
    int64_t old_seconds;
    int64_t young_seconds;
  };
  const Case cases[] = {
      {"yyyy", "2", 3 * 366 * 86400LL, 60},
      {"q", "2", 400 * 86400LL, 60},
      {"m", "2", 100 * 86400LL, 60},
      {"y", "5", 6 * 86400LL, 3 * 86400LL},
      {"d", "5", 6 * 86400LL, 3 * 86400LL},
      {"D", "5", 6 * 86400LL, 3 * 86400LL},
      {"w", "2", 15 * 86400LL, 13 * 86400LL},
      {"ww", "2", 22 * 86400LL, 60},
      {"h", "5", 6 * 3600LL, 3 * 3600LL},
      {"n", "5", 10 * 60LL, 2 * 60LL},
      {"s", "100", 200, 10},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    SetAge(File("old.log"), c.old_seconds);
    SetAge(File("young.log"), c.young_seconds);
    const Result r = Run({"/Q", "/F", T(), "/M", c.code, "/T", c.time_frame});
    EXPECT_EQ(0, r.status) << r.err;
    EXPECT_EQ(Names({"young.log"}), Remaining());
    fs::remove(tree_ / "young.log");
  }
}

TEST_F(E2eTest, SubfoldersOnlyWithS) {
  File("top.log", 40);
  File("sub/inner.log", 40);
  File("sub/deeper/deep.log", 40);
  File(".hidden/kept.log", 40);
  Run({"/Q", "/F", T(), "/M", "d", "/T", "30"});
  EXPECT_EQ(Names({".hidden/kept.log", "sub/deeper/deep.log", "sub/inner.log"}),
            Remaining());
  const Result r = Run({"/Q", "/S", "/L", "/F", T(), "/M", "d", "/T", "30"});
  EXPECT_EQ(0, r.status);
  EXPECT_EQ(Names({".hidden/kept.log"}), Remaining());
  // tree: . .. sub .hidden; sub: . .. inner.log deeper; deeper: . .. deep.log
  EXPECT_EQ("11", LogValue(Log(), "Searched: "));
  EXPECT_EQ("2", LogValue(Log(), "Found: "));
}

TEST_F(E2eTest, WildcardListSelectsFiles) {
  File("a.log", 40);
  File("b.TMP", 40);
  File("c.txt", 40);
  File("d.log.gz", 40);
  Run({"/Q", "/F", T(), "/W", "*.log;*.tmp", "/M", "d", "/T", "30"});
  EXPECT_EQ(Names({"c.txt", "d.log.gz"}), Remaining());
}

TEST_F(E2eTest, NamesWithWildcardCharactersAreDeletedExactly) {
  File("*.log", 40);
  File("a?.log", 40);
  File("ab.log", 1);
  File("line\nbreak.log", 40);
  Run({"/Q", "/F", T(), "/W", "*.log", "/M", "d", "/T", "30"});
  EXPECT_EQ(Names({"ab.log"}), Remaining());
}

TEST_F(E2eTest, CreationTimeAgainstLastWriteTime) {
  // The file system records creation as now; only the write time is old.
  File("a.log", 40);
  struct statx sx;
  const bool has_birth =
      statx(AT_FDCWD, (tree_ / "a.log").c_str(), 0, STATX_BTIME, &sx) == 0 &&
      (sx.stx_mask & STATX_BTIME);
  Run({"/Q", "/CT", "/F", T(), "/M", "d", "/T", "30"});
  EXPECT_EQ(has_birth ? Names({"a.log"}) : Names(), Remaining());
  File("a.log", 40);
  Run({"/Q", "/CT", "/MT", "/F", T(), "/M", "d", "/T", "30"});
  EXPECT_EQ(Names(), Remaining());
}

TEST_F(E2eTest, ScriptedConfirmationDeletesOnlyOnYes) {
  File("a.log", 40);
  File("b.log", 40);
  File("c.log", 40);
  const Result r =
      Run({"/F", T(), "/M", "d", "/T", "30", "/L"}, "maybe\ny\nN\n");
  EXPECT_EQ(0, r.status);
  // Three prompts for two due files: the unclear answer was asked again.
  // The third file got no answer: end of input is No.
  const std::string prompt = "Confirm Delete: Are you sure you want to delete ";
  std::vector<std::string> asked;
  for (size_t at = r.err.find(prompt); at != std::string::npos;
       at = r.err.find(prompt, at + 1)) {
    const size_t begin = at + prompt.size();
    asked.push_back(r.err.substr(begin, r.err.find(" [Y/n] ", begin) - begin));
  }
  ASSERT_EQ(4u, asked.size()) << r.err;
  EXPECT_EQ(asked[0], asked[1]);
  EXPECT_FALSE(fs::exists(asked[0]));
  EXPECT_TRUE(fs::exists(asked[2]));
  EXPECT_TRUE(fs::exists(asked[3]));
  EXPECT_EQ(2u, Remaining().size());
  EXPECT_NE(std::string::npos, Log().find("\r\nDelete: " + asked[0] + "\r\n"));
  EXPECT_EQ(std::string::npos, Log().find("Delete: " + asked[2]));
}

TEST_F(E2eTest, WithoutInputNothingIsDeleted) {
  File("a.log", 400);
  const Result r = Run({"/F", T()});
  EXPECT_EQ(0, r.status);
  EXPECT_EQ(Names({"a.log"}), Remaining());
}

TEST_F(E2eTest, TwoLoggedRunsAppendTwoBlocks) {
  File("a.log", 1);
  ASSERT_EQ(0, Run({"/Q", "/F", T(), "/L"}).status);
  ASSERT_EQ(0, Run({"/Q", "/F", T(), "/L"}).status);
  const std::string log = Log();
  const std::string head = "\r\nQuillfen Utilities Age Sweeper (agesweep.exe)\r\nStart: ";
  ASSERT_EQ(0u, log.find(head));
  const size_t second = log.find(head, 1);
  ASSERT_NE(std::string::npos, second);
  const std::string block = log.substr(0, second);
  EXPECT_NE(std::string::npos,
            block.find("\r\nApp Path: " + bin_.string() + "\r\nArguments:  /Q /F " +
                       T() + " /L \r\nSearched: 3\r\nFound: 1\r\nRun Time:0."));
  EXPECT_EQ(block.size() - 4, block.rfind("\r\n\r\n"));
  EXPECT_NE(std::string::npos, block.find("  seconds\r\nDone: "));
  // Every line ends in CR LF.
  for (size_t i = 0; i < log.size(); ++i) {
    if (log[i] == '\n') {
      ASSERT_EQ('\r', log[i - 1]) << i;
    }
  }
}

TEST_F(E2eTest, HelpPrintsTheWindowAndExits) {
  File("a.log", 400);
  const Result r = Run({"/Q", "/L", "/F", T(), "/?"});
  EXPECT_EQ(0, r.status);
  EXPECT_EQ(0u, r.out.find("Age Sweeper  (agesweep.exe)\n\nThe following "
                           "command line options can be used with "
                           "agesweep.exe\n\n/F folder  -- Selects"));
  EXPECT_NE(std::string::npos,
            r.out.find("\n\t  w Weekday     ww Week of year     h Hour     n "
                       "Minute     s Second \n"));
  EXPECT_NE(std::string::npos,
            r.out.find("agesweep.exe /Q /F c:\\weblogs\\ /M w /T 4\n\nVisit "
                       "https://agesweep.example.org/ for additional "
                       "information.\n[ Close ]\n"));
  EXPECT_EQ(std::string::npos, r.out.find('\r'));
  EXPECT_EQ(Names({"a.log"}), Remaining());
  EXPECT_FALSE(fs::exists(bin_ / "agesweep.log"));
  EXPECT_EQ(r.out, Run({"-help"}).out);
}

TEST_F(E2eTest, RefusedInputsExitTwoAndDeleteNothing) {
  File("a.log", 400);
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"/Q", "/F", T(), "/T"}, "Error: /T needs a value.\n"},
      {{"/Q", "/F", T(), "/T", "1e3"},
       "Error: /T needs a whole number from -32768 to 32767, not 1e3.\n"},
      {{"/Q", "/F", T(), "/M", "days"},
       "Error: Unknown interval days. Use yyyy, q, m, y, d, w, ww, h, n or "
       "s.\n"},
      {{"/Q", "/f"}, "Error: /f needs a value.\n"},
  };
  for (const auto& [args, message] : cases) {
    const Result r = Run(args);
    EXPECT_EQ(2, r.status) << message;
    EXPECT_EQ(message, r.err);
    EXPECT_EQ(Names({"a.log"}), Remaining());
  }
  const Result retired = Run({"/Q", "/F", T(), "/I", "*.log", "/L"});
  EXPECT_EQ(2, retired.status);
  EXPECT_EQ(Names({"a.log"}), Remaining());
  EXPECT_NE(std::string::npos,
            Log().find(" /L \r\n/I and /E are no longer supported. Try using "
                       "/W instead.\r\nQuit: "));
}

TEST_F(E2eTest, DefaultFolderIsTempAndMissingTempIsRefused) {
  temp_dir_for_default_ = T();
  File("a.tmp", 25);
  File("b.tmp", 5);
  EXPECT_EQ(0, Run({"/Q"}).status);
  EXPECT_EQ(Names({"b.tmp"}), Remaining());
  temp_dir_for_default_ = "";
  const Result r = Run({"/Q"});
  EXPECT_EQ(2, r.status);
  EXPECT_EQ("Error: No folder to sweep. Give /F folder or set TEMP.\n", r.err);
}

TEST_F(E2eTest, QuotedFolderWithSpaceIsNeverItsFirstHalf) {
  File("my/a.log", 400);
  File("my dir/b.log", 400);
  const Result r = Run({"/Q", "/L", "/F", T() + "/my dir"});
  // Split at its space, the second half is a word no switch takes.
  EXPECT_EQ(2, r.status);
  EXPECT_EQ("agesweep: unknown word dir\" (a folder whose path holds a space "
            "cannot be given)\n",
            r.err);
  EXPECT_EQ(Names({"my dir/b.log", "my/a.log"}), Remaining());
  EXPECT_EQ("", LogValue(Log(), "Searched: "));
}

TEST_F(E2eTest, LinksAreNeverFollowed) {
  TempDir outside;
  const fs::path victim = outside.path() / "victim.log";
  Write(victim, "keep me");
  SetAge(victim, 400 * 86400LL);
  File("real.log", 400);
  fs::create_directory_symlink(outside.path(), tree_ / "linkdir");
  fs::create_symlink(victim, tree_ / "linkfile.log");
  SetAge(tree_ / "linkfile.log", 400 * 86400LL);
  fs::create_symlink(victim, tree_ / "younglink.log");
  const Result r = Run({"/Q", "/S", "/L", "/F", T(), "/M", "d", "/T", "30"});
  EXPECT_EQ(0, r.status);
  EXPECT_TRUE(fs::exists(victim));
  EXPECT_EQ("keep me", Slurp(victim));
  // The old link itself went, judged by its own time; the young one stays.
  EXPECT_EQ(Names({"linkdir", "younglink.log"}), Remaining());
  // . .. real.log linkdir linkfile.log younglink.log
  EXPECT_EQ("6", LogValue(Log(), "Searched: "));
  EXPECT_EQ("3", LogValue(Log(), "Found: "));
}

TEST_F(E2eTest, UnreadableSubfolderAndUndeletableFile) {
  File("ok.log", 400);
  File("locked/inner.log", 400);
  File("readonly/stuck.log", 400);
  chmod((tree_ / "locked").c_str(), 0);
  chmod((tree_ / "readonly").c_str(), 0555);
  chmod(tree_.c_str(), 0777);
  const std::vector<std::string> args = {"/Q", "/S", "/L", "/F", T(),
                                         "/M", "d",  "/T", "30"};
  Result r = Run(args, "", true);
  EXPECT_EQ(1, r.status) << r.err;
  // Each is said at once, in walk order, on stderr and in the log.
  const std::string locked = "agesweep: cannot read folder " + T() +
                             "/locked/: Permission denied\n";
  const std::string stuck = "agesweep: cannot delete " + T() +
                            "/readonly/stuck.log: Permission denied\n";
  EXPECT_TRUE(r.err == locked + stuck || r.err == stuck + locked) << r.err;
  const std::string log = Log();
  EXPECT_NE(std::string::npos,
            log.find("\r\nError: 13: Permission denied\r\nFile:  " + T() +
                     "/locked/\r\n"));
  EXPECT_NE(std::string::npos,
            log.find("\r\nError: 13: Permission denied\r\nFile:  " + T() +
                     "/readonly/stuck.log\r\n"));
  EXPECT_NE(std::string::npos, log.find("\r\nDelete: " + T() + "/ok.log\r\n"));
  // . .. ok.log locked readonly; readonly: . .. stuck.log
  EXPECT_EQ("8", LogValue(log, "Searched: "));
  chmod((tree_ / "readonly").c_str(), 0777);
  r = Run(args, "", true);
  // A scheduled cleanup that leaves a folder unread does not look healthy.
  EXPECT_EQ(1, r.status);
  EXPECT_EQ(locked, r.err);
  chmod((tree_ / "locked").c_str(), 0755);
  EXPECT_EQ(Names({"locked/inner.log"}), Remaining());
}

TEST_F(E2eTest, AFileReplacedWhileAskedIsKept) {
  // While the question is open, the file asked about is replaced; the
  // answer Yes must remove neither it nor what took its place, and the
  // deletion is a failure, told where a failed deletion is.
  constexpr char kChanged[] = "the file changed before it could be deleted";
  const struct {
    const char* what;
    std::function<void()> replace;
    std::vector<std::string> left;
    std::string said;  // the failure's number and text
  } kCases[] = {
      {"rotated: renamed, a fresh file in its place",
       [&] {
         fs::rename(tree_ / "a.log", tree_ / "a.log.1");
         File("a.log", 400);
       },
       {"a.log", "a.log.1"}, std::string("2: ") + kChanged},
      {"a FIFO", [&] {
         fs::remove(tree_ / "a.log");
         mkfifo((tree_ / "a.log").c_str(), 0644);
       },
       {"a.log"}, std::string("2: ") + kChanged},
      {"a folder holding a file", [&] {
         fs::remove(tree_ / "a.log");
         File("a.log/keep.txt", 400);
       },
       {"a.log/keep.txt"}, std::string("2: ") + kChanged},
      {"the same file made young", [&] { SetAge(tree_ / "a.log", 0); },
       {"a.log"}, std::string("2: ") + kChanged},
      {"gone", [&] { fs::remove(tree_ / "a.log"); }, {},
       "2: No such file or directory"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(tree_);
    fs::create_directory(tree_);
    File("a.log", 400);
    const Result r =
        RunAnswering({"/F", T(), "/L", "/M", "d", "/T", "30"}, c.replace);
    EXPECT_EQ(1, r.status) << r.err;
    EXPECT_NE(std::string::npos,
              r.err.find("agesweep: cannot delete " + T() + "/a.log: " +
                         c.said.substr(3) + "\n"))
        << r.err;
    EXPECT_EQ(Names(c.left), Remaining());
    const std::string log = Log();
    EXPECT_EQ(std::string::npos, log.find("\r\nDelete: ")) << log;
    EXPECT_NE(std::string::npos, log.find("\r\nError: " + c.said +
                                          "\r\nFile:  " + T() + "/a.log\r\n"))
        << log;
    fs::remove(bin_ / "agesweep.log");
  }
}

TEST_F(E2eTest, ALogThatCannotBeWrittenRefusesTheRunBeforeAnyDeletion) {
  File("a.log", 400);
  fs::create_directory(bin_ / "agesweep.log");  // a folder where the file goes
  const Result r = Run({"/Q", "/L", "/F", T(), "/M", "d", "/T", "30"});
  EXPECT_EQ(2, r.status);
  EXPECT_EQ("Error: Cannot write the log file " +
                (bin_ / "agesweep.log").string() +
                ": not a regular file. Set AGESWEEP_LOG to a file you can "
                "write.\n",
            r.err);
  EXPECT_EQ(Names({"a.log"}), Remaining());
}
