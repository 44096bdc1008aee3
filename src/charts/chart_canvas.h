// SPDX-License-Identifier: MIT
#pragma once
// What the chart geometry asks of a drawing surface. Coordinates are twips of the plot area
// (origin top-left, y down); the surface scales them to its pixels. The surface keeps a
// background picture under the curves: clear() erases the curves only.
#include <cstddef>

#include "common/color.h"

namespace kalivor {

struct TwipPoint {
  double x = 0;
  double y = 0;
  friend bool operator==(const TwipPoint&, const TwipPoint&) = default;
};

inline constexpr double kTwipsPerPixel = 15.0;

class ChartCanvas {
 public:
  virtual ~ChartCanvas() = default;
  // Erases everything drawn since the background was last set or frozen.
  virtual void clear() = 0;
  // Connected segments pts[0]-pts[1]-...-pts[n-1]. Points may lie far outside the plot (overload
  // strokes reach 9.9e8 twips); the surface clips.
  virtual void polyline(const TwipPoint* pts, std::size_t n, Rgb color, int widthPx) = 0;
  // Replaces the background by the picture of a scheme (0..3); erases the curves and any frozen
  // picture.
  virtual void setBackground(int scheme) = 0;
  // The current picture (background plus curves) becomes the background, so later clears keep it.
  virtual void freezeIntoBackground() = 0;
};

// A canvas that draws nothing, for headless use.
class NullCanvas final : public ChartCanvas {
 public:
  void clear() override {}
  void polyline(const TwipPoint*, std::size_t, Rgb, int) override {}
  void setBackground(int) override {}
  void freezeIntoBackground() override {}
};

// Clips the segment a-b to the rectangle [left, right] x [top, bottom]. Returns false when no part
// of it lies inside. Surfaces use it to keep far strokes away from their rasterisers.
bool clipSegment(TwipPoint& a, TwipPoint& b, double left, double top, double right, double bottom);

}  // namespace kalivor
