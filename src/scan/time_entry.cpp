// SPDX-License-Identifier: MIT
#include "scan/time_entry.h"

#include <cmath>

#include "common/numbers.h"

namespace kalivor {
namespace {

std::string padded(double whole, std::size_t digits) {
  std::string text = intToText(static_cast<std::int64_t>(whole));
  if (text.size() < digits) text.insert(0, digits - text.size(), '0');
  return text;
}

// Formats a field with at least `digits` digits and clamps it to its maximum. The key filter
// lets only digits in, but a pasted "-3" or "1e9" must not get past either.
std::string formatField(const std::string& text, std::size_t digits, int maximum) {
  const double value = roundHalfEven(leadingNumber(text));
  if (!(value <= maximum)) return intToText(maximum);  // also infinity and NaN
  if (value < 0) return padded(0, digits);
  return padded(value, digits);
}

}  // namespace

void ProtectTime::setTime(std::string_view unit, std::string_view hour, std::string_view minute,
                          std::string_view second, std::string_view millisecond) {
  unit_ = std::string(unit);
  hour_ = std::string(hour);
  minute_ = std::string(minute);
  second_ = std::string(second);
  millisecond_ = std::string(millisecond);
}

void ProtectTime::Protect() {
  if (unit_ == "hour") {
    hour_ = formatField(hour_, 2, kHourMax);
  } else if (unit_ == "min") {
    minute_ = formatField(minute_, 2, kMinuteMax);
  } else if (unit_ == "sec") {
    second_ = formatField(second_, 2, kSecondMax);
  } else if (unit_ == "msec") {
    millisecond_ = formatField(millisecond_, 3, kMillisecondMax);
  }
  const double total = totalSeconds(TimeFields{hour_, minute_, second_, millisecond_});
  if (total > kTotalMax) {
    hour_ = "01";
    minute_ = "00";
    second_ = "00";
    millisecond_ = "000";
    errMsg_ = kTimeRangeMessage;
  } else {
    errMsg_.clear();
  }
}

TimeCheck validateTimeFields(std::string_view unit, std::string_view hour,
                             std::string_view minute, std::string_view second,
                             std::string_view millisecond) {
  if (!isNumeric(hour) || !isNumeric(minute) || !isNumeric(second) || !isNumeric(millisecond)) {
    return TimeCheck{resetTimeFields(), kTimeNumberMessage};
  }
  ProtectTime protect;
  protect.setTime(unit, hour, minute, second, millisecond);
  protect.Protect();
  return TimeCheck{TimeFields{protect.hour(), protect.minute(), protect.second(),
                              protect.millisecond()},
                   protect.ErrMsg()};
}

double totalSeconds(const TimeFields& f) {
  return leadingNumber(f.hour) * 3600 + leadingNumber(f.minute) * 60 + leadingNumber(f.second) +
         leadingNumber(f.millisecond) * 0.001;
}

std::string totalSecondsText(const TimeFields& fields) {
  return numberToText(totalSeconds(fields));
}

TimeFields splitSeconds(std::string_view secondsText) {
  const double t = leadingNumber(secondsText);
  if (!std::isfinite(t)) return TimeFields{"0", "0", "0", "0"};
  double whole = std::trunc(t);
  double ms = roundHalfEven((t - whole) * 1000);
  if (ms >= 1000) {
    ms -= 1000;
    whole += 1;
  } else if (ms <= -1000) {
    ms += 1000;
    whole -= 1;
  }
  const double hours = std::trunc(whole / 3600);
  const double minutes = std::trunc((whole - hours * 3600) / 60);
  const double seconds = whole - minutes * 60 - hours * 3600;
  return TimeFields{numberToText(hours), numberToText(minutes), numberToText(seconds),
                    numberToText(ms)};
}

}  // namespace kalivor
