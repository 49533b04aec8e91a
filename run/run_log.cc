#include "run/run_log.h"

#include "platform/platform.h"

const char kCrLf[] = "\r\n";
const char kLogTitle[] = "Quillfen Utilities Age Sweeper (agesweep.exe)";
const char kLogFileName[] = "agesweep.log";

void RunLog::Wrap() {
  text.insert(0, kCrLf);
  text.append(kCrLf);
}

bool WriteLog(Platform& platform, const RunLog& log) {
  std::string path = platform.ProgramFolder();
  if (path.empty() || path.back() != platform.Separator())
    path += platform.Separator();
  path += kLogFileName;
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
