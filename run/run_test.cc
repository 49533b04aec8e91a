#include "run/run.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "platform/fake_platform.h"
#include "run/command_line.h"
#include "run/run_log.h"
#include "ui/window.h"

namespace {

const char kLogPath[] = "/opt/agesweep/agesweep.log";

struct RunTest : testing::Test {
  FakePlatform platform;
  WindowModel window;
  int status = -1;

  RunTest() {
    platform.env["TEMP"] = "/tmp";
    platform.now = {2026, 12, 7, 6, 48, 36};
    platform.ticks = {10.0, 10.25};
  }

  bool Load(const std::string& args) {
    platform.argument_text = args;
    const RunOutcome outcome = Form_Load(platform, window);
    status = outcome.exit_status;
    return outcome.display_window;
  }
  std::string Log() { return platform.files_written[kLogPath]; }
};

}  // namespace

TEST_F(RunTest, NormalRunWritesTheWholeBlock) {
  platform.AddFile("/data/old.log", FakeFileTime(2026, 1, 1));
  platform.AddFile("/data/new.log", FakeFileTime(2026, 12, 6));
  platform.AddFile("/data/other.txt", FakeFileTime(2026, 1, 1));
  EXPECT_FALSE(Load("/Q /F /data /M d /T 7 /W *.log /L"));
  EXPECT_EQ(kExitOk, status);
  EXPECT_EQ(
      "\r\n"
      "Quillfen Utilities Age Sweeper (agesweep.exe)\r\n"
      "Start: 12/7/2026 6:48:36 AM\r\n"
      "App Path: /opt/agesweep\r\n"
      "Arguments:  /Q /F /data /M d /T 7 /W *.log /L \r\n"
      "Delete: /data/old.log\r\n"
      "Searched: 5\r\n"
      "Found: 2\r\n"
      "Run Time:0.25  seconds\r\n"
      "Done: 12/7/2026 6:48:36 AM\r\n"
      "\r\n",
      Log());
  EXPECT_EQ("5", window.Text3);
  EXPECT_EQ("2", window.Text4);
  EXPECT_EQ("0.25  seconds", window.Text5);
  EXPECT_EQ("Text1", window.Text1);
  EXPECT_TRUE(window.List1.visible);
  EXPECT_EQ(kLoadedHeightTwips, window.outer_height_twips);
}

TEST_F(RunTest, NoArgumentsUsesEveryDefault) {
  platform.AddFile("/tmp/ancient.tmp", FakeFileTime(2026, 11, 17, 23, 0, 0));
  platform.AddFile("/tmp/recent.tmp", FakeFileTime(2026, 11, 18));
  platform.answers = {false, true};
  EXPECT_FALSE(Load(""));
  EXPECT_EQ(kExitOk, status);
  // Only the file 20 calendar days old is due, and it is asked about.
  EXPECT_EQ(std::vector<std::string>{"Confirm Delete: Are you sure you want to "
                                     "delete /tmp/ancient.tmp"},
            platform.prompts);
  EXPECT_TRUE(platform.Find("/tmp/ancient.tmp"));
  EXPECT_TRUE(platform.files_written.empty());
}

TEST_F(RunTest, TwoLoggedRunsLeaveTwoBlocks) {
  platform.Add("/data", true);
  platform.ticks = {1.0, 1.25, 2.0, 2.25};
  Load("/F /data /L");
  WindowModel second;
  Form_Load(platform, second);
  const std::string log = Log();
  const std::string block = log.substr(0, log.size() / 2);
  EXPECT_EQ(block + block, log);
  EXPECT_EQ(0u, block.find("\r\nQuillfen"));
  EXPECT_EQ(block.size() - 4, block.rfind("\r\n\r\n"));
}

TEST_F(RunTest, NothingMatchedStillFillsTotals) {
  platform.Add("/data", true);
  Load("/F /data/ /W *.zip /L");
  EXPECT_EQ("2", window.Text3);
  EXPECT_EQ("0", window.Text4);
  EXPECT_NE(std::string::npos, Log().find("\r\nSearched: 2\r\nFound: 0\r\n"));
}

