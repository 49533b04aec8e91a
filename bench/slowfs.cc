// A slow mirror of a folder, for the benchmark's network-share cases: a FUSE
// file system that shows BACKING at MOUNTPOINT and waits a fixed time before
// every request it answers, as a client of a file server waits for each
// round trip.
//
//   agesweep_slowfs BACKING MOUNTPOINT [--delay-us N] [--threads N]
//                   [-f] [-o OPTION,...]
//
// --delay-us N: the wait, in microseconds (default 200). --threads N: at most
// that many requests are served at once (default 64); each waits on its own,
// so N requests in flight take one delay, not N. -f: stay in the foreground
// (without it the program detaches once the folder is mounted). Unmount with
// `fusermount3 -u MOUNTPOINT` (or umount).
//
// Nothing is cached in the kernel: entries, attributes and failed look-ups
// expire at once, so every name looked up, every stat and every listing is a
// request of its own, as on a share mounted without attribute caching.
// Listings carry names and types only (no READDIRPLUS), so a program that
// wants a file's time asks for it, one round trip per file.
//
// What it serves: looking up and stat of anything (links are never followed),
// reading links, listing folders, access checks, reading files, file system
// statistics, and unlink, which the benchmark uses to delete through the
// mount. Whatever else would change the tree fails as on a read-only share
// (EROFS). A request that is served waits before it reaches
// BACKING; closing a folder or a file does not wait, as the kernel sends
// those without waiting for an answer.
//
// Every request is counted by operation, and when the file system is
// unmounted the counts go to stderr, one line per operation that was asked
// for at least once, in this table's order, then the sum:
//
//   slowfs requests: getattr 10542
//   slowfs requests: total 21337
//
// libfuse serves the kernel's look-up of a name through getattr, so there
// a stat through the kernel counts twice (look-up, then attributes). What
// the program does not serve (extended attributes, flush, fsync) is counted
// too and answered "not supported", as libfuse answers it anyway; the kernel
// stops asking for those after the first such answer.
#define FUSE_USE_VERSION 31

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <fuse.h>
#include <stddef.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Settings {
  const char* backing = nullptr;
  unsigned delay_us = 200;
  unsigned threads = 64;
  int show_help = 0;
};

Settings settings;
int backing_fd = -1;  // every path is resolved below this folder

// The requests counted, in the order they are printed.
enum Request {
  kGetAttr, kAccess, kReadLink, kOpenDir, kReadDir, kReleaseDir, kOpen,
  kRead, kRelease, kStatFs, kUnlink, kMknod, kMkdir, kRmdir, kSymlink,
  kRename, kLink, kChmod, kChown, kTruncate, kCreate, kUtimens, kFlush,
  kFsync, kFsyncDir, kGetXattr, kListXattr, kSetXattr, kRemoveXattr,
  kRequestKinds
};

constexpr const char* kRequestNames[kRequestKinds] = {
    "getattr", "access", "readlink", "opendir", "readdir", "releasedir",
    "open", "read", "release", "statfs", "unlink", "mknod", "mkdir", "rmdir",
    "symlink", "rename", "link", "chmod", "chown", "truncate", "create",
    "utimens", "flush", "fsync", "fsyncdir", "getxattr", "listxattr",
    "setxattr", "removexattr"};

// Up to --threads requests are served at once; only the sums are read, at
// the end, so the increments need no order among themselves.
std::atomic<uint64_t> requests[kRequestKinds];

void Count(Request kind) {
  requests[kind].fetch_add(1, std::memory_order_relaxed);
}

// Called by libfuse once the loop has ended, after the last request.
void PrintRequests(void*) {
  uint64_t total = 0;
  for (int kind = 0; kind < kRequestKinds; ++kind) {
    const uint64_t n = requests[kind].load(std::memory_order_relaxed);
    if (n == 0) continue;
    total += n;
    std::fprintf(stderr, "slowfs requests: %s %" PRIu64 "\n",
                 kRequestNames[kind], n);
  }
  std::fprintf(stderr, "slowfs requests: total %" PRIu64 "\n", total);
  std::fflush(stderr);
}

[[noreturn]] void Refuse(const std::string& what) {
  std::fprintf(stderr, "agesweep_slowfs: %s (try --help)\n", what.c_str());
  std::exit(2);
}

