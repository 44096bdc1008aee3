// SPDX-License-Identifier: MIT
#include "charts/ui/qpainter_canvas.h"

#include <gtest/gtest.h>

#include <QColor>

namespace kalivor {
namespace {

constexpr Rgb kRed = rgb(255, 0, 0);

int redPixelsInColumn(const QImage& img, int x) {
  int n = 0;
  for (int y = 0; y < img.height(); ++y) n += img.pixel(x, y) == qRgb(255, 0, 0);
  return n;
}

TEST(QPainterCanvas, ClearKeepsTheBackgroundAndFrozenCurves) {
  QPainterCanvas canvas;
  canvas.setBackground(2);  // black
  const TwipPoint line[] = {{0, 150}, {15000, 150}};
  canvas.polyline(line, 2, kRed, 1);
  EXPECT_EQ(canvas.image().pixel(500, 10), qRgb(255, 0, 0));
  canvas.clear();
  EXPECT_EQ(canvas.image().pixel(500, 10), qRgb(0, 0, 0));

  canvas.polyline(line, 2, kRed, 1);
  canvas.freezeIntoBackground();
  canvas.clear();
  EXPECT_EQ(canvas.image().pixel(500, 10), qRgb(255, 0, 0));  // printed curve stays
  canvas.setBackground(0);
  EXPECT_EQ(canvas.image().pixel(500, 10), qRgb(255, 255, 255));
  EXPECT_EQ(canvas.image().pixel(0, 100), qRgb(0, 0, 0));  // the white scheme's frame
}

TEST(QPainterCanvas, FarStrokesAreClippedAndTwoPixelLinesAreTwoWide) {
  QPainterCanvas canvas;
  canvas.setBackground(2);
  // An overload stroke from mid-plot 9.9e8 twips down, and back up to the plot.
  const TwipPoint stroke[] = {{3000, 2500}, {3000, 2500 + 9.9e8}, {6000, 1000}};
  canvas.polyline(stroke, 3, kRed, 1);
  EXPECT_EQ(redPixelsInColumn(canvas.image(), 200), 340 - 167);  // y 167 to the bottom
  EXPECT_EQ(redPixelsInColumn(canvas.image(), 400), 340 - 67);   // and back up to y 67

  canvas.clear();
  const TwipPoint flat[] = {{0, 1500}, {15315, 1500}};
  canvas.polyline(flat, 2, kRed, 2);
  EXPECT_EQ(redPixelsInColumn(canvas.image(), 600), 2);
}

}  // namespace
}  // namespace kalivor
