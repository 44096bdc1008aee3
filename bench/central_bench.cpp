// SPDX-License-Identifier: MIT
// Central store figures against a private PostgreSQL server on this machine (skipped when none
// can be started): scans per second the forwarder sustains, by batch size; its CPU per scan
// beside the CPU of storing that scan locally; and the CPU of the run's append with and without a
// forwarder following the same record; and the CPU of the run's own loop (one simulated meter
// scanning back to back into its record, on the manual clock) with and without a forwarder
// following the data folder.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <time.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "../tests/central/pg_cluster.h"
#include "central/forwarder.h"
#include "central/pg.h"
#include "common/clock.h"
#include "store/run_database.h"
#include "bench_support.h"

namespace {

namespace fs = std::filesystem;
using namespace kalivor;

constexpr int kScans = 5000;

double threadCpuSeconds() {
  timespec ts{};
  ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

struct Rig {
  central::test::PgCluster cluster;
  fs::path root;
  bool ready = false;
  std::string skip;

  Rig() {
    if (!cluster.create()) {
      skip = cluster.skipReason().empty() ? cluster.error() : cluster.skipReason();
      return;
    }
    std::string pattern = (fs::temp_directory_path() / "kalivor-central-bench-XXXXXX").string();
    root = ::mkdtemp(pattern.data());
    ready = true;
  }
  ~Rig() {
    std::error_code ec;
    if (!root.empty()) fs::remove_all(root, ec);
  }
  std::string url() const { return cluster.url("postgres"); }
};

Rig& rig() {
  static Rig r;
  return r;
}

std::vector<std::string> texts() {
  std::vector<std::string> t;
  for (int c = 1; c <= 20; ++c) t.push_back("+1.234567E-0" + std::to_string(c % 10));
  return t;
}

// A record of kScans 20-channel scans, written in one transaction.
fs::path makeRecord(const fs::path& dataFolder, const std::string& name) {
  fs::path file;
  store::CreateRunDatabase(dataFolder, name, &file);
  sqlite3* db = nullptr;
  sqlite3_open(file.c_str(), &db);
  sqlite3_exec(db, "PRAGMA journal_mode=WAL; BEGIN", nullptr, nullptr, nullptr);
  sqlite3_stmt* s = nullptr;
  std::string sql = "INSERT INTO DATA VALUES (?1, ?2";
  for (int c = 1; c <= 20; ++c) sql += ", ?" + std::to_string(c + 2);
  sqlite3_prepare_v2(db, (sql + ")").c_str(), -1, &s, nullptr);
  const auto t = texts();
  for (int n = 1; n <= kScans; ++n) {
    const std::string num = std::to_string(n);
    const std::string time = formatDateTime(makeLocalMs(2024, 5, 6, 10) + n * 1000LL);
    sqlite3_bind_text(s, 1, num.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(s, 2, time.c_str(), -1, SQLITE_TRANSIENT);
    for (int c = 0; c < 20; ++c) sqlite3_bind_text(s, c + 3, t[c].c_str(), -1, SQLITE_STATIC);
    sqlite3_step(s);
    sqlite3_reset(s);
  }
  sqlite3_finalize(s);
  sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
  sqlite3_close(db);
  return file;
}

// Forget what was sent: the central tables emptied, the record's progress dropped.
void reset(const fs::path& record) {
  central::PgConnection conn;
  if (conn.connect(rig().url())) {
    conn.run("DO $$ BEGIN IF to_regclass('scans') IS NOT NULL THEN"
             " TRUNCATE readings, scans, alarms, runs CASCADE; END IF; END $$");
  }
  sqlite3* db = nullptr;
  sqlite3_open(record.c_str(), &db);
  sqlite3_exec(db, "DROP TABLE IF EXISTS CENTRAL_PROGRESS", nullptr, nullptr, nullptr);
  sqlite3_close(db);
}

// Every scan of a 5000-scan record sent, by batch size; items/s = scans/s.
void BM_ForwardBacklog(benchmark::State& state) {
  if (!rig().ready) {
    state.SkipWithError(("no PostgreSQL server: " + rig().skip).c_str());
    return;
  }
  const fs::path folder = rig().root / ("batch" + std::to_string(state.range(0)));
  // A repetition starts from a new record, not one holding the last repetition's scans too.
  std::error_code ec;
  fs::remove_all(folder, ec);
  const fs::path record = makeRecord(folder, "Record1");
  SystemClock clock;
  double cpu = 0;
  for (auto _ : state) {
    state.PauseTiming();
    reset(record);
    central::ForwarderConfig config;
    config.url = rig().url();
    config.bench = "bench";
    config.dataFolder = folder;
    config.batchScans = static_cast<int>(state.range(0));
    central::Forwarder forwarder(config, clock);
    state.ResumeTiming();
    const double before = threadCpuSeconds();
    if (!forwarder.sendBacklog(1) || forwarder.status().scansSent != kScans) {
      state.SkipWithError(("forwarding failed: " + forwarder.status().lastError).c_str());
      break;
    }
    cpu += threadCpuSeconds() - before;
  }
  state.SetItemsProcessed(state.iterations() * kScans);
  state.counters["forwarder_cpu_us_per_scan"] =
      benchmark::Counter(cpu * 1e6 / static_cast<double>(state.iterations() * kScans));
}
BENCHMARK(BM_ForwardBacklog)->Arg(10)->Arg(100)->Arg(500)->Unit(benchmark::kMillisecond)
    ->Iterations(3)->UseRealTime();

// A forwarder following the records of `dataFolder` on its own thread, connected (or given up
// on after 10 s) when it is returned.
std::unique_ptr<central::BackgroundForwarder> follow(const fs::path& dataFolder,
                                                     const std::string& bench, Clock& clock) {
  central::ForwarderConfig config;
  config.url = rig().url();
  config.bench = bench;
  config.dataFolder = dataFolder;
  config.pollMs = 50;
  auto bg = std::make_unique<central::BackgroundForwarder>(config, clock);
  bg->start();
  for (int i = 0; i < 200 && !bg->status().connected; ++i) clock.sleep(50);
  return bg;
}

// The run's append (one durable commit per scan), alone and with a forwarder following the
// record on a thread of its own; the counter is the appending thread's CPU per scan.
void BM_RunAppend(benchmark::State& state) {
  const bool forwarding = state.range(0) != 0;
  if (forwarding && !rig().ready) {
    state.SkipWithError(("no PostgreSQL server: " + rig().skip).c_str());
    return;
  }
  const fs::path folder = rig().root.empty()
                              ? fs::temp_directory_path() / "kalivor-central-bench-append"
                              : rig().root / (forwarding ? "follow" : "alone");
  fs::path file;
  store::CreateRunDatabase(folder, "Record1", &file);
  store::RunDatabase db;
  db.OpenRunDatabase(file);
  SystemClock clock;
  std::unique_ptr<central::BackgroundForwarder> bg;
  // Connected and following before the first timed append.
  if (forwarding) bg = follow(folder, "bench-follow", clock);
  const auto t = texts();
  std::int64_t num = db.RowBase();
  double cpu = 0;
  for (auto _ : state) {
    const double before = threadCpuSeconds();
    db.AppendReadingRow(++num, "2024/05/06 10:00:00:000", t);
    cpu += threadCpuSeconds() - before;
  }
  if (bg) {
    bg->stop();
    const central::ForwarderStatus st = bg->status();
    state.counters["forwarded"] = static_cast<double>(st.scansSent);
    if (!st.lastError.empty()) std::fprintf(stderr, "forwarder: %s\n", st.lastError.c_str());
  }
  db.CloseRunDatabase();
  state.SetItemsProcessed(state.iterations());
  state.counters["append_cpu_us_per_scan"] =
      benchmark::Counter(cpu * 1e6 / static_cast<double>(state.iterations()));
}
BENCHMARK(BM_RunAppend)->Arg(0)->Arg(1)->Iterations(3000)->Unit(benchmark::kMicrosecond)
    ->UseRealTime();

// The run's own loop: one simulated 20-channel meter scanning back to back into Record1 for
// kRunSeconds of simulated time; the counter is the CPU per stored scan of the thread that runs
// the loop (trigger, poll, fetch, convert, store). With a forwarder following the data folder on
// its own thread the figure should stay where it is (target: at most 1.05 of the loop alone).
constexpr double kRunSeconds = 3000;

void BM_RunLoop(benchmark::State& state) {
  const bool forwarding = state.range(0) != 0;
  if (forwarding && !rig().ready) {
    state.SkipWithError(("no PostgreSQL server: " + rig().skip).c_str());
    return;
  }
  for (auto _ : state) {
    ManualClock clock;
    bench::SimRunRig run(clock, bench::twentyChannelMeters(1, "SIMC00"), bench::Store::Sqlite);
    if (!run.ready()) {
      state.SkipWithError("the simulated meter was not found");
      return;
    }
    SystemClock serverClock;
    std::unique_ptr<central::BackgroundForwarder> bg;
    if (forwarding) bg = follow(run.folder.root(), "bench-loop", serverClock);
    const LocalMs start = clock.now();
    const double before = threadCpuSeconds();
    run.run->StartReading_Click();
    run.run->driveUntil([&] { return static_cast<double>(clock.now() - start) >= kRunSeconds * 1000; });
    const double cpu = threadCpuSeconds() - before;
    const double scans = run.scans();
    run.run->StopReading_Click();
    run.run->driveUntilEnded();
    if (bg) {
      // Let it catch up, so the figure shows what it forwarded while the loop ran.
      for (int i = 0; i < 200 && bg->status().scansSent < static_cast<std::int64_t>(scans); ++i)
        serverClock.sleep(50);
      state.counters["forwarded"] = static_cast<double>(bg->status().scansSent);
      bg->stop();
    }
    state.counters["scans"] = scans;
    state.counters["loop_cpu_us_per_scan"] = scans > 0 ? cpu * 1e6 / scans : 0;
  }
}
BENCHMARK(BM_RunLoop)->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
