// SPDX-License-Identifier: MIT
#pragma once
// Record_View_Form ("Record View"): the record files of the data folder, one page of a record's
// scans at a time, deleting a record and exporting the shown pages as CSV. The paging, deletion
// and export rules are the record browser's; the window shows its state.
#include <QWidget>
#include <filesystem>
#include <functional>
#include <utility>
#include <vector>

#include "app/program.h"
#include "store/record_browser.h"

class QLineEdit;
class QListWidget;
class QPushButton;
class QTableView;
class QTableWidget;

namespace kalivor {

class RecordPageModel;

class Record_View_Form final : public QWidget {
  Q_OBJECT
 public:
  // `dataFolder` (optional) shows another folder's records instead of the program's: a copy of a
  // central record, shown read-only (nothing to delete).
  explicit Record_View_Form(Program& program, QWidget* parent = nullptr,
                            const std::filesystem::path& dataFolder = {});
  // "Central…" beside the list, shown once the application gives it somewhere to go.
  void setCentralDoor(std::function<void()> open);
  ~Record_View_Form() override;

  void Command1_Click();  // "Fresh"
  void Command2_Click();  // "Open"
  void Command3_Click();  // "Deleted"
  void Command5_Click();  // "CSV"
  void prev_DB_Click();   // "Previous"
  void next_DB_Click();   // "Next"
  void Command4_Click();  // "Exit"
  void tidy_DB_Click();   // "Tidy": the shown record, one line per reading
  void stats_DB_Click();  // "Statistics": the channel statistics window of the shown record

  const store::RecordBrowser& browser() const { return browser_; }

  QListWidget* List1 = nullptr;
  QTableView* MSFlexGrid1 = nullptr;
  QPushButton *Command1 = nullptr, *Command2 = nullptr, *Command3 = nullptr, *Command5 = nullptr,
              *prev_DB = nullptr, *next_DB = nullptr, *Command4 = nullptr;
  QPushButton *tidy_DB = nullptr, *stats_DB = nullptr, *central_DB = nullptr;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void showList();
  void showPage();
  void placeFrozenColumns();
  QString selectedName() const;
  // The file to export into, asked with the save dialog; empty when the user gave none.
  std::string exportFileName();

  Program& p_;
  store::RecordBrowser browser_;
  RecordPageModel* model_ = nullptr;
  QTableView* frozen_ = nullptr;  // Scan Cycle and Time, kept in view when scrolling sideways
  std::vector<std::pair<QWidget*, int>> underList_;  // the buttons under the list, and their tops
  class Record_Statistics* stats_ = nullptr;
};

// "Record Statistics": per channel of one record (or a range of its scans) the count, last,
// minimum, maximum, mean and standard deviation of its readings, when the minimum and maximum
// were read, and the blank, overload and non-numeric readings.
class Record_Statistics final : public QWidget {
  Q_OBJECT
 public:
  Record_Statistics(Program& program, QWidget* parent);
  // Shows the statistics of `recordFile` for the scans the range boxes name (all when empty).
  void showRecord(const std::string& recordFile);
  void stat_compute_Click();

  QLineEdit *stat_from = nullptr, *stat_to = nullptr;
  QPushButton* stat_compute = nullptr;
  QTableWidget* stat_grid = nullptr;

 private:
  Program& p_;
  std::string record_;
};

}  // namespace kalivor
