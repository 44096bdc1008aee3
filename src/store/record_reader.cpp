// SPDX-License-Identifier: MIT
#include "store/record_reader.h"

namespace kalivor::store {
namespace {

constexpr const char* kRenumberAction = "renumber the scans of";

// Rows whose NUM is exactly the decimal text of a number in [?1, ?2] -- the rows that
// NUM='k' finds for each k of the range -- in the order of their numbers, first stored first.
const char* rangeFilter() {
  return " FROM DATA WHERE CAST(NUM AS INTEGER) BETWEEN ?1 AND ?2"
         " AND CAST(NUM AS TEXT) = CAST(CAST(NUM AS INTEGER) AS TEXT)"
         " ORDER BY CAST(NUM AS INTEGER), rowid";
}

// Bounds what one call may allocate; the chart asks for 25 001 values at most, a page for 1000.
constexpr std::int64_t kMaxRange = 1'000'000;

StoreStatus checkRange(const std::filesystem::path& file, std::int64_t first, std::int64_t last) {
  if (last >= first && (last - first >= kMaxRange || first < -kMaxRange * 1000)) {
    return StoreStatus::failure(
        detail::recordFailureText(file, "read", "the range of scan numbers is too large"));
  }
  return StoreStatus::success();
}

StoreStatus checkChannel(const std::filesystem::path& file, int channel) {
  if (channel < 1 || channel > kRecordChannels) {
    return StoreStatus::failure(detail::recordFailureText(
        file, "read", "there is no channel CH" + std::to_string(channel)));
  }
  return StoreStatus::success();
}

}  // namespace

StoreStatus RecordReader::open(const std::filesystem::path& recordFile, bool readOnly) {
  close();
  StoreStatus st =
      db_.open(recordFile, readOnly ? detail::OpenMode::ReadOnly : detail::OpenMode::ReadWrite);
  if (st.ok()) detail::enableMappedReads(db_.handle());
  return st;
}

void RecordReader::endRead() {
  if (inRead_) sqlite3_exec(db_.handle(), "COMMIT", nullptr, nullptr, nullptr);
  inRead_ = false;
  tidy_ = false;
}

void RecordReader::close() {
  endRead();
  db_.close();
}

StoreStatus RecordReader::beginSnapshot(bool& tidy) {
  tidy = false;
  if (StoreStatus st = db_.exec("BEGIN", "read"); !st.ok()) return st;
  inRead_ = true;
  bool needed = true;
  if (detail::renumberNeeded(db_.handle(), needed) != SQLITE_OK) {
    StoreStatus st = db_.failure(kRenumberAction);
    endRead();
    return st;
  }
  tidy = !needed;
  tidy_ = tidy;
  return StoreStatus::success();
}

StoreStatus RecordReader::renumberAndCount(std::int64_t& count, RenumberMethod method) {
  count = 0;
  endRead();
  // Most records need nothing: test in a read transaction and write only when needed, so
  // looking at a record neither waits for a run's appends nor changes the file.
  bool tidy = false;
  if (StoreStatus st = beginSnapshot(tidy); !st.ok()) return st;
  if (!tidy) {
    endRead();
    if (db_.readOnly()) {
      return StoreStatus::failure(
          detail::recordFailureText(db_.path(), kRenumberAction, "the file is read-only"));
    }
    if (StoreStatus st = db_.exec("BEGIN IMMEDIATE", kRenumberAction); !st.ok()) return st;
    StoreStatus st;
    if (detail::renumberRows(db_.handle(), method) != SQLITE_OK) st = db_.failure(kRenumberAction);
    if (st.ok()) st = db_.exec("COMMIT", kRenumberAction);
    if (!st.ok()) {
      sqlite3_exec(db_.handle(), "ROLLBACK", nullptr, nullptr, nullptr);
      return st;
    }
    // Another opener may have written in between; the reads then go by NUM, not by position.
    if (StoreStatus st2 = beginSnapshot(tidy); !st2.ok()) return st2;
  }
  return rowCount(count);
}

StoreStatus RecordReader::renumber(RenumberMethod method) {
  std::int64_t count = 0;
  return renumberAndCount(count, method);
}

StoreStatus RecordReader::rowCount(std::int64_t& count) {
  count = 0;
  detail::Statement q;
  if (StoreStatus st = db_.prepare("SELECT count(*) FROM DATA", q, "count the scans of");
      !st.ok()) {
    return st;
  }
  if (sqlite3_step(q.get()) != SQLITE_ROW) return db_.failure("count the scans of");
  count = sqlite3_column_int64(q.get(), 0);
  return StoreStatus::success();
}

StoreStatus RecordReader::prepareRange(const std::string& columns, std::int64_t first,
                                       std::int64_t last, detail::Statement& q) {
  // Within a tidy snapshot row k is the k-th stored row: fetch by position (stops after the
  // range) instead of testing the NUM of every row. The last result column is the row's number.
  if (tidy_) {
    const std::int64_t from = first < 1 ? 1 : first;
    if (StoreStatus st = db_.prepare("SELECT " + columns +
                                         ", CAST(NUM AS INTEGER) FROM DATA ORDER BY rowid"
                                         " LIMIT ?2 OFFSET ?1 - 1",
                                     q, "read");
        !st.ok()) {
      return st;
    }
    sqlite3_bind_int64(q.get(), 1, from);
    sqlite3_bind_int64(q.get(), 2, last >= from ? last - from + 1 : 0);
    return StoreStatus::success();
  }
  if (StoreStatus st =
          db_.prepare("SELECT " + columns + ", CAST(NUM AS INTEGER)" + rangeFilter(), q, "read");
      !st.ok()) {
    return st;
  }
  sqlite3_bind_int64(q.get(), 1, first);
  sqlite3_bind_int64(q.get(), 2, last);
  return StoreStatus::success();
}

StoreStatus RecordReader::pageRows(std::int64_t first, std::int64_t last,
                                   std::vector<RecordRow>& rows, bool& anyRow) {
  anyRow = false;
  rows.clear();
  if (StoreStatus st = checkRange(db_.path(), first, last); !st.ok()) return st;
  if (last < first) return StoreStatus::success();
  rows.resize(static_cast<std::size_t>(last - first + 1));
  std::vector<bool> filled(rows.size(), false);
  detail::Statement q;
  if (StoreStatus st = prepareRange(detail::recordColumnList(), first, last, q); !st.ok()) {
    return st;
  }
  int rc;
  while ((rc = sqlite3_step(q.get())) == SQLITE_ROW) {
    const auto i =
        static_cast<std::size_t>(sqlite3_column_int64(q.get(), kRecordColumns) - first);
    if (i >= rows.size() || filled[i]) continue;
    filled[i] = true;
    anyRow = true;
    for (int c = 0; c < kRecordColumns; ++c) {
      rows[i][static_cast<std::size_t>(c)] = detail::columnText(q.get(), c);
    }
  }
  if (rc != SQLITE_DONE) return db_.failure("read");
  return StoreStatus::success();
}

StoreStatus RecordReader::channelValues(int channel, std::int64_t first, std::int64_t last,
                                        std::vector<std::optional<std::string>>& values) {
  values.clear();
  if (StoreStatus st = checkChannel(db_.path(), channel); !st.ok()) return st;
  if (StoreStatus st = checkRange(db_.path(), first, last); !st.ok()) return st;
  if (last < first) return StoreStatus::success();
  values.resize(static_cast<std::size_t>(last - first + 1));
  detail::Statement q;
  if (StoreStatus st = prepareRange("CH" + std::to_string(channel), first, last, q); !st.ok()) {
    return st;
  }
  int rc;
  while ((rc = sqlite3_step(q.get())) == SQLITE_ROW) {
    const auto i = static_cast<std::size_t>(sqlite3_column_int64(q.get(), 1) - first);
    if (i >= values.size() || values[i].has_value()) continue;
    values[i] = detail::columnText(q.get(), 0);
  }
  if (rc != SQLITE_DONE) return db_.failure("read");
  return StoreStatus::success();
}

StoreStatus RecordReader::channelValue(int channel, std::int64_t num,
                                       std::optional<std::string>& value) {
  value.reset();
  if (StoreStatus st = checkChannel(db_.path(), channel); !st.ok()) return st;
  detail::Statement q;
  const std::string column = "CH" + std::to_string(channel);
  if (tidy_) {
    if (num < 1) return StoreStatus::success();
    if (StoreStatus st = db_.prepare("SELECT " + column +
                                         " FROM DATA ORDER BY rowid LIMIT 1 OFFSET ?1",
                                     q, "read");
        !st.ok()) {
      return st;
    }
    sqlite3_bind_int64(q.get(), 1, num - 1);
  } else {
    if (StoreStatus st = db_.prepare("SELECT " + column + " FROM DATA WHERE NUM = ?1 LIMIT 1",
                                     q, "read");
        !st.ok()) {
      return st;
    }
    const std::string numText = std::to_string(num);
    sqlite3_bind_text(q.get(), 1, numText.data(), static_cast<int>(numText.size()),
                      SQLITE_TRANSIENT);
  }
  const int rc = sqlite3_step(q.get());
  if (rc == SQLITE_ROW) {
    value = detail::columnText(q.get(), 0);
  } else if (rc != SQLITE_DONE) {
    return db_.failure("read");
  }
  return StoreStatus::success();
}

}  // namespace kalivor::store
