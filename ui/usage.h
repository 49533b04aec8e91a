// The usage text that --help prints on POSIX systems, where a terminal user
// expects one; /?, /help and -help keep the help window.
#pragma once

extern const char kUsageText[];
