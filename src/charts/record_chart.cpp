// SPDX-License-Identifier: MIT
#include "charts/record_chart.h"

#include <cmath>

#include "common/numbers.h"
#include "common/text.h"

namespace kalivor {
namespace {

constexpr double kStroke = 9.9e8;

// A division the scale can use: positive, and not so small or large that the unit breaks.
bool usableDivision(double d) { return d > 0 && std::isfinite(d) && std::isfinite(1.0 / d); }

std::string wholeText(double v) {
  if (!std::isfinite(v)) return "0";
  return numberToText(std::round(v));
}

}  // namespace

RecordTrace DrawRecordChannel(const RecordDrawInput& in, const std::vector<std::string>& values,
                              EventPump* events) {
  RecordTrace out;
  const double height = in.scaleHeight;
  const double divisionHeight = height / 10;
  double division = leadingNumber(in.division);
  if (!usableDivision(division)) division = 1;
  double unit = divisionHeight / division;
  if (!std::isfinite(unit) || unit == 0) unit = divisionHeight;
  double offset = leadingNumber(in.offset);
  if (!std::isfinite(offset)) offset = 0;

  const double xStep = in.rangeStop == in.rangeStart
                           ? 1.0
                           : in.scaleWidth / static_cast<double>(in.rangeStop - in.rangeStart) /
                                 0.975;
  out.xStep = xStep;
  double penX = -xStep;
  double penY = height / 2;
  const double base = height / 2;

  std::vector<TwipPoint> run;
  auto flush = [&] {
    if (run.size() >= 2) out.polylines.push_back(std::move(run));
    run.clear();
  };
  auto segmentTo = [&](double x, double y) {
    if (run.empty()) run.push_back({penX, penY});
    run.push_back({x, y});
    penX = x;
    penY = y;
  };
  auto moveTo = [&](double x, double y) {
    flush();
    penX = x;
    penY = y;
  };

  std::string previous;  // empty before the first row
  for (std::int64_t n = in.rangeStart; n <= in.rangeStop; ++n) {
    if (n >= 1 && n <= static_cast<std::int64_t>(values.size())) {
      const std::string& v = values[static_cast<std::size_t>(n - 1)];
      const bool blank = v == " ";
      if (blank) ++n;  // the row after a blank is not read
      const double number = leadingNumber(v);
      // Where the value lies (the offset is in value units, as the window labels it); the step
      // from the pen is penY - target. Computed directly so a far pen costs no precision.
      double target = base - (number - offset) * unit;
      if (std::isnan(target)) target = base;
      if (previous != " " || blank) {
        if (number > kStroke) {
          segmentTo(penX + xStep, penY + kStroke);  // overload: a stroke down, out of the plot
        } else if (number < -kStroke) {
          segmentTo(penX + xStep, penY - kStroke);
        } else if (blank) {
          moveTo(penX + xStep, penY);
        } else if (target >= 0 && target <= height) {
          // Drawn when the point lies inside the plot; otherwise the pen waits where it is.
          segmentTo(penX + xStep, target);
        }
      } else {
        moveTo(penX + xStep, target);  // first value after a blank: the gap stays open
      }
      previous = v;
    }
    if (events) events->processEvents();
  }
  flush();
  return out;
}

RecordDrawCheck checkDrawSettings(const RecordDrawSettings& s) {
  RecordDrawCheck r;
  const double division = leadingNumber(s.division);
  r.division = usableDivision(division) ? numberToText(division) : "1";
  const double offset = leadingNumber(s.offset);
  r.offset = std::isfinite(offset) ? numberToText(offset) : "0";
  r.drawStart = s.drawStart;
  r.drawStop = s.drawStop;

  if (!contains(s.recordName, "Rec") || !contains(s.channelText, "CH")) {
    r.message = kSelectRecordOrChannel;
    return r;
  }

  if (s.drawLimit) {
    double start = leadingNumber(r.drawStart);
    double stop = leadingNumber(r.drawStop);
    if (start < 1) {
      start = 1;
      r.drawStart = "1";
    }
    if (static_cast<double>(s.recordCount) < stop) {
      stop = static_cast<double>(s.recordCount);
      r.drawStop = intToText(s.recordCount);
    }
    const bool valid = start > 0 && start < stop && stop - start < kRecordRangeLimit;
    if (!valid) {
      r.message = stop - start > kRecordRangeLimit ? kRangeTooLarge : kIncorrectRange;
      return r;
    }
    r.drawStart = wholeText(start);
    r.drawStop = wholeText(stop);
    r.draw = true;
    const RecordRange range = recordRange(true, static_cast<std::int64_t>(std::round(start)),
                                          static_cast<std::int64_t>(std::round(stop)),
                                          s.recordCount);
    r.rangeStart = range.start;
    r.rangeStop = range.stop;
    return r;
  }

  r.drawStart = wholeText(leadingNumber(r.drawStart));
  r.drawStop = wholeText(leadingNumber(r.drawStop));
  r.draw = true;
  const RecordRange range = recordRange(false, 0, 0, s.recordCount);
  r.rangeStart = range.start;
  r.rangeStop = range.stop;
  return r;
}

RecordRange recordRange(bool drawLimit, std::int64_t drawStart, std::int64_t drawStop,
                        std::int64_t recordCount) {
  if (drawLimit) return {drawStart, drawStop};
  return {1, recordCount == 1 ? 2 : recordCount};
}

RecordFileStates recordFileStates(std::int64_t count) {
  RecordFileStates st;
  if (count <= 0) {
    st.drawEnabled = false;
    st.message = kRecordIsNull;
    return st;
  }
  st.optionsChanged = true;
  const bool fitsWhole = count < kRecordRangeLimit;
  st.drawAllEnabled = fitsWhole;
  st.drawAllSelected = fitsWhole;
  st.drawLimitSelected = !fitsWhole;
  st.drawLimitEnabled = count != 1;
  return st;
}

SliderRange sliderAfterDraw(std::int64_t recordCount, std::int64_t rangeStart,
                            std::int64_t rangeStop) {
  SliderRange s;
  if (recordCount == 1) {
    s.value = 1;
    s.max = 2;
    return s;
  }
  s.min = rangeStart;
  s.max = rangeStop;
  return s;
}

SliderRange sliderForShow(std::int64_t recordCount, std::int64_t minBefore, bool drawLimit,
                          std::int64_t drawStart, std::int64_t drawStop) {
  SliderRange s;
  // A slider needs max above min; a single row gets the room of one more.
  s.min = 1;
  s.max = recordCount == minBefore ? recordCount + 1 : recordCount;
  if (drawLimit) {
    s.min = drawStart;
    s.max = drawStop;
  }
  return s;
}

std::optional<std::int64_t> sliderRow(std::int64_t recordCount, std::int64_t value) {
  if (recordCount >= value) return value;
  return std::nullopt;
}

}  // namespace kalivor
