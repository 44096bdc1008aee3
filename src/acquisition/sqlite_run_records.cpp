// SPDX-License-Identifier: MIT
#include "acquisition/sqlite_run_records.h"

namespace kalivor {

namespace {
bool validSlot(int slot) { return slot >= 0 && slot < kSlotTableSize; }
}  // namespace

std::string SqliteRunRecords::CreateRunDatabase(int slot, const std::string& name) {
  if (!validSlot(slot)) return "No such instrument slot";
  std::filesystem::path file;
  const store::StoreStatus st = store::CreateRunDatabase(dataFolder_, name, &file);
  DatabasePath[static_cast<std::size_t>(slot)] = file;
  return st.error;
}

bool SqliteRunRecords::exists(int slot) const {
  if (!validSlot(slot)) return false;
  const auto& p = DatabasePath[static_cast<std::size_t>(slot)];
  std::error_code ec;
  return !p.empty() && std::filesystem::is_regular_file(p, ec);
}

std::string SqliteRunRecords::OpenRunDatabase(int slot) {
  if (!validSlot(slot)) return "No such instrument slot";
  return open_[static_cast<std::size_t>(slot)].OpenRunDatabase(DatabasePath[static_cast<std::size_t>(slot)]).error;
}

double SqliteRunRecords::RowBase(int slot) const {
  return validSlot(slot) ? static_cast<double>(open_[static_cast<std::size_t>(slot)].RowBase()) : 0;
}

std::string SqliteRunRecords::AppendReadingRow(int slot, const std::string& num, const std::string& time,
                                               const std::array<std::string, kMaxChannels>& channels) {
  if (!validSlot(slot)) return "No such instrument slot";
  return open_[static_cast<std::size_t>(slot)].AppendReadingRow(num, time, channels).error;
}

void SqliteRunRecords::CloseRunDatabase(int slot) {
  if (validSlot(slot)) open_[static_cast<std::size_t>(slot)].CloseRunDatabase();
}

}  // namespace kalivor
