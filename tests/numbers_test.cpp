// Reading numbers from what the operator types and what the board sends,
// and the shown text of a voltage.
#include <gtest/gtest.h>

#include "base/operator_numbers.h"
#include "base/read_number.h"
#include "board/poll.h"

TEST(ReadInteger, DecimalHexadecimalAndBinary) {
  EXPECT_EQ(ReadInteger("10000"), 10000);
  EXPECT_EQ(ReadInteger("1"), 1);
  EXPECT_EQ(ReadInteger("0"), 0);
  EXPECT_EQ(ReadInteger("-5"), -5);
  EXPECT_EQ(ReadInteger("\t+7"), 7);
  EXPECT_EQ(ReadInteger("$FA"), 250);
  EXPECT_EQ(ReadInteger("$fa"), 250);
  EXPECT_EQ(ReadInteger("%11111010"), 250);
  EXPECT_EQ(ReadInteger("-$10"), -16);
  EXPECT_EQ(ReadInteger("%102"), 2);  // stops at the first non-binary digit
}

TEST(ReadInteger, StopsAtTheFirstOtherCharacter) {
  EXPECT_EQ(ReadInteger("  250 ms"), 250);
  EXPECT_EQ(ReadInteger("12abc"), 12);
  EXPECT_EQ(ReadInteger("1 2"), 1);
  EXPECT_EQ(ReadInteger(" \t 9\r\n"), 9);
}

TEST(ReadInteger, TextWithoutDigitsGivesZero) {
  EXPECT_EQ(ReadInteger(""), 0);
  EXPECT_EQ(ReadInteger("abc"), 0);
  EXPECT_EQ(ReadInteger("$"), 0);
  EXPECT_EQ(ReadInteger("%"), 0);
  EXPECT_EQ(ReadInteger("-"), 0);
  EXPECT_EQ(ReadInteger("\r\n5"), 0);  // only blanks and tabs are skipped
}

TEST(ReadInteger, KeepsTheLow32Bits) {
  EXPECT_EQ(ReadInteger("4294967297"), 1);
  EXPECT_EQ(ReadInteger("4294967295"), -1);
  EXPECT_EQ(ReadInteger("2147483648"), INT32_MIN);
  EXPECT_EQ(ReadInteger("$1FFFFFFFF"), -1);
  // Far longer than any integer type: still its low 32 bits. 10^40 is a
  // multiple of 2^32; 10^40 + 7 therefore keeps 7.
  EXPECT_EQ(ReadInteger("1" + std::string(40, '0')), 0);
  EXPECT_EQ(ReadInteger("1" + std::string(39, '0') + "7"), 7);
}

TEST(ReadDecimal, NumbersWithPointAndExponent) {
  EXPECT_DOUBLE_EQ(ReadDecimal("512"), 512.0);
  EXPECT_DOUBLE_EQ(ReadDecimal("  1.5e2x"), 150.0);
  EXPECT_DOUBLE_EQ(ReadDecimal(".5"), 0.5);
  EXPECT_DOUBLE_EQ(ReadDecimal("-3"), -3.0);
  EXPECT_DOUBLE_EQ(ReadDecimal("7."), 7.0);
  EXPECT_DOUBLE_EQ(ReadDecimal("1e"), 1.0);  // an exponent needs digits
  EXPECT_DOUBLE_EQ(ReadDecimal("2E-1"), 0.2);
  EXPECT_DOUBLE_EQ(ReadDecimal("\r\n43"), 43.0);
}

TEST(ReadDecimal, TextWithoutANumberGivesZero) {
  EXPECT_EQ(ReadDecimal(""), 0.0);
  EXPECT_EQ(ReadDecimal("abc"), 0.0);
  EXPECT_EQ(ReadDecimal("."), 0.0);
  EXPECT_EQ(ReadDecimal("-"), 0.0);
  EXPECT_EQ(ReadDecimal("inf"), 0.0);
  EXPECT_EQ(ReadDecimal("nan"), 0.0);
  EXPECT_EQ(ReadDecimal("0x10"), 0.0);
}

TEST(VoltageText, CutNotRoundedWithADecimalComma) {
  EXPECT_EQ(VoltageText(2.5, 4), "2,50");
  EXPECT_EQ(VoltageText(4.995, 4), "4,99");
  EXPECT_EQ(VoltageText(0.21, 4), "0,21");
  EXPECT_EQ(VoltageText(0.0, 4), "0,00");
  EXPECT_EQ(VoltageText(-1.5, 4), "-1,5");
  EXPECT_EQ(VoltageText(488.28, 4), "488,");
  EXPECT_EQ(VoltageText(1.0, 20), "1,0000000000");
}
