// SPDX-License-Identifier: MIT
#pragma once
// What the main window shows of the instruments and the run, as data: the device list, the tabs,
// each slot's channel grid, the scan-control grid, the scan tables, the fetch-time lists and the
// enabled state of the run controls. The windows mirror it; the run and the selection change it.
#include <array>
#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "common/color.h"
#include "scan/setup_tables.h"

namespace kalivor {

class ChannelWatch;

inline constexpr int kScanTableMaxDataRows = 10001;  // with the two header rows: 10 003 rows

// A reading outside its alarm band: above the high or below the low limit.
enum class AlarmMark { None, Low, High };
// The marker put before such a reading ("▲ 12.5 bar") and the colour it is drawn in, neither of
// which depends on the channel's trace colour.
inline constexpr const char* kAlarmMarkerHigh = "\u25B2 ";
inline constexpr const char* kAlarmMarkerLow = "\u25BC ";
inline constexpr Rgb kAlarmTextColor = rgb(0xC0, 0, 0);           // dark red
inline constexpr Rgb kAlarmBackgroundColor = rgb(0xFF, 0xD8, 0xD8);  // pale red behind it
// The text of a reading as shown with its mark.
std::string markedReading(const std::string& text, AlarmMark mark);

struct GridCell {
  std::string text;
  std::optional<Rgb> background;  // nullopt: the grid's button-face colour
  AlarmMark alarm = AlarmMark::None;
};

// Channel_MSFlexGrid(d): labels in rows 0 and 2, readings in rows 1 and 3; 10 columns.
struct ChannelGrid {
  int rows = 4;
  std::array<std::array<GridCell, 10>, 4> cells{};
  void clear() { cells = {}; }
};

// MSFlexGrid2(d) and the data table window's MSFlexGrid1(d): two header rows, then one row per
// stored scan (number, time stamp, one reading per channel).
struct ScanTable {
  int channelCount = 0;
  std::vector<std::vector<std::string>> header;  // 2 rows of channelCount + 2 texts
  std::deque<std::vector<std::string>> rows;     // data rows, oldest first
  // Per data row, bit c set: channel c's reading is outside its band (rows from before the
  // alarm limits, or without any, have 0).
  std::deque<std::uint32_t> alarmBits;
  bool alarmed(std::size_t row, int channel) const {
    return row < alarmBits.size() && channel >= 0 && channel < 32 && ((alarmBits[row] >> channel) & 1u) != 0;
  }
  std::int64_t droppedRows = 0;                  // data rows dropped to keep the table bounded
  // The grid's row count as the window shows it (header included, at least one data row).
  std::size_t gridRows() const { return 2 + std::max<std::size_t>(rows.size(), 1); }
};

// How a meter fares under "Keep logging when an instrument fails": its tab and its row of the
// scan-control grid say it.
enum class MeterMark { None, Reconnecting, Failed };

struct TabState {
  std::string caption;
  bool visible = true;
};

class LiveDisplay {
 public:
  LiveDisplay();

  // Connect_Scan_device: the selected instruments' descriptions in slot order.
  std::vector<std::string> deviceList;
  std::array<TabState, kMaxInstruments> tabs{};
  int selectedTab = 0;
  std::array<ChannelGrid, kMaxInstruments> channelGrids{};
  std::vector<std::array<std::string, 6>> scanControlRows;  // ScanControl_MSFlexGrid
  std::array<MeterMark, kMaxInstruments> meterMarks{};     // none until a run marks one
  std::array<ScanTable, kSlotTableSize> scanTables{};
  std::array<std::vector<std::string>, kSlotTableSize> ListFetchTime{};
  std::string NowTimeSeconds;
  std::array<double, kSlotTableSize> ActiveChannelCount{};
  // Enabled state of controls by their names (buttons and menu entries of the main window).
  std::map<std::string, bool> enabled;

  bool isEnabled(const std::string& control) const;

  // Rebuilds the slot's channel grid and the whole scan-control grid; recounts active channels.
  void show_data(int slot, const ScanTables& tables, int instrumentCount);
  // Writes a reading into the slot's channel grid (row 1 for channels 0..9, row 3 for 10..19).
  void showReading(int slot, int channel, const std::string& text,
                   AlarmMark alarm = AlarmMark::None);
  // Marks the meter (or clears its mark) on its tab and in its scan-control row.
  void markMeter(int slot, MeterMark mark);
  // The meter's name with its mark: "SIM0001 -- 20ch (reconnecting)".
  std::string markedName(int slot) const;
  // Run start: the slot's scan table gets its header and no data rows.
  void prepareScanTable(int slot, int channelCount);
  // After a stored scan: scan number n, its time stamp and the slot's readings.
  // With `watch`, readings are shown as the run sees them: scaled with their unit and marked
  // when outside their band.
  void UpdateDataTables(int slot, std::int64_t n, const std::string& timeStamp,
                        const ScanTables& tables, const ChannelWatch* watch = nullptr);
  // What the run said without stopping (another instrument's record, an alarm not stored, ...),
  // newest last; cleared when a run starts.
  std::vector<std::string> runNotices;

  void contral_enable();
  void contral_disable();
  void LockForRun();
  void UnlockAfterRun();
  // After an instrument failure: only reconnecting, changing the setup or leaving stay possible.
  void lockAfterInstrumentFailure();
  // The connect window's no-instrument reset of the main window's run controls and grids.
  void resetNoInstrument();

  // Bumped by every change, so a window can tell whether to refresh.
  std::uint64_t revision = 0;

 private:
  void setEnabled(std::initializer_list<const char*> controls, bool on);
};

// The label of a channel cell: "CH 3(DCV)".
std::string channelLabel(int channel, const std::string& function);

}  // namespace kalivor
