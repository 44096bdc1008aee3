// SPDX-License-Identifier: MIT
#pragma once
// kalivor-cli's record commands: list the record files of the data folder, export one record as
// CSV or tidy text, and the channel statistics of a record.
#include <iosfwd>
#include <string>

namespace kalivor {

// `records`: the record files of <data folder>/db, one name a line, as the record browser lists
// them. `dataDir` is the --data-dir option (empty: the program's usual data folder).
// With `json`, one JSON array: per record its name, size in bytes, scans, first and last time
// and the runs it describes (an empty list for records without a description).
int commandRecords(const std::string& dataDir, std::ostream& out, std::ostream& err,
                   bool json = false);

// The range options of export and stats: --from/--to, each a scan number or a time.
struct ScanRangeArgs {
  std::string from, to;  // empty: open end
};

// `export NAME FILE`: appends record NAME ("Record3" or "Record3.mdb") to FILE as the browser's
// CSV export writes it when started on the first page, every page of the record included. FILE
// "-" writes to `out`. The record is only read. Returns 0, or 1 with a message on `err`.
// `format` is "csv" (the default, as above) or "tidy" (one line per reading); `range` selects
// scans. A failed write leaves FILE as it was.
int commandExport(const std::string& dataDir, const std::string& name, const std::string& file,
                  std::ostream& out, std::ostream& err, const std::string& format = "csv",
                  const ScanRangeArgs& range = {});

// `stats NAME`: per channel with readings, count, last, minimum, maximum, mean, standard
// deviation, the times of minimum and maximum, and the blank, overload and non-numeric
// readings; a table, or with `json` one JSON object.
int commandStats(const std::string& dataDir, const std::string& name, const ScanRangeArgs& range,
                 bool json, std::ostream& out, std::ostream& err);

}  // namespace kalivor
