// SPDX-License-Identifier: MIT
// The trend chart in the main window, driven by runs on the simulated meters.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QMenuBar>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QTableView>
#include <QTableWidget>
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
  program->tables.DatabaseName[0] = "Record1";
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
  // On the screen's own pixels, which a scale factor makes more than one per chart pixel.
  const QImage screen = v.drawmain_pic->grab().toImage();
  const QPoint onScreen = (QPointF(at) * screen.devicePixelRatio()).toPoint();
  EXPECT_EQ(screen.pixel(onScreen), qrgb(kDefaultChannelColors[0]));
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

// Pixels of the picture in none of the scheme's own colours: the curves.
int curvePixels(const QImage& img) {
  int n = 0;
  for (int y = 0; y < img.height(); ++y)
    for (int x = 0; x < img.width(); ++x) {
      const QRgb p = img.pixel(x, y);
      n += p != qRgb(0, 0, 0) && p != qRgb(255, 255, 255);
    }
  return n;
}

// Pairs of the main window's controls that overlap (the read-out tag lies on its box, and the
// reference marker touches its "Ref." caption, on purpose).
std::vector<std::string> overlaps(QWidget* central) {
  std::vector<std::string> found;
  const auto children = central->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly);
  for (int i = 0; i < children.size(); ++i) {
    for (int j = i + 1; j < children.size(); ++j) {
      QWidget* a = children[i];
      QWidget* b = children[j];
      if (!a->isVisible() || !b->isVisible()) continue;
      const QStringList pair{a->objectName(), b->objectName()};
      if (pair.contains("Text1") && pair.contains("Text3")) continue;
      if (pair.contains("row_stat") && pair.contains("ref_label")) continue;
      if (a->geometry().intersects(b->geometry()))
        found.push_back((pair.join(" / ") + (pair.join("").isEmpty() ? " (labels)" : "")).toStdString());
    }
    if (!central->rect().contains(children[i]->geometry()) && children[i]->isVisible())
      found.push_back(children[i]->objectName().toStdString() + " outside");
  }
  return found;
}

TEST_F(MainWindowChart, TheWindowGrowsAndShrinksWithTheChartAndTheTables) {
  connectRows({0, 1});
  runScans(6);
  TrendChartView& v = *form->chartView;
  QWidget* central = form->centralWidget();
  const QSize natural = central->size();
  const QRect plot = v.drawmain_pic->geometry();
  ASSERT_EQ(plot.size(), QSize(kPlotWidthPx, kPlotHeightPx + 1));
  const QRect tabs = form->SSTab1->geometry();
  const QRect table = form->MSFlexGrid2[0]->geometry();
  const QRect start = form->StartReading->geometry();
  { const auto o = overlaps(central); EXPECT_TRUE(o.empty()) << ::testing::PrintToString(o); }

  // Larger: the plot's pixels follow, the curves are drawn again at the new size, the tables grow.
  form->resize(form->size() + QSize(300, 200));
  QCoreApplication::processEvents();
  const QRect bigger = v.drawmain_pic->geometry();
  EXPECT_EQ(bigger.topLeft(), plot.topLeft());
  EXPECT_EQ(bigger.width(), plot.width() + 300);
  EXPECT_GT(bigger.height(), plot.height() + 100);
  EXPECT_EQ(form->chartCanvas().image().size(), bigger.size() - QSize(0, 1));
  EXPECT_EQ(v.drawmain_pic->shownPicture().size(), bigger.size() - QSize(0, 1));
  EXPECT_GT(curvePixels(form->chartCanvas().image()), 0);
  EXPECT_EQ(form->SSTab1->width(), tabs.width() + 300);
  EXPECT_GT(form->MSFlexGrid2[0]->height(), table.height());
  EXPECT_GT(form->Channel_MSFlexGrid[0]->columnWidth(0) * 10, tabs.width());
  EXPECT_EQ(form->StartReading->x(), start.x() + 300);
  EXPECT_GT(v.Xaxis_start->x(), bigger.right() - v.Xaxis_start->width());
  // The reference line keeps its level in the plot.
  EXPECT_NEAR(double(v.drawmain_pic->Line1->y()) / bigger.height(), 2555.0 / 5115.0, 0.01);
  { const auto o = overlaps(central); EXPECT_TRUE(o.empty()) << ::testing::PrintToString(o); }
  testing::screenshot(*form, "main_window_larger");

  // The read-out still finds the point under the mouse at the new scale.
  const auto p = form->trendChart().pointPosition(1, 9, 0);
  ASSERT_TRUE(p.has_value());
  const double xs = form->chartCanvas().xScale();
  const double ys = form->chartCanvas().yScale();
  const QPointF local(p->x * xs + 1, p->y * ys);
  QMouseEvent move(QEvent::MouseMove, local, v.drawmain_pic->mapToGlobal(local), Qt::NoButton,
                   Qt::NoButton, Qt::NoModifier);
  QCoreApplication::sendEvent(v.drawmain_pic, &move);
  EXPECT_EQ(v.Text3->text(), "CH 10");

  // The smallest size: everything still there, nothing on top of anything else.
  form->resize(form->minimumSizeHint());
  QCoreApplication::processEvents();
  EXPECT_LT(central->height(), natural.height());
  EXPECT_LT(v.drawmain_pic->height(), plot.height());
  // The chart gave up the height: the readings table still shows four scans whole, under its
  // heading and above its scroll bar, with the newest in view.
  QTableView* readings = form->MSFlexGrid2[0];
  EXPECT_GE(readings->viewport()->height(), 4 * readings->verticalHeader()->defaultSectionSize());
  EXPECT_GE(readings->rowAt(readings->viewport()->height() - 1) - readings->rowAt(0) + 1, 4);
  EXPECT_EQ(readings->rowAt(readings->viewport()->height() - 1), readings->model()->rowCount() - 1);
  { const auto o = overlaps(central); EXPECT_TRUE(o.empty()) << ::testing::PrintToString(o); }
  EXPECT_GT(curvePixels(form->chartCanvas().image()), 0);
  testing::screenshot(*form, "main_window_smallest");

  // Back at its own size, everything stands where it stood.
  form->resize(form->size().width(), natural.height() + form->menuBar()->height());
  form->resize(natural + QSize(0, form->height() - central->height()));
  QCoreApplication::processEvents();
  EXPECT_EQ(central->size(), natural);
  EXPECT_EQ(v.drawmain_pic->geometry(), plot);
  EXPECT_EQ(form->MSFlexGrid2[0]->geometry(), table);
  EXPECT_EQ(form->StartReading->geometry(), start);
  EXPECT_EQ(form->chartCanvas().image().size(), QSize(kPlotWidthPx, kPlotHeightPx));
}

TEST_F(MainWindowChart, ItsSmallestSizeFitsALaptopScreenWithATaskBar) {
  // 1366 x 768, less a 48-pixel task bar and a 32-pixel title bar.
  const QSize smallest = form->minimumSizeHint();
  EXPECT_LE(smallest.width(), 1366);
  EXPECT_LE(smallest.height(), 768 - 48 - 32);
  // The window can be made that small.
  form->resize(smallest);
  QCoreApplication::processEvents();
  EXPECT_EQ(form->size(), smallest);
}

}  // namespace
}  // namespace kalivor
