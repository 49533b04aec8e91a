// Listing, file times and deletion on POSIX: every folder is opened relative
// to its parent's open handle and every file is removed through that handle,
// so a folder renamed or swapped for a link during the walk cannot redirect
// the walk or a deletion anywhere else.
#include "platform/posix/posix_listing.h"
#include "platform/posix/read_ahead.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <string_view>
#include <utility>

namespace {

// A folder of the walk, listed a chunk at a time. With a read-ahead pool,
// the chunks, the subfolders the walk will enter and the facts of the files
// it will read come from the pool, read ahead of the walk or by the walk
// when it gets there first; without one, the listing reads them itself.
class PosixListing : public Listing {
 public:
  PosixListing(std::shared_ptr<Folder> folder,
               std::shared_ptr<ListScratch> scratch,
               std::shared_ptr<ReadAheadPool> pool)
      : pool_(std::move(pool)),
        scratch_(std::move(scratch)),
        folder_(std::move(folder)) {}
  ~PosixListing() override {
    if (pool_) pool_->Leave(*folder_);
  }

  bool Next(DirEntry* entry, std::string* error_text) override {
    while (!chunk_ || pos_ >= chunk_->entries.size()) {
      // The chunk done with goes first: a waiting level holds one chunk.
      chunk_.reset();
      int error = 0;
      chunk_ = pool_ ? pool_->TakeChunk(folder_, *scratch_, &error)
                     : ReadNextChunk(*folder_, *scratch_, &error);
      if (!chunk_) {
        if (error != 0) *error_text = strerror(error);
        return false;
      }
      pos_ = 0;
    }
    const Chunk::Entry& e = chunk_->entries[pos_++];
    current_ = chunk_->names.get() + e.name;
    entry->name = std::string_view(current_, e.length);
    entry->is_dir = e.is_dir;
    entry->early = pool_ && e.facts >= 0
                       ? pool_->TakeFacts(*folder_, *chunk_,
                                          static_cast<uint32_t>(e.facts))
                       : nullptr;
    return true;
  }

  std::unique_ptr<Listing> OpenCurrentFolder(std::string* error_text) override {
    const Chunk::Entry& e = chunk_->entries[pos_ - 1];
    std::shared_ptr<Folder> child;
    int error = 0;
    // A folder the plan did not name is read by the walk alone.
    std::shared_ptr<ReadAheadPool> pool = e.child >= 0 ? pool_ : nullptr;
    if (pool) {
      // Taken from the chunk, so that the folder is closed as soon as the
      // walk is done with it, not when it is done with this chunk.
      child = std::move(chunk_->children[e.child]);
      if (!pool->TakeChild(folder_, *child, current_, &error)) child.reset();
    } else {
      child = std::make_shared<Folder>();
      OpenSubfolder(*folder_, current_, child.get());
      if (child->opened == Folder::Opened::kFailed) error = child->open_error;
      if (child->opened != Folder::Opened::kYes) child.reset();
    }
    if (!child) {
      if (error != 0) *error_text = strerror(error);
      return nullptr;
    }
    return std::make_unique<PosixListing>(std::move(child), scratch_,
                                          std::move(pool));
  }

  bool ReadCurrent(EntryFacts* facts, std::string* error_text) override {
    int error = 0;
    if (ReadFacts(folder_->fd, current_, facts, &error)) return true;
    *error_text = strerror(error);
    return false;
  }

  bool RemoveCurrent(int64_t* error_number, std::string* error_text) override {
    if (unlinkat(folder_->fd, current_, 0) == 0) return true;
    *error_number = errno;
    *error_text = strerror(errno);
    return false;
  }

  TopFolderVerdict JudgeAsTopFolder() override {
    struct stat here, root;
    if (fstat(folder_->fd, &here) == 0 && stat("/", &root) == 0 &&
        here.st_dev == root.st_dev && here.st_ino == root.st_ino)
      return TopFolderVerdict::kFileSystemRoot;
    return foreign_link_ ? TopFolderVerdict::kForeignLink
                         : TopFolderVerdict::kAllowed;
  }

  void ReadAhead(const ReadAheadPlan& plan) override {
    if (pool_ || folder_->chunks_read != 0) return;
    folder_->place = std::make_shared<WalkPlace>();
    pool_ = std::make_shared<ReadAheadPool>(plan, folder_);
  }

  // Named through a link that neither the user nor root owns.
  void MarkForeignLink() { foreign_link_ = true; }

 private:
  // The last listing of a walk to go stops the pool's threads.
  std::shared_ptr<ReadAheadPool> pool_;
  // The walk's thread's buffers for reading records, one for the walk.
  std::shared_ptr<ListScratch> scratch_;
  std::shared_ptr<Folder> folder_;
  std::shared_ptr<Chunk> chunk_;
  size_t pos_ = 0;  // past the current entry in `chunk_`
  const char* current_ = "";  // its name, NUL-terminated
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
                                         std::string* error_text) {
  // Links on the way are the system's and the user's business (/var/run,
  // say); the last part is judged before the open and again after it, so
  // that a link swapped in meanwhile is judged too.
  struct stat before = {}, after = {};
  const bool foreign_before = IsForeignLink(path, &before);
  const int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  dev_t device;
  bool mount_root;
  if (fd < 0 || !IdentifyOpenFolder(fd, &device, &mount_root)) {
    if (error_text) *error_text = strerror(errno);
    if (fd >= 0) close(fd);
    return nullptr;
  }
  auto folder = std::make_shared<Folder>();
  folder->fd = fd;
  folder->device = device;
  folder->opened = Folder::Opened::kYes;
  auto listing = std::make_unique<PosixListing>(
      std::move(folder), std::make_shared<ListScratch>(), nullptr);
  const bool foreign_after = IsForeignLink(path, &after);
  if (foreign_before || foreign_after ||
      (S_ISLNK(before.st_mode) != S_ISLNK(after.st_mode)) ||
      (S_ISLNK(before.st_mode) && before.st_ino != after.st_ino))
    listing->MarkForeignLink();
  return listing;
}
