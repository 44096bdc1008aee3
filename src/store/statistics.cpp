// SPDX-License-Identifier: MIT
#include "store/statistics.h"

#include <cmath>

#include "common/numbers.h"

namespace kalivor::store {

ReadingKind classifyReading(std::string_view text, double& value) {
  value = 0;
  if (text.find_first_not_of(' ') == std::string_view::npos) return ReadingKind::Blank;
  const std::optional<double> v = strictNumber(text);
  if (!v) return ReadingKind::NotANumber;
  // Meters send exactly 9.9E+37; anything that large is no measured value either.
  if (std::fabs(*v) >= kOverloadValue || !std::isfinite(*v)) return ReadingKind::Overload;
  value = *v;
  return ReadingKind::Number;
}

void ChannelStatistics::addReading(std::string_view text, std::string_view time,
                                   const ChannelInfo* scaling) {
  double v = 0;
  switch (classifyReading(text, v)) {
    case ReadingKind::Blank: ++blanks_; return;
    case ReadingKind::Overload: ++overloads_; return;
    case ReadingKind::NotANumber: ++notNumbers_; return;
    case ReadingKind::Number: break;
  }
  addValue(scaling != nullptr ? scaling->scale(v) : v, time);
}

void ChannelStatistics::addValue(double value, std::string_view time) {
  ++count_;
  last_ = value;
  if (count_ == 1 || value < min_) {
    min_ = value;
    minTime_ = time;
  }
  if (count_ == 1 || value > max_) {
    max_ = value;
    maxTime_ = time;
  }
  const double delta = value - mean_;
  mean_ += delta / static_cast<double>(count_);
  m2_ += delta * (value - mean_);
}

double ChannelStatistics::standardDeviation() const {
  if (count_ < 2) return 0;
  return std::sqrt(m2_ / static_cast<double>(count_ - 1));
}

std::array<std::string, 11> statisticsTexts(const ChannelStatistics& s) {
  const bool numbers = s.count() > 0;
  auto value = [&](double v) { return numbers ? numberToText(v) : std::string("-"); };
  return {std::to_string(s.count()), value(s.last()), value(s.min()), value(s.max()),
          value(s.mean()), value(s.standardDeviation()), numbers ? s.minTime() : "-",
          numbers ? s.maxTime() : "-", std::to_string(s.blanks()), std::to_string(s.overloads()),
          std::to_string(s.notNumbers())};
}

StoreStatus computeRecordStatistics(const std::filesystem::path& recordFile,
                                    const ScanSelection& selection, RecordStatistics& out) {
  out = RecordStatistics{};
  ScanCursor cursor;
  if (StoreStatus st = cursor.open(recordFile, selection); !st.ok()) return st;
  while (cursor.next()) {
    if (out.scans++ == 0) {
      out.firstNum = cursor.num();
      out.firstTime = cursor.time();
    }
    out.lastNum = cursor.num();
    const std::string_view time = cursor.time();
    for (int c = 1; c <= kRecordChannels; ++c) {
      const auto i = static_cast<std::size_t>(c - 1);
      const ChannelInfo* info = cursor.channelInfo(c);
      const ChannelInfo* scaling = info != nullptr && info->scaled() ? info : nullptr;
      if (scaling != nullptr) {
        out.scaled[i] = true;
        out.units[i] = scaling->unitLabel;
      }
      out.channels[i].addReading(cursor.channel(c), time, scaling);
    }
    if (out.scans > 0) out.lastTime = time;
  }
  return cursor.status();
}

}  // namespace kalivor::store
