// SPDX-License-Identifier: MIT
#include "app/ui/main_form.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTableView>
#include <QTableWidget>
#include <QTest>
#include <filesystem>

#include "app/ui/connect_form.h"
#include "support/ui/main_form_rig.h"

namespace kalivor {
namespace {

namespace fs = std::filesystem;

using MainFormTest = testing::MainFormRig;

TEST_F(MainFormTest, StartsWithRunControlsGreyedAndDeviceTabs) {
  EXPECT_EQ(form->windowTitle(), "KALIVOR MAIN");
  EXPECT_FALSE(form->StartReading->isEnabled());
  EXPECT_FALSE(form->StopReading->isEnabled());
  EXPECT_FALSE(form->Start_Reading_Menu->isEnabled());
  EXPECT_FALSE(form->dbSet->isEnabled());
  EXPECT_TRUE(form->Add_Remove_Instruments_Button->isEnabled());
  for (int i = 0; i < 4; ++i) EXPECT_EQ(form->SSTab1->tabText(i), QString("Deviec %1").arg(i));
  // Discovery ran at start-up without showing anything.
  EXPECT_EQ(program->link.InstrumentCount, 0);
  EXPECT_TRUE(messages.shown.empty());
  testing::screenshot(*form, "main_window_start");
}

TEST_F(MainFormTest, EveryLabelIsShownWholeBesideItsControls) {
  connectRows({0});
  auto labelled = [&](const QString& text) -> QLabel* {
    for (QLabel* l : form->findChildren<QLabel*>())
      if (l->text() == text && l->isVisible()) return l;
    return nullptr;
  };
  for (const char* text : {"Readings", "Fetch Time :", "Now Time Seconds :", "X-Axis :", "Y-scal :", "Ref."}) {
    QLabel* l = labelled(text);
    ASSERT_NE(l, nullptr) << text;
    EXPECT_GE(l->width(), l->sizeHint().width()) << text;
  }
  // "Readings" heads the scan table as "Fetch Time :" heads the fetch times.
  QLabel* readings = labelled("Readings");
  const QRect table = form->MSFlexGrid2[0]->geometry();
  EXPECT_EQ(readings->parentWidget(), form->MSFlexGrid2[0]->parentWidget());
  EXPECT_LE(readings->geometry().bottom(), table.top());
  EXPECT_EQ(readings->x(), table.x());
  EXPECT_EQ(readings->y(), labelled("Fetch Time :")->y());
}

TEST_F(MainFormTest, ConnectingTheSecondInstrumentFillsSlotZero) {
  connectRows({1});
  EXPECT_EQ(program->link.InstrumentCount, 1);
  EXPECT_EQ(program->link.slots[0].DiscoveredIndex, 1);
  EXPECT_EQ(form->SSTab1->tabText(0), QString("SIM0002 --  TC-Scanner Card  -- 10ch"));
  EXPECT_FALSE(form->SSTab1->isTabVisible(1));
  EXPECT_EQ(form->Channel_MSFlexGrid[0]->rowCount(), 2);
  EXPECT_EQ(form->Channel_MSFlexGrid[0]->item(0, 0)->text(), QString("CH 1(TCOUPL)"));
  EXPECT_TRUE(form->StartReading->isEnabled());
  EXPECT_EQ(form->ScanControl_MSFlexGrid->item(0, 2)->text(), QString("Default"));
}

TEST_F(MainFormTest, RunShowsScansAndEndsWithEndOfJob) {
  connectRows({0, 1});
  ScanSetup& s = program->tables.setup[0];
  s.scanCount_Status = 1;
  s.ScanCount = "3";
  program->tables.setup[1].scanCount_Status = 1;
  program->tables.setup[1].ScanCount = "2";
  program->tables.DatabaseName[0] = "Record1";
  bool lockedDuringRun = false;
  onPump = [&](std::int64_t) {
    if (program->run.running() && !form->StartReading->isEnabled() && form->StopReading->isEnabled() &&
        !form->Add_Remove_Instruments_Button->isEnabled())
      lockedDuringRun = true;
  };
  QTest::mouseClick(form->StartReading, Qt::LeftButton);
  EXPECT_TRUE(lockedDuringRun);
  EXPECT_EQ(messages.texts(), std::vector<std::string>{"End of Job."});
  EXPECT_EQ(form->MSFlexGrid2[0]->model()->rowCount(), 3);
  EXPECT_EQ(form->MSFlexGrid2[1]->model()->rowCount(), 2);
  EXPECT_EQ(form->MSFlexGrid2[0]->model()->index(2, 0).data().toString(), QString("3"));
  EXPECT_FALSE(form->Channel_MSFlexGrid[0]->item(1, 0)->text().isEmpty());
  EXPECT_TRUE(form->StartReading->isEnabled());
  EXPECT_TRUE(fs::exists(folder / "db" / "Record1.mdb"));
  testing::screenshot(*form, "main_window_after_run");
}

TEST_F(MainFormTest, StopButtonEndsARunningScan) {
  connectRows({0});
  program->tables.setup[0].ScanTime = "1";
  // One press: the stop redraws the chart, which lets events run again.
  bool pressed = false;
  onPump = [&](std::int64_t) {
    if (!pressed && program->tables.ScansDone[0] >= 4 && form->StopReading->isEnabled()) {
      pressed = true;
      QTest::mouseClick(form->StopReading, Qt::LeftButton);
    }
  };
  QTest::mouseClick(form->StartReading, Qt::LeftButton);
  EXPECT_FALSE(program->run.running());
  EXPECT_EQ(program->tables.ScansDone[0], 4);
  // No record was chosen: the one question first.
  EXPECT_EQ(messages.texts(), (std::vector<std::string>{kNoRecordQuestion, "End of Job."}));
}

TEST_F(MainFormTest, ClosingDuringARunStopsItAndClosesTheRecords) {
  connectRows({0});
  program->tables.setup[0].ScanTime = "1";
  program->tables.DatabaseName[0] = "Record3";
  bool closeAsked = false;
  onPump = [&](std::int64_t) {
    if (!closeAsked && program->tables.ScansDone[0] >= 2) {
      closeAsked = true;
      form->close();
    }
  };
  QTest::mouseClick(form->StartReading, Qt::LeftButton);
  EXPECT_FALSE(program->run.running());
  EXPECT_FALSE(form->isVisible());
  EXPECT_EQ(program->link.DeviceSessions[0], 0u);  // sessions closed by the shutdown
  EXPECT_TRUE(fs::exists(folder / "db" / "Record3.mdb"));
}

TEST_F(MainFormTest, ExitEndsAtOnceWithoutTheShutdownSteps) {
  connectRows({0});
  bool exited = false;
  form->exitNow = [&] { exited = true; };
  form->Exit_comm->trigger();
  EXPECT_TRUE(exited);
  EXPECT_NE(program->link.DeviceSessions[0], 0u);  // nothing was closed
}

TEST_F(MainFormTest, ATabPickedDuringARunStaysShown) {
  connectRows({0, 1});
  ASSERT_EQ(form->SSTab1->currentIndex(), 0);
  QTabBar* bar = form->SSTab1->tabBar();
  int shownAtLaterScans = -1;
  bool picked = false;
  onPump = [&](std::int64_t) {
    const std::int64_t done = program->tables.ScansDone[0];
    if (!picked && done >= 2) {
      picked = true;
      QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(1).center());
    }
    if (done >= 5 && shownAtLaterScans < 0) shownAtLaterScans = form->SSTab1->currentIndex();
  };
  runScans(8);
  ASSERT_TRUE(picked);
  EXPECT_EQ(shownAtLaterScans, 1);
  EXPECT_EQ(form->SSTab1->currentIndex(), 1);
  EXPECT_TRUE(form->MSFlexGrid2[1]->isVisible());

