// The run's own account of itself, appended to by every step and written to
// the log file in one piece at the end of a logged run.
#pragma once

#include <string>
#include <string_view>

#include "platform/utf8.h"

struct LogFile;
struct Platform;

extern const char kCrLf[];
extern const char kLogTitle[];
extern const char kLogFileName[];


struct RunLog {
  RunLog() { text.reserve(kReserveBytes); }

  std::string text;

  // Appends `s` as Printable shows it: no text given to the log can break
  // a line, only EndLine and Wrap can.
  void Append(std::string_view s);
  void EndLine() { text.append(kCrLf); }
  void AppendLine(std::string_view s) {
    Append(s);
    EndLine();
  }
  // Ends the arguments line: the log becomes CR LF, itself, CR LF.
  void Wrap();

  // Whether memory ran out and the text now lives on its reserve: room
  // kept for the lines that close a block (the summary, Quit: and the last
  // line end), so that a run short of memory can still say what it did.
  bool short_of_memory() const { return short_of_memory_; }

 private:
  static constexpr size_t kReserveBytes = 4096;

  // Makes room for `n` more bytes, keeping the reserve beyond them while
  // memory allows.
  void MakeRoom(size_t n);

  bool short_of_memory_ = false;
};

// The log file: the environment variable AGESWEEP_LOG when it is set and not
// empty, else the one the build names (AGESWEEP_DEFAULT_LOG in CMake, such as
// the Debian package's /var/log/agesweep.log), else agesweep.log in the
// program folder; empty when that folder is unknown.
std::string LogFilePath(Platform& platform);

// Appends the log and one CR LF to `file`, the log file at `path`, whole or
// not at all. What went wrong is said through the platform; false then, and
// when the block had to go in without the lock.
bool AppendBlock(Platform& platform, LogFile& file, const std::string& path,
                 RunLog& log);

// Opens the log file and appends the block: for a run that ends before the
// sweep.
bool WriteLog(Platform& platform, RunLog& log);
