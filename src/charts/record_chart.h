// SPDX-License-Identifier: MIT
#pragma once
// Geometry and settings rules of the record chart window (Record_View_Draw): one channel of a
// stored record drawn as a trend line, middle of the plot = value 0. The window reads the record
// (after renumbering NUM) and hands the channel's value texts in; nothing here touches a file.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "charts/chart_canvas.h"
#include "common/event_pump.h"

namespace kalivor {

// The plot draw_pic, twips.
inline constexpr double kRecordPlotWidth = 8775;
inline constexpr double kRecordPlotHeight = 5010;
// A range drawing must keep draw_stop - draw_start below this.
inline constexpr std::int64_t kRecordRangeLimit = 25001;

inline constexpr const char* kRecordIsNull = "The Record is NULL.";
inline constexpr const char* kSelectRecordOrChannel = "Please select a Record or Channel";
inline constexpr const char* kRangeTooLarge = " The range should be set from 1 to 25000.";
inline constexpr const char* kIncorrectRange = "Please setting a correct range.";

struct RecordDrawInput {
  double scaleWidth = kRecordPlotWidth;    // the plot's ScaleWidth
  double scaleHeight = kRecordPlotHeight;  // the plot's ScaleHeight
  std::string_view division = "1";         // division_box: value per division
  std::string_view offset = "0";           // offset_box, in value units
  std::int64_t rangeStart = 1;             // RangeStart..RangeStop, NUM values
  std::int64_t rangeStop = 1;
};

struct RecordTrace {
  // Connected runs of segments in the plot's scale units (y down), drawn in the swatch colour.
  std::vector<std::vector<TwipPoint>> polylines;
  double xStep = 0;
};

// DrawRecordChannel's drawing: values[i] is the channel's text in the row with NUM i + 1 (rows
// beyond the vector do not exist). A value of one blank is a gap, and the row after it is not
// read. events, when given, runs after each row.
RecordTrace DrawRecordChannel(const RecordDrawInput& in, const std::vector<std::string>& values,
                              EventPump* events = nullptr);

// The "Draw" button's settings check.
struct RecordDrawSettings {
  std::string division = "1";  // division_box
  std::string offset = "0";    // offset_box
  std::string recordName;      // Combo_record text
  std::string channelText;     // Combo_chan text, "CH1".."CH20"
  bool drawLimit = false;      // draw_limit selected (else draw_all)
  std::string drawStart = "1";
  std::string drawStop = "10";
  std::int64_t recordCount = 0;  // Data_RecordCount
};

struct RecordDrawCheck {
  // The boxes as rewritten by the check (also when nothing is drawn).
  std::string division;
  std::string offset;
  std::string drawStart;
  std::string drawStop;
  std::optional<std::string> message;  // shown with an OK button
  bool draw = false;
  std::int64_t rangeStart = 0;  // RangeStart / RangeStop when draw
  std::int64_t rangeStop = 0;
};
RecordDrawCheck checkDrawSettings(const RecordDrawSettings& s);

// RangeStart/RangeStop of a drawing: the range, or all rows (1..count; 1..2 for a single row).
struct RecordRange {
  std::int64_t start = 1;
  std::int64_t stop = 1;
};
RecordRange recordRange(bool drawLimit, std::int64_t drawStart, std::int64_t drawStop,
                        std::int64_t recordCount);

// What choosing a record file with `count` rows does to the window.
struct RecordFileStates {
  bool drawEnabled = true;  // "Draw" and the slider
  std::optional<std::string> message;
  bool optionsChanged = false;  // the four option fields below apply
  bool drawAllEnabled = true;
  bool drawAllSelected = true;
  bool drawLimitEnabled = true;
  bool drawLimitSelected = false;
};
RecordFileStates recordFileStates(std::int64_t count);

struct SliderRange {
  std::optional<std::int64_t> min;    // unchanged when empty
  std::int64_t max = 0;
  std::optional<std::int64_t> value;  // unchanged when empty
};
// The slider after a drawing.
SliderRange sliderAfterDraw(std::int64_t recordCount, std::int64_t rangeStart,
                            std::int64_t rangeStop);
// The slider when its value is shown; minBefore is its minimum before.
SliderRange sliderForShow(std::int64_t recordCount, std::int64_t minBefore, bool drawLimit,
                          std::int64_t drawStart, std::int64_t drawStop);
// The row whose value the slider at `value` shows; empty when the slider is past the last row
// (the window then puts the slider on the last row).
std::optional<std::int64_t> sliderRow(std::int64_t recordCount, std::int64_t value);

// Key filter of draw_start and draw_stop: digits and backspace only.
constexpr bool acceptRangeKey(int keyAscii) {
  return keyAscii == 8 || (keyAscii >= '0' && keyAscii <= '9');
}

}  // namespace kalivor
