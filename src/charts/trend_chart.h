// SPDX-License-Identifier: MIT
#pragma once
// The live trend chart of the main window: every enabled channel of every instrument as a
// coloured polyline over the last scans, newest at the left edge. This is the whole chart state
// and geometry; the widget only turns its calls on a ChartCanvas into pixels and forwards clicks
// and mouse moves.
#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "charts/chart_canvas.h"
#include "charts/chart_store.h"
#include "common/color.h"
#include "common/event_pump.h"
#include "scan/setup_tables.h"
#include "visa/visa_types.h"

namespace kalivor {

// Plot area drawmain_pic in the main window, twips.
inline constexpr double kPlotLeft = 600;
inline constexpr double kPlotTop = 750;
inline constexpr double kPlotWidth = 15315;
inline constexpr double kPlotHeight = 5115;
inline constexpr int kPlotWidthPx = 1021;   // the background pictures' size
inline constexpr int kPlotHeightPx = 340;
inline constexpr double kStrokeLimit = 9.9e8;  // steps beyond this are drawn as strokes
inline constexpr double kScrollStepTwips = 766;

inline constexpr std::array<const char*, 6> kXAxisItems = {"20",  "200",  "400",
                                                           "800", "1000", "2000"};
inline constexpr int kXAxisStartIndex = 0;
inline constexpr std::array<const char*, 41> kYScaleItems = {
    "20000", "10000", "5000", "2000", "1000", "500",  "200",  "100",  "50",   "20",  "10",
    "5",     "2",     "1",    "500m", "200m", "100m", "50m",  "20m",  "10m",  "5m",  "2m",
    "1m",    "500u",  "200u", "100u", "50u",  "20u",  "10u",  "5u",   "2u",   "1u",  "500n",
    "200n",  "100n",  "50n",  "20n",  "10n",  "5n",   "2n",   "1n"};
inline constexpr int kYScaleStartIndex = 13;  // "1"

// The main window's default channel colours, copied into every slot's ChannelSetup.Color.
inline constexpr std::array<Rgb, 20> kDefaultChannelColors = {
    rgb(60, 179, 113),  rgb(24, 116, 205),  rgb(205, 92, 92),   rgb(209, 95, 238),
    rgb(255, 215, 0),   rgb(0, 139, 139),   rgb(128, 128, 128), rgb(0, 255, 0),
    rgb(0, 255, 255),   rgb(255, 0, 0),     rgb(255, 0, 255),   rgb(255, 255, 0),
    rgb(196, 136, 136), rgb(255, 128, 128), rgb(102, 205, 170), rgb(96, 175, 255),
    rgb(128, 128, 255), rgb(255, 128, 192), rgb(255, 128, 255), rgb(255, 255, 128)};

// Scheme indexes of the four background buttons.
enum GraphSchemeIndex : int { kWhite = 0, kWhiteGrid = 1, kBlack = 2, kBlackGrid = 3 };

// What the chart needs of the instrument link and the window, without depending on them.
struct TrendChartLink {
  std::function<int()> instrumentCount;               // InstrumentCount
  std::function<visa::ViStatus()> lastVisaStatus;     // LastVisaStatus
  std::function<void()> requestStop;                  // sets StopRequested
  EventPump* events = nullptr;                        // run after each drawn channel
};

// The controls around the plot that the chart moves or writes.
struct TrendChartControls {
  std::string Xaxis_start = "0";  // scan number at the right edge
  std::string Xaxis_stop = "20";  // scan number at the left edge
  std::string X_last = "20";      // span text chosen last
  bool Shape1Visible = false;     // cursor marker, 105 x 105 twips
  double Shape1Left = 0;
  double Shape1Top = 0;
  double Line1Y = 2555;           // reference line, both ends
  double row_statTop = 3165;      // reference-level marker (in window twips)
  double ref_labelTop = 3225;
  std::string Text3;              // read-out channel tag
  Rgb Text3BackColor = 0;
};

// A point under the mouse.
struct CursorReadout {
  int slot = 0;
  int point = 0;      // 0 = newest
  int channel = 0;    // index, 0..19
  std::string tag;    // "CH 3" for channel index 2
  Rgb color = 0;      // the channel's colour, Text3's background
  double shapeLeft = 0;
  double shapeTop = 0;
  // The cell of the slot's data grid MSFlexGrid2 whose text the read-out Text1 shows: the grid is
  // given gridRows rows first.
  std::int64_t gridRows = 0;
  std::int64_t gridRow = 0;
  int gridColumn = 0;
  std::int64_t scanNumber = 0;  // the scan that row holds
};

// Which channels' alarm limits the chart draws as lines.
enum class LimitLineMode { CursorChannel, AllChannels };
// Colour of the limit lines: the alarm colour of the grids, never a channel's own.
inline constexpr Rgb kLimitLineColor = rgb(0xC0, 0, 0);

class TrendChart {
 public:
  TrendChart(const ScanTables& tables, TrendChartLink link, ChartCanvas& canvas);

