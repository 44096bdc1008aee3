// SPDX-License-Identifier: MIT
#pragma once
// The run database of one instrument slot: the record file a run appends its scans to.
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>

#include "store/record_lock.h"
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
      rowBase_ = other.rowBase_;
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

  bool isOpen() const { return db_.isOpen(); }
  const std::filesystem::path& path() const { return db_.path(); }

 private:
  RecordLock lock_;
  detail::RecordDb db_;
  detail::Statement insert_;
  std::int64_t rowBase_ = 0;
};

}  // namespace kalivor::store
