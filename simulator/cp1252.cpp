// The display's and the replies' Windows-1252 bytes as UTF-8 for the
// terminal. See simulator.h.
#include <cstdint>
#include <string>

#include "simulator/simulator.h"

namespace kvxsim {

std::string Cp1252ToUtf8(const std::string& bytes) {
  // Code points of 80..9F; 0 = undefined.
  static const uint16_t high[32] = {
      0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
      0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
      0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};
  std::string out;
  for (char ch : bytes) {
    const unsigned char c = static_cast<unsigned char>(ch);
    uint32_t cp;
    if (c < 0x20 || c == 0x7f) {
      out += '.';
      continue;
    } else if (c < 0x80) {
      out += static_cast<char>(c);
      continue;
    } else if (c < 0xa0) {
      cp = high[c - 0x80];
      if (cp == 0) cp = 0xFFFD;
    } else {
      cp = c;
    }
    if (cp < 0x800) {
      out += static_cast<char>(0xC0 | (cp >> 6));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xE0 | (cp >> 12));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }
  return out;
}

}  // namespace kvxsim
