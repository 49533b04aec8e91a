#include "run/command_line.h"

#include <gtest/gtest.h>

#include "platform/platform.h"
#include "run/run_log.h"

namespace {

using Words = std::vector<std::string>;

struct Loop {
  RunSettings settings;
  RunLog log;
  SwitchLoopResult result;
};

Loop RunLoop(const std::string& text) {
  Loop loop;
  loop.result = RunSwitchLoop(GetCommandLine(text), true, &loop.settings, &loop.log);
  return loop;
}

// The lines that refuse the run of `loop`, with TEMP set to `temp`.
std::vector<std::string> Refusals(Loop loop, const std::string& temp = "/tmp") {
  std::vector<std::string> refusals;
  SettleSettings(loop.result, loop.settings, temp, '/', &refusals);
  return refusals;
}

}  // namespace

TEST(GetCommandLine, SplitsAtSpacesAndTabsOnly) {
  EXPECT_EQ(Words({""}), GetCommandLine(""));
  EXPECT_EQ(Words({""}), GetCommandLine(" \t  \t"));
  EXPECT_EQ(Words({"", "/Q", "/F", "c:\\temp\\"}),
            GetCommandLine("  /Q\t\t/F   c:\\temp\\ "));
  EXPECT_EQ(Words({"", "a,b", "x\ny"}), GetCommandLine("a,b x\ny"));
}

TEST(GetCommandLine, QuotesAreOrdinaryCharacters) {
  EXPECT_EQ(Words({"", "/F", "\"/tmp/my", "dir\""}),
            GetCommandLine("/F \"/tmp/my dir\""));
  EXPECT_EQ(Words({"", "\"\""}), GetCommandLine("\"\""));
}

TEST(GetCommandLine, KeepsAtMostMaxArgsWords) {
  std::string text;
  for (int i = 1; i <= 25; ++i) text += "w" + std::to_string(i) + " ";
  const Words words = GetCommandLine(text);
  ASSERT_EQ(21u, words.size());
  EXPECT_EQ("w20", words[20]);
  EXPECT_EQ(Words({"", "a", "b"}), GetCommandLine("a b c", 2));
  EXPECT_EQ(Words({""}), GetCommandLine("a", 0));
  // The limit counts words, not characters.
  EXPECT_EQ(std::string(5000, 'x'), GetCommandLine(std::string(5000, 'x'))[1]);
}

TEST(SwitchLoop, EchoesEveryWordAndAppliesEachSwitch) {
  Loop loop = RunLoop("/Q /F /data/logs /M d /T 7 /S /W *.log /L /CT junk");
  EXPECT_EQ("Arguments:  /Q /F /data/logs /M d /T 7 /S /W *.log /L /CT junk ",
            loop.log.text);
  const RunSettings& s = loop.settings;
  EXPECT_TRUE(s.QuietMode);
  EXPECT_EQ("/data/logs", s.Folder);
  EXPECT_EQ("d", s.Interval);
  EXPECT_EQ(7, s.TimeFrame);
  EXPECT_TRUE(s.IncludeSubdirs);
  EXPECT_EQ("*.log", s.Wildcard);
  EXPECT_TRUE(s.LogToFile);
  EXPECT_EQ(false, s.UseModifiedTime);
  EXPECT_FALSE(loop.result.help);
  EXPECT_FALSE(loop.result.retired);
}

TEST(SwitchLoop, LowerCaseFormsAreSwitchesToo) {
  Loop loop = RunLoop("/q /f /x /m h /t -3 /s /w *.txt /l /ct /mt");
  const RunSettings& s = loop.settings;
  EXPECT_TRUE(s.QuietMode);
  EXPECT_EQ("/x", s.Folder);
  EXPECT_EQ("h", s.Interval);
  EXPECT_EQ(-3, s.TimeFrame);
  EXPECT_TRUE(s.IncludeSubdirs);
  EXPECT_EQ("*.txt", s.Wildcard);
  EXPECT_TRUE(s.LogToFile);
  EXPECT_EQ(true, s.UseModifiedTime);
}

TEST(SwitchLoop, OtherCaseFormsAndLookAlikesAreIgnored) {
  Loop loop = RunLoop("/Mt /HELP -? /Help /Ct /sS Q /qq");
  EXPECT_FALSE(loop.result.help);
  EXPECT_FALSE(loop.settings.UseModifiedTime.has_value());
  EXPECT_FALSE(loop.settings.QuietMode);
  EXPECT_FALSE(loop.settings.IncludeSubdirs);
}

