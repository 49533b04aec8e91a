#include "sweep/wildcard.h"

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <utility>

#include "platform/utf8.h"

namespace {

struct UpperPair {
  uint32_t code;
  uint32_t upper;
};

const UpperPair kUpper[] = {
#include "sweep/upper_table.inc"
};

uint32_t Upper(uint32_t c) {
  if (c < 0x80) return (c >= 'a' && c <= 'z') ? c - 32 : c;
  const UpperPair* it = std::lower_bound(
      std::begin(kUpper), std::end(kUpper), c,
      [](const UpperPair& p, uint32_t v) { return p.code < v; });
  return (it != std::end(kUpper) && it->code == c) ? it->upper : c;
}

// Matches the whole name against one pattern.
bool MatchOne(std::string_view name, std::string_view pattern) {
  size_t n = 0, p = 0;
  size_t star = std::string_view::npos;  // pattern position after the last *
  size_t resume = 0;                     // name position that * resumes from
  while (n < name.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      star = ++p;
      resume = n;
      continue;
    }
    if (p < pattern.size()) {
      size_t n2 = n, p2 = p;
      const uint32_t pc = DecodeUtf8(pattern, &p2);
      const uint32_t nc = DecodeUtf8(name, &n2);
      if (pc == '?' || Upper(pc) == Upper(nc)) {
        n = n2;
        p = p2;
        continue;
      }
    }
    if (star == std::string_view::npos) return false;
    // Let the last * swallow one more character and try again.
    DecodeUtf8(name, &resume);
    n = resume;
    p = star;
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

// Calls `f` with every non-empty pattern of the list, in order, until it
// returns true; returns whether one did.
template <typename F>
bool ForEachPattern(std::string_view patterns, F f) {
  size_t pos = 0;
  while (pos < patterns.size()) {
    while (pos < patterns.size() && patterns[pos] == ' ') ++pos;
    size_t end = patterns.find(';', pos);
    if (end == std::string_view::npos) end = patterns.size();
    if (end > pos && f(patterns.substr(pos, end - pos))) return true;
    pos = end == patterns.size() ? end : end + 1;
  }
  return false;
}

char UpperAscii(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
}

}  // namespace

WildcardList::WildcardList(std::string_view patterns) : matches_all_(patterns == "*.*") {
  ForEachPattern(patterns, [&](std::string_view text) {
    Pattern p{std::string(text), {}};
    const size_t stars = text.find_first_not_of('*');
    if (stars != 0 && stars != std::string_view::npos) {
      const std::string_view rest = text.substr(stars);
      bool plain = true;
      for (const char c : rest)
        plain = plain && c != '*' && c != '?' && static_cast<uint8_t>(c) < 0x80;
      if (plain)
        for (const char c : rest) p.upper_suffix += UpperAscii(c);
    }
    patterns_.push_back(std::move(p));
    return false;
  });
}

bool WildcardList::Matches(std::string_view name) const {
  if (matches_all_) return true;
  for (const Pattern& p : patterns_) {
    const std::string& suffix = p.upper_suffix;
    if (suffix.empty()) {
      if (MatchOne(name, p.text)) return true;
      continue;
    }
    // Stars then ASCII text: the name must end in that text. A name shorter
    // in bytes has fewer characters than the text and cannot match. When the
    // name's last bytes are all ASCII they are whole characters of their
    // own, compared by ASCII case; otherwise a character such as U+0131
    // (dotless i, upper case I) could still match, so the general matcher
    // decides.
    // Read from the end: while every byte after the current one is ASCII,
    // the current byte, if ASCII, is the name's character at that distance
    // from the end, so a difference there is final.
    if (name.size() < suffix.size()) continue;
    const char* tail = name.data() + (name.size() - suffix.size());
    size_t i = suffix.size();
    bool decided = false, matched = false;
    while (i > 0 && !decided) {
      --i;
      if (static_cast<uint8_t>(tail[i]) >= 0x80) {
        decided = true;
        matched = MatchOne(name, p.text);
      } else if (UpperAscii(tail[i]) != suffix[i]) {
        decided = true;
      }
    }
    if (!decided || matched) return true;
  }
  return false;
}
