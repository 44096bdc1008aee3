// SPDX-License-Identifier: MIT
#include "store/run_database.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <random>
#include <system_error>
#include <vector>

#include "store/record_files.h"

namespace kalivor::store {

// WAL with synchronous=FULL: one sync of the log per scan instead of the rollback journal's
// journal write, journal sync, database sync and journal delete; measured about four times
// faster per stored scan (bench/store_bench.cpp), and readers (the browser, the chart, other
// SQLite tools) neither block the run nor wait for it. While a run has the record open, its
// latest scans may live in the -wal companion (with -shm beside it): closing folds them into the
// .mdb and removes both, and deleting a record removes them too.
const RunJournal kRunJournal = RunJournal::Wal;

void (*detail::creationStepHook)(detail::CreationStep) = nullptr;

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

// A record is built under a hidden name beside its final one and published whole, so a kill
// half-way leaves no empty or tableless .mdb that would pass for a record. The names do not end
// in ".mdb": listings never show them.
std::string buildPrefix(std::string_view databaseName) {
  return "." + std::string(databaseName) + kRecordExtension + "-new-";
}

// Opens a fresh build file, locked for as long as the creation lasts: a later creation removes
// the builds of killed ones and knows a live one by its lock.
int openBuildFile(const std::filesystem::path& folder, std::string_view databaseName,
                  std::filesystem::path& build) {
  static const char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
  std::random_device random;
  for (int attempt = 0; attempt < 32; ++attempt) {
    std::string name = buildPrefix(databaseName);
    for (int i = 0; i < 8; ++i) name += kDigits[random() % 36];
    build = folder / name;
    const int fd = ::open(build.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      return -1;
    }
    struct stat held{};
    struct stat named{};
    // A cleaner may have taken the file for a leftover before the lock was ours.
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::fstat(fd, &held) == 0 &&
        ::lstat(build.c_str(), &named) == 0 && held.st_ino == named.st_ino &&
        held.st_dev == named.st_dev) {
      return fd;
    }
    ::close(fd);
  }
  errno = EEXIST;
  return -1;
}

void removeBuild(const std::filesystem::path& build) {
  ::unlink(build.c_str());
  for (const char* companion : {"-journal", "-wal", "-shm"}) {
    std::filesystem::path p = build;
    p += companion;
    ::unlink(p.c_str());
  }
}

// Builds of this record left by creations that were killed (no one holds their lock).
void removeDeadBuilds(const std::filesystem::path& folder, std::string_view databaseName) {
  const std::string prefix = buildPrefix(databaseName);
  std::vector<std::filesystem::path> dead;
  std::error_code ec;
  for (std::filesystem::directory_iterator it(folder, ec);
       !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.size() != prefix.size() + 8 || name.compare(0, prefix.size(), prefix) != 0) continue;
    const int fd = ::open(it->path().c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) continue;
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) dead.push_back(it->path());
    ::close(fd);
  }
  for (const auto& build : dead) removeBuild(build);
}

// Fills the build file with table DATA; an error text, empty when it worked.
std::string buildRecord(const std::filesystem::path& build) {
  sqlite3* db = nullptr;
  int rc = sqlite3_open_v2(build.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOFOLLOW,
                           nullptr);
  std::string cause;
  if (rc == SQLITE_OK) {
    detail::configureConnection(db);
    rc = sqlite3_exec(db, "PRAGMA synchronous=FULL", nullptr, nullptr, nullptr);
    if (rc == SQLITE_OK) rc = sqlite3_exec(db, createTableSql().c_str(), nullptr, nullptr, nullptr);
  }
  if (rc != SQLITE_OK) cause = db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
  if (sqlite3_close(db) != SQLITE_OK && cause.empty()) cause = sqlite3_errmsg(db);
  return cause;
}

bool unsupported(int err) {
  return err == EINVAL || err == ENOSYS || err == ENOTSUP || err == EOPNOTSUPP || err == EPERM;
}

// Moves the finished build to the record's name unless an entry of that name exists: 0, EEXIST
// (the entry is left as it is) or an errno. The caller holds the record's lock, which every
// creation and every run takes, so the test and rename of the last resort cannot race with ours.
int publishBuild(const std::filesystem::path& build, const std::filesystem::path& file) {
  if (::renameat2(AT_FDCWD, build.c_str(), AT_FDCWD, file.c_str(), RENAME_NOREPLACE) == 0) {
    return 0;
  }
  if (errno == EEXIST || !unsupported(errno)) return errno;
  // File systems without an exclusive rename: a hard link is just as exclusive.
  if (::link(build.c_str(), file.c_str()) == 0) {
    ::unlink(build.c_str());
    return 0;
  }
  if (errno == EEXIST || !unsupported(errno)) return errno;
  // Neither (FAT, some network shares).
  struct stat st{};
  if (::lstat(file.c_str(), &st) == 0) return EEXIST;
  if (::rename(build.c_str(), file.c_str()) != 0) return errno;
  return 0;
}

