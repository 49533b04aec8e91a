// A fresh folder under the user's temporary folder for one test, removed
// with everything in it when the test ends. Links and junctions inside it
// are removed, never followed.
#pragma once

#include <windows.h>

#include <string>

class TempFolder {
 public:
  explicit TempFolder(const wchar_t* prefix) {
    wchar_t base[MAX_PATH + 1];
    GetTempPathW(MAX_PATH + 1, base);
    static int serial = 0;
    root_ = std::wstring(base) + prefix + std::to_wstring(GetCurrentProcessId()) +
            L"-" + std::to_wstring(GetTickCount64()) + L"-" +
            std::to_wstring(++serial) + L"\\";
    created_ = CreateDirectoryW(root_.c_str(), nullptr) != FALSE;
  }
  ~TempFolder() {
    if (created_) RemoveAll(L"\\\\?\\" + root_);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  // The folder, ending in a backslash.
  const std::wstring& root() const { return root_; }
  bool created() const { return created_; }

 private:
  static void RemoveAll(const std::wstring& folder) {
    WIN32_FIND_DATAW d;
    const HANDLE h = FindFirstFileW((folder + L"*").c_str(), &d);
    if (h != INVALID_HANDLE_VALUE) {
      do {
        const std::wstring name = d.cFileName;
        if (name == L"." || name == L"..") continue;
        const std::wstring path = folder + name;
        if ((d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
            !(d.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
          RemoveAll(path + L"\\");
        } else {
          SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
          if (d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            RemoveDirectoryW(path.c_str());
          else
            DeleteFileW(path.c_str());
        }
      } while (FindNextFileW(h, &d));
      FindClose(h);
    }
    RemoveDirectoryW(folder.c_str());
  }

  std::wstring root_;
  bool created_ = false;
};
