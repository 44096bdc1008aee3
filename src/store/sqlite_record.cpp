// SPDX-License-Identifier: MIT
#include "store/sqlite_record.h"

#include "store/record_lock.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstring>
#include <system_error>

namespace kalivor::store::detail {

std::string columnText(sqlite3_stmt* stmt, int column) {
  const unsigned char* text = sqlite3_column_text(stmt, column);
  if (text == nullptr) return {};
  return std::string(reinterpret_cast<const char*>(text),
                     static_cast<std::size_t>(sqlite3_column_bytes(stmt, column)));
}

const std::string& recordColumnList() {
  static const std::string list = [] {
    std::string s = "NUM, Time";
    for (int c = 1; c <= kRecordChannels; ++c) s += ", CH" + std::to_string(c);
    return s;
  }();
  return list;
}

std::string recordFailureText(const std::filesystem::path& file, std::string_view action,
                              std::string_view cause) {
  std::string text = "Cannot ";
  text += action;
  text += " the record ";
  text += file.string();
  text += ": ";
  text += cause;
  return text;
}

void configureConnection(sqlite3* db) {
  sqlite3_busy_timeout(db, kBusyTimeoutMs);
  sqlite3_db_config(db, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
  sqlite3_db_config(db, SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);
  sqlite3_db_config(db, SQLITE_DBCONFIG_ENABLE_TRIGGER, 0, nullptr);
  sqlite3_db_config(db, SQLITE_DBCONFIG_ENABLE_VIEW, 0, nullptr);
}

void enableMappedReads(sqlite3* db) {
  sqlite3_exec(db, "PRAGMA mmap_size=268435456", nullptr, nullptr, nullptr);
}

namespace {

bool hasCompanion(const std::filesystem::path& file, const char* suffix) {
  std::filesystem::path p = file;
  p += suffix;
  struct stat st{};
  return ::lstat(p.c_str(), &st) == 0;
}

// Whether this process could write the record and make files beside it (root passes both tests
// unless the file system itself is read-only).
bool canWriteCompanions(const std::filesystem::path& file) {
  const std::filesystem::path folder =
      file.has_parent_path() ? file.parent_path() : std::filesystem::path(".");
  return ::access(file.c_str(), W_OK) == 0 && ::access(folder.c_str(), W_OK) == 0;
}

// file:<absolute path>?immutable=1, with the characters a URI path cannot hold escaped.
std::string immutableUri(const std::filesystem::path& file) {
  std::error_code ec;
  std::filesystem::path absolute = std::filesystem::absolute(file, ec);
  if (ec) absolute = file;
  static const char kHex[] = "0123456789ABCDEF";
  std::string uri = "file:";
  for (unsigned char c : absolute.string()) {
    const bool plain = std::isalnum(c) != 0 || std::strchr("/-._~!$&'()*+,;=:@", c) != nullptr;
    if (plain && c != 0) {
      uri += static_cast<char>(c);
    } else {
      uri += '%';
      uri += kHex[c >> 4];
      uri += kHex[c & 15];
    }
  }
  uri += "?immutable=1";
  return uri;
}

}  // namespace

RecordDb::RecordDb(RecordDb&& other) noexcept
    : db_(other.db_), path_(std::move(other.path_)), queryOnly_(other.queryOnly_) {
  other.db_ = nullptr;
}

RecordDb& RecordDb::operator=(RecordDb&& other) noexcept {
  if (this != &other) {
    close();
    db_ = other.db_;
    path_ = std::move(other.path_);
    queryOnly_ = other.queryOnly_;
    other.db_ = nullptr;
  }
  return *this;
}

void RecordDb::close() {
  if (db_ != nullptr) sqlite3_close_v2(db_);
  db_ = nullptr;
}

bool RecordDb::readOnly() const {
  return db_ != nullptr && (queryOnly_ || sqlite3_db_readonly(db_, "main") == 1);
}

StoreStatus RecordDb::failure(std::string_view action) const {
  if (db_ == nullptr) return StoreStatus::failure(recordFailureText(path_, action, "not open"));
  std::string cause = sqlite3_errmsg(db_);
  const int sysErr = sqlite3_system_errno(db_);
  if (sysErr != 0 && (sqlite3_errcode(db_) & 0xFF) == SQLITE_IOERR) {
    cause += " (" + std::generic_category().message(sysErr) + ")";
  }
  return StoreStatus::failure(recordFailureText(path_, action, cause));
}

StoreStatus RecordDb::exec(const char* sql, std::string_view action) {
  if (sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) != SQLITE_OK) return failure(action);
  return StoreStatus::success();
}

StoreStatus RecordDb::prepare(std::string_view sql, Statement& out, std::string_view action) {
  out = Statement();
  if (sqlite3_prepare_v2(db_, sql.data(), static_cast<int>(sql.size()), out.out(), nullptr) !=
      SQLITE_OK) {
    return failure(action);
  }
  return StoreStatus::success();
}

StoreStatus RecordDb::open(const std::filesystem::path& file, OpenMode mode) {
  close();
  path_ = file;
  std::error_code ec;
  const auto status = std::filesystem::status(file, ec);
  if (!std::filesystem::exists(status)) {
    return StoreStatus::failure(recordFailureText(file, "open", "the file does not exist"));
  }
  if (std::filesystem::is_directory(status)) {
    return StoreStatus::failure(recordFailureText(file, "open", "it is a folder, not a file"));
  }
  // SQLite takes an empty file for an empty database; say what it is instead.
  if (std::filesystem::is_regular_file(status) && std::filesystem::file_size(file, ec) == 0 &&
      !ec) {
    return StoreStatus::failure(
        recordFailureText(file, "open", "the file is empty, it holds no scans table DATA"));
  }
  // Read-only use of a record we could write still opens it for writing, with writes refused:
  // only such a connection folds the -wal back and removes -wal and -shm when it closes.
  int flags = SQLITE_OPEN_READWRITE;
  queryOnly_ = mode == OpenMode::ReadOnly;
  std::string name = file.string();
  if (journalsBelongElsewhere(file)) {
    // The record was put in place of another while a run had that one open (or the run was
    // killed since): the journals beside it are the other file's, and SQLite would replay them
    // over this one's rows. Read the file as it stands and touch nothing beside it.
    queryOnly_ = true;
    flags = SQLITE_OPEN_READONLY | SQLITE_OPEN_URI;
    name = immutableUri(file);
  } else if (!canWriteCompanions(file)) {
    // Reading a record in WAL mode makes SQLite create -wal and -shm beside it, with the record's
    // own permissions: left beside a write-protected record they keep it from being written even
    // once it is writable again, and where they cannot be made the record cannot be read at all.
    // Without a -wal no run has the record open (a run keeps one while it writes), so read it
    // as a fixed file and make nothing. Once a journal exists its scans count: SQLite reads it
    // the usual way.
    flags = SQLITE_OPEN_READONLY;
    if (!hasCompanion(file, "-wal") && !hasCompanion(file, "-journal")) {
      name = immutableUri(file);
      flags |= SQLITE_OPEN_URI;
    }
  }
  const int rc = sqlite3_open_v2(name.c_str(), &db_, flags, nullptr);
  if (rc != SQLITE_OK) {
    StoreStatus st = db_ != nullptr ? failure("open")
                                    : StoreStatus::failure(recordFailureText(
                                          file, "open", sqlite3_errstr(rc)));
    close();
    return st;
  }
  configureConnection(db_);
  if (queryOnly_) sqlite3_exec(db_, "PRAGMA query_only=1", nullptr, nullptr, nullptr);
  // SQLite reads the file lazily; preparing a statement on DATA reads the header and schema, so a
  // file that is no database or has no usable DATA table fails here with a clear cause.
  Statement probe;
  StoreStatus st = prepare("SELECT " + recordColumnList() + " FROM DATA LIMIT 0", probe, "open");
  if (!st.ok()) {
    close();
    return st;
  }
  return StoreStatus::success();
}

}  // namespace kalivor::store::detail
