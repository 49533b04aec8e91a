// The log file on Windows.
#pragma once

#include <string>
#include <string_view>

// Appends `text` (UTF-8) to the plain file `path` in the ANSI code page,
// creating it when missing, never through a link or junction, whole or not
// at all.
bool AppendToWin32File(const std::string& path, std::string_view text,
                       std::string* error_text);
