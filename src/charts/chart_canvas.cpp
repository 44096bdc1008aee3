// SPDX-License-Identifier: MIT
#include "charts/chart_canvas.h"

#include <cmath>

namespace kalivor {

bool clipSegment(TwipPoint& a, TwipPoint& b, double left, double top, double right,
                 double bottom) {
  // Liang-Barsky: the part of a + t (b - a), 0 <= t <= 1, inside all four half-planes.
  const double dx = b.x - a.x;
  const double dy = b.y - a.y;
  double t0 = 0.0;
  double t1 = 1.0;
  const double p[4] = {-dx, dx, -dy, dy};
  const double q[4] = {a.x - left, right - a.x, a.y - top, bottom - a.y};
  for (int i = 0; i < 4; ++i) {
    if (!std::isfinite(q[i])) return false;
    if (p[i] == 0.0) {
      if (q[i] < 0.0) return false;
      continue;
    }
    const double r = q[i] / p[i];
    if (p[i] < 0.0) {
      if (r > t1) return false;
      if (r > t0) t0 = r;
    } else {
      if (r < t0) return false;
      if (r < t1) t1 = r;
    }
  }
  const TwipPoint start{a.x + t0 * dx, a.y + t0 * dy};
  const TwipPoint end{a.x + t1 * dx, a.y + t1 * dy};
  a = start;
  b = end;
  return true;
}

}  // namespace kalivor
