// SPDX-License-Identifier: MIT
#pragma once
// Reading the central store back: the runs it holds and a record's scans as rows of DATA.
#include <cstdint>
#include <filesystem>
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
// `error` when the record is not there or the server fails. NUM counts the scans from 1, as the
// local export numbers them; with `scanNumbers` it is the scan's own number in the record.
bool readCentralRecord(PgConnection& conn, const std::string& bench, const std::string& record,
                       const std::function<bool(const std::vector<store::RecordRow>&)>& page,
                       std::string& error, bool scanNumbers = false);

// A central record copied into a local record file of its own, in a temporary data folder that
// goes with the object: DATA as the bench stored it and the runs' description (RUNS, CHANNELS,
// ALARMS),
// so the statistics, the tidy export, the record browser and the record chart read it as they
// read any record. Nothing is ever written back.
class CentralSnapshot {
 public:
  CentralSnapshot() = default;
  ~CentralSnapshot();
  CentralSnapshot(const CentralSnapshot&) = delete;
  CentralSnapshot& operator=(const CentralSnapshot&) = delete;

  // Copies record `record` ("Record1.mdb") of `bench`; false with `error` when it is not there,
  // the server fails or the temporary folder cannot be written.
  bool make(PgConnection& conn, const std::string& bench, const std::string& record,
            std::string& error);
  // The rows (1 = the copy's first) that hold scans `first`..`last` of the record: the copy keeps
  // the scans in scan order. False when none of them is there.
  bool rowsOfScans(std::int64_t first, std::int64_t last, std::int64_t& fromRow,
                   std::int64_t& toRow) const;
  // The temporary data folder (its db/ holds the record) and the record file; empty before make.
  const std::filesystem::path& dataFolder() const { return folder_; }
  const std::filesystem::path& file() const { return file_; }

 private:
  void remove();
  std::filesystem::path folder_, file_;
};

}  // namespace kalivor::central
