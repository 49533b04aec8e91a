#include "platform/read_ahead.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <new>
#include <string>
#include <thread>
#include <utility>

namespace {

// A step of the walk: the entry (chunk, slot) of the folder at `place`.
struct Point {
  const WalkPlace* place;
  uint32_t chunk;
  uint32_t slot;
};

// The step in the ancestor at `depth` of `p` (deeper) that leads to it.
Point StepAt(const WalkPlace* p, uint32_t depth) {
  while (p->depth > depth + 1)
    p = p->jump->depth > depth ? p->jump : p->parent.get();
  return Point{p->parent.get(), p->chunk, p->slot};
}

}  // namespace

bool WalkOrderBefore(const WalkPlace& a_place, uint32_t a_chunk, uint32_t a_slot,
                     const WalkPlace& b_place, uint32_t b_chunk, uint32_t b_slot) {
  Point a{&a_place, a_chunk, a_slot}, b{&b_place, b_chunk, b_slot};
  const bool a_below = a.place->depth > b.place->depth;
  const bool b_below = b.place->depth > a.place->depth;
  if (a_below) a = StepAt(a.place, b.place->depth);
  if (b_below) b = StepAt(b.place, a.place->depth);
  if (a.place != b.place) {
    // At one depth, the jumps of both lead to one depth too: where they
    // differ, the common folder is further up.
    const WalkPlace* x = a.place;
    const WalkPlace* y = b.place;
    while (x->parent != y->parent) {
      if (x->jump != y->jump) {
        x = x->jump;
        y = y->jump;
      } else {
        x = x->parent.get();
        y = y->parent.get();
      }
    }
    a = Point{x->parent.get(), x->chunk, x->slot};
    b = Point{y->parent.get(), y->chunk, y->slot};
  }
  if (a.chunk != b.chunk) return a.chunk < b.chunk;
  if (a.slot != b.slot) return a.slot < b.slot;
  return !a_below && b_below;
}

std::shared_ptr<WalkPlace> WalkPlace::Below(
    std::shared_ptr<const WalkPlace> parent, uint32_t chunk, uint32_t slot) {
  auto place = std::make_shared<WalkPlace>();
  const WalkPlace& up = *parent;
  // Jumps as skew binary numbers count: twice as far once two jumps of one
  // length follow each other.
  const WalkPlace* far = up.jump ? up.jump->jump : nullptr;
  place->jump = up.jump && far && up.depth - up.jump->depth ==
                                       up.jump->depth - far->depth
                    ? far
                    : &up;
  place->chunk = chunk;
  place->slot = slot;
  place->depth = up.depth + 1;
  place->parent = std::move(parent);
  return place;
}

WalkPlace::~WalkPlace() {
  std::shared_ptr<const WalkPlace> up = std::move(parent);
  // Every link is made non-const, by make_shared.
  while (up && up.use_count() == 1)
    up = std::move(const_cast<WalkPlace&>(*up).parent);
}

std::shared_ptr<Chunk> MakeChunk(const Folder& folder, uint32_t index,
                                 const ReadAheadPlan* plan,
                                 GatheredEntries gathered) {
  auto chunk = std::make_shared<Chunk>();
  chunk->index = index;
  chunk->names.reset(new char[gathered.names.size() + 1]);
  std::memcpy(chunk->names.get(), gathered.names.data(), gathered.names.size());
  chunk->entries.assign(gathered.entries->begin(), gathered.entries->end());
  size_t slots = 0, children = 0;
  if (plan)
    for (Chunk::Entry& e : chunk->entries) {
      const std::string_view name(chunk->names.get() + e.name, e.length);
      if (e.is_dir ? plan->WillEnter(name) : plan->WillRead(name))
        (e.is_dir ? e.child : e.facts) =
            static_cast<int32_t>(e.is_dir ? children++ : slots++);
    }
  chunk->facts_entry.resize(slots);
  chunk->children.resize(children);
  for (size_t i = 0; i < chunk->entries.size(); ++i) {
    const Chunk::Entry& e = chunk->entries[i];
    if (e.facts >= 0) chunk->facts_entry[e.facts] = static_cast<uint32_t>(i);
    if (e.child < 0) continue;
    auto child = std::make_shared<Folder>();
    child->place =
        WalkPlace::Below(folder.place, index, static_cast<uint32_t>(i + 1));
    chunk->children[e.child] = std::move(child);
  }
  const size_t batches = chunk->Batches();
  if (slots > 0) {
    chunk->facts.resize(slots);
    chunk->facts_read.reset(new bool[slots]());
    chunk->batches.reset(new std::atomic<uint8_t>[batches]);
    for (size_t b = 0; b < batches; ++b) chunk->batches[b] = Chunk::kQueued;
  }
  chunk->bytes = sizeof(Chunk) + gathered.names.size() +
                 chunk->entries.size() * sizeof(Chunk::Entry) +
                 slots * (sizeof(EntryFacts) + sizeof(uint32_t) + 1) + batches +
                 chunk->children.size() * (sizeof(Folder) + sizeof(WalkPlace) + 64);
  return chunk;
}

