// agesweep.exe as a user meets it, driven from outside: the help window, its
// Close button, and the confirmation boxes of a run without /Q. Needs a
// display (Xvfb under Wine). agesweep.exe is taken from this program's own
// folder and copied into a fresh temporary folder for every test, so that
// nothing is ever written beside the build.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "agesweep_version.h"
#include "platform/win32/tests/temp_folder.h"
#include "ui/window.h"

namespace {

constexpr DWORD kPatienceMs = 60000;  // an upper bound for waits, not a check

std::wstring Widen(const char* s) {
  const int n = MultiByteToWideChar(CP_UTF8, 0, s, -1, nullptr, 0);
  std::wstring out(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, s, -1, out.data(), n);
  out.resize(static_cast<size_t>(n - 1));
  return out;
}

std::wstring OwnFolder() {
  wchar_t path[MAX_PATH];
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring folder = path;
  return folder.substr(0, folder.find_last_of(L'\\') + 1);
}

// A fresh temporary folder holding a copy of agesweep.exe; removed at the
// end with everything in it.
class Sandbox {
 public:
  Sandbox() : temp_(L"agesweep-ui-"), root_(temp_.root()) {
    EXPECT_TRUE(temp_.created());
    EXPECT_TRUE(CopyFileW((OwnFolder() + L"agesweep.exe").c_str(),
                          exe().c_str(), TRUE))
        << "agesweep.exe must be built beside this test";
  }
  Sandbox(const Sandbox&) = delete;
  Sandbox& operator=(const Sandbox&) = delete;

  const std::wstring& root() const { return root_; }
  std::wstring exe() const { return root_ + L"agesweep.exe"; }
  std::wstring log() const { return root_ + L"agesweep.log"; }

  void Folder(const std::wstring& relative) {
    EXPECT_TRUE(CreateDirectoryW((root_ + relative).c_str(), nullptr));
  }
  // A file last written (and created) on 1 January 2001.
  void OldFile(const std::wstring& relative) {
    const HANDLE h = CreateFileW((root_ + relative).c_str(), GENERIC_WRITE, 0,
                                 nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                                 nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    SYSTEMTIME st = {2001, 1, 1, 1, 12, 0, 0, 0};
    FILETIME ft;
    SystemTimeToFileTime(&st, &ft);
    SetFileTime(h, &ft, nullptr, &ft);
    CloseHandle(h);
  }
  bool Exists(const std::wstring& path) const {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
  }
  std::string Read(const std::wstring& path) const {
    const HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ,
                                 nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return "";
    std::string text(1 << 16, '\0');
    DWORD n = 0;
    ReadFile(h, text.data(), static_cast<DWORD>(text.size()), &n, nullptr);
    CloseHandle(h);
    text.resize(n);
    return text;
  }

 private:
  TempFolder temp_;
  std::wstring root_;
};

// A running agesweep.exe; ended by force if a test leaves it running.
class Program {
 public:
  Program(const std::wstring& exe, const std::wstring& arguments) {
    std::wstring line = L"\"" + exe + L"\" " + arguments;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    started_ = CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0,
                              nullptr, nullptr, &startup, &process_) != 0;
    EXPECT_TRUE(started_) << "cannot start agesweep.exe: " << GetLastError();
  }
  ~Program() {
    if (!started_) return;
    if (WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT)
      TerminateProcess(process_.hProcess, 99);
    CloseHandle(process_.hThread);
    CloseHandle(process_.hProcess);
  }
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;

  DWORD id() const { return process_.dwProcessId; }

  // The exit status, or -1 when the program has not ended in time.
  long WaitForExit() {
    if (!started_ ||
        WaitForSingleObject(process_.hProcess, kPatienceMs) != WAIT_OBJECT_0)
      return -1;
    DWORD status = 0;
    GetExitCodeProcess(process_.hProcess, &status);
    return static_cast<long>(status);
  }
  bool Ended() const {
    return started_ && WaitForSingleObject(process_.hProcess, 0) == WAIT_OBJECT_0;
  }

  // The program's visible top-level window with this caption; null when none
  // appears in time (or the program ends first).
  HWND WaitForWindow(const std::wstring& caption, HWND other_than = nullptr) {
    for (DWORD waited = 0; waited < kPatienceMs; waited += 50) {
      if (HWND hwnd = FindVisible(caption, other_than)) return hwnd;
      if (Ended()) return nullptr;
      Sleep(50);
    }
    return nullptr;
  }

