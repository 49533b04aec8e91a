// The run's own account of itself, appended to by every step and written to
// the log file in one piece at the end of a logged run.
#pragma once

#include <string>
#include <string_view>

struct Platform;

extern const char kCrLf[];
extern const char kLogTitle[];
extern const char kLogFileName[];

// `text` as it may be shown to people: every character below 0x20 and 0x7F
// becomes '?', so a file name can neither forge a line of the log nor move
// the cursor of a terminal. Only what is shown changes; the program always
// acts on the exact name.
std::string Printable(std::string_view text);

struct RunLog {
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
};

// The log file: the environment variable AGESWEEP_LOG when it is set and not
// empty (an installed program's own folder is seldom writable), else
// agesweep.log in the program folder.
std::string LogFilePath(Platform& platform);

// Appends the log and one CR LF to the log file, whole or not at all. When
// that fails, says so through the platform and returns false.
bool WriteLog(Platform& platform, const RunLog& log);
