// SPDX-License-Identifier: MIT
#pragma once
// The rules of the scan setup (sensor-type lists, per-card function lists, 4-wire pairing, the
// connect and window defaults) and the scan settings window's editing logic as plain state: the
// window mirrors ScanSetEditor's views into its controls and turns its events into the calls below.
#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/clock.h"
#include "common/color.h"
#include "scan/grid_copy.h"
#include "scan/setup_tables.h"
#include "scan/time_entry.h"

namespace kalivor {

// ---- Value lists -------------------------------------------------------------------------------

inline constexpr std::array<const char*, 7> kTemperatureSensorTypes = {
    "PT100", "D100", "F100", "PT385", "PT3916", "USER", "SPRTD"};
inline constexpr std::array<const char*, 7> kThermocoupleTypes = {"E", "J", "K", "N",
                                                                  "R", "S", "T"};
// Items of the division unit lists (Type_unit).
inline constexpr std::array<const char*, 8> kDivisionUnits = {"p",      "n", "u", "m",
                                                              "(none)", "K", "M", "G"};
// Items of cbScan, index = ScanInterval.
inline constexpr std::array<const char*, 2> kScanIntervalKinds = {"Per Scan Interval",
                                                                  "Period Scan"};

inline constexpr int kMaxChannelReadings = 2000;  // N_Channel_SCAN
inline constexpr int kMaxScans = 1000;            // N_SCAN

enum class SensorKind { Temperature, Thermocouple, Neither };

// Looked up in the temperature list first, then in the thermocouple list.
SensorKind classifySensorType(std::string_view text);
// Position in the list the text belongs to (temperature list first); nullopt for neither.
std::optional<int> sensorTypeIndex(std::string_view text);
bool isDivisionUnit(std::string_view text);

// ---- Channel functions and 4-wire pairing ------------------------------------------------------

// Channel index i is in the lower half when i < channelCount / 2 (real division).
bool isLowerHalf(int channelCount, int channelIndex);
// The card's functions for the channel in display order; empty for an unknown card code.
std::vector<std::string> functionList(int card, int channelCount, int channelIndex);
bool functionListContains(int card, int channelCount, int channelIndex, std::string_view function);

bool isFourWireFunction(std::string_view function);   // "4W" or "4W,TEMP"
bool isTemperatureFunction(std::string_view function);  // "TEMP" or "4W,TEMP"
// h: channelCount / 2 rounded half to even (10 for 20 channels, 5 for 10).
int fourWireOffset(int channelCount);
// The upper channel a 4-wire function on lowerIndex takes as second pair; nullopt when the
// channel is not in the lower half or the partner lies outside the card.
std::optional<int> fourWirePartner(int channelCount, int lowerIndex);
// True when the channel is the upper partner of a lower channel holding a 4-wire function.
bool isPairedByLower(const ChannelRow& row, int channelCount, int channelIndex);

// Partner flags of one slot: 1 exactly for a "NONE" channel whose lower channel holds 4W or
// 4W,TEMP. (An upper channel that is merely unused is no partner: it must be switched off on the
// instrument like any other unused channel.)
void recomputePartnerFlags(ChannelRow& row, int channelCount);

// Number of channel entries to visit for a slot: its channel count, kept inside the table.
int usedChannels(int channelCount);

// ---- Defaults ----------------------------------------------------------------------------------

// The reset of a slot's applied setup when instruments are (re)selected. Function, Color,
// EnableChannel and channel index 20 are left alone.
void resetScanSetupForConnect(ScanTables& tables, int slot, LocalMs now);
// The scan settings window's defaults for one slot of its working copy: card, channel count,
// Function, TEMP_TCO, sensor index and Color from the applied setup, enabled, division "1" with
// unit "(none)", offset "0", SCAN in mode 2 with ScanCount = channel count, per-channel interval
// off ("0.5"), scan interval kind 0 with "10", start and stop off at `now`; partner flags
// recomputed.
void applyWindowDefaults(WorkingCopy& working, const ScanTables& applied, int slot, LocalMs now);

// ---- Small window rules ------------------------------------------------------------------------

// Count boxes: a numeric text above 0 stays, above `limit` becomes the limit; anything else "1".
std::string clampCountText(std::string_view text, int limit);

// What the interval controls allow after a scan type or count mode change.
struct IntervalAvailability {
  bool perChannelEnabled = true;   // "Per Channel Interval" box
  bool untickPerChannel = false;   // box unticked, its fields disabled
  bool scanKindEnabled = true;     // cbScan
  bool scanFieldsEnabled = true;   // H2..MS2 and their up-down buttons
};
IntervalAvailability intervalAvailability(int countMode, bool stepSelected);

// ---- The scan settings window's state ----------------------------------------------------------

// Controls of one channel row.
struct ChannelView {
  std::string functionText;        // entry Chan_Func(n) shows
  bool functionSelectable = true;  // Chan_Func(n) enabled
  bool enableTicked = true;        // EnableChannel_Check(n)
  int temperatureIndex = -1;       // TEMP_combo(n) entry, -1 = none
  int thermocoupleIndex = -1;      // TCO_combo(n) entry, -1 = none
  std::string gridFunction;        // grid column 3
  std::string gridSensor;          // grid column 4
};

// Seconds box and fields of one interval group.
struct IntervalGroupView {
  std::string seconds = kResetSecondsText;  // channel_interval / scan_interval
  TimeFields fields;                        // H/M/S/MS texts
  bool fieldsEnabled = true;                // fields and up-down buttons
};

enum class IntervalGroup { Channel, Scan };

// The shared controls of the shown slot.
struct ScanControlsView {
  bool stepSelected = false;       // Scan_Type: button 0 "SCAN", button 1 "STEP"
  int countMode = 2;               // 0 total_channel_count, 1 stop_after_n_scan, 2 Default_count
  std::string nChannelScan = "1";  // N_Channel_SCAN
  std::string nScan = "1";         // N_SCAN
  bool perChannelTicked = false;   // channel_scan_interval
  bool perChannelEnabled = true;
  IntervalGroupView channelGroup;
  IntervalGroupView scanGroup;
  int scanKindIndex = 0;           // cbScan entry
  bool scanKindEnabled = true;
  bool startTicked = false;        // at_time
  LocalMs startPicker = 0;         // StartTime picker
  bool stopTicked = false;         // stop_time
  bool stopEnabled = true;         // stop_time box and StopTime picker
  LocalMs stopPicker = 0;
  bool checkAllTicked = false;     // Check_all_1
  std::string status;              // set_stat
};

// Grid header texts, columns 0..6.
inline constexpr std::array<const char*, 7> kGridHeaders = {
    "     Enable\r\nSelect All", "Channel", "Color", "Function", "TEMP Type / TCO Type",
    "Division", "Offset"};

// What a grid click asks the window to show.
enum class GridCellEditor { None, Color, FunctionList, TemperatureList, ThermocoupleList };

struct FunctionChange {
  bool accepted = false;         // false: the channel's list cannot show the function; nothing changed
  bool openShuntWindow = false;  // DCI/ACI chosen outside loading: open the shunt window modally
  std::optional<int> pairedChannel;  // upper channel taken as 4-wire partner
};

struct PasteResult {
  bool consumed = false;               // the key is swallowed
  std::vector<int> changedChannels;    // channel indexes that took the copied function
  std::optional<std::string> error;    // kGridCopyFailedText when a row could not take it
};

// The instrument side the editor needs while showing slots.
struct InstrumentAccess {
  // Read-back of one slot into the working copy and the channel views (may be empty).
  std::function<void(int slot)> readBack;
  // True when the last instrument exchange failed (status neither 0 nor 0x3FFF0006).
  std::function<bool()> lastExchangeFailed;
};

enum class ShowOutcome { Shown, LinkFailed };

// The scan settings window's working copy with the state of its controls. Handlers marked
// "ignored while loading" do nothing (but mirror the control value) while loading() is true.
class ScanSetEditor {
 public:
  ScanSetEditor(ScanTables& applied, Clock& clock);

