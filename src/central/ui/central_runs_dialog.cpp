// SPDX-License-Identifier: MIT
#include "central/ui/central_runs_dialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include "central/pg.h"
#include "common/numbers.h"

namespace kalivor {

CentralRunsDialog::CentralRunsDialog(const central::CentralChoice& choice, QWidget* parent)
    : QDialog(parent) {
  setObjectName("CentralRunsDialog");
  setWindowTitle("Central Runs");
  auto* form = new QFormLayout;
  url = new QLineEdit(QString::fromStdString(choice.url));
  url->setObjectName("CentralRunsUrl");
  url->setPlaceholderText("postgresql://user@host/database");
  bench = new QLineEdit;
  bench->setObjectName("CentralRunsBench");
  bench->setPlaceholderText("every bench");
  form->addRow("URL:", url);
  form->addRow("Bench:", bench);
  listButton = new QPushButton("List");
  listButton->setObjectName("CentralRunsList");
  connect(listButton, &QPushButton::clicked, this, &CentralRunsDialog::list);
  runs = new QTableWidget(0, 9);
  runs->setObjectName("CentralRunsTable");
  runs->setHorizontalHeaderLabels(
      {"Bench", "Record", "Run", "Scans", "First", "Last", "Start (UTC)", "End (UTC)", "Serial"});
  runs->setSelectionBehavior(QAbstractItemView::SelectRows);
  runs->setSelectionMode(QAbstractItemView::SingleSelection);
  runs->setEditTriggers(QAbstractItemView::NoEditTriggers);
  runs->verticalHeader()->hide();
  runs->setMinimumSize(720, 240);
  connect(runs, &QTableWidget::cellDoubleClicked, this, [this] { accept(); });
  problem = new QLabel;
  problem->setObjectName("CentralRunsProblem");
  problem->setWordWrap(true);
  problem->setTextInteractionFlags(Qt::TextSelectableByMouse);
  problem->hide();
  note = new QLabel;
  note->setObjectName("CentralRunsNote");
  note->hide();
  // Closing the dialog stops whatever waits for the server.
  conn_.setCancel(&cancel_);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Cancel);
  openButton = buttons->addButton("Open", QDialogButtonBox::AcceptRole);
  openButton->setObjectName("CentralRunsOpen");
  openButton->setEnabled(false);
  connect(buttons, &QDialogButtonBox::accepted, this, &CentralRunsDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &CentralRunsDialog::reject);
  connect(runs, &QTableWidget::itemSelectionChanged, this,
          [this] { openButton->setEnabled(!runs->selectedItems().isEmpty()); });
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addWidget(listButton, 0, Qt::AlignLeft);
  layout->addWidget(runs);
  layout->addWidget(note);
  layout->addWidget(problem);
  layout->addWidget(buttons);
}

CentralRunsDialog::~CentralRunsDialog() {
  cancel_ = true;
  if (worker_.joinable()) worker_.join();
}

void CentralRunsDialog::inBackground(const QString& text, std::function<void()> work,
                                     std::function<void()> done) {
  if (worker_.joinable()) worker_.join();  // the last job has handed back its result
  busy_ = true;
  note->setText(text);
  note->show();
  for (QWidget* w : std::initializer_list<QWidget*>{url, bench, listButton, openButton, runs}) {
    w->setEnabled(false);
  }
  worker_ = std::thread([this, work = std::move(work), done = std::move(done)] {
    work();
    // Dropped unseen should the dialog be gone by then (it joins this thread first).
    QMetaObject::invokeMethod(
        this,
        [this, done] {
          busy_ = false;
          note->hide();
          for (QWidget* w : std::initializer_list<QWidget*>{url, bench, listButton, runs}) {
            w->setEnabled(true);
          }
          openButton->setEnabled(!runs->selectedItems().isEmpty());
          done();
        },
        Qt::QueuedConnection);
  });
}

void CentralRunsDialog::showProblem(const QString& text) {
  problem->setText(text);
  problem->setVisible(!text.isEmpty());
}

void CentralRunsDialog::list() {
  if (busy_) return;
  runs->setRowCount(0);
  listed_.clear();
  showProblem({});
  const std::string where = url->text().trimmed().toStdString();
  if (where.empty()) {
    showProblem("Give the central database's URL: postgresql://user@host/database");
    return;
  }
  const std::string which = bench->text().trimmed().toStdString();
  inBackground(
      QString::fromStdString("Connecting to " + central::maskedUrl(where) + " …"),
      [this, where, which] {
        listError_.clear();
        if (!conn_.connect(where) ||
            !central::listCentralRuns(conn_, which, listed_, listError_)) {
          if (listError_.empty()) listError_ = conn_.error();
          listed_.clear();
        }
      },
      [this] { showListed(); });
}

void CentralRunsDialog::showListed() {
  std::string error = listError_;
  if (!error.empty()) {
    // A database no bench has reached yet has no tables.
    if (error.find("does not exist") != std::string::npos) {
      error = "The central database holds no KALIVOR runs yet.";
    }
    showProblem(QString::fromStdString(error));
    return;
  }
  if (listed_.empty()) showProblem("The central database holds no runs of this bench.");
  runs->setRowCount(static_cast<int>(listed_.size()));
  for (int i = 0; i < static_cast<int>(listed_.size()); ++i) {
    const central::CentralRun& r = listed_[static_cast<std::size_t>(i)];
    const std::string cells[] = {r.bench,     r.record,    std::to_string(r.runId),
                                 std::to_string(r.scans), r.firstScan, r.lastScan,
                                 r.startTime, r.endTime,  r.serial};
    for (int c = 0; c < 9; ++c) runs->setItem(i, c, new QTableWidgetItem(QString::fromStdString(cells[c])));
  }
  runs->resizeColumnsToContents();
}

void CentralRunsDialog::accept() {
  if (busy_) return;
  const int row = runs->currentRow();
  if (row < 0 || row >= static_cast<int>(listed_.size())) {
    showProblem("Choose a run first (List shows them).");
    return;
  }
  showProblem({});
  const central::CentralRun r = listed_[static_cast<std::size_t>(row)];
  const std::string where = url->text().trimmed().toStdString();
  auto copy = std::make_shared<central::CentralSnapshot>();
  auto error = std::make_shared<std::string>();
  auto rows = std::make_shared<std::optional<std::pair<std::int64_t, std::int64_t>>>();
  inBackground(
      QString::fromStdString("Copying " + r.bench + " / " + r.record +
                             " from the central database …"),
      [this, r, where, copy, error, rows] {
        // The connection of the listing may have been cut since; one more try on a fresh one.
        if (!copy->make(conn_, r.bench, r.record, *error) &&
            (!conn_.connect(where) || !copy->make(conn_, r.bench, r.record, *error))) {
          if (error->empty()) *error = conn_.error();
          return;
        }
        std::int64_t from = 0, to = 0;
        if (!r.firstScan.empty() &&
            copy->rowsOfScans(static_cast<std::int64_t>(leadingNumber(r.firstScan)),
                              static_cast<std::int64_t>(leadingNumber(r.lastScan)), from, to)) {
          *rows = std::make_pair(from, to);
        }
      },
      [this, r, copy, error, rows] {
        if (copy->file().empty()) {  // a copy that failed leaves nothing
          showProblem(QString::fromStdString(*error));
          return;
        }
        snapshot_ = copy;
        chosenRows_ = *rows;
        chosenTitle_ = QString::fromStdString(r.bench + " / " + r.record);
        QDialog::accept();
      });
}

}  // namespace kalivor