// Journals of a record that is gone (removed by hand while a run had it open, say). SQLite would
// take a -wal found beside the new record for its own and show the old scans in it.
void removeOrphanJournals(const std::filesystem::path& file) {
  for (const char* companion : {"-wal", "-shm", "-journal"}) {
    std::filesystem::path p = file;
    p += companion;
    ::unlink(p.c_str());
  }
}

std::filesystem::path companionPath(const std::filesystem::path& file, const char* suffix) {
  std::filesystem::path p = file;
  p += suffix;
  return p;
}

void syncFolder(const std::filesystem::path& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

}  // namespace

StoreStatus CreateRunDatabase(const std::filesystem::path& dataFolder,
                              std::string_view databaseName, std::filesystem::path* recordFile) {
  if (recordFile != nullptr) recordFile->clear();
  if (databaseName == "0") return StoreStatus::success();
  std::filesystem::path file;
  if (StoreStatus st = recordFilePath(dataFolder, databaseName, file); !st.ok()) return st;
  if (recordFile != nullptr) *recordFile = file;

  const std::filesystem::path folder = file.parent_path();
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  if (ec) {
    return StoreStatus::failure(detail::recordFailureText(
        file, "create", "cannot create the folder " + folder.string() + " (" + ec.message() + ")"));
  }
  // An entry of that name (file of any attribute, folder, even a dangling link) is left alone,
  // never emptied; the publishing step below repeats the test atomically.
  struct stat existing{};
  if (::lstat(file.c_str(), &existing) == 0) return StoreStatus::success();
  if (errno != ENOENT) {
    return StoreStatus::failure(detail::recordFailureText(file, "create", systemError(errno)));
  }

  removeDeadBuilds(folder, databaseName);
  std::filesystem::path build;
  const int fd = openBuildFile(folder, databaseName, build);
  if (fd < 0) {
    return StoreStatus::failure(detail::recordFailureText(file, "create", systemError(errno)));
  }
  auto step = [](detail::CreationStep at) {
    if (detail::creationStepHook != nullptr) detail::creationStepHook(at);
  };
  step(detail::CreationStep::BuildOpened);
  std::string cause = buildRecord(build);
  if (cause.empty()) step(detail::CreationStep::TableBuilt);
  if (cause.empty() && ::fsync(fd) != 0) cause = systemError(errno);
  if (cause.empty()) step(detail::CreationStep::BuildSynced);
  int published = 0;
  StoreStatus failed;
  if (cause.empty()) {
    RecordLock lock;
    bool busy = false;
    const StoreStatus locked = lock.acquire(file, &busy);
    if (::lstat(file.c_str(), &existing) == 0) {
      published = EEXIST;  // made by another creation meanwhile
    } else if (busy) {
      // A run still has a record of this name open that was removed under it.
      cause = "it is in use by another run";
    } else if (!locked.ok()) {
      failed = locked;
    } else {
      step(detail::CreationStep::NameLocked);
      removeOrphanJournals(file);
      published = publishBuild(build, file);
      if (published == 0) syncFolder(folder);
      if (published == 0) step(detail::CreationStep::Published);
      else if (published != EEXIST) cause = systemError(published);
    }
  }
  if (published != 0 || !cause.empty() || !failed.ok()) removeBuild(build);
  ::close(fd);
  if (!cause.empty()) return StoreStatus::failure(detail::recordFailureText(file, "create", cause));
  if (!failed.ok()) return failed;
  return StoreStatus::success();  // made here, or by another creation meanwhile
}

