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
  // sizePx: the picture in pixels; twips are mapped at 15 per pixel.
  explicit QPainterCanvas(QSize sizePx = QSize(1021, 340));

  void clear() override;
  void polyline(const TwipPoint* pts, std::size_t n, Rgb color, int widthPx) override;
  void setBackground(int scheme) override;
  void freezeIntoBackground() override;

  const QImage& image() const { return image_; }
  const QImage& background() const { return background_; }

  // The four background pictures: 0 white with a frame, 1 white with a dotted grid and the
  // frame, 2 black, 3 black with a dashed white grid (rows every 34 px, columns every 51 px).
  static QImage schemePicture(int scheme, QSize sizePx);

 private:
  QImage background_;
  QImage image_;
};

}  // namespace kalivor
