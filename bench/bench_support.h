// SPDX-License-Identifier: MIT
#pragma once
// What the engine benchmarks share: records that keep nothing, a scratch folder, process CPU time.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <time.h>

#include <array>
#include <filesystem>
#include <string>
#include <vector>

#include "acquisition/live_display.h"
#include "acquisition/run_controller.h"
#include "acquisition/run_records.h"
#include "acquisition/sqlite_run_records.h"
#include "app/selection.h"
#include "common/clock.h"
#include "common/event_pump.h"
#include "common/messages.h"
#include "instrument/instrument_link.h"
#include "sim/sim_config.h"
#include "sim/sim_provider.h"
#include "visa/resource_manager.h"

namespace kalivor::bench {

// n simulated meters with a 20-channel card, serials <prefix>1, <prefix>2, ...
inline std::vector<sim::SimInstrumentConfig> twentyChannelMeters(int n, const std::string& prefix) {
  std::vector<sim::SimInstrumentConfig> meters;
  for (int i = 1; i <= n; ++i) {
    sim::SimInstrumentConfig m;
    const std::string serial = prefix + std::to_string(i);
    m.resource = "USB0::0x0000::0x0001::" + serial + "::INSTR";
    m.identity = "SIMULATED,M100," + serial + ",1.0";
    m.card = "2";
    m.serial = serial;
    m.seed = static_cast<std::uint32_t>(i);
    meters.push_back(m);
  }
  return meters;
}

// Records that accept every scan and keep none: the engine without the disk.
class NullRecords final : public RunRecords {
 public:
  std::string CreateRunDatabase(int, const std::string&) override { return {}; }
  bool exists(int) const override { return true; }
  std::string OpenRunDatabase(int) override { return {}; }
  double RowBase(int) const override { return 0; }
  std::string AppendReadingRow(int, const std::string& num, const std::string&,
                               const std::array<std::string, kMaxChannels>& channels) override {
    benchmark::DoNotOptimize(num.data());
    benchmark::DoNotOptimize(channels.data());
    return {};
  }
  void CloseRunDatabase(int) override {}
};

class TempFolder {
 public:
  TempFolder() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "kalivor-bench-XXXXXX").string();
    root_ = ::mkdtemp(pattern.data());
  }
  ~TempFolder() {
    std::error_code ec;
    std::filesystem::remove_all(root_, ec);
  }
  const std::filesystem::path& root() const { return root_; }

 private:
  std::filesystem::path root_;
};

inline double processCpuSeconds() {
  timespec t{};
  ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

enum class Store { Memory, Sqlite };

// N meters wired as the program wires them, selected and set to scan back to back until Stop.
struct SimRunRig {
  SimRunRig(Clock& c, const std::vector<sim::SimInstrumentConfig>& meters, Store store)
      : clock(c), meterCount(static_cast<int>(meters.size())) {
    const int n = meterCount;
    std::vector<std::unique_ptr<visa::DeviceProvider>> providers;
    providers.push_back(std::make_unique<sim::SimProvider>(clock, meters));
    visa = std::make_unique<visa::ResourceManager>(std::move(providers));
    link = std::make_unique<InstrumentLink>(*visa, clock, messages);
    if (store == Store::Sqlite) {
      sqlite = std::make_unique<SqliteRunRecords>(folder.root());
      records = sqlite.get();
    }
    run = std::make_unique<RunController>(*link, tables, display, *records, pump);
    InstrumentSelection selection(*link, tables, display, *run);
    selection.Find_Button_Click();
    for (int i = 0; i < n; ++i) selection.Check1[static_cast<std::size_t>(i)] = true;
    selection.ok_Button_Click();
    selection.applyToMainWindow();
    for (int d = 0; d < n; ++d) {
      ScanSetup& s = tables.setup[static_cast<std::size_t>(d)];
      s.scanCount_Status = 2;
      s.ScanTime = "0";
      tables.DatabaseName[static_cast<std::size_t>(d)] = "Record" + std::to_string(d + 1);
    }
  }
  bool ready() const { return link->InstrumentCount == meterCount && display.ActiveChannelCount[0] == 20; }
  double scans() const {
    double total = 0;
    for (int d = 0; d < meterCount; ++d) total += tables.ScansDone[static_cast<std::size_t>(d)];
    return total;
  }

  Clock& clock;
  int meterCount;
  TempFolder folder;
  std::unique_ptr<visa::ResourceManager> visa;
  RecordingMessages messages;
  std::unique_ptr<InstrumentLink> link;
  ScanTables tables;
  LiveDisplay display;
  NullRecords nullRecords;
  std::unique_ptr<SqliteRunRecords> sqlite;
  RunRecords* records = &nullRecords;
  CallbackEventPump pump;
  std::unique_ptr<RunController> run;
};

}  // namespace kalivor::bench
