// SPDX-License-Identifier: MIT
#include "charts/trend_chart.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "charts/recording_canvas.h"
#include "common/numbers.h"

namespace kalivor {
namespace {

using test::RecordedLine;
using test::RecordingCanvas;

constexpr double kStep20 = 765.75;  // 15315 / 20
constexpr double kBase = 5 * 511.5;

class TrendChartTest : public ::testing::Test {
 protected:
  TrendChartTest() : chart(tables, makeLink(), canvas) {
    for (int s = 0; s < kMaxInstruments; ++s) configure(s, 20);
    chart.showInitialBackground();
    chart.resetForRun();
    for (int s = 0; s < kMaxInstruments; ++s) chart.ResetChartScale(s);
  }

  TrendChartLink makeLink() {
    TrendChartLink l;
    l.instrumentCount = [this] { return instruments; };
    l.lastVisaStatus = [this] { return status; };
    l.requestStop = [this] { stopRequested = true; };
    l.events = &pump;
    return l;
  }

  void configure(int slot, int channels, const std::string& function = "DCV") {
    tables.setup[slot].ChannelCount = static_cast<std::int16_t>(channels);
    for (int c = 0; c < kMaxChannels; ++c) {
      auto& ch = tables.channel[slot][c];
      ch.Function = function;
      ch.Color = kDefaultChannelColors[c];
      ch.Division = "1";
      ch.Offset = "0";
    }
  }

  // One completed scan of a slot: its readings, the count, the push and the labels.
  void scan(int slot, const std::vector<std::string>& readings) {
    for (std::size_t c = 0; c < readings.size(); ++c) tables.ReadingText[slot][c] = readings[c];
    tables.ScansDone[slot] += 1;
    chart.PushScanAndReplot();
    chart.updateAxisLabels();
  }
  void scans(int slot, int count, double value = 0) {
    for (int i = 0; i < count; ++i) scan(slot, {numberToText(value)});
  }

  const RecordedLine& onlyLineOf(int channel, int slot = 0) {
    const auto found = canvas.linesOf(tables.channel[slot][channel].Color);
    EXPECT_EQ(found.size(), 1u);
    static RecordedLine none;
    return found.empty() ? none : *found.front();
  }