  // --- Operations called by the run engine -------------------------------------------------------
  // Empties histories and position tables, hides the marker, clears the plot, Xaxis_start "0",
  // ScrollOffset 0. The run engine calls it at run start, then ResetChartScale for each slot.
  void resetForRun();
  void ResetChartScale(int slot);
  // After a completed scan: moves every drawn channel's history on, stores ReadingText as the
  // newest point and redraws.
  void PushScanAndReplot();
  // Redraws everything from the histories and rewrites the position tables.
  void ReplotAll();
  // Redraws from the stored positions (no scaling recomputed).
  void ReplotFromPositions();
  // Position-table writes used by the two redraws.
  void StoreNewestPosition(int slot, int channel);
  void StorePointPosition(int slot, int channel, int point);
  // The axis-label rule, always for slot 0.
  void updateAxisLabels();

  // --- Window events -------------------------------------------------------------------------------
  void X_Axis_Combo_Click(int index);
  void Y_scal_Combo_Click(int index);
  void UpDraw_Click();
  void DownDraw_Click();
  void Command1_Click();  // scroll towards older scans
  void Command2_Click();  // scroll towards newer scans
  void SchemeButton_Click(int scheme);
  void Change_White_Graph_Click() { SchemeButton_Click(kWhite); }
  void Change_WhiteGrid_Graph_Click() { SchemeButton_Click(kWhiteGrid); }
  void Change_Black_Graph_Click() { SchemeButton_Click(kBlack); }
  void Change_Black_Grid_Graph_Click() { SchemeButton_Click(kBlackGrid); }
  // Mouse at (x, y) plot twips. On a hit: marker shown, background reset, redraw, and the hit
  // returned; no hit changes nothing.
  std::optional<CursorReadout> drawmain_pic_MouseMove(double x, double y);
  void Command4_Click() { canvas_.clear(); }  // "CLS"
  void Command5_Click() { ReplotAll(); }       // "PRO2"
  void Command6_Click() { ReplotFromPositions(); }  // "Re_draw"
  // Printing: what is drawn now becomes part of the background until a scheme button or a
  // cursor hit sets a scheme picture again.
  void freezeIntoBackground();
  // Start-up: scheme 3's picture into the plot.
  void showInitialBackground();
  // The main window's chart defaults at start-up: scheme 3 with its picture, zooms 1, reference
  // level 5 (marker and line with it), span "20", scale "1", labels "0" and "20".
  void startUpDefaults();
  // No instrument selected any more: the drawing is cleared and the labels read "0" and the span.
  void noInstrumentReset();
  // Run start, per slot: its position tables emptied.
  void clearPositionTables(int slot);
  // True while a redraw that lets events run between channels is under way; a window showing
  // the picture waits for the end rather than show half a chart.
  bool drawing() const { return drawingDepth_ > 0; }

