// The Windows platform layer, run on Windows or under Wine.
#include <windows.h>
#include <shlwapi.h>

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/win32/tests/temp_folder.h"
#include "platform/win32/text.h"
#include "platform/win32/win32_listing.h"
#include "platform/win32/win32_listing_internal.h"
#include "platform/win32/win32_platform.h"
#include "platform/win32/win32_platform_internal.h"
#include "sweep/wildcard.h"
#include "sweep/wildcard_cases.h"

namespace {

// A fresh folder under the user's temporary folder, removed with everything
// in it at the end of the test.
class TempTree {
 public:
  TempTree() : temp_(L"agesweep-test-"), root_(temp_.root()) {
    EXPECT_TRUE(temp_.created());
  }
  TempTree(const TempTree&) = delete;
  TempTree& operator=(const TempTree&) = delete;

  const std::wstring& root() const { return root_; }
  std::string root_utf8() const { return ToUtf8(root_); }

  // Creates a file (`relative` in the extended-length form when long).
  std::wstring File(const std::wstring& relative, const char* content = "x") {
    const std::wstring path = ExtendedLengthPath(root_ + relative);
    const HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr,
                                 CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_NE(INVALID_HANDLE_VALUE, h) << ToUtf8(path);
    DWORD written = 0;
    WriteFile(h, content, static_cast<DWORD>(strlen(content)), &written,
              nullptr);
    CloseHandle(h);
    return path;
  }
  std::wstring Folder(const std::wstring& relative) {
    const std::wstring path = ExtendedLengthPath(root_ + relative);
    EXPECT_TRUE(CreateDirectoryW(path.c_str(), nullptr)) << ToUtf8(path);
    return path;
  }
  bool Exists(const std::wstring& relative) const {
    return GetFileAttributesW(ExtendedLengthPath(root_ + relative).c_str()) !=
           INVALID_FILE_ATTRIBUTES;
  }
  bool Move(const std::wstring& from, const std::wstring& to) {
    return MoveFileW((root_ + from).c_str(), (root_ + to).c_str()) != FALSE;
  }

 private:
  TempFolder temp_;
  std::wstring root_;
};

struct Listed {
  std::string name;
  bool is_dir;
};

std::vector<Listed> ListAll(Listing& listing) {
  std::vector<Listed> out;
  DirEntry entry;
  std::string error_text;
  int64_t number = 0;
  while (listing.Next(&entry, &number, &error_text))
    out.push_back({std::string(entry.name), entry.is_dir});
  EXPECT_EQ("", error_text);
  return out;
}

// Moves `listing` to the entry called `name`; false when there is none.
bool SeekTo(Listing& listing, const std::string& name, DirEntry* entry) {
  std::string error_text;
  int64_t number = 0;
  while (listing.Next(entry, &number, &error_text))
    if (entry->name == name) return true;
  return false;
}

FILETIME Filetime(int64_t ticks) {
  FILETIME ft;
  ft.dwLowDateTime = static_cast<DWORD>(ticks & 0xFFFFFFFF);
  ft.dwHighDateTime = static_cast<DWORD>(static_cast<uint64_t>(ticks) >> 32);
  return ft;
}

int64_t TicksOfUtc(int year, int month, int day, int hour, int minute,
                   int second) {
  SYSTEMTIME st = {};
  st.wYear = static_cast<WORD>(year);
  st.wMonth = static_cast<WORD>(month);
  st.wDay = static_cast<WORD>(day);
  st.wHour = static_cast<WORD>(hour);
  st.wMinute = static_cast<WORD>(minute);
  st.wSecond = static_cast<WORD>(second);
  FILETIME ft;
  SystemTimeToFileTime(&st, &ft);
  return static_cast<int64_t>((static_cast<uint64_t>(ft.dwHighDateTime) << 32) |
                              ft.dwLowDateTime);
}

std::string Str(const CivilTime& t) {
  char buf[64];
  snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month,
           t.day, t.hour, t.minute, t.second);
  return buf;
}

}  // namespace

// --- Text at the boundary ---------------------------------------------------

