#include "platform/win32/win32_platform.h"

#include <windows.h>

#include "platform/win32/text.h"
#include "platform/win32/win32_listing.h"
#include "platform/win32/win32_log_file.h"
#include "platform/win32/win32_platform_internal.h"

namespace {

std::wstring LocaleString(const wchar_t* locale_name, LCTYPE type) {
  wchar_t buffer[128];
  const int n = GetLocaleInfoEx(locale_name, type, buffer, 128);
  return n > 0 ? std::wstring(buffer, static_cast<size_t>(n - 1))
               : std::wstring();
}

SYSTEMTIME ToSystemTime(const CivilTime& t) {
  SYSTEMTIME st = {};
  st.wYear = static_cast<WORD>(t.year);
  st.wMonth = static_cast<WORD>(t.month);
  st.wDayOfWeek = static_cast<WORD>(Weekday(DayNumber(t)));
  st.wDay = static_cast<WORD>(t.day);
  st.wHour = static_cast<WORD>(t.hour);
  st.wMinute = static_cast<WORD>(t.minute);
  st.wSecond = static_cast<WORD>(t.second);
  return st;
}

CivilTime FromSystemTime(const SYSTEMTIME& st) {
  return CivilTime{st.wYear, st.wMonth,  st.wDay,
                   st.wHour, st.wMinute, st.wSecond};
}

// Whether the program's window station is the one on the user's screen. A
// task scheduled to run whether the user is logged on or not gets one that
// nobody sees: a message box there waits forever.
bool WindowStationIsVisible() {
  const HWINSTA station = GetProcessWindowStation();
  USEROBJECTFLAGS flags = {};
  if (!station || !GetUserObjectInformationW(station, UOI_FLAGS, &flags,
                                             sizeof flags, nullptr))
    return true;  // unknown: ask, as a desktop program would
  return (flags.dwFlags & WSF_VISIBLE) != 0;
}

class Win32Platform final : public Platform {
 public:
  explicit Win32Platform(bool (*someone_can_answer)())
      : someone_can_answer_(someone_can_answer) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    ticks_per_second_ = static_cast<double>(frequency.QuadPart);
  }

  std::string ArgumentText() override {
    return ToUtf8(SkipProgramName(GetCommandLineW()));
  }

  std::string GetEnv(const std::string& name) override {
    const std::wstring wide_name = ToWide(name);
    std::wstring value(256, L'\0');
    for (;;) {
      const DWORD n = GetEnvironmentVariableW(
          wide_name.c_str(), value.data(), static_cast<DWORD>(value.size()));
      if (n == 0) return "";  // not set, or set to nothing
      if (n < value.size()) {
        value.resize(n);
        return ToUtf8(value);
      }
      value.resize(n);  // n is the size needed, terminating NUL included
    }
  }

  std::string ProgramFolder() override {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
      const DWORD n = GetModuleFileNameW(nullptr, path.data(),
                                         static_cast<DWORD>(path.size()));
      if (n == 0) return "";  // unknown: never a folder it is not
      if (n < path.size()) {
        path.resize(n);
        break;
      }
      path.resize(path.size() * 2);  // truncated: try a larger buffer
    }
    return ToUtf8(FolderOfModulePath(path));
  }

  char Separator() override { return '\\'; }
  bool EveryWordCounts() override { return false; }

  CivilTime Now() override {
    SYSTEMTIME st;
    GetLocalTime(&st);
    return FromSystemTime(st);
  }

  double MonotonicSeconds() override {
    LARGE_INTEGER count;
    QueryPerformanceCounter(&count);
    return static_cast<double>(count.QuadPart) / ticks_per_second_;
  }

  bool ToLocal(FileTime file_time, CivilTime* local) override {
    return Win32ToLocal(file_time, local);
  }

  LocaleInfo Locale() override {
    return Win32LocaleInfo(LOCALE_NAME_USER_DEFAULT);
  }

  std::string FormatGeneralDate(const CivilTime& t) override {
    return Win32GeneralDate(LOCALE_NAME_USER_DEFAULT, t);
  }

  std::unique_ptr<Listing> OpenFolder(const std::string& path,
                                      int64_t* error_number,
                                      std::string* error_text) override {
    return OpenWin32Folder(path, error_text, error_number);
  }

  std::unique_ptr<LogFile> OpenLogFile(const std::string& path,
                                       std::string* error_text) override {
    return OpenWin32LogFile(path, error_text);
  }

  bool AskYesNo(const std::string& title, const std::string& prompt) override {
    if (!someone_can_answer_()) return false;
    return MessageBoxW(nullptr, ToWide(prompt).c_str(), ToWide(title).c_str(),
                       MB_YESNO | MB_DEFBUTTON1) == IDYES;
  }

  void ReportError(const std::string& text) override {
    // A windowed program has no console: the log file and the exit status
    // carry refusals, and a debugger sees this.
    OutputDebugStringW(ToWide(text + "\n").c_str());
  }

  using Platform::Print;
  bool Print(const std::string& text, std::string*) override {
    OutputDebugStringW(ToWide(text).c_str());
    return true;
  }

  // A windowed program gets no console signals; ending a session ends it as
  // the system decides.
  int InterruptSignal() override { return 0; }

 private:
  bool (*someone_can_answer_)();
  double ticks_per_second_ = 1.0;
};

}  // namespace

