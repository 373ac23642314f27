// Reading numbers from operator and board texts.
#pragma once

#include <cstdint>

#include "platform/platform.h"

// Skips leading blanks and tabs, takes an optional sign, then decimal
// digits up to the first other character; "$" introduces hexadecimal
// digits, "%" binary digits. Text without digits gives 0. The result keeps
// the low 32 bits.
int32_t ReadInteger(const Text& text);

// Skips leading white space, takes an optional sign, digits with an
// optional decimal point and an optional exponent; stops at the first
// character that cannot continue the number. Text without a number gives 0.
double ReadDecimal(const Text& text);
