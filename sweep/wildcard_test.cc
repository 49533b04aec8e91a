#include "sweep/wildcard.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "sweep/wildcard_cases.h"

namespace {

bool Matches(std::string_view name, std::string_view patterns) {
  return WildcardList(patterns).Matches(name);
}

}  // namespace

TEST(Wildcard, AgreesWithTheSharedTable) {
  for (const WildcardCase& c : kWildcardCases)
    EXPECT_EQ(c.matches, Matches(c.name, c.patterns))
        << "name \"" << c.name << "\" patterns \"" << c.patterns << "\"";
}

TEST(Wildcard, BytesThatAreNotUtf8StandForThemselves) {
  const std::string latin1_name = "caf\xE9.log";  // é in Latin-1
  EXPECT_TRUE(Matches(latin1_name, "*.log"));
  EXPECT_TRUE(Matches(latin1_name, "caf?.log"));
  EXPECT_TRUE(Matches(latin1_name, latin1_name));
  EXPECT_FALSE(Matches(latin1_name, "caf\xC3\xA9.log"));
  EXPECT_FALSE(Matches(latin1_name, "caf?"));
}

TEST(Wildcard, AnEncodedLoneSurrogateIsOneCharacter) {
  // How a Windows name holding a lone surrogate reaches the matcher.
  const std::string name = "a\xED\xA0\x80.log";
  EXPECT_TRUE(Matches(name, "a?.log"));
  EXPECT_FALSE(Matches(name, "a???.log"));
}

TEST(Wildcard, ManyStarsOnALongName) {
  // Backtracking over every star would take ages here; the matcher keeps
  // only the last star, so this answers at once.
  const std::string name(250, 'a');
  EXPECT_FALSE(Matches(name, "*a*a*a*a*a*a*a*a*a*a*a*a*b"));
  EXPECT_TRUE(Matches(name + "b", "*a*a*a*a*a*a*a*a*a*a*a*a*b"));
}

TEST(WildcardList, EndingsWithLettersBeyondAsciiGoToTheFullMatcher) {
  // Dotless i upper-cases to I and long s to S, so "*.los" matches a name
  // ending in "lo" and a long s although its last bytes are not "los".
  const std::string long_s = "x.lo\xC5\xBF";
  const std::string dotless_i = "f\xC4\xB1le.txt";
  EXPECT_TRUE(WildcardList("*.los").Matches(long_s));
  EXPECT_TRUE(WildcardList("**.LOS").Matches(long_s));
  EXPECT_TRUE(WildcardList("*ILE.TXT").Matches(dotless_i));
  EXPECT_FALSE(WildcardList("*.log").Matches("x.lo\xC5\xBF"));
  EXPECT_TRUE(WildcardList("*.log").Matches("caf\xE9.LOG"));
  EXPECT_FALSE(WildcardList("*.log").Matches("og"));
  EXPECT_FALSE(WildcardList("*.log").Matches("a.log.1"));
}
