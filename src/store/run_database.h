// SPDX-License-Identifier: MIT
#pragma once
// The run database of one instrument slot: the record file a run appends its scans to.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "store/record_lock.h"
#include "store/record_meta.h"
#include "store/renumber.h"
#include "store/sqlite_record.h"
#include "store/store_types.h"

namespace kalivor::store {

// How a run's record keeps each appended scan durable; see kRunJournal for the choice.
enum class RunJournal {
  Wal,       // write-ahead log, synchronous=FULL
  Rollback,  // rollback journal (DELETE mode), synchronous=FULL
};

extern const RunJournal kRunJournal;

// Creates <dataFolder>/db/<databaseName>.mdb holding the empty table DATA (NUM, Time, Ch1..Ch20,
// all TEXT), and the db folder when it is missing. An existing entry of that name is never
// touched. "0" creates nothing. `recordFile` (optional) receives the path of the record.
StoreStatus CreateRunDatabase(const std::filesystem::path& dataFolder,
                              std::string_view databaseName,
                              std::filesystem::path* recordFile = nullptr);

namespace detail {
// Steps of a creation, for tests that kill one at each of them.
enum class CreationStep { BuildOpened, TableBuilt, BuildSynced, NameLocked, Published };
// Called at each step when set; null in the program.
extern void (*creationStepHook)(CreationStep step);
}  // namespace detail

class RunDatabase {
 public:
  RunDatabase() = default;
  ~RunDatabase() { CloseRunDatabase(); }
  RunDatabase(RunDatabase&&) noexcept = default;
  RunDatabase& operator=(RunDatabase&& other) noexcept {
    if (this != &other) {
      CloseRunDatabase();
      lock_ = std::move(other.lock_);
      db_ = std::move(other.db_);
      insert_ = std::move(other.insert_);
      progress_ = std::move(other.progress_);
      rowBase_ = other.rowBase_;
      runId_ = other.runId_;
      walIdentity_ = std::move(other.walIdentity_);
      shmIdentity_ = std::move(other.shmIdentity_);
    }
    return *this;
  }

  // Opens an existing record for a run: takes the record's in-use lock, renumbers NUM (NULL rows
  // deleted, the rest 1..n in the order they were stored) and counts the rows into RowBase.
  StoreStatus OpenRunDatabase(const std::filesystem::path& recordFile,
                              RunJournal journal = kRunJournal,
                              RenumberMethod renumber = RenumberMethod::SetBased);

  // Rows the file held after renumbering; the run's n-th scan gets NUM RowBase + n.
  std::int64_t RowBase() const { return rowBase_; }

  // Appends one scan; committed durably before it returns. `channels` holds the texts of
  // CH1..CH20 (extra entries are ignored, missing ones are stored as " ", no reading).
  StoreStatus AppendReadingRow(std::int64_t num, std::string_view time,
                               std::span<const std::string> channels);
  // The same with NUM already written as text (the run keeps its counters as numbers in text).
  StoreStatus AppendReadingRow(std::string_view numText, std::string_view time,
                               std::span<const std::string> channels);

  // Closes the record and drops the lock; safe when nothing is open.
  void CloseRunDatabase();

  // The record's description of the run (record_meta.h); optional: a run that never calls
  // BeginRunRecord stores DATA exactly as before and adds no table. Each call is committed
  // durably before it returns, like a scan.
  //
  // Once per run, after OpenRunDatabase and before the first scan: creates RUNS, CHANNELS and
  // ALARMS when missing, adds the run's RUNS row (first_num RowBase() + 1, no last scan yet) and
  // one CHANNELS row per entry of `channels`. From then on every AppendReadingRow also moves
  // the run's last_num and end_time to the stored scan, in the scan's own commit.
  StoreStatus BeginRunRecord(const RunInfo& run, std::span<const ChannelInfo> channels);
  // Run id of the RUNS row, once BeginRunRecord has written it.
  std::optional<std::int64_t> RunId() const { return runId_; }
  // A reading of scan `num` left its band: one ALARMS row; `alarmId` receives its id, for
  // ClearAlarm when the reading comes back.
  StoreStatus RaiseAlarm(int channel, std::int64_t num, std::string_view time, double value,
                         LimitKind kind, double limitValue, std::int64_t* alarmId = nullptr);
  StoreStatus ClearAlarm(std::int64_t alarmId, std::int64_t num, std::string_view time);
  // The run ended at `endTime` (the stop, or the last scan): sets the run's end_time.
  StoreStatus EndRunRecord(std::string_view endTime);

  bool isOpen() const { return db_.isOpen(); }
  const std::filesystem::path& path() const { return db_.path(); }

 private:
  RecordLock lock_;
  detail::RecordDb db_;
  detail::Statement insert_;
  detail::Statement progress_;  // moves RUNS.last_num/end_time with each scan
  std::int64_t rowBase_ = 0;
  std::optional<std::int64_t> runId_;
  std::string walIdentity_, shmIdentity_;  // the journals this run's connection made

  StoreStatus checkNotMoved(std::string_view action);
  StoreStatus inTransaction(std::string_view action, const std::function<int()>& body);
};

}  // namespace kalivor::store