void FolderTasks::Word(RemovalOutcome* outcome) {
  try {
    if (outcome->error_wording)
      outcome->error_text = outcome->error_wording;
    else if (outcome->kind == RemovalOutcome::kUnreadable ||
             outcome->kind == RemovalOutcome::kFailed)
      outcome->error_text = ErrorText(outcome->error_number);
  } catch (const std::bad_alloc&) {
  }
}

// ---------------------------------------------------------------- the pool

bool ReadAheadPool::Later::operator()(const Task& a, const Task& b) const {
  return WalkOrderBefore(*b.place, b.order_chunk, b.order_slot, *a.place,
                         a.order_chunk, a.order_slot);
}

ReadAheadPool::ReadAheadPool(FolderTasks& tasks, const ReadAheadPlan& plan,
                             std::shared_ptr<Folder> top,
                             ReadAheadLimits limits)
    : tasks_(tasks),
      plan_(plan),
      limits_(limits),
      waiting_on_system_(limits.waiting_from_start),
      open_limit_(limits.folders_ahead) {
  held_.reserve(3 * limits_.folders_ahead + 1);
  threads_while_fast_ =
      limits_.threads_while_fast > 0
          ? static_cast<size_t>(limits_.threads_while_fast)
          : std::max<size_t>(1, std::thread::hardware_concurrency());
  // Queued before any thread runs, so that nothing here can fail once one
  // does.
  top->listing = Folder::Work::kQueued;
  queue_.push(Task{Task::kList, top, nullptr, nullptr, 0, top->place.get(), 0, 0});
  // Fewer threads, or none: the walk reads what they do not.
  try {
    threads_.reserve(static_cast<size_t>(std::max(limits_.threads, 0)));
    for (int i = 0; i < limits_.threads; ++i) {
      PoolThread thread;
      if (!thread.Start(&ReadAheadPool::Start, this)) break;
      threads_.push_back(thread);
    }
  } catch (const std::bad_alloc&) {
  }
}

ReadAheadPool::~ReadAheadPool() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  work_.notify_all();
  slow_.notify_all();
  for (PoolThread& thread : threads_) thread.Join();
}

void ReadAheadPool::Start(void* pool) noexcept {
  static_cast<ReadAheadPool*>(pool)->Work();
}

ReadAheadPool::Task ReadAheadPool::TakeTop(TaskQueue& queue) {
  // Moved, not copied: a copy counts three owners up and down again, on
  // counts the other threads touch too. The top is dropped right after,
  // and the order looks at none of what is moved.
  Task task = std::move(const_cast<Task&>(queue.top()));
  queue.pop();
  return task;
}

void ReadAheadPool::Push(Task task) {
  // Without threads the walk reads everything itself, when it gets there.
  if (workers_ == 0) return;
  queue_.push(std::move(task));
}

void ReadAheadPool::Wake(size_t tasks) {
  // A thread of the pool takes the next task itself once it is done with
  // this one: waking another for it would only cost the two a switch, on
  // every folder of a tree that storage answers faster than that.
  if (tasks > 0 && std::this_thread::get_id() != walk_thread_) --tasks;
  for (size_t i = 0; i < std::min(tasks, idle_); ++i) work_.notify_one();
}

