// SPDX-License-Identifier: MIT
// Record store figures: storing a scan, the journal choice, renumbering, showing a browser page,
// the chart's channel read and the CSV export. Records are written in the temporary folder
// (TMPDIR), so durability costs are those of that file system.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
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

class BenchFolder {
 public:
  BenchFolder() {
    std::string pattern = (fs::temp_directory_path() / "kalivor-bench-XXXXXX").string();
    root_ = ::mkdtemp(pattern.data());
  }
  ~BenchFolder() {
    std::error_code ec;
    fs::remove_all(root_, ec);
  }
  const fs::path& root() const { return root_; }
  fs::path record(const std::string& name) const { return root_ / "db" / (name + ".mdb"); }

 private:
  fs::path root_;
};

const std::vector<std::string>& scanTexts() {
  static const std::vector<std::string> texts = [] {
    std::vector<std::string> t;
    for (int c = 1; c <= 20; ++c) t.push_back("+1.234567E-0" + std::to_string(c % 10));
    return t;
  }();
  return texts;
}

// A record of `rows` rows; with `untidy`, every 97th NUM is NULL and the numbers have gaps.
fs::path makeRecord(const BenchFolder& folder, const std::string& name, int rows, bool untidy) {
  fs::path file;
  CreateRunDatabase(folder.root(), name, &file);
  sqlite3* db = nullptr;
  sqlite3_open(file.c_str(), &db);
  sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
  sqlite3_stmt* s = nullptr;
  std::string sql = "INSERT INTO DATA VALUES (?1, '2024/05/06 07:08:09:123'";
  for (int c = 0; c < 20; ++c) sql += ", ?" + std::to_string(c + 2);
  sql += ")";
  sqlite3_prepare_v2(db, sql.c_str(), -1, &s, nullptr);
  for (int i = 1; i <= rows; ++i) {
    const std::string num = std::to_string(untidy ? i + i / 50 : i);
    if (untidy && i % 97 == 0) {
      sqlite3_bind_null(s, 1);
    } else {
      sqlite3_bind_text(s, 1, num.c_str(), -1, SQLITE_TRANSIENT);
    }
    for (int c = 0; c < 20; ++c) {
      sqlite3_bind_text(s, c + 2, scanTexts()[static_cast<std::size_t>(c)].c_str(), -1,
                        SQLITE_STATIC);
    }
    sqlite3_step(s);
    sqlite3_reset(s);
  }
  sqlite3_finalize(s);
  sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
  sqlite3_close(db);
  return file;
}

