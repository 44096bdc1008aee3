// SPDX-License-Identifier: MIT
#include "acquisition/ui/scan_table_view.h"

#include <QHeaderView>
#include <QPaintEvent>
#include <QPainter>
#include <algorithm>

namespace kalivor {

ScanTableView::ScanTableView(QWidget* parent) : QTableView(parent) {
  // The background is filled band by band too (the window would fill it in one go).
  viewport()->setAutoFillBackground(false);
  viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
}

void ScanTableView::paintEvent(QPaintEvent* event) {
  const QRegion dirty = event->region();
  const QRect bounds = dirty.boundingRect();
  const QBrush ground = viewport()->palette().brush(viewport()->backgroundRole());
  int top = bounds.top();
  while (top <= bounds.bottom()) {
    // Whole rows from `top` while they fit in a band; past the last row, plain slices.
    int bottom = top + kBandPx - 1;
    int row = rowAt(top);
    if (row >= 0) {
      const int first = rowViewportPosition(row);
      int end = first + rowHeight(row) - 1;
      while (true) {
        const int next = verticalHeader()->visualIndex(row) + 1;
        const int nextRow = next < model()->rowCount(rootIndex()) ? verticalHeader()->logicalIndex(next) : -1;
        if (nextRow < 0 || verticalHeader()->isSectionHidden(nextRow)) break;
        const int nextEnd = rowViewportPosition(nextRow) + rowHeight(nextRow) - 1;
        if (nextEnd - top >= kBandPx) break;
        row = nextRow;
        end = nextEnd;
      }
      bottom = std::max(end, top);
    }
    bottom = std::min(bottom, bounds.bottom());
    const QRegion band = dirty & QRect(bounds.left(), top, bounds.width(), bottom - top + 1);
    if (!band.isEmpty()) {
      {
        QPainter p(viewport());
        for (const QRect& r : band) p.fillRect(r, ground);
      }
      QPaintEvent part(band);
      QTableView::paintEvent(&part);
    }
    top = bottom + 1;
  }
}

}  // namespace kalivor
