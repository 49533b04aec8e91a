// Text at the boundary between the portable program (UTF-8) and the Windows
// API (UTF-16).
#pragma once

#include <string>
#include <string_view>

// UTF-16 to UTF-8. A lone surrogate, which NTFS allows in names, is written
// as its own three-byte sequence (as WTF-8 does) instead of being replaced,
// so that distinct names never become the same text.
std::string ToUtf8(std::wstring_view wide);

// UTF-8 to UTF-16, undoing ToUtf8 exactly, lone surrogates included. A byte
// that starts no well-formed sequence becomes U+FFFD.
std::wstring ToWide(std::string_view utf8);
// The same into `out`, which has room for utf8.size() units (never more are
// needed); returns how many were written. Takes no memory.
size_t ToWideInto(std::string_view utf8, wchar_t* out);

// The system's description of an error number, without its trailing line
// end; "Error N" when the system has none.
std::string SystemErrorText(unsigned long error);
