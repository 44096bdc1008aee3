#include "store/run_database.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "store/record_files.h"

namespace kalivor::store {

// WAL with synchronous=FULL: one sync of the log per scan instead of the rollback journal's
// journal write, journal sync, database sync and journal delete; measured about four times
// faster per stored scan (bench/store_bench.cpp), and readers (the browser, the chart, other
// SQLite tools) neither block the run nor wait for it. While a run has the record open, its
// latest scans may live in the -wal companion (with -shm beside it): closing folds them into the
// .mdb and removes both, and deleting a record removes them too.
const RunJournal kRunJournal = RunJournal::Wal;

namespace {

std::string createTableSql() {
  std::string sql = "CREATE TABLE DATA (NUM TEXT, Time TEXT";
  for (int c = 1; c <= kRecordChannels; ++c) sql += ", Ch" + std::to_string(c) + " TEXT";
  sql += ")";
  return sql;
}

std::string insertSql() {
  std::string sql = "INSERT INTO DATA (" + detail::recordColumnList() + ") VALUES (?1";
  for (int c = 2; c <= kRecordColumns; ++c) sql += ", ?" + std::to_string(c);
  sql += ")";
  return sql;
}

std::string systemError(int err) { return std::generic_category().message(err); }

// Bound without a copy: the texts outlive the step, and the bindings are cleared after it. An
// empty view may carry no pointer, which SQLite would store as NULL, not as empty text.
void bindText(sqlite3_stmt* s, int index, std::string_view text) {
  sqlite3_bind_text(s, index, text.data() != nullptr ? text.data() : "",
                    static_cast<int>(text.size()), SQLITE_STATIC);
}

}  // namespace

StoreStatus CreateRunDatabase(const std::filesystem::path& dataFolder,
                              std::string_view databaseName, std::filesystem::path* recordFile) {
  if (recordFile != nullptr) recordFile->clear();
  if (databaseName == "0") return StoreStatus::success();
  std::filesystem::path file;
  if (StoreStatus st = recordFilePath(dataFolder, databaseName, file); !st.ok()) return st;
  if (recordFile != nullptr) *recordFile = file;

  std::error_code ec;
  std::filesystem::create_directories(file.parent_path(), ec);
  if (ec) {
    return StoreStatus::failure(detail::recordFailureText(
        file, "create", "cannot create the folder " + file.parent_path().string() + " (" +
                            ec.message() + ")"));
  }
  // O_EXCL makes the existence test and the creation one step: an entry of that name (file of
  // any attribute, folder, even a dangling link) is left alone, never emptied.
  const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
  if (fd < 0) {
    if (errno == EEXIST) return StoreStatus::success();
    return StoreStatus::failure(detail::recordFailureText(file, "create", systemError(errno)));
  }
  ::close(fd);

  // An empty file is an empty SQLite database; give it table DATA.
  sqlite3* db = nullptr;
  int rc = sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOFOLLOW,
                           nullptr);
  std::string cause;
  if (rc == SQLITE_OK) {
    detail::configureConnection(db);
    rc = sqlite3_exec(db, createTableSql().c_str(), nullptr, nullptr, nullptr);
  }
  if (rc != SQLITE_OK) cause = db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
  if (sqlite3_close(db) != SQLITE_OK && cause.empty()) cause = sqlite3_errmsg(db);
  if (!cause.empty()) {
    // The file is ours and holds nothing yet; leaving it would pass for a record next time.
    ::unlink(file.c_str());
    return StoreStatus::failure(detail::recordFailureText(file, "create", cause));
  }
  return StoreStatus::success();
}

