// SPDX-License-Identifier: MIT
// Trend chart geometry without pixels: a push, the two redraws and the read-out with four
// instruments of 20 channels and full 10 002-point histories; memory of those histories.
#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>

#include "charts/trend_chart.h"
#include "common/numbers.h"

namespace kalivor {
namespace {

struct FullChart {
  ScanTables tables;
  NullCanvas canvas;
  std::unique_ptr<TrendChart> chart;

  FullChart() {
    TrendChartLink link;
    link.instrumentCount = [] { return 4; };
    chart = std::make_unique<TrendChart>(tables, link, canvas);
    for (int s = 0; s < 4; ++s) {
      tables.setup[s].ChannelCount = 20;
      for (int c = 0; c < 20; ++c) {
        tables.channel[s][c].Function = "DCV";
        tables.channel[s][c].Color = kDefaultChannelColors[c];
      }
    }
    chart->resetForRun();
    for (int s = 0; s < 4; ++s) chart->ResetChartScale(s);
    for (int i = 0; i < kHistoryCapacity; ++i) push();
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

FullChart& fullChart() {
  static FullChart f;
  return f;
}

void BM_PushGeometry(benchmark::State& state) {
  FullChart& f = fullChart();
  f.chart->X_Axis_Combo_Click(static_cast<int>(state.range(0)));
  for (auto _ : state) f.push();
  state.counters["history_MB"] = static_cast<double>(f.chart->memoryBytes()) / (1024.0 * 1024.0);
  state.SetLabel(kXAxisItems[state.range(0)]);
}
BENCHMARK(BM_PushGeometry)->Arg(0)->Arg(5)->Unit(benchmark::kMicrosecond);

void BM_ReplotAll(benchmark::State& state) {
  FullChart& f = fullChart();
  f.chart->X_Axis_Combo_Click(0);
  for (auto _ : state) f.chart->ReplotAll();
}
BENCHMARK(BM_ReplotAll)->Unit(benchmark::kMillisecond);

void BM_ReplotFromPositions(benchmark::State& state) {
  FullChart& f = fullChart();
  f.chart->X_Axis_Combo_Click(static_cast<int>(state.range(0)));
  for (auto _ : state) f.chart->ReplotFromPositions();
  state.SetLabel(kXAxisItems[state.range(0)]);
}
BENCHMARK(BM_ReplotFromPositions)->Arg(0)->Arg(5)->Unit(benchmark::kMicrosecond);

// The read-out on a miss at the right edge (the hit test's longest search).
void BM_CursorMiss(benchmark::State& state) {
  FullChart& f = fullChart();
  f.chart->X_Axis_Combo_Click(static_cast<int>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(f.chart->drawmain_pic_MouseMove(15300, -500));
  state.SetLabel(kXAxisItems[state.range(0)]);
}
BENCHMARK(BM_CursorMiss)->Arg(0)->Arg(5)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace kalivor
