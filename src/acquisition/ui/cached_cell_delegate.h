// SPDX-License-Identifier: MIT
#pragma once
// Paints a table's text cells as the standard delegate does, but keeps each painted cell as a
// picture and draws the picture again while the cell's text, colours, font, size and state stay
// the same. The scan table repaints all its visible rows with every new scan, though only the
// newest row is new; laying out and drawing the text of a cell costs some hundred times more than
// drawing its picture. Cells the picture cannot stand for (an icon, a check box, an alternate row
// colour, a background that is no plain colour) are painted as before.
#include <QCache>
#include <QColor>
#include <QFont>
#include <QPixmap>
#include <QStyledItemDelegate>

namespace kalivor {

// Everything the standard painting of a text cell depends on.
struct CellLook {
  QString text;
  QFont font;
  QSize size;
  qreal pixelRatio = 1;
  int alignment = 0, elide = 0, features = 0, state = 0, direction = 0;
  bool decorationSelected = false;
  QRgb textColor = 0, highlightedText = 0, highlight = 0, background = 0, ground = 0;
  bool hasBackground = false;
  const void* style = nullptr;
  bool operator==(const CellLook& o) const;
};
size_t qHash(const CellLook& look, size_t seed = 0);

class CachedCellDelegate final : public QStyledItemDelegate {
 public:
  // At most `maxPixels` pixels of cell pictures are kept, the least recently drawn going first
  // (the default: some 1.6 MB, a few times the cells a table shows).
  explicit CachedCellDelegate(QObject* parent = nullptr, int maxPixels = 400'000);

  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;

  // Cells painted from a kept picture and cells painted afresh (kept or not), since made.
  int reused() const { return reused_; }
  int painted() const { return painted_; }

 private:
  mutable QCache<CellLook, QPixmap> pictures_;
  mutable int reused_ = 0;
  mutable int painted_ = 0;
};

}  // namespace kalivor
