// One run of agesweep, from the command line to the log file.
#pragma once

#include <string>

struct Platform;
struct WindowDisplay;
struct WindowModel;

// The program's version, kVersion, as its version record also gives it:
// made by CMake from the project's version.
#include "agesweep_version.h"

// Exit statuses of a run.
constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;   // a deletion failed or the log was not written
constexpr int kExitRefused = 2;  // bad input: nothing was swept
// An interrupted run exits with this plus the signal's number, as a shell
// reports a command ended by that signal.
constexpr int kExitSignalBase = 128;

// How Form_Load ended: with the window to display (help), or with the run
// over and its exit status.
struct RunOutcome {
  bool display_window = false;
  int exit_status = kExitOk;
};

// The path a sweep of `folder` (ending in `separator`) reports for the log
// file, when the log's path as the file system names it, `log_final`, lies
// inside the top folder's, `top_final`: `folder` followed by the rest of
// `log_final`. Both come from the file system, so they are compared
// exactly. Empty when the log lies elsewhere, or either path is unknown.
std::string LogPathInSweep(const std::string& folder,
                           const std::string& top_final,
                           const std::string& log_final, char separator);

// The whole run, performed while the window is still hidden.
RunOutcome Form_Load(Platform& platform, WindowModel& window);

// The program on every platform: Form_Load, then, on the help path, the
// window on `display` until the user closes it. Returns the exit status.
int RunProgram(Platform& platform, WindowDisplay& display);
