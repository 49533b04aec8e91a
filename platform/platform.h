// The one narrow interface between agesweep and the operating system.
//
// Everything above this layer is portable and deterministic: it gets the
// command line, the clock, the locale, the file system and the user's answers
// from a Platform, so every rule can be tested against FakePlatform.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/civil_time.h"

// A file time as file systems record it: 100-nanosecond ticks since
// 1601-01-01 00:00:00 UTC. `valid` is false when the platform could not read
// the time at all; such a time never converts to a calendar date.
struct FileTime {
  int64_t ticks = 0;
  bool valid = false;
};

constexpr int64_t kTicksPerSecond = 10000000;
// Ticks from 1601-01-01 to 1970-01-01, where POSIX times count from.
constexpr int64_t kUnixEpochTicks = 116444736000000000;

struct FileTimes {
  FileTime creation;
  FileTime last_write;
};

// Which file an entry is, whatever path leads to it: its volume, its number
// on that volume and its type. Two entries with the same identity are the
// same file at that moment.
struct FileIdentity {
  uint64_t volume = 0;
  uint64_t file = 0;
  uint32_t type = 0;  // the platform's file type bits
  bool operator==(const FileIdentity&) const = default;
};

// What the walk reads of a matched file.
struct EntryFacts {
  FileTimes times;
  FileIdentity identity;
};

// One entry of a folder listing. `name` and `early` stay valid until the
// next call of Listing::Next on the same listing.
struct DirEntry {
  std::string_view name;
  // Set for a folder, or a link to one, and for an entry whose type is
  // unsure (below): the walk tries to open such an entry as a folder.
  bool is_dir = false;
  // The listing gave no type and the entry's own could not be read (an odd
  // share): it may be a folder or a file, so it comes with `is_dir` set and
  // the walk tries it as both rather than pass it over unnamed.
  bool type_unsure = false;
  // The file's facts as read ahead of the walk, for a file the plan said it
  // would read; null when none were. They may be stale by now: good for
  // passing a file over, never for deleting it.
  const EntryFacts* early = nullptr;
};

// What a walk will want of the folders below the one it starts from, so
// that the platform may read them ahead of it, in other threads. Both are
// called from those threads, at any time while a listing of the walk is
// open.
struct ReadAheadPlan {
  virtual ~ReadAheadPlan() = default;
  // Whether the walk will enter the subfolder `name`.
  virtual bool WillEnter(std::string_view name) const = 0;
  // Whether the walk will read the times of the file `name`.
  virtual bool WillRead(std::string_view name) const = 0;
};

// The sweep's rule for a file about to be removed, asked in the moment
// before the removal, from whichever thread makes it: whether the file,
// whose facts were read just now, is still to go.
struct RemovalRule {
  virtual ~RemovalRule() = default;
  virtual bool StillToRemove(const EntryFacts& now) const = 0;
};

// A due file found to be another, or no longer due, when its deletion
// comes is kept and told as a failed deletion, in the number the platforms
// give a file they cannot find, so that a log reader counts it as one.
constexpr int64_t kFileChangedNumber = 2;
constexpr char kFileChangedText[] = "the file changed before it could be deleted";

// What became of a removal handed over (Listing::RemoveCurrentLater).
struct RemovalOutcome {
  enum Kind : uint8_t {
    kUnreadable,  // its facts could not be read: kept, `error_text` says why
    kKept,        // the rule kept it
    kRemoved,
    kFailed,  // the rule let it go, its removal failed: the error's fields
  };
  Kind kind = kKept;
  EntryFacts facts;  // as read just before the removal, but when unreadable
  int64_t error_number = 0;  // the platform's numbering
  std::string error_text;    // and wording
  // Set in place of the wording by whoever removed it, where the platform
  // has a text of its own for the failure; the wording is made from the
  // number in the walk's thread, so that a removal made elsewhere need
  // take no memory.
  const char* error_wording = nullptr;
};

// A removal handed over to the platform, which may make it in another
// thread.
struct PendingRemoval {
  virtual ~PendingRemoval() = default;
  // Whether its outcome is known: Finish will not wait.
  virtual bool Ready() = 0;
  // Its outcome, once known; a removal no thread has begun is made now, in
  // the caller's thread. Called once.
  virtual RemovalOutcome Finish() = 0;
  // Gives up a removal that no thread has begun: true when it will never be
  // made. False when it has begun, or is done; Finish then gives its
  // outcome.
  virtual bool Cancel() = 0;
};

// Whether a folder may be where a sweep starts.
enum class TopFolderVerdict {
  kAllowed,
  // The root of the whole file system. Drive roots on Windows are not: a
  // scratch drive is a real use.
  kFileSystemRoot,
  // Named through a link, as its last part, that neither the user running
  // the sweep nor the administrator owns: whoever owns it chooses what is
  // swept.
  kForeignLink,
};

