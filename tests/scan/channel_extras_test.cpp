// SPDX-License-Identifier: MIT
#include "scan/channel_extras.h"

#include <gtest/gtest.h>

namespace kalivor {
namespace {

TEST(ChannelExtras, UnitLabelsCountCharactersNotBytes) {
  for (const char* ok : {"", "bar", "A", "\xC2\xB0" "C", "abcdefgh",
                         "\xC2\xB0\xC2\xB0\xC2\xB0\xC2\xB0\xC2\xB0\xC2\xB0\xC2\xB0\xC2\xB0"}) {
    EXPECT_TRUE(validScaleUnit(ok)) << ok;
  }
  for (const char* bad : {"abcdefghi", "a\tb", "a\nb", "\xC2\xB0\xC2\xB0\xC2\xB0\xC2\xB0\xC2\xB0\xC2\xB0\xC2\xB0\xC2\xB0x"}) {
    EXPECT_FALSE(validScaleUnit(bad)) << bad;
  }
}

TEST(ChannelExtras, OffByDefaultAndTakenOnlyWhenEveryValueIsRight) {
  ChannelSetup c;
  EXPECT_FALSE(usesScaling(c));
  EXPECT_FALSE(usesAlarms(c));
  ChannelExtrasText t = extrasText(c);
  EXPECT_FALSE(t.scaleOn);
  EXPECT_EQ(t.gain, "1");
  EXPECT_EQ(t.offset, "0");
  EXPECT_EQ(t.low, "");

  t.scaleOn = true;
  t.gain = "2.5";
  t.offset = "-0.0001";
  t.unit = "bar";
  t.low = "0";
  t.high = "10";
  ASSERT_FALSE(takeExtras(t, c));
  EXPECT_EQ(c.ScaleOn, 1);
  EXPECT_EQ(c.ScaleGain, 2.5);
  EXPECT_EQ(c.ScaleOffset, -0.0001);
  EXPECT_EQ(c.ScaleUnit, "bar");
  EXPECT_EQ(c.AlarmLow, 0.0);
  EXPECT_EQ(c.AlarmHigh, 10.0);
  EXPECT_EQ(extrasText(c).offset, "-0.0001");

  // A wrong value changes nothing and says which value it is.
  const ChannelSetup before = c;
  struct Bad {
    ChannelExtrasText t;
    const char* word;
  };
  ChannelExtrasText gain = t, offset = t, unit = t, low = t, order = t, infinite = t;
  gain.gain = "x";
  offset.offset = "";
  unit.unit = "kilopascal";
  low.low = "low";
  order.low = "11";
  infinite.high = "1e999";
  for (const Bad& b : {Bad{gain, "gain"}, Bad{offset, "offset"}, Bad{unit, "unit"},
                       Bad{low, "low limit"}, Bad{order, "above"}, Bad{infinite, "high limit"}}) {
    const auto problem = takeExtras(b.t, c);
    ASSERT_TRUE(problem) << b.word;
    EXPECT_NE(problem->find(b.word), std::string::npos) << *problem;
    EXPECT_EQ(c, before) << b.word;
  }
  // Without scaling its numbers are not needed; empty limits switch the alarm off.
  ChannelExtrasText off;
  off.gain = "";
  ASSERT_FALSE(takeExtras(off, c));
  EXPECT_EQ(c.ScaleOn, 0);
  EXPECT_EQ(c.ScaleGain, 1.0);
  EXPECT_FALSE(c.AlarmLow);
  EXPECT_FALSE(usesScaling(c));
  EXPECT_FALSE(usesAlarms(c));
}

}  // namespace
}  // namespace kalivor