TEST_F(RunTest, RetiredSwitchQuitsBeforeTheSweep) {
  platform.AddFile("/data/old.log", FakeFileTime(2000, 1, 1));
  EXPECT_FALSE(Load("/Q /F /data /I *.log /L"));
  EXPECT_EQ(kExitRefused, status);
  EXPECT_TRUE(platform.Find("/data/old.log"));
  EXPECT_EQ(
      "\r\n"
      "Quillfen Utilities Age Sweeper (agesweep.exe)\r\n"
      "Start: 12/7/2026 6:48:36 AM\r\n"
      "App Path: /opt/agesweep\r\n"
      "Arguments:  /Q /F /data /I *.log /L \r\n"
      "/I and /E are no longer supported. Try using /W instead.\r\n"
      "Quit: 12/7/2026 6:48:36 AM\r\n"
      "\r\n",
      Log());
  // The window was never filled.
  EXPECT_EQ("Text3", window.Text3);
}

TEST_F(RunTest, RefusedInputIsLoggedReportedAndDeletesNothing) {
  platform.AddFile("/data/old.log", FakeFileTime(2000, 1, 1));
  EXPECT_FALSE(Load("/Q /F /data /M x /T 99999 /L"));
  EXPECT_EQ(kExitRefused, status);
  EXPECT_TRUE(platform.Find("/data/old.log"));
  const std::vector<std::string> lines = {
      "Error: /T needs a whole number from -32768 to 32767, not 99999.",
      "Error: Unknown interval x. Use yyyy, q, m, y, d, w, ww, h, n or s."};
  EXPECT_EQ(lines, platform.errors);
  EXPECT_EQ(
      "\r\n"
      "Quillfen Utilities Age Sweeper (agesweep.exe)\r\n"
      "Start: 12/7/2026 6:48:36 AM\r\n"
      "App Path: /opt/agesweep\r\n"
      "Arguments:  /Q /F /data /M x /T 99999 /L \r\n" +
          lines[0] + "\r\n" + lines[1] +
          "\r\n"
          "Quit: 12/7/2026 6:48:36 AM\r\n"
          "\r\n",
      Log());

  // -0 shapes a dry run's list; a run that deletes has none.
  platform.errors.clear();
  EXPECT_FALSE(Load("/Q /F /data -0"));
  EXPECT_EQ(kExitRefused, status);
  EXPECT_TRUE(platform.Find("/data/old.log"));
  EXPECT_EQ(std::vector<std::string>{"Error: -0 writes the list of a dry run. "
                                     "Give --dry-run with it."},
            platform.errors);
}

TEST_F(RunTest, NoFolderAndNoTempIsRefused) {
  platform.env.clear();
  platform.AddFile("/old.log", FakeFileTime(2000, 1, 1));
  Load("/Q");
  EXPECT_EQ(kExitRefused, status);
  EXPECT_TRUE(platform.Find("/old.log"));
  EXPECT_EQ(std::vector<std::string>{"Error: No folder to sweep. Give /F "
                                     "folder or set TEMP."},
            platform.errors);
}

TEST_F(RunTest, HelpShowsTheWindowAndWritesNoLog) {
  platform.AddFile("/data/old.log", FakeFileTime(2000, 1, 1));
  struct CountingDisplay : WindowDisplay {
    int shown = 0;
    int Show(const WindowModel&) override { return ++shown, 0; }
  } display;
  platform.argument_text = "/Q /F /data /L /? /I x";
  EXPECT_EQ(0, RunProgram(platform, display));
  EXPECT_EQ(1, display.shown);
  EXPECT_TRUE(platform.files_written.empty());
  EXPECT_TRUE(platform.Find("/data/old.log"));
}

TEST_F(RunTest, HelpWindowKeepsItsInitialContents) {
  EXPECT_TRUE(Load("/W *.txt /help"));
  EXPECT_EQ("Text3", window.Text3);
  EXPECT_EQ("Text5", window.Text5);
  EXPECT_TRUE(window.List1.visible);
  EXPECT_EQ(kLoadedHeightTwips, window.outer_height_twips);
}

