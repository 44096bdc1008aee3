// SPDX-License-Identifier: MIT
#include "store/csv_export.h"

#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <charconv>
#include <system_error>

#include "store/sqlite_record.h"
#include "store/statistics.h"

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

namespace {

// "yyyy/MM/dd hh:mm:ss[:mmm]" as ISO 8601, "yyyy-MM-ddThh:mm:ss[.mmm]"; another shape as it is.
void appendIsoTime(std::string& out, std::string_view t) {
  const bool stamp = t.size() >= 19 && t[4] == '/' && t[7] == '/' && t[10] == ' ' &&
                     t[13] == ':' && t[16] == ':' && (t.size() == 19 || (t.size() == 23 && t[19] == ':'));
  if (!stamp) {
    appendTidyField(out, t);
    return;
  }
  const std::size_t at = out.size();
  out.append(t);
  out[at + 4] = '-';
  out[at + 7] = '-';
  out[at + 10] = 'T';
  if (t.size() == 23) out[at + 19] = '.';
}

}  // namespace

void appendTidyField(std::string& out, std::string_view field) {
  if (field.find_first_of(",\"\r\n") == std::string_view::npos) {
    out.append(field);
    return;
  }
  out.push_back('"');
  for (char c : field) {
    if (c == '"') out.push_back('"');
    out.push_back(c);
  }
  out.push_back('"');
}

std::string_view functionUnit(std::string_view function) {
  if (function == "DCV" || function == "ACV") return "V";
  if (function == "DCI" || function == "ACI") return "A";
  if (function == "2W" || function == "4W") return "Ohm";
  if (function == "FREQ") return "Hz";
  if (function == "PERIOD" || function == "PER") return "s";
  if (function == "TCOUPL" || function == "TCO" || function == "TEMP" || function == "4W,TEMP") {
    return "C";
  }
  return {};
}

namespace {

StoreStatus flushBuffer(std::FILE* out, const std::string& outName, std::string& buffer) {
  if (!writeAll(out, buffer)) return StoreStatus::failure(writeFailure(outName, errno));
  buffer.clear();
  return StoreStatus::success();
}

constexpr std::size_t kFlushAt = 120 * 1024;

StoreStatus exportCsvRows(ScanCursor& cursor, std::FILE* out, const std::string& outName,
                          std::int64_t& written) {
  std::string buffer;
  buffer.reserve(kFlushAt + 8 * 1024);
  RecordRow row;
  while (cursor.next()) {
    if (written % kPageSize == 0) appendCsvLine(buffer, columnTitles());
    ++written;
    cursor.copyRow(row);
    appendCsvLine(buffer, row);
    if (buffer.size() >= kFlushAt) {
      if (StoreStatus st = flushBuffer(out, outName, buffer); !st.ok()) return st;
    }
  }
  if (!cursor.status().ok()) return cursor.status();
  return flushBuffer(out, outName, buffer);
}

// The part of a tidy line that stays the same for a channel through a run: ",serial,channel,
// function," and the unit; rebuilt when the run changes.
struct TidyChannel {
  std::string middle;
  std::string unit;
  const ChannelInfo* info = nullptr;
  bool skip = false;  // the run measured nothing on it
};

// A reading that is already a plain decimal number, as meters send them ("+1.234560E-03", "-0.5"):
// optional sign, digits with at most one point, optional exponent; no blanks, nothing else. Such
// a text is itself the value column of an unscaled channel, with no conversion there and back.
// Large magnitudes are left to the full check, which tells the overload value apart.
bool plainDecimal(std::string_view t) {
  std::size_t i = 0;
  const std::size_t n = t.size();
  if (i < n && (t[i] == '+' || t[i] == '-')) ++i;
  std::size_t digits = 0, leading = 0;  // all mantissa digits, and those before the point
  bool point = false, significant = false;
  for (; i < n; ++i) {
    const char c = t[i];
    if (c >= '0' && c <= '9') {
      ++digits;
      significant = significant || c != '0';
      if (!point && significant) ++leading;
    } else if (c == '.' && !point) {
      point = true;
    } else {
      break;
    }
  }
  if (digits == 0) return false;
  int exponent = 0;
  if (i < n && (t[i] == 'E' || t[i] == 'e')) {
    ++i;
    bool negative = false;
    if (i < n && (t[i] == '+' || t[i] == '-')) negative = t[i++] == '-';
    const std::size_t start = i;
    for (; i < n && t[i] >= '0' && t[i] <= '9' && i - start < 4; ++i) exponent = exponent * 10 + (t[i] - '0');
    if (i == start) return false;
    if (negative) exponent = -exponent;
  }
  // Below 10^30 it is no overload (9.9E+37) and no infinity; tiny values are fine as written.
  return i == n && static_cast<int>(leading) + exponent < 30;
}

StoreStatus exportTidyRows(ScanCursor& cursor, std::FILE* out, const std::string& outName,
                           bool titleLine, std::int64_t& written) {
  std::string buffer;
  buffer.reserve(kFlushAt + 8 * 1024);
  if (titleLine) buffer += kTidyTitleLine;
  std::array<TidyChannel, kRecordChannels + 1> channels;
  const RunRow* shapedFor = nullptr;
  bool shaped = false;
  std::string time;
  while (cursor.next()) {
    ++written;
    if (!shaped || cursor.run() != shapedFor) {
      shaped = true;
      shapedFor = cursor.run();
      for (int c = 1; c <= kRecordChannels; ++c) {
        TidyChannel& t = channels[static_cast<std::size_t>(c)];
        t = TidyChannel{};
        t.info = cursor.channelInfo(c);
        const std::string function = t.info != nullptr ? t.info->function : std::string();
        t.skip = shapedFor != nullptr && !cursor.meta().channelsOf(shapedFor->runId).empty() &&
                 (t.info == nullptr || function == "NONE");
        t.middle = ",";
        if (shapedFor != nullptr) appendTidyField(t.middle, shapedFor->info.serial);
        t.middle += "," + std::to_string(c) + ",";
        appendTidyField(t.middle, function);
        t.middle += ",";
        if (t.info != nullptr && t.info->scaled()) {
          appendTidyField(t.unit, t.info->unitLabel);
        } else {
          t.info = nullptr;  // no scaling to apply
          t.unit = functionUnit(function);
        }
      }
    }
    time.clear();
    appendIsoTime(time, cursor.time());
    for (int c = 1; c <= kRecordChannels; ++c) {
      const TidyChannel& t = channels[static_cast<std::size_t>(c)];
      if (t.skip) continue;
      const std::string_view raw = cursor.channel(c);
      if (t.info == nullptr && plainDecimal(raw)) {
        buffer += time;
        buffer += t.middle;
        buffer += raw;
        buffer += ',';
        buffer += t.unit;
        buffer += ',';
        buffer += raw;  // a plain number needs no quoting
        buffer += "\r\n";
        continue;
      }
      double v = 0;
      const ReadingKind kind = classifyReading(raw, v);
      if (kind == ReadingKind::Blank) continue;  // no reading
      buffer += time;
      buffer += t.middle;
      if (kind == ReadingKind::Number) {
        if (t.info != nullptr) v = t.info->scale(v);
        char digits[32];
        buffer.append(digits, std::to_chars(digits, digits + sizeof digits, v).ptr);
      }
      buffer += ',';
      buffer += t.unit;
      buffer += ',';
      appendTidyField(buffer, raw);
      buffer += "\r\n";
    }
    if (buffer.size() >= kFlushAt) {
      if (StoreStatus st = flushBuffer(out, outName, buffer); !st.ok()) return st;
    }
  }
  if (!cursor.status().ok()) return cursor.status();
  if (written == 0) buffer.clear();  // nothing selected: not even the title line
  return flushBuffer(out, outName, buffer);
}

}  // namespace

