// Matching file names against a ";"-separated list of wildcard patterns, with
// the rules of the Windows shell's matcher so that both builds select exactly
// the same files.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// True when `name` matches at least one pattern of `patterns`. "*" matches any
// run of characters, "?" exactly one; letters match by their simple
// upper-case mapping. The list "*.*" as a whole matches every name; spaces
// before a pattern are skipped; an empty pattern matches nothing.
bool MatchesWildcard(std::string_view name, std::string_view patterns);

// A wildcard list read once and then tested against many names, with the
// same answers as MatchesWildcard. The common "*.ext" form is checked on the
// name's last bytes instead of by the general matcher.
class WildcardList {
 public:
  explicit WildcardList(std::string_view patterns);
  bool Matches(std::string_view name) const;

 private:
  struct Pattern {
    std::string text;
    // For a pattern of stars followed by ASCII text without "*" or "?":
    // that text in upper case. Empty for every other pattern.
    std::string upper_suffix;
  };

  bool matches_all_ = false;
  std::vector<Pattern> patterns_;
};
