// SPDX-License-Identifier: MIT
#pragma once
// Command-line options of both programs, described as a table: each option takes no value, a
// value, or an optional value, given as "--opt value" or "--opt=value". Adding an option is one
// more table entry.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "visa/visa_factory.h"

namespace kalivor {

struct OptionSpec {
  enum class Value { None, Required, Optional };
  std::string name;   // "--data-dir"
  std::string alias;  // "-v"; empty when there is none
  Value value = Value::None;
  std::string valueName;  // "a DIR", for the message "--data-dir needs a DIR"
  // Called with the value; "" for an option without one (or an optional value left out).
  std::function<void(const std::string&)> set;
};

// Parses args[from..]. Words that are not options (and "-", which names standard output) go to
// positional; "--" ends the options. An optional value is taken from the next word only when that
// word does not start with '-'. An empty value is bad usage. Returns the message for bad usage.
std::optional<std::string> parseCommandLine(const std::vector<std::string>& args, std::size_t from,
                                            const std::vector<OptionSpec>& options,
                                            std::vector<std::string>& positional);

// The options both programs share: --simulate [FILE], --visa-library PATH, --trace FILE and
// --data-dir DIR, filling visa and dataDir (which must outlive the parse).
std::vector<OptionSpec> instrumentOptions(visa::VisaOptions& visa, std::string& dataDir);

// A length of time as "2h30m", "90s", "45m", "1h" or "1h15m30s": whole numbers, each followed by
// h, m or s, those units in this order and each at most once. Milliseconds; nothing for any other
// text (a bare number, a zero length, an unknown unit, more than a year).
std::optional<std::int64_t> parseDurationMs(std::string_view text);

}  // namespace kalivor
