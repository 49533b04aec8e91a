// The log file on POSIX.
#pragma once

#include <string>
#include <string_view>

// Appends `text` to the regular file `path`, creating it when missing, never
// through a link, whole or not at all.
bool AppendToPosixFile(const std::string& path, std::string_view text,
                       std::string* error_text);
