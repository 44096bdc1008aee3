// SPDX-License-Identifier: MIT
#pragma once
// "Central Runs": the runs the central database holds, to open one read-only in the record
// browser or the record chart. The chosen run's record is copied into a scratch record
// (CentralSnapshot) that the window reads as it reads any record. Listing and copying talk to the
// server on a thread of their own: the windows go on while it answers or stays silent, and
// closing the dialog ends the talk at once.
#include <QDialog>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <thread>
#include <utility>

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
  ~CentralRunsDialog() override;

  // "List": connects and lists every bench's runs (the bench box, when filled, keeps one). It
  // returns at once; the table fills when the server has answered.
  void list();
  // "Open": copies the chosen run's record, then closes the dialog; it stays open with the
  // reason when that fails.
  void accept() override;
  // Whether the server is being talked to (listing or copying).
  bool busy() const { return busy_; }
  // The copy made by Open, for the window that shows it (it lives as long as that window).
  std::shared_ptr<central::CentralSnapshot> snapshot() const { return snapshot_; }
  // "bench / Record1.mdb" of the copy.
  QString chosenTitle() const { return chosenTitle_; }
  // The rows of the copy (1 = its first) that hold the chosen run's scans; nullopt when the run
  // has none.
  std::optional<std::pair<std::int64_t, std::int64_t>> chosenRows() const { return chosenRows_; }

  QLineEdit *url, *bench;
  QPushButton *listButton, *openButton;
  QTableWidget* runs;
  QLabel *problem, *note;

 private:
  void showProblem(const QString& text);
  // Runs `work` on the helper thread with `text` shown meanwhile, then `done` on this thread.
  void inBackground(const QString& text, std::function<void()> work, std::function<void()> done);
  void showListed();

  std::atomic<bool> cancel_{false};
  bool busy_ = false;
  std::thread worker_;
  central::PgConnection conn_;  // used by the helper thread only
  std::vector<central::CentralRun> listed_;
  std::string listError_;
  std::shared_ptr<central::CentralSnapshot> snapshot_;
  QString chosenTitle_;
  std::optional<std::pair<std::int64_t, std::int64_t>> chosenRows_;
};

}  // namespace kalivor
