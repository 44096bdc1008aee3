// SPDX-License-Identifier: MIT
// The run engine's own processor time per pass of its loop: four simulated meters with a
// 20-channel card, every channel in use, scanning back to back ("By Pressing Stop Button", no
// interval), so every pass polls all four and about every second pass fetches, cuts, converts,
// shows and stores a scan per meter. On the manual clock the 50 ms pause of each query costs no
// real time; what is measured is what the loop itself spends, set against that pause.
//
// One benchmark iteration is one pass of the real loop (the benchmark's KeepRunning is called at
// each pass boundary from the event pump), timed as process CPU time. The figures include the
// simulated meters' side of each exchange (composing state and fetch answers), so they bound the
// engine's share from above.
//
// Counters (from the process CPU time of the timed passes):
//   us_per_pass     CPU per pass
//   pct_of_50ms     CPU per pass as a share of the one 50 ms query pause (target under 1 %)
//   pct_of_pauses   CPU per pass as a share of all query pauses of that pass (4 polls + fetches)
//   pause_ms_per_pass  those pauses
//   scans_per_pass  scans stored per pass over the four meters
//   us_per_scan     CPU per stored scan
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <time.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "acquisition/live_display.h"
#include "acquisition/run_controller.h"
#include "acquisition/sqlite_run_records.h"
#include "app/selection.h"
#include "common/clock.h"
#include "common/event_pump.h"
#include "common/messages.h"
#include "instrument/instrument_link.h"
#include "sim/sim_config.h"
#include "sim/sim_provider.h"
#include "visa/resource_manager.h"
#include "bench_support.h"

namespace {

using namespace kalivor;
using namespace kalivor::visa;
using namespace kalivor::bench;

constexpr int kMeters = 4;
constexpr double kQueryPauseMs = 50.0;
constexpr std::int64_t kWarmUpPasses = 200;  // start-up done, scan tables past their first rows

std::vector<sim::SimInstrumentConfig> fourMeters() { return twentyChannelMeters(kMeters, "SIMB00"); }

// Counts the state polls on their way to the meters: every pass polls each scanning meter once,
// so four polls make a pass.
class CountingVisa final : public VisaApi {
 public:
  explicit CountingVisa(VisaApi& inner) : inner_(inner) {}
  std::int64_t polls = 0;

  std::string description() const override { return inner_.description(); }
  ViStatus viOpenDefaultRM(ViSession* rm) override { return inner_.viOpenDefaultRM(rm); }
  ViStatus viFindRsrc(ViSession rm, const char* expr, ViFindList* list, ViUInt32* count,
                      char* desc) override {
    return inner_.viFindRsrc(rm, expr, list, count, desc);
  }
  ViStatus viFindNext(ViFindList list, char* desc) override {
    return inner_.viFindNext(list, desc);
  }
  ViStatus viOpen(ViSession rm, const char* name, ViAccessMode mode, ViUInt32 timeout,
                  ViSession* session) override {
    return inner_.viOpen(rm, name, mode, timeout, session);
  }
  ViStatus viSetAttribute(ViObject object, ViAttr attribute, ViAttrState value) override {
    return inner_.viSetAttribute(object, attribute, value);
  }
  ViStatus viWrite(ViSession session, const unsigned char* buf, ViUInt32 count,
                   ViUInt32* written) override {
    static constexpr std::string_view kPoll = "rout:scan:state?\n";
    if (std::string_view(reinterpret_cast<const char*>(buf), count) == kPoll) ++polls;
    return inner_.viWrite(session, buf, count, written);
  }
  ViStatus viRead(ViSession session, unsigned char* buf, ViUInt32 count, ViUInt32* got) override {
    return inner_.viRead(session, buf, count, got);
  }
  ViStatus viClose(ViObject object) override { return inner_.viClose(object); }

