#include "base/operator_numbers.h"

#include <cstdio>

Text VoltageText(double v, int width) {
  int length = snprintf(nullptr, 0, "%.10f", v);
  Text text(length > 0 ? length : 0, '\0');
  snprintf(&text[0], text.size() + 1, "%.10f", v);
  if (width >= 0 && (size_t)width < text.size()) text.resize(width);
  for (char& c : text)
    if (c == '.') c = ',';
  return text;
}
