// SPDX-License-Identifier: MIT
#include "common/numbers.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>

namespace kalivor {
namespace {

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\n'; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Scans one decimal number at the start of s (no blanks inside). Returns the length used, 0 when
// there is no number.
std::size_t scanNumber(std::string_view s) {
  std::size_t p = 0;
  if (p < s.size() && (s[p] == '+' || s[p] == '-')) ++p;
  std::size_t digits = 0;
  while (p < s.size() && isDigit(s[p])) ++p, ++digits;
  if (p < s.size() && s[p] == '.') {
    ++p;
    while (p < s.size() && isDigit(s[p])) ++p, ++digits;
  }
  if (digits == 0) return 0;
  if (p < s.size() && (s[p] == 'e' || s[p] == 'E')) {
    std::size_t q = p + 1;
    if (q < s.size() && (s[q] == '+' || s[q] == '-')) ++q;
    std::size_t expDigits = 0;
    while (q < s.size() && isDigit(s[q])) ++q, ++expDigits;
    if (expDigits > 0) p = q;
  }
  return p;
}

// For an unsigned decimal number as scanNumber accepts it: true when its value is below 1, from
// the position of the first non-zero digit and the exponent (large exponents saturate).
bool magnitudeBelowOne(std::string_view number) {
  const std::size_t e = number.find_first_of("eE");
  const std::string_view mantissa = number.substr(0, e);
  const std::size_t point = std::min(mantissa.find('.'), mantissa.size());
  const std::size_t first = mantissa.find_first_not_of("0.");
  if (first == std::string_view::npos) return true;  // all zeros
  // Power of ten of the first significant digit, e.g. 0 for "5.2", -3 for "0.004".
  std::int64_t power = first < point ? static_cast<std::int64_t>(point - first - 1)
                                     : -static_cast<std::int64_t>(first - point);
  if (e != std::string_view::npos) {
    std::size_t q = e + 1;
    bool negative = false;
    if (q < number.size() && (number[q] == '+' || number[q] == '-')) negative = number[q++] == '-';
    std::int64_t exponent = 0;
    for (; q < number.size() && isDigit(number[q]); ++q) {
      exponent = std::min<std::int64_t>(exponent * 10 + (number[q] - '0'), 1'000'000'000);
    }
    power += negative ? -exponent : exponent;
  }
  return power < 0;
}

double convert(std::string_view number) {
  // from_chars does not take a leading '+'.
  bool negative = false;
  if (!number.empty() && (number[0] == '+' || number[0] == '-')) {
    negative = number[0] == '-';
    number.remove_prefix(1);
  }
  double v = 0;
  const auto res = std::from_chars(number.data(), number.data() + number.size(), v);
  if (res.ec == std::errc::result_out_of_range) {
    // Either an overflow or an underflow. The exponent's sign alone does not tell them apart
    // ("0.000...1" underflows without one, "0.000...1e+5" with a plus), so look at the power of
    // ten of the first significant digit.
    v = magnitudeBelowOne(number) ? 0.0 : std::numeric_limits<double>::infinity();
  }
  return negative ? -v : v;
}

}  // namespace

double leadingNumber(std::string_view text) { return leadingNumberIfAny(text).value_or(0.0); }

std::optional<double> leadingNumberIfAny(std::string_view text) {
  std::string compact;
  compact.reserve(text.size());
  for (char c : text) {
    if (!isBlank(c)) compact.push_back(c);
  }
  const std::size_t n = scanNumber(compact);
  if (n == 0) return std::nullopt;
  return convert(std::string_view(compact).substr(0, n));
}

std::optional<double> strictNumber(std::string_view text) {
  std::size_t b = 0;
  std::size_t e = text.size();
  while (b < e && isBlank(text[b])) ++b;
  while (e > b && isBlank(text[e - 1])) --e;
  const std::string_view core = text.substr(b, e - b);
  if (core.empty()) return std::nullopt;
  const std::size_t n = scanNumber(core);
  if (n == 0 || n != core.size()) return std::nullopt;
  return convert(core);
}

double roundHalfEven(double v) {
  if (!std::isfinite(v)) return v;
  return std::nearbyint(v);  // the default rounding mode rounds halves to even
}

std::optional<std::int16_t> toInt16(double v) {
  const double r = roundHalfEven(v);
  if (!std::isfinite(r) || r < -32768.0 || r > 32767.0) return std::nullopt;
  return static_cast<std::int16_t>(r);
}

std::string numberToText(double v) {
  if (v == 0.0) return "0";  // also turns -0 into 0
  if (std::isnan(v)) return "NaN";
  if (std::isinf(v)) return v > 0 ? "inf" : "-inf";
  // Rounded to 15 significant digits, then laid out as plain decimal text: readings and file
  // values are read by people and spreadsheets, which expect 0.0000097, not 9.7e-06.
  char buf[64];
  const auto res = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific, 14);
  const std::string_view sci(buf, static_cast<std::size_t>(res.ptr - buf));
  const std::size_t e = sci.find('e');
  const bool negative = sci.front() == '-';
  std::string digits;
  for (char c : sci.substr(0, e)) {
    if (isDigit(c)) digits.push_back(c);
  }
  while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
  int exponent = 0;
  std::string_view expText = sci.substr(e + 1);
  if (!expText.empty() && expText.front() == '+') expText.remove_prefix(1);
  std::from_chars(expText.data(), expText.data() + expText.size(), exponent);

  std::string out = negative ? "-" : "";
  if (exponent < 0) {
    out += "0.";
    out.append(static_cast<std::size_t>(-exponent - 1), '0');
    out += digits;
  } else if (digits.size() <= static_cast<std::size_t>(exponent) + 1) {
    out += digits;
    out.append(static_cast<std::size_t>(exponent) + 1 - digits.size(), '0');
  } else {
    out += digits.substr(0, static_cast<std::size_t>(exponent) + 1);
    out += '.';
    out += digits.substr(static_cast<std::size_t>(exponent) + 1);
  }
  return out;
}

std::string intToText(std::int64_t v) {
  char buf[24];
  const auto res = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, res.ptr);
}

}  // namespace kalivor
