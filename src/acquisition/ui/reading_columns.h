// SPDX-License-Identifier: MIT
#pragma once
// How wide the channel columns of a scan table are, one rule for the main window's readings and
// DATA_Table: a plain channel keeps the table's usual width; a channel whose readings come marked
// (alarm limits) or scaled with a unit gets room for its widest such reading, so it shows whole.
#include <QFontMetrics>
#include <QObject>
#include <QString>
#include <vector>

#include "scan/setup_tables.h"

class QTableView;

namespace kalivor {

// The widest text a reading of this channel can be shown as (marker and unit included).
QString widestShownReading(const ChannelSetup& channel);

// The width of the channel's column: `plainWidth`, or more where its readings need it.
int readingColumnWidth(const QFontMetrics& fm, const ChannelSetup& channel, int plainWidth);

// Keeps the channel columns of a scan table (columns 2 on: scan number and time come first) as
// wide as their channels' setups ask. Widths are set when the setups or the table's columns
// change; in between, a width the user dragged is left alone. Lives as long as the view (its
// parent), whose model is set first.
class ReadingColumns final : public QObject {
 public:
  ReadingColumns(QTableView* view, int plainWidth);
  void follow(const ChannelRow& channels);

 private:
  QTableView* view_;
  int plain_;
  int laidOut_ = -1;          // the table's column count when the widths were set
  std::vector<int> widths_;   // the widths then set, by channel
};

}  // namespace kalivor
