// SPDX-License-Identifier: MIT
#pragma once
// Reading a stored record for the browser and the record chart: the renumbering every opener
// runs, the row count, the rows of a NUM range and the values of one channel, each in one query.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "store/renumber.h"
#include "store/sqlite_record.h"
#include "store/store_types.h"

namespace kalivor::store {

// The renumbering calls leave the record fixed in a read snapshot, in which the rows are known
// to be numbered 1..n in stored order, so the reads that follow fetch their rows by position.
// The snapshot lasts until endRead() or close(); keep it short, as a run's appends cannot be
// folded into the .mdb while it is held.
class RecordReader {
 public:
  ~RecordReader() { close(); }
  // Opens an existing record, read-write when the file allows it (and `readOnly` is not asked
  // for), otherwise read-only. A file that is no record gives a clear message.
  StoreStatus open(const std::filesystem::path& recordFile, bool readOnly = false);
  void close();
  void endRead();
  bool isOpen() const { return db_.isOpen(); }

  // Renumbers NUM in place: NULL rows deleted, the others 1..n in the order they were stored;
  // `count` receives the number of rows. A read-only file that would need it gives a message
  // and is left as it is. Starts the read snapshot.
  StoreStatus renumberAndCount(std::int64_t& count,
                               RenumberMethod method = RenumberMethod::SetBased);
  StoreStatus renumber(RenumberMethod method = RenumberMethod::SetBased);
  StoreStatus rowCount(std::int64_t& count);

  // Rows with NUM first..last: rows[k - first] holds the row whose NUM is k (the first stored one
  // should a number occur twice), a row of empty texts when no row has that number. `anyRow`
  // tells whether any was found.
  StoreStatus pageRows(std::int64_t first, std::int64_t last, std::vector<RecordRow>& rows,
                       bool& anyRow);

  // Text of channel `channel` (1..20) of the rows with NUM first..last: values[k - first], or
  // nullopt where no row has that number. A NULL field is an empty text.
  StoreStatus channelValues(int channel, std::int64_t first, std::int64_t last,
                            std::vector<std::optional<std::string>>& values);
  // Text of channel `channel` of the row whose NUM is `num` (text comparison, as NUM='num').
  StoreStatus channelValue(int channel, std::int64_t num, std::optional<std::string>& value);

 private:
  StoreStatus beginSnapshot(bool& tidy);
  StoreStatus prepareRange(const std::string& columns, std::int64_t first, std::int64_t last,
                           detail::Statement& q);

  detail::RecordDb db_;
  bool inRead_ = false;  // a read transaction of ours is open
  bool tidy_ = false;    // ... and NUM runs 1..n in rowid order within it
};

}  // namespace kalivor::store
