// SPDX-License-Identifier: MIT
#pragma once
// The central database's tables, created and migrated by the program. Each step of the schema
// has a number; table kalivor_schema remembers which steps a database has, and a database made by
// a newer program than this one is left alone.
#include <string>

#include "central/pg.h"

namespace kalivor::central {

inline constexpr int kSchemaVersion = 1;

struct SchemaState {
  int version = 0;          // steps the database has after migrating
  std::string databaseUid;  // made once with the schema; names this database in local progress
};

// Brings the schema up to kSchemaVersion in one transaction, serialised with other benches by an
// advisory lock. False with `error` set when it cannot (no rights, a newer schema, a lost server).
bool migrateSchema(PgConnection& conn, SchemaState& state, std::string& error);

}  // namespace kalivor::central