unsigned ParseNumber(const std::string& option, const char* text) {
  char* end = nullptr;
  errno = 0;
  const unsigned long value = std::strtoul(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || text[0] == '-' ||
      value > 100000000UL)
    Refuse(option + " needs a whole number, not \"" + text + "\"");
  return static_cast<unsigned>(value);
}

// Takes this program's own words out of the command line (--delay-us N or
// --delay-us=N, --threads likewise, -h/--help, and the first word that is
// not an option, the backing folder); the rest goes to libfuse, which reads
// the mount point and its own options from it.
void ParseCommandLine(int argc, char** argv, fuse_args* rest) {
  fuse_opt_add_arg(rest, argv[0]);
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    unsigned* number = nullptr;
    std::string name;
    for (const char* own : {"--delay-us", "--threads"}) {
      if (arg == own || arg.rfind(std::string(own) + "=", 0) == 0) {
        name = own;
        number = name == "--delay-us" ? &settings.delay_us : &settings.threads;
      }
    }
    if (number != nullptr) {
      if (arg.size() > name.size()) {
        *number = ParseNumber(name, arg.c_str() + name.size() + 1);
      } else {
        if (i + 1 >= argc) Refuse(name + " needs a number");
        *number = ParseNumber(name, argv[++i]);
      }
    } else if (arg == "-h" || arg == "--help") {
      settings.show_help = 1;
    } else if (arg == "-o" && i + 1 < argc) {
      fuse_opt_add_arg(rest, argv[i]);
      fuse_opt_add_arg(rest, argv[++i]);
    } else if (arg[0] != '-' && settings.backing == nullptr) {
      settings.backing = argv[i];
    } else {
      fuse_opt_add_arg(rest, argv[i]);
    }
  }
}

// The time one request spends on the wire. Waiting until a deadline taken
// when the request arrived keeps the delay from growing by the time the
// thread needs to get going.
void RoundTrip() {
  if (settings.delay_us == 0) return;
  timespec until;
  clock_gettime(CLOCK_MONOTONIC, &until);
  const int64_t ns = until.tv_nsec + int64_t{settings.delay_us} * 1000;
  until.tv_sec += static_cast<time_t>(ns / 1000000000);
  until.tv_nsec = static_cast<long>(ns % 1000000000);
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) ==
         EINTR) {
  }
}

// libfuse's paths start with '/'; below the backing folder they are relative.
const char* Relative(const char* path) {
  while (*path == '/') ++path;
  return *path != '\0' ? path : ".";
}

void* Init(fuse_conn_info* conn, fuse_config* cfg) {
  // A share seen without caches: the kernel asks again every time.
  cfg->entry_timeout = 0;
  cfg->attr_timeout = 0;
  cfg->negative_timeout = 0;
  cfg->kernel_cache = 0;
  cfg->auto_cache = 0;
  // The backing folder's inode numbers, so that a program checking for
  // loops by device and inode sees stable ones.
  cfg->use_ino = 1;
  // An unlinked file is gone at once, never renamed aside while open.
  cfg->hard_remove = 1;
  // Listings carry names and types only: a time costs a request of its own.
  conn->want &= ~(FUSE_CAP_READDIRPLUS | FUSE_CAP_READDIRPLUS_AUTO);
  // Look-ups in one folder run side by side, as a share's client sends them.
  conn->want |= conn->capable & FUSE_CAP_PARALLEL_DIROPS;
  return nullptr;
}

int GetAttr(const char* path, struct stat* st, fuse_file_info* fi) {
  Count(kGetAttr);
  RoundTrip();
  const int result = fi != nullptr
                         ? fstat(static_cast<int>(fi->fh), st)
                         : fstatat(backing_fd, Relative(path), st,
                                   AT_SYMLINK_NOFOLLOW);
  return result == 0 ? 0 : -errno;
}

int Access(const char* path, int mask) {
  Count(kAccess);
  RoundTrip();
  return faccessat(backing_fd, Relative(path), mask, AT_SYMLINK_NOFOLLOW) == 0
             ? 0
             : -errno;
}

int ReadLink(const char* path, char* buf, size_t size) {
  Count(kReadLink);
  RoundTrip();
  if (size == 0) return -EINVAL;
  const ssize_t n = readlinkat(backing_fd, Relative(path), buf, size - 1);
  if (n < 0) return -errno;
  buf[n] = '\0';
  return 0;
}

