// SPDX-License-Identifier: MIT
#include "charts/ui/qpainter_canvas.h"

#include <QPainter>
#include <QPen>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace kalivor {
namespace {

// Aliased one-pixel line from (x0, y0) to (x1, y1); pixels outside the picture are skipped.
void plotLine(std::uint32_t* bits, int stride, int w, int h, int x0, int y0, int x1, int y1,
              std::uint32_t c) {
  const int dx = std::abs(x1 - x0);
  const int sx = x0 < x1 ? 1 : -1;
  const int dy = -std::abs(y1 - y0);
  const int sy = y0 < y1 ? 1 : -1;
  int err = dx + dy;
  for (;;) {
    if (static_cast<unsigned>(x0) < static_cast<unsigned>(w) &&
        static_cast<unsigned>(y0) < static_cast<unsigned>(h))
      bits[static_cast<std::ptrdiff_t>(y0) * stride + x0] = c;
    if (x0 == x1 && y0 == y1) break;
    const int e2 = 2 * err;
    if (e2 >= dy) {
      err += dy;
      x0 += sx;
    }
    if (e2 <= dx) {
      err += dx;
      y0 += sy;
    }
  }
}

}  // namespace

namespace {
// The trend plot's picture size, at which its grid has a row every 34 and a column every 51 px.
constexpr double kNaturalWidthPx = 1021;
constexpr double kNaturalHeightPx = 340;
}  // namespace

QPainterCanvas::QPainterCanvas(QSize sizePx)
    : background_(schemePicture(3, sizePx)), image_(background_.copy()), natural_(sizePx) {
  setScales();
}

void QPainterCanvas::setScales() {
  xScale_ = natural_.width() > 0 ? image_.width() / (natural_.width() * kTwipsPerPixel) : 1 / kTwipsPerPixel;
  yScale_ = natural_.height() > 0 ? image_.height() / (natural_.height() * kTwipsPerPixel) : 1 / kTwipsPerPixel;
}

void QPainterCanvas::resize(QSize sizePx) {
  if (sizePx.isEmpty() || sizePx == image_.size()) return;
  background_ = frozen_ ? background_.scaled(sizePx, Qt::IgnoreAspectRatio, Qt::FastTransformation)
                        : schemePicture(scheme_, sizePx);
  image_ = background_.copy();
  setScales();
}

void QPainterCanvas::clear() {
  // Copy the pixels into the picture already owned: sharing it would cost a detach later.
  if (image_.size() == background_.size() && image_.format() == background_.format() &&
      image_.bytesPerLine() == background_.bytesPerLine()) {
    std::memcpy(image_.bits(), background_.constBits(),
                static_cast<std::size_t>(background_.sizeInBytes()));
  } else {
    image_ = background_.copy();
  }
}

void QPainterCanvas::setBackground(int scheme) {
  scheme_ = scheme;
  frozen_ = false;
  background_ = schemePicture(scheme, background_.size());
  clear();
}

void QPainterCanvas::freezeIntoBackground() {
  background_ = image_.copy();
  frozen_ = true;
}

void QPainterCanvas::polyline(const TwipPoint* pts, std::size_t n, Rgb color, int widthPx) {
  if (n < 2 || image_.isNull()) return;
  if (image_.format() != QImage::Format_RGB32) image_ = image_.convertToFormat(QImage::Format_RGB32);
  // The curves are solid aliased lines, so they are set straight into the pixels: QPainter's
  // line path costs many times more per pixel, and a redraw sets some hundred thousand.
  const int w = image_.width();
  const int h = image_.height();
  auto* bits = reinterpret_cast<std::uint32_t*>(image_.bits());
  const int stride = static_cast<int>(image_.bytesPerLine() / 4);
  const std::uint32_t c = qRgb(redOf(color), greenOf(color), blueOf(color));
  for (std::size_t i = 1; i < n; ++i) {
    TwipPoint a{pts[i - 1].x * xScale_, pts[i - 1].y * yScale_};
    TwipPoint b{pts[i].x * xScale_, pts[i].y * yScale_};
    // Clipping first also keeps overload strokes (millions of pixels long) cheap.
    if (!clipSegment(a, b, -0.5, -0.5, w - 0.5, h - 0.5)) continue;
    const int x0 = static_cast<int>(std::lround(a.x));
    const int y0 = static_cast<int>(std::lround(a.y));
    const int x1 = static_cast<int>(std::lround(b.x));
    const int y1 = static_cast<int>(std::lround(b.y));
    plotLine(bits, stride, w, h, x0, y0, x1, y1, c);
    if (widthPx >= 2) {
      // A second line one pixel beside the first, across its main direction.
      const bool flat = std::abs(x1 - x0) >= std::abs(y1 - y0);
      const int ox = flat ? 0 : 1;
      const int oy = flat ? 1 : 0;
      plotLine(bits, stride, w, h, x0 + ox, y0 + oy, x1 + ox, y1 + oy, c);
    }
  }
}

QImage QPainterCanvas::schemePicture(int scheme, QSize sizePx) {
  QImage img(sizePx, QImage::Format_RGB32);
  const bool white = scheme == 0 || scheme == 1;
  img.fill(white ? Qt::white : Qt::black);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing, false);
  const int w = sizePx.width();
  const int h = sizePx.height();
  if (scheme == 1 || scheme == 3) {
    QPen grid(scheme == 1 ? Qt::black : Qt::white, 1);
    grid.setCosmetic(true);
    if (scheme == 1) {
      grid.setDashPattern({1, 1});  // dotted: every second pixel
    } else {
      grid.setDashPattern({2, 2});
    }
    p.setPen(grid);
    // Ten rows and twenty columns at any size (every 34 and 51 pixels at the plot's own).
    for (int k = 1; k * 34 * h / static_cast<int>(kNaturalHeightPx) < h; ++k) {
      const int y = k * 34 * h / static_cast<int>(kNaturalHeightPx);
      p.drawLine(0, y, w - 1, y);
    }
    for (int k = 1; k * 51 * w / static_cast<int>(kNaturalWidthPx) < w; ++k) {
      const int x = k * 51 * w / static_cast<int>(kNaturalWidthPx);
      p.drawLine(x, 0, x, h - 1);
    }
  }
  if (scheme == 0 || scheme == 1) {
    p.setPen(QPen(Qt::black, 1));
    p.drawLine(0, 0, w - 1, 0);
    p.drawLine(0, 0, 0, h - 1);
    p.drawLine(w - 1, 0, w - 1, h - 1);
  }
  return img;
}

}  // namespace kalivor
