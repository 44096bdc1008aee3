// SPDX-License-Identifier: MIT
#include "store/ui/record_page_model.h"

#include <QApplication>
#include <QPainter>
#include <QStyleOptionHeader>
#include <climits>

#include "common/ui/qt_seams.h"
#include "store/csv_export.h"

namespace kalivor {

int RecordPageModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int RecordPageModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : store::kRecordColumns;
}

QVariant RecordPageModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= static_cast<int>(rows_.size())) return {};
  switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:  // the whole text, should the user narrow a column
      return toQt(
          rows_[static_cast<std::size_t>(index.row())][static_cast<std::size_t>(index.column())]);
    case Qt::TextAlignmentRole:
      return QVariant::fromValue(Qt::Alignment(Qt::AlignCenter));
    case Qt::BackgroundRole:
      // Scan Cycle and Time are the grid's fixed columns.
      if (index.column() < 2) return QApplication::palette().button();
      return {};
    default:
      return {};
  }
}

QVariant RecordPageModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || section < 0 || section >= store::kRecordColumns) return {};
  if (role == Qt::DisplayRole)
    return toQt(store::columnTitles()[static_cast<std::size_t>(section)]);
  if (role == GroupRole) return section < 2 ? QString("Scan") : QString("Channel");
  return {};
}

GroupedHeader::GroupedHeader(QWidget* parent) : QHeaderView(Qt::Horizontal, parent) {
  setSectionsClickable(false);
  setHighlightSections(false);
}

QSize GroupedHeader::sizeHint() const {
  QSize s = QHeaderView::sizeHint();
  s.setHeight(2 * (fontMetrics().height() + 8));
  return s;
}

QString GroupedHeader::group(int logicalIndex) const {
  return model() ? model()
                       ->headerData(logicalIndex, orientation(), RecordPageModel::GroupRole)
                       .toString()
                 : QString();
}

void GroupedHeader::paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const {
  // The lower row: the section's own title. The upper row is drawn over it in paintEvent.
  if (!rect.isValid()) return;
  const int half = rect.height() / 2;
  QStyleOptionHeader opt;
  initStyleOption(&opt);
  opt.position = QStyleOptionHeader::Middle;
  opt.textAlignment = Qt::AlignCenter;
  opt.rect = QRect(rect.left(), rect.top() + half, rect.width(), rect.height() - half);
  opt.section = logicalIndex;
  opt.text = model() ? model()->headerData(logicalIndex, orientation(), Qt::DisplayRole).toString()
                     : QString();
  style()->drawControl(QStyle::CE_Header, &opt, painter, this);
}

void GroupedHeader::paintEvent(QPaintEvent* event) {
  QHeaderView::paintEvent(event);
  QPainter painter(viewport());
  const int half = viewport()->height() / 2;
  const QRect view(0, 0, viewport()->width(), half);
  // One cell over each run of neighbouring sections with the same group, its text centred on
  // the part in view.
  for (int first = 0; first < count();) {
    const QString g = group(logicalIndex(first));
    int last = first;
    while (last + 1 < count() && group(logicalIndex(last + 1)) == g) ++last;
    int left = INT_MAX;
    int right = INT_MIN;
    for (int v = first; v <= last; ++v) {
      const int s = logicalIndex(v);
      if (isSectionHidden(s)) continue;
      left = std::min(left, sectionViewportPosition(s));
      right = std::max(right, sectionViewportPosition(s) + sectionSize(s));
    }
    first = last + 1;
    if (left >= right) continue;
    const QRect span(left, 0, right - left, half);
    if (!span.intersects(view)) continue;
    QStyleOptionHeader opt;
    initStyleOption(&opt);
    opt.position = QStyleOptionHeader::Middle;
    opt.textAlignment = Qt::AlignCenter;
    opt.rect = span;
    // CE_Header puts back the clip it found, and an unclipped painter's "clip" is empty: keep
    // the painter's state around it, or nothing after it would show.
    painter.save();
    style()->drawControl(QStyle::CE_Header, &opt, &painter, this);
    painter.restore();
    opt.rect = span.intersected(view);
    opt.text = g;
    style()->drawControl(QStyle::CE_HeaderLabel, &opt, &painter, this);
  }
}

}  // namespace kalivor
