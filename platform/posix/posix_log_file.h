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
