// SPDX-License-Identifier: MIT
#pragma once
// The main window over the simulated instruments (a 20-channel card and a 10-channel
// thermocouple card) with both selected, the scan windows wired in, scripted messages and dialogs.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QCoreApplication>
#include <QLineEdit>
#include <QTableWidget>
#include <QTest>
#include <memory>

#include "app/program.h"
#include "app/ui/main_form.h"
#include "scan/ui/scan_set.h"
#include "app/ui/window_wiring.h"
#include "sim/sim_config.h"
#include "sim/sim_provider.h"
#include "store/store_fixture.h"
#include "support/ui/qt_app.h"
#include "visa/resource_manager.h"

namespace kalivor::testing {

struct ScanWindowRig {
  explicit ScanWindowRig(int selected = 2) {
    qtApp();
    auto provider = std::make_unique<sim::SimProvider>(clock, sim::defaultInstruments());
    sim = provider.get();
    std::vector<std::unique_ptr<visa::DeviceProvider>> providers;
    providers.push_back(std::move(provider));
    program = std::make_unique<Program>(
        clock, std::make_unique<visa::ResourceManager>(std::move(providers)), messages, dialogs,
        pump, folder.root());
    main = std::make_unique<MainForm>(*program);
    wireScanWindows(*main, *program);
    main->load();
    program->selection.Find_Button_Click();
    for (int i = 0; i < 4; ++i)
      program->selection.Check1[static_cast<std::size_t>(i)] = i < selected;
    program->selection.ok_Button_Click();
    program->selection.applyToMainWindow();
    main->syncFromCore();
  }
  ~ScanWindowRig() {
    main.reset();
    flushDeletes();
  }

  static void flushDeletes() {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  }

  // The scan settings window as the main window's button opens it (nullptr when none is loaded).
  Scan_Set* open() {
    main->openScanSettings();
    return window();
  }
  Scan_Set* window() const {
    for (Scan_Set* w : main->findChildren<Scan_Set*>(QString(), Qt::FindDirectChildrenOnly)) {
      if (!w->unloaded()) return w;
    }
    return nullptr;
  }

  // What a user does with the mouse on a grid cell (the per-row controls lie above the cells, so
  // the click goes to the grid's cell area itself).
  static void clickCell(Scan_Set& w, int row, int col, Qt::KeyboardModifiers mods = {}) {
    QTableWidget* g = w.ScanSet_MSFlexGrid;
    QTest::mouseClick(g->viewport(), Qt::LeftButton, mods,
                      g->visualRect(g->model()->index(row, col)).center());
  }
  // Picking an entry of a drop-down list.
  static void choose(QComboBox* list, const QString& text) {
    const int index = list->findText(text);
    ASSERT_GE(index, 0) << text.toStdString();
    list->setCurrentIndex(index);
    Q_EMIT list->activated(index);
  }
  // Replacing a box's text by typing.
  static void retype(QLineEdit* box, const QString& text) {
    box->setFocus();
    box->selectAll();
    QTest::keyClicks(box, text);
  }
  static QString cell(Scan_Set& w, int row, int col) {
    QTableWidgetItem* item = w.ScanSet_MSFlexGrid->item(row, col);
    return item ? item->text() : QString();
  }

  ManualClock clock;
  RecordingMessages messages;
  ScriptedDialogs dialogs;
  CallbackEventPump pump;
  store::test::TempDataFolder folder;
  sim::SimProvider* sim = nullptr;  // owned by the program's resource manager
  std::unique_ptr<Program> program;
  std::unique_ptr<MainForm> main;
};

}  // namespace kalivor::testing
