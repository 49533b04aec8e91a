// End-to-end runs against what the world can do to a run: signals, closed
// pipes and descriptors, very deep trees, log paths that are not files,
// hostile file names, the root folder and mounted volumes.
#include <sys/stat.h>

#include <cstring>
#include <functional>
#include <iostream>

#include "tests/e2e_support.h"

namespace {

using HardeningE2eTest = E2eTest;

const std::vector<std::string> kDue = {"/M", "d", "/T", "30"};

std::vector<std::string> With(std::vector<std::string> args) {
  args.insert(args.end(), kDue.begin(), kDue.end());
  return args;
}

// Creates `name` in the open folder `dir`, 400 days old.
void OldFileAt(int dir, const std::string& name) {
  const int fd = openat(dir, name.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  ASSERT_GE(fd, 0) << name;
  struct timespec times[2];
  clock_gettime(CLOCK_REALTIME, &times[0]);
  times[0].tv_sec -= 400 * 86400LL;
  times[1] = times[0];
  EXPECT_EQ(0, futimens(fd, times));
  close(fd);
}

// Makes `top`/d/d/.../d, `depth` folders deep, holding only one descriptor at
// a time, with an old bottom.log in the deepest. Opens the deepest folder
// when `open_bottom`, else returns -1.
int Chain(const fs::path& top, int depth, bool open_bottom = false) {
  int fd = open(top.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  for (int i = 0; i < depth && fd >= 0; ++i) {
    if (!open_bottom) mkdirat(fd, "d", 0755);
    const int sub = openat(fd, "d", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    close(fd);
    fd = sub;
  }
  if (!open_bottom) {
    OldFileAt(fd, "bottom.log");
    close(fd);
    return -1;
  }
  return fd;
}

// How many descriptors past the standard three a run started now inherits
// (a test runner's, say): they take from its limit.
int InheritedDescriptors() {
  int count = 0;
  for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
    const int fd = std::atoi(entry.path().filename().c_str());
    const int flags = fcntl(fd, F_GETFD);
    count += fd > 2 && flags >= 0 && !(flags & FD_CLOEXEC);
  }
  return count;
}

// Whether a run may be given `count` descriptors, soft and hard limit.
bool CanLimitOpenFiles(rlim_t count) {
  const pid_t pid = fork();
  if (pid == 0) {
    const struct rlimit limit = {count, count};
    _exit(setrlimit(RLIMIT_NOFILE, &limit) == 0 ? 0 : 1);
  }
  int wstatus = 0;
  waitpid(pid, &wstatus, 0);
  return WIFEXITED(wstatus) && WEXITSTATUS(wstatus) == 0;
}

std::string Repeat(const std::string& part, int times) {
  std::string s;
  for (int i = 0; i < times; ++i) s += part;
  return s;
}

// A count as the log shows it, without its thousands separators.
std::string Digits(std::string count) {
  count.erase(std::remove(count.begin(), count.end(), ','), count.end());
  return count;
}

// Whether `log` holds each of `parts`, in that order.
bool InOrder(const std::string& log, const std::vector<std::string>& parts) {
  size_t at = 0;
  for (const std::string& p : parts)
    if ((at = log.find(p, at)) == std::string::npos) return false;
  return true;
}

}  // namespace

TEST_F(HardeningE2eTest, SignalAtAPromptEndsTheRunAsQuitWithItsSummary) {
  // Twice each: a signal that comes just as the question is written must not
  // be lost while the run waits for an answer.
  for (const int signal : {SIGTERM, SIGINT, SIGHUP, SIGTERM, SIGINT, SIGHUP}) {
    SCOPED_TRACE(strsignal(signal));
    fs::remove(bin_ / "agesweep.log");
    for (const char* name : {"a.log", "b.log", "c.log"}) File(name, 400);
    RunOptions o;
    o.keep_stdin_open = true;
    Child c = Start(With({"/F", T(), "/L"}), o);
    std::string err;
    ASSERT_TRUE(ReadErrUntil(c, "Are you sure you want to delete", &err)) << err;
    kill(c.pid, signal);
    ReadErrUntil(c, "", &err, 10);  // to the run's end, its stdin still open
    const Result r = Finish(c, err);
    EXPECT_FALSE(r.timed_out) << "still waiting for an answer after the signal";
    EXPECT_EQ(128 + signal, r.status) << r.err;
    EXPECT_EQ(1u, Count(r.err, "Are you sure")) << r.err;
    EXPECT_EQ(3u, Remaining().size());
    const std::string log = Log();
    EXPECT_TRUE(InOrder(log, {"\r\nSearched: ", "\r\nFound: ", "\r\nRun Time:",
                              "\r\nQuit: "}))
        << log;
    EXPECT_EQ(std::string::npos, log.find("Done: "));
    EXPECT_EQ(std::string::npos, log.find("Delete: "));
  }
}

TEST_F(HardeningE2eTest, SignalEndsAWaitForAnAnswerOnEndlessInput) {
  // Input that is always ready and never ends its line: the wait never
  // blocks, and the line, never an answer, must not be held whole.
  File("old.log", 400);
  RunOptions o;
  o.stdin_file = "/dev/zero";
  // The sanitizers reserve more address space than any limit would allow.
#if defined(__SANITIZE_ADDRESS__)
  o.env = {"ASAN_OPTIONS=hard_rss_limit_mb=256"};
#elif defined(__SANITIZE_THREAD__)
  o.env = {"TSAN_OPTIONS=hard_rss_limit_mb=256"};
#else
  o.limits = {{RLIMIT_AS, rlim_t{256} << 20}};
#endif
  Child c = Start(With({"/F", T(), "/L"}), o);
  std::string err;
  ASSERT_TRUE(ReadErrUntil(c, "[Y/n] ", &err)) << err;
  usleep(500000);  // zeros read meanwhile
  kill(c.pid, SIGTERM);
  ReadErrUntil(c, "", &err, 10);
  const Result r = Finish(c, err);
  EXPECT_FALSE(r.timed_out) << "still reading after the signal";
  EXPECT_EQ(0, r.signal) << strsignal(r.signal);
  EXPECT_EQ(128 + SIGTERM, r.status) << r.err;
  EXPECT_EQ(Names({"old.log"}), Remaining());
  EXPECT_TRUE(InOrder(Log(), {"\r\nSearched: ", "\r\nFound: ", "\r\nQuit: "}))
      << Log();
}

TEST_F(HardeningE2eTest, AnswerLinesLongerThan4KiBAreNeitherYesNorNo) {
  const std::string yes_padded = "y" + std::string(4095, ' ');  // 4 KiB
  const struct {
    std::string input;
    bool deleted;
    size_t asked_again;
  } rows[] = {
      {yes_padded + "\n", true, 0},
      {yes_padded + " \nn\n", false, 1},
      {yes_padded + " ", false, 1},  // the last line, without its end
      // The rest of the long line is passed over, up to its end.
      {"y" + std::string(100000, 'y') + "\ny\n", true, 1},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.input.size());
    File("old.log", 400);
    const Result r = Run(With({"/F", T()}), row.input);
    EXPECT_EQ(0, r.status) << r.err;
    EXPECT_EQ(row.deleted, Remaining().empty());
    EXPECT_EQ(row.asked_again, Count(r.err, "Please answer y or n.\n"))
        << r.err;
  }
}

TEST_F(HardeningE2eTest, SignalDuringAQuietSweepLogsEveryDeletionMade) {
  constexpr int kFolders = 20, kFiles = 2000;
  for (int f = 0; f < kFolders; ++f) {
    const fs::path folder = tree_ / ("f" + std::to_string(f));
    fs::create_directory(folder);
    const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    for (int i = 0; i < kFiles; ++i) OldFileAt(fd, std::to_string(i) + ".log");
    close(fd);
  }
  // The walk takes the folders in the order the folder lists them, so the
  // first one listed is the first to lose files.
  const fs::path first = fs::directory_iterator(tree_)->path();
  Child c = Start(With({"/Q", "/S", "/L", "/F", T()}), {});
  for (int i = 0; i < kHangSeconds * 1000 && std::distance(fs::directory_iterator(first), {}) == kFiles; ++i)
    usleep(1000);
  kill(c.pid, SIGINT);
  const Result r = Finish(c);
  EXPECT_EQ(130, r.status) << r.err;
  size_t left = 0;
  for (const auto& e : fs::recursive_directory_iterator(tree_))
    left += e.is_regular_file();
  const size_t deleted = kFolders * kFiles - left;
  const std::string log = Log();
  const size_t logged = Count(log, "\r\nDelete: ");
  std::cout << "interrupted sweep: " << deleted << " of " << kFolders * kFiles
            << " files deleted, " << logged << " deletions logged\n";
  EXPECT_GT(deleted, 0u);
  EXPECT_LT(deleted, size_t{kFolders * kFiles});
  EXPECT_EQ(deleted, logged);
  // Each file found was handled to the end before the walk stopped.
  EXPECT_EQ(std::to_string(deleted), Digits(LogValue(log, "Found: ")));
  EXPECT_NE(std::string::npos, log.find("\r\nQuit: "));
}

TEST_F(HardeningE2eTest, ClosedOutputPipeDoesNotEndTheRun) {
  File("a.log", 400);
  File("b.log", 400);
  File("readonly/stuck.log", 400);
  chmod((tree_ / "readonly").c_str(), 0555);
  chmod(tree_.c_str(), 0777);
  RunOptions o;
  o.broken_pipe_output = true;
  o.input = "y\ny\n";  // prompts that go nowhere still get their answers
  Result r = RunWith(With({"/F", T(), "/L"}), o);
  EXPECT_EQ(0, r.signal);
  EXPECT_EQ(0, r.status);
  EXPECT_EQ(Names({"readonly/stuck.log"}), Remaining());
  EXPECT_TRUE(InOrder(Log(), {"\r\nDelete: ", "\r\nDelete: ", "\r\nDone: "}));

  fs::remove(bin_ / "agesweep.log");
  o.input.clear();
  o.as_nobody = true;  // the failed deletion is said on the closed stderr
  r = RunWith(With({"/Q", "/S", "/L", "/F", T()}), o);
  EXPECT_EQ(0, r.signal);
  EXPECT_EQ(1, r.status);
  const std::string log = Log();
  EXPECT_TRUE(InOrder(log, {"\r\nFile:  " + T() + "/readonly/stuck.log\r\n",
                            "\r\nDone: "}));
  EXPECT_EQ(log.size() - 4, log.rfind("\r\n\r\n"));
}

TEST_F(HardeningE2eTest, DeepChainIsWalkedOrSaysWhereDescriptorsRanOut) {
  // Few descriptors: the walk stops where they run out and says so.
  const fs::path shallow = tree_ / "shallow";
  fs::create_directory(shallow);
  Chain(shallow, 1000);
  File("shallow/d/top.log", 400);
  RunOptions o;
  o.open_files = 256;
  Result r = RunWith(With({"/Q", "/S", "/L", "/F", shallow.string()}), o);
  EXPECT_EQ(0, r.signal);
  EXPECT_EQ(1, r.status);
  const std::string head = "agesweep: cannot read folder " + shallow.string() + "/";
  const std::string tail = ": Too many open files\n";
  ASSERT_EQ(0u, r.err.find(head)) << r.err.substr(0, 300);
  ASSERT_GT(r.err.size(), head.size() + tail.size());
  const std::string below = r.err.substr(head.size(), r.err.size() - head.size() - tail.size());
  EXPECT_EQ(Repeat("d/", static_cast<int>(below.size() / 2)), below);
  EXPECT_EQ(tail, r.err.substr(r.err.size() - tail.size()));
  EXPECT_FALSE(fs::exists(shallow / "d/top.log"));
  EXPECT_NE(std::string::npos, Log().find("\r\nDone: "));

  // Descriptors enough: 100,000 folders down and back, the bottom file gone.
  // Where the hard limit cannot be raised that far, as deep as it allows.
  int depth = 100000;
  if (!CanLimitOpenFiles(depth + 200)) {
    struct rlimit limit;
    getrlimit(RLIMIT_NOFILE, &limit);
    depth = static_cast<int>(std::min<rlim_t>(depth, limit.rlim_max - 200));
    if (depth < 10000) GTEST_SKIP() << "cannot raise RLIMIT_NOFILE";
    std::cout << "deep chain: " << depth << " folders (RLIMIT_NOFILE hard "
              << limit.rlim_max << ")\n";
  }
  // On a tmpfs where one can be had: a disk takes long to make and remove
  // so many folders.
  const fs::path deep = temp_.path() / "deep";
  if (!MountTmpfs(deep, "64m")) fs::create_directory(deep);
  Chain(deep, depth);
  fs::create_directory(deep / "d" / "top");  // a second folder, near the top
  Write(deep / "d/top/top.log", "x");
  SetAge(deep / "d/top/top.log", 400 * 86400LL);
  fs::remove(bin_ / "agesweep.log");
  o.open_files = static_cast<rlim_t>(depth) + 200;
  r = RunWith(With({"/Q", "/S", "/L", "/F", deep.string()}), o);
  EXPECT_EQ(0, r.signal);
  EXPECT_EQ(0, r.status) << r.err.substr(0, 300);
  const int bottom = Chain(deep, depth, true);
  ASSERT_GE(bottom, 0);
  struct stat st;
  EXPECT_NE(0, fstatat(bottom, "bottom.log", &st, AT_SYMLINK_NOFOLLOW));
  close(bottom);
  EXPECT_FALSE(fs::exists(deep / "d/top/top.log"));
  const std::string log = Log();
  EXPECT_NE(std::string::npos,
            log.find("\r\nDelete: " + deep.string() + Repeat("/d", depth) +
                     "/bottom.log\r\n"));
  // depth + 2 folders, each . and ..; depth times d, top and two files.
  EXPECT_EQ(std::to_string(3 * depth + 7), Digits(LogValue(log, "Searched: ")));
  EXPECT_EQ("2", LogValue(log, "Found: "));
}

TEST_F(HardeningE2eTest, UnderADescriptorLimitThePoolNeverCostsTheWalkAFolder) {
  // 20 branches, each as deep as 64 descriptors let the walk alone go:
  // what the threads reading ahead hold must never be what the walk needs
  // to get down one of them. With fewer, the walk cannot get down any,
  // with threads or alone, and must say so. Without threads (nobody may
  // start none) the walk is alone.
  constexpr int kBranches = 20, kDepth = 56;
  for (const int limit : {64, 56}) {
    int deleted_alone = -1;
    for (const bool pool : {false, true}) {
      SCOPED_TRACE(testing::Message() << limit << (pool ? " pool" : " walk alone"));
      for (int b = 0; b < kBranches; ++b) {
        const fs::path branch = tree_ / ("b" + std::to_string(b));
        fs::create_directory(branch);
        Chain(branch, kDepth);
      }
      RunOptions o;
      o.open_files = static_cast<rlim_t>(limit + InheritedDescriptors());
      if (!pool) {
        for (const auto& entry : fs::recursive_directory_iterator(tree_))
          lchown(entry.path().c_str(), 65534, 65534);
        o.as_nobody = true;
        o.limits = {{RLIMIT_NPROC, 1}};
        // The leak check of a sanitized build needs a thread at the end.
        o.env = {"ASAN_OPTIONS=detect_leaks=0"};
      }
      Result r = RunWith(With({"/Q", "/S", "/L", "/F", T()}), o);
      // Another test's run as nobody at the same moment fails the start.
      for (int again = 0; !pool && r.status == 127 && again < 50; ++again) {
        usleep(100000);
        r = RunWith(With({"/Q", "/S", "/L", "/F", T()}), o);
      }
      EXPECT_EQ(limit == 64 ? 0 : 1, r.status) << r.err.substr(0, 300);
      const std::string log = Log();
      int deleted = 0;
      for (size_t at = log.find("\r\nDelete: "); at != std::string::npos;
           at = log.find("\r\nDelete: ", at + 1))
        ++deleted;
      EXPECT_EQ(limit == 64 ? kBranches : deleted, deleted);
      EXPECT_EQ(pool ? deleted_alone : deleted, deleted);
      deleted_alone = deleted;
      fs::remove_all(tree_);
      fs::create_directory(tree_);
      fs::remove(bin_ / "agesweep.log");
    }
  }
}

TEST_F(HardeningE2eTest, LogIsWrittenOnlyToTheRegularFileItIsNamed) {
  const fs::path logs = temp_.path() / "logs";
  fs::create_directory(logs);
  RunOptions o;
  o.env = {"AGESWEEP_LOG=" + (logs / "sweep.log").string()};
  File("a.log", 400);
  EXPECT_EQ(0, RunWith(With({"/Q", "/L", "/F", T()}), o).status);
  EXPECT_NE(std::string::npos, Slurp(logs / "sweep.log").find("\r\nDelete: "));
  EXPECT_FALSE(fs::exists(bin_ / "agesweep.log"));
  o.env = {"AGESWEEP_LOG="};
  EXPECT_EQ(0, RunWith(With({"/Q", "/L", "/F", T()}), o).status);
  EXPECT_TRUE(fs::exists(bin_ / "agesweep.log"));

  TempDir outside;
  const fs::path victim = outside.path() / "victim.log";
  const fs::path absent = outside.path() / "absent.log";
  Write(victim, "keep me");
  const fs::path at = logs / "bad.log";
  const std::vector<std::pair<const char*, std::function<void()>>> cases = {
      {"link", [&] { fs::create_symlink(victim, at); }},
      {"dangling link", [&] { fs::create_symlink(absent, at); }},
      {"fifo", [&] { ASSERT_EQ(0, mkfifo(at.c_str(), 0644)); }},
      {"folder", [&] { fs::create_directory(at); }},
  };
  o.env = {"AGESWEEP_LOG=" + at.string()};
  for (const auto& [what, make] : cases) {
    SCOPED_TRACE(what);
    fs::remove(at);
    make();
    File("a.log", 400);
    const Result r = RunWith(With({"/Q", "/L", "/F", T()}), o);
    EXPECT_FALSE(r.timed_out);
    // Refused before the sweep: nothing is deleted that could not be logged.
    EXPECT_EQ(2, r.status);
    EXPECT_EQ("Error: Cannot write the log file " + at.string() +
                  ": not a regular file. Set AGESWEEP_LOG to a file you can "
                  "write.\n",
              r.err);
    EXPECT_EQ(Names({"a.log"}), Remaining());
  }
  EXPECT_EQ("keep me", Slurp(victim));
  EXPECT_FALSE(fs::exists(absent));
}

TEST_F(HardeningE2eTest, LogOnAFullFileSystemIsLeftAsItWas) {
  const fs::path full = temp_.path() / "full";
  if (!MountTmpfs(full, "64k")) GTEST_SKIP() << "needs root to mount a tmpfs";
  const fs::path log = full / "agesweep.log";
  RunOptions o;
  o.env = {"AGESWEEP_LOG=" + log.string()};
  // One earlier block, padded by a pattern that matches nothing to a little
  // under one page, so that the next block needs a page more.
  ASSERT_EQ(0, RunWith({"/Q", "/L", "/F", T(), "/W", "pad"}, o).status);
  const size_t unpadded = fs::file_size(log);
  fs::remove(log);
  const std::string pad(4096 - 80 - unpadded, 'p');
  ASSERT_EQ(0, RunWith({"/Q", "/L", "/F", T(), "/W", pad}, o).status);
  const std::string before = Slurp(log);
  {
    const int fd = open((full / "filler").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    const std::string page(4096, 'f');
    while (write(fd, page.data(), page.size()) > 0) {
    }
    close(fd);
  }
  File("a.log", 400);
  const Result r = RunWith(With({"/Q", "/L", "/F", T()}), o);
  EXPECT_EQ(1, r.status);
  EXPECT_EQ("agesweep: cannot write log file " + log.string() +
                ": No space left on device\n",
            r.err);
  EXPECT_EQ(before, Slurp(log));
  EXPECT_EQ(Names(), Remaining());
}

TEST_F(HardeningE2eTest, LogBeyondTheFileSizeLimitIsLeftAsItWas) {
  ASSERT_EQ(0, Run({"/Q", "/L", "/F", T()}).status);
  const std::string before = Log();
  // The limit just above the log's size cuts the block short; at its size,
  // nothing of it fits.
  for (const rlim_t above : {0, 1, 100}) {
    SCOPED_TRACE(above);
    for (const char* name : {"a.log", "b.log", "c.log"}) File(name, 400);
    RunOptions o;
    o.limits = {{RLIMIT_FSIZE, before.size() + above}};
    const Result r = RunWith(With({"/Q", "/L", "/F", T()}), o);
    EXPECT_EQ(0, r.signal) << strsignal(r.signal);
    EXPECT_EQ(1, r.status);
    EXPECT_EQ("agesweep: cannot write log file " +
                  (bin_ / "agesweep.log").string() + ": File too large\n",
              r.err);
    EXPECT_EQ(before, Log());
    EXPECT_EQ(Names(), Remaining());  // the deletions made stand
  }
}

TEST_F(HardeningE2eTest, ControlCharactersInNamesAreShownAsQuestionMarks) {
  File("evil\r\nError: 5: Access is denied\r\nFile:  C:\\Windows\\x", 400);
  File("del\x7f.log", 400);
  File("csi\xC2\x9B" "2J.log", 400);  // U+009B, a terminal's CSI
  File("stray\xFF.log", 400);         // a byte that is not UTF-8
  EXPECT_EQ(0, Run(With({"/Q", "/L", "/F", T()})).status);
  EXPECT_EQ(Names(), Remaining());  // the exact names were deleted
  const std::string log = Log();
  for (const char* shown : {"/csi?2J.log", "/stray?.log"})
    EXPECT_NE(std::string::npos,
              log.find("\r\nDelete: " + T() + shown + "\r\n"));
  EXPECT_EQ(std::string::npos, log.find_first_of("\x9B\xFF"));
  EXPECT_NE(std::string::npos,
            log.find("\r\nDelete: " + T() +
                     "/evil??Error: 5: Access is denied??File:  "
                     "C:\\Windows\\x\r\n"));
  EXPECT_NE(std::string::npos, log.find("\r\nDelete: " + T() + "/del?.log\r\n"));
  // Only the log's own line ends: every CR before an LF, every LF after a CR.
  for (size_t i = 0; i < log.size(); ++i) {
    if (log[i] == '\r') {
      ASSERT_EQ('\n', log[i + 1]) << i;
    }
    if (log[i] == '\n') {
      ASSERT_EQ('\r', log[i - 1]) << i;
    }
  }

  File("\x1b[2J\rscreen.log", 400);
  File("\xC2\x9B" "2Jcsi.log", 400);
  const Result r = Run(With({"/F", T()}));
  EXPECT_NE(std::string::npos,
            r.err.find("delete " + T() + "/?[2J?screen.log [Y/n] "))
      << r.err;
  EXPECT_NE(std::string::npos,
            r.err.find("delete " + T() + "/?2Jcsi.log [Y/n] "))
      << r.err;
  EXPECT_EQ(std::string::npos, r.err.find_first_of("\x1b\r\x9B"));
  EXPECT_EQ(Names({"\x1b[2J\rscreen.log", "\xC2\x9B" "2Jcsi.log"}),
            Remaining());
}

TEST_F(HardeningE2eTest, FileTimesBeyondWhatTheTickCountHoldsHaveNoAge) {
  // A tmpfs keeps any 64-bit second; ext4 stops in the year 2446.
  if (!MountTmpfs(tree_, "1m"))
    std::cout << "no tmpfs: only the times this file system holds\n";
  // The first and last seconds held as 100-ns ticks since 1601 that are
  // also ticks since 1970: years -27258 and 30828.
  constexpr int64_t kFirst = -922337203685, kLast = 910692730085;
  const struct {
    const char* name;
    int64_t seconds;
    bool due_in_days;   // by /M d /T 1
    bool due_in_years;  // by /M yyyy /T -32768: any time with an age at all
  } rows[] = {
      {"year-60475", 1846239523200, false, false},
      {"2-to-62", int64_t{1} << 62, false, false},
      {"int64-max", INT64_MAX, false, false},
      {"int64-min", INT64_MIN, false, false},
      {"year-31000", 916098336000, false, false},
      {"last", kLast, false, true},
      {"after-last", kLast + 1, false, false},
      {"first", kFirst, true, true},
      {"before-first", kFirst - 1, false, false},
  };
  for (const bool in_days : {true, false}) {
    SCOPED_TRACE(in_days ? "/M d /T 1" : "/M yyyy /T -32768");
    Names kept;
    for (const auto& row : rows) {
      const fs::path path = tree_ / row.name;
      Write(path, "x");
      const struct timespec times[2] = {{row.seconds, 0}, {row.seconds, 0}};
      struct stat st;
      if (utimensat(AT_FDCWD, path.c_str(), times, 0) != 0 ||
          stat(path.c_str(), &st) != 0 || st.st_mtim.tv_sec != row.seconds) {
        std::cout << row.name << ": not held by this file system, skipped\n";
        fs::remove(path);
        continue;
      }
      if (!(in_days ? row.due_in_days : row.due_in_years))
        kept.push_back(row.name);
    }
    std::sort(kept.begin(), kept.end());
    const Result r = Run({"/Q", "/F", T(), "/M", in_days ? "d" : "yyyy", "/T",
                          in_days ? "1" : "-32768"});
    EXPECT_EQ(0, r.status) << r.err;
    EXPECT_EQ(kept, Remaining());
    for (const std::string& name : Remaining()) fs::remove(tree_ / name);
  }
}

TEST_F(HardeningE2eTest, RootFolderIsRefusedInEverySpelling) {
  File("a.log", 400);
  // Without /Q and with no answers even a run that went ahead could delete
  // nothing; the exact stderr shows that none was asked either.
  const std::vector<std::vector<std::string>> spellings = {
      {"/F", "/"}, {"/F", "//"}, {"/F", "/."}, {"/F", "/tmp/.."}, {}};
  for (std::vector<std::string> args : spellings) {
    SCOPED_TRACE(args.empty() ? "TEMP=/" : args[1]);
    temp_dir_for_default_ = args.empty() ? "/" : "/nonexistent-agesweep-temp";
    fs::remove(bin_ / "agesweep.log");
    args.push_back("/L");
    const Result r = Run(args);
    EXPECT_EQ(2, r.status);
    EXPECT_EQ("Error: Refusing to sweep the root folder /.\n", r.err);
    EXPECT_TRUE(InOrder(Log(), {"\r\nError: Refusing to sweep the root folder "
                                "/.\r\nQuit: "}));
    EXPECT_EQ(Names({"a.log"}), Remaining());
  }
}

TEST_F(HardeningE2eTest, MountedFoldersAreCountedButNotEntered) {
  TempDir outside;
  Write(outside.path() / "bound.log", "x");
  SetAge(outside.path() / "bound.log", 400 * 86400LL);
  if (!MountTmpfs(tree_ / "mnt", "1m")) GTEST_SKIP() << "needs root to mount";
  // A bind mount of a folder of the same file system has the same device.
  fs::create_directory(tree_ / "bind");
  ASSERT_EQ(0, mount(outside.path().c_str(), (tree_ / "bind").c_str(), nullptr,
                     MS_BIND, nullptr));
  mounts_.push_back(tree_ / "bind");
  File("mnt/inner.log", 400);
  File("old.log", 400);
  const Result r = Run(With({"/Q", "/S", "/L", "/F", T()}));
  EXPECT_EQ(0, r.status) << r.err;
  EXPECT_EQ(Names({"bind/bound.log", "mnt/inner.log"}), Remaining());
  // . .. mnt bind old.log
  EXPECT_EQ("5", LogValue(Log(), "Searched: "));
  EXPECT_EQ("1", LogValue(Log(), "Found: "));
}

TEST_F(HardeningE2eTest, ClosedStandardDescriptorsAreNoAnswersAndNoLogDamage) {
  File("a.log", 400);
  RunOptions o;
  o.close_standard = true;
  EXPECT_EQ(0, RunWith(With({"/L", "/F", T()}), o).status);
  EXPECT_EQ(Names({"a.log"}), Remaining());
  EXPECT_EQ(0, RunWith(With({"/Q", "/L", "/F", T()}), o).status);
  EXPECT_EQ(Names(), Remaining());
  const std::string log = Log();
  const std::string head = "\r\nQuillfen Utilities Age Sweeper (agesweep.exe)\r\n";
  EXPECT_EQ(0u, log.find(head));
  EXPECT_TRUE(InOrder(log, {head, "\r\nDone: ", head,
                            "\r\nDelete: " + T() + "/a.log\r\n", "\r\nDone: "}));
  EXPECT_EQ(std::string::npos, log.find("Are you sure"));
  EXPECT_EQ(log.size() - 4, log.rfind("\r\n\r\n"));
}
