// Quiet deletions handed to the read-ahead pool's threads: whatever a file
// becomes between the facts read ahead and its deletion, the sweep says and
// leaves exactly what a sweep whose every removal is made in the walk's own
// thread does.
#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

#include "platform/chunked_listing.h"
#include "platform/fake_platform.h"
#include "sweep/sweep.h"

namespace {

// What a file turns into in the moment before its removal.
enum class Change { kNone, kReplacedOld, kMadeYoung, kFolder, kLink, kVanished };

struct MemFile {
  std::string name;
  FileTime time;
  Change change = Change::kNone;
  bool is_dir = false;
  bool gone = false;
};

struct MemFolder final : OpenFolder {
  explicit MemFolder(std::vector<MemFile>* files) : files(files) {}
  std::vector<MemFile>* files;
};

// One folder, listed in chunks of five; the facts read ahead are the files
// as listed, and a removal first applies the file's change.
struct MemTasks final : FolderTasks {
  std::mutex mutex;
  FileTime young;

  std::unique_ptr<ListScratch> MakeScratch() override {
    return std::make_unique<ListScratch>();
  }
  std::shared_ptr<Chunk> List(Folder& folder, uint32_t index,
                              const ReadAheadPlan* plan, ListScratch&,
                              bool* ended, int64_t*) override {
    std::vector<MemFile>& files = *static_cast<MemFolder&>(*folder.open).files;
    std::string names;
    std::vector<Chunk::Entry> entries;
    for (size_t i = index * 5; i < std::min<size_t>(files.size(), index * 5 + 5); ++i) {
      Chunk::Entry e;
      e.name = static_cast<uint32_t>(names.size());
      e.length = static_cast<uint32_t>(files[i].name.size());
      names += files[i].name + '\0';
      entries.push_back(e);
    }
    *ended = index * 5 + 5 >= files.size();
    return MakeChunk(folder, index, plan, GatheredEntries{names, &entries});
  }
  void Open(const Folder&, const Chunk&, uint32_t, Folder* child) override {
    child->opened = Folder::Opened::kSkip;
  }
  bool OutOfHandles(int64_t) override { return false; }
  void Read(const Folder& folder, Chunk& chunk, size_t first,
            size_t end) override {
    std::lock_guard<std::mutex> lock(mutex);
    for (size_t slot = first; slot < end; ++slot) {
      chunk.facts[slot].times.last_write =
          At(folder, chunk, chunk.facts_entry[slot]).time;
      chunk.facts_read[slot] = true;
    }
  }
  void Remove(const Folder& folder, const Chunk& chunk, uint32_t entry,
              const RemovalRule& rule, RemovalOutcome* outcome) override {
    std::lock_guard<std::mutex> lock(mutex);
    MemFile& file = At(folder, chunk, entry);
    switch (file.change) {
      case Change::kNone: break;
      case Change::kReplacedOld: file.time.ticks -= kTicksPerSecond; break;
      case Change::kMadeYoung: file.time = young; break;
      case Change::kFolder: file.is_dir = true; break;
      case Change::kLink: break;  // a link is removed as itself
      case Change::kVanished: file.gone = true; break;
    }
    if (file.gone) {
      outcome->kind = RemovalOutcome::kUnreadable;
      outcome->error_number = 2;
      return;
    }
    outcome->facts.times.last_write = file.time;
    outcome->kind = !rule.StillToRemove(outcome->facts) ? RemovalOutcome::kKept
                    : file.is_dir                       ? RemovalOutcome::kFailed
                                                        : RemovalOutcome::kRemoved;
    if (outcome->kind == RemovalOutcome::kFailed) outcome->error_number = 21;
    if (outcome->kind == RemovalOutcome::kRemoved) file.gone = true;
  }
  std::string ErrorText(int64_t error) override {
    return error == 2 ? "No such file or directory" : "Is a directory";
  }

  static MemFile& At(const Folder& folder, const Chunk& chunk, uint32_t entry) {
    std::vector<MemFile>& files = *static_cast<const MemFolder&>(*folder.open).files;
    const std::string name = chunk.names.get() + chunk.entries[entry].name;
    for (MemFile& f : files)
      if (f.name == name) return f;
    return files.front();
  }
};

class MemListing final : public ChunkedListing {
 public:
  MemListing(MemTasks& tasks, std::shared_ptr<Folder> folder, int threads)
      : ChunkedListing(tasks, std::move(folder), tasks.MakeScratch(), nullptr),
        threads_(threads) {}
  bool ReadCurrent(EntryFacts*, int64_t*, std::string*) override { return false; }
  bool RemoveCurrent(int64_t*, std::string*) override { return false; }
  TopFolderVerdict JudgeAsTopFolder() override { return TopFolderVerdict::kAllowed; }

