// SPDX-License-Identifier: MIT
#pragma once
// DB_SET ("Data Save"): which record each selected instrument writes its scans into. Every
// validated choice goes straight to the program's DatabaseName table; the window keeps no state.
#include <QString>
#include <QWidget>
#include <array>
#include <string>
#include <vector>

#include "app/program.h"

class QComboBox;
class QPushButton;
class QTableWidget;

namespace kalivor {

class DB_SET final : public QWidget {
  Q_OBJECT
 public:
  explicit DB_SET(Program& program, QWidget* parent = nullptr);

  // Rebuilds the grid and the lists from the device list and DatabaseName.
  void load();
  // Rebuilds the window when the instruments or their records were changed elsewhere (a new
  // instrument selection resets every choice), so it never shows a choice that no longer holds.
  void followCore();
  // Validates the text of Combo1(index) and stores slot `index`'s choice.
  void Combo1_Change(int index);
  void OK_Click();

  // Number of listed instruments (rows below the header).
  int listedCount() const { return listed_; }

  QTableWidget* MSFlexGrid1 = nullptr;
  std::array<QComboBox*, 4> Combo1{};
  QPushButton* OK = nullptr;

 protected:
  void changeEvent(QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void placeCombos();

  Program& p_;
  int listed_ = 0;
  bool loading_ = false;
  std::array<QString, 4> validated_{};  // the text each list had when last validated
  // What the window was built from, and each slot's record as last shown or chosen here.
  std::vector<std::string> shownDevices_;
  std::array<std::string, 4> shownNames_{};
};

}  // namespace kalivor
