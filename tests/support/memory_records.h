// SPDX-License-Identifier: MIT
#pragma once
// Run records kept in memory, with failures on demand, for run controller tests.
#include <map>
#include <vector>

#include "acquisition/run_records.h"

namespace kalivor::testing {

struct MemoryRow {
  std::string num, time;
  std::array<std::string, kMaxChannels> channels;
};

class MemoryRecords final : public RunRecords {
 public:
  std::map<std::string, std::vector<MemoryRow>> files;  // by record name
  std::array<std::string, kSlotTableSize> nameOfSlot{};
  std::array<bool, kSlotTableSize> open{};
  bool refuseCreate = false;     // the file never appears
  std::string createError;       // when set, creating a record not yet there fails with it
  int failAppendAfter = -1;      // appends that work before one fails
  int appends = 0;
  std::vector<std::string> log;  // "create 0 Record1", "open 0", "close 0", ...

  std::string CreateRunDatabase(int slot, const std::string& name) override {
    nameOfSlot[static_cast<std::size_t>(slot)] = name;
    log.push_back("create " + std::to_string(slot) + " " + name);
    if (!createError.empty() && files.count(name) == 0) return createError;
    if (!refuseCreate) files[name];
    return {};
  }
  bool exists(int slot) const override { return files.count(nameOfSlot[static_cast<std::size_t>(slot)]) > 0; }
  std::string OpenRunDatabase(int slot) override {
    log.push_back("open " + std::to_string(slot));
    open[static_cast<std::size_t>(slot)] = true;
    return {};
  }
  double RowBase(int slot) const override {
    auto it = files.find(nameOfSlot[static_cast<std::size_t>(slot)]);
    return it == files.end() ? 0 : static_cast<double>(rowBase.count(slot) ? rowBase.at(slot) : 0);
  }
  std::string AppendReadingRow(int slot, const std::string& num, const std::string& time,
                               const std::array<std::string, kMaxChannels>& channels) override {
    if (failAppendAfter >= 0 && appends >= failAppendAfter) return "Record " + nameOfSlot[static_cast<std::size_t>(slot)] + ": disk full";
    ++appends;
    files[nameOfSlot[static_cast<std::size_t>(slot)]].push_back({num, time, channels});
    return {};
  }
  void CloseRunDatabase(int slot) override {
    log.push_back("close " + std::to_string(slot));
    open[static_cast<std::size_t>(slot)] = false;
  }
  std::map<int, double> rowBase;
};

}  // namespace kalivor::testing