TEST(Win32Text, NamesSurviveTheRoundTripExactly) {
  const std::wstring names[] = {
      L"plain.txt",
      L"caf\u00E9 \u65E5\u672C.log",       // Latin and CJK
      L"\U0001F600.txt",                   // outside the BMP: a pair
      std::wstring(L"lone") + static_cast<wchar_t>(0xD800) + L".x",
      std::wstring(L"lone") + static_cast<wchar_t>(0xDC00),
  };
  for (const std::wstring& name : names)
    EXPECT_EQ(name, ToWide(ToUtf8(name))) << ToUtf8(name);
  EXPECT_EQ("\xF0\x9F\x98\x80.txt", ToUtf8(L"\U0001F600.txt"));
  // Two lone surrogates are two different names, and stay so.
  EXPECT_NE(ToUtf8(std::wstring(1, static_cast<wchar_t>(0xD800))),
            ToUtf8(std::wstring(1, static_cast<wchar_t>(0xD801))));
}

TEST(Win32Text, BrokenUtf8BecomesReplacementCharacters) {
  EXPECT_EQ(L"a\uFFFDb", ToWide("a\xFF" "b"));
  EXPECT_EQ(L"\uFFFD", ToWide("\xC3"));            // cut short
  EXPECT_EQ(L"\uFFFD\uFFFD", ToWide("\xC0\xAF"));  // overlong "/"
}

TEST(Win32Text, ErrorDescriptionsHaveNoLineEnd) {
  const std::string text = SystemErrorText(ERROR_ACCESS_DENIED);
  ASSERT_FALSE(text.empty());
  EXPECT_NE('\n', text.back());
  EXPECT_NE('\r', text.back());
  EXPECT_NE(std::string::npos, text.find("ccess")) << text;
}

// --- Command line and program folder ---------------------------------------

TEST(Win32CommandLine, TheProgramNameAndFollowingBlanksAreSkipped) {
  EXPECT_EQ(L"/Q /F c:\\temp\\", SkipProgramName(L"agesweep.exe /Q /F c:\\temp\\"));
  EXPECT_EQ(L"/Q  /L ",
            SkipProgramName(L"\"C:\\Program Files\\a.exe\" \t /Q  /L "));
  EXPECT_EQ(L"/Q", SkipProgramName(L"a.exe\t/Q"));
  EXPECT_EQ(L"", SkipProgramName(L"\"C:\\x\\agesweep.exe\""));
  EXPECT_EQ(L"", SkipProgramName(L"agesweep.exe   "));
  EXPECT_EQ(L"", SkipProgramName(L""));
  // Quotes toggle inside the name; the name ends at an unquoted blank.
  EXPECT_EQ(L"/S", SkipProgramName(L"\"C:\\a b\"c.exe /S"));
  // Quotes in the arguments are kept as typed.
  EXPECT_EQ(L"/F \"c:\\a b\"", SkipProgramName(L"x.exe /F \"c:\\a b\""));
}

TEST(Win32CommandLine, ProgramFolderKeepsABackslashOnlyAtADriveRoot) {
  EXPECT_EQ(L"C:\\Tools", FolderOfModulePath(L"C:\\Tools\\agesweep.exe"));
  EXPECT_EQ(L"C:\\", FolderOfModulePath(L"C:\\agesweep.exe"));
  EXPECT_EQ(L"\\\\server\\share\\bin",
            FolderOfModulePath(L"\\\\server\\share\\bin\\agesweep.exe"));
  EXPECT_EQ(L"Z:\\tmp\\caf\u00E9",
            FolderOfModulePath(L"Z:\\tmp\\caf\u00E9\\agesweep.exe"));
  EXPECT_EQ(L".", FolderOfModulePath(L"agesweep.exe"));
}

TEST(Win32CommandLine, EnvironmentValuesOfAnyLength) {
  const std::string long_value(1000, 'v');
  SetEnvironmentVariableW(L"AGESWEEP_TEST_VALUE", ToWide(long_value).c_str());
  std::unique_ptr<Platform> platform = MakeWin32Platform();
  EXPECT_EQ(long_value, platform->GetEnv("AGESWEEP_TEST_VALUE"));
  SetEnvironmentVariableW(L"AGESWEEP_TEST_VALUE", L"\u00E9t\u00E9");
  EXPECT_EQ("\xC3\xA9t\xC3\xA9", platform->GetEnv("AGESWEEP_TEST_VALUE"));
  SetEnvironmentVariableW(L"AGESWEEP_TEST_VALUE", nullptr);
  EXPECT_EQ("", platform->GetEnv("AGESWEEP_TEST_VALUE"));
}

// --- Wildcards ---------------------------------------------------------------

