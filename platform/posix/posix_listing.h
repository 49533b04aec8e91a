#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "platform/platform.h"

// Opens a folder for listing; null when it cannot be listed.
std::unique_ptr<Listing> OpenPosixFolder(const std::string& path);

// Appends `text` to `path` in one write, creating the file when missing.
bool AppendToPosixFile(const std::string& path, std::string_view text,
                       std::string* reason);
