// SPDX-License-Identifier: MIT
#include "app/selection.h"

#include "common/numbers.h"

namespace kalivor {

namespace {

// Scan type SCAN, run until Stop, intervals 0.5 s, no start or stop time, no record, and per
// channel division 1, offset 0, no reading, a 1 ohm shunt without offset and no sensor type.
// Functions and colours stay.
void resetSlotDefaults(ScanTables& tables, int slot, LocalMs now) {
  const auto d = static_cast<std::size_t>(slot);
  tables.ScansDone[d] = 0;
  tables.DatabaseName[d] = "0";
  ScanSetup& s = tables.setup[d];
  s.ScanType = "SCAN";
  s.scanCount_Status = 2;
  s.ScanCount = "0";
  s.ChannelInterval = 0;
  s.ChannelTime = numberToText(0.5);
  s.ScanInterval = 0;
  s.ScanTime = "0.5";
  s.StartAtTime = 0;
  s.StartTime = formatDateTime(now);
  s.StopAtTime = 0;
  s.StopTime = formatDateTime(now);
  for (int c = 0; c < kMaxChannels; ++c) {
    ChannelSetup& ch = tables.channel[d][static_cast<std::size_t>(c)];
    ch.Division = "1";
    ch.Offset = "0";
    ch.Ohm = 1.0;
    ch.Current = 0.0;
    ch.TEMP_TCO = "None";
    tables.ReadingText[d][static_cast<std::size_t>(c)] = " ";
  }
}

}  // namespace

void InstrumentSelection::resetSlotSetups() {
  const LocalMs now = link_.clock().now();
  for (int d = 0; d < kMaxInstruments; ++d) resetSlotDefaults(tables_, d, now);
}

InstrumentSelection::InstrumentSelection(InstrumentLink& link, ScanTables& tables,
                                         LiveDisplay& display, RunController& run)
    : link_(link), tables_(tables), display_(display), run_(run) {}

int InstrumentSelection::tickedCount() const {
  int n = 0;
  for (bool t : Check1) n += t ? 1 : 0;
  return n;
}

void InstrumentSelection::Find_Button_Click() {
  link_.closeForRefresh();
  link_.DiscoverInstruments();
  listed_ = link_.InstrumentCount;
  for (int k = 0; k < kMaxInstruments; ++k) {
    const auto i = static_cast<std::size_t>(k);
    Check1Visible[i] = k < listed_;
    Check1[i] = false;
    if (k >= listed_) continue;
    // Pre-tick what is already selected, recognised by its exact description.
    for (const std::string& entry : display_.deviceList) {
      if (entry == link_.identified[i].Description) Check1[i] = true;
    }
  }
}

void InstrumentSelection::confirm(bool resetMainWindow) {
  display_.deviceList.clear();
  int s = 0;
  for (int i = 0; i < listed_ && i < kMaxInstruments; ++i) {
    if (!Check1[static_cast<std::size_t>(i)]) continue;
    const DiscoveredInstrument& entry = link_.identified[static_cast<std::size_t>(i)];
    const auto slot = static_cast<std::size_t>(s);
    link_.slots[slot].DiscoveredIndex = static_cast<std::int16_t>(i);
    tables_.setup[slot].ScanerCard = entry.ScanerCard;
    display_.deviceList.push_back(entry.Description);
    const std::string& d = entry.Description;
    const double count = leadingNumber(d.size() >= 4 ? d.substr(d.size() - 4) : d);
    tables_.setup[slot].ChannelCount = toInt16(count).value_or(0);
    ++s;
  }
  link_.InstrumentCount = static_cast<std::int16_t>(s);
  display_.meterMarks = {};  // marks of a run belong to the meters it ran
  display_.selectedTab = 0;
  resetSlotSetups();
  if (s == 0) {
    for (int i = 0; i < kMaxInstruments; ++i) {
      auto& tab = display_.tabs[static_cast<std::size_t>(i)];
      tab.visible = true;
      tab.caption = "Deviec " + intToText(i);
      display_.channelGrids[static_cast<std::size_t>(i)].clear();
      display_.channelGrids[static_cast<std::size_t>(i)].rows = 4;
    }
    display_.selectedTab = 0;
    if (resetMainWindow) {
      display_.resetNoInstrument();
      if (hooks.resetChart) hooks.resetChart();
    }
  }
  ++display_.revision;
}

void InstrumentSelection::ok_Button_Click() {
  if (hooks.unloadScanSettings) hooks.unloadScanSettings();
  confirm(true);
  if (hooks.hideConnectWindow) hooks.hideConnectWindow();
}

void InstrumentSelection::showSelectedSlots() {
  display_.contral_disable();
  const int n = link_.InstrumentCount;
  for (int d = 0; d < n && d < kMaxInstruments; ++d) display_.channelGrids[static_cast<std::size_t>(d)].clear();
  display_.scanControlRows.clear();
  for (int d = 0; d < n && d < kMaxInstruments; ++d) {
    auto& tab = display_.tabs[static_cast<std::size_t>(d)];
    tab.visible = true;
    display_.selectedTab = d;
    if (static_cast<std::size_t>(d) < display_.deviceList.size()) tab.caption = display_.deviceList[static_cast<std::size_t>(d)];
    if (readChannelFunctions) run_.meter_scan_func(d);
    display_.show_data(d, tables_, n);
  }
  for (int d = n; d < kMaxInstruments; ++d) display_.tabs[static_cast<std::size_t>(d)].visible = false;
  display_.contral_enable();
  display_.selectedTab = 0;
}

void InstrumentSelection::CheckDev() {
  if (hooks.unloadConnectWindow) hooks.unloadConnectWindow();
  if (hooks.unloadDataTable) hooks.unloadDataTable();
  if (hooks.unloadScanSettings) hooks.unloadScanSettings();
  Find_Button_Click();
  confirm(false);
  if (tickedCount() > 0) {
    showSelectedSlots();
    if (hooks.unloadConnectWindow) hooks.unloadConnectWindow();
  } else {
    ok_Button_Click();
  }
}

void InstrumentSelection::applyToMainWindow() {
  if (tickedCount() == 0) {
    ok_Button_Click();
    return;
  }
  showSelectedSlots();
}

}  // namespace kalivor
