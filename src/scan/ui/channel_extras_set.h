// SPDX-License-Identifier: MIT
#pragma once
// Channel_Extras_Set: the optional scaling (M * reading + B, with a unit label) and alarm limits
// of one channel of the scan settings' working copy. Opened modally from the channel's cell of
// the scan settings grid (double-click), like the shunt window.
#include <QDialog>

#include "common/messages.h"
#include "scan/setup_tables.h"

class QCheckBox;
class QLineEdit;
class QPushButton;

namespace kalivor {

class Channel_Extras_Set final : public QDialog {
  Q_OBJECT
 public:
  Channel_Extras_Set(ChannelSetup& channel, int channelNumber, Messages& messages,
                     QWidget* parent = nullptr);

  // SET: every value right stores them all and closes; else says which is wrong and stores
  // nothing. The close box stores nothing.
  void Command1_Click();

  QCheckBox* scale_on;
  QLineEdit *scale_gain, *scale_offset, *scale_unit, *alarm_low, *alarm_high;
  QPushButton* Command1;

 private:
  ChannelSetup& channel_;
  Messages& messages_;
};

}  // namespace kalivor
