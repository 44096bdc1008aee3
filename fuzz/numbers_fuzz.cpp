// SPDX-License-Identifier: MIT
// Any text through the number rules: the leading-number rule, the strict conversion and numbers
// with an engineering prefix. The rules must agree with each other, never give NaN from text,
// and numbers written by the program must read back as the same number.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "common/numbers.h"
#include "instrument/vocabulary.h"

namespace {

using namespace kalivor;

void check(bool ok, const char* what, std::string_view text) {
  if (ok) return;
  std::fprintf(stderr, "numbers: %s for \"%.*s\"\n", what, static_cast<int>(text.size()),
               text.data());
  std::abort();
}

double prefixOf(char c) {
  switch (c) {
    case 'K': case 'k': return 1e3;
    case 'M': return 1e6;
    case 'G': return 1e9;
    case 'T': return 1e12;
    case 'm': return 1e-3;
    case 'u': return 1e-6;
    case 'n': return 1e-9;
    case 'p': return 1e-12;
    default: return 1;
  }
}

void checkWritten(double v) {
  if (!std::isfinite(v)) return;
  const std::string text = numberToText(v);
  check(text.find(',') == std::string::npos, "a written number has no comma", text);
  const auto back = strictNumber(text);
  check(back.has_value(), "a written number reads back strictly", text);
  check(leadingNumber(text) == *back, "both rules read a written number alike", text);
  // Within a 15-digit rounding of the largest double the written text reads back as infinity.
  if (std::fabs(v) >= 1.79769313486231e308 && std::isinf(*back)) return;
  // 15 significant digits.
  check(std::fabs(*back - v) <= std::fabs(v) * 1e-14 || (std::fabs(v) < 1e-300 && *back == 0.0) ||
            std::fabs(*back - v) <= 1e-308,
        "a written number keeps its value", text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  const double lead = leadingNumber(text);
  check(!std::isnan(lead), "the leading number is never NaN", text);
  const auto strict = strictNumber(text);
  if (strict) {
    check(!std::isnan(*strict), "a strict number is never NaN", text);
    check(*strict == lead, "a strict number is its leading number", text);
  }

  const double prefixed = ParsePrefixedNumber(text);
  check(!std::isnan(prefixed), "a prefixed number is never NaN", text);
  if (!text.empty()) {
    check(prefixed == lead * prefixOf(text.back()), "the last character picks the factor", text);
  }

  if (const auto whole = toInt16(lead)) {
    check(std::fabs(*whole - lead) <= 0.5, "16-bit rounding stays within a half", text);
  }
  checkWritten(lead);
  checkWritten(prefixed);

  // The bytes as a double, so every value (subnormals, extremes) gets written once.
  if (size >= sizeof(double)) {
    double raw;
    std::memcpy(&raw, data, sizeof raw);
    checkWritten(raw);
  }
  return 0;
}
