// The crontab line of README.md, read from the README itself when the test
// runs and run the way cron runs it: through sh, in a home folder that may
// hold .log files of its own. An unquoted *.log there is expanded by the
// shell before the program sees it, so the documented line must quote it;
// the manual page must show the same line.
#include <regex>

#include "tests/e2e_support.h"

namespace {

using DocsE2eTest = E2eTest;

// A file of the source tree; this file is in its tests/ folder.
std::string SourceText(const std::string& relative) {
  return Slurp(fs::path(__FILE__).parent_path().parent_path() / relative);
}

// The commands of the crontab lines in `text`, each without its five time
// fields; `indent` is what a code line starts with (Markdown's four spaces).
std::vector<std::string> CronCommands(const std::string& text,
                                      const std::string& indent) {
  static const std::regex kCronLine(R"((?:[0-9*/,-]+ +){5}(.*agesweep.*))");
  std::vector<std::string> commands;
  std::istringstream lines(text);
  std::smatch m;
  for (std::string line; std::getline(lines, line);)
    if (line.starts_with(indent) &&
        std::regex_match(line.cbegin() + static_cast<long>(indent.size()),
                         line.cend(), m, kCronLine))
      commands.push_back(m[1]);
  return commands;
}

// The manual's source as the reader sees it, for the escapes its code
// lines use.
std::string Unroff(std::string text) {
  for (const auto& [escape, shown] :
       {std::pair<std::string, std::string>{"\\(aq", "'"},
        {"\\-", "-"},
        {"\\e", "\\"}})
    for (size_t at = 0; (at = text.find(escape, at)) != std::string::npos;
         at += shown.size())
      text.replace(at, escape.size(), shown);
  return text;
}

std::vector<std::string> Words(const std::string& command) {
  std::istringstream in(command);
  std::vector<std::string> words;
  for (std::string w; in >> w;) words.push_back(w);
  return words;
}

// Runs `command` through sh -c in the folder `home`, with cron's sparse
// environment; stdin is empty, stdout and stderr are collected together.
Result RunAsCron(const std::string& command, const fs::path& home,
                 const fs::path& output) {
  std::vector<std::string> argv_text = {"sh", "-c", command};
  std::vector<std::string> env_text = {"HOME=" + home.string(),
                                       "PATH=/usr/bin:/bin", "SHELL=/bin/sh",
                                       "TZ=UTC", "LC_ALL=C"};
  const std::vector<char*> argv = Pointers(argv_text);
  const std::vector<char*> envp = Pointers(env_text);
  const pid_t pid = fork();
  if (pid == 0) {
    const int in = open("/dev/null", O_RDONLY | O_CLOEXEC);
    const int out =
        open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (in < 0 || out < 0 || chdir(home.c_str()) != 0) _exit(126);
    dup2(in, 0);
    dup2(out, 1);
    dup2(out, 2);
    execve("/bin/sh", argv.data(), envp.data());
    _exit(127);
  }
  Result r;
  int wstatus = 0;
  for (int waited_ms = 0; waitpid(pid, &wstatus, WNOHANG) == 0;
       waited_ms += 10) {
    if (waited_ms >= kHangSeconds * 1000) {
      r.timed_out = true;
      kill(pid, SIGKILL);
      waitpid(pid, &wstatus, 0);
      break;
    }
    usleep(10000);
  }
  r.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
  r.out = Slurp(output);
  return r;
}

TEST_F(DocsE2eTest, TheManualShowsTheReadmesCronLine) {
  const std::vector<std::string> readme =
      CronCommands(SourceText("README.md"), "    ");
  ASSERT_FALSE(readme.empty()) << "no crontab line found in README.md";
  EXPECT_EQ(readme, CronCommands(Unroff(SourceText("doc/agesweep.1.in")), ""));
}

TEST_F(DocsE2eTest, TheReadmesCronLineSweepsTheSameWhateverTheHomeHolds) {
  const std::vector<std::string> commands =
      CronCommands(SourceText("README.md"), "    ");
  ASSERT_FALSE(commands.empty()) << "no crontab line found in README.md";
  const fs::path log = temp_.path() / "cron.log";
  // The .log files of the home folder, which an unquoted pattern would be
  // replaced with: one name in place of the pattern, or two words.
  const std::vector<std::vector<std::string>> kHomes = {
      {}, {"a.log"}, {"a.log", "b.log"}};
  for (const std::string& command : commands) {
    SCOPED_TRACE(command);
    // The program, the swept folder and the log moved into this test's
    // folder; nothing else of the line changes.
    std::vector<std::string> words = Words(command);
    int program = 0, folder = 0, log_place = 0;
    for (size_t i = 0; i < words.size(); ++i) {
      if (words[i].starts_with("AGESWEEP_LOG=")) {
        words[i] = "AGESWEEP_LOG=" + log.string();
        ++log_place;
      } else if (words[i].ends_with("/agesweep")) {
        words[i] = (bin_ / "agesweep").string();
        ++program;
      } else if (i > 0 && words[i - 1] == "/F") {
        words[i] = T();
        ++folder;
      }
    }
    ASSERT_EQ(1, program) << "the program is not named once by its path";
    ASSERT_EQ(1, folder) << "the folder is not given once with /F";
    ASSERT_EQ(1, log_place) << "the log is not placed once with AGESWEEP_LOG";
    std::string local;
    for (const std::string& w : words) {
      // No path outside this test's folder may be left to touch.
      if (std::count(w.begin(), w.end(), '/') > 1) {
        ASSERT_NE(std::string::npos, w.find(temp_.path().string())) << w;
      }
      local += (local.empty() ? "" : " ") + w;
    }

    for (size_t row = 0; row < kHomes.size(); ++row) {
      SCOPED_TRACE(testing::Message()
                   << kHomes[row].size() << " .log files at home");
      const fs::path home = temp_.path() / ("home" + std::to_string(row));
      fs::create_directories(home);
      for (const std::string& name : kHomes[row]) {
        Write(home / name, "x");
        SetAge(home / name, 40 * 86400LL);
      }
      File("a.log", 40);
      File("app.log", 40);
      File("young.log", 1);
      File("old.txt", 40);
      fs::remove(log);

      const Result r = RunAsCron(local, home, temp_.path() / "cron-output");
      EXPECT_EQ(0, r.status) << r.out;
      EXPECT_EQ("", r.out);
      EXPECT_EQ(Names({"old.txt", "young.log"}), Remaining());
      for (const std::string& name : kHomes[row])
        EXPECT_TRUE(fs::exists(home / name)) << name;
      EXPECT_NE(std::string::npos, Slurp(log).find(" /W *.log "));
    }
  }
}

}  // namespace
