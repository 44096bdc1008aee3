// SPDX-License-Identifier: MIT
#pragma once
// ChartCanvas on a QImage: the background picture (a scheme, or a picture frozen by printing)
// plus the curves drawn since the last clear. A widget shows image(); printing paints
// background() after freezeIntoBackground().
#include <QImage>
#include <QSize>

#include "charts/chart_canvas.h"

namespace kalivor {

class QPainterCanvas final : public ChartCanvas {
 public:
  // sizePx: the picture in pixels, at 15 twips a pixel. A later resize() stretches the same twips
  // over the new size.
  explicit QPainterCanvas(QSize sizePx = QSize(1021, 340));

  // A new picture size (the plot's window grew or shrank): the background is made again at that
  // size (a frozen one stretched), the curves are erased; the chart draws them again.
  void resize(QSize sizePx);
  QSize size() const { return image_.size(); }
  // Pixels per plot twip across and down.
  double xScale() const { return xScale_; }
  double yScale() const { return yScale_; }

  void clear() override;
  void polyline(const TwipPoint* pts, std::size_t n, Rgb color, int widthPx) override;
  void setBackground(int scheme) override;
  void freezeIntoBackground() override;

  const QImage& image() const { return image_; }
  const QImage& background() const { return background_; }

  // The four background pictures: 0 white with a frame, 1 white with a dotted grid and the
  // frame, 2 black, 3 black with a dashed white grid (10 rows and 20 columns: every 34 px and
  // 51 px at the plot's own size).
  static QImage schemePicture(int scheme, QSize sizePx);

 private:
  void setScales();

  QImage background_;
  QImage image_;
  QSize natural_;  // the size at which a pixel is 15 twips
  int scheme_ = 3;
  bool frozen_ = false;
  double xScale_ = 1.0 / 15;
  double yScale_ = 1.0 / 15;
};

}  // namespace kalivor
