// SPDX-License-Identifier: MIT
// The trend chart's push drawn into a plot-sized image with QPainter, against drawing the same
// histories naively: every segment of every point its own line, clipping left to the painter.
#include <benchmark/benchmark.h>

// Built without the windows (KALIVOR_BUILD_UI off) this bench has nothing to measure.
#if __has_include(<QPainter>)
#include <QPainter>
#include <QPen>
#include <cmath>
#include <memory>

#include "charts/trend_chart.h"
#include "charts/ui/qpainter_canvas.h"
#include "common/numbers.h"

namespace kalivor {
namespace {

// Forwards to a canvas that can be swapped, so the histories fill without painting.
struct SwitchCanvas final : ChartCanvas {
  ChartCanvas* target = nullptr;
  void clear() override { target->clear(); }
  void polyline(const TwipPoint* pts, std::size_t n, Rgb color, int w) override {
    target->polyline(pts, n, color, w);
  }
  void setBackground(int scheme) override { target->setBackground(scheme); }
  void freezeIntoBackground() override { target->freezeIntoBackground(); }
};

struct PaintedChart {
  ScanTables tables;
  QPainterCanvas canvas{QSize(kPlotWidthPx, kPlotHeightPx)};
  NullCanvas quiet;
  SwitchCanvas switcher;
  std::unique_ptr<TrendChart> chart;

  PaintedChart() {
    TrendChartLink link;
    link.instrumentCount = [] { return 4; };
    for (int s = 0; s < 4; ++s) {
      tables.setup[s].ChannelCount = 20;
      for (int c = 0; c < 20; ++c) {
        tables.channel[s][c].Function = "DCV";
        tables.channel[s][c].Color = kDefaultChannelColors[c];
      }
    }
    switcher.target = &quiet;
    chart = std::make_unique<TrendChart>(tables, link, switcher);
    chart->resetForRun();
    for (int i = 0; i < kHistoryCapacity; ++i) push();
    switcher.target = &canvas;
  }
  void push() {
    const double n = tables.ScansDone[0] + 1;
    for (int s = 0; s < 4; ++s) {
      for (int c = 0; c < 20; ++c)
        tables.ReadingText[s][c] = numberToText(std::sin(n * 0.05 + c) * 4 + (s - 2));
      tables.ScansDone[s] = n;
    }
    chart->PushScanAndReplot();
  }
};

PaintedChart& paintedChart() {
  static PaintedChart f;
  return f;
}

void BM_PushPainted(benchmark::State& state) {
  PaintedChart& f = paintedChart();
  f.chart->X_Axis_Combo_Click(static_cast<int>(state.range(0)));
  for (auto _ : state) f.push();
  state.counters["history_MB"] = static_cast<double>(f.chart->memoryBytes()) / (1024.0 * 1024.0);
  state.SetLabel(kXAxisItems[state.range(0)]);
}
BENCHMARK(BM_PushPainted)->Arg(0)->Arg(5)->Unit(benchmark::kMillisecond);

// Every point of every channel, one drawLine per segment, a pen of the span's width.
void BM_PushNaive(benchmark::State& state) {
  PaintedChart& f = paintedChart();
  f.chart->X_Axis_Combo_Click(static_cast<int>(state.range(0)));
  const double span = f.chart->span();
  const double xStep = kPlotWidth / span;
  const int width = span == 20 ? 2 : 1;
  const double base = 5 * kPlotHeight / 10;
  const double unit = kPlotHeight / 10;
  QImage image(kPlotWidthPx, kPlotHeightPx, QImage::Format_RGB32);
  for (auto _ : state) {
    image.fill(Qt::black);
    QPainter p(&image);
    for (int s = 0; s < 4; ++s) {
      for (int c = 0; c < 20; ++c) {
        p.setPen(QPen(QColor::fromRgb(redOf(kDefaultChannelColors[c]),
                                      greenOf(kDefaultChannelColors[c]),
                                      blueOf(kDefaultChannelColors[c])),
                      width));
        double px = -xStep;
        double py = base;
        for (int j = 0; j < kHistoryCapacity; ++j) {
          const double x = px + xStep;
          const double y = base - f.chart->ValueHistory(j, c, s) * unit;
          p.drawLine(QPointF(px / kTwipsPerPixel, py / kTwipsPerPixel),
                     QPointF(x / kTwipsPerPixel, y / kTwipsPerPixel));
          px = x;
          py = y;
        }
      }
    }
  }
  state.SetLabel(kXAxisItems[state.range(0)]);
}
BENCHMARK(BM_PushNaive)->Arg(0)->Arg(5)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_ReplotFromPositionsPainted(benchmark::State& state) {
  PaintedChart& f = paintedChart();
  f.chart->X_Axis_Combo_Click(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    f.canvas.clear();
    f.chart->ReplotFromPositions();
  }
  state.SetLabel(kXAxisItems[state.range(0)]);
}
BENCHMARK(BM_ReplotFromPositionsPainted)->Arg(0)->Arg(5)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kalivor

#endif