StoreStatus RunDatabase::OpenRunDatabase(const std::filesystem::path& recordFile,
                                         RunJournal journal, RenumberMethod renumber) {
  CloseRunDatabase();
  if (StoreStatus st = lock_.acquire(recordFile); !st.ok()) return st;
  auto fail = [this](StoreStatus st) {
    CloseRunDatabase();
    return st;
  };
  // A run killed while its record was replaced left journals of that other file; they must not
  // be replayed over this one.
  const std::string identity = recordIdentity(recordFile);
  if (!lock_.previousIdentity().empty() && lock_.previousIdentity() != identity) {
    removeOrphanJournals(recordFile);
  }
  lock_.writeIdentity(identity);
  // Asked before SQLite opens it: a read-only connection to a record in WAL mode creates -wal and
  // -shm companions with the record's read-only permissions and leaves them behind, and they would
  // keep the record from being written even after it is made writable again.
  if (::access(recordFile.c_str(), W_OK) != 0 && (errno == EACCES || errno == EROFS)) {
    return fail(StoreStatus::failure(
        detail::recordFailureText(recordFile, "open", "the file is read-only")));
  }
  // The run's journal lives beside the record.
  if (const std::filesystem::path folder = recordFile.parent_path();
      !folder.empty() && ::access(folder.c_str(), W_OK) != 0 &&
      (errno == EACCES || errno == EROFS)) {
    return fail(StoreStatus::failure(detail::recordFailureText(
        recordFile, "open", "the folder " + folder.string() + " is read-only")));
  }
  if (StoreStatus st = db_.open(recordFile, detail::OpenMode::ReadWrite); !st.ok()) {
    return fail(st);
  }
  if (db_.readOnly()) {
    return fail(StoreStatus::failure(
        detail::recordFailureText(recordFile, "open", "the file is read-only")));
  }
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
  // Only a record that has passed the renumbering walk (every row read) switches journal mode:
  // the switch writes the file's header, and a damaged record that is then refused must be left
  // exactly as it was. If another connection keeps the file from switching, the current mode
  // stays; every mode is durable with synchronous=FULL.
  sqlite3_exec(db_.handle(),
               journal == RunJournal::Wal ? "PRAGMA journal_mode=WAL"
                                          : "PRAGMA journal_mode=DELETE",
               nullptr, nullptr, nullptr);
  if (StoreStatus st = db_.prepare(insertSql(), insert_, "open"); !st.ok()) return fail(st);
  // The first read in WAL mode makes the -wal and -shm: note which files they are.
  sqlite3_exec(db_.handle(), "SELECT count(*) FROM (SELECT 1 FROM DATA LIMIT 1)", nullptr, nullptr,
               nullptr);
  walIdentity_ = recordIdentity(companionPath(recordFile, "-wal"));
  shmIdentity_ = recordIdentity(companionPath(recordFile, "-shm"));
  return StoreStatus::success();
}

StoreStatus RunDatabase::AppendReadingRow(std::int64_t num, std::string_view time,
                                          std::span<const std::string> channels) {
  return AppendReadingRow(std::to_string(num), time, channels);
}

StoreStatus RunDatabase::checkNotMoved(std::string_view action) {
  if (!insert_) {
    return StoreStatus::failure(
        detail::recordFailureText(db_.path(), action, "the record is not open"));
  }
  // SQLite goes on writing into a record that was deleted (or replaced) under it, and the scans
  // vanish with the last handle; stop at the first write instead of storing into nothing.
  int moved = 0;
  if (sqlite3_file_control(db_.handle(), "main", SQLITE_FCNTL_HAS_MOVED, &moved) == SQLITE_OK &&
      moved != 0) {
    return StoreStatus::failure(detail::recordFailureText(
        db_.path(), action, "the file was removed or replaced while the run used it"));
  }
  return StoreStatus::success();
}

StoreStatus RunDatabase::inTransaction(std::string_view action, const std::function<int()>& body) {
  if (StoreStatus st = checkNotMoved(action); !st.ok()) return st;
  if (StoreStatus st = db_.exec("BEGIN IMMEDIATE", action); !st.ok()) return st;
  StoreStatus st;
  if (body() != SQLITE_OK) st = db_.failure(action);
  if (st.ok()) st = db_.exec("COMMIT", action);
  if (!st.ok()) sqlite3_exec(db_.handle(), "ROLLBACK", nullptr, nullptr, nullptr);
  return st;
}

namespace {

// Steps a prepared write once and makes it ready for the next use.
int stepOnce(sqlite3_stmt* s) {
  const int rc = sqlite3_step(s);
  sqlite3_reset(s);
  sqlite3_clear_bindings(s);
  return rc == SQLITE_DONE ? SQLITE_OK : rc;
}

void bindOptional(sqlite3_stmt* s, int index, const std::optional<double>& v) {
  if (v) sqlite3_bind_double(s, index, *v);
  else sqlite3_bind_null(s, index);
}

void bindOptionalText(sqlite3_stmt* s, int index, std::string_view text) {
  if (text.empty()) sqlite3_bind_null(s, index);
  else bindText(s, index, text);
}

}  // namespace