bool ReadAheadPool::Pending(const Task& task) const {
  // What the walk handed over is made even once it has left the folder.
  if (task.kind == Task::kRemove)
    return true;  // one of the folder's removers: it stops when none waits
  if (task.folder->left) return false;
  switch (task.kind) {
    case Task::kList:
      return task.folder->listing == Folder::Work::kQueued;
    case Task::kOpen:
      return task.child->opening == Folder::Work::kQueued &&
             task.child->opened == Folder::Opened::kNot;
    case Task::kRead:
      return task.chunk->batches[task.item].load() == Chunk::kQueued;
    case Task::kRemove:
      break;
  }
  return false;
}

bool ReadAheadPool::OverBudget(const Task& task) const {
  switch (task.kind) {
    case Task::kList:
      return bytes_ahead_ >= limits_.bytes_ahead;
    case Task::kOpen:
      return folders_ahead_ >= open_limit_ || !OpeningAheadPays();
    case Task::kRead:
    case Task::kRemove:
      return false;
  }
  return false;
}

void ReadAheadPool::Defer(Task task) {
  (task.kind == Task::kOpen ? deferred_opens_ : deferred_lists_)
      .push(std::move(task));
}

void ReadAheadPool::ReleaseBudget() {
  // Room is given back in batches, the first deferred in walk order first,
  // as many as fit: a task given back wakes a thread, and waking one costs
  // more than opening or listing a small folder on fast storage. Each is
  // judged again against its budget when a thread takes it; those no
  // longer pending go for good.
  auto release = [this](TaskQueue& deferred, size_t most) {
    size_t queued = 0;
    while (!deferred.empty() && queued < most) {
      Task task = TakeTop(deferred);
      if (!Pending(task)) continue;
      queue_.push(std::move(task));
      ++queued;
    }
    Wake(queued);
  };
  const size_t folders_free = open_limit_ - std::min(folders_ahead_, open_limit_);
  if (!deferred_opens_.empty() && OpeningAheadPays() &&
      folders_free >= std::max<size_t>(1, open_limit_ / 4))
    release(deferred_opens_, folders_free);
  // Listings run to an unknown size: a few, once half the bytes are free.
  if (!deferred_lists_.empty() && 2 * bytes_ahead_ <= limits_.bytes_ahead)
    release(deferred_lists_, std::max<size_t>(1, threads_while_fast_));
}

void ReadAheadPool::Park(Task task) {
  Folder& folder = *task.folder;
  folder.parked.push_back(Folder::ParkedRead{std::move(task.chunk), task.item});
  if (folder.in_parked_list) return;
  // Folders done with stay listed until a thread looks here; past twice as
  // many as were left last time, they go, so that the list stays as short
  // as the folders being read ahead.
  if (parked_in_.size() >= parked_in_prune_at_) {
    std::erase_if(parked_in_, [](const std::weak_ptr<Folder>& weak) {
      const std::shared_ptr<Folder> f = weak.lock();
      if (f && !f->left && !f->parked.empty()) return false;
      if (f) f->in_parked_list = false;
      return true;
    });
    parked_in_prune_at_ = std::max<size_t>(64, 2 * parked_in_.size());
  }
  parked_in_.push_back(task.folder);
  folder.in_parked_list = true;
}

ReadAheadPool::Task ReadAheadPool::TakeFirstParked(
    const std::shared_ptr<Folder>& folder) {
  Folder::ParkedRead read = std::move(folder->parked[folder->parked_next++]);
  if (folder->parked_next == folder->parked.size()) {
    folder->parked.clear();
    folder->parked_next = 0;
  }
  const uint32_t first = read.batch * static_cast<uint32_t>(Chunk::kBatch);
  const uint32_t slot = read.chunk->facts_entry[first] + 1;
  const uint32_t index = read.chunk->index;
  return Task{Task::kRead, folder, nullptr, std::move(read.chunk), read.batch,
              folder->place.get(), index, slot};
}

void ReadAheadPool::Unpark(const std::shared_ptr<Folder>& folder) {
  if (folder->parked.empty()) return;
  if (folder->left) {
    std::vector<Folder::ParkedRead>().swap(folder->parked);
    folder->parked_next = 0;
    return;
  }
  queue_.push(TakeFirstParked(folder));
  Wake(1);
}

