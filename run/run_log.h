// The run's own account of itself, appended to by every step and written to
// the log file in one piece at the end of a logged run.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "platform/platform.h"
#include "platform/utf8.h"

extern const char kCrLf[];
extern const char kLogTitle[];
extern const char kLogFileName[];


struct RunLog {
  RunLog() { text.reserve(kReserveBytes); }

  // The block, or, once it has outgrown kLogChunkBytes in a run that keeps
  // a spool beside its log file, the part of it not yet in the spool.
  std::string text;

  // Appends `s` as Printable shows it: no text given to the log can break
  // a line, only EndLine and Wrap can.
  void Append(std::string_view s);
  void EndLine();
  void AppendLine(std::string_view s) {
    Append(s);
    EndLine();
  }
  // A failure's two lines: "Error: N: text", then "File:  " and the path
  // of what failed (a folder's ending in the separator). In pieces, with
  // no copy: what went before it may be gone, and its line must not wait
  // for memory.
  void AppendFailure(std::string_view path, int64_t error_number,
                     std::string_view error_text);
  // Ends the arguments line: the log becomes CR LF, itself, CR LF. Comes
  // before SpoolBeside.
  void Wrap();

  // From now on the block goes, once it outgrows kLogChunkBytes, to a
  // spool that `file` makes now, so that its memory stays bounded however
  // much the run does; where none can be made, it stays in memory. Made at
  // once, while the run has memory: lines that come once it has none can
  // then still be moved out of the way. `file` outlives the spool
  // (AppendBlock closes it).
  void SpoolBeside(LogFile& file);
  // Whether the block has a spool to go to, rather than only memory. A
  // block without one keeps room for the lines of this many deletions
  // under way when memory runs out; a sweep must have no more in flight.
  bool spooling() const { return file_ != nullptr; }
  // The spool's identity where a sweep could meet it, and must leave it.
  std::optional<FileIdentity> spool_identity() const {
    return spool_ ? spool_->Identity() : std::nullopt;
  }
  static constexpr size_t kDeletionsInReserve = 64;
  // For a run that writes no log: its lines are dropped as they come.
  void KeepNothing();

  // Whether memory ran out and the text now lives on its reserve: room
  // kept for the lines that close a block (the summary, Quit: and the last
  // line end), so that a run short of memory can still say what it did.
  bool short_of_memory() const { return short_of_memory_; }
  // Why the block could not go on into the spool; empty while it can.
  // Then the lines not spooled stay in memory, as when it runs short.
  const std::string& spool_error() const { return spool_error_; }

 private:
  friend bool AppendBlock(Platform&, LogFile&, const std::string&, RunLog&);

  // Room for the lines that close a block, and, in a block with no spool,
  // for those of the deletions still under way when the walk stops, which
  // report after it: up to kDeletionsInReserve, a line or two each, with
  // paths of several hundred bytes.
  static constexpr size_t kReserveBytes = 64 << 10;

  // Makes room for `n` more bytes, keeping the reserve beyond them while
  // memory allows.
  void MakeRoom(size_t n);
  // Moves the text into the spool; false when there is none to move it
  // to, or it failed.
  bool Spool();

  bool keep_ = true;
  bool short_of_memory_ = false;
  LogFile* file_ = nullptr;
  // Shared only so that a log can be copied, as a value, before the sweep;
  // a run never copies one that spools.
  std::shared_ptr<LogSpool> spool_;
  std::string spool_error_;
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
