// agesweep.exe: the window is created hidden, the whole run happens in its
// load step, and the window is displayed only when help was asked for.
#include <windows.h>

#include "platform/win32/main_window.h"
#include "platform/win32/win32_platform.h"
#include "run/run.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  MainWindow window;
  const bool created = window.Create(instance);
  // Without a window the run itself can still be done; only help has
  // nothing to show.
  std::unique_ptr<Platform> platform = MakeWin32Platform();
  if (!created) platform->ReportError("agesweep: the window could not be created");
  return RunProgram(*platform, window);
}
