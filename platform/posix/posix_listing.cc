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
#include <sys/sysmacros.h>
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
  // folder, and on a failure with `*error` set to its errno.
  bool Next(std::string_view* name, unsigned char* type, int* error) {
    if (pos_ >= end_) {
      if (capacity_ < kBufferBytes) {
        buffer_.reset(new char[kBufferBytes]);
        capacity_ = kBufferBytes;
      }
      const long n = syscall(SYS_getdents64, fd_, buffer_.get(), kBufferBytes);
      if (n < 0) *error = errno;
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

  // Called while the walk goes down into a subfolder and this folder waits:
  // the records not yet read move to a buffer of their own size, so a deep
  // tree holds a few bytes per waiting folder instead of a whole buffer.
  // Names it returned before are no longer valid.
  void Park() {
    if (capacity_ < kBufferBytes) return;  // already small
    const size_t rest = end_ - pos_;
    std::unique_ptr<char[]> parked(new char[rest > 0 ? rest : 1]);
    std::memcpy(parked.get(), buffer_.get() + pos_, rest);
    buffer_ = std::move(parked);
    capacity_ = rest;
    end_ = rest;
    pos_ = 0;
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
  size_t capacity_ = kBufferBytes;
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

  bool Next(std::string_view* name, unsigned char* type, int* error) {
    errno = 0;
    const dirent* d = readdir(dir_);
    if (!d) {
      *error = errno;
      return false;
    }
    *name = d->d_name;
    *type = d->d_type;
    return true;
  }

  void Park() {}

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

// The device of an open folder and whether it is the root of a mount.
bool Identify(int fd, dev_t* device, bool* mount_root) {
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

class PosixListing : public Listing {
 public:
  PosixListing(std::unique_ptr<EntryReader> reader, dev_t device)
      : reader_(std::move(reader)), fd_(reader_->fd()), device_(device) {}

  bool Next(DirEntry* entry, std::string* error_text) override {
    unsigned char type;
    std::string_view name;
    int error = 0;
    if (!reader_->Next(&name, &type, &error)) {
      if (error != 0) *error_text = strerror(error);
      return false;
    }
    // A copy of its own, in a buffer that only ever grows: the reader's
    // buffer may shrink while the walk is below this folder.
    if (name.size() >= name_capacity_) {
      name_capacity_ = name.size() + 64;
      name_.reset(new char[name_capacity_]);
    }
    std::memcpy(name_.get(), name.data(), name.size());
    name_[name.size()] = '\0';
    current_ = name_.get();
    entry->name = std::string_view(current_, name.size());
    entry->is_dir = IsDirectory(current_, type);
    return true;
  }

  std::unique_ptr<Listing> OpenCurrentFolder(std::string* error_text) override {
    // O_NOFOLLOW: a link to a folder is never entered.
    const int fd =
        openat(fd_, current_, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
      // A link (ELOOP; ENOTDIR when it leads to a folder), or an entry that
      // is gone or no longer a folder, is not entered and not a failure.
      if (errno != ELOOP && errno != ENOTDIR && errno != ENOENT)
        *error_text = strerror(errno);
      return nullptr;
    }
    // A volume mounted here (a bind mount, a network share, another disk)
    // is not this tree's to empty: counted, never entered. Checked on the
    // opened folder, so a mount made after the check cannot slip in.
    dev_t device;
    bool mount_root;
    if (!Identify(fd, &device, &mount_root)) {
      *error_text = strerror(errno);
      close(fd);
      return nullptr;
    }
    if (device != device_ || mount_root) {
      close(fd);
      return nullptr;
    }
    std::unique_ptr<Listing> sub = Wrap(fd, device, error_text);
    if (sub) reader_->Park();
    return sub;
  }

  bool ReadCurrent(EntryFacts* facts, std::string* error_text) override {
    FileTimes& times = facts->times;
#ifdef STATX_BTIME
    struct statx sx;
    if (statx(fd_, current_, AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT,
              STATX_TYPE | STATX_INO | STATX_MTIME | STATX_BTIME, &sx) == 0) {
      times.last_write = FromTimespec(sx.stx_mtime.tv_sec, sx.stx_mtime.tv_nsec);
      times.creation =
          (sx.stx_mask & STATX_BTIME)
              ? FromTimespec(sx.stx_btime.tv_sec, sx.stx_btime.tv_nsec)
              : times.last_write;
      facts->identity = FileIdentity{makedev(sx.stx_dev_major, sx.stx_dev_minor),
                                     sx.stx_ino,
                                     static_cast<uint32_t>(sx.stx_mode & S_IFMT)};
      return true;
    }
    if (errno != ENOSYS) {
      *error_text = strerror(errno);
      return false;
    }
#endif
    struct stat st;
    if (fstatat(fd_, current_, &st, AT_SYMLINK_NOFOLLOW) != 0) {
      *error_text = strerror(errno);
      return false;
    }
    times.last_write = FromTimespec(st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
    times.creation = times.last_write;
    facts->identity = FileIdentity{st.st_dev, st.st_ino,
                                   static_cast<uint32_t>(st.st_mode & S_IFMT)};
    return true;
  }

  bool RemoveCurrent(int64_t* error_number, std::string* error_text) override {
    if (unlinkat(fd_, current_, 0) == 0) return true;
    *error_number = errno;
    *error_text = strerror(errno);
    return false;
  }

  TopFolderVerdict JudgeAsTopFolder() override {
    struct stat here, root;
    if (fstat(fd_, &here) == 0 && stat("/", &root) == 0 &&
        here.st_dev == root.st_dev && here.st_ino == root.st_ino)
      return TopFolderVerdict::kFileSystemRoot;
    return foreign_link_ ? TopFolderVerdict::kForeignLink
                         : TopFolderVerdict::kAllowed;
  }

  // Named through a link that neither the user nor root owns.
  void MarkForeignLink() { foreign_link_ = true; }

  // A listing of the open folder `fd`, which it takes over.
  static std::unique_ptr<PosixListing> Wrap(int fd, dev_t device,
                                            std::string* error_text) {
    std::unique_ptr<EntryReader> reader = EntryReader::Open(fd);
    if (!reader) {
      if (error_text) *error_text = strerror(errno);
      return nullptr;
    }
    return std::make_unique<PosixListing>(std::move(reader), device);
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
  dev_t device_;  // every folder of the walk is on the top folder's device
  const char* current_ = "";  // the current entry's name, NUL-terminated
  bool foreign_link_ = false;
  std::unique_ptr<char[]> name_;
  size_t name_capacity_ = 0;
};

}  // namespace

namespace {

// Whether `path` names, as its last part, a link that neither the user
// running the sweep nor root owns; `*link` receives what lstat said of it.
bool IsForeignLink(const std::string& path, struct stat* link) {
  std::string name = path;
  while (name.size() > 1 && name.back() == '/') name.pop_back();
  if (lstat(name.c_str(), link) != 0) *link = {};
  if (!S_ISLNK(link->st_mode)) return false;
  return link->st_uid != geteuid() && link->st_uid != 0;
}

}  // namespace

std::unique_ptr<Listing> OpenPosixFolder(const std::string& path,
                                         std::string* error_text) {
  // Links on the way are the system's and the user's business (/var/run,
  // say); the last part is judged before the open and again after it, so
  // that a link swapped in meanwhile is judged too.
  struct stat before = {}, after = {};
  const bool foreign_before = IsForeignLink(path, &before);
  const int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  dev_t device;
  bool mount_root;
  if (fd < 0 || !Identify(fd, &device, &mount_root)) {
    if (error_text) *error_text = strerror(errno);
    if (fd >= 0) close(fd);
    return nullptr;
  }
  std::unique_ptr<PosixListing> listing =
      PosixListing::Wrap(fd, device, error_text);
  if (!listing) return nullptr;
  const bool foreign_after = IsForeignLink(path, &after);
  if (foreign_before || foreign_after ||
      (S_ISLNK(before.st_mode) != S_ISLNK(after.st_mode)) ||
      (S_ISLNK(before.st_mode) && before.st_ino != after.st_ino))
    listing->MarkForeignLink();
  return listing;
}
