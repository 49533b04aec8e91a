// An in-memory platform for unit tests: a tree of folders and files, a clock
// that is set by hand, a fixed locale and scripted answers.
#pragma once

#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"

struct FakeNode {
  std::string name;
  bool is_dir = false;
  FileTimes times;
  std::vector<FakeNode> children;  // in listing order
  bool unlistable = false;         // a folder that cannot be opened
  bool is_link = false;            // a folder link: listed, never opened
  // Listed as a folder (a file system that errs), or with its type unsure.
  enum class Listed { kAsIs, kAsFolder, kUnsure } listed = Listed::kAsIs;
  std::string open_trouble;        // opening fails as the system ran short
  int delete_error = 0;            // non-zero: deletion fails with this
  std::string list_error;          // listing fails with this after the last
  // What reading ahead of the walk saw, when the times have changed since.
  std::optional<FileTimes> early_times;
  uint64_t id = NextFakeFileNumber();  // the file number of its identity

  static uint64_t NextFakeFileNumber();
};

// The platform calls a run makes that fault injection numbers, in the order
// they are made: every call of these kinds counts, failed or not.
enum class FakeCall {
  kOpenFolder,     // Platform::OpenFolder
  kNext,           // Listing::Next
  kOpenSubfolder,  // Listing::OpenCurrentFolder
  kReadTimes,      // Listing::ReadCurrent
  kRemove,         // Listing::RemoveCurrent
  kLogOpen,        // Platform::OpenLogFile
  kLogWrite,       // LogFile::Append
  kAsk,            // Platform::AskYesNo
  kNow,            // Platform::Now
  kMonotonic,      // Platform::MonotonicSeconds
};
const char* FakeCallName(FakeCall call);

// One numbered call. `path` is the folder opened, the entry acted on (for
// Next the entry it moved to, empty when the folder had no more) or the log
// file; for the confirmation and the clock it is the last entry listed, the
// one the walk is at.
struct FakeCallRecord {
  FakeCall call;
  std::string path;
  bool injected = false;  // the call failed because fail_call named it
};

// What an injected failure answers where the call has an error to give.
constexpr int kFakeFaultErrorNumber = 5;
constexpr char kFakeFaultText[] = "Input/output error";
constexpr char kFakeFaultTrouble[] = "Too many open files";
constexpr int kFakeTroubleErrorNumber = 24;

// A UTC file time of a calendar date and time.
FileTime FakeFileTime(int year, int month, int day, int hour = 0,
                      int minute = 0, int second = 0);

struct FakePlatform : Platform {
  FakePlatform();

  // Adds a file (or, with is_dir, a folder) at `path`, creating missing
  // folders on the way. Folders get "." and ".." entries first.
  FakeNode& Add(const std::string& path, bool is_dir = false);
  FakeNode& AddFile(const std::string& path, FileTime last_write,
                    FileTime creation = {});
  FakeNode* Find(const std::string& path);
  // `path` as the fake file system names it: its parts after a single
  // separator each, with no separator at the end; the root is the
  // separator alone.
  std::string FinalPathOf(const std::string& path) const;
  // The file number a read of `node`'s facts gives.
  uint64_t FileNumberOf(const FakeNode& node) const {
    return unstable_identities ? FakeNode::NextFakeFileNumber() : node.id;
  }

  std::string ArgumentText() override { return argument_text; }
  std::string GetEnv(const std::string& name) override;
  std::string ProgramFolder() override { return program_folder; }
  char Separator() override { return separator; }
  bool EveryWordCounts() override { return every_word_counts; }
  CivilTime Now() override;
  double MonotonicSeconds() override;
  bool ToLocal(FileTime time, CivilTime* local) override;
  LocaleInfo Locale() override { return locale; }
  std::string FormatGeneralDate(const CivilTime& time) override {
    return FormatUsGeneralDate(time);
  }
  std::unique_ptr<Listing> OpenFolder(const std::string& path,
                                      int64_t* error_number,
                                      std::string* error_text) override;
  std::unique_ptr<LogFile> OpenLogFile(const std::string& path,
                                       std::string* error_text) override;
  bool AskYesNo(const std::string& title, const std::string& prompt) override;
  void ReportError(const std::string& text) override {
    errors.push_back(text);
  }
  int InterruptSignal() override { return interrupt_signal; }
  using Platform::Print;
  bool Print(const std::string& text, std::string* error_text) override {
    if (print_fails) {
      if (error_text) *error_text = "No space left on device";
      return false;
    }
    printed += text;
    return true;
  }
  bool WatchedAtTerminal() override { return at_terminal; }
  void ShowStatus(const std::string& line) override {
    status_lines.push_back(line);
  }

  // Settings.
  std::string argument_text;
  std::map<std::string, std::string> env;
  std::string program_folder = "/opt/agesweep";
  char separator = '/';
  // As on POSIX, whose separator is the default; a test of the Windows
  // reading of the command line sets it false with the separator.
  bool every_word_counts = true;
  CivilTime now{2026, 12, 7, 6, 48, 36};
  int utc_offset_minutes = 0;  // local time = UTC + offset
  LocaleInfo locale;
  std::vector<double> ticks{0.0, 0.25};  // successive MonotonicSeconds
  std::deque<bool> answers;              // AskYesNo results; No when empty
  bool log_write_fails = false;
  bool log_lock_busy = false;  // another run holds the log's lock
  bool spool_write_fails = false;  // writes to a log's spool fail
  bool spool_make_fails = false;   // no spool can be made
  // Where a spool is a file with a name, as on Windows: an old file made
  // at this path in the fake tree when the spool is made.
  std::string named_spool;
  int interrupt_signal = 0;  // as if that signal had arrived
  // A signal that arrives while the first prompt waits (answered No).
  int signal_at_prompt = 0;
  bool at_terminal = false;  // someone watches at a terminal
  bool print_fails = false;  // standard output is full
  // A share that makes up its file numbers: every read of a file's facts,
  // and every LogFile::Identity, gives a number never given before.
  bool unstable_identities = false;

  // Fault injection: the call numbered `fail_call` (from 1, in `calls`)
  // fails; 0 fails none. Opening a folder gives null with an error text,
  // Next ends the listing, opening a subfolder gives null (with an error
  // text when `fail_with_trouble`), reading times gives invalid times,
  // removing gives an error, the log write an error text, the confirmation No, Now a time
  // centuries back (ahead when `fail_into_future`) and MonotonicSeconds an
  // hour less than the time before it.
  size_t fail_call = 0;
  bool fail_with_trouble = false;
  bool fail_into_future = false;
  // Numbers a call and records it; true when it is the one to fail.
  bool Count(FakeCall call, const std::string& path);

  // What happened.
  FakeNode root;
  std::map<std::string, std::string> files_written;
  size_t spooled_bytes = 0;  // written to log spools, all told
  std::vector<std::string> prompts;
  std::vector<std::string> errors;
  std::vector<std::string> status_lines;  // as shown; empty when erased
  std::string printed;
  std::vector<FakeCallRecord> calls;
  std::string current_entry;  // the path of the entry Next moved to last

 private:
  size_t tick_index_ = 0;
  double last_tick_ = 0;
};
