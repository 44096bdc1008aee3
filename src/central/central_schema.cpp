// SPDX-License-Identifier: MIT
#include "central/central_schema.h"

#include <array>

#include "common/numbers.h"

namespace kalivor::central {
namespace {

// Step 1: benches, instruments, runs, scans, readings (long form), alarms, the dashboards' view.
// Times are timestamptz (the bench's local stamp turned into an instant); the stamp as the record
// holds it is kept in scans.time_text so an export gives the record's text back.
constexpr const char* kStep1 = R"SQL(
CREATE TABLE benches (
  id         serial PRIMARY KEY,
  name       text NOT NULL UNIQUE,
  first_seen timestamptz NOT NULL DEFAULT now(),
  last_seen  timestamptz NOT NULL DEFAULT now()
);
CREATE TABLE instruments (
  id               serial PRIMARY KEY,
  serial           text NOT NULL,
  identity         text NOT NULL,
  card_code        integer NOT NULL,
  card_description text NOT NULL DEFAULT '',
  UNIQUE (serial, identity, card_code)
);
CREATE TABLE runs (
  id               bigserial PRIMARY KEY,
  bench_id         integer NOT NULL REFERENCES benches(id),
  record_name      text NOT NULL,
  record_uid       text NOT NULL,
  run_id           bigint NOT NULL,
  instrument_id    integer REFERENCES instruments(id),
  first_scan       bigint,
  last_scan        bigint,
  start_time       timestamptz,
  end_time         timestamptz,
  program_version  text,
  resource         text,
  identity         text,
  serial           text,
  card_code        integer,
  card_description text,
  setup_ini        text,
  channels         jsonb NOT NULL DEFAULT '[]',
  UNIQUE (bench_id, record_uid, run_id)
);
CREATE INDEX runs_by_instrument ON runs (instrument_id, start_time DESC);
CREATE INDEX runs_by_record ON runs (bench_id, record_name);
CREATE TABLE scans (
  run_ref   bigint NOT NULL REFERENCES runs(id),
  scan      bigint NOT NULL,
  time      timestamptz,
  time_text text NOT NULL,
  PRIMARY KEY (run_ref, scan)
);
CREATE TABLE readings (
  run_ref bigint NOT NULL,
  scan    bigint NOT NULL,
  channel smallint NOT NULL,
  time    timestamptz,
  value   double precision,
  raw     text NOT NULL,
  scaled  double precision,
  unit    text,
  PRIMARY KEY (run_ref, scan, channel),
  FOREIGN KEY (run_ref, scan) REFERENCES scans(run_ref, scan)
);
CREATE INDEX readings_channel_time ON readings (run_ref, channel, time);
CREATE TABLE alarms (
  run_ref      bigint NOT NULL REFERENCES runs(id),
  alarm_id     bigint NOT NULL,
  channel      smallint,
  scan         bigint,
  time         timestamptz,
  value        double precision,
  limit_kind   text,
  limit_value  double precision,
  cleared_scan bigint,
  cleared_time timestamptz,
  PRIMARY KEY (run_ref, alarm_id)
);
CREATE INDEX alarms_time ON alarms (time);
-- The newest scan of each instrument (or, for runs that name none, of each record) with every
-- channel's reading: the runs are few, and each run's newest scan is found through its key.
CREATE VIEW latest_readings AS
SELECT b.name AS bench, r.record_name, r.run_id, r.serial, r.identity, s.scan, s.time,
       d.channel, d.value, d.scaled, d.unit, d.raw
FROM (SELECT DISTINCT ON (bench_id, COALESCE(NULLIF(serial, ''), 'record:' || record_name)) *
        FROM runs
       ORDER BY bench_id, COALESCE(NULLIF(serial, ''), 'record:' || record_name),
                start_time DESC NULLS LAST, id DESC) r
JOIN benches b ON b.id = r.bench_id
CROSS JOIN LATERAL (SELECT sc.scan, sc.time FROM scans sc WHERE sc.run_ref = r.id
                     ORDER BY sc.scan DESC LIMIT 1) s
JOIN readings d ON d.run_ref = r.id AND d.scan = s.scan;
)SQL";

const std::array<const char*, kSchemaVersion> kSteps = {kStep1};

}  // namespace

bool migrateSchema(PgConnection& conn, SchemaState& state, std::string& error) {
  state = {};
  auto fail = [&](const std::string& text) {
    error = text;
    conn.run("ROLLBACK");
    return false;
  };
  if (!conn.run("BEGIN")) return fail(conn.error());
  // Two benches starting together must not both create the tables.
  if (!conn.run("SELECT pg_advisory_xact_lock(4759117)")) return fail(conn.error());
  // Looked up first: a bench's role may write rows but not make tables, and CREATE ... IF NOT
  // EXISTS asks for that right even when the table is there.
  PgResult exists = conn.exec("SELECT to_regclass('kalivor_schema') IS NOT NULL");
  if (!exists) return fail(conn.error());
  if (cell(exists.get(), 0, 0) != "t" &&
      !conn.run("CREATE TABLE kalivor_schema ("
                " version integer NOT NULL,"
                " database_uid text NOT NULL,"
                " migrated_at timestamptz NOT NULL DEFAULT now())")) {
    return fail(conn.error());
  }
  PgResult r = conn.exec("SELECT version, database_uid FROM kalivor_schema"
                         " ORDER BY version DESC LIMIT 1");
  if (!r) return fail(conn.error());
  int version = 0;
  std::string uid;
  if (PQntuples(r.get()) == 1) {
    version = static_cast<int>(leadingNumber(cell(r.get(), 0, 0)));
    uid = cell(r.get(), 0, 1);
  } else {
    PgResult u = conn.exec("SELECT md5(random()::text || clock_timestamp()::text)");
    if (!u) return fail(conn.error());
    uid = cell(u.get(), 0, 0);
  }
  if (version > kSchemaVersion) {
    return fail("the central database has schema version " + std::to_string(version) +
                ", newer than this program's " + std::to_string(kSchemaVersion) +
                ": update KALIVOR on this bench");
  }
  for (int step = version + 1; step <= kSchemaVersion; ++step) {
    if (!conn.run(kSteps[static_cast<std::size_t>(step - 1)])) {
      return fail("cannot create the central tables (step " + std::to_string(step) +
                  "): " + conn.error());
    }
    if (!conn.exec("INSERT INTO kalivor_schema (version, database_uid) VALUES ($1, $2)",
                   {std::to_string(step), uid})) {
      return fail(conn.error());
    }
  }
  if (!conn.run("COMMIT")) return fail(conn.error());
  state.version = kSchemaVersion;
  state.databaseUid = uid;
  return true;
}

}  // namespace kalivor::central
