#include "base/utf8_text.h"

#include <cstdint>

namespace {

// The second half of Windows-1252 (0x80..0x9F) as Unicode; 0 where the
// code page has no character (shown as U+FFFD).
const uint16_t HighControls[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
    0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

void AppendUtf8(Text* out, unsigned code) {
  if (code < 0x80) {
    *out += (char)code;
  } else if (code < 0x800) {
    *out += (char)(0xC0 | (code >> 6));
    *out += (char)(0x80 | (code & 0x3F));
  } else {
    *out += (char)(0xE0 | (code >> 12));
    *out += (char)(0x80 | ((code >> 6) & 0x3F));
    *out += (char)(0x80 | (code & 0x3F));
  }
}

}  // namespace

Text Utf8FromWindows1252(const Text& text) {
  Text out;
  out.reserve(text.size() + text.size() / 8);
  for (char c : text) {
    unsigned char u = (unsigned char)c;
    if (u < 0x80)
      out += c;
    else if (u < 0xA0)
      AppendUtf8(&out,
                 HighControls[u - 0x80] ? HighControls[u - 0x80] : 0xFFFD);
    else
      AppendUtf8(&out, u);
  }
  return out;
}
