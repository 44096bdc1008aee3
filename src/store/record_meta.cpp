// SPDX-License-Identifier: MIT
#include "store/record_meta.h"

#include <algorithm>

#include "store/sqlite_record.h"

namespace kalivor::store {
namespace detail {
namespace {

constexpr const char* kCreateMeta =
    "CREATE TABLE IF NOT EXISTS RUNS(run_id INTEGER PRIMARY KEY, first_num INTEGER,"
    " last_num INTEGER, start_time TEXT, end_time TEXT, program_version TEXT, resource TEXT,"
    " identity TEXT, serial TEXT, card_code INTEGER, card_description TEXT, setup_ini TEXT);"
    "CREATE TABLE IF NOT EXISTS CHANNELS(run_id INTEGER, channel INTEGER, function TEXT,"
    " sensor_type TEXT, shunt_ohms REAL, offset_current REAL, scale_m REAL, scale_b REAL,"
    " unit_label TEXT, alarm_low REAL, alarm_high REAL, PRIMARY KEY(run_id, channel));"
    "CREATE TABLE IF NOT EXISTS ALARMS(id INTEGER PRIMARY KEY, run_id INTEGER, channel INTEGER,"
    " num INTEGER, time TEXT, value REAL, limit_kind TEXT, limit_value REAL,"
    " cleared_num INTEGER, cleared_time TEXT);";

std::optional<std::int64_t> optionalInt(sqlite3_stmt* s, int column) {
  if (sqlite3_column_type(s, column) == SQLITE_NULL) return std::nullopt;
  return sqlite3_column_int64(s, column);
}

std::optional<double> optionalReal(sqlite3_stmt* s, int column) {
  if (sqlite3_column_type(s, column) == SQLITE_NULL) return std::nullopt;
  return sqlite3_column_double(s, column);
}

// Runs `sql` and hands each result row to `row`; an SQLite result code.
template <typename Row>
int eachRow(sqlite3* db, const char* sql, Row row) {
  Statement q;
  int rc = sqlite3_prepare_v2(db, sql, -1, q.out(), nullptr);
  if (rc != SQLITE_OK) return rc;
  while ((rc = sqlite3_step(q.get())) == SQLITE_ROW) row(q.get());
  return rc == SQLITE_DONE ? SQLITE_OK : rc;
}

}  // namespace

int createMetaTables(sqlite3* db) { return sqlite3_exec(db, kCreateMeta, nullptr, nullptr, nullptr); }

bool hasTable(sqlite3* db, const char* name) {
  Statement q;
  if (sqlite3_prepare_v2(db,
                         "SELECT 1 FROM sqlite_schema WHERE type = 'table' AND name = ?1"
                         " COLLATE NOCASE",
                         -1, q.out(), nullptr) != SQLITE_OK) {
    return false;
  }
  sqlite3_bind_text(q.get(), 1, name, -1, SQLITE_STATIC);
  return sqlite3_step(q.get()) == SQLITE_ROW;
}

int loadMeta(sqlite3* db, RecordMeta& out) {
  out = RecordMeta{};
  int rc = SQLITE_OK;
  if (hasTable(db, "RUNS")) {
    rc = eachRow(db,
                 "SELECT run_id, first_num, last_num, start_time, end_time, program_version,"
                 " resource, identity, serial, card_code, card_description, setup_ini"
                 " FROM RUNS ORDER BY run_id",
                 [&](sqlite3_stmt* s) {
                   RunRow r;
                   r.runId = sqlite3_column_int64(s, 0);
                   r.firstNum = optionalInt(s, 1);
                   r.lastNum = optionalInt(s, 2);
                   r.info.startTime = columnText(s, 3);
                   r.endTime = columnText(s, 4);
                   r.info.programVersion = columnText(s, 5);
                   r.info.resource = columnText(s, 6);
                   r.info.identity = columnText(s, 7);
                   r.info.serial = columnText(s, 8);
                   if (auto code = optionalInt(s, 9)) r.info.cardCode = static_cast<int>(*code);
                   r.info.cardDescription = columnText(s, 10);
                   r.info.setupIni = columnText(s, 11);
                   out.runs.push_back(std::move(r));
                 });
    if (rc != SQLITE_OK) return rc;
  }
  if (hasTable(db, "CHANNELS")) {
    rc = eachRow(db,
                 "SELECT run_id, channel, function, sensor_type, shunt_ohms, offset_current,"
                 " scale_m, scale_b, unit_label, alarm_low, alarm_high FROM CHANNELS"
                 " ORDER BY run_id, channel",
                 [&](sqlite3_stmt* s) {
                   ChannelRow c;
                   c.runId = sqlite3_column_int64(s, 0);
                   c.info.channel = sqlite3_column_int(s, 1);
                   c.info.function = columnText(s, 2);
                   c.info.sensorType = columnText(s, 3);
                   c.info.shuntOhms = optionalReal(s, 4);
                   c.info.offsetCurrent = optionalReal(s, 5);
                   c.info.scaleM = optionalReal(s, 6);
                   c.info.scaleB = optionalReal(s, 7);
                   c.info.unitLabel = columnText(s, 8);
                   c.info.alarmLow = optionalReal(s, 9);
                   c.info.alarmHigh = optionalReal(s, 10);
                   out.channels.push_back(std::move(c));
                 });
    if (rc != SQLITE_OK) return rc;
  }
  if (hasTable(db, "ALARMS")) {
    rc = eachRow(db,
                 "SELECT id, run_id, channel, num, time, value, limit_kind, limit_value,"
                 " cleared_num, cleared_time FROM ALARMS ORDER BY id",
                 [&](sqlite3_stmt* s) {
                   AlarmRow a;
                   a.id = sqlite3_column_int64(s, 0);
                   a.runId = sqlite3_column_int64(s, 1);
                   a.channel = sqlite3_column_int(s, 2);
                   a.num = sqlite3_column_int64(s, 3);
                   a.time = columnText(s, 4);
                   a.value = sqlite3_column_double(s, 5);
                   a.limitKind = columnText(s, 6);
                   a.limitValue = sqlite3_column_double(s, 7);
                   a.clearedNum = optionalInt(s, 8);
                   a.clearedTime = columnText(s, 9);
                   out.alarms.push_back(std::move(a));
                 });
  }
  return rc;
}

}  // namespace detail

const char* limitKindText(LimitKind kind) { return kind == LimitKind::Low ? "low" : "high"; }

const RunRow* RecordMeta::runOf(std::int64_t num) const {
  for (auto it = runs.rbegin(); it != runs.rend(); ++it) {
    if (it->firstNum && num >= *it->firstNum && (!it->lastNum || num <= *it->lastNum)) return &*it;
  }
  return nullptr;
}

const ChannelInfo* RecordMeta::channelOf(std::int64_t runId, int channel) const {
  for (const ChannelRow& c : channels) {
    if (c.runId == runId && c.info.channel == channel) return &c.info;
  }
  return nullptr;
}

std::vector<const ChannelRow*> RecordMeta::channelsOf(std::int64_t runId) const {
  std::vector<const ChannelRow*> out;
  for (const ChannelRow& c : channels) {
    if (c.runId == runId) out.push_back(&c);
  }
  return out;
}

StoreStatus readRecordMeta(const std::filesystem::path& recordFile, RecordMeta& out) {
  out = RecordMeta{};
  detail::RecordDb db;
  if (StoreStatus st = db.open(recordFile, detail::OpenMode::ReadOnly); !st.ok()) return st;
  if (detail::loadMeta(db.handle(), out) != SQLITE_OK) {
    StoreStatus st = db.failure("read the description of");
    out = RecordMeta{};
    return st;
  }
  return StoreStatus::success();
}

}  // namespace kalivor::store
