// The log file on POSIX.
#pragma once

#include <memory>
#include <string>

#include "platform/platform.h"

// Opens the regular file `path` for appending, creating it when missing,
// never through a link, never blocking on a FIFO or a device; null, with the
// reason, when it cannot be.
std::unique_ptr<LogFile> OpenPosixLogFile(const std::string& path,
                                          std::string* error_text);

// The descriptor of a new spool in `folder`, open for reading and writing,
// with no name there once this returns; -1 with errno set when none can be
// made. A file system that makes no unnamed files gets a name no one else
// uses, taken back at once; `unnamed_first` false goes that way anywhere.
int OpenSpoolFile(const std::string& folder, bool unnamed_first = true);
