// SPDX-License-Identifier: MIT
// Arbitrary bytes as a record file: the browser pages through it and exports it, the chart reads
// it, the command line exports it and a run opens it and appends. Every path must end in a clear
// message or in data, never in a crash.
#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "common/messages.h"
#include "store/csv_export.h"
#include "store/record_browser.h"
#include "store/record_reader.h"
#include "store/run_database.h"

namespace {

namespace fs = std::filesystem;
using namespace kalivor;
using namespace kalivor::store;

const fs::path& dataFolder() {
  static const fs::path folder = [] {
    std::string pattern = (fs::temp_directory_path() / "kalivor-fuzz-XXXXXX").string();
    fs::path root = ::mkdtemp(pattern.data());
    fs::create_directories(root / "db");
    return root;
  }();
  return folder;
}

void clearFolder() {
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(dataFolder() / "db", ec)) {
    fs::remove_all(entry.path(), ec);
  }
  fs::remove(dataFolder() / "out.csv", ec);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  clearFolder();
  const fs::path record = dataFolder() / "db" / "Record1.mdb";
  {
    std::ofstream out(record, std::ios::binary);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }

  RecordingMessages messages;
  RecordBrowser browser(dataFolder(), messages);
  browser.Open("Record1.mdb");
  browser.Next();
  browser.Previous();
  if (browser.buttons().csv) browser.exportCsv(dataFolder() / "out.csv");

  RecordReader reader;
  if (reader.open(record).ok()) {
    std::int64_t count = 0;
    reader.renumberAndCount(count);
    std::vector<std::optional<std::string>> values;
    reader.channelValues(1 + static_cast<int>(size % 20), 1, 25'001, values);
    std::optional<std::string> value;
    reader.channelValue(20, count, value);
    reader.close();
  }

  if (std::FILE* devNull = std::fopen("/dev/null", "wb")) {
    exportRecordCsv(record, devNull, "/dev/null");
    std::fclose(devNull);
  }

  RunDatabase run;
  if (run.OpenRunDatabase(record).ok()) {
    const std::vector<std::string> channels(20, "+1.000000E+00");
    run.AppendReadingRow(run.RowBase() + 1, "2024/01/01 00:00:00", channels);
  }
  run.CloseRunDatabase();
  return 0;
}
