// End-to-end runs where the sweep must keep what it was not asked to
// delete, or say what it could not judge: its own log, another user's link
// as the top folder, times it cannot read.
#include <fcntl.h>
#include <pwd.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tests/e2e_support.h"

namespace {

using TrustE2eTest = E2eTest;

TEST_F(TrustE2eTest, TheLogInsideTheSweptTreeIsKept) {
  const fs::path log = File("sweep.log", 400);
  Write(log, "an earlier block\r\n");
  SetAge(log, 400 * 86400LL);
  File("old.log", 400);
  RunOptions o;
  o.env = {"AGESWEEP_LOG=" + log.string()};
  const Result r = RunWith({"/Q", "/L", "/F", T(), "/M", "d", "/T", "30"}, o);
  EXPECT_EQ(0, r.status) << r.err;
  EXPECT_EQ(Names({"sweep.log"}), Remaining());
  const std::string text = Slurp(log);
  EXPECT_EQ(0u, text.find("an earlier block\r\n"));
  EXPECT_NE(std::string::npos, text.find("\r\nDelete: " + T() + "/old.log\r\n"));
  EXPECT_NE(std::string::npos, text.find("\r\nFound: 2\r\n"));
}

TEST_F(TrustE2eTest, ATopFolderThatIsAnotherUsersLinkIsRefused) {
  const passwd* nobody = getpwnam("nobody");
  if (geteuid() != 0 || !nobody)
    GTEST_SKIP() << "needs root to give a link to another user";
  File("real/old.log", 400);
  const fs::path link = tree_ / "link";
  fs::create_symlink(tree_ / "real", link);
  ASSERT_EQ(0, lchown(link.c_str(), nobody->pw_uid, nobody->pw_gid));
  for (const std::string& named : {link.string(), link.string() + "/"}) {
    SCOPED_TRACE(named);
    const Result r = Run({"/Q", "/F", named, "/M", "d", "/T", "30"});
    EXPECT_EQ(2, r.status);
    EXPECT_EQ("Error: Refusing to sweep " + link.string() +
                  ": it is a link that neither you nor root owns.\n",
              r.err);
    EXPECT_TRUE(fs::exists(tree_ / "real/old.log"));
  }
  // A link of root's own (or of the user's) leads where it says.
  ASSERT_EQ(0, lchown(link.c_str(), 0, 0));
  const Result r = Run({"/Q", "/F", link.string(), "/M", "d", "/T", "30"});
  EXPECT_EQ(0, r.status) << r.err;
  EXPECT_FALSE(fs::exists(tree_ / "real/old.log"));
}

TEST_F(TrustE2eTest, TimesThatCannotBeReadAreSaid) {
  // A folder that can be listed but not searched: its names are known, the
  // times of its files are not.
  File("sealed/old.log", 400);
  chmod((tree_ / "sealed").c_str(), 0444);
  const Result r = Run({"/Q", "/S", "/L", "/F", T(), "/M", "d", "/T", "30"},
                       "", true);
  chmod((tree_ / "sealed").c_str(), 0755);
  if (r.err.find("cannot read folder") != std::string::npos)
    GTEST_SKIP() << "this file system does not list a folder it cannot search";
  EXPECT_EQ(1, r.status);
  EXPECT_EQ("agesweep: cannot read the times of " + T() +
                "/sealed/old.log: Permission denied\n",
            r.err);
  EXPECT_EQ(Names({"sealed/old.log"}), Remaining());
  EXPECT_EQ("1", LogValue(Log(), "Found: "));
  EXPECT_NE(std::string::npos,
            Log().find("\r\nError: 13: Permission denied\r\nFile:  " + T() +
                       "/sealed/old.log\r\n"));
}

TEST_F(TrustE2eTest, RunningOutOfMemoryStopsTheSweepWithEveryDeletionLogged) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "the sanitizers cannot run under an address-space limit";
#endif
  // Enough old files, with long names, that their deletion lines outgrow a
  // few MiB of log.
  constexpr int kFiles = 40000;
  const std::string stem(230, 'x');
  const int dir = open(T().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_GE(dir, 0);
  struct timespec old[2] = {{1000000000, 0}, {1000000000, 0}};
  for (int i = 0; i < kFiles; ++i) {
    const std::string name = stem + std::to_string(i) + ".log";
    const int fd = openat(dir, name.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0);
    futimens(fd, old);
    close(fd);
  }
  close(dir);
  // The same tree under ever larger limits, until it is empty: each run
  // deletes only what its block logs, and one that stops for memory says so.
  // The last, 64 MiB, is about twice what the sweep needs: threads that
  // reading ahead starts must not take the address space the walk needs.
  int left = kFiles, stopped = 0;
  for (const rlim_t mib : {6, 8, 10, 12, 16, 24, 32, 48, 64}) {
    if (left == 0) break;
    SCOPED_TRACE(std::to_string(mib) + " MiB");
    RunOptions o;
    o.limits = {{RLIMIT_AS, mib << 20}};
    fs::remove(bin_ / "agesweep.log");
    const Result r = RunWith({"/Q", "/L", "/F", T(), "/M", "d", "/T", "30"}, o);
    ASSERT_EQ(0, r.signal) << r.err;
    const int now_left = static_cast<int>(Remaining().size());
    const std::string log = Log();
    size_t deletions = 0;
    for (size_t at = 0; (at = log.find("\r\nDelete: ", at)) != std::string::npos;
         ++at)
      ++deletions;
    EXPECT_EQ(static_cast<size_t>(left - now_left), deletions);
    if (r.status == 1) {
      ++stopped;
      EXPECT_EQ("agesweep: out of memory; the sweep stopped early\n", r.err);
      EXPECT_NE(std::string::npos, log.find("\r\nQuit: "));
      EXPECT_NE(std::string::npos, log.find("\r\nSearched: "));
    } else {
      EXPECT_EQ(0, r.status) << r.err;
    }
    left = now_left;
  }
  EXPECT_EQ(0, left);
  EXPECT_GT(stopped, 0) << "no limit was low enough to run out of memory";
}

}  // namespace