// An open folder, listed one entry at a time in the file system's order: a
// cursor. Next moves it to the following entry; the other operations act on
// the entry Next returned last (the current entry), never on a name or path,
// so what is deleted is always what was listed. The walk keeps one Listing
// per level of the tree it is in, and builds the full paths it shows in the
// log and the prompt itself.
struct Listing {
  virtual ~Listing() = default;

  // Moves to the next entry and describes it. False at the end of the
  // folder, and when reading it failed: then with `*error_number` and
  // `*error_text` set, so that a folder read only in part is never taken
  // for a whole one. Failures come as the platform numbers and words them.
  virtual bool Next(DirEntry* entry, int64_t* error_number,
                    std::string* error_text) = 0;

  // Opens the current entry, a folder, for listing. Null when it is not to
  // be listed. The failure is set when it could not be opened; it is left
  // alone when it is not to be entered at all: a link, a volume mounted
  // there, a folder that has gone meanwhile, or an entry that is no folder.
  virtual std::unique_ptr<Listing> OpenCurrentFolder(
      int64_t* error_number, std::string* error_text) = 0;

  // Whether the last OpenCurrentFolder found the current entry to be no
  // folder and no link, though listed as one or of unsure type: the walk
  // then takes it for the file it is.
  virtual bool CurrentIsNotAFolder() const = 0;

  // Reads the current entry's times and identity as they are now, without
  // following links. False, with the failure, when they cannot be read; a
  // time the file system does not keep comes back invalid.
  virtual bool ReadCurrent(EntryFacts* facts, int64_t* error_number,
                           std::string* error_text) = 0;

  // Deletes exactly the current entry. On failure returns false with
  // `*error_number` and `*error_text` set to the platform's numbering and
  // wording of the failure.
  virtual bool RemoveCurrent(int64_t* error_number, std::string* error_text) = 0;

  // Hands over the removal of the current entry: in the moment before it,
  // the entry's facts are read again, as ReadCurrent reads them, and
  // `rule` is asked whether it still goes; then it is removed as
  // RemoveCurrent removes it. The platform may make it in another thread,
  // in any order with the walk's other work, but before the folder's
  // listing is closed and at the latest when Finish asks; `rule` outlives
  // the pending removal. By default it is made now.
  virtual std::unique_ptr<PendingRemoval> RemoveCurrentLater(
      const RemovalRule& rule);

  // Whether a sweep may start from this folder, opened by
  // Platform::OpenFolder.
  virtual TopFolderVerdict JudgeAsTopFolder() = 0;

  // The path of this folder as the file system names it now, in UTF-8
  // with the platform's separators, whatever name it was opened by; empty
  // when the platform cannot tell. Asked of the top folder only.
  virtual std::string FinalPath() { return ""; }

  // Lets the platform read ahead, for the walk that starts here, what
  // `plan` says it will want: the listings of the folders it will enter
  // next and the facts of the files it will read, served in the walk's own
  // order through this listing and those opened from it. Called before the
  // first Next; `plan` outlives them all. Every decision stays the walk's,
  // in its thread. A platform may read nothing ahead.
  virtual void ReadAhead(const ReadAheadPlan& plan) { (void)plan; }
};

// A removal made at once, where a platform makes it then. Made before the
// removal, which fills in `outcome`: once a file is gone, nothing may fail
// before its outcome can be told.
class MadeRemoval final : public PendingRemoval {
 public:
  RemovalOutcome outcome;
  bool Ready() override { return true; }
  RemovalOutcome Finish() override;
  bool Cancel() override { return false; }
};

// How much of a log block the run keeps in memory before the rest goes to
// a spool, and the size of the pieces a spool is copied into the log in.
// 256 KiB: the rest of a sweep of 500,000 files takes some 12 MiB, and the
// block then costs under 1 MiB (what is kept, in a string that may have
// doubled past it, and the copy's piece), while a spool of hundreds of MiB
// is still written and read back in a few thousand calls.
constexpr size_t kLogChunkBytes = 256 << 10;

// Where a block too big to keep in memory waits until it is appended: an
// unnamed file beside the log (else in the temporary folder), made by LogFile::MakeSpool, that nothing
// can leave behind (no name, or deleted once closed), whatever ends the
// run. It holds the block's text as the log file will.
struct LogSpool {
  virtual ~LogSpool() = default;

  // Adds `text` (UTF-8, whole characters) at the end, whole or not at all.
  // On failure returns false with the failure's wording. Takes no memory
  // unless it fails: it is called once memory has run out, to make room
  // for the lines of deletions already made.
  virtual bool Write(std::string_view text, std::string* error_text) = 0;

  // The spool's identity where it has a name a sweep can meet (Windows
  // gives a file deleted on close a name), so that the sweep leaves it
  // alone as it leaves the log; none where it has no name.
  virtual std::optional<FileIdentity> Identity() { return std::nullopt; }
};

// The log file, open for appending from before the sweep to its end.
struct LogFile {
  virtual ~LogFile() = default;

