#include "platform/win32/win32_log_file.h"

#include <windows.h>

#include "platform/log_lock.h"
#include "platform/win32/text.h"

namespace {

constexpr char kNotARegularFile[] = "not a regular file";

// The log is narrow text in the ANSI code page; a character outside it
// becomes '?'. Never a look-alike: the best fit would write "Omega.dat" for
// "Ωmega.dat" and a backslash for a fullwidth one, so that a line could name
// a different file, or one in another folder. (A UTF-8 code page holds every
// character and takes neither the flag nor a default character.)
std::string ToAnsiCodePage(std::string_view text) {
  const std::wstring wide = ToWide(text);
  std::string narrow;
  if (wide.empty()) return narrow;
  const UINT code_page = GetACP();
  const bool utf = code_page == CP_UTF8 || code_page == CP_UTF7;
  const DWORD flags = utf ? 0 : WC_NO_BEST_FIT_CHARS;
  const char* unheld = utf ? nullptr : "?";
  const int size = WideCharToMultiByte(code_page, flags, wide.data(),
                                       static_cast<int>(wide.size()), nullptr,
                                       0, unheld, nullptr);
  narrow.resize(static_cast<size_t>(size));
  WideCharToMultiByte(code_page, flags, wide.data(),
                      static_cast<int>(wide.size()), narrow.data(), size,
                      unheld, nullptr);
  return narrow;
}

// Opens the log for writing, creating it when missing. A reparse point (a
// link, a junction) is opened as itself, never followed, and then refused
// with everything that is not a plain file on a disk.
HANDLE OpenLogFile(const std::wstring& path, std::string* error_text) {
  const HANDLE file = CreateFileW(
      path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
      OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT,
      nullptr);
  const DWORD not_plain =
      FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    const DWORD attributes = GetFileAttributesW(path.c_str());
    *error_text =
        attributes != INVALID_FILE_ATTRIBUTES && (attributes & not_plain)
            ? kNotARegularFile
            : SystemErrorText(error);
    return INVALID_HANDLE_VALUE;
  }
  BY_HANDLE_FILE_INFORMATION info;
  if (GetFileType(file) != FILE_TYPE_DISK ||
      !GetFileInformationByHandle(file, &info) ||
      (info.dwFileAttributes & not_plain)) {
    CloseHandle(file);
    *error_text = kNotARegularFile;
    return INVALID_HANDLE_VALUE;
  }
  return file;
}

// The lock that keeps the blocks of runs logging at the same time apart.
bool LockForAppend(HANDLE file) {
  return WaitForLogLock([file] {
    OVERLAPPED whole = {};
    if (LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0,
                   MAXDWORD, MAXDWORD, &whole))
      return LockTry::kTaken;
    return GetLastError() == ERROR_LOCK_VIOLATION ? LockTry::kBusy
                                                  : LockTry::kFailed;
  });
}

class Win32LogFile : public LogFile {
 public:
  Win32LogFile(HANDLE file, const BY_HANDLE_FILE_INFORMATION& info)
      : file_(file) {
    identity_ = FileIdentity{
        info.dwVolumeSerialNumber,
        (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow,
        info.dwFileAttributes &
            (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)};
  }
  ~Win32LogFile() override { CloseHandle(file_); }  // releases the lock
  Win32LogFile(const Win32LogFile&) = delete;
  Win32LogFile& operator=(const Win32LogFile&) = delete;

  FileIdentity Identity() override { return identity_; }

  // Whole or not at all.
  bool Append(std::string_view utf8, bool* lock_held,
              std::string* error_text) override {
    const std::string text = ToAnsiCodePage(utf8);
    *lock_held = LockForAppend(file_);
    LARGE_INTEGER zero = {}, before = {}, after = {};
    SetFilePointerEx(file_, zero, &before, FILE_END);
    DWORD written = 0;
    if (WriteFile(file_, text.data(), static_cast<DWORD>(text.size()),
                  &written, nullptr) &&
        written == text.size())
      return true;
    const DWORD error = GetLastError();
    *error_text = error != ERROR_SUCCESS ? SystemErrorText(error)
                                         : "the block was written only in part";
    // What was written goes again, when nobody else can have appended after
    // it.
    SetFilePointerEx(file_, zero, &after, FILE_END);
    const bool taken_back =
        (*lock_held || after.QuadPart == before.QuadPart + written) &&
        SetFilePointerEx(file_, before, nullptr, FILE_BEGIN) &&
        SetEndOfFile(file_);
    if (written > 0 && !taken_back)
      *error_text += " (part of the block stays in the file)";
    return false;
  }

 private:
  HANDLE file_;
  FileIdentity identity_;
};

}  // namespace

std::unique_ptr<LogFile> OpenWin32LogFile(const std::string& path,
                                          std::string* error_text) {
  const HANDLE file = OpenLogFile(ToWide(path), error_text);
  if (file == INVALID_HANDLE_VALUE) return nullptr;
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(file, &info)) {
    *error_text = SystemErrorText(GetLastError());
    CloseHandle(file);
    return nullptr;
  }
  return std::make_unique<Win32LogFile>(file, info);
}