TEST(SwitchLoop, LaterSwitchesOverrideEarlierOnes) {
  EXPECT_EQ(false, RunLoop("/MT /CT").settings.UseModifiedTime);
  EXPECT_EQ(true, RunLoop("/CT /MT").settings.UseModifiedTime);
  EXPECT_EQ("/b", RunLoop("/F /a /F /b").settings.Folder);
  EXPECT_EQ(5, RunLoop("/T 3 /T 5").settings.TimeFrame);
  // A good later value also clears an earlier bad one.
  EXPECT_FALSE(RunLoop("/T x /T 5").result.bad_time_frame);
  EXPECT_EQ("x", RunLoop("/T 5 /T x").result.bad_time_frame.value_or(""));
}

TEST(SwitchLoop, ValueWordsThatAreSwitchesTakeEffectToo) {
  Loop loop = RunLoop("/F /Q");
  EXPECT_EQ("/Q", loop.settings.Folder);
  EXPECT_TRUE(loop.settings.QuietMode);
  EXPECT_EQ("/Q/", AddBackslash(loop.settings.Folder, '/'));
  EXPECT_TRUE(RunLoop("/W /L").settings.LogToFile);
}

TEST(SwitchLoop, HelpStopsTheLoopButEarlierWordsStand) {
  Loop loop = RunLoop("/Q /L /? /S /F x");
  EXPECT_TRUE(loop.result.help);
  EXPECT_EQ("Arguments:  /Q /L /? ", loop.log.text);
  EXPECT_TRUE(loop.settings.QuietMode);
  EXPECT_FALSE(loop.settings.IncludeSubdirs);
  EXPECT_TRUE(RunLoop("-help").result.help);
  EXPECT_TRUE(RunLoop("/help").result.help);
}

TEST(SwitchLoop, PosixHelpAndVersionWordsOnlyWhereAsked) {
  Loop version = RunLoop("/Q --version /S");
  EXPECT_TRUE(version.result.help);
  EXPECT_TRUE(version.result.version);
  EXPECT_FALSE(version.settings.IncludeSubdirs);
  EXPECT_TRUE(RunLoop("/F x --help").result.help);
  EXPECT_FALSE(RunLoop("/F x --help").result.version);
  for (const char* word : {"--help", "--version"}) {
    Loop windows;
    windows.result = RunSwitchLoop(GetCommandLine(word), false,
                                   &windows.settings, &windows.log);
    EXPECT_FALSE(windows.result.help) << word;
  }
}

TEST(SwitchLoop, WildcardSyntaxErrorBreaksTheArgumentsLine) {
  Loop loop = RunLoop("/Q /W *.txt *.doc /L");
  EXPECT_EQ("*.txt", loop.settings.Wildcard);
  EXPECT_TRUE(loop.settings.LogToFile);
  EXPECT_EQ(std::string("Arguments:  /Q /W \r\n") + kWildcardSyntaxError +
                "\r\n*.txt *.doc /L ",
            loop.log.text);
  // A value followed by a switch is fine; so is a value at the end.
  EXPECT_EQ("Arguments:  /W *.txt /S ", RunLoop("/W *.txt /S").log.text);
  EXPECT_EQ("Arguments:  /W *.txt ", RunLoop("/W *.txt").log.text);
  // The switch as last word leaves the list alone and logs nothing.
  Loop last = RunLoop("/W");
  EXPECT_EQ("", last.settings.Wildcard);
  EXPECT_EQ("Arguments:  /W ", last.log.text);
  EXPECT_TRUE(last.result.missing_value_switch.empty());
}

TEST(SwitchLoop, RetiredSwitchesWithOrWithoutValue) {
  for (const char* text : {"/I *.txt", "/i x", "/E y /Q", "/e", "/Q /I"}) {
    EXPECT_TRUE(RunLoop(text).result.retired) << text;
  }
}

