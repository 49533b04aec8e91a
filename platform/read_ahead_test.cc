// The read-ahead pool on a task set of the test's own, an in-memory tree,
// under limits small enough that every budget is spent again and again.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "platform/read_ahead.h"

namespace {

struct Node {
  std::string name;
  bool is_dir = false;
  std::vector<Node> children;
};

// A tree as wide as it is deep: folders of `width` entries, a third of them
// folders, down to `depth`.
Node MakeTree(int width, int depth, const std::string& name = "top") {
  Node node{name, true, {}};
  for (int i = 0; i < width; ++i) {
    const bool dir = depth > 0 && i % 3 == 0;
    node.children.push_back(dir ? MakeTree(width, depth - 1, "d" + std::to_string(i))
                                : Node{"f" + std::to_string(i) + ".log", false, {}});
  }
  return node;
}

struct Counts {
  std::atomic<int> open{0}, most_open{0}, lists{0}, reads{0};
  int handles = 0;  // folders open at once at most, as a descriptor limit; 0: any
};

// What MemTasks fails an opening with past the limit.
constexpr int64_t kOutOfHandles = 24;

struct MemFolder final : OpenFolder {
  // `counted`: its place among those open was taken already.
  MemFolder(const Node& node, Counts& counts, bool counted = false)
      : node(node), counts(counts) {
    const int now = counted ? counts.open.load() : ++counts.open;
    int most = counts.most_open;
    while (now > most && !counts.most_open.compare_exchange_weak(most, now)) {
    }
  }
  ~MemFolder() override { --counts.open; }
  const Node& node;
  Counts& counts;
};

// Chunks of three entries; a file's facts are its entry's index.
struct MemTasks final : FolderTasks {
  static constexpr size_t kPerChunk = 3;
  Counts counts;

