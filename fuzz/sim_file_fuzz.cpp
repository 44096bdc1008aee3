// SPDX-License-Identifier: MIT
// Any text as a simulation file: the reader either refuses it with a message naming a line or
// gives instruments that can be built, discovered and scanned without surprises.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/clock.h"
#include "common/messages.h"
#include "instrument/instrument_link.h"
#include "sim/sim_config.h"
#include "sim/sim_provider.h"
#include "visa/resource_manager.h"

namespace {

using namespace kalivor;

void check(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "simulation file: %s\n", what);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  sim::SimulationFile file = sim::parseSimulationText(text);
  if (!file.error.empty()) {
    check(file.instruments.empty(), "a refused file gives no instruments");
    check(file.error.rfind("line ", 0) == 0, "a refusal names its line");
    return 0;
  }
  int knownCards = 0;
  for (const auto& c : file.instruments) {
    // Discovery reads the card code from the whole answer, terminator included ("0" + "1").
    const int code = sim::cardCodeOf(std::string(c.card + c.terminator).substr(0, kReplyBufferSize));
    knownCards += code >= 1 && code <= 4;
  }

  ManualClock clock;
  std::unique_ptr<sim::SimProvider> provider;
  try {
    provider = std::make_unique<sim::SimProvider>(clock, file.instruments);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "accepted file refused by the simulator: %s\n", e.what());
    std::abort();
  }
  sim::SimProvider* sim = provider.get();
  std::vector<std::unique_ptr<visa::DeviceProvider>> providers;
  providers.push_back(std::move(provider));
  visa::ResourceManager visa(std::move(providers));
  RecordingMessages messages;
  InstrumentLink link(visa, clock, messages);
  link.DiscoverInstruments();
  check(link.InstrumentCount >= 0 && link.InstrumentCount <= kMaxListed, "at most four listed");
  check(link.InstrumentCount <= knownCards, "only instruments with a known card are listed");

  // One short scan on each listed meter, as a run would do it.
  for (int i = 0; i < link.InstrumentCount; ++i) {
    link.slots[static_cast<std::size_t>(i)].DiscoveredIndex = static_cast<std::int16_t>(i);
    link.SendCommand("rout:scan:count 2", i);
    link.SendCommand("rout:scan:SCAN", i);
    clock.advance(5000);
    link.SendCommand("rout:scan:state?", i);
    link.SendCommand("fetch?", i);
    for (int reads = 0; reads < 8 && link.LastVisaStatus == visa::VI_SUCCESS_MAX_CNT; ++reads) {
      link.ReadReply(i);
    }
    check(link.ReplyBuffer.size() == kReplyBufferSize, "the reply buffer keeps its size");
  }
  link.closeAtShutdown();
  check(sim->instrumentCount() == file.instruments.size(), "one meter per described instrument");
  return 0;
}
