// SPDX-License-Identifier: MIT
#pragma once
// A program over the simulated instruments with a temporary data folder, scripted messages and
// dialogs, for the tests of the record windows.
#include <gtest/gtest.h>

#include <QImage>
#include <memory>

#include "app/program.h"
#include "sim/sim_config.h"
#include "sim/sim_provider.h"
#include "store/store_fixture.h"
#include "support/ui/qt_app.h"
#include "visa/resource_manager.h"

namespace kalivor::testing {

struct RecordWindowRig {
  RecordWindowRig() {
    qtApp();
    std::vector<std::unique_ptr<visa::DeviceProvider>> providers;
    providers.push_back(std::make_unique<sim::SimProvider>(clock, sim::defaultInstruments()));
    program = std::make_unique<Program>(
        clock, std::make_unique<visa::ResourceManager>(std::move(providers)), messages, dialogs,
        pump, folder.root());
  }

  // What the connect window's confirmation does with the first n instruments ticked.
  void selectInstruments(int n) {
    program->selection.Find_Button_Click();
    for (int i = 0; i < 4; ++i) program->selection.Check1[static_cast<std::size_t>(i)] = i < n;
    program->selection.ok_Button_Click();
    program->selection.applyToMainWindow();
  }

  ManualClock clock;
  RecordingMessages messages;
  ScriptedDialogs dialogs;
  CallbackEventPump pump;
  store::test::TempDataFolder folder;
  std::unique_ptr<Program> program;
};

}  // namespace kalivor::testing
