// SPDX-License-Identifier: MIT
// The main window over a run that the scheduler carries on: closing it mid-run, the keep-going
// option, and the window catching up with the run on its own timer.
#include <gtest/gtest.h>

#include <QAction>
#include <QCoreApplication>
#include <QPushButton>
#include <QTableView>
#include <QTableWidget>
#include <QTest>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "app/ui/main_form.h"
#include "support/ui/main_form_rig.h"

namespace kalivor {
namespace {

namespace fs = std::filesystem;

using MainFormRun = testing::MainFormRig;

TEST_F(MainFormRun, ClosingDuringARunEndsWithoutTheEndOfJobBox) {
  connectRows({0});
  program->tables.setup[0].scanCount_Status = 2;
  program->tables.setup[0].ScanTime = "1";
  program->tables.DatabaseName[0] = "Record4";
  bool closeAsked = false;
  onPump = [&](std::int64_t) {
    if (!closeAsked && program->tables.ScansDone[0] >= 3) {
      closeAsked = true;
      form->close();
    }
  };
  QTest::mouseClick(form->StartReading, Qt::LeftButton);
  ASSERT_TRUE(closeAsked);
  EXPECT_FALSE(program->run.running());
  EXPECT_FALSE(form->isVisible());
  EXPECT_TRUE(messages.texts().empty()) << messages.texts().front();
  EXPECT_EQ(program->link.DeviceSessions[0], 0u);
  // The record was closed (its lock released) with every scan the run stored.
  EXPECT_FALSE(fs::exists(folder / "db" / "Record4.mdb-lock"));
  EXPECT_GE(program->tables.ScansDone[0], 3);
}

TEST_F(MainFormRun, KeepLoggingIsAnOptionOfTheOperationMenuOffByDefault) {
  QAction* a = form->findChild<QAction*>("Keep_Logging_Menu");
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a->text(), "Keep logging when an instrument fails");
  EXPECT_TRUE(a->isCheckable());
  EXPECT_FALSE(a->isChecked());
  EXPECT_FALSE(program->run.keepGoing);
  a->trigger();
  EXPECT_TRUE(program->run.keepGoing);
  a->trigger();
  EXPECT_FALSE(program->run.keepGoing);
}

// The first meter is unplugged after 150 messages and plugged back 45 s later.
struct MainFormKeepGoing : testing::MainFormRig {
  static std::vector<sim::SimInstrumentConfig> meters() {
    auto m = sim::defaultInstruments();
    m[0].fault = "drop-after:150:back-after:45";
    return m;
  }
  MainFormKeepGoing() : MainFormRig(meters()) {}
};

TEST_F(MainFormKeepGoing, WithTheOptionTickedALostMeterIsShownReconnectingAndLogsOn) {
  connectRows({0, 1});
  form->findChild<QAction*>("Keep_Logging_Menu")->trigger();
  for (int d = 0; d < 2; ++d) {
    program->tables.setup[static_cast<std::size_t>(d)].scanCount_Status = 2;
    program->tables.setup[static_cast<std::size_t>(d)].ScanTime = "1";
  }
  program->tables.DatabaseName[0] = "Record1";
  QString shownWhileAway, rowWhileAway;
  QBrush rowColourWhileAway, otherRowColourWhileAway;
  double scansWhenBack = 0;
  bool stopped = false;
  QTableWidget* grid = form->ScanControl_MSFlexGrid;
  onPump = [&](std::int64_t) {
    const auto condition = program->run.condition(0);
    if (condition == RunController::MeterCondition::Reconnecting) {
      shownWhileAway = form->SSTab1->tabText(0);
      rowWhileAway = grid->item(0, 0)->text();
      rowColourWhileAway = grid->item(0, 3)->background();
      otherRowColourWhileAway = grid->item(1, 0)->background();
    }
    if (!shownWhileAway.isEmpty() && condition == RunController::MeterCondition::Healthy && scansWhenBack == 0)
      scansWhenBack = program->tables.ScansDone[0];
    if (!stopped && scansWhenBack > 0 && program->tables.ScansDone[0] >= scansWhenBack + 5) {
      stopped = true;  // Stop itself pumps events
      QTest::mouseClick(form->StopReading, Qt::LeftButton);
    }
  };
  QTest::mouseClick(form->StartReading, Qt::LeftButton);
  EXPECT_FALSE(program->run.running());
  EXPECT_EQ(shownWhileAway, "SIM0001 -- 20ch (reconnecting)");
  EXPECT_EQ(form->SSTab1->tabText(0), "SIM0001 -- 20ch");
  // Its row of the scan control grid says it as well, in pale red; the healthy meter's does not.
  EXPECT_EQ(rowWhileAway, "SIM0001 -- 20ch (reconnecting)");
  EXPECT_EQ(rowColourWhileAway.style(), Qt::SolidPattern);
  EXPECT_EQ(rowColourWhileAway.color(), QColor(255, 200, 200));
  EXPECT_EQ(otherRowColourWhileAway.style(), Qt::NoBrush);
  EXPECT_EQ(grid->item(0, 0)->text(), "SIM0001 -- 20ch");
  EXPECT_EQ(grid->item(0, 0)->background().style(), Qt::NoBrush);
  EXPECT_EQ(grid->item(1, 0)->text(), form->SSTab1->tabText(1));
  EXPECT_FALSE(grid->item(1, 0)->text().contains("("));
  EXPECT_EQ(messages.texts(), std::vector<std::string>{"End of Job."});
  EXPECT_TRUE(form->StartReading->isEnabled());
  const std::string log = [&] {
    std::ifstream in(folder / "db" / "kalivor-run.log");
    return std::string(std::istreambuf_iterator<char>(in), {});
  }();
  EXPECT_NE(log.find("\tSIM0001 -- 20ch\treconnected\n"), std::string::npos) << log;
}

TEST_F(MainFormRun, WithoutNestedEventLoopsTheRunStillEndsAndTheWindowShowsIt) {
  connectRows({0});
  // As the program runs it: no event processing from inside the run.
  program->runYieldsToPump = false;
  program->tables.setup[0].scanCount_Status = 1;
  program->tables.setup[0].ScanCount = "2";
  program->tables.DatabaseName[0] = "Record1";
  QTest::mouseClick(form->StartReading, Qt::LeftButton);
  EXPECT_FALSE(program->run.running());  // the manual clock lets the driver finish it at once
  EXPECT_EQ(program->tables.ScansDone[0], 2);
  EXPECT_EQ(messages.texts(), std::vector<std::string>{"End of Job."});
  EXPECT_TRUE(form->StartReading->isEnabled());
  EXPECT_EQ(form->MSFlexGrid2[0]->model()->rowCount(), 2);
}

}  // namespace
}  // namespace kalivor
