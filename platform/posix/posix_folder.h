// The folders of a walk on POSIX: opened relative to their parent, never
// through a link or across a mount, read a chunk of records at a time, and
// the facts of their files read without following links. What the plain
// walk uses, and what the read-ahead pool runs as its tasks.
#pragma once

#include <sys/types.h>
#ifndef __linux__
#include <dirent.h>
#endif

#include <memory>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/read_ahead.h"

struct PosixFolder final : OpenFolder {
  PosixFolder(int fd, dev_t device) : fd(fd), device(device) {}
  ~PosixFolder() override;
  const int fd;
  const dev_t device;
#ifndef __linux__
  DIR* dir = nullptr;  // made on the first read
#endif
};

// The open folder of `folder`, which must be open.
inline PosixFolder& OpenOf(const Folder& folder) {
  return static_cast<PosixFolder&>(*folder.open);
}

// The device of the open folder `fd` and whether it is the root of a mount.
bool IdentifyOpenFolder(int fd, dev_t* device, bool* mount_root);

// The path the open descriptor `fd` has now, as the kernel names it under
// /proc/self/fd; empty where there is no such name (no /proc, a name too
// long for it).
std::string PathOfDescriptor(int fd);

// The facts of the entry `name` of the open folder `fd`, as they are now,
// without following links; false with `*error` set when they cannot be read.
bool ReadFacts(int fd, const char* name, EntryFacts* facts, int* error);

// The POSIX tasks: folders opened with openat and listed with getdents
// (readdir where there is none), facts read with statx (fstatat).
struct PosixFolderTasks final : FolderTasks {
  std::unique_ptr<ListScratch> MakeScratch() override;
  std::shared_ptr<Chunk> List(Folder& folder, uint32_t index,
                              const ReadAheadPlan* plan, ListScratch& scratch,
                              bool* ended, int64_t* error) override;
  void Open(const Folder& parent, const Chunk& chunk, uint32_t entry,
            Folder* child) override;
  bool OutOfHandles(int64_t open_error) override;
  void Read(const Folder& folder, Chunk& chunk, size_t first,
            size_t end) override;
  void Remove(const Folder& folder, const Chunk& chunk, uint32_t entry,
              const RemovalRule& rule, RemovalOutcome* outcome) override;
  std::string ErrorText(int64_t error) override;

  // Opens the entry `name` of `parent` as Open does.
  static void OpenNamed(const Folder& parent, const char* name, Folder* child);
};

// The limits of a pool on POSIX: each level of the walk holds a descriptor,
// so the limit on them is the depth it can reach, and what is held ahead is
// a small share of it.
ReadAheadLimits PosixReadAheadLimits();