  WorkingCopy& working() { return working_; }
  const WorkingCopy& working() const { return working_; }
  ScanTables& applied() { return applied_; }
  const ScanTables& applied() const { return applied_; }
  int shownSlot() const { return working_.shownSlot; }
  ScanSetup& shownSetup() { return working_.setup[working_.shownSlot]; }
  const ScanSetup& shownSetup() const { return working_.setup[working_.shownSlot]; }
  ChannelSetup& shownChannel(int ch) { return working_.channel[working_.shownSlot][ch]; }
  int shownChannelCount() const { return usedChannels(shownSetup().ChannelCount); }
  int shownCard() const { return shownSetup().ScanerCard; }

  bool loading() const { return loading_; }
  void setLoading(bool on) { loading_ = on; }

  ChannelView& channelView(int slot, int ch) { return views_[slot][ch]; }
  const ChannelView& channelView(int slot, int ch) const { return views_[slot][ch]; }
  ChannelView& shownView(int ch) { return views_[working_.shownSlot][ch]; }
  const ChannelView& shownView(int ch) const { return views_[working_.shownSlot][ch]; }
  ScanControlsView& controls() { return controls_; }
  const ScanControlsView& controls() const { return controls_; }
  MsFlexCopy& gridCopy() { return copy_; }
  const MsFlexCopy& gridCopy() const { return copy_; }

