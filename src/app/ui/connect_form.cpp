// SPDX-License-Identifier: MIT
#include "app/ui/connect_form.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>

#include "common/ui/qt_seams.h"

namespace kalivor {

Connect_Form::Connect_Form(InstrumentSelection& selection, QWidget* parent)
    : QDialog(parent), selection_(selection) {
  setObjectName("Connect_Form");
  setWindowTitle("Connect to instrument");
  setFixedSize(px(7245), px(4230));
  if (parent) setWindowIcon(parent->windowIcon());

  Label2 = new QLabel("Select Instrument", this);
  Label2->setObjectName("Label2");
  Label2->setGeometry(px(120), px(240), px(1695), px(255));

  Connect_MSFlexGrid = new QTableWidget(0, 3, this);
  Connect_MSFlexGrid->setObjectName("Connect_MSFlexGrid");
  Connect_MSFlexGrid->setGeometry(px(120), px(600), px(6975), px(2775));
  Connect_MSFlexGrid->setHorizontalHeaderLabels({" ", "Model", "Information"});
  Connect_MSFlexGrid->verticalHeader()->hide();
  Connect_MSFlexGrid->setEditTriggers(QAbstractItemView::NoEditTriggers);
  Connect_MSFlexGrid->setSelectionMode(QAbstractItemView::NoSelection);
  Connect_MSFlexGrid->setColumnWidth(0, px(700));
  Connect_MSFlexGrid->setColumnWidth(1, px(1000));
  Connect_MSFlexGrid->horizontalHeader()->setStretchLastSection(true);
  Connect_MSFlexGrid->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignTop);

  for (int k = 0; k < 4; ++k) {
    auto* box = new QCheckBox(this);
    box->setObjectName(QString("Check1_%1").arg(k));
    box->setFixedSize(px(255), px(255));
    box->hide();
    connect(box, &QCheckBox::toggled, this, [this, k](bool on) { selection_.Check1[static_cast<std::size_t>(k)] = on; });
    Check1[static_cast<std::size_t>(k)] = box;
  }

  Find_Button = new QPushButton("Refresh List", this);
  Find_Button->setObjectName("Find_Button");
  Find_Button->setGeometry(px(120), px(3480), px(2055), px(495));
  connect(Find_Button, &QPushButton::clicked, this, &Connect_Form::Find_Button_Click);

  ok_Button = new QPushButton("OK", this);
  ok_Button->setObjectName("ok_Button");
  ok_Button->setGeometry(px(5040), px(3480), px(2055), px(495));
  ok_Button->setDefault(true);
  connect(ok_Button, &QPushButton::clicked, this, &Connect_Form::ok_Button_Click);

  Find_Button_Click();
}

void Connect_Form::Find_Button_Click() {
  selection_.Find_Button_Click();
  showList();
}

void Connect_Form::showList() {
  auto* grid = Connect_MSFlexGrid;
  // The tick boxes live in cells of column 0; take them out before the rows go.
  for (int r = 0; r < grid->rowCount(); ++r) grid->removeCellWidget(r, 0);
  const int n = selection_.listedCount();
  grid->setRowCount(n);
  const int rowHeight = px(255 + 70);
  grid->horizontalHeader()->setFixedHeight(rowHeight);
  for (int k = 0; k < 4; ++k) {
    QCheckBox* box = Check1[static_cast<std::size_t>(k)];
    const bool shown = selection_.Check1Visible[static_cast<std::size_t>(k)];
    box->blockSignals(true);
    box->setChecked(selection_.Check1[static_cast<std::size_t>(k)]);
    box->blockSignals(false);
    if (shown && k < n) {
      auto* cell = new QWidget;
      auto* lay = new QHBoxLayout(cell);
      lay->setContentsMargins(0, 0, 0, 0);
      lay->setAlignment(Qt::AlignCenter);
      box->setParent(cell);
      lay->addWidget(box);
      box->show();
      grid->setCellWidget(k, 0, cell);
    } else {
      box->setParent(this);
      box->hide();
    }
  }
  for (int r = 0; r < n; ++r) {
    grid->setRowHeight(r, rowHeight);
    auto* model = new QTableWidgetItem(toQt(selection_.modelOf(r)));
    auto* info = new QTableWidgetItem(toQt(selection_.descriptionOf(r)));
    model->setTextAlignment(Qt::AlignLeft | Qt::AlignTop);
    info->setTextAlignment(Qt::AlignLeft | Qt::AlignTop);
    grid->setItem(r, 1, model);
    grid->setItem(r, 2, info);
  }
}

void Connect_Form::ok_Button_Click() {
  for (int k = 0; k < 4; ++k) selection_.Check1[static_cast<std::size_t>(k)] = Check1[static_cast<std::size_t>(k)]->isChecked();
  selection_.ok_Button_Click();
  accept();
}

}  // namespace kalivor
