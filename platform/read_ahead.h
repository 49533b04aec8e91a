// Reading ahead of a walk, for any platform: a pool of threads that lists
// the folders the walk will enter next and reads the facts of the files it
// will read, served strictly in the walk's own order. What has not been read
// yet when the walk gets there, the walk reads itself. A platform supplies
// only the reading itself (FolderTasks) and a way to start a thread
// (PoolThread); the order, the budgets and the threads' protocol are here.
//
// The protocol, as a whole:
//
// - A folder (Folder) is met as an entry of a chunk of its parent, marked by
//   the plan as one the walk will enter: it is then not open. An open task
//   opens it, relative to its parent, with every check the walk makes, and
//   is then "held ahead" (counted in the folders-ahead budget) until the
//   walk takes it (TakeChild). The top folder is open from the start. An
//   open folder is listed a chunk at a time by list tasks, one at a time
//   per folder, each queued by the one before until the folder ends; the
//   chunks wait in the folder, counted in the bytes-ahead budget, until the
//   walk takes them (TakeChunk). Each chunk queues an open task for every
//   folder it holds that the walk will enter and a read task for every
//   batch of files whose facts the walk will read.
// - A task is queued (in walk order, the queue's top first), running, or
//   gone. A task taken from the queue that is no longer pending (its folder
//   was left, or the walk did the work itself) is dropped; one whose budget
//   is spent when its turn comes is deferred, and queued again when the
//   walk gives some of it back. A deferred or queued task holds shared
//   ownership of what it names, so it stays valid whatever the walk has
//   done meanwhile; it only finds that it is no longer pending.
// - Taken from the queue, a read for a folder in which as many reads run
//   as one folder takes (ReadAheadLimits::readers_per_folder) is set aside
//   in that folder, and queued again when one of them ends; a thread that
//   finds the queue empty takes one set aside anywhere. So threads spread
//   over the folders ahead while there are some, and all help in one that
//   is alone.
// - Threads up to one a core take tasks from the start; the others wait
//   until openings or reads are seen to wait on the system.
// - The walk waits only for work a thread is running now: what is queued,
//   deferred or not yet planned, it does itself, in its own thread, so no
//   budget and no lack of threads can stall it.
// - Who closes what: the walk leaves (Leave) every folder it took when it is
//   done with it; the folder is closed then, or by the last thread still
//   reading in it. A folder opened ahead that the walk never takes is closed
//   when the last task or chunk naming it is let go of.
// - A removal (Removal) handed over by the walk waits on its folder's list
//   until it is made: by the folder's one remove task, queued at the place
//   of the first removal waiting (so before anything read ahead of it),
//   which makes them one after another, as the system would anyway; or by
//   the walk, when it asks for the outcome first. A removal not yet begun
//   may be given up. A folder the walk leaves is closed only once its
//   removals are made: it is held open for them, counted as held ahead,
//   or, past that budget, the walk makes them, or waits for them, then.
// - Running out of memory in a thread stops every thread; the walk's next
//   call throws std::bad_alloc, so the walk stops as when its own thread
//   runs out.
// - The threads take no signal, and run below the walk's priority.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <queue>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/platform.h"

// Where a folder stands in the walk's order: the steps, (chunk, entry) in
// each folder on the way, that lead to it from the top folder.
struct WalkPlace {
  std::shared_ptr<const WalkPlace> parent;  // null for the top folder
  // An ancestor further up, at a depth that depends on this one's only, so
  // that the steps of two places are compared in a number of jumps that
  // grows with the log of their depth, not with it: a chain of thousands
  // of folders has tasks queued at every level. Kept alive by `parent`.
  const WalkPlace* jump = nullptr;
  uint32_t chunk = 0;                       // in the parent
  uint32_t slot = 0;                        // entry index in that chunk, + 1
  uint32_t depth = 0;

  // The place of the entry `slot` - 1 of chunk `chunk` of `parent`.
  static std::shared_ptr<WalkPlace> Below(std::shared_ptr<const WalkPlace> parent,
                                          uint32_t chunk, uint32_t slot);

  // A chain is as deep as the tree. The last owner of a link lets go of
  // the links above it one at a time: by recursion, the chain of a deep
  // folder dropped by a thread of the pool would overrun that thread's
  // small stack.
  ~WalkPlace();
};

