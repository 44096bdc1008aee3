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

}  // namespace

int renumberRows(sqlite3* db, RenumberMethod method, std::int64_t* changed) {
  return method == RenumberMethod::RowByRow ? renumberRowByRow(db, changed)
                                            : renumberSetBased(db, changed);
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