  HWND FindAny(const std::wstring& caption) const {
    Search search{this, caption, nullptr, false, nullptr};
    EnumWindows(Visit, reinterpret_cast<LPARAM>(&search));
    return search.found;
  }

 private:
  struct Search {
    const Program* program;
    std::wstring caption;
    HWND other_than;
    bool visible_only;
    HWND found;
  };
  static BOOL CALLBACK Visit(HWND hwnd, LPARAM param) {
    auto* s = reinterpret_cast<Search*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    if (pid != s->program->id() || hwnd == s->other_than) return TRUE;
    if (s->visible_only && !IsWindowVisible(hwnd)) return TRUE;
    wchar_t text[256];
    GetWindowTextW(hwnd, text, 256);
    if (s->caption != text) return TRUE;
    s->found = hwnd;
    return FALSE;
  }
  HWND FindVisible(const std::wstring& caption, HWND other_than) const {
    Search search{this, caption, other_than, true, nullptr};
    EnumWindows(Visit, reinterpret_cast<LPARAM>(&search));
    return search.found;
  }

  PROCESS_INFORMATION process_ = {};
  bool started_ = false;
};

// The text of a window of another process.
std::wstring TextOf(HWND hwnd) {
  DWORD_PTR length = 0;
  SendMessageTimeoutW(hwnd, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG,
                      kPatienceMs, &length);
  std::wstring text(length + 1, L'\0');
  DWORD_PTR copied = 0;
  SendMessageTimeoutW(hwnd, WM_GETTEXT, length + 1,
                      reinterpret_cast<LPARAM>(text.data()), SMTO_ABORTIFHUNG,
                      kPatienceMs, &copied);
  text.resize(copied);
  return text;
}

std::wstring ClassOf(HWND hwnd) {
  wchar_t name[64];
  GetClassNameW(hwnd, name, 64);
  return name;
}

RECT RectInParent(HWND control) {
  RECT r;
  GetWindowRect(control, &r);
  MapWindowPoints(nullptr, GetParent(control), reinterpret_cast<POINT*>(&r), 2);
  return r;
}

int Dpi() {
  const HDC screen = GetDC(nullptr);
  const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  return dpi;
}

HWND FocusOf(HWND window) {
  GUITHREADINFO info = {};
  info.cbSize = sizeof info;
  GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info);
  return info.hwndFocus;
}

// Writes the screen's pixels under `window` to a 24-bit BMP file.
bool SaveScreenshot(HWND window, const std::wstring& path) {
  RECT r;
  GetWindowRect(window, &r);
  const int width = r.right - r.left, height = r.bottom - r.top;
  const HDC screen = GetDC(nullptr);
  const HDC memory = CreateCompatibleDC(screen);
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = height;  // bottom-up, as BMP files store it
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  const HBITMAP bitmap =
      CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  const HGDIOBJ old = SelectObject(memory, bitmap);
  const bool copied =
      BitBlt(memory, 0, 0, width, height, screen, r.left, r.top, SRCCOPY) != 0;
  GdiFlush();
  const DWORD stride = ((static_cast<DWORD>(width) * 3 + 3) / 4) * 4;
  const DWORD image = stride * static_cast<DWORD>(height);
  BITMAPFILEHEADER file = {};
  file.bfType = 0x4D42;  // "BM"
  file.bfOffBits = sizeof file + sizeof info.bmiHeader;
  file.bfSize = file.bfOffBits + image;
  bool written = false;
  if (copied) {
    const HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr,
                                 CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
      DWORD n = 0;
      written = WriteFile(h, &file, sizeof file, &n, nullptr) &&
                WriteFile(h, &info.bmiHeader, sizeof info.bmiHeader, &n,
                          nullptr) &&
                WriteFile(h, bits, image, &n, nullptr);
      CloseHandle(h);
    }
  }
  SelectObject(memory, old);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return written;
}

void PressAltC() {
  INPUT keys[4] = {};
  const WORD codes[4] = {VK_MENU, 'C', 'C', VK_MENU};
  for (int i = 0; i < 4; ++i) {
    keys[i].type = INPUT_KEYBOARD;
    keys[i].ki.wVk = codes[i];
    keys[i].ki.dwFlags = (i >= 2) ? KEYEVENTF_KEYUP : 0;
  }
  SendInput(4, keys, sizeof(INPUT));
}

