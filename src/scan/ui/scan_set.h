// SPDX-License-Identifier: MIT
#pragma once
// Scan_Set ("Scan Set"): the working copy of every selected instrument's scan setup, one
// instrument at a time. The editing rules are ScanSetEditor's; the window mirrors its views into
// the controls and forwards every event to it. Set applies all setups and hides the window, which
// stays loaded until its close box (or a new instrument selection) unloads it.
#include <QWidget>
#include <array>
#include <functional>

#include "app/program.h"
#include "scan/setup_model.h"

class QCheckBox;
class QComboBox;
class QDateTimeEdit;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTableWidget;

namespace kalivor {

class Channel_Extras_Set;
class DCI_ACI_SET;

// The close box while some instrument's edits have not been set.
inline constexpr const char* kDiscardEditsText =
    "The scan settings have changes that were not sent with Set. Close the window and discard "
    "them?";

// Set, or showing another instrument, while a run started with the window open.
inline constexpr const char* kScanSetRunningText =
    "A run is in progress. Press Stop before the instruments are read or set.";

class Scan_Set final : public QWidget {
  Q_OBJECT
 public:
  explicit Scan_Set(Program& program, QWidget* parent = nullptr);
  ~Scan_Set() override;

  // Window loading: defaults, read-back of every listed instrument, the first one shown.
  void load();
  // Hides the window and deletes it once control is back in the event loop (it may be unloaded
  // from inside one of its own handlers, by the silent re-connection after a failed read-back).
  void unload();
  bool unloaded() const { return unloaded_; }

  ScanSetEditor& editor() { return editor_; }
  const ScanSetEditor& editor() const { return editor_; }

  // Handlers.
  void Device_opt_Click(int k);
  void Set_Command_Click();
  void SaveRD_Btn_Click();
  void LoadRD_Btn_Click();
  void ScanSet_MSFlexGrid_Click(int row, int col);
  // Ctrl+C / Ctrl+V in the grid; true when the key was consumed.
  bool copyFromGrid();
  bool pasteIntoGrid();

  // The main window brings its grids up to date (after Set and after a re-connection).
  std::function<void()> mainChanged;
  // Runs while the shunt window is shown modally (tests type into it and close it from here).
  std::function<void(DCI_ACI_SET&)> onShuntWindowShown;
  // The same for a channel's scaling and alarm window (double-click on the channel's cell).
  std::function<void(Channel_Extras_Set&)> onExtrasWindowShown;
  void openExtrasWindow(int ch);

  // Controls, by their names; arrays are per instrument (Device_opt) or per channel row.
  std::array<QRadioButton*, kMaxInstruments> Device_opt{};
  QComboBox* Dev_ScanSet = nullptr;
  QTableWidget* ScanSet_MSFlexGrid = nullptr;
  QCheckBox* Check_all_1 = nullptr;
  std::array<QCheckBox*, kMaxChannels> EnableChannel_Check{};
  std::array<QComboBox*, kMaxChannels> Chan_Func{};
  std::array<QComboBox*, kMaxChannels> TEMP_combo{};
  std::array<QComboBox*, kMaxChannels> TCO_combo{};
  std::array<QLineEdit*, kMaxChannels> set_division{};
  std::array<QComboBox*, kMaxChannels> Type_unit{};
  std::array<QLineEdit*, kMaxChannels> set_offset{};
  std::array<QComboBox*, 4> RoutStat{}, RoutStat_p2{};
  QComboBox *TEMP_Combo_hideItem = nullptr, *Tco_Combo_hideItem = nullptr;
  std::array<QRadioButton*, 2> Scan_Type{};
  QRadioButton *total_channel_count = nullptr, *stop_after_n_scan = nullptr,
               *Default_count = nullptr;
  QLineEdit *N_Channel_SCAN = nullptr, *N_SCAN = nullptr;
  QWidget *UpDown_N_Channel_SCAN = nullptr, *UpDown_N_SCAN = nullptr;
  QCheckBox* channel_scan_interval = nullptr;
  QLineEdit *channel_interval = nullptr, *H1 = nullptr, *M1 = nullptr, *S1 = nullptr,
            *MS1 = nullptr;
  QWidget *UpDown_H1 = nullptr, *UpDown_M1 = nullptr, *UpDown_S1 = nullptr, *UpDown_MS1 = nullptr;
  QComboBox* cbScan = nullptr;
  QLineEdit *scan_interval = nullptr, *H2 = nullptr, *M2 = nullptr, *S2 = nullptr, *MS2 = nullptr;
  QWidget *UpDown_H2 = nullptr, *UpDown_M2 = nullptr, *UpDown_S2 = nullptr, *UpDown_MS2 = nullptr;
  QCheckBox *at_time = nullptr, *stop_time = nullptr;
  QDateTimeEdit *StartTime = nullptr, *StopTime = nullptr;
  QPushButton *Set_Command = nullptr, *SaveRD_Btn = nullptr, *LoadRD_Btn = nullptr;
  QLabel* set_stat = nullptr;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void buildGrid();
  void buildRowControls();
  void buildPanel();
  void layOut();
  // Places the grid and the panel for the window's present size: at its own size exactly as
  // built; wider, the grid's columns share the extra width; taller, the grid and the panel
  // follow the height (the panel's buttons keep to its foot).
  void layoutForSize();
  void fitColumns();
  void placeDeviceOptions();
  void placeRowControls();

  InstrumentAccess access();
  bool refusedWhileRunning();
  void linkFailed();
  void fillChannelLists();
  void hideCellLists();
  void openShuntWindow();

  // Mirrors the editor into every control (signals of the controls are ignored meanwhile).
  void sync();
  void syncGrid();
  void syncRows();
  void syncScanControls();

  void enableClicked(int ch, bool ticked);
  void functionChosen(int ch);
  void timeFieldChanged(IntervalGroup group, int field);
  void countChanged(QLineEdit* box);
  void startChanged();
  void stopChanged();

  Program& p_;
  ScanSetEditor editor_;
  int listed_ = 0;  // instruments listed in Device_opt and Dev_ScanSet
  int rows_ = 0;    // channel rows of the card shown
  int rowHeight_ = 0;
  QSize naturalSize_;    // the window's own size, where everything stands as built
  QRect naturalGrid_, naturalPanel_;
  bool syncing_ = false;
  bool unloaded_ = false;
  std::array<std::array<QLineEdit*, 4>, 2> timeFields_{};  // [group][hour, min, sec, msec]
};

}  // namespace kalivor
