// End-to-end runs checking what the program says to the person running it:
// on stderr (folders it cannot list, deletions that failed, questions) and
// on stdout (help and version).
#include <stdlib.h>
#include <termios.h>

#include "agesweep_version.h"
#include "tests/e2e_support.h"

namespace {

using MessagesE2eTest = E2eTest;

const char kPrompt[] = "Confirm Delete: Are you sure you want to delete ";

// Starts the program with `argv_text`, its stdin and `terminal_fd` (1 or 2)
// on a new pseudo-terminal, whose master is `*master`, and the other
// output on /dev/null; -1 when the system has no pseudo-terminal.
pid_t StartOnTerminal(std::vector<std::string> argv_text, int terminal_fd,
                      int* master) {
  *master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (*master < 0 || grantpt(*master) != 0 || unlockpt(*master) != 0)
    return -1;
  const std::string terminal = ptsname(*master);
  std::vector<std::string> env_text = {"TZ=UTC", "LC_ALL=C"};
  const std::vector<char*> argv = Pointers(argv_text);
  const std::vector<char*> envp = Pointers(env_text);
  const pid_t pid = fork();
  if (pid == 0) {
    setsid();
    const int fd = open(terminal.c_str(), O_RDWR);
    const int null = open("/dev/null", O_WRONLY);
    dup2(fd, 0);
    dup2(null, 3 - terminal_fd);
    dup2(fd, terminal_fd);
    execve(argv[0], argv.data(), envp.data());
    _exit(127);
  }
  return pid;
}

}  // namespace

TEST_F(MessagesE2eTest, TopFolderThatCannotBeListedIsSaid) {
  File("afile", 400);
  fs::create_directory(tree_ / "locked");
  chmod((tree_ / "locked").c_str(), 0);
  struct Case {
    std::string given;   // the /F word
    std::string folder;  // the folder the run reads from it
    const char* reason;
    const char* number;
    bool as_nobody;
  };
  const Case cases[] = {
      {T() + "/missing", T() + "/missing", "No such file or directory", "2",
       false},
      {T() + "/afile", T() + "/afile", "Not a directory", "20", false},
      {T() + "/locked", T() + "/locked", "Permission denied", "13", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.given);
    fs::remove(bin_ / "agesweep.log");
    const Result r =
        Run({"/Q", "/L", "/F", c.given, "/M", "d", "/T", "30"}, "", c.as_nobody);
    EXPECT_EQ(1, r.status);
    EXPECT_EQ("agesweep: cannot list folder " + c.folder + "/: " + c.reason + "\n",
              r.err);
    const std::string log = Log();
    EXPECT_EQ("0", LogValue(log, "Searched: "));
    EXPECT_EQ("0", LogValue(log, "Found: "));
    EXPECT_NE(std::string::npos, log.find("\r\nDone: "));
    // The log, a scheduled run's record, names the folder too.
    EXPECT_NE(std::string::npos,
              log.find(std::string("\r\nError: ") + c.number + ": " + c.reason +
                       "\r\nFile:  " + c.folder + "/\r\nSearched: "))
        << log;
  }
  chmod((tree_ / "locked").c_str(), 0755);
  EXPECT_EQ(Names({"afile"}), Remaining());
}

