// The run's own account of itself, appended to by every step and written to
// `agesweep.log` in one piece at the end of a logged run.
#pragma once

#include <string>
#include <string_view>

struct Platform;

extern const char kCrLf[];
extern const char kLogTitle[];
extern const char kLogFileName[];

struct RunLog {
  std::string text;

  void Append(std::string_view s) { text.append(s); }
  void AppendLine(std::string_view s) {
    text.append(s);
    text.append(kCrLf);
  }
  // Ends the arguments line: the log becomes CR LF, itself, CR LF.
  void Wrap();
};

// Appends the log and one CR LF to `agesweep.log` in the program folder, in
// one write. When that fails, says so through the platform and returns false.
bool WriteLog(Platform& platform, const RunLog& log);
