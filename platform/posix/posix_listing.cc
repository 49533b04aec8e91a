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

namespace {

constexpr int64_t kEpochTicks = 116444736000000000LL;

FileTime FromTimespec(int64_t seconds, int64_t nanoseconds) {
  return FileTime{seconds * 10000000LL + nanoseconds / 100 + kEpochTicks,
                  true};
}

class PosixListing : public Listing {
 public:
  explicit PosixListing(DIR* dir) : dir_(dir), fd_(dirfd(dir)) {}
  ~PosixListing() override { closedir(dir_); }

  bool Next(DirEntry* entry) override {
    errno = 0;
    const dirent* d = readdir(dir_);
    if (!d) return false;
    current_ = d->d_name;
    entry->name = current_;
    entry->is_dir = IsDirectory(d);
    return true;
  }

  std::unique_ptr<Listing> OpenSubfolder(const DirEntry&,
                                         const std::string&) override {
    // O_NOFOLLOW: a link to a folder is never entered.
    return OpenAt(fd_, current_,
                  O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  }

  FileTimes ReadTimes(const DirEntry&, const std::string&) override {
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

  bool Remove(const DirEntry&, const std::string&, int64_t* error_number,
              std::string* error_text) override {
    if (unlinkat(fd_, current_, 0) == 0) return true;
    *error_number = errno;
    *error_text = strerror(errno);
    return false;
  }

  static std::unique_ptr<Listing> OpenAt(int dir_fd, const char* name,
                                         int flags) {
    const int fd = openat(dir_fd, name, flags);
    if (fd < 0) return nullptr;
    DIR* dir = fdopendir(fd);
    if (!dir) {
      close(fd);
      return nullptr;
    }
    return std::make_unique<PosixListing>(dir);
  }

 private:
  // The directory bit: a folder, or a link whose target is a folder (which
  // is then counted as a folder but never entered).
  bool IsDirectory(const dirent* d) const {
    unsigned char type = d->d_type;
    struct stat st;
    if (type == DT_UNKNOWN) {
      if (fstatat(fd_, d->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) return false;
      if (S_ISDIR(st.st_mode)) return true;
      if (!S_ISLNK(st.st_mode)) return false;
      type = DT_LNK;
    }
    if (type == DT_DIR) return true;
    if (type == DT_LNK)
      return fstatat(fd_, d->d_name, &st, 0) == 0 && S_ISDIR(st.st_mode);
    return false;
  }

  DIR* dir_;
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
