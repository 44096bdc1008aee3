// SPDX-License-Identifier: MIT
#pragma once
// The run's records as SQLite files <dataFolder>/db/<name>.mdb.
#include <array>
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

  // DatabasePath of each slot, set by CreateRunDatabase.
  std::array<std::filesystem::path, kSlotTableSize> DatabasePath{};

 private:
  std::filesystem::path dataFolder_;
  std::array<store::RunDatabase, kSlotTableSize> open_{};
};

}  // namespace kalivor
