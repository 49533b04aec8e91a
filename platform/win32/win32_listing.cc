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

constexpr char kFileChanged[] = "the file changed before it could be deleted";

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

std::string NtErrorText(NTSTATUS status) {
  return SystemErrorText(RtlNtStatusToDosError(status));
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
NTSTATUS OpenInFolder(HANDLE folder, const std::wstring& name,
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

// Reads an open folder's entries, with their attributes and file IDs, into
// a buffer of the listing's own.
class DirectoryReader {
 public:
  using Record = FILE_ID_BOTH_DIR_INFO;

  // The next entry; null at the end of the folder, and on a failure with
  // `*error` set. The record stays valid until the next call of Next or
  // Park.
  const Record* Next(HANDLE folder, DWORD* error) {
    if (!in_buffer_) {
      if (capacity_ < kBufferBytes) Allocate(kBufferBytes);
      if (!GetFileInformationByHandleEx(folder, FileIdBothDirectoryInfo,
                                        buffer_.get(), kBufferBytes)) {
        const DWORD e = GetLastError();
        // A folder with no entries at all (a drive's empty root has not
        // even "." and "..") answers its first reading with "not found".
        if (e != ERROR_NO_MORE_FILES && !(e == ERROR_FILE_NOT_FOUND && !read_))
          *error = e;
        return nullptr;
      }
      read_ = true;
      in_buffer_ = true;
      pos_ = 0;
    }
    const Record* record = RecordAt(pos_);
    if (!record) {
      in_buffer_ = false;
      *error = ERROR_INVALID_DATA;
      return nullptr;
    }
    if (record->NextEntryOffset == 0)
      in_buffer_ = false;
    else
      pos_ += record->NextEntryOffset;
    return record;
  }

  // Called while the walk goes down into a subfolder and this folder waits:
  // the records not yet read move to a buffer of their own size, so a deep
  // tree holds a few bytes per waiting folder instead of a whole buffer.
  void Park() {
    if (capacity_ < kBufferBytes) return;  // already small
    size_t end = pos_;
    if (in_buffer_) {
      for (size_t at = pos_;;) {
        const Record* record = RecordAt(at);
        if (!record) return;  // keep the buffer: Next reports the damage
        end = at + offsetof(Record, FileName) + record->FileNameLength;
        if (record->NextEntryOffset == 0) break;
        at += record->NextEntryOffset;
      }
    }
    const size_t rest = end - pos_;
    std::unique_ptr<uint64_t[]> parked = Words(rest);
    std::memcpy(parked.get(), Bytes() + pos_, rest);
    buffer_ = std::move(parked);
    capacity_ = rest;
    pos_ = 0;
  }

 private:
  // As much as one call may return from a network share.
  static constexpr size_t kBufferBytes = 64 * 1024;

  // A buffer of 8-byte words: the records are aligned to 8 bytes.
  static std::unique_ptr<uint64_t[]> Words(size_t bytes) {
    return std::unique_ptr<uint64_t[]>(new uint64_t[(bytes + 7) / 8 + 1]);
  }
  void Allocate(size_t bytes) {
    buffer_ = Words(bytes);
    capacity_ = bytes;
  }
  const char* Bytes() const {
    return reinterpret_cast<const char*>(buffer_.get());
  }

  // The record at `at`, or null when it does not lie whole in the buffer.
  const Record* RecordAt(size_t at) const {
    const size_t header = offsetof(Record, FileName);
    if (at % 8 != 0 || at > capacity_ || capacity_ - at < header)
      return nullptr;
    const Record* record = reinterpret_cast<const Record*>(Bytes() + at);
    if (record->FileNameLength > capacity_ - at - header) return nullptr;
    return record;
  }

  std::unique_ptr<uint64_t[]> buffer_ = Words(kBufferBytes);
  size_t capacity_ = kBufferBytes;
  size_t pos_ = 0;          // the next record's offset, while in_buffer_
  bool in_buffer_ = false;  // records remain in the buffer
  bool read_ = false;       // the folder has been read from at least once
};

class Win32Listing final : public Listing {
 public:
  // `folder`, an open folder on the volume with serial number `volume`.
  Win32Listing(UniqueHandle folder, DWORD volume)
      : folder_(std::move(folder)), volume_(volume) {}

  bool Next(DirEntry* entry, std::string* error_text) override {
    DWORD error = 0;
    const DirectoryReader::Record* record = reader_.Next(folder_.get(), &error);
    if (!record) {
      if (error != 0) *error_text = SystemErrorText(error);
      return false;
    }
    // Copies of the listing's own: the reader's buffer may shrink while the
    // walk is below this folder.
    name_wide_.assign(record->FileName,
                      record->FileNameLength / sizeof(wchar_t));
    file_id_ = static_cast<uint64_t>(record->FileId.QuadPart);
    attributes_ = record->FileAttributes;
    name_ = ToUtf8(name_wide_);
    entry->name = name_;
    entry->is_dir = (attributes_ & FILE_ATTRIBUTE_DIRECTORY) != 0;
    // The record carries the file's times: a file they show not due is
    // passed over without being opened, which on a share saves a round
    // trip or three per file. They may lag behind a file held open for
    // writing, so a file they show due is read again from the entry.
    entry->early = nullptr;
    if (plan_ && !entry->is_dir && plan_->WillRead(entry->name)) {
      early_.times.creation = FromFiletime(Filetime(record->CreationTime));
      early_.times.last_write = FromFiletime(Filetime(record->LastWriteTime));
      early_.identity = FileIdentity{
          volume_, file_id_,
          attributes_ & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)};
      entry->early = &early_;
    }
    return true;
  }

  std::unique_ptr<Listing> OpenCurrentFolder(std::string* error_text) override {
    // A symbolic link, junction or mounted volume is counted as a folder
    // but never entered: it could lead out of the tree or round in a cycle.
    if (attributes_ & FILE_ATTRIBUTE_REPARSE_POINT) return nullptr;
    if (name_wide_ == L"." || name_wide_ == L"..") return nullptr;
    if (!StillTheListedFolder(folder_.get(), name_wide_, file_id_))
      return nullptr;
    // Not shared for deletion: while the walk is in it, the folder cannot
    // be renamed, so the paths the log shows stay true.
    UniqueHandle sub;
    const NTSTATUS status = OpenInFolder(
        folder_.get(), name_wide_, FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
        FILE_SHARE_READ | FILE_SHARE_WRITE,
        FILE_DIRECTORY_FILE | FILE_OPEN_FOR_BACKUP_INTENT, &sub);
    if (status < 0) {
      // Gone, going, or no longer a folder: nothing to enter, no failure.
      if (status != kStatusObjectNameNotFound &&
          status != kStatusObjectPathNotFound &&
          status != kStatusNotADirectory && status != kStatusDeletePending)
        *error_text = NtErrorText(status);
      return nullptr;
    }
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(sub.get(), &info)) {
      *error_text = SystemErrorText(GetLastError());
      return nullptr;
    }
    // What was opened must be the folder that was listed: a link or
    // junction put in its place is opened as itself and shows as a reparse
    // point, another folder moved there has another ID.
    if (!(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
        !IsListedEntry(info))
      return nullptr;
    auto listing = std::make_unique<Win32Listing>(std::move(sub), volume_);
    listing->plan_ = plan_;
    reader_.Park();
    return listing;
  }

  void ReadAhead(const ReadAheadPlan& plan) override { plan_ = &plan; }

  // A drive's root is a place a sweep may start: a scratch drive.
  TopFolderVerdict JudgeAsTopFolder() override {
    return TopFolderVerdict::kAllowed;
  }

  // Read from the entry itself, not from the listing: a directory entry's
  // times can lag behind a file held open for writing, and a second reading
  // must see what is there now.
  bool ReadCurrent(EntryFacts* facts, std::string* error_text) override {
    UniqueHandle file;
    const NTSTATUS status = OpenInFolder(
        folder_.get(), name_wide_, FILE_READ_ATTRIBUTES,
        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        FILE_OPEN_FOR_BACKUP_INTENT, &file);
    if (status < 0) {
      *error_text = NtErrorText(status);
      return false;
    }
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(file.get(), &info)) {
      *error_text = SystemErrorText(GetLastError());
      return false;
    }
    facts->times.creation = FromFiletime(info.ftCreationTime);
    facts->times.last_write = FromFiletime(info.ftLastWriteTime);
    facts->identity = FileIdentity{
        info.dwVolumeSerialNumber, FileIdOf(info),
        info.dwFileAttributes &
            (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)};
    return true;
  }

  bool RemoveCurrent(int64_t* error_number, std::string* error_text) override {
    DWORD error = ERROR_SUCCESS;
    const char* changed = nullptr;
    const bool removed = Remove(&error, &changed);
    if (!removed) {
      *error_number = error;
      *error_text = changed ? changed : SystemErrorText(error);
    }
    SetLastError(ERROR_SUCCESS);
    return removed;
  }

 private:
  // Deletes the current entry through a handle of its own; on failure sets
  // `*error`, and `*changed` when it is no longer the entry listed.
  bool Remove(DWORD* error, const char** changed) {
    // A link is opened, and deleted, as itself. Not shared for deletion, so
    // that nobody can rename the file between the check and its deletion.
    UniqueHandle file;
    const NTSTATUS status = OpenInFolder(
        folder_.get(), name_wide_, DELETE | FILE_READ_ATTRIBUTES,
        FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_NON_DIRECTORY_FILE, &file);
    BY_HANDLE_FILE_INFORMATION info;
    if (status == kStatusFileIsADirectory) {
      *error = ERROR_FILE_NOT_FOUND;
      *changed = kFileChanged;
      return false;
    }
    if (status < 0) {
      *error = RtlNtStatusToDosError(status);
      return false;
    }
    if (!GetFileInformationByHandle(file.get(), &info)) {
      *error = GetLastError();
      return false;
    }
    if (!IsListedEntry(info)) {
      *error = ERROR_FILE_NOT_FOUND;
      *changed = kFileChanged;
      return false;
    }
    // A read-only file is refused (access denied), as DeleteFile refuses
    // it: the attribute is the owner's word.
    DispositionEx ex = {kDispositionDelete | kDispositionPosixSemantics};
    if (!SetFileInformationByHandle(file.get(), kFileDispositionInfoEx, &ex,
                                    sizeof ex)) {
      const DWORD e = GetLastError();
      if (e != ERROR_INVALID_PARAMETER && e != ERROR_NOT_SUPPORTED &&
          e != ERROR_INVALID_FUNCTION && e != ERROR_CALL_NOT_IMPLEMENTED) {
        *error = e;
        return false;
      }
      FILE_DISPOSITION_INFO classic = {TRUE};
      if (!SetFileInformationByHandle(file.get(), FileDispositionInfo, &classic,
                                      sizeof classic)) {
        *error = GetLastError();
        return false;
      }
    }
    return true;  // the file goes when its handle closes
  }

  // Whether an opened entry is the one the listing named: the same file on
  // the walk's volume. A file system that numbers no files in its listings
  // (an ID of 0) leaves only the other checks.
  bool IsListedEntry(const BY_HANDLE_FILE_INFORMATION& info) const {
    return info.dwVolumeSerialNumber == volume_ &&
           (file_id_ == 0 || FileIdOf(info) == file_id_);
  }

  UniqueHandle folder_;
  DWORD volume_;  // every folder of the walk is on the top folder's volume
  DirectoryReader reader_;
  // The current entry, as listed.
  std::wstring name_wide_;
  std::string name_;
  uint64_t file_id_ = 0;
  DWORD attributes_ = 0;
  // What the walk will read, so that the listing's times are handed on for
  // those files; null when the walk did not say.
  const ReadAheadPlan* plan_ = nullptr;
  EntryFacts early_;
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
                                         std::string* error_text) {
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
    if (error_text) *error_text = SystemErrorText(GetLastError());
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
    if (error_text) *error_text = SystemErrorText(error);
    return nullptr;
  }
  return std::make_unique<Win32Listing>(std::move(top),
                                        info.dwVolumeSerialNumber);
}