  // --- Alarm limits ----------------------------------------------------------------------------
  // The channel under the cursor (the last read-out) or every channel with limits; by default
  // only the channel under the cursor, so a chart without a read-out looks as before.
  LimitLineMode limitLines = LimitLineMode::CursorChannel;
  void setLimitLineMode(LimitLineMode mode);
  // The value a channel's reading is drawn at: M·x + B where the channel is scaled.
  double chartValue(int slot, int channel) const;
  // The y (plot twips) of each limit line drawn by the last redraw, for tests.
  const std::vector<double>& limitLineYs() const { return limitLineYs_; }

  // --- State -------------------------------------------------------------------------------------
  std::int16_t GraphScheme = 3;
  std::int16_t RefDivision = 5;
  std::int16_t ScrollOffset = 0;
  double XZoom = 1.0;
  double YZoom = 1.0;
  double XStep = kPlotWidth / 20;
  double YUnit = 0;
  std::array<double, kSlotTableSize> PenX{};
  std::array<double, kSlotTableSize> PenY{};
  std::array<double, kSlotTableSize> BaseY{};
  std::array<double, kSlotTableSize> StepY{};

  TrendChartControls controls;
  bool backgroundFrozen() const { return frozen_; }

  int spanIndex() const { return spanIndex_; }
  int scaleIndex() const { return scaleIndex_; }
  double span() const;        // scans across the plot
  double yScale() const;      // reading units per division (before a channel's Division)
  int lineWidth() const { return span() == 20 ? 2 : 1; }

  // Histories and tables, for the widget's tests and the read-out.
  double ValueHistory(int point, int channel, int slot) const;
  // Position tables; empty cells have no value. The drawn y of point a of a slot with n scans
  // (DrawnYHistory) is Y row n - a.
  std::optional<double> X_Grid(int slot, std::int64_t row, int channel) const;
  std::optional<double> Y_Grid(int slot, std::int64_t row, int channel) const;
  // Position of display point a (X row a + 1, Y row n - a); empty when either cell is.
  std::optional<TwipPoint> pointPosition(int slot, int channel, std::int64_t point) const;
  // Heap bytes held by histories and position tables.
  std::size_t memoryBytes() const;

 private:
  struct ChannelLook {
    bool drawn = false;
    Rgb color = 0;
    double offset = 0;
  };
  int instrumentCount() const;
  int channelCount(int slot) const;
  std::int64_t scansDone(int slot) const;
  bool linkFailed() const;
  void pumpEvents();
  ChannelLook look(int slot, int channel) const;
  double channelYUnit(int slot, int channel) const;
  // Draws one channel from its history: the visible points always, and when storeAll the
  // positions of every point (ReplotAll); otherwise only the newest position (push).
  void drawChannel(int slot, int channel, const ChannelLook& look, bool storeAll);
  void flushRun(std::vector<TwipPoint>& run, Rgb color, int width);
  void moveReference(int divisions);
  void scroll(int direction);
  void drawLimitLines();

  const ScanTables& tables_;
  TrendChartLink link_;
  ChartCanvas& canvas_;
  int spanIndex_ = kXAxisStartIndex;
  int scaleIndex_ = kYScaleStartIndex;
  bool frozen_ = false;
  int drawingDepth_ = 0;

  static constexpr int kSlots = kMaxInstruments;  // slots 0..3 carry tables
  std::array<std::array<PointHistory, kPositionColumns>, kSlots> history_{};
  // The ScansDone value at which each channel's history was last moved on.
  std::array<std::array<std::int64_t, kPositionColumns>, kSlots> shiftedAt_{};
  std::array<std::array<double, kPositionColumns>, kSlots> newestDrawnY_{};
  std::array<XPositionTable, kSlots> xTable_{};
  std::array<YPositionTable, kSlots> yTable_{};
  std::vector<TwipPoint> scratch_;
  std::optional<std::pair<int, int>> cursorChannel_;  // slot and channel of the last read-out
  std::vector<double> limitLineYs_;
};

}  // namespace kalivor
