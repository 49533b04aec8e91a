// A folder of a walk, listed a chunk at a time, as both platforms list
// them. With a read-ahead pool, the chunks, the subfolders the walk will
// enter and the facts of the files it will read come from the pool, read
// ahead of the walk or by the walk when it gets there first; without one,
// the listing reads them itself. A platform adds what acts on the current
// entry: reading its facts now, removing it, judging a top folder.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/platform.h"
#include "platform/read_ahead.h"

class ChunkedListing : public Listing {
 public:
  ChunkedListing(FolderTasks& tasks, std::shared_ptr<Folder> folder,
                 std::shared_ptr<ListScratch> scratch,
                 std::shared_ptr<ReadAheadPool> pool);
  ~ChunkedListing() override;

  bool Next(DirEntry* entry, int64_t* error_number,
            std::string* error_text) final;
  std::unique_ptr<Listing> OpenCurrentFolder(int64_t* error_number,
                                             std::string* error_text) final;
  bool CurrentIsNotAFolder() const final { return not_a_folder_; }
  void ReadAhead(const ReadAheadPlan& plan) final;
  std::unique_ptr<PendingRemoval> RemoveCurrentLater(
      const RemovalRule& rule) final;

 protected:
  // A listing of the same platform for `child`, a subfolder just opened.
  virtual std::unique_ptr<Listing> MakeChild(
      std::shared_ptr<Folder> child, std::shared_ptr<ListScratch> scratch,
      std::shared_ptr<ReadAheadPool> pool) = 0;
  // The pool's limits on this platform.
  virtual ReadAheadLimits Limits() = 0;
  // The platform's wording of its failure `error`.
  std::string ErrorText(int64_t error) { return tasks_.ErrorText(error); }

  const Folder& folder() const { return *folder_; }
  // The current entry's chunk and its index in it.
  const Chunk& chunk() const { return *chunk_; }
  uint32_t current() const { return static_cast<uint32_t>(pos_ - 1); }
  // The current entry's name, NUL-terminated.
  const char* current_name() const { return current_; }

 private:
  // The next chunk, read by the walk alone; null at the end of the folder,
  // and on a failure with `*error` set.
  std::shared_ptr<Chunk> ReadNextChunk(int64_t* error);

  FolderTasks& tasks_;
  // The last listing of a walk to go stops the pool's threads.
  std::shared_ptr<ReadAheadPool> pool_;
  // The walk's thread's buffers for listing, one for the walk.
  std::shared_ptr<ListScratch> scratch_;
  std::shared_ptr<Folder> folder_;
  std::shared_ptr<Chunk> chunk_;
  size_t pos_ = 0;  // past the current entry in `chunk_`
  const char* current_ = "";
  bool not_a_folder_ = false;  // what the last OpenCurrentFolder found
};
