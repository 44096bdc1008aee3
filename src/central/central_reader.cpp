// SPDX-License-Identifier: MIT
#include "central/central_reader.h"

#include <map>

#include "common/numbers.h"

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
                       std::string& error) {
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
      row[0] = std::to_string(++n);
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

}  // namespace kalivor::central
