#include "run/run_log.h"

#include <algorithm>
#include <cassert>
#include <memory>
#include <new>

#include "agesweep_default_log.h"
#include "platform/platform.h"

const char kCrLf[] = "\r\n";
const char kLogTitle[] = "Quillfen Utilities Age Sweeper (agesweep.exe)";
const char kLogFileName[] = "agesweep.log";

void RunLog::Append(std::string_view s) {
  if (!keep_) return;
  MakeRoom(s.size());
  const size_t start = text.size();
  text.append(s);
  MaskUnprintable(&text, start);
}

void RunLog::EndLine() {
  if (!keep_) return;
  MakeRoom(2);
  text.append(kCrLf);
}

void RunLog::AppendFailure(std::string_view path, int64_t error_number,
                           std::string_view error_text) {
  Append("Error: ");
  Append(std::to_string(error_number));
  Append(": ");
  Append(error_text);
  EndLine();
  Append("File:  ");
  Append(path);
  EndLine();
}

void RunLog::KeepNothing() {
  keep_ = false;
  std::string().swap(text);
}

void RunLog::SpoolBeside(LogFile& file) {
  std::string error_text;
  try {
    spool_ = file.MakeSpool(&error_text);
  } catch (const std::bad_alloc&) {
  }
  // Nowhere to spool: the block stays in memory, as it always did, and the
  // run goes on unless memory runs out. Only a spool that took part of the
  // block and then failed must stop it.
  if (spool_) file_ = &file;
}

bool RunLog::Spool() {
  if (!file_ || !spool_error_.empty()) return false;
  if (text.empty()) return true;
  std::string error_text;
  if (!spool_->Write(text, &error_text)) {
    spool_error_ = error_text.empty() ? "the write failed" : error_text;
    return false;
  }
  text.clear();  // its room stays, for the lines to come
  return true;
}

void RunLog::MakeRoom(size_t n) {
  // Past the bound the text so far goes to the spool and its room is used
  // again, so that the memory stays the same however long the block.
  const bool spooling = file_ && spool_error_.empty();
  if (spooling && text.size() + n > kLogChunkBytes) Spool();
  if (text.capacity() - text.size() >= n + kReserveBytes) return;
  // Doubling keeps appends cheap (while spooling, up to the bound and the
  // reserve); when that is refused, just what is needed; when that is
  // refused too, the reserve, and the walk stops.
  const size_t needed = text.size() + n + kReserveBytes;
  size_t doubled = 2 * text.capacity() + n + kReserveBytes;
  if (spooling)
    doubled = std::max(needed, std::min(doubled, kLogChunkBytes + kReserveBytes));
  for (const size_t want : {doubled, needed}) {
    try {
      text.reserve(want);
      return;
    } catch (const std::bad_alloc&) {
    }
  }
  short_of_memory_ = true;
  if (text.capacity() - text.size() >= n) return;
  // Spooling takes no memory: a line that comes after the stop still lands.
  if (Spool() && text.capacity() >= n) return;
  throw std::bad_alloc();
}

void RunLog::Wrap() {
  // Before the spool is attached: it cannot take text in front of what it
  // holds.
  assert(!file_);
  if (!keep_) return;
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
  // A spool is copied into the log that made it only.
  assert(!log.spool_ || log.file_ == &file);
  bool lock_held = true;
  std::string error_text;
  const bool written =
      file.Append(log.spool_.get(), log.text, &lock_held, &error_text);
  log.spool_.reset();
  if (!written) {
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
