// Fuzzes the reading of numbers from operator and board texts, and the
// shown text of a voltage. ReadInteger is checked against a reference
// worked out here another way: the digits are collected first, then short
// ones go through the C library and long ones through exact remainders.
// ReadDecimal must agree with strtod wherever strtod reads the same number
// form, and give 0 wherever the text does not start with one.

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/operator_numbers.h"
#include "base/read_number.h"
#include "board/poll.h"

namespace {

void Check(bool ok, const char* what, const std::string& text) {
  if (ok) return;
  fprintf(stderr, "numbers: %s for \"%s\"\n", what, text.c_str());
  abort();
}

int DigitIn(char c, unsigned base) {
  int d = -1;
  if (c >= '0' && c <= '9') d = c - '0';
  if (c >= 'a' && c <= 'z') d = c - 'a' + 10;
  if (c >= 'A' && c <= 'Z') d = c - 'A' + 10;
  return d >= 0 && (unsigned)d < base ? d : -1;
}

int32_t ReferenceInteger(const std::string& text) {
  size_t i = text.find_first_not_of(" \t");
  if (i == std::string::npos) return 0;
  bool negative = text[i] == '-';
  if (text[i] == '+' || text[i] == '-') i++;
  unsigned base = 10;
  if (i < text.size() && (text[i] == '$' || text[i] == '%')) {
    base = text[i] == '$' ? 16 : 2;
    i++;
  }
  std::string digits;
  while (i < text.size() && DigitIn(text[i], base) >= 0) digits += text[i++];

  // The whole number modulo 2^32.
  uint64_t low;
  size_t shortDigits = base == 10 ? 19 : base == 16 ? 16 : 64;
  if (digits.size() <= shortDigits) {
    low = digits.empty() ? 0 : strtoull(digits.c_str(), nullptr, (int)base);
    low %= 4294967296ull;
  } else {
    low = 0;
    for (char c : digits)
      low = (low * base + (uint64_t)DigitIn(c, base)) % 4294967296ull;
  }
  if (negative) low = (4294967296ull - low) % 4294967296ull;
  int64_t wide =
      low >= 2147483648ull ? (int64_t)low - 4294967296ll : (int64_t)low;
  return (int32_t)wide;
}

bool IsSpace(char c) { return c != 0 && strchr(" \t\r\n\v\f", c) != nullptr; }

// What strtod would make of the text where it reads the same forms, 0 where
// the text does not start with a decimal number.
double ReferenceDecimal(const std::string& text) {
  size_t i = 0;
  while (i < text.size() && IsSpace(text[i])) i++;
  size_t j = i;
  if (j < text.size() && (text[j] == '+' || text[j] == '-')) j++;
  if (j >= text.size()) return 0.0;
  bool startsNumber = (text[j] >= '0' && text[j] <= '9') ||
                      (text[j] == '.' && j + 1 < text.size() &&
                       text[j + 1] >= '0' && text[j + 1] <= '9');
  if (!startsNumber) return 0.0;
  // strtod would read "0x..." as hexadecimal; the program reads the 0.
  if (text[j] == '0' && j + 1 < text.size() &&
      (text[j + 1] == 'x' || text[j + 1] == 'X'))
    return text[i] == '-' ? -0.0 : 0.0;
  return strtod(text.c_str() + i, nullptr);
}

bool SameDouble(double a, double b) { return memcmp(&a, &b, sizeof a) == 0; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text((const char*)data, size);

  int32_t integer = ReadInteger(text);
  Check(integer == ReferenceInteger(text), "ReadInteger", text);

  double decimal = ReadDecimal(text);
  Check(!std::isnan(decimal), "ReadDecimal gave no number", text);
  double reference = ReferenceDecimal(text);
  // Zero is zero, whatever its sign ("-0" and "-x" both show as 0).
  Check(
      decimal == reference && (decimal == 0 || SameDouble(decimal, reference)),
      "ReadDecimal", text);

  // The voltage text of that number, as the board query shows it.
  for (int width : {-1, 0, 4, 12}) {
    Text shown = VoltageText(decimal, width);
    Check(width < 0 || shown.size() <= (size_t)width, "voltage text width",
          text);
    Check(shown.find('.') == Text::npos, "voltage text has a point", text);
    Check(shown.find('\0') == Text::npos, "voltage text has a zero byte", text);
  }
  return 0;
}
