#include "platform/posix/posix_platform.h"
#include "platform/posix/posix_platform_internal.h"

#include <gtest/gtest.h>
#include <locale.h>
#include <stdlib.h>
#include <time.h>

#include <map>
#include <vector>
#include <optional>

namespace {


FileTime UtcTime(int year, int month, int day, int hour) {
  return FileTime{SecondNumber({year, month, day, hour, 0, 0}) * kTicksPerSecond +
                      kUnixEpochTicks,
                  true};
}

// Sets environment variables for one test and puts the old values back.
using EnvValues = std::vector<std::pair<std::string, std::optional<std::string>>>;

class ScopedEnv {
 public:
  explicit ScopedEnv(const EnvValues& values) {
    for (const auto& [name, value] : values) {
      const char* old = getenv(name.c_str());
      saved_[name] = old ? std::optional<std::string>(old) : std::nullopt;
      Set(name, value);
    }
    tzset();
  }
  ~ScopedEnv() {
    for (const auto& [name, value] : saved_) Set(name, value);
    tzset();
  }

 private:
  static void Set(const std::string& name,
                  const std::optional<std::string>& value) {
    if (value)
      setenv(name.c_str(), value->c_str(), 1);
    else
      unsetenv(name.c_str());
  }
  std::map<std::string, std::optional<std::string>> saved_;
};

bool LocaleInstalled(const char* name) {
  locale_t loc = newlocale(LC_ALL_MASK, name, nullptr);
  if (loc) freelocale(loc);
  return loc != nullptr;
}

std::unique_ptr<Platform> MakePlatform() {
  static char name[] = "agesweep";
  static char* argv[] = {name, nullptr};
  return MakePosixPlatform(1, argv);
}

}  // namespace

TEST(PosixArguments, RebuildTheTypedTextSoQuotedWordsSplit) {
  EXPECT_EQ("", JoinArguments({}));
  EXPECT_EQ("/Q /F /tmp/x", JoinArguments({"/Q", "/F", "/tmp/x"}));
  EXPECT_EQ("/F \"/tmp/my dir\" \"\" \"a\tb\"",
            JoinArguments({"/F", "/tmp/my dir", "", "a\tb"}));
}

TEST(PosixConfirmation, AnswersReadLikeRmInteractive) {
  bool yes = false;
  for (const char* line : {"", "y", "Y", "yes", "YeS", "y\r"}) {
    EXPECT_TRUE(ParseYesNo(line, &yes)) << line;
    EXPECT_TRUE(yes) << line;
  }
  for (const char* line : {"n", "N", "no", "NO"}) {
    EXPECT_TRUE(ParseYesNo(line, &yes)) << line;
    EXPECT_FALSE(yes) << line;
  }
  for (const char* line : {"maybe", "yess", "ja", "0", "y n"})
    EXPECT_FALSE(ParseYesNo(line, &yes)) << line;
}

TEST(PosixLocale, FieldSeparatorsComeFromTheFormats) {
  EXPECT_EQ("/", FieldSeparator("%m/%d/%Y"));
  EXPECT_EQ(".", FieldSeparator("%d.%m.%Y"));
  EXPECT_EQ("-", FieldSeparator("%F"));
  EXPECT_EQ("/", FieldSeparator("%D"));
  EXPECT_EQ(":", FieldSeparator("%T"));
  EXPECT_EQ(":", FieldSeparator("%r"));
  EXPECT_EQ(".", FieldSeparator("%-d.%-m.%Y"));
  EXPECT_EQ("\xE5\xB9\xB4", FieldSeparator("%Y\xE5\xB9\xB4%m\xE6\x9C\x88"));
  EXPECT_EQ("", FieldSeparator("%H"));
  EXPECT_EQ("", FieldSeparator("plain"));
}