  // Slot and channel the current-shunt window edits.
  int shuntSlot() const { return shuntSlot_; }
  int shuntChannel() const { return shuntChannel_; }

  // Dev_ScanSet entries; the shown slot's one is the suggested file name for saving.
  const std::vector<std::string>& deviceEntries() const { return deviceEntries_; }
  std::string suggestedFileName() const;

  // Window loading: defaults for every slot, read-back of every listed instrument, slot 0 shown,
  // nothing copied. LinkFailed: the window re-checks the devices.
  ShowOutcome load(std::vector<std::string> deviceEntries, const InstrumentAccess& access);
  // Device_opt(k) click; the copy range becomes rows 1..20 for a 20-channel card, else 1..10.
  // An edited slot is shown as it was left; any other is read back first.
  // LinkFailed: nothing was read; the window sets StopRequested and runs the connect window's
  // confirmation.
  ShowOutcome showInstrument(int slot, const InstrumentAccess& access);
  // A slot is edited while its working copy differs from what it was when the instrument was
  // last read back or set. Showing an edited slot again keeps its edits (no read-back).
  bool edited(int slot) const;
  bool anyEdited() const;
  // The slot's present working copy counts as unedited (after Set, read-back, window load).
  void markUnedited(int slot);

  // Shows the shown slot's scan settings in the shared controls (used by showInstrument and by
  // the setup file loader; run it with the loading flag set).
  void refreshScanControls();

  // ---- scan settings handlers ----
  void clickScanType(bool step);  // Scan_Type
  // total_channel_count (0), stop_after_n_scan (1): ignored while loading; Default_count (2) not.
  void clickCountMode(int mode);
  // N_Channel_SCAN / N_SCAN change (ignored while loading); returns the corrected text. The
  // count is taken into ScanCount only while the box's own mode is selected.
  std::string changeChannelReadings(std::string_view text);
  std::string changeScanCount(std::string_view text);
  void clickPerChannelInterval(bool ticked);  // ignored while loading
  void clickScanIntervalKind(int index);      // cbScan, ignored while loading
  void setStartTime(bool ticked, LocalMs picker);  // at_time click, StartTime change
  void setStopTime(bool ticked, LocalMs picker);   // stop_time click, StopTime change
  // H1..MS2 change (ignored while loading): validated fields, seconds box, ChannelTime/ScanTime
  // and the status label.
  void changeTimeField(IntervalGroup group, std::string_view unit, const TimeFields& current);

  // ---- channel handlers ----
  void clickCheckAll(bool ticked);
  void clickEnable(int ch, bool ticked);  // ignored while loading
  // Chan_Func(ch) click, also used by paste and by the setup file loader.
  FunctionChange changeFunction(int ch, std::string_view function);
  void chooseTemperatureType(int ch, int index);   // TEMP_combo, ignored while loading
  void chooseThermocoupleType(int ch, int index);  // TCO_combo, ignored while loading
  void changeDivision(int ch, std::string_view division, std::string_view unit);
  void changeOffset(int ch, std::string_view offset);

  // ---- grid ----
  GridCellEditor clickGrid(int row, int col) const;
  void setChannelColor(int ch, Rgb color);  // the colour dialog's choice
  std::string gridCellText(int row, int col) const;
  // Ctrl+C: true when the cell lies in the copy range (the key is consumed).
  bool copyCell(int row, int col);
  // Ctrl+V over the selection Row..RowSel, Col..ColSel. A row that takes DCI or ACI asks for the
  // shunt window at once (openShuntWindow, with shuntChannel() already that row's channel).
  PasteResult pasteCells(int row, int rowSel, int col, int colSel,
                         const std::function<void(int ch)>& openShuntWindow = {});

 private:
  void resetControlsForLoad();
  void setCopyRange();
  void applyAvailability();
  void showCountMode();
  void stopOffAtNow();
  void temperatureComboClick(int ch);
  void thermocoupleComboClick(int ch);
  bool validChannel(int ch) const { return ch >= 0 && ch < shownChannelCount(); }

  struct SlotCopy {
    ScanSetup setup;
    ChannelRow channel;
  };

  ScanTables& applied_;
  Clock& clock_;
  WorkingCopy working_;
  std::array<std::optional<SlotCopy>, kSlotTableSize> unedited_{};
  std::array<std::array<ChannelView, kChannelTableSize>, kSlotTableSize> views_{};
  ScanControlsView controls_;
  MsFlexCopy copy_;
  std::vector<std::string> deviceEntries_;
  bool loading_ = false;
  bool checkAllGuard_ = false;
  int shuntSlot_ = 0;
  int shuntChannel_ = 0;
};

}  // namespace kalivor
