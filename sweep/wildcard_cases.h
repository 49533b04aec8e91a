// Names and specs with the answer of the Windows shell's matcher. Both
// builds' matchers are checked against this one table, so a rule cannot
// drift on one platform only. Texts are UTF-8.
#pragma once

struct WildcardCase {
  const char* name;
  const char* patterns;
  bool matches;
};

inline constexpr WildcardCase kWildcardCases[] = {
    // The default list matches everything, dot or not.
    {"readme", "*.*", true},
    {".profile", "*.*", true},
    {"a.b.c", "*.*", true},
    // "*.*" among other patterns is an ordinary pattern: a dot is needed.
    {"readme", "*.*;*.log", false},
    {"readme", "*.log;*.*", false},
    {"notes.txt", "*.log;*.*", true},
    // A single star matches every name.
    {"readme", "*", true},
    {".profile", "*", true},
    // A list matches when one pattern matches the whole name.
    {"Report.TXT", "*.txt;*.doc", true},
    {"a.doc", "*.txt;*.doc", true},
    {"a.txt.bak", "*.txt;*.doc", false},
    {"readme", "*.txt;*.doc", false},
    {"notes.txt.old", "*.txt", false},
    {"notes.txt", "*.TXT", true},
    {"abfile04.txt", "??file04.txt", true},
    {"file04.txt", "??file04.txt", false},
    {"xabfile04.txt", "??file04.txt", false},
    {"a", "?", true},
    {"ab", "?", false},
    {"a.log", "a?log", true},
    // Stars match any run, including none and including dots.
    {"a.log", "a*.log", true},
    {"a.b.log", "*.log", true},
    {".log", "*.log", true},
    {"log", "*log*", true},
    {"xlogx", "*log*", true},
    {"aXbXc", "a*b*c", true},
    {"abcab", "*ab", true},
    {"abcabd", "*ab", false},
    {"mississippi", "*sip*", true},
    {"mississippi", "m*iss*ppi", true},
    {"mississippi", "m*iss*ppx", false},
    {"a", "**", true},
    {"a", "a**", true},
    // Empty patterns match nothing; the others in the list still count.
    {"a.log", ";", false},
    {"a.log", ";*.log", true},
    {"a.log", "*.txt;;*.log", true},
    {"a.log", "*.log;", true},
    // Spaces before a pattern are skipped, spaces after it are kept.
    {"a.log", " *.log", true},
    {"a.log", "*.txt;  *.log", true},
    {"a.log", "*.log ", false},
    {"a.log ", "*.log ", true},
    {"a b.log", "a b.log", true},
    // Characters other than * and ? stand for themselves.
    {"a[1].log", "a[1].log", true},
    {"a1.log", "a[1].log", false},
    {"a+b.log", "a+b.*", true},
    // Letters beyond ASCII compare by their upper-case mapping.
    {"\xC3\xA9t\xC3\xA9.txt", "\xC3\x89T\xC3\x89.TXT", true},  // été / ÉTÉ
    {"\xD0\xB6\xD1\x83\xD1\x80\xD0\xBD\xD0\xB0\xD0\xBB.log",
     "\xD0\x96\xD0\xA3\xD0\xA0*", true},  // журнал / ЖУР*
    {"\xCE\xB1.txt", "?.txt", true},     // one Greek letter, one "?"
    {"\xC3\xA9.txt", "e.txt", false},    // é is not e
};
