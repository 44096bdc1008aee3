// SPDX-License-Identifier: MIT
#pragma once
// What a run keeps per instrument and channel beside the readings themselves: how the channel is
// measured (its record description, scaling and alarm band), its statistics since the run
// started, and whether its reading is outside its band. All of it is derived from the applied
// setup and the stored readings; a channel without scaling or limits shows and stores exactly
// what it did before.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "acquisition/live_display.h"
#include "scan/setup_tables.h"
#include "store/record_meta.h"
#include "store/statistics.h"

namespace kalivor {

// The record description of one channel of the applied setup (channel index 0..19).
store::ChannelInfo channelInfoOf(const ChannelSetup& setup, int channelIndex);

// A reading as shown: the text itself, or for a scaled channel M·x + B with its unit ("6.5 bar").
// A scaled reading that is no number (blank, overload, text) is shown as it came.
std::string displayedReading(const store::ChannelInfo& info, const std::string& raw);
// A value for messages and tables: up to 7 significant digits, no exponent below 1e7.
std::string valueText(double v);

// A reading left its band (raised) or came back (cleared).
struct AlarmEvent {
  int slot = 0;
  int channel = 0;  // 1..20
  bool cleared = false;
  std::int64_t num = 0;  // scan number (the record's NUM when the slot logs, else the run's count)
  std::string time;
  double value = 0;      // the (scaled) reading that crossed or came back
  store::LimitKind kind = store::LimitKind::High;
  double limit = 0;
  std::string unit;      // unit label of a scaled channel
  std::int64_t raisedNum = 0;  // cleared: the scan that raised it
};

// "ALARM CH 3 high: 12.5 bar above 10 bar (scan 4)" / "CH 3 back in band: 9.5 bar (scan 7; high
// since scan 4)".
std::string alarmEventText(const AlarmEvent& event);

class ChannelWatch {
 public:
  // At a run's start: the slot's channels as the run measures them; statistics, alarm states and
  // counts start from nothing.
  void begin(int slot, const ChannelRow& row, int channelCount);
  // Forgets the slot (not in this run).
  void clear(int slot);
  // One stored scan of the slot: statistics updated, alarm events returned in channel order.
  std::vector<AlarmEvent> scan(int slot, std::int64_t num, const std::string& time,
                               const std::array<std::string, kChannelTableSize>& readings);

  int channelCount(int slot) const { return state(slot).channels; }
  const store::ChannelInfo& info(int slot, int channelIndex) const;
  const store::ChannelStatistics& statistics(int slot, int channelIndex) const;
  int alarmCount(int slot, int channelIndex) const;
  // The limit the latest reading is beyond, if any.
  std::optional<store::LimitKind> alarmState(int slot, int channelIndex) const;
  // Whether the latest reading of the channel is outside its band.
  bool alarmed(int slot, int channelIndex) const { return alarmState(slot, channelIndex).has_value(); }
  AlarmMark mark(int slot, int channelIndex) const;
  // Any channel of the slot scaled or limited (the run then has something to show beside the raw
  // readings).
  bool usesExtras(int slot) const;
  // Bumped by every scan and begin, so a window can tell whether to refresh.
  std::uint64_t revision() const { return revision_; }

 private:
  struct Channel {
    store::ChannelInfo info;
    store::ChannelStatistics stats;
    int alarms = 0;
    std::optional<store::LimitKind> active;
    std::int64_t raisedNum = 0;
  };
  struct Slot {
    int channels = 0;
    std::array<Channel, kMaxChannels> channel{};
  };
  const Slot& state(int slot) const;
  std::array<Slot, kSlotTableSize> slots_{};
  std::uint64_t revision_ = 0;
};

}  // namespace kalivor
