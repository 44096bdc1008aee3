// SPDX-License-Identifier: MIT
// Stopping never waits for the server: a connect or a query the server never answers ends as soon
// as its owner stops, a forwarder stops at once, and what it did not send stays waiting for the
// next start. The server's silence is real (a socket that never answers), so the measures are in
// real time, with bounds far below the 10 s connect time-out they would otherwise wait.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "central/central_fixture.h"
#include "central/silent_server.h"

namespace kalivor::central::test {
namespace {

// Far below the connect time-out (10 s) and the TCP user time-out (30 s), far above a moment.
constexpr double kPrompt = 2.0;

// A client thread that is cancelled and joined however the test ends.
class Client {
 public:
  template <typename F>
  Client(std::atomic<bool>& cancel, F&& body) : cancel_(cancel), thread_(std::forward<F>(body)) {}
  ~Client() {
    cancel_ = true;
    if (thread_.joinable()) thread_.join();
  }
  void join() { thread_.join(); }

 private:
  std::atomic<bool>& cancel_;
  std::thread thread_;
};

TEST(CentralStop, AConnectToASilentHostEndsAtOnceWhenCancelledAndTimesOutOtherwise) {
  SilentServer silent;
  ASSERT_NE(silent.port(), 0);
  std::atomic<bool> cancel{false};
  PgConnection conn;
  conn.setCancel(&cancel);
  bool connected = true;
  Client client(cancel, [&] { connected = conn.connect(silent.url()); });
  ASSERT_TRUE(silent.acceptOne(10));  // now it waits for the server's first word
  cancel = true;
  EXPECT_LT(secondsTaken([&] { client.join(); }), kPrompt);
  EXPECT_FALSE(connected);
  EXPECT_TRUE(conn.cancelled());
  EXPECT_FALSE(conn.ok());
  EXPECT_NE(conn.error().find("stopped before the server answered"), std::string::npos)
      << conn.error();

  // Without a cancel the connect time-out still holds (the URL's own, 2 s, the least libpq has).
  cancel = false;
  const double took =
      secondsTaken([&] { connected = conn.connect(silent.url() + "?connect_timeout=2"); });
  EXPECT_FALSE(connected);
  EXPECT_FALSE(conn.cancelled());
  EXPECT_GE(took, 1.5);
  EXPECT_LT(took, 8.0);
  EXPECT_NE(conn.error().find("timeout expired"), std::string::npos) << conn.error();
}

using CentralStopOnServer = CentralTest;

TEST_F(CentralStopOnServer, AQueryTheServerSitsOnEndsAtOnceWhenCancelled) {
  std::atomic<bool> cancel{false};
  PgConnection conn;
  conn.setCancel(&cancel);
  ASSERT_TRUE(conn.connect(url())) << conn.error();
  const std::string sleeper = "SELECT pg_sleep(60), 'kalivor-stop-test'";
  bool answered = true;
  const std::string itself = "query = $q$" + sleeper + "$q$";
  Client client(cancel, [&] { answered = static_cast<bool>(conn.exec(sleeper)); });
  ASSERT_TRUE(waitFor([&] {
    return scalar("SELECT count(*) FROM pg_stat_activity WHERE state = 'active' AND " +
                  itself) == "1";
  }, 30));
  cancel = true;
  EXPECT_LT(secondsTaken([&] { client.join(); }), kPrompt);
  EXPECT_FALSE(answered);
  EXPECT_TRUE(conn.cancelled());
  EXPECT_FALSE(conn.ok()) << "the connection goes with the statement it left";
  scalar("SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE " + itself);
}

TEST_F(CentralStopOnServer, AForwarderStopsAtOnceWhileTheServerIsSilentAndLosesNoScan) {
  appendScans("Record1", 1, 60, 4);
  SilentServer silent;
  {
    BackgroundForwarder bg(config(silent.url()), clock_);
    bg.start();
    ASSERT_TRUE(silent.acceptOne(10));
    EXPECT_LT(secondsTaken([&] { bg.stop(); }), kPrompt);
    const ForwarderStatus st = bg.status();
    EXPECT_FALSE(st.connected);
    EXPECT_EQ(st.failuresInRow, 0) << "a stop is no failure of the server's";
    EXPECT_TRUE(st.lastError.empty()) << st.lastError;
  }
  {
    // Closing the program: the last pass goes on a thread of its own, the caller is back at
    // once, and the end waits no longer than the pass's budget.
    auto bg = std::make_unique<BackgroundForwarder>(config(silent.url()), clock_);
    bg->start();
    ASSERT_TRUE(silent.acceptOne(10));
    EXPECT_LT(secondsTaken([&] { bg->finishInBackground(300); }), kPrompt);
    EXPECT_LT(secondsTaken([&] { bg.reset(); }), kPrompt + 0.3);
  }
  EXPECT_EQ(scalar("SELECT to_regclass('scans') IS NULL"), "t") << "nothing reached the store";
  // The next start sends every scan, once.
  Forwarder next(config(), clock_);
  ASSERT_TRUE(next.pass()) << next.status().lastError;
  expectExactlyOnce("Record1", 60, 4);
}

}  // namespace
}  // namespace kalivor::central::test
