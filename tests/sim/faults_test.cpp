// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include "sim/sim_test_util.h"

namespace kalivor::sim {
namespace {

using namespace testing;
using namespace visa;

SimInstrumentConfig faulty(const std::string& fault, const std::string& serial = "SIM0009") {
  auto c = meter("2", serial);
  c.fault = fault;
  return c;
}

TEST(SimFaults, SilentMeterCostsTheTimeOutOnTheClockOnly) {
  ManualClock clock;
  SimProvider p(clock, {faulty("silent")});
  auto s = openSession(p, 0);
  const LocalMs start = clock.now();
  EXPECT_EQ(send(*s, "*IDN?"), VI_SUCCESS);  // the write goes out
  auto r = readOnce(*s);
  EXPECT_EQ(r.status, VI_ERROR_TMO);
  EXPECT_TRUE(r.bytes.empty());
  EXPECT_EQ(clock.now() - start, 30000);
  EXPECT_EQ(clock.sleptMs(), 30000);
  // The session's own time-out counts.
  ASSERT_EQ(s->setTimeout(1500), VI_SUCCESS);
  EXPECT_EQ(readOnce(*s).status, VI_ERROR_TMO);
  EXPECT_EQ(clock.now() - start, 31500);
  // A session starts with VISA's default of 2 s.
  std::unique_ptr<DeviceSession> fresh;
  ASSERT_EQ(p.open(p.instrument(0).config().resource, &fresh), VI_SUCCESS);
  EXPECT_EQ(readOnce(*fresh).status, VI_ERROR_TMO);
  EXPECT_EQ(clock.now() - start, 33500);
  EXPECT_EQ(p.instrument(0).received().size(), 1u);
}

TEST(SimFaults, GarbageMeterAnswersNoiseToEveryQuery) {
  ManualClock clock;
  SimProvider p(clock, {faulty("garbage"), faulty("garbage", "SIM0010")});
  auto s = openSession(p, 0);
  std::vector<std::string> answers;
  for (const char* q : {"*IDN?", "rout:state?\n", "cal:sec:serial?\n", "rout:scan:func? 1\n",
                        "rout:state?\n", "fetch?\n"}) {
    const std::string a = ask(*s, q);
    ASSERT_GE(a.size(), 2u) << q;
    EXPECT_EQ(a.back(), '\n');
    answers.push_back(a);
  }
  EXPECT_NE(answers[0], "SIMULATED,M100,SIM0009,1.0\n");
  // Noise never reads as a card code, so a garbage meter is never listed.
  EXPECT_EQ(cardCodeOf(answers[1]), 0);
  EXPECT_EQ(cardCodeOf(answers[4]), 0);
  EXPECT_NE(answers[1], answers[4]);
  // Commands still take effect; only answers are noise.
  send(*s, "rout:scan:func 2,\"RES\"\n");
  EXPECT_EQ(p.instrument(0).function(2), "RES");
  // Reproducible: the same seed gives the same noise.
  auto other = openSession(p, 1);
  EXPECT_EQ(ask(*other, "*IDN?"), answers[0]);
}

TEST(SimFaults, DropAfterLetsNExchangesThroughThenEverythingFails) {
  ManualClock clock;
  SimProvider p(clock, {faulty("drop-after:3")});
  auto s = openSession(p, 0);
  SimInstrument& m = p.instrument(0);
  EXPECT_EQ(ask(*s, "*IDN?"), "SIMULATED,M100,SIM0009,1.0\n");
  EXPECT_EQ(ask(*s, "rout:state?\n"), "2\n");
  EXPECT_EQ(send(*s, "rout:scan:count 5\n"), VI_SUCCESS);
  EXPECT_EQ(m.exchanges(), 3u);
  EXPECT_TRUE(m.linkUp());
  EXPECT_EQ(send(*s, "cal:sec:serial?\n"), VI_ERROR_CONN_LOST);
  EXPECT_FALSE(m.linkUp());
  EXPECT_EQ(readOnce(*s).status, VI_ERROR_CONN_LOST);
  EXPECT_EQ(s->setTimeout(30000), VI_ERROR_CONN_LOST);
  // Failing fast: no time-out is waited.
  EXPECT_EQ(clock.sleptMs(), 0);
  // Every session of the meter is affected; the message that failed never arrived.
  std::unique_ptr<DeviceSession> again;
  ASSERT_EQ(p.open(m.config().resource, &again), VI_SUCCESS);
  EXPECT_EQ(send(*again, "*IDN?"), VI_ERROR_CONN_LOST);
  EXPECT_EQ(m.received().size(), 3u);
  // Plugged in again, it counts anew.
  m.reconnect();
  EXPECT_EQ(ask(*s, "cal:sec:serial?\n"), "SIM0009\n");
}

TEST(SimFaults, DropAfterStillDeliversTheLastAnswerInFull) {
  ManualClock clock;
  SimProvider p(clock, {faulty("drop-after:3")});
  auto s = openSession(p, 0);
  send(*s, "rout:scan:count 100\n");
  send(*s, "rout:scan:SCAN\n");
  clock.advance(5000);
  send(*s, "fetch?\n");
  EXPECT_EQ(readOnce(*s).status, VI_SUCCESS_MAX_CNT);
  EXPECT_EQ(readOnce(*s).status, VI_SUCCESS);
  // The answer is consumed: the link is gone now.
  EXPECT_EQ(readOnce(*s).status, VI_ERROR_CONN_LOST);
}

TEST(SimFaults, DropAfterZeroFailsTheFirstWrite) {
  ManualClock clock;
  SimProvider p(clock, {faulty("drop-after:0")});
  auto s = openSession(p, 0);
  EXPECT_EQ(send(*s, "*IDN?"), VI_ERROR_CONN_LOST);
  EXPECT_EQ(readOnce(*s).status, VI_ERROR_CONN_LOST);
}

TEST(SimFaults, DropThatHealsIsAnUnplugAndAReplug) {
  ManualClock clock;
  SimProvider p(clock, {faulty("drop-after:2:back-after:60"), faulty("none", "SIM0010")});
  SimInstrument& m = p.instrument(0);
  auto s = openSession(p, 0);
  EXPECT_EQ(ask(*s, "*IDN?"), "SIMULATED,M100,SIM0009,1.0\n");
  EXPECT_EQ(send(*s, "rout:scan:count 5\n"), VI_SUCCESS);
  EXPECT_EQ(send(*s, "*IDN?"), VI_ERROR_CONN_LOST);
  EXPECT_EQ(m.drops(), 1u);
  // Unplugged: neither listed nor opened, until S seconds have passed.
  clock.advance(59999);
  EXPECT_EQ(p.listResources(), std::vector<std::string>{p.instrument(1).config().resource});
  std::unique_ptr<DeviceSession> early;
  EXPECT_EQ(p.open(m.config().resource, &early), VI_ERROR_RSRC_NFOUND);
  EXPECT_FALSE(m.linkUp());
  clock.advance(1);
  EXPECT_TRUE(m.linkUp());
  EXPECT_EQ(p.listResources().size(), 2u);
  // The session of before the unplug stays dead; a fresh one talks, with the settings kept.
  EXPECT_EQ(send(*s, "*IDN?"), VI_ERROR_CONN_LOST);
  EXPECT_EQ(readOnce(*s).status, VI_ERROR_CONN_LOST);
  EXPECT_EQ(s->setTimeout(30000), VI_ERROR_CONN_LOST);
  auto again = openSession(p, 0);
  EXPECT_EQ(ask(*again, "rout:scan:count?\n"), "5\n");
  // It drops again after another N exchanges.
  EXPECT_EQ(send(*again, "*IDN?"), VI_SUCCESS);
  EXPECT_EQ(send(*again, "*IDN?"), VI_ERROR_CONN_LOST);
  EXPECT_EQ(m.drops(), 2u);
  EXPECT_EQ(clock.sleptMs(), 0);  // failing fast, never a time-out
}

TEST(SimFaults, SilenceThatHealsCostsTimeOutsThenAnswersOnTheSameSession) {
  ManualClock clock;
  SimProvider p(clock, {faulty("silent-after:2:for:70")});
  SimInstrument& m = p.instrument(0);
  auto s = openSession(p, 0);
  send(*s, "rout:scan:func 1,\"RES\"\n");
  EXPECT_EQ(ask(*s, "cal:sec:serial?\n"), "SIM0009\n");
  const LocalMs start = clock.now();
  // Exchange 3 opens 70 s of silence: writes go out, nothing is done or answered.
  EXPECT_EQ(send(*s, "rout:scan:func 1,\"FREQ\"\n"), VI_SUCCESS);
  EXPECT_TRUE(m.quiet());
  EXPECT_EQ(send(*s, "*IDN?"), VI_SUCCESS);
  EXPECT_EQ(readOnce(*s).status, VI_ERROR_TMO);
  EXPECT_EQ(clock.now() - start, 30000);
  EXPECT_EQ(send(*s, "*IDN?"), VI_SUCCESS);
  EXPECT_EQ(readOnce(*s).status, VI_ERROR_TMO);
  EXPECT_EQ(send(*s, "*IDN?"), VI_SUCCESS);
  EXPECT_EQ(readOnce(*s).status, VI_ERROR_TMO);  // 60..90 s: the answer was never made
  EXPECT_FALSE(m.quiet());
  EXPECT_EQ(m.function(1), "RES");
  // Back: the same session talks, and the link was never lost.
  EXPECT_EQ(ask(*s, "*IDN?"), "SIMULATED,M100,SIM0009,1.0\n");
  EXPECT_EQ(m.drops(), 0u);
  EXPECT_EQ(ask(*s, "*IDN?"), "SIMULATED,M100,SIM0009,1.0\n");
  // Quiet again after another N.
  EXPECT_EQ(send(*s, "*IDN?"), VI_SUCCESS);
  EXPECT_EQ(readOnce(*s).status, VI_ERROR_TMO);
}

TEST(SimFaults, EndlessFetchAnswersNeverEndUntilTheFaultHeals) {
  ManualClock clock;
  SimProvider p(clock, {faulty("endless-fetch-after:1:for:20")});
  SimInstrument& m = p.instrument(0);
  auto s = openSession(p, 0);
  EXPECT_EQ(ask(*s, "*IDN?"), "SIMULATED,M100,SIM0009,1.0\n");  // exchange 1 is still fine
  // Other queries still answer; every answer to fetch? goes on for ever, with nothing in it a
  // reader could take for a value or an end.
  EXPECT_EQ(ask(*s, "cal:sec:serial?\n"), "SIM0009\n");
  EXPECT_TRUE(m.endless());
  ASSERT_EQ(send(*s, "fetch?\n"), VI_SUCCESS);
  for (int i = 0; i < 50; ++i) {
    const auto r = readOnce(*s);
    ASSERT_EQ(r.status, VI_SUCCESS_MAX_CNT);
    ASSERT_EQ(r.bytes.size(), 1024u);
    ASSERT_EQ(r.bytes.find_first_of(",\n\r;"), std::string::npos);
  }
  EXPECT_EQ(clock.sleptMs(), 0);  // never a time-out
  // A new message ends it, as it does any unread answer.
  EXPECT_EQ(ask(*s, "*IDN?"), "SIMULATED,M100,SIM0009,1.0\n");
  clock.advance(20000);
  EXPECT_FALSE(m.endless());
  ASSERT_EQ(send(*s, "fetch?\n"), VI_SUCCESS);
  EXPECT_EQ(readOnce(*s).status, VI_SUCCESS);  // healed: an answer that ends
  // Endless again after another N.
  ASSERT_EQ(send(*s, "fetch?\n"), VI_SUCCESS);
  EXPECT_EQ(readOnce(*s).status, VI_SUCCESS_MAX_CNT);
}

TEST(SimFaults, ImpossibleConfigsAreRefusedWhenBuilt) {
  ManualClock clock;
  EXPECT_THROW(SimProvider(clock, {faulty("sometimes")}), std::invalid_argument);
  EXPECT_THROW(SimProvider(clock, {faulty("drop-after:")}), std::invalid_argument);
  EXPECT_THROW(SimProvider(clock, {faulty("silent-after:5")}), std::invalid_argument);
  // Two meters on one resource: the second could never be reached.
  EXPECT_THROW(SimProvider(clock, {meter("2"), meter("3")}), std::invalid_argument);
  auto tooMany = meter("1");
  tooMany.functions.assign(11, "VOLT");
  EXPECT_THROW(SimProvider(clock, {tooMany}), std::invalid_argument);
}

}  // namespace
}  // namespace kalivor::sim