std::wstring_view SkipProgramName(std::wstring_view line) {
  size_t i = 0;
  bool quoted = false;
  for (; i < line.size(); ++i) {
    const wchar_t c = line[i];
    if (c == L'"') {
      quoted = !quoted;
    } else if (!quoted && (c == L' ' || c == L'\t')) {
      break;
    }
  }
  while (i < line.size() && (line[i] == L' ' || line[i] == L'\t')) ++i;
  return line.substr(i);
}

std::wstring FolderOfModulePath(std::wstring_view path) {
  const size_t slash = path.find_last_of(L"\\/");
  if (slash == std::wstring_view::npos) return L".";
  std::wstring folder(path.substr(0, slash));
  // "C:" alone would mean the current folder of drive C, not its root.
  if (folder.size() == 2 && folder[1] == L':') folder += L'\\';
  if (folder.empty()) folder = L"\\";
  return folder;
}

std::wstring PictureSeparator(std::wstring_view picture) {
  const auto is_numeric_field = [](wchar_t c) {
    return c == L'd' || c == L'M' || c == L'y' || c == L'h' || c == L'H' ||
           c == L'm' || c == L's';
  };
  wchar_t first_field = 0;  // letter of the first numeric field, once met
  bool past_first = false;  // the first field's run of letters has ended
  bool quoted = false;
  std::wstring between;
  for (size_t i = 0; i < picture.size(); ++i) {
    const wchar_t c = picture[i];
    if (first_field && !past_first && (quoted || c != first_field))
      past_first = true;
    if (c == L'\'') {
      if (quoted && i + 1 < picture.size() && picture[i + 1] == L'\'') {
        if (past_first) between += L'\'';  // '' inside quotes is one quote
        ++i;
      } else {
        quoted = !quoted;
      }
      continue;
    }
    if (!quoted && is_numeric_field(c)) {
      if (!first_field) {
        first_field = c;
        continue;
      }
      if (past_first) return between;
      continue;
    }
    // AM/PM marks ("t") and eras ("g") are fields, not separators.
    if (past_first && (quoted || (c != L't' && c != L'g'))) between += c;
  }
  return L"";
}

LocaleInfo Win32LocaleInfo(const wchar_t* name) {
  LocaleInfo info;
  const std::wstring thousands = LocaleString(name, LOCALE_STHOUSAND);
  const std::wstring decimal = LocaleString(name, LOCALE_SDECIMAL);
  info.thousands_separator = ToUtf8(thousands);
  if (!decimal.empty()) info.decimal_separator = ToUtf8(decimal);

  std::wstring date_separator =
      PictureSeparator(LocaleString(name, LOCALE_SSHORTDATE));
  if (date_separator.empty()) date_separator = LocaleString(name, LOCALE_SDATE);
  std::wstring time_separator =
      PictureSeparator(LocaleString(name, LOCALE_STIMEFORMAT));
  if (time_separator.empty()) time_separator = LocaleString(name, LOCALE_STIME);
  if (!date_separator.empty()) info.date_separator = ToUtf8(date_separator);
  if (!time_separator.empty()) info.time_separator = ToUtf8(time_separator);

  // Windows counts the first day of the week from Monday (0).
  const std::wstring first = LocaleString(name, LOCALE_IFIRSTDAYOFWEEK);
  if (first.size() == 1 && first[0] >= L'0' && first[0] <= L'6')
    info.first_weekday = (first[0] - L'0' + 1) % 7;
  return info;
}

std::string Win32GeneralDate(const wchar_t* name, const CivilTime& t) {
  const SYSTEMTIME st = ToSystemTime(t);
  wchar_t date_text[128];
  wchar_t time_text[128];
  if (GetDateFormatEx(name, DATE_SHORTDATE, &st, nullptr, date_text, 128,
                      nullptr) == 0 ||
      GetTimeFormatEx(name, 0, &st, nullptr, time_text, 128) == 0)
    return FormatUsGeneralDate(t);
  return ToUtf8(std::wstring(date_text) + L" " + time_text);
}

bool Win32ToLocal(FileTime file_time, CivilTime* local) {
  if (!file_time.valid || file_time.ticks < 0) return false;
  const uint64_t ticks = static_cast<uint64_t>(file_time.ticks);
  FILETIME ft;
  ft.dwLowDateTime = static_cast<DWORD>(ticks & 0xFFFFFFFF);
  ft.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
  SYSTEMTIME utc, st;
  // The rules of the zone for that instant, daylight saving included, not
  // the offset in force now.
  if (!FileTimeToSystemTime(&ft, &utc) ||
      !SystemTimeToTzSpecificLocalTime(nullptr, &utc, &st))
    return false;
  *local = FromSystemTime(st);
  return true;
}

std::unique_ptr<Platform> MakeWin32Platform(bool (*someone_can_answer)()) {
  return std::make_unique<Win32Platform>(
      someone_can_answer ? someone_can_answer : WindowStationIsVisible);
}
