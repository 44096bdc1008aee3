// SPDX-License-Identifier: MIT
// Faults between the bench and the central server. Each ends with every scan of the local record
// in the central store exactly once. These wait on a real server and real processes, so they
// poll with time limits instead of a manual clock.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <fstream>
#include <sstream>

#include "central/central_fixture.h"
#include "central/central_schema.h"
#include "central/tcp_relay.h"
#include "store/run_database.h"

namespace kalivor::central::test {
namespace {

using FaultTest = CentralTest;

std::int64_t number(const std::string& text) {
  try {
    return std::stoll(text);
  } catch (...) {
    return -1;
  }
}

TEST_F(FaultTest, ServerStoppedMidwayAndStartedLater) {
  appendScans("Record1", 1, 3000, 10);
  BackgroundForwarder bg(config(), clock_);
  bg.start();
  ASSERT_TRUE(waitFor([&] { return bg.status().scansSent >= 300; }, 30));
  ASSERT_TRUE(cluster().stop());
  // The bench goes on storing while the server is away.
  appendScans("Record1", 3001, 3400, 10);
  ASSERT_TRUE(waitFor([&] { return !bg.status().connected && bg.status().failuresInRow >= 2; },
                      30));
  const ForwarderStatus away = bg.status();
  EXPECT_FALSE(away.lastError.empty());
  EXPECT_GT(away.scansWaiting, 0);
  EXPECT_LT(away.scansSent, 3400);

  ASSERT_TRUE(cluster().start()) << cluster().error();
  ASSERT_TRUE(waitFor([&] {
    const ForwarderStatus st = bg.status();
    return st.connected && st.scansWaiting == 0 && st.lastError.empty();
  }, 60)) << bg.status().lastError;
  bg.stop();
  expectExactlyOnce("Record1", 3400, 10);
}

TEST_F(FaultTest, ARelayThatCutsConnectionsLosesAndDoublesNothing) {
  appendScans("Record1", 1, 1500, 8);
  appendScans("Record2", 1, 400, 3);
  // Cuts land inside COPY data, inside a commit, and between a commit and its answer.
  TcpRelay relay(cluster().port(), 5'000, 120'000, 20241209);
  ForwarderConfig c = config(cluster().url(dbName(), relay.port()));
  c.batchScans = 40;
  Forwarder f(c, clock_);
  bool done = false;
  for (int attempt = 0; attempt < 400 && !done; ++attempt) done = f.sendBacklog(1);
  ASSERT_TRUE(done) << f.status().lastError;
  EXPECT_GE(relay.cuts(), 5);
  expectExactlyOnce("Record1", 1500, 8);
  expectExactlyOnce("Record2", 400, 3);
}

TEST_F(FaultTest, ForwarderKilledAndRunAgain) {
  appendScans("Record1", 1, 6000, 20);
  const std::vector<std::string> args = {KALIVOR_CLI_PATH, "forward", "--central", url(),
                                         "--bench", "bench-a", "--data-dir",
                                         data().root().string(), "--batch", "10", "--follow"};
  auto spawn = [&](const std::vector<std::string>& argv) {
    const pid_t pid = ::fork();
    if (pid == 0) {
      std::vector<char*> a;
      for (const auto& s : argv) a.push_back(const_cast<char*>(s.c_str()));
      a.push_back(nullptr);
      ::freopen("/dev/null", "w", stdout);
      ::execv(a[0], a.data());
      ::_exit(127);
    }
    return pid;
  };
  const std::string count = "SELECT count(*) FROM scans";
  // The server holds back every batch past a ceiling (the test holds the lock the batches wait
  // for), so the forwarder is always caught in the middle, however slowly this test is scheduled.
  ASSERT_EQ(scalar("CREATE TABLE IF NOT EXISTS kalivor_batch_gate (ceiling bigint);"
                   " INSERT INTO kalivor_batch_gate VALUES (0); SELECT 1"),
            "1");
  {
    PgConnection conn;
    ASSERT_TRUE(conn.connect(url())) << conn.error();
    SchemaState schema;
    std::string error;
    ASSERT_TRUE(migrateSchema(conn, schema, error)) << error;
  }
  ASSERT_EQ(scalar("CREATE FUNCTION hold_batches() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN"
                   " IF (SELECT count(*) FROM scans) >= (SELECT ceiling FROM kalivor_batch_gate)"
                   " THEN PERFORM pg_advisory_xact_lock_shared(4242); END IF; RETURN NULL; END $$;"
                   " CREATE TRIGGER hold_batches BEFORE INSERT ON scans FOR EACH STATEMENT"
                   " EXECUTE FUNCTION hold_batches(); SELECT pg_advisory_lock(4242); SELECT 1"),
            "1");
  // A killed client's server side still waits for the lock: it goes as the server would end it.
  const std::string endOrphans =
      "SELECT count(pg_terminate_backend(pid, 10000)) >= 0 FROM pg_stat_activity"
      " WHERE application_name = 'kalivor' AND pid <> pg_backend_pid()";
  std::int64_t before = 0;
  for (int kill = 1; kill <= 2; ++kill) {
    const std::int64_t ceiling = before + 400;
    ASSERT_EQ(scalar("UPDATE kalivor_batch_gate SET ceiling = " + std::to_string(ceiling) +
                     "; SELECT 1"),
              "1");
    const pid_t child = spawn(args);
    ASSERT_GT(child, 0);
    ASSERT_TRUE(waitFor([&] { return number(scalar(count)) >= ceiling; }, 60));
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status));
    ASSERT_EQ(scalar(endOrphans), "t");
    before = number(scalar(count));
    EXPECT_EQ(before, ceiling) << "whole batches, and none past the gate";
  }
  ASSERT_EQ(scalar("DROP TRIGGER hold_batches ON scans; SELECT pg_advisory_unlock(4242)"), "t");
  // Killed in the middle: a part is there, the rest follows on the next start.
  const pid_t last = spawn({KALIVOR_CLI_PATH, "forward", "--central", url(), "--bench",
                            "bench-a", "--data-dir", data().root().string()});
  int status = 0;
  ::waitpid(last, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  expectExactlyOnce("Record1", 6000, 20);
  // The record itself came to no harm.
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(recordPath("Record1").c_str(), &db), SQLITE_OK);
  sqlite3_stmt* q = nullptr;
  sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &q, nullptr);
  ASSERT_EQ(sqlite3_step(q), SQLITE_ROW);
  EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(q, 0)), "ok");
  sqlite3_finalize(q);
  sqlite3_close(db);
}