  std::unique_ptr<ListScratch> MakeScratch() override {
    return std::make_unique<ListScratch>();
  }
  std::shared_ptr<Chunk> List(Folder& folder, uint32_t index,
                              const ReadAheadPlan* plan, ListScratch&,
                              bool* ended, int64_t*) override {
    ++counts.lists;
    const Node& node = static_cast<MemFolder&>(*folder.open).node;
    std::string names;
    std::vector<Chunk::Entry> entries;
    for (size_t i = index * kPerChunk;
         i < std::min(node.children.size(), (index + 1) * kPerChunk); ++i) {
      const Node& c = node.children[i];
      Chunk::Entry e;
      e.name = static_cast<uint32_t>(names.size());
      e.length = static_cast<uint32_t>(c.name.size());
      e.is_dir = c.is_dir;
      names += c.name + '\0';
      entries.push_back(e);
    }
    *ended = (index + 1) * kPerChunk >= node.children.size();
    return MakeChunk(folder, index, plan, GatheredEntries{names, &entries});
  }
  void Open(const Folder& parent, const Chunk& chunk, uint32_t entry,
            Folder* child) override {
    const Node& node = static_cast<MemFolder&>(*parent.open).node;
    const std::string name = chunk.names.get() + chunk.entries[entry].name;
    if (counts.handles > 0 && ++counts.open > counts.handles) {
      --counts.open;
      child->opened = Folder::Opened::kFailed;
      child->open_error = kOutOfHandles;
      return;
    }
    for (const Node& c : node.children)
      if (c.name == name)
        child->open = std::make_unique<MemFolder>(c, counts, counts.handles > 0);
    child->opened = Folder::Opened::kYes;
  }
  bool OutOfHandles(int64_t error) override { return error == kOutOfHandles; }
  void Read(const Folder&, Chunk& chunk, size_t first, size_t end) override {
    for (size_t slot = first; slot < end; ++slot) {
      ++counts.reads;
      chunk.facts[slot].times.last_write = FileTime{chunk.facts_entry[slot], true};
      chunk.facts_read[slot] = true;
    }
  }
  void Remove(const Folder&, const Chunk&, uint32_t, const RemovalRule&,
              RemovalOutcome*) override {}
  std::string ErrorText(int64_t) override { return ""; }
};

struct Plan final : ReadAheadPlan {
  bool WillEnter(std::string_view) const override { return true; }
  bool WillRead(std::string_view) const override { return true; }
};

// Walks the tree through the pool, depth first; one line per entry.
std::vector<std::string> Walk(const Node& tree, MemTasks& tasks,
                              ReadAheadLimits limits) {
  Plan plan;
  auto top = std::make_shared<Folder>();
  top->open = std::make_unique<MemFolder>(tree, tasks.counts);
  top->opened = Folder::Opened::kYes;
  top->place = std::make_shared<WalkPlace>();
  std::vector<std::string> lines;
  ReadAheadPool pool(tasks, plan, top, limits);
  std::unique_ptr<ListScratch> scratch = tasks.MakeScratch();
  struct Level {
    std::shared_ptr<Folder> folder;
    std::shared_ptr<Chunk> chunk;
    size_t pos = 0;
  };
  std::vector<Level> stack{{top, nullptr, 0}};
  while (!stack.empty()) {
    Level& level = stack.back();
    if (!level.chunk || level.pos == level.chunk->entries.size()) {
      int64_t error = 0;
      level.chunk = pool.TakeChunk(level.folder, *scratch, &error);
      level.pos = 0;
      if (!level.chunk) {
        pool.Leave(level.folder);
        stack.pop_back();
      }
      continue;
    }
    const Chunk::Entry& e = level.chunk->entries[level.pos++];
    std::string line(stack.size(), ' ');
    line += level.chunk->names.get() + e.name;
    if (e.is_dir) {
      std::shared_ptr<Folder> child = level.chunk->children[e.child];
      int64_t error = 0;
      lines.push_back(line);
      if (pool.TakeChild(level.folder, *level.chunk,
                         static_cast<uint32_t>(level.pos - 1), *child, &error))
        stack.push_back(Level{std::move(child), nullptr, 0});
      continue;
    }
    const EntryFacts* facts = pool.TakeFacts(*level.folder, *level.chunk,
                                             static_cast<uint32_t>(e.facts));
    lines.push_back(line + " " + (facts ? std::to_string(facts->times.last_write.ticks) : "-"));
  }
  return lines;
}

TEST(ReadAheadPoolTest, TinyLimitsDeferButNeverChangeTheWalkOrRepeatWork) {
  const Node tree = MakeTree(10, 3);
  MemTasks alone;
  const std::vector<std::string> expected = Walk(tree, alone, ReadAheadLimits{0, 0, 0});
  ASSERT_EQ(10u + 4 * 10 + 16 * 10 + 64 * 10, expected.size());
  const int folders = 1 + 4 + 16 + 64;
  struct Row {
    ReadAheadLimits limits;
  } rows[] = {
      {{1, 2, 512}},        // one thread, two folders, less than one chunk
      {{1, 2, 1 << 20}},    // folders the only bound
      {{4, 64, 512}},       // bytes the only bound
      {{16, 1, 1}},         // every budget spent at once
      {{2, 1000, 1 << 20}}, // nothing deferred
      // One reader a folder, every thread at once: reads are set aside
      // and taken up again, by a reader done in the folder or an idle one.
      {{16, 64, 1 << 20, 1, 1, 16}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(testing::Message() << row.limits.threads << " threads, "
                                    << row.limits.folders_ahead << " folders, "
                                    << row.limits.bytes_ahead << " bytes");
    for (int again = 0; again < 6; ++again) {
      MemTasks tasks;
      // Memory answers fast: folders are opened ahead only where the
      // system is taken to wait.
      ReadAheadLimits limits = row.limits;
      limits.waiting_from_start = again % 2 == 1;
      EXPECT_EQ(expected, Walk(tree, tasks, limits));
      // Each chunk is listed once and each batch read once, by whoever got
      // there first; all is let go of at the end.
      EXPECT_EQ(alone.counts.lists.load(), tasks.counts.lists.load());
      EXPECT_EQ(alone.counts.reads.load(), tasks.counts.reads.load());
      EXPECT_EQ(0, tasks.counts.open.load());
      // Open at once: the walk's own levels (4) and what is held ahead.
      EXPECT_LE(tasks.counts.most_open.load(),
                std::min<int>(folders, 4 + static_cast<int>(row.limits.folders_ahead)));
    }
  }
}

TEST(ReadAheadPoolTest, UnderADescriptorLimitThePoolGivesBackWhatTheWalkNeeds) {
  // The limit is what the walk alone needs, one folder a level, or one
  // less: every descriptor the pool holds ahead is one the walk will want.
  // Whatever it held, the walk gets as far as alone, and lists what it
  // gave up again.
  const Node tree = MakeTree(10, 3);
  MemTasks unlimited;
  Walk(tree, unlimited, ReadAheadLimits{0, 0, 0});
  for (int short_by : {0, 1}) {
    MemTasks alone;
    alone.counts.handles = unlimited.counts.most_open - short_by;
    const std::vector<std::string> expected = Walk(tree, alone, ReadAheadLimits{0, 0, 0});
    for (int threads : {1, 4, 16}) {
      for (int again = 0; again < 4; ++again) {
        MemTasks tasks;
        tasks.counts.handles = alone.counts.handles;
        ReadAheadLimits limits{threads, 64, 1 << 20};
        limits.waiting_from_start = true;
        EXPECT_EQ(expected, Walk(tree, tasks, limits)) << threads << " threads";
        EXPECT_EQ(0, tasks.counts.open.load());
      }
    }
  }
}

}  // namespace

namespace {

TEST(WalkOrderTest, JumpsAgreeWithTheStepsReadInFull) {
  // Places in a tree of long chains and bushy levels, each with the steps
  // that lead to it from the top: the walk's order is theirs, compared
  // pair by pair, a step before everything below it.
  struct Known {
    std::shared_ptr<WalkPlace> place;
    std::vector<std::pair<uint32_t, uint32_t>> steps;
    uint32_t entries = 0;  // made below it, each at a step of its own
  };
  std::vector<Known> known{{std::make_shared<WalkPlace>(), {}}};
  uint32_t seed = 7;
  auto next = [&seed](uint32_t below) { return (seed = seed * 1103515245 + 12345) / 65536 % below; };
  for (int i = 0; i < 3000; ++i) {
    // Mostly one level below the last, so chains run thousands deep.
    Known& up = next(8) != 0 ? known.back() : known[next(static_cast<uint32_t>(known.size()))];
    Known below{WalkPlace::Below(up.place, next(3), ++up.entries), up.steps};
    below.steps.emplace_back(below.place->chunk, below.place->slot);
    known.push_back(std::move(below));
  }
  for (int i = 0; i < 20000; ++i) {
    const Known& a = known[next(static_cast<uint32_t>(known.size()))];
    const Known& b = known[next(8) == 0 ? next(static_cast<uint32_t>(known.size()))
                                        : std::min<size_t>(known.size() - 1, &a - known.data() + next(5))];
    const uint32_t ac = next(3), as = next(4), bc = next(3), bs = next(4);
    auto sa = a.steps, sb = b.steps;
    sa.emplace_back(ac, as);
    sb.emplace_back(bc, bs);
    ASSERT_EQ(std::lexicographical_compare(sa.begin(), sa.end(), sb.begin(), sb.end()),
              WalkOrderBefore(*a.place, ac, as, *b.place, bc, bs))
        << "depths " << a.steps.size() << " and " << b.steps.size();
  }
}

}  // namespace
