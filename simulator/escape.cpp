// The log form of bytes and its inverse for the control channel. See
// simulator.h.
#include <string>

#include "simulator/simulator.h"

namespace kvxsim {

std::string EscapeBytes(const std::string& bytes) {
  static const char hex[] = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size() + 8);
  for (size_t i = 0; i < bytes.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(bytes[i]);
    const bool last = i + 1 == bytes.size();
    if ((c > 0x20 && c < 0x7f && c != '\\') || (c == 0x20 && !last)) {
      out += static_cast<char>(c);
    } else {
      out += "\\x";
      out += hex[c >> 4];
      out += hex[c & 15];
    }
  }
  return out;
}

bool UnescapeBytes(const std::string& text, std::string* bytes) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\') {
      out += text[i];
      continue;
    }
    if (i + 1 >= text.size()) return false;
    const char e = text[++i];
    switch (e) {
      case '\\':
        out += '\\';
        break;
      case 'r':
        out += '\r';
        break;
      case 'n':
        out += '\n';
        break;
      case 't':
        out += '\t';
        break;
      case '0':
        out += '\0';
        break;
      case 's':
        out += ' ';
        break;
      case 'x': {
        if (i + 2 >= text.size()) return false;
        int v = 0;
        for (int k = 1; k <= 2; ++k) {
          const char h = text[i + k];
          v *= 16;
          if (h >= '0' && h <= '9') {
            v += h - '0';
          } else if (h >= 'a' && h <= 'f') {
            v += h - 'a' + 10;
          } else if (h >= 'A' && h <= 'F') {
            v += h - 'A' + 10;
          } else {
            return false;
          }
        }
        out += static_cast<char>(v);
        i += 2;
        break;
      }
      default:
        return false;
    }
  }
  *bytes = out;
  return true;
}

}  // namespace kvxsim