// Whether the step (`a_chunk`, `a_slot`) of the folder at `a` comes before
// that of `b` in the walk's order, where whatever lies below an entry
// comes after the entry and before the next one.
bool WalkOrderBefore(const WalkPlace& a, uint32_t a_chunk, uint32_t a_slot,
                     const WalkPlace& b, uint32_t b_chunk, uint32_t b_slot);

// What a platform keeps of a chunk's entries besides what every platform
// does.
struct ChunkExtra {
  virtual ~ChunkExtra() = default;
};

// The entries of one or more reads of a folder, in listing order.
struct Chunk {
  struct Entry {
    uint32_t name = 0;    // offset of the NUL-terminated name in `names`
    uint32_t length = 0;  // of the name
    int32_t facts = -1;   // a file the walk will read: its slot in `facts`
    int32_t child = -1;   // a folder it will enter: index in `children`
    bool is_dir = false;  // also set where the type is unsure
    bool type_unsure = false;  // as DirEntry::type_unsure
  };
  // The facts of files are read ahead in batches of this many.
  static constexpr size_t kBatch = 16;
  size_t Batches() const { return (facts_entry.size() + kBatch - 1) / kBatch; }
  // How many files the batch `batch` reads.
  size_t InBatch(size_t batch) const {
    return std::min(kBatch, facts_entry.size() - batch * kBatch);
  }
  enum BatchState : uint8_t { kQueued, kRunning, kDone };

  uint32_t index = 0;  // in its folder
  std::unique_ptr<char[]> names;
  std::vector<Entry> entries;
  std::vector<uint32_t> facts_entry;  // per facts slot, its entry
  std::vector<EntryFacts> facts;
  std::unique_ptr<bool[]> facts_read;  // per slot: the facts were read
  std::unique_ptr<std::atomic<uint8_t>[]> batches;
  std::vector<std::shared_ptr<struct Folder>> children;
  std::unique_ptr<ChunkExtra> extra;  // the platform's, where it has some
  size_t bytes = 0;  // held, as the read-ahead budget counts them
};

// What a platform holds of an open folder: its handle, and whatever else it
// reads the folder with.
struct OpenFolder {
  virtual ~OpenFolder() = default;
};

// One folder of the walk, open, or to be opened ahead of it. Everything but
// `open` is guarded by the pool's mutex where there is a pool.
struct Folder {
  Folder() = default;
  Folder(const Folder&) = delete;
  Folder& operator=(const Folder&) = delete;
  // Lets go of the platform's handle on the folder.
  void Close() { open.reset(); }

  // Where its listing, or its opening ahead, stands.
  enum class Work : uint8_t { kNone, kQueued, kRunning };
  enum class Opened : uint8_t {
    kNot,     // not yet, or read ahead gave up: the walk opens it itself
    kYes,     // `open` is set
    kSkip,    // not to be entered: a link, a mount, gone meanwhile
    // Listed as a folder, or of unsure type, but neither a folder nor a
    // link: not held ahead, as kSkip, and the walk takes it for a file.
    kNotAFolder,
    kFailed,  // with `open_error`
  };

  std::unique_ptr<OpenFolder> open;
  std::shared_ptr<const WalkPlace> place;

  // Read, not yet taken: a few at most, and none in a folder waiting for
  // the walk to come back from below it, where a deque's first block
  // would cost more than the rest of the level.
  std::vector<std::shared_ptr<Chunk>> chunks;
  uint32_t chunks_read = 0;
  uint32_t entries_listed = 0;  // in those chunks
  int64_t list_error = 0;  // the platform's numbering
  bool ended = false;      // every entry has been read
  Work listing = Work::kNone;
  Work opening = Work::kNone;
  Opened opened = Opened::kNot;
  int64_t open_error = 0;  // the platform's numbering
  // Removals in it handed over, in the walk's order, from `removals_first`
  // on: the first is not yet made, and those after it may be.
  std::vector<std::shared_ptr<struct Removal>> removals;
  size_t removals_first = 0;
  bool HasRemovals() const { return removals_first < removals.size(); }
  uint8_t removers_queued = 0;  // remove tasks, not yet begun
  uint8_t removers_running = 0;
  uint8_t readers = 0;          // read tasks running in it
  // Read tasks that came when as many were running in it as one folder
  // takes, waiting, in order, for one of those to end, or for a thread
  // with nothing else to do. They name their chunk and batch only: a
  // folder must not own what owns it.
  struct ParkedRead {
    std::shared_ptr<Chunk> chunk;
    uint32_t batch = 0;
  };
  std::vector<ParkedRead> parked;
  size_t parked_next = 0;        // the first of `parked` still waiting
  bool in_parked_list = false;   // named in the pool's list of such folders
  bool held_ahead = false;  // opened ahead, not yet taken by the walk
  bool held_for_removals = false;  // left, and open for its removals
  bool left = false;        // the walk is done with it: nothing more to read
  uint32_t users = 0;       // threads reading in it now
};

