// SPDX-License-Identifier: MIT
#pragma once
// A canvas that remembers what it was asked to draw, with the same background rules as the real
// one: clear() drops the curves, a frozen picture survives clears until a background is set.
#include <vector>

#include "charts/chart_canvas.h"

namespace kalivor::test {

struct RecordedLine {
  std::vector<TwipPoint> pts;
  Rgb color = 0;
  int width = 0;
};

class RecordingCanvas final : public ChartCanvas {
 public:
  void clear() override {
    lines.clear();
    ++clears;
  }
  void polyline(const TwipPoint* pts, std::size_t n, Rgb color, int widthPx) override {
    lines.push_back({std::vector<TwipPoint>(pts, pts + n), color, widthPx});
  }
  void setBackground(int scheme) override {
    backgrounds.push_back(scheme);
    lines.clear();
    frozen.clear();
  }
  void freezeIntoBackground() override {
    frozen.insert(frozen.end(), lines.begin(), lines.end());
    lines.clear();
    ++freezes;
  }

  std::size_t pointCount() const {
    std::size_t n = 0;
    for (const auto& l : lines) n += l.pts.size();
    return n;
  }
  std::vector<const RecordedLine*> linesOf(Rgb color) const {
    std::vector<const RecordedLine*> out;
    for (const auto& l : lines)
      if (l.color == color) out.push_back(&l);
    return out;
  }

  std::vector<RecordedLine> lines;   // drawn since the last clear
  std::vector<RecordedLine> frozen;  // part of the background since the last freeze
  std::vector<int> backgrounds;
  int clears = 0;
  int freezes = 0;
};

}  // namespace kalivor::test
