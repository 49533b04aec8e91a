// What the end-to-end tests share: a fixture that makes a fresh temporary
// tree, copies the program into it (the log file is written beside the
// executable) and runs it with a fixed time zone and locale. When the tests
// run as root, the runs that need file permissions to bite are made as the
// unprivileged user "nobody".
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace fs = std::filesystem;

struct Result {
  int status = -1;         // the exit status; -1 when the run did not exit
  int signal = 0;          // the signal that ended the run, if one did
  bool timed_out = false;  // still running at the safety deadline, killed
  std::string out;
  std::string err;
};

inline std::string Slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// The lines of a program's output, without their line ends.
inline std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

inline void Write(const fs::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

// Sets the modification time of `path` (not following links) to `seconds`
// before now.
inline void SetAge(const fs::path& path, int64_t seconds) {
  struct timespec times[2];
  clock_gettime(CLOCK_REALTIME, &times[0]);
  times[0].tv_sec -= seconds;
  times[1] = times[0];
  ASSERT_EQ(0, utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW))
      << path;
}

// The null-terminated pointer array that execve takes, over `texts`.
inline std::vector<char*> Pointers(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  for (std::string& t : texts) pointers.push_back(t.data());
  pointers.push_back(nullptr);
  return pointers;
}

// Removes the folder `path` and everything in it, one open folder at a time
// and relative to it: a test's tree may be deeper than any path the system
// takes whole, or than the descriptors a process may hold. Folders a test
// locked are opened up on the way; a folder that cannot be removed (a mount
// still in place) is left with what it holds, not retried forever.
inline void RemoveTree(const fs::path& path) {
  int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return;
  std::vector<std::string> entered;       // the folders below `path`
  std::set<std::pair<dev_t, ino_t>> stuck;  // those that would not go
  for (;;) {
    DIR* dir = fdopendir(fd);
    if (!dir) {
      close(fd);
      return;
    }
    bool descended = false;
    while (const dirent* e = readdir(dir)) {
      const std::string name = e->d_name;
      if (name == "." || name == "..") continue;
      if (unlinkat(dirfd(dir), name.c_str(), 0) == 0 || errno != EISDIR)
        continue;
      fchmodat(dirfd(dir), name.c_str(), 0700, 0);
      const int sub = openat(dirfd(dir), name.c_str(),
                             O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      struct stat st;
      if (sub < 0) continue;
      if (fstat(sub, &st) != 0 || stuck.count({st.st_dev, st.st_ino})) {
        close(sub);
        continue;
      }
      entered.push_back(name);
      fd = sub;
      descended = true;
      break;
    }
    if (descended) {
      closedir(dir);
      continue;
    }
    if (entered.empty()) {
      closedir(dir);
      break;
    }
    // Emptied: go up and remove it from its parent.
    struct stat st;
    const bool known = fstat(dirfd(dir), &st) == 0;
    const int up = openat(dirfd(dir), "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    closedir(dir);
    if (up < 0) return;
    if (unlinkat(up, entered.back().c_str(), AT_REMOVEDIR) != 0 && known)
      stuck.insert({st.st_dev, st.st_ino});
    entered.pop_back();
    fd = up;
  }
  rmdir(path.c_str());
}

// A fresh temporary folder, removed with everything in it at the end.
class TempDir {
 public:
  TempDir() {
    std::string pattern = (fs::temp_directory_path() / "agesweep-e2e-XXXXXX");
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
    chmod(path_.c_str(), 0755);  // for runs as "nobody"
  }
  ~TempDir() { RemoveTree(path_); }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

// How a run is started, beyond its arguments.
struct RunOptions {
  std::string input;              // all of stdin, then end of input
  bool as_nobody = false;
  bool keep_stdin_open = false;   // stdin a pipe the test writes (Child::in)
  bool close_standard = false;    // fds 0, 1 and 2 closed at start
  bool broken_pipe_output = false;  // stdout and stderr a pipe nobody reads
  rlim_t open_files = 0;          // RLIMIT_NOFILE, soft and hard; 0 inherits
  // Other limits (RLIMIT_AS, RLIMIT_FSIZE, ...), soft and hard.
  std::vector<std::pair<int, rlim_t>> limits;
  std::string stdin_file;         // stdin read from this file, not `input`
  std::vector<std::string> env;   // added to TZ, LC_ALL and TEMP
};

// A started run: its pid, the write end of its stdin when kept open, the
// read end of its stderr, and whether it was found to hang.
struct Child {
  pid_t pid = -1;
  int in = -1;
  int err = -1;
  bool hung = false;
};

// A run that lives longer than this is taken to hang and is killed; no test
// expects a run to come anywhere near it.
constexpr int kHangSeconds = 60;

// Exit status of a child that could not apply RunOptions::open_files.
constexpr int kNoLimitStatus = 125;

class E2eTest : public testing::Test {
 protected:
  E2eTest() : tree_(temp_.path() / "tree"), bin_(temp_.path() / "bin") {
    fs::create_directories(tree_);
    fs::create_directories(bin_);
    fs::copy_file(AGESWEEP_BINARY, bin_ / "agesweep");
    chmod(tree_.c_str(), 0755);
    chmod(bin_.c_str(), 0777);
  }

  void TearDown() override {
    for (const fs::path& at : mounts_) umount2(at.c_str(), MNT_DETACH);
  }

  // Mounts a tmpfs of `size` (e.g. "64k") at the folder `at`, unmounted at
  // the end of the test. False when this process may not mount.
  bool MountTmpfs(const fs::path& at, const std::string& size) {
    fs::create_directories(at);
    if (geteuid() != 0 ||
        mount("tmpfs", at.c_str(), "tmpfs", 0,
              ("size=" + size + ",mode=0755").c_str()) != 0)
      return false;
    mounts_.push_back(at);
    return true;
  }

  // Creates a file of the tree (and its folders) `days` days old.
  fs::path File(const std::string& relative, double days = 0) {
    const fs::path path = tree_ / relative;
    fs::create_directories(path.parent_path());
    Write(path, "x");
    SetAge(path, static_cast<int64_t>(days * 86400));
    return path;
  }

  // The program's copy in this test's folder, then `args`.
  std::vector<std::string> CommandLine(const std::vector<std::string>& args) {
    std::vector<std::string> text = {(bin_ / "agesweep").string()};
    text.insert(text.end(), args.begin(), args.end());
    return text;
  }

  Child Start(const std::vector<std::string>& args, const RunOptions& o) {
    const fs::path in = temp_.path() / "stdin";
    const fs::path out = temp_.path() / "stdout";
    Write(in, o.input);
    int in_pipe[2] = {-1, -1}, err_pipe[2] = {-1, -1};
    if ((o.keep_stdin_open && pipe2(in_pipe, O_CLOEXEC) != 0) ||
        pipe2(err_pipe, O_CLOEXEC) != 0)
      return {};
    if (o.broken_pipe_output) close(err_pipe[0]);  // as `2>&1 | head -c0`
    std::vector<std::string> argv_text = CommandLine(args);
    std::vector<std::string> env_text = {"TZ=UTC", "LC_ALL=C",
                                         "TEMP=" + temp_dir_for_default_};
    env_text.insert(env_text.end(), o.env.begin(), o.env.end());
    const std::vector<char*> argv = Pointers(argv_text);
    const std::vector<char*> envp = Pointers(env_text);

    const pid_t pid = fork();
    if (pid == 0) {
      const int fd_in =
          o.keep_stdin_open
              ? in_pipe[0]
              : open(o.stdin_file.empty() ? in.c_str() : o.stdin_file.c_str(),
                     O_RDONLY | O_CLOEXEC);
      const int fd_out =
          o.broken_pipe_output
              ? err_pipe[1]
              : open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC,
                     0666);
      dup2(fd_in, 0);
      dup2(fd_out, 1);
      dup2(err_pipe[1], 2);
      if (o.open_files) {
        const struct rlimit limit = {o.open_files, o.open_files};
        if (setrlimit(RLIMIT_NOFILE, &limit) != 0) _exit(kNoLimitStatus);
      }
      for (const auto& [resource, value] : o.limits) {
        const struct rlimit limit = {value, value};
        if (setrlimit(resource, &limit) != 0) _exit(kNoLimitStatus);
      }
      if (o.as_nobody && geteuid() == 0) {
        const passwd* nobody = getpwnam("nobody");
        if (!nobody || setgid(nobody->pw_gid) != 0 ||
            setuid(nobody->pw_uid) != 0)
          _exit(126);
      }
      if (o.close_standard)
        for (int fd = 0; fd <= 2; ++fd) close(fd);
      execve(argv[0], argv.data(), envp.data());
      _exit(127);
    }
    if (o.keep_stdin_open) close(in_pipe[0]);
    close(err_pipe[1]);
    return Child{pid, o.keep_stdin_open ? in_pipe[1] : -1,
                 o.broken_pipe_output ? -1 : err_pipe[0]};
  }

  // Reads the child's stderr into `err` until it holds `text` (an empty
  // `text`: to its end); false at its end, or when nothing came for
  // `seconds`, which marks the run as hanging.
  static bool ReadErrUntil(Child& c, const std::string& text, std::string* err,
                           int seconds = kHangSeconds) {
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (text.empty() || err->find(text) == std::string::npos) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      pollfd p = {c.err, POLLIN, 0};
      if (c.err < 0) return false;
      if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0) {
        c.hung = true;
        return false;
      }
      char buf[4096];
      const ssize_t n = read(c.err, buf, sizeof buf);
      if (n <= 0) return false;
      err->append(buf, static_cast<size_t>(n));
    }
    return true;
  }

  // Ends the child's input, reads the rest of its stderr and waits for it;
  // a run that seems to hang is killed and marked so.
  Result Finish(Child& c, std::string err = "") {
    if (c.in >= 0) close(c.in);
    ReadErrUntil(c, "", &err);
    if (c.err >= 0) close(c.err);
    Result r;
    r.err = std::move(err);
    r.timed_out = c.hung;
    int wstatus = 0;
    for (int waited_ms = 0; waitpid(c.pid, &wstatus, WNOHANG) == 0;
         waited_ms += 10) {
      if (waited_ms >= kHangSeconds * 1000) {
        r.timed_out = true;
        kill(c.pid, SIGKILL);
        waitpid(c.pid, &wstatus, 0);
        break;
      }
      usleep(10000);
    }
    r.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
    r.signal = WIFSIGNALED(wstatus) ? WTERMSIG(wstatus) : 0;
    r.out = Slurp(temp_.path() / "stdout");
    return r;
  }

  Result RunWith(const std::vector<std::string>& args, const RunOptions& o) {
    Child c = Start(args, o);
    return Finish(c);
  }

  Result Run(const std::vector<std::string>& args, const std::string& input = "",
             bool as_nobody = false) {
    RunOptions o;
    o.input = input;
    o.as_nobody = as_nobody;
    return RunWith(args, o);
  }

  // Runs without /Q, waits for the first confirmation question, calls
  // `meanwhile`, then answers Yes.
  template <typename F>
  Result RunAnswering(const std::vector<std::string>& args, F meanwhile) {
    RunOptions o;
    o.keep_stdin_open = true;
    Child c = Start(args, o);
    std::string err;
    ReadErrUntil(c, "[Y/n] ", &err);
    meanwhile();
    if (write(c.in, "y\n", 2) != 2) err += "(answer not sent)";
    return Finish(c, err);
  }

  std::string Log() { return Slurp(bin_ / "agesweep.log"); }
  std::string T() const { return tree_.string(); }

  // The remaining files of the tree, relative and sorted.
  std::vector<std::string> Remaining() {
    std::vector<std::string> names;
    for (const auto& e : fs::recursive_directory_iterator(tree_))
      if (!e.is_directory() || e.is_symlink())
        names.push_back(e.path().lexically_relative(tree_).string());
    std::sort(names.begin(), names.end());
    return names;
  }

  TempDir temp_;
  fs::path tree_;
  fs::path bin_;
  std::string temp_dir_for_default_ = "/nonexistent-agesweep-temp";
  std::vector<fs::path> mounts_;
};

using Names = std::vector<std::string>;

// Returns the value after "Searched: " or "Found: " in the log.
inline std::string LogValue(const std::string& log, const std::string& key) {
  const size_t at = log.rfind("\r\n" + key);
  if (at == std::string::npos) return "";
  const size_t begin = at + 2 + key.size();
  return log.substr(begin, log.find("\r\n", begin) - begin);
}

// How often `part` occurs in `text`.
inline size_t Count(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos;
       at = text.find(part, at + part.size()))
    ++n;
  return n;
}
