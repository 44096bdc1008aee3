// SPDX-License-Identifier: MIT
#include "central/ui/central_dialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QSettings>
#include <QTimer>
#include <QVBoxLayout>

#include "central/pg.h"

namespace kalivor {

CentralDialog::CentralDialog(const central::CentralChoice& choice,
                             std::function<std::string()> state, QWidget* parent)
    : QDialog(parent), state_(std::move(state)) {
  setObjectName("CentralDialog");
  setWindowTitle("Central database");
  auto* form = new QFormLayout;
  url = new QLineEdit(QString::fromStdString(choice.url));
  url->setObjectName("CentralUrl");
  url->setPlaceholderText("postgresql://user@host/database");
  url->setMinimumWidth(360);
  bench = new QLineEdit(QString::fromStdString(choice.bench));
  bench->setObjectName("CentralBench");
  bench->setPlaceholderText(QString::fromStdString(central::defaultBenchName()));
  form->addRow("URL:", url);
  form->addRow("Bench:", bench);
  auto* note = new QLabel(
      "Every scan is stored in its record first and then also sent to this PostgreSQL "
      "database; while it cannot be reached the scans wait and go later. The password comes "
      "from ~/.pgpass or PGPASSWORD, never from a file of this program. An empty URL turns the "
      "central database off.");
  note->setWordWrap(true);
  stateLabel = new QLabel;
  stateLabel->setObjectName("CentralState");
  stateLabel->setWordWrap(true);
  stateLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
  problem = new QLabel;
  problem->setObjectName("CentralProblem");
  problem->setWordWrap(true);
  problem->setStyleSheet("color: #b00000");
  problem->hide();
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
  connect(buttons, &QDialogButtonBox::accepted, this, &CentralDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &CentralDialog::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addWidget(note);
  layout->addWidget(stateLabel);
  layout->addWidget(problem);
  layout->addWidget(buttons);
  timer_ = new QTimer(this);
  connect(timer_, &QTimer::timeout, this, &CentralDialog::showState);
  timer_->start(1000);
  showState();
}

void CentralDialog::showState() {
  const std::string text = state_ ? state_() : std::string();
  stateLabel->setText(text.empty() ? QString("Now: off")
                                   : "Now: " + QString::fromStdString(text));
}

central::CentralChoice CentralDialog::choice() const {
  central::CentralChoice c;
  c.url = url->text().trimmed().toStdString();
  c.bench = bench->text().trimmed().toStdString();
  return c;
}

void CentralDialog::accept() {
  const central::CentralChoice c = choice();
  // The choice is stored in the user's settings: a password there would lie in plain text.
  if (central::maskedUrl(c.url) != c.url) {
    problem->setText("The URL holds a password. Put it into ~/.pgpass (or PGPASSWORD) and "
                     "leave it out of the URL: this program stores no passwords.");
    problem->show();
    return;
  }
  QDialog::accept();
}

central::CentralChoice loadCentralChoice(QSettings& settings) {
  central::CentralChoice c;
  c.url = settings.value("central/url").toString().trimmed().toStdString();
  c.bench = settings.value("central/bench").toString().trimmed().toStdString();
  return c;
}

void saveCentralChoice(QSettings& settings, const central::CentralChoice& choice) {
  if (choice.url.empty()) {
    settings.remove("central/url");
  } else {
    settings.setValue("central/url", QString::fromStdString(choice.url));
  }
  if (choice.bench.empty()) {
    settings.remove("central/bench");
  } else {
    settings.setValue("central/bench", QString::fromStdString(choice.bench));
  }
  settings.sync();
}

}  // namespace kalivor
