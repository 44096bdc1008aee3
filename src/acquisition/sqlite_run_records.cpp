// SPDX-License-Identifier: MIT
#include "acquisition/sqlite_run_records.h"

#include <algorithm>

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
  if (!validSlot(slot)) return;
  open_[static_cast<std::size_t>(slot)].CloseRunDatabase();
  openAlarm_[static_cast<std::size_t>(slot)].fill(0);
}

std::vector<std::string> SqliteRunRecords::describedSerials(int slot) const {
  std::vector<std::string> serials;
  if (!validSlot(slot)) return serials;
  store::RecordMeta meta;
  // A description that cannot be read is no reason to refuse the record: nothing is said then.
  if (!store::readRecordMeta(DatabasePath[static_cast<std::size_t>(slot)], meta).ok()) return serials;
  for (const store::RunRow& r : meta.runs) {
    if (std::find(serials.begin(), serials.end(), r.info.serial) == serials.end()) {
      serials.push_back(r.info.serial);
    }
  }
  return serials;
}

std::string SqliteRunRecords::describeRun(int slot, const store::RunInfo& run,
                                          const std::vector<store::ChannelInfo>& channels) {
  if (!validSlot(slot)) return "No such instrument slot";
  openAlarm_[static_cast<std::size_t>(slot)].fill(0);
  return open_[static_cast<std::size_t>(slot)].BeginRunRecord(run, channels).error;
}

std::string SqliteRunRecords::raiseAlarm(int slot, int channel, std::int64_t num,
                                         const std::string& time, double value,
                                         store::LimitKind kind, double limit) {
  if (!validSlot(slot) || channel < 1 || channel > kMaxChannels) return "No such channel";
  std::int64_t id = 0;
  const store::StoreStatus st =
      open_[static_cast<std::size_t>(slot)].RaiseAlarm(channel, num, time, value, kind, limit, &id);
  if (st.ok()) openAlarm_[static_cast<std::size_t>(slot)][static_cast<std::size_t>(channel)] = id;
  return st.error;
}

std::string SqliteRunRecords::clearAlarm(int slot, int channel, std::int64_t num,
                                         const std::string& time) {
  if (!validSlot(slot) || channel < 1 || channel > kMaxChannels) return "No such channel";
  std::int64_t& id = openAlarm_[static_cast<std::size_t>(slot)][static_cast<std::size_t>(channel)];
  if (id == 0) return {};  // its raising was never stored
  const store::StoreStatus st = open_[static_cast<std::size_t>(slot)].ClearAlarm(id, num, time);
  id = 0;
  return st.error;
}

std::string SqliteRunRecords::endRun(int slot, const std::string& time) {
  if (!validSlot(slot)) return "No such instrument slot";
  if (!open_[static_cast<std::size_t>(slot)].RunId()) return {};
  return open_[static_cast<std::size_t>(slot)].EndRunRecord(time).error;
}

}  // namespace kalivor
