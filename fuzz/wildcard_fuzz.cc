// Checks WildcardList against a reference matcher written straight from the
// matching rules, with none of the program's shortcuts: names and patterns
// are decoded in full first, and each pattern is matched by a table over
// every (pattern position, name position) pair.
//
// Input: the pattern list, one NUL byte, then the name (which may hold
// further NUL bytes). An input without a NUL byte is skipped.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "sweep/wildcard.h"

// The reference is left out of the coverage instrumentation: its loops
// would cost most of the time, and only the program's paths should steer
// the fuzzer.
#define REFERENCE __attribute__((no_sanitize("coverage")))

namespace {

// A byte that does not start a well-formed UTF-8 sequence is a character of
// its own. Marked with a bit no code point has, it can equal only the same
// byte, never a decoded character.
constexpr uint32_t kLoneByte = 0x80000000u;

// The canonical UTF-8 form of the code point `c`.
REFERENCE std::string Encode(uint32_t c) {
  std::string s;
  if (c < 0x80) {
    s += static_cast<char>(c);
  } else if (c < 0x800) {
    s += static_cast<char>(0xC0 | (c >> 6));
    s += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    s += static_cast<char>(0xE0 | (c >> 12));
    s += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    s += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    s += static_cast<char>(0xF0 | (c >> 18));
    s += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    s += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    s += static_cast<char>(0x80 | (c & 0x3F));
  }
  return s;
}

// Code points as names carry them: a surrogate too, as a lone surrogate of
// an NTFS name reaches UTF-8 text as its own three-byte form.
REFERENCE bool IsCodePoint(uint32_t c) { return c <= 0x10FFFF; }

// The characters of `s`. The lead byte gives the length of a sequence; the
// sequence is well-formed exactly when it is the canonical encoding of a
// code point, which rules out bad continuation bytes, overlong forms and
// values beyond U+10FFFF in one comparison.
REFERENCE std::vector<uint32_t> Decode(std::string_view s) {
  std::vector<uint32_t> out;
  size_t i = 0;
  while (i < s.size()) {
    const uint8_t lead = static_cast<uint8_t>(s[i]);
    size_t len = 1;
    uint32_t c = lead;
    if (lead >= 0xF0) {
      len = 4, c = lead & 0x07;
    } else if (lead >= 0xE0) {
      len = 3, c = lead & 0x0F;
    } else if (lead >= 0xC0) {
      len = 2, c = lead & 0x1F;
    } else if (lead >= 0x80) {
      len = 0;  // a continuation byte cannot start a character
    }
    bool ok = len != 0 && i + len <= s.size();
    for (size_t k = 1; ok && k < len; ++k)
      c = (c << 6) | (static_cast<uint8_t>(s[i + k]) & 0x3F);
    ok = ok && IsCodePoint(c) && Encode(c) == s.substr(i, len);
    if (ok) {
      out.push_back(c);
      i += len;
    } else {
      out.push_back(kLoneByte | lead);
      ++i;
    }
  }
  return out;
}

// The Unicode simple upper-case mapping, from the program's generated table
// of it, looked up in a hash map rather than by the program's binary search.
const std::unordered_map<uint32_t, uint32_t>& UpperMap() {
  static const auto* map = [] {
    struct Pair {
      uint32_t code, upper;
    };
    static const Pair kTable[] = {
#include "sweep/upper_table.inc"
    };
    auto* m = new std::unordered_map<uint32_t, uint32_t>;
    for (uint32_t c = 'a'; c <= 'z'; ++c) (*m)[c] = c - 'a' + 'A';
    for (const Pair& p : kTable) (*m)[p.code] = p.upper;
    return m;
  }();
  return *map;
}

REFERENCE uint32_t Upper(uint32_t c) {
  const auto& map = UpperMap();
  const auto it = map.find(c);
  return it == map.end() ? c : it->second;
}

REFERENCE std::vector<uint32_t> UpperAll(std::vector<uint32_t> chars) {
  for (uint32_t& c : chars) c = Upper(c);
  return chars;
}

// Whether the whole name matches the whole pattern, both given as their
// characters mapped to upper case. rest(i, j): whether pattern[i..] matches
// name[j..]; filled from the ends backwards.
REFERENCE bool MatchPattern(const std::vector<uint32_t>& pattern,
                  const std::vector<uint32_t>& name) {
  const size_t np = pattern.size(), nn = name.size();
  std::vector<uint8_t> table((np + 1) * (nn + 1), 0);
  const auto rest = [&](size_t i, size_t j) -> uint8_t& {
    return table[i * (nn + 1) + j];
  };
  rest(np, nn) = 1;
  for (size_t i = np; i-- > 0;) {
    for (size_t j = nn + 1; j-- > 0;) {
      if (pattern[i] == '*')  // matches nothing, or one more character
        rest(i, j) = rest(i + 1, j) || (j < nn && rest(i, j + 1));
      else
        // "?" has no case, and no character has it as its upper case.
        rest(i, j) = j < nn && (pattern[i] == '?' || pattern[i] == name[j]) &&
                     rest(i + 1, j + 1);
    }
  }
  return rest(0, 0) != 0;
}

REFERENCE bool ReferenceMatches(std::string_view list, std::string_view name) {
  if (list == "*.*") return true;
  const std::vector<uint32_t> name_chars = UpperAll(Decode(name));
  size_t start = 0;
  while (true) {
    size_t end = list.find(';', start);
    if (end == std::string_view::npos) end = list.size();
    std::string_view pattern = list.substr(start, end - start);
    while (!pattern.empty() && pattern.front() == ' ') pattern.remove_prefix(1);
    if (!pattern.empty() && MatchPattern(UpperAll(Decode(pattern)), name_chars))
      return true;
    if (end == list.size()) return false;
    start = end + 1;
  }
}

void PrintEscaped(const char* label, std::string_view s) {
  std::fprintf(stderr, "%s \"", label);
  for (const char ch : s) {
    const auto b = static_cast<unsigned char>(ch);
    if (b >= 0x20 && b < 0x7F && b != '"' && b != '\\')
      std::fputc(b, stderr);
    else
      std::fprintf(stderr, "\\x%02X", b);
  }
  std::fprintf(stderr, "\"\n");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const size_t split = input.find('\0');
  if (split == std::string_view::npos) return 0;
  const std::string_view patterns = input.substr(0, split);
  const std::string_view name = input.substr(split + 1);

  const bool expected = ReferenceMatches(patterns, name);
  const bool actual = WildcardList(patterns).Matches(name);
  if (actual != expected) {
    std::fprintf(stderr, "wildcard mismatch: WildcardList says %s, the rules say %s\n",
                 actual ? "match" : "no match", expected ? "match" : "no match");
    PrintEscaped("patterns", patterns);
    PrintEscaped("name    ", name);
    std::abort();
  }
  return 0;
}