TEST_F(MessagesE2eTest, QuestionsAndTheWildcardErrorGoToStderr) {
  File("a.log", 400);
  File("b.log", 400);
  File("c.log", 400);
  // No answers: one question per due file, each on a line of its own.
  Result r = Run({"/F", T(), "/M", "d", "/T", "30"});
  EXPECT_EQ(0, r.status);
  Names lines = Lines(r.err);
  std::sort(lines.begin(), lines.end());
  Names expected;
  for (const char* name : {"a.log", "b.log", "c.log"})
    expected.push_back(kPrompt + T() + "/" + name + " [Y/n] ");
  EXPECT_EQ(expected, lines);
  EXPECT_TRUE(r.err.ends_with('\n'));
  EXPECT_EQ(3u, Remaining().size());

  // An unclear answer is asked again; answers from a pipe are shown after
  // their question, so that each file's answer is on its line.
  r = Run({"/F", T(), "/W", "a.log", "/M", "d", "/T", "30"}, "maybe\ny\n");
  const std::string question = kPrompt + T() + "/a.log [Y/n] ";
  EXPECT_EQ(question + "maybe\nPlease answer y or n.\n" + question + "y\n",
            r.err);
  EXPECT_EQ(Names({"b.log", "c.log"}), Remaining());

  // Patterns written with spaces, or spread by the shell: said, and on
  // Linux the run is refused with the quoting that was meant.
  File("d.gz", 400);
  r = Run({"/Q", "/W", "*.log", "*.gz", "/F", T(), "/M", "d", "/T", "30"});
  EXPECT_EQ(2, r.status);
  EXPECT_EQ(
      "Error: Do not put anything other than a semicolons between wildcards. "
      "No spaces allowed. (When using multiple wildcards, use the following "
      "syntax: /W *.ppt;*.htm;?testfile.txt;*.doc)\n"
      "agesweep: unknown word *.gz (quote the pattern list for the shell: "
      "/W '*.log;*.gz')\n",
      r.err);
  EXPECT_EQ(Names({"b.log", "c.log", "d.gz"}), Remaining());
}

TEST_F(MessagesE2eTest, HelpAndVersionWordsSweepNothing) {
  temp_dir_for_default_ = T();  // a run that swept would empty the tree
  File("a.log", 400);
  std::vector<std::string> args = {"/Q", "/L"};
  args.resize(19, "ignored");
  args.push_back("/?");  // the last of the 20 words read, after unknown ones
  Result r = Run(args, "\n");
  EXPECT_EQ(0, r.status);
  EXPECT_EQ(0u, r.out.find("Age Sweeper  (agesweep.exe)\n"));
  // The help text's line 8 (it starts below the caption and a blank line).
  const std::vector<std::string> lines = Lines(r.out);
  ASSERT_GT(lines.size(), 9u);
  EXPECT_EQ("The following command line options can be used with agesweep.exe",
            lines[2]);
  EXPECT_EQ(
      "\t  w Weekday     ww Week of year     h Hour     n Minute     s Second ",
      lines[9]);
  EXPECT_EQ(Names({"a.log"}), Remaining());
  EXPECT_FALSE(fs::exists(bin_ / "agesweep.log"));

  // --help is the usage text, wherever it stands.
  r = Run({"/Q", "unknown", "--help", "/L"});
  EXPECT_EQ(0, r.status);
  EXPECT_EQ(0u, r.out.find("Usage: agesweep "));
  EXPECT_NE(std::string::npos, r.out.find("\nFull reference: man agesweep\n"));
  EXPECT_EQ("", r.err);

  r = Run({"/Q", "/L", "--version"});
  EXPECT_EQ(0, r.status);
  EXPECT_EQ(std::string("agesweep ") + kVersion + "\n", r.out);
  EXPECT_EQ("", r.err);
  EXPECT_EQ(Names({"a.log"}), Remaining());
  EXPECT_FALSE(fs::exists(bin_ / "agesweep.log"));

  // Help not on a terminal waits for no key, though stdin stays open.
  RunOptions o;
  o.keep_stdin_open = true;
  Child c = Start({"/?"}, o);
  std::string err;
  ReadErrUntil(c, "", &err);  // to the run's end
  r = Finish(c, err);
  EXPECT_FALSE(r.timed_out);
  EXPECT_EQ(0, r.status);
  EXPECT_NE(std::string::npos, r.out.find("\n[ Close ]\n"));
}

