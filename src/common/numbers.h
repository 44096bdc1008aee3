// SPDX-License-Identifier: MIT
#pragma once
// The program's number rules, shared by every part that turns text into numbers or back. All of
// them are locale-independent: "." is always the decimal point, whatever the process locale is.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kalivor {

// Leading-number rule: blanks, tabs and line feeds are ignored; the longest leading decimal
// number (optional sign, digits, optional point and fraction, optional exponent) is used; the
// rest is ignored; a text without a leading number gives 0. Values beyond the double range come
// out as +/-infinity.
double leadingNumber(std::string_view text);
// The same, but std::nullopt for a text without a leading number.
std::optional<double> leadingNumberIfAny(std::string_view text);

// Strict conversion: the whole text (leading and trailing blanks allowed) must be one decimal
// number. Empty text is not a number.
std::optional<double> strictNumber(std::string_view text);
inline bool isNumeric(std::string_view text) { return strictNumber(text).has_value(); }

// Rounding to the nearest whole number, halves to the even number (2.5 -> 2, 3.5 -> 4).
double roundHalfEven(double v);
// The same, as a 16-bit integer; std::nullopt when the result does not fit (or is not finite).
std::optional<std::int16_t> toInt16(double v);

// Numbers to text: the shortest plain decimal form with up to 15 significant digits, a leading
// zero before the point and "." as decimal point, never an exponent (0.5, 0.002, 1, 0.123456,
// 0.00001, 150000000000000000000).
std::string numberToText(double v);
// Whole numbers to text without sign padding or leading zeros.
std::string intToText(std::int64_t v);

}  // namespace kalivor
