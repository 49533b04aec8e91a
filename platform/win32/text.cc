#include "platform/win32/text.h"

#include <windows.h>

#include <cstdint>

#include "platform/utf8.h"

namespace {

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

size_t ToWideInto(std::string_view s, wchar_t* out) {
  size_t n = 0;
  for (size_t i = 0; i < s.size();) {
    uint32_t c = DecodeUtf8(s, &i);
    if (c >= kStrayByteBase) c = 0xFFFD;
    if (c < 0x10000) {
      out[n++] = static_cast<wchar_t>(c);
    } else {
      c -= 0x10000;
      out[n++] = static_cast<wchar_t>(0xD800 + (c >> 10));
      out[n++] = static_cast<wchar_t>(0xDC00 + (c & 0x3FF));
    }
  }
  return n;
}

std::wstring ToWide(std::string_view s) {
  std::wstring out(s.size(), L'\0');
  out.resize(ToWideInto(s, out.data()));
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
