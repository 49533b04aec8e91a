#include "run/run.h"

#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/platform.h"
#include "run/command_line.h"
#include "run/run_log.h"
#include "run/totals.h"
#include "sweep/sweep.h"
#include "ui/usage.h"
#include "ui/window.h"

namespace {

const char kRootRefusal[] = "Error: Refusing to sweep the root folder /.";
const char kLogHint[] = "Set AGESWEEP_LOG to a file you can write.";

// The title, start and program-folder lines.
void StartLog(Platform& platform, RunLog* log) {
  log->AppendLine(kLogTitle);
  log->AppendLine("Start: " + platform.FormatGeneralDate(platform.Now()));
  log->AppendLine("App Path: " + platform.ProgramFolder());
}

// Ends the run early: the quit line, then the log when asked for and
// possible.
RunOutcome quit(Platform& platform, RunLog& log, bool log_to_file,
                int exit_status) {
  log.AppendLine("Quit: " + platform.FormatGeneralDate(platform.Now()));
  // A refused run keeps its status even when the log cannot be written; the
  // failure to write has been reported on its own.
  if (log_to_file) WriteLog(platform, log);
  return RunOutcome{false, exit_status};
}

// Each line that refuses the run goes to the log and to the user.
RunOutcome Refuse(Platform& platform, RunLog& log, bool log_to_file,
                  const std::vector<std::string>& refusals) {
  for (const std::string& line : refusals) {
    log.AppendLine(line);
    platform.ReportError(line);
  }
  return quit(platform, log, log_to_file, kExitRefused);
}

// Why the open folder `top` may not be swept; empty when it may.
std::string TopFolderRefusal(Listing& top, const std::string& folder) {
  switch (top.JudgeAsTopFolder()) {
    case TopFolderVerdict::kAllowed:
      return "";
    case TopFolderVerdict::kFileSystemRoot:
      return kRootRefusal;
    case TopFolderVerdict::kForeignLink:
      return "Error: Refusing to sweep " +
             folder.substr(0, folder.size() - 1) +
             ": it is a link that neither you nor root owns.";
  }
  return "";
}

// What the run makes of the sweep's reports: the deletion and failure
// lines of the log, the messages, the questions, and whether anything
// failed.
class SweepReport : public SweepObserver {
 public:
  SweepReport(Platform& platform, RunLog& log, bool dry_run, bool null_list,
              double start)
      : platform_(platform),
        log_(log),
        dry_run_(dry_run),
        null_list_(null_list),
        watched_(platform.WatchedAtTerminal()),
        next_status_(start + kFirstStatusSeconds) {}

  void FileMatched(const std::string&, const FileTimes&) override {}

  // One path a line on stdout, for a script to read. A list that cannot
  // be written is said once and fails the run: a script must not take a
  // list cut short for the whole.
  void WouldDelete(const std::string& path) override {
    ++would_delete_;
    if (list_failed_) return;
    std::string error_text;
    const std::string line =
        null_list_ ? path + '\0' : QuotedForShell(path) + "\n";
    if (platform_.Print(line, &error_text)) return;
    list_failed_ = failed_ = true;
    platform_.ReportError("agesweep: cannot write the list of files to "
                          "standard output: " + error_text);
  }

  // Someone at a terminal sees that a long run is alive: from about a
  // second on, redrawn at most about ten times a second.
  void Progress(const SweepTotals& so_far) override {
    if (!watched_) return;
    const double now = platform_.MonotonicSeconds();
    if (now < next_status_) return;
    next_status_ = now + kStatusEverySeconds;
    platform_.ShowStatus(Counts(so_far));
  }

  // The status line goes; at a terminal, the counts stay as one line.
  void End(const SweepTotals& totals) {
    if (!watched_) return;
    platform_.ShowStatus("");
    if (!dry_run_) platform_.ReportError(Counts(totals));
  }

  void TimesUnreadable(const std::string& path, int64_t error_number,
                       const std::string& error_text) override {
    Failed(path, error_number, error_text,
           "agesweep: cannot read the times of ");
  }

  bool ConfirmDeletion(const std::string& path) override {
    return platform_.AskYesNo(
        "Confirm Delete", "Are you sure you want to delete " + Printable(path));
  }

  // In pieces: the file is gone, and its line must not wait for memory.
  void FileDeleted(const std::string& path) override {
    ++deleted_;
    log_.Append("Delete: ");
    log_.Append(path);
    log_.EndLine();
    StopWhenShort();
  }