bool ReadAheadPool::TakeParked(Task* task) {
  while (!parked_in_.empty()) {
    const std::shared_ptr<Folder> folder = parked_in_.front().lock();
    if (folder && !folder->left && !folder->parked.empty()) {
      *task = TakeFirstParked(folder);
      return true;
    }
    if (folder) {
      folder->in_parked_list = false;
      std::vector<Folder::ParkedRead>().swap(folder->parked);
      folder->parked_next = 0;
    }
    parked_in_.erase(parked_in_.begin());
  }
  return false;
}

void ReadAheadPool::ThrowIfOutOfMemory() const {
  if (out_of_memory_.load()) throw std::bad_alloc();
}

void ReadAheadPool::Work() {
  // Made when the thread first lists: a thread that never does takes no
  // memory of its own, not even an arena of the allocator's.
  std::unique_ptr<ListScratch> scratch;
  std::unique_lock<std::mutex> lock(mutex_);
  const size_t index = workers_++;
  try {
    if (index >= threads_while_fast_)
      slow_.wait(lock, [&] {
        return waiting_on_system_ || stopping_ || out_of_memory_.load();
      });
    while (!stopping_ && !out_of_memory_.load()) {
      Task task;
      if (!queue_.empty()) {
        task = TakeTop(queue_);
        if (!Pending(task)) continue;
        if (OverBudget(task)) {
          Defer(std::move(task));
          continue;
        }
        if (task.kind == Task::kRead &&
            task.folder->readers >= limits_.readers_per_folder) {
          Park(std::move(task));
          continue;
        }
      } else if (!TakeParked(&task)) {
        ++idle_;
        work_.wait(lock);
        --idle_;
        continue;
      } else if (!Pending(task)) {
        continue;
      }
      if (task.kind == Task::kList && !scratch) scratch = tasks_.MakeScratch();
      Run(task, scratch.get(), lock);
    }
  } catch (const std::bad_alloc&) {
    // The walk stops as it does when its own thread runs out.
    if (!lock.owns_lock()) lock.lock();
    out_of_memory_ = true;
    done_.notify_all();
    slow_.notify_all();
  }
}

void ReadAheadPool::Run(Task& task, ListScratch* scratch,
                        std::unique_lock<std::mutex>& lock) {
  Folder& folder = *task.folder;
  ++folder.users;
  const auto start = std::chrono::steady_clock::now();
  switch (task.kind) {
    case Task::kList:
      List(task.folder, *scratch, lock);
      ReleaseBudget();
      break;
    case Task::kOpen:
      Open(task, lock);
      ReleaseBudget();
      break;
    case Task::kRead: {
      Chunk& chunk = *task.chunk;
      chunk.batches[task.item].store(Chunk::kRunning);
      ++folder.readers;
      lock.unlock();
      ReadBatch(*task.folder, chunk, task.item);
      lock.lock();
      --folder.readers;
      chunk.batches[task.item].store(Chunk::kDone, std::memory_order_release);
      done_.notify_all();
      Unpark(task.folder);
      break;
    }
    case Task::kRemove:
      RemoveQueued(folder, lock);
      break;
  }
  // A list is as long as its folder: not timed. A remover times each of
  // its batches.
  size_t entries = 0;
  if (task.kind == Task::kOpen) entries = 1;
  if (task.kind == Task::kRead)
    entries = task.chunk->InBatch(task.item);
  if (entries > 0) Timed(entries, start);
  // Only where the walk stopped part-way, or removals remain in it, does it
  // leave a folder that a thread is still working in.
  --folder.users;
  if (folder.users == 0 && folder.left) done_.notify_all();
  Release(folder);
}

void ReadAheadPool::Timed(size_t entries,
                          std::chrono::steady_clock::time_point start) {
  // An opening, a batch of facts or of removals, that took over 100 µs an
  // entry waited on the system (a share, a disk; memory answers in a few):
  // threads beyond the cores then pay, since they wait together, and so
  // does opening small folders ahead. Four such, and at least one in five:
  // a thread put off its core now and then, on a busy machine, is not a
  // share.
  if (waiting_on_system_) return;
  if (std::chrono::steady_clock::now() - start <=
      entries * std::chrono::microseconds(100)) {
    ++fast_tasks_;
    return;
  }
  if (++slow_tasks_ >= 4 && 4 * slow_tasks_ >= fast_tasks_) {
    waiting_on_system_ = true;
    slow_.notify_all();
    ReleaseBudget();
  }
}