struct Folder {
  DIR* dir;
  off_t offset;  // where the next readdir of `dir` continues
};

int OpenDir(const char* path, fuse_file_info* fi) {
  Count(kOpenDir);
  RoundTrip();
  const int fd = openat(backing_fd, Relative(path),
                        O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return -errno;
  DIR* dir = fdopendir(fd);
  if (dir == nullptr) {
    const int error = errno;
    close(fd);
    return -error;
  }
  fi->fh = reinterpret_cast<uintptr_t>(new Folder{dir, 0});
  return 0;
}

// Every batch the kernel asks for is a round trip of its own, as a share
// sends a listing in pieces.
int ReadDir(const char*, void* buf, fuse_fill_dir_t fill, off_t offset,
            fuse_file_info* fi, fuse_readdir_flags) {
  Count(kReadDir);
  RoundTrip();
  auto* folder = reinterpret_cast<Folder*>(fi->fh);
  if (offset != folder->offset) {
    seekdir(folder->dir, offset);
    folder->offset = offset;
  }
  for (;;) {
    errno = 0;
    const dirent* entry = readdir(folder->dir);
    if (entry == nullptr) return errno != 0 ? -errno : 0;
    struct stat st;
    std::memset(&st, 0, sizeof st);
    st.st_ino = entry->d_ino;
    st.st_mode = static_cast<mode_t>(DTTOIF(entry->d_type));
    const off_t next = telldir(folder->dir);
    if (fill(buf, entry->d_name, &st, next, static_cast<fuse_fill_dir_flags>(0)))
      break;  // the batch is full; this entry comes first in the next one
    folder->offset = next;
  }
  seekdir(folder->dir, folder->offset);
  return 0;
}

int ReleaseDir(const char*, fuse_file_info* fi) {
  Count(kReleaseDir);
  auto* folder = reinterpret_cast<Folder*>(fi->fh);
  closedir(folder->dir);
  delete folder;
  return 0;
}

int Open(const char* path, fuse_file_info* fi) {
  Count(kOpen);
  RoundTrip();
  if ((fi->flags & O_ACCMODE) != O_RDONLY) return -EROFS;
  const int fd =
      openat(backing_fd, Relative(path), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return -errno;
  fi->fh = static_cast<uint64_t>(fd);
  return 0;
}

int Read(const char*, char* buf, size_t size, off_t offset,
         fuse_file_info* fi) {
  Count(kRead);
  RoundTrip();
  const ssize_t n = pread(static_cast<int>(fi->fh), buf, size, offset);
  return n >= 0 ? static_cast<int>(n) : -errno;
}

int Release(const char*, fuse_file_info* fi) {
  Count(kRelease);
  close(static_cast<int>(fi->fh));
  return 0;
}

int StatFs(const char*, struct statvfs* st) {
  Count(kStatFs);
  RoundTrip();
  return fstatvfs(backing_fd, st) == 0 ? 0 : -errno;
}

int Unlink(const char* path) {
  Count(kUnlink);
  RoundTrip();
  return unlinkat(backing_fd, Relative(path), 0) == 0 ? 0 : -errno;
}

fuse_operations Operations() {
  fuse_operations ops;
  std::memset(&ops, 0, sizeof ops);
  ops.init = Init;
  ops.getattr = GetAttr;
  ops.access = Access;
  ops.readlink = ReadLink;
  ops.opendir = OpenDir;
  ops.readdir = ReadDir;
  ops.releasedir = ReleaseDir;
  ops.open = Open;
  ops.read = Read;
  ops.release = Release;
  ops.statfs = StatFs;
  ops.unlink = Unlink;
  ops.destroy = PrintRequests;
  // Whatever else would change the tree is refused as on a read-only
  // share, without a round trip.
  ops.mknod = [](const char*, mode_t, dev_t) {
    Count(kMknod);
    return -EROFS;
  };
  ops.mkdir = [](const char*, mode_t) {
    Count(kMkdir);
    return -EROFS;
  };
  ops.rmdir = [](const char*) {
    Count(kRmdir);
    return -EROFS;
  };
  ops.symlink = [](const char*, const char*) {
    Count(kSymlink);
    return -EROFS;
  };
  ops.rename = [](const char*, const char*, unsigned) {
    Count(kRename);
    return -EROFS;
  };
  ops.link = [](const char*, const char*) {
    Count(kLink);
    return -EROFS;
  };
  ops.chmod = [](const char*, mode_t, fuse_file_info*) {
    Count(kChmod);
    return -EROFS;
  };
  ops.chown = [](const char*, uid_t, gid_t, fuse_file_info*) {
    Count(kChown);
    return -EROFS;
  };
  ops.truncate = [](const char*, off_t, fuse_file_info*) {
    Count(kTruncate);
    return -EROFS;
  };
  ops.create = [](const char*, mode_t, fuse_file_info*) {
    Count(kCreate);
    return -EROFS;
  };
  ops.utimens = [](const char*, const timespec*, fuse_file_info*) {
    Count(kUtimens);
    return -EROFS;
  };
  // Not served, as when these are left unset, but counted: a program's
  // requests for them show in the counts. File locks stay unset, since
  // setting them would make the kernel send locks here instead of keeping
  // them itself.
  ops.flush = [](const char*, fuse_file_info*) {
    Count(kFlush);
    return -ENOSYS;
  };
  ops.fsync = [](const char*, int, fuse_file_info*) {
    Count(kFsync);
    return -ENOSYS;
  };
  ops.fsyncdir = [](const char*, int, fuse_file_info*) {
    Count(kFsyncDir);
    return -ENOSYS;
  };
  ops.getxattr = [](const char*, const char*, char*, size_t) {
    Count(kGetXattr);
    return -ENOSYS;
  };
  ops.listxattr = [](const char*, char*, size_t) {
    Count(kListXattr);
    return -ENOSYS;
  };
  ops.setxattr = [](const char*, const char*, const char*, size_t, int) {
    Count(kSetXattr);
    return -ENOSYS;
  };
  ops.removexattr = [](const char*, const char*) {
    Count(kRemoveXattr);
    return -ENOSYS;
  };
  return ops;
}

void Usage(FILE* to) {
  std::fprintf(to,
               "usage: agesweep_slowfs BACKING MOUNTPOINT [--delay-us N] "
               "[--threads N] [-f] [-o OPTION,...]\n"
               "Shows BACKING at MOUNTPOINT, each request answered after "
               "N microseconds (default 200),\nwith nothing cached in the "
               "kernel; at most --threads requests (default 64) at once.\n");
}

}  // namespace

int main(int argc, char** argv) {
  fuse_args args = FUSE_ARGS_INIT(0, nullptr);
  ParseCommandLine(argc, argv, &args);
  if (settings.show_help) {
    Usage(stdout);
    std::printf("\nlibfuse's options:\n");
    fuse_opt_add_arg(&args, "--help");
    const fuse_operations ops = Operations();
    return fuse_main(args.argc, args.argv, &ops, nullptr);
  }
  if (settings.backing == nullptr) {
    Usage(stderr);
    return 2;
  }
  if (settings.threads == 0) Refuse("--threads must be 1 or more");
  backing_fd = open(settings.backing, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (backing_fd < 0) {
    std::fprintf(stderr, "agesweep_slowfs: cannot open %s: %s\n",
                 settings.backing, std::strerror(errno));
    return 1;
  }

  // Sleeps of a few hundred microseconds would otherwise overrun by the
  // default 50 µs of timer slack; threads made later inherit this.
  prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);

  // Since libfuse 3.12 the multithreaded loop serves at most max_threads
  // requests at once (10 by default), which would put requests in a queue
  // that a share's client does not have; keeping as many idle threads saves
  // making threads anew. Older versions start a thread whenever all are busy.
  std::string loop = "-osubtype=agesweep_slowfs,fsname=agesweep_slowfs";
#if FUSE_MAJOR_VERSION > 3 || (FUSE_MAJOR_VERSION == 3 && FUSE_MINOR_VERSION >= 12)
  loop += ",max_threads=" + std::to_string(settings.threads) +
          ",max_idle_threads=" + std::to_string(settings.threads);
#endif
  fuse_opt_add_arg(&args, loop.c_str());

  const fuse_operations ops = Operations();
  const int status = fuse_main(args.argc, args.argv, &ops, nullptr);
  fuse_opt_free_args(&args);
  close(backing_fd);
  return status;
}
