// SPDX-License-Identifier: MIT
#pragma once
// The live scan table's view (MSFlexGrid2): a plain table view that paints in bands of a few rows.
// Qt's raster painting hands every fill or line taller than about 96 pixels to helper threads in
// parts and waits for them; for the few hundred pixels of a table's grid lines and background
// the hand-offs cost many times the painting, and the table repaints with every scan. Bands of
// whole rows, each under that height, keep the painting on the window thread; every cell is
// still painted once, as by the table view itself.
#include <QTableView>

namespace kalivor {

class ScanTableView final : public QTableView {
 public:
  explicit ScanTableView(QWidget* parent = nullptr);

  // The tallest band painted at once, in pixels.
  static constexpr int kBandPx = 64;

 protected:
  void paintEvent(QPaintEvent* event) override;
};

}  // namespace kalivor
