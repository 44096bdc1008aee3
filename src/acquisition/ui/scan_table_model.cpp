// SPDX-License-Identifier: MIT
#include "acquisition/ui/scan_table_model.h"

#include "acquisition/ui/alarm_style.h"

namespace kalivor {

ScanTableModel::ScanTableModel(const LiveDisplay& display, int slot, QObject* parent)
    : QAbstractTableModel(parent), display_(display), slot_(slot) {
  sync();
}

int ScanTableModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : rows_; }
int ScanTableModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : columns_; }

QVariant ScanTableModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid()) return {};
  if (role == Qt::ForegroundRole || role == Qt::BackgroundRole) {
    return alarmCellRole(table(), index.row(), index.column(), role);
  }
  // The tool tip shows a reading whole where a marker or a long unit makes it wider than its
  // column.
  if (role != Qt::DisplayRole && role != Qt::ToolTipRole && role != Qt::TextAlignmentRole) return {};
  if (role == Qt::TextAlignmentRole) return int(Qt::AlignCenter);
  const auto& rows = table().rows;
  if (index.row() >= static_cast<int>(rows.size())) return {};
  const auto& row = rows[static_cast<std::size_t>(index.row())];
  if (index.column() >= static_cast<int>(row.size())) return {};
  return QString::fromStdString(row[static_cast<std::size_t>(index.column())]);
}

QVariant ScanTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (role != Qt::DisplayRole || orientation != Qt::Horizontal) return {};
  const auto& header = table().header;
  if (header.size() < 2 || section >= static_cast<int>(header[1].size())) return {};
  return QString::fromStdString(header[1][static_cast<std::size_t>(section)]);
}

bool ScanTableModel::sync() {
  const ScanTable& t = table();
  const int rows = static_cast<int>(t.rows.size());
  const int columns = t.header.empty() ? 0 : static_cast<int>(t.header[1].size());
  const std::int64_t dropped = t.droppedRows - dropped_;
  if (columns != columns_ || dropped < 0 || dropped > rows_) {
    // A new run's table.
    beginResetModel();
    rows_ = rows;
    columns_ = columns;
    dropped_ = t.droppedRows;
    endResetModel();
    return true;
  }
  if (dropped > 0) {
    // The oldest rows left to keep the table bounded: removing them rather than resetting keeps
    // the place a reader has scrolled to.
    beginRemoveRows({}, 0, static_cast<int>(dropped) - 1);
    rows_ -= static_cast<int>(dropped);
    dropped_ = t.droppedRows;
    endRemoveRows();
  }
  if (rows < rows_) {
    beginResetModel();
    rows_ = rows;
    endResetModel();
    return true;
  }
  if (rows > rows_) {
    beginInsertRows({}, rows_, rows - 1);
    rows_ = rows;
    endInsertRows();
    return true;
  }
  return dropped > 0;
}

std::string ScanTableModel::cellText(std::int64_t gridRow, int column) const {
  const ScanTable& t = table();
  if (gridRow < 2) {
    if (t.header.size() < 2 || column < 0 || column >= static_cast<int>(t.header[1].size())) return {};
    return t.header[static_cast<std::size_t>(gridRow)][static_cast<std::size_t>(column)];
  }
  // Row s + 1 holds scan s; dropped rows shift the scans that are kept.
  const std::int64_t r = gridRow - 2 - t.droppedRows;
  if (r < 0 || r >= static_cast<std::int64_t>(t.rows.size())) return {};
  const auto& row = t.rows[static_cast<std::size_t>(r)];
  if (column < 0 || column >= static_cast<int>(row.size())) return {};
  return row[static_cast<std::size_t>(column)];
}

}  // namespace kalivor