// The removal of one entry of a folder, handed over by the walk.
struct Removal {
  enum State : uint8_t { kQueued, kRunning, kDone, kGivenUp };
  std::shared_ptr<Folder> folder;
  std::shared_ptr<Chunk> chunk;
  uint32_t entry = 0;
  const RemovalRule* rule = nullptr;
  std::atomic<uint8_t> state{kQueued};
  RemovalOutcome outcome;  // once done, without the wording
};

// The buffers that listing a folder uses again for every chunk, one set for
// each thread that lists. Owned by whoever runs the thread, not
// thread-local: a thread-local's destructor is registered on first use,
// which takes memory, and where there is none the C library aborts.
struct ListScratch {
  virtual ~ListScratch() = default;
};

// The names and entries of one chunk as a platform gathered them, `is_dir`
// set, in listing order.
struct GatheredEntries {
  std::string_view names;  // each NUL-terminated
  const std::vector<Chunk::Entry>* entries;
};

// Makes the `index`th chunk of `folder` of what a platform gathered, at its
// exact size, and marks in it what `plan` (when there is one) says the walk
// will enter and read: a Folder with its place for each subfolder, a facts
// slot for each file.
std::shared_ptr<Chunk> MakeChunk(const Folder& folder, uint32_t index,
                                 const ReadAheadPlan* plan,
                                 GatheredEntries gathered);

// What a platform reads, for the pool and for its own walk.
struct FolderTasks {
  virtual ~FolderTasks() = default;
  virtual std::unique_ptr<ListScratch> MakeScratch() = 0;
  // Lists the next chunk of the open `folder`, the `index`th, marked by
  // `plan` (MakeChunk). Sets `*ended` at the end of the folder, and
  // `*error` when reading it failed. Facts the listing itself gave may be
  // filled in, their batches marked done.
  virtual std::shared_ptr<Chunk> List(Folder& folder, uint32_t index,
                                      const ReadAheadPlan* plan,
                                      ListScratch& scratch, bool* ended,
                                      int64_t* error) = 0;
  // Opens the entry `entry` of `chunk`, a subfolder of the open `parent`,
  // with every check the walk makes: sets `child->opened`, and
  // `child->open` or `child->open_error`.
  virtual void Open(const Folder& parent, const Chunk& chunk, uint32_t entry,
                    Folder* child) = 0;
  // Whether `open_error` says only that handles ran out: the walk tries
  // again itself when it gets there, once those held ahead are given back.
  virtual bool OutOfHandles(int64_t open_error) = 0;
  // Reads the facts of the slots [first, end) of `chunk` of `folder` into
  // `chunk.facts`, setting `chunk.facts_read`.
  virtual void Read(const Folder& folder, Chunk& chunk, size_t first,
                    size_t end) = 0;
  // Reads the facts of the entry `entry` of `chunk` of `folder` again, and
  // removes it when `rule` lets it go (Listing::RemoveCurrentLater). Leaves
  // the wording of a failure to ErrorText; takes no memory and throws
  // nothing, so that a removal begun is always made and told.
  virtual void Remove(const Folder& folder, const Chunk& chunk, uint32_t entry,
                      const RemovalRule& rule, RemovalOutcome* outcome) = 0;
  // The platform's wording of its failure `error`.
  virtual std::string ErrorText(int64_t error) = 0;
  // Gives the failure of a removal Remove made its wording, in the walk's
  // thread: the platform's own text where it set one, else ErrorText.
  // Short of memory, the failure is told without it rather than not at all.
  void Word(RemovalOutcome* outcome);
};

// A thread of the pool, started with a small stack, taking no signals, and
// below the starting thread's priority. Each platform has its own.
class PoolThread {
 public:
  // False when no thread could be started.
  bool Start(void (*body)(void*), void* arg);
  void Join();
  static const size_t kStackBytes;

