#include "platform/win32/win32_listing.h"
#include "platform/win32/win32_listing_internal.h"

#include <windows.h>

#include <cwchar>

#include "platform/win32/text.h"

namespace {

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

HANDLE FindFirst(const std::wstring& folder, WIN32_FIND_DATAW* data) {
  const std::wstring pattern = folder + L"*.*";
  return FindFirstFileExW(pattern.c_str(), FindExInfoBasic, data,
                          FindExSearchNameMatch, nullptr,
                          FIND_FIRST_EX_LARGE_FETCH);
}

class Win32Listing final : public Listing {
 public:
  Win32Listing(HANDLE find, const WIN32_FIND_DATAW& first, std::wstring folder)
      : find_(find), data_(first), folder_(std::move(folder)) {}
  ~Win32Listing() override { FindClose(find_); }
  Win32Listing(const Win32Listing&) = delete;
  Win32Listing& operator=(const Win32Listing&) = delete;

  bool Next(DirEntry* entry, std::string* error_text) override {
    if (!first_pending_ && !FindNextFileW(find_, &data_)) {
      const DWORD error = GetLastError();
      if (error != ERROR_NO_MORE_FILES) *error_text = SystemErrorText(error);
      return false;
    }
    first_pending_ = false;
    // The name field ends at its first NUL; what lies beyond it may be left
    // over from a longer name.
    name_ = ToUtf8(std::wstring_view(
        data_.cFileName, wcsnlen(data_.cFileName, MAX_PATH)));
    entry->name = name_;
    entry->is_dir = (data_.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    return true;
  }

  std::unique_ptr<Listing> OpenCurrentFolder(std::string* error_text) override {
    // A symbolic link or junction to a folder is counted as a folder but
    // never entered: it could lead out of the tree or round in a cycle.
    if (data_.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) return nullptr;
    std::wstring sub = folder_ + data_.cFileName + L"\\";
    WIN32_FIND_DATAW first;
    const HANDLE find = FindFirst(sub, &first);
    if (find == INVALID_HANDLE_VALUE) {
      // A folder that is gone meanwhile is not a failure.
      const DWORD error = GetLastError();
      if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND)
        *error_text = SystemErrorText(error);
      return nullptr;
    }
    return std::make_unique<Win32Listing>(find, first, std::move(sub));
  }

  // A drive's root is a place a sweep may start: a scratch drive.
  TopFolderVerdict JudgeAsTopFolder() override {
    return TopFolderVerdict::kAllowed;
  }

  // Read from the entry itself, not from the listing, so that a second
  // reading sees what is there now.
  bool ReadCurrent(EntryFacts* facts, std::string* error_text) override {
    const std::wstring path = folder_ + data_.cFileName;
    const HANDLE file = CreateFileW(
        path.c_str(), FILE_READ_ATTRIBUTES,
        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
        OPEN_EXISTING,
        FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    BY_HANDLE_FILE_INFORMATION info;
    const bool ok = file != INVALID_HANDLE_VALUE &&
                    GetFileInformationByHandle(file, &info);
    const DWORD error = GetLastError();
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    if (!ok) {
      *error_text = SystemErrorText(error);
      return false;
    }
    facts->times.creation = FromFiletime(info.ftCreationTime);
    facts->times.last_write = FromFiletime(info.ftLastWriteTime);
    facts->identity = FileIdentity{
        info.dwVolumeSerialNumber,
        (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow,
        info.dwFileAttributes &
            (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)};
    return true;
  }

  bool RemoveCurrent(int64_t* error_number, std::string* error_text) override {
    // The listed folder and the name exactly as listed, never the text the
    // caller built, so that no conversion can point at another file.
    const std::wstring path = folder_ + data_.cFileName;
    if (DeleteFileW(path.c_str())) return true;
    const DWORD error = GetLastError();
    *error_number = error;
    *error_text = SystemErrorText(error);
    SetLastError(ERROR_SUCCESS);
    return false;
  }

 private:
  HANDLE find_;
  WIN32_FIND_DATAW data_;
  std::wstring folder_;
  std::string name_;
  bool first_pending_ = true;
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
  if (folder.empty() || folder.back() != L'\\') folder += L'\\';
  WIN32_FIND_DATAW first;
  const HANDLE find = FindFirst(folder, &first);
  if (find == INVALID_HANDLE_VALUE) {
    if (error_text) *error_text = SystemErrorText(GetLastError());
    return nullptr;
  }
  return std::make_unique<Win32Listing>(find, first, std::move(folder));
}
