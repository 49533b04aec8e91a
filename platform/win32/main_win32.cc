// agesweep.exe: the window is created hidden, the whole run happens in its
// load step, and the window is displayed only when help was asked for.
#include <windows.h>

#include "platform/win32/main_window.h"
#include "platform/win32/win32_platform.h"
#include "run/run.h"
#include "ui/window.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  MainWindow window;
  std::unique_ptr<Platform> platform;
  if (window.Create(instance)) {
    platform = MakeWin32Platform(&window);
  } else {
    // Without a window the run itself can still be done; only help has
    // nothing to show.
    platform = MakeWin32Platform(nullptr);
    platform->ReportError("agesweep: the window could not be created");
  }

  WindowModel model;
  int exit_status = kExitOk;
  if (Form_Load(*platform, model, &exit_status))
    return platform->ShowWindow(model);
  // The run has ended without displaying the window; like the window of any
  // run, it holds the totals and results lines until the program ends.
  window.Update(model);
  return exit_status;
}
