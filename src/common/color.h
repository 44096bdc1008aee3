// SPDX-License-Identifier: MIT
#pragma once
#include <cstdint>

namespace kalivor {

// A colour as the program stores it: red in the low byte, then green, then blue (0x00BBGGRR), so
// "red" is 255 as in the record chart's swatch.
using Rgb = std::uint32_t;

constexpr Rgb rgb(int r, int g, int b) {
  return static_cast<Rgb>((r & 0xFF) | ((g & 0xFF) << 8) | ((b & 0xFF) << 16));
}
constexpr int redOf(Rgb c) { return static_cast<int>(c & 0xFF); }
constexpr int greenOf(Rgb c) { return static_cast<int>((c >> 8) & 0xFF); }
constexpr int blueOf(Rgb c) { return static_cast<int>((c >> 16) & 0xFF); }

}  // namespace kalivor
