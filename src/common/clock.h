// SPDX-License-Identifier: MIT
#pragma once
// Time seam: the local wall clock with milliseconds and a sleep. The real program uses the system
// clock; tests use ManualClock, where a 30 s time-out or a 50 ms pause costs no real time.
#include <cstdint>
#include <optional>
#include <string>

namespace kalivor {

// Milliseconds since 1970-01-01 00:00:00.000 of the local wall clock (no time zone involved: the
// program only ever compares and formats local times).
using LocalMs = std::int64_t;

struct LocalDateTime {
  int year = 1970;
  int month = 1;   // 1..12
  int day = 1;     // 1..31
  int hour = 0;    // 0..23
  int minute = 0;  // 0..59
  int second = 0;  // 0..59
  int millisecond = 0;
};

LocalMs toLocalMs(const LocalDateTime& t);
LocalDateTime fromLocalMs(LocalMs ms);
LocalMs makeLocalMs(int year, int month, int day, int hour = 0, int minute = 0, int second = 0,
                    int millisecond = 0);

// The program's one text form of a date and time: "yyyy/MM/dd hh:mm:ss", 24-hour clock. Used for
// StartTime/StopTime in setups and compared back after parsing.
std::string formatDateTime(LocalMs ms);
// Accepts "yyyy/MM/dd hh:mm:ss" (also with "-" as date separator and an optional ":mmm" or ".mmm").
std::optional<LocalMs> parseDateTime(const std::string& text);

class Clock {
 public:
  virtual ~Clock() = default;
  virtual LocalMs now() = 0;
  virtual void sleep(std::uint32_t ms) = 0;
  LocalDateTime localTime() { return fromLocalMs(now()); }
};

class SystemClock final : public Clock {
 public:
  LocalMs now() override;
  void sleep(std::uint32_t ms) override;
};

class ManualClock final : public Clock {
 public:
  explicit ManualClock(LocalMs start = makeLocalMs(2024, 5, 6, 13, 45, 10)) : now_(start) {}
  LocalMs now() override { return now_; }
  void sleep(std::uint32_t ms) override {
    now_ += ms;
    sleptMs_ += ms;
  }
  void advance(std::int64_t ms) { now_ += ms; }
  void set(LocalMs t) { now_ = t; }
  std::int64_t sleptMs() const { return sleptMs_; }

 private:
  LocalMs now_;
  std::int64_t sleptMs_ = 0;
};

}  // namespace kalivor
