// SPDX-License-Identifier: MIT
#pragma once
// Record_View_Form ("Record View"): the record files of the data folder, one page of a record's
// scans at a time, deleting a record and exporting the shown pages as CSV. The paging, deletion
// and export rules are the record browser's; the window shows its state.
#include <QWidget>

#include "app/program.h"
#include "store/record_browser.h"

class QListWidget;
class QPushButton;
class QTableView;

namespace kalivor {

class RecordPageModel;

class Record_View_Form final : public QWidget {
  Q_OBJECT
 public:
  explicit Record_View_Form(Program& program, QWidget* parent = nullptr);
  ~Record_View_Form() override;

  void Command1_Click();  // "Fresh"
  void Command2_Click();  // "Open"
  void Command3_Click();  // "Deleted"
  void Command5_Click();  // "CSV"
  void prev_DB_Click();   // "Previous"
  void next_DB_Click();   // "Next"
  void Command4_Click();  // "Exit"

  const store::RecordBrowser& browser() const { return browser_; }

  QListWidget* List1 = nullptr;
  QTableView* MSFlexGrid1 = nullptr;
  QPushButton *Command1 = nullptr, *Command2 = nullptr, *Command3 = nullptr, *Command5 = nullptr,
              *prev_DB = nullptr, *next_DB = nullptr, *Command4 = nullptr;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void showList();
  void showPage();
  void placeFrozenColumns();
  QString selectedName() const;

  Program& p_;
  store::RecordBrowser browser_;
  RecordPageModel* model_ = nullptr;
  QTableView* frozen_ = nullptr;  // Scan Cycle and Time, kept in view when scrolling sideways
};

}  // namespace kalivor
