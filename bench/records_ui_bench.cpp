// SPDX-License-Identifier: MIT
// The record windows on records of realistic size: the browser showing a 1000-scan page (read,
// model reset, grid painted) and the record chart drawing 25 001 rows of one channel.
#include <benchmark/benchmark.h>

// Built without the windows (KALIVOR_BUILD_UI off) this bench has nothing to measure.
#if __has_include(<QApplication>)
#include <sqlite3.h>

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTableView>
#include <filesystem>
#include <memory>
#include <string>

#include "app/program.h"
#include "charts/ui/record_view_draw.h"
#include "common/clock.h"
#include "sim/sim_config.h"
#include "sim/sim_provider.h"
#include "store/run_database.h"
#include "store/ui/record_view_form.h"
#include "visa/resource_manager.h"
#include "ui_bench_support.h"

namespace kalivor {
namespace {

namespace fs = std::filesystem;

QApplication& app() { return bench::offscreenApp(); }

void writeRecord(const fs::path& dataFolder, const std::string& name, int rows) {
  fs::path file;
  store::CreateRunDatabase(dataFolder, name, &file);
  sqlite3* db = nullptr;
  sqlite3_open(file.c_str(), &db);
  sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
  sqlite3_stmt* insert = nullptr;
  std::string sql = "INSERT INTO DATA VALUES (?1, '2024/05/01 13:45:10:250'";
  for (int c = 1; c <= 20; ++c) sql += ", ?2";
  sqlite3_prepare_v2(db, (sql + ")").c_str(), -1, &insert, nullptr);
  for (int i = 1; i <= rows; ++i) {
    const std::string num = std::to_string(i);
    const std::string value = "+" + std::to_string(i % 1000) + ".123456E-03";
    sqlite3_bind_text(insert, 1, num.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(insert, 2, value.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_step(insert);
    sqlite3_reset(insert);
  }
  sqlite3_finalize(insert);
  sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
  sqlite3_close(db);
}

struct Rig {
  Rig() {
    app();
    std::string pattern = (fs::temp_directory_path() / "kalivor-records-bench-XXXXXX").string();
    folder = ::mkdtemp(pattern.data());
    writeRecord(folder, "Record1", 2500);
    writeRecord(folder, "Record2", 30000);
    std::vector<std::unique_ptr<visa::DeviceProvider>> providers;
    providers.push_back(std::make_unique<sim::SimProvider>(clock, sim::defaultInstruments()));
    program = std::make_unique<Program>(
        clock, std::make_unique<visa::ResourceManager>(std::move(providers)), messages, dialogs,
        pump, folder);
  }
  ~Rig() {
    program.reset();
    std::error_code ec;
    fs::remove_all(folder, ec);
  }
  ManualClock clock;
  RecordingMessages messages;
  ScriptedDialogs dialogs;
  CallbackEventPump pump;
  fs::path folder;
  std::unique_ptr<Program> program;
};

Rig& rig() {
  static Rig r;
  return r;
}

void BM_BrowserShowsAPage(benchmark::State& state) {
  Record_View_Form w(*rig().program);
  w.show();
  for (auto _ : state) {
    w.List1->setCurrentRow(0);
    w.Command2->click();
    // Painting the grid is part of showing the page.
    benchmark::DoNotOptimize(w.MSFlexGrid1->grab());
  }
  state.counters["rows"] = w.MSFlexGrid1->model()->rowCount();
}
BENCHMARK(BM_BrowserShowsAPage)->Unit(benchmark::kMillisecond);

void BM_RecordChartDraws25001Rows(benchmark::State& state) {
  Record_View_Draw w(*rig().program);
  w.show();
  w.Combo_record->setCurrentIndex(1);
  Q_EMIT w.Combo_record->activated(1);
  w.draw_limit->setChecked(true);
  for (auto _ : state) {
    w.draw_start->setText("1");
    w.draw_stop->setText("25001");
    w.Command1->click();
  }
  state.counters["rows"] = static_cast<double>(w.RangeStop() - w.RangeStart() + 1);
}
BENCHMARK(BM_RecordChartDraws25001Rows)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kalivor
#endif
