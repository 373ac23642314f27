#include "mqtt/mqtt_json.h"

#include <cmath>
#include <cstdio>

#include "base/clock_text.h"
#include "base/operator_numbers.h"

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