  ScanTables tables;
  int instruments = 1;
  visa::ViStatus status = visa::VI_SUCCESS;
  bool stopRequested = false;
  CallbackEventPump pump;
  RecordingCanvas canvas;
  TrendChart chart;
};

TEST_F(TrendChartTest, AxisLabelsFollowScansOfSlotZero) {
  tables.setup[0].ChannelCount = 1;
  chart.X_Axis_Combo_Click(1);  // "200" with no scans
  EXPECT_EQ(chart.controls.Xaxis_start, "0");
  EXPECT_EQ(chart.controls.Xaxis_stop, "200");
  EXPECT_EQ(chart.controls.X_last, "200");
  EXPECT_TRUE(canvas.lines.empty());

  chart.X_Axis_Combo_Click(0);
  scans(0, 3);
  EXPECT_EQ(chart.controls.Xaxis_start, "0");
  EXPECT_EQ(chart.controls.Xaxis_stop, "3");
  scans(0, 18);
  EXPECT_EQ(chart.controls.Xaxis_start, "1");
  EXPECT_EQ(chart.controls.Xaxis_stop, "21");
  scans(0, 4);
  EXPECT_EQ(chart.controls.Xaxis_start, "5");
  EXPECT_EQ(chart.controls.Xaxis_stop, "25");

  // Other slots do not move the labels.
  instruments = 2;
  configure(1, 1);
  scans(1, 40);
  EXPECT_EQ(chart.controls.Xaxis_start, "5");
  EXPECT_EQ(chart.controls.Xaxis_stop, "25");
}

TEST_F(TrendChartTest, ReadingsLieAtTheirLevelAboveTheReference) {
  tables.setup[0].ChannelCount = 4;
  tables.channel[0][1].Offset = "0.5";
  tables.channel[0][2].Division = "2";
  tables.channel[0][3].Offset = "-1";
  scan(0, {"0", "0.5", "2", "+1.000000E+00"});
  scan(0, {"1", "0.5", "-2", "-1"});

  // Newest point at x 0, older one step to the right; the first segment starts off the left
  // edge on the reference level.
  const RecordedLine& ch0 = onlyLineOf(0);
  ASSERT_EQ(ch0.pts.size(), 3u);
  EXPECT_EQ(ch0.pts[0], (TwipPoint{-kStep20, kBase}));
  EXPECT_EQ(ch0.pts[1], (TwipPoint{0, kBase - 511.5}));
  EXPECT_EQ(ch0.pts[2], (TwipPoint{kStep20, kBase}));
  EXPECT_NEAR(ch0.pts[2].y, chart.controls.Line1Y, 15);  // within a pixel of Line1

  EXPECT_DOUBLE_EQ(onlyLineOf(1).pts[1].y, kBase);          // reading = offset
  EXPECT_DOUBLE_EQ(onlyLineOf(2).pts[1].y, kBase + 511.5);  // -2 with Division 2
  EXPECT_DOUBLE_EQ(onlyLineOf(3).pts[2].y, kBase - 2 * 511.5);
  EXPECT_DOUBLE_EQ(onlyLineOf(3).pts[1].y, kBase);

  // Scale "500m": 0.5 per division.
  chart.Y_scal_Combo_Click(14);
  EXPECT_DOUBLE_EQ(onlyLineOf(0).pts[1].y, kBase - 2 * 511.5);
  EXPECT_EQ(onlyLineOf(0).color, kDefaultChannelColors[0]);
}

TEST_F(TrendChartTest, UnusableDivisionAndOffsetDrawAsOneAndZero) {
  tables.setup[0].ChannelCount = 5;
  tables.channel[0][0].Division = "0";
  tables.channel[0][1].Division = "abc";
  tables.channel[0][2].Division = "1e-320";  // the scale would overflow
  tables.channel[0][3].Offset = "abc";
  tables.channel[0][4].Offset = "1x";  // not a number as a whole
  scan(0, {"1", "1", "1", "1", "1"});
  for (int c = 0; c < 5; ++c) {
    const RecordedLine& l = onlyLineOf(c);
    ASSERT_EQ(l.pts.size(), 2u) << c;
    EXPECT_DOUBLE_EQ(l.pts[1].y, kBase - 511.5) << c;
  }
}

TEST_F(TrendChartTest, NoneChannelIsNeitherDrawnNorShifted) {
  tables.setup[0].ChannelCount = 2;
  scan(0, {"1", "7"});
  scan(0, {"2", "8"});
  tables.channel[0][1].Function = "NONE";
  scan(0, {"3", "9"});
  scan(0, {"4", "9"});
  EXPECT_EQ(canvas.linesOf(kDefaultChannelColors[1]).size(), 0u);
  EXPECT_EQ(onlyLineOf(0).pts.size(), 5u);
  EXPECT_EQ(chart.ValueHistory(0, 1, 0), 8);
  EXPECT_EQ(chart.ValueHistory(1, 1, 0), 7);
  EXPECT_EQ(chart.ValueHistory(0, 0, 0), 4);
  EXPECT_EQ(chart.ValueHistory(3, 0, 0), 1);

  chart.ReplotAll();  // the tables forget the NONE channel
  EXPECT_FALSE(chart.X_Grid(0, 0, 1).has_value());
  EXPECT_TRUE(chart.X_Grid(0, 0, 0).has_value());
}

TEST_F(TrendChartTest, OnlyANewScanMovesASlotOn) {
  // Slot 1 is still scanning while slot 0 delivers scans: its points must stay scan n - a.
  instruments = 2;
  configure(0, 1);
  configure(1, 1);
  scan(1, {"10"});
  scan(1, {"20"});
  scan(0, {"1"});
  scan(0, {"2"});
  scan(0, {"3"});
  EXPECT_EQ(chart.ValueHistory(0, 0, 1), 20);
  EXPECT_EQ(chart.ValueHistory(1, 0, 1), 10);
  EXPECT_EQ(chart.ValueHistory(0, 0, 0), 3);
  EXPECT_EQ(chart.ValueHistory(2, 0, 0), 1);
  // The y stored for scan 2 of slot 1 is that of the value 20.
  EXPECT_DOUBLE_EQ(*chart.Y_Grid(1, 2, 0), kBase - 20 * 511.5);
}

TEST_F(TrendChartTest, LineWidthIsTwoAtSpanTwentyOnly) {
  tables.setup[0].ChannelCount = 1;
  scans(0, 3, 1);
  EXPECT_EQ(onlyLineOf(0).width, 2);
  chart.X_Axis_Combo_Click(2);  // "400"
  EXPECT_EQ(onlyLineOf(0).width, 1);
  EXPECT_DOUBLE_EQ(onlyLineOf(0).pts[2].x, kPlotWidth / 400);
  chart.ReplotFromPositions();
  EXPECT_EQ(canvas.lines.back().width, 1);
}

TEST_F(TrendChartTest, ReferenceLevelMovesFiveDivisionsEachWay) {
  tables.setup[0].ChannelCount = 1;
  scans(0, 2, 1);
  const double before = *chart.Y_Grid(0, 2, 0);
  chart.UpDraw_Click();
  EXPECT_EQ(chart.RefDivision, 4);
  EXPECT_DOUBLE_EQ(*chart.Y_Grid(0, 2, 0), before - 511.5);  // shifted, not recomputed
  EXPECT_DOUBLE_EQ(chart.controls.ref_labelTop, chart.controls.row_statTop + 50);
  for (int i = 0; i < 4; ++i) chart.UpDraw_Click();
  EXPECT_EQ(chart.RefDivision, 0);
  EXPECT_DOUBLE_EQ(chart.controls.Line1Y, 2555 - 5 * 511.5);
  const int clears = canvas.clears;
  chart.UpDraw_Click();  // the top edge: nothing happens
  EXPECT_EQ(chart.RefDivision, 0);
  EXPECT_EQ(canvas.clears, clears);

  for (int i = 0; i < 10; ++i) chart.DownDraw_Click();
  EXPECT_EQ(chart.RefDivision, 10);
  chart.DownDraw_Click();
  EXPECT_EQ(chart.RefDivision, 10);
  EXPECT_DOUBLE_EQ(chart.controls.Line1Y, 2555 + 5 * 511.5);

  // The next push recomputes from the new level: the bottom edge.
  scan(0, {"0"});
  EXPECT_DOUBLE_EQ(onlyLineOf(0).pts[1].y, kPlotHeight);
}

TEST_F(TrendChartTest, ScrollingMovesStoredXAndLabels) {
  tables.setup[0].ChannelCount = 2;
  for (int i = 0; i < 30; ++i) scan(0, {numberToText(i), "1"});
  chart.ReplotAll();  // as at run stop
  EXPECT_EQ(chart.controls.Xaxis_start, "10");
  EXPECT_EQ(chart.controls.Xaxis_stop, "30");

  chart.Command2_Click();  // nothing outstanding
  EXPECT_EQ(chart.ScrollOffset, 0);
  EXPECT_DOUBLE_EQ(*chart.X_Grid(0, 5, 1), 4 * kStep20);

  chart.Command1_Click();
  EXPECT_EQ(chart.ScrollOffset, 1);
  EXPECT_EQ(chart.controls.Xaxis_start, "9");
  EXPECT_EQ(chart.controls.Xaxis_stop, "29");
  for (int row : {0, 1, 5, 30}) {
    EXPECT_DOUBLE_EQ(*chart.X_Grid(0, row, 0), (row - 1) * kStep20 - 766) << row;
  }
  const double y = *chart.Y_Grid(0, 7, 0);

  chart.Command2_Click();
  EXPECT_EQ(chart.ScrollOffset, 0);
  EXPECT_EQ(chart.controls.Xaxis_start, "10");
  EXPECT_EQ(chart.controls.Xaxis_stop, "30");
  EXPECT_DOUBLE_EQ(*chart.X_Grid(0, 30, 0), 29 * kStep20);
  EXPECT_DOUBLE_EQ(*chart.Y_Grid(0, 7, 0), y);

  for (int i = 0; i < 12; ++i) chart.Command1_Click();  // stops at start label 0
  EXPECT_EQ(chart.controls.Xaxis_start, "0");
  EXPECT_EQ(chart.ScrollOffset, 10);
  // The oldest scans are now in view: segments from x < 0 are not passed on.
  for (const auto& l : canvas.lines) {
    for (std::size_t i = 1; i < l.pts.size(); ++i)
      EXPECT_FALSE(l.pts[i - 1].x < 0 && l.pts[i].x < 0);
  }
  EXPECT_FALSE(canvas.lines.empty());

  // A redraw from the histories is unscrolled, and so are the labels afterwards.
  chart.Y_scal_Combo_Click(12);
  EXPECT_EQ(chart.ScrollOffset, 0);
  EXPECT_EQ(chart.controls.Xaxis_start, "10");
  EXPECT_DOUBLE_EQ(*chart.X_Grid(0, 1, 0), 0);
}

TEST_F(TrendChartTest, CursorReadOutHitsWithinTheStrictBox) {
  tables.setup[0].ChannelCount = 3;
  for (int i = 0; i < 5; ++i) scan(0, {numberToText(i), "-3", "2"});
  // Point a = 1 of channel 0 is scan 4 (value 3) at x 765.75.
  const TwipPoint p = *chart.pointPosition(0, 0, 1);
  EXPECT_DOUBLE_EQ(p.x, kStep20);
  EXPECT_DOUBLE_EQ(p.y, kBase - 3 * 511.5);

  EXPECT_FALSE(chart.drawmain_pic_MouseMove(p.x + 30, p.y));
  EXPECT_FALSE(chart.drawmain_pic_MouseMove(p.x, p.y - 20));
  EXPECT_FALSE(chart.controls.Shape1Visible);

  chart.freezeIntoBackground();
  EXPECT_TRUE(chart.backgroundFrozen());
  const auto r = chart.drawmain_pic_MouseMove(p.x - 29, p.y + 19);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->slot, 0);
  EXPECT_EQ(r->point, 1);
  EXPECT_EQ(r->channel, 0);
  EXPECT_EQ(r->tag, "CH 1");
  EXPECT_EQ(r->color, kDefaultChannelColors[0]);
  EXPECT_EQ(r->scanNumber, 4);
  EXPECT_EQ(r->gridRows, 7);
  EXPECT_EQ(r->gridRow, 5);  // grid row s + 1 holds scan s
  EXPECT_EQ(r->gridColumn, 2);
  EXPECT_TRUE(chart.controls.Shape1Visible);
  EXPECT_DOUBLE_EQ(chart.controls.Shape1Left, p.x - 30);
  EXPECT_DOUBLE_EQ(chart.controls.Shape1Top, p.y - 30);
  EXPECT_EQ(chart.controls.Text3, "CH 1");
  // The hit resets the background (dropping the printed picture) and redraws.
  EXPECT_FALSE(chart.backgroundFrozen());
  EXPECT_EQ(canvas.backgrounds.back(), chart.GraphScheme);
  EXPECT_TRUE(canvas.frozen.empty());
  EXPECT_EQ(canvas.lines.size(), 3u);
}

TEST_F(TrendChartTest, CursorReadOutLastHitWins) {
  // Highest slot first, then the oldest point, then the highest channel.
  tables.setup[0].ChannelCount = 3;
  chart.X_Axis_Combo_Click(5);  // span 2000: points 7.66 twips apart
  for (int i = 0; i < 10; ++i) scan(0, {"1", "1", "1"});
  auto r = chart.drawmain_pic_MouseMove(10, kBase - 511.5 + 5);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->slot, 0);
  EXPECT_EQ(r->point, 5);  // 5 * 7.6575 = 38.3 < 10 + 30
  EXPECT_EQ(r->channel, 2);
  EXPECT_EQ(r->tag, "CH 3");
  EXPECT_EQ(r->color, kDefaultChannelColors[2]);

