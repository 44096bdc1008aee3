// SPDX-License-Identifier: MIT
#include "store/renumber.h"

#include <charconv>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "store/sqlite_record.h"

namespace kalivor::store::detail {
namespace {

// Whether column `column` holds exactly the decimal text of n; NULL never does.
bool numIs(sqlite3_stmt* stmt, int column, std::int64_t n) {
  char expected[24];
  const auto end = std::to_chars(expected, expected + sizeof expected, n).ptr;
  const auto* text = sqlite3_column_text(stmt, column);
  const auto length = static_cast<std::size_t>(end - expected);
  return text != nullptr && static_cast<std::size_t>(sqlite3_column_bytes(stmt, column)) == length &&
         std::memcmp(text, expected, length) == 0;
}

// NUM is compared as text with the canonical number: a stored "05" or "5.0" would never be found
// by the lookups on NUM='5', so it is rewritten too.
int renumberRowByRow(sqlite3* db, std::int64_t* changed) {
  Statement scan;
  int rc = sqlite3_prepare_v2(db, "SELECT rowid, NUM FROM DATA ORDER BY rowid", -1, scan.out(),
                              nullptr);
  if (rc != SQLITE_OK) return rc;
  std::vector<sqlite3_int64> doomed;
  std::vector<std::pair<sqlite3_int64, std::int64_t>> renumbered;
  std::int64_t n = 0;
  while ((rc = sqlite3_step(scan.get())) == SQLITE_ROW) {
    const sqlite3_int64 rowid = sqlite3_column_int64(scan.get(), 0);
    if (sqlite3_column_type(scan.get(), 1) == SQLITE_NULL) {
      doomed.push_back(rowid);
      continue;
    }
    if (!numIs(scan.get(), 1, ++n)) renumbered.emplace_back(rowid, n);
  }
  if (rc != SQLITE_DONE) return rc;

  Statement del;
  Statement upd;
  if (!doomed.empty()) {
    rc = sqlite3_prepare_v2(db, "DELETE FROM DATA WHERE rowid = ?1", -1, del.out(), nullptr);
    if (rc != SQLITE_OK) return rc;
    for (sqlite3_int64 id : doomed) {
      sqlite3_bind_int64(del.get(), 1, id);
      if ((rc = sqlite3_step(del.get())) != SQLITE_DONE) return rc;
      sqlite3_reset(del.get());
    }
  }
  if (!renumbered.empty()) {
    rc = sqlite3_prepare_v2(db, "UPDATE DATA SET NUM = ?2 WHERE rowid = ?1", -1, upd.out(),
                            nullptr);
    if (rc != SQLITE_OK) return rc;
    for (const auto& [id, num] : renumbered) {
      const std::string text = std::to_string(num);
      sqlite3_bind_int64(upd.get(), 1, id);
      sqlite3_bind_text(upd.get(), 2, text.data(), static_cast<int>(text.size()),
                        SQLITE_TRANSIENT);
      if ((rc = sqlite3_step(upd.get())) != SQLITE_DONE) return rc;
      sqlite3_reset(upd.get());
    }
  }
  if (changed != nullptr) {
    *changed = static_cast<std::int64_t>(doomed.size() + renumbered.size());
  }
  return SQLITE_OK;
}

// ROW_NUMBER() over rowid order after the NULL rows are gone is exactly the running number of the
// row-by-row walk.
constexpr const char* kSetUpdate =
    "WITH r AS (SELECT rowid AS id, CAST(ROW_NUMBER() OVER (ORDER BY rowid) AS TEXT) AS n "
    "FROM DATA) "
    "UPDATE DATA SET NUM = r.n FROM r "
    "WHERE DATA.rowid = r.id AND CAST(DATA.NUM AS TEXT) <> r.n";

int renumberSetBased(sqlite3* db, std::int64_t* changed) {
  if (changed != nullptr) *changed = 0;
  // The windowed UPDATE costs far more than a walk over NUM, and most records need nothing.
  bool needed = false;
  int rc = renumberNeeded(db, needed);
  if (rc != SQLITE_OK || !needed) return rc;
  rc = sqlite3_exec(db, "DELETE FROM DATA WHERE NUM IS NULL", nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) return rc;
  const sqlite3_int64 deleted = sqlite3_changes64(db);
  rc = sqlite3_exec(db, kSetUpdate, nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) return rc;
  if (changed != nullptr) *changed = deleted + sqlite3_changes64(db);
  return SQLITE_OK;
}

// The scan numbers the record's description refers to (RUNS, ALARMS) follow their rows through
// renumbering: before it, each referenced number is tied to the first stored row that carries
// it; afterwards the reference takes that row's new number. A number no row carries is left.
bool hasReferences(sqlite3* db) {
  Statement q;
  if (sqlite3_prepare_v2(db,
                         "SELECT count(*) FROM sqlite_schema WHERE type = 'table' AND"
                         " (name = 'RUNS' COLLATE NOCASE OR name = 'ALARMS' COLLATE NOCASE)",
                         -1, q.out(), nullptr) != SQLITE_OK ||
      sqlite3_step(q.get()) != SQLITE_ROW) {
    return false;
  }
  return sqlite3_column_int(q.get(), 0) == 2;
}

constexpr const char* kTieReferences =
    "DROP TABLE IF EXISTS temp.kalivor_refs;"
    "DROP TABLE IF EXISTS temp.kalivor_ties;"
    "CREATE TEMP TABLE kalivor_refs(t TEXT PRIMARY KEY);"
    "CREATE TEMP TABLE kalivor_ties(t TEXT PRIMARY KEY, rid INTEGER);"
    "INSERT OR IGNORE INTO temp.kalivor_refs SELECT CAST(k AS TEXT) FROM"
    " (SELECT first_num AS k FROM RUNS UNION SELECT last_num FROM RUNS"
    "  UNION SELECT num FROM ALARMS UNION SELECT cleared_num FROM ALARMS) WHERE k IS NOT NULL;"
    "INSERT INTO temp.kalivor_ties SELECT NUM, min(rowid) FROM DATA"
    " WHERE NUM IN (SELECT t FROM temp.kalivor_refs) GROUP BY NUM;";

// Each reference column gets the new number of its tied row.
std::string followSql(const char* table, const char* column) {
  const std::string c = column;
  return std::string("UPDATE ") + table + " SET " + c +
         " = (SELECT CAST(d.NUM AS INTEGER) FROM temp.kalivor_ties m JOIN DATA d"
         " ON d.rowid = m.rid WHERE m.t = CAST(" + table + "." + c + " AS TEXT))"
         " WHERE CAST(" + c + " AS TEXT) IN (SELECT t FROM temp.kalivor_ties);";
}

int followReferences(sqlite3* db) {
  const std::string sql = followSql("RUNS", "first_num") + followSql("RUNS", "last_num") +
                          followSql("ALARMS", "num") + followSql("ALARMS", "cleared_num");
  return sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr);
}

void dropTies(sqlite3* db) {
  sqlite3_exec(db, "DROP TABLE IF EXISTS temp.kalivor_refs; DROP TABLE IF EXISTS temp.kalivor_ties;",
               nullptr, nullptr, nullptr);
}

}  // namespace