  void DeletionFailed(const std::string& path, int64_t error_number,
                      const std::string& error_text) override {
    Failed(path, error_number, error_text, "agesweep: cannot delete ");
  }

  void FolderUnreadable(const std::string& folder, int64_t error_number,
                        const std::string& error_text) override {
    Failed(folder, error_number, error_text, "agesweep: cannot read folder ");
  }

  bool failed() const { return failed_; }
  int64_t would_delete() const { return would_delete_; }

 private:
  // Every failure the same way: two lines of the log, where a user of
  // either platform looks, and a message; the walk goes on. `path` is a
  // file's, or a folder's text ending in the separator.
  void Failed(const std::string& path, int64_t error_number,
              const std::string& error_text, const char* message) {
    failed_ = true;
    ++failures_;
    log_.AppendFailure(path, error_number, error_text);
    platform_.ReportError(message + Printable(path) + ": " + error_text);
    StopWhenShort();
  }

  // A log living on its reserve stops the walk, while the lines that close
  // the block still fit; so does one whose spool failed, before its memory
  // grows without bound.
  void StopWhenShort() {
    if (log_.short_of_memory() || !log_.spool_error().empty())
      throw std::bad_alloc();
  }

  static constexpr double kFirstStatusSeconds = 1.0;
  static constexpr double kStatusEverySeconds = 0.1;

  std::string Counts(const SweepTotals& t) const {
    return "agesweep: searched " + std::to_string(t.FilesSearched) +
           ", found " + std::to_string(t.FilesFound) +
           (dry_run_ ? ", would delete " + std::to_string(would_delete_)
                     : ", deleted " + std::to_string(deleted_)) +
           ", failed " + std::to_string(failures_);
  }

