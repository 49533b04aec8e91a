// An in-memory platform for unit tests: a tree of folders and files, a clock
// that is set by hand, a fixed locale and scripted answers.
#pragma once

#include <deque>
#include <map>
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
  std::string open_trouble;        // opening fails as the system ran short
  int delete_error = 0;            // non-zero: deletion fails with this
};

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

  std::string ArgumentText() override { return argument_text; }
  std::string GetEnv(const std::string& name) override;
  std::string ProgramFolder() override { return program_folder; }
  char Separator() override { return separator; }
  CivilTime Now() override { return now; }
  double MonotonicSeconds() override;
  bool ToLocal(FileTime time, CivilTime* local) override;
  LocaleInfo Locale() override { return locale; }
  std::string FormatGeneralDate(const CivilTime& time) override {
    return FormatUsGeneralDate(time);
  }
  std::unique_ptr<Listing> OpenFolder(const std::string& path,
                                      std::string* reason) override;
  bool AppendToFile(const std::string& path, std::string_view text,
                    std::string* reason) override;
  bool AskYesNo(const std::string& title, const std::string& prompt) override;
  int ShowWindow(const WindowModel& window) override;
  void ReportError(const std::string& text) override {
    errors.push_back(text);
  }
  int InterruptSignal() override { return interrupt_signal; }
  void Print(const std::string& text) override { printed += text; }

  // Settings.
  std::string argument_text;
  std::map<std::string, std::string> env;
  std::string program_folder = "/opt/agesweep";
  char separator = '/';
  CivilTime now{2026, 12, 7, 6, 48, 36};
  int utc_offset_minutes = 0;  // local time = UTC + offset
  LocaleInfo locale;
  std::vector<double> ticks{0.0, 0.25};  // successive MonotonicSeconds
  std::deque<bool> answers;              // AskYesNo results; No when empty
  bool log_write_fails = false;
  int interrupt_signal = 0;  // as if that signal had arrived
  // A signal that arrives while the first prompt waits (answered No).
  int signal_at_prompt = 0;

  // What happened.
  FakeNode root;
  std::map<std::string, std::string> files_written;
  std::vector<std::string> prompts;
  std::vector<std::string> errors;
  std::string printed;
  int windows_shown = 0;

 private:
  size_t tick_index_ = 0;
};
