#include "platform/chunked_listing.h"

#include <new>
#include <string_view>
#include <utility>

ChunkedListing::ChunkedListing(FolderTasks& tasks,
                               std::shared_ptr<Folder> folder,
                               std::shared_ptr<ListScratch> scratch,
                               std::shared_ptr<ReadAheadPool> pool)
    : tasks_(tasks),
      pool_(std::move(pool)),
      scratch_(std::move(scratch)),
      folder_(std::move(folder)) {}

ChunkedListing::~ChunkedListing() {
  if (pool_) pool_->Leave(folder_);
}

std::shared_ptr<Chunk> ChunkedListing::ReadNextChunk(int64_t* error) {
  Folder& folder = *folder_;
  if (folder.ended) {
    *error = std::exchange(folder.list_error, 0);
    return nullptr;
  }
  return tasks_.List(folder, folder.chunks_read++, nullptr, *scratch_,
                     &folder.ended, &folder.list_error);
}

bool ChunkedListing::Next(DirEntry* entry, int64_t* error_number,
                          std::string* error_text) {
  while (!chunk_ || pos_ >= chunk_->entries.size()) {
    // The chunk done with goes first: a waiting level holds one chunk.
    chunk_.reset();
    int64_t error = 0;
    chunk_ = pool_ ? pool_->TakeChunk(folder_, *scratch_, &error)
                   : ReadNextChunk(&error);
    if (!chunk_) {
      if (error != 0) {
        *error_number = error;
        *error_text = ErrorText(error);
      }
      return false;
    }
    pos_ = 0;
  }
  const Chunk::Entry& e = chunk_->entries[pos_++];
  current_ = chunk_->names.get() + e.name;
  entry->name = std::string_view(current_, e.length);
  entry->is_dir = e.is_dir;
  entry->type_unsure = e.type_unsure;
  entry->early = pool_ && e.facts >= 0
                     ? pool_->TakeFacts(*folder_, *chunk_,
                                        static_cast<uint32_t>(e.facts))
                     : nullptr;
  return true;
}

std::unique_ptr<Listing> ChunkedListing::OpenCurrentFolder(
    int64_t* error_number, std::string* error_text) {
  const Chunk::Entry& e = chunk_->entries[current()];
  not_a_folder_ = false;
  std::shared_ptr<Folder> child;
  int64_t error = 0;
  // A folder the plan did not name is read by the walk alone.
  std::shared_ptr<ReadAheadPool> pool = e.child >= 0 ? pool_ : nullptr;
  if (pool) {
    // Taken from the chunk, so that the folder is closed as soon as the
    // walk is done with it, not when it is done with this chunk.
    child = std::move(chunk_->children[e.child]);
    if (!pool->TakeChild(folder_, *chunk_, current(), *child, &error)) {
      not_a_folder_ = child->opened == Folder::Opened::kNotAFolder;
      child.reset();
    }
  } else {
    child = std::make_shared<Folder>();
    tasks_.Open(*folder_, *chunk_, current(), child.get());
    if (child->opened == Folder::Opened::kFailed) error = child->open_error;
    not_a_folder_ = child->opened == Folder::Opened::kNotAFolder;
    if (child->opened != Folder::Opened::kYes) child.reset();
  }
  if (!child) {
    if (error != 0) {
      *error_number = error;
      *error_text = ErrorText(error);
    }
    return nullptr;
  }
  return MakeChild(std::move(child), scratch_, std::move(pool));
}

void ChunkedListing::ReadAhead(const ReadAheadPlan& plan) {
  if (pool_ || folder_->chunks_read != 0) return;
  folder_->place = std::make_shared<WalkPlace>();
  pool_ = std::make_shared<ReadAheadPool>(tasks_, plan, folder_, Limits());
}

std::unique_ptr<PendingRemoval> ChunkedListing::RemoveCurrentLater(
    const RemovalRule& rule) {
  if (pool_) return pool_->HandOver(folder_, chunk_, current(), rule);
  auto made = std::make_unique<MadeRemoval>();
  RemovalOutcome& outcome = made->outcome;
  tasks_.Remove(*folder_, *chunk_, current(), rule, &outcome);
  tasks_.Word(&outcome);
  return made;
}