TEST_F(MessagesE2eTest, HelpOnATerminalClosesWithQOrEsc) {
  for (const char* key : {"q", "Q", "\x1b"}) {
    SCOPED_TRACE(key[0]);
    int master = -1;
    const pid_t pid = StartOnTerminal(CommandLine({"/?"}), 1, &master);
    if (pid < 0) GTEST_SKIP() << "no pseudo-terminal";
    // The key is sent once the help is shown and the terminal is raw, so
    // that it is read as one key and not kept for a line.
    Child c{pid, -1, master};
    std::string screen;
    EXPECT_TRUE(ReadErrUntil(c, "[ Close ]", &screen)) << screen;
    struct termios mode;
    for (int i = 0; i < kHangSeconds * 100 && tcgetattr(master, &mode) == 0 &&
                    (mode.c_lflag & ICANON);
         ++i)
      usleep(10000);
    ASSERT_EQ(1, write(master, key, 1));
    c.err = -1;
    const Result r = Finish(c);
    close(master);
    EXPECT_FALSE(r.timed_out);
    EXPECT_EQ(0, r.status);
  }
}

// A run watched at a terminal shows its counts once it has lasted a second,
// erases them before each question and at the end, and sums up in one line;
// with stderr on a pipe it shows nothing of it.
TEST_F(MessagesE2eTest, AStatusLineOnlyAtATerminal) {
  for (const char* folder : {"a", "b", "c"}) {
    File(std::string(folder) + "/old.log", 400);
    for (int i = 0; i < 200; ++i)
      File(std::string(folder) + "/young" + std::to_string(i) + ".txt", 0);
  }
  const std::vector<std::string> args = {"/S", "/W", "*.log", "/F", T(),
                                         "/M", "d", "/T", "30"};
  // The first answer comes after a second and more, so that the walk after
  // it has lasted long enough for the line.
  const auto answer = [](int fd, Child& c, std::string* screen) {
    for (int i = 0; i < 3; ++i) {
      const size_t asked = screen->size();
      ASSERT_TRUE(ReadErrUntil(c, "[Y/n] ", screen)) << *screen;
      if (i == 0) usleep(1200 * 1000);
      ASSERT_EQ(2, write(fd, "y\n", 2));
      // Read past this prompt, so that the next wait is for the next one.
      screen->replace(screen->find("[Y/n] ", asked), 6, "[Y/n]:");
    }
  };

  int master = -1;
  const pid_t pid = StartOnTerminal(CommandLine(args), 2, &master);
  if (pid < 0) GTEST_SKIP() << "no pseudo-terminal";
  Child c{pid, -1, master};
  std::string screen;
  answer(master, c, &screen);
  ReadErrUntil(c, "", &screen);  // the end reads as an error on a terminal
  c.err = -1;
  const Result r = Finish(c, screen);
  close(master);
  EXPECT_EQ(0, r.status);
  const std::string shown = "\ragesweep: searched ";
  ASSERT_NE(std::string::npos, screen.find(shown)) << screen;
  // Every line drawn is erased before anything else is said.
  for (size_t at = 0; (at = screen.find(shown, at)) != std::string::npos; ++at) {
    const size_t end_of_line = screen.find("\x1b[K", at);
    ASSERT_NE(std::string::npos, end_of_line);
    EXPECT_EQ(0u, screen.compare(end_of_line + 3, 4, "\r\x1b[K")) << screen;
  }
  EXPECT_TRUE(screen.ends_with(", found 3, deleted 3, failed 0\r\n")) << screen;

  for (const char* folder : {"a", "b", "c"})
    File(std::string(folder) + "/old.log", 400);
  RunOptions o;
  o.keep_stdin_open = true;
  Child piped = Start(args, o);
  std::string err;
  answer(piped.in, piped, &err);
  const Result p = Finish(piped, err);
  EXPECT_EQ(0, p.status);
  EXPECT_EQ(std::string::npos, p.err.find("agesweep: searched")) << p.err;
  EXPECT_EQ(std::string::npos, p.err.find('\r')) << p.err;
  EXPECT_EQ(600u, Remaining().size());
}
