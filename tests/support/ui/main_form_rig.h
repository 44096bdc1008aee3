// SPDX-License-Identifier: MIT
#pragma once
// The main window over simulated meters, as the windowed program builds it: manual clock,
// recording messages, scripted dialogs, a pump that refreshes the window and runs the test's
// callback, and a record folder of its own. The window is shown and loaded.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QCheckBox>
#include <QCoreApplication>
#include <QPushButton>
#include <QTest>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/program.h"
#include "app/ui/connect_form.h"
#include "app/ui/main_form.h"
#include "common/clock.h"
#include "common/dialogs.h"
#include "common/event_pump.h"
#include "common/messages.h"
#include "sim/sim_config.h"
#include "sim/sim_provider.h"
#include "support/ui/qt_app.h"
#include "visa/resource_manager.h"

namespace kalivor::testing {

inline std::unique_ptr<visa::VisaApi> simulatedVisa(Clock& clock,
                                                    std::vector<sim::SimInstrumentConfig> meters) {
  std::vector<std::unique_ptr<visa::DeviceProvider>> providers;
  providers.push_back(std::make_unique<sim::SimProvider>(clock, std::move(meters)));
  return std::make_unique<visa::ResourceManager>(std::move(providers));
}

// The free space the pictures for the docs show.
inline constexpr std::uintmax_t kDemoFreeBytes = 48'300'000'000;

struct MainFormRig : ::testing::Test {
  explicit MainFormRig(std::vector<sim::SimInstrumentConfig> meters = sim::defaultInstruments()) {
    qtApp();
    folder = std::filesystem::temp_directory_path() /
             ("kalivor-mainform-" + std::to_string(::getpid()) + "-" +
              ::testing::UnitTest::GetInstance()->current_test_info()->name());
    // Pictures for the docs show a plain record folder and a steady free space, the same from
    // run to run; scripts/screenshots.sh names the folder and keeps it to itself meanwhile.
    const char* demo = std::getenv("KALIVOR_DEMO_FOLDER");
    if (demo && *demo) folder = demo;
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    program = std::make_unique<Program>(clock, simulatedVisa(clock, std::move(meters)), messages,
                                        dialogs, pump, folder);
    // The run's old yield points call the pump, so tests can press buttons in the middle of it.
    program->runYieldsToPump = true;
    if (demo && *demo) program->status.setSpaceProbe([](const std::filesystem::path&) { return kDemoFreeBytes; });
    form = std::make_unique<MainForm>(*program);
    pump.set([this](std::int64_t call) {
      form->syncFromCore();
      QCoreApplication::processEvents();
      if (onPump) onPump(call);
    });
    form->show();
    form->load();
  }
  ~MainFormRig() override {
    form.reset();
    program.reset();
    std::filesystem::remove_all(folder);
  }

  // Opens the connect window, ticks the given rows and confirms.
  void connectRows(std::vector<int> rows) {
    form->onConnectFormShown = [rows](Connect_Form& f) {
      for (int r : rows) QTest::mouseClick(f.Check1[static_cast<std::size_t>(r)], Qt::LeftButton);
      QTest::mouseClick(f.ok_Button, Qt::LeftButton);
    };
    QTest::mouseClick(form->Add_Remove_Instruments_Button, Qt::LeftButton);
  }

  // Every selected slot runs `scans` scans and stops by itself.
  void runScans(int scans) {
    for (int d = 0; d < program->link.InstrumentCount; ++d) {
      program->tables.setup[static_cast<std::size_t>(d)].scanCount_Status = 1;
      program->tables.setup[static_cast<std::size_t>(d)].ScanCount = std::to_string(scans);
    }
    QTest::mouseClick(form->StartReading, Qt::LeftButton);
  }

  ManualClock clock;
  RecordingMessages messages;
  ScriptedDialogs dialogs;
  CallbackEventPump pump;
  std::filesystem::path folder;
  std::unique_ptr<Program> program;
  std::unique_ptr<MainForm> form;
  std::function<void(std::int64_t)> onPump;
};

}  // namespace kalivor::testing
