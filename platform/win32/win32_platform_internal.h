// The Windows platform's helpers, open to its tests.
#pragma once

#include <string>
#include <string_view>

#include "platform/platform.h"

// The argument text of a command line: everything after the program's own
// name and the spaces and tabs that follow it. The name ends at the first
// space or tab outside double quotes, as the C run time reads it.
std::wstring_view SkipProgramName(std::wstring_view command_line);

// The folder of a module's full path: no trailing backslash except at a
// drive root ("C:\"); "." when the path names no folder.
std::wstring FolderOfModulePath(std::wstring_view module_path);

// The text between the first two numeric fields of a date or time picture
// such as "M/d/yyyy" or "HH:mm:ss", with quoted literals unquoted; empty when
// the picture has fewer than two such fields.
std::wstring PictureSeparator(std::wstring_view picture);

// The conventions of a locale, by name; null means the user's default.
LocaleInfo Win32LocaleInfo(const wchar_t* locale_name);

// The locale's general date of `t`: short date, a space, long time.
std::string Win32GeneralDate(const wchar_t* locale_name, const CivilTime& t);

// A file time as local time, with the zone offset in force at that instant.
bool Win32ToLocal(FileTime file_time, CivilTime* local);
