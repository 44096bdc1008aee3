// SPDX-License-Identifier: MIT
#include "charts/ui/trend_chart_view.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QTest>
#include <string>
#include <vector>

#include "common/ui/qt_seams.h"
#include "common/numbers.h"
#include "support/ui/qt_app.h"

namespace kalivor {
namespace {

constexpr double kLevel = 511.5;  // one division

// The chart's controls on a window of their own, over one or two instruments whose readings the
// test sets.
struct TrendChartViewTest : ::testing::Test {
  TrendChartViewTest() {
    for (int s = 0; s < 2; ++s) {
      tables.setup[s].ChannelCount = 10;
      for (int c = 0; c < kMaxChannels; ++c) {
        tables.channel[s][c].Function = "DCV";
        tables.channel[s][c].Color = kDefaultChannelColors[c];
      }
    }
    TrendChartLink link;
    link.instrumentCount = [this] { return instruments; };
    link.events = &pump;
    chart = std::make_unique<TrendChart>(tables, link, canvas);
    chart->startUpDefaults();
    host.resize(px(16650), px(8400));
    view = std::make_unique<TrendChartView>(*chart, canvas, &host, [this](const CursorReadout& hit) {
      readouts.push_back(hit);
      return "value of scan " + std::to_string(hit.scanNumber);
    });
    host.show();
  }

  // One completed scan of slot 0 with channel c reading values[c], then the view's refresh.
  void scan(const std::vector<double>& values, int slot = 0) {
    for (std::size_t c = 0; c < values.size(); ++c) tables.ReadingText[slot][c] = numberToText(values[c]);
    tables.ScansDone[slot] += 1;
    chart->PushScanAndReplot();
    chart->updateAxisLabels();
    view->sync();
  }

