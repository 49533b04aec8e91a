#include "sweep/wildcard.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "sweep/wildcard_cases.h"

TEST(Wildcard, AgreesWithTheSharedTable) {
  for (const WildcardCase& c : kWildcardCases)
    EXPECT_EQ(c.matches, MatchesWildcard(c.name, c.patterns))
        << "name \"" << c.name << "\" patterns \"" << c.patterns << "\"";
}

TEST(Wildcard, BytesThatAreNotUtf8StandForThemselves) {
  const std::string latin1_name = "caf\xE9.log";  // é in Latin-1
  EXPECT_TRUE(MatchesWildcard(latin1_name, "*.log"));
  EXPECT_TRUE(MatchesWildcard(latin1_name, "caf?.log"));
  EXPECT_TRUE(MatchesWildcard(latin1_name, latin1_name));
  EXPECT_FALSE(MatchesWildcard(latin1_name, "caf\xC3\xA9.log"));
  EXPECT_FALSE(MatchesWildcard(latin1_name, "caf?"));
}

TEST(Wildcard, ManyStarsOnALongName) {
  // Backtracking over every star would take ages here; the matcher keeps
  // only the last star, so this answers at once.
  const std::string name(250, 'a');
  EXPECT_FALSE(MatchesWildcard(name, "*a*a*a*a*a*a*a*a*a*a*a*a*b"));
  EXPECT_TRUE(MatchesWildcard(name + "b", "*a*a*a*a*a*a*a*a*a*a*a*a*b"));
}

TEST(WildcardList, AgreesWithTheSharedTable) {
  for (const WildcardCase& c : kWildcardCases)
    EXPECT_EQ(c.matches, WildcardList(c.patterns).Matches(c.name))
        << "name \"" << c.name << "\" patterns \"" << c.patterns << "\"";
}

TEST(WildcardList, EndingsWithLettersBeyondAsciiGoToTheFullMatcher) {
  // Dotless i upper-cases to I and long s to S, so "*.los" matches a name
  // ending in "lo" and a long s although its last bytes are not "los".
  const std::string long_s = "x.lo\xC5\xBF";
  const std::string dotless_i = "f\xC4\xB1le.txt";
  EXPECT_TRUE(MatchesWildcard(long_s, "*.los"));
  EXPECT_TRUE(WildcardList("*.los").Matches(long_s));
  EXPECT_TRUE(WildcardList("**.LOS").Matches(long_s));
  EXPECT_TRUE(WildcardList("*ILE.TXT").Matches(dotless_i));
  EXPECT_FALSE(WildcardList("*.log").Matches("x.lo\xC5\xBF"));
  EXPECT_TRUE(WildcardList("*.log").Matches("caf\xE9.LOG"));
  EXPECT_FALSE(WildcardList("*.log").Matches("og"));
  EXPECT_FALSE(WildcardList("*.log").Matches("a.log.1"));
}

// Names and lists made of pieces that stress the matcher: letters in both
// cases, letters beyond ASCII whose upper case is ASCII, bytes that are not
// UTF-8, stars, question marks, separators and spaces.
TEST(WildcardList, AgreesWithTheFullMatcherOnRandomNamesAndLists) {
  const char* const pieces[] = {"a",  "B",  "l",  "o",  "g",        "s",
                                "I",  ".",  "*",  "?",  ";",        " ",
                                "\xC5\xBF", "\xC4\xB1", "\xC3\xA9", "\xE9",
                                "\xC3",     "log",      ".log"};
  const size_t count = sizeof pieces / sizeof pieces[0];
  uint64_t state = 12345;
  const auto next = [&](size_t n) {
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    return static_cast<size_t>((state >> 33) % n);
  };
  const auto text = [&](size_t max_pieces, const char* start) {
    std::string s = start;
    for (size_t i = next(max_pieces + 1); i > 0; --i) s += pieces[next(count)];
    return s;
  };
  for (int i = 0; i < 20000; ++i) {
    const std::string name = text(7, "");
    // Half the lists start with stars, the form that has its own path.
    const std::string patterns = text(6, i % 2 ? "*" : "");
    ASSERT_EQ(MatchesWildcard(name, patterns), WildcardList(patterns).Matches(name))
        << "name \"" << name << "\" patterns \"" << patterns << "\"";
  }
}
