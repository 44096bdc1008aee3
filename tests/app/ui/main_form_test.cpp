#include "app/ui/main_form.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QListWidget>
#include <QPushButton>
#include <QTabWidget>
#include <QTableView>
#include <QTableWidget>
#include <QTest>
#include <filesystem>

#include "app/ui/connect_form.h"
#include "sim/sim_provider.h"
#include "support/ui/qt_app.h"
#include "visa/resource_manager.h"

namespace kalivor {
namespace {

namespace fs = std::filesystem;

std::unique_ptr<visa::VisaApi> simulated(Clock& clock, std::vector<sim::SimInstrumentConfig> meters) {
  std::vector<std::unique_ptr<visa::DeviceProvider>> providers;
  providers.push_back(std::make_unique<sim::SimProvider>(clock, std::move(meters)));
  return std::make_unique<visa::ResourceManager>(std::move(providers));
}

struct MainFormTest : ::testing::Test {
  explicit MainFormTest(std::vector<sim::SimInstrumentConfig> meters = sim::defaultInstruments()) {
    testing::qtApp();
    folder = fs::temp_directory_path() / ("kalivor-mainform-" + std::to_string(::getpid()) + "-" +
                                          ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(folder);
    fs::create_directories(folder);
    program = std::make_unique<Program>(clock, simulated(clock, std::move(meters)), messages, dialogs,
                                        pump, folder);
    form = std::make_unique<MainForm>(*program);
    pump.set([this](std::int64_t call) {
      form->syncFromCore();
      QCoreApplication::processEvents();
      if (onPump) onPump(call);
    });
    form->show();
    form->load();
  }
  ~MainFormTest() override {
    form.reset();
    program.reset();
    fs::remove_all(folder);
  }

  // Opens the connect window, ticks the given rows and confirms.
  void connectRows(std::vector<int> rows) {
    form->onConnectFormShown = [rows](Connect_Form& f) {
      for (int r : rows) QTest::mouseClick(f.Check1[static_cast<std::size_t>(r)], Qt::LeftButton);
      QTest::mouseClick(f.ok_Button, Qt::LeftButton);
    };
    QTest::mouseClick(form->Add_Remove_Instruments_Button, Qt::LeftButton);
  }

  ManualClock clock;
  RecordingMessages messages;
  ScriptedDialogs dialogs;
  CallbackEventPump pump;
  fs::path folder;
  std::unique_ptr<Program> program;
  std::unique_ptr<MainForm> form;
  std::function<void(std::int64_t)> onPump;
};

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
  onPump = [&](std::int64_t) {
    if (program->tables.ScansDone[0] >= 4 && form->StopReading->isEnabled())
      QTest::mouseClick(form->StopReading, Qt::LeftButton);
  };
  QTest::mouseClick(form->StartReading, Qt::LeftButton);
  EXPECT_FALSE(program->run.running());
  EXPECT_EQ(program->tables.ScansDone[0], 4);
  EXPECT_EQ(messages.texts(), std::vector<std::string>{"End of Job."});
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