TEST_F(FaultTest, FollowingReportsAndStopsCleanlyOnSigterm) {
  appendScans("Record1", 1, 200, 4);
  const std::filesystem::path log = data().root() / "forward.out";
  const pid_t child = ::fork();
  if (child == 0) {
    ::freopen(log.c_str(), "w", stdout);
    ::execl(KALIVOR_CLI_PATH, KALIVOR_CLI_PATH, "forward", "--central", url().c_str(),
            "--bench", "bench-a", "--data-dir", data().root().c_str(), "--follow", nullptr);
    ::_exit(127);
  }
  ASSERT_GT(child, 0);
  ASSERT_TRUE(waitFor([&] { return scalar("SELECT count(*) FROM scans") == "200"; }, 30));
  // New scans while it follows.
  appendScans("Record1", 201, 230, 4);
  ASSERT_TRUE(waitFor([&] { return scalar("SELECT count(*) FROM scans") == "230"; }, 30));
  ::kill(child, SIGTERM);
  int status = 0;
  ::waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  std::ifstream in(log);
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_NE(text.str().find("200 scans sent, 0 waiting\n"), std::string::npos) << text.str();
  EXPECT_NE(text.str().find("230 scans sent, 0 waiting\n"), std::string::npos) << text.str();
  EXPECT_NE(text.str().find("Record1.mdb: 230 scans sent, 0 waiting\n"), std::string::npos)
      << text.str();
  expectExactlyOnce("Record1", 230, 4);
}

