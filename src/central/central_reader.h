// SPDX-License-Identifier: MIT
#pragma once
// Reading the central store back: the runs it holds and a record's scans as rows of DATA.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "central/pg.h"
#include "store/store_types.h"

namespace kalivor::central {

struct CentralRun {
  std::string bench, record;
  std::int64_t runId = 0;
  std::int64_t scans = 0;
  std::string firstScan, lastScan;  // empty when the run has no scans yet
  std::string startTime, endTime;   // of the first and the last scan, UTC, ISO 8601
  std::string serial;
};

// Every run, by bench, record and run; `bench` non-empty keeps that bench's only.
bool listCentralRuns(PgConnection& conn, const std::string& bench, std::vector<CentralRun>& out,
                     std::string& error);

// The scans of record `record` of `bench` (its latest generation, should the record have been
// deleted and made anew), in scan order, as DATA rows: NUM, the stamp as the bench wrote it, CH1..
// CH20 (" " where the scan had no reading). `page` gets up to 1000 rows at a time. False with
// `error` when the record is not there or the server fails.
bool readCentralRecord(PgConnection& conn, const std::string& bench, const std::string& record,
                       const std::function<bool(const std::vector<store::RecordRow>&)>& page,
                       std::string& error);

}  // namespace kalivor::central