// The shared table holds the Windows shell's answers; here they are asked of
// the shell itself, and of the program's own matcher.
TEST(Win32Wildcard, TheSharedTableAgreesWithPathMatchSpec) {
  for (const WildcardCase& c : kWildcardCases) {
    const bool shell =
        PathMatchSpecW(ToWide(c.name).c_str(), ToWide(c.patterns).c_str()) != FALSE;
    EXPECT_EQ(c.matches, shell)
        << "PathMatchSpecW: name \"" << c.name << "\" patterns \"" << c.patterns << "\"";
    EXPECT_EQ(c.matches, WildcardList(c.patterns).Matches(c.name))
        << "WildcardList: name \"" << c.name << "\" patterns \"" << c.patterns
        << "\"";
  }
}

// --- Locale ------------------------------------------------------------------

TEST(Win32Locale, SeparatorsAndFirstDayOfNamedLocales) {
  const LocaleInfo us = Win32LocaleInfo(L"en-US");
  EXPECT_EQ(",", us.thousands_separator);
  EXPECT_EQ(".", us.decimal_separator);
  EXPECT_EQ("/", us.date_separator);
  EXPECT_EQ(":", us.time_separator);
  EXPECT_EQ(0, us.first_weekday);  // Sunday

  const LocaleInfo de = Win32LocaleInfo(L"de-DE");
  EXPECT_EQ(".", de.thousands_separator);
  EXPECT_EQ(",", de.decimal_separator);
  EXPECT_EQ(".", de.date_separator);
  EXPECT_EQ(":", de.time_separator);
  EXPECT_EQ(1, de.first_weekday);  // Monday
}

TEST(Win32Locale, SeparatorsAreReadFromDateAndTimePictures) {
  EXPECT_EQ(L"/", PictureSeparator(L"M/d/yyyy"));
  EXPECT_EQ(L".", PictureSeparator(L"dd.MM.yyyy"));
  EXPECT_EQ(L"-", PictureSeparator(L"yyyy-MM-dd"));
  EXPECT_EQ(L". ", PictureSeparator(L"d. M. yyyy"));
  EXPECT_EQ(L":", PictureSeparator(L"h:mm:ss tt"));
  EXPECT_EQ(L":", PictureSeparator(L"tt hh:mm:ss"));  // AM/PM first
  EXPECT_EQ(L"h", PictureSeparator(L"HH'h'mm"));      // quoted literal
  EXPECT_EQ(L"'", PictureSeparator(L"HH''''mm"));
  EXPECT_EQ(L"", PictureSeparator(L"HHmm"));
  EXPECT_EQ(L"", PictureSeparator(L"yyyy"));
}

TEST(Win32Locale, GeneralDateIsShortDateThenLongTime) {
  const CivilTime t{2026, 12, 7, 6, 48, 36};
  EXPECT_EQ("12/7/2026 6:48:36 AM", Win32GeneralDate(L"en-US", t));
  EXPECT_EQ(FormatUsGeneralDate(t), Win32GeneralDate(L"en-US", t));
  // Windows writes the day with two digits here, Wine with one.
  const std::string de = Win32GeneralDate(L"de-DE", t);
  EXPECT_TRUE(de == "07.12.2026 06:48:36" || de == "7.12.2026 06:48:36") << de;
  const CivilTime afternoon{2024, 3, 5, 15, 7, 3};
  EXPECT_EQ("3/5/2024 3:07:03 PM", Win32GeneralDate(L"en-US", afternoon));
}

// --- File times --------------------------------------------------------------

// The driver runs this under TZ=America/New_York; elsewhere only the checks
// that hold in every zone are made.
TEST(Win32Time, LocalTimeUsesTheOffsetInForceAtThatInstant) {
  TIME_ZONE_INFORMATION zone;
  GetTimeZoneInformation(&zone);
  if (std::wstring(zone.StandardName) != L"Eastern Standard Time")
    GTEST_SKIP() << "needs the Eastern time zone (TZ=America/New_York)";
  CivilTime local;
  // Winter: UTC-5.
  ASSERT_TRUE(Win32ToLocal({TicksOfUtc(2024, 1, 15, 15, 0, 0), true}, &local));
  EXPECT_EQ("2024-01-15 10:00:00", Str(local));
  // Summer: UTC-4, whatever the season now; the date moves back a day.
  ASSERT_TRUE(Win32ToLocal({TicksOfUtc(2024, 7, 2, 3, 30, 0), true}, &local));
  EXPECT_EQ("2024-07-01 23:30:00", Str(local));
  // Either side of the change to daylight saving, 2024-03-10 07:00 UTC.
  ASSERT_TRUE(Win32ToLocal({TicksOfUtc(2024, 3, 10, 6, 59, 59), true}, &local));
  EXPECT_EQ("2024-03-10 01:59:59", Str(local));
  ASSERT_TRUE(Win32ToLocal({TicksOfUtc(2024, 3, 10, 7, 0, 0), true}, &local));
  EXPECT_EQ("2024-03-10 03:00:00", Str(local));
}