  // The file's identity, so that the sweep can leave it alone.
  virtual FileIdentity Identity() = 0;

  // The file's path as the file system names it now, in UTF-8 with the
  // platform's separators; empty when the platform cannot tell. The sweep
  // leaves the file at that path alone too: some shares make up a new file
  // number each time they are asked, and then the identity never matches.
  virtual std::string FinalPath() = 0;

  // A new, empty spool in the log file's folder, or where none can be made
  // there (a folder the run may write the log into but nothing beside it),
  // in the temporary folder; null, with the failure's wording, when none
  // can be made in either.
  virtual std::unique_ptr<LogSpool> MakeSpool(std::string* error_text) = 0;

  // Appends what `spool` (one this file made, or null) holds, then `text`
  // (UTF-8), as one block, whole or not at all, under a lock that keeps the
  // blocks of runs logging at the same time apart. The lock is waited for
  // a while; when another run holds it longer, the block is appended all
  // the same, and `*lock_held` is false. On failure returns false with the
  // failure's wording. Takes no memory unless it fails, as a spool's Write.
  virtual bool Append(LogSpool* spool, std::string_view text, bool* lock_held,
                      std::string* error_text) = 0;
  bool Append(std::string_view text, bool* lock_held, std::string* error_text) {
    return Append(nullptr, text, lock_held, error_text);
  }
};

// Conventions of the user's locale that the run needs.
struct LocaleInfo {
  std::string thousands_separator = ",";
  std::string decimal_separator = ".";
  std::string date_separator = "/";
  std::string time_separator = ":";
  int first_weekday = 0;  // 0 is Sunday .. 6 is Saturday
};

struct Platform {
  virtual ~Platform() = default;

  // Process environment.
  // The argument text as the user typed it, without the program's own name.
  virtual std::string ArgumentText() = 0;
  // The value of an environment variable; empty when it is not set.
  virtual std::string GetEnv(const std::string& name) = 0;
  // The folder holding the executable, without a trailing separator except at
  // a root; empty when the system cannot tell.
  virtual std::string ProgramFolder() = 0;
  // The folder separator: '\\' on Windows, '/' on POSIX.
  virtual char Separator() = 0;
  // Whether every word of the command line counts. POSIX users type --help
  // and --version by habit, so there those are read too, and a word the
  // switch loop does not use refuses the run (true). On Windows such words
  // are ignored, as the program always did (false).
  virtual bool EveryWordCounts() = 0;

  // Clock and locale.
  virtual CivilTime Now() = 0;
  // Seconds from an arbitrary fixed start, never going backwards.
  virtual double MonotonicSeconds() = 0;
  // Converts a file time to local time with the zone offset in force at that
  // instant. False when it cannot be converted.
  virtual bool ToLocal(FileTime time, CivilTime* local) = 0;
  virtual LocaleInfo Locale() = 0;
  // The locale's general date: short date, a space, long time.
  virtual std::string FormatGeneralDate(const CivilTime& time) = 0;

  // File system.
  // Opens a folder text (ending in the separator) for listing; null, with
  // the failure, when it cannot be listed.
  virtual std::unique_ptr<Listing> OpenFolder(const std::string& path,
                                              int64_t* error_number,
                                              std::string* error_text) = 0;
  // Opens the regular file at `path` for appending, creating it when
  // missing, never through a link; null, with the failure's wording, when
  // it cannot be.
  virtual std::unique_ptr<LogFile> OpenLogFile(const std::string& path,
                                               std::string* error_text) = 0;

  // The user.
  // The modal Yes/No box; Yes is the default. True only for Yes; an
  // interruption while it waits, or no one to ask, is No.
  virtual bool AskYesNo(const std::string& title,
                        const std::string& prompt) = 0;
  // A message for whoever started the program (stderr where there is one).
  virtual void ReportError(const std::string& text) = 0;
  // Text for standard output, where the program has one. False, with the
  // system's wording, when it could not all be written; a reader that went
  // away before the end (a pipe into head) is not a failure.
  virtual bool Print(const std::string& text, std::string* error_text) = 0;
  void Print(const std::string& text) { Print(text, nullptr); }
  // Whether someone watches the run at a terminal (stderr is one): only
  // then may it show how it is going.
  virtual bool WatchedAtTerminal() { return false; }
  // A status line on that terminal, redrawn in place; empty erases it.
  // Anything else said meanwhile erases it first, so that it never runs
  // into a message or a question.
  virtual void ShowStatus(const std::string& line) { (void)line; }

  // The signal that asked the program to stop (SIGINT, SIGTERM, SIGHUP), or
  // 0. Once set it stays set.
  virtual int InterruptSignal() = 0;
};

// The path followed by `separator` (the platform's Separator()) unless it
// already ends in it: a folder text as OpenFolder takes it, or one a file
// name can be appended to.
inline std::string AddBackslash(std::string path, char separator) {
  if (path.empty() || path.back() != separator) path += separator;
  return path;
}
