// SPDX-License-Identifier: MIT
#include "store/csv_export.h"

#include <cerrno>
#include <system_error>

#include "store/sqlite_record.h"

namespace kalivor::store {
namespace {

std::string writeFailure(const std::string& outName, int err) {
  return "Cannot write the CSV file " + outName + ": " + std::generic_category().message(err);
}

bool writeAll(std::FILE* out, const std::string& data) {
  return data.empty() || std::fwrite(data.data(), 1, data.size(), out) == data.size();
}

}  // namespace

const RecordRow& columnTitles() {
  static const RecordRow titles = [] {
    RecordRow t;
    t[0] = "Scan Cycle";
    t[1] = "Time";
    for (int c = 1; c <= kRecordChannels; ++c) {
      t[static_cast<std::size_t>(c + 1)] = "CH " + std::to_string(c);
    }
    return t;
  }();
  return titles;
}

void appendCsvLine(std::string& out, const RecordRow& fields) {
  bool first = true;
  for (const std::string& field : fields) {
    if (!first) out.push_back(',');
    first = false;
    out.push_back('"');
    // A quote inside the text is doubled, or the line would split into other fields.
    for (char c : field) {
      if (c == '"') out.push_back('"');
      out.push_back(c);
    }
    out.push_back('"');
  }
  out += "\r\n";
}

StoreStatus writeCsvPage(std::FILE* out, const std::string& outName,
                         const std::vector<RecordRow>& rows) {
  std::string buffer;
  buffer.reserve(64 * 1024);
  appendCsvLine(buffer, columnTitles());
  for (const RecordRow& row : rows) {
    appendCsvLine(buffer, row);
    if (buffer.size() >= 60 * 1024) {
      if (!writeAll(out, buffer)) return StoreStatus::failure(writeFailure(outName, errno));
      buffer.clear();
    }
  }
  if (!writeAll(out, buffer)) return StoreStatus::failure(writeFailure(outName, errno));
  return StoreStatus::success();
}

StoreStatus openCsvForAppend(const std::filesystem::path& csvFile, std::FILE*& out) {
  out = std::fopen(csvFile.c_str(), "ab");
  if (out == nullptr) {
    return StoreStatus::failure("Cannot open the CSV file " + csvFile.string() + ": " +
                                std::generic_category().message(errno));
  }
  return StoreStatus::success();
}

StoreStatus closeCsv(std::FILE* out, const std::string& outName) {
  const bool flushed = std::fflush(out) == 0;
  const int err = errno;
  const bool failed = std::ferror(out) != 0;
  const bool closed = std::fclose(out) == 0;
  if (!flushed || failed) return StoreStatus::failure(writeFailure(outName, err));
  if (!closed) return StoreStatus::failure(writeFailure(outName, errno));
  return StoreStatus::success();
}

StoreStatus exportRecordCsv(const std::filesystem::path& recordFile, std::FILE* out,
                            const std::string& outName, std::int64_t* rowsWritten) {
  if (rowsWritten != nullptr) *rowsWritten = 0;
  detail::RecordDb db;
  if (StoreStatus st = db.open(recordFile, detail::OpenMode::ReadOnly); !st.ok()) return st;
  detail::enableMappedReads(db.handle());
  // One read transaction: a run appending meanwhile cannot tear the export.
  if (StoreStatus st = db.exec("BEGIN", "read"); !st.ok()) return st;
  detail::Statement rows;
  if (StoreStatus st = db.prepare("SELECT " + detail::recordColumnList() +
                                      " FROM DATA WHERE NUM IS NOT NULL ORDER BY rowid",
                                  rows, "read");
      !st.ok()) {
    return st;
  }
  std::string buffer;
  buffer.reserve(128 * 1024);
  RecordRow row;
  std::int64_t n = 0;
  int rc;
  while ((rc = sqlite3_step(rows.get())) == SQLITE_ROW) {
    if (n % kPageSize == 0) appendCsvLine(buffer, columnTitles());
    ++n;
    row[0] = std::to_string(n);
    for (int c = 1; c < kRecordColumns; ++c) {
      row[static_cast<std::size_t>(c)] = detail::columnText(rows.get(), c);
    }
    appendCsvLine(buffer, row);
    if (buffer.size() >= 120 * 1024) {
      if (!writeAll(out, buffer)) return StoreStatus::failure(writeFailure(outName, errno));
      buffer.clear();
    }
  }
  if (rc != SQLITE_DONE) return db.failure("read");
  if (!writeAll(out, buffer) || std::fflush(out) != 0) {
    return StoreStatus::failure(writeFailure(outName, errno));
  }
  if (rowsWritten != nullptr) *rowsWritten = n;
  return StoreStatus::success();
}

StoreStatus exportRecordCsv(const std::filesystem::path& recordFile,
                            const std::filesystem::path& csvFile, std::int64_t* rowsWritten) {
  // Open the record first, so a bad record does not leave an empty CSV file behind.
  {
    detail::RecordDb probe;
    if (StoreStatus st = probe.open(recordFile, detail::OpenMode::ReadOnly); !st.ok()) return st;
  }
  std::FILE* out = nullptr;
  if (StoreStatus st = openCsvForAppend(csvFile, out); !st.ok()) return st;
  StoreStatus st = exportRecordCsv(recordFile, out, csvFile.string(), rowsWritten);
  StoreStatus closed = closeCsv(out, csvFile.string());
  return st.ok() ? closed : st;
}

}  // namespace kalivor::store
