// SPDX-License-Identifier: MIT
#pragma once
// Connect_Form: the instruments discovery found, with a tick box over each row's first column.
#include <QDialog>
#include <array>

#include "app/selection.h"

class QCheckBox;
class QLabel;
class QPushButton;
class QTableWidget;

namespace kalivor {

class Connect_Form final : public QDialog {
  Q_OBJECT
 public:
  // Loading the window runs discovery (Refresh).
  explicit Connect_Form(InstrumentSelection& selection, QWidget* parent = nullptr);

  void Find_Button_Click();
  void ok_Button_Click();

  QTableWidget* Connect_MSFlexGrid = nullptr;
  std::array<QCheckBox*, 4> Check1{};
  QPushButton* Find_Button = nullptr;
  QPushButton* ok_Button = nullptr;
  QLabel* Label2 = nullptr;

 private:
  void showList();
  InstrumentSelection& selection_;
};

}  // namespace kalivor
