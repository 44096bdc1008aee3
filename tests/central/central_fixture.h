// SPDX-License-Identifier: MIT
#pragma once
// Shared by the central store's tests: one private PostgreSQL server for the whole binary, a
// fresh database per test, local records written by the program's own record writer.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "central/forwarder.h"
#include "central/pg.h"
#include "central/pg_cluster.h"
#include "store/run_database.h"
#include "store/store_fixture.h"

namespace kalivor::central::test {

// The server, made on first use and removed at exit (also when tests fail).
PgCluster* sharedCluster();

// A text that no record holds: every scan's channel texts are derived from its number.
std::string readingOf(std::int64_t num, int channel);

// Gives a record the tables that describe its runs, as the run writes them: run 1 from scan 11
// to 20 (SIM0001; CH1 scaled to bar with a high limit, CH2 a shunt, CH3 a thermocouple with a low
// limit) and two alarms of CH1, one cleared. Scans before 11 stay in the legacy run.
void describeRuns(const std::filesystem::path& record);

class CentralTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  PgCluster& cluster() { return *cluster_; }
  const std::string& url() const { return url_; }
  std::string dbName() const { return db_; }

  // Appends scans first..last to record `name` (made when missing): channels 1..channelsUsed get
  // readingOf(num, c), the rest " ".
  void appendScans(const std::string& name, std::int64_t first, std::int64_t last,
                   int channelsUsed = 20);
  std::filesystem::path recordPath(const std::string& name) const {
    return data_.record(name);
  }
  const store::test::TempDataFolder& data() const { return data_; }

  ForwarderConfig config(const std::string& url = {}) const;

  // One value of a query on the test's database ("" for none or NULL).
  std::string scalar(const std::string& sql);
  // Every scan of record `name` exactly once, numbered first..last, every reading as written.
  void expectExactlyOnce(const std::string& name, std::int64_t last, int channelsUsed = 20);

  // Polls `done` every 20 ms for up to `seconds`; for the server's and processes' real time.
  static bool waitFor(const std::function<bool()>& done, double seconds);

  SystemClock clock_;

 private:
  PgCluster* cluster_ = nullptr;
  std::string db_;
  std::string url_;
  store::test::TempDataFolder data_;
  PgConnection conn_;
};

}  // namespace kalivor::central::test
