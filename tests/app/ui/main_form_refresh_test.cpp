// SPDX-License-Identifier: MIT
// Bringing the main window up to date repaints what changed and nothing else: every stored scan
// brings it up to date, and each needless cell or button update costs a repaint.
#include <gtest/gtest.h>

#include <QAbstractItemModel>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTableWidget>

#include "app/ui/main_form.h"
#include "support/ui/main_form_rig.h"

namespace kalivor {
namespace {

using MainFormRefresh = testing::MainFormRig;

// Counts the cell updates of a grid and the enabled-state changes of a button.
struct Watch : QObject {
  Watch(QTableWidget* grid, QPushButton* button) {
    connect(grid->model(), &QAbstractItemModel::dataChanged, this, [this] { ++cellUpdates; });
    button->installEventFilter(this);
  }
  bool eventFilter(QObject*, QEvent* e) override {
    if (e->type() == QEvent::EnabledChange) ++enabledChanges;
    return false;
  }
  int cellUpdates = 0;
  int enabledChanges = 0;
};

TEST_F(MainFormRefresh, ARefreshWithNothingNewTouchesNoCellAndNoButton) {
  connectRows({0, 1});
  program->tables.DatabaseName[0] = "Record1";
  runScans(2);
  form->syncFromCore();
  Watch channels(form->Channel_MSFlexGrid[0], form->SaveChart);
  Watch status(form->RunStatus_Grid, form->PrintSet);
  const QString caption = form->SSTab1->tabText(0);
  // As after a stored scan that changed nothing shown.
  ++program->display.revision;
  form->syncFromCore();
  EXPECT_EQ(channels.cellUpdates, 0);
  EXPECT_EQ(status.cellUpdates, 0);
  EXPECT_EQ(channels.enabledChanges, 0);  // saving the chart follows printing, without a flicker
  EXPECT_EQ(form->SSTab1->tabText(0), caption);

  // A new reading shows, in its cell only.
  GridCell& cell = program->display.channelGrids[0].cells[1][3];
  cell.text = "+1.234567E+00";
  ++program->display.revision;
  form->syncFromCore();
  EXPECT_EQ(form->Channel_MSFlexGrid[0]->item(1, 3)->text().toStdString(), "+1.234567E+00");
  EXPECT_EQ(channels.cellUpdates, 1);
  // An alarm colours it; back in band, it is plain again.
  cell.alarm = AlarmMark::High;
  ++program->display.revision;
  form->syncFromCore();
  const QBrush alarmed = form->Channel_MSFlexGrid[0]->item(1, 3)->background();
  cell.alarm = AlarmMark::None;
  ++program->display.revision;
  form->syncFromCore();
  EXPECT_NE(form->Channel_MSFlexGrid[0]->item(1, 3)->background(), alarmed);
  EXPECT_EQ(form->Channel_MSFlexGrid[0]->item(1, 3)->foreground(), QBrush());
  // Printing locked locks saving the chart.
  program->display.enabled["PrintSet"] = false;
  ++program->display.revision;
  form->syncFromCore();
  EXPECT_FALSE(form->SaveChart->isEnabled());
  EXPECT_EQ(channels.enabledChanges, 1);
}

}  // namespace
}  // namespace kalivor
