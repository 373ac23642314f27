#include "base/read_number.h"

#include <cstdlib>

static int DigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return 99;
}

int32_t ReadInteger(const Text& text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) i++;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    i++;
  }
  unsigned base = 10;
  if (i < text.size() && text[i] == '$') {
    base = 16;
    i++;
  } else if (i < text.size() && text[i] == '%') {
    base = 2;
    i++;
  }
  // Unsigned arithmetic wraps modulo 2^32, which keeps exactly the low 32
  // bits of the whole number however long it is.
  uint32_t value = 0;
  for (; i < text.size(); i++) {
    int d = DigitValue(text[i]);
    if (d >= (int)base) break;
    value = value * base + (uint32_t)d;
  }
  if (negative) value = 0u - value;
  return (int32_t)value;
}

static bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' ||
         c == '\f';
}

static bool IsDigit(char c) { return c >= '0' && c <= '9'; }

double ReadDecimal(const Text& text) {
  size_t i = 0;
  while (i < text.size() && IsSpace(text[i])) i++;
  // Collect the longest prefix that forms a number and let the C library
  // convert just that, so words like "inf" or "0x10" are not taken.
  Text number;
  if (i < text.size() && (text[i] == '+' || text[i] == '-'))
    number += text[i++];
  size_t digits = 0;
  while (i < text.size() && IsDigit(text[i])) number += text[i++], digits++;
  if (i < text.size() && text[i] == '.') {
    number += text[i++];
    while (i < text.size() && IsDigit(text[i])) number += text[i++], digits++;
  }
  if (digits == 0) return 0.0;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    size_t j = i + 1;
    if (j < text.size() && (text[j] == '+' || text[j] == '-')) j++;
    if (j < text.size() && IsDigit(text[j])) {
      number.append(text, i, j - i);
      while (j < text.size() && IsDigit(text[j])) number += text[j++];
    }
  }
  return strtod(number.c_str(), nullptr);
}
