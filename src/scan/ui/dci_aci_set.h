// SPDX-License-Identifier: MIT
#pragma once
// DCI_ACI_SET: the shunt resistance R and the current offset of one DCI/ACI channel, edited
// straight in the applied setup (current = measured volts / R + offset). Shown modally.
#include <QDialog>

#include "common/messages.h"
#include "scan/setup_tables.h"

class QLabel;
class QLineEdit;
class QPushButton;

namespace kalivor {

inline constexpr const char* kShuntNumberText = "Please key a number (>0).";

class DCI_ACI_SET final : public QDialog {
  Q_OBJECT
 public:
  // Loading: the boxes show the channel's Ohm and Current.
  DCI_ACI_SET(ScanTables& tables, Messages& messages, int slot, int channel,
              QWidget* parent = nullptr);

  // SET: R > 0 stores both values and closes; anything else asks for a number and stores nothing.
  void Command1_Click();

  int slot() const { return slot_; }
  int channel() const { return channel_; }

  QLabel *Label1, *Label2, *Label3, *Label4, *Label5;
  QLineEdit *ohm_set, *curr_set;
  QPushButton* Command1;

 private:
  ScanTables& tables_;
  Messages& messages_;
  int slot_;
  int channel_;
};

}  // namespace kalivor
