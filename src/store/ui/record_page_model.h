// SPDX-License-Identifier: MIT
#pragma once
// The record browser's grid: one page of scans (NUM, Time, CH1..CH20) as a table model, and the
// two-row header above it ("Scan" over the first two columns, "Channel" over the channel columns,
// the column titles below).
#include <QAbstractTableModel>
#include <QHeaderView>
#include <vector>

#include "store/store_types.h"

namespace kalivor {

class RecordPageModel final : public QAbstractTableModel {
 public:
  // Role of the header's upper row: "Scan" or "Channel".
  static constexpr int GroupRole = Qt::UserRole + 1;

  explicit RecordPageModel(const std::vector<store::RecordRow>& rows, QObject* parent = nullptr)
      : QAbstractTableModel(parent), rows_(rows) {}

  // The rows have been replaced (a new page is shown).
  void pageChanged() {
    beginResetModel();
    endResetModel();
  }

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

 private:
  const std::vector<store::RecordRow>& rows_;
};

// Horizontal header of two rows; neighbouring sections with the same group text share one
// upper cell, drawn over their joint width.
class GroupedHeader final : public QHeaderView {
 public:
  explicit GroupedHeader(QWidget* parent = nullptr);
  QSize sizeHint() const override;

 protected:
  void paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const override;
  void paintEvent(QPaintEvent* event) override;

 private:
  QString group(int logicalIndex) const;
};

}  // namespace kalivor
