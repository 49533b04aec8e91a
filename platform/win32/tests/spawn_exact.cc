// Starts a program with exactly the command line given, for end-to-end tests
// that need blanks, tabs and quotes to arrive as typed, and optionally with
// TEMP set or removed. Waits for it and exits with its exit status.
//
//   AGESWEEP_SPAWN_COMMAND_LINE  the whole command line, program name first
//   AGESWEEP_SPAWN_TEMP          when present, TEMP for the program
//   AGESWEEP_SPAWN_NO_TEMP       when present, TEMP is removed
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

// Reads an environment variable; false when it is not set at all.
bool Get(const wchar_t* name, std::wstring* value) {
  value->clear();
  SetLastError(ERROR_SUCCESS);
  const DWORD n = GetEnvironmentVariableW(name, nullptr, 0);
  if (n == 0) return GetLastError() != ERROR_ENVVAR_NOT_FOUND;
  value->assign(n, L'\0');
  value->resize(GetEnvironmentVariableW(name, value->data(), n));
  return true;
}

}  // namespace

int wmain() {
  std::wstring command_line, temp;
  if (!Get(L"AGESWEEP_SPAWN_COMMAND_LINE", &command_line)) {
    fprintf(stderr, "spawn_exact: AGESWEEP_SPAWN_COMMAND_LINE is not set\n");
    return 125;
  }
  if (Get(L"AGESWEEP_SPAWN_TEMP", &temp))
    SetEnvironmentVariableW(L"TEMP", temp.c_str());
  if (Get(L"AGESWEEP_SPAWN_NO_TEMP", &temp))
    SetEnvironmentVariableW(L"TEMP", nullptr);

  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(nullptr, command_line.data(), nullptr, nullptr, FALSE, 0,
                      nullptr, nullptr, &startup, &process)) {
    fprintf(stderr, "spawn_exact: cannot start the program: error %lu\n",
            GetLastError());
    return 126;
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD status = 127;
  GetExitCodeProcess(process.hProcess, &status);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return static_cast<int>(status);
}
