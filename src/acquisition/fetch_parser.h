// SPDX-License-Identifier: MIT
#pragma once
// Cuts the answer of "fetch?" into scans: values in answer order fill the slot's active channels
// (channels whose function is not NONE) in channel order, one sweep over them per scan. The
// answer may arrive in several 1024-byte reads; a value cut by a read boundary is joined again.
#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "instrument/instrument_link.h"
#include "scan/setup_tables.h"

namespace kalivor {

using ReadingRowTexts = std::array<std::string, kChannelTableSize>;

class FetchParser {
 public:
  // onScan(sweep) runs for every complete scan, with the readings already in `readings`; sweep
  // counts the scans of this answer from 0.
  FetchParser(std::vector<int> activeChannels, int channelCount, std::optional<double> scanCount,
              ReadingRowTexts& readings, std::function<void(std::size_t sweep)> onScan);

  // One read of the answer; `more` when the read filled the buffer and the answer goes on.
  void feed(std::string_view chunk, bool more);

  std::int64_t valuesTaken() const { return taken_; }
  std::size_t scansCompleted() const { return sweeps_; }

 private:
  void takeValue(std::string_view raw);
  void startSweep();
  void completeSweep();

  std::vector<int> active_;
  int channelCount_;
  std::optional<double> scanCount_;
  ReadingRowTexts& readings_;
  std::function<void(std::size_t)> onScan_;
  std::string carry_;        // unfinished value at the end of the previous read
  std::size_t position_ = 0;  // next active channel to fill
  std::int64_t taken_ = 0;    // non-empty values taken from the whole answer
  std::size_t sweeps_ = 0;
  std::size_t takenInSweep_ = 0;  // values taken in the sweep under way
};

}  // namespace kalivor
