#include "run/run_log.h"

#include "platform/platform.h"
#include "run/command_line.h"

const char kCrLf[] = "\r\n";
const char kLogTitle[] = "Quillfen Utilities Age Sweeper (agesweep.exe)";
const char kLogFileName[] = "agesweep.log";

void RunLog::Wrap() {
  text.insert(0, kCrLf);
  text.append(kCrLf);
}

bool WriteLog(Platform& platform, const RunLog& log) {
  const std::string path =
      AddBackslash(platform.ProgramFolder(), platform.Separator()) +
      kLogFileName;
  // One write of the whole block, so that two runs appending at the same
  // time never interleave inside a block.
  std::string block = log.text;
  block += kCrLf;
  std::string reason;
  if (platform.AppendToFile(path, block, &reason)) return true;
  platform.ReportError("agesweep: cannot write log file " + path + ": " +
                       reason);
  return false;
}