  instruments = 2;
  configure(1, 2);
  scan(1, {"1", "1"});
  r = chart.drawmain_pic_MouseMove(10, kBase - 511.5 + 5);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->slot, 1);
  EXPECT_EQ(r->point, 0);
  EXPECT_EQ(r->channel, 1);
}

TEST_F(TrendChartTest, HistoryKeepsTheNewest10002Points) {
  tables.setup[0].ChannelCount = 1;
  for (int i = 1; i <= 10005; ++i) scan(0, {intToText(i)});
  EXPECT_EQ(chart.ValueHistory(0, 0, 0), 10005);
  EXPECT_EQ(chart.ValueHistory(10001, 0, 0), 4);  // scans 1..3 dropped
  EXPECT_EQ(chart.controls.Xaxis_start, "9985");

  // After the run every one of the 10 002 points keeps its position, so a redraw from the
  // positions (a scheme button) still shows the whole curve.
  chart.ReplotAll();
  EXPECT_TRUE(chart.pointPosition(0, 0, 10001).has_value());
  EXPECT_FALSE(chart.pointPosition(0, 0, 10002).has_value());
  EXPECT_DOUBLE_EQ(chart.pointPosition(0, 0, 10001)->y, kBase - 4 * 511.5);
  chart.X_Axis_Combo_Click(5);  // span 2000
  chart.Change_White_Graph_Click();
  EXPECT_EQ(chart.GraphScheme, 0);
  EXPECT_GT(canvas.pointCount(), 2000u);
  EXPECT_LT(canvas.pointCount(), 2010u);  // only what can be seen
}

