// The Windows listing's path helpers, open to its tests.
#pragma once

#include <string>

// The folder as the system resolves it, in the extended-length form
// ("\\?\C:\...", "\\?\UNC\server\share\...") whenever it is absolute, so that
// entry names appended to it are used exactly as listed: the system would
// otherwise drop a trailing dot or space from a name and act on a different
// file, and refuse paths longer than MAX_PATH.
std::wstring ResolveFolder(const std::wstring& folder);

// The extended-length form of a full path; unchanged when it already is one,
// is a device path, or is not a drive or UNC path.
std::wstring ExtendedLengthPath(const std::wstring& full_path);

// A path as users write it and the sweep spells it: "\\?\C:\..." as
// "C:\...", "\\?\UNC\server\share\..." as "\\server\share\..."; any other
// unchanged.
std::wstring OrdinaryPath(const std::wstring& path);
