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

#include "acquisition/run_records.h"
#include "sim/sim_config.h"

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

}  // namespace kalivor::bench