 private:
  uintptr_t handle_ = 0;  // the platform's thread handle or id
};

struct ReadAheadLimits {
  int threads = 16;
  size_t folders_ahead = 64;   // held open ahead of the walk
  size_t bytes_ahead = 4 << 20;  // of listings and facts held ahead of it
  // Threads removing files in one folder at once. The system removes the
  // entries of one folder one at a time; more than one overlaps the
  // readings before the removals.
  int removers_per_folder = 1;
  // Threads reading facts in one folder at once while there is reading to
  // do in others. A share answers look-ups in one folder nearly one after
  // another, and a removal there holds them all up; threads spread over
  // the folders ahead get through them several times faster.
  int readers_per_folder = 2;
  // Threads that start at once; the others wait until tasks are seen to
  // wait on the system (a share, a disk), and until then would only take
  // the cores from those that work. 0: one a core.
  int threads_while_fast = 0;
  // Whether the system is taken to wait from the start, as a share does;
  // else the first tasks' times tell.
  bool waiting_from_start = false;
};

class ReadAheadPool : public std::enable_shared_from_this<ReadAheadPool> {
 public:
  // Starts reading ahead of a walk from `top`, open, whose listing has not
  // been read yet, for `plan`, with the platform's `tasks`.
  ReadAheadPool(FolderTasks& tasks, const ReadAheadPlan& plan,
                std::shared_ptr<Folder> top, ReadAheadLimits limits = {});
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
                                   ListScratch& scratch, int64_t* error);
  // The facts read ahead for the slot `slot` of `chunk` of `folder`; null
  // when they could not be read.
  const EntryFacts* TakeFacts(const Folder& folder, Chunk& chunk,
                              uint32_t slot);
  // Opens `child`, the entry `entry` of `chunk` of `parent`, a subfolder
  // that the walk enters now: false when it is not to be entered, with
  // `*error` set when it failed.
  bool TakeChild(const std::shared_ptr<Folder>& parent, const Chunk& chunk,
                 uint32_t entry, Folder& child, int64_t* error);
  // Hands over the removal of the entry `entry` of `chunk` of `folder`,
  // for `rule`: made by a thread, or by the walk when it asks first.
  std::unique_ptr<PendingRemoval> HandOver(
      const std::shared_ptr<Folder>& folder, std::shared_ptr<Chunk> chunk,
      uint32_t entry, const RemovalRule& rule);
  // The walk is done with `folder`: once the removals in it are made, it is
  // closed now, or by the last thread still reading in it, rather than when
  // the last task naming it is dropped, so that what is open stays within
  // the budget.
  void Leave(const std::shared_ptr<Folder>& folder);

 private:
  // One piece of reading ahead, and its place in the walk's order.
  struct Task {
    enum Kind : uint8_t { kList, kOpen, kRead, kRemove } kind = kList;
    std::shared_ptr<Folder> folder;  // listed, opened in, or read in
    std::shared_ptr<Folder> child;   // kOpen: the folder opened
    std::shared_ptr<Chunk> chunk;    // kOpen: its entry's; kRead: the one read
    uint32_t item = 0;               // kOpen: the entry; kRead: the batch
    const WalkPlace* place = nullptr;
    uint32_t order_chunk = 0;
    uint32_t order_slot = 0;
  };
  class PoolRemoval;
  // Orders the queue so that its top is what the walk will want first.
  struct Later {
    bool operator()(const Task& a, const Task& b) const;
  };

  static void Start(void* pool) noexcept;
  void Work();
  // `scratch` is the thread's own, made before a list task.
  void Run(Task& task, ListScratch* scratch, std::unique_lock<std::mutex>& lock);
  void ReadBatch(const Folder& folder, Chunk& chunk, size_t batch);
  // Notes how long work on `entries` entries begun at `start` took.
  void Timed(size_t entries, std::chrono::steady_clock::time_point start);
  bool Pending(const Task& task) const;
  bool OverBudget(const Task& task) const;
  using TaskQueue = std::priority_queue<Task, std::vector<Task>, Later>;
  static Task TakeTop(TaskQueue& queue);
  // Queues `task`; the caller wakes threads for what it queued.
  void Push(Task task);
  // Wakes as many idle threads as `tasks` just queued need.
  void Wake(size_t tasks);
  void Defer(Task task);
  // Queues again the first of the tasks deferred that now fit the budget.
  void ReleaseBudget();
  // Sets the read task `task` aside until a reader in its folder is done;
  // queues the first read set aside in `folder` again; takes the first
  // read set aside in any folder, for a thread that has nothing else.
  void Park(Task task);
  void Unpark(const std::shared_ptr<Folder>& folder);
  bool TakeParked(Task* task);
  static Task TakeFirstParked(const std::shared_ptr<Folder>& folder);
  void List(const std::shared_ptr<Folder>& folder, ListScratch& scratch,
            std::unique_lock<std::mutex>& lock);
  void Open(const Task& task, std::unique_lock<std::mutex>& lock);
  // Makes the removals queued in `folder`, in order, and `removal`; with
  // the lock held on entry and on return.
  void RemoveQueued(Folder& folder, std::unique_lock<std::mutex>& lock);
  void Make(Removal& removal, std::unique_lock<std::mutex>& lock);
  // Makes, or waits for, every removal left in `folder`.
  void MakeRemovals(Folder& folder, std::unique_lock<std::mutex>& lock);
  // Notes `folder`, just held ahead or for its removals, among those whose
  // descriptors may be given back.
  void NoteHeld(const std::shared_ptr<Folder>& folder) noexcept;
  // Closes every folder held ahead or for removals, so that the walk,
  // short of descriptors, has theirs; from then on the pool holds at most
  // half as many. False when it held none and opened none: the walk is
  // alone at the limit.
  bool GiveBackHandles(std::unique_lock<std::mutex>& lock);
  // Closes `folder`, held ahead, and lets go of what was read of it, as if
  // it had never been opened.
  void Forsake(Folder& folder, std::unique_lock<std::mutex>& lock);
  void Done(Removal& removal);
  // Closes `folder` once the walk has left it and nothing works in it.
  void Release(Folder& folder);
  RemovalOutcome Finish(Removal& removal);
  bool Cancel(Removal& removal);
  void Publish(const std::shared_ptr<Folder>& folder,
               std::shared_ptr<Chunk> chunk, int64_t error, bool ended);
  void ThrowIfOutOfMemory() const;

  FolderTasks& tasks_;
  const ReadAheadPlan& plan_;
  const ReadAheadLimits limits_;
  std::mutex mutex_;
  std::condition_variable work_;    // workers wait here for tasks
  std::condition_variable done_;    // the walk waits here for a task
  std::condition_variable slow_;    // threads past the first wait here
  size_t threads_while_fast_ = 0;
  size_t slow_tasks_ = 0;  // tasks that took long enough to be waiting
  size_t fast_tasks_ = 0;  // and those that did not
  bool waiting_on_system_ = false;
  // Opening a folder ahead pays where the system waits, or where folders
  // hold enough to list for a thread's listing to outweigh handing the
  // work over and back (some 10 µs): by the entries of the folders listed
  // last, on average, starting as if they were large.
  static constexpr double kEntriesWorthOpeningAhead = 64;
  double entries_per_folder_ = 4 * kEntriesWorthOpeningAhead;
  bool OpeningAheadPays() const {
    return waiting_on_system_ || entries_per_folder_ >= kEntriesWorthOpeningAhead;
  }
  TaskQueue queue_;
  // Tasks over their budget when their turn came, kept in walk order, one
  // queue a budget: given back room, only the first few go back, so a
  // backlog of thousands costs nothing each time the walk takes something.
  TaskQueue deferred_lists_;
  TaskQueue deferred_opens_;
  // The folders with reads set aside, in the order they were first: as
  // many as are being read ahead at once, at most.
  std::vector<std::weak_ptr<Folder>> parked_in_;
  size_t parked_in_prune_at_ = 64;
  size_t workers_ = 0;  // threads that have started taking tasks
  size_t idle_ = 0;     // threads waiting for a task
  const std::thread::id walk_thread_ = std::this_thread::get_id();
  size_t folders_ahead_ = 0;
  // How many folders may be held ahead now: the limit's, until the
  // descriptors run short.
  size_t open_limit_;
  size_t opens_running_ = 0;
  // The folders held ahead or for removals, and some no longer held.
  std::vector<std::weak_ptr<Folder>> held_;
  size_t bytes_ahead_ = 0;
  bool stopping_ = false;
  std::atomic<bool> out_of_memory_{false};
  std::vector<PoolThread> threads_;
};
