// SPDX-License-Identifier: MIT
#pragma once
// Choosing instruments: the connect window's list and tick boxes, its confirmation into slots,
// the silent re-connection after a communication failure, and what the main window does after
// the connect window has closed.
#include <array>
#include <functional>
#include <string>

#include "acquisition/live_display.h"
#include "acquisition/run_controller.h"
#include "instrument/instrument_link.h"
#include "scan/setup_tables.h"

namespace kalivor {

// Windows that the selection unloads or resets; the windowed program fills these in.
struct SelectionHooks {
  std::function<void()> unloadScanSettings;
  std::function<void()> unloadDataTable;
  std::function<void()> unloadConnectWindow;
  std::function<void()> hideConnectWindow;
  // Clears the chart and sets its axis labels to "0" and "20".
  std::function<void()> resetChart;
};

class InstrumentSelection {
 public:
  InstrumentSelection(InstrumentLink& link, ScanTables& tables, LiveDisplay& display,
                      RunController& run);

  // Refresh ("Refresh List" and loading the connect window): close, discover, list, pre-tick.
  void Find_Button_Click();
  // OK: the ticked rows become slots 0..n-1 with default setups.
  void ok_Button_Click();
  // Re-discovers and re-selects the instruments that were selected, without the window.
  void CheckDev();
  // The main window after the connect window has closed (and at start-up).
  void applyToMainWindow();

  // Rows of the connect window's grid: one per listed instrument.
  int listedCount() const { return link_.InstrumentCount; }
  int tickedCount() const;
  const std::string& modelOf(int row) const { return link_.identified[static_cast<std::size_t>(row)].Model; }
  const std::string& descriptionOf(int row) const {
    return link_.identified[static_cast<std::size_t>(row)].Description;
  }

  // The defaults every slot 0..3 gets when a selection is confirmed (and at start-up).
  void resetSlotSetups();

  // The main window shows what each selected meter's channels measure, asking the meters. The CLI
  // turns it off: the scan settings' read-back asks them anyway, once, before the setup is sent.
  bool readChannelFunctions = true;

  std::array<bool, kMaxInstruments> Check1{};
  std::array<bool, kMaxInstruments> Check1Visible{};
  SelectionHooks hooks;

 private:
  void confirm(bool resetMainWindow);
  void showSelectedSlots();

  InstrumentLink& link_;
  ScanTables& tables_;
  LiveDisplay& display_;
  RunController& run_;
  int listed_ = 0;  // instruments listed by the last refresh
};


}  // namespace kalivor
