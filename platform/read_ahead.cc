#include "platform/posix/read_ahead.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/syscall.h>
#endif

#include <algorithm>
#include <cstring>
#include <new>
#include <string_view>
#include <utility>

namespace {

// A POSIX time as ticks since 1601. File systems with 64-bit seconds hold
// times far beyond what the ticks can count; such a time has no age and
// comes back invalid instead of wrapping round to some other date, perhaps
// one long past. The ticks since 1970 must fit too, as the conversion to a
// date counts from there.
FileTime FromTimespec(int64_t seconds, int64_t nanoseconds) {
  int64_t since_1970 = 0, ticks = 0;
  if (__builtin_mul_overflow(seconds, kTicksPerSecond, &since_1970) ||
      __builtin_add_overflow(since_1970, nanoseconds / 100, &since_1970) ||
      __builtin_add_overflow(since_1970, kUnixEpochTicks, &ticks))
    return FileTime{};
  return FileTime{ticks, true};
}

// The directory bit: a folder, or a link whose target is a folder (which
// is then counted as a folder but never entered).
bool IsDirectory(int fd, const char* name, unsigned char type) {
  struct stat st;
  if (type == DT_UNKNOWN) {
    if (fstatat(fd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) return false;
    if (S_ISDIR(st.st_mode)) return true;
    if (!S_ISLNK(st.st_mode)) return false;
    type = DT_LNK;
  }
  if (type == DT_DIR) return true;
  if (type == DT_LNK) return fstatat(fd, name, &st, 0) == 0 && S_ISDIR(st.st_mode);
  return false;
}

// How many bytes of a folder's records one chunk holds at most: a few
// system calls' worth, and a bound on what a chunk held ahead costs.
constexpr size_t kChunkBytes = 32 * 1024;

// One record as the folder gave it.
struct Record {
  const char* name;
  size_t length;
  unsigned char type;
};

#ifdef __linux__
// Reads the folder's next records straight from the kernel with getdents64,
// as many calls as fill the buffer, so that a small folder's end is found
// in the same go; calls `take` for each. This is what readdir does too,
// less a lock and a call per entry: a walk of a large tree lists millions.
template <typename Take>
void ReadRecords(int fd, std::unique_ptr<char[]>& buffer, bool* ended,
                 int* error, Take take) {
  struct Dirent64 {
    uint64_t d_ino;
    int64_t d_off;
    unsigned short d_reclen;
    unsigned char d_type;
    char d_name[1];
  };
  // Room for the longest record: its header, 255 bytes of name, a NUL and
  // padding to 8.
  constexpr size_t kLongestRecord = 288;
  if (!buffer) buffer.reset(new char[kChunkBytes]);
  size_t used = 0;
  while (kChunkBytes - used >= kLongestRecord) {
    const long n = syscall(SYS_getdents64, fd, buffer.get() + used,
                           kChunkBytes - used);
    if (n <= 0) {
      if (n < 0) *error = errno;
      *ended = true;
      break;
    }
    for (size_t pos = used; pos < used + static_cast<size_t>(n);) {
      const char* record = buffer.get() + pos;
      unsigned short length;
      std::memcpy(&length, record + offsetof(Dirent64, d_reclen), sizeof length);
      pos += length;
      // The record is the name, a NUL and at most 7 more bytes of padding
      // rounded up to 8; the NUL is sought only in the record's last bytes.
      const size_t header = offsetof(Dirent64, d_name);
      const char* text = record + header;
      const size_t skip = length > header + 8 ? length - header - 8 : 0;
      take(Record{text, skip + std::strlen(text + skip),
                  static_cast<unsigned char>(record[offsetof(Dirent64, d_type)])});
    }
    used += static_cast<size_t>(n);
  }
}
#else
// Reads the folder's next records with readdir, up to a chunk's worth of
// names; the folder's DIR is made on the first read and kept by the folder.
template <typename Take>
void ReadRecords(Folder& folder, bool* ended, int* error, Take take) {
  size_t used = 0;
  if (!folder.dir) {
    const int fd = dup(folder.fd);
    folder.dir = fd >= 0 ? fdopendir(fd) : nullptr;
    if (!folder.dir) {
      *error = errno;
      if (fd >= 0) close(fd);
      *ended = true;
      return;
    }
  }
  while (used < kChunkBytes) {
    errno = 0;
    const dirent* d = readdir(folder.dir);
    if (!d) {
      *error = errno;
      *ended = true;
      return;
    }
    const size_t length = std::strlen(d->d_name);
    take(Record{d->d_name, length, d->d_type});
    used += length + 24;
  }
}
#endif

// Reads the next chunk of `folder`, the `index`th, and marks in it what
// `plan` (when there is one) says the walk will enter and read.
std::shared_ptr<Chunk> ReadChunk(Folder& folder, uint32_t index,
                                 const ReadAheadPlan* plan,
                                 ListScratch& scratch, bool* ended,
                                 int* error) {
  // The records are gathered as they come, in the thread's own buffers,
  // and then copied at their exact size: a chunk held ahead or by a
  // waiting level costs what it holds.
  std::string& names = scratch.names;
  std::vector<Chunk::Entry>& entries = scratch.entries;
  std::vector<unsigned char>& types = scratch.types;
  names.clear();
  entries.clear();
  types.clear();
#ifdef __linux__
  ReadRecords(folder.fd, scratch.records, ended, error, [&](const Record& r) {
#else
  ReadRecords(folder, ended, error, [&](const Record& r) {
#endif
    Chunk::Entry e;
    e.name = static_cast<uint32_t>(names.size());
    e.length = static_cast<uint32_t>(r.length);
    names.append(r.name, r.length);
    names.push_back('\0');
    entries.push_back(e);
    types.push_back(r.type);
  });

  auto chunk = std::make_shared<Chunk>();
  chunk->index = index;
  chunk->names.reset(new char[names.size() + 1]);
  std::memcpy(chunk->names.get(), names.data(), names.size());
  chunk->entries.assign(entries.begin(), entries.end());
  size_t slots = 0, children = 0;
  for (size_t i = 0; i < chunk->entries.size(); ++i) {
    Chunk::Entry& e = chunk->entries[i];
    const char* name = chunk->names.get() + e.name;
    e.is_dir = IsDirectory(folder.fd, name, types[i]);
    if (!plan) continue;
    const std::string_view view(name, e.length);
    if (e.is_dir ? plan->WillEnter(view) : plan->WillRead(view))
      (e.is_dir ? e.child : e.facts) = static_cast<int32_t>(e.is_dir ? children++ : slots++);
  }
  chunk->facts_entry.resize(slots);
  chunk->children.resize(children);
  for (size_t i = 0; i < chunk->entries.size(); ++i) {
    const Chunk::Entry& e = chunk->entries[i];
    if (e.facts >= 0) chunk->facts_entry[e.facts] = static_cast<uint32_t>(i);
    if (e.child < 0) continue;
    auto child = std::make_shared<Folder>();
    auto place = std::make_shared<WalkPlace>();
    place->parent = folder.place;
    place->chunk = index;
    place->slot = static_cast<uint32_t>(i + 1);
    place->depth = folder.place->depth + 1;
    child->place = std::move(place);
    chunk->children[e.child] = std::move(child);
  }
  const size_t batches = (slots + Chunk::kBatch - 1) / Chunk::kBatch;
  if (slots > 0) {
    chunk->facts.resize(slots);
    chunk->facts_read.reset(new bool[slots]());
    chunk->batches.reset(new std::atomic<uint8_t>[batches]);
    for (size_t b = 0; b < batches; ++b) chunk->batches[b] = Chunk::kQueued;
  }
  chunk->bytes = sizeof(Chunk) + names.size() +
                 chunk->entries.size() * sizeof(Chunk::Entry) +
                 slots * (sizeof(EntryFacts) + sizeof(uint32_t) + 1) + batches +
                 chunk->children.size() * (sizeof(Folder) + sizeof(WalkPlace) + 64);
  return chunk;
}

// Whether `a` comes before `b` in the walk: the order of the sequences of
// steps that lead to them, where whatever lies below an entry comes after
// the entry and before the next one.
struct Point {
  const WalkPlace* place;
  uint32_t chunk;
  uint32_t slot;
};
bool Before(Point a, Point b) {
  bool a_below = false, b_below = false;
  while (a.place->depth > b.place->depth) {
    a = Point{a.place->parent.get(), a.place->chunk, a.place->slot};
    a_below = true;
  }
  while (b.place->depth > a.place->depth) {
    b = Point{b.place->parent.get(), b.place->chunk, b.place->slot};
    b_below = true;
  }
  while (a.place != b.place) {
    a = Point{a.place->parent.get(), a.place->chunk, a.place->slot};
    b = Point{b.place->parent.get(), b.place->chunk, b.place->slot};
  }
  if (a.chunk != b.chunk) return a.chunk < b.chunk;
  if (a.slot != b.slot) return a.slot < b.slot;
  return !a_below && b_below;
}

}  // namespace

bool IdentifyOpenFolder(int fd, dev_t* device, bool* mount_root) {
  *mount_root = false;
#ifdef STATX_ATTR_MOUNT_ROOT
  struct statx sx;
  if (statx(fd, "", AT_EMPTY_PATH | AT_SYMLINK_NOFOLLOW, STATX_BASIC_STATS,
            &sx) == 0) {
    *device = makedev(sx.stx_dev_major, sx.stx_dev_minor);
    *mount_root = (sx.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT) &&
                  (sx.stx_attributes & STATX_ATTR_MOUNT_ROOT);
    return true;
  }
#endif
  struct stat st;
  if (fstat(fd, &st) != 0) return false;
  *device = st.st_dev;
  return true;
}

WalkPlace::~WalkPlace() {
  std::shared_ptr<const WalkPlace> up = std::move(parent);
  // Every link is made non-const, by make_shared.
  while (up && up.use_count() == 1)
    up = std::move(const_cast<WalkPlace&>(*up).parent);
}

Folder::~Folder() { Close(); }

void Folder::Close() {
#ifndef __linux__
  if (dir) closedir(dir);
  dir = nullptr;
#endif
  if (fd >= 0) close(fd);
  fd = -1;
}

std::shared_ptr<Chunk> ReadNextChunk(Folder& folder, ListScratch& scratch,
                                     int* error) {
  if (folder.ended) {
    *error = folder.list_error;
    folder.list_error = 0;
    return nullptr;
  }
  bool ended = false;
  int list_error = 0;
  std::shared_ptr<Chunk> chunk =
      ReadChunk(folder, folder.chunks_read++, nullptr, scratch, &ended, &list_error);
  folder.ended = ended;
  folder.list_error = list_error;
  return chunk;
}

void OpenSubfolder(const Folder& parent, const char* name, Folder* child) {
  // O_NOFOLLOW: a link to a folder is never entered.
  const int fd =
      openat(parent.fd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    // A link (ELOOP; ENOTDIR when it leads to a folder), or an entry that
    // is gone or no longer a folder, is not entered and not a failure.
    if (errno == ELOOP || errno == ENOTDIR || errno == ENOENT) {
      child->opened = Folder::Opened::kSkip;
    } else {
      child->opened = Folder::Opened::kFailed;
      child->open_error = errno;
    }
    return;
  }
  // A volume mounted here (a bind mount, a network share, another disk) is
  // not this tree's to empty: counted, never entered. Checked on the opened
  // folder, so a mount made after the check cannot slip in.
  dev_t device;
  bool mount_root;
  if (!IdentifyOpenFolder(fd, &device, &mount_root)) {
    child->opened = Folder::Opened::kFailed;
    child->open_error = errno;
    close(fd);
    return;
  }
  if (device != parent.device || mount_root) {
    close(fd);
    child->opened = Folder::Opened::kSkip;
    return;
  }
  child->fd = fd;
  child->device = device;
  child->opened = Folder::Opened::kYes;
}

bool ReadFacts(int fd, const char* name, EntryFacts* facts, int* error) {
  FileTimes& times = facts->times;
#ifdef STATX_BTIME
  struct statx sx;
  if (statx(fd, name, AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT,
            STATX_TYPE | STATX_INO | STATX_MTIME | STATX_BTIME, &sx) == 0) {
    times.last_write = FromTimespec(sx.stx_mtime.tv_sec, sx.stx_mtime.tv_nsec);
    times.creation = (sx.stx_mask & STATX_BTIME)
                         ? FromTimespec(sx.stx_btime.tv_sec, sx.stx_btime.tv_nsec)
                         : times.last_write;
    facts->identity = FileIdentity{makedev(sx.stx_dev_major, sx.stx_dev_minor),
                                   sx.stx_ino,
                                   static_cast<uint32_t>(sx.stx_mode & S_IFMT)};
    return true;
  }
  if (errno != ENOSYS) {
    *error = errno;
    return false;
  }
#endif
  struct stat st;
  if (fstatat(fd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
    *error = errno;
    return false;
  }
  times.last_write = FromTimespec(st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
  times.creation = times.last_write;
  facts->identity = FileIdentity{st.st_dev, st.st_ino,
                                 static_cast<uint32_t>(st.st_mode & S_IFMT)};
  return true;
}

// ---------------------------------------------------------------- the pool

bool ReadAheadPool::Later::operator()(const Task& a, const Task& b) const {
  return Before(Point{b.place, b.order_chunk, b.order_slot},
                Point{a.place, a.order_chunk, a.order_slot});
}

ReadAheadPool::ReadAheadPool(const ReadAheadPlan& plan,
                             std::shared_ptr<Folder> top)
    : plan_(plan), max_folders_ahead_(kMaxFoldersAhead) {
  // Each level of the walk holds a descriptor, so the limit on them is the
  // depth it can reach: what is held ahead is a small share of it.
  struct rlimit limit;
  if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY)
    max_folders_ahead_ =
        std::min<size_t>(kMaxFoldersAhead, static_cast<size_t>(limit.rlim_cur / 16));
  // Queued before any thread runs, so that nothing here can fail once one
  // does.
  top->listing = Folder::Work::kQueued;
  queue_.push(Task{Task::kList, top, nullptr, nullptr, 0, top->place.get(), 0, 0});
  // The threads take no signal: a stop signal is the walk's thread's, which
  // lets it in only where it waits for an answer.
  sigset_t all, saved;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &saved);
  // Small stacks: a thread holds little on its own, and the default, the
  // stack limit (often 8 MiB), would take the sixteen threads past an
  // address-space limit that the walk alone fits in many times over.
  pthread_attr_t attr;
  if (pthread_attr_init(&attr) == 0) {
    try {
      threads_.reserve(kThreads);
      if (pthread_attr_setstacksize(&attr, kThreadStackBytes) == 0)
        for (int i = 0; i < kThreads; ++i) {
          pthread_t thread;
          if (pthread_create(&thread, &attr, &ReadAheadPool::Start, this) != 0)
            break;
          threads_.push_back(thread);
        }
    } catch (const std::bad_alloc&) {
    }
    pthread_attr_destroy(&attr);
  }
  // Fewer threads, or none: the walk reads what they do not.
  pthread_sigmask(SIG_SETMASK, &saved, nullptr);
}

ReadAheadPool::~ReadAheadPool() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  work_.notify_all();
  for (const pthread_t thread : threads_) pthread_join(thread, nullptr);
}

void* ReadAheadPool::Start(void* pool) noexcept {
  static_cast<ReadAheadPool*>(pool)->Work();
  return nullptr;
}

void ReadAheadPool::Push(Task task) {
  // Without threads the walk reads everything itself, when it gets there.
  if (workers_ == 0) return;
  queue_.push(std::move(task));
  work_.notify_one();
}

bool ReadAheadPool::Pending(const Task& task) const {
  if (task.folder->left) return false;
  switch (task.kind) {
    case Task::kList:
      return task.folder->listing == Folder::Work::kQueued;
    case Task::kOpen:
      return task.child->opening == Folder::Work::kQueued &&
             task.child->opened == Folder::Opened::kNot;
    case Task::kRead:
      return task.chunk->batches[task.item].load() == Chunk::kQueued;
  }
  return false;
}

bool ReadAheadPool::OverBudget(const Task& task) const {
  switch (task.kind) {
    case Task::kList:
      return bytes_ahead_ >= kMaxBytesAhead;
    case Task::kOpen:
      return folders_ahead_ >= max_folders_ahead_;
    case Task::kRead:
      return false;
  }
  return false;
}

void ReadAheadPool::ReleaseBudget() {
  if (deferred_.empty()) return;
  if (bytes_ahead_ >= kMaxBytesAhead && folders_ahead_ >= max_folders_ahead_)
    return;
  for (Task& task : deferred_) queue_.push(std::move(task));
  deferred_.clear();
  work_.notify_all();
}

void ReadAheadPool::ThrowIfOutOfMemory() const {
  if (out_of_memory_.load()) throw std::bad_alloc();
}

void ReadAheadPool::Work() {
#ifdef __linux__
  // The walk's thread decides, deletes and logs: where the cores are all
  // busy it goes first, and the threads reading ahead take what is left.
  // On a share they wait for answers and this changes nothing.
  setpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)), 10);
