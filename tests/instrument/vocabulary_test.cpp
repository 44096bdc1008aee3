// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "instrument/vocabulary.h"

namespace kalivor {
namespace {

std::string quoted(const std::string& word) { return "\"" + word + "\""; }

TEST(TranslateFunctionName, DisplayNamesBecomeQuotedScpiWords) {
  const std::pair<const char*, const char*> rows[] = {
      {"DCV", "VOLT"},  {"ACV", "VOLT:AC"}, {"DCI", "VOLT"},      {"ACI", "VOLT:AC"},
      {"2W", "RES"},    {"4W", "FRES"},     {"FREQ", "FREQ"},     {"PERIOD", "PERIOD"},
      {"NONE", "NONE"}, {"TCOUPL", "TCO"},  {"TCO", "TCO"},       {"PER", "PER"},
      {"4W,TEMP", "TEMP"}, {"TEMP", "TEMP"},
  };
  for (const auto& [display, word] : rows) {
    EXPECT_EQ(TranslateFunctionName(display), quoted(word)) << display;
  }
  EXPECT_EQ(TranslateFunctionName("DCV").size(), 6u);  // quote, VOLT, quote
}

TEST(TranslateFunctionName, QuotedWordsComeBackAsDisplayNames) {
  // Current channels are measured as voltages and read back as such.
  EXPECT_EQ(TranslateFunctionName(TranslateFunctionName("DCI")), "DCV");
  EXPECT_EQ(TranslateFunctionName(TranslateFunctionName("ACI")), "ACV");
  // Both temperature forms share one word; the 4-wire form is told apart elsewhere.
  EXPECT_EQ(TranslateFunctionName(TranslateFunctionName("4W,TEMP")), "TEMP");
  EXPECT_EQ(TranslateFunctionName(quoted("FRES")), "4W");
  EXPECT_EQ(TranslateFunctionName(quoted("RES")), "2W");
  EXPECT_EQ(TranslateFunctionName(quoted("TCO")), "TCOUPL");
  EXPECT_EQ(TranslateFunctionName(quoted("FREQ")), "FREQ");
  EXPECT_EQ(TranslateFunctionName(quoted("NONE")), "NONE");
  EXPECT_EQ(TranslateFunctionName(quoted("PER")), "PER");
  // A returned quoted PERIOD has no way back.
  EXPECT_EQ(TranslateFunctionName(quoted("PERIOD")), quoted("PERIOD"));
}

TEST(TranslateFunctionName, AnythingElseComesBackUnchanged) {
  for (const char* text : {"dcv", "VOLT", "\"volt\"", "", " DCV", "DCV ", "4W, TEMP", "\"VOLT"}) {
    EXPECT_EQ(TranslateFunctionName(text), text) << text;
  }
}

TEST(ParsePrefixedNumber, LastCharacterSelectsTheFactor) {
  EXPECT_DOUBLE_EQ(ParsePrefixedNumber("10k"), 10000);
  EXPECT_DOUBLE_EQ(ParsePrefixedNumber("10K"), 10000);
  EXPECT_DOUBLE_EQ(ParsePrefixedNumber("2.5m"), 0.0025);
  EXPECT_DOUBLE_EQ(ParsePrefixedNumber("1M"), 1e6);
  EXPECT_DOUBLE_EQ(ParsePrefixedNumber("1m"), 0.001);
  EXPECT_DOUBLE_EQ(ParsePrefixedNumber("3G"), 3e9);
  EXPECT_DOUBLE_EQ(ParsePrefixedNumber("2T"), 2e12);
  EXPECT_DOUBLE_EQ(ParsePrefixedNumber("4u"), 4e-6);
  EXPECT_DOUBLE_EQ(ParsePrefixedNumber("5n"), 5e-9);
  EXPECT_DOUBLE_EQ(ParsePrefixedNumber("6p"), 6e-12);
  EXPECT_DOUBLE_EQ(ParsePrefixedNumber("-2k"), -2000);
  // The division and its unit as the scan settings keep them.
  EXPECT_DOUBLE_EQ(ParsePrefixedNumber("2m"), 0.002);
  EXPECT_DOUBLE_EQ(ParsePrefixedNumber("1(none)"), 1);
}

TEST(ParsePrefixedNumber, LeadingNumberRuleForTheValue) {
  EXPECT_DOUBLE_EQ(ParsePrefixedNumber("10"), 10);
  EXPECT_DOUBLE_EQ(ParsePrefixedNumber("10 k"), 10000);
  EXPECT_DOUBLE_EQ(ParsePrefixedNumber("3x"), 3);
  EXPECT_EQ(ParsePrefixedNumber(""), 0);
  EXPECT_EQ(ParsePrefixedNumber("k"), 0);
  // Only the very last character counts: a trailing blank has factor 1.
  EXPECT_DOUBLE_EQ(ParsePrefixedNumber("10k "), 10);
  EXPECT_TRUE(std::isinf(ParsePrefixedNumber("1e300T")));
}

}  // namespace
}  // namespace kalivor