TEST_F(RunTest, FailedDeletionOrLogGivesStatusOne) {
  platform.AddFile("/data/old.log", FakeFileTime(2000, 1, 1)).delete_error = 1;
  Load("/Q /F /data");
  EXPECT_EQ(kExitFailed, status);

  FakePlatform clean;
  clean.Add("/data", true);
  clean.log_write_fails = true;
  clean.argument_text = "/F /data /L";
  WindowModel w;
  EXPECT_EQ(kExitFailed, Form_Load(clean, w).exit_status);
  EXPECT_EQ(std::vector<std::string>{"agesweep: cannot write log file "
                                     "/opt/agesweep/agesweep.log: Read-only "
                                     "file system"},
            clean.errors);
}

TEST_F(RunTest, NamesCannotForgeLinesOrMoveTheCursor) {
  const std::string name = "evil\r\nError: 5: Access is denied\x1b[2J\x7f";
  platform.AddFile("/data/" + name, FakeFileTime(2000, 1, 1));
  platform.AddFile("/data/locked\n.log", FakeFileTime(2000, 1, 1))
      .delete_error = 13;
  platform.answers = {true, true};
  Load("/F /data /L");
  EXPECT_FALSE(platform.Find("/data/" + name));  // the exact name went
  EXPECT_NE(std::string::npos,
            Log().find("\r\nDelete: /data/evil??Error: 5: Access is denied?[2J?\r\n"
                       "Error: 13: Permission denied\r\n"
                       "File:  /data/locked?.log\r\nSearched: "));
  EXPECT_EQ("Confirm Delete: Are you sure you want to delete "
            "/data/evil??Error: 5: Access is denied?[2J?",
            platform.prompts[0]);
  EXPECT_EQ(std::vector<std::string>{"agesweep: cannot delete "
                                     "/data/locked?.log: Permission denied"},
            platform.errors);
}

// What a run does when the world is not as it should be, where no
// end-to-end test can arrange it: each row's trouble, and the status and
// message it must give; the old file is deleted only where the row says so.
TEST(RunTroubles, EachIsSaidAndTold) {
  const struct {
    const char* what;
    std::function<void(FakePlatform&)> arrange;
    const char* args;
    int status;
    std::string message;
    bool old_deleted;
  } kRows[] = {
      {"a folder whose reading fails part-way",
       [](FakePlatform& p) { p.Find("/data")->list_error = "Input/output error"; },
       "/Q /F /data", kExitFailed,
       "agesweep: cannot read folder /data/: Input/output error", true},
      {"the log locked by another run for too long",
       [](FakePlatform& p) { p.log_lock_busy = true; },
       "/Q /L /F /data", kExitFailed,
       "agesweep: log file /opt/agesweep/agesweep.log stayed locked by "
       "another run; the block was appended without the lock",
       true},
      {"a log whose place is unknown",
       [](FakePlatform& p) { p.program_folder = ""; },
       "/Q /L /F /data", kExitRefused,
       "Error: Cannot tell where the log file goes: the program's folder is "
       "unknown. Set AGESWEEP_LOG to a file you can write.",
       false},
      {"the place unknown but no log asked for",
       [](FakePlatform& p) { p.program_folder = ""; }, "/Q /F /data", kExitOk,
       "", true},
  };
  for (const auto& row : kRows) {
    SCOPED_TRACE(row.what);
    FakePlatform p;
    p.now = {2026, 12, 7, 6, 48, 36};
    p.AddFile("/data/old.log", FakeFileTime(2000, 1, 1));
    row.arrange(p);
    p.argument_text = row.args;
    WindowModel window;
    EXPECT_EQ(row.status, Form_Load(p, window).exit_status);
    EXPECT_EQ(row.message.empty() ? std::vector<std::string>{}
                                  : std::vector<std::string>{row.message},
              p.errors);
    EXPECT_EQ(!row.old_deleted, p.Find("/data/old.log") != nullptr);
  }
}

