// The log file on Windows.
#pragma once

#include <memory>
#include <string>

#include "platform/platform.h"

// Opens the plain file `path` for appending, creating it when missing, never
// through a link or junction; null, with the reason, when it cannot be. The
// text appended is converted to the ANSI code page.
std::unique_ptr<LogFile> OpenWin32LogFile(const std::string& path,
                                          std::string* error_text);