StoreStatus RunDatabase::AppendReadingRow(std::string_view numText, std::string_view time,
                                          std::span<const std::string> channels) {
  constexpr std::string_view kAction = "store a scan in";
  auto insertRow = [&] {
    sqlite3_stmt* s = insert_.get();
    bindText(s, 1, numText);
    bindText(s, 2, time);
    for (int c = 0; c < kRecordChannels; ++c) {
      const auto i = static_cast<std::size_t>(c);
      bindText(s, 3 + c, i < channels.size() ? std::string_view(channels[i]) : " ");
    }
    return stepOnce(s);
  };
  if (!progress_) {
    // A record without a description: one autocommitted insert, as it has always been.
    if (StoreStatus st = checkNotMoved(kAction); !st.ok()) return st;
    if (insertRow() != SQLITE_OK) return db_.failure(kAction);
    return StoreStatus::success();
  }
  return inTransaction(kAction, [&] {
    int rc = insertRow();
    if (rc != SQLITE_OK) return rc;
    sqlite3_stmt* u = progress_.get();
    sqlite3_bind_text(u, 1, numText.data() != nullptr ? numText.data() : "",
                      static_cast<int>(numText.size()), SQLITE_STATIC);
    bindText(u, 2, time);
    sqlite3_bind_int64(u, 3, *runId_);
    return stepOnce(u);
  });
}

StoreStatus RunDatabase::BeginRunRecord(const RunInfo& run, std::span<const ChannelInfo> channels) {
  constexpr std::string_view kAction = "describe the run in";
  if (runId_) {
    return StoreStatus::failure(
        detail::recordFailureText(db_.path(), kAction, "the run is already described"));
  }
  std::int64_t runId = 0;
  StoreStatus st = inTransaction(kAction, [&] {
    int rc = detail::createMetaTables(db_.handle());
    if (rc != SQLITE_OK) return rc;
    detail::Statement q;
    rc = sqlite3_prepare_v2(db_.handle(),
                            "INSERT INTO RUNS(first_num, last_num, start_time, end_time,"
                            " program_version, resource, identity, serial, card_code,"
                            " card_description, setup_ini)"
                            " VALUES (?1, NULL, ?2, NULL, ?3, ?4, ?5, ?6, ?7, ?8, ?9)",
                            -1, q.out(), nullptr);
    if (rc != SQLITE_OK) return rc;
    sqlite3_stmt* s = q.get();
    sqlite3_bind_int64(s, 1, rowBase_ + 1);
    bindText(s, 2, run.startTime);
    bindText(s, 3, run.programVersion);
    bindText(s, 4, run.resource);
    bindText(s, 5, run.identity);
    bindText(s, 6, run.serial);
    if (run.cardCode) sqlite3_bind_int(s, 7, *run.cardCode);
    else sqlite3_bind_null(s, 7);
    bindText(s, 8, run.cardDescription);
    bindText(s, 9, run.setupIni);
    if ((rc = stepOnce(s)) != SQLITE_OK) return rc;
    runId = sqlite3_last_insert_rowid(db_.handle());

    q = detail::Statement();  // finalized, or the connection could not close
    rc = sqlite3_prepare_v2(db_.handle(),
                            "INSERT OR REPLACE INTO CHANNELS(run_id, channel, function,"
                            " sensor_type, shunt_ohms, offset_current, scale_m, scale_b,"
                            " unit_label, alarm_low, alarm_high)"
                            " VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11)",
                            -1, q.out(), nullptr);
    if (rc != SQLITE_OK) return rc;
    s = q.get();
    for (const ChannelInfo& c : channels) {
      sqlite3_bind_int64(s, 1, runId);
      sqlite3_bind_int(s, 2, c.channel);
      bindOptionalText(s, 3, c.function);
      bindOptionalText(s, 4, c.sensorType);
      bindOptional(s, 5, c.shuntOhms);
      bindOptional(s, 6, c.offsetCurrent);
      bindOptional(s, 7, c.scaleM);
      bindOptional(s, 8, c.scaleB);
      bindOptionalText(s, 9, c.unitLabel);
      bindOptional(s, 10, c.alarmLow);
      bindOptional(s, 11, c.alarmHigh);
      if ((rc = stepOnce(s)) != SQLITE_OK) return rc;
    }
    return SQLITE_OK;
  });
  if (!st.ok()) return st;
  runId_ = runId;
  return db_.prepare("UPDATE RUNS SET last_num = CAST(?1 AS INTEGER), end_time = ?2"
                     " WHERE run_id = ?3",
                     progress_, kAction);
}

