// SPDX-License-Identifier: MIT
#include "acquisition/ui/data_table.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QHeaderView>
#include <QPushButton>
#include <QScrollBar>
#include <QTabWidget>
#include <QTableView>
#include <QTest>

#include "common/ui/qt_seams.h"
#include "app/ui/window_wiring.h"
#include "support/ui/main_form_rig.h"
#include "support/ui/window_fit.h"

namespace kalivor {
namespace {

struct DataTableTest : testing::MainFormRig {
  DataTableTest() { wireDataTable(*form, *program); }

  DATA_Table* openWindow() {
    QTest::mouseClick(form->DATATable, Qt::LeftButton);
    return form->findChild<DATA_Table*>("DATA_Table");
  }
  static QString cell(const QTableView* grid, int row, int column) {
    return grid->model()->index(row, column).data().toString();
  }
};

TEST_F(DataTableTest, OpensBeforeARunWithOneTabPerInstrumentAndOnlyTheHeader) {
  connectRows({0, 1});
  DATA_Table* w = openWindow();
  ASSERT_NE(w, nullptr);
  EXPECT_TRUE(w->isVisible());
  EXPECT_EQ(w->windowTitle(), "DATA TABLE");
  EXPECT_TRUE(w->windowFlags() & Qt::WindowStaysOnTopHint);
  EXPECT_EQ(w->SSTab1->tabText(0), "SIM0001 --");  // the first 10 characters
  EXPECT_EQ(w->SSTab1->tabText(1), "SIM0002 --");
  EXPECT_TRUE(w->SSTab1->isTabVisible(1));
  EXPECT_FALSE(w->SSTab1->isTabVisible(2));
  EXPECT_FALSE(w->SSTab1->isTabVisible(3));
  EXPECT_EQ(w->SSTab1->currentIndex(), 0);

  const QAbstractItemModel* twenty = w->MSFlexGrid1[0]->model();
  const QAbstractItemModel* ten = w->MSFlexGrid1[1]->model();
  EXPECT_EQ(twenty->columnCount(), 22);
  EXPECT_EQ(ten->columnCount(), 12);
  EXPECT_EQ(twenty->rowCount(), 0);
  EXPECT_EQ(ten->rowCount(), 0);
  // Two header rows: the merged groups, then the captions.
  EXPECT_EQ(ten->headerData(0, Qt::Horizontal).toString(), "Scan Cycle");
  EXPECT_EQ(ten->headerData(1, Qt::Horizontal).toString(), "Time");
  EXPECT_EQ(ten->headerData(11, Qt::Horizontal).toString(), "CH 10");
  EXPECT_EQ(ten->headerData(1, Qt::Horizontal, DataTableModel::kGroupRole).toString(), "Scan");
  EXPECT_EQ(ten->headerData(2, Qt::Horizontal, DataTableModel::kGroupRole).toString(), "Channel");
  EXPECT_GE(w->MSFlexGrid1[1]->columnWidth(2), px(1500));
  EXPECT_EQ(w->MSFlexGrid1[1]->columnWidth(11), w->MSFlexGrid1[1]->columnWidth(2));
  EXPECT_GE(w->MSFlexGrid1[1]->columnWidth(1), px(2000));
  EXPECT_GE(w->MSFlexGrid1[1]->horizontalHeader()->height(), 2 * w->fontMetrics().height());
}

TEST_F(DataTableTest, FollowsARunWhileOpenAndCopiesWhatWasStoredWhenOpenedLater) {
  connectRows({0, 1});
  DATA_Table* w = openWindow();
  ASSERT_NE(w, nullptr);
  std::vector<int> rowsSeen;
  onPump = [&](std::int64_t) { rowsSeen.push_back(w->MSFlexGrid1[0]->model()->rowCount()); };
  runScans(5);
  EXPECT_NE(std::find(rowsSeen.begin(), rowsSeen.end(), 3), rowsSeen.end());  // grew during the run
  for (int d = 0; d < 2; ++d) {
    const QTableView* mine = w->MSFlexGrid1[d];
    const QTableView* main = form->MSFlexGrid2[d];
    ASSERT_EQ(mine->model()->rowCount(), 5) << d;
    for (int r = 0; r < 5; ++r) {
      for (int c = 0; c < mine->model()->columnCount(); ++c) EXPECT_EQ(cell(mine, r, c), cell(main, r, c));
    }
  }
  EXPECT_EQ(cell(w->MSFlexGrid1[1], 4, 0), "5");
  testing::screenshot(*w, "data_table");

  // Closed, it is unloaded; opened after a run of 50 scans it holds them all.
  onPump = nullptr;
  w->close();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_EQ(form->findChild<DATA_Table*>("DATA_Table"), nullptr);
  runScans(50);
  w = openWindow();
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(w->MSFlexGrid1[0]->model()->rowCount(), 50);
  EXPECT_EQ(cell(w->MSFlexGrid1[0], 49, 0), "50");
  EXPECT_EQ(cell(w->MSFlexGrid1[0], 49, 21), cell(form->MSFlexGrid2[0], 49, 21));
}

TEST_F(DataTableTest, ChangingTheSelectionUnloadsIt) {
  connectRows({0, 1});
  ASSERT_NE(openWindow(), nullptr);
  connectRows({});  // both stay ticked
  EXPECT_EQ(form->findChild<DATA_Table*>("DATA_Table"), nullptr);
  DATA_Table* w = openWindow();
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(w->SSTab1->tabText(1), "SIM0002 --");
}

TEST_F(DataTableTest, ScanNumberAndTimeStayInViewWhileTheChannelsScroll) {
  connectRows({0});
  runScans(2);
  DATA_Table* w = openWindow();
  ASSERT_NE(w, nullptr);
  ScanGridView* grid = w->MSFlexGrid1[0];
  QTableView* fixed = grid->fixedColumns();
  EXPECT_TRUE(fixed->isVisible());
  EXPECT_FALSE(fixed->isColumnHidden(1));
  EXPECT_TRUE(fixed->isColumnHidden(2));
  EXPECT_EQ(fixed->width(), grid->columnWidth(0) + grid->columnWidth(1));
  grid->horizontalScrollBar()->setValue(grid->horizontalScrollBar()->maximum());
  ASSERT_GT(grid->horizontalScrollBar()->maximum(), 0);
  EXPECT_LT(grid->visualRect(grid->model()->index(0, 0)).right(), 0);  // scrolled away below
  const QRect firstCell = fixed->visualRect(fixed->model()->index(0, 0));
  EXPECT_TRUE(fixed->viewport()->rect().intersects(firstCell));
  EXPECT_EQ(fixed->model()->index(0, 0).data().toString(), "1");
}

TEST_F(DataTableTest, TheGridGrowsAndShrinksWithTheWindow) {
  connectRows({0, 1});
  runScans(30);
  DATA_Table* w = openWindow();
  ASSERT_NE(w, nullptr);
  QCoreApplication::processEvents();
  ScanGridView* grid = w->MSFlexGrid1[0];
  const QSize natural = w->size();
  EXPECT_EQ(natural, QSize(px(13500), px(6600)));
  const auto places = testing::placesOf(*w);
  const QSize gridSize = grid->size();
  { const auto o = testing::overlaps(*w); EXPECT_TRUE(o.empty()) << ::testing::PrintToString(o); }

  // Larger: the grid takes it all, still showing the newest scan, the fixed columns as high.
  w->resize(natural + QSize(300, 200));
  QCoreApplication::processEvents();
  EXPECT_EQ(grid->size(), gridSize + QSize(300, 200));
  EXPECT_EQ(grid->fixedColumns()->height(), grid->viewport()->height() + grid->horizontalHeader()->height());
  EXPECT_EQ(grid->verticalScrollBar()->value(), grid->verticalScrollBar()->maximum());
  testing::screenshot(*w, "data_table_larger");

  // Smallest: it fits a laptop screen and still shows the scan, its time and a whole channel
  // beside them, and a few rows.
  const QSize smallest = w->minimumSizeHint();
  EXPECT_TRUE(QRect(QPoint(), testing::laptopRoom()).contains(QRect(QPoint(), smallest)));
  w->resize(QSize(100, 100));
  QCoreApplication::processEvents();
  EXPECT_EQ(w->size(), smallest);
  EXPECT_LT(grid->width(), gridSize.width());
  EXPECT_LT(grid->height(), gridSize.height());
  const QRect firstChannel = grid->visualRect(grid->model()->index(0, 2));
  EXPECT_EQ(firstChannel.left(), grid->fixedColumns()->width());
  EXPECT_LE(firstChannel.right(), grid->viewport()->width());
  EXPECT_GE(grid->viewport()->height(), 3 * grid->verticalHeader()->defaultSectionSize());
  // The newest scan stays in view, in both parts of the grid.
  EXPECT_EQ(grid->verticalScrollBar()->value(), grid->verticalScrollBar()->maximum());
  EXPECT_EQ(grid->fixedColumns()->verticalScrollBar()->value(), grid->verticalScrollBar()->value());
  const int bottom = grid->viewport()->height() - 1;
  EXPECT_EQ(grid->fixedColumns()->indexAt(QPoint(2, bottom)).data().toString(), "30");
  { const auto o = testing::overlaps(*w); EXPECT_TRUE(o.empty()) << ::testing::PrintToString(o); }
  testing::screenshot(*w, "data_table_smallest");

  // Back at its own size, everything stands where it stood.
  w->resize(natural);
  QCoreApplication::processEvents();
  EXPECT_EQ(grid->size(), gridSize);
  EXPECT_EQ(testing::placesOf(*w), places);
}

// The model on its own: 10 001 data rows at most, the oldest dropped without resetting the view
// (which would lose the column widths).
TEST(DataTableModelTest, DropsTheOldestRowsWithoutAReset) {
  LiveDisplay display;
  ScanTables tables;
  tables.setup[0].ChannelCount = 10;
  display.prepareScanTable(0, 10);
  DataTableModel model(display, 0, 10);
  int resets = 0;
  int removed = 0;
  QObject::connect(&model, &QAbstractItemModel::modelReset, [&] { ++resets; });
  QObject::connect(&model, &QAbstractItemModel::rowsRemoved, [&](const QModelIndex&, int first, int last) {
    EXPECT_EQ(first, 0);
    removed += last - first + 1;
  });
  for (std::int64_t n = 1; n <= 10004; ++n) {
    display.UpdateDataTables(0, n, "2024/01/01 00:00:00", tables);
    if (n % 1000 == 0 || n > 10000) model.sync();
  }
  EXPECT_EQ(model.rowCount(), 10001);
  EXPECT_EQ(model.index(0, 0).data().toString(), "4");
  EXPECT_EQ(model.index(10000, 0).data().toString(), "10004");
  EXPECT_EQ(removed, 3);
  EXPECT_EQ(resets, 0);

  // A new run empties the table.
  display.prepareScanTable(0, 10);
  display.UpdateDataTables(0, 1, "2024/01/02 00:00:00", tables);
  model.sync();
  EXPECT_EQ(model.rowCount(), 1);
  EXPECT_EQ(model.index(0, 1).data().toString(), "2024/01/02 00:00:00");
}

TEST_F(DataTableTest, ShowsTheNewestScanUntilTheUserScrollsUp) {
  connectRows({0});
  DATA_Table* w = openWindow();
  ASSERT_NE(w, nullptr);
  QTableView* grid = w->MSFlexGrid1[0];
  QScrollBar* bar = grid->verticalScrollBar();
  runScans(40);
  QCoreApplication::processEvents();
  ASSERT_GT(bar->maximum(), 0);
  EXPECT_EQ(bar->value(), bar->maximum());

  QTest::keyClick(grid, Qt::Key_PageUp);
  const int readAt = bar->value();
  ASSERT_LT(readAt, bar->maximum());
  runScans(60);  // a new run: its table starts empty and is followed again
  QCoreApplication::processEvents();
  EXPECT_EQ(bar->value(), bar->maximum());
}

}  // namespace
}  // namespace kalivor
