// SPDX-License-Identifier: MIT
#include "store/ui/db_set.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QScopedValueRollback>
#include <QTableWidget>
#include <algorithm>

#include "common/ui/qt_seams.h"
#include "store/record_files.h"

namespace kalivor {
namespace {
constexpr double kGridLeft = 120;
constexpr double kGridTop = 120;
constexpr double kGridWidth = 8415;
constexpr const char* kPrompt = "Please choice a database";
}  // namespace

DB_SET::DB_SET(Program& program, QWidget* parent) : QWidget(parent), p_(program) {
  setWindowFlag(Qt::Window);
  setObjectName("DB_SET");
  setWindowTitle("Data Save");
  if (parent) setWindowIcon(parent->windowIcon());

  MSFlexGrid1 = new QTableWidget(1, 2, this);
  MSFlexGrid1->setObjectName("MSFlexGrid1");
  MSFlexGrid1->horizontalHeader()->hide();
  MSFlexGrid1->verticalHeader()->hide();
  MSFlexGrid1->setEditTriggers(QAbstractItemView::NoEditTriggers);
  MSFlexGrid1->setSelectionMode(QAbstractItemView::NoSelection);
  MSFlexGrid1->setFocusPolicy(Qt::NoFocus);
  MSFlexGrid1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  MSFlexGrid1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);

  QStringList items;
  for (int k = 1; k <= 10; ++k) items << QString("Record%1").arg(k);
  items << "NONE";
  for (int i = 0; i < 4; ++i) {
    auto* combo = new QComboBox(this);
    combo->setObjectName(QString("Combo1_%1").arg(i));
    combo->setEditable(true);
    combo->setInsertPolicy(QComboBox::NoInsert);
    // Completion would fill in a record name the user did not type.
    combo->setCompleter(nullptr);
    combo->addItems(items);
    combo->hide();
    // A pick is validated at once; typed text when the edit ends (Enter or leaving the list),
    // so a name is judged whole rather than letter by letter.
    connect(combo, &QComboBox::activated, this, [this, i](int) { Combo1_Change(i); });
    connect(combo->lineEdit(), &QLineEdit::editingFinished, this, [this, i] {
      if (Combo1[static_cast<std::size_t>(i)]->currentText() !=
          validated_[static_cast<std::size_t>(i)])
        Combo1_Change(i);
    });
    Combo1[static_cast<std::size_t>(i)] = combo;
  }

  OK = new QPushButton("OK", this);
  OK->setObjectName("OK");
  connect(OK, &QPushButton::clicked, this, &DB_SET::OK_Click);
  load();
}

void DB_SET::load() {
  // Text still being typed is judged before the lists are rebuilt.
  for (int i = 0; i < listed_; ++i) {
    if (Combo1[static_cast<std::size_t>(i)]->currentText() !=
        validated_[static_cast<std::size_t>(i)])
      Combo1_Change(i);
  }
  loading_ = true;
  const auto& devices = p_.display.deviceList;
  listed_ = std::min<int>(static_cast<int>(devices.size()), 4);
  shownDevices_ = devices;
  for (std::size_t i = 0; i < shownNames_.size(); ++i) shownNames_[i] = p_.tables.DatabaseName[i];
  const int rowHeight = Combo1[0]->sizeHint().height();

  QTableWidget* g = MSFlexGrid1;
  g->clearContents();
  g->setRowCount(listed_ + 1);
  const int gridWidth = px(kGridWidth);
  g->setGeometry(px(kGridLeft), px(kGridTop), gridWidth, 5 * rowHeight + 2 * g->frameWidth());
  const int inner = gridWidth - 2 * g->frameWidth();
  g->setColumnWidth(0, inner / 2);
  g->setColumnWidth(1, inner - inner / 2);
  for (int r = 0; r <= listed_; ++r) g->setRowHeight(r, rowHeight);

  auto cell = [g](int r, int c, const QString& text, bool fixed) {
    auto* item = new QTableWidgetItem(text);
    item->setTextAlignment(c == 0 ? (Qt::AlignLeft | Qt::AlignTop) : Qt::AlignCenter);
    if (fixed) item->setBackground(g->palette().button());
    g->setItem(r, c, item);
  };
  cell(0, 0, "Device", true);
  cell(0, 1, "DataBase", true);
  for (int i = 0; i < 4; ++i) {
    QComboBox* combo = Combo1[static_cast<std::size_t>(i)];
    if (i < listed_) {
      cell(i + 1, 0, toQt(devices[static_cast<std::size_t>(i)]), false);
      const std::string& name = p_.tables.DatabaseName[static_cast<std::size_t>(i)];
      const QString text = name != "0" ? toQt(name) : QString(kPrompt);
      combo->setCurrentIndex(combo->findText(text));
      combo->setEditText(text);
      validated_[static_cast<std::size_t>(i)] = text;
      combo->show();
    } else {
      combo->hide();
    }
  }
  placeCombos();

  const int okTop = g->geometry().bottom() + px(120);
  OK->setGeometry(px(kGridLeft + kGridWidth - 1455), okTop, px(1455), px(435));
  setFixedSize(px(kGridLeft * 2 + kGridWidth), OK->geometry().bottom() + px(120));
  loading_ = false;
}