#endif
  ListScratch scratch;
  std::unique_lock<std::mutex> lock(mutex_);
  ++workers_;
  try {
    while (!stopping_ && !out_of_memory_.load()) {
      if (queue_.empty()) {
        work_.wait(lock);
        continue;
      }
      Task task = queue_.top();
      queue_.pop();
      if (!Pending(task)) continue;
      if (OverBudget(task)) {
        deferred_.push_back(std::move(task));
        continue;
      }
      Run(task, scratch, lock);
    }
  } catch (const std::bad_alloc&) {
    // The walk stops as it does when its own thread runs out.
    if (!lock.owns_lock()) lock.lock();
    out_of_memory_ = true;
    done_.notify_all();
  }
}

void ReadAheadPool::Run(Task& task, ListScratch& scratch,
                        std::unique_lock<std::mutex>& lock) {
  Folder& folder = *task.folder;
  ++folder.users;
  switch (task.kind) {
    case Task::kList:
      List(task.folder, scratch, lock);
      break;
    case Task::kOpen:
      Open(task, lock);
      break;
    case Task::kRead: {
      Chunk& chunk = *task.chunk;
      chunk.batches[task.item].store(Chunk::kRunning);
      lock.unlock();
      ReadBatch(*task.folder, chunk, task.item);
      lock.lock();
      chunk.batches[task.item].store(Chunk::kDone, std::memory_order_release);
      done_.notify_all();
      break;
    }
  }
  // Only where the walk stopped part-way does it leave a folder that a
  // thread is still reading in.
  if (--folder.users == 0 && folder.left) folder.Close();
}

