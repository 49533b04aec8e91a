#include "platform/posix/posix_log_file.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <utility>

#include "platform/log_lock.h"
#include "platform/posix/posix_folder.h"

namespace {

// The advisory lock that keeps the blocks of runs logging at the same time
// apart.
bool LockForAppend(int fd) {
  return WaitForLogLock([fd] {
    if (flock(fd, LOCK_EX | LOCK_NB) == 0) return LockTry::kTaken;
    return errno == EWOULDBLOCK || errno == EINTR ? LockTry::kBusy
                                                  : LockTry::kFailed;
  });
}

// Writes all of `text` at the end of `fd`; 0, or the error that stopped it
// with `*done` bytes written.
int WriteAll(int fd, std::string_view text, size_t* done) {
  *done = 0;
  while (*done < text.size()) {
    const ssize_t n = write(fd, text.data() + *done, text.size() - *done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return n < 0 ? errno : ENOSPC;
    *done += static_cast<size_t>(n);
  }
  return 0;
}

// Reads `size` bytes at `offset` of `fd` into `buffer`; 0, or the error.
int ReadAll(int fd, char* buffer, size_t size, off_t offset) {
  for (size_t done = 0; done < size;) {
    const ssize_t n = pread(fd, buffer + done, size - done,
                            offset + static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return n < 0 ? errno : EIO;
    done += static_cast<size_t>(n);
  }
  return 0;
}

}  // namespace

int OpenSpoolFile(const std::string& folder, bool unnamed_first) {
#ifdef O_TMPFILE
  // Never named at all, so not even a crash can leave it behind.
  const int unnamed = unnamed_first ? open(folder.c_str(),
                                           O_TMPFILE | O_RDWR | O_CLOEXEC, 0600)
                                    : -1;
  if (unnamed >= 0 || (unnamed_first && errno != EOPNOTSUPP &&
                       errno != EISDIR && errno != EINVAL))
    return unnamed;
#else
  (void)unnamed_first;
#endif
  // A file system that makes no unnamed files: a name no one else uses,
  // taken back at once.
  const int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0) return -1;
  static unsigned counter = 0;
  struct timespec now = {};
  clock_gettime(CLOCK_REALTIME, &now);
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    const std::string name = ".agesweep-spool-" + std::to_string(getpid()) +
                             "-" + std::to_string(now.tv_nsec) + "-" +
                             std::to_string(++counter);
    fd = openat(dir, name.c_str(),
                O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd >= 0 && unlinkat(dir, name.c_str(), 0) != 0) {
      const int error = errno;
      close(fd);
      errno = error;
      fd = -1;
      break;
    }
    if (fd < 0 && errno != EEXIST) break;
  }
  const int error = errno;
  close(dir);
  errno = error;
  return fd;
}

namespace {

class PosixLogSpool : public LogSpool {
 public:
  // The piece the spool is copied in is taken now, while the run has the
  // memory: the copy comes when it may have none to spare.
  explicit PosixLogSpool(int fd)
      : fd_(fd), piece_(new char[kLogChunkBytes]) {}
  ~PosixLogSpool() override { close(fd_); }
  PosixLogSpool(const PosixLogSpool&) = delete;
  PosixLogSpool& operator=(const PosixLogSpool&) = delete;

  bool Write(std::string_view text, std::string* error_text) override {
    for (size_t done = 0; done < text.size();) {
      const ssize_t n = pwrite(fd_, text.data() + done, text.size() - done,
                               size_ + static_cast<off_t>(done));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        *error_text = strerror(n < 0 ? errno : ENOSPC);
        // What was written of it is never copied, as the size does not
        // count it, and the next write goes over it; it is cut off all
        // the same, to give back the room a full disk is short of.
        const int ignored = ftruncate(fd_, size_);
        (void)ignored;
        return false;
      }
      done += static_cast<size_t>(n);
    }
    size_ += static_cast<off_t>(text.size());
    return true;
  }

