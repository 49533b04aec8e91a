// End-to-end runs of what users type by mistake, and of the preview: a slip
// never becomes a sweep of somewhere else.
#include "tests/e2e_support.h"

namespace {

using WordsE2eTest = E2eTest;

TEST_F(WordsE2eTest, MistypedWordsRefuseTheRunAndDeleteNothing) {
  // The default folder is the tree itself: a slip that fell back on it
  // would empty it. (The hints for every kind of slip are unit-tested.)
  temp_dir_for_default_ = T();
  File("old.log", 400);
  const struct {
    std::vector<std::string> args;
    std::string refusal;
  } kRows[] = {
      {{"/Q", "-F", T()}, "agesweep: unknown word -F (did you mean /F?)"},
      {{"/Q", "/S", T(), "/W", "*.log"},
       "agesweep: unknown word " + T() + " (did you mean /F " + T() + "?)"},
      {{"/Q", "/W", "a.log", "b.log"},
       "agesweep: unknown word b.log (quote the pattern list for the shell: "
       "/W 'a.log;b.log')"},
  };
  for (const auto& row : kRows) {
    SCOPED_TRACE(row.refusal);
    const Result r = Run(row.args);
    EXPECT_EQ(2, r.status);
    EXPECT_NE(std::string::npos, r.err.find(row.refusal + "\n")) << r.err;
    EXPECT_EQ(Names({"old.log"}), Remaining());
  }
}

TEST_F(WordsE2eTest, ADryRunPrintsWhatWouldGoAndChangesNothing) {
  File("a.log", 400);
  File("sub/b.log", 400);
  File("young.log", 1);
  const Result r = Run({"/S", "/L", "/F", T(), "/W", "*.log", "/M", "d", "/T",
                        "30", "--dry-run"});
  EXPECT_EQ(0, r.status) << r.err;
  Names printed = Lines(r.out);
  std::sort(printed.begin(), printed.end());
  EXPECT_EQ(Names({T() + "/a.log", T() + "/sub/b.log"}), printed);
  EXPECT_EQ("agesweep: dry run: 2 files would be deleted\n", r.err);
  EXPECT_EQ(Names({"a.log", "sub/b.log", "young.log"}), Remaining());
  EXPECT_FALSE(fs::exists(bin_ / "agesweep.log"));
}

// Names that would be masked are listed quoted as the shell reads them
// back, so that a script reading the list never gets another file's name:
// here the young a?b.log beside a due a<LF>b.log.
TEST_F(WordsE2eTest, ADryRunListNamesOnlyTheFilesThatWouldGo) {
  const Names due = {"a\nb.log", "c\x1b'\\.log", "d\xff.log", "$'e.log",
                     "a b.log"};
  for (const std::string& name : due) File(name, 400);
  File("a?b.log", 1);
  File("c?'\\.log", 1);
  const Result r = Run({"/F", T(), "/W", "*.log", "/M", "d", "/T", "30",
                        "--dry-run"});
  EXPECT_EQ(0, r.status) << r.err;
  // Quoted lines read back through bash; bare ones are the name itself.
  std::string script;
  Names bare;
  for (const std::string& line : Lines(r.out)) {
    if (line.starts_with("$'"))
      script += "printf '%s\\0' " + line + "\n";
    else
      bare.push_back(line);
  }
  const fs::path file = temp_.path() / "read-back.sh";
  std::ofstream(file) << script;
  FILE* pipe = popen(("bash " + file.string()).c_str(), "r");
  ASSERT_TRUE(pipe);
  std::string back;
  char buf[4096];
  for (size_t n; (n = fread(buf, 1, sizeof buf, pipe)) > 0;) back.append(buf, n);
  EXPECT_EQ(0, pclose(pipe));
  Names listed = bare;
  for (size_t at = 0, end; (end = back.find('\0', at)) != std::string::npos;
       at = end + 1)
    listed.push_back(back.substr(at, end - at));
  std::sort(listed.begin(), listed.end());
  Names expected;
  for (const std::string& name : due) expected.push_back(T() + "/" + name);
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(expected, listed) << r.out;

  // With -0, for xargs -0: the exact paths, each ended by a NUL.
  const Result nul = Run({"/F", T(), "/W", "*.log", "/M", "d", "/T", "30",
                          "--dry-run", "-0"});
  EXPECT_EQ(0, nul.status) << nul.err;
  ASSERT_TRUE(nul.out.ends_with('\0'));
  Names exact;
  for (size_t at = 0, end; (end = nul.out.find('\0', at)) != std::string::npos;
       at = end + 1)
    exact.push_back(nul.out.substr(at, end - at));
  std::sort(exact.begin(), exact.end());
  EXPECT_EQ(expected, exact);
}

}  // namespace
