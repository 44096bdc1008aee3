// SPDX-License-Identifier: MIT
// Analysis of stored records: channel statistics of a 10^6-scan record, and the tidy export side
// by side with the CSV export of the same record (both into /dev/null, so the figures are the
// export's own work, not the disk's). Target: tidy at most 1.5 times the CSV time.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <stdlib.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "store/csv_export.h"
#include "store/run_database.h"
#include "store/sqlite_record.h"
#include "store/statistics.h"

namespace {

namespace fs = std::filesystem;
using namespace kalivor::store;

struct BenchRecord {
  fs::path root;
  fs::path file;
  explicit BenchRecord(int rows) {
    std::string pattern = (fs::temp_directory_path() / "kalivor-bench-XXXXXX").string();
    root = ::mkdtemp(pattern.data());
    CreateRunDatabase(root, "Record1", &file);
    sqlite3* db = nullptr;
    sqlite3_open(file.c_str(), &db);
    sqlite3_exec(db, "PRAGMA synchronous=OFF; BEGIN", nullptr, nullptr, nullptr);
    std::string sql = "INSERT INTO DATA VALUES (?1, ?2";
    for (int c = 0; c < 20; ++c) sql += ", ?" + std::to_string(c + 3);
    sql += ")";
    sqlite3_stmt* s = nullptr;
    sqlite3_prepare_v2(db, sql.c_str(), -1, &s, nullptr);
    char text[32];
    for (int i = 1; i <= rows; ++i) {
      sqlite3_bind_text(s, 1, std::to_string(i).c_str(), -1, SQLITE_TRANSIENT);
      std::snprintf(text, sizeof text, "2026/12/09 %02d:%02d:%02d", (i / 3600) % 24, (i / 60) % 60,
                    i % 60);
      sqlite3_bind_text(s, 2, text, -1, SQLITE_TRANSIENT);
      for (int c = 0; c < 20; ++c) {
        std::snprintf(text, sizeof text, "%+.6E", std::sin(i * 0.001 + c) * (c + 1));
        sqlite3_bind_text(s, c + 3, text, -1, SQLITE_TRANSIENT);
      }
      sqlite3_step(s);
      sqlite3_reset(s);
    }
    sqlite3_finalize(s);
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close(db);
  }
  ~BenchRecord() {
    std::error_code ec;
    fs::remove_all(root, ec);
  }
};

const BenchRecord& million() {
  static const BenchRecord record(1'000'000);
  return record;
}

const BenchRecord& hundredThousand() {
  static const BenchRecord record(100'000);
  return record;
}

void BM_Statistics_1M(benchmark::State& state) {
  const fs::path& file = million().file;
  for (auto _ : state) {
    RecordStatistics stats;
    if (!computeRecordStatistics(file, {}, stats).ok() || stats.scans != 1'000'000) {
      state.SkipWithError("statistics failed");
    }
    benchmark::DoNotOptimize(stats.channels[0].mean());
  }
  state.SetItemsProcessed(state.iterations() * 1'000'000);
}
BENCHMARK(BM_Statistics_1M)->Unit(benchmark::kMillisecond)->Iterations(2);

// The same figures the straightforward way: every reading read into memory, then mean and
// deviation in two passes (strtod, as a quick tool would).
void BM_Statistics_1M_TwoPassBaseline(benchmark::State& state) {
  const fs::path& file = million().file;
  for (auto _ : state) {
    sqlite3* db = nullptr;
    sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt* s = nullptr;
    sqlite3_prepare_v2(db, ("SELECT " + detail::recordColumnList() + " FROM DATA").c_str(), -1,
                       &s, nullptr);
    std::vector<std::vector<double>> values(20);
    while (sqlite3_step(s) == SQLITE_ROW) {
      for (int c = 0; c < 20; ++c) {
        const std::string text = detail::columnText(s, c + 2);
        values[static_cast<std::size_t>(c)].push_back(std::strtod(text.c_str(), nullptr));
      }
    }
    sqlite3_finalize(s);
    sqlite3_close(db);
    double sd = 0;
    for (const auto& v : values) {
      double sum = 0;
      for (double x : v) sum += x;
      const double mean = sum / static_cast<double>(v.size());
      double sq = 0;
      for (double x : v) sq += (x - mean) * (x - mean);
      sd += std::sqrt(sq / static_cast<double>(v.size() - 1));
    }
    benchmark::DoNotOptimize(sd);
  }
  state.SetItemsProcessed(state.iterations() * 1'000'000);
}
BENCHMARK(BM_Statistics_1M_TwoPassBaseline)->Unit(benchmark::kMillisecond)->Iterations(2);

void exportTo(benchmark::State& state, ExportFormat format) {
  const fs::path& file = hundredThousand().file;
  ExportOptions options;
  options.format = format;
  for (auto _ : state) {
    std::FILE* out = std::fopen("/dev/null", "wb");
    std::int64_t scans = 0;
    if (!exportRecord(file, out, "/dev/null", options, &scans).ok() || scans != 100'000) {
      state.SkipWithError("export failed");
    }
    std::fclose(out);
  }
  state.SetItemsProcessed(state.iterations() * 100'000);  // scans (rows of DATA) per second
}

void BM_Export_Csv_100k(benchmark::State& state) { exportTo(state, ExportFormat::Csv); }
void BM_Export_Tidy_100k(benchmark::State& state) { exportTo(state, ExportFormat::Tidy); }
BENCHMARK(BM_Export_Csv_100k)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Export_Tidy_100k)->Unit(benchmark::kMillisecond);

}  // namespace
