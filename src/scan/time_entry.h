// SPDX-License-Identifier: MIT
#pragma once
// Entry of the two scan intervals (per channel and per scan) as hours, minutes, seconds and
// milliseconds: clamping of the changed field, the 0..3600 s range, and the way back from a
// seconds text to the four fields.
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

namespace kalivor {

inline constexpr const char* kTimeRangeMessage = "<< Timer Set , Range = 0 ~ 3600 (s) >>";
inline constexpr const char* kTimeNumberMessage = "<< Please input Number... >>";

// The four field texts of one interval group.
struct TimeFields {
  std::string hour = "00";
  std::string minute = "00";
  std::string second = "00";
  std::string millisecond = "500";
  bool operator==(const TimeFields&) const = default;
};

// Seconds box and fields of a group after a reset (0.5 s).
inline constexpr const char* kResetSecondsText = "0.5";
inline TimeFields resetTimeFields() { return TimeFields{}; }

// Validates and clamps one set of four fields. Properties are read with name() and written with
// name(newValue), stored unchanged.
class ProtectTime {
 public:
  // unit names the field the user changed: "hour", "min", "sec" or "msec".
  void setTime(std::string_view unit, std::string_view hour, std::string_view minute,
               std::string_view second, std::string_view millisecond);
  // Formats and clamps the changed field, then resets all four to 01:00:00.000 with ErrMsg set
  // when the total exceeds 3600 s; ErrMsg is empty when the time is accepted.
  void Protect();

  const std::string& hour() const { return hour_; }
  void hour(std::string newValue) { hour_ = std::move(newValue); }
  const std::string& minute() const { return minute_; }
  void minute(std::string newValue) { minute_ = std::move(newValue); }
  const std::string& second() const { return second_; }
  void second(std::string newValue) { second_ = std::move(newValue); }
  const std::string& millisecond() const { return millisecond_; }
  void millisecond(std::string newValue) { millisecond_ = std::move(newValue); }
  const std::string& ErrMsg() const { return errMsg_; }
  void ErrMsg(std::string newValue) { errMsg_ = std::move(newValue); }

  static constexpr std::int16_t kHourMax = 1;
  static constexpr std::int16_t kMinuteMax = 59;
  static constexpr std::int16_t kSecondMax = 59;
  static constexpr std::int16_t kMillisecondMax = 999;
  static constexpr std::int16_t kTotalMax = 3600;

 private:
  std::string hour_ = "0";
  std::string minute_ = "0";
  std::string second_ = "0";
  std::string millisecond_ = "500";
  std::string unit_;
  std::string errMsg_;
};

struct TimeCheck {
  TimeFields fields;
  std::string message;  // shown in the status label; empty when accepted
};

// The window's step for every field change: all four numeric -> ProtectTime's result; otherwise
// the group goes back to 00:00:00.500 with "<< Please input Number... >>".
TimeCheck validateTimeFields(std::string_view unit, std::string_view hour,
                             std::string_view minute, std::string_view second,
                             std::string_view millisecond);
inline TimeCheck validateTimeFields(std::string_view unit, const TimeFields& f) {
  return validateTimeFields(unit, f.hour, f.minute, f.second, f.millisecond);
}

// hour*3600 + minute*60 + second + millisecond*0.001, each by its leading number; as a number and
// as the seconds box shows it ("420", "0.5", "3599.999").
double totalSeconds(const TimeFields& fields);
std::string totalSecondsText(const TimeFields& fields);

// Seconds text -> fields as plain numbers without leading zeros: "75.5" -> 0, 1, 15, 500;
// milliseconds round half to even. A fraction that rounds up to 1000 ms is carried into the
// seconds, so the millisecond field never shows more than 999.
TimeFields splitSeconds(std::string_view secondsText);

// The key filter of the time and count fields: digits and backspace (8) only.
inline bool acceptsFieldKey(int keyAscii) {
  return (keyAscii >= '0' && keyAscii <= '9') || keyAscii == 8;
}

}  // namespace kalivor
