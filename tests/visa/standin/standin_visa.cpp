// SPDX-License-Identifier: MIT
// A stand-in for a vendor VISA library: the eight published C functions, answered by our own
// resource manager over the simulated instruments. Tests load it through VendorLibrary exactly as
// the program loads a real one.
//
// The instruments come from the simulation file named by KALIVOR_STANDIN_SIM_FILE (the two
// default instruments without it; none when the file is bad). Time is a manual clock, so a silent
// instrument's time-out costs no real time.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <utility>
#include <vector>

#include "common/clock.h"
#include "sim/sim_config.h"
#include "sim/sim_provider.h"
#include "visa/resource_manager.h"

namespace {

using namespace kalivor;

struct Standin {
  ManualClock clock;
  std::unique_ptr<visa::ResourceManager> rm;
};

Standin& state() {
  static Standin s;
  return s;
}

Standin& standin() {
  Standin& s = state();
  if (!s.rm) {
    std::vector<sim::SimInstrumentConfig> instruments = sim::defaultInstruments();
    if (const char* file = std::getenv("KALIVOR_STANDIN_SIM_FILE"); file != nullptr && *file) {
      sim::SimulationFile loaded = sim::loadSimulationFile(file);
      instruments = std::move(loaded.instruments);
    }
    std::vector<std::unique_ptr<visa::DeviceProvider>> providers;
    try {
      providers.push_back(std::make_unique<sim::SimProvider>(s.clock, std::move(instruments)));
    } catch (const std::exception&) {
      // No instruments then; the search finds nothing.
    }
    s.rm = std::make_unique<visa::ResourceManager>(std::move(providers));
  }
  return s;
}

// Nothing may unwind into the C caller.
template <typename F>
int guarded(F&& f) {
  try {
    return f(*standin().rm);
  } catch (...) {
    return visa::VI_ERROR_SYSTEM_ERROR;
  }
}

}  // namespace

#define STANDIN_EXPORT extern "C" __attribute__((visibility("default")))

STANDIN_EXPORT int viOpenDefaultRM(unsigned int* rm) {
  return guarded([&](visa::ResourceManager& m) { return m.viOpenDefaultRM(rm); });
}

STANDIN_EXPORT int viFindRsrc(unsigned int rm, const char* expr, unsigned int* list,
                              unsigned int* count, char* desc) {
  return guarded([&](visa::ResourceManager& m) { return m.viFindRsrc(rm, expr, list, count, desc); });
}

STANDIN_EXPORT int viFindNext(unsigned int list, char* desc) {
  return guarded([&](visa::ResourceManager& m) { return m.viFindNext(list, desc); });
}

STANDIN_EXPORT int viOpen(unsigned int rm, const char* name, unsigned int mode,
                          unsigned int openTimeoutMs, unsigned int* session) {
  return guarded(
      [&](visa::ResourceManager& m) { return m.viOpen(rm, name, mode, openTimeoutMs, session); });
}

STANDIN_EXPORT int viSetAttribute(unsigned int object, unsigned int attribute, std::uint64_t value) {
  return guarded([&](visa::ResourceManager& m) { return m.viSetAttribute(object, attribute, value); });
}

STANDIN_EXPORT int viWrite(unsigned int session, const unsigned char* buf, unsigned int count,
                           unsigned int* written) {
  return guarded([&](visa::ResourceManager& m) { return m.viWrite(session, buf, count, written); });
}

STANDIN_EXPORT int viRead(unsigned int session, unsigned char* buf, unsigned int count,
                          unsigned int* got) {
  return guarded([&](visa::ResourceManager& m) { return m.viRead(session, buf, count, got); });
}

STANDIN_EXPORT int viClose(unsigned int object) {
  return guarded([&](visa::ResourceManager& m) { return m.viClose(object); });
}

// For tests: forget every handle and instrument and read KALIVOR_STANDIN_SIM_FILE again.
STANDIN_EXPORT void kalivor_standin_reset() { state().rm.reset(); }