// Storing one scan through the run database (append + durable commit).
void BM_StoreScan(benchmark::State& state) {
  const auto journal = static_cast<RunJournal>(state.range(0));
  BenchFolder folder;
  fs::path file;
  CreateRunDatabase(folder.root(), "Record1", &file);
  RunDatabase run;
  if (!run.OpenRunDatabase(file, journal).ok()) state.SkipWithError("open failed");
  std::int64_t num = 0;
  for (auto _ : state) {
    if (!run.AppendReadingRow(++num, "2024/05/06 07:08:09:123", scanTexts()).ok()) {
      state.SkipWithError("append failed");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations());
  state.SetLabel(journal == RunJournal::Wal ? "WAL, synchronous=FULL"
                                            : "rollback journal, synchronous=FULL");
}
BENCHMARK(BM_StoreScan)
    ->Arg(static_cast<int>(RunJournal::Wal))
    ->Arg(static_cast<int>(RunJournal::Rollback))
    ->Unit(benchmark::kMicrosecond);

// The same row with a bare prepared INSERT and the same durability settings.
void BM_BareInsert(benchmark::State& state) {
  const bool wal = state.range(0) == static_cast<int>(RunJournal::Wal);
  BenchFolder folder;
  fs::path file;
  CreateRunDatabase(folder.root(), "Record1", &file);
  sqlite3* db = nullptr;
  sqlite3_open(file.c_str(), &db);
  sqlite3_exec(db, wal ? "PRAGMA journal_mode=WAL" : "PRAGMA journal_mode=DELETE", nullptr,
               nullptr, nullptr);
  sqlite3_exec(db, "PRAGMA synchronous=FULL", nullptr, nullptr, nullptr);
  sqlite3_stmt* s = nullptr;
  std::string sql = "INSERT INTO DATA VALUES (?1, ?2";
  for (int c = 0; c < 20; ++c) sql += ", ?" + std::to_string(c + 3);
  sql += ")";
  sqlite3_prepare_v2(db, sql.c_str(), -1, &s, nullptr);
  std::int64_t num = 0;
  for (auto _ : state) {
    const std::string n = std::to_string(++num);
    sqlite3_bind_text(s, 1, n.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(s, 2, "2024/05/06 07:08:09:123", -1, SQLITE_STATIC);
    for (int c = 0; c < 20; ++c) {
      sqlite3_bind_text(s, c + 3, scanTexts()[static_cast<std::size_t>(c)].c_str(), -1,
                        SQLITE_STATIC);
    }
    if (sqlite3_step(s) != SQLITE_DONE) state.SkipWithError("insert failed");
    sqlite3_reset(s);
  }
  sqlite3_finalize(s);
  sqlite3_close(db);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_BareInsert)
    ->Arg(static_cast<int>(RunJournal::Wal))
    ->Arg(static_cast<int>(RunJournal::Rollback))
    ->Unit(benchmark::kMicrosecond);

// Renumbering 100 000 rows with gaps and NULL rows; each pass starts from a fresh copy.
void BM_Renumber100k(benchmark::State& state) {
  const auto method = static_cast<RenumberMethod>(state.range(0));
  BenchFolder folder;
  const fs::path source = makeRecord(folder, "Source", 100'000, true);
  const fs::path work = folder.record("Record1");
  for (auto _ : state) {
    state.PauseTiming();
    fs::copy_file(source, work, fs::copy_options::overwrite_existing);
    state.ResumeTiming();
    RecordReader reader;
    if (!reader.open(work).ok() || !reader.renumber(method).ok()) {
      state.SkipWithError("renumber failed");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations() * 100'000);
  state.SetLabel(method == RenumberMethod::RowByRow ? "row by row" : "set-based");
}
BENCHMARK(BM_Renumber100k)
    ->Arg(static_cast<int>(RenumberMethod::RowByRow))
    ->Arg(static_cast<int>(RenumberMethod::SetBased))
    ->Unit(benchmark::kMillisecond);

// Renumbering pass over a record that is already in order (every page shown pays this), in a
// write transaction as a run's start does it.
void BM_RenumberTidy30k(benchmark::State& state) {
  const auto method = static_cast<RenumberMethod>(state.range(0));
  BenchFolder folder;
  const fs::path file = makeRecord(folder, "Record1", 30'000, false);
  sqlite3* db = nullptr;
  sqlite3_open(file.c_str(), &db);
  for (auto _ : state) {
    sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
    if (detail::renumberRows(db, method) != SQLITE_OK) state.SkipWithError("renumber failed");
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
  }
  sqlite3_close(db);
  state.SetLabel(method == RenumberMethod::RowByRow ? "row by row" : "set-based");
}
BENCHMARK(BM_RenumberTidy30k)
    ->Arg(static_cast<int>(RenumberMethod::RowByRow))
    ->Arg(static_cast<int>(RenumberMethod::SetBased))
    ->Unit(benchmark::kMillisecond);

// Showing page 16 (scans 15001..16000) of a 30 000-row record through the browser: renumbering
// test, count and one range query on a fresh connection. The browser is put on the page first;
// each iteration shows it again.
void BM_ShowPage_RangeQuery(benchmark::State& state) {
  BenchFolder folder;
  makeRecord(folder, "Record1", 30'000, false);
  RecordingMessages messages;
  RecordBrowser browser(folder.root(), messages);
  browser.Open("Record1.mdb");
  for (int page = 1; page < 16; ++page) browser.Next();
  for (auto _ : state) {
    browser.Previous();  // shows 14001..15000
    browser.Next();      // shows 15001..16000
    benchmark::DoNotOptimize(browser.rows().data());
  }
  if (browser.rows().size() != 1000 || browser.rows().front()[0] != "15001" ||
      !messages.shown.empty()) {
    state.SkipWithError("bad page");
  }
  state.SetItemsProcessed(state.iterations() * 2);  // pages shown
}
BENCHMARK(BM_ShowPage_RangeQuery)->Unit(benchmark::kMillisecond);

// The same page the old way: renumbering and count, then select * from data where NUM='k' for
// every k of the page, each query run to its end as opening a record set on it does.
void BM_ShowPage_PerRowQueries(benchmark::State& state) {
  BenchFolder folder;
  const fs::path file = makeRecord(folder, "Record1", 30'000, false);
  for (auto _ : state) {
    RecordReader reader;
    std::int64_t total = 0;
    reader.open(file);
    reader.renumberAndCount(total);
    reader.close();
    sqlite3* db = nullptr;
    sqlite3_open(file.c_str(), &db);
    std::vector<RecordRow> rows(1000);
    for (int k = 15001; k <= 16000; ++k) {
      const std::string sql = "select * from data  where NUM='" + std::to_string(k) + "'";
      sqlite3_stmt* s = nullptr;
      sqlite3_prepare_v2(db, sql.c_str(), -1, &s, nullptr);
      if (sqlite3_step(s) == SQLITE_ROW) {
        for (int c = 0; c < kRecordColumns; ++c) {
          const auto* t = sqlite3_column_text(s, c);
          rows[static_cast<std::size_t>(k - 15001)][static_cast<std::size_t>(c)] =
              t ? reinterpret_cast<const char*>(t) : "";
        }
        while (sqlite3_step(s) == SQLITE_ROW) {
        }
      }
      sqlite3_finalize(s);
    }
    sqlite3_close(db);
    benchmark::DoNotOptimize(rows.data());
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ShowPage_PerRowQueries)->Unit(benchmark::kMillisecond)->Iterations(2);

// The record chart's drawing read: open, renumbering test and count, then one channel of 25 000
// rows of a 30 000-row record in one query.
void BM_ChartChannel_RangeQuery(benchmark::State& state) {
  BenchFolder folder;
  const fs::path file = makeRecord(folder, "Record1", 30'000, false);
  std::vector<std::optional<std::string>> values;
  for (auto _ : state) {
    RecordReader reader;
    std::int64_t count = 0;
    if (!reader.open(file).ok() || !reader.renumberAndCount(count).ok() ||
        !reader.channelValues(7, 1, 25'000, values).ok() || !values.back()) {
      state.SkipWithError("read failed");
    }
    benchmark::DoNotOptimize(values.data());
  }
  state.SetItemsProcessed(state.iterations() * 25'000);
}
BENCHMARK(BM_ChartChannel_RangeQuery)->Unit(benchmark::kMillisecond);

// Per-row queries for the chart, select * from data where NUM='n' run to its end for each n;
// 200 numbers spread over 1..25 000 are read, the rate (rows/s) is what compares.
void BM_ChartChannel_PerRowQueries(benchmark::State& state) {
  BenchFolder folder;
  const fs::path file = makeRecord(folder, "Record1", 30'000, false);
  sqlite3* db = nullptr;
  sqlite3_open(file.c_str(), &db);
  std::string value;
  for (auto _ : state) {
    for (int k = 125; k <= 25'000; k += 125) {
      const std::string sql = "select * from data where NUM='" + std::to_string(k) + "'";
      sqlite3_stmt* s = nullptr;
      sqlite3_prepare_v2(db, sql.c_str(), -1, &s, nullptr);
      while (sqlite3_step(s) == SQLITE_ROW) {
        value = reinterpret_cast<const char*>(sqlite3_column_text(s, 8));  // CH7
      }
      sqlite3_finalize(s);
      benchmark::DoNotOptimize(value.data());
    }
  }
  sqlite3_close(db);
  state.SetItemsProcessed(state.iterations() * 200);
}
BENCHMARK(BM_ChartChannel_PerRowQueries)->Unit(benchmark::kMillisecond)->Iterations(2);

// Exporting a whole 100 000-row record (the command line's export) to a CSV file.
void BM_Export100k(benchmark::State& state) {
  BenchFolder folder;
  const fs::path file = makeRecord(folder, "Record1", 100'000, false);
  const fs::path csv = folder.root() / "out.csv";
  for (auto _ : state) {
    std::error_code ec;
    fs::remove(csv, ec);
    std::int64_t rows = 0;
    if (!exportRecordCsv(file, csv, &rows).ok() || rows != 100'000) {
      state.SkipWithError("export failed");
    }
  }
  state.SetItemsProcessed(state.iterations() * 100'000);
}
BENCHMARK(BM_Export100k)->Unit(benchmark::kMillisecond);

}  // namespace
