// SPDX-License-Identifier: MIT
// The trend chart in the main window, driven by runs on the simulated meters.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <cmath>

#include "charts/trend_chart.h"
#include "charts/ui/qpainter_canvas.h"
#include "charts/ui/trend_chart_view.h"
#include "support/ui/main_form_rig.h"

namespace kalivor {
namespace {

using MainWindowChart = testing::MainFormRig;

QPoint pixelOf(const TwipPoint& p) {
  return {static_cast<int>(std::lround(p.x / kTwipsPerPixel)), static_cast<int>(std::lround(p.y / kTwipsPerPixel))};
}
QRgb qrgb(Rgb c) { return qRgb(redOf(c), greenOf(c), blueOf(c)); }

void hover(TrendChartView& view, double x, double y) {
  const QPointF local(x / kTwipsPerPixel, y / kTwipsPerPixel);
  QMouseEvent move(QEvent::MouseMove, local, view.drawmain_pic->mapToGlobal(local), Qt::NoButton,
                   Qt::NoButton, Qt::NoModifier);
  QCoreApplication::sendEvent(view.drawmain_pic, &move);
}

struct NoInstrumentReachable : testing::MainFormRig {
  NoInstrumentReachable() : MainFormRig({}) {}
};

TEST_F(NoInstrumentReachable, StartsWithTheChartDefaultsAndRunControlsGreyed) {
  EXPECT_FALSE(form->StartReading->isEnabled());
  EXPECT_FALSE(form->StopReading->isEnabled());
  for (int i = 0; i < 4; ++i) EXPECT_EQ(form->SSTab1->tabText(i), QString("Deviec %1").arg(i));
  TrendChartView& v = *form->chartView;
  EXPECT_EQ(v.X_Axis_Combo->currentIndex(), 0);
  EXPECT_EQ(v.Y_scal_Combo->currentIndex(), 13);
  EXPECT_EQ(v.Xaxis_start->text(), "0");
  EXPECT_EQ(v.Xaxis_stop->text(), "20");
  EXPECT_FALSE(v.Command1->isEnabled());
  EXPECT_FALSE(v.Command2->isEnabled());
  EXPECT_EQ(form->trendChart().RefDivision, 5);
  EXPECT_EQ(form->trendChart().GraphScheme, 3);
  // Scheme 3: black with the white dashed grid, shown in the plot.
  const QImage& shown = v.drawmain_pic->shownPicture();
  EXPECT_EQ(shown, QPainterCanvas::schemePicture(3, QSize(kPlotWidthPx, kPlotHeightPx)));
  EXPECT_EQ(v.drawmain_pic->grab().toImage().pixel(10, 10), qRgb(0, 0, 0));
  EXPECT_TRUE(messages.shown.empty());
}

TEST_F(MainWindowChart, ARunDrawsItsTracesAndTheLabelsFollowSlotZero) {
  connectRows({0, 1});
  const QImage before = form->chartCanvas().image();
  bool saveLockedDuringRun = false;
  onPump = [&](std::int64_t) {
    if (program->run.running() && !form->SaveChart->isEnabled() && !form->PrintSet->isEnabled())
      saveLockedDuringRun = true;
  };
  runScans(21);
  ASSERT_EQ(messages.texts(), std::vector<std::string>{"End of Job."});
  TrendChartView& v = *form->chartView;
  EXPECT_EQ(v.Xaxis_start->text(), "1");
  EXPECT_EQ(v.Xaxis_stop->text(), "21");
  EXPECT_EQ(form->MSFlexGrid2[0]->model()->rowCount(), 21);
  EXPECT_TRUE(saveLockedDuringRun);
  EXPECT_TRUE(form->SaveChart->isEnabled());

  // Channel 1 of the first meter (about 0.5 V): its second-newest point is drawn where the chart
  // stored it, in the channel's colour, in the picture and on the screen.
  const auto p = form->trendChart().pointPosition(0, 0, 1);
  ASSERT_TRUE(p.has_value());
  const QPoint at = pixelOf(*p);
  ASSERT_TRUE(QRect(0, 0, kPlotWidthPx, kPlotHeightPx).contains(at));
  EXPECT_NE(before.pixel(at), qrgb(kDefaultChannelColors[0]));
  EXPECT_EQ(form->chartCanvas().image().pixel(at), qrgb(kDefaultChannelColors[0]));
  EXPECT_EQ(v.drawmain_pic->grab().toImage().pixel(at), qrgb(kDefaultChannelColors[0]));
  // The thermocouple channels (about 22 degrees at 1 per division) leave the plot at the top.
  EXPECT_LT(form->trendChart().pointPosition(1, 0, 1)->y, 0);
  // For the picture in the README: the read-out of a point of channel 3.
  const auto shown = form->trendChart().pointPosition(0, 2, 6);
  ASSERT_TRUE(shown.has_value());
  hover(v, shown->x + 10, shown->y + 5);
  EXPECT_EQ(v.Text3->text(), "CH 3");
  testing::screenshot(*form, "main_window");
}

TEST_F(MainWindowChart, ScrollingAfterThirtyScansMovesLabelsAndPointsOneStep) {
  connectRows({0});
  runScans(30);
  TrendChartView& v = *form->chartView;
  TrendChart& chart = form->trendChart();
  ASSERT_EQ(v.Xaxis_start->text(), "10");
  ASSERT_EQ(v.Xaxis_stop->text(), "30");
  ASSERT_TRUE(v.Command1->isEnabled());
  ASSERT_TRUE(v.Command2->isEnabled());
  const double x1 = chart.pointPosition(0, 0, 1)->x;

  QTest::mouseClick(v.Command2, Qt::LeftButton);  // nothing to come back from
  EXPECT_EQ(v.Xaxis_stop->text(), "30");

  const QImage unscrolled = v.drawmain_pic->shownPicture();
  QTest::mouseClick(v.Command1, Qt::LeftButton);
  EXPECT_EQ(v.Xaxis_start->text(), "9");
  EXPECT_EQ(v.Xaxis_stop->text(), "29");
  EXPECT_NEAR(chart.pointPosition(0, 0, 1)->x, x1 - 766, 0.01);
  EXPECT_NE(v.drawmain_pic->shownPicture(), unscrolled);

  QTest::mouseClick(v.Command2, Qt::LeftButton);
  EXPECT_EQ(v.Xaxis_start->text(), "10");
  EXPECT_EQ(v.Xaxis_stop->text(), "30");
  EXPECT_NEAR(chart.pointPosition(0, 0, 1)->x, x1, 0.01);
  EXPECT_EQ(v.drawmain_pic->shownPicture(), unscrolled);

  for (int i = 0; i < 11; ++i) QTest::mouseClick(v.Command1, Qt::LeftButton);
  EXPECT_EQ(v.Xaxis_start->text(), "0");  // stops once the oldest scan is in view
  EXPECT_EQ(v.Xaxis_stop->text(), "20");
  EXPECT_EQ(chart.ScrollOffset, 10);
}

TEST_F(MainWindowChart, ReadOutShowsTheScanTableValueOfThePointUnderTheMouse) {
  connectRows({0, 1});
  runScans(3);
  TrendChartView& v = *form->chartView;
  // The newest point of the second meter's last channel: the last one found wins there.
  const auto p = form->trendChart().pointPosition(1, 9, 0);
  ASSERT_TRUE(p.has_value());

  hover(v, p->x + 30, p->y);
  EXPECT_FALSE(v.drawmain_pic->Shape1->isVisible());
  EXPECT_EQ(v.Text1->text(), "");

  hover(v, p->x + 29, p->y);
  EXPECT_TRUE(v.drawmain_pic->Shape1->isVisible());
  EXPECT_EQ(v.Text3->text(), "CH 10");
  const QAbstractItemModel* grid = form->MSFlexGrid2[1]->model();
  const QString stored = grid->index(grid->rowCount() - 1, 11).data().toString();
  EXPECT_FALSE(stored.isEmpty());
  EXPECT_EQ(v.Text1->text(), stored);
  EXPECT_EQ(v.Text1->text().toStdString(), program->tables.ReadingText[1][9]);
  // The two-digit tag is shown whole, and the value starts to the right of it.
  const int tagWidth = v.Text3->fontMetrics().horizontalAdvance(v.Text3->text());
  EXPECT_LE(tagWidth, v.Text3->contentsRect().width());
  const int valueStart = v.Text1->x() + v.Text1->textMargins().left();
  EXPECT_GT(valueStart, v.Text3->geometry().right());
  EXPECT_TRUE(v.Text1->geometry().contains(v.Text3->geometry()));
  testing::screenshot(*form, "main_window_readout");
}

TEST_F(MainWindowChart, ConfirmingNoInstrumentClearsTheChart) {
  connectRows({0});
  runScans(5);
  TrendChartView& v = *form->chartView;
  ASSERT_NE(form->chartCanvas().image(), form->chartCanvas().background());
  connectRows({0});  // pre-ticked: the click unticks it
  EXPECT_EQ(program->link.InstrumentCount, 0);
  EXPECT_EQ(v.drawmain_pic->shownPicture(), form->chartCanvas().background());
  EXPECT_EQ(v.Xaxis_start->text(), "0");
  EXPECT_EQ(v.Xaxis_stop->text(), "20");
  EXPECT_FALSE(v.Command1->isEnabled());
  EXPECT_FALSE(v.Command2->isEnabled());
}

TEST_F(MainWindowChart, SaveChartButtonOpensTheSavingDoor) {
  EXPECT_EQ(form->SaveChart->text(), "Save Chart");
  EXPECT_LT(form->SaveChart->geometry().right(), form->PrintSet->geometry().left());
  int saves = 0;
  form->saveChart = [&] { ++saves; };
  QTest::mouseClick(form->SaveChart, Qt::LeftButton);
  EXPECT_EQ(saves, 1);
  // The printing code reaches the chart's picture and can freeze it.
  EXPECT_EQ(&form->chartCanvas(), program->chartCanvas());
  form->trendChart().freezeIntoBackground();
  EXPECT_TRUE(form->trendChart().backgroundFrozen());
}

}  // namespace
}  // namespace kalivor
