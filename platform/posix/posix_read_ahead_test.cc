// The walk read ahead by the pool against the same walk read by the walk
// alone, on trees of the test's own; built with ThreadSanitizer in CI.
#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/posix/posix_listing.h"
#include "platform/posix/posix_folder.h"
#include "platform/read_ahead.h"

namespace {

namespace fs = std::filesystem;

// Enters every folder not starting with a dot and reads every *.log.
struct Plan : ReadAheadPlan {
  bool WillEnter(std::string_view name) const override {
    return name[0] != '.';
  }
  bool WillRead(std::string_view name) const override {
    return name.ends_with(".log");
  }
};

// Of the descriptors open now, those of folders of the tree under `root`.
// The C library opens and closes files of its own in any thread (a new
// malloc arena reads the number of processors), which a count of every
// descriptor catches now and then.
int OpenFolders(const std::string& root) {
  int n = 0;
  std::error_code error;
  for (const auto& e : fs::directory_iterator("/proc/self/fd"))
    n += fs::read_symlink(e.path(), error).string().starts_with(root);
  return n;
}

struct Walked {
  std::vector<std::string> lines;  // one per entry, in walk order
  int most_folders_open = 0;  // of the tree, counted as each is entered
};

// Walks `top` depth first as the sweep does, through the Listing interface
// only, for at most `limit` entries. A planned file's line carries the
// facts the walk would judge it by first: those read ahead, or its own.
Walked Walk(const std::string& top, bool read_ahead, size_t limit = SIZE_MAX) {
  Walked walked;
  Plan plan;
  const std::string root = fs::canonical(top).string() + "/";
  std::string error_text;
  int64_t number = 0;
  struct Level {
    std::unique_ptr<Listing> listing;
    std::string folder;
  };
  std::vector<Level> stack;
  stack.push_back({OpenPosixFolder(top + "/", &error_text), top + "/"});
  EXPECT_TRUE(stack.back().listing) << error_text;
  if (read_ahead) stack.back().listing->ReadAhead(plan);
  DirEntry entry;
  while (!stack.empty() && walked.lines.size() < limit) {
    Level& level = stack.back();
    if (!level.listing->Next(&entry, &number, &error_text)) {
      EXPECT_EQ("", error_text) << level.folder;
      stack.pop_back();
      continue;
    }
    std::string line = level.folder + std::string(entry.name);
    if (entry.is_dir) {
      line += "/";
      if (plan.WillEnter(entry.name)) {
        std::string folder = line;
        if (auto sub = level.listing->OpenCurrentFolder(&number, &error_text)) {
          stack.push_back({std::move(sub), folder});
          walked.most_folders_open = std::max(walked.most_folders_open, OpenFolders(root));
        }
        EXPECT_EQ("", error_text) << folder;
      }
    } else if (plan.WillRead(entry.name)) {
      EntryFacts own;
      EXPECT_TRUE(level.listing->ReadCurrent(&own, &number, &error_text)) << line;
      const EntryFacts& facts = entry.early ? *entry.early : own;
      EXPECT_EQ(read_ahead, entry.early != nullptr) << line;
      EXPECT_EQ(own.identity, facts.identity) << line;
      line += " " + std::to_string(facts.times.last_write.ticks);
    } else {
      EXPECT_EQ(nullptr, entry.early) << line;
    }
    walked.lines.push_back(line);
  }
  return walked;
}

class ReadAheadTest : public testing::Test {
 protected:
  void SetUp() override {
    const char* tmp = getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") +
                          "/agesweep-read-ahead-test.XXXXXX";
    ASSERT_TRUE(mkdtemp(pattern.data()));
    root_ = pattern;
  }
  void TearDown() override { fs::remove_all(root_); }

  void File(const fs::path& path, time_t mtime) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
    ASSERT_GE(fd, 0) << path;
    const struct timespec times[2] = {{mtime, 0}, {mtime, 0}};
    futimens(fd, times);
    close(fd);
  }

  fs::path root_;
};

TEST_F(ReadAheadTest, TheWalkMeetsWhatItWouldMeetAloneInItsOwnOrder) {
  // Wider than the folders held ahead, deeper than one chunk's subfolders,
  // a folder of several chunks, links, dot folders and files of every kind.
  for (int g = 0; g < 3; ++g) {
    const fs::path group = root_ / ("g" + std::to_string(g));
    fs::create_directory(group);
    for (int d = 0; d < 40; ++d) {
      fs::path folder = group / ("d" + std::to_string(d));
      fs::create_directories(folder / "deeper" / "deepest");
      for (int f = 0; f < 30; ++f)
        File(folder / (std::to_string(f) + (f % 3 ? ".log" : ".txt")), 1000000 + f * 7 + d);
      File(folder / "deeper" / "deepest" / "bottom.log", 5000 + d);
    }
  }
  fs::create_directories(root_ / ".hidden");
  File(root_ / ".hidden" / "never.log", 1);
  for (int f = 0; f < 3000; ++f)
    File(root_ / ("wide-folder-entry-" + std::to_string(f) + ".log"), 2000000 + f);
  fs::create_directory_symlink(root_ / "g0", root_ / "link-to-g0");
  fs::create_symlink(root_ / "wide-folder-entry-1.log", root_ / "link.log");

  const Walked alone = Walk(root_, false);
  ASSERT_GT(alone.lines.size(), 3000u + 3 * 40 * 33);
  const Walked ahead = Walk(root_, true);
  EXPECT_EQ(alone.lines, ahead.lines);
  // What is held open ahead of the walk is bounded: it gave up folders
  // rather than run past that. Alone, the walk holds one per level below
  // the top: g, d, deeper, deepest.
  EXPECT_EQ(4, alone.most_folders_open);
  EXPECT_LE(ahead.most_folders_open, alone.most_folders_open + 64);

  // Stopped part-way, again and again, with the pool still at work: the
  // threads are stopped and everything let go.
  for (size_t limit : {1, 50, 700, 2500})
    EXPECT_EQ(std::vector<std::string>(alone.lines.begin(), alone.lines.begin() + limit),
              Walk(root_, true, limit).lines);
}

TEST(WalkPlaceTest, AChainAsDeepAsATreeIsLetGoOfOnAPoolThreadsStack) {
  // A folder 100,000 levels down, dropped last by a thread of the pool.
  auto place = std::make_shared<WalkPlace>();
  for (uint32_t depth = 1; depth <= 100000; ++depth) {
    auto below = std::make_shared<WalkPlace>();
    below->parent = std::move(place);
    below->depth = depth;
    place = std::move(below);
  }
  pthread_attr_t attr;
  ASSERT_EQ(0, pthread_attr_init(&attr));
  ASSERT_EQ(0, pthread_attr_setstacksize(&attr, PoolThread::kStackBytes));
  pthread_t thread;
  ASSERT_EQ(0, pthread_create(&thread, &attr, [](void* chain) -> void* {
    delete static_cast<std::shared_ptr<WalkPlace>*>(chain);
    return nullptr;
  }, new std::shared_ptr<WalkPlace>(std::move(place))));
  pthread_join(thread, nullptr);
  pthread_attr_destroy(&attr);
}

}  // namespace