  Platform& platform_;
  RunLog& log_;
  const bool dry_run_;
  const bool null_list_;  // each path exact and ended by a NUL
  const bool watched_;
  double next_status_;
  bool failed_ = false;
  bool list_failed_ = false;
  int64_t would_delete_ = 0;
  int64_t deleted_ = 0;
  int64_t failures_ = 0;
};

// The totals blanked and the list hidden while the sweep runs (the list
// holds no lines to clear).
void BlankWindow(WindowModel& window) {
  window.Text3.clear();
  window.Text4.clear();
  window.Text5.clear();
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

std::string LogPathInSweep(const std::string& folder,
                           const std::string& top_final,
                           const std::string& log_final, char separator) {
  if (top_final.empty() || log_final.empty()) return "";
  const std::string top = AddBackslash(top_final, separator);
  if (log_final.size() <= top.size() ||
      log_final.compare(0, top.size(), top) != 0)
    return "";
  return AddBackslash(folder, separator) + log_final.substr(top.size());
}

RunOutcome Form_Load(Platform& platform, WindowModel& window) {
  RunLog log;
  StartLog(platform, &log);

  const std::string argument_text = platform.ArgumentText();
  const std::vector<std::string> words = GetCommandLine(argument_text);
  RunSettings settings;
  window.outer_height_twips = kLoadedHeightTwips;
  // Where every word counts, --help and --version are read as well and a
  // word the loop does not use refuses the run (Platform::EveryWordCounts).
  const bool posix_words = platform.EveryWordCounts();
  SwitchLoopResult loop = RunSwitchLoop(words, posix_words, &settings, &log);
  if (loop.version) {
    platform.Print(std::string("agesweep ") + kVersion + "\n");
    return RunOutcome{false, kExitOk};
  }
  if (loop.usage) {
    platform.Print(kUsageText);
    return RunOutcome{false, kExitOk};
  }
  if (loop.help) return RunOutcome{true, kExitOk};
  if (posix_words) {
    const size_t typed =
        GetCommandLine(argument_text, std::numeric_limits<int>::max()).size() - 1;
    if (typed > words.size() - 1)
      loop.unknown_words.insert(
          loop.unknown_words.begin(),
          "agesweep: too many words (" + std::to_string(typed) +
              "); at most " + std::to_string(words.size() - 1) + " are read");
  }
  // A dry run writes no log, even when it is refused.
  if (settings.DryRun) settings.LogToFile = false;
  log.Wrap();
  // A run that writes no log needs none of its lines, however many.
  if (!settings.LogToFile) log.KeepNothing();
  if (loop.wildcard_syntax_error) platform.ReportError(kWildcardSyntaxError);

  if (loop.retired)
    return Refuse(platform, log, settings.LogToFile, {kRetiredSwitchText});
  std::vector<std::string> refusals;
  std::optional<SweepSettings> sweep = SettleSettings(
      loop, settings, platform.GetEnv("TEMP"), platform.Separator(), &refusals);
  if (!sweep) return Refuse(platform, log, settings.LogToFile, refusals);

  // The log is opened before anything is swept: a run that could not say
  // what it deleted deletes nothing.
  const std::string log_path = settings.LogToFile ? LogFilePath(platform) : "";
  std::unique_ptr<LogFile> log_file;
  if (settings.LogToFile) {
    std::string error_text;
    if (log_path.empty())
      return Refuse(platform, log, false,
                    {std::string("Error: Cannot tell where the log file goes: "
                                 "the program's folder is unknown. ") +
                     kLogHint});
    log_file = platform.OpenLogFile(log_path, &error_text);
    if (!log_file)
      return Refuse(platform, log, false,
                    {"Error: Cannot write the log file " + log_path + ": " +
                     error_text + ". " + kLogHint});
    sweep->own_log = log_file->Identity();
  }

  int64_t unlisted_number = 0;
  std::string unlisted_error;
  std::unique_ptr<Listing> top =
      platform.OpenFolder(sweep->folder, &unlisted_number, &unlisted_error);
  const std::string refusal = top ? TopFolderRefusal(*top, sweep->folder) : "";
  if (!refusal.empty())
    return Refuse(platform, log, settings.LogToFile, {refusal});
  // The log is known by where it is as well as by what it is: where the
  // file system makes up file numbers, its identity matches nothing.
  if (top && log_file)
    sweep->own_log_path = LogPathInSweep(sweep->folder, top->FinalPath(),
                                         log_file->FinalPath(),
                                         platform.Separator());
  // From here on the block is the sweep's: it may outgrow memory. (A
  // refusal writes its short block as any refusal does.)
  if (log_file) {
    log.SpoolBeside(*log_file);
    sweep->own_spool = log.spool_identity();
    if (!log.spooling())
      sweep->removals_in_flight = RunLog::kDeletionsInReserve;
  }
  // A top folder that cannot be listed is the walk's first failure, told
  // in the log as any other.
  if (!top) log.AppendFailure(sweep->folder, unlisted_number, unlisted_error);

  BlankWindow(window);
  const double start = platform.MonotonicSeconds();
  SweepReport report(platform, log, sweep->dry_run, settings.NullList, start);
  const SweepTotals totals =
      SearchFolder(platform, *sweep, std::move(top), report);
  const double end = platform.MonotonicSeconds();
  report.End(totals);
  ShowTotals(platform, totals, end - start, window, &log);
  // An interrupted run says so in place of the done line, with the summary
  // of what it did before it stopped; so does one that ran out of memory.
  const int signal = platform.InterruptSignal();
  const bool stopped = signal != 0 || totals.out_of_memory;
  log.AppendLine((stopped ? "Quit: " : "Done: ") +
                 platform.FormatGeneralDate(platform.Now()));

  int status = report.failed() ? kExitFailed : kExitOk;
  if (sweep->dry_run)
    platform.ReportError("agesweep: dry run: " +
                         std::to_string(report.would_delete()) +
                         (report.would_delete() == 1 ? " file" : " files") +
                         " would be deleted");
  if (!log.spool_error().empty()) {
    platform.ReportError("agesweep: cannot keep the block for log file " +
                         Printable(log_path) + " in a temporary file: " +
                         log.spool_error() + "; the sweep stopped early");
    status = kExitFailed;
  } else if (totals.out_of_memory) {
    platform.ReportError("agesweep: out of memory; the sweep stopped early");
    status = kExitFailed;
  }
  if (log_file && !AppendBlock(platform, *log_file, log_path, log))
    status = kExitFailed;
  // The top folder's failure is said last, after the run's own account, so
  // that it is the line a user sees.
  if (!unlisted_error.empty()) {
    platform.ReportError("agesweep: cannot list folder " +
                         Printable(sweep->folder) + ": " + unlisted_error);
    status = kExitFailed;
  }
  if (signal) status = kExitSignalBase + signal;
  return RunOutcome{false, status};
}

int RunProgram(Platform& platform, WindowDisplay& display) {
  WindowModel window;
  const RunOutcome outcome = Form_Load(platform, window);
  if (!outcome.display_window) return outcome.exit_status;
  const int status = display.Show(window);
  // A signal closes the help screen too, and says so.
  const int signal = platform.InterruptSignal();
  return signal ? kExitSignalBase + signal : status;
}
