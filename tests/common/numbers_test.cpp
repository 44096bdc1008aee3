// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "common/numbers.h"
#include "common/text.h"

namespace kalivor {
namespace {

TEST(LeadingNumber, TakesTheLongestLeadingDecimalNumber) {
  EXPECT_DOUBLE_EQ(leadingNumber("12.5abc"), 12.5);
  EXPECT_DOUBLE_EQ(leadingNumber("-.5"), -0.5);
  EXPECT_DOUBLE_EQ(leadingNumber("+3"), 3.0);
  EXPECT_DOUBLE_EQ(leadingNumber("1.2.3"), 1.2);
  EXPECT_DOUBLE_EQ(leadingNumber("5."), 5.0);
  EXPECT_DOUBLE_EQ(leadingNumber("1.5e3x"), 1500.0);
  EXPECT_DOUBLE_EQ(leadingNumber("+1.234560E-02"), 0.0123456);
  // An exponent without digits is not part of the number.
  EXPECT_DOUBLE_EQ(leadingNumber("2e"), 2.0);
  EXPECT_DOUBLE_EQ(leadingNumber("2e+"), 2.0);
}

TEST(LeadingNumber, IgnoresBlanksTabsAndLineFeedsAnywhere) {
  EXPECT_DOUBLE_EQ(leadingNumber("  1 000 "), 1000.0);
  EXPECT_DOUBLE_EQ(leadingNumber("\t- 5\n"), -5.0);
  EXPECT_DOUBLE_EQ(leadingNumber("1 e 2"), 100.0);
  // A carriage return is not a blank: it ends the number.
  EXPECT_DOUBLE_EQ(leadingNumber("4\r2"), 4.0);
}

TEST(LeadingNumber, TextWithoutANumberGivesZero) {
  EXPECT_EQ(leadingNumber(""), 0.0);
  EXPECT_EQ(leadingNumber("abc"), 0.0);
  EXPECT_EQ(leadingNumber("."), 0.0);
  EXPECT_EQ(leadingNumber("+-5"), 0.0);
  EXPECT_EQ(leadingNumber("e5"), 0.0);
}

TEST(LeadingNumber, OutOfRangeValuesGoToInfinityOrZeroByMagnitude) {
  const double inf = std::numeric_limits<double>::infinity();
  EXPECT_EQ(leadingNumber("1e400"), inf);
  EXPECT_EQ(leadingNumber("-1e400"), -inf);
  EXPECT_EQ(leadingNumber("1e-400"), 0.0);
  EXPECT_EQ(leadingNumber(std::string(400, '9')), inf);
  // Tiny values written without a negative exponent are still tiny, not infinite.
  const std::string tiny = "0." + std::string(400, '0') + "1";
  EXPECT_EQ(leadingNumber(tiny), 0.0);
  EXPECT_EQ(leadingNumber(tiny + "e+5"), 0.0);
  EXPECT_EQ(leadingNumber("-" + tiny), 0.0);
  EXPECT_EQ(leadingNumber("0." + std::string(400, '0') + "1e+800"), inf);
  EXPECT_EQ(leadingNumber("1e99999999999999999999"), inf);
  EXPECT_EQ(leadingNumber("1e-99999999999999999999"), 0.0);
  EXPECT_EQ(leadingNumber(std::string(400, '0')), 0.0);
}

TEST(StrictNumber, WholeTextMustBeOneNumber) {
  EXPECT_EQ(strictNumber("42"), 42.0);
  EXPECT_EQ(strictNumber("  -0.25 "), -0.25);
  EXPECT_EQ(strictNumber(".5"), 0.5);
  EXPECT_EQ(strictNumber("1e3"), 1000.0);
  EXPECT_FALSE(strictNumber(""));
  EXPECT_FALSE(strictNumber("   "));
  EXPECT_FALSE(strictNumber("12abc"));
  EXPECT_FALSE(strictNumber("1 2"));
  EXPECT_FALSE(strictNumber("1e"));
  EXPECT_FALSE(strictNumber("-"));
  EXPECT_FALSE(strictNumber("."));
  EXPECT_TRUE(isNumeric("007"));
  EXPECT_FALSE(isNumeric("0x10"));
}

TEST(Rounding, HalvesGoToTheEvenNumber) {
  EXPECT_EQ(roundHalfEven(2.5), 2.0);
  EXPECT_EQ(roundHalfEven(3.5), 4.0);
  EXPECT_EQ(roundHalfEven(-2.5), -2.0);
  EXPECT_EQ(roundHalfEven(2.6), 3.0);
  EXPECT_EQ(roundHalfEven(10 / 2.0), 5.0);
  EXPECT_TRUE(std::isinf(roundHalfEven(std::numeric_limits<double>::infinity())));

  EXPECT_EQ(toInt16(32767.4), std::int16_t{32767});
  EXPECT_EQ(toInt16(-32768.5), std::int16_t{-32768});
  EXPECT_FALSE(toInt16(32767.5));
  EXPECT_FALSE(toInt16(-32769));
  EXPECT_FALSE(toInt16(std::nan("")));
  EXPECT_FALSE(toInt16(std::numeric_limits<double>::infinity()));
}

TEST(NumberToText, ShortestFormWithPointAndLeadingZero) {
  EXPECT_EQ(numberToText(0.5), "0.5");
  EXPECT_EQ(numberToText(0.002), "0.002");
  EXPECT_EQ(numberToText(1.0), "1");
  EXPECT_EQ(numberToText(-0.0), "0");
  EXPECT_EQ(numberToText(0.1 + 0.2), "0.3");
  EXPECT_EQ(numberToText(3599.999), "3599.999");
  EXPECT_EQ(numberToText(1.0 / 3), "0.333333333333333");
  EXPECT_EQ(numberToText(-12345.5), "-12345.5");
  EXPECT_EQ(numberToText(123456789012345.0), "123456789012345");
  // Never an exponent: a current through 100 kOhm, a shunt of 0.1 uOhm, big and tiny numbers.
  EXPECT_EQ(numberToText(0.9694403 / 100000), "0.000009694403");
  EXPECT_EQ(numberToText(1e-7), "0.0000001");
  EXPECT_EQ(numberToText(1e-5), "0.00001");
  EXPECT_EQ(numberToText(-2.5e-4), "-0.00025");
  EXPECT_EQ(numberToText(1.0 / 3 * 1e-6), "0.000000333333333333333");
  EXPECT_EQ(numberToText(1.5e20), "150000000000000000000");
  EXPECT_EQ(numberToText(-9.9e37), "-99000000000000000000000000000000000000");
  EXPECT_EQ(numberToText(1234567890123456789.0), "1234567890123460000");
  EXPECT_EQ(numberToText(9.999999999999999), "10");
  // What goes out comes back.
  for (double v : {0.1, 0.002, 123.456, -7.25, 1e-12, 6.02e23, 9.694403e-06}) {
    EXPECT_EQ(strictNumber(numberToText(v)), v) << v;
  }
  EXPECT_EQ(intToText(0), "0");
  EXPECT_EQ(intToText(-42), "-42");
  EXPECT_EQ(intToText(20), "20");
}

TEST(Text, TrimAndSearchHelpers) {
  EXPECT_EQ(trimBlanks("  a b  "), "a b");
  EXPECT_EQ(trimBlanks("\ta\t"), "\ta\t");  // only spaces are trimmed
  EXPECT_EQ(trimBlanks("   "), "");
  EXPECT_EQ(removeChar("a\nb\n", '\n'), "ab");
  EXPECT_EQ(removeChar(std::string("a\0b", 3), '\0'), "ab");
  EXPECT_TRUE(contains("4W,TEMP", "4W"));
  EXPECT_FALSE(contains("4w", "4W"));
  EXPECT_TRUE(startsWith("Record3", "Record"));
  EXPECT_FALSE(startsWith("Rec", "Record"));
  EXPECT_TRUE(endsWith("setup.ini", ".ini"));
  EXPECT_FALSE(endsWith("ini", ".ini"));
  EXPECT_TRUE(equalsIgnoreCase("Scan Type", "sCAN tYPE"));
  EXPECT_FALSE(equalsIgnoreCase("Scan", "Scans"));
  EXPECT_EQ(toLowerAscii("ÄBC"), "Äbc");
  EXPECT_EQ(escapeControl(std::string("a\r\n\t\0\\\x01", 7)), "a\\r\\n\\t\\0\\\\\\x01");
}

}  // namespace
}  // namespace kalivor
