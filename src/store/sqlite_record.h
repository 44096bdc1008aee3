// SPDX-License-Identifier: MIT
#pragma once
// Thin RAII layer over the SQLite C API for record files, with error texts that name the record.
// Internal to the store: the rest of the program sees StoreStatus and texts only.
#include <sqlite3.h>

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

#include "store/store_types.h"

namespace kalivor::store::detail {

class Statement {
 public:
  Statement() = default;
  ~Statement() { sqlite3_finalize(stmt_); }
  Statement(Statement&& other) noexcept : stmt_(other.stmt_) { other.stmt_ = nullptr; }
  Statement& operator=(Statement&& other) noexcept {
    if (this != &other) {
      sqlite3_finalize(stmt_);
      stmt_ = other.stmt_;
      other.stmt_ = nullptr;
    }
    return *this;
  }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  sqlite3_stmt* get() const { return stmt_; }
  sqlite3_stmt** out() { return &stmt_; }
  explicit operator bool() const { return stmt_ != nullptr; }

 private:
  sqlite3_stmt* stmt_ = nullptr;
};

// Column text with SQL NULL (and any non-text value SQLite cannot convert) shown as empty text.
std::string columnText(sqlite3_stmt* stmt, int column);

// "NUM, Time, CH1, ..., CH20": the column list every read and write of DATA names explicitly, so a
// file whose table lacks one of them fails with SQLite's "no such column" instead of misreading.
const std::string& recordColumnList();

enum class OpenMode { ReadWrite, ReadOnly };

// An open record file. Every failure text reads "Cannot <action> the record <path>: <cause>".
class RecordDb {
 public:
  RecordDb() = default;
  ~RecordDb() { close(); }
  RecordDb(RecordDb&& other) noexcept;
  RecordDb& operator=(RecordDb&& other) noexcept;
  RecordDb(const RecordDb&) = delete;
  RecordDb& operator=(const RecordDb&) = delete;

  // Opens an existing record file and checks that it is a database with table DATA holding the
  // record columns. Never creates a file, nor anything beside a record it may not write.
  StoreStatus open(const std::filesystem::path& file, OpenMode mode);
  void close();
  bool isOpen() const { return db_ != nullptr; }
  sqlite3* handle() const { return db_; }
  const std::filesystem::path& path() const { return path_; }
  // Opened ReadOnly, or the file cannot be written.
  bool readOnly() const;

  // Runs SQL without results; on failure returns the engine's message for `action`.
  StoreStatus exec(const char* sql, std::string_view action);
  StoreStatus prepare(std::string_view sql, Statement& out, std::string_view action);
  // The message for the engine's last error.
  StoreStatus failure(std::string_view action) const;

 private:
  sqlite3* db_ = nullptr;
  std::filesystem::path path_;
  bool queryOnly_ = false;
};

std::string recordFailureText(const std::filesystem::path& file, std::string_view action,
                              std::string_view cause);

// Busy wait for a record that another connection is writing (a run in progress while the
// browser shows it, or the other way round).
inline constexpr int kBusyTimeoutMs = 5000;

// Applies the settings every connection to a record uses: busy time-out, a defensive
// connection (a crafted file cannot make its schema writable or run unsafe functions).
void configureConnection(sqlite3* db);

// Reads the file through a memory map instead of one read call per page: showing a page walks
// every row for the renumbering test, and on a fresh connection that walk costs about half as
// much mapped. For the short-lived connections of the browser, the chart and the export; SQLite
// still writes through ordinary calls.
void enableMappedReads(sqlite3* db);

}  // namespace kalivor::store::detail
