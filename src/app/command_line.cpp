// SPDX-License-Identifier: MIT
#include "app/command_line.h"

#include "common/text.h"

namespace kalivor {

namespace {

bool isOptionWord(const std::string& word) { return startsWith(word, "-") && word != "-"; }

const OptionSpec* find(const std::vector<OptionSpec>& options, const std::string& name) {
  for (const OptionSpec& o : options) {
    if (o.name == name || (!o.alias.empty() && o.alias == name)) return &o;
  }
  return nullptr;
}

std::string needs(const OptionSpec& o) {
  return o.name + " needs " + (o.valueName.empty() ? std::string("a value") : o.valueName);
}

}  // namespace

std::optional<std::string> parseCommandLine(const std::vector<std::string>& args, std::size_t from,
                                            const std::vector<OptionSpec>& options,
                                            std::vector<std::string>& positional) {
  bool optionsEnded = false;
  for (std::size_t i = from; i < args.size(); ++i) {
    const std::string& word = args[i];
    if (optionsEnded || !isOptionWord(word)) {
      positional.push_back(word);
      continue;
    }
    if (word == "--") {
      optionsEnded = true;
      continue;
    }
    // "--opt=value" (long options only; a short one never carries its value this way).
    std::string name = word;
    std::optional<std::string> inlineValue;
    if (startsWith(word, "--")) {
      if (const auto eq = word.find('='); eq != std::string::npos) {
        name = word.substr(0, eq);
        inlineValue = word.substr(eq + 1);
      }
    }
    const OptionSpec* spec = find(options, name);
    if (!spec) return "unknown option: " + name;
    switch (spec->value) {
      case OptionSpec::Value::None:
        if (inlineValue) return spec->name + " takes no value";
        spec->set("");
        break;
      case OptionSpec::Value::Required: {
        std::string value;
        if (inlineValue) {
          value = *inlineValue;
        } else if (i + 1 < args.size()) {
          value = args[++i];
        } else {
          return needs(*spec);
        }
        if (value.empty()) return needs(*spec);
        spec->set(value);
        break;
      }
      case OptionSpec::Value::Optional:
        if (inlineValue) {
          if (inlineValue->empty()) return needs(*spec) + " after '='";
          spec->set(*inlineValue);
        } else if (i + 1 < args.size() && !startsWith(args[i + 1], "-")) {
          spec->set(args[++i]);
        } else {
          spec->set("");
        }
        break;
    }
  }
  return std::nullopt;
}

std::vector<OptionSpec> instrumentOptions(visa::VisaOptions& visa, std::string& dataDir) {
  using V = OptionSpec::Value;
  return {
      {"--simulate", "", V::Optional, "a FILE",
       [&visa](const std::string& v) {
         visa.simulate = true;
         visa.simulationFile = v;
       }},
      {"--visa-library", "", V::Required, "a PATH",
       [&visa](const std::string& v) { visa.visaLibrary = v; }},
      {"--trace", "", V::Required, "a FILE", [&visa](const std::string& v) { visa.traceFile = v; }},
      {"--data-dir", "", V::Required, "a DIR", [&dataDir](const std::string& v) { dataDir = v; }},
  };
}

std::optional<std::int64_t> parseDurationMs(std::string_view text) {
  constexpr std::int64_t kMostMs = 366LL * 24 * 3600 * 1000;
  const std::string_view units = "hms";
  const std::int64_t unitMs[] = {3600 * 1000, 60 * 1000, 1000};
  std::size_t nextUnit = 0;  // units must come in the order h, m, s
  std::int64_t total = 0;
  std::size_t i = 0;
  if (text.empty()) return std::nullopt;
  while (i < text.size()) {
    std::int64_t value = 0;
    const std::size_t digitsFrom = i;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
      value = value * 10 + (text[i] - '0');
      if (value > kMostMs) return std::nullopt;
      ++i;
    }
    if (i == digitsFrom || i == text.size()) return std::nullopt;
    const std::size_t unit = units.find(text[i]);
    if (unit == std::string_view::npos || unit < nextUnit) return std::nullopt;
    total += value * unitMs[unit];
    if (total > kMostMs) return std::nullopt;
    nextUnit = unit + 1;
    ++i;
  }
  if (total <= 0) return std::nullopt;
  return total;
}

}  // namespace kalivor
