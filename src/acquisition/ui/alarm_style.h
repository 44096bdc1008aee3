// SPDX-License-Identifier: MIT
#pragma once
// How a reading outside its alarm band is drawn in every grid and table: dark red text on pale
// red, whatever the channel's trace colour (the marker before the text is the core's).
#include <QColor>
#include <QVariant>

#include "acquisition/live_display.h"

namespace kalivor {

inline QColor alarmQColor(Rgb c) { return QColor(redOf(c), greenOf(c), blueOf(c)); }

// Foreground or background role of cell (row, column) of a scan table (columns 0 and 1 are the
// scan number and time); an invalid QVariant when the cell is not alarmed or the role is another.
inline QVariant alarmCellRole(const ScanTable& table, int row, int column, int role) {
  if (row < 0 || column < 2 || !table.alarmed(static_cast<std::size_t>(row), column - 2)) return {};
  if (role == Qt::ForegroundRole) return alarmQColor(kAlarmTextColor);
  if (role == Qt::BackgroundRole) return alarmQColor(kAlarmBackgroundColor);
  return {};
}

}  // namespace kalivor
