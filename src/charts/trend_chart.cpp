// SPDX-License-Identifier: MIT
#include "charts/trend_chart.h"

#include <algorithm>
#include <cmath>
#include <tuple>

#include "common/numbers.h"
#include "common/text.h"
#include "instrument/vocabulary.h"

namespace kalivor {
namespace {

constexpr double kDivisionTwips = kPlotHeight / 10;  // 511.5
constexpr double kHitHalfWidth = 30;
constexpr double kHitHalfHeight = 20;

bool isFailure(visa::ViStatus s) {
  return s != visa::VI_SUCCESS && s != visa::VI_SUCCESS_MAX_CNT;
}

// Marks a redraw as under way for as long as it runs (redraws can nest through the events they
// let run).
struct DrawingScope {
  explicit DrawingScope(int& depth) : depth_(depth) { ++depth_; }
  ~DrawingScope() { --depth_; }
  int& depth_;
};

// A zoom or divisor that cannot divide is taken as 1, so the chart always draws.
double usableDivisor(double d) { return (std::isfinite(d) && d != 0.0) ? d : 1.0; }

}  // namespace

TrendChart::TrendChart(const ScanTables& tables, TrendChartLink link, ChartCanvas& canvas)
    : tables_(tables), link_(std::move(link)), canvas_(canvas) {
  XStep = kPlotWidth / span();
  for (int s = 0; s < kSlotTableSize; ++s) {
    BaseY[s] = RefDivision * kDivisionTwips;
    PenY[s] = BaseY[s];
  }
}

// --- inputs ------------------------------------------------------------------------------------

int TrendChart::instrumentCount() const {
  const int n = link_.instrumentCount ? link_.instrumentCount() : 0;
  return std::clamp(n, 0, kSlots);
}

int TrendChart::channelCount(int slot) const {
  return std::clamp<int>(tables_.setup[slot].ChannelCount, 0, kPositionColumns);
}

std::int64_t TrendChart::scansDone(int slot) const {
  const double n = tables_.ScansDone[slot];
  if (!(n > 0)) return 0;  // also NaN
  if (n > 1e15) return static_cast<std::int64_t>(1e15);
  return static_cast<std::int64_t>(std::llround(n));
}

bool TrendChart::linkFailed() const {
  return link_.lastVisaStatus && isFailure(link_.lastVisaStatus());
}

void TrendChart::pumpEvents() {
  if (link_.events) link_.events->processEvents();
}

double TrendChart::span() const { return leadingNumber(kXAxisItems[spanIndex_]); }

double TrendChart::yScale() const {
  return usableDivisor(ParsePrefixedNumber(kYScaleItems[scaleIndex_]));
}

TrendChart::ChannelLook TrendChart::look(int slot, int channel) const {
  const ChannelSetup& ch = tables_.channel[slot][channel];
  ChannelLook l;
  l.drawn = !contains(ch.Function, "NONE");
  l.color = ch.Color;
  // The offset must be a number as a whole; anything else draws as no offset.
  const std::optional<double> off = strictNumber(ch.Offset);
  l.offset = (off && std::isfinite(*off)) ? *off : 0.0;
  return l;
}

double TrendChart::channelYUnit(int slot, int channel) const {
  const double unit = kPlotHeight / (yScale() * 10) / usableDivisor(YZoom);
  const double division = ParsePrefixedNumber(tables_.channel[slot][channel].Division);
  const double u = unit / usableDivisor(division);
  // A Division so large or small that the scale vanishes or overflows draws as Division 1.
  return (std::isfinite(u) && u != 0.0) ? u : unit;
}

// --- scale and positions -----------------------------------------------------------------------

void TrendChart::ResetChartScale(int slot) {
  if (slot < 0 || slot >= kSlotTableSize) return;
  XStep = kPlotWidth / span();
  double d = kPlotHeight / 10;
  PenX[slot] = 0;
  BaseY[slot] = RefDivision * d;
  PenY[slot] = BaseY[slot];
  XStep = XStep / usableDivisor(XZoom);
  d = d / usableDivisor(YZoom);
  (void)d;  // the division height only matters through YUnit
}

void TrendChart::StoreNewestPosition(int slot, int channel) {
  if (slot < 0 || slot >= kSlots) return;
  const std::int64_t n = scansDone(slot);
  xTable_[slot].set(n, channel, PenX[slot]);
  yTable_[slot].set(n, channel, newestDrawnY_[slot][channel]);
}

void TrendChart::StorePointPosition(int slot, int channel, int point) {
  if (slot < 0 || slot >= kSlots) return;
  const std::int64_t n = scansDone(slot);
  xTable_[slot].set(point + 1, channel, PenX[slot]);
  yTable_[slot].set(n - point, channel, PenY[slot]);
}

// --- drawing -----------------------------------------------------------------------------------

void TrendChart::flushRun(std::vector<TwipPoint>& run, Rgb color, int width) {
  if (run.size() >= 2) canvas_.polyline(run.data(), run.size(), color, width);
  run.clear();
}

void TrendChart::drawChannel(int slot, int channel, const ChannelLook& lk, bool storeAll) {
  const PointHistory& h = history_[slot][channel];
  const std::int64_t n = scansDone(slot);
  const int m = static_cast<int>(std::min<std::int64_t>(n, kHistoryCapacity));
  const double base = BaseY[slot];
  const double xStep = XStep;
  const double unit = YUnit;
  // Segment j runs from x (j - 1) * XStep to j * XStep; those starting beyond the right edge are
  // never seen, so the push computes and draws only the points before them.
  const double visibleSteps = std::floor(kPlotWidth / xStep + 1e-9) + 2;
  const int visible =
      static_cast<int>(std::min<double>(m, std::isfinite(visibleSteps) ? visibleSteps : m));
  const int last = storeAll ? m : visible;

  std::vector<TwipPoint>& run = scratch_;
  run.clear();
  run.push_back({PenX[slot], PenY[slot]});
  double penY = PenY[slot];
  double stepY = 0;
  for (int j = 0; j < last; ++j) {
    const double t = (h.at(j) - lk.offset) * unit;  // height above the reference level
    stepY = t - (base - penY);
    double y;
    // Only a point that itself lies beyond the limit becomes a stroke (an overload is drawn
    // downwards); the next point is then reached from the stroke's end.
    if (stepY > kStrokeLimit && t > kStrokeLimit) {
      y = penY + kStrokeLimit;
    } else if (stepY < -kStrokeLimit && t < -kStrokeLimit) {
      y = penY - kStrokeLimit;
    } else {
      y = base - t;  // = penY - stepY, without the far pen's rounding
      if (std::isnan(y)) y = penY;
    }
    const double x = j * xStep;
    penY = y;
    if (j == 0) newestDrawnY_[slot][channel] = y;
    if (j < visible) run.push_back({x, y});
    if (storeAll) {
      PenX[slot] = x;
      PenY[slot] = y;
      StorePointPosition(slot, channel, j);
    }
  }
  StepY[slot] = stepY;
  flushRun(run, lk.color, lineWidth());
  if (!storeAll && m > 0) {
    PenX[slot] = (m - 1) * xStep;  // where the pen ends after the oldest point
    PenY[slot] = penY;
    StoreNewestPosition(slot, channel);
  }
}

void TrendChart::PushScanAndReplot() {
  const DrawingScope scope(drawingDepth_);
  canvas_.clear();
  if (linkFailed() && link_.requestStop) link_.requestStop();  // the drawing still goes on
  const int count = instrumentCount();
  for (int slot = 0; slot < count; ++slot) {
    for (int c = 0; c < channelCount(slot); ++c) {
      ResetChartScale(slot);
      YUnit = channelYUnit(slot, c);
      PenX[slot] = -XStep;
      PenY[slot] = BaseY[slot];
      const ChannelLook lk = look(slot, c);
      if (!lk.drawn) continue;
      xTable_[slot].set(0, c, -XStep);
      yTable_[slot].set(0, c, PenY[slot]);

      // A channel moves on by one point per new scan of its slot. Slots that have no new scan
      // (waiting, or still scanning while another instrument delivered) keep their points, so
      // point a stays scan n - a.
      const std::int64_t n = scansDone(slot);
      PointHistory& h = history_[slot][c];
      if (n > shiftedAt_[slot][c]) {
        h.shift();
        shiftedAt_[slot][c] = n;
      } else if (n < shiftedAt_[slot][c]) {
        shiftedAt_[slot][c] = n;
      }
      h.setNewest(chartValue(slot, c));
      newestDrawnY_[slot][c] = PenY[slot];

      drawChannel(slot, c, lk, false);
      pumpEvents();
    }
  }
  drawLimitLines();
}

void TrendChart::ReplotAll() {
  const DrawingScope scope(drawingDepth_);
  canvas_.clear();
  for (int s = 0; s < kSlots; ++s) {
    xTable_[s].clear();
    yTable_[s].clear();
  }
  // The redraw is unscrolled, so the scroll state and the labels go back with it.
  if (ScrollOffset != 0) {
    ScrollOffset = 0;
    updateAxisLabels();
  }
  if (linkFailed()) {
    if (link_.requestStop) link_.requestStop();
    return;
  }
  const int count = instrumentCount();
  for (int slot = 0; slot < count; ++slot) {
    for (int c = 0; c < channelCount(slot); ++c) {
      ResetChartScale(slot);
      YUnit = channelYUnit(slot, c);
      PenX[slot] = -XStep;
      PenY[slot] = BaseY[slot];
      const ChannelLook lk = look(slot, c);
      if (!lk.drawn) continue;
      xTable_[slot].set(0, c, -XStep);
      yTable_[slot].set(0, c, PenY[slot]);
      // Every point's position is kept, also beyond 10 002 scans, so that redraws from the
      // positions, the read-out and scrolling still see the whole history.
      drawChannel(slot, c, lk, true);
      pumpEvents();
    }
  }
  drawLimitLines();
}

void TrendChart::ReplotFromPositions() {
  const int width = lineWidth();
  const int count = instrumentCount();
  std::vector<TwipPoint>& run = scratch_;
  for (int slot = 0; slot < count; ++slot) {
    const std::int64_t n = scansDone(slot);
    if (n <= 0) continue;
    const XPositionTable& xt = xTable_[slot];
    const YPositionTable& yt = yTable_[slot];
    const std::int64_t points = std::min<std::int64_t>(n, kHistoryCapacity);
    for (int c = 0; c < channelCount(slot); ++c) {
      const Rgb color = tables_.channel[slot][c].Color;
      run.clear();
      // The stored texts were read as whole twips.
      double px = std::nearbyint(xt.value(0, c));
      double py = std::nearbyint(yt.value(0, c));
      bool havePrev = !std::isnan(px) && !std::isnan(py);
      for (std::int64_t k = 0; k < points; ++k) {
        const double xv = xt.value(k + 1, c);
        const double yv = yt.value(n - k, c);
        if (std::isnan(xv) || std::isnan(yv)) {  // no position stored: a gap
          flushRun(run, color, width);
          havePrev = false;
          continue;
        }
        const double cx = std::nearbyint(xv);
        const double cy = std::nearbyint(yv);
        if (havePrev) {
          // x grows with the point, so once a segment starts beyond the right edge no later one
          // can be seen.
          if (px > kPlotWidth && cx > kPlotWidth) break;
          if (px < 0 && cx < 0) {
            flushRun(run, color, width);
          } else {
            if (run.empty()) run.push_back({px, py});
            run.push_back({cx, cy});
          }
        }
        px = cx;
        py = cy;
        havePrev = true;
      }
      flushRun(run, color, width);
    }
  }
  drawLimitLines();
}

double TrendChart::chartValue(int slot, int channel) const {
  const double v = leadingNumber(tables_.ReadingText[slot][channel]);
  const ChannelSetup& ch = tables_.channel[slot][channel];
  // An overload stays an overload (drawn as a stroke), whatever the scaling.
  if (ch.ScaleOn == 0 || !(std::fabs(v) < 9.9e37)) return v;
  return ch.ScaleGain * v + ch.ScaleOffset;
}

void TrendChart::setLimitLineMode(LimitLineMode mode) {
  if (mode == limitLines) return;
  limitLines = mode;
  canvas_.clear();
  ReplotFromPositions();
}

void TrendChart::drawLimitLines() {
  limitLineYs_.clear();
  const double base = RefDivision * (kPlotHeight / 10);
  auto draw = [&](int slot, int c) {
    const ChannelSetup& ch = tables_.channel[slot][c];
    if (contains(ch.Function, "NONE")) return;
    const double offset = look(slot, c).offset;
    const double unit = channelYUnit(slot, c);
    for (const std::optional<double>& limit : {ch.AlarmLow, ch.AlarmHigh}) {
      if (!limit) continue;
      const double y = base - (*limit - offset) * unit;
      if (!std::isfinite(y) || y < 0 || y > kPlotHeight) continue;  // off the plot
      const TwipPoint line[2] = {{0, y}, {kPlotWidth, y}};
      canvas_.polyline(line, 2, kLimitLineColor, 1);
      limitLineYs_.push_back(y);
    }
  };
  if (limitLines == LimitLineMode::CursorChannel) {
    if (cursorChannel_ && cursorChannel_->first < instrumentCount() &&
        cursorChannel_->second < channelCount(cursorChannel_->first)) {
      draw(cursorChannel_->first, cursorChannel_->second);
    }
    return;
  }
  for (int slot = 0; slot < instrumentCount() && slot < kSlots; ++slot) {
    for (int c = 0; c < channelCount(slot); ++c) draw(slot, c);
  }
}

// --- labels and window events ------------------------------------------------------------------

void TrendChart::updateAxisLabels() {
  const std::int64_t n = scansDone(0);
  const double s = span();
  if (n == 0) {
    controls.Xaxis_start = "0";
    controls.Xaxis_stop = kXAxisItems[spanIndex_];
    return;
  }
  const double nd = static_cast<double>(n);
  if (s + 1 > nd) {
    controls.Xaxis_start = "0";
  } else if (s + 1 == nd) {
    controls.Xaxis_start = "1";
  } else {
    controls.Xaxis_start = numberToText(nd - s);
  }
  controls.Xaxis_stop = numberToText(nd);
}

void TrendChart::X_Axis_Combo_Click(int index) {
  if (index < 0 || index >= static_cast<int>(kXAxisItems.size())) return;
  canvas_.clear();
  controls.Shape1Visible = false;
  spanIndex_ = index;
  controls.X_last = kXAxisItems[index];
  updateAxisLabels();
  ReplotAll();
}

void TrendChart::Y_scal_Combo_Click(int index) {
  if (index < 0 || index >= static_cast<int>(kYScaleItems.size())) return;
  scaleIndex_ = index;
  ReplotAll();
}

void TrendChart::moveReference(int divisions) {
  controls.Shape1Visible = false;
  const double h = kPlotHeight;
  const bool allowed = divisions < 0 ? controls.row_statTop > kPlotTop
                                     : controls.row_statTop < h + 106;
  if (!allowed) return;
  canvas_.clear();
  const double delta = divisions * (h / 10);
  controls.row_statTop += delta;
  controls.ref_labelTop = controls.row_statTop + 50;
  controls.Line1Y += delta;
  RefDivision = static_cast<std::int16_t>(RefDivision + divisions);
  for (int s = 0; s < kSlots; ++s) {
    if (scansDone(s) != 0) yTable_[s].addToAll(delta);
  }
  ReplotFromPositions();
}

void TrendChart::UpDraw_Click() { moveReference(-1); }
void TrendChart::DownDraw_Click() { moveReference(+1); }

void TrendChart::scroll(int direction) {
  canvas_.clear();
  controls.Shape1Visible = false;
  const bool allowed =
      direction > 0 ? leadingNumber(controls.Xaxis_start) > 0 : ScrollOffset != 0;
  if (allowed) {
    const int count = instrumentCount();
    for (int s = 0; s < count; ++s) xTable_[s].addToAll(-direction * kScrollStepTwips);
    ScrollOffset = static_cast<std::int16_t>(ScrollOffset + direction);
    controls.Xaxis_start = numberToText(leadingNumber(controls.Xaxis_start) - direction);
    controls.Xaxis_stop = numberToText(leadingNumber(controls.Xaxis_stop) - direction);
  }
  ReplotFromPositions();
}

void TrendChart::Command1_Click() { scroll(+1); }
void TrendChart::Command2_Click() { scroll(-1); }

void TrendChart::SchemeButton_Click(int scheme) {
  if (scheme < 0 || scheme > 3) return;
  canvas_.clear();
  canvas_.setBackground(scheme);
  frozen_ = false;
  GraphScheme = static_cast<std::int16_t>(scheme);
  ReplotFromPositions();
}

void TrendChart::showInitialBackground() {
  canvas_.setBackground(GraphScheme);
  frozen_ = false;
}

void TrendChart::startUpDefaults() {
  GraphScheme = kBlackGrid;
  XZoom = 1.0;
  YZoom = 1.0;
  RefDivision = 5;
  ScrollOffset = 0;
  spanIndex_ = kXAxisStartIndex;
  scaleIndex_ = kYScaleStartIndex;
  controls = TrendChartControls{};  // marker, line and labels where level 5 puts them
  controls.Xaxis_stop = kXAxisItems[spanIndex_];
  controls.X_last = kXAxisItems[spanIndex_];
  for (int s = 0; s < kSlotTableSize; ++s) ResetChartScale(s);
  showInitialBackground();
}

void TrendChart::noInstrumentReset() {
  canvas_.clear();
  controls.Shape1Visible = false;
  controls.Xaxis_start = "0";
  // The span chosen, so the labels never contradict the span list ("20" at the default span).
  controls.Xaxis_stop = kXAxisItems[spanIndex_];
}

void TrendChart::clearPositionTables(int slot) {
  if (slot < 0 || slot >= kSlots) return;
  xTable_[slot].clear();
  yTable_[slot].clear();
}

void TrendChart::freezeIntoBackground() {
  canvas_.freezeIntoBackground();
  frozen_ = true;
}

std::optional<CursorReadout> TrendChart::drawmain_pic_MouseMove(double x, double y) {
  // The search keeps going after a hit: the last one found (highest slot, then oldest point,
  // then highest channel) is the one shown.
  std::optional<std::tuple<int, std::int64_t, int>> best;
  double bestX = 0;
  double bestY = 0;
  for (int slot = 0; slot < kSlots; ++slot) {
    const std::int64_t n = scansDone(slot);
    if (n <= 0) continue;
    const std::int64_t points = std::min<std::int64_t>(n, kHistoryCapacity);
    for (int c = 0; c < channelCount(slot); ++c) {
      for (std::int64_t a = 0; a < points; ++a) {
        const double X = xTable_[slot].value(a + 1, c);
        if (std::isnan(X)) continue;
        // A hit needs X - 30 < x < X + 30. X grows with the point, so once X - 30 reaches x
        // no later point can be hit.
        if (!(X - kHitHalfWidth < x)) break;
        if (!(x < X + kHitHalfWidth)) continue;
        const double Y = yTable_[slot].value(n - a, c);
        if (!(Y - kHitHalfHeight < y && y < Y + kHitHalfHeight)) continue;
        const auto key = std::make_tuple(slot, a, c);
        if (!best || key > *best) {
          best = key;
          bestX = X;
          bestY = Y;
        }
      }
    }
  }
  if (!best) return std::nullopt;

  const auto [slot, a, c] = *best;
  const std::int64_t n = scansDone(slot);
  CursorReadout r;
  r.slot = slot;
  r.point = static_cast<int>(a);
  r.channel = c;
  r.tag = "CH " + intToText(c + 1);
  r.color = tables_.channel[slot][c].Color;
  r.shapeLeft = bestX - kHitHalfWidth;
  r.shapeTop = bestY - 30;
  r.gridRows = n + 2;
  r.gridRow = n - a + 1;
  r.gridColumn = c + 2;
  r.scanNumber = n - a;

  controls.Text3 = r.tag;
  controls.Text3BackColor = r.color;
  controls.Shape1Left = r.shapeLeft;
  controls.Shape1Top = r.shapeTop;
  controls.Shape1Visible = true;
  canvas_.setBackground(GraphScheme);  // also drops a picture frozen by printing
  frozen_ = false;
  cursorChannel_ = std::make_pair(slot, c);
  ReplotFromPositions();
  return r;
}

// --- run start and inspection ------------------------------------------------------------------

void TrendChart::resetForRun() {
  controls.Shape1Visible = false;
  cursorChannel_.reset();
  canvas_.clear();
  ScrollOffset = 0;
  controls.Xaxis_start = "0";
  for (int s = 0; s < kSlots; ++s) {
    for (auto& h : history_[s]) h.clear();
    shiftedAt_[s].fill(0);
    newestDrawnY_[s].fill(0);
    xTable_[s].clear();
    yTable_[s].clear();
  }
}

double TrendChart::ValueHistory(int point, int channel, int slot) const {
  if (slot < 0 || slot >= kSlots || channel < 0 || channel >= kPositionColumns || point < 0 ||
      point >= kHistoryCapacity)
    return 0.0;
  return history_[slot][channel].at(point);
}

std::optional<double> TrendChart::X_Grid(int slot, std::int64_t row, int channel) const {
  if (slot < 0 || slot >= kSlots) return std::nullopt;
  return xTable_[slot].get(row, channel);
}

std::optional<double> TrendChart::Y_Grid(int slot, std::int64_t row, int channel) const {
  if (slot < 0 || slot >= kSlots) return std::nullopt;
  return yTable_[slot].get(row, channel);
}

std::optional<TwipPoint> TrendChart::pointPosition(int slot, int channel,
                                                   std::int64_t point) const {
  if (slot < 0 || slot >= kSlots) return std::nullopt;
  const auto x = X_Grid(slot, point + 1, channel);
  const auto y = Y_Grid(slot, scansDone(slot) - point, channel);
  if (!x || !y) return std::nullopt;
  return TwipPoint{*x, *y};
}

std::size_t TrendChart::memoryBytes() const {
  std::size_t total = 0;
  for (int s = 0; s < kSlots; ++s) {
    for (const auto& h : history_[s]) total += h.bytes();
    total += xTable_[s].bytes() + yTable_[s].bytes();
  }
  return total;
}

}  // namespace kalivor