TEST(Win32Time, FractionsAreDroppedAndUnknownTimesRefused) {
  CivilTime a, b;
  const int64_t whole = TicksOfUtc(2024, 1, 2, 3, 4, 5);
  ASSERT_TRUE(Win32ToLocal({whole, true}, &a));
  ASSERT_TRUE(Win32ToLocal({whole + 9999999, true}, &b));
  EXPECT_EQ(Str(a), Str(b));
  EXPECT_FALSE(Win32ToLocal({whole, false}, &a));
  EXPECT_FALSE(Win32ToLocal({-1, true}, &a));
}

// --- Listing, times and deletion ---------------------------------------------

TEST(Win32Listing, EveryEntryIsListedWithItsExactName) {
  TempTree tree;
  tree.File(L"plain.txt");
  tree.File(L"caf\u00E9.log");
  tree.File(L"\u65E5\u672C\u8A9E.txt");
  tree.File(L"\U0001F600 smile.txt");
  tree.Folder(L"sub");
  tree.Folder(L"archive.txt");
  std::unique_ptr<Listing> listing = OpenWin32Folder(tree.root_utf8());
  ASSERT_TRUE(listing);
  std::vector<Listed> entries = ListAll(*listing);
  std::map<std::string, bool> by_name;
  for (const Listed& e : entries) by_name[e.name] = e.is_dir;
  EXPECT_EQ(8u, entries.size());
  EXPECT_TRUE(by_name.at("."));
  EXPECT_TRUE(by_name.at(".."));
  EXPECT_FALSE(by_name.at("plain.txt"));
  EXPECT_FALSE(by_name.at("caf\xC3\xA9.log"));
  EXPECT_FALSE(by_name.at("\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E.txt"));
  EXPECT_FALSE(by_name.at("\xF0\x9F\x98\x80 smile.txt"));
  EXPECT_TRUE(by_name.at("sub"));
  EXPECT_TRUE(by_name.at("archive.txt"));
}

TEST(Win32Listing, FoldersThatCannotBeListedGiveNoListing) {
  TempTree tree;
  EXPECT_FALSE(OpenWin32Folder(tree.root_utf8() + "missing\\"));
  tree.File(L"file");
  EXPECT_FALSE(OpenWin32Folder(tree.root_utf8() + "file\\"));
  EXPECT_FALSE(OpenWin32Folder(tree.root_utf8() + "bad|name\\"));
}

TEST(Win32Listing, SubfoldersOpenAndTheirEntriesAreDeletable) {
  TempTree tree;
  tree.Folder(L"sub");
  tree.File(L"sub\\inner.log");
  std::unique_ptr<Listing> top = OpenWin32Folder(tree.root_utf8());
  ASSERT_TRUE(top);
  DirEntry entry;
  ASSERT_TRUE(SeekTo(*top, "sub", &entry));
  std::string trouble;
  int64_t number = 0;
  std::unique_ptr<Listing> sub = top->OpenCurrentFolder(&number, &trouble);
  ASSERT_TRUE(sub);
  ASSERT_TRUE(SeekTo(*sub, "inner.log", &entry));
  number = -1;
  std::string text;
  EXPECT_TRUE(sub->RemoveCurrent(&number, &text));
  EXPECT_FALSE(tree.Exists(L"sub\\inner.log"));
}