  // A mouse move over the plot at (x, y) twips; the position may fall between pixels.
  void hover(double x, double y) {
    const QPointF local(x / kTwipsPerPixel, y / kTwipsPerPixel);
    QMouseEvent move(QEvent::MouseMove, local, view->drawmain_pic->mapToGlobal(local), Qt::NoButton,
                     Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(view->drawmain_pic, &move);
  }

  QRgb shownPixel(double xTwips, double yTwips) const {
    return view->drawmain_pic->shownPicture().pixel(static_cast<int>(std::lround(xTwips / kTwipsPerPixel)),
                                                    static_cast<int>(std::lround(yTwips / kTwipsPerPixel)));
  }
  static QRgb qrgb(Rgb c) { return qRgb(redOf(c), greenOf(c), blueOf(c)); }

  // First member: the QApplication must exist before the host widget below is made.
  bool qtReady = (testing::qtApp(), true);
  ScanTables tables;
  int instruments = 1;
  CallbackEventPump pump;
  QPainterCanvas canvas{QSize(kPlotWidthPx, kPlotHeightPx)};
  std::unique_ptr<TrendChart> chart;
  QWidget host;
  std::unique_ptr<TrendChartView> view;
  std::vector<CursorReadout> readouts;
};

TEST_F(TrendChartViewTest, ControlsSitAtTheirPlacesWithTheirTexts) {
  EXPECT_EQ(view->drawmain_pic->geometry(), QRect(px(600), px(750), px(15315), px(5115)));
  EXPECT_EQ(view->Xaxis_stop->text(), "20");
  EXPECT_EQ(view->Xaxis_start->text(), "0");
  EXPECT_EQ(view->X_Axis_Combo->count(), 6);
  EXPECT_EQ(view->X_Axis_Combo->currentText(), "20");
  EXPECT_EQ(view->Y_scal_Combo->count(), 41);
  EXPECT_EQ(view->Y_scal_Combo->currentText(), "1");
  EXPECT_EQ(view->ref_label->text(), "Ref.");
  EXPECT_EQ(view->X_Axis_Label->text(), "X-Axis :");
  EXPECT_EQ(view->Y_scal_Label->text(), "Y-scal :");
  const char* tips[] = {"White Background", "White Background and Show Gridlines", "Black Background ",
                        "Black Background and Show Gridlines"};
  for (int i = 0; i < 4; ++i) EXPECT_EQ(view->schemeButtons[i]->toolTip(), tips[i]);
  EXPECT_FALSE(view->drawmain_pic->Shape1->isVisible());
  EXPECT_FALSE(view->Command4->isVisible());
  // The reference line at level 5, the marker beside it.
  EXPECT_EQ(view->drawmain_pic->Line1->geometry().top(), static_cast<int>(std::lround(2555 / 15.0)));
  EXPECT_EQ(view->row_stat->y(), px(3165));
}

TEST_F(TrendChartViewTest, SchemeButtonsSwapTheBackgroundUnderTheTraces) {
  scan({1});
  scan({1});
  const double traceY = 5 * kLevel - kLevel;  // reading 1 at scale 1
  EXPECT_EQ(shownPixel(400, traceY), qrgb(kDefaultChannelColors[0]));
  EXPECT_EQ(shownPixel(400, 4000), qRgb(0, 0, 0));  // black scheme 3 by default

  QTest::mouseClick(view->schemeButtons[kWhite], Qt::LeftButton);
  EXPECT_EQ(chart->GraphScheme, kWhite);
  EXPECT_EQ(shownPixel(400, 4000), qRgb(255, 255, 255));
  EXPECT_EQ(view->drawmain_pic->shownPicture().pixel(0, 200), qRgb(0, 0, 0));  // the frame
  EXPECT_EQ(shownPixel(400, traceY), qrgb(kDefaultChannelColors[0]));  // redrawn over it

  QTest::mouseClick(view->schemeButtons[kBlackGrid], Qt::LeftButton);
  const QImage& shown = view->drawmain_pic->shownPicture();
  int gridPixels = 0;
  for (int y = 0; y < shown.height(); ++y) gridPixels += shown.pixel(51, y) == qRgb(255, 255, 255);
  EXPECT_GT(gridPixels, 100);  // dashed: about half of the column
  EXPECT_LT(gridPixels, 240);
}

TEST_F(TrendChartViewTest, ReferenceButtonsMoveFiveDivisionsEachWayAndNoFurther) {
  tables.setup[0].ChannelCount = 1;
  scan({0});
  scan({0});
  for (int i = 0; i < 6; ++i) QTest::mouseClick(view->UpDraw, Qt::LeftButton);
  EXPECT_EQ(chart->RefDivision, 0);
  EXPECT_EQ(view->row_stat->y(), px(3165 - 5 * kLevel));
  EXPECT_EQ(view->ref_label->y(), px(3165 - 5 * kLevel + 50));
  EXPECT_EQ(view->drawmain_pic->Line1->y(), 0);
  // A reading of 0 lies on the reference level, now the top edge.
  EXPECT_EQ(shownPixel(400, 0), qrgb(kDefaultChannelColors[0]));

  for (int i = 0; i < 11; ++i) QTest::mouseClick(view->DownDraw, Qt::LeftButton);
  EXPECT_EQ(chart->RefDivision, 10);
  EXPECT_EQ(view->row_stat->y(), px(3165 + 5 * kLevel));
  EXPECT_EQ(view->drawmain_pic->Line1->y(), view->drawmain_pic->height() - 1);
}

TEST_F(TrendChartViewTest, SpanListRelabelsBeforeAnyScan) {
  view->X_Axis_Combo->setFocus();
  QTest::keyClick(view->X_Axis_Combo, Qt::Key_Down);  // "200"
  EXPECT_EQ(chart->span(), 200);
  EXPECT_EQ(view->Xaxis_start->text(), "0");
  EXPECT_EQ(view->Xaxis_stop->text(), "200");
  EXPECT_EQ(view->drawmain_pic->shownPicture(), canvas.background());  // nothing drawn

  view->Y_scal_Combo->setFocus();
  QTest::keyClick(view->Y_scal_Combo, Qt::Key_Down);  // "500m"
  EXPECT_EQ(chart->yScale(), 0.5);
}

TEST_F(TrendChartViewTest, ReadOutHitsWithin29TwipsAndMissesAt30) {
  instruments = 1;
  scan({2, 0.5});
  scan({1, 0.5});  // newest point of channel 0 at (0, level 5 - 1 division)
  const double x = 0;
  const double y = 5 * kLevel - kLevel;

  hover(x + 30, y);
  EXPECT_TRUE(readouts.empty());
  EXPECT_FALSE(view->drawmain_pic->Shape1->isVisible());
  EXPECT_EQ(view->Text3->text(), "");

  hover(x + 29, y + 19);
  ASSERT_EQ(readouts.size(), 1u);
  EXPECT_EQ(readouts[0].channel, 0);
  EXPECT_EQ(readouts[0].scanNumber, 2);
  EXPECT_EQ(view->Text3->text(), "CH 1");
  EXPECT_EQ(view->Text1->text(), "value of scan 2");
  EXPECT_TRUE(view->drawmain_pic->Shape1->isVisible());
  EXPECT_EQ(view->drawmain_pic->Shape1->geometry(), QRect(px(x - 30), px(y - 30), px(105), px(105)));
  // The tag carries the channel's colour.
  EXPECT_NE(view->Text3->styleSheet().indexOf(QColor(60, 179, 113).name()), -1);

  // The older point one step to the right; a miss leaves the read-out as it was.
  hover(765.75 - 29, 5 * kLevel - 2 * kLevel);
  ASSERT_EQ(readouts.size(), 2u);
  EXPECT_EQ(view->Text1->text(), "value of scan 1");
  hover(5000, 5000);
  EXPECT_EQ(readouts.size(), 2u);
  EXPECT_EQ(view->Text1->text(), "value of scan 1");
  EXPECT_TRUE(view->drawmain_pic->Shape1->isVisible());

  // Scrolling hides the marker.
  QTest::mouseClick(view->UpDraw, Qt::LeftButton);
  EXPECT_FALSE(view->drawmain_pic->Shape1->isVisible());
}

TEST_F(TrendChartViewTest, PictureShowsOnlyFinishedRedraws) {
  instruments = 2;
  scan({1, 2, 3});
  const qint64 before = view->drawmain_pic->shownPicture().cacheKey();
  int pumpsDuringPush = 0;
  bool changedMidway = false;
  pump.set([&](std::int64_t) {
    // Events run between channels: a refresh now must not show a half-drawn chart.
    ++pumpsDuringPush;
    view->sync();
    QCoreApplication::processEvents();
    changedMidway = changedMidway || view->drawmain_pic->shownPicture().cacheKey() != before;
  });
  tables.ScansDone[1] += 1;
  scan({4, 5, 6});
  EXPECT_GT(pumpsDuringPush, 2);
  EXPECT_FALSE(changedMidway);
  EXPECT_NE(view->drawmain_pic->shownPicture().cacheKey(), before);
  EXPECT_EQ(view->drawmain_pic->shownPicture(), canvas.image());
}

TEST_F(TrendChartViewTest, ShowingThePictureLeavesTheChartDrawingIntoItsOwnMemory) {
  scan({1, 2, 3});
  const uchar* drawing = canvas.image().constBits();
  const uchar* shown = view->drawmain_pic->shownPicture().constBits();
  for (int i = 0; i < 3; ++i) scan({4.0 + i, 5, 6});
  // Neither picture was copied to new memory (a shared picture would be at every drawing).
  EXPECT_EQ(canvas.image().constBits(), drawing);
  EXPECT_EQ(view->drawmain_pic->shownPicture().constBits(), shown);
  EXPECT_EQ(view->drawmain_pic->shownPicture(), canvas.image());
  // And what is shown is the picture (under the reference line), on the plot's last row the
  // scheme's colour.
  view->drawmain_pic->Line1->hide();
  const QImage onScreen = view->drawmain_pic->grab().toImage().convertToFormat(QImage::Format_RGB32);
  EXPECT_EQ(onScreen.copy(canvas.image().rect()), canvas.image());
  EXPECT_EQ(onScreen.pixel(5, onScreen.height() - 1), qRgb(0, 0, 0));
}

}  // namespace
}  // namespace kalivor
