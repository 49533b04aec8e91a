// One run of agesweep, from the command line to the log file.
#pragma once

struct Platform;
struct WindowModel;

// Exit statuses of a run.
constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;   // a deletion failed or the log was not written
constexpr int kExitRefused = 2;  // bad input: nothing was swept

// The whole run, performed while the window is still hidden. Returns true
// when a help switch asks for the window to be displayed; otherwise the run
// has ended and `*exit_status` holds its status.
bool Form_Load(Platform& platform, WindowModel& window, int* exit_status);

// Runs the program: Form_Load, then the window on the help path.
int RunProgram(Platform& platform);
