// SPDX-License-Identifier: MIT
#include "app/cli_records.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <sstream>
#include <ostream>
#include <optional>
#include <system_error>
#include <tuple>
#include <type_traits>

#include "common/paths.h"
#include "common/text.h"
#include "common/json.h"
#include "common/numbers.h"
#include "store/csv_export.h"
#include "store/record_files.h"
#include "store/record_scan.h"
#include "store/statistics.h"

namespace kalivor {
namespace {

namespace fs = std::filesystem;

// A CSV appended to a database would damage it; records and other SQLite files start so.
bool isSqliteFile(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  char head[16] = {};
  in.read(head, sizeof head);
  return in.gcount() == sizeof head && std::memcmp(head, "SQLite format 3", 16) == 0;
}

// FILE* over an ostream, so the export's writer can write to `out` for "-".
ssize_t writeToStream(void* cookie, const char* data, size_t size) {
  auto* os = static_cast<std::ostream*>(cookie);
  os->write(data, static_cast<std::streamsize>(size));
  if (!*os) {
    errno = EIO;
    return -1;
  }
  return static_cast<ssize_t>(size);
}

std::FILE* streamFile(std::ostream& os) {
  cookie_io_functions_t io{};
  io.write = writeToStream;
  return ::fopencookie(&os, "w", io);
}

// The record file NAME stands for, or a message.
bool recordFileOf(const fs::path& dataFolder, const std::string& name, fs::path& file,
                  std::string& error) {
  if (endsWith(name, store::kRecordExtension)) {
    if (!store::isPlainFileName(name)) {
      error = "\"" + escapeControl(name) + "\" is not a record name";
      return false;
    }
    file = store::recordFolder(dataFolder) / name;
  } else if (store::StoreStatus st = store::recordFilePath(dataFolder, name, file); !st.ok()) {
    error = st.error;
    return false;
  }
  std::error_code ec;
  if (!fs::is_regular_file(file, ec)) {
    error = "there is no record " + escapeControl(name) + " in " +
            store::recordFolder(dataFolder).string();
    return false;
  }
  return true;
}

template <typename T>
std::string jsonOptional(const std::optional<T>& v) {
  if (!v) return "null";
  if constexpr (std::is_floating_point_v<T>) return numberToText(*v);
  else return std::to_string(*v);
}

std::string jsonRun(const store::RunRow& r) {
  std::string o = "{\"run_id\":" + std::to_string(r.runId) +
                  ",\"first_num\":" + jsonOptional(r.firstNum) +
                  ",\"last_num\":" + jsonOptional(r.lastNum) +
                  ",\"start_time\":" + jsonString(r.info.startTime) +
                  ",\"end_time\":" + jsonString(r.endTime) +
                  ",\"program_version\":" + jsonString(r.info.programVersion) +
                  ",\"resource\":" + jsonString(r.info.resource) +
                  ",\"identity\":" + jsonString(r.info.identity) +
                  ",\"serial\":" + jsonString(r.info.serial) +
                  ",\"card_code\":" + jsonOptional(r.info.cardCode) +
                  ",\"card_description\":" + jsonString(r.info.cardDescription) + "}";
  return o;
}

// Reads --from/--to into a selection; a message for a bound that is neither number nor time.
bool selectionOf(const ScanRangeArgs& range, store::ScanSelection& selection, std::string& error) {
  bool atTo = false;
  const store::StoreStatus st = store::parseScanSelection(range.from, range.to, selection, &atTo);
  if (!st.ok()) error = (atTo ? "--to: " : "--from: ") + st.error;
  return st.ok();
}

}  // namespace

int commandRecords(const std::string& dataDir, std::ostream& out, std::ostream& err, bool json) {
  const fs::path dataFolder = resolveDataFolder(dataDir);
  const fs::path folder = store::recordFolder(dataFolder);
  std::error_code ec;
  if (!fs::exists(folder, ec)) {
    err << "kalivor-cli: no records yet (" << folder.string() << " does not exist)\n";
    if (json) out << "[]\n";
    return 0;
  }
  // listRecordFiles shows an unreadable folder as empty; here that must be an error.
  fs::directory_iterator probe(folder, ec);
  if (ec) {
    err << "kalivor-cli: cannot list " << folder.string() << ": " << ec.message() << "\n";
    return 1;
  }
  if (!json) {
    for (const std::string& name : store::listRecordFiles(dataFolder)) {
      out << escapeControl(name) << '\n';
    }
    out.flush();
    return 0;
  }
  std::string text = "[";
  bool first = true;
  for (const std::string& name : store::listRecordFiles(dataFolder)) {
    const fs::path file = folder / name;
    text += first ? "\n" : ",\n";
    first = false;
    const auto size = fs::file_size(file, ec);
    text += "{\"name\":" + jsonString(name) +
            ",\"size\":" + (ec ? std::string("null") : std::to_string(size));
    store::RecordSummary summary;
    // A file that is no record is listed with the reason, so one bad file spoils no script.
    if (store::StoreStatus st = store::summarizeRecord(file, summary); !st.ok()) {
      text += ",\"error\":" + jsonString(st.error) + "}";
      continue;
    }
    auto timeOrNull = [&](const std::string& t) {
      return summary.scans == 0 ? std::string("null") : jsonString(t);
    };
    text += ",\"scans\":" + std::to_string(summary.scans) +
            ",\"first_time\":" + timeOrNull(summary.firstTime) +
            ",\"last_time\":" + timeOrNull(summary.lastTime) + ",\"runs\":[";
    for (std::size_t i = 0; i < summary.meta.runs.size(); ++i) {
      if (i > 0) text += ",";
      text += jsonRun(summary.meta.runs[i]);
    }
    text += "]}";
  }
  text += first ? "]\n" : "\n]\n";
  out << text;
  out.flush();
  return 0;
}

int commandExport(const std::string& dataDir, const std::string& name, const std::string& file,
                  std::ostream& out, std::ostream& err, const std::string& format,
                  const ScanRangeArgs& range) {
  store::ExportOptions options;
  if (format == "tidy") {
    options.format = store::ExportFormat::Tidy;
  } else if (format != "csv") {
    err << "kalivor-cli: --format " << escapeControl(format) << ": use csv or tidy\n";
    return 2;
  }
  std::string rangeError;
  if (!selectionOf(range, options.selection, rangeError)) {
    err << "kalivor-cli: " << rangeError << "\n";
    return 2;
  }
  const fs::path dataFolder = resolveDataFolder(dataDir);
  fs::path record;
  std::string error;
  if (!recordFileOf(dataFolder, name, record, error)) {
    err << "kalivor-cli: " << error << "\n";
    return 1;
  }
  std::int64_t rows = 0;
  if (file == "-") {
    std::FILE* stream = streamFile(out);
    if (stream == nullptr) {
      err << "kalivor-cli: cannot write to the standard output\n";
      return 1;
    }
    store::StoreStatus st =
        store::exportRecord(record, stream, "(standard output)", options, &rows);
    store::StoreStatus closed = store::closeCsv(stream, "(standard output)");
    if (st.ok()) st = closed;
    out.flush();
    if (!st.ok()) {
      err << "kalivor-cli: " << st.error << "\n";
      return 1;
    }
  } else {
    const fs::path csv = file;
    std::error_code ec;
    const bool existed = fs::exists(csv, ec);
    if (existed && (fs::equivalent(csv, record, ec) || isSqliteFile(csv))) {
      err << "kalivor-cli: " << file << " is a database, not a CSV file: nothing written\n";
      return 1;
    }
    if (store::StoreStatus st = store::exportRecord(record, csv, options, &rows); !st.ok()) {
      err << "kalivor-cli: " << st.error << "\n";
      return 1;
    }
    // An empty record must not leave an empty new file behind.
    if (rows == 0 && !existed && fs::file_size(csv, ec) == 0 && !ec) fs::remove(csv, ec);
    if (rows > 0) {
      out << rows << " scans of " << record.filename().string() << " appended to " << file << "\n";
    }
  }
  if (rows == 0) {
    err << "kalivor-cli: " << record.filename().string()
        << (range.from.empty() && range.to.empty() ? " holds no scans"
                                                    : " holds no scans in that range")
        << ": nothing exported\n";
    return 1;
  }
  return 0;
}

int commandStats(const std::string& dataDir, const std::string& name, const ScanRangeArgs& range,
                 bool json, std::ostream& out, std::ostream& err) {
  store::ScanSelection selection;
  std::string error;
  if (!selectionOf(range, selection, error)) {
    err << "kalivor-cli: " << error << "\n";
    return 2;
  }
  const fs::path dataFolder = resolveDataFolder(dataDir);
  fs::path record;
  if (!recordFileOf(dataFolder, name, record, error)) {
    err << "kalivor-cli: " << error << "\n";
    return 1;
  }
  store::RecordStatistics stats;
  if (store::StoreStatus st = store::computeRecordStatistics(record, selection, stats); !st.ok()) {
    err << "kalivor-cli: " << st.error << "\n";
    return 1;
  }
  const std::string recordName = record.filename().string();
  if (json) {
    std::string text = "{\"record\":" + jsonString(recordName) +
                       ",\"scans\":" + std::to_string(stats.scans);
    if (stats.scans > 0) {
      text += ",\"first_num\":" + std::to_string(stats.firstNum) +
              ",\"last_num\":" + std::to_string(stats.lastNum) +
              ",\"first_time\":" + jsonString(stats.firstTime) +
              ",\"last_time\":" + jsonString(stats.lastTime);
    }
    text += ",\"channels\":[";
    bool first = true;
    for (int c = 1; c <= store::kRecordChannels; ++c) {
      const auto i = static_cast<std::size_t>(c - 1);
      const store::ChannelStatistics& s = stats.channels[i];
      if (!s.any()) continue;
      auto value = [&](double v) { return s.count() > 0 ? numberToText(v) : std::string("null"); };
      auto time = [&](const std::string& t) {
        return s.count() > 0 ? jsonString(t) : std::string("null");
      };
      text += std::string(first ? "" : ",") + "\n{\"channel\":" + std::to_string(c) +
              ",\"count\":" + std::to_string(s.count()) + ",\"last\":" + value(s.last()) +
              ",\"min\":" + value(s.min()) + ",\"max\":" + value(s.max()) +
              ",\"mean\":" + value(s.mean()) + ",\"stddev\":" + value(s.standardDeviation()) +
              ",\"min_time\":" + time(s.minTime()) + ",\"max_time\":" + time(s.maxTime()) +
              ",\"blanks\":" + std::to_string(s.blanks()) +
              ",\"overloads\":" + std::to_string(s.overloads()) +
              ",\"not_numbers\":" + std::to_string(s.notNumbers()) +
              ",\"scaled\":" + (stats.scaled[i] ? "true" : "false") +
              ",\"unit\":" + jsonString(stats.units[i]) + "}";
      first = false;
    }
    text += first ? "]}\n" : "\n]}\n";
    out << text;
    out.flush();
    return 0;
  }
  if (stats.scans == 0) {
    out << recordName << ": no scans" << (range.from.empty() && range.to.empty() ? "" : " in that range")
        << "\n";
    return 0;
  }
  out << recordName << ": scans " << stats.firstNum << " to " << stats.lastNum << " ("
      << stats.scans << "), " << escapeControl(stats.firstTime) << " to "
      << escapeControl(stats.lastTime) << "\n";
  // Columns padded to their width, always at least one blank apart.
  std::string table;
  auto cell = [&table](const std::string& text, std::size_t width) {
    table += text;
    table.append(text.size() < width ? width - text.size() : 1, ' ');
  };
  constexpr std::size_t kNumber = 21;
  constexpr std::size_t kTime = 24;
  for (const char* title : {"CH", "count"}) cell(title, title[0] == 'C' ? 5 : 9);
  for (const char* title : {"last", "min", "max", "mean", "stddev"}) cell(title, kNumber);
  for (const char* title : {"min time", "max time"}) cell(title, kTime);
  for (const char* title : {"blank", "over", "text"}) cell(title, 7);
  table += "unit\n";
  for (int c = 1; c <= store::kRecordChannels; ++c) {
    const auto i = static_cast<std::size_t>(c - 1);
    const store::ChannelStatistics& s = stats.channels[i];
    if (!s.any()) continue;
    const bool numbers = s.count() > 0;
    auto value = [&](double v) { return numbers ? numberToText(v) : std::string("-"); };
    cell("CH" + std::to_string(c), 5);
    cell(std::to_string(s.count()), 9);
    for (double v : {s.last(), s.min(), s.max(), s.mean(), s.standardDeviation()}) {
      cell(value(v), kNumber);
    }
    cell(numbers ? escapeControl(s.minTime()) : "-", kTime);
    cell(numbers ? escapeControl(s.maxTime()) : "-", kTime);
    for (std::int64_t n : {s.blanks(), s.overloads(), s.notNumbers()}) cell(std::to_string(n), 7);
    table += escapeControl(stats.units[i]) + "\n";
  }
  out << table;
  out.flush();
  return 0;
}

}  // namespace kalivor
