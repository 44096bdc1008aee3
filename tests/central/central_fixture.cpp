// SPDX-License-Identifier: MIT
#include "central/central_fixture.h"

#include <cstdlib>
#include <ctime>

namespace kalivor::central::test {
namespace {

std::unique_ptr<PgCluster> gCluster;
bool gTried = false;

void removeCluster() { gCluster.reset(); }

}  // namespace

PgCluster* sharedCluster() {
  if (!gTried) {
    gTried = true;
    // Every stamp in these tests is read in one known zone, with a summer time.
    ::setenv("TZ", "Europe/Berlin", 1);
    ::tzset();
    auto cluster = std::make_unique<PgCluster>();
    if (cluster->create()) {
      gCluster = std::move(cluster);
      std::atexit(removeCluster);
    } else if (cluster->skipReason().empty()) {
      ADD_FAILURE() << "PostgreSQL is installed but could not be started: " << cluster->error();
    } else {
      std::fprintf(stderr, "central store tests skipped: %s\n", cluster->skipReason().c_str());
    }
  }
  return gCluster.get();
}

std::string readingOf(std::int64_t num, int channel) {
  // Mostly numbers in the instruments' form, with the odd text the store must keep as it is.
  if (channel == 7 && num % 5 == 0) return "OVLD";
  return "+" + std::to_string(num) + "." + std::to_string(channel) + "0000E-03";
}

void describeRuns(const std::filesystem::path& record) {
  store::test::execSql(
      record,
      "CREATE TABLE RUNS(run_id INTEGER PRIMARY KEY, first_num INTEGER, last_num INTEGER,"
      " start_time TEXT, end_time TEXT, program_version TEXT, resource TEXT, identity TEXT,"
      " serial TEXT, card_code INTEGER, card_description TEXT, setup_ini TEXT);"
      "CREATE TABLE CHANNELS(run_id INTEGER, channel INTEGER, function TEXT, sensor_type TEXT,"
      " shunt_ohms REAL, offset_current REAL, scale_m REAL, scale_b REAL, unit_label TEXT,"
      " alarm_low REAL, alarm_high REAL, PRIMARY KEY(run_id, channel));"
      "CREATE TABLE ALARMS(id INTEGER PRIMARY KEY, run_id INTEGER, channel INTEGER, num INTEGER,"
      " time TEXT, value REAL, limit_kind TEXT, limit_value REAL, cleared_num INTEGER,"
      " cleared_time TEXT);"
      "INSERT INTO RUNS VALUES (1, 11, 20, '2024/05/06 10:00:10', '2024/05/06 10:00:19', '2.40',"
      " 'USB0::SIM::INSTR', 'SIMULATED,M100,SIM0001,1.0', 'SIM0001', 2, '20 Channel',"
      " '[Scan]\nChannels=3');"
      "INSERT INTO CHANNELS VALUES (1, 1, 'DCV', '', NULL, NULL, 2.0, 1.0, 'bar', NULL, 5.5),"
      " (1, 2, 'DCI', '', 0.1, 0.0, NULL, NULL, '', NULL, NULL),"
      " (1, 3, 'TCOUPL', 'K', NULL, NULL, NULL, NULL, '', -10.0, NULL);"
      "INSERT INTO ALARMS VALUES (1, 1, 1, 12, '2024/05/06 10:00:11', 6.1, 'high', 5.5, 14,"
      " '2024/05/06 10:00:13'), (2, 1, 1, 18, '2024/05/06 10:00:17', 6.2, 'high', 5.5, NULL,"
      " NULL);");
}

void CentralTest::SetUp() {
  cluster_ = sharedCluster();
  if (cluster_ == nullptr) GTEST_SKIP() << "no PostgreSQL server for the central store tests";
  static int counter = 0;
  db_ = "t" + std::to_string(::getpid()) + "_" + std::to_string(++counter);
  PgConnection admin;
  ASSERT_TRUE(admin.connect(cluster_->url("postgres"))) << admin.error();
  ASSERT_TRUE(admin.run("CREATE DATABASE " + db_)) << admin.error();
  url_ = cluster_->url(db_);
}

void CentralTest::TearDown() {
  conn_.close();
  // A test that stopped the server and failed before starting it again leaves it to the next.
  if (cluster_ != nullptr && !cluster_->running()) {
    EXPECT_TRUE(cluster_->start()) << cluster_->error();
  }
}

void CentralTest::appendScans(const std::string& name, std::int64_t first, std::int64_t last,
                              int channelsUsed) {
  std::filesystem::path file;
  ASSERT_TRUE(store::CreateRunDatabase(data_.root(), name, &file).ok());
  // In one transaction, in the layout the run writes (each of the run's own commits syncs the
  // disk, which would make the tests' thousands of scans slow).
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
  sqlite3_busy_timeout(db, 5000);
  sqlite3_exec(db, "PRAGMA journal_mode=WAL; BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
  sqlite3_stmt* insert = nullptr;
  std::string sql = "INSERT INTO DATA VALUES (?1, ?2";
  for (int c = 1; c <= 20; ++c) sql += ", ?" + std::to_string(c + 2);
  sql += ")";
  ASSERT_EQ(sqlite3_prepare_v2(db, sql.c_str(), -1, &insert, nullptr), SQLITE_OK);
  for (std::int64_t n = first; n <= last; ++n) {
    // Scans a second apart from 2024/05/06 10:00:00 local (08:00:00 UTC).
    const std::string num = std::to_string(n);
    const std::string time = formatDateTime(makeLocalMs(2024, 5, 6, 10, 0) + (n - 1) * 1000);
    sqlite3_bind_text(insert, 1, num.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(insert, 2, time.c_str(), -1, SQLITE_TRANSIENT);
    for (int c = 1; c <= 20; ++c) {
      const std::string text = c <= channelsUsed ? readingOf(n, c) : " ";
      sqlite3_bind_text(insert, c + 2, text.c_str(), -1, SQLITE_TRANSIENT);
    }
    ASSERT_EQ(sqlite3_step(insert), SQLITE_DONE);
    sqlite3_reset(insert);
  }
  sqlite3_finalize(insert);
  ASSERT_EQ(sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(db);
}

ForwarderConfig CentralTest::config(const std::string& url) const {
  ForwarderConfig c;
  c.url = url.empty() ? url_ : url;
  c.bench = "bench-a";
  c.dataFolder = data_.root();
  c.batchScans = 100;
  c.pollMs = 20;
  c.firstRetryMs = 20;
  c.maxRetryMs = 200;
  return c;
}

std::string CentralTest::scalar(const std::string& sql) {
  if (!conn_.ok()) {
    if (!conn_.connect(url_)) return "connect failed: " + conn_.error();
  }
  // PQexec: the tests' SQL may hold several statements; the last one's answer counts.
  PgResult r(PQexec(conn_.handle(), sql.c_str()));
  const ExecStatusType status = r ? PQresultStatus(r.get()) : PGRES_FATAL_ERROR;
  if (status != PGRES_TUPLES_OK && status != PGRES_COMMAND_OK) {
    return "query failed: " + std::string(PQerrorMessage(conn_.handle()));
  }
  if (PQntuples(r.get()) == 0) return {};
  return cell(r.get(), 0, 0);
}

void CentralTest::expectExactlyOnce(const std::string& name, std::int64_t last,
                                    int channelsUsed) {
  const std::string ofRecord =
      " FROM scans s JOIN runs r ON r.id = s.run_ref WHERE r.record_name = '" + name + ".mdb'";
  EXPECT_EQ(scalar("SELECT count(*)" + ofRecord), std::to_string(last));
  EXPECT_EQ(scalar("SELECT count(DISTINCT s.scan)" + ofRecord), std::to_string(last));
  EXPECT_EQ(scalar("SELECT min(s.scan)" + ofRecord), last > 0 ? "1" : "");
  EXPECT_EQ(scalar("SELECT max(s.scan)" + ofRecord), last > 0 ? std::to_string(last) : "");
  EXPECT_EQ(scalar("SELECT count(*) FROM readings d JOIN runs r ON r.id = d.run_ref"
                   " WHERE r.record_name = '" + name + ".mdb'"),
            std::to_string(last * channelsUsed));
  // Every reading's text as it was written.
  EXPECT_EQ(scalar("SELECT count(*) FROM readings d JOIN runs r ON r.id = d.run_ref"
                   " WHERE r.record_name = '" + name + ".mdb' AND d.raw <> CASE WHEN"
                   " d.channel = 7 AND d.scan % 5 = 0 THEN 'OVLD' ELSE '+' || d.scan || '.'"
                   " || d.channel || '0000E-03' END"),
            "0");
}

bool CentralTest::waitFor(const std::function<bool()>& done, double seconds) {
  const auto until = std::chrono::steady_clock::now() +
                     std::chrono::milliseconds(static_cast<int>(seconds * 1000));
  while (std::chrono::steady_clock::now() < until) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return done();
}

}  // namespace kalivor::central::test
