#include "platform/win32/text.h"

#include <windows.h>

#include <cstdint>

namespace {

void AppendUtf8(std::string* out, uint32_t c) {
  if (c < 0x80) {
    *out += static_cast<char>(c);
  } else if (c < 0x800) {
    *out += static_cast<char>(0xC0 | (c >> 6));
    *out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    *out += static_cast<char>(0xE0 | (c >> 12));
    *out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    *out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    *out += static_cast<char>(0xF0 | (c >> 18));
    *out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    *out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    *out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

void AppendUtf16(std::wstring* out, uint32_t c) {
  if (c < 0x10000) {
    *out += static_cast<wchar_t>(c);
  } else {
    c -= 0x10000;
    *out += static_cast<wchar_t>(0xD800 + (c >> 10));
    *out += static_cast<wchar_t>(0xDC00 + (c & 0x3FF));
  }
}

bool IsHigh(uint32_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool IsLow(uint32_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

}  // namespace

std::string ToUtf8(std::wstring_view wide) {
  std::string out;
  out.reserve(wide.size());
  for (size_t i = 0; i < wide.size(); ++i) {
    const uint32_t u = static_cast<uint16_t>(wide[i]);
    if (IsHigh(u) && i + 1 < wide.size() &&
        IsLow(static_cast<uint16_t>(wide[i + 1]))) {
      const uint32_t low = static_cast<uint16_t>(wide[++i]);
      AppendUtf8(&out, 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00));
    } else {
      AppendUtf8(&out, u);  // lone surrogates too
    }
  }
  return out;
}

std::wstring ToWide(std::string_view s) {
  std::wstring out;
  out.reserve(s.size());
  size_t i = 0;
  while (i < s.size()) {
    const uint8_t b0 = static_cast<uint8_t>(s[i]);
    int len = 0;
    uint32_t c = 0, min = 0;
    if (b0 < 0x80) {
      len = 1, c = b0;
    } else if ((b0 & 0xE0) == 0xC0) {
      len = 2, c = b0 & 0x1F, min = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
      len = 3, c = b0 & 0x0F, min = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
      len = 4, c = b0 & 0x07, min = 0x10000;
    }
    bool ok = len != 0 && i + len <= s.size();
    for (int k = 1; ok && k < len; ++k) {
      const uint8_t b = static_cast<uint8_t>(s[i + k]);
      ok = (b & 0xC0) == 0x80;
      c = (c << 6) | (b & 0x3F);
    }
    ok = ok && c >= min && c <= 0x10FFFF;
    if (!ok) {
      out += static_cast<wchar_t>(0xFFFD);
      ++i;
      continue;
    }
    AppendUtf16(&out, c);
    i += len;
  }
  return out;
}

std::string SystemErrorText(unsigned long error) {
  wchar_t* buffer = nullptr;
  const DWORD n = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
          FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::wstring text = n && buffer ? std::wstring(buffer, n) : std::wstring();
  if (buffer) LocalFree(buffer);
  while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n' ||
                           text.back() == L' '))
    text.pop_back();
  if (text.empty()) return "Error " + std::to_string(error);
  return ToUtf8(text);
}
