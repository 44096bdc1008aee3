// SPDX-License-Identifier: MIT
#include "visa/find_expression.h"

#include <gtest/gtest.h>

#include <string>

namespace kalivor::visa {
namespace {

bool match(std::string_view expr, std::string_view resource) {
  const auto fe = FindExpression::compile(expr);
  EXPECT_TRUE(fe.has_value()) << "expression: " << expr;
  return fe && fe->matches(resource);
}

TEST(FindExpression, DiscoveryExpressionTakesUsbAndGpibInstrumentsOnly) {
  const auto fe = FindExpression::compile("(USB|GPIB)?*INSTR");
  ASSERT_TRUE(fe);
  EXPECT_TRUE(fe->matches("USB0::0x1234::0x5678::SN::INSTR"));
  EXPECT_TRUE(fe->matches("GPIB0::22::INSTR"));
  EXPECT_TRUE(fe->matches("usb0::0x1234::0x5678::sn::instr"));
  EXPECT_FALSE(fe->matches("USB0::0x1234::0x5678::SN::RAW"));
  EXPECT_FALSE(fe->matches("GPIB0::INTFC"));
  EXPECT_FALSE(fe->matches("ASRL1::INSTR"));
  EXPECT_FALSE(fe->matches("TCPIP0::1.2.3.4::USB::INSTR"));
  // `?*` is any run of characters, the empty one included.
  EXPECT_TRUE(fe->matches("USBINSTR"));
  EXPECT_FALSE(fe->matches("USBINST"));
  EXPECT_FALSE(fe->matches("USB0::INSTR "));
  EXPECT_FALSE(fe->matches(""));
}

TEST(FindExpression, WholeStringAndCaseInsensitive) {
  EXPECT_TRUE(match("GPIB0::22::INSTR", "gpib0::22::instr"));
  EXPECT_FALSE(match("GPIB0::22", "GPIB0::22::INSTR"));
  EXPECT_FALSE(match("22::INSTR", "GPIB0::22::INSTR"));
  EXPECT_TRUE(match("", ""));
  EXPECT_FALSE(match("", "x"));
  EXPECT_TRUE(match("a?c", "abc"));
  EXPECT_FALSE(match("a?c", "ac"));
  EXPECT_FALSE(match("a?c", "abbc"));
}

TEST(FindExpression, StarAndPlusRepeatThePrecedingCharacterOrGroup) {
  EXPECT_TRUE(match("ab*c", "ac"));
  EXPECT_TRUE(match("ab*c", "abbbc"));
  EXPECT_FALSE(match("ab*c", "abxc"));
  EXPECT_FALSE(match("ab+c", "ac"));
  EXPECT_TRUE(match("ab+c", "abc"));
  EXPECT_TRUE(match("ab+c", "aBBc"));
  EXPECT_TRUE(match("(ab)*", ""));
  EXPECT_TRUE(match("(ab)*", "ababab"));
  EXPECT_FALSE(match("(ab)*", "aba"));
  EXPECT_FALSE(match("(ab)+", ""));
  EXPECT_TRUE(match("x(ab)+y", "xababy"));
  EXPECT_TRUE(match("[0-9]+::INSTR", "123::INSTR"));
  EXPECT_FALSE(match("[0-9]+::INSTR", "::INSTR"));
  // Repeating a repetition is harmless.
  EXPECT_TRUE(match("a**", "aaa"));
  EXPECT_TRUE(match("(a*)*b", "aaab"));
  EXPECT_TRUE(match("(a*)+b", "b"));
  EXPECT_TRUE(match("()*x", "x"));
}

TEST(FindExpression, SetsRangesAndNegation) {
  EXPECT_TRUE(match("GPIB[0-3]::?*", "GPIB2::5::INSTR"));
  EXPECT_FALSE(match("GPIB[0-3]::?*", "GPIB4::5::INSTR"));
  EXPECT_TRUE(match("[a-c]x", "Bx"));  // ranges fold case too
  EXPECT_TRUE(match("[A-C]x", "bx"));
  EXPECT_TRUE(match("[^0-9]*", "abc"));
  EXPECT_FALSE(match("[^0-9]*", "ab1"));
  EXPECT_FALSE(match("[^a]", "A"));  // negation excludes both cases
  EXPECT_TRUE(match("[^a]", "b"));
  EXPECT_TRUE(match("[]]", "]"));
  EXPECT_TRUE(match("[^]]", "x"));
  EXPECT_FALSE(match("[^]]", "]"));
  EXPECT_TRUE(match("[-a]", "-"));
  EXPECT_TRUE(match("[a-]", "-"));
  EXPECT_TRUE(match("[a\\-z]", "-"));
  EXPECT_FALSE(match("[a\\-z]", "m"));
  EXPECT_TRUE(match("[\\]x]", "]"));
  EXPECT_TRUE(match("[*|()?]+", "*|()?"));
  EXPECT_FALSE(match("[*]", "a"));
}

TEST(FindExpression, AlternativesHaveLowestPrecedence) {
  EXPECT_TRUE(match("GPIB?*|USB?*", "USB0::1::INSTR"));
  EXPECT_TRUE(match("ab|cd", "ab"));
  EXPECT_TRUE(match("ab|cd", "cd"));
  EXPECT_FALSE(match("ab|cd", "abd"));
  EXPECT_FALSE(match("ab|cd", "acd"));
  EXPECT_TRUE(match("a(b|c)d", "acd"));
  EXPECT_TRUE(match("a(b|c|)d", "ad"));  // an empty alternative matches nothing at all
  EXPECT_TRUE(match("|x", ""));
  EXPECT_TRUE(match("((a|b)(c|d))+", "adbcac"));
  EXPECT_FALSE(match("((a|b)(c|d))+", "adbca"));
}

TEST(FindExpression, EscapesTakeSpecialCharactersLiterally) {
  EXPECT_TRUE(match("a\\*b", "a*b"));
  EXPECT_FALSE(match("a\\*b", "aab"));
  EXPECT_TRUE(match("\\(\\)\\|\\?\\[\\\\", "()|?[\\"));
  EXPECT_FALSE(match("\\?", "x"));
  EXPECT_TRUE(match("\\a", "A"));
}

TEST(FindExpression, InvalidExpressionsAreRefused) {
  for (const char* bad : {"(", ")", "(ab", "ab)", "(a))", "*", "+INSTR", "a|*", "(*a)", "[", "[a",
                          "[]", "[^]", "[z-a]", "a\\", "[a\\", "[a-\\", "((())"}) {
    EXPECT_FALSE(FindExpression::compile(bad).has_value()) << bad;
  }
  EXPECT_FALSE(FindExpression::compile(std::string(FindExpression::kMaxLength + 1, 'a')));
}

TEST(FindExpression, NonAsciiAndNulBytesAreOrdinaryCharacters) {
  const std::string withNul("a\0b", 3);
  EXPECT_TRUE(match("a?b", withNul));
  EXPECT_TRUE(match(withNul, withNul));
  EXPECT_TRUE(match("(\xC3\xA9)+", "\xC3\xA9\xC3\xA9"));
  EXPECT_FALSE(match("\xC3\xA9+", "\xC3\xA9\xC3\xA9"));
  EXPECT_FALSE(match("[^\x80-\xFF]*", "ab\xC3"));
}

// These would take exponential time with backtracking or overflow a recursive parser.
TEST(FindExpression, PathologicalExpressionsStayCheap) {
  std::string nested;
  for (int i = 0; i < 20000; ++i) nested += '(';
  nested += 'a';
  for (int i = 0; i < 20000; ++i) nested += ")*";
  const auto deep = FindExpression::compile(nested);
  ASSERT_TRUE(deep);
  EXPECT_TRUE(deep->matches(std::string(200, 'a')));
  EXPECT_FALSE(deep->matches(std::string(200, 'a') + "b"));

  std::string blowup;
  for (int i = 0; i < 30; ++i) blowup += "a*";
  blowup += "b";
  const auto slow = FindExpression::compile(blowup);
  ASSERT_TRUE(slow);
  EXPECT_FALSE(slow->matches(std::string(10000, 'a')));
  EXPECT_TRUE(slow->matches(std::string(10000, 'a') + "b"));

  std::string alternates = "x";
  for (int i = 0; i < 30000; ++i) alternates += "|x";
  const auto wide = FindExpression::compile(alternates);
  ASSERT_TRUE(wide);
  EXPECT_TRUE(wide->matches("X"));
  EXPECT_FALSE(wide->matches("xx"));

  const auto big = FindExpression::compile(std::string(FindExpression::kMaxLength, '?'));
  ASSERT_TRUE(big);
  EXPECT_FALSE(big->matches("short"));
}

}  // namespace
}  // namespace kalivor::visa
