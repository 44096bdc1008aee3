// SPDX-License-Identifier: MIT
#pragma once
// CSV export of records: every field in double quotes (a quote inside doubled), comma-separated,
// lines ended by CR LF; each page of up to 1000 scans is preceded by the column-title line.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "store/store_types.h"

namespace kalivor::store {

// "Scan Cycle", "Time", "CH 1" .. "CH 20": the browser's column titles and the CSV title line.
const RecordRow& columnTitles();

// Appends one CSV line for `fields` to `out`.
void appendCsvLine(std::string& out, const RecordRow& fields);

// Writes the title line and then one line per row (a page as the browser shows it).
StoreStatus writeCsvPage(std::FILE* out, const std::string& outName,
                         const std::vector<RecordRow>& rows);

// Opens `csvFile` for appending (existing contents stay); a clear message when it cannot be.
StoreStatus openCsvForAppend(const std::filesystem::path& csvFile, std::FILE*& out);
// Closes and reports a write error that only shows up on closing.
StoreStatus closeCsv(std::FILE* out, const std::string& outName);

// Exports every page of a record (no page limit), as the browser's export writes them, to `out`
// (a file opened for appending, or stdout). The record is only read: NUM is written as the
// number renumbering would give (rows with a NULL NUM left out), without changing the file.
// `rowsWritten` (optional) receives the number of data lines. An empty record writes nothing.
StoreStatus exportRecordCsv(const std::filesystem::path& recordFile, std::FILE* out,
                            const std::string& outName, std::int64_t* rowsWritten = nullptr);
// The same into `csvFile`, opened for appending.
StoreStatus exportRecordCsv(const std::filesystem::path& recordFile,
                            const std::filesystem::path& csvFile,
                            std::int64_t* rowsWritten = nullptr);

}  // namespace kalivor::store
