#include "platform/utf8.h"

uint32_t DecodeUtf8(std::string_view s, size_t* pos) {
  const auto byte = [&](size_t i) { return static_cast<uint8_t>(s[i]); };
  const uint8_t b0 = byte(*pos);
  if (b0 < 0x80) {
    ++*pos;
    return b0;
  }
  int len = 0;
  uint32_t c = 0;
  uint32_t min = 0;
  if ((b0 & 0xE0) == 0xC0) {
    len = 2, c = b0 & 0x1F, min = 0x80;
  } else if ((b0 & 0xF0) == 0xE0) {
    len = 3, c = b0 & 0x0F, min = 0x800;
  } else if ((b0 & 0xF8) == 0xF0) {
    len = 4, c = b0 & 0x07, min = 0x10000;
  }
  bool ok = len != 0 && *pos + len <= s.size();
  for (int i = 1; ok && i < len; ++i) {
    const uint8_t b = byte(*pos + i);
    ok = (b & 0xC0) == 0x80;
    c = (c << 6) | (b & 0x3F);
  }
  if (!ok || c < min || c > 0x10FFFF) {
    ++*pos;
    return kStrayByteBase + b0;
  }
  *pos += static_cast<size_t>(len);
  return c;
}

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

namespace {

// What is never shown as it is: control characters, and bytes that are no
// UTF-8 (a surrogate included).
bool IsControl(uint32_t c) { return c < 0x20 || (c >= 0x7F && c <= 0x9F); }
bool IsStray(uint32_t c) {
  return c >= kStrayByteBase || (c >= 0xD800 && c <= 0xDFFF);
}

}  // namespace

// Shows as '?' what of `*text`, from `from` on, could act on a terminal or
// break a log line: each control character (C0, DEL and C1, U+0080 to
// U+009F, which terminals obey as escapes) and each byte that is not part
// of well-formed UTF-8, which a terminal may take for a C1 control or join
// to what follows. An encoded surrogate, which DecodeUtf8 lets through for
// names that NTFS allows, is no UTF-8 either: each of its bytes is a '?'.
// The text only shrinks, in place, so masking never needs memory.
void MaskUnprintable(std::string* text, size_t from) {
  std::string& s = *text;
  size_t out = from;
  for (size_t in = from; in < s.size();) {
    const size_t start = in;
    const uint32_t c = DecodeUtf8(s, &in);
    if (IsControl(c)) {
      s[out++] = '?';
    } else if (IsStray(c)) {
      for (size_t i = start; i < in; ++i) s[out++] = '?';
    } else {
      for (size_t i = start; i < in; ++i) s[out++] = s[i];
    }
  }
  s.resize(out);
}

std::string QuotedForShell(std::string_view text) {
  bool masked = false;
  for (size_t in = 0; in < text.size() && !masked;) {
    const uint32_t c = DecodeUtf8(text, &in);
    masked = IsControl(c) || IsStray(c);
  }
  if (!masked && !text.starts_with("$'")) return std::string(text);
  static const char kHex[] = "0123456789abcdef";
  std::string out = "$'";
  for (size_t in = 0; in < text.size();) {
    const size_t start = in;
    const uint32_t c = DecodeUtf8(text, &in);
    if (c == '\\' || c == '\'') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c == '\r') {
      out += "\\r";
    } else if (IsControl(c) || IsStray(c)) {
      for (size_t i = start; i < in; ++i) {
        const auto b = static_cast<unsigned char>(text[i]);
        out += "\\x";
        out += kHex[b >> 4];
        out += kHex[b & 15];
      }
    } else {
      out.append(text.substr(start, in - start));
    }
  }
  out += '\'';
  return out;
}

std::string Printable(std::string_view text) {
  std::string out(text);
  MaskUnprintable(&out, 0);
  return out;
}