void ReadAheadPool::ReadBatch(const Folder& folder, Chunk& chunk,
                              size_t batch) {
  tasks_.Read(folder, chunk, batch * Chunk::kBatch,
              batch * Chunk::kBatch + chunk.InBatch(batch));
}

void ReadAheadPool::List(const std::shared_ptr<Folder>& folder,
                         ListScratch& scratch,
                         std::unique_lock<std::mutex>& lock) {
  folder->listing = Folder::Work::kRunning;
  const uint32_t index = folder->chunks_read;
  lock.unlock();
  bool ended = false;
  int64_t error = 0;
  std::shared_ptr<Chunk> chunk =
      tasks_.List(*folder, index, &plan_, scratch, &ended, &error);
  lock.lock();
  Publish(folder, std::move(chunk), error, ended);
}

void ReadAheadPool::Publish(const std::shared_ptr<Folder>& folder,
                            std::shared_ptr<Chunk> chunk, int64_t error,
                            bool ended) {
  ++folder->chunks_read;
  folder->ended = ended;
  folder->list_error = error;
  folder->listing = Folder::Work::kNone;
  const WalkPlace* place = folder->place.get();
  const size_t queued_before = queue_.size();
  folder->entries_listed += static_cast<uint32_t>(chunk->entries.size());
  if (ended)
    entries_per_folder_ += (folder->entries_listed - entries_per_folder_) / 8;
  // Where opening ahead does not pay, the subfolders are left to the walk,
  // and no thread is woken for them.
  const bool paid = OpeningAheadPays();
  for (size_t i = 0; paid && i < chunk->entries.size(); ++i) {
    const Chunk::Entry& e = chunk->entries[i];
    if (e.child < 0) continue;
    const std::shared_ptr<Folder>& child = chunk->children[e.child];
    child->opening = Folder::Work::kQueued;
    Push(Task{Task::kOpen, folder, child, chunk, static_cast<uint32_t>(i), place,
              chunk->index, static_cast<uint32_t>(i + 1)});
  }
  // Where the system answers as fast as memory, reading the facts of a few
  // files takes less than handing the work to another thread and back.
  const size_t reads_ahead =
      waiting_on_system_ || chunk->facts_entry.size() >= Chunk::kBatch
          ? chunk->facts_entry.size()
          : 0;
  for (size_t slot = 0; slot < reads_ahead; slot += Chunk::kBatch)
    Push(Task{Task::kRead, folder, nullptr, chunk,
              static_cast<uint32_t>(slot / Chunk::kBatch), place, chunk->index,
              chunk->facts_entry[slot] + 1});
  if (!ended) {
    folder->listing = Folder::Work::kQueued;
    Push(Task{Task::kList, folder, nullptr, nullptr, 0, place,
              folder->chunks_read, 0});
  }
  Wake(queue_.size() - queued_before);
  bytes_ahead_ += chunk->bytes;
  folder->chunks.push_back(std::move(chunk));
  done_.notify_all();
}

void ReadAheadPool::Open(const Task& task, std::unique_lock<std::mutex>& lock) {
  Folder& child = *task.child;
  child.opening = Folder::Work::kRunning;
  ++folders_ahead_;
  ++opens_running_;
  lock.unlock();
  const Chunk& chunk = *task.chunk;
  tasks_.Open(*task.folder, chunk, task.item, &child);
  lock.lock();
  --opens_running_;
  child.opening = Folder::Work::kNone;
  // Out of descriptors: the walk tries again itself when it gets there,
  // and the pool holds at most half as many ahead from now on, so that
  // it backs off before the walk meets the limit too.
  if (child.opened == Folder::Opened::kFailed &&
      tasks_.OutOfHandles(child.open_error)) {
    child.opened = Folder::Opened::kNot;
    child.open_error = 0;
    open_limit_ = std::min(open_limit_, (folders_ahead_ - 1) / 2);
  }
  if (child.opened == Folder::Opened::kYes) {
    child.held_ahead = true;
    NoteHeld(task.child);
    child.listing = Folder::Work::kQueued;
    Push(Task{Task::kList, task.child, nullptr, nullptr, 0, child.place.get(), 0, 0});
    Wake(1);
  } else {
    --folders_ahead_;
  }
  done_.notify_all();
}

