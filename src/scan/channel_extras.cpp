// SPDX-License-Identifier: MIT
#include "scan/channel_extras.h"

#include <cmath>

#include "common/numbers.h"

namespace kalivor {
namespace {

std::optional<double> finiteNumber(std::string_view text) {
  const auto v = strictNumber(text);
  if (!v || !std::isfinite(*v)) return std::nullopt;
  return v;
}

std::string limitText(const std::optional<double>& v) { return v ? numberToText(*v) : std::string(); }

}  // namespace

bool validScaleUnit(std::string_view unit) {
  std::size_t characters = 0;
  for (unsigned char c : unit) {
    if (c < 0x20 || c == 0x7F) return false;
    if ((c & 0xC0) != 0x80) ++characters;  // continuation bytes belong to the character before
  }
  return characters <= kMaxScaleUnitCharacters;
}

ChannelExtrasText extrasText(const ChannelSetup& c) {
  ChannelExtrasText t;
  t.scaleOn = c.ScaleOn == 1;
  t.gain = numberToText(c.ScaleGain);
  t.offset = numberToText(c.ScaleOffset);
  t.unit = c.ScaleUnit;
  t.low = limitText(c.AlarmLow);
  t.high = limitText(c.AlarmHigh);
  return t;
}

std::optional<std::string> takeExtras(const ChannelExtrasText& text, ChannelSetup& into) {
  const auto gain = finiteNumber(text.gain);
  const auto offset = finiteNumber(text.offset);
  if (text.scaleOn) {
    if (!gain) return "The gain M must be a number.";
    if (!offset) return "The offset B must be a number.";
  }
  if (!validScaleUnit(text.unit)) return "The unit label may have at most 8 characters.";
  std::optional<double> low;
  std::optional<double> high;
  if (!text.low.empty() && !(low = finiteNumber(text.low))) return "The low limit must be a number or empty.";
  if (!text.high.empty() && !(high = finiteNumber(text.high))) return "The high limit must be a number or empty.";
  if (low && high && *low > *high) return "The low limit must not be above the high limit.";
  into.ScaleOn = text.scaleOn ? 1 : 0;
  // Values of a switched-off scaling are kept only when they are numbers.
  into.ScaleGain = gain ? *gain : 1.0;
  into.ScaleOffset = offset ? *offset : 0.0;
  into.ScaleUnit = text.unit;
  into.AlarmLow = low;
  into.AlarmHigh = high;
  return std::nullopt;
}

bool usesScaling(const ChannelSetup& c) {
  return c.ScaleOn != 0 || c.ScaleGain != 1.0 || c.ScaleOffset != 0.0 || !c.ScaleUnit.empty();
}

bool usesAlarms(const ChannelSetup& c) { return c.AlarmLow.has_value() || c.AlarmHigh.has_value(); }

void copyExtras(const ChannelSetup& from, ChannelSetup& to) {
  to.ScaleOn = from.ScaleOn;
  to.ScaleGain = from.ScaleGain;
  to.ScaleOffset = from.ScaleOffset;
  to.ScaleUnit = from.ScaleUnit;
  to.AlarmLow = from.AlarmLow;
  to.AlarmHigh = from.AlarmHigh;
}

}  // namespace kalivor
