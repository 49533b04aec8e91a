// The folders of a walk on POSIX, read a chunk at a time, and the pool of
// threads that reads them ahead of the walk: the listings of the folders it
// will enter next and the facts of the files it will read. The walk takes
// what was read strictly in its own order; what has not been read yet when
// it gets there, it reads itself.
#pragma once

#include <sys/types.h>
#ifndef __linux__
#include <dirent.h>
#endif
#include <pthread.h>

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <queue>
#include <string>
#include <vector>

#include "platform/platform.h"

// Where a folder stands in the walk's order: the steps, (chunk, entry) in
// each folder on the way, that lead to it from the top folder.
struct WalkPlace {
  std::shared_ptr<const WalkPlace> parent;  // null for the top folder
  uint32_t chunk = 0;                       // in the parent
  uint32_t slot = 0;                        // entry index in that chunk, + 1
  uint32_t depth = 0;

  // A chain is as deep as the tree. The last owner of a link lets go of
  // the links above it one at a time: by recursion, the chain of a deep
  // folder dropped by a thread of the pool would overrun that thread's
  // small stack.
  ~WalkPlace();
};

// The entries of one or more getdents reads of a folder, in listing order.
struct Chunk {
  struct Entry {
    uint32_t name = 0;    // offset of the NUL-terminated name in `names`
    uint32_t length = 0;  // of the name
    int32_t facts = -1;   // a file the walk will read: its slot in `facts`
    int32_t child = -1;   // a folder it will enter: index in `children`
    bool is_dir = false;
  };
  // The facts of files are read ahead in batches of this many.
  static constexpr size_t kBatch = 16;
  enum BatchState : uint8_t { kQueued, kRunning, kDone };

  uint32_t index = 0;  // in its folder
  std::unique_ptr<char[]> names;
  std::vector<Entry> entries;
  std::vector<uint32_t> facts_entry;  // per facts slot, its entry
  std::vector<EntryFacts> facts;
  std::unique_ptr<bool[]> facts_read;  // per slot: the facts were read
  std::unique_ptr<std::atomic<uint8_t>[]> batches;
  std::vector<std::shared_ptr<struct Folder>> children;
  size_t bytes = 0;  // held, as the read-ahead budget counts them
};

// The buffers that reading a folder's records uses again for every chunk,
// one set for each thread that reads. Owned by whoever runs the thread, not
// thread-local: a thread-local's destructor is registered on first use,
// which takes memory, and where there is none the C library aborts.
struct ListScratch {
  std::unique_ptr<char[]> records;  // as getdents returns them
  std::string names;
  std::vector<Chunk::Entry> entries;
  std::vector<unsigned char> types;
};

// One folder of the walk, open, or to be opened ahead of it.
struct Folder {
  Folder() = default;
  Folder(const Folder&) = delete;
  Folder& operator=(const Folder&) = delete;
  ~Folder();
  // Lets go of the folder's descriptor, and of its DIR where it has one.
  void Close();

  enum class Work : uint8_t { kNone, kQueued, kRunning };
  enum class Opened : uint8_t {
    kNot,     // not yet, or read ahead gave up: the walk opens it itself
    kYes,     // `fd` is open
    kSkip,    // not to be entered: a link, a mount, gone meanwhile
    kFailed,  // with `error`
  };

  int fd = -1;
  dev_t device = 0;
  std::shared_ptr<const WalkPlace> place;

  // Guarded by the pool's mutex where there is a pool.
  // Read, not yet taken: a few at most, and none in a folder waiting for
  // the walk to come back from below it, where a deque's first block
  // would cost more than the rest of the level.
  std::vector<std::shared_ptr<Chunk>> chunks;
  uint32_t chunks_read = 0;
  int list_error = 0;
  bool ended = false;  // every entry has been read
  Work listing = Work::kNone;
  Work opening = Work::kNone;
  Opened opened = Opened::kNot;
  int open_error = 0;
  bool held_ahead = false;  // opened ahead, not yet taken by the walk
  bool left = false;        // the walk is done with it: nothing more to read
  uint32_t users = 0;       // threads reading in it now
#ifndef __linux__
  DIR* dir = nullptr;  // made on the first read
#endif
};

// Reads the next chunk of `folder`, without a pool; null at the end of the
// folder, and on a failure with `*error` set.
std::shared_ptr<Chunk> ReadNextChunk(Folder& folder, ListScratch& scratch,
                                     int* error);

// Opens the entry `name` of `parent`, a folder, for listing, never through
// a link and never across a mount: sets `child->opened`, and `fd`,
// `device` or `open_error` as it went.
void OpenSubfolder(const Folder& parent, const char* name, Folder* child);