TEST_F(TrendChartTest, DrawsOnlyWhatCanBeSeen) {
  tables.setup[0].ChannelCount = 1;
  for (int i = 0; i < 300; ++i) scan(0, {numberToText(i % 7)});
  const RecordedLine& l = onlyLineOf(0);
  ASSERT_GE(l.pts.size(), 22u);
  EXPECT_LE(l.pts.size(), 23u);
  EXPECT_GE(l.pts.back().x, kPlotWidth);  // reaches the right edge
  for (std::size_t i = 1; i < l.pts.size(); ++i) EXPECT_LE(l.pts[i - 1].x, kPlotWidth);
  // What is drawn is what was scanned: point j (0 = newest) is scan 300 - j, whose reading was
  // (299 - j) mod 7.
  for (std::size_t j = 0; j + 1 < l.pts.size(); ++j) {
    const double reading = static_cast<double>((299 - j) % 7);
    EXPECT_DOUBLE_EQ(l.pts[j + 1].y, kBase - reading * 511.5) << "point " << j;
  }

  // The redraw from positions draws the same visible part, rounded to whole twips.
  const std::vector<TwipPoint> pushed = l.pts;
  chart.Change_Black_Graph_Click();
  const RecordedLine& again = onlyLineOf(0);
  ASSERT_EQ(again.pts.size(), pushed.size());
  for (std::size_t i = 0; i < pushed.size(); ++i) {
    EXPECT_NEAR(again.pts[i].x, pushed[i].x, 0.5);
    EXPECT_NEAR(again.pts[i].y, pushed[i].y, 0.5);
  }
}

