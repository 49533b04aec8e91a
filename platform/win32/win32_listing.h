// Folder listing, file times and deletion with the wide-character API.
#pragma once

#include <memory>
#include <string>

#include "platform/platform.h"

// Opens a folder text (UTF-8, ending in a backslash) for listing; null, with
// the system's reason when `reason` is given, when it cannot be listed.
std::unique_ptr<Listing> OpenWin32Folder(const std::string& path,
                                         std::string* reason = nullptr);

// The folder as the system resolves it, in the extended-length form
// ("\\?\C:\...", "\\?\UNC\server\share\...") whenever it is absolute, so that
// entry names appended to it are used exactly as listed: the system would
// otherwise drop a trailing dot or space from a name and act on a different
// file, and refuse paths longer than MAX_PATH.
std::wstring ResolveFolder(const std::wstring& folder);

// The extended-length form of a full path; unchanged when it already is one,
// is a device path, or is not a drive or UNC path.
std::wstring ExtendedLengthPath(const std::wstring& full_path);
