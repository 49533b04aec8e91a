// Folder listing, file times and deletion with the wide-character API.
#pragma once

#include <memory>
#include <string>

#include "platform/platform.h"

// Opens a folder text (UTF-8, ending in a backslash) for listing; null, with
// the system's wording and number where asked for, when it cannot be listed.
std::unique_ptr<Listing> OpenWin32Folder(const std::string& path,
                                         std::string* error_text = nullptr,
                                         int64_t* error_number = nullptr);

// The path the open `handle` (a HANDLE) has now, as the system normalizes
// it, on its drive letter or share, in UTF-8 and the ordinary form (no
// "\\?\" prefix); empty when the system cannot tell.
std::string FinalPathOfHandle(void* handle);

// The identity of the file open as `handle` (a HANDLE), as the sweep judges
// the entries it lists; false, with the error in GetLastError, when the
// system cannot tell.
bool IdentityOfHandle(void* handle, FileIdentity* identity);
