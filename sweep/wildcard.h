// Matching file names against a ";"-separated list of wildcard patterns, with
// the rules of the Windows shell's matcher so that both builds select exactly
// the same files.
#pragma once

#include <string_view>

// True when `name` matches at least one pattern of `spec`. "*" matches any
// run of characters, "?" exactly one; letters match by their simple
// upper-case mapping. The spec "*.*" as a whole matches every name; spaces
// before a pattern are skipped; an empty pattern matches nothing.
bool MatchesWildcard(std::string_view name, std::string_view spec);
