// SPDX-License-Identifier: MIT
#include "common/clock.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <thread>

namespace kalivor {
namespace {

// Days from 1970-01-01 to the given civil date (proleptic Gregorian).
std::int64_t daysFromCivil(int y, int m, int d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void civilFromDays(std::int64_t z, int& y, int& m, int& d) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  y = static_cast<int>(static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2));
}

bool readInt(const std::string& s, std::size_t& pos, std::size_t digits, int& out) {
  if (pos + digits > s.size()) return false;
  int v = 0;
  for (std::size_t i = 0; i < digits; ++i) {
    const char c = s[pos + i];
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
  }
  pos += digits;
  out = v;
  return true;
}

}  // namespace

LocalMs toLocalMs(const LocalDateTime& t) {
  const std::int64_t days = daysFromCivil(t.year, t.month, t.day);
  return ((days * 24 + t.hour) * 60 + t.minute) * 60000LL + t.second * 1000LL + t.millisecond;
}

LocalDateTime fromLocalMs(LocalMs ms) {
  std::int64_t days = ms / 86400000LL;
  std::int64_t rest = ms % 86400000LL;
  if (rest < 0) {
    rest += 86400000LL;
    --days;
  }
  LocalDateTime t;
  civilFromDays(days, t.year, t.month, t.day);
  t.hour = static_cast<int>(rest / 3600000);
  t.minute = static_cast<int>(rest / 60000 % 60);
  t.second = static_cast<int>(rest / 1000 % 60);
  t.millisecond = static_cast<int>(rest % 1000);
  return t;
}

LocalMs makeLocalMs(int year, int month, int day, int hour, int minute, int second, int millisecond) {
  return toLocalMs(LocalDateTime{year, month, day, hour, minute, second, millisecond});
}

std::string formatDateTime(LocalMs ms) {
  const LocalDateTime t = fromLocalMs(ms);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04d/%02d/%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour,
                t.minute, t.second);
  return buf;
}

std::optional<LocalMs> parseDateTime(const std::string& text) {
  std::size_t b = text.find_first_not_of(' ');
  std::size_t e = text.find_last_not_of(' ');
  if (b == std::string::npos) return std::nullopt;
  const std::string s = text.substr(b, e - b + 1);
  LocalDateTime t;
  std::size_t p = 0;
  auto sep = [&](char a, char alt) {
    if (p < s.size() && (s[p] == a || s[p] == alt)) {
      ++p;
      return true;
    }
    return false;
  };
  if (!readInt(s, p, 4, t.year) || !sep('/', '-') || !readInt(s, p, 2, t.month) || !sep('/', '-') ||
      !readInt(s, p, 2, t.day) || !sep(' ', 'T') || !readInt(s, p, 2, t.hour) || !sep(':', ':') ||
      !readInt(s, p, 2, t.minute) || !sep(':', ':') || !readInt(s, p, 2, t.second))
    return std::nullopt;
  if (p < s.size()) {
    if (!sep(':', '.') || !readInt(s, p, 3, t.millisecond) || p != s.size()) return std::nullopt;
  }
  if (t.month < 1 || t.month > 12 || t.day < 1 || t.day > 31 || t.hour > 23 || t.minute > 59 ||
      t.second > 59)
    return std::nullopt;
  const LocalMs ms = toLocalMs(t);
  const LocalDateTime back = fromLocalMs(ms);
  if (back.day != t.day || back.month != t.month) return std::nullopt;  // 2024/02/31 and the like
  return ms;
}

LocalMs SystemClock::now() {
  using namespace std::chrono;
  const auto tp = system_clock::now();
  const std::time_t secs = system_clock::to_time_t(tp);
  std::tm local{};
  localtime_r(&secs, &local);
  const auto ms = duration_cast<milliseconds>(tp.time_since_epoch()).count() % 1000;
  return makeLocalMs(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                     local.tm_min, local.tm_sec, static_cast<int>(ms < 0 ? ms + 1000 : ms));
}

void SystemClock::sleep(std::uint32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

}  // namespace kalivor
