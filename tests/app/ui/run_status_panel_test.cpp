// SPDX-License-Identifier: MIT
// The main window's run status: which record each instrument logs into, the question before a run
// that would store nothing, the per-instrument state and the free-space line.
#include <gtest/gtest.h>

#include <QAction>
#include <QLabel>
#include <QTabBar>
#include <QTabWidget>
#include <QTableWidget>
#include <QTest>
#include <filesystem>

#include "acquisition/run_status.h"
#include "app/ui/main_form.h"
#include "support/ui/main_form_rig.h"

namespace kalivor {
namespace {

namespace fs = std::filesystem;

using RunStatusPanel = testing::MainFormRig;

std::string cell(QTableWidget* g, int r, int c) {
  const QTableWidgetItem* item = g->item(r, c);
  return item ? item->text().toStdString() : "<none>";
}

TEST_F(RunStatusPanel, StartWithNoRecordAsksOnceAndNoLeavesEverythingAsItWas) {
  connectRows({0, 1});
  for (int d = 0; d < 2; ++d) {
    program->tables.setup[static_cast<std::size_t>(d)].scanCount_Status = 1;
    program->tables.setup[static_cast<std::size_t>(d)].ScanCount = "2";
  }
  const auto enabledBefore = program->display.enabled;
  messages.answers = {MessageAnswer::No};
  QTest::mouseClick(form->StartReading, Qt::LeftButton);
  ASSERT_EQ(messages.shown.size(), 1u);
  EXPECT_EQ(messages.shown[0].text, "No record is chosen: the scans of this run will not be saved. Start anyway?");
  EXPECT_EQ(messages.shown[0].buttons, MessageButtons::YesNo);
  EXPECT_EQ(messages.shown[0].title, "KALIVOR");
  EXPECT_FALSE(program->run.running());
  EXPECT_EQ(program->tables.ScansDone[0], 0);
  EXPECT_TRUE(form->StartReading->isEnabled());
  EXPECT_EQ(program->display.enabled, enabledBefore);
  EXPECT_EQ(program->tables.DatabaseName[0], "0");
  EXPECT_FALSE(fs::exists(folder / "db") && !fs::is_empty(folder / "db"));

  // The menu's Start asks the same; Yes runs, and nothing else is asked.
  messages.clear();
  form->Start_Reading_Menu->trigger();
  EXPECT_EQ(messages.texts(), (std::vector<std::string>{kNoRecordQuestion, "End of Job."}));
  EXPECT_EQ(program->tables.ScansDone[0], 2);
  EXPECT_EQ(program->tables.ScansDone[1], 2);
}

TEST_F(RunStatusPanel, ARecordForAnyInstrumentStartsWithoutTheQuestion) {
  connectRows({0, 1});
  program->tables.DatabaseName[1] = "Record2";
  runScans(2);
  EXPECT_EQ(messages.texts(), std::vector<std::string>{"End of Job."});
  EXPECT_EQ(program->tables.ScansDone[1], 2);
}

TEST_F(RunStatusPanel, BeforeAndDuringTheRunEachInstrumentShowsItsRecordOrNone) {
  QTableWidget* g = form->RunStatus_Grid;
  EXPECT_EQ(g->objectName(), "RunStatus_Grid");
  EXPECT_FALSE(g->isVisible());  // nothing selected yet
  connectRows({0, 1});
  program->tables.DatabaseName[0] = "Record1";
  form->syncFromCore();
  ASSERT_TRUE(g->isVisible());
  ASSERT_EQ(g->rowCount(), 2);
  ASSERT_EQ(g->columnCount(), 5);
  EXPECT_EQ(g->horizontalHeaderItem(1)->text(), "Record");
  EXPECT_EQ(cell(g, 0, 0), "SIM0001 -- 20ch");
  EXPECT_EQ(cell(g, 0, 1), "Record1");
  EXPECT_EQ(cell(g, 1, 1), "none (not saved)");
  EXPECT_EQ(cell(g, 0, 4), "idle");
  // The tabs tell it too: the one that logs nowhere in red.
  EXPECT_EQ(form->SSTab1->tabToolTip(0), "Logs into Record1");
  EXPECT_EQ(form->SSTab1->tabToolTip(1), "Logs nowhere: no record is chosen");
  EXPECT_FALSE(form->SSTab1->tabBar()->tabTextColor(0).isValid());
  EXPECT_EQ(form->SSTab1->tabBar()->tabTextColor(1), QColor(180, 0, 0));

  program->tables.setup[0].scanCount_Status = 2;
  program->tables.setup[0].ScanTime = "5";
  program->tables.setup[1].scanCount_Status = 1;
  program->tables.setup[1].ScanCount = "1";
  std::string midState;
  std::string midScans;
  std::string midLast;
  onPump = [&](std::int64_t) {
    if (midState.empty() && program->tables.ScansDone[0] >= 3 && program->run.WaitFlag[0] != 0) {
      midState = cell(g, 0, 4);
      midScans = cell(g, 0, 2);
      midLast = cell(g, 0, 3);
      QTest::mouseClick(form->StopReading, Qt::LeftButton);
    }
  };
  QTest::mouseClick(form->StartReading, Qt::LeftButton);
  EXPECT_EQ(midState, "waiting for the next interval");
  EXPECT_EQ(midScans, "3");
  EXPECT_EQ(midLast.size(), 19u);
  EXPECT_EQ(cell(g, 0, 4), "finished");
  EXPECT_EQ(cell(g, 1, 4), "finished");
  EXPECT_EQ(cell(g, 1, 2), "0");  // scanned, but stored nowhere
  EXPECT_EQ(cell(g, 0, 3), program->display.scanTables[0].rows.back()[1]);

  // A new selection without the second instrument drops its row and its tab's marks.
  connectRows({0});
  form->syncFromCore();
  EXPECT_EQ(g->rowCount(), 1);
  EXPECT_TRUE(form->SSTab1->tabToolTip(1).isEmpty());
}

TEST_F(RunStatusPanel, FreeSpaceIsShownAndWarnsBelowOneHundredMegabytes) {
  std::optional<std::uintmax_t> free = 7'300'000'000ull;
  program->status.setSpaceProbe([&](const fs::path&) { return free; });
  form->syncFromCore();
  QLabel* l = form->FreeSpace_Label;
  EXPECT_TRUE(l->text().startsWith("Free space: 7.3 GB in ")) << l->text().toStdString();
  EXPECT_FALSE(l->font().bold());
  free = 42'000'000;
  form->syncFromCore();
  EXPECT_TRUE(l->text().startsWith("Low disk space: only 42 MB free in ")) << l->text().toStdString();
  EXPECT_TRUE(l->toolTip().endsWith(QString::fromStdString((folder / "db").string())));
  EXPECT_TRUE(l->font().bold());
  EXPECT_EQ(l->palette().color(QPalette::WindowText), QColor(180, 0, 0));
  // The label keeps within its place however long the folder's name.
  EXPECT_LE(l->fontMetrics().horizontalAdvance(l->text()), l->width());
}

TEST_F(RunStatusPanel, AnExtraColumnAppearsOnlyOnceItIsSet) {
  connectRows({0, 1});
  form->syncFromCore();
  EXPECT_EQ(form->RunStatus_Grid->columnCount(), 5);
  program->status.setExtraColumn("Central", [](int slot) { return slot == 0 ? "connected" : "2 waiting"; });
  form->syncFromCore();
  ASSERT_EQ(form->RunStatus_Grid->columnCount(), 6);
  EXPECT_EQ(form->RunStatus_Grid->horizontalHeaderItem(5)->text(), "Central");
  EXPECT_EQ(cell(form->RunStatus_Grid, 1, 5), "2 waiting");
}

}  // namespace
}  // namespace kalivor
