// SPDX-License-Identifier: MIT
#pragma once
// JSON output for the command line's --json modes.
#include <string>
#include <string_view>

namespace kalivor {

// s as a quoted JSON string: quotes, backslashes and control characters escaped, and bytes that
// are not UTF-8 (an instrument may answer anything) replaced by U+FFFD, so the output always
// parses.
std::string jsonString(std::string_view s);

// A reading as JSON: a number when the whole text is one finite decimal number (written in the
// shortest form that reads back to the same value), else the text as a JSON string ("OVLD", "").
std::string jsonNumberOrString(std::string_view text);

}  // namespace kalivor
