// SPDX-License-Identifier: MIT
#include "central/central_reader.h"

#include <sqlite3.h>
#include <stdlib.h>

#include <map>

#include "common/numbers.h"
#include "store/record_files.h"
#include "store/record_meta.h"
#include "store/sqlite_record.h"

namespace kalivor::central {

bool listCentralRuns(PgConnection& conn, const std::string& bench, std::vector<CentralRun>& out,
                     std::string& error) {
  out.clear();
  PgResult r = conn.exec(
      "SELECT b.name, r.record_name, r.run_id, count(s.scan), min(s.scan), max(s.scan),"
      " to_char(min(s.time) AT TIME ZONE 'UTC', 'YYYY-MM-DD\"T\"HH24:MI:SS\"Z\"'),"
      " to_char(max(s.time) AT TIME ZONE 'UTC', 'YYYY-MM-DD\"T\"HH24:MI:SS\"Z\"'),"
      " COALESCE(r.serial, '')"
      " FROM runs r JOIN benches b ON b.id = r.bench_id LEFT JOIN scans s ON s.run_ref = r.id"
      " WHERE $1 = '' OR b.name = $1"
      " GROUP BY b.name, r.record_name, r.run_id, r.id, r.serial"
      " ORDER BY b.name, r.record_name, r.id",
      {bench});
  if (!r) {
    error = conn.error();
    return false;
  }
  for (int i = 0; i < PQntuples(r.get()); ++i) {
    CentralRun run;
    run.bench = cell(r.get(), i, 0);
    run.record = cell(r.get(), i, 1);
    run.runId = static_cast<std::int64_t>(leadingNumber(cell(r.get(), i, 2)));
    run.scans = static_cast<std::int64_t>(leadingNumber(cell(r.get(), i, 3)));
    run.firstScan = cell(r.get(), i, 4);
    run.lastScan = cell(r.get(), i, 5);
    run.startTime = cell(r.get(), i, 6);
    run.endTime = cell(r.get(), i, 7);
    run.serial = cell(r.get(), i, 8);
    out.push_back(std::move(run));
  }
  return true;
}

bool readCentralRecord(PgConnection& conn, const std::string& bench, const std::string& record,
                       const std::function<bool(const std::vector<store::RecordRow>&)>& page,
                       std::string& error, bool scanNumbers) {
  PgResult which = conn.exec(
      "SELECT r.bench_id, r.record_uid FROM runs r JOIN benches b ON b.id = r.bench_id"
      " WHERE b.name = $1 AND r.record_name = $2 ORDER BY r.id DESC LIMIT 1",
      {bench, record});
  if (!which) {
    error = conn.error();
    return false;
  }
  if (PQntuples(which.get()) == 0) {
    error = "the central store holds no record " + record + " of bench " + bench;
    return false;
  }
  const std::string benchId = cell(which.get(), 0, 0);
  const std::string uid = cell(which.get(), 0, 1);
  // A page of scans, then their readings: scan numbers need not be dense.
  std::string after = "-9223372036854775808";
  std::int64_t n = 0;
  for (;;) {
    PgResult scans = conn.exec(
        "SELECT DISTINCT ON (s.scan) s.scan, s.time_text, s.run_ref FROM scans s"
        " JOIN runs r ON r.id = s.run_ref WHERE r.bench_id = $1 AND r.record_uid = $2"
        " AND s.scan > $3 ORDER BY s.scan, s.run_ref LIMIT 1000",
        {benchId, uid, after});
    if (!scans) {
      error = conn.error();
      return false;
    }
    const int count = PQntuples(scans.get());
    if (count == 0) return true;
    std::vector<store::RecordRow> rows(static_cast<std::size_t>(count));
    std::map<std::string, std::size_t> index;  // "run_ref/scan" -> row
    for (int i = 0; i < count; ++i) {
      store::RecordRow& row = rows[static_cast<std::size_t>(i)];
      ++n;
      row[0] = scanNumbers ? cell(scans.get(), i, 0) : std::to_string(n);
      row[1] = cell(scans.get(), i, 1);
      for (int c = 2; c < store::kRecordColumns; ++c) row[static_cast<std::size_t>(c)] = " ";
      index[cell(scans.get(), i, 2) + '/' + cell(scans.get(), i, 0)] = static_cast<std::size_t>(i);
    }
    const std::string last = cell(scans.get(), count - 1, 0);
    PgResult readings = conn.exec(
        "SELECT d.run_ref, d.scan, d.channel, d.raw FROM readings d"
        " JOIN runs r ON r.id = d.run_ref WHERE r.bench_id = $1 AND r.record_uid = $2"
        " AND d.scan > $3 AND d.scan <= $4",
        {benchId, uid, after, last});
    if (!readings) {
      error = conn.error();
      return false;
    }
    for (int i = 0; i < PQntuples(readings.get()); ++i) {
      const auto it =
          index.find(cell(readings.get(), i, 0) + '/' + cell(readings.get(), i, 1));
      const auto channel = static_cast<int>(leadingNumber(cell(readings.get(), i, 2)));
      if (it == index.end() || channel < 1 || channel > store::kRecordChannels) continue;
      rows[it->second][static_cast<std::size_t>(channel + 1)] = cell(readings.get(), i, 3);
    }
    if (!page(rows)) return true;
    after = last;
  }
}

namespace {

namespace fs = std::filesystem;

// A statement on the snapshot, with its values bound as texts (nullopt: NULL).
bool sqliteRun(sqlite3* db, const std::string& sql,
               const std::vector<std::optional<std::string>>& values, std::string& error) {
  sqlite3_stmt* s = nullptr;
  int rc = sqlite3_prepare_v2(db, sql.c_str(), -1, &s, nullptr);
  for (std::size_t i = 0; rc == SQLITE_OK && i < values.size(); ++i) {
    const int at = static_cast<int>(i + 1);
    rc = values[i] ? sqlite3_bind_text(s, at, values[i]->c_str(), -1, SQLITE_TRANSIENT)
                   : sqlite3_bind_null(s, at);
  }
  if (rc == SQLITE_OK) rc = sqlite3_step(s);
  sqlite3_finalize(s);
  if (rc == SQLITE_DONE || rc == SQLITE_ROW) return true;
  error = std::string("cannot write the copy of the central record: ") + sqlite3_errmsg(db);
  return false;
}

std::optional<std::string> orNull(const PGresult* r, int row, int column) {
  if (isNull(r, row, column)) return std::nullopt;
  return cell(r, row, column);
}

// Copies every row a central query gives into the scratch record, field for field (NULL stays
// NULL).
bool copyRows(PgConnection& conn, sqlite3* db, const std::string& query, const std::string& bench,
              const std::string& record, const std::string& insert, std::string& error) {
  PgResult rows = conn.exec(query, {bench, record});
  if (!rows) {
    error = conn.error();
    return false;
  }
  const int columns = PQnfields(rows.get());
  for (int i = 0; i < PQntuples(rows.get()); ++i) {
    std::vector<std::optional<std::string>> v;
    for (int c = 0; c < columns; ++c) v.push_back(orNull(rows.get(), i, c));
    if (!sqliteRun(db, insert, v, error)) return false;
  }
  return true;
}

// RUNS, CHANNELS and ALARMS of the record's latest generation, as the bench's record described
// them.
bool copyDescription(PgConnection& conn, sqlite3* db, const std::string& bench,
                     const std::string& record, std::string& error) {
  const char* latest =
      " FROM runs r JOIN benches b ON b.id = r.bench_id WHERE b.name = $1 AND"
      " r.record_name = $2 AND r.run_id <> 0 AND r.record_uid = (SELECT r2.record_uid FROM runs"
      " r2 WHERE r2.bench_id = b.id AND r2.record_name = $2 ORDER BY r2.id DESC LIMIT 1)";
  return copyRows(conn, db,
                  std::string("SELECT r.run_id, r.first_scan, r.last_scan,"
                              " (SELECT s.time_text FROM scans s WHERE s.run_ref = r.id ORDER BY"
                              " s.scan LIMIT 1),"
                              " (SELECT s.time_text FROM scans s WHERE s.run_ref = r.id ORDER BY"
                              " s.scan DESC LIMIT 1), r.program_version, r.resource, r.identity,"
                              " r.serial, r.card_code, r.card_description, r.setup_ini") +
                      latest + " ORDER BY r.run_id",
                  bench, record,
                  "INSERT INTO RUNS(run_id, first_num, last_num, start_time, end_time,"
                  " program_version, resource, identity, serial, card_code, card_description,"
                  " setup_ini) VALUES (?1,?2,?3,?4,?5,?6,?7,?8,?9,?10,?11,?12)",
                  error) &&
         copyRows(conn, db,
                  std::string("SELECT r.run_id, c->>'channel', c->>'function', c->>'sensor_type',"
                              " c->>'shunt_ohms', c->>'offset_current', c->>'scale_m',"
                              " c->>'scale_b', c->>'unit', c->>'alarm_low', c->>'alarm_high'"
                              " FROM (SELECT r.run_id, r.channels") +
                      latest + ") r, json_array_elements(r.channels::json) c ORDER BY 1, 2",
                  bench, record,
                  "INSERT OR REPLACE INTO CHANNELS(run_id, channel, function, sensor_type,"
                  " shunt_ohms, offset_current, scale_m, scale_b, unit_label, alarm_low,"
                  " alarm_high) VALUES (?1,?2,?3,?4,CAST(?5 AS REAL),CAST(?6 AS REAL),"
                  "CAST(?7 AS REAL),CAST(?8 AS REAL),?9,CAST(?10 AS REAL),CAST(?11 AS REAL))",
                  error) &&
         // The alarms, with their times as the bench wrote them: those of the scans that raised
         // and cleared them (the central time is UTC, the record's is the bench's own clock).
         copyRows(conn, db,
                  "SELECT a.alarm_id, r.run_id, a.channel, a.scan, (SELECT s.time_text FROM scans"
                  " s WHERE s.run_ref = a.run_ref AND s.scan = a.scan), a.value, a.limit_kind,"
                  " a.limit_value, a.cleared_scan, (SELECT s.time_text FROM scans s WHERE"
                  " s.run_ref = a.run_ref AND s.scan = a.cleared_scan)"
                  " FROM alarms a JOIN runs r ON r.id = a.run_ref JOIN benches b ON b.id ="
                  " r.bench_id WHERE b.name = $1 AND r.record_name = $2 AND r.record_uid ="
                  " (SELECT r2.record_uid FROM runs r2 WHERE r2.bench_id = b.id AND"
                  " r2.record_name = $2 ORDER BY r2.id DESC LIMIT 1) ORDER BY a.alarm_id",
                  bench, record,
                  "INSERT INTO ALARMS(id, run_id, channel, num, time, value, limit_kind,"
                  " limit_value, cleared_num, cleared_time) VALUES (?1,?2,?3,?4,?5,"
                  "CAST(?6 AS REAL),?7,CAST(?8 AS REAL),?9,?10)",
                  error);
}
}  // namespace

CentralSnapshot::~CentralSnapshot() { remove(); }

void CentralSnapshot::remove() {
  if (folder_.empty()) return;
  std::error_code ec;
  fs::remove_all(folder_, ec);
  folder_.clear();
  file_.clear();
}

bool CentralSnapshot::rowsOfScans(std::int64_t first, std::int64_t last, std::int64_t& fromRow,
                                  std::int64_t& toRow) const {
  fromRow = toRow = 0;
  sqlite3* db = nullptr;
  bool ok = !file_.empty() &&
            sqlite3_open_v2(file_.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK;
  sqlite3_stmt* q = nullptr;
  ok = ok && sqlite3_prepare_v2(db,
                                "SELECT count(*) FILTER (WHERE CAST(NUM AS INTEGER) < ?1),"
                                " count(*) FILTER (WHERE CAST(NUM AS INTEGER) <= ?2) FROM DATA",
                                -1, &q, nullptr) == SQLITE_OK;
  if (ok) {
    sqlite3_bind_int64(q, 1, first);
    sqlite3_bind_int64(q, 2, last);
    ok = sqlite3_step(q) == SQLITE_ROW;
  }
  if (ok) {
    fromRow = sqlite3_column_int64(q, 0) + 1;
    toRow = sqlite3_column_int64(q, 1);
  }
  sqlite3_finalize(q);
  sqlite3_close(db);
  return ok && toRow >= fromRow;
}

bool CentralSnapshot::make(PgConnection& conn, const std::string& bench,
                           const std::string& record, std::string& error) {
  remove();
  std::error_code ec;
  std::string pattern = (fs::temp_directory_path(ec) / "kalivor-central-XXXXXX").string();
  if (ec || ::mkdtemp(pattern.data()) == nullptr) {
    error = "cannot make a temporary folder for the central record";
    return false;
  }
  folder_ = pattern;
  if (!store::isPlainFileName(record) ||
      !fs::create_directory(store::recordFolder(folder_), ec)) {
    error = "the central store holds no record " + record + " of bench " + bench;
    remove();
    return false;
  }
  file_ = store::recordFolder(folder_) / record;
  sqlite3* db = nullptr;
  bool ok = sqlite3_open_v2(file_.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                            nullptr) == SQLITE_OK;
  std::string columns = store::detail::recordColumnList();
  std::string placeholders = "?1";
  for (int c = 2; c <= store::kRecordColumns; ++c) placeholders += ",?" + std::to_string(c);
  // A scratch copy: nothing to survive a crash, so no journal and no syncs.
  ok = ok && sqliteRun(db, "PRAGMA journal_mode=OFF", {}, error) &&
       sqliteRun(db, "PRAGMA synchronous=OFF", {}, error) && sqliteRun(db, "BEGIN", {}, error) &&
       sqliteRun(db, "CREATE TABLE DATA (" + columns + ")", {}, error);
  if (ok && store::detail::createMetaTables(db) != SQLITE_OK) {
    error = std::string("cannot write the copy of the central record: ") + sqlite3_errmsg(db);
    ok = false;
  }
  ok = ok && copyDescription(conn, db, bench, record, error);
  if (ok) {
    std::string pageError;
    const std::string insert = "INSERT INTO DATA (" + columns + ") VALUES (" + placeholders + ")";
    sqlite3_stmt* add = nullptr;
    if (sqlite3_prepare_v2(db, insert.c_str(), -1, &add, nullptr) != SQLITE_OK) {
      pageError = std::string("cannot write the copy of the central record: ") + sqlite3_errmsg(db);
    }
    ok = add != nullptr &&
         readCentralRecord(
             conn, bench, record,
             [&](const std::vector<store::RecordRow>& rows) {
               for (const store::RecordRow& row : rows) {
                 for (int c = 0; c < store::kRecordColumns; ++c) {
                   const std::string& text = row[static_cast<std::size_t>(c)];
                   sqlite3_bind_text(add, c + 1, text.c_str(), static_cast<int>(text.size()),
                                     SQLITE_STATIC);
                 }
                 const int rc = sqlite3_step(add);
                 sqlite3_reset(add);
                 if (rc != SQLITE_DONE) {
                   pageError = std::string("cannot write the copy of the central record: ") +
                               sqlite3_errmsg(db);
                   return false;
                 }
               }
               return true;
             },
             error, true);
    sqlite3_finalize(add);
    if (!pageError.empty()) {
      error = pageError;
      ok = false;
    }
  }
  ok = ok && sqliteRun(db, "COMMIT", {}, error);
  sqlite3_close(db);
  if (!ok) remove();
  return ok;
}

}  // namespace kalivor::central
