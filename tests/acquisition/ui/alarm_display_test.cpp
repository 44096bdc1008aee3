// SPDX-License-Identifier: MIT
// A scaled channel and readings outside their alarm band as the windows show them: the main
// window's grid and scan table, DATA_Table, the trend chart with its read-out and limit lines,
// the live statistics and the note of a record shared with another meter.
#include <gtest/gtest.h>

#include <QAction>
#include <QHeaderView>
#include <QLineEdit>
#include <QMouseEvent>
#include <QStatusBar>
#include <QTableView>
#include <QTableWidget>
#include <QTest>
#include <cmath>

#include "acquisition/ui/alarm_style.h"
#include "acquisition/ui/data_table.h"
#include "acquisition/ui/live_statistics.h"
#include "app/ui/window_wiring.h"
#include "charts/trend_chart.h"
#include "charts/ui/trend_chart_view.h"
#include "common/numbers.h"
#include "support/ui/main_form_rig.h"
#include "support/ui/window_fit.h"

namespace kalivor {
namespace {

struct AlarmDisplay : testing::MainFormRig {
  AlarmDisplay() {
    wireDataTable(*form, *program);
    wireStatistics(*form, *program);
  }
  ChannelSetup& channel(int c) { return program->tables.channel[0][static_cast<std::size_t>(c)]; }
  // CH1 (about 0.73 V) is above its high limit throughout; CH2 is read in bar; CH3 has a band it
  // never leaves.
  void prepare() {
    connectRows({0});
    channel(0).AlarmHigh = 0.5;
    channel(1).ScaleOn = 1;
    channel(1).ScaleGain = 2;
    channel(1).ScaleOffset = 1;
    channel(1).ScaleUnit = "bar";
    channel(2).AlarmLow = -100;
    channel(2).AlarmHigh = 100;
  }
  static QString text(const QAbstractItemModel* m, int row, int column, int role = Qt::DisplayRole) {
    return m->index(row, column).data(role).toString();
  }
  static QColor color(const QAbstractItemModel* m, int row, int column, int role) {
    return m->index(row, column).data(role).value<QColor>();
  }
  std::string raw(int c) const { return program->tables.ReadingText[0][static_cast<std::size_t>(c)]; }
};

TEST_F(AlarmDisplay, ScaledValueWithItsUnitAndTheAlarmMarkAppearWhereverReadingsAreShown) {
  prepare();
  program->tables.DatabaseName[0] = "Record1";  // a run as users log it
  runScans(3);
  ASSERT_EQ(program->tables.ScansDone[0], 3);
  const QString bar = QString::fromStdString(valueText(2 * strictNumber(raw(1)).value() + 1) + " bar");
  const QColor alarmText = alarmQColor(kAlarmTextColor);
  const QColor alarmBack = alarmQColor(kAlarmBackgroundColor);

  // The channel grid: marker and alarm colours on CH1, the trace colour kept on CH2.
  QTableWidget* grid = form->Channel_MSFlexGrid[0];
  EXPECT_TRUE(grid->item(1, 0)->text().startsWith(QString::fromUtf8(kAlarmMarkerHigh)));
  EXPECT_EQ(grid->item(1, 0)->foreground().color(), alarmText);
  EXPECT_EQ(grid->item(1, 0)->background().color(), alarmBack);
  EXPECT_EQ(grid->item(1, 1)->text(), bar);
  EXPECT_EQ(grid->item(1, 1)->background().color(), alarmQColor(channel(1).Color));
  EXPECT_EQ(grid->item(1, 2)->text().toStdString(), raw(2));  // limited, inside: as it came

  // The main window's scan table and DATA_Table alike.
  QTest::mouseClick(form->DATATable, Qt::LeftButton);
  auto* table = form->findChild<DATA_Table*>("DATA_Table");
  ASSERT_NE(table, nullptr);
  for (const QAbstractItemModel* m : {form->MSFlexGrid2[0]->model(), table->MSFlexGrid1[0]->model()}) {
    ASSERT_EQ(m->rowCount(), 3);
    for (int r = 0; r < 3; ++r) {
      EXPECT_TRUE(text(m, r, 2).startsWith(QString::fromUtf8(kAlarmMarkerHigh))) << r;
      // A marked reading can be wider than its column: the tool tip gives it whole.
      EXPECT_EQ(text(m, r, 2, Qt::ToolTipRole), text(m, r, 2)) << r;
      EXPECT_EQ(color(m, r, 2, Qt::ForegroundRole), alarmText);
      EXPECT_EQ(color(m, r, 2, Qt::BackgroundRole), alarmBack);
      EXPECT_TRUE(text(m, r, 3).endsWith(" bar")) << r;
      EXPECT_FALSE(m->index(r, 3).data(Qt::ForegroundRole).isValid());
      EXPECT_FALSE(m->index(r, 4).data(Qt::ForegroundRole).isValid());
    }
    EXPECT_EQ(text(m, 2, 3), bar);
  }
  // In both tables the columns of channels with limits or a unit show their readings whole, with
  // no "…"; the others keep the usual width.
  for (const QTableView* seen : {static_cast<const QTableView*>(form->MSFlexGrid2[0]),
                                 static_cast<const QTableView*>(table->MSFlexGrid1[0])}) {
    SCOPED_TRACE(seen->objectName().toStdString());
    for (int c : {2, 3, 4}) {
      for (int r = 0; r < 3; ++r) {
        EXPECT_LE(seen->fontMetrics().horizontalAdvance(text(seen->model(), r, c)) + 6, seen->columnWidth(c)) << c;
        EXPECT_LE(testing::cellOverflow(*seen, r, c), 0) << text(seen->model(), r, c).toStdString();
      }
    }
    EXPECT_GT(seen->columnWidth(2), seen->columnWidth(5));
    EXPECT_EQ(seen->columnWidth(5), seen->columnWidth(21));
  }
  EXPECT_EQ(form->MSFlexGrid2[0]->columnWidth(5), form->MSFlexGrid2[0]->horizontalHeader()->defaultSectionSize());
  testing::screenshot(*table, "data_table_alarm");

  // The trend chart draws CH2 scaled; its read-out names the scaled value with the unit.
  TrendChart& chart = form->trendChart();
  EXPECT_DOUBLE_EQ(chart.ValueHistory(0, 1, 0), 2 * strictNumber(raw(1)).value() + 1);
  const auto p = chart.pointPosition(0, 1, 0);
  ASSERT_TRUE(p);
  TrendChartView& view = *form->chartView;
  const QPointF local(p->x / kTwipsPerPixel, p->y / kTwipsPerPixel);
  QMouseEvent move(QEvent::MouseMove, local, view.drawmain_pic->mapToGlobal(local), Qt::NoButton,
                   Qt::NoButton, Qt::NoModifier);
  QCoreApplication::sendEvent(view.drawmain_pic, &move);
  EXPECT_EQ(view.Text1->text(), bar);
  EXPECT_EQ(view.Text3->text(), "CH 2");
  // CH2 has no limits: nothing drawn for the channel under the cursor.
  EXPECT_TRUE(chart.limitLineYs().empty());
  view.LimitLinesAll->trigger();
  QCoreApplication::sendEvent(view.drawmain_pic, &move);
  form->syncFromCore();
  testing::screenshot(*form, "main_window_alarm");
}

TEST_F(AlarmDisplay, LimitLinesFollowTheCursorChannelOrShowForAllChannels) {
  prepare();
  runScans(3);
  TrendChart& chart = form->trendChart();
  TrendChartView& view = *form->chartView;
  EXPECT_TRUE(view.LimitLinesCursor->isChecked());
  EXPECT_TRUE(chart.limitLineYs().empty()) << "no cursor yet";
  // All channels: CH1's high limit; CH3's are far off the plot at this scale.
  view.LimitLinesAll->trigger();
  EXPECT_EQ(chart.limitLines, LimitLineMode::AllChannels);
  EXPECT_FALSE(view.LimitLinesCursor->isChecked());
  ASSERT_EQ(chart.limitLineYs().size(), 1u);
  // Half a volt above the reference level at 1 V per division.
  const double division = kPlotHeight / 10;
  EXPECT_NEAR(chart.limitLineYs()[0], chart.RefDivision * division - 0.5 * division, 1e-6);
  // The line is drawn in the alarm colour across the plot.
  view.sync();
  const QImage shown = view.drawmain_pic->shownPicture();
  const int y = static_cast<int>(std::lround(chart.limitLineYs()[0] / kTwipsPerPixel * shown.height() / kPlotHeightPx));
  int red = 0;
  for (int x = 0; x < shown.width(); x += 50) {
    for (int dy = -1; dy <= 1; ++dy) {
      if (shown.pixelColor(x, y + dy) == alarmQColor(kLimitLineColor)) {
        ++red;
        break;
      }
    }
  }
  EXPECT_GT(red, shown.width() / 50 / 2);

  view.LimitLinesCursor->trigger();
  EXPECT_TRUE(chart.limitLineYs().empty());
  // Pointing at CH1 brings its line back.
  const auto p = chart.pointPosition(0, 0, 0);
  ASSERT_TRUE(p);
  chart.drawmain_pic_MouseMove(p->x, p->y);
  EXPECT_EQ(chart.limitLineYs().size(), 1u);
}

TEST_F(AlarmDisplay, LiveStatisticsFollowTheRunAndStayAfterIt) {
  prepare();
  form->Statistics_Menu->trigger();
  auto* stats = form->findChild<Live_Statistics*>("Live_Statistics");
  ASSERT_NE(stats, nullptr);
  EXPECT_TRUE(stats->isVisible());
  EXPECT_EQ(stats->live_grid->rowCount(), 0);
  std::vector<int> counts;
  onPump = [&](std::int64_t) {
    stats->refresh();
    if (stats->live_grid->rowCount() > 0) counts.push_back(stats->live_grid->item(0, 2)->text().toInt());
  };
  runScans(4);
  onPump = nullptr;
  stats->refresh();
  EXPECT_NE(std::find(counts.begin(), counts.end(), 2), counts.end()) << "seen during the run";
  QTableWidget* g = stats->live_grid;
  const int active = static_cast<int>(program->display.ActiveChannelCount[0]);
  ASSERT_EQ(g->rowCount(), active);
  auto column = [&](const char* caption) {
    for (int c = 0; c < g->columnCount(); ++c) {
      if (g->horizontalHeaderItem(c)->text() == caption) return c;
    }
    ADD_FAILURE() << caption;
    return 0;
  };
  EXPECT_EQ(g->item(0, column("Channel"))->text(), "CH 1");
  EXPECT_EQ(g->item(0, column("Count"))->text(), "4");
  EXPECT_EQ(g->item(0, column("Alarms"))->text(), "1");  // raised once, never cleared
  EXPECT_EQ(g->item(0, column("Alarms"))->foreground().color(), alarmQColor(kAlarmTextColor));
  EXPECT_EQ(g->item(1, column("Unit"))->text(), "bar");
  EXPECT_EQ(g->item(1, column("Alarms"))->text(), "");  // no limits
  EXPECT_EQ(g->item(2, column("Alarms"))->text(), "0");
  EXPECT_EQ(g->item(1, column("Last"))->text().toStdString(),
            numberToText(2 * strictNumber(raw(1)).value() + 1));
  const double mean = g->item(0, column("Mean"))->text().toDouble();
  EXPECT_GT(mean, 0.72);
  EXPECT_LT(mean, 0.74);
}

TEST_F(AlarmDisplay, AnotherMetersRecordIsUsedAndSaidInTheStatusBar) {
  connectRows({0});
  program->tables.DatabaseName[0] = "Record1";
  const int before = form->height();
  runScans(2);
  EXPECT_EQ(form->findChild<QStatusBar*>(), nullptr) << "nothing to say, no status bar";
  connectRows({0, 1});  // the first meter unticked, the second ticked
  ASSERT_EQ(program->display.deviceList.size(), 1u);
  ASSERT_EQ(program->display.deviceList[0].substr(0, 7), "SIM0002");
  program->tables.DatabaseName[0] = "Record1";
  runScans(2);
  auto* bar = form->findChild<QStatusBar*>();
  ASSERT_NE(bar, nullptr);
  EXPECT_TRUE(bar->currentMessage().contains("Record1 already holds runs of SIM0001; SIM0002 now logs into it as well."))
      << bar->currentMessage().toStdString();
  EXPECT_GT(form->height(), before) << "the window grew by the bar";
  EXPECT_EQ(program->tables.ScansDone[0], 2);
}

}  // namespace
}  // namespace kalivor