void ReadAheadPool::NoteHeld(const std::shared_ptr<Folder>& folder) noexcept {
  // Room was made for every folder that can be held at once, and twice
  // as many again for those no longer held: pruned, the list always fits,
  // so that noting one never takes memory.
  if (held_.size() == held_.capacity())
    std::erase_if(held_, [](const std::weak_ptr<Folder>& weak) {
      const std::shared_ptr<Folder> f = weak.lock();
      return !f || (!f->held_ahead && !f->held_for_removals);
    });
  held_.push_back(folder);
}

bool ReadAheadPool::GiveBackHandles(std::unique_lock<std::mutex>& lock) {
  const size_t held = folders_ahead_;
  const size_t limit = open_limit_;
  // No opening begins while they are given back, and those running end.
  open_limit_ = 0;
  while (opens_running_ > 0) done_.wait(lock);
  // Nothing is noted meanwhile: no opening runs, and the walk, the only
  // other one to note, is here.
  for (const std::weak_ptr<Folder>& weak : held_) {
    const std::shared_ptr<Folder> folder = weak.lock();
    if (!folder) continue;
    if (folder->held_ahead) {
      Forsake(*folder, lock);
    } else if (folder->held_for_removals) {
      MakeRemovals(*folder, lock);
      Release(*folder);
    }
  }
  held_.clear();
  open_limit_ = std::min(limit, held / 2);
  // Something given back, or fewer to be held: worth trying again. Neither
  // can go on for ever.
  return folders_ahead_ < held || open_limit_ < limit;
}

void ReadAheadPool::Forsake(Folder& folder, std::unique_lock<std::mutex>& lock) {
  // Left for now, so that no thread begins anything in it; those at work
  // in it end first.
  folder.left = true;
  while (folder.users > 0) done_.wait(lock);
  // What was read of it goes with its handle: the walk, once it gets
  // there, opens it and lists it from the start itself.
  // Its subfolders held ahead go first: let go of with its chunks, they
  // would take their place in the budget with them.
  for (const std::shared_ptr<Chunk>& chunk : folder.chunks) {
    bytes_ahead_ -= chunk->bytes;
    for (size_t b = 0; b < chunk->Batches(); ++b) chunk->batches[b].store(Chunk::kDone);
    for (const std::shared_ptr<Folder>& child : chunk->children) {
      if (child->opening == Folder::Work::kQueued)
        child->opening = Folder::Work::kNone;
      if (child->held_ahead) Forsake(*child, lock);
    }
  }
  folder.chunks.clear();
  std::vector<Folder::ParkedRead>().swap(folder.parked);
  folder.parked_next = 0;
  folder.chunks_read = 0;
  folder.ended = false;
  folder.list_error = 0;
  folder.listing = Folder::Work::kNone;
  folder.Close();
  folder.opened = Folder::Opened::kNot;
  folder.held_ahead = false;
  --folders_ahead_;
  folder.left = false;
}

std::shared_ptr<Chunk> ReadAheadPool::TakeChunk(
    const std::shared_ptr<Folder>& folder, ListScratch& scratch,
    int64_t* error) {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    ThrowIfOutOfMemory();
    if (!folder->chunks.empty()) {
      std::shared_ptr<Chunk> chunk = std::move(folder->chunks.front());
      folder->chunks.erase(folder->chunks.begin());
      bytes_ahead_ -= chunk->bytes;
      ReleaseBudget();
      return chunk;
    }
    if (folder->listing == Folder::Work::kRunning) {
      done_.wait(lock);
      continue;
    }
    if (folder->ended) {
      *error = folder->list_error;
      folder->list_error = 0;
      return nullptr;
    }
    List(folder, scratch, lock);
  }
}

const EntryFacts* ReadAheadPool::TakeFacts(const Folder& folder, Chunk& chunk,
                                           uint32_t slot) {
  const size_t batch = slot / Chunk::kBatch;
  std::atomic<uint8_t>& state = chunk.batches[batch];
  if (state.load(std::memory_order_acquire) != Chunk::kDone) {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      ThrowIfOutOfMemory();
      const uint8_t now = state.load();
      if (now == Chunk::kDone) break;
      if (now == Chunk::kRunning) {
        done_.wait(lock);
        continue;
      }
      state.store(Chunk::kRunning);
      const auto start = std::chrono::steady_clock::now();
      lock.unlock();
      ReadBatch(folder, chunk, batch);
      lock.lock();
      state.store(Chunk::kDone, std::memory_order_release);
      Timed(chunk.InBatch(batch), start);
      break;
    }
  }
  return chunk.facts_read[slot] ? &chunk.facts[slot] : nullptr;
}

