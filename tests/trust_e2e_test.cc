// End-to-end runs where the sweep must keep what it was not asked to
// delete, or say what it could not judge: its own log, another user's link
// as the top folder, times it cannot read.
#include <pwd.h>
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
}

}  // namespace
