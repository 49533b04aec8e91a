#include "platform/posix/posix_log_file.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/log_lock.h"

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

class PosixLogFile : public LogFile {
 public:
  PosixLogFile(int fd, const struct stat& st) : fd_(fd) {
    identity_ = FileIdentity{st.st_dev, st.st_ino,
                             static_cast<uint32_t>(st.st_mode & S_IFMT)};
  }
  ~PosixLogFile() override { close(fd_); }
  PosixLogFile(const PosixLogFile&) = delete;
  PosixLogFile& operator=(const PosixLogFile&) = delete;

  FileIdentity Identity() override { return identity_; }

  bool Append(std::string_view text, bool* lock_held,
              std::string* error_text) override {
    *lock_held = LockForAppend(fd_);
    const off_t before = lseek(fd_, 0, SEEK_END);
    size_t done = 0;
    const int error = WriteAll(fd_, text, &done);
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
  return std::make_unique<PosixLogFile>(fd, st);
}