int renumberRows(sqlite3* db, RenumberMethod method, std::int64_t* changed) {
  if (changed != nullptr) *changed = 0;
  bool needed = false;
  int rc = renumberNeeded(db, needed);
  if (rc != SQLITE_OK || !needed) return rc;
  const bool references = hasReferences(db);
  if (references && (rc = sqlite3_exec(db, kTieReferences, nullptr, nullptr, nullptr)) != SQLITE_OK) {
    dropTies(db);
    return rc;
  }
  rc = method == RenumberMethod::RowByRow ? renumberRowByRow(db, changed)
                                          : renumberSetBased(db, changed);
  if (rc == SQLITE_OK && references) rc = followReferences(db);
  if (references) dropTies(db);
  return rc;
}

int renumberNeeded(sqlite3* db, bool& needed) {
  needed = false;
  Statement scan;
  int rc = sqlite3_prepare_v2(db, "SELECT NUM FROM DATA ORDER BY rowid", -1, scan.out(), nullptr);
  if (rc != SQLITE_OK) return rc;
  std::int64_t n = 0;
  while ((rc = sqlite3_step(scan.get())) == SQLITE_ROW) {
    if (!numIs(scan.get(), 0, ++n)) {
      needed = true;
      return SQLITE_OK;
    }
  }
  return rc == SQLITE_DONE ? SQLITE_OK : rc;
}

}  // namespace kalivor::store::detail
