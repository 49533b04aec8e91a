// Matching file names against a ";"-separated list of wildcard patterns, with
// the rules of the Windows shell's matcher so that both builds select exactly
// the same files.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// A ";"-separated list of wildcard patterns, read once and then tested
// against many names. A name matches when it matches at least one pattern
// as a whole: "*" matches any run of characters, "?" exactly one; letters
// match by their simple upper-case mapping. The list "*.*" as a whole
// matches every name; spaces before a pattern are skipped; an empty pattern
// matches nothing. Characters are those of platform/utf8.h.
class WildcardList {
 public:
  explicit WildcardList(std::string_view patterns);
  bool Matches(std::string_view name) const;

 private:
  struct Pattern {
    std::string text;
    // For a pattern of stars followed by ASCII text without "*" or "?":
    // that text in upper case, checked on the name's last bytes before the
    // general matcher is needed. Empty for every other pattern.
    std::string upper_suffix;
  };

  bool matches_all_ = false;
  std::vector<Pattern> patterns_;
};
