// SPDX-License-Identifier: MIT
#pragma once
// A scan table of the live display (MSFlexGrid2 / the data table's MSFlexGrid1) as a Qt model:
// the view reads the core's rows directly, so 10 000 scans cost no widget items.
#include <QAbstractTableModel>

#include "acquisition/live_display.h"

namespace kalivor {

class ScanTableModel final : public QAbstractTableModel {
  Q_OBJECT
 public:
  ScanTableModel(const LiveDisplay& display, int slot, QObject* parent = nullptr);

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

  // Brings the view up to date with the core's table (cheap when nothing changed); whether rows
  // came, went or the table was new.
  bool sync();
  // The text of a grid cell (row 0 and 1 are the header rows), as the read-out asks for it.
  std::string cellText(std::int64_t gridRow, int column) const;

 private:
  const ScanTable& table() const { return display_.scanTables[static_cast<std::size_t>(slot_)]; }
  const LiveDisplay& display_;
  int slot_;
  int rows_ = 0;
  int columns_ = 0;
  std::int64_t dropped_ = 0;
};

}  // namespace kalivor
