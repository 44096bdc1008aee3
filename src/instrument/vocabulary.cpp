// SPDX-License-Identifier: MIT
#include "instrument/vocabulary.h"

#include <utility>

#include "common/numbers.h"

namespace kalivor {
namespace {

struct NamePair {
  std::string_view from;
  std::string_view to;
};

// The SCPI words carry their double quotes: that is the form the function query answers with.
constexpr NamePair kDisplayToScpi[] = {
    {"DCV", "\"VOLT\""},       {"ACV", "\"VOLT:AC\""}, {"DCI", "\"VOLT\""},
    {"ACI", "\"VOLT:AC\""},    {"2W", "\"RES\""},      {"4W", "\"FRES\""},
    {"FREQ", "\"FREQ\""},      {"PERIOD", "\"PERIOD\""}, {"NONE", "\"NONE\""},
    {"TCOUPL", "\"TCO\""},     {"TCO", "\"TCO\""},     {"PER", "\"PER\""},
    {"4W,TEMP", "\"TEMP\""},   {"TEMP", "\"TEMP\""},
};

constexpr NamePair kScpiToDisplay[] = {
    {"\"VOLT:AC\"", "ACV"}, {"\"VOLT\"", "DCV"}, {"\"FRES\"", "4W"},
    {"\"RES\"", "2W"},      {"\"FREQ\"", "FREQ"}, {"\"PER\"", "PER"},
    {"\"TCO\"", "TCOUPL"},  {"\"TEMP\"", "TEMP"}, {"\"NONE\"", "NONE"},
};

double prefixFactor(char last) {
  switch (last) {
    case 'K':
    case 'k': return 1e3;
    case 'M': return 1e6;
    case 'G': return 1e9;
    case 'T': return 1e12;
    case 'm': return 1e-3;
    case 'u': return 1e-6;
    case 'n': return 1e-9;
    case 'p': return 1e-12;
    default: return 1.0;
  }
}

}  // namespace

std::string TranslateFunctionName(std::string_view name) {
  for (const auto& row : kDisplayToScpi) {
    if (row.from == name) return std::string(row.to);
  }
  for (const auto& row : kScpiToDisplay) {
    if (row.from == name) return std::string(row.to);
  }
  return std::string(name);
}

double ParsePrefixedNumber(std::string_view text) {
  const double value = leadingNumber(text);
  if (text.empty()) return value;
  return value * prefixFactor(text.back());
}

}  // namespace kalivor
