// SPDX-License-Identifier: MIT
#pragma once
// Export of records. CSV as the browser writes it: every field in double quotes (a quote inside
// doubled), comma-separated, lines ended by CR LF; each page of up to 1000 scans is preceded by
// the column-title line. Tidy: one line per reading (time, serial, channel, function, value,
// unit, raw text) under one title line, the form analysis tools read without cleaning.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "store/record_scan.h"
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

enum class ExportFormat { Csv, Tidy };

struct ExportOptions {
  ExportFormat format = ExportFormat::Csv;
  ScanSelection selection;  // all scans when both ends are none
  // Tidy: start with the title line (not when appending to a file that already holds lines).
  bool titleLine = true;
};

// The title line of the tidy form.
inline constexpr const char* kTidyTitleLine = "time,serial,channel,function,value,unit,raw\r\n";

// Appends one field of a tidy line, quoted only where it must be (a comma, quote or line end).
void appendTidyField(std::string& out, std::string_view field);

// The unit a channel function measures in ("V", "A", "Ohm", "Hz", "s", "C"); empty when unknown.
std::string_view functionUnit(std::string_view function);

// Exports the selected scans of a record to `out`. CSV: a selection starts its own page (title
// line first); without one the output is exportRecordCsv's. The record is only read.
StoreStatus exportRecord(const std::filesystem::path& recordFile, std::FILE* out,
                         const std::string& outName, const ExportOptions& options,
                         std::int64_t* scansWritten = nullptr);
// The same appended to `file`. Should writing fail (a full disk), the file is cut back to what
// it held before (a file that did not exist is removed): never half a line.
StoreStatus exportRecord(const std::filesystem::path& recordFile,
                         const std::filesystem::path& file, ExportOptions options,
                         std::int64_t* scansWritten = nullptr);

// Appending to a file so that a failure can be undone: remembers the size it had.
class AppendRollback {
 public:
  explicit AppendRollback(std::filesystem::path file);
  bool existedBefore() const { return existed_; }
  std::uintmax_t sizeBefore() const { return size_; }
  // Cuts the file back to its size before (removes it when it did not exist).
  void restore() const;

 private:
  std::filesystem::path file_;
  bool existed_ = false;
  std::uintmax_t size_ = 0;
};

}  // namespace kalivor::store