  // The next run starts on the first instrument again, as before.
  onPump = nullptr;
  runScans(1);
  EXPECT_EQ(form->SSTab1->currentIndex(), 0);
  // Idle, a tab is picked as always.
  QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(1).center());
  form->syncFromCore();
  EXPECT_EQ(form->SSTab1->currentIndex(), 1);
}

// Whether the grid's newest row lies wholly inside its viewport's height.
bool newestRowShown(QTableView* view) {
  const int last = view->model()->rowCount() - 1;
  const QRect r = view->visualRect(view->model()->index(last, 0));
  return last >= 0 && r.height() > 0 && r.top() >= 0 && r.bottom() < view->viewport()->height();
}

TEST_F(MainFormTest, TheScanTableFollowsTheRunUnlessScrolledAway) {
  connectRows({0});
  QTableView* table = form->MSFlexGrid2[0];
  bool shownWhileRunning = true;
  onPump = [&](std::int64_t) {
    QCoreApplication::processEvents();
    if (program->tables.ScansDone[0] >= 10) shownWhileRunning = shownWhileRunning && newestRowShown(table);
  };
  runScans(27);
  QCoreApplication::processEvents();
  ASSERT_EQ(table->model()->rowCount(), 27);
  EXPECT_TRUE(shownWhileRunning);
  EXPECT_TRUE(newestRowShown(table));
  EXPECT_GT(table->rowAt(0), 0);  // the first scans have gone up out of view

  // Scrolled back to the first scans: they stay in view while later scans arrive.
  bool scrolled = false;
  bool firstRowStayed = true;
  onPump = [&](std::int64_t) {
    QCoreApplication::processEvents();
    if (!scrolled && program->tables.ScansDone[0] >= 10) {
      scrolled = true;
      QTest::keyClick(table, Qt::Key_Home, Qt::ControlModifier);
    }
    if (scrolled) firstRowStayed = firstRowStayed && table->rowAt(0) == 0;
  };
  runScans(30);
  QCoreApplication::processEvents();
  ASSERT_TRUE(scrolled);
  EXPECT_TRUE(firstRowStayed);
  EXPECT_EQ(table->rowAt(0), 0);
  EXPECT_FALSE(newestRowShown(table));

  // Back at the end, it follows again.
  QTest::keyClick(table, Qt::Key_End, Qt::ControlModifier);
  onPump = nullptr;
  runScans(40);
  QCoreApplication::processEvents();
  EXPECT_TRUE(newestRowShown(table));
}