void DB_SET::placeCombos() {
  QTableWidget* g = MSFlexGrid1;
  const QPoint origin = g->geometry().topLeft() + QPoint(g->frameWidth(), g->frameWidth());
  for (int i = 0; i < listed_; ++i) {
    Combo1[static_cast<std::size_t>(i)]->setGeometry(origin.x() + g->columnViewportPosition(1),
                                                     origin.y() + g->rowViewportPosition(i + 1),
                                                     g->columnWidth(1), g->rowHeight(i + 1));
  }
}

void DB_SET::Combo1_Change(int index) {
  if (loading_ || index < 0 || index >= listed_) return;
  QComboBox* combo = Combo1[static_cast<std::size_t>(index)];
  const std::string text = fromQt(combo->currentText());
  const store::DatabaseChoice choice =
      store::validateDatabaseChoice(p_.tables.DatabaseName, index, listed_, text);
  p_.tables.DatabaseName[static_cast<std::size_t>(index)] = choice.databaseName;
  // The text counts as judged before a message box takes the focus from the list: losing the
  // focus ends the edit, which must not judge (and refuse) the same text again.
  validated_[static_cast<std::size_t>(index)] = combo->currentText();
  {
    const QScopedValueRollback<bool> judging(loading_, true);
    for (const std::string& m : choice.messages) p_.messages.inform(m);
  }
  if (choice.shownText != text) {
    loading_ = true;
    const QString shown = toQt(choice.shownText);
    combo->setCurrentIndex(combo->findText(shown));
    combo->setEditText(shown);
    loading_ = false;
  }
  validated_[static_cast<std::size_t>(index)] = combo->currentText();
  shownNames_[static_cast<std::size_t>(index)] = p_.tables.DatabaseName[static_cast<std::size_t>(index)];
}

void DB_SET::followCore() {
  bool changed = shownDevices_ != p_.display.deviceList;
  for (std::size_t i = 0; i < shownNames_.size(); ++i)
    changed = changed || shownNames_[i] != p_.tables.DatabaseName[i];
  if (!changed) return;
  // Text typed for the old selection is not judged against the new one.
  for (int i = 0; i < listed_; ++i)
    validated_[static_cast<std::size_t>(i)] = Combo1[static_cast<std::size_t>(i)]->currentText();
  load();
}

void DB_SET::OK_Click() { close(); }

void DB_SET::changeEvent(QEvent* event) {
  if (event->type() == QEvent::ActivationChange && isActiveWindow()) {
    for (QComboBox* combo : Combo1) {
      combo->lineEdit()->deselect();
      combo->lineEdit()->setCursorPosition(0);
    }
  }
  QWidget::changeEvent(event);
}

void DB_SET::closeEvent(QCloseEvent* event) {
  // Text still being typed counts as chosen, as it would on leaving the list.
  for (int i = 0; i < listed_; ++i) {
    if (Combo1[static_cast<std::size_t>(i)]->currentText() !=
        validated_[static_cast<std::size_t>(i)])
      Combo1_Change(i);
  }
  event->accept();
}

}  // namespace kalivor