  // Appends the spool's text to `out`; 0, or the error that stopped it with
  // `*done` bytes appended.
  int CopyTo(int out, size_t* done) {
    *done = 0;
    for (off_t at = 0; at < size_;) {
      const size_t n = static_cast<size_t>(
          std::min<off_t>(size_ - at, static_cast<off_t>(kLogChunkBytes)));
      if (const int error = ReadAll(fd_, piece_.get(), n, at)) return error;
      size_t written = 0;
      const int error = WriteAll(out, {piece_.get(), n}, &written);
      *done += written;
      if (error != 0) return error;
      at += static_cast<off_t>(n);
    }
    return 0;
  }

 private:
  int fd_;
  off_t size_ = 0;  // what the writes that succeeded hold
  std::unique_ptr<char[]> piece_;
};

class PosixLogFile : public LogFile {
 public:
  PosixLogFile(int fd, const struct stat& st, std::string folder)
      : fd_(fd), folder_(std::move(folder)) {
    identity_ = FileIdentity{st.st_dev, st.st_ino,
                             static_cast<uint32_t>(st.st_mode & S_IFMT)};
  }
  ~PosixLogFile() override { close(fd_); }
  PosixLogFile(const PosixLogFile&) = delete;
  PosixLogFile& operator=(const PosixLogFile&) = delete;

  FileIdentity Identity() override { return identity_; }
  std::string FinalPath() override { return PathOfDescriptor(fd_); }

  std::unique_ptr<LogSpool> MakeSpool(std::string* error_text) override {
    int fd = OpenSpoolFile(folder_);
    if (fd < 0) {
      // Said for the folder the user chose, where the spool was meant to be.
      *error_text = strerror(errno);
      // A service may be let write its log file and nothing else there; its
      // temporary folder is then the place (private to it, when hardened).
      const char* tmp = getenv("TMPDIR");
      fd = OpenSpoolFile(tmp && tmp[0] == '/' ? tmp : "/tmp");
      if (fd < 0) return nullptr;
    }
    return std::make_unique<PosixLogSpool>(fd);
  }

  using LogFile::Append;
  bool Append(LogSpool* spool, std::string_view text, bool* lock_held,
              std::string* error_text) override {
    *lock_held = LockForAppend(fd_);
    const off_t before = lseek(fd_, 0, SEEK_END);
    size_t done = 0;
    int error =
        spool ? static_cast<PosixLogSpool*>(spool)->CopyTo(fd_, &done) : 0;
    if (error == 0) {
      size_t tail = 0;
      error = WriteAll(fd_, text, &tail);
      done += tail;
    }
    if (error == 0) return true;
    *error_text = strerror(error);
    // Whole or not at all: the part that was written goes again. Under the
    // lock nobody else appended meanwhile; without it, only when the file
    // still ends with this run's part.
    if (done > 0) {
      const off_t now = lseek(fd_, 0, SEEK_END);
      if (before < 0 ||
          !(*lock_held || now == before + static_cast<off_t>(done)) ||
          ftruncate(fd_, before) != 0)
        // Said, so that a reader of the log knows its last block is torn.
        *error_text += " (part of the block stays in the file)";
    }
    return false;
  }

 private:
  int fd_;
  std::string folder_;  // where its spools go
  FileIdentity identity_;
};

}  // namespace

std::unique_ptr<LogFile> OpenPosixLogFile(const std::string& path,
                                          std::string* error_text) {
  // Never through a link, never blocking on a FIFO or a device, and only a
  // regular file: the log must not land anywhere but where it is named.
  const int fd =
      open(path.c_str(),
           O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC,
           0644);
  struct stat st;
  if (fd < 0) {
    const int error = errno;
    *error_text = lstat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)
                      ? "not a regular file"
                      : strerror(error);
    return nullptr;
  }
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    *error_text = "not a regular file";
    close(fd);
    return nullptr;
  }
  // The spool goes beside the log: the same file system, the same
  // permissions, the place the user chose for the run's writing.
  const size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "."
                             : slash == 0               ? "/"
                                                        : path.substr(0, slash);
  return std::make_unique<PosixLogFile>(fd, st, folder);
}
