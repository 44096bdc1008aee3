// SPDX-License-Identifier: MIT
// Scans stored per second with N simulated 20-channel meters scanning back to back ("By Pressing
// Stop Button", no interval), as a ratio to N times one meter's rate measured in the same run.
// A ratio near 1 means the meters are served side by side; one after the other would give 1/N.
//
// BM_Throughput runs as the program does: the system clock, one port thread per meter doing the
// blocking exchanges (each query's 50 ms pause, the readings' own time) and the scheduler on this
// thread converting and storing. The meters take 1 ms a reading, so a scan is about 20 ms of
// measuring plus two 50 ms query pauses. Each figure is a few seconds of wall time after a
// warm-up; the one-meter baseline is measured once per store and shared by N = 1, 2, 4 (N = 1
// against it shows the noise of the method).
//
// BM_ThroughputSimulated is the same on the manual clock (inline port work, simulated time): the
// ratio the engine's interleaving gives without any thread or timing noise, and the real CPU
// spent per stored scan.
//
// Counters:
//   scans_per_s     scans stored per second over all meters
//   one_meter_per_s the baseline: one meter alone
//   ratio           scans_per_s / (N * one_meter_per_s); target at least 0.9
//   cpu_us_per_scan (simulated only) process CPU per stored scan
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <time.h>

#include <chrono>
#include <filesystem>
#include <map>
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

constexpr std::uint32_t kReadingMs = 1;
constexpr double kWarmUpSeconds = 1.0;
constexpr double kMeasureSeconds = 4.0;
constexpr double kSimulatedSeconds = 600.0;

std::vector<sim::SimInstrumentConfig> meters(int n) {
  auto out = twentyChannelMeters(n, "SIMT00");
  for (auto& m : out) m.readingMs = kReadingMs;
  return out;
}

double wallSeconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

using Rig = SimRunRig;

// Scans per second of n meters, on the system clock, after a warm-up; 0 when the run failed.
double realRate(int n, Store store) {
  SystemClock clock;
  Rig rig(clock, meters(n), store);
  if (!rig.ready()) return 0;
  rig.run->StartReading_Click();
  const double start = wallSeconds();
  double measureFrom = 0;
  double scansFrom = 0;
  double rate = 0;
  rig.run->driveUntil([&] {
    const double now = wallSeconds();
    if (measureFrom == 0) {
      if (now - start < kWarmUpSeconds) return false;
      measureFrom = now;
      scansFrom = rig.scans();
      return false;
    }
    if (now - measureFrom < kMeasureSeconds) return false;
    rate = (rig.scans() - scansFrom) / (now - measureFrom);
    return true;
  });
  rig.run->StopReading_Click();
  rig.run->driveUntilEnded();
  return rig.messages.count("End of Job.") == rig.messages.shown.size() ? rate : 0;
}

// The same on the manual clock: scans per simulated second over kSimulatedSeconds, and the
// process CPU per stored scan.
struct Simulated {
  double rate = 0;
  double cpuPerScan = 0;
};
Simulated simulatedRate(int n, Store store) {
  ManualClock clock;
  Rig rig(clock, meters(n), store);
  if (!rig.ready()) return {};
  const LocalMs start = clock.now();
  const double cpuStart = processCpuSeconds();
  rig.run->StartReading_Click();
  rig.run->driveUntil([&] {
    return static_cast<double>(clock.now() - start) >= kSimulatedSeconds * 1000.0;
  });
  Simulated out;
  const double scans = rig.scans();
  out.rate = scans / (static_cast<double>(clock.now() - start) / 1000.0);
  out.cpuPerScan = scans > 0 ? (processCpuSeconds() - cpuStart) / scans : 0;
  rig.run->StopReading_Click();
  rig.run->driveUntilEnded();
  return out;
}

void report(benchmark::State& state, int n, double rate, double oneMeter) {
  if (rate <= 0 || oneMeter <= 0) {
    state.SkipWithError("the simulated run did not get going");
    return;
  }
  state.counters["scans_per_s"] = rate;
  state.counters["one_meter_per_s"] = oneMeter;
  state.counters["ratio"] = rate / (n * oneMeter);
}

void BM_Throughput(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const auto store = static_cast<Store>(state.range(1));
  static std::map<Store, double> baseline;
  if (!baseline.count(store)) baseline[store] = realRate(1, store);
  double rate = 0;
  for (auto _ : state) rate = realRate(n, store);
  report(state, n, rate, baseline[store]);
}

void BM_ThroughputSimulated(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const auto store = static_cast<Store>(state.range(1));
  static std::map<Store, double> baseline;
  if (!baseline.count(store)) baseline[store] = simulatedRate(1, store).rate;
  Simulated r;
  for (auto _ : state) r = simulatedRate(n, store);
  report(state, n, r.rate, baseline[store]);
  state.counters["cpu_us_per_scan"] = r.cpuPerScan * 1e6;
}

BENCHMARK(BM_Throughput)
    ->ArgNames({"meters", "sqlite"})
    ->ArgsProduct({{1, 2, 4}, {static_cast<int>(Store::Memory), static_cast<int>(Store::Sqlite)}})
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kSecond);

// Records in memory only: on the manual clock SQLite's syncs would be all the wall time there is.
BENCHMARK(BM_ThroughputSimulated)
    ->ArgNames({"meters", "sqlite"})
    ->ArgsProduct({{1, 2, 4}, {static_cast<int>(Store::Memory)}})
    ->Iterations(1)
    ->MeasureProcessCPUTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
