// SPDX-License-Identifier: MIT
#include "app/cli_records.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <system_error>

#include "common/paths.h"
#include "common/text.h"
#include "store/csv_export.h"
#include "store/record_files.h"

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

}  // namespace

int commandRecords(const std::string& dataDir, std::ostream& out, std::ostream& err) {
  const fs::path dataFolder = resolveDataFolder(dataDir);
  const fs::path folder = store::recordFolder(dataFolder);
  std::error_code ec;
  if (!fs::exists(folder, ec)) {
    err << "kalivor-cli: no records yet (" << folder.string() << " does not exist)\n";
    return 0;
  }
  // listRecordFiles shows an unreadable folder as empty; here that must be an error.
  fs::directory_iterator probe(folder, ec);
  if (ec) {
    err << "kalivor-cli: cannot list " << folder.string() << ": " << ec.message() << "\n";
    return 1;
  }
  for (const std::string& name : store::listRecordFiles(dataFolder)) {
    out << escapeControl(name) << '\n';
  }
  out.flush();
  return 0;
}

int commandExport(const std::string& dataDir, const std::string& name, const std::string& file,
                  std::ostream& out, std::ostream& err) {
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
    store::StoreStatus st = store::exportRecordCsv(record, stream, "(standard output)", &rows);
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
    if (store::StoreStatus st = store::exportRecordCsv(record, csv, &rows); !st.ok()) {
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
    err << "kalivor-cli: " << record.filename().string() << " holds no scans: nothing exported\n";
    return 1;
  }
  return 0;
}

}  // namespace kalivor