StoreStatus RunDatabase::RaiseAlarm(int channel, std::int64_t num, std::string_view time,
                                    double value, LimitKind kind, double limitValue,
                                    std::int64_t* alarmId) {
  constexpr std::string_view kAction = "store an alarm in";
  if (!runId_) {
    return StoreStatus::failure(
        detail::recordFailureText(db_.path(), kAction, "the run is not described"));
  }
  std::int64_t id = 0;
  StoreStatus st = inTransaction(kAction, [&] {
    detail::Statement q;
    int rc = sqlite3_prepare_v2(db_.handle(),
                                "INSERT INTO ALARMS(run_id, channel, num, time, value, limit_kind,"
                                " limit_value) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7)",
                                -1, q.out(), nullptr);
    if (rc != SQLITE_OK) return rc;
    sqlite3_bind_int64(q.get(), 1, *runId_);
    sqlite3_bind_int(q.get(), 2, channel);
    sqlite3_bind_int64(q.get(), 3, num);
    bindText(q.get(), 4, time);
    sqlite3_bind_double(q.get(), 5, value);
    sqlite3_bind_text(q.get(), 6, limitKindText(kind), -1, SQLITE_STATIC);
    sqlite3_bind_double(q.get(), 7, limitValue);
    rc = stepOnce(q.get());
    id = sqlite3_last_insert_rowid(db_.handle());
    return rc;
  });
  if (st.ok() && alarmId != nullptr) *alarmId = id;
  return st;
}

StoreStatus RunDatabase::ClearAlarm(std::int64_t alarmId, std::int64_t num, std::string_view time) {
  return inTransaction("store an alarm in", [&] {
    detail::Statement q;
    int rc = sqlite3_prepare_v2(db_.handle(),
                                "UPDATE ALARMS SET cleared_num = ?2, cleared_time = ?3"
                                " WHERE id = ?1 AND cleared_num IS NULL",
                                -1, q.out(), nullptr);
    if (rc != SQLITE_OK) return rc;
    sqlite3_bind_int64(q.get(), 1, alarmId);
    sqlite3_bind_int64(q.get(), 2, num);
    bindText(q.get(), 3, time);
    return stepOnce(q.get());
  });
}

StoreStatus RunDatabase::EndRunRecord(std::string_view endTime) {
  if (!runId_) return StoreStatus::success();
  return inTransaction("describe the run in", [&] {
    detail::Statement q;
    int rc = sqlite3_prepare_v2(db_.handle(), "UPDATE RUNS SET end_time = ?2 WHERE run_id = ?1",
                                -1, q.out(), nullptr);
    if (rc != SQLITE_OK) return rc;
    sqlite3_bind_int64(q.get(), 1, *runId_);
    bindText(q.get(), 2, endTime);
    return stepOnce(q.get());
  });
}

void RunDatabase::CloseRunDatabase() {
  insert_ = detail::Statement();
  progress_ = detail::Statement();
  runId_.reset();
  int moved = 0;
  if (db_.isOpen() &&
      sqlite3_file_control(db_.handle(), "main", SQLITE_FCNTL_HAS_MOVED, &moved) == SQLITE_OK &&
      moved != 0) {
    // The record was removed or replaced under the run. Its scans still in the -wal go into the
    // file the run has open (wherever it now is), and the -wal and -shm, which SQLite leaves
    // behind for a moved file, are removed: beside a replacement they would be replayed over its
    // rows. Only the journals the run itself made are removed.
    sqlite3_wal_checkpoint_v2(db_.handle(), "main", SQLITE_CHECKPOINT_TRUNCATE, nullptr, nullptr);
    const std::filesystem::path file = db_.path();
    db_.close();
    for (const auto& [suffix, identity] :
         {std::pair{"-wal", walIdentity_}, std::pair{"-shm", shmIdentity_}}) {
      const std::filesystem::path p = companionPath(file, suffix);
      if (!identity.empty() && recordIdentity(p) == identity) ::unlink(p.c_str());
    }
  }
  walIdentity_.clear();
  shmIdentity_.clear();
  db_.close();
  lock_.release();
  rowBase_ = 0;
}

}  // namespace kalivor::store
