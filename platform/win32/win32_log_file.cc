#include "platform/win32/win32_log_file.h"

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>

#include "platform/log_lock.h"
#include "platform/win32/text.h"
#include "platform/win32/win32_listing.h"

namespace {

constexpr char kNotARegularFile[] = "not a regular file";

// The log is narrow text in the ANSI code page; a character outside it
// becomes '?'. Never a look-alike: the best fit would write "Omega.dat" for
// "Ωmega.dat" and a backslash for a fullwidth one, so that a line could name
// a different file, or one in another folder. (A UTF-8 code page holds every
// character and takes neither the flag nor a default character.)
//
// The text is turned into it a piece at a time, in buffers taken when the
// log is opened: the block is written when memory may have run out, and the
// lines of the deletions made must still reach the file.
class AnsiWriter {
 public:
  AnsiWriter()
      : wide_(new wchar_t[kPiece]), narrow_(new char[kNarrowPerWide * kPiece]) {}

  // Writes `utf8` (whole characters) to `file` where its file pointer is,
  // adding what was written to `*done`; false, with the error in
  // GetLastError (ERROR_SUCCESS for a write cut short), when it failed.
  bool Write(HANDLE file, std::string_view utf8, uint64_t* done) {
    const UINT code_page = GetACP();
    const bool utf = code_page == CP_UTF8 || code_page == CP_UTF7;
    const DWORD flags = utf ? 0 : WC_NO_BEST_FIT_CHARS;
    const char* unheld = utf ? nullptr : "?";
    while (!utf8.empty()) {
      // A piece never ends inside a character: at most three bytes back
      // from its end is the start of the next one (or a stray byte).
      size_t end = std::min(utf8.size(), kPiece);
      for (int back = 0; back < 3 && end < utf8.size() &&
                         (static_cast<unsigned char>(utf8[end]) & 0xC0) == 0x80;
           ++back)
        --end;
      const int wide =
          static_cast<int>(ToWideInto(utf8.substr(0, end), wide_.get()));
      utf8.remove_prefix(end);
      const int narrow = WideCharToMultiByte(
          code_page, flags, wide_.get(), wide, narrow_.get(),
          static_cast<int>(kNarrowPerWide * kPiece), unheld, nullptr);
      if (narrow == 0 && wide > 0) return false;
      DWORD written = 0;
      SetLastError(ERROR_SUCCESS);
      const bool whole = WriteFile(file, narrow_.get(),
                                   static_cast<DWORD>(narrow), &written,
                                   nullptr) &&
                         written == static_cast<DWORD>(narrow);
      *done += written;
      if (!whole) return false;
    }
    return true;
  }

 private:
  static constexpr size_t kPiece = 64 << 10;  // UTF-8 bytes turned at once
  // A UTF-16 unit takes at most 3 bytes in any code page (2 in the double-
  // byte ones; 3 in UTF-8, where a pair of surrogates takes 4).
  static constexpr size_t kNarrowPerWide = 3;
  std::unique_ptr<wchar_t[]> wide_;
  std::unique_ptr<char[]> narrow_;
};

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

// The spool: a file of a name no one else uses in the log's folder, that
// no one else may open and that the system deletes when its handle is
// closed, by the run or by the run's end, however it ends (a power cut
// aside). A sweep of that folder lists it, so it is known by its identity.
class Win32LogSpool : public LogSpool {
 public:
  // The piece the spool is copied in is taken now, while the run has the
  // memory: the copy comes when it may have none to spare.
  Win32LogSpool(HANDLE file, AnsiWriter& writer)
      : file_(file), writer_(writer), piece_(new char[kLogChunkBytes]) {
    if (FileIdentity identity; IdentityOfHandle(file_, &identity))
      identity_ = identity;
  }
  ~Win32LogSpool() override { CloseHandle(file_); }
  Win32LogSpool(const Win32LogSpool&) = delete;
  Win32LogSpool& operator=(const Win32LogSpool&) = delete;

  std::optional<FileIdentity> Identity() override { return identity_; }

  // Kept as the log file takes it, in the ANSI code page: `utf8` holds
  // whole characters.
  bool Write(std::string_view utf8, std::string* error_text) override {
    LARGE_INTEGER end;
    end.QuadPart = size_;
    uint64_t written = 0;
    if (SetFilePointerEx(file_, end, nullptr, FILE_BEGIN) &&
        writer_.Write(file_, utf8, &written)) {
      size_ += written;
      return true;
    }
    const DWORD error = GetLastError();
    *error_text = error != ERROR_SUCCESS ? SystemErrorText(error)
                                         : "the block was written only in part";
    // What was written of it is never copied, as the size does not count
    // it; it is cut off, to give back the room a full disk is short of.
    if (SetFilePointerEx(file_, end, nullptr, FILE_BEGIN)) SetEndOfFile(file_);
    return false;
  }

