// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include "common/messages.h"
#include "scan/grid_copy.h"

namespace kalivor {
namespace {

MsFlexCopy functionColumnOf(std::int16_t rows) {
  MsFlexCopy c;
  c.rowPosLwlmt(1);
  c.rowPosUplmt(rows);
  c.colPosLwlmt(3);
  c.colPosUplmt(3);
  return c;
}

TEST(MsFlexCopy, NewInstanceHasNothingCopied) {
  const MsFlexCopy c;
  EXPECT_EQ(c.value(), "0");
  EXPECT_FALSE(c.enableCopy());
  EXPECT_EQ(c.dev_list(), 0);
  EXPECT_EQ(c.row(), 0);
  EXPECT_EQ(c.col(), 0);
  EXPECT_EQ(c.rowPosUplmt(), 0);
  // With all limits 0 only the corner cell is inside.
  EXPECT_TRUE(c.IsSelectCpyRange(0, 0));
  EXPECT_FALSE(c.IsSelectCpyRange(1, 0));
}

TEST(MsFlexCopy, CopyRangeBoundsAreInclusive) {
  const MsFlexCopy c = functionColumnOf(20);
  EXPECT_TRUE(c.IsSelectCpyRange(1, 3));
  EXPECT_TRUE(c.IsSelectCpyRange(20, 3));
  EXPECT_FALSE(c.IsSelectCpyRange(0, 3));
  EXPECT_FALSE(c.IsSelectCpyRange(21, 3));
  EXPECT_FALSE(c.IsSelectCpyRange(5, 2));
  EXPECT_FALSE(c.IsSelectCpyRange(5, 4));
}

TEST(MsFlexCopy, FourWireFunctionsStayInTheLowerHalf) {
  const MsFlexCopy c20 = functionColumnOf(20);
  EXPECT_TRUE(c20.chck4Wsafe(10, "4W", true));
  EXPECT_FALSE(c20.chck4Wsafe(11, "4W", true));
  EXPECT_FALSE(c20.chck4Wsafe(11, "4W,TEMP", true));
  EXPECT_TRUE(c20.chck4Wsafe(11, "DCV", true));
  EXPECT_TRUE(c20.chck4Wsafe(11, "4w", true));  // case-sensitive
  for (std::int16_t row : {1, 10, 11, 20}) EXPECT_FALSE(c20.chck4Wsafe(row, "DCV", false));

  const MsFlexCopy c10 = functionColumnOf(10);
  EXPECT_TRUE(c10.chck4Wsafe(5, "4W", true));
  EXPECT_FALSE(c10.chck4Wsafe(6, "4W", true));
  // Odd limits halve as real numbers.
  const MsFlexCopy c9 = functionColumnOf(9);
  EXPECT_TRUE(c9.chck4Wsafe(4, "4W", true));
  EXPECT_FALSE(c9.chck4Wsafe(5, "4W", true));
}

TEST(MsFlexCopy, PrintMsgboShowsTheCopiedCell) {
  MsFlexCopy c;
  c.row(3);
  c.col(3);
  c.value("DCV");
  RecordingMessages messages;
  EXPECT_EQ(c.PrintMsgbo(messages), "row = 3 col = 3 value = DCV");
  ASSERT_EQ(messages.shown.size(), 1u);
  EXPECT_EQ(messages.shown[0].text, "row = 3 col = 3 value = DCV");
  EXPECT_EQ(messages.shown[0].buttons, MessageButtons::Ok);
  EXPECT_EQ(messages.shown[0].title, kAppTitle);
  c.row(-1);
  EXPECT_EQ(c.printText(), "row = -1 col = 3 value = DCV");
}

}  // namespace
}  // namespace kalivor
