// SPDX-License-Identifier: MIT
#pragma once
// Measuring functions under their display names ("DCV", "4W,TEMP", ...) and under the quoted SCPI
// words the instrument speaks ("\"VOLT\"", "\"FRES\"", ...), and numbers with a one-letter
// engineering prefix.
#include <string>
#include <string_view>

namespace kalivor {

// Display name -> quoted SCPI word (DCI -> "VOLT" with its quotes); failing that, quoted SCPI word
// -> display name ("VOLT" -> DCV); failing that, the text unchanged. Matching is exact and
// case-sensitive; the first matching row wins.
std::string TranslateFunctionName(std::string_view name);

// The leading number of the text times the factor its last character selects: K/k 1e3, M 1e6,
// G 1e9, T 1e12, m 1e-3, u 1e-6, n 1e-9, p 1e-12, anything else 1 ("10k" -> 10000, "2.5m" ->
// 0.0025, "3x" -> 3, "k" -> 0). A product beyond the double range comes out as +/-infinity.
double ParsePrefixedNumber(std::string_view text);

}  // namespace kalivor