// At a terminal a long run shows its counts from about a second on, at most
// ten times a second, erases them at the end and leaves one summary line;
// elsewhere it shows nothing.
TEST(StatusLine, OnlyAtATerminalFromASecondOnAndSummedUpAtTheEnd) {
  const struct {
    bool at_terminal;
    const char* args;
    std::vector<std::string> errors;
  } kRows[] = {
      {true, "/Q /F /data /W *.log",
       {"agesweep: searched 644, found 1, deleted 1, failed 0"}},
      {true, "/Q /F /data /W *.log --dry-run",
       {"agesweep: dry run: 1 file would be deleted"}},
      {false, "/Q /F /data /W *.log", {}},
  };
  for (const auto& row : kRows) {
    SCOPED_TRACE(row.args);
    FakePlatform p;
    p.at_terminal = row.at_terminal;
    for (int i = 0; i < 641; ++i)
      p.AddFile("/data/f" + std::to_string(i) + ".txt", FakeFileTime(2000, 1, 1));
    p.AddFile("/data/old.log", FakeFileTime(2000, 1, 1));
    // The start, then one reading a 64 entries: shown at 1.0, 1.1, 1.2, 9.
    p.ticks = {0, 0.5, 0.9, 1.0, 1.05, 1.1, 1.2, 1.25, 9, 9, 9, 9};
    p.argument_text = row.args;
    WindowModel window;
    Form_Load(p, window);
    EXPECT_EQ(row.errors, p.errors);
    if (!row.at_terminal) {
      EXPECT_TRUE(p.status_lines.empty());
      continue;
    }
    ASSERT_EQ(5u, p.status_lines.size());
    EXPECT_TRUE(p.status_lines[0].starts_with("agesweep: searched 192, found "))
        << p.status_lines[0];
    EXPECT_NE(std::string::npos,
              p.status_lines[3].find(std::string(", ") +
                                     (row.errors[0].find("dry") != std::string::npos
                                          ? "would delete" : "deleted")));
    EXPECT_EQ("", p.status_lines[4]);
  }
}

TEST_F(RunTest, WildcardSyntaxErrorStillSweepsOnWindowsOnly) {
  platform.separator = '\\';
  platform.every_word_counts = false;
  platform.env["AGESWEEP_LOG"] = kLogPath;
  platform.AddFile("\\data\\a.txt", FakeFileTime(2000, 1, 1));
  platform.AddFile("\\data\\b.doc", FakeFileTime(2000, 1, 1));
  Load("/Q /F \\data /W *.txt *.doc /L");
  EXPECT_EQ(kExitOk, status);
  EXPECT_FALSE(platform.Find("\\data\\a.txt"));
  EXPECT_TRUE(platform.Find("\\data\\b.doc"));
  EXPECT_NE(std::string::npos,
            Log().find(std::string("Arguments:  /Q /F \\data /W \r\n") +
                       kWildcardSyntaxError + "\r\n*.txt *.doc /L \r\n"));
  EXPECT_EQ(std::vector<std::string>{kWildcardSyntaxError}, platform.errors);
}

