// SPDX-License-Identifier: MIT
#pragma once
// Operation → "Central database…": the central PostgreSQL database's URL and this bench's name,
// with the forwarder's state shown live. The choice is kept in the user's settings; a password
// never is (it belongs in ~/.pgpass or libpq's environment).
#include <QDialog>
#include <functional>
#include <string>

#include "central/forwarder.h"

class QLabel;
class QLineEdit;
class QSettings;
class QTimer;

namespace kalivor {

class CentralDialog final : public QDialog {
  Q_OBJECT
 public:
  // `state` gives the forwarder's present state as text ("" while the central store is off).
  CentralDialog(const central::CentralChoice& choice, std::function<std::string()> state,
                QWidget* parent = nullptr);

  // What the user chose: an empty URL turns the central store off; a blank bench is the host's.
  central::CentralChoice choice() const;
  void accept() override;

  QLineEdit *url, *bench;
  QLabel *stateLabel, *problem;

 private:
  void showState();

  std::function<std::string()> state_;
  QTimer* timer_;
};

// The choice kept in the user's settings (group "central": url, bench).
central::CentralChoice loadCentralChoice(QSettings& settings);
void saveCentralChoice(QSettings& settings, const central::CentralChoice& choice);

}  // namespace kalivor