void ReadAheadPool::ReadBatch(const Folder& folder, Chunk& chunk,
                              size_t batch) {
  const size_t end =
      std::min(chunk.facts_entry.size(), (batch + 1) * Chunk::kBatch);
  for (size_t slot = batch * Chunk::kBatch; slot < end; ++slot) {
    const char* name = chunk.names.get() + chunk.entries[chunk.facts_entry[slot]].name;
    int error = 0;
    chunk.facts_read[slot] = ReadFacts(folder.fd, name, &chunk.facts[slot], &error);
  }
}

void ReadAheadPool::List(const std::shared_ptr<Folder>& folder,
                         ListScratch& scratch,
                         std::unique_lock<std::mutex>& lock) {
  folder->listing = Folder::Work::kRunning;
  const uint32_t index = folder->chunks_read;
  lock.unlock();
  bool ended = false;
  int error = 0;
  std::shared_ptr<Chunk> chunk = ReadChunk(*folder, index, &plan_, scratch, &ended, &error);
  lock.lock();
  Publish(folder, std::move(chunk), error, ended);
}

void ReadAheadPool::Publish(const std::shared_ptr<Folder>& folder,
                            std::shared_ptr<Chunk> chunk, int error,
                            bool ended) {
  ++folder->chunks_read;
  folder->ended = ended;
  folder->list_error = error;
  folder->listing = Folder::Work::kNone;
  const WalkPlace* place = folder->place.get();
  for (size_t i = 0; i < chunk->entries.size(); ++i) {
    const Chunk::Entry& e = chunk->entries[i];
    if (e.child < 0) continue;
    const std::shared_ptr<Folder>& child = chunk->children[e.child];
    child->opening = Folder::Work::kQueued;
    Push(Task{Task::kOpen, folder, child, chunk, static_cast<uint32_t>(i), place,
              chunk->index, static_cast<uint32_t>(i + 1)});
  }
  for (size_t slot = 0; slot < chunk->facts_entry.size(); slot += Chunk::kBatch)
    Push(Task{Task::kRead, folder, nullptr, chunk,
              static_cast<uint32_t>(slot / Chunk::kBatch), place, chunk->index,
              chunk->facts_entry[slot] + 1});
  if (!ended) {
    folder->listing = Folder::Work::kQueued;
    Push(Task{Task::kList, folder, nullptr, nullptr, 0, place,
              folder->chunks_read, 0});
  }
  bytes_ahead_ += chunk->bytes;
  folder->chunks.push_back(std::move(chunk));
  done_.notify_all();
}

