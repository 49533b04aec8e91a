#include "run/run.h"

#include <memory>
#include <optional>
#include <utility>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "run/command_line.h"
#include "run/run_log.h"
#include "run/totals.h"
#include "sweep/sweep.h"
#include "ui/window.h"

namespace {

const char kRootRefusal[] = "Error: Refusing to sweep the root folder /.";

// The title, start and program-folder lines.
void StartLog(Platform& platform, RunLog* log) {
  log->AppendLine(kLogTitle);
  log->AppendLine("Start: " + platform.FormatGeneralDate(platform.Now()));
  log->AppendLine("App Path: " + platform.ProgramFolder());
}

// Ends the run early: the quit line, then the log when asked for.
RunOutcome quit(Platform& platform, RunLog& log, const RunSettings& settings,
                int exit_status) {
  log.AppendLine("Quit: " + platform.FormatGeneralDate(platform.Now()));
  // A refused run keeps its status even when the log cannot be written; the
  // failure to write has been reported on its own.
  if (settings.LogToFile) WriteLog(platform, log);
  return RunOutcome{false, exit_status};
}

// Each line that refuses the run goes to the log and to the user.
RunOutcome Refuse(Platform& platform, RunLog& log, const RunSettings& settings,
                  const std::vector<std::string>& refusals) {
  for (const std::string& line : refusals) {
    log.AppendLine(line);
    platform.ReportError(line);
  }
  return quit(platform, log, settings, kExitRefused);
}

// The totals blanked and the list cleared and hidden while the sweep fills
// them.
void BlankWindow(WindowModel& window) {
  window.Text3.clear();
  window.Text4.clear();
  window.Text5.clear();
  window.List1.Clear();
  window.List1.visible = false;
}

// The totals into the window, and from the window into the summary lines.
void ShowTotals(Platform& platform, const SweepTotals& totals, double seconds,
                WindowModel& window, RunLog* log) {
  const LocaleInfo locale = platform.Locale();
  window.List1.visible = true;
  window.Text3 = FormatCount(totals.FilesSearched, locale);
  window.Text4 = FormatCount(totals.FilesFound, locale);
  window.Text5 = FormatRunTime(seconds, locale);
  log->AppendLine("Searched: " + window.Text3);
  log->AppendLine("Found: " + window.Text4);
  log->AppendLine("Run Time:" + window.Text5);
}

}  // namespace

RunOutcome Form_Load(Platform& platform, WindowModel& window) {
  RunLog log;
  StartLog(platform, &log);

  const std::vector<std::string> words =
      GetCommandLine(platform.ArgumentText());
  RunSettings settings;
  settings.QuietMode = false;
  window.outer_height_twips = kLoadedHeightTwips;
  // POSIX users type --help and --version by habit; on Windows they stay
  // ordinary words.
  const bool posix_words = platform.Separator() == '/';
  const SwitchLoopResult loop =
      RunSwitchLoop(words, posix_words, &settings, &log);
  if (loop.version) {
    platform.Print(std::string("agesweep ") + kVersion + "\n");
    return RunOutcome{false, kExitOk};
  }
  if (loop.help) return RunOutcome{true, kExitOk};
  log.Wrap();
  if (loop.wildcard_syntax_error) platform.ReportError(kWildcardSyntaxError);

  if (loop.retired) {
    log.AppendLine(kRetiredSwitchText);
    return quit(platform, log, settings, kExitRefused);
  }
  std::vector<std::string> refusals;
  const std::optional<SweepSettings> sweep =
      SettleSettings(loop, &settings, platform.GetEnv("TEMP"),
                     platform.Separator(), &refusals);
  if (!sweep) return Refuse(platform, log, settings, refusals);

  std::string unlisted_reason;
  std::unique_ptr<Listing> top =
      platform.OpenFolder(sweep->folder, &unlisted_reason);
  if (top && top->IsFileSystemRoot())
    return Refuse(platform, log, settings, {kRootRefusal});

  BlankWindow(window);
  const double start = platform.MonotonicSeconds();
  const SweepTotals totals =
      SearchFolder(platform, *sweep, std::move(top), log, window.List1);
  const double end = platform.MonotonicSeconds();
  ShowTotals(platform, totals, end - start, window, &log);
  // An interrupted run says so in place of the done line, with the summary
  // of what it did before it stopped.
  const int signal = platform.InterruptSignal();
  log.AppendLine((signal ? "Quit: " : "Done: ") +
                 platform.FormatGeneralDate(platform.Now()));

  int status = totals.deletion_failed || totals.listing_failed ? kExitFailed
                                                               : kExitOk;
  if (settings.LogToFile && !WriteLog(platform, log)) status = kExitFailed;
  // The top folder's failure is said last, after the run's own account, so
  // that it is the line a user sees.
  if (!unlisted_reason.empty()) {
    platform.ReportError("agesweep: cannot list folder " +
                         Printable(sweep->folder) + ": " + unlisted_reason);
    status = kExitFailed;
  }
  if (signal) status = kExitSignalBase + signal;
  return RunOutcome{false, status};
}

int RunProgram(Platform& platform) {
  WindowModel window;
  const RunOutcome outcome = Form_Load(platform, window);
  if (!outcome.display_window) return outcome.exit_status;
  const int status = platform.ShowWindow(window);
  // A signal closes the help screen too, and says so.
  const int signal = platform.InterruptSignal();
  return signal ? kExitSignalBase + signal : status;
}
