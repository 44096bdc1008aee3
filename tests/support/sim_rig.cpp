// SPDX-License-Identifier: MIT
#include "support/sim_rig.h"

namespace kalivor::testing {

namespace {
std::unique_ptr<visa::ResourceManager> makeVisa(ManualClock& clock,
                                                std::vector<sim::SimInstrumentConfig> meters,
                                                sim::SimProvider*& provider) {
  auto p = std::make_unique<sim::SimProvider>(clock, std::move(meters));
  provider = p.get();
  std::vector<std::unique_ptr<visa::DeviceProvider>> providers;
  providers.push_back(std::move(p));
  return std::make_unique<visa::ResourceManager>(std::move(providers));
}
}  // namespace

SimRig::SimRig(std::vector<sim::SimInstrumentConfig> meters)
    : visa(makeVisa(clock, std::move(meters), sim)),
      link(*visa, clock, messages),
      run(link, tables, display, records, pump) {
  for (int d = 0; d < kSlotTableSize; ++d) {
    for (auto& ch : tables.channel[static_cast<std::size_t>(d)]) ch.Function = "NONE";
  }
}

void SimRig::selectFirst(int n) {
  link.DiscoverInstruments();
  display.deviceList.clear();
  for (int d = 0; d < n; ++d) {
    const auto s = static_cast<std::size_t>(d);
    link.slots[s].DiscoveredIndex = static_cast<std::int16_t>(d);
    tables.setup[s].ScanerCard = link.identified[s].ScanerCard;
    tables.setup[s].ChannelCount = link.identified[s].ChannelCount;
    display.deviceList.push_back(link.identified[s].Description);
  }
  link.InstrumentCount = static_cast<std::int16_t>(n);
  for (int d = 0; d < n; ++d) {
    run.meter_scan_func(d);
    display.show_data(d, tables, n);
  }
  clearReceived();
}

std::vector<std::string> SimRig::received(std::size_t i) const {
  return sim->instrument(i).receivedSince(i < receivedMark.size() ? receivedMark[i] : 0);
}

void SimRig::clearReceived() {
  receivedMark.assign(sim->instrumentCount(), 0);
  for (std::size_t i = 0; i < sim->instrumentCount(); ++i) receivedMark[i] = sim->instrument(i).receivedCount();
}

}  // namespace kalivor::testing
