// Listing, file times and deletion on POSIX: every folder is opened relative
// to its parent's open handle and every file is removed through that handle,
// so a folder renamed or swapped for a link during the walk cannot redirect
// the walk or a deletion anywhere else.
#include "platform/posix/posix_listing.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/syscall.h>
#endif

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <utility>

namespace {


FileTime FromTimespec(int64_t seconds, int64_t nanoseconds) {
  return FileTime{seconds * kTicksPerSecond + nanoseconds / 100 + kUnixEpochTicks,
                  true};
}

#ifdef __linux__
// Reads a folder's entries straight from the kernel with getdents64 into a
// buffer of the listing's own. This is what readdir does too, less a lock
// and a call per entry: a walk of a large tree lists millions of entries.
class EntryReader {
 public:
  explicit EntryReader(int fd) : fd_(fd) {}
  ~EntryReader() { close(fd_); }
  EntryReader(const EntryReader&) = delete;
  EntryReader& operator=(const EntryReader&) = delete;

  int fd() const { return fd_; }

  // The next entry's name and type (a DT_ value); false at the end of the
  // folder or on a failure.
  bool Next(std::string_view* name, unsigned char* type) {
    if (pos_ >= end_) {
      const long n = syscall(SYS_getdents64, fd_, buffer_.get(), kBufferBytes);
      if (n <= 0) return false;
      pos_ = 0;
      end_ = static_cast<size_t>(n);
    }
    const char* record = buffer_.get() + pos_;
    unsigned short length;
    std::memcpy(&length, record + offsetof(Dirent64, d_reclen), sizeof length);
    pos_ += length;
    *type = static_cast<unsigned char>(record[offsetof(Dirent64, d_type)]);
    // The record is the name, a NUL and at most 7 more bytes of padding
    // rounded up to 8; the NUL is sought only in the record's last bytes.
    const char* text = record + offsetof(Dirent64, d_name);
    const size_t header = offsetof(Dirent64, d_name);
    const size_t skip = length > header + 8 ? length - header - 8 : 0;
    *name = std::string_view(text, skip + std::strlen(text + skip));
    return true;
  }

  static std::unique_ptr<EntryReader> Open(int fd) {
    return std::make_unique<EntryReader>(fd);
  }

 private:
  // The kernel's record layout for getdents64.
  struct Dirent64 {
    uint64_t d_ino;
    int64_t d_off;
    unsigned short d_reclen;
    unsigned char d_type;
    char d_name[1];
  };
  static constexpr size_t kBufferBytes = 32 * 1024;

  int fd_;
  std::unique_ptr<char[]> buffer_{new char[kBufferBytes]};
  size_t pos_ = 0;
  size_t end_ = 0;
};
#else
// Reads a folder's entries with readdir.
class EntryReader {
 public:
  explicit EntryReader(DIR* dir) : dir_(dir), fd_(dirfd(dir)) {}
  ~EntryReader() { closedir(dir_); }
  EntryReader(const EntryReader&) = delete;
  EntryReader& operator=(const EntryReader&) = delete;

  int fd() const { return fd_; }

  bool Next(std::string_view* name, unsigned char* type) {
    errno = 0;
    const dirent* d = readdir(dir_);
    if (!d) return false;
    *name = d->d_name;
    *type = d->d_type;
    return true;
  }

  static std::unique_ptr<EntryReader> Open(int fd) {
    DIR* dir = fdopendir(fd);
    if (!dir) {
      close(fd);
      return nullptr;
    }
    return std::make_unique<EntryReader>(dir);
  }

 private:
  DIR* dir_;
  int fd_;
};
#endif

class PosixListing : public Listing {
 public:
  explicit PosixListing(std::unique_ptr<EntryReader> reader)
      : reader_(std::move(reader)), fd_(reader_->fd()) {}

  bool Next(DirEntry* entry) override {
    unsigned char type;
    std::string_view name;
    if (!reader_->Next(&name, &type)) return false;
    current_ = name.data();  // NUL-terminated
    entry->name = name;
    entry->is_dir = IsDirectory(current_, type);
    return true;
  }

  std::unique_ptr<Listing> OpenCurrentFolder() override {
    // O_NOFOLLOW: a link to a folder is never entered.
    return OpenAt(fd_, current_,
                  O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  }

  FileTimes ReadCurrentTimes() override {
    FileTimes times;
#ifdef STATX_BTIME
    struct statx sx;
    if (statx(fd_, current_, AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT,
              STATX_MTIME | STATX_BTIME, &sx) == 0) {
      times.last_write = FromTimespec(sx.stx_mtime.tv_sec, sx.stx_mtime.tv_nsec);
      times.creation =
          (sx.stx_mask & STATX_BTIME)
              ? FromTimespec(sx.stx_btime.tv_sec, sx.stx_btime.tv_nsec)
              : times.last_write;
      return times;
    }
#endif
    struct stat st;
    if (fstatat(fd_, current_, &st, AT_SYMLINK_NOFOLLOW) == 0) {
      times.last_write = FromTimespec(st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
      times.creation = times.last_write;
    }
    return times;
  }

  bool RemoveCurrent(int64_t* error_number, std::string* error_text) override {
    if (unlinkat(fd_, current_, 0) == 0) return true;
    *error_number = errno;
    *error_text = strerror(errno);
    return false;
  }

  static std::unique_ptr<Listing> OpenAt(int dir_fd, const char* name,
                                         int flags) {
    const int fd = openat(dir_fd, name, flags);
    if (fd < 0) return nullptr;
    std::unique_ptr<EntryReader> reader = EntryReader::Open(fd);
    if (!reader) return nullptr;
    return std::make_unique<PosixListing>(std::move(reader));
  }

 private:
  // The directory bit: a folder, or a link whose target is a folder (which
  // is then counted as a folder but never entered).
  bool IsDirectory(const char* name, unsigned char type) const {
    struct stat st;
    if (type == DT_UNKNOWN) {
      if (fstatat(fd_, name, &st, AT_SYMLINK_NOFOLLOW) != 0) return false;
      if (S_ISDIR(st.st_mode)) return true;
      if (!S_ISLNK(st.st_mode)) return false;
      type = DT_LNK;
    }
    if (type == DT_DIR) return true;
    if (type == DT_LNK)
      return fstatat(fd_, name, &st, 0) == 0 && S_ISDIR(st.st_mode);
    return false;
  }

  std::unique_ptr<EntryReader> reader_;
  int fd_;
  const char* current_ = "";
};

}  // namespace

std::unique_ptr<Listing> OpenPosixFolder(const std::string& path) {
  return PosixListing::OpenAt(AT_FDCWD, path.c_str(),
                              O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

bool AppendToPosixFile(const std::string& path, std::string_view text,
                       std::string* reason) {
  const int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC,
                      0644);
  if (fd < 0) {
    *reason = strerror(errno);
    return false;
  }
  // One write for the whole block: with O_APPEND the kernel places it at the
  // end in one piece, so concurrent runs do not interleave inside a block.
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      *reason = strerror(errno);
      close(fd);
      return false;
    }
    done += static_cast<size_t>(n);
  }
  if (close(fd) != 0) {
    *reason = strerror(errno);
    return false;
  }
  return true;
}
