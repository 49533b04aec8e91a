// End-to-end runs whose log block outgrows what the run keeps in memory:
// the rest waits in an unnamed file beside the log, which nothing leaves
// behind.
#include <poll.h>

#include "platform/platform.h"
#include "tests/e2e_support.h"

namespace {

struct LogSpoolE2eTest : E2eTest {
  // `count` long-named files, long due: their deletion lines soon outgrow
  // the memory a run keeps for its block.
  void OldFiles(int count) {
    const struct timespec old[2] = {{1000000000, 0}, {1000000000, 0}};
    for (int i = 0; i < count; ++i) {
      const fs::path path = tree_ / (std::string(230, 'x') + std::to_string(i));
      Write(path, "");
      utimensat(AT_FDCWD, path.c_str(), old, 0);
    }
  }
  // The log's own folder, which must hold the log alone.
  Names LogFolder() {
    Names names;
    for (const auto& e : fs::directory_iterator(log_.parent_path()))
      names.push_back(e.path().filename().string());
    return names;
  }
  RunOptions Logged() {
    fs::create_directories(log_.parent_path());
    RunOptions o;
    o.env = {"AGESWEEP_LOG=" + log_.string()};
    return o;
  }
  const fs::path log_ = temp_.path() / "logs" / "sweep.log";
};

TEST_F(LogSpoolE2eTest, ABlockFarBeyondTheMemoryLimitIsLoggedWhole) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "the sanitizers cannot run under an address-space limit";
#endif
  // Some 10 MB of lines, where the limit leaves the run a few MiB for them.
  OldFiles(40000);
  RunOptions o = Logged();
  o.limits = {{RLIMIT_AS, rlim_t{24} << 20}};
  const Result r = RunWith({"/Q", "/L", "/F", T(), "/M", "d", "/T", "30"}, o);
  EXPECT_EQ(0, r.status) << r.err;
  EXPECT_EQ(Names{}, Remaining());
  const std::string log = Slurp(log_);
  EXPECT_EQ(40000u, Count(log, "\r\nDelete: "));
  EXPECT_GT(log.size(), 16 * kLogChunkBytes);
  EXPECT_EQ(Names{"sweep.log"}, LogFolder());
}

TEST_F(LogSpoolE2eTest, AnInterruptedRunLeavesOnlyTheLogBehind) {
  // The spool is in use when the signal comes, at the next question.
  constexpr size_t kAnswered = 1500;
  for (const int signal : {SIGTERM, SIGKILL}) {
    SCOPED_TRACE(strsignal(signal));
    OldFiles(kAnswered + 100);
    RunOptions o = Logged();
    o.keep_stdin_open = true;
    Child c = Start({"/L", "/F", T(), "/M", "d", "/T", "30"}, o);
    std::string answers;
    for (size_t i = 0; i < kAnswered; ++i) answers += "y\n";
    ASSERT_EQ(static_cast<ssize_t>(answers.size()),
              write(c.in, answers.data(), answers.size()));
    std::string err;
    char buf[4096];
    ssize_t n = 0;
    for (pollfd p = {c.err, POLLIN, 0};
         Count(err, "[Y/n] ") <= kAnswered && poll(&p, 1, 60000) > 0 &&
         (n = read(c.err, buf, sizeof buf)) > 0;)
      err.append(buf, static_cast<size_t>(n));
    kill(c.pid, signal);
    const Result r = Finish(c, err);
    EXPECT_EQ(100u, Remaining().size());
    if (signal == SIGTERM) {
      EXPECT_EQ(128 + SIGTERM, r.status) << r.err;
      const std::string log = Slurp(log_);
      EXPECT_EQ(kAnswered, Count(log, "\r\nDelete: "));
      EXPECT_GT(log.size(), kLogChunkBytes);
      EXPECT_NE(std::string::npos, log.find("\r\nQuit: "));
    } else {
      EXPECT_EQ(SIGKILL, r.signal);
    }
    EXPECT_EQ(Names{"sweep.log"}, LogFolder());
    fs::remove(log_);
  }
}

}  // namespace