TEST_F(FaultTest, ServerRefusingInsertsForAWhile) {
  appendScans("Record1", 1, 600, 5);
  // The tables exist once a forwarder has connected; then the server's "disk" fills up at scan
  // 301 (a trigger stands in for it, raising what PostgreSQL raises on a full disk).
  {
    Forwarder f(config(), clock_);
    ASSERT_TRUE(f.pass());
  }
  ASSERT_EQ(scalar("SELECT count(*) FROM scans"), "600");
  ASSERT_EQ(scalar("TRUNCATE readings, scans, alarms, runs CASCADE; SELECT 1"), "1");
  store::test::execSql(recordPath("Record1"), "DROP TABLE CENTRAL_PROGRESS");
  ASSERT_EQ(scalar("CREATE FUNCTION full_disk() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN"
                   " IF NEW.scan > 300 THEN RAISE EXCEPTION 'could not extend file: No space"
                   " left on device' USING ERRCODE = 'disk_full'; END IF; RETURN NEW; END $$;"
                   " CREATE TRIGGER full_disk BEFORE INSERT ON scans FOR EACH ROW EXECUTE"
                   " FUNCTION full_disk(); SELECT 1"),
            "1");
  BackgroundForwarder bg(config(), clock_);
  bg.start();
  ASSERT_TRUE(waitFor([&] { return bg.status().failuresInRow >= 2; }, 30));
  ForwarderStatus st = bg.status();
  EXPECT_TRUE(st.connected);
  EXPECT_NE(st.lastError.find("No space left on device"), std::string::npos) << st.lastError;
  EXPECT_EQ(st.scansWaiting, 300);
  // Whole batches only: the refused batch left nothing behind.
  EXPECT_EQ(scalar("SELECT count(*) FROM scans"), "300");
  EXPECT_EQ(scalar("SELECT count(*) FROM readings"), "1500");

  ASSERT_EQ(scalar("DROP TRIGGER full_disk ON scans; SELECT 1"), "1");
  ASSERT_TRUE(waitFor([&] {
    const ForwarderStatus s = bg.status();
    return s.scansWaiting == 0 && s.lastError.empty();
  }, 30)) << bg.status().lastError;
  bg.stop();
  expectExactlyOnce("Record1", 600, 5);
}

TEST_F(FaultTest, TheRunAppendsWhileTheForwarderFollows) {
  std::filesystem::path file;
  ASSERT_TRUE(store::CreateRunDatabase(data().root(), "Record1", &file).ok());
  store::RunDatabase run;
  ASSERT_TRUE(run.OpenRunDatabase(file).ok());
  BackgroundForwarder bg(config(), clock_);
  bg.start();
  std::vector<std::string> channels(20, " ");
  for (std::int64_t n = 1; n <= 300; ++n) {
    for (int c = 1; c <= 4; ++c) channels[static_cast<std::size_t>(c - 1)] = readingOf(n, c);
    // Every scan is stored at once, never kept waiting by the forwarder's reads and writes.
    ASSERT_TRUE(run.AppendReadingRow(n, formatDateTime(makeLocalMs(2024, 5, 6, 10, 0) +
                                                       (n - 1) * 1000),
                                     channels)
                    .ok());
  }
  run.CloseRunDatabase();
  ASSERT_TRUE(waitFor([&] {
    const ForwarderStatus s = bg.status();
    return s.scansSent == 300 && s.scansWaiting == 0;
  }, 30)) << bg.status().lastError;
  bg.stop();
  expectExactlyOnce("Record1", 300, 4);
}

}  // namespace
}  // namespace kalivor::central::test