StoreStatus RunDatabase::OpenRunDatabase(const std::filesystem::path& recordFile,
                                         RunJournal journal, RenumberMethod renumber) {
  CloseRunDatabase();
  if (StoreStatus st = lock_.acquire(recordFile); !st.ok()) return st;
  auto fail = [this](StoreStatus st) {
    CloseRunDatabase();
    return st;
  };
  // Asked before SQLite opens it: a read-only connection to a record in WAL mode creates -wal and
  // -shm companions with the record's read-only permissions and leaves them behind, and they would
  // keep the record from being written even after it is made writable again.
  if (::access(recordFile.c_str(), W_OK) != 0 && (errno == EACCES || errno == EROFS)) {
    return fail(StoreStatus::failure(
        detail::recordFailureText(recordFile, "open", "the file is read-only")));
  }
  if (StoreStatus st = db_.open(recordFile, detail::OpenMode::ReadWrite); !st.ok()) {
    return fail(st);
  }
  if (db_.readOnly()) {
    return fail(StoreStatus::failure(
        detail::recordFailureText(recordFile, "open", "the file is read-only")));
  }
  // If another connection keeps the file from switching journal modes, the current mode stays;
  // every mode is durable with synchronous=FULL.
  sqlite3_exec(db_.handle(),
               journal == RunJournal::Wal ? "PRAGMA journal_mode=WAL"
                                          : "PRAGMA journal_mode=DELETE",
               nullptr, nullptr, nullptr);
  if (StoreStatus st = db_.exec("PRAGMA synchronous=FULL", "open"); !st.ok()) return fail(st);

  if (StoreStatus st = db_.exec("BEGIN IMMEDIATE", "renumber the scans of"); !st.ok()) {
    return fail(st);
  }
  if (detail::renumberRows(db_.handle(), renumber) != SQLITE_OK) {
    StoreStatus st = db_.failure("renumber the scans of");
    sqlite3_exec(db_.handle(), "ROLLBACK", nullptr, nullptr, nullptr);
    return fail(st);
  }
  detail::Statement count;
  if (StoreStatus st = db_.prepare("SELECT count(*) FROM DATA", count, "count the scans of");
      !st.ok()) {
    sqlite3_exec(db_.handle(), "ROLLBACK", nullptr, nullptr, nullptr);
    return fail(st);
  }
  if (sqlite3_step(count.get()) != SQLITE_ROW) {
    StoreStatus st = db_.failure("count the scans of");
    sqlite3_exec(db_.handle(), "ROLLBACK", nullptr, nullptr, nullptr);
    return fail(st);
  }
  rowBase_ = sqlite3_column_int64(count.get(), 0);
  count = detail::Statement();
  if (StoreStatus st = db_.exec("COMMIT", "renumber the scans of"); !st.ok()) {
    sqlite3_exec(db_.handle(), "ROLLBACK", nullptr, nullptr, nullptr);
    return fail(st);
  }
  if (StoreStatus st = db_.prepare(insertSql(), insert_, "open"); !st.ok()) return fail(st);
  return StoreStatus::success();
}

StoreStatus RunDatabase::AppendReadingRow(std::int64_t num, std::string_view time,
                                          std::span<const std::string> channels) {
  return AppendReadingRow(std::to_string(num), time, channels);
}

StoreStatus RunDatabase::AppendReadingRow(std::string_view numText, std::string_view time,
                                          std::span<const std::string> channels) {
  if (!insert_) {
    return StoreStatus::failure(detail::recordFailureText(db_.path(), "store a scan in",
                                                          "the record is not open"));
  }
  // SQLite goes on writing into a record that was deleted (or replaced) under it, and the scans
  // vanish with the last handle; stop at the first scan instead of storing into nothing.
  int moved = 0;
  if (sqlite3_file_control(db_.handle(), "main", SQLITE_FCNTL_HAS_MOVED, &moved) == SQLITE_OK &&
      moved != 0) {
    return StoreStatus::failure(detail::recordFailureText(
        db_.path(), "store a scan in", "the file was removed or replaced while the run used it"));
  }
  sqlite3_stmt* s = insert_.get();
  bindText(s, 1, numText);
  bindText(s, 2, time);
  for (int c = 0; c < kRecordChannels; ++c) {
    const auto i = static_cast<std::size_t>(c);
    bindText(s, 3 + c, i < channels.size() ? std::string_view(channels[i]) : " ");
  }
  const int rc = sqlite3_step(s);
  sqlite3_reset(s);
  sqlite3_clear_bindings(s);
  if (rc != SQLITE_DONE) return db_.failure("store a scan in");
  return StoreStatus::success();
}

void RunDatabase::CloseRunDatabase() {
  insert_ = detail::Statement();
  db_.close();
  lock_.release();
  rowBase_ = 0;
}

}  // namespace kalivor::store