// On POSIX every word counts: each slip refuses the run, with what was
// most likely meant; on Windows the same words are ignored.
TEST(EveryWordCounts, UnknownWordsRefuseTheRunWithAHint) {
  const struct {
    const char* args;
    const char* refusal;
  } kRows[] = {
      {"/Q --dry-rn /F /data", "agesweep: unknown word --dry-rn"},
      {"/Q -F /data", "agesweep: unknown word -F (did you mean /F?)"},
      {"-Q /F /data", "agesweep: unknown word -Q (did you mean /Q?)"},
      {"/Q /S /data /W *.o", "agesweep: unknown word /data (did you mean /F /data?)"},
      {"/Q /S /tmp/x", "agesweep: unknown word /tmp/x (did you mean /F /tmp/x?)"},
      {"/Q /F /data /Mm /T 3", "agesweep: unknown word /Mm (did you mean /M m?)"},
      {"/Q /F /data /T14", "agesweep: unknown word /T14 (did you mean /T 14?)"},
      {"/Q /F /data /HELP", "agesweep: unknown word /HELP (did you mean /help?)"},
      {"/Q /F /data /Mt", "agesweep: unknown word /Mt (did you mean /MT?)"},
      {"/Q /F /srv/old stuff",
       "agesweep: unknown word stuff (a folder whose path holds a space cannot "
       "be given)"},
      {"/Q /F /data /W a.log b.log c.log",
       "agesweep: unknown word b.log (quote the pattern list for the shell: "
       "/W 'a.log;b.log;c.log')"},
      {"/Q /F /data w1 w2 w3 w4 w5 w6 w7 w8 w9 w10 w11 w12 w13 w14 w15 w16 w17 "
       "w18",
       "agesweep: too many words (21); at most 20 are read"},
      {"/Q /F /data /W \"*.log, *.tmp\" --dry-run",
       "agesweep: unknown word *.tmp\" (quote the pattern list for the shell: "
       "/W '*.log;*.tmp')"},
      {"/Q /F /data -h", "agesweep: unknown word -h (did you mean --help?)"},
      {"/Q /F /data -v", "agesweep: unknown word -v (did you mean --version?)"},
      {"/Q /F /data --Version",
       "agesweep: unknown word --Version (did you mean --version?)"},
      {"/Q /F /data /version",
       "agesweep: unknown word /version (did you mean --version?)"},
  };
  for (const auto& row : kRows) {
    SCOPED_TRACE(row.args);
    for (const char separator : {'/', '\\'}) {
      FakePlatform p;
      p.separator = separator;
      p.every_word_counts = separator == '/';
      p.AddFile(separator == '/' ? "/data/old.o" : "\\data\\old.o",
                FakeFileTime(2000, 1, 1));
      p.env["TEMP"] = separator == '/' ? "/data" : "\\data";
      p.argument_text = row.args;
      WindowModel window;
      const int status = Form_Load(p, window).exit_status;
      if (separator == '/') {
        EXPECT_EQ(kExitRefused, status);
        EXPECT_NE(p.errors.end(),
                  std::find(p.errors.begin(), p.errors.end(), row.refusal))
            << testing::PrintToString(p.errors);
        EXPECT_TRUE(p.Find("/data/old.o"));
      } else {
        EXPECT_NE(kExitRefused, status);
      }
    }
  }
}

// What stderr says of a refusal is the refusal alone, and a switch word
// after a pattern list is no second pattern.
TEST(EveryWordCounts, StderrSaysTheRefusalAloneAndSwitchesEndAPatternList) {
  const struct {
    const char* args;
    int status;
    std::vector<std::string> errors;
  } kRows[] = {
      {"/Q -h", kExitRefused,
       {"agesweep: unknown word -h (did you mean --help?)"}},
      {"/Q /F /data /I *.log", kExitRefused, {kRetiredSwitchText}},
      {"/F /data /W *.log --dry-run", kExitOk,
       {"agesweep: dry run: 1 file would be deleted"}},
  };
  for (const auto& row : kRows) {
    SCOPED_TRACE(row.args);
    FakePlatform p;
    p.every_word_counts = true;
    p.AddFile("/data/old.log", FakeFileTime(2000, 1, 1));
    p.argument_text = row.args;
    WindowModel window;
    EXPECT_EQ(row.status, Form_Load(p, window).exit_status);
    EXPECT_EQ(row.errors, p.errors);
    EXPECT_TRUE(p.Find("/data/old.log"));
  }
}

TEST_F(RunTest, ADryRunListsWhatWouldGoAndDeletesAsksAndLogsNothing) {
  platform.AddFile("/data/old.log", FakeFileTime(2000, 1, 1));
  platform.AddFile("/data/sub/old\x1b.log", FakeFileTime(2000, 1, 1));
  platform.AddFile("/data/new.log", FakeFileTime(2026, 12, 7));
  EXPECT_FALSE(Load("/S /L /F /data --dry-run"));
  EXPECT_EQ(kExitOk, status);
  EXPECT_EQ("/data/old.log\n$'/data/sub/old\\x1b.log'\n", platform.printed);
  EXPECT_EQ(std::vector<std::string>{"agesweep: dry run: 2 files would be "
                                     "deleted"},
            platform.errors);
  EXPECT_TRUE(platform.prompts.empty());
  EXPECT_TRUE(platform.files_written.empty());
  EXPECT_TRUE(platform.Find("/data/old.log"));

  // A list that cannot be written is said once and fails the run.
  platform.errors.clear();
  platform.print_fails = true;
  EXPECT_FALSE(Load("/S /F /data --dry-run"));
  EXPECT_EQ(kExitFailed, status);
  EXPECT_EQ((std::vector<std::string>{
                "agesweep: cannot write the list of files to standard output: "
                "No space left on device",
                "agesweep: dry run: 2 files would be deleted"}),
            platform.errors);
}