TEST(PosixLocale, CLocalesUseUnitedStatesConventions) {
  for (const char* name : {"C", "POSIX", "C.UTF-8", "C.utf8", ""}) {
    ScopedEnv env(EnvValues{{"LC_ALL", name}, {"LC_TIME", std::nullopt},
                   {"LC_NUMERIC", std::nullopt}, {"LANG", std::nullopt}});
    const LocaleInfo info = PosixLocaleInfo();
    EXPECT_EQ(",", info.thousands_separator) << name;
    EXPECT_EQ(".", info.decimal_separator) << name;
    EXPECT_EQ("/", info.date_separator) << name;
    EXPECT_EQ(":", info.time_separator) << name;
    EXPECT_EQ(0, info.first_weekday) << name;
    EXPECT_EQ("12/7/2026 6:48:36 PM",
              MakePlatform()->FormatGeneralDate({2026, 12, 7, 18, 48, 36}));
  }
}

TEST(PosixLocale, OtherLocalesUseTheirOwnConventions) {
  if (!LocaleInstalled("de_DE.UTF-8")) GTEST_SKIP() << "de_DE.UTF-8 missing";
  ScopedEnv env(EnvValues{{"LC_ALL", std::nullopt}, {"LC_TIME", "de_DE.UTF-8"},
                 {"LC_NUMERIC", "de_DE.UTF-8"}, {"LANG", "C"}});
  const LocaleInfo info = PosixLocaleInfo();
  EXPECT_EQ(".", info.thousands_separator);
  EXPECT_EQ(",", info.decimal_separator);
  EXPECT_EQ(".", info.date_separator);
  EXPECT_EQ(":", info.time_separator);
  EXPECT_EQ(1, info.first_weekday);  // Monday
  EXPECT_EQ("07.12.2026 18:48:36",
            MakePlatform()->FormatGeneralDate({2026, 12, 7, 18, 48, 36}));
}

TEST(PosixTime, EachInstantGetsTheOffsetInForceThen) {
  if (access("/usr/share/zoneinfo/America/New_York", R_OK) != 0)
    GTEST_SKIP() << "tzdata missing";
  ScopedEnv env(EnvValues{{"TZ", "America/New_York"}});
  std::unique_ptr<Platform> platform = MakePlatform();
  CivilTime summer, winter;
  ASSERT_TRUE(platform->ToLocal(UtcTime(2024, 7, 1, 12), &summer));
  ASSERT_TRUE(platform->ToLocal(UtcTime(2024, 1, 15, 12), &winter));
  EXPECT_EQ(8, summer.hour);  // EDT, UTC-4
  EXPECT_EQ(7, winter.hour);  // EST, UTC-5
  // The first second after the spring change: 02:00 EST became 03:00 EDT.
  CivilTime change;
  ASSERT_TRUE(platform->ToLocal(UtcTime(2024, 3, 10, 7), &change));
  EXPECT_EQ(3, change.hour);
}

TEST(PosixTime, TimesBeforeTheEpochAndInvalidTimes) {
  ScopedEnv env(EnvValues{{"TZ", "UTC"}});
  std::unique_ptr<Platform> platform = MakePlatform();
  CivilTime t;
  ASSERT_TRUE(platform->ToLocal(UtcTime(1960, 5, 6, 7), &t));
  EXPECT_EQ(1960, t.year);
  EXPECT_EQ(7, t.hour);
  // Half a second before a whole second still shows the earlier second.
  FileTime fraction = UtcTime(2000, 1, 1, 0);
  fraction.ticks -= 5000000;
  ASSERT_TRUE(platform->ToLocal(fraction, &t));
  EXPECT_EQ(1999, t.year);
  EXPECT_EQ(59, t.second);
  EXPECT_FALSE(platform->ToLocal(FileTime{}, &t));
}

TEST(PosixProcess, ProgramFolderHasNoTrailingSlash) {
  const std::string folder = MakePlatform()->ProgramFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_EQ('/', folder[0]);
  EXPECT_NE('/', folder.back());
}
