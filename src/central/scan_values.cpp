// SPDX-License-Identifier: MIT
#include "central/scan_values.h"

#include <charconv>
#include <cmath>
#include <ctime>
#include <mutex>
#include <unordered_map>

#include "common/clock.h"
#include "common/numbers.h"
#include "common/text.h"

namespace kalivor::central {
namespace {

constexpr std::int64_t kHourMs = 3'600'000;

// Local wall-clock hour -> offset of UTC from it, in ms. A run stamps thousands of scans per hour;
// mktime consults the time zone rules on each call.
std::int64_t utcOffsetOfHour(std::int64_t localHour) {
  static std::mutex mutex;
  static std::unordered_map<std::int64_t, std::int64_t> cache;
  std::lock_guard lock(mutex);
  if (auto it = cache.find(localHour); it != cache.end()) return it->second;
  const LocalDateTime t = fromLocalMs(localHour * kHourMs);
  std::tm tm{};
  tm.tm_year = t.year - 1900;
  tm.tm_mon = t.month - 1;
  tm.tm_mday = t.day;
  tm.tm_hour = t.hour;
  tm.tm_isdst = -1;
  const std::time_t utc = std::mktime(&tm);
  const std::int64_t offset = utc == static_cast<std::time_t>(-1)
                                  ? 0
                                  : static_cast<std::int64_t>(utc) * 1000 - localHour * kHourMs;
  if (cache.size() > 100'000) cache.clear();
  cache.emplace(localHour, offset);
  return offset;
}

void appendPadded(std::string& out, std::int64_t v, int width) {
  char buf[24];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v);
  for (int n = static_cast<int>(end - buf); n < width; ++n) out += '0';
  out.append(buf, end);
}

}  // namespace

std::optional<std::string> utcTimestamp(std::string_view stamp) {
  const auto local = parseDateTime(std::string(stamp));
  if (!local) return std::nullopt;
  std::int64_t localHour = *local / kHourMs;
  if (*local < 0 && *local % kHourMs != 0) --localHour;
  const LocalMs utcMs = *local + utcOffsetOfHour(localHour);
  const LocalDateTime u = fromLocalMs(utcMs);
  std::string out;
  out.reserve(27);
  appendPadded(out, u.year, 4);
  out += '-';
  appendPadded(out, u.month, 2);
  out += '-';
  appendPadded(out, u.day, 2);
  out += ' ';
  appendPadded(out, u.hour, 2);
  out += ':';
  appendPadded(out, u.minute, 2);
  out += ':';
  appendPadded(out, u.second, 2);
  out += '.';
  appendPadded(out, u.millisecond, 3);
  out += "+00";
  return out;
}

std::optional<double> readingValue(std::string_view raw) {
  const auto v = strictNumber(raw);
  if (!v || !std::isfinite(*v)) return std::nullopt;
  return v;
}

bool isBlankReading(std::string_view raw) { return trimBlanks(raw).empty(); }

std::optional<std::string> readingUnit(std::string_view function, std::string_view unitLabel) {
  if (!trimBlanks(unitLabel).empty()) return std::string(unitLabel);
  struct Unit {
    std::string_view function;
    std::string_view unit;
  };
  static constexpr Unit kUnits[] = {
      {"DCV", "V"},      {"ACV", "V"},    {"DCI", "A"},    {"ACI", "A"},
      {"2W", "Ohm"},     {"4W", "Ohm"},   {"FREQ", "Hz"},  {"PER", "s"},
      {"PERIOD", "s"},   {"TCOUPL", "°C"}, {"TCO", "°C"}, {"TEMP", "°C"},
      {"4W,TEMP", "°C"},
  };
  const std::string f = trimBlanks(function);
  for (const Unit& u : kUnits) {
    if (f == u.function) return std::string(u.unit);
  }
  return std::nullopt;
}

std::string exactNumberText(double v) {
  char buf[32];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, end);
}

}  // namespace kalivor::central
