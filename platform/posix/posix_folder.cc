#include "platform/posix/posix_folder.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/syscall.h>
#endif

#include <algorithm>
#include <cstddef>
#include <cstring>
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
// is then counted as a folder but never entered). An entry listed without
// a type whose own cannot be read either may be a folder that cannot be
// read or a file: it gets the bit and `*unsure`, so that the walk tries it
// as both and names it whichever it is. One gone meanwhile is a file gone,
// told as such when it matches.
bool IsDirectory(int fd, const char* name, unsigned char type, bool* unsure) {
  struct stat st;
  if (type == DT_UNKNOWN) {
    if (fstatat(fd, name, &st, AT_SYMLINK_NOFOLLOW) != 0)
      return *unsure = errno != ENOENT;
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
void ReadRecords(PosixFolder& folder, bool* ended, int* error, Take take) {
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

// The buffers of one thread that lists folders.
struct PosixScratch final : ListScratch {
  std::unique_ptr<char[]> records;  // as getdents returns them
  std::string names;
  std::vector<Chunk::Entry> entries;
  std::vector<unsigned char> types;
};

}  // namespace

PosixFolder::~PosixFolder() {
#ifndef __linux__
  if (dir) closedir(dir);
#endif
  close(fd);
}

std::unique_ptr<ListScratch> PosixFolderTasks::MakeScratch() {
  return std::make_unique<PosixScratch>();
}

std::shared_ptr<Chunk> PosixFolderTasks::List(Folder& folder, uint32_t index,
                                              const ReadAheadPlan* plan,
                                              ListScratch& list_scratch,
                                              bool* ended, int64_t* error) {
  // The records are gathered as they come, in the thread's own buffers,
  // and then copied at their exact size: a chunk held ahead or by a
  // waiting level costs what it holds.
  auto& scratch = static_cast<PosixScratch&>(list_scratch);
  PosixFolder& open = OpenOf(folder);
  std::string& names = scratch.names;
  std::vector<Chunk::Entry>& entries = scratch.entries;
  std::vector<unsigned char>& types = scratch.types;
  names.clear();
  entries.clear();
  types.clear();
  int read_error = 0;
#ifdef __linux__
  ReadRecords(open.fd, scratch.records, ended, &read_error, [&](const Record& r) {
#else
  ReadRecords(open, ended, &read_error, [&](const Record& r) {
#endif
    Chunk::Entry e;
    e.name = static_cast<uint32_t>(names.size());
    e.length = static_cast<uint32_t>(r.length);
    names.append(r.name, r.length);
    names.push_back('\0');
    entries.push_back(e);
    types.push_back(r.type);
  });
  *error = read_error;
  for (size_t i = 0; i < entries.size(); ++i)
    entries[i].is_dir = IsDirectory(open.fd, names.data() + entries[i].name,
                                    types[i], &entries[i].type_unsure);
  return MakeChunk(folder, index, plan, GatheredEntries{names, &entries});
}

void PosixFolderTasks::Open(const Folder& parent, const Chunk& chunk,
                            uint32_t entry, Folder* child) {
  OpenNamed(parent, chunk.names.get() + chunk.entries[entry].name, child);
}

bool PosixFolderTasks::OutOfHandles(int64_t open_error) {
  return open_error == EMFILE || open_error == ENFILE;
}

void PosixFolderTasks::Read(const Folder& folder, Chunk& chunk, size_t first,
                            size_t end) {
  const int fd = OpenOf(folder).fd;
  for (size_t slot = first; slot < end; ++slot) {
    const char* name = chunk.names.get() + chunk.entries[chunk.facts_entry[slot]].name;
    int error = 0;
    chunk.facts_read[slot] = ReadFacts(fd, name, &chunk.facts[slot], &error);
  }
}

void PosixFolderTasks::Remove(const Folder& folder, const Chunk& chunk,
                              uint32_t entry, const RemovalRule& rule,
                              RemovalOutcome* outcome) {
  const int fd = OpenOf(folder).fd;
  const char* name = chunk.names.get() + chunk.entries[entry].name;
  int error = 0;
  if (!ReadFacts(fd, name, &outcome->facts, &error)) {
    outcome->kind = RemovalOutcome::kUnreadable;
    outcome->error_number = error;
  } else if (!rule.StillToRemove(outcome->facts)) {
    outcome->kind = RemovalOutcome::kKept;
  } else if (unlinkat(fd, name, 0) == 0) {
    outcome->kind = RemovalOutcome::kRemoved;
  } else {
    outcome->kind = RemovalOutcome::kFailed;
    outcome->error_number = errno;
  }
}

std::string PosixFolderTasks::ErrorText(int64_t error) {
  return strerror(static_cast<int>(error));
}

ReadAheadLimits PosixReadAheadLimits() {
  ReadAheadLimits limits;
  struct rlimit limit;
  if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY)
    limits.folders_ahead = std::min<size_t>(
        limits.folders_ahead, static_cast<size_t>(limit.rlim_cur / 16));
  return limits;
}

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

std::string PathOfDescriptor(int fd) {
  const std::string link = "/proc/self/fd/" + std::to_string(fd);
  std::string path(256, '\0');
  for (;;) {
    const ssize_t n = readlink(link.c_str(), path.data(), path.size());
    if (n < 0) return "";
    // Filled to the brim: it may have been cut short, so again with more.
    if (static_cast<size_t>(n) < path.size()) {
      path.resize(static_cast<size_t>(n));
      break;
    }
    if (path.size() >= (size_t{1} << 16)) return "";
    path.resize(path.size() * 2);
  }
  // Anything else (a pipe, a socket) names no place in the tree.
  return path.empty() || path[0] != '/' ? "" : path;
}

void PosixFolderTasks::OpenNamed(const Folder& parent, const char* name,
                                 Folder* child) {
  // O_NOFOLLOW: a link to a folder is never entered.
  const int fd =
      openat(OpenOf(parent).fd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    // A link (ELOOP; ENOTDIR when it leads to a folder), or an entry that
    // is gone, is not entered and not a failure. One that is neither
    // folder nor link (listed as a folder by a file system that errs, of
    // unsure type, or no longer a folder) is a file to the walk.
    const int error = errno;
    struct stat st;
    if (error == ENOTDIR &&
        fstatat(OpenOf(parent).fd, name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
        !S_ISDIR(st.st_mode) && !S_ISLNK(st.st_mode)) {
      child->opened = Folder::Opened::kNotAFolder;
    } else if (error == ELOOP || error == ENOTDIR || error == ENOENT) {
      child->opened = Folder::Opened::kSkip;
    } else {
      child->opened = Folder::Opened::kFailed;
      child->open_error = error;
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
  if (device != OpenOf(parent).device || mount_root) {
    close(fd);
    child->opened = Folder::Opened::kSkip;
    return;
  }
  try {
    child->open = std::make_unique<PosixFolder>(fd, device);
  } catch (...) {
    close(fd);
    throw;
  }
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

