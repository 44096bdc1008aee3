// SPDX-License-Identifier: MIT
#pragma once
// The run's records as SQLite files <dataFolder>/db/<name>.mdb.
#include <array>
#include <cstdint>
#include <filesystem>

#include "acquisition/run_records.h"
#include "store/run_database.h"

namespace kalivor {

class SqliteRunRecords final : public RunRecords {
 public:
  explicit SqliteRunRecords(std::filesystem::path dataFolder) : dataFolder_(std::move(dataFolder)) {}

  void setDataFolder(std::filesystem::path folder) { dataFolder_ = std::move(folder); }
  const std::filesystem::path& dataFolder() const { return dataFolder_; }

  std::string CreateRunDatabase(int slot, const std::string& name) override;
  bool exists(int slot) const override;
  std::string OpenRunDatabase(int slot) override;
  double RowBase(int slot) const override;
  std::string AppendReadingRow(int slot, const std::string& num, const std::string& time,
                               const std::array<std::string, kMaxChannels>& channels) override;
  void CloseRunDatabase(int slot) override;
  std::vector<std::string> describedSerials(int slot) const override;
  std::string describeRun(int slot, const store::RunInfo& run,
                          const std::vector<store::ChannelInfo>& channels) override;
  std::string raiseAlarm(int slot, int channel, std::int64_t num, const std::string& time,
                         double value, store::LimitKind kind, double limit) override;
  std::string clearAlarm(int slot, int channel, std::int64_t num, const std::string& time) override;
  std::string endRun(int slot, const std::string& time) override;

  // DatabasePath of each slot, set by CreateRunDatabase.
  std::array<std::filesystem::path, kSlotTableSize> DatabasePath{};

 private:
  std::filesystem::path dataFolder_;
  std::array<store::RunDatabase, kSlotTableSize> open_{};
  // Open ALARMS row of each slot and channel (1..20), 0 for none.
  std::array<std::array<std::int64_t, kMaxChannels + 1>, kSlotTableSize> openAlarm_{};
};

}  // namespace kalivor
