// The command line: splitting the argument text into words, the switch loop
// that fills the run's settings, the defaults, and the checks that refuse a
// run before anything is deleted.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sweep/sweep.h"

struct RunLog;

// <windows.h> makes GetCommandLine a macro for its own GetCommandLineW. A
// file that included it first would declare and call that other name here
// and fail to link; the word array's splitter keeps its own name instead.
#ifdef GetCommandLine
#undef GetCommandLine
#endif

// The settings as the switches gave them. An empty text, a time frame of 0
// and an unset UseModifiedTime mean the switch was not given (/T 0 too
// asks for the default); SettleSettings gives every setting its default.
struct RunSettings {
  std::string Folder;
  std::string Wildcard;
  std::string Interval;
  int TimeFrame = 0;  // 16-bit signed range
  bool QuietMode = false;
  std::optional<bool> UseModifiedTime;
  bool IncludeSubdirs = false;
  bool LogToFile = false;
  bool DryRun = false;  // --dry-run (POSIX)
  bool NullList = false;  // -0 (POSIX): a dry run's paths exact, NUL-ended
  // The retired /I and /E keep no value: any of them ends the run.
};

// What the switch loop found besides the settings.
struct SwitchLoopResult {
  // A help word ended the loop; with `version`, it was --version; with
  // `usage`, --help (POSIX), which asks for the usage text.
  bool help = false;
  bool version = false;
  bool usage = false;
  // On POSIX, the refusal line of every word no switch used, with what it
  // most likely meant.
  std::vector<std::string> unknown_words;
  // The wildcard list was followed by a word that is not a switch.
  bool wildcard_syntax_error = false;
  // A retired switch (/I, /E in either case) was given, with or without a
  // value.
  bool retired = false;
  // The value-taking switch that stood as the last word, as typed.
  std::string missing_value_switch;
  // The last time-frame word that is not a whole number in range.
  std::optional<std::string> bad_time_frame;
};

// Splits the argument text at spaces and tabs into at most `max_args` words.
// Element 0 is always empty; quotes are ordinary characters.
std::vector<std::string> GetCommandLine(std::string_view text,
                                        int max_args = 20);

// Echoes every word into the log's arguments line and applies the switches.
// Stops at a help switch. `posix_words` adds --help, --version, --dry-run
// and -0, and makes every word count.
SwitchLoopResult RunSwitchLoop(const std::vector<std::string>& words,
                               bool posix_words, RunSettings* settings,
                               RunLog* log);

// The sweep's settings: what the switches gave, every setting they left
// unset at its default (the folder from `temp`, the value of TEMP), and
// checked. Nullopt when the run is refused, with `*refusals` holding the
// lines that say why, in order.
std::optional<SweepSettings> SettleSettings(const SwitchLoopResult& loop,
                                            const RunSettings& settings,
                                            const std::string& temp,
                                            char separator,
                                            std::vector<std::string>* refusals);

// Reads a plain decimal integer (optional sign, digits) in the 16-bit signed
// range.
std::optional<int> ParseTimeFrame(std::string_view word);

extern const char kWildcardSyntaxError[];
extern const char kRetiredSwitchText[];
