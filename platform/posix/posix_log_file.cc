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

}  // namespace

bool AppendToPosixFile(const std::string& path, std::string_view text,
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
    return false;
  }
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    *error_text = "not a regular file";
    close(fd);
    return false;
  }
  const bool locked = LockForAppend(fd);
  const off_t before = lseek(fd, 0, SEEK_END);
  size_t done = 0;
  int error = WriteAll(fd, text, &done);
  bool partial = false;
  if (error != 0 && done > 0) {
    // Whole or not at all: the part that was written goes again. Under the
    // lock nobody else appended meanwhile; without it, only when the file
    // still ends with this run's part.
    const off_t now = lseek(fd, 0, SEEK_END);
    partial = before < 0 ||
              !(locked || now == before + static_cast<off_t>(done)) ||
              ftruncate(fd, before) != 0;
  }
  if (close(fd) != 0 && error == 0) error = errno;
  if (error != 0) {
    *error_text = strerror(error);
    // Said, so that a reader of the log knows its last block is torn.
    if (partial) *error_text += " (part of the block stays in the file)";
    return false;
  }
  return true;
}
