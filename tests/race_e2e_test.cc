// A quiet sweep of a large tree while the tree keeps changing under it:
// folders swapped for links to a folder outside the tree and back, files
// swapped for links to files outside it and back. Whatever the timing,
// nothing outside the tree may change.
#include <cstdio>
#include <iostream>
#include <random>

#include "tests/e2e_support.h"

namespace {

using RaceE2eTest = E2eTest;

constexpr int kFolders = 30, kFiles = 500, kRuns = 5;
constexpr int kOutside = 50;        // files of the outside folder, and below
constexpr int kMaxToggles = 20000;  // per run
constexpr int64_t kOldSeconds = 400 * 86400LL;

std::string FileName(int i) { return "f" + std::to_string(i) + ".log"; }
std::string FolderName(int k) { return "d" + std::to_string(k); }

void MakeOld(int dir, const std::string& name) {
  struct timespec times[2];
  clock_gettime(CLOCK_REALTIME, &times[0]);
  times[0].tv_sec -= kOldSeconds;
  times[1] = times[0];
  utimensat(dir, name.c_str(), times, AT_SYMLINK_NOFOLLOW);
}

// Creates `name` in the open folder `dir` holding `text`, old.
void OldFile(int dir, const std::string& name, const std::string& text = "") {
  const int fd =
      openat(dir, name.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  ASSERT_GE(fd, 0) << name;
  ASSERT_EQ(static_cast<ssize_t>(text.size()),
            write(fd, text.data(), text.size()));
  close(fd);
  MakeOld(dir, name);
}

// The names in the open folder `dir` in the order the system lists them.
std::vector<std::string> Listed(int dir) {
  std::vector<std::string> names;
  DIR* d = fdopendir(dup(dir));
  rewinddir(d);
  while (const dirent* e = readdir(d))
    if (e->d_name[0] != '.') names.push_back(e->d_name);
  closedir(d);
  return names;
}

// `top` and every entry below it: name, type, size, modification time and,
// for a file, contents; sorted.
std::vector<std::string> Fingerprint(const fs::path& top) {
  std::vector<fs::path> paths = {top};
  for (const auto& e : fs::recursive_directory_iterator(top))
    paths.push_back(e.path());
  std::vector<std::string> entries;
  for (const fs::path& path : paths) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) continue;
    entries.push_back(path.lexically_relative(top).string() + " " +
                      std::to_string(st.st_mode) + " " +
                      std::to_string(st.st_size) + " " +
                      std::to_string(st.st_mtim.tv_sec) + "." +
                      std::to_string(st.st_mtim.tv_nsec) + " " +
                      (S_ISREG(st.st_mode) ? Slurp(path) : ""));
  }
  std::sort(entries.begin(), entries.end());
  return entries;
}

// Exchanges entry `a` of the open folder `da` with entry `b` of `db`: in
// one step where the file system can, else by renaming `a` away, `b` into
// its place and `a` to where `b` was.
bool Exchange(int da, const std::string& a, int db, const std::string& b) {
  if (renameat2(da, a.c_str(), db, b.c_str(), RENAME_EXCHANGE) == 0)
    return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  if (renameat(da, a.c_str(), db, "exchanging") != 0) return false;
  if (renameat(db, b.c_str(), da, a.c_str()) != 0) {
    renameat(db, "exchanging", da, a.c_str());
    return false;
  }
  return renameat(db, "exchanging", db, b.c_str()) == 0;
}

// The swapping side. A real folder or file trades places with its link to
// the outside, which waits in the park. Every change is made through an
// open descriptor of the folder it is in, never through a path that a
// swapped-in link could redirect. The sweep goes through the folders in the
// tree's listing order: the swapper follows it, changing the folder it is
// about to open and files of the folder it is in.
struct Swapper {
  int tree, park;
  std::string outside;
  std::vector<int> folders;         // the real folders, wherever they are
  std::vector<bool> folder_linked;  // in the tree, the folder is the link
  std::set<std::pair<int, int>> files_linked;
  std::vector<int> order;          // folder numbers in listing order
  std::vector<std::string> first;  // each folder's first file listed
  size_t next = 0;                 // in `order`, the folder to be opened
  std::mt19937 random{20260712};
  int64_t swaps = 0;

  void Follow() {
    order.clear();
    for (const std::string& name : Listed(tree))
      order.push_back(std::stoi(name.substr(1)));
    first.clear();
    for (int fd : folders) first.push_back(Listed(fd).at(0));
    next = 0;
  }