TEST_F(TrendChartTest, OverloadIsAStrokeAndTheNextPointIsReachedFromIt) {
  tables.setup[0].ChannelCount = 2;
  scan(0, {"1", "-1"});
  scan(0, {"9.9E+37", "-9.9E+37"});
  const RecordedLine& up = onlyLineOf(0);
  ASSERT_EQ(up.pts.size(), 3u);
  EXPECT_DOUBLE_EQ(up.pts[1].y, kBase + kStrokeLimit);  // drawn downwards
  EXPECT_DOUBLE_EQ(up.pts[2].y, kBase - 511.5);
  const RecordedLine& down = onlyLineOf(1);
  EXPECT_DOUBLE_EQ(down.pts[1].y, kBase - kStrokeLimit);
  EXPECT_DOUBLE_EQ(down.pts[2].y, kBase + 511.5);
  // Values beyond the double range count as overloads too.
  scan(0, {"1e999", "text"});
  EXPECT_DOUBLE_EQ(onlyLineOf(0).pts[1].y, kBase + kStrokeLimit);
  EXPECT_DOUBLE_EQ(onlyLineOf(1).pts[1].y, kBase);  // not a number: 0
}

TEST_F(TrendChartTest, FailedInstrumentStopsTheRun) {
  tables.setup[0].ChannelCount = 1;
  scans(0, 2, 1);
  status = visa::VI_ERROR_TMO;
  scan(0, {"1"});
  EXPECT_TRUE(stopRequested);
  EXPECT_EQ(canvas.lines.size(), 1u);  // the push still draws
  stopRequested = false;
  chart.ReplotAll();
  EXPECT_TRUE(stopRequested);
  EXPECT_TRUE(canvas.lines.empty());
  status = visa::VI_SUCCESS_MAX_CNT;  // a success
  stopRequested = false;
  chart.ReplotAll();
  EXPECT_FALSE(stopRequested);
  EXPECT_EQ(canvas.lines.size(), 1u);
}

