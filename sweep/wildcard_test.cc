#include "sweep/wildcard.h"

#include <gtest/gtest.h>

#include "sweep/wildcard_cases.h"

TEST(Wildcard, AgreesWithTheSharedTable) {
  for (const WildcardCase& c : kWildcardCases)
    EXPECT_EQ(c.matches, MatchesWildcard(c.name, c.spec))
        << "name \"" << c.name << "\" spec \"" << c.spec << "\"";
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
