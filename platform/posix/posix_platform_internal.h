// The POSIX platform's helpers, open to its tests.
#pragma once

#include <string>
#include <vector>

#include "platform/platform.h"

// The text the user would have typed: argv joined with single spaces, an
// argument that is empty or holds a space or tab wrapped in double quotes.
std::string JoinArguments(const std::vector<std::string>& args);

// The locale conventions for the locale named by the environment (LC_ALL,
// then LC_TIME or LC_NUMERIC, then LANG); English (United States) for the C
// and POSIX locales and for a locale that is not installed.
LocaleInfo PosixLocaleInfo();

// The text between the first two conversions of a strftime format: the
// separator of its fields; empty when there is none.
std::string FieldSeparator(const std::string& strftime_format);

// Whether a confirmation answer line means Yes (`*yes`); false when the
// line must be asked again.
bool ParseYesNo(const std::string& line, bool* yes);