TEST(Win32Listing, TimesAreReadFromTheEntry) {
  TempTree tree;
  const std::wstring path = tree.File(L"dated.log");
  const int64_t created = TicksOfUtc(2021, 6, 1, 12, 0, 0);
  const int64_t written = TicksOfUtc(2023, 2, 3, 4, 5, 6);
  const HANDLE h = CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr,
                               OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, h);
  const FILETIME c = Filetime(created), w = Filetime(written);
  ASSERT_TRUE(SetFileTime(h, &c, nullptr, &w));
  CloseHandle(h);

  tree.File(L"other.txt");
  // The walk reads *.log: the listing hands on its own times for those,
  // and for nothing else, and they agree with the entry's.
  struct : ReadAheadPlan {
    bool WillEnter(std::string_view) const override { return true; }
    bool WillRead(std::string_view name) const override {
      return name.ends_with(".log");
    }
  } plan;
  std::unique_ptr<Listing> listing = OpenWin32Folder(tree.root_utf8());
  listing->ReadAhead(plan);
  DirEntry entry;
  ASSERT_TRUE(SeekTo(*listing, "dated.log", &entry));
  ASSERT_NE(nullptr, entry.early);
  EXPECT_EQ(written, entry.early->times.last_write.ticks);
  EntryFacts facts;
  std::string error_text;
  int64_t number = 0;
  ASSERT_TRUE(listing->ReadCurrent(&facts, &number, &error_text)) << error_text;
  EXPECT_EQ(facts.identity, entry.early->identity);
  const FileTimes& times = facts.times;
  EXPECT_TRUE(times.last_write.valid);
  EXPECT_EQ(written, times.last_write.ticks);
  std::unique_ptr<Listing> again = OpenWin32Folder(tree.root_utf8());
  again->ReadAhead(plan);
  while (again->Next(&entry, &number, &error_text))
    EXPECT_EQ(entry.name.ends_with(".log"), entry.early != nullptr) << entry.name;
  // Wine cannot set a creation time on a Unix file system; it still reports
  // one.
  EXPECT_TRUE(times.creation.valid);
}

TEST(Win32Listing, DeletionActsOnTheListedNameOnly) {
  // "keep." and "keep" are different files, as are "a.log " and "a.log";
  // the system's usual path rules would drop the trailing dot or space and
  // delete the other one.
  for (const auto& [listed, other] :
       {std::pair<std::wstring, std::wstring>{L"keep.", L"keep"},
        {L"a.log ", L"a.log"}}) {
    TempTree tree;
    tree.File(other);
    tree.File(listed);
    std::unique_ptr<Listing> listing = OpenWin32Folder(tree.root_utf8());
    DirEntry entry;
    ASSERT_TRUE(SeekTo(*listing, ToUtf8(listed), &entry)) << ToUtf8(listed);
    int64_t number = 0;
    std::string text;
    EXPECT_TRUE(listing->RemoveCurrent(&number, &text))
        << number << ": " << text;
    EXPECT_TRUE(tree.Exists(other)) << ToUtf8(other);
    EXPECT_FALSE(tree.Exists(listed)) << ToUtf8(listed);
  }
}

TEST(Win32Listing, AFailedDeletionGivesTheSystemsNumberAndText) {
  TempTree tree;
  const std::wstring path = tree.File(L"locked.log");
  ASSERT_TRUE(SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY));
  std::unique_ptr<Listing> listing = OpenWin32Folder(tree.root_utf8());
  DirEntry entry;
  ASSERT_TRUE(SeekTo(*listing, "locked.log", &entry));
  int64_t number = 0;
  std::string text;
  EXPECT_FALSE(listing->RemoveCurrent(&number, &text));
  EXPECT_EQ(ERROR_ACCESS_DENIED, number);
  EXPECT_EQ(SystemErrorText(ERROR_ACCESS_DENIED), text);
  EXPECT_TRUE(tree.Exists(L"locked.log"));
  EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), GetLastError());
}

TEST(Win32Listing, PathsBeyondMaxPathAreListedAndDeleted) {
  TempTree tree;
  std::wstring relative;
  const std::wstring part(60, L'd');
  for (int i = 0; i < 6; ++i) {
    relative += part + std::to_wstring(i);
    tree.Folder(relative);
    relative += L"\\";
  }
  tree.File(relative + L"deep.log");
  const std::string folder = tree.root_utf8() + ToUtf8(relative);
  ASSERT_GT(folder.size(), static_cast<size_t>(MAX_PATH));
  std::unique_ptr<Listing> listing = OpenWin32Folder(folder);
  ASSERT_TRUE(listing);
  DirEntry entry;
  ASSERT_TRUE(SeekTo(*listing, "deep.log", &entry));
  int64_t number = 0;
  std::string text;
  EXPECT_TRUE(listing->RemoveCurrent(&number, &text))
      << number << ": " << text;
  EXPECT_FALSE(tree.Exists(relative + L"deep.log"));
}

