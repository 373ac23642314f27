#include "base/operator_numbers.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

Text VoltageText(double v, int width) {
  int length = snprintf(nullptr, 0, "%.10f", v);
  Text text(length > 0 ? length : 0, '\0');
  snprintf(&text[0], text.size() + 1, "%.10f", v);
  if (width >= 0 && (size_t)width < text.size()) text.resize(width);
  for (char& c : text)
    if (c == '.') c = ',';
  return text;
}

Text VoltsToHundredths(double volts) {
  Text text = VoltageText(volts, -1);
  size_t comma = text.find(',');
  if (comma != Text::npos && comma + 3 < text.size()) text.resize(comma + 3);
  return text;
}

Text VoltsExactText(double volts) {
  if (!std::isfinite(volts)) return "";
  char text[400];
  bool exact = false;
  for (int decimals = 1; decimals <= 17 && !exact; decimals++) {
    snprintf(text, sizeof text, "%.*f", decimals, volts);
    exact = strtod(text, nullptr) == volts;
  }
  if (!exact) snprintf(text, sizeof text, "%.17E", volts);
  Text out = text;
  for (char& c : out)
    if (c == '.') c = ',';
  return out;
}