TEST_F(RunTest, AnInterruptedRunLogsWhatItDidAndQuits) {
  platform.AddFile("/data/a.log", FakeFileTime(2000, 1, 1));
  platform.AddFile("/data/b.log", FakeFileTime(2000, 1, 1));
  platform.signal_at_prompt = 15;
  platform.answers = {true, true};
  EXPECT_FALSE(Load("/F /data /L"));
  EXPECT_EQ(128 + 15, status);
  // The prompt being answered counts as No, and no other prompt follows.
  EXPECT_EQ(1u, platform.prompts.size());
  EXPECT_TRUE(platform.Find("/data/a.log"));
  EXPECT_TRUE(platform.Find("/data/b.log"));
  const std::string log = Log();
  EXPECT_NE(std::string::npos,
            log.find("\r\nSearched: 3\r\nFound: 1\r\nRun Time:0.25  seconds\r\n"
                     "Quit: 12/7/2026 6:48:36 AM\r\n\r\n"));
  EXPECT_EQ(std::string::npos, log.find("Done: "));
}

TEST_F(RunTest, TheRootIsRefusedAndAMissingFolderIsAFailure) {
  platform.AddFile("/old.log", FakeFileTime(2000, 1, 1));
  EXPECT_FALSE(Load("/Q /F / /L"));
  EXPECT_EQ(kExitRefused, status);
  EXPECT_TRUE(platform.Find("/old.log"));
  EXPECT_EQ(std::vector<std::string>{"Error: Refusing to sweep the root folder /."},
            platform.errors);
  EXPECT_NE(std::string::npos,
            Log().find("\r\nError: Refusing to sweep the root folder /.\r\nQuit: "));

  FakePlatform other;
  other.argument_text = "/Q /F /nowhere /L";
  WindowModel w;
  EXPECT_EQ(kExitFailed, Form_Load(other, w).exit_status);
  EXPECT_EQ(std::vector<std::string>{"agesweep: cannot list folder /nowhere/: "
                                     "No such file or directory"},
            other.errors);
  EXPECT_EQ("0", w.Text3);
  EXPECT_NE(std::string::npos,
            other.files_written[kLogPath].find("\r\nSearched: 0\r\nFound: 0\r\n"));
}

TEST_F(RunTest, TheLogGoesWhereAgesweepLogSays) {
  platform.Add("/data", true);
  platform.env["AGESWEEP_LOG"] = "/var/log/sweeps.log";
  Load("/F /data /L");
  EXPECT_EQ(kExitOk, status);
  EXPECT_EQ(1u, platform.files_written.count("/var/log/sweeps.log"));
  EXPECT_NE(std::string::npos,
            platform.files_written["/var/log/sweeps.log"].find(
                "App Path: /opt/agesweep\r\n"));
  EXPECT_TRUE(Log().empty());
}

TEST_F(RunTest, VersionPrintsAndEndsTheRunLikeHelp) {
  platform.AddFile("/tmp/old.log", FakeFileTime(2000, 1, 1));
  EXPECT_FALSE(Load("/Q /L --version /F /tmp"));
  EXPECT_EQ(kExitOk, status);
  EXPECT_EQ(std::string("agesweep ") + kVersion + "\n", platform.printed);
  EXPECT_TRUE(platform.files_written.empty());
  EXPECT_TRUE(platform.Find("/tmp/old.log"));
  EXPECT_FALSE(Load("/Q --help"));
  EXPECT_NE(std::string::npos, platform.printed.find("Usage: agesweep "));
  EXPECT_TRUE(Load("/Q /?"));
  EXPECT_TRUE(platform.Find("/tmp/old.log"));
}