TEST_F(MainFormTest, TheScanControlGridShowsStartAndStopWholeOrAsToolTips) {
  connectRows({0, 1});
  ScanSetup& second = program->tables.setup[1];
  second.StopAtTime = 1;
  second.StopTime = "2099/12/31 23:59:58";
  runScans(2);
  QTableWidget* g = form->ScanControl_MSFlexGrid;
  // The stop column: the stop time when one is set, else "user".
  EXPECT_EQ(g->item(0, 5)->text(), "user");
  EXPECT_EQ(g->item(1, 5)->text(), "2099/12/31 23:59:58");
  // The start column: the first stored scan's time stamp, shown whole.
  const QString started = g->item(1, 4)->text();
  EXPECT_EQ(started.toStdString(), program->display.scanTables[1].rows.front()[1]);
  for (int r = 0; r < 2; ++r) {
    for (int c : {4, 5}) {
      const QString text = g->item(r, c)->text();
      EXPECT_LE(g->fontMetrics().horizontalAdvance(text) + 6, g->columnWidth(c)) << text.toStdString();
    }
  }
  // A description longer than its column is there whole as the cell's tool tip.
  const QString description = g->item(1, 0)->text();
  EXPECT_EQ(description.toStdString(), program->display.deviceList[1]);
  EXPECT_EQ(g->item(1, 0)->toolTip(), description);
  testing::screenshot(*form, "main_window_scan_control");
}

TEST_F(MainFormTest, ConfirmingNothingResetsTheMainWindow) {
  connectRows({0});
  ASSERT_TRUE(form->StartReading->isEnabled());
  connectRows({0});  // pre-ticked: clicking unticks it
  EXPECT_EQ(program->link.InstrumentCount, 0);
  EXPECT_FALSE(form->StartReading->isEnabled());
  EXPECT_EQ(form->SSTab1->tabText(2), QString("Deviec 2"));
}

}  // namespace
}  // namespace kalivor
