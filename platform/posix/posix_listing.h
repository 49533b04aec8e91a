#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "platform/platform.h"

// Opens a folder for listing; null, with the system's reason when `reason`
// is given, when it cannot be listed.
std::unique_ptr<Listing> OpenPosixFolder(const std::string& path,
                                         std::string* reason = nullptr);

// Appends `text` to the regular file `path`, creating it when missing, never
// through a link, whole or not at all.
bool AppendToPosixFile(const std::string& path, std::string_view text,
                       std::string* reason);
