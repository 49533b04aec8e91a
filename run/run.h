// One run of agesweep, from the command line to the log file.
#pragma once

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

// The whole run, performed while the window is still hidden.
RunOutcome Form_Load(Platform& platform, WindowModel& window);

// The program on every platform: Form_Load, then, on the help path, the
// window on `display` until the user closes it. Returns the exit status.
int RunProgram(Platform& platform, WindowDisplay& display);