TEST(PrintableTest, MasksControlsAndWhatIsNotUtf8CharacterByCharacter) {
  using namespace std::string_view_literals;
  const struct {
    std::string_view text, shown;
  } rows[] = {
      {"plain name.log", "plain name.log"},
      // Valid text beyond ASCII stays: U+00A0 (the first after C1), é,
      // 日本, U+D7FF, U+FFFD, U+1F600, U+10FFFF.
      {"\xC2\xA0 caf\xC3\xA9 \xE6\x97\xA5\xE6\x9C\xAC",
       "\xC2\xA0 caf\xC3\xA9 \xE6\x97\xA5\xE6\x9C\xAC"},
      {"\xED\x9F\xBF\xEF\xBF\xBD\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF",
       "\xED\x9F\xBF\xEF\xBF\xBD\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF"},
      // C0 controls and DEL.
      {"a\tb\r\n\x1b[2J\x7f" "c\0d"sv, "a?b???[2J?c?d"},
      // C1 controls, each one '?': U+0080, U+009B (CSI), U+009F.
      {"\xC2\x80\xC2\x9B" "2J\xC2\x9F", "??2J?"},
      // Bytes that are not UTF-8, each one '?': a bare C1 byte, stray
      // continuation and lead bytes, truncated sequences, overlong
      // encodings, encoded surrogates, values beyond U+10FFFF.
      {"\x9B" "2J", "?2J"},
      {"\x80\xBF\xFE\xFF", "????"},
      {"\xE6\x97", "??"},
      {"\xE6\x97x\xF0\x9F\x98", "??x???"},
      {"\xC0\xAF\xE0\x80\xAF\xF0\x80\x80\xAF", "?????????"},
      {"\xED\xA0\x80|\xED\xBF\xBF", "???|???"},
      {"\xF4\x90\x80\x80", "????"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(testing::PrintToString(std::string(row.text)));
    EXPECT_EQ(row.shown, Printable(row.text));
    RunLog log;
    log.Append("\xC3\xA9:");
    log.Append(row.text);
    EXPECT_EQ("\xC3\xA9:" + std::string(row.shown), log.text);
  }
}

// A block beyond what the run keeps in memory goes through the spool and
// comes out whole and in order; one whose spool fails stops the sweep with
// every deletion it made in the block, as a run short of memory does; one
// that can make no spool keeps the block in memory and goes on.
TEST(RunLogSpool, KeepsMemoryBoundedAndABlockWholeOrStopsTheRun) {
  const std::string stem(200, 'x');
  FakePlatform direct;
  std::string error_text, expected;
  const std::unique_ptr<LogFile> file = direct.OpenLogFile("/l", &error_text);
  RunLog log;
  log.SpoolBeside(*file);
  for (int i = 0; i < 5000; ++i) {
    log.AppendLine(stem + std::to_string(i));
    expected += stem + std::to_string(i) + "\r\n";
    ASSERT_LE(log.text.size(), kLogChunkBytes);
    ASSERT_LE(log.text.capacity(), 2 * kLogChunkBytes);
  }
  EXPECT_TRUE(AppendBlock(direct, *file, "/l", log));
  EXPECT_EQ(expected + "\r\n", direct.files_written["/l"]);

  for (const char* spool : {"works", "fails", "cannot be made"}) {
    SCOPED_TRACE(std::string("the spool ") + spool);
    const bool fails = spool == std::string("fails");
    FakePlatform p;
    constexpr int kFiles = 2000;  // some 440 KB of deletion lines
    for (int i = 0; i < kFiles; ++i)
      p.AddFile("/data/" + stem + std::to_string(i), FakeFileTime(2000, 1, 1));
    p.spool_write_fails = fails;
    p.spool_make_fails = spool == std::string("cannot be made");
    p.argument_text = "/Q /L /F /data";
    WindowModel window;
    EXPECT_EQ(fails ? kExitFailed : kExitOk, Form_Load(p, window).exit_status);
    // Every file gone has its line, in the order of the walk, and no other.
    std::string deleted;
    for (int i = 0; i < kFiles; ++i)
      if (!p.Find("/data/" + stem + std::to_string(i)))
        deleted += "Delete: /data/" + stem + std::to_string(i) + "\r\n";
    const std::string block = p.files_written[kLogPath];
    const size_t first = block.find("Delete: ");
    EXPECT_EQ(deleted, block.substr(first, block.find("Searched: ") - first));
    const size_t left = p.Find("/data")->children.size() - 2;  // . and ..
    EXPECT_TRUE(fails ? left > 0 && left < kFiles : left == 0) << left;
    EXPECT_NE(std::string::npos, block.find(fails ? "\r\nQuit: " : "\r\nDone: "));
    EXPECT_EQ(fails ? std::vector<std::string>{"agesweep: cannot keep the "
                                               "block for log file " +
                                               std::string(kLogPath) +
                                               " in a temporary file: No space "
                                               "left on device; the sweep "
                                               "stopped early"}
                    : std::vector<std::string>{},
              p.errors);
  }
}

TEST(LogPathInSweep, TheLogInsideTheTopFolderInTheSweepsSpelling) {
  struct Row {
    const char *folder, *top, *log, *expected;
  };
  const Row rows[] = {
      {"/data/", "/data", "/data/agesweep.log", "/data/agesweep.log"},
      {"//x/../data/", "/data", "/data/sub/a.log", "//x/../data/sub/a.log"},
      {"/data/", "/data", "/var/log/agesweep.log", ""},
      {"/a/b/", "/a/b", "/a/bc/agesweep.log", ""},
      {"/a/b/", "/a/b/", "/a/b/agesweep.log", "/a/b/agesweep.log"},
      {"/a/b/", "", "/a/b/agesweep.log", ""},
  };
  for (const Row& row : rows)
    EXPECT_EQ(row.expected, LogPathInSweep(row.folder, row.top, row.log, '/'))
        << row.folder << " " << row.top << " " << row.log;
}

// A spool with a name (Windows keeps its delete-on-close file beside the
// log) is never deleted or asked about. (A dry run writes no log.)
TEST_F(RunTest, TheLogsNamedSpoolIsLeftAloneAsTheLogIs) {
  const char* const spool = "/data/logs/agesweep-spool-1.tmp";
  for (const char* mode : {"/Q", ""}) {
    SCOPED_TRACE(mode);
    FakePlatform p;
    p.env["AGESWEEP_LOG"] = "/data/logs/agesweep.log";
    p.named_spool = spool;
    p.AddFile("/data/logs/old.tmp", FakeFileTime(2000, 1, 1));
    p.answers = {true, true};
    p.argument_text = std::string(mode) + " /S /F /data /W *.tmp /L";
    EXPECT_EQ(kExitOk, Form_Load(p, window).exit_status);
    EXPECT_TRUE(p.Find(spool));
    EXPECT_FALSE(p.Find("/data/logs/old.tmp"));
    std::string said = p.files_written["/data/logs/agesweep.log"];
    for (const std::string& prompt : p.prompts) said += prompt;
    EXPECT_NE(std::string::npos, said.find("old.tmp"));
    EXPECT_EQ(std::string::npos, said.find("spool")) << said;
  }
}

TEST_F(RunTest, WhereFileNumbersAreMadeUpTheLogIsKeptByItsPath) {
  // The folder spelled otherwise than the file system names it.
  FakePlatform p;
  p.unstable_identities = true;
  p.env["AGESWEEP_LOG"] = "/data/logs/agesweep.log";
  p.AddFile("/data/logs/agesweep.log", FakeFileTime(2000, 1, 1));
  p.AddFile("/data/logs/old.log", FakeFileTime(2000, 1, 1));
  p.argument_text = "/Q /S /F //data/ /W *.log /L";
  EXPECT_EQ(kExitOk, Form_Load(p, window).exit_status);
  EXPECT_TRUE(p.Find("/data/logs/agesweep.log"));
  EXPECT_FALSE(p.Find("/data/logs/old.log"));
}
