// SPDX-License-Identifier: MIT
#include "acquisition/live_display.h"

#include "acquisition/channel_watch.h"

#include "common/numbers.h"
#include "common/text.h"

namespace kalivor {
namespace {

const std::initializer_list<const char*> kRunControls = {
    "Set_Scan_Control_Menu", "Start_Reading_Menu", "Stop_Reading_Menu", "Set_Scan_Button",
    "StartReading",          "StopReading",        "DATATable",         "dbSet"};

}  // namespace

LiveDisplay::LiveDisplay() {
  for (int i = 0; i < kMaxInstruments; ++i) tabs[static_cast<std::size_t>(i)].caption = "Deviec " + intToText(i);
  for (const char* c :
       {"Set_Scan_Control_Menu", "Start_Reading_Menu", "Stop_Reading_Menu", "Set_Scan_Button",
        "StartReading", "StopReading", "DATATable", "dbSet", "PrintSet",
        "Add_Remove_Instruments_Button", "Connect_to_Instrument_Menu", "About_Menu", "Exit_comm",
        "Command1", "Command2", "Slider1"})
    enabled[c] = true;
}

bool LiveDisplay::isEnabled(const std::string& control) const {
  auto it = enabled.find(control);
  return it == enabled.end() || it->second;
}

void LiveDisplay::setEnabled(std::initializer_list<const char*> controls, bool on) {
  for (const char* c : controls) enabled[c] = on;
  ++revision;
}

std::string channelLabel(int channel, const std::string& function) {
  return "CH " + intToText(channel + 1) + "(" + trimBlanks(function) + ")";
}

void LiveDisplay::show_data(int slot, const ScanTables& tables, int instrumentCount) {
  if (slot < 0 || slot >= kSlotTableSize) return;
  const auto s = static_cast<std::size_t>(slot);
  ActiveChannelCount[s] = 0;
  const ScanSetup& setup = tables.setup[s];
  if (slot < kMaxInstruments) {
    ChannelGrid& grid = channelGrids[s];
    grid.clear();
    grid.rows = setup.ChannelCount == 10 ? 2 : 4;
  }
  scanControlRows.assign(static_cast<std::size_t>(std::max(0, instrumentCount)), {});
  const int channels = std::min<int>(setup.ChannelCount, kMaxChannels);
  for (int c = 0; c < channels; ++c) {
    const ChannelSetup& ch = tables.channel[s][static_cast<std::size_t>(c)];
    if (slot < kMaxInstruments) {
      const int labelRow = c < 10 ? 0 : 2;
      GridCell& label = channelGrids[s].cells[static_cast<std::size_t>(labelRow)][static_cast<std::size_t>(c % 10)];
      label.text = channelLabel(c, ch.Function);
      label.background.reset();
      channelGrids[s].cells[static_cast<std::size_t>(labelRow + 1)][static_cast<std::size_t>(c % 10)].background = ch.Color;
    }
    if (!contains(ch.Function, "NONE")) ActiveChannelCount[s] += 1;
  }
  for (int i = 0; i < instrumentCount && i < kSlotTableSize; ++i) {
    const ScanSetup& si = tables.setup[static_cast<std::size_t>(i)];
    auto& row = scanControlRows[static_cast<std::size_t>(i)];
    row[0] = markedName(i);
    row[1] = si.ScanType.size() > 4 ? si.ScanType.substr(si.ScanType.size() - 4) : si.ScanType;
    row[2] = (si.scanCount_Status == 0 || si.scanCount_Status == 1) ? si.ScanCount : "Default";
    row[3] = si.ScanTime;
    row[4] = si.StartAtTime != 0 ? si.StartTime : "Immediately";
    row[5] = si.StopAtTime != 0 ? si.StopTime : "user";
  }
  ++revision;
}

std::string LiveDisplay::markedName(int slot) const {
  const auto s = static_cast<std::size_t>(slot);
  std::string name = s < deviceList.size() ? deviceList[s] : "";
  const MeterMark mark = s < meterMarks.size() ? meterMarks[s] : MeterMark::None;
  if (mark == MeterMark::Reconnecting) name += " (reconnecting)";
  if (mark == MeterMark::Failed) name += " (failed)";
  return name;
}

void LiveDisplay::markMeter(int slot, MeterMark mark) {
  if (slot < 0 || slot >= kMaxInstruments) return;
  const auto s = static_cast<std::size_t>(slot);
  meterMarks[s] = mark;
  if (s < deviceList.size()) tabs[s].caption = markedName(slot);
  if (s < scanControlRows.size()) scanControlRows[s][0] = markedName(slot);
  ++revision;
}

std::string markedReading(const std::string& text, AlarmMark mark) {
  switch (mark) {
    case AlarmMark::High: return kAlarmMarkerHigh + text;
    case AlarmMark::Low: return kAlarmMarkerLow + text;
    case AlarmMark::None: break;
  }
  return text;
}

void LiveDisplay::showReading(int slot, int channel, const std::string& text, AlarmMark alarm) {
  if (slot < 0 || slot >= kMaxInstruments || channel < 0 || channel >= kMaxChannels) return;
  GridCell& cell = channelGrids[static_cast<std::size_t>(slot)]
                       .cells[static_cast<std::size_t>(channel < 10 ? 1 : 3)][static_cast<std::size_t>(channel % 10)];
  cell.text = markedReading(text, alarm);
  cell.alarm = alarm;
  ++revision;
}

void LiveDisplay::prepareScanTable(int slot, int channelCount) {
  if (slot < 0 || slot >= kSlotTableSize) return;
  ScanTable& t = scanTables[static_cast<std::size_t>(slot)];
  t = ScanTable{};
  t.channelCount = channelCount;
  std::vector<std::string> top(static_cast<std::size_t>(channelCount + 2), "Channel");
  std::vector<std::string> titles(static_cast<std::size_t>(channelCount + 2));
  top[0] = top[1] = "Scan";
  titles[0] = "Scan Cycle";
  titles[1] = "Time";
  for (int c = 0; c < channelCount; ++c) titles[static_cast<std::size_t>(c + 2)] = "CH " + intToText(c + 1);
  t.header = {top, titles};
  ++revision;
}

void LiveDisplay::UpdateDataTables(int slot, std::int64_t n, const std::string& timeStamp,
                                   const ScanTables& tables, const ChannelWatch* watch) {
  if (slot < 0 || slot >= kSlotTableSize) return;
  const auto s = static_cast<std::size_t>(slot);
  if (n == 1 && slot < static_cast<int>(scanControlRows.size())) scanControlRows[s][4] = timeStamp;
  ScanTable& t = scanTables[s];
  if (t.header.empty()) prepareScanTable(slot, tables.setup[s].ChannelCount);
  std::vector<std::string> row(static_cast<std::size_t>(t.channelCount + 2));
  row[0] = intToText(n);
  row[1] = timeStamp;
  std::uint32_t alarms = 0;
  for (int c = 0; c < t.channelCount && c < kChannelTableSize; ++c) {
    const std::string& raw = tables.ReadingText[s][static_cast<std::size_t>(c)];
    if (watch == nullptr || c >= kMaxChannels) {
      row[static_cast<std::size_t>(c + 2)] = raw;
      continue;
    }
    const AlarmMark mark = watch->mark(slot, c);
    if (mark != AlarmMark::None) alarms |= 1u << c;
    row[static_cast<std::size_t>(c + 2)] = markedReading(displayedReading(watch->info(slot, c), raw), mark);
  }
  // The table stops growing at 10 003 rows: the oldest data row makes room for the new one.
  if (static_cast<int>(t.rows.size()) >= kScanTableMaxDataRows) {
    t.rows.pop_front();
    if (!t.alarmBits.empty()) t.alarmBits.pop_front();
    ++t.droppedRows;
  }
  t.rows.push_back(std::move(row));
  t.alarmBits.resize(t.rows.size() - 1);
  t.alarmBits.push_back(alarms);
  ++revision;
}

void LiveDisplay::contral_enable() { setEnabled(kRunControls, true); }
void LiveDisplay::contral_disable() { setEnabled(kRunControls, false); }

void LiveDisplay::LockForRun() {
  setEnabled({"StartReading", "dbSet", "PrintSet", "Add_Remove_Instruments_Button", "Set_Scan_Button",
              "Connect_to_Instrument_Menu", "Start_Reading_Menu", "About_Menu", "Exit_comm",
              "Set_Scan_Control_Menu"},
             false);
}

void LiveDisplay::UnlockAfterRun() {
  setEnabled({"Command1", "Command2", "PrintSet", "Add_Remove_Instruments_Button", "Set_Scan_Button",
              "Slider1", "About_Menu", "Exit_comm", "Connect_to_Instrument_Menu", "Set_Scan_Control_Menu"},
             true);
}

void LiveDisplay::lockAfterInstrumentFailure() {
  contral_disable();
  setEnabled({"Connect_to_Instrument_Menu", "Exit_comm", "Add_Remove_Instruments_Button",
              "Set_Scan_Control_Menu"},
             true);
}

void LiveDisplay::resetNoInstrument() {
  setEnabled({"Set_Scan_Control_Menu", "Start_Reading_Menu", "Stop_Reading_Menu", "StartReading",
              "StopReading", "DATATable", "dbSet", "Command1", "Command2", "Set_Scan_Button"},
             false);
  for (auto& g : channelGrids) {
    g.clear();
    g.rows = 4;
  }
  scanControlRows.assign(4, {});
  ++revision;
}

}  // namespace kalivor