 private:
  std::unique_ptr<Listing> MakeChild(std::shared_ptr<Folder>,
                                     std::shared_ptr<ListScratch>,
                                     std::shared_ptr<ReadAheadPool>) override {
    return nullptr;
  }
  ReadAheadLimits Limits() override { return ReadAheadLimits{threads_, 4, 1 << 20, 1, 2, threads_}; }
  int threads_;
};

struct Lines : SweepObserver {
  std::vector<std::string> lines;
  void FileMatched(const std::string& path, const FileTimes&) override {
    lines.push_back("matched " + path);
  }
  void TimesUnreadable(const std::string& path, int64_t,
                       const std::string& text) override {
    lines.push_back("no times " + path + ": " + text);
  }
  void WouldDelete(const std::string&) override {}
  bool ConfirmDeletion(const std::string&) override { return false; }
  void FileDeleted(const std::string& path) override {
    lines.push_back("Delete: " + path);
  }
  void DeletionFailed(const std::string& path, int64_t number,
                      const std::string& text) override {
    lines.push_back("Error: " + std::to_string(number) + ": " + text);
    lines.push_back("File:  " + path);
  }
  void FolderUnreadable(const std::string&, int64_t,
                        const std::string&) override {}
};

TEST(SweepPipelineTest, ChangesAtTheMomentOfDeletionAreToldAsTheWalkAloneTellsThem) {
  FakePlatform platform;
  platform.now = {2026, 12, 7, 12, 0, 0};
  const FileTime old = FakeFileTime(2026, 9, 1), young = FakeFileTime(2026, 12, 6);
  SweepSettings settings;
  settings.folder = "/d/";
  settings.wildcard = "*.log";
  settings.quiet_mode = settings.use_modified_time = true;
  settings.interval = IntervalCode::kDay;
  settings.time_frame = 30;
  // Each row: what becomes of a due file, and what the sweep must say.
  const struct {
    Change change;
    std::vector<std::string> said;
    bool left;
  } rows[] = {
      {Change::kNone, {"Delete: @"}, false},
      {Change::kReplacedOld, {"Delete: @"}, false},
      {Change::kMadeYoung, {}, true},
      {Change::kFolder, {"Error: 21: Is a directory", "File:  @"}, true},
      {Change::kLink, {"Delete: @"}, false},
      {Change::kVanished, {"no times @: No such file or directory"}, false},
  };
  auto sweep = [&](int threads, std::vector<MemFile>* files) {
    MemTasks tasks;
    tasks.young = young;
    auto top = std::make_shared<Folder>();
    top->open = std::make_unique<MemFolder>(files);
    top->opened = Folder::Opened::kYes;
    Lines lines;
    SearchFolder(platform, settings,
                 std::make_unique<MemListing>(tasks, top, threads), lines);
    return lines.lines;
  };
  // Rows mixed among young files and files that simply go, many times
  // over, so that removals in flight overtake one another.
  std::vector<MemFile> files;
  std::vector<std::string> expected;
  for (int i = 0; i < 300; ++i) {
    const auto& row = rows[i % 6];
    const std::string name = std::to_string(i) + ".log";
    files.push_back(MemFile{name, i % 4 == 3 ? young : old, row.change});
    expected.push_back("matched /d/" + name);
    if (i % 4 == 3) continue;  // young: passed over on the facts read ahead
    if (row.change == Change::kVanished) expected.pop_back();
    for (std::string s : row.said) {
      if (const size_t at = s.find('@'); at != std::string::npos)
        s.replace(at, 1, "/d/" + name);
      expected.push_back(s);
    }
  }
  for (const int threads : {0, 4, 16}) {
    SCOPED_TRACE(std::to_string(threads) + " threads");
    std::vector<MemFile> swept = files;
    EXPECT_EQ(expected, sweep(threads, &swept));
    for (size_t i = 0; i < swept.size(); ++i)
      EXPECT_EQ(i % 4 == 3 || rows[i % 6].left, !swept[i].gone) << swept[i].name;
  }
}

}  // namespace