 private:
  VisaApi& inner_;
};

enum class Store { Memory, Sqlite };


void BM_EnginePass(benchmark::State& state) {
  const auto store = static_cast<Store>(state.range(0));
  ManualClock clock;
  std::vector<std::unique_ptr<DeviceProvider>> providers;
  providers.push_back(std::make_unique<sim::SimProvider>(clock, fourMeters()));
  ResourceManager rm(std::move(providers));
  CountingVisa visa(rm);
  RecordingMessages messages;
  InstrumentLink link(visa, clock, messages);
  ScanTables tables;
  LiveDisplay display;
  TempFolder folder;
  NullRecords nullRecords;
  SqliteRunRecords sqliteRecords(folder.root());
  RunRecords& records = store == Store::Memory ? static_cast<RunRecords&>(nullRecords)
                                               : static_cast<RunRecords&>(sqliteRecords);
  CallbackEventPump pump;
  RunController run(link, tables, display, records, pump);
  InstrumentSelection selection(link, tables, display, run);

  selection.Find_Button_Click();
  for (int i = 0; i < kMeters; ++i) selection.Check1[static_cast<std::size_t>(i)] = true;
  selection.ok_Button_Click();
  selection.applyToMainWindow();
  if (link.InstrumentCount != kMeters || display.ActiveChannelCount[0] != 20) {
    state.SkipWithError("the simulated meters were not selected as expected");
    return;
  }
  for (int d = 0; d < kMeters; ++d) {
    ScanSetup& s = tables.setup[static_cast<std::size_t>(d)];
    s.scanCount_Status = 2;
    s.ScanTime = "0";
    tables.DatabaseName[static_cast<std::size_t>(d)] = "Record" + std::to_string(d + 1);
  }

  // Pass boundaries: the first yield after the pass's fourth poll.
  std::int64_t lastBoundary = 0;
  std::int64_t passes = 0;
  bool timing = false;
  bool done = false;
  double cpuAtStart = 0;
  double cpuAtEnd = 0;
  double scansAtStart = 0;
  std::int64_t sleptAtStart = 0;
  auto scansStored = [&] {
    double n = 0;
    for (int d = 0; d < kMeters; ++d) n += tables.ScansDone[static_cast<std::size_t>(d)];
    return n;
  };
  pump.set([&](std::int64_t) {
    if (visa.polls - lastBoundary < kMeters) return;
    lastBoundary = visa.polls;
    ++passes;
    if (passes < kWarmUpPasses) return;
    if (!timing) {
      timing = true;
      scansAtStart = scansStored();
      sleptAtStart = clock.sleptMs();
      cpuAtStart = processCpuSeconds();
    }
    if (done) return;
    if (!state.KeepRunning()) {
      cpuAtEnd = processCpuSeconds();
      done = true;
      run.StopReading_Click();
    }
  });
  run.StartReading_Click();
  run.driveUntilEnded();

  if (!messages.texts().empty() && messages.texts().front() != "End of Job.") {
    state.SkipWithError(messages.texts().front().c_str());
    return;
  }
  const double timed = static_cast<double>(state.iterations());
  if (timed == 0) return;
  const double scans = scansStored() - scansAtStart;
  const double cpuPerPass = (cpuAtEnd - cpuAtStart) / timed;
  const double pauseMsPerPass = static_cast<double>(clock.sleptMs() - sleptAtStart) / timed;
  state.counters["us_per_pass"] = cpuPerPass * 1e6;
  state.counters["pct_of_50ms"] = 100.0 * cpuPerPass / (kQueryPauseMs / 1000.0);
  state.counters["pause_ms_per_pass"] = pauseMsPerPass;
  state.counters["pct_of_pauses"] = 100.0 * cpuPerPass / (pauseMsPerPass / 1000.0);
  state.counters["scans_per_pass"] = scans / timed;
  state.counters["us_per_scan"] = scans > 0 ? (cpuAtEnd - cpuAtStart) / scans * 1e6 : 0;
}

BENCHMARK(BM_EnginePass)
    ->ArgName("sqlite")
    ->Arg(static_cast<int>(Store::Memory))
    ->Arg(static_cast<int>(Store::Sqlite))
    ->MeasureProcessCPUTime()
    ->Unit(benchmark::kMicrosecond);

}  // namespace
