// SPDX-License-Identifier: MIT
#pragma once
// MainForm ("KALIVOR MAIN"): menus and buttons, the live display of every selected instrument,
// the trend chart, and the doors to every other window. It shows the core's state and forwards
// events to it; the run itself is the core's run controller.
#include <QMainWindow>
#include <array>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "acquisition/run_controller.h"
#include "app/program.h"

class QAction;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QTabWidget;
class QTableView;
class QTableWidget;
class QTimer;

namespace kalivor {

class Connect_Form;
class QPainterCanvas;
class ReadingColumns;
class SchedulerDriver;
class ScanTableModel;
class TrendChart;
class TrendChartView;

class MainForm final : public QMainWindow, public RunObserver {
  Q_OBJECT
 public:
  explicit MainForm(Program& program, QWidget* parent = nullptr);
  ~MainForm() override;

  // Start-up as the window loads (not in the constructor, so tests can prepare the program).
  void load();
  // Brings every control up to date with the core.
  void syncFromCore();
  // An instrument call (discovery, read-back, Apply) is under way on the I/O gate: nothing that
  // talks to the instruments may start.
  bool operationUnderWay() const;
  // The I/O gate has returned from its last call: finish a close that had to wait for it.
  void instrumentCallsEnded();
  // Makes the window no larger than the screen has room for (it never gets smaller than its
  // minimum, which fits a 1366 x 768 screen with a task bar).
  void fitToScreen();

  // Handlers.
  void StartReading_Click();
  void StopReading_Click();
  // Instrument selection; `beforeExec` lets tests work the connect window while it is modal.
  void Add_Remove_Instruments_Button_Click();
  void Exit_comm_Click();

  // Doors to the other windows; each is set by the window that exists (nothing happens before).
  std::function<void()> openScanSettings, unloadScanSettings, openDataTable, unloadDataTable,
      openDatabaseSelection, openRecordView, openRecordDraw, openAbout, printChart, saveChart,
      openCentralDatabase, openStatistics;
  // Runs whenever the window brings itself up to date, so the data table follows the run.
  std::function<void()> syncDataTable;
  // Runs with it, so other open windows drop choices that no longer hold (a new selection).
  std::function<void()> syncRecordWindows;
  // How Exit ends the program (at once; tests put a stand-in here).
  std::function<void()> exitNow;
  // Runs while the connect window is shown modally (tests tick and confirm from here).
  std::function<void(Connect_Form&)> onConnectFormShown;

  Program& program() { return p_; }
  // The trend chart and the picture it draws, for printing and saving it.
  QPainterCanvas& chartCanvas() { return *chartCanvas_; }
  TrendChart& trendChart();
  bool closing() const { return closeRequested_; }

  // Controls, by their names.
  QAction *Connect_to_Instrument_Menu, *Set_Scan_Control_Menu, *Start_Reading_Menu,
      *Stop_Reading_Menu, *Keep_Logging_Menu, *Central_Database_Menu, *Record_View_Menu, *Record_Draw_Menu, *About_Menu, *Exit_comm,
      *Statistics_Menu;
  QPushButton *Add_Remove_Instruments_Button, *Set_Scan_Button, *StartReading, *StopReading,
      *DATATable, *RecordView, *RecordDraw, *dbSet, *PrintSet, *SaveChart;
  QTabWidget* SSTab1;
  std::array<QTableWidget*, 4> Channel_MSFlexGrid{};
  std::array<QTableView*, 4> MSFlexGrid2{};
  std::array<QListWidget*, 4> ListFetchTime{};
  std::array<ScanTableModel*, 4> scanTableModels{};
  QTableWidget* ScanControl_MSFlexGrid;
  QLineEdit* NowTimeSeconds;
  // The run status: per instrument its record (or none), scans stored, last scan and state; and
  // the record folder's free space.
  QTableWidget* RunStatus_Grid = nullptr;
  QLabel* FreeSpace_Label = nullptr;
  TrendChartView* chartView = nullptr;  // the trend chart's controls (drawmain_pic and the rest)

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

  // RunObserver
  void scanStored(int slot, std::int64_t scanNumber) override;
  void fetchDone(int slot) override;
  void runEnded() override;

 private:
  void buildMenus();
  void buildControls();
  void syncEnabled();
  void syncChannelGrid(int slot);
  void syncScanControl();
  void syncRunNotice();
  // With the folder's free space found out again, or as last found out.
  void syncRunStatus(bool lookAtDisk = true);
  QPushButton* button(const char* name, const QString& caption);
  // Places every control for a central area of this size: at the window's own size exactly where
  // it was built; larger, the chart and the tables grow; smaller (down to the minimum), they shrink.
  void layoutFor(QSize size);

  // A control's place at the window's own size, and how much of the extra width (dx), of the
  // chart's extra height (plot) and of the tables' extra height (tabs) it moves or grows by.
  struct Anchor {
    QWidget* widget;
    QRect natural;
    double xByDx, yByPlot, yByTabs, wByDx, hByPlot, hByTabs;
  };
  std::vector<Anchor> anchors_;
  QSize naturalSize_;
  // How much taller than at the window's own size the readings table must be at its smallest.
  int readingsShortfall_ = 0;
  // The readings tables' channel columns follow the applied setups (alarm limits, units).
  std::array<ReadingColumns*, 4> readingColumns_{};

  Program& p_;
  QPainterCanvas* chartCanvas_ = nullptr;  // owned by the program's chart
  std::unique_ptr<Connect_Form> connectForm_;
  std::uint64_t shownRevision_ = ~0ull;
  bool closeRequested_ = false;
  bool shutDown_ = false;
  bool syncing_ = false;
  SchedulerDriver* driver_ = nullptr;
  // The run marks the display changed; the window catches up shortly after, with every scan
  // stored meanwhile at once.
  void liveChanged();
  QTimer* syncTimer_ = nullptr;
  QTimer* statusTimer_ = nullptr;
  bool runChanged_ = false;
  bool afterScan_ = false;  // bringing the window up to date after stored scans
  struct Lockable {
    QAction* action = nullptr;
    QPushButton* button = nullptr;
    std::string name;
    Lockable(QAction* a, std::string n) : action(a), name(std::move(n)) {}
    Lockable(QPushButton* b, std::string n) : button(b), name(std::move(n)) {}
  };
  std::vector<Lockable> lockable_;
  // The run status grid's width and columns its column widths were measured for.
  std::pair<int, int> statusLayout_{-1, -1};
};

}  // namespace kalivor
