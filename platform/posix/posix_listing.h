#pragma once

#include <memory>
#include <string>

#include "platform/platform.h"

// Opens a folder for listing; null, with the system's wording when `error_text`
// is given, when it cannot be listed.
std::unique_ptr<Listing> OpenPosixFolder(const std::string& path,
                                         std::string* error_text = nullptr);
