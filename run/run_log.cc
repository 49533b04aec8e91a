#include "run/run_log.h"

#include <memory>
#include <new>

#include "agesweep_default_log.h"
#include "platform/platform.h"

const char kCrLf[] = "\r\n";
const char kLogTitle[] = "Quillfen Utilities Age Sweeper (agesweep.exe)";
const char kLogFileName[] = "agesweep.log";

void RunLog::Append(std::string_view s) {
  MakeRoom(s.size());
  const size_t start = text.size();
  text.append(s);
  MaskUnprintable(&text, start);
}

void RunLog::MakeRoom(size_t n) {
  if (text.capacity() - text.size() >= n + kReserveBytes) return;
  // Doubling keeps appends cheap; when that is refused, just what is
  // needed; when that is refused too, the reserve, and the walk stops.
  for (const size_t want : {2 * text.capacity() + n + kReserveBytes,
                            text.size() + n + kReserveBytes}) {
    try {
      text.reserve(want);
      return;
    } catch (const std::bad_alloc&) {
    }
  }
  short_of_memory_ = true;
  if (text.capacity() - text.size() < n) throw std::bad_alloc();
}

void RunLog::Wrap() {
  text.insert(0, kCrLf);
  text.append(kCrLf);
}

std::string LogFilePath(Platform& platform) {
  const std::string chosen = platform.GetEnv("AGESWEEP_LOG");
  if (!chosen.empty()) return chosen;
  // An installed program's folder is not writable, so a packaged build
  // names the log's place when it is built.
  if (kDefaultLogFile[0] != '\0') return kDefaultLogFile;
  // Never the working folder: a log must be where the user looks for it.
  const std::string folder = platform.ProgramFolder();
  if (folder.empty()) return "";
  return AddBackslash(folder, platform.Separator()) + kLogFileName;
}

bool AppendBlock(Platform& platform, LogFile& file, const std::string& path,
                 RunLog& log) {
  // The block's last line end goes into the reserve, not into a copy of
  // the whole text.
  log.EndLine();
  bool lock_held = true;
  std::string error_text;
  if (!file.Append(log.text, &lock_held, &error_text)) {
    platform.ReportError("agesweep: cannot write log file " + Printable(path) +
                         ": " + error_text);
    return false;
  }
  if (!lock_held)
    platform.ReportError("agesweep: log file " + Printable(path) +
                         " stayed locked by another run; the block was "
                         "appended without the lock");
  return lock_held;
}

bool WriteLog(Platform& platform, RunLog& log) {
  const std::string path = LogFilePath(platform);
  std::string error_text = "the program's folder is unknown";
  std::unique_ptr<LogFile> file =
      path.empty() ? nullptr : platform.OpenLogFile(path, &error_text);
  if (file) return AppendBlock(platform, *file, path, log);
  platform.ReportError("agesweep: cannot write log file " + Printable(path) +
                       ": " + error_text);
  return false;
}