void PressKey(WORD key) {
  INPUT keys[2] = {};
  for (int i = 0; i < 2; ++i) {
    keys[i].type = INPUT_KEYBOARD;
    keys[i].ki.wVk = key;
    keys[i].ki.dwFlags = i ? KEYEVENTF_KEYUP : 0;
  }
  SendInput(2, keys, sizeof(INPUT));
}

const std::wstring kCaptionW = Widen(kCaption);

}  // namespace

// Started with "/L /Q /?": the window appears as laid out, with the Close
// button focused; Close ends the program with status 0 and writes no log.
TEST(HelpWindow, ShowsItsControlsAndCloseEndsTheProgram) {
  Sandbox box;
  Program program(box.exe(), L"/L /Q /?");
  const HWND window = program.WaitForWindow(kCaptionW);
  ASSERT_NE(nullptr, window) << "the help window did not appear";

  const int dpi = Dpi();
  RECT outer, client;
  GetWindowRect(window, &outer);
  GetClientRect(window, &client);
  EXPECT_EQ(MulDiv(kLoadedHeightTwips, dpi, 1440), outer.bottom - outer.top);
  EXPECT_EQ(MulDiv(kClientWidthTwips, dpi, 1440), client.right);
  EXPECT_FALSE(GetWindowLongW(window, GWL_STYLE) & WS_THICKFRAME);

  // The layout in pixels at 96 dots per inch, as a user measures it.
  struct Expected {
    const char* name;
    const wchar_t* class_name;
    int left, top, width, height;
  };
  const Expected expected[9] = {
      {"cmdok", L"Button", 328, 384, 65, 25},
      {"Text", L"Edit", 0, 0, 393, 377},
      {"Text2", L"Edit", 160, 56, 97, 25},
      {"Text3", L"Edit", 160, 96, 97, 25},
      {"Text1", L"Edit", 160, 24, 97, 25},
      {"Text4", L"Edit", 160, 128, 97, 25},
      {"Text5", L"Edit", 160, 160, 97, 25},
      {"List1", L"ListBox", 32, 200, 305, 173},
      {"Label2", L"Static", 8, 384, 313, 17},
  };
  for (int i = 0; i < 9; ++i) {
    const Expected& e = expected[i];
    const HWND control = GetDlgItem(window, 100 + i);
    ASSERT_NE(nullptr, control) << e.name;
    EXPECT_EQ(e.class_name, ClassOf(control)) << e.name;
    const RECT r = RectInParent(control);
    const auto px = [&](int at96) { return MulDiv(at96, dpi, 96); };
    EXPECT_EQ(px(e.left), r.left) << e.name;
    EXPECT_EQ(px(e.top), r.top) << e.name;
    EXPECT_EQ(px(e.width), r.right - r.left) << e.name;
    EXPECT_EQ(px(e.height), r.bottom - r.top) << e.name;
    EXPECT_TRUE(IsWindowVisible(control)) << e.name;
  }
  const auto control = [&](int i) { return GetDlgItem(window, 100 + i); };
  EXPECT_EQ(L"&Close", TextOf(control(0)));
  const std::wstring help = TextOf(control(1));
  EXPECT_EQ(Widen(kHelpText), help);
  size_t lines = 0;
  for (size_t at = help.find(L"\r\n"); at != std::wstring::npos;
       at = help.find(L"\r\n", at + 2))
    ++lines;
  EXPECT_EQ(28u, lines);
  EXPECT_FALSE(IsWindowEnabled(control(1)));
  EXPECT_EQ(L"Text2", TextOf(control(2)));
  EXPECT_EQ(L"Text3", TextOf(control(3)));
  EXPECT_EQ(L"Text1", TextOf(control(4)));
  EXPECT_EQ(L"Text4", TextOf(control(5)));
  EXPECT_EQ(L"Text5", TextOf(control(6)));
  EXPECT_EQ(0, SendMessageW(control(7), LB_GETCOUNT, 0, 0));
  EXPECT_EQ(Widen(kLabel2Text), TextOf(control(8)));
  EXPECT_EQ(control(0), FocusOf(window));

  // Picture for a person to look at; the suite turns it into a PNG.
  RedrawWindow(window, nullptr, nullptr,
               RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
  Sleep(500);
  EXPECT_TRUE(SaveScreenshot(window, OwnFolder() + L"help-window.bmp"));

  PostMessageW(control(0), BM_CLICK, 0, 0);
  EXPECT_EQ(0, program.WaitForExit());
  EXPECT_FALSE(box.Exists(box.log())) << "help must not write the log";
}

TEST(HelpWindow, AltCAndSpaceOnTheFocusedButtonClose) {
  for (int key = 0; key < 2; ++key) {
    Sandbox box;
    Program program(box.exe(), L"/help");
    const HWND window = program.WaitForWindow(kCaptionW);
    ASSERT_NE(nullptr, window);
    SetForegroundWindow(window);
    for (DWORD waited = 0; GetForegroundWindow() != window && waited < kPatienceMs;
         waited += 50)
      Sleep(50);
    if (key == 0)
      PressAltC();
    else
      PressKey(VK_SPACE);
    EXPECT_EQ(0, program.WaitForExit()) << (key == 0 ? "Alt+C" : "Space");
  }
}

TEST(HelpWindow, ClosingTheWindowEndsTheProgram) {
  Sandbox box;
  Program program(box.exe(), L"-help");
  const HWND window = program.WaitForWindow(kCaptionW);
  ASSERT_NE(nullptr, window);
  PostMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0);
  EXPECT_EQ(0, program.WaitForExit());
}

