#include "ui/window.h"

const char kCaption[] = "Age Sweeper  (agesweep.exe)";
const char kCloseCaption[] = "&Close";
const char kLabel2Text[] =
    "Visit https://agesweep.example.org/ for additional information.";

const std::string* SingleLineText(const WindowModel& window, Control control) {
  switch (control) {
    case kText1:
      return &window.Text1;
    case kText2:
      return &window.Text2;
    case kText3:
      return &window.Text3;
    case kText4:
      return &window.Text4;
    case kText5:
      return &window.Text5;
    default:
      return nullptr;
  }
}

const char kHelpText[] =
    "The following command line options can be used with agesweep.exe\r\n"
    "\r\n"
    "/F folder  -- Selects the working folder\r\n"
    "/Q --QuietMode -- Deletes without prompting\r\n"
    "/L - Create a log (agesweep.log) of agesweep actions.\r\n"
    "/M xx  - Multiplier - The interval argument may have one of the "
    "following values:\r\n"
    "\t  yyyy Year      q Quarter     m Month     y Day of year     d Day \r\n"
    "\t  w Weekday     ww Week of year     h Hour     n Minute     s Second "
    "\r\n"
    "/S - Include Subdirectories.\r\n"
    "/T - Timeframe - a numeric value representing the interval. \r\n"
    "/W xx - Wildcard characters(i.e. *.txt;*.doc;*.ppt;??file04.txt)\r\n"
    "\r\n"
    "\tNOTE: Since Version 2 of agesweep supports wildcards, \r\n"
    "  \tit no longer supports /I or /E command line switches. \r\n"
    " \r\n"
    "The following command line would delete files with the file extension "
    "\".txt\" older \r\n"
    "than 3 weeks in the c:\\temp\\ directory without prompting:\r\n"
    "\r\n"
    "agesweep.exe /Q /F c:\\temp\\ /M w /T 3 /W *.txt\r\n"
    "\r\n"
    "to include searching subdirectories, add the /S switch: \r\n"
    "\r\n"
    "agesweep.exe /Q /F c:\\temp\\ /M w /T 3 /W *.txt /S\r\n"
    "\r\n"
    "The following command line would delete all files older than 4 \r\n"
    "weeks in the c:\\weblogs\\ directory without prompting:\r\n"
    "\r\n"
    "agesweep.exe /Q /F c:\\weblogs\\ /M w /T 4\r\n";

std::string RenderForTerminal(const WindowModel&) {
  // The help path shows only fixed texts: the totals still hold their own
  // names and the list is empty, so none of the model's fields are drawn.
  std::string out = kCaption;
  out += "\n\n";
  for (const char* p = kHelpText; *p; ++p) {
    if (*p == '\r' && p[1] == '\n') continue;
    out += *p;
  }
  out += "\n";
  out += kLabel2Text;
  out += "\n[ Close ]\n";
  return out;
}
