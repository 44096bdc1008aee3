// SPDX-License-Identifier: MIT
#pragma once
// What the run controller asks of the live trend chart.
namespace kalivor {

class RunChart {
 public:
  virtual ~RunChart() = default;
  // Run start: scroll buttons off, cursor marker hidden, drawing cleared, x start "0",
  // histories emptied.
  virtual void beginRun() = 0;
  virtual void clearPositionTables(int slot) = 0;
  virtual void ResetChartScale(int slot) = 0;
  virtual void PushScanAndReplot() = 0;
  // Clears the drawing and redraws everything from the histories.
  virtual void ReplotAll() = 0;
  // The axis-label rule for slot 0.
  virtual void updateAxisLabels() = 0;
};

}  // namespace kalivor
