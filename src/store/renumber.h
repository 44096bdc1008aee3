// SPDX-License-Identifier: MIT
#pragma once
// The renumbering pass every opener of a record runs: rows in the order they were appended
// (rowid order); rows whose NUM is NULL are deleted; the others get NUM 1, 2, 3 ... written as
// decimal text wherever the stored text differs.
#include <sqlite3.h>

#include <cstdint>

namespace kalivor::store {

enum class RenumberMethod {
  RowByRow,  // walk the rows and fix each one, as a record set would
  SetBased,  // one DELETE and one windowed UPDATE; the default (faster, same result)
};

namespace detail {

// Runs inside the caller's write transaction; returns an SQLite result code (SQLITE_OK on
// success). `changed` (optional) receives the number of rows deleted or rewritten.
int renumberRows(sqlite3* db, RenumberMethod method = RenumberMethod::SetBased,
                 std::int64_t* changed = nullptr);

// Whether the pass would change anything (for record files that can only be read).
int renumberNeeded(sqlite3* db, bool& needed);

}  // namespace detail
}  // namespace kalivor::store
