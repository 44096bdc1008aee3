// SPDX-License-Identifier: MIT
#pragma once
// Simulated instruments wired up as the program wires them, for tests of selection, set-up and
// runs: manual clock, simulated meters behind our resource manager, the instrument link, the
// setup tables, the live display, in-memory records and a scripted event pump.
#include <memory>

#include "acquisition/live_display.h"
#include "acquisition/run_controller.h"
#include "common/event_pump.h"
#include "instrument/instrument_link.h"
#include "scan/setup_tables.h"
#include "sim/sim_config.h"
#include "sim/sim_instrument.h"
#include "sim/sim_provider.h"
#include "support/memory_records.h"
#include "visa/resource_manager.h"

namespace kalivor::testing {

struct SimRig {
  explicit SimRig(std::vector<sim::SimInstrumentConfig> meters = sim::defaultInstruments());

  // Discovers and puts identified instruments 0..n-1 into slots 0..n-1 (what the connect window's
  // confirmation does), with every channel's function read back from its meter.
  void selectFirst(int n);
  sim::SimInstrument& meter(std::size_t i) { return sim->instrument(i); }
  // Messages written to meter i since the last call of clearReceived().
  std::vector<std::string> received(std::size_t i) const;
  void clearReceived();

  ManualClock clock;
  sim::SimProvider* sim = nullptr;  // owned by visa
  std::unique_ptr<visa::ResourceManager> visa;
  RecordingMessages messages;
  InstrumentLink link;
  ScanTables tables;
  LiveDisplay display;
  MemoryRecords records;
  CallbackEventPump pump;
  RunController run;
  std::vector<std::uint64_t> receivedMark;
};

}  // namespace kalivor::testing