namespace {

struct BoxParts {
  std::wstring prompt;
  std::vector<int> buttons;
  int visible_icons = 0;
};

BOOL CALLBACK VisitPart(HWND child, LPARAM param) {
  auto* parts = reinterpret_cast<BoxParts*>(param);
  const std::wstring cls = ClassOf(child);
  if (!IsWindowVisible(child)) return TRUE;
  if (cls == L"Button") {
    parts->buttons.push_back(GetDlgCtrlID(child));
  } else if (cls == L"Static") {
    // Wine keeps an empty icon control; only one holding an icon counts.
    if ((GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) {
      if (SendMessageW(child, STM_GETICON, 0, 0) != 0) ++parts->visible_icons;
    }
    else if (parts->prompt.empty())
      parts->prompt = TextOf(child);
  }
  return TRUE;
}

BoxParts PartsOf(HWND box) {
  BoxParts parts;
  EnumChildWindows(box, VisitPart, reinterpret_cast<LPARAM>(&parts));
  return parts;
}

std::string Narrow(const std::wstring& s) {
  std::string out;
  for (wchar_t c : s) out += static_cast<char>(c);  // the paths here are ASCII
  return out;
}

}  // namespace

// Without /Q every due file is asked about: Yes deletes that file, No keeps
// the other, and the log tells which.
TEST(ConfirmDelete, YesDeletesTheFileAskedAboutAndNoKeepsTheOther) {
  Sandbox box;
  box.Folder(L"data");
  box.OldFile(L"data\\first.log");
  box.OldFile(L"data\\second.log");
  const std::wstring folder = box.root() + L"data\\";
  Program program(box.exe(), L"/F " + folder + L" /L");

  const std::wstring prompt_start = L"Are you sure you want to delete " + folder;
  std::wstring asked[2];
  HWND previous = nullptr;
  for (int answer = 0; answer < 2; ++answer) {
    const HWND confirm = program.WaitForWindow(L"Confirm Delete", previous);
    ASSERT_NE(nullptr, confirm) << "confirmation box " << answer + 1;
    EXPECT_EQ(L"#32770", ClassOf(confirm));
    // The run's own window exists but stays hidden.
    const HWND main = program.FindAny(kCaptionW);
    EXPECT_NE(nullptr, main);
    EXPECT_FALSE(IsWindowVisible(main));

    const BoxParts parts = PartsOf(confirm);
    ASSERT_EQ(0u, parts.prompt.rfind(prompt_start, 0)) << Narrow(parts.prompt);
    asked[answer] = parts.prompt.substr(prompt_start.size() - folder.size());
    EXPECT_EQ(2u, parts.buttons.size());
    EXPECT_NE(nullptr, GetDlgItem(confirm, IDYES));
    EXPECT_NE(nullptr, GetDlgItem(confirm, IDNO));
    EXPECT_EQ(0, parts.visible_icons);
    // Yes is the default button: Enter answers the first box with it.
    EXPECT_EQ(GetDlgItem(confirm, IDYES), FocusOf(confirm));
    if (answer == 0) {
      SetForegroundWindow(confirm);
      for (DWORD waited = 0;
           GetForegroundWindow() != confirm && waited < kPatienceMs; waited += 50)
        Sleep(50);
      PressKey(VK_RETURN);
    } else {
      PostMessageW(GetDlgItem(confirm, IDNO), BM_CLICK, 0, 0);
    }
    for (DWORD waited = 0; IsWindow(confirm) && waited < kPatienceMs; waited += 50)
      Sleep(50);
    previous = confirm;
  }
  EXPECT_EQ(0, program.WaitForExit());
  ASSERT_NE(asked[0], asked[1]);
  EXPECT_FALSE(box.Exists(asked[0])) << "answered Yes: " << Narrow(asked[0]);
  EXPECT_TRUE(box.Exists(asked[1])) << "answered No: " << Narrow(asked[1]);
  const std::string log = box.Read(box.log());
  EXPECT_NE(std::string::npos, log.find("\r\nDelete: " + Narrow(asked[0]) + "\r\n"))
      << log;
  EXPECT_EQ(std::string::npos, log.find(Narrow(asked[1]))) << log;
  EXPECT_NE(std::string::npos, log.find("\r\nFound: 2\r\n")) << log;
}

namespace {

std::wstring VersionString(const std::vector<char>& info, const wchar_t* name) {
  struct Translation {
    WORD language, code_page;
  }* translations = nullptr;
  UINT size = 0;
  if (!VerQueryValueW(info.data(), L"\\VarFileInfo\\Translation",
                      reinterpret_cast<void**>(&translations), &size) ||
      size < sizeof(Translation))
    return L"(no translation)";
  wchar_t key[128];
  swprintf(key, 128, L"\\StringFileInfo\\%04x%04x\\%ls",
           translations[0].language, translations[0].code_page, name);
  wchar_t* value = nullptr;
  if (!VerQueryValueW(info.data(), key, reinterpret_cast<void**>(&value), &size))
    return L"(missing)";
  return value;
}

}  // namespace

// What Explorer shows of the program: its version record and its icon's
// five images.
TEST(Executable, VersionRecordAndIcon) {
  const std::wstring exe = OwnFolder() + L"agesweep.exe";
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(exe.c_str(), &ignored);
  ASSERT_GT(size, 0u);
  std::vector<char> info(size);
  ASSERT_TRUE(GetFileVersionInfoW(exe.c_str(), 0, size, info.data()));
  const std::wstring version(std::begin(kVersion), std::end(kVersion) - 1);
  EXPECT_EQ(version, VersionString(info, L"FileVersion"));
  EXPECT_EQ(version, VersionString(info, L"ProductVersion"));
  EXPECT_EQ(L"Agesweep", VersionString(info, L"ProductName"));
  EXPECT_EQ(L"AgeSweep", VersionString(info, L"InternalName"));
  EXPECT_EQ(L"AgeSweep.exe", VersionString(info, L"OriginalFilename"));

  const HMODULE module = LoadLibraryExW(
      exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  ASSERT_NE(nullptr, module);
  const HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(1), RT_GROUP_ICON);
  ASSERT_NE(nullptr, found);
  const BYTE* group = static_cast<const BYTE*>(
      LockResource(LoadResource(module, found)));
  ASSERT_NE(nullptr, group);
  // The group: reserved, type, count, then 14-byte entries of width, height,
  // colour count, reserved, planes, bits per pixel, size and id.
  const auto word = [&](size_t at) {
    return static_cast<int>(group[at] | (group[at + 1] << 8));
  };
  ASSERT_EQ(5, word(4));
  std::vector<std::string> images;
  for (int i = 0; i < 5; ++i) {
    const BYTE* e = group + 6 + 14 * i;
    images.push_back(std::to_string(e[0]) + "x" + std::to_string(e[1]) + "x" +
                     std::to_string(e[6] | (e[7] << 8)) + "bpp");
  }
  std::sort(images.begin(), images.end());
  EXPECT_EQ((std::vector<std::string>{"16x16x4bpp", "32x32x1bpp", "32x32x4bpp",
                                      "32x32x8bpp", "48x48x8bpp"}),
            images);
  FreeLibrary(module);
}
