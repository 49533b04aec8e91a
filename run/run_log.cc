#include "run/run_log.h"

#include "platform/platform.h"
#include "run/command_line.h"

const char kCrLf[] = "\r\n";
const char kLogTitle[] = "Quillfen Utilities Age Sweeper (agesweep.exe)";
const char kLogFileName[] = "agesweep.log";

namespace {

// Shows every control character of `*text` from `from` on as '?'.
void MaskControls(std::string* text, size_t from) {
  for (size_t i = from; i < text->size(); ++i) {
    char& c = (*text)[i];
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  }
}

}  // namespace

std::string Printable(std::string_view text) {
  std::string out(text);
  MaskControls(&out, 0);
  return out;
}

void RunLog::Append(std::string_view s) {
  const size_t start = text.size();
  text.append(s);
  MaskControls(&text, start);
}

void RunLog::Wrap() {
  text.insert(0, kCrLf);
  text.append(kCrLf);
}

std::string LogFilePath(Platform& platform) {
  const std::string chosen = platform.GetEnv("AGESWEEP_LOG");
  if (!chosen.empty()) return chosen;
  return AddBackslash(platform.ProgramFolder(), platform.Separator()) +
         kLogFileName;
}

bool WriteLog(Platform& platform, const RunLog& log) {
  const std::string path = LogFilePath(platform);
  std::string block = log.text;
  block += kCrLf;
  std::string reason;
  if (platform.AppendToFile(path, block, &reason)) return true;
  platform.ReportError("agesweep: cannot write log file " + Printable(path) +
                       ": " + reason);
  return false;
}