// The device of the open folder `fd` and whether it is the root of a mount.
bool IdentifyOpenFolder(int fd, dev_t* device, bool* mount_root);

// The facts of the entry `name` of the open folder `fd`, as they are now,
// without following links; false with `*error` set when they cannot be read.
bool ReadFacts(int fd, const char* name, EntryFacts* facts, int* error);

class ReadAheadPool {
 public:
  // Starts reading ahead of a walk from `top`, whose listing has not been
  // read yet, for `plan`.
  ReadAheadPool(const ReadAheadPlan& plan, std::shared_ptr<Folder> top);
  // Stops the threads and waits for them.
  ~ReadAheadPool();
  ReadAheadPool(const ReadAheadPool&) = delete;
  ReadAheadPool& operator=(const ReadAheadPool&) = delete;

  // What the walk calls, in its thread. Each either takes what was read
  // ahead, waits for it while a thread is reading it, or reads it itself.
  // All throw std::bad_alloc once a thread of the pool has run out of
  // memory.

  // The next chunk of `folder`; null at the end of the folder, and on a
  // failure with `*error` set.
  std::shared_ptr<Chunk> TakeChunk(const std::shared_ptr<Folder>& folder,
                                   ListScratch& scratch, int* error);
  // The facts read ahead for the slot `slot` of `chunk` of `folder`; null
  // when they could not be read.
  const EntryFacts* TakeFacts(const Folder& folder, Chunk& chunk,
                              uint32_t slot);
  // Opens `child`, a subfolder of `parent` that the walk enters now: false
  // when it is not to be entered, with `*error` set when it failed.
  bool TakeChild(const std::shared_ptr<Folder>& parent, Folder& child,
                 const char* name, int* error);
  // The walk is done with `folder`: it is closed now, or by the last thread
  // still reading in it, rather than when the last task naming it is
  // dropped, so that what is open stays within the budget.
  void Leave(Folder& folder);

  // Limits: threads, folders held open ahead of the walk, and bytes of
  // listings and facts held ahead of it.
  static constexpr int kThreads = 16;
  static constexpr size_t kMaxFoldersAhead = 64;
  static constexpr size_t kMaxBytesAhead = 4 << 20;
  static constexpr size_t kThreadStackBytes = 128 << 10;

 private:
  // One piece of reading ahead, and its place in the walk's order.
  struct Task {
    enum Kind : uint8_t { kList, kOpen, kRead } kind = kList;
    std::shared_ptr<Folder> folder;  // listed, opened in, or read in
    std::shared_ptr<Folder> child;   // kOpen: the folder opened
    std::shared_ptr<Chunk> chunk;    // kOpen: its entry's; kRead: the one read
    uint32_t item = 0;               // kOpen: the entry; kRead: the batch
    const WalkPlace* place = nullptr;
    uint32_t order_chunk = 0;
    uint32_t order_slot = 0;
  };
  // Orders the queue so that its top is what the walk will want first.
  struct Later {
    bool operator()(const Task& a, const Task& b) const;
  };

  static void* Start(void* pool) noexcept;
  void Work();
  void Run(Task& task, ListScratch& scratch, std::unique_lock<std::mutex>& lock);
  void ReadBatch(const Folder& folder, Chunk& chunk, size_t batch);
  bool Pending(const Task& task) const;
  bool OverBudget(const Task& task) const;
  void Push(Task task);
  void ReleaseBudget();
  void List(const std::shared_ptr<Folder>& folder, ListScratch& scratch,
            std::unique_lock<std::mutex>& lock);
  void Open(const Task& task, std::unique_lock<std::mutex>& lock);
  void Publish(const std::shared_ptr<Folder>& folder,
               std::shared_ptr<Chunk> chunk, int error, bool ended);
  void ThrowIfOutOfMemory() const;

  const ReadAheadPlan& plan_;
  size_t max_folders_ahead_;
  std::mutex mutex_;
  std::condition_variable work_;    // workers wait here for tasks
  std::condition_variable done_;    // the walk waits here for a task
  std::priority_queue<Task, std::vector<Task>, Later> queue_;
  std::vector<Task> deferred_;  // over the budget when their turn came
  size_t workers_ = 0;  // threads that have started taking tasks
  size_t folders_ahead_ = 0;
  size_t bytes_ahead_ = 0;
  bool stopping_ = false;
  std::atomic<bool> out_of_memory_{false};
  std::vector<pthread_t> threads_;
};