TEST_F(TrendChartTest, PrintedCurvesStayUntilASchemeButton) {
  tables.setup[0].ChannelCount = 1;
  scans(0, 3, 1);
  chart.freezeIntoBackground();
  EXPECT_EQ(canvas.freezes, 1);
  scan(0, {"2"});
  EXPECT_EQ(canvas.frozen.size(), 1u);  // under the new curve
  EXPECT_EQ(canvas.lines.size(), 1u);
  chart.Change_WhiteGrid_Graph_Click();
  EXPECT_FALSE(chart.backgroundFrozen());
  EXPECT_TRUE(canvas.frozen.empty());
  EXPECT_EQ(canvas.backgrounds.back(), 1);
  EXPECT_EQ(canvas.lines.size(), 1u);
}

TEST_F(TrendChartTest, EventsRunPerDrawnChannelAndMayChangeTheSpan) {
  tables.setup[0].ChannelCount = 3;
  tables.channel[0][1].Function = "NONE";
  scans(0, 2, 1);
  EXPECT_EQ(pump.calls(), 4);  // two drawn channels per push
  // A span change handled in the middle of a push redraws everything; the rest of the push
  // then draws with the new step.
  pump.set([this](std::int64_t call) {
    if (call == 5) chart.X_Axis_Combo_Click(1);
  });
  scan(0, {"1", "1", "1"});
  EXPECT_EQ(chart.controls.X_last, "200");
  EXPECT_NEAR(*chart.X_Grid(0, 3, 2), 2 * kPlotWidth / 200, 1e-3);
  EXPECT_NEAR(*chart.X_Grid(0, 3, 0), 2 * kPlotWidth / 200, 1e-3);
}

TEST_F(TrendChartTest, RunStartEmptiesEverything) {
  tables.setup[0].ChannelCount = 1;
  scans(0, 25, 3);
  chart.ReplotAll();
  chart.Command1_Click();
  chart.resetForRun();
  tables.ScansDone[0] = 0;
  EXPECT_EQ(chart.ScrollOffset, 0);
  EXPECT_EQ(chart.controls.Xaxis_start, "0");
  EXPECT_EQ(chart.ValueHistory(0, 0, 0), 0);
  EXPECT_FALSE(chart.X_Grid(0, 1, 0).has_value());
  EXPECT_FALSE(chart.Y_Grid(0, 1, 0).has_value());
  EXPECT_TRUE(canvas.lines.empty());
  scan(0, {"1"});
  EXPECT_EQ(chart.ValueHistory(1, 0, 0), 0);
  EXPECT_EQ(onlyLineOf(0).pts.size(), 2u);
}

}  // namespace
}  // namespace kalivor
