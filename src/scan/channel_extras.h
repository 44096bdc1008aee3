// SPDX-License-Identifier: MIT
#pragma once
// The optional per-channel extras of a scan setup: scaling (M*x + B) with a unit label, and low
// and high alarm limits. Both are off by default; these are the rules the scan settings and the
// setup file check them by.
#include <optional>
#include <string>
#include <string_view>

#include "scan/setup_tables.h"

namespace kalivor {

inline constexpr std::size_t kMaxScaleUnitCharacters = 8;

// The extras of one channel as texts, as a dialog or a file holds them. Empty limits are off.
struct ChannelExtrasText {
  bool scaleOn = false;
  std::string gain = "1";
  std::string offset = "0";
  std::string unit;
  std::string low;
  std::string high;
};

ChannelExtrasText extrasText(const ChannelSetup& c);

// Checks and takes the texts into `into` (nothing is changed on failure). Returns the message
// for the user on failure: which value is wrong and why.
std::optional<std::string> takeExtras(const ChannelExtrasText& text, ChannelSetup& into);

// True when the channel uses any extra (so a setup file gets the new sections).
bool usesScaling(const ChannelSetup& c);
bool usesAlarms(const ChannelSetup& c);
// Copies the extras between the working copy and the applied setup.
void copyExtras(const ChannelSetup& from, ChannelSetup& to);

// A unit label: at most 8 characters (UTF-8), no control characters.
bool validScaleUnit(std::string_view unit);

}  // namespace kalivor
