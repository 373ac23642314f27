#include "mqtt/mqtt_json.h"

#include <cmath>
#include <cstdio>

#include "base/clock_text.h"
#include "base/operator_numbers.h"

namespace {

// 0x80..0x9F of Windows-1252 as Unicode; 0 where it has none (the byte
// stands for U+FFFD then).
const uint16_t High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
    0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

void AddCodePoint(Text* out, unsigned point) {
  if (point < 0x80) {
    out->push_back((char)point);
  } else if (point < 0x800) {
    out->push_back((char)(0xC0 | point >> 6));
    out->push_back((char)(0x80 | (point & 0x3F)));
  } else {
    out->push_back((char)(0xE0 | point >> 12));
    out->push_back((char)(0x80 | ((point >> 6) & 0x3F)));
    out->push_back((char)(0x80 | (point & 0x3F)));
  }
}

}  // namespace

Text Utf8Text(const Text& cp1252) {
  Text out;
  for (char c : cp1252) {
    unsigned b = (unsigned char)c;
    unsigned point = b;
    if (b >= 0x80 && b < 0xA0) point = High[b - 0x80] ? High[b - 0x80] : 0xFFFD;
    AddCodePoint(&out, point);
  }
  return out;
}

Text JsonString(const Text& cp1252) {
  Text out = "\"";
  for (char c : cp1252) {
    unsigned b = (unsigned char)c;
    if (c == '"' || c == '\\') {
      out.push_back('\\');
      out.push_back(c);
    } else if (b < 0x20) {
      char escaped[8];
      snprintf(escaped, sizeof escaped, "\\u%04x", b);
      out += escaped;
    } else {
      out.push_back(c);
    }
  }
  return out + "\"";
}

Text WireVolts(double volts) {
  if (!std::isfinite(volts) || std::fabs(volts) > 1e6) return "null";
  Text text = VoltsToHundredths(volts);
  for (char& c : text)
    if (c == ',') c = '.';
  return text;
}

Text UtcTimeText(int64_t universal) {
  return IsoDateTimeText(universal) + "+00:00";
}

Text ZonedTimeText(int64_t universal, int64_t lead) {
  int64_t minutes = (lead < 0 ? -lead : lead) / 60;
  char offset[16];
  snprintf(offset, sizeof offset, "%c%02d:%02d", lead < 0 ? '-' : '+',
           (int)(minutes / 60 % 100), (int)(minutes % 60));
  return IsoDateTimeText(universal + lead) + offset;
}
