// SPDX-License-Identifier: MIT
#pragma once
// The trend chart as the run controller sees it: the run's chart calls go straight to the chart.
#include "acquisition/run_chart.h"
#include "charts/trend_chart.h"

namespace kalivor {

class TrendChartForRun final : public RunChart {
 public:
  explicit TrendChartForRun(TrendChart& chart) : chart_(chart) {}
  void beginRun() override { chart_.resetForRun(); }
  void clearPositionTables(int slot) override { chart_.clearPositionTables(slot); }
  void ResetChartScale(int slot) override { chart_.ResetChartScale(slot); }
  void PushScanAndReplot() override { chart_.PushScanAndReplot(); }
  void ReplotAll() override { chart_.ReplotAll(); }
  void updateAxisLabels() override { chart_.updateAxisLabels(); }

 private:
  TrendChart& chart_;
};

}  // namespace kalivor