StoreStatus exportRecord(const std::filesystem::path& recordFile, std::FILE* out,
                         const std::string& outName, const ExportOptions& options,
                         std::int64_t* scansWritten) {
  if (scansWritten != nullptr) *scansWritten = 0;
  ScanCursor cursor;
  if (StoreStatus st = cursor.open(recordFile, options.selection); !st.ok()) return st;
  std::int64_t written = 0;
  StoreStatus st = options.format == ExportFormat::Tidy
                       ? exportTidyRows(cursor, out, outName, options.titleLine, written)
                       : exportCsvRows(cursor, out, outName, written);
  if (st.ok() && std::fflush(out) != 0) st = StoreStatus::failure(writeFailure(outName, errno));
  if (st.ok() && scansWritten != nullptr) *scansWritten = written;
  return st;
}

AppendRollback::AppendRollback(std::filesystem::path file) : file_(std::move(file)) {
  struct stat st{};
  existed_ = ::stat(file_.c_str(), &st) == 0;
  size_ = existed_ ? static_cast<std::uintmax_t>(st.st_size) : 0;
}

void AppendRollback::restore() const {
  if (!existed_) {
    ::unlink(file_.c_str());
    return;
  }
  // Shrinking needs no free space, so it works on the full disk that made the export fail.
  (void)::truncate(file_.c_str(), static_cast<off_t>(size_));
}

StoreStatus exportRecord(const std::filesystem::path& recordFile,
                         const std::filesystem::path& file, ExportOptions options,
                         std::int64_t* scansWritten) {
  if (scansWritten != nullptr) *scansWritten = 0;
  // Open the record first, so a bad record does not leave an empty file behind.
  {
    detail::RecordDb probe;
    if (StoreStatus st = probe.open(recordFile, detail::OpenMode::ReadOnly); !st.ok()) return st;
  }
  const AppendRollback rollback(file);
  if (rollback.sizeBefore() > 0) options.titleLine = false;
  std::FILE* out = nullptr;
  if (StoreStatus st = openCsvForAppend(file, out); !st.ok()) return st;
  StoreStatus st = exportRecord(recordFile, out, file.string(), options, scansWritten);
  StoreStatus closed = closeCsv(out, file.string());
  if (st.ok()) st = closed;
  if (!st.ok()) {
    rollback.restore();
    if (scansWritten != nullptr) *scansWritten = 0;
  }
  return st;
}

StoreStatus exportRecordCsv(const std::filesystem::path& recordFile, std::FILE* out,
                            const std::string& outName, std::int64_t* rowsWritten) {
  return exportRecord(recordFile, out, outName, ExportOptions{}, rowsWritten);
}

StoreStatus exportRecordCsv(const std::filesystem::path& recordFile,
                            const std::filesystem::path& csvFile, std::int64_t* rowsWritten) {
  return exportRecord(recordFile, csvFile, ExportOptions{}, rowsWritten);
}

}  // namespace kalivor::store
