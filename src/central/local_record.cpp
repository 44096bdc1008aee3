// SPDX-License-Identifier: MIT
#include "central/local_record.h"

#include <cmath>
#include <random>

#include "common/numbers.h"

namespace kalivor::central {
namespace {

// A run's append may wait this long for our progress write, and we for its commit.
constexpr int kBusyMs = 500;

class Stmt {
 public:
  ~Stmt() { sqlite3_finalize(s_); }
  sqlite3_stmt* s_ = nullptr;
};

std::string text(sqlite3_stmt* s, int c) {
  const unsigned char* t = sqlite3_column_text(s, c);
  if (t == nullptr) return {};
  return std::string(reinterpret_cast<const char*>(t),
                     static_cast<std::size_t>(sqlite3_column_bytes(s, c)));
}

std::optional<std::int64_t> optInt(sqlite3_stmt* s, int c) {
  switch (sqlite3_column_type(s, c)) {
    case SQLITE_NULL: return std::nullopt;
    case SQLITE_INTEGER: return sqlite3_column_int64(s, c);
    default: {
      const auto v = strictNumber(text(s, c));
      if (!v || *v != std::floor(*v) || std::fabs(*v) > 9e15) return std::nullopt;
      return static_cast<std::int64_t>(*v);
    }
  }
}

std::optional<double> optReal(sqlite3_stmt* s, int c) {
  switch (sqlite3_column_type(s, c)) {
    case SQLITE_NULL: return std::nullopt;
    case SQLITE_INTEGER:
    case SQLITE_FLOAT: return sqlite3_column_double(s, c);
    default: return strictNumber(text(s, c));
  }
}

std::string newUid() {
  std::random_device random;
  static const char kHex[] = "0123456789abcdef";
  std::string uid;
  for (int i = 0; i < 8; ++i) {
    const unsigned v = random();
    for (int k = 0; k < 4; ++k) uid += kHex[(v >> (4 * k)) & 15];
  }
  return uid;
}

}  // namespace

bool LocalRecord::fail(const std::string& action) {
  const int code = db_ != nullptr ? (sqlite3_errcode(db_) & 0xFF) : SQLITE_OK;
  busy_ = code == SQLITE_BUSY || code == SQLITE_LOCKED;
  error_ = "cannot " + action + " " + path_.string() + ": " +
           (db_ != nullptr ? sqlite3_errmsg(db_) : "not open");
  return false;
}

bool LocalRecord::open(const std::filesystem::path& file) {
  close();
  path_ = file;
  error_.clear();
  std::error_code ec;
  if (!std::filesystem::is_regular_file(file, ec)) {
    error_ = "cannot open " + file.string() + ": no such record file";
    return false;
  }
  if (sqlite3_open_v2(file.c_str(), &db_, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
    // A record we may only read is still opened, so the status can count its scans and say
    // why they stay where they are: without a place for its progress it is not sent.
    sqlite3_close_v2(db_);
    db_ = nullptr;
    if (sqlite3_open_v2(file.c_str(), &db_, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
      fail("open");
      close();
      return false;
    }
  }
  sqlite3_busy_timeout(db_, kBusyMs);
  // Our own commits (the progress) need not sync the disk: a progress lost to a power cut only
  // sends scans again, which the central store drops. So the run's append never waits for a sync
  // of ours.
  sqlite3_exec(db_, "PRAGMA synchronous=NORMAL", nullptr, nullptr, nullptr);
  sqlite3_db_config(db_, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
  sqlite3_db_config(db_, SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);
  Stmt probe;
  if (sqlite3_prepare_v2(db_, "SELECT NUM, Time FROM DATA LIMIT 0", -1, &probe.s_, nullptr) !=
      SQLITE_OK) {
    fail("read the scans of");
    close();
    return false;
  }
  return true;
}

void LocalRecord::close() {
  if (db_ != nullptr) sqlite3_close_v2(db_);
  db_ = nullptr;
}

bool LocalRecord::hasTable(const char* name, bool& has) {
  has = false;
  Stmt q;
  if (sqlite3_prepare_v2(db_,
                         "SELECT 1 FROM sqlite_master WHERE type='table' AND name=?1 COLLATE NOCASE",
                         -1, &q.s_, nullptr) != SQLITE_OK) {
    return fail("read the tables of");
  }
  sqlite3_bind_text(q.s_, 1, name, -1, SQLITE_STATIC);
  const int rc = sqlite3_step(q.s_);
  if (rc != SQLITE_ROW && rc != SQLITE_DONE) return fail("read the tables of");
  has = rc == SQLITE_ROW;
  return true;
}

bool LocalRecord::loadProgress(const std::string& target, const std::string& url,
                               Progress& out, bool create) {
  out = {};
  bool has = false;
  if (!hasTable("CENTRAL_PROGRESS", has)) return false;
  if (has) {
    Stmt q;
    if (sqlite3_prepare_v2(db_,
                           "SELECT record_uid, last_rowid, last_num, alarm_from"
                           " FROM CENTRAL_PROGRESS WHERE target=?1 OR (?1 = '' AND url=?2)"
                           " ORDER BY updated DESC LIMIT 1",
                           -1, &q.s_, nullptr) != SQLITE_OK) {
      return fail("read the forwarding progress of");
    }
    sqlite3_bind_text(q.s_, 1, target.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(q.s_, 2, url.c_str(), -1, SQLITE_TRANSIENT);
    const int rc = sqlite3_step(q.s_);
    if (rc == SQLITE_ROW && !text(q.s_, 0).empty()) {
      out.recordUid = text(q.s_, 0);
      out.lastRowid = optInt(q.s_, 1).value_or(0);
      out.lastNum = optInt(q.s_, 2).value_or(0);
      out.alarmFrom = optInt(q.s_, 3).value_or(0);
      return true;
    }
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) return fail("read the forwarding progress of");
  }
  if (!create || target.empty()) return true;  // only looking
  out.recordUid = newUid();
  return saveProgress(target, url, out);
}

bool LocalRecord::saveProgress(const std::string& target, const std::string& url,
                               const Progress& p) {
  busy_ = false;
  if (sqlite3_db_readonly(db_, "main") == 1) {
    error_ = "cannot keep the forwarding progress in " + path_.string() +
             ": the file is read-only";
    return false;
  }
  // Autocommit statements: each is its own short write transaction.
  if (sqlite3_exec(db_,
                   "CREATE TABLE IF NOT EXISTS CENTRAL_PROGRESS (target TEXT PRIMARY KEY,"
                   " record_uid TEXT, last_rowid INTEGER, last_num INTEGER, alarm_from INTEGER,"
                   " url TEXT, updated TEXT)",
                   nullptr, nullptr, nullptr) != SQLITE_OK) {
    return fail("keep the forwarding progress in");
  }
  Stmt q;
  if (sqlite3_prepare_v2(db_,
                         "INSERT OR REPLACE INTO CENTRAL_PROGRESS VALUES"
                         " (?1, ?2, ?3, ?4, ?5, ?6, strftime('%Y-%m-%d %H:%M:%f', 'now'))",
                         -1, &q.s_, nullptr) != SQLITE_OK) {
    return fail("keep the forwarding progress in");
  }
  sqlite3_bind_text(q.s_, 1, target.c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_text(q.s_, 2, p.recordUid.c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_int64(q.s_, 3, p.lastRowid);
  sqlite3_bind_int64(q.s_, 4, p.lastNum);
  sqlite3_bind_int64(q.s_, 5, p.alarmFrom);
  sqlite3_bind_text(q.s_, 6, url.c_str(), -1, SQLITE_TRANSIENT);
  if (sqlite3_step(q.s_) != SQLITE_DONE) return fail("keep the forwarding progress in");
  return true;
}

bool LocalRecord::rowStillThere(std::int64_t rowid, std::int64_t num, bool& there) {
  there = false;
  Stmt q;
  if (sqlite3_prepare_v2(db_, "SELECT NUM FROM DATA WHERE rowid=?1", -1, &q.s_, nullptr) !=
      SQLITE_OK) {
    return fail("read the scans of");
  }
  sqlite3_bind_int64(q.s_, 1, rowid);
  const int rc = sqlite3_step(q.s_);
  if (rc == SQLITE_ROW) {
    there = optInt(q.s_, 0).value_or(0) == num;
  } else if (rc != SQLITE_DONE) {
    return fail("read the scans of");
  }
  return true;
}

bool LocalRecord::scansAfter(std::int64_t afterRowid, int limit, std::vector<LocalScan>& out,
                             std::int64_t& skipped) {
  out.clear();
  skipped = 0;
  std::string sql = "SELECT rowid, NUM, Time";
  for (int c = 1; c <= kChannels; ++c) sql += ", CH" + std::to_string(c);
  sql += " FROM DATA WHERE rowid > ?1 ORDER BY rowid LIMIT ?2";
  Stmt q;
  if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &q.s_, nullptr) != SQLITE_OK) {
    return fail("read the scans of");
  }
  sqlite3_bind_int64(q.s_, 1, afterRowid);
  sqlite3_bind_int64(q.s_, 2, limit);
  int rc;
  while ((rc = sqlite3_step(q.s_)) == SQLITE_ROW) {
    LocalScan scan;
    scan.rowid = sqlite3_column_int64(q.s_, 0);
    const auto num = optInt(q.s_, 1);
    if (!num) {
      ++skipped;
      // Kept with num 0 so the caller still moves past it.
      scan.num = 0;
    } else {
      scan.num = *num;
    }
    scan.time = text(q.s_, 2);
    for (int c = 0; c < kChannels; ++c) {
      scan.channels[static_cast<std::size_t>(c)] = text(q.s_, 3 + c);
    }
    out.push_back(std::move(scan));
  }
  if (rc != SQLITE_DONE) return fail("read the scans of");
  return true;
}

bool LocalRecord::countAfter(std::int64_t afterRowid, std::int64_t& count) {
  count = 0;
  Stmt q;
  if (sqlite3_prepare_v2(db_, "SELECT count(*) FROM DATA WHERE rowid > ?1", -1, &q.s_,
                         nullptr) != SQLITE_OK) {
    return fail("count the scans of");
  }
  sqlite3_bind_int64(q.s_, 1, afterRowid);
  if (sqlite3_step(q.s_) != SQLITE_ROW) return fail("count the scans of");
  count = sqlite3_column_int64(q.s_, 0);
  return true;
}

bool LocalRecord::meta(store::RecordMeta& out) {
  if (store::detail::loadMeta(db_, out) != SQLITE_OK) return fail("read the description of");
  std::erase_if(out.runs, [](const store::RunRow& r) { return r.runId == kLegacyRunId; });
  return true;
}

bool LocalRecord::alarmsFrom(std::int64_t fromId, std::vector<LocalAlarm>& out) {
  out.clear();
  bool has = false;
  if (!hasTable("ALARMS", has)) return false;
  if (!has) return true;
  Stmt q;
  if (sqlite3_prepare_v2(db_,
                         "SELECT id, run_id, channel, num, time, value, limit_kind, limit_value,"
                         " cleared_num, cleared_time FROM ALARMS WHERE id >= ?1 ORDER BY id",
                         -1, &q.s_, nullptr) != SQLITE_OK) {
    return fail("read the alarms of");
  }
  sqlite3_bind_int64(q.s_, 1, fromId);
  int rc;
  while ((rc = sqlite3_step(q.s_)) == SQLITE_ROW) {
    LocalAlarm a;
    a.id = sqlite3_column_int64(q.s_, 0);
    a.runId = optInt(q.s_, 1).value_or(kLegacyRunId);
    a.channel = optInt(q.s_, 2);
    // The central column is a smallint: a channel no card has is no channel.
    if (a.channel && (*a.channel < -32768 || *a.channel > 32767)) a.channel.reset();
    a.num = optInt(q.s_, 3);
    a.time = text(q.s_, 4);
    a.value = optReal(q.s_, 5);
    a.limitKind = text(q.s_, 6);
    a.limitValue = optReal(q.s_, 7);
    a.clearedNum = optInt(q.s_, 8);
    a.clearedTime = text(q.s_, 9);
    out.push_back(std::move(a));
  }
  if (rc != SQLITE_DONE) return fail("read the alarms of");
  return true;
}

std::int64_t runOfScan(const std::vector<store::RunRow>& runs, std::int64_t num) {
  std::int64_t best = kLegacyRunId;
  std::int64_t bestFirst = 0;
  for (const store::RunRow& r : runs) {
    if (r.firstNum && *r.firstNum <= num && (best == kLegacyRunId || *r.firstNum >= bestFirst)) {
      best = r.runId;
      bestFirst = *r.firstNum;
    }
  }
  return best;
}

}  // namespace kalivor::central
