// SPDX-License-Identifier: MIT
#include "acquisition/channel_watch.h"

#include <cmath>
#include <cstdio>

#include "common/text.h"
#include "scan/setup_model.h"

namespace kalivor {

store::ChannelInfo channelInfoOf(const ChannelSetup& setup, int channelIndex) {
  store::ChannelInfo info;
  info.channel = channelIndex + 1;
  info.function = setup.Function;
  if (isTemperatureFunction(setup.Function) || setup.Function == "TCOUPL") {
    info.sensorType = setup.TEMP_TCO;
  }
  if (setup.Function == "DCI" || setup.Function == "ACI") {
    info.shuntOhms = setup.Ohm;
    info.offsetCurrent = setup.Current;
  }
  if (setup.ScaleOn != 0) {
    info.scaleM = setup.ScaleGain;
    info.scaleB = setup.ScaleOffset;
    info.unitLabel = setup.ScaleUnit;
  }
  info.alarmLow = setup.AlarmLow;
  info.alarmHigh = setup.AlarmHigh;
  return info;
}

std::string valueText(double v) {
  char buf[40];
  if (v == 0) return "0";  // no "-0"
  const double a = std::fabs(v);
  if (a >= 1e-4 && a < 1e7) {
    std::snprintf(buf, sizeof buf, "%.7g", v);
  } else {
    std::snprintf(buf, sizeof buf, "%.6E", v);
  }
  return buf;
}

std::string displayedReading(const store::ChannelInfo& info, const std::string& raw) {
  if (!info.scaled()) return raw;
  double v = 0;
  if (store::classifyReading(raw, v) != store::ReadingKind::Number) return raw;
  std::string text = valueText(info.scale(v));
  if (!info.unitLabel.empty()) text += " " + info.unitLabel;
  return text;
}

std::string alarmEventText(const AlarmEvent& e) {
  const std::string unit = e.unit.empty() ? std::string() : " " + e.unit;
  const std::string ch = "CH " + std::to_string(e.channel);
  if (e.cleared) {
    return ch + " back in band: " + valueText(e.value) + unit + " (scan " + std::to_string(e.num) +
           "; " + store::limitKindText(e.kind) + " since scan " + std::to_string(e.raisedNum) + ")";
  }
  const bool high = e.kind == store::LimitKind::High;
  return "ALARM " + ch + " " + store::limitKindText(e.kind) + ": " + valueText(e.value) + unit +
         (high ? " above " : " below ") + valueText(e.limit) + unit + " (scan " +
         std::to_string(e.num) + ")";
}

namespace {
const store::ChannelStatistics kNoStatistics{};
const store::ChannelInfo kNoInfo{};
bool validSlot(int slot) { return slot >= 0 && slot < kSlotTableSize; }
bool validChannel(int c) { return c >= 0 && c < kMaxChannels; }
}  // namespace

const ChannelWatch::Slot& ChannelWatch::state(int slot) const {
  static const Slot none{};
  return validSlot(slot) ? slots_[static_cast<std::size_t>(slot)] : none;
}

void ChannelWatch::begin(int slot, const ChannelRow& row, int channelCount) {
  if (!validSlot(slot)) return;
  Slot& s = slots_[static_cast<std::size_t>(slot)];
  s = Slot{};
  s.channels = std::clamp(channelCount, 0, kMaxChannels);
  for (int c = 0; c < s.channels; ++c) {
    s.channel[static_cast<std::size_t>(c)].info = channelInfoOf(row[static_cast<std::size_t>(c)], c);
  }
  ++revision_;
}

void ChannelWatch::clear(int slot) {
  if (!validSlot(slot)) return;
  slots_[static_cast<std::size_t>(slot)] = Slot{};
  ++revision_;
}

std::vector<AlarmEvent> ChannelWatch::scan(int slot, std::int64_t num, const std::string& time,
                                           const std::array<std::string, kChannelTableSize>& readings) {
  std::vector<AlarmEvent> events;
  if (!validSlot(slot)) return events;
  Slot& s = slots_[static_cast<std::size_t>(slot)];
  ++revision_;
  for (int c = 0; c < s.channels; ++c) {
    Channel& ch = s.channel[static_cast<std::size_t>(c)];
    if (ch.info.function == "NONE") continue;
    const std::string& raw = readings[static_cast<std::size_t>(c)];
    ch.stats.addReading(raw, time, ch.info.scaled() ? &ch.info : nullptr);
    if (!ch.info.alarmLow && !ch.info.alarmHigh) continue;
    double v = 0;
    // A reading that is no number says nothing about the band: the state stays as it was.
    if (store::classifyReading(raw, v) != store::ReadingKind::Number) continue;
    v = ch.info.scale(v);
    std::optional<store::LimitKind> now;
    if (ch.info.alarmHigh && v > *ch.info.alarmHigh) now = store::LimitKind::High;
    if (ch.info.alarmLow && v < *ch.info.alarmLow) now = store::LimitKind::Low;
    if (now == ch.active) continue;
    AlarmEvent e;
    e.slot = slot;
    e.channel = c + 1;
    e.num = num;
    e.time = time;
    e.value = v;
    e.unit = ch.info.scaled() ? ch.info.unitLabel : std::string();
    if (ch.active) {
      // Back in band, or straight across to the other limit: the open alarm ends here.
      e.cleared = true;
      e.kind = *ch.active;
      e.limit = *ch.active == store::LimitKind::High ? *ch.info.alarmHigh : *ch.info.alarmLow;
      e.raisedNum = ch.raisedNum;
      events.push_back(e);
    }
    ch.active = now;
    if (now) {
      e.cleared = false;
      e.kind = *now;
      e.limit = *now == store::LimitKind::High ? *ch.info.alarmHigh : *ch.info.alarmLow;
      e.raisedNum = num;
      ch.raisedNum = num;
      ++ch.alarms;
      events.push_back(e);
    }
  }
  return events;
}

const store::ChannelInfo& ChannelWatch::info(int slot, int channelIndex) const {
  return validChannel(channelIndex) ? state(slot).channel[static_cast<std::size_t>(channelIndex)].info
                                    : kNoInfo;
}

const store::ChannelStatistics& ChannelWatch::statistics(int slot, int channelIndex) const {
  return validChannel(channelIndex) ? state(slot).channel[static_cast<std::size_t>(channelIndex)].stats
                                    : kNoStatistics;
}

int ChannelWatch::alarmCount(int slot, int channelIndex) const {
  return validChannel(channelIndex) ? state(slot).channel[static_cast<std::size_t>(channelIndex)].alarms : 0;
}

std::optional<store::LimitKind> ChannelWatch::alarmState(int slot, int channelIndex) const {
  if (!validChannel(channelIndex)) return std::nullopt;
  return state(slot).channel[static_cast<std::size_t>(channelIndex)].active;
}

AlarmMark ChannelWatch::mark(int slot, int channelIndex) const {
  const auto state = alarmState(slot, channelIndex);
  if (!state) return AlarmMark::None;
  return *state == store::LimitKind::High ? AlarmMark::High : AlarmMark::Low;
}

bool ChannelWatch::usesExtras(int slot) const {
  const Slot& s = state(slot);
  for (int c = 0; c < s.channels; ++c) {
    const store::ChannelInfo& i = s.channel[static_cast<std::size_t>(c)].info;
    if (i.scaled() || i.alarmLow || i.alarmHigh) return true;
  }
  return false;
}

}  // namespace kalivor