  // Writes the spool's text to `out` where its file pointer is, adding
  // what was written to `*done`; false, with the error in GetLastError,
  // when reading or writing failed.
  bool CopyTo(HANDLE out, uint64_t* done) {
    LARGE_INTEGER start = {};
    if (!SetFilePointerEx(file_, start, nullptr, FILE_BEGIN)) return false;
    for (uint64_t at = 0; at < size_;) {
      const DWORD n = static_cast<DWORD>(
          std::min<uint64_t>(size_ - at, kLogChunkBytes));
      DWORD got = 0, written = 0;
      if (!ReadFile(file_, piece_.get(), n, &got, nullptr)) return false;
      if (got != n) {
        SetLastError(ERROR_HANDLE_EOF);
        return false;
      }
      const bool whole =
          WriteFile(out, piece_.get(), n, &written, nullptr) && written == n;
      *done += written;
      if (!whole) return false;
      at += n;
    }
    return true;
  }

 private:
  HANDLE file_;
  AnsiWriter& writer_;  // the log file's, which outlives the spool
  uint64_t size_ = 0;  // what the writes that succeeded hold
  std::unique_ptr<char[]> piece_;
  std::optional<FileIdentity> identity_;
};

// A new file in `folder` (ending in a backslash) that no one else uses
// and that goes when it is closed, however the run ends.
HANDLE MakeSpoolFile(const std::wstring& folder, DWORD* error) {
  static unsigned counter = 0;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::wstring name =
        folder + L"agesweep-spool-" +
        std::to_wstring(GetCurrentProcessId()) + L"-" +
        std::to_wstring(GetTickCount64()) + L"-" +
        std::to_wstring(++counter) + L".tmp";
    const HANDLE file = CreateFileW(
        name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
        FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (file != INVALID_HANDLE_VALUE) return file;
    *error = GetLastError();
    if (*error != ERROR_FILE_EXISTS && *error != ERROR_ALREADY_EXISTS) break;
  }
  return INVALID_HANDLE_VALUE;
}

class Win32LogFile : public LogFile {
 public:
  Win32LogFile(HANDLE file, FileIdentity identity, std::wstring folder)
      : file_(file), folder_(std::move(folder)), identity_(identity) {}
  ~Win32LogFile() override { CloseHandle(file_); }  // releases the lock
  Win32LogFile(const Win32LogFile&) = delete;
  Win32LogFile& operator=(const Win32LogFile&) = delete;

  FileIdentity Identity() override { return identity_; }
  std::string FinalPath() override { return FinalPathOfHandle(file_); }

  std::unique_ptr<LogSpool> MakeSpool(std::string* error_text) override {
    DWORD error = ERROR_SUCCESS;
    if (HANDLE file = MakeSpoolFile(folder_, &error); file != INVALID_HANDLE_VALUE)
      return std::make_unique<Win32LogSpool>(file, writer_);
    // Said for the folder the user chose, where the spool was meant to be.
    *error_text = SystemErrorText(error);
    // A folder that takes the log file but no new file beside it: the
    // user's temporary folder then.
    wchar_t temp[MAX_PATH + 2];
    const DWORD n = GetTempPathW(MAX_PATH + 2, temp);
    if (n > 0 && n <= MAX_PATH + 1) {
      if (HANDLE file = MakeSpoolFile(std::wstring(temp, n), &error);
          file != INVALID_HANDLE_VALUE)
        return std::make_unique<Win32LogSpool>(file, writer_);
    }
    return nullptr;
  }


  // Whole or not at all.
  using LogFile::Append;
  bool Append(LogSpool* spool, std::string_view utf8, bool* lock_held,
              std::string* error_text) override {
    *lock_held = LockForAppend(file_);
    LARGE_INTEGER zero = {}, before = {}, after = {};
    SetFilePointerEx(file_, zero, &before, FILE_END);
    uint64_t done = 0;
    const bool whole =
        (!spool || static_cast<Win32LogSpool*>(spool)->CopyTo(file_, &done)) &&
        writer_.Write(file_, utf8, &done);
    if (whole) return true;
    const DWORD error = GetLastError();
    *error_text = error != ERROR_SUCCESS ? SystemErrorText(error)
                                         : "the block was written only in part";
    // What was written goes again, when nobody else can have appended after
    // it.
    SetFilePointerEx(file_, zero, &after, FILE_END);
    const bool taken_back =
        (*lock_held ||
         static_cast<uint64_t>(after.QuadPart - before.QuadPart) == done) &&
        SetFilePointerEx(file_, before, nullptr, FILE_BEGIN) &&
        SetEndOfFile(file_);
    if (done > 0 && !taken_back)
      *error_text += " (part of the block stays in the file)";
    return false;
  }

 private:
  HANDLE file_;
  std::wstring folder_;  // where its spools go, ending in a separator
  FileIdentity identity_;
  AnsiWriter writer_;  // for the file and its spools
};

}  // namespace

std::unique_ptr<LogFile> OpenWin32LogFile(const std::string& path,
                                          std::string* error_text) {
  const HANDLE file = OpenLogFile(ToWide(path), error_text);
  if (file == INVALID_HANDLE_VALUE) return nullptr;
  FileIdentity identity;
  if (!IdentityOfHandle(file, &identity)) {
    *error_text = SystemErrorText(GetLastError());
    CloseHandle(file);
    return nullptr;
  }
  // The spool goes beside the log: the same volume, the same permissions,
  // the place the user chose for the run's writing. A path without a folder
  // (or a drive alone, "C:agesweep.log") puts it where the log is too.
  const size_t end = path.find_last_of("\\/:");
  const std::string folder =
      end == std::string::npos ? "" : path.substr(0, end + 1);
  return std::make_unique<Win32LogFile>(file, identity, ToWide(folder));
}
