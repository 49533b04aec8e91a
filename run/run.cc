#include "run/run.h"

#include <string>

#include "platform/platform.h"
#include "run/command_line.h"
#include "run/run_log.h"
#include "run/totals.h"
#include "sweep/sweep.h"
#include "ui/window.h"

namespace {

// Ends the run early: the quit line, then the log when asked for.
int quit(Platform& platform, RunLog& log, const RunSettings& settings,
         int exit_status) {
  log.AppendLine("Quit: " + platform.FormatGeneralDate(platform.Now()));
  // A refused run keeps its status even when the log cannot be written; the
  // failure to write has been reported on its own.
  if (settings.LogToFile) WriteLog(platform, log);
  return exit_status;
}

}  // namespace

bool Form_Load(Platform& platform, WindowModel& window, int* exit_status) {
  RunLog log;
  RunSettings settings;
  log.AppendLine(kLogTitle);
  log.AppendLine("Start: " + platform.FormatGeneralDate(platform.Now()));
  log.AppendLine("App Path: " + platform.ProgramFolder());

  const std::vector<std::string> words =
      GetCommandLine(platform.ArgumentText());
  settings.QuietMode = false;
  window.outer_height_twips = kLoadedHeightTwips;

  const SwitchLoopResult loop = RunSwitchLoop(words, &settings, &log);
  if (loop.help) return true;

  log.Wrap();
  if (loop.retired) {
    log.AppendLine(kRetiredSwitchText);
    *exit_status = quit(platform, log, settings, kExitRefused);
    return false;
  }
  std::vector<std::string> refusals;
  const std::optional<SweepSettings> sweep =
      SettleSettings(loop, &settings, platform.GetEnv("TEMP"),
                     platform.Separator(), &refusals);
  if (!sweep) {
    for (const std::string& line : refusals) {
      log.AppendLine(line);
      platform.ReportError(line);
    }
    *exit_status = quit(platform, log, settings, kExitRefused);
    return false;
  }

  window.Text3.clear();
  window.Text4.clear();
  window.Text5.clear();
  window.List1.Clear();
  window.List1.visible = false;

  const double start = platform.MonotonicSeconds();
  const SweepTotals totals = SearchFolder(platform, *sweep, log, window.List1);
  const double end = platform.MonotonicSeconds();

  const LocaleInfo locale = platform.Locale();
  window.List1.visible = true;
  window.Text3 = FormatCount(totals.FilesSearched, locale);
  window.Text4 = FormatCount(totals.FilesFound, locale);
  window.Text5 = FormatRunTime(end - start, locale);
  log.AppendLine("Searched: " + window.Text3);
  log.AppendLine("Found: " + window.Text4);
  log.AppendLine("Run Time:" + window.Text5);
  log.AppendLine("Done: " + platform.FormatGeneralDate(platform.Now()));

  int status = totals.deletion_failed ? kExitFailed : kExitOk;
  if (settings.LogToFile && !WriteLog(platform, log)) status = kExitFailed;
  *exit_status = status;
  return false;
}

int RunProgram(Platform& platform) {
  WindowModel window;
  int exit_status = kExitOk;
  if (Form_Load(platform, window, &exit_status))
    return platform.ShowWindow(window);
  return exit_status;
}
