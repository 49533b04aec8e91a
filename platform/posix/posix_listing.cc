// Listing, file times and deletion on POSIX: every folder is opened relative
// to its parent's open handle and every file is removed through that handle,
// so a folder renamed or swapped for a link during the walk cannot redirect
// the walk or a deletion anywhere else.
#include "platform/posix/posix_listing.h"
#include "platform/chunked_listing.h"
#include "platform/posix/posix_folder.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <string_view>
#include <utility>

namespace {

PosixFolderTasks& Tasks() {
  static PosixFolderTasks tasks;
  return tasks;
}

class PosixListing final : public ChunkedListing {
 public:
  PosixListing(std::shared_ptr<Folder> folder,
               std::shared_ptr<ListScratch> scratch,
               std::shared_ptr<ReadAheadPool> pool)
      : ChunkedListing(Tasks(), std::move(folder), std::move(scratch),
                       std::move(pool)) {}

  bool ReadCurrent(EntryFacts* facts, int64_t* error_number,
                   std::string* error_text) override {
    int error = 0;
    if (ReadFacts(fd(), current_name(), facts, &error)) return true;
    *error_number = error;
    *error_text = strerror(error);
    return false;
  }

  bool RemoveCurrent(int64_t* error_number, std::string* error_text) override {
    if (unlinkat(fd(), current_name(), 0) == 0) return true;
    *error_number = errno;
    *error_text = strerror(errno);
    return false;
  }

  TopFolderVerdict JudgeAsTopFolder() override {
    struct stat here, root;
    if (fstat(fd(), &here) == 0 && stat("/", &root) == 0 &&
        here.st_dev == root.st_dev && here.st_ino == root.st_ino)
      return TopFolderVerdict::kFileSystemRoot;
    return foreign_link_ ? TopFolderVerdict::kForeignLink
                         : TopFolderVerdict::kAllowed;
  }

  std::string FinalPath() override { return PathOfDescriptor(fd()); }

  // Named through a link that neither the user nor root owns.
  void MarkForeignLink() { foreign_link_ = true; }

 private:
  std::unique_ptr<Listing> MakeChild(
      std::shared_ptr<Folder> child, std::shared_ptr<ListScratch> scratch,
      std::shared_ptr<ReadAheadPool> pool) override {
    return std::make_unique<PosixListing>(std::move(child), std::move(scratch),
                                          std::move(pool));
  }
  ReadAheadLimits Limits() override { return PosixReadAheadLimits(); }
  int fd() const { return OpenOf(folder()).fd; }

  bool foreign_link_ = false;
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
                                         std::string* error_text,
                                         int64_t* error_number) {
  // Links on the way are the system's and the user's business (/var/run,
  // say); the last part is judged before the open and again after it, so
  // that a link swapped in meanwhile is judged too.
  struct stat before = {}, after = {};
  const bool foreign_before = IsForeignLink(path, &before);
  const int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  dev_t device;
  bool mount_root;
  if (fd < 0 || !IdentifyOpenFolder(fd, &device, &mount_root)) {
    const int error = errno;
    if (error_number) *error_number = error;
    if (error_text) *error_text = strerror(error);
    if (fd >= 0) close(fd);
    return nullptr;
  }
  auto folder = std::make_shared<Folder>();
  folder->open = std::make_unique<PosixFolder>(fd, device);
  folder->opened = Folder::Opened::kYes;
  std::shared_ptr<ListScratch> scratch = Tasks().MakeScratch();
  auto listing = std::make_unique<PosixListing>(std::move(folder),
                                                std::move(scratch), nullptr);
  const bool foreign_after = IsForeignLink(path, &after);
  if (foreign_before || foreign_after ||
      (S_ISLNK(before.st_mode) != S_ISLNK(after.st_mode)) ||
      (S_ISLNK(before.st_mode) && before.st_ino != after.st_ino))
    listing->MarkForeignLink();
  return listing;
}