void ReadAheadPool::Open(const Task& task, std::unique_lock<std::mutex>& lock) {
  Folder& child = *task.child;
  child.opening = Folder::Work::kRunning;
  ++folders_ahead_;
  lock.unlock();
  const Chunk& chunk = *task.chunk;
  OpenSubfolder(*task.folder, chunk.names.get() + chunk.entries[task.item].name,
                &child);
  lock.lock();
  child.opening = Folder::Work::kNone;
  // Out of descriptors: the walk tries again itself when it gets there,
  // when what is held ahead has been given back.
  if (child.opened == Folder::Opened::kFailed &&
      (child.open_error == EMFILE || child.open_error == ENFILE)) {
    child.opened = Folder::Opened::kNot;
    child.open_error = 0;
  }
  if (child.opened == Folder::Opened::kYes) {
    child.held_ahead = true;
    child.listing = Folder::Work::kQueued;
    Push(Task{Task::kList, task.child, nullptr, nullptr, 0, child.place.get(), 0, 0});
  } else {
    --folders_ahead_;
  }
  done_.notify_all();
}

std::shared_ptr<Chunk> ReadAheadPool::TakeChunk(
    const std::shared_ptr<Folder>& folder, ListScratch& scratch, int* error) {
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
      lock.unlock();
      ReadBatch(folder, chunk, batch);
      lock.lock();
      state.store(Chunk::kDone, std::memory_order_release);
      break;
    }
  }
  return chunk.facts_read[slot] ? &chunk.facts[slot] : nullptr;
}

bool ReadAheadPool::TakeChild(const std::shared_ptr<Folder>& parent,
                              Folder& child, const char* name, int* error) {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    ThrowIfOutOfMemory();
    if (child.opening == Folder::Work::kRunning) {
      done_.wait(lock);
      continue;
    }
    if (child.opened == Folder::Opened::kNot) {
      child.opening = Folder::Work::kRunning;
      lock.unlock();
      OpenSubfolder(*parent, name, &child);
      lock.lock();
      child.opening = Folder::Work::kNone;
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

void ReadAheadPool::Leave(Folder& folder) {
  std::lock_guard<std::mutex> lock(mutex_);
  folder.left = true;
  if (folder.users == 0) folder.Close();
}