  void Toggle() {
    // The sweep is in a folder once that folder's first file is gone; it
    // passes over a folder that was a link.
    struct stat st;
    for (size_t a = next; a < std::min(next + 3, order.size()); ++a)
      if (fstatat(folders[order[a]], first[order[a]].c_str(), &st,
                  AT_SYMLINK_NOFOLLOW))
        next = a + 1;
    if (next < order.size() && (next == 0 || random() % 2)) {
      const int k = order[next];
      if (Exchange(tree, FolderName(k), park, FolderName(k) + "-link")) {
        folder_linked[k] = !folder_linked[k];
        swaps += folder_linked[k];
      }
      return;
    }
    const int k = order[next - 1];
    const int i = static_cast<int>(random() % kFiles);
    const std::string name = FileName(i), parked = FolderName(k) + "-" + name;
    if (files_linked.count({k, i})) {
      // Back; or the sweep deleted the link, which is old and matches.
      if (Exchange(folders[k], name, park, parked) ||
          renameat(park, parked.c_str(), folders[k], name.c_str()) == 0)
        files_linked.erase({k, i});
      return;
    }
    symlinkat((outside + "/" + FileName(i % kOutside)).c_str(), park,
              parked.c_str());
    MakeOld(park, parked);
    if (Exchange(folders[k], name, park, parked)) {
      files_linked.insert({k, i});
      ++swaps;
    }
  }

  void Restore() {
    for (int k = 0; k < kFolders; ++k) {
      ASSERT_TRUE(!folder_linked[k] ||
                  Exchange(tree, FolderName(k), park, FolderName(k) + "-link"));
    }
    folder_linked.assign(kFolders, false);
    for (const auto& [k, i] : files_linked) {
      const std::string name = FileName(i), parked = FolderName(k) + "-" + name;
      ASSERT_TRUE(Exchange(folders[k], name, park, parked) ||
                  renameat(park, parked.c_str(), folders[k], name.c_str()) ==
                      0);
    }
    files_linked.clear();
  }
};

}  // namespace

TEST_F(RaceE2eTest, LinksSwappedInDuringASweepNeverReachOutside) {
  TempDir outside;
  const fs::path park = temp_.path() / "park";
  fs::create_directories(park);
  fs::create_directories(outside.path() / "nested");
  // The outside files have the tree's names: a deletion by path through a
  // swapped-in link would find one.
  const int out =
      open(outside.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  const int nested = openat(out, "nested", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  for (int i = 0; i < kOutside; ++i) {
    OldFile(out, FileName(i), "outside " + std::to_string(i));
    OldFile(nested, FileName(i), "nested " + std::to_string(i));
  }
  close(nested);
  close(out);
  const std::vector<std::string> before = Fingerprint(outside.path());

  Swapper s;
  s.tree = open(T().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  s.park = open(park.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  s.outside = outside.path().string();
  s.folder_linked.assign(kFolders, false);
  for (int k = 0; k < kFolders; ++k) {
    ASSERT_EQ(0, mkdirat(s.tree, FolderName(k).c_str(), 0755));
    s.folders.push_back(openat(s.tree, FolderName(k).c_str(),
                               O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    ASSERT_GE(s.folders.back(), 0);
    ASSERT_EQ(0, symlinkat(s.outside.c_str(), s.park,
                           (FolderName(k) + "-link").c_str()));
  }

  for (int run = 1; run <= kRuns; ++run) {
    SCOPED_TRACE("run " + std::to_string(run));
    for (int fd : s.folders)
      for (int i = 0; i < kFiles; ++i) OldFile(fd, FileName(i));
    s.Follow();
    Child c =
        Start({"/Q", "/S", "/F", T(), "/M", "d", "/T", "1"}, RunOptions());
    std::string err;
    for (int toggles = 0; toggles < kMaxToggles; ++toggles) {
      // The run has ended when its stderr does; it is drained meanwhile so
      // that its messages never hold it up.
      pollfd p = {c.err, POLLIN, 0};
      if (poll(&p, 1, 0) > 0) {
        char buf[4096];
        const ssize_t n = read(c.err, buf, sizeof buf);
        if (n <= 0) break;
        err.append(buf, static_cast<size_t>(n));
      }
      s.Toggle();
    }
    const Result r = Finish(c, err);
    EXPECT_FALSE(r.timed_out);
    // A file that was in the park when its turn came cannot be deleted.
    EXPECT_TRUE(r.status == 0 || r.status == 1)
        << r.status << " " << r.signal << "\n"
        << r.err;
    s.Restore();
    ASSERT_EQ(before, Fingerprint(outside.path()));
  }
  for (int fd : s.folders) close(fd);
  close(s.tree);
  close(s.park);
  for (int i = 0; i < kOutside; ++i) {
    EXPECT_TRUE(fs::exists(outside.path() / FileName(i))) << i;
    EXPECT_TRUE(fs::exists(outside.path() / "nested" / FileName(i))) << i;
  }
  std::cout << "[ races    ] " << s.swaps << " swaps for links in " << kRuns
            << " runs\n";
  RecordProperty("swaps", static_cast<int>(s.swaps));
  EXPECT_GT(s.swaps, 0);
}
