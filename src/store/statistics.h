// SPDX-License-Identifier: MIT
#pragma once
// Channel statistics: count, last, minimum, maximum, mean and standard deviation of the readings
// that are numbers (Welford's running update, stable over millions of readings), with the times
// of the minimum and maximum. Blank readings, texts that are no number and the meters' overload
// value are counted apart and never enter the figures. Used live by a run (one accumulator per
// channel) and for a stored record or a range of its scans.
#include <array>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "store/record_meta.h"
#include "store/record_scan.h"
#include "store/store_types.h"

namespace kalivor::store {

// What meters send for a reading beyond the range: 9.9E+37 (either sign).
inline constexpr double kOverloadValue = 9.9e37;

enum class ReadingKind { Number, Blank, Overload, NotANumber };
// Blank: empty or blanks only (" " is "no reading"). Number: one decimal number, into `value`.
ReadingKind classifyReading(std::string_view text, double& value);

class ChannelStatistics {
 public:
  // A reading as stored; with `scaling` (a CHANNELS row with M set) a number becomes M·x + B.
  void addReading(std::string_view text, std::string_view time,
                  const ChannelInfo* scaling = nullptr);
  void addValue(double value, std::string_view time);

  std::int64_t count() const { return count_; }  // readings that are numbers
  std::int64_t blanks() const { return blanks_; }
  std::int64_t overloads() const { return overloads_; }
  std::int64_t notNumbers() const { return notNumbers_; }
  bool any() const { return count_ + overloads_ + notNumbers_ > 0; }
  // Meaningful once count() > 0.
  double last() const { return last_; }
  double min() const { return min_; }
  double max() const { return max_; }
  double mean() const { return mean_; }
  // Sample standard deviation (n − 1); 0 for a single reading.
  double standardDeviation() const;
  const std::string& minTime() const { return minTime_; }  // first time the minimum was read
  const std::string& maxTime() const { return maxTime_; }

 private:
  std::int64_t count_ = 0, blanks_ = 0, overloads_ = 0, notNumbers_ = 0;
  double last_ = 0, min_ = 0, max_ = 0, mean_ = 0, m2_ = 0;
  std::string minTime_, maxTime_;
};

// Column captions of a channel's figures and the figures as texts in that order; "-" for the
// figures of a channel that had no number.
inline constexpr std::array<const char*, 11> kStatisticsCaptions = {
    "Count", "Last", "Min", "Max", "Mean", "Std Dev", "Min Time", "Max Time", "Blank", "Overload",
    "Text"};
std::array<std::string, 11> statisticsTexts(const ChannelStatistics& s);

struct RecordStatistics {
  std::int64_t scans = 0;
  std::int64_t firstNum = 0, lastNum = 0;
  std::string firstTime, lastTime;
  std::array<ChannelStatistics, kRecordChannels> channels;  // CH1..CH20
  std::array<std::string, kRecordChannels> units;           // label of a scaled channel
  std::array<bool, kRecordChannels> scaled{};               // any of its readings was scaled
};

// Statistics of the selected scans of a record (all when `selection` is empty), scaled where the
// record's description says the run scaled the channel. The record is only read.
StoreStatus computeRecordStatistics(const std::filesystem::path& recordFile,
                                    const ScanSelection& selection, RecordStatistics& out);

}  // namespace kalivor::store
