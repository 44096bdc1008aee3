// SPDX-License-Identifier: MIT
#include "acquisition/fetch_parser.h"

#include "common/text.h"

namespace kalivor {
namespace {

bool isPadding(char c) { return c == ' ' || c == '\r' || c == '\n' || c == '\0' || c == '\t'; }

std::string_view trimPadding(std::string_view s) {
  while (!s.empty() && isPadding(s.front())) s.remove_prefix(1);
  while (!s.empty() && isPadding(s.back())) s.remove_suffix(1);
  return s;
}

}  // namespace

FetchParser::FetchParser(std::vector<int> activeChannels, int channelCount,
                         std::optional<double> scanCount, ReadingRowTexts& readings,
                         std::function<void(std::size_t)> onScan)
    : active_(std::move(activeChannels)),
      channelCount_(channelCount),
      scanCount_(scanCount),
      readings_(readings),
      onScan_(std::move(onScan)) {}

void FetchParser::startSweep() {
  for (int c = 0; c < channelCount_ && c < kChannelTableSize; ++c) readings_[static_cast<std::size_t>(c)].assign(1, ' ');
}

void FetchParser::completeSweep() {
  const std::size_t sweep = sweeps_++;
  position_ = 0;
  takenInSweep_ = 0;
  if (onScan_) onScan_(sweep);
}

void FetchParser::takeValue(std::string_view raw) {
  if (active_.empty()) return;
  if (position_ == 0) startSweep();
  const std::string_view value = trimPadding(raw);
  if (!value.empty()) {
    readings_[static_cast<std::size_t>(active_[position_])] = std::string(value);
    ++taken_;
    ++takenInSweep_;
  }
  ++position_;
  if (position_ == active_.size()) completeSweep();
}

void FetchParser::feed(std::string_view chunk, bool more) {
  std::size_t start = 0;
  for (std::size_t i = 0; i < chunk.size(); ++i) {
    if (chunk[i] != ',') continue;
    if (carry_.empty()) {
      takeValue(chunk.substr(start, i - start));
    } else {
      carry_.append(chunk.substr(start, i - start));
      takeValue(carry_);
      carry_.clear();
    }
    start = i + 1;
  }
  carry_.append(chunk.substr(start));
  if (more) return;
  // End of the answer: the last value carries the terminator; a bare terminator is no value.
  if (!trimPadding(carry_).empty()) takeValue(carry_);
  carry_.clear();
  // An answer may end inside a sweep (a count that is not a whole number of sweeps, a meter that
  // sent fewer values): what was fetched is stored as a scan of its own, never dropped.
  if (position_ > 0 && takenInSweep_ > 0) completeSweep();
}

}  // namespace kalivor