// The walk acts on the entry it listed or on nothing: what was moved into
// its place from outside the tree after the listing is left alone.
TEST(Win32Listing, WhatReplacesAListedEntryIsLeftAlone) {
  const struct {
    bool listed_folder;          // "entry" is a folder, else a file
    const wchar_t* replacement;  // moved into its place from "outside"
    const wchar_t* outsider;     // the outside file, where it is then
  } cases[] = {
      {true, L"outside", L"entry\\victim.log"},
      {true, L"outside\\victim.log", L"entry"},
      {false, L"outside\\victim.log", L"entry"},
      {false, L"outside", L"entry\\victim.log"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(ToUtf8(c.replacement));
    SCOPED_TRACE(c.listed_folder ? "listed folder" : "listed file");
    TempTree tree;
    tree.Folder(L"outside");
    tree.File(L"outside\\victim.log");
    c.listed_folder ? tree.Folder(L"entry") : tree.File(L"entry");
    std::unique_ptr<Listing> top = OpenWin32Folder(tree.root_utf8());
    ASSERT_TRUE(top);
    DirEntry entry;
    ASSERT_TRUE(SeekTo(*top, "entry", &entry));
    ASSERT_TRUE(tree.Move(L"entry", L"listed"));
    ASSERT_TRUE(tree.Move(c.replacement, L"entry"));
    std::string text;
    int64_t number = 0;
    if (c.listed_folder) {
      EXPECT_FALSE(top->OpenCurrentFolder(&number, &text));
      EXPECT_EQ("", text);  // passed over, not a failure
    } else {
      int64_t number = 0;
      EXPECT_FALSE(top->RemoveCurrent(&number, &text));
      EXPECT_EQ(ERROR_FILE_NOT_FOUND, number);
      EXPECT_EQ("the file changed before it could be deleted", text);
    }
    EXPECT_TRUE(tree.Exists(c.outsider));
  }
}

// Every folder the walk is in is held without sharing its deletion: nobody
// can rename it away while the walk acts inside it.
TEST(Win32Listing, AFolderBeingWalkedCannotBeRenamed) {
  TempTree tree;
  tree.Folder(L"sub");
  tree.File(L"sub\\old.log");
  std::unique_ptr<Listing> top = OpenWin32Folder(tree.root_utf8());
  DirEntry entry;
  ASSERT_TRUE(SeekTo(*top, "sub", &entry));
  std::string text;
  int64_t number = 0;
  std::unique_ptr<Listing> sub = top->OpenCurrentFolder(&number, &text);
  ASSERT_TRUE(sub) << text;
  EXPECT_FALSE(tree.Move(L"sub", L"moved"));
  ASSERT_TRUE(SeekTo(*sub, "old.log", &entry));
  EXPECT_TRUE(sub->RemoveCurrent(&number, &text)) << text;
  EXPECT_FALSE(tree.Exists(L"sub\\old.log"));
  sub.reset();
  EXPECT_TRUE(tree.Move(L"sub", L"moved"));  // once the walk has left
}

// More entries than one reading returns, with subfolders among them:
// entering one sets the rest of the folder's reading aside, and the listing
// goes on from there. Every entry is listed once.
TEST(Win32Listing, ALargeFolderIsListedWholeAroundItsSubfolders) {
  TempTree tree;
  std::multiset<std::string> expected, seen;
  for (int i = 0; i < 600; ++i) {
    const std::wstring name = std::wstring(100, L'n') + std::to_wstring(i);
    i % 50 == 7 ? tree.Folder(name) : tree.File(name);
    expected.insert(ToUtf8(name));
  }
  expected.insert({".", ".."});
  std::unique_ptr<Listing> top = OpenWin32Folder(tree.root_utf8());
  DirEntry entry;
  std::string text;
  int64_t number = 0;
  while (top->Next(&entry, &number, &text)) {
    seen.insert(std::string(entry.name));
    if (entry.name[0] == '.' || !entry.is_dir) continue;
    std::unique_ptr<Listing> sub = top->OpenCurrentFolder(&number, &text);
    ASSERT_TRUE(sub) << text;
    EXPECT_EQ(2u, ListAll(*sub).size());  // "." and ".."
  }
  EXPECT_EQ("", text);
  EXPECT_EQ(expected, seen);
}

// Walks `top` depth first as the sweep does, through the Listing interface
// only, entering every folder not starting with a dot and reading every
// *.log: one line per entry, a file read with the times it is judged by
// first (those of the listing when read ahead, the entry's own otherwise).
std::vector<std::string> WalkLines(const std::string& top, bool read_ahead) {
  struct : ReadAheadPlan {
    bool WillEnter(std::string_view name) const override { return name[0] != '.'; }
    bool WillRead(std::string_view name) const override {
      return name.ends_with(".log");
    }
  } plan;
  std::vector<std::string> lines;
  std::vector<std::pair<std::unique_ptr<Listing>, std::string>> stack;
  stack.emplace_back(OpenWin32Folder(top), "");
  if (read_ahead) stack.back().first->ReadAhead(plan);
  DirEntry entry;
  std::string error_text;
  int64_t number = 0;
  while (!stack.empty()) {
    Listing& listing = *stack.back().first;
    if (!listing.Next(&entry, &number, &error_text)) {
      EXPECT_EQ("", error_text);
      stack.pop_back();
      continue;
    }
    std::string line = stack.back().second + std::string(entry.name);
    if (entry.is_dir && plan.WillEnter(entry.name)) {
      if (auto sub = listing.OpenCurrentFolder(&number, &error_text))
        stack.emplace_back(std::move(sub), line + "\\");
    } else if (!entry.is_dir && plan.WillRead(entry.name)) {
      EntryFacts own;
      EXPECT_TRUE(listing.ReadCurrent(&own, &number, &error_text)) << line;
      EXPECT_EQ(read_ahead, entry.early != nullptr) << line;
      line += " " + std::to_string((entry.early ? *entry.early : own).times.last_write.ticks);
    }
    lines.push_back(line);
  }
  return lines;
}

TEST(Win32Listing, ReadAheadTheWalkMeetsWhatItWouldMeetAloneInItsOwnOrder) {
  // Wider than the folders held ahead, a folder of several readings, and
  // links and dot folders, which are never entered.
  TempTree tree;
  for (int d = 0; d < 70; ++d) {
    const std::wstring folder = L"d" + std::to_wstring(d);
    tree.Folder(folder);
    tree.Folder(folder + L"\\deeper");
    tree.File(folder + L"\\deeper\\bottom.log");
    for (int f = 0; f < 6; ++f)
      tree.File(folder + L"\\" + std::to_wstring(f) + (f % 3 ? L".log" : L".txt"));
  }
  tree.Folder(L".hidden");
  tree.File(L".hidden\\never.log");
  for (int f = 0; f < 1500; ++f)
    tree.File(L"wide-folder-entry-" + std::to_wstring(f) + L".log");
  const std::vector<std::string> alone = WalkLines(tree.root_utf8(), false);
  ASSERT_GT(alone.size(), 1500u + 70 * 9);
  EXPECT_EQ(alone, WalkLines(tree.root_utf8(), true));
}

TEST(Win32Listing, ExtendedLengthForms) {
  EXPECT_EQ(L"\\\\?\\C:\\x\\", ExtendedLengthPath(L"C:\\x\\"));
  EXPECT_EQ(L"\\\\?\\UNC\\srv\\share\\x\\",
            ExtendedLengthPath(L"\\\\srv\\share\\x\\"));
  EXPECT_EQ(L"\\\\?\\C:\\x\\", ExtendedLengthPath(L"\\\\?\\C:\\x\\"));
  EXPECT_EQ(L"\\\\.\\pipe\\x", ExtendedLengthPath(L"\\\\.\\pipe\\x"));
  EXPECT_EQ(L"relative\\", ExtendedLengthPath(L"relative\\"));
  // And back, as the sweep spells paths.
  EXPECT_EQ(L"C:\\x", OrdinaryPath(L"\\\\?\\C:\\x"));
  EXPECT_EQ(L"\\\\srv\\share\\x", OrdinaryPath(L"\\\\?\\UNC\\srv\\share\\x"));
  EXPECT_EQ(L"\\\\.\\pipe\\x", OrdinaryPath(L"\\\\.\\pipe\\x"));
  // Relative folders, forward slashes and ".." resolve as the system
  // resolves them before the exact form is taken.
  wchar_t current[MAX_PATH];
  GetCurrentDirectoryW(MAX_PATH, current);
  std::wstring expected = ExtendedLengthPath(current);
  if (expected.back() != L'\\') expected += L'\\';
  EXPECT_EQ(expected + L"sub\\", ResolveFolder(L"sub\\"));
  EXPECT_EQ(expected + L"sub\\", ResolveFolder(L"sub/x/..\\"));
}

// --- The log file --------------------------------------------------------------

TEST(Win32LogFile, BlocksAreAppendedInTheAnsiCodePage) {
  if (GetACP() != 1252) GTEST_SKIP() << "expects the Western code page 1252";
  TempTree tree;
  std::unique_ptr<Platform> platform = MakeWin32Platform();
  const std::string path = tree.root_utf8() + "agesweep.log";
  std::string reason;
  bool lock_held = false;
  {
    std::unique_ptr<LogFile> log = platform->OpenLogFile(path, &reason);
    ASSERT_TRUE(log) << reason;
    ASSERT_TRUE(log->Append("caf\xC3\xA9\r\n", &lock_held, &reason)) << reason;
    EXPECT_TRUE(lock_held);
  }
  std::unique_ptr<LogFile> log = platform->OpenLogFile(path, &reason);
  ASSERT_TRUE(log) << reason;
  // Characters with a look-alike in the code page are not written as it:
  // "Omega.dat", "a\b.log" and "c/d.log" would name other files.
  ASSERT_TRUE(log->Append(
      "\xE6\x97\xA5\r\n"
      "\xCE\xA9mega.dat a\xEF\xBC\xBC" "b.log c\xEF\xBC\x8F" "d.log\r\n",
      &lock_held, &reason))
      << reason;
  // A long block, through the spool and the tail, is turned into the code
  // page a piece at a time: no piece may end inside a character.
  std::string text = "x", expected = "x";
  for (int i = 0; i < 30000; ++i) {
    text += "\xC3\xA9\xE6\x97\xA5";  // two and three bytes: U+00E9, U+65E5
    expected += "\xE9?";
  }
  {
    std::unique_ptr<LogSpool> spool = log->MakeSpool(&reason);
    ASSERT_TRUE(spool) << reason;
    ASSERT_TRUE(spool->Write(text, &reason)) << reason;
    ASSERT_TRUE(log->Append(spool.get(), text, &lock_held, &reason)) << reason;
  }
  log.reset();

  const HANDLE h = CreateFileW(ToWide(path).c_str(), GENERIC_READ, 0, nullptr,
                               OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, h);
  std::string got(4 * expected.size(), '\0');
  DWORD n = 0;
  ReadFile(h, got.data(), static_cast<DWORD>(got.size()), &n, nullptr);
  CloseHandle(h);
  got.resize(n);
  const std::string first("caf\xE9\r\n?\r\n?mega.dat a?b.log c?d.log\r\n");
  EXPECT_EQ(first, got.substr(0, first.size()));
  EXPECT_TRUE(got.substr(first.size()) == expected + expected) << n << " bytes";
}

TEST(Win32LogFile, AFolderThatCannotHoldTheLogGivesAReason) {
  TempTree tree;
  std::unique_ptr<Platform> platform = MakeWin32Platform();
  std::string reason;
  EXPECT_FALSE(
      platform->OpenLogFile(tree.root_utf8() + "missing\\agesweep.log", &reason));
  EXPECT_FALSE(reason.empty());
  EXPECT_NE('\n', reason.back());
}

TEST(Win32LogFile, AFolderInThePlaceOfTheLogIsRefused) {
  TempTree tree;
  tree.Folder(L"agesweep.log");
  std::unique_ptr<Platform> platform = MakeWin32Platform();
  std::string reason;
  EXPECT_FALSE(platform->OpenLogFile(tree.root_utf8() + "agesweep.log", &reason));
  EXPECT_EQ("not a regular file", reason);
}

// --- Confirmation ------------------------------------------------------------

// A scheduled task that runs whether the user is logged on or not has a
// window station nobody sees; a box there would wait for ever, so the
// answer is No and no box is shown (were one shown, this test would hang).
TEST(Win32Confirmation, NoVisibleDesktopMeansNoWithoutABox) {
  std::unique_ptr<Platform> platform =
      MakeWin32Platform([] { return false; });
  EXPECT_FALSE(platform->AskYesNo("Confirm Delete",
                                  "Are you sure you want to delete C:\\x.log"));
}
