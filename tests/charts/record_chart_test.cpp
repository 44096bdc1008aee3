// SPDX-License-Identifier: MIT
#include "charts/record_chart.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kalivor {
namespace {

constexpr double kW = 8775;
constexpr double kH = 5010;
constexpr double kMid = kH / 2;
constexpr double kUnit = kH / 10;  // Division "1"

RecordDrawInput input(std::int64_t start, std::int64_t stop, std::string_view division = "1",
                      std::string_view offset = "0") {
  RecordDrawInput in;
  in.scaleWidth = kW;
  in.scaleHeight = kH;
  in.division = division;
  in.offset = offset;
  in.rangeStart = start;
  in.rangeStop = stop;
  return in;
}

TEST(RecordChartDraw, SingleRowIsOneSegmentFromOffTheLeftEdge) {
  const RecordRange range = recordRange(false, 0, 0, 1);
  EXPECT_EQ(range.start, 1);
  EXPECT_EQ(range.stop, 2);
  const RecordTrace t = DrawRecordChannel(input(range.start, range.stop), {"+2.000000E+00"});
  const double xs = kW / 1 / 0.975;
  EXPECT_DOUBLE_EQ(t.xStep, xs);
  ASSERT_EQ(t.polylines.size(), 1u);
  ASSERT_EQ(t.polylines[0].size(), 2u);
  EXPECT_EQ(t.polylines[0][0], (TwipPoint{-xs, kMid}));
  EXPECT_EQ(t.polylines[0][1], (TwipPoint{0, kMid - 2 * kUnit}));
}

TEST(RecordChartDraw, ValuesDivisionAndOffsetPlaceThePoints) {
  // Offset in value units: a value equal to the offset lies on the middle line.
  const RecordTrace t = DrawRecordChannel(input(1, 3, "2", "1"), {"1", "5", "-3"});
  const double xs = kW / 2 / 0.975;
  ASSERT_EQ(t.polylines.size(), 1u);
  const auto& p = t.polylines[0];
  ASSERT_EQ(p.size(), 4u);
  EXPECT_DOUBLE_EQ(p[1].y, kMid);
  EXPECT_DOUBLE_EQ(p[2].y, kMid - 2 * kUnit);
  EXPECT_DOUBLE_EQ(p[3].y, kMid + 2 * kUnit);
  EXPECT_DOUBLE_EQ(p[3].x, 2 * xs);
  // Text that is not a number counts as 0; an unusable division as 1.
  const RecordTrace u = DrawRecordChannel(input(1, 2, "0"), {"abc", "1"});
  EXPECT_DOUBLE_EQ(u.polylines[0][1].y, kMid);
  EXPECT_DOUBLE_EQ(u.polylines[0][2].y, kMid - kUnit);
}

TEST(RecordChartDraw, BlankLeavesAGapAndSkipsTheNextRow) {
  const RecordTrace t = DrawRecordChannel(input(1, 6), {"1", " ", "4", "2", "3", "-1"});
  const double xs = kW / 5 / 0.975;
  ASSERT_EQ(t.polylines.size(), 2u);
  // Row 1 drawn; the blank row 2 moves the pen on; row 3 is never read; row 4 is reached
  // without a line; rows 5 and 6 are drawn from there.
  ASSERT_EQ(t.polylines[0].size(), 2u);
  EXPECT_EQ(t.polylines[0][1], (TwipPoint{0, kMid - kUnit}));
  const auto& second = t.polylines[1];
  ASSERT_EQ(second.size(), 3u);
  EXPECT_EQ(second[0], (TwipPoint{2 * xs, kMid - 2 * kUnit}));
  EXPECT_EQ(second[1], (TwipPoint{3 * xs, kMid - 3 * kUnit}));
  EXPECT_EQ(second[2], (TwipPoint{4 * xs, kMid + kUnit}));
}

TEST(RecordChartDraw, OverloadIsAStrokeDownAndTheNextPointIsReachedFromIt) {
  const RecordTrace t = DrawRecordChannel(input(1, 4), {"0", "9.9E+37", "1", "-9.9E+37"});
  const double xs = kW / 3 / 0.975;
  ASSERT_EQ(t.polylines.size(), 1u);
  const auto& p = t.polylines[0];
  ASSERT_EQ(p.size(), 5u);
  EXPECT_EQ(p[2], (TwipPoint{xs, kMid + 9.9e8}));
  EXPECT_EQ(p[3], (TwipPoint{2 * xs, kMid - kUnit}));
  EXPECT_EQ(p[4], (TwipPoint{3 * xs, kMid - kUnit - 9.9e8}));
}

TEST(RecordChartDraw, PointsOutsideThePlotAreNotDrawnAndThePenWaits) {
  // 4 divisions up, then 6 (above the top edge), then -2: the -2 is drawn from the waiting pen
  // although it lies far below it.
  const RecordTrace t = DrawRecordChannel(input(1, 4), {"4", "6", "-2", "-4.9"});
  const double xs = kW / 3 / 0.975;
  ASSERT_EQ(t.polylines.size(), 1u);
  const auto& p = t.polylines[0];
  ASSERT_EQ(p.size(), 4u);
  EXPECT_EQ(p[1], (TwipPoint{0, kMid - 4 * kUnit}));
  EXPECT_EQ(p[2], (TwipPoint{xs, kMid + 2 * kUnit}));
  EXPECT_DOUBLE_EQ(p[3].y, kMid + 4.9 * kUnit);
}

TEST(RecordChartDraw, RowsMissingFromTheRecordDrawNothingAndEventsRunPerRow) {
  CallbackEventPump pump;
  const RecordTrace t = DrawRecordChannel(input(2, 5), {"1", "2", "3"}, &pump);
  EXPECT_EQ(pump.calls(), 4);
  ASSERT_EQ(t.polylines.size(), 1u);
  EXPECT_EQ(t.polylines[0].size(), 3u);  // rows 2 and 3
}

RecordDrawSettings rangeSettings(std::string start, std::string stop, std::int64_t count) {
  RecordDrawSettings s;
  s.recordName = "Record3.mdb";
  s.channelText = "CH4";
  s.drawLimit = true;
  s.drawStart = std::move(start);
  s.drawStop = std::move(stop);
  s.recordCount = count;
  return s;
}

TEST(RecordChartSettings, RangeLimits) {
  auto ok = checkDrawSettings(rangeSettings("1", "25001", 30000));
  EXPECT_TRUE(ok.draw);
  EXPECT_FALSE(ok.message);
  EXPECT_EQ(ok.rangeStart, 1);
  EXPECT_EQ(ok.rangeStop, 25001);

  auto edge = checkDrawSettings(rangeSettings("1", "25002", 30000));
  EXPECT_FALSE(edge.draw);
  EXPECT_EQ(edge.message, "Please setting a correct range.");
  auto large = checkDrawSettings(rangeSettings("1", "25003", 30000));
  EXPECT_FALSE(large.draw);
  EXPECT_EQ(large.message, " The range should be set from 1 to 25000.");

  auto reversed = checkDrawSettings(rangeSettings("9", "9", 30000));
  EXPECT_EQ(reversed.message, "Please setting a correct range.");
}

TEST(RecordChartSettings, StartAndStopAreCorrectedInPlace) {
  auto r = checkDrawSettings(rangeSettings("0", "500", 120));
  EXPECT_EQ(r.drawStart, "1");
  EXPECT_EQ(r.drawStop, "120");
  EXPECT_TRUE(r.draw);
  EXPECT_EQ(r.rangeStop, 120);

  r = checkDrawSettings(rangeSettings("", "40000", 30000));
  EXPECT_EQ(r.drawStart, "1");
  EXPECT_EQ(r.drawStop, "30000");
  EXPECT_EQ(r.message, " The range should be set from 1 to 25000.");

  // All rows: both boxes rewritten as whole numbers, the range is the whole record.
  RecordDrawSettings all = rangeSettings("007", "", 1);
  all.drawLimit = false;
  r = checkDrawSettings(all);
  EXPECT_TRUE(r.draw);
  EXPECT_EQ(r.drawStart, "7");
  EXPECT_EQ(r.drawStop, "0");
  EXPECT_EQ(r.rangeStart, 1);
  EXPECT_EQ(r.rangeStop, 2);
}

TEST(RecordChartSettings, DivisionOffsetAndSelection) {
  RecordDrawSettings s = rangeSettings("1", "10", 100);
  for (const auto& [typed, kept] : std::vector<std::pair<std::string, std::string>>{
           {"0", "1"}, {"-2", "1"}, {"abc", "1"}, {"1e-400", "1"}, {" 2.50V", "2.5"}}) {
    s.division = typed;
    EXPECT_EQ(checkDrawSettings(s).division, kept) << typed;
  }
  s.offset = "1.5x";
  EXPECT_EQ(checkDrawSettings(s).offset, "1.5");
  s.offset = "x";
  EXPECT_EQ(checkDrawSettings(s).offset, "0");

  s.recordName = "";
  auto r = checkDrawSettings(s);
  EXPECT_FALSE(r.draw);
  EXPECT_EQ(r.message, "Please select a Record or Channel");
  EXPECT_EQ(r.offset, "0");  // still rewritten
  s.recordName = "Record1.mdb";
  s.channelText = "";
  EXPECT_EQ(checkDrawSettings(s).message, "Please select a Record or Channel");
}

TEST(RecordChartSettings, FileStatesAndSlider) {
  const RecordFileStates empty = recordFileStates(0);
  EXPECT_FALSE(empty.drawEnabled);
  EXPECT_EQ(empty.message, "The Record is NULL.");
  EXPECT_FALSE(empty.optionsChanged);

  const RecordFileStates one = recordFileStates(1);
  EXPECT_TRUE(one.drawAllSelected);
  EXPECT_FALSE(one.drawLimitEnabled);
  const RecordFileStates big = recordFileStates(25001);
  EXPECT_FALSE(big.drawAllEnabled);
  EXPECT_FALSE(big.drawAllSelected);
  EXPECT_TRUE(big.drawLimitSelected);
  EXPECT_TRUE(recordFileStates(25000).drawAllEnabled);

  const SliderRange single = sliderAfterDraw(1, 1, 2);
  EXPECT_EQ(single.value, 1);
  EXPECT_EQ(single.max, 2);
  EXPECT_FALSE(single.min);
  const SliderRange range = sliderAfterDraw(50, 5, 40);
  EXPECT_EQ(range.min, 5);
  EXPECT_EQ(range.max, 40);

  EXPECT_EQ(sliderForShow(1, 1, false, 1, 10).max, 2);
  EXPECT_EQ(sliderForShow(50, 1, false, 1, 10).max, 50);
  const SliderRange limited = sliderForShow(50, 1, true, 3, 9);
  EXPECT_EQ(limited.min, 3);
  EXPECT_EQ(limited.max, 9);
  EXPECT_EQ(sliderRow(1, 2), std::nullopt);
  EXPECT_EQ(sliderRow(5, 2), 2);
}

}  // namespace
}  // namespace kalivor