bool ReadAheadPool::TakeChild(const std::shared_ptr<Folder>& parent,
                              const Chunk& chunk, uint32_t entry,
                              Folder& child, int64_t* error) {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    ThrowIfOutOfMemory();
    if (child.opening == Folder::Work::kRunning) {
      done_.wait(lock);
      continue;
    }
    if (child.opened == Folder::Opened::kNot) {
      child.opening = Folder::Work::kRunning;
      const auto start = std::chrono::steady_clock::now();
      lock.unlock();
      tasks_.Open(*parent, chunk, entry, &child);
      lock.lock();
      child.opening = Folder::Work::kNone;
      Timed(1, start);
      // Descriptors the pool holds are the walk's first: given back, the
      // opening is tried again, until the pool holds none and opens none.
      if (child.opened == Folder::Opened::kFailed &&
          tasks_.OutOfHandles(child.open_error) && GiveBackHandles(lock)) {
        child.opened = Folder::Opened::kNot;
        child.open_error = 0;
        continue;
      }
    }
    break;
  }
  if (child.held_ahead) {
    child.held_ahead = false;
    --folders_ahead_;
    ReleaseBudget();
  }
  if (child.opened == Folder::Opened::kYes) return true;
  if (child.opened == Folder::Opened::kFailed) *error = child.open_error;
  return false;
}

// ------------------------------------------------------------- removals

namespace {

// Takes what is made or given up off the front of `folder`'s list, so that
// its first is always the next to make; one made out of turn goes when
// those before it have. The list's front is let go of in place, and moved
// out once it is half the list: each removal costs the same however many
// are in flight in one folder.
void Forget(Folder& folder) {
  std::vector<std::shared_ptr<Removal>>& list = folder.removals;
  size_t& first = folder.removals_first;
  while (first < list.size()) {
    const uint8_t state = list[first]->state.load();
    if (state != Removal::kDone && state != Removal::kGivenUp) break;
    list[first++].reset();
  }
  if (first == list.size()) {
    list.clear();
    first = 0;
  } else if (first >= 64 && 2 * first >= list.size()) {
    list.erase(list.begin(), list.begin() + static_cast<ptrdiff_t>(first));
    first = 0;
  }
}

}  // namespace

class ReadAheadPool::PoolRemoval final : public PendingRemoval {
 public:
  PoolRemoval(std::shared_ptr<ReadAheadPool> pool,
              std::shared_ptr<Removal> removal)
      : pool_(std::move(pool)), removal_(std::move(removal)) {}
  bool Ready() override {
    return removal_->state.load(std::memory_order_acquire) == Removal::kDone;
  }
  RemovalOutcome Finish() override { return pool_->Finish(*removal_); }
  bool Cancel() override { return pool_->Cancel(*removal_); }

 private:
  std::shared_ptr<ReadAheadPool> pool_;
  std::shared_ptr<Removal> removal_;
};

std::unique_ptr<PendingRemoval> ReadAheadPool::HandOver(
    const std::shared_ptr<Folder>& folder, std::shared_ptr<Chunk> chunk,
    uint32_t entry, const RemovalRule& rule) {
  auto removal = std::make_shared<Removal>();
  removal->folder = folder;
  removal->chunk = std::move(chunk);
  removal->entry = entry;
  removal->rule = &rule;
  auto pending = std::make_unique<PoolRemoval>(shared_from_this(), removal);
  std::lock_guard<std::mutex> lock(mutex_);
  folder->removals.push_back(removal);
  // A remover more while none is waiting to begin, up to the limit.
  if (folder->removers_queued != 0 ||
      folder->removers_queued + folder->removers_running >=
          limits_.removers_per_folder)
    return pending;
  // Never left on the folder's list without a task to make it: leaving the
  // folder would then wait for it, or a stop would not hear of it.
  try {
    ++folder->removers_queued;
    Push(Task{Task::kRemove, folder, nullptr, nullptr, 0, folder->place.get(),
              removal->chunk->index, entry + 1});
    Wake(1);
  } catch (const std::bad_alloc&) {
    --folder->removers_queued;
    folder->removals.pop_back();
    throw;
  }
  return pending;
}

