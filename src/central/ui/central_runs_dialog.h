// SPDX-License-Identifier: MIT
#pragma once
// "Central Runs": the runs the central database holds, to open one read-only in the record
// browser or the record chart. The chosen run's record is copied into a scratch record
// (CentralSnapshot) that the window reads as it reads any record.
#include <QDialog>
#include <memory>

#include "central/central_reader.h"
#include "central/forwarder.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QTableWidget;

namespace kalivor {

class CentralRunsDialog final : public QDialog {
  Q_OBJECT
 public:
  // Starts with the program's central database (the URL can be changed here for this look only).
  explicit CentralRunsDialog(const central::CentralChoice& choice, QWidget* parent = nullptr);

  // "List": connects and lists every bench's runs (the bench box, when filled, keeps one).
  void list();
  // "Open": copies the chosen run's record; the dialog stays open with the reason when it fails.
  void accept() override;
  // The copy made by Open, for the window that shows it (it lives as long as that window).
  std::shared_ptr<central::CentralSnapshot> snapshot() const { return snapshot_; }
  // "bench / Record1.mdb" of the copy.
  QString chosenTitle() const { return chosenTitle_; }

  QLineEdit *url, *bench;
  QPushButton *listButton, *openButton;
  QTableWidget* runs;
  QLabel* problem;

 private:
  void showProblem(const QString& text);

  central::PgConnection conn_;
  std::vector<central::CentralRun> listed_;
  std::shared_ptr<central::CentralSnapshot> snapshot_;
  QString chosenTitle_;
};

}  // namespace kalivor
