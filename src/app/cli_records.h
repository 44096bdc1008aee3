// SPDX-License-Identifier: MIT
#pragma once
// kalivor-cli's record commands: list the record files of the data folder and export one record
// as CSV text.
#include <iosfwd>
#include <string>

namespace kalivor {

// `records`: the record files of <data folder>/db, one name a line, as the record browser lists
// them. `dataDir` is the --data-dir option (empty: the program's usual data folder).
int commandRecords(const std::string& dataDir, std::ostream& out, std::ostream& err);

// `export NAME FILE`: appends record NAME ("Record3" or "Record3.mdb") to FILE as the browser's
// CSV export writes it when started on the first page, every page of the record included. FILE
// "-" writes to `out`. The record is only read. Returns 0, or 1 with a message on `err`.
int commandExport(const std::string& dataDir, const std::string& name, const std::string& file,
                  std::ostream& out, std::ostream& err);

}  // namespace kalivor
