// UTF-8 as the program holds text, with the names file systems allow that
// are not well-formed Unicode: one decoder for the wildcard matcher and the
// Windows text layer, so a name is the same characters to both.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// What DecodeUtf8 gives for a byte that starts no well-formed sequence: this
// plus the byte. It lies beyond every code point, so such a byte is one
// character that equals only the same byte.
constexpr uint32_t kStrayByteBase = 0x110000;

// Reads the character at `*pos` (which must be inside `s`) and moves past
// it. A well-formed sequence of one to four bytes gives its code point,
// an encoded surrogate included: a lone surrogate, which NTFS allows in a
// name, reaches UTF-8 text in that form. Anything else (a stray continuation
// byte, a truncated or overlong sequence, a value beyond U+10FFFF) gives
// kStrayByteBase plus its first byte and moves one byte on.
uint32_t DecodeUtf8(std::string_view s, size_t* pos);

// Appends the encoding of code point `c` (at most U+10FFFF; surrogates are
// encoded like any other value).
void AppendUtf8(std::string* out, uint32_t c);

// `text` as it may be shown to people: every control character (below
// 0x20, 0x7F, and U+0080 to U+009F) and every byte that is not part of
// well-formed UTF-8 becomes one '?', so a file name can neither forge a
// line of the log nor move the cursor of a terminal; all other text, in
// any script, stays as it is. Only what is shown changes; the program
// always acts on the exact name.
std::string Printable(std::string_view text);

// `text` for a list a script reads: as it is when Printable would show it
// unchanged, else quoted as the shell's $'...' reads it back byte for byte
// (\n, \t, \r, \xHH, \\ and \'), so that no line can be the name of
// another file. A name that begins with $' is quoted too: a bare line
// never does.
std::string QuotedForShell(std::string_view text);

// Printable in place, for `*text` from `from` on. The text only shrinks,
// so masking never needs memory.
void MaskUnprintable(std::string* text, size_t from);
