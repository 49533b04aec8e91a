// Listing, file times and deletion on Windows. The walk holds an open handle
// on every folder it is in. Each subfolder and each file is opened relative
// to its folder's handle by the name exactly as listed, without following a
// reparse point, and checked on the opened handle to be the entry the
// listing named (its file ID); a file is deleted through that handle. A
// folder renamed or swapped for a link or junction during the walk can
// therefore neither lead the walk out of the tree nor redirect a deletion.
#include "platform/win32/win32_listing.h"
#include "platform/win32/win32_listing_internal.h"

#include <windows.h>
#include <winternl.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <cwchar>
#include <memory>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/chunked_listing.h"
#include "platform/read_ahead.h"
#include "platform/win32/text.h"

namespace {

// The few NT status values the walk tells apart.
constexpr NTSTATUS kStatusObjectNameNotFound =
    static_cast<NTSTATUS>(0xC0000034);
constexpr NTSTATUS kStatusObjectPathNotFound =
    static_cast<NTSTATUS>(0xC000003A);
constexpr NTSTATUS kStatusDeletePending = static_cast<NTSTATUS>(0xC0000056);
constexpr NTSTATUS kStatusFileIsADirectory = static_cast<NTSTATUS>(0xC00000BA);
constexpr NTSTATUS kStatusNotADirectory = static_cast<NTSTATUS>(0xC0000103);
constexpr NTSTATUS kStatusObjectNameInvalid = static_cast<NTSTATUS>(0xC0000033);

// Deletion with POSIX semantics (the name goes at once, even while others
// hold the file open) is newer than the Windows version the build targets,
// so its class and flags are spelled out here; older systems and file
// systems that lack it refuse it, and the classic disposition is used.
constexpr auto kFileDispositionInfoEx =
    static_cast<FILE_INFO_BY_HANDLE_CLASS>(21);
constexpr DWORD kDispositionDelete = 0x1;
constexpr DWORD kDispositionPosixSemantics = 0x2;
struct DispositionEx {
  DWORD flags;
};


FileTime FromFiletime(const FILETIME& ft) {
  const uint64_t ticks =
      (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
  // A zero time means the file system recorded none; it must not be read as
  // 1 January 1601 and make the file look ancient. A time from 2^63 ticks
  // on (past the year 30828) has no age either: it is beyond what the tick
  // count holds, rather than a negative count.
  if (ticks == 0 || ticks > static_cast<uint64_t>(INT64_MAX)) return FileTime{};
  return FileTime{static_cast<int64_t>(ticks), true};
}

FILETIME Filetime(const LARGE_INTEGER& time) {
  FILETIME ft;
  ft.dwLowDateTime = time.LowPart;
  ft.dwHighDateTime = static_cast<DWORD>(time.HighPart);
  return ft;
}

uint64_t FileIdOf(const BY_HANDLE_FILE_INFORMATION& info) {
  return (static_cast<uint64_t>(info.nFileIndexHigh) << 32) |
         info.nFileIndexLow;
}

// Whether an opened entry is the one the listing named, `id` on the walk's
// volume `volume`. A file system that numbers no files in its listings (an
// ID of 0) leaves only the other checks.
bool IsListedEntry(const BY_HANDLE_FILE_INFORMATION& info, DWORD volume,
                   uint64_t id) {
  return info.dwVolumeSerialNumber == volume && (id == 0 || FileIdOf(info) == id);
}

class UniqueHandle {
 public:
  UniqueHandle() = default;
  explicit UniqueHandle(HANDLE handle) : handle_(handle) {}
  ~UniqueHandle() { reset(); }
  UniqueHandle(UniqueHandle&& other) noexcept
      : handle_(std::exchange(other.handle_, nullptr)) {}
  UniqueHandle& operator=(UniqueHandle&&) = delete;
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;

  HANDLE get() const { return handle_; }
  void reset(HANDLE handle = nullptr) {
    if (handle_) CloseHandle(handle_);
    handle_ = handle;
  }

 private:
  HANDLE handle_ = nullptr;
};

// Opens `name`, one entry of the open folder `folder`, relative to the
// folder's handle: nothing of the path above it is looked up again. A
// reparse point (a link, a junction, a mounted volume) is opened as itself,
// never followed. The name is passed exactly as the folder listed it and
// matched as it is, case included where the file system allows.
NTSTATUS OpenInFolder(HANDLE folder, std::wstring_view name,
                      ACCESS_MASK access, ULONG share, ULONG options,
                      UniqueHandle* opened) {
  if (name.size() > 0x7FFF) return kStatusObjectNameInvalid;
  UNICODE_STRING text;
  text.Buffer = const_cast<PWSTR>(name.data());
  text.Length = text.MaximumLength =
      static_cast<USHORT>(name.size() * sizeof(wchar_t));
  OBJECT_ATTRIBUTES object;
  InitializeObjectAttributes(&object, &text, 0, folder, nullptr);
  IO_STATUS_BLOCK io = {};
  HANDLE handle = nullptr;
  const NTSTATUS status = NtCreateFile(
      &handle, access | SYNCHRONIZE, &object, &io, nullptr, 0, share, FILE_OPEN,
      options | FILE_OPEN_REPARSE_POINT | FILE_SYNCHRONOUS_IO_NONALERT, nullptr,
      0);
  if (status >= 0) opened->reset(handle);
  return status;
}

extern "C" NTSTATUS NTAPI NtQueryDirectoryFile(
    HANDLE file, HANDLE event, PIO_APC_ROUTINE apc_routine, PVOID apc_context,
    PIO_STATUS_BLOCK io, PVOID information, ULONG length,
    FILE_INFORMATION_CLASS information_class, BOOLEAN return_single_entry,
    PUNICODE_STRING file_name, BOOLEAN restart_scan);

// Looks at the entry `name` of the open folder `folder` once more, through a
// handle of its own (so that the folder's own listing keeps its place),
// without opening the entry: true when it is still a folder, not a reparse
// point, numbered `id` (0: the file system numbers none). Windows opens a
// link as itself and the check on the opened handle would do; Wine opens a
// link to a folder as its target even when asked for the link, so what a
// name leads to is seen before it is opened too.
bool StillTheListedFolder(HANDLE folder, const std::wstring& name,
                          uint64_t id) {
  const HANDLE probe = ReOpenFile(
      folder, FILE_LIST_DIRECTORY,
      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
      FILE_FLAG_BACKUP_SEMANTICS);
  if (probe == INVALID_HANDLE_VALUE) return true;  // the opened handle is checked
  UniqueHandle closing(probe);
  UNICODE_STRING pattern;
  pattern.Buffer = const_cast<PWSTR>(name.data());
  pattern.Length = pattern.MaximumLength =
      static_cast<USHORT>(name.size() * sizeof(wchar_t));
  constexpr ULONG kBytes = 16 * 1024;
  std::unique_ptr<uint64_t[]> buffer(new uint64_t[kBytes / 8]);
  // The name is a pattern to the system: where a file system allows
  // wildcard characters in names, other entries may come too.
  for (bool first = true;; first = false) {
    IO_STATUS_BLOCK io = {};
    const NTSTATUS status = NtQueryDirectoryFile(
        probe, nullptr, nullptr, nullptr, &io, buffer.get(), kBytes,
        FileIdBothDirectoryInformation, FALSE, first ? &pattern : nullptr,
        first ? TRUE : FALSE);
    if (status < 0) return false;  // gone, or no longer readable
    const char* bytes = reinterpret_cast<const char*>(buffer.get());
    const size_t filled = std::min<size_t>(io.Information, kBytes);
    for (size_t at = 0;;) {
      const auto* record = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(bytes + at);
      if (at + offsetof(FILE_ID_BOTH_DIR_INFO, FileName) > filled ||
          record->FileNameLength >
              filled - at - offsetof(FILE_ID_BOTH_DIR_INFO, FileName))
        return false;
      if (std::wstring_view(record->FileName,
                            record->FileNameLength / sizeof(wchar_t)) == name)
        return (record->FileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
               !(record->FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
               (id == 0 ||
                static_cast<uint64_t>(record->FileId.QuadPart) == id);
      if (record->NextEntryOffset == 0) break;
      at += record->NextEntryOffset;
    }
  }
}

// An open folder of the walk, on the volume with serial number `volume`.
struct Win32Folder final : OpenFolder {
  Win32Folder(UniqueHandle handle, DWORD volume)
      : handle(std::move(handle)), volume(volume) {}
  const UniqueHandle handle;
  const DWORD volume;  // every folder of the walk is on the top folder's volume
};

const Win32Folder& OpenOf(const Folder& folder) {
  return static_cast<const Win32Folder&>(*folder.open);
}

// What a chunk holds of its entries on Windows besides their names: each
// entry's name as listed, its file ID and its attributes.
struct Win32Extra final : ChunkExtra {
  std::wstring names;             // each name as listed, one after the other
  std::vector<uint32_t> name_at;  // per entry, its name's start; one more at the end
  std::vector<uint64_t> ids;
  std::vector<DWORD> attributes;

  std::wstring NameOf(uint32_t entry) const { return std::wstring(NameView(entry)); }
  std::wstring_view NameView(uint32_t entry) const {
    return std::wstring_view(names).substr(name_at[entry],
                                           name_at[entry + 1] - name_at[entry]);
  }
};

const Win32Extra& ExtraOf(const Chunk& chunk) {
  return static_cast<const Win32Extra&>(*chunk.extra);
}

// The buffers of one thread that lists folders.
struct Win32Scratch final : ListScratch {
  // A buffer of 8-byte words, as much as one call may return from a
  // network share: the records are aligned to 8 bytes.
  static constexpr size_t kBufferBytes = 64 * 1024;
  std::unique_ptr<uint64_t[]> buffer{new uint64_t[kBufferBytes / 8]};
  std::string names;
  std::vector<Chunk::Entry> entries;
  std::vector<FileTimes> times;
};

// The record at `at` of the `filled` bytes of `bytes`, or null when it does
// not lie whole in them.
const FILE_ID_BOTH_DIR_INFO* RecordAt(const char* bytes, size_t filled,
                                      size_t at) {
  const size_t header = offsetof(FILE_ID_BOTH_DIR_INFO, FileName);
  if (at % 8 != 0 || at > filled || filled - at < header) return nullptr;
  const auto* record = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(bytes + at);
  if (record->FileNameLength > filled - at - header) return nullptr;
  return record;
}

FileIdentity IdentityOf(const BY_HANDLE_FILE_INFORMATION& info) {
  return FileIdentity{
      info.dwVolumeSerialNumber, FileIdOf(info),
      info.dwFileAttributes &
          (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)};
}

// The facts of an entry opened as `file`.
void FactsOf(const BY_HANDLE_FILE_INFORMATION& info, EntryFacts* facts) {
  facts->times.creation = FromFiletime(info.ftCreationTime);
  facts->times.last_write = FromFiletime(info.ftLastWriteTime);
  facts->identity = IdentityOf(info);
}

// Reads the facts of `name`, an entry of the open `folder`, from the entry
// itself, not from the listing: a directory entry's times can lag behind a
// file held open for writing, and a second reading must see what is there
// now. 0, or the error that stopped it.
DWORD ReadEntryFacts(HANDLE folder, std::wstring_view name, EntryFacts* facts) {
  UniqueHandle file;
  const NTSTATUS status = OpenInFolder(
      folder, name, FILE_READ_ATTRIBUTES,
      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
      FILE_OPEN_FOR_BACKUP_INTENT, &file);
  if (status < 0) return RtlNtStatusToDosError(status);
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(file.get(), &info)) return GetLastError();
  FactsOf(info, facts);
  return ERROR_SUCCESS;
}

// Opens `name`, an entry of the open `folder`, to delete it. A link is
// opened, and deleted, as itself. Not shared for deletion, so that nobody
// can rename the file between the checks and its deletion.
NTSTATUS OpenToDelete(HANDLE folder, std::wstring_view name, UniqueHandle* file) {
  return OpenInFolder(folder, name, DELETE | FILE_READ_ATTRIBUTES,
                      FILE_SHARE_READ | FILE_SHARE_WRITE,
                      FILE_NON_DIRECTORY_FILE, file);
}

// Deletes the file open as `file` when its handle closes: 0, or the error.
// A read-only file is refused (access denied), as DeleteFile refuses it:
// the attribute is the owner's word.
DWORD MarkForDeletion(HANDLE file) {
  DispositionEx ex = {kDispositionDelete | kDispositionPosixSemantics};
  if (SetFileInformationByHandle(file, kFileDispositionInfoEx, &ex, sizeof ex))
    return ERROR_SUCCESS;
  const DWORD e = GetLastError();
  if (e != ERROR_INVALID_PARAMETER && e != ERROR_NOT_SUPPORTED &&
      e != ERROR_INVALID_FUNCTION && e != ERROR_CALL_NOT_IMPLEMENTED)
    return e;
  FILE_DISPOSITION_INFO classic = {TRUE};
  if (SetFileInformationByHandle(file, FileDispositionInfo, &classic,
                                 sizeof classic))
    return ERROR_SUCCESS;
  return GetLastError();
}

// Deletes `name`, the entry listed with `id` in the open `folder`, through a
// handle of its own; on failure sets `*error`, and `*changed` when it is no
// longer the entry listed.
bool RemoveEntry(const Win32Folder& folder, std::wstring_view name, uint64_t id,
                 DWORD* error, const char** changed) {
  UniqueHandle file;
  const NTSTATUS status = OpenToDelete(folder.handle.get(), name, &file);
  if (status == kStatusFileIsADirectory) {
    *error = kFileChangedNumber;
    *changed = kFileChangedText;
    return false;
  }
  if (status < 0) {
    *error = RtlNtStatusToDosError(status);
    return false;
  }
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(file.get(), &info)) {
    *error = GetLastError();
    return false;
  }
  if (!IsListedEntry(info, folder.volume, id)) {
    *error = kFileChangedNumber;
    *changed = kFileChangedText;
    return false;
  }
  *error = MarkForDeletion(file.get());
  return *error == ERROR_SUCCESS;  // the file goes when its handle closes
}

// The Windows tasks: each folder listed a buffer of records at a time by
// its handle, with the records' times as the facts of its files, and each
// subfolder opened relative to its parent's handle and checked to be the
// entry listed.
struct Win32FolderTasks final : FolderTasks {
  std::unique_ptr<ListScratch> MakeScratch() override {
    return std::make_unique<Win32Scratch>();
  }

  std::shared_ptr<Chunk> List(Folder& folder, uint32_t index,
                              const ReadAheadPlan* plan,
                              ListScratch& list_scratch, bool* ended,
                              int64_t* error) override {
    auto& scratch = static_cast<Win32Scratch&>(list_scratch);
    const Win32Folder& open = OpenOf(folder);
    auto extra = std::make_unique<Win32Extra>();
    scratch.names.clear();
    scratch.entries.clear();
    scratch.times.clear();
    extra->name_at.push_back(0);
    if (!GetFileInformationByHandleEx(open.handle.get(), FileIdBothDirectoryInfo,
                                      scratch.buffer.get(),
                                      Win32Scratch::kBufferBytes)) {
      const DWORD e = GetLastError();
      // A folder with no entries at all (a drive's empty root has not even
      // "." and "..") answers its first reading with "not found".
      if (e != ERROR_NO_MORE_FILES && !(e == ERROR_FILE_NOT_FOUND && index == 0))
        *error = e;
      *ended = true;
    } else {
      const char* bytes = reinterpret_cast<const char*>(scratch.buffer.get());
      for (size_t at = 0;;) {
        const FILE_ID_BOTH_DIR_INFO* record =
            RecordAt(bytes, Win32Scratch::kBufferBytes, at);
        if (!record) {
          *error = ERROR_INVALID_DATA;
          *ended = true;
          break;
        }
        const std::wstring_view name(record->FileName,
                                     record->FileNameLength / sizeof(wchar_t));
        const std::string utf8 = ToUtf8(name);
        Chunk::Entry e;
        e.name = static_cast<uint32_t>(scratch.names.size());
        e.length = static_cast<uint32_t>(utf8.size());
        e.is_dir = (record->FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        scratch.names += utf8;
        scratch.names += '\0';
        scratch.entries.push_back(e);
        scratch.times.push_back(
            FileTimes{FromFiletime(Filetime(record->CreationTime)),
                      FromFiletime(Filetime(record->LastWriteTime))});
        extra->names += name;
        extra->name_at.push_back(static_cast<uint32_t>(extra->names.size()));
        extra->ids.push_back(static_cast<uint64_t>(record->FileId.QuadPart));
        extra->attributes.push_back(record->FileAttributes);
        if (record->NextEntryOffset == 0) break;
        at += record->NextEntryOffset;
      }
    }
    std::shared_ptr<Chunk> chunk =
        MakeChunk(folder, index, plan, GatheredEntries{scratch.names, &scratch.entries});
    // The records carry the files' times: a file they show not due is
    // passed over without being opened, which on a share saves a round
    // trip or three per file. They may lag behind a file held open for
    // writing, so a file they show due is read again from the entry.
    for (size_t slot = 0; slot < chunk->facts_entry.size(); ++slot) {
      const uint32_t entry = chunk->facts_entry[slot];
      chunk->facts[slot].times = scratch.times[entry];
      chunk->facts[slot].identity = FileIdentity{
          open.volume, extra->ids[entry],
          extra->attributes[entry] &
              (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)};
      chunk->facts_read[slot] = true;
    }
    for (size_t b = 0; b < chunk->Batches(); ++b)
      chunk->batches[b] = Chunk::kDone;
    chunk->bytes += extra->names.size() * sizeof(wchar_t) +
                    extra->name_at.size() * sizeof(uint32_t) +
                    extra->ids.size() * (sizeof(uint64_t) + sizeof(DWORD));
    chunk->extra = std::move(extra);
    return chunk;
  }

  void Open(const Folder& parent, const Chunk& chunk, uint32_t entry,
            Folder* child) override {
    DWORD error = ERROR_SUCCESS;
    UniqueHandle sub = OpenSubfolder(parent, chunk, entry, &error);
    if (sub.get()) {
      child->open = std::make_unique<Win32Folder>(std::move(sub), OpenOf(parent).volume);
      child->opened = Folder::Opened::kYes;
    } else if (error == ERROR_DIRECTORY) {
      // Listed as a folder, but a file: the walk takes it for one.
      child->opened = Folder::Opened::kNotAFolder;
    } else if (error != ERROR_SUCCESS) {
      child->opened = Folder::Opened::kFailed;
      child->open_error = error;
    } else {
      child->opened = Folder::Opened::kSkip;
    }
  }

  bool OutOfHandles(int64_t open_error) override {
    return open_error == ERROR_TOO_MANY_OPEN_FILES ||
           open_error == ERROR_NO_SYSTEM_RESOURCES;
  }

  // Every file's facts came with its listing.
  void Read(const Folder&, Chunk&, size_t, size_t) override {}

  // What decides is read through the handle that deletes, where the file
  // can be opened to delete; where it cannot, it is read as the walk reads
  // it, so that a file that stays is told as the walk would tell it.
  void Remove(const Folder& parent, const Chunk& chunk, uint32_t entry,
              const RemovalRule& rule, RemovalOutcome* outcome) override {
    const Win32Folder& folder = OpenOf(parent);
    const std::wstring_view name = ExtraOf(chunk).NameView(entry);
    UniqueHandle file;
    const NTSTATUS status = OpenToDelete(folder.handle.get(), name, &file);
    BY_HANDLE_FILE_INFORMATION info;
    DWORD error = ERROR_SUCCESS;
    if (status >= 0 && GetFileInformationByHandle(file.get(), &info)) {
      FactsOf(info, &outcome->facts);
    } else {
      const DWORD open_error =
          status < 0 ? RtlNtStatusToDosError(status) : GetLastError();
      file.reset();
      error = ReadEntryFacts(folder.handle.get(), name, &outcome->facts);
      if (error != ERROR_SUCCESS) {
        outcome->kind = RemovalOutcome::kUnreadable;
        outcome->error_number = error;
        return;
      }
      error = status == kStatusFileIsADirectory ? kFileChangedNumber : open_error;
      if (status == kStatusFileIsADirectory) outcome->error_wording = kFileChangedText;
    }
    if (!rule.StillToRemove(outcome->facts)) {
      outcome->kind = RemovalOutcome::kKept;
      outcome->error_wording = nullptr;
      return;
    }
    if (file.get() && !IsListedEntry(info, folder.volume, ExtraOf(chunk).ids[entry])) {
      error = kFileChangedNumber;
      outcome->error_wording = kFileChangedText;
    } else if (file.get()) {
      error = MarkForDeletion(file.get());
    }
    outcome->kind = error == ERROR_SUCCESS ? RemovalOutcome::kRemoved
                                           : RemovalOutcome::kFailed;
    outcome->error_number = error;
  }

  std::string ErrorText(int64_t error) override {
    return SystemErrorText(static_cast<DWORD>(error));
  }

 private:
  // The entry `entry` of `chunk`, a subfolder of `parent`, opened for
  // listing; no handle, with `*error` left alone, when it is not to be
  // entered at all: a link, a volume mounted there, or a folder that has
  // gone meanwhile.
  static UniqueHandle OpenSubfolder(const Folder& parent, const Chunk& chunk,
                                    uint32_t entry, DWORD* error) {
    const Win32Extra& extra = ExtraOf(chunk);
    const Win32Folder& folder = OpenOf(parent);
    const std::wstring name = extra.NameOf(entry);
    // A symbolic link, junction or mounted volume is counted as a folder
    // but never entered: it could lead out of the tree or round in a cycle.
    if (extra.attributes[entry] & FILE_ATTRIBUTE_REPARSE_POINT) return {};
    if (name == L"." || name == L"..") return {};
    if (!StillTheListedFolder(folder.handle.get(), name, extra.ids[entry]))
      return {};
    // Not shared for deletion: while the walk is in it, the folder cannot
    // be renamed, so the paths the log shows stay true.
    UniqueHandle sub;
    const NTSTATUS status = OpenInFolder(
        folder.handle.get(), name, FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
        FILE_SHARE_READ | FILE_SHARE_WRITE,
        FILE_DIRECTORY_FILE | FILE_OPEN_FOR_BACKUP_INTENT, &sub);
    if (status < 0) {
      // Gone or going: nothing to enter, no failure. A file listed as a
      // folder is no failure either: Open tells it by ERROR_DIRECTORY.
      if (status == kStatusNotADirectory)
        *error = ERROR_DIRECTORY;
      else if (status != kStatusObjectNameNotFound &&
               status != kStatusObjectPathNotFound &&
               status != kStatusDeletePending)
        *error = RtlNtStatusToDosError(status);
      return {};
    }
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(sub.get(), &info)) {
      *error = GetLastError();
      return {};
    }
    // What was opened must be the folder that was listed: a link or
    // junction put in its place is opened as itself and shows as a reparse
    // point, another folder moved there has another ID.
    if (!(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
        !IsListedEntry(info, folder.volume, extra.ids[entry]))
      return {};
    return sub;
  }
};

Win32FolderTasks& Tasks() {
  static Win32FolderTasks tasks;
  return tasks;
}

class Win32Listing final : public ChunkedListing {
 public:
  Win32Listing(std::shared_ptr<Folder> folder,
               std::shared_ptr<ListScratch> scratch,
               std::shared_ptr<ReadAheadPool> pool)
      : ChunkedListing(Tasks(), std::move(folder), std::move(scratch),
                       std::move(pool)) {}

  // A drive's root is a place a sweep may start: a scratch drive.
  TopFolderVerdict JudgeAsTopFolder() override {
    return TopFolderVerdict::kAllowed;
  }

  std::string FinalPath() override { return FinalPathOfHandle(handle()); }

  bool ReadCurrent(EntryFacts* facts, int64_t* error_number,
                   std::string* error_text) override {
    const DWORD error = ReadEntryFacts(handle(), ExtraOf(chunk()).NameView(current()), facts);
    if (error == ERROR_SUCCESS) return true;
    *error_number = error;
    *error_text = SystemErrorText(error);
    return false;
  }

  bool RemoveCurrent(int64_t* error_number, std::string* error_text) override {
    DWORD error = ERROR_SUCCESS;
    const char* changed = nullptr;
    const bool removed =
        RemoveEntry(OpenOf(folder()), ExtraOf(chunk()).NameView(current()),
                    ExtraOf(chunk()).ids[current()], &error, &changed);
    if (!removed) {
      *error_number = error;
      *error_text = changed ? changed : SystemErrorText(error);
    }
    SetLastError(ERROR_SUCCESS);
    return removed;
  }

 private:
  std::unique_ptr<Listing> MakeChild(
      std::shared_ptr<Folder> child, std::shared_ptr<ListScratch> scratch,
      std::shared_ptr<ReadAheadPool> pool) override {
    return std::make_unique<Win32Listing>(std::move(child), std::move(scratch),
                                          std::move(pool));
  }
  ReadAheadLimits Limits() override { return ReadAheadLimits{}; }

  HANDLE handle() const { return OpenOf(folder()).handle.get(); }
};

bool StartsWith(const std::wstring& s, const wchar_t* prefix) {
  return s.compare(0, wcslen(prefix), prefix) == 0;
}

}  // namespace

std::wstring ExtendedLengthPath(const std::wstring& full) {
  if (StartsWith(full, L"\\\\?\\") || StartsWith(full, L"\\\\.\\") ||
      StartsWith(full, L"\\??\\"))
    return full;
  const bool drive = full.size() >= 3 && full[1] == L':' && full[2] == L'\\' &&
                     ((full[0] >= L'A' && full[0] <= L'Z') ||
                      (full[0] >= L'a' && full[0] <= L'z'));
  if (drive) return L"\\\\?\\" + full;
  if (StartsWith(full, L"\\\\") && full.size() > 2)
    return L"\\\\?\\UNC\\" + full.substr(2);
  return full;
}

std::wstring OrdinaryPath(const std::wstring& path) {
  if (StartsWith(path, L"\\\\?\\UNC\\")) return L"\\\\" + path.substr(8);
  if (StartsWith(path, L"\\\\?\\")) return path.substr(4);
  return path;
}

std::string FinalPathOfHandle(void* handle) {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetFinalPathNameByHandleW(
        handle, path.data(), static_cast<DWORD>(path.size()),
        FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (n == 0) return "";
    // Too small, it gives the size it needs with the terminating null.
    if (n < path.size()) {
      path.resize(n);
      break;
    }
    path.resize(n);
  }
  return ToUtf8(OrdinaryPath(path));
}

std::wstring ResolveFolder(const std::wstring& folder) {
  if (StartsWith(folder, L"\\\\?\\")) return folder;  // already exact
  std::wstring full(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetFullPathNameW(folder.c_str(),
                                     static_cast<DWORD>(full.size()),
                                     full.data(), nullptr);
    if (n == 0) return folder;  // let the listing fail as the system decides
    if (n < full.size()) {
      full.resize(n);
      break;
    }
    full.resize(n);
  }
  return ExtendedLengthPath(full);
}

std::unique_ptr<Listing> OpenWin32Folder(const std::string& path,
                                         std::string* error_text,
                                         int64_t* error_number) {
  std::wstring folder = ResolveFolder(ToWide(path));
  // The trailing backslash also keeps "\\?\C:\" the drive's root folder
  // rather than the volume itself.
  if (folder.empty() || folder.back() != L'\\') folder += L'\\';
  // Links on the way to the top folder, and the top folder itself, are
  // followed: which folder is swept is the user's choice. Everything below
  // it is opened relative to its handle.
  const HANDLE opened = CreateFileW(
      folder.c_str(), FILE_LIST_DIRECTORY | SYNCHRONIZE | FILE_READ_ATTRIBUTES,
      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
      FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (opened == INVALID_HANDLE_VALUE) {
    const DWORD open_error = GetLastError();
    if (error_number) *error_number = open_error;
    if (error_text) *error_text = SystemErrorText(open_error);
    return nullptr;
  }
  UniqueHandle top(opened);
  BY_HANDLE_FILE_INFORMATION info;
  DWORD error = ERROR_SUCCESS;
  if (!GetFileInformationByHandle(top.get(), &info))
    error = GetLastError();
  else if (!(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
    error = ERROR_DIRECTORY;
  if (error != ERROR_SUCCESS) {
    if (error_number) *error_number = error;
    if (error_text) *error_text = SystemErrorText(error);
    return nullptr;
  }
  auto opened_top = std::make_shared<Folder>();
  opened_top->open =
      std::make_unique<Win32Folder>(std::move(top), info.dwVolumeSerialNumber);
  opened_top->opened = Folder::Opened::kYes;
  std::shared_ptr<ListScratch> scratch = Tasks().MakeScratch();
  return std::make_unique<Win32Listing>(std::move(opened_top),
                                        std::move(scratch), nullptr);
}

bool IdentityOfHandle(void* handle, FileIdentity* identity) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(handle, &info)) return false;
  *identity = IdentityOf(info);
  return true;
}