void ReadAheadPool::RemoveQueued(Folder& folder,
                                 std::unique_lock<std::mutex>& lock) {
  --folder.removers_queued;
  ++folder.removers_running;
  // Taken a few at a time, in order, so that the walk handing over more
  // and the thread making them seldom meet at the lock.
  constexpr size_t kAtOnce = 16;
  Removal* batch[kAtOnce];
  for (;;) {
    size_t n = 0;
    for (size_t i = folder.removals_first; i < folder.removals.size(); ++i) {
      Removal* removal = folder.removals[i].get();
      if (removal->state.load() != Removal::kQueued) continue;
      removal->state.store(Removal::kRunning);
      batch[n++] = removal;
      if (n == kAtOnce) break;
    }
    if (n == 0) break;
    const auto start = std::chrono::steady_clock::now();
    lock.unlock();
    for (size_t i = 0; i < n; ++i)
      tasks_.Remove(folder, *batch[i]->chunk, batch[i]->entry, *batch[i]->rule,
                    &batch[i]->outcome);
    lock.lock();
    Timed(n, start);
    for (size_t i = 0; i < n; ++i) Done(*batch[i]);
    done_.notify_all();
  }
  --folder.removers_running;
}

void ReadAheadPool::Make(Removal& removal, std::unique_lock<std::mutex>& lock) {
  removal.state.store(Removal::kRunning);
  const auto start = std::chrono::steady_clock::now();
  lock.unlock();
  tasks_.Remove(*removal.folder, *removal.chunk, removal.entry, *removal.rule,
                &removal.outcome);
  lock.lock();
  Timed(1, start);
  Done(removal);
  done_.notify_all();
}

void ReadAheadPool::Done(Removal& removal) {
  // Held, so that the folder is not closed under the removal.
  const std::shared_ptr<Folder> folder = removal.folder;
  removal.state.store(Removal::kDone, std::memory_order_release);
  Forget(*folder);
  Release(*folder);
}

RemovalOutcome ReadAheadPool::Finish(Removal& removal) {
  // Once done, the outcome is no longer written: no lock is needed.
  if (removal.state.load(std::memory_order_acquire) != Removal::kDone) {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      const uint8_t state = removal.state.load();
      if (state == Removal::kDone) break;
      if (state == Removal::kQueued) {
        Make(removal, lock);
        break;
      }
      done_.wait(lock);
    }
  }
  RemovalOutcome outcome = removal.outcome;
  tasks_.Word(&outcome);
  return outcome;
}

bool ReadAheadPool::Cancel(Removal& removal) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (removal.state.load() != Removal::kQueued) return false;
  removal.state.store(Removal::kGivenUp);
  const std::shared_ptr<Folder> folder = removal.folder;
  Forget(*folder);
  Release(*folder);
  return true;
}

void ReadAheadPool::Release(Folder& folder) {
  if (!folder.left || folder.users != 0 || folder.HasRemovals()) return;
  if (folder.held_for_removals) {
    folder.held_for_removals = false;
    --folders_ahead_;
    ReleaseBudget();
  }
  folder.Close();
}

void ReadAheadPool::Leave(const std::shared_ptr<Folder>& left) {
  Folder& folder = *left;
  std::unique_lock<std::mutex> lock(mutex_);
  folder.left = true;
  // Removals not yet made keep the folder open, within the budget of what
  // is held ahead: past it, or with no thread to make them, the walk makes
  // them, or waits for them, now.
  if (folder.HasRemovals() && !threads_.empty() && folders_ahead_ < open_limit_) {
    folder.held_for_removals = true;
    ++folders_ahead_;
    NoteHeld(left);
    return;
  }
  MakeRemovals(folder, lock);
  Release(folder);
}

void ReadAheadPool::MakeRemovals(Folder& folder,
                                 std::unique_lock<std::mutex>& lock) {
  while (folder.HasRemovals()) {
    const std::shared_ptr<Removal> removal =
        folder.removals[folder.removals_first];
    if (removal->state.load() == Removal::kQueued)
      Make(*removal, lock);
    else
      done_.wait(lock);
  }
}