TEST(SwitchLoop, ValueTakingSwitchAsLastWord) {
  for (const char* sw : {"/F", "/f", "/M", "/m", "/T", "/t"}) {
    Loop loop = RunLoop(std::string("/Q ") + sw);
    EXPECT_EQ(sw, loop.result.missing_value_switch);
    EXPECT_EQ(std::vector<std::string>{std::string("Error: ") + sw +
                                       " needs a value."},
              Refusals(loop));
  }
  // The 21st word does not count: /T is then the last kept word.
  std::string text;
  for (int i = 0; i < 19; ++i) text += "/Q ";
  EXPECT_EQ("/T", RunLoop(text + "/T 5").result.missing_value_switch);
}

TEST(TimeFrame, PlainDecimalIntegersInSixteenBitRange) {
  EXPECT_EQ(7, ParseTimeFrame("7"));
  EXPECT_EQ(7, ParseTimeFrame("+7"));
  EXPECT_EQ(-7, ParseTimeFrame("-7"));
  EXPECT_EQ(7, ParseTimeFrame("007"));
  EXPECT_EQ(32767, ParseTimeFrame("32767"));
  EXPECT_EQ(-32768, ParseTimeFrame("-32768"));
  EXPECT_EQ(0, ParseTimeFrame("-0"));
  for (const char* bad : {"32768", "-32769", "3.5", "1,000", "", "+", "-",
                          "7d", " 7", "0x10", "99999999999999999999999"})
    EXPECT_FALSE(ParseTimeFrame(bad)) << bad;
}

// The sweep's settings of `text`, with TEMP set to `temp`.
SweepSettings Settled(const std::string& text, const std::string& temp) {
  std::vector<std::string> refusals;
  const Loop loop = RunLoop(text);
  return SettleSettings(loop.result, loop.settings, temp, '/', &refusals)
      .value_or(SweepSettings());
}

TEST(Defaults, FillEveryUnsetSetting) {
  const SweepSettings s = Settled("", "/var/tmp");
  EXPECT_EQ("/var/tmp/", s.folder);
  EXPECT_EQ("*.*", s.wildcard);
  EXPECT_EQ(IntervalCode::kDayOfYear, s.interval);
  EXPECT_EQ(20, s.time_frame);
  EXPECT_TRUE(s.use_modified_time);
  EXPECT_FALSE(s.include_subdirs);
  EXPECT_FALSE(s.quiet_mode);
}

TEST(Defaults, ZeroTimeFrameBecomesTwentyNegativeStays) {
  EXPECT_EQ(20, Settled("/T 0", "/tmp").time_frame);
  EXPECT_EQ(20, Settled("/T 5 /T 0", "/tmp").time_frame);
  EXPECT_EQ(-4, Settled("/T -4", "/tmp").time_frame);
}

TEST(Defaults, QuotesInTheFolderAreKept) {
  EXPECT_EQ("\"/data/my\"/", Settled("/F \"/data/my\"", "").folder);
}

TEST(RefusedInput, EachCaseHasItsLine) {
  EXPECT_TRUE(Refusals(RunLoop("")).empty());
  EXPECT_EQ(std::vector<std::string>{"Error: /T needs a whole number from "
                                     "-32768 to 32767, not 3.5."},
            Refusals(RunLoop("/T 3.5")));
  EXPECT_EQ(std::vector<std::string>{"Error: Unknown interval x. Use yyyy, q, "
                                     "m, y, d, w, ww, h, n or s."},
            Refusals(RunLoop("/M x")));
  EXPECT_TRUE(Refusals(RunLoop("/M D")).empty());
  EXPECT_EQ(std::vector<std::string>{"Error: No folder to sweep. Give /F "
                                     "folder or set TEMP."},
            Refusals(RunLoop(""), ""));
}

TEST(SettleSettings, TheSweepGetsTypedValuesAndTheSeparator) {
  Loop loop = RunLoop("/F /data /M WW /T -3 /CT /S /Q /W *.log");
  std::vector<std::string> refusals;
  const std::optional<SweepSettings> sweep =
      SettleSettings(loop.result, loop.settings, "/tmp", '/', &refusals);
  ASSERT_TRUE(sweep);
  EXPECT_EQ("/data/", sweep->folder);
  EXPECT_EQ("*.log", sweep->wildcard);
  EXPECT_EQ(IntervalCode::kWeek, sweep->interval);
  EXPECT_EQ(-3, sweep->time_frame);
  EXPECT_FALSE(sweep->use_modified_time);
  EXPECT_TRUE(sweep->include_subdirs);
  EXPECT_TRUE(sweep->quiet_mode);
}
