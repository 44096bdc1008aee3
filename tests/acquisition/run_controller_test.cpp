// SPDX-License-Identifier: MIT
#include "acquisition/run_controller.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "common/numbers.h"
#include "support/scripted_visa.h"
#include "support/sim_rig.h"

namespace kalivor {
namespace {

using testing::SimRig;

std::size_t countOf(const std::vector<std::string>& v, const std::string& s) {
  return static_cast<std::size_t>(std::count(v.begin(), v.end(), s));
}

// Channel functions of meter i set the way the scan settings window would send them.
void setFunctions(SimRig& rig, std::size_t meter, int channels, const std::string& word, int active) {
  for (int c = 1; c <= channels; ++c) {
    rig.meter(meter).write("rout:scan:func " + std::to_string(c) + ",\"" + (c <= active ? word : "NONE") + "\"\n");
  }
}

struct RunTest : ::testing::Test {
  SimRig rig;
  void select(int n) {
    rig.selectFirst(n);
    rig.messages.clear();
  }
};

TEST_F(RunTest, AfterNChannelReadingsStoresFiveScansWithTheirOwnStamps) {
  setFunctions(rig, 0, 20, "VOLT", 10);
  select(1);
  ScanSetup& s = rig.tables.setup[0];
  s.scanCount_Status = 0;
  s.ScanCount = "50";
  rig.tables.DatabaseName[0] = "Record1";
  rig.run.StartReading_Click();
  rig.run.driveUntilEnded();

  const auto sent = rig.received(0);
  EXPECT_EQ(countOf(sent, "rout:scan:count 50\n"), 1u);
  EXPECT_EQ(countOf(sent, "rout:scan:SCAN\n"), 1u);
  EXPECT_EQ(countOf(sent, "fetch?\n"), 1u);
  EXPECT_EQ(rig.tables.ScansDone[0], 5);
  const auto& rows = rig.records.files["Record1"];
  ASSERT_EQ(rows.size(), 5u);
  for (std::size_t i = 0; i < rows.size(); ++i) {
    EXPECT_EQ(rows[i].num, std::to_string(i + 1));
    EXPECT_NE(rows[i].channels[0], " ");
    EXPECT_EQ(rows[i].channels[10], " ");  // NONE channel
    EXPECT_EQ(rows[i].time.size(), 19u);   // yyyy/MM/dd hh:mm:ss
  }
  // Stamps come from the polls that saw each sweep complete, so they do not all coincide.
  EXPECT_LT(rows.front().time, rows.back().time);
  EXPECT_EQ(rig.messages.texts(), std::vector<std::string>{"End of Job."});
  EXPECT_EQ(rig.display.scanTables[0].rows.size(), 5u);
  EXPECT_EQ(rig.records.log.back(), "close 0");
  EXPECT_FALSE(rig.run.running());
  EXPECT_TRUE(rig.display.isEnabled("StartReading"));
}

TEST_F(RunTest, ConfiguredCountBelowTheChannelsSetsTheFirstTarget) {
  setFunctions(rig, 0, 20, "VOLT", 10);
  select(1);
  rig.tables.setup[0].scanCount_Status = 0;
  rig.tables.setup[0].ScanCount = "5";
  rig.run.StartReading_Click();
  rig.run.driveUntilEnded();
  EXPECT_EQ(rig.run.ConfiguredScanCount[0], 5);
  EXPECT_EQ(rig.tables.ScansDone[0], 1);
  EXPECT_EQ(rig.tables.ReadingText[0][5], " ");
}

TEST_F(RunTest, AfterNScansRunsThreeScansSpacedByTheInterval) {
  setFunctions(rig, 0, 20, "VOLT", 4);
  select(1);
  ScanSetup& s = rig.tables.setup[0];
  s.scanCount_Status = 1;
  s.ScanCount = "3";
  s.ScanInterval = 1;  // Period Scan: from scan start to scan start
  s.ScanTime = "10";
  std::vector<LocalMs> triggers;
  rig.pump.set([&](std::int64_t) {
    // Seen at the first yield after each trigger (one poll later at most).
    if (triggers.size() < countOf(rig.meter(0).received(), "rout:scan:SCAN\n")) triggers.push_back(rig.clock.now());
  });
  rig.run.StartReading_Click();
  rig.run.driveUntilEnded();
  EXPECT_EQ(rig.tables.ScansDone[0], 3);
  ASSERT_EQ(triggers.size(), 3u);
  EXPECT_GE(triggers[1] - triggers[0], 10000);
  EXPECT_LT(triggers[1] - triggers[0], 10200);
  EXPECT_GE(triggers[2] - triggers[1], 10000);
  EXPECT_EQ(countOf(rig.received(0), "rout:scan:count 4\n"), 1u);
  EXPECT_EQ(rig.messages.texts(), std::vector<std::string>{"End of Job."});
  // Period Scan stamps carry milliseconds.
  EXPECT_EQ(rig.display.scanTables[0].rows[0][1].size(), 23u);
}

TEST_F(RunTest, ByStopButtonRunsUntilStopIsPressed) {
  setFunctions(rig, 0, 20, "VOLT", 2);
  select(1);
  rig.tables.setup[0].scanCount_Status = 2;
  rig.tables.setup[0].ScanTime = "1";
  rig.pump.set([&](std::int64_t) {
    if (rig.tables.ScansDone[0] >= 7) rig.run.StopReading_Click();
  });
  rig.run.StartReading_Click();
  rig.run.driveUntilEnded();
  EXPECT_EQ(rig.tables.ScansDone[0], 7);
  EXPECT_EQ(rig.messages.texts(), std::vector<std::string>{"End of Job."});
  EXPECT_FALSE(rig.run.instrumentFailed());
}

TEST_F(RunTest, FutureStartTimeHoldsTheTriggerUntilItPasses) {
  setFunctions(rig, 0, 20, "VOLT", 2);
  select(1);
  ScanSetup& s = rig.tables.setup[0];
  s.scanCount_Status = 1;
  s.ScanCount = "1";
  s.StartAtTime = 1;
  const LocalMs start = rig.clock.now() + 3600 * 1000;
  s.StartTime = formatDateTime(start);
  LocalMs firstTrigger = 0;
  rig.pump.set([&](std::int64_t) {
    if (!firstTrigger && countOf(rig.meter(0).received(), "rout:scan:SCAN\n") == 1) firstTrigger = rig.clock.now();
  });
  rig.run.StartReading_Click();
  rig.run.driveUntilEnded();
  EXPECT_EQ(rig.tables.ScansDone[0], 1);
  EXPECT_GE(firstTrigger, start);
  EXPECT_LT(firstTrigger, start + 1000);
}

TEST_F(RunTest, IntervalAcrossMidnightStillTriggers) {
  EXPECT_EQ(AdjustForMidnight(5, 86399), 86405);
  EXPECT_EQ(AdjustForMidnight(100, 90), 100);
  rig.clock.set(makeLocalMs(2024, 5, 6, 23, 59, 50));
  setFunctions(rig, 0, 20, "VOLT", 2);
  select(1);
  ScanSetup& s = rig.tables.setup[0];
  s.scanCount_Status = 1;
  s.ScanCount = "4";
  s.ScanTime = "5";
  rig.run.StartReading_Click();
  rig.run.driveUntilEnded();
  EXPECT_EQ(rig.tables.ScansDone[0], 4);
  EXPECT_EQ(rig.clock.localTime().day, 7);
  EXPECT_LT(rig.clock.now(), makeLocalMs(2024, 5, 7, 0, 0, 30));
}

TEST_F(RunTest, SlotWithEveryChannelNoneIsLeftOutAndTheOtherRuns) {
  setFunctions(rig, 0, 20, "VOLT", 3);
  setFunctions(rig, 1, 10, "VOLT", 0);
  select(2);
  for (int d = 0; d < 2; ++d) {
    rig.tables.setup[static_cast<std::size_t>(d)].scanCount_Status = 1;
    rig.tables.setup[static_cast<std::size_t>(d)].ScanCount = "2";
  }
  rig.run.StartReading_Click();
  rig.run.driveUntilEnded();
  EXPECT_EQ(rig.tables.ScansDone[0], 2);
  EXPECT_EQ(rig.tables.ScansDone[1], 0);
  for (const auto& m : rig.received(1)) {
    EXPECT_NE(m.rfind("rout:scan:count", 0), 0u) << m;
    EXPECT_NE(m, "rout:scan:SCAN\n");
    EXPECT_NE(m, "fetch?\n");
  }
  EXPECT_EQ(rig.messages.texts(), std::vector<std::string>{"End of Job."});
}

TEST_F(RunTest, NoChannelAnywhereSaysNoScanFunction) {
  setFunctions(rig, 0, 20, "VOLT", 0);
  select(1);
  rig.run.StartReading_Click();
  rig.run.driveUntilEnded();
  EXPECT_EQ(rig.messages.texts(), std::vector<std::string>{"No scan function"});
  EXPECT_TRUE(rig.display.isEnabled("StartReading"));
  EXPECT_EQ(countOf(rig.received(0), "rout:scan:SCAN\n"), 0u);
}

TEST_F(RunTest, LongAnswersAreReadInPiecesAndEveryReadingLandsOnItsChannel) {
  setFunctions(rig, 0, 20, "VOLT", 20);
  select(1);
  rig.tables.setup[0].scanCount_Status = 0;
  rig.tables.setup[0].ScanCount = "200";  // about 3 KB of answer
  rig.tables.DatabaseName[0] = "Record2";
  rig.run.StartReading_Click();
  rig.run.driveUntilEnded();
  const auto& rows = rig.records.files["Record2"];
  ASSERT_EQ(rows.size(), 10u);
  for (const auto& row : rows) {
    for (const auto& v : row.channels) {
      ASSERT_TRUE(strictNumber(v).has_value()) << "'" << v << "'";  // no half values
      EXPECT_EQ(v.size(), 13u);
    }
  }
}

TEST_F(RunTest, DroppedConnectionEndsWithTimeoutAndKeepsStoredScans) {
  auto meters = sim::defaultInstruments();
  meters[0].fault = "drop-after:120";
  SimRig r(meters);
  setFunctions(r, 0, 20, "VOLT", 2);
  r.selectFirst(1);
  r.messages.clear();
  r.tables.setup[0].scanCount_Status = 2;
  r.tables.setup[0].ScanTime = "1";
  r.tables.DatabaseName[0] = "Record1";
  r.run.StartReading_Click();
  r.run.driveUntilEnded();
  EXPECT_EQ(r.messages.count("Timeout"), 1u);
  EXPECT_EQ(r.messages.texts().back(), "End of Job.");
  EXPECT_TRUE(r.run.instrumentFailed());
  const auto& rows = r.records.files["Record1"];
  EXPECT_GT(rows.size(), 3u);
  EXPECT_EQ(rows.size(), static_cast<std::size_t>(r.tables.ScansDone[0]));
  EXPECT_EQ(r.records.log.back(), "close 0");
  // Only reconnecting, the setup and leaving stay possible.
  EXPECT_FALSE(r.display.isEnabled("StartReading"));
  EXPECT_TRUE(r.display.isEnabled("Connect_to_Instrument_Menu"));
  EXPECT_TRUE(r.display.isEnabled("Exit_comm"));
}

TEST_F(RunTest, SilentMidRunCostsTheTimeOutOnTheManualClockOnly) {
  setFunctions(rig, 0, 20, "VOLT", 2);
  select(1);
  rig.tables.setup[0].scanCount_Status = 2;
  rig.tables.setup[0].ScanTime = "1";
  rig.tables.DatabaseName[0] = "Record1";
  bool silenced = false;
  LocalMs silencedAt = 0;
  rig.pump.set([&](std::int64_t) {
    if (!silenced && rig.tables.ScansDone[0] >= 3) {
      silenced = true;
      silencedAt = rig.clock.now();
      rig.meter(0).setFault("silent");
    }
  });
  rig.run.StartReading_Click();
  rig.run.driveUntilEnded();
  EXPECT_EQ(rig.messages.count("Timeout"), 1u);
  EXPECT_EQ(rig.messages.texts().back(), "End of Job.");
  EXPECT_EQ(rig.tables.ScansDone[0], 3);
  EXPECT_EQ(rig.records.files["Record1"].size(), 3u);
  EXPECT_TRUE(rig.run.instrumentFailed());
  // One session time-out passed, on the manual clock.
  EXPECT_GE(rig.clock.now() - silencedAt, 30000);
  EXPECT_LT(rig.clock.now() - silencedAt, 32000);
}

TEST_F(RunTest, MissingRecordAfterCreationUnlocksAndClosesWhatWasOpened) {
  setFunctions(rig, 0, 20, "VOLT", 2);
  setFunctions(rig, 1, 10, "VOLT", 2);
  select(2);
  rig.tables.DatabaseName[0] = "Record1";
  rig.tables.DatabaseName[1] = "Record2";
  rig.records.files["Record1"];
  rig.records.refuseCreate = true;
  rig.run.StartReading_Click();
  rig.run.driveUntilEnded();
  EXPECT_EQ(rig.messages.texts(), std::vector<std::string>{"The database is error!!Please choice a database again."});
  EXPECT_FALSE(rig.records.open[0]);
  EXPECT_TRUE(rig.display.isEnabled("StartReading"));
  EXPECT_FALSE(rig.run.running());
}

// A record that cannot be made: the run is reset (the record already open closed, Start
// unlocked, not running), and the next Start, once the cause is gone, runs.
TEST_F(RunTest, ARecordThatCannotBeCreatedResetsTheRunForTheNextStart) {
  setFunctions(rig, 0, 20, "VOLT", 2);
  setFunctions(rig, 1, 10, "VOLT", 2);
  select(2);
  for (int slot = 0; slot < 2; ++slot) {
    rig.tables.setup[static_cast<std::size_t>(slot)].scanCount_Status = 1;
    rig.tables.setup[static_cast<std::size_t>(slot)].ScanCount = "2";
  }
  rig.tables.DatabaseName[0] = "Record1";
  rig.tables.DatabaseName[1] = "Record2";
  rig.records.files["Record1"];
  rig.records.createError = "Record Record2: the folder cannot be written";
  rig.run.StartReading_Click();
  rig.run.driveUntilEnded();
  EXPECT_EQ(rig.messages.texts(), std::vector<std::string>{"Record Record2: the folder cannot be written"});
  EXPECT_EQ(rig.records.log, (std::vector<std::string>{"create 0 Record1", "open 0", "create 1 Record2", "close 0"}));
  EXPECT_FALSE(rig.records.open[0]);
  EXPECT_FALSE(rig.run.running());
  EXPECT_TRUE(rig.display.isEnabled("StartReading"));
  EXPECT_TRUE(rig.records.files["Record1"].empty());

  rig.records.createError.clear();
  rig.run.StartReading_Click();
  rig.run.driveUntilEnded();
  EXPECT_EQ(rig.messages.texts().back(), "End of Job.");
  EXPECT_EQ(rig.records.files["Record1"].size(), 2u);
  EXPECT_EQ(rig.records.files["Record2"].size(), 2u);
}

TEST_F(RunTest, RecordErrorEndsTheRunCleanlyKeepingStoredRows) {
  setFunctions(rig, 0, 20, "VOLT", 2);
  select(1);
  rig.tables.setup[0].scanCount_Status = 2;
  rig.tables.setup[0].ScanTime = "1";
  rig.tables.DatabaseName[0] = "Record1";
  rig.records.failAppendAfter = 4;
  rig.run.StartReading_Click();
  rig.run.driveUntilEnded();
  ASSERT_EQ(rig.messages.texts().size(), 2u);
  EXPECT_EQ(rig.messages.texts()[0], "Record Record1: disk full");
  EXPECT_EQ(rig.messages.texts()[1], "End of Job.");
  EXPECT_EQ(rig.records.files["Record1"].size(), 4u);
  EXPECT_EQ(rig.records.log.back(), "close 0");
}

TEST_F(RunTest, NumbersContinueAfterTheRowsAlreadyInTheRecord) {
  setFunctions(rig, 0, 20, "VOLT", 1);
  select(1);
  rig.tables.setup[0].scanCount_Status = 1;
  rig.tables.setup[0].ScanCount = "2";
  rig.tables.DatabaseName[0] = "Record1";
  rig.records.rowBase[0] = 6;
  rig.run.StartReading_Click();
  rig.run.driveUntilEnded();
  ASSERT_EQ(rig.records.files["Record1"].size(), 2u);
  EXPECT_EQ(rig.records.files["Record1"][0].num, "7");
  EXPECT_EQ(rig.records.files["Record1"][1].num, "8");
}

TEST_F(RunTest, FourWireChannelReadBackMakesItsPartnerNone) {
  rig.meter(0).write("rout:scan:func 4,\"FRES\"\n");
  select(1);
  EXPECT_EQ(rig.tables.channel[0][3].Function, "4W");
  EXPECT_EQ(rig.tables.channel[0][13].Function, "NONE");
  EXPECT_EQ(rig.display.ActiveChannelCount[0], 19);
}

// Four 20-channel meters, every channel measuring volts.
std::vector<sim::SimInstrumentConfig> fourMeters() {
  std::vector<sim::SimInstrumentConfig> out;
  for (int i = 1; i <= 4; ++i) {
    sim::SimInstrumentConfig c;
    const std::string serial = "SIM010" + std::to_string(i);
    c.resource = "USB0::0x0000::0x0001::" + serial + "::INSTR";
    c.identity = "SIMULATED,M100," + serial + ",1.0";
    c.card = "2";
    c.serial = serial;
    c.seed = static_cast<std::uint32_t>(i);
    out.push_back(c);
  }
  return out;
}

struct SideBySide : ::testing::Test {
  SimRig rig{fourMeters()};
  // Every meter scans its channels back to back until Stop, into Record<n>.
  void byStop(int meters, const std::string& scanTime = "0") {
    rig.selectFirst(meters);
    rig.messages.clear();
    for (int d = 0; d < meters; ++d) {
      ScanSetup& s = rig.tables.setup[static_cast<std::size_t>(d)];
      s.scanCount_Status = 2;
      s.ScanTime = scanTime;
      rig.tables.DatabaseName[static_cast<std::size_t>(d)] = "Record" + std::to_string(d + 1);
    }
  }
  std::size_t rows(int d) { return rig.records.files["Record" + std::to_string(d + 1)].size(); }
};

TEST_F(SideBySide, FourMetersScanningBackToBackEachGetTheirShare) {
  byStop(4);
  const LocalMs start = rig.clock.now();
  rig.pump.set([&](std::int64_t) {
    if (rig.clock.now() - start >= 60000) rig.run.StopReading_Click();
  });
  rig.run.StartReading_Click();
  rig.run.driveUntilEnded();
  std::vector<std::size_t> counts;
  for (int d = 0; d < 4; ++d) counts.push_back(rows(d));
  const auto [lo, hi] = std::minmax_element(counts.begin(), counts.end());
  ASSERT_GT(*lo, 0u);
  EXPECT_LE(static_cast<double>(*hi), 1.1 * static_cast<double>(*lo))
      << counts[0] << " " << counts[1] << " " << counts[2] << " " << counts[3];
  // A minute of 20 readings at 20 ms each, a trigger, polls and a fetch: about 130 scans per
  // meter, as many as one meter alone gets (they no longer wait for each other).
  EXPECT_GT(*lo, 100u);
  // Each meter's conversation is still the exact sequence: one count, then trigger, polls, fetch.
  const auto sent = rig.received(2);
  ASSERT_GE(sent.size(), 4u);
  EXPECT_EQ(countOf(sent, "rout:scan:count 20\n"), 1u);
  // (Stop may come while a fetch is on its way: that one answer is abandoned.)
  EXPECT_LE(countOf(sent, "fetch?\n") - rows(2), 1u);
  EXPECT_EQ(countOf(sent, "rout:scan:SCAN\n"), countOf(sent, "fetch?\n"));
  EXPECT_EQ(rig.messages.texts(), std::vector<std::string>{"End of Job."});
}

TEST_F(SideBySide, ASilentMeterDoesNotDelayTheOthers) {
  byStop(4, "1");
  LocalMs silencedAt = 0;
  std::array<std::size_t, 4> atSilence{};
  rig.pump.set([&](std::int64_t) {
    if (silencedAt == 0 && rig.tables.ScansDone[1] >= 3) {
      silencedAt = rig.clock.now();
      for (int d = 0; d < 4; ++d) atSilence[static_cast<std::size_t>(d)] = rows(d);
      rig.meter(1).setFault("silent");
    }
  });
  rig.run.StartReading_Click();
  rig.run.driveUntilEnded();
  ASSERT_NE(silencedAt, 0);
  // Without the option the run still ends on the silent meter's time-out...
  EXPECT_EQ(rig.messages.texts(), (std::vector<std::string>{"Timeout", "End of Job."}));
  EXPECT_TRUE(rig.run.instrumentFailed());
  EXPECT_GE(rig.clock.now() - silencedAt, 30000);
  EXPECT_LT(rig.clock.now() - silencedAt, 32000);
  // ...but the other three went on all through those 30 s: a second from each fetch to the next
  // trigger and about 0.45 s of scanning make some 20 scans (a meter held up would have none).
  for (int d : {0, 2, 3}) {
    EXPECT_GE(rows(d) - atSilence[static_cast<std::size_t>(d)], 19u) << "meter " << d + 1;
  }
  EXPECT_EQ(rows(1), 3u);
  for (int d = 0; d < 4; ++d) EXPECT_FALSE(rig.records.open[static_cast<std::size_t>(d)]);
}

TEST_F(SideBySide, StopDuringAThirtySecondReadEndsTheRunAtOnce) {
  byStop(2, "1");
  LocalMs stoppedAt = 0;
  rig.pump.set([&](std::int64_t) {
    if (rig.tables.ScansDone[0] == 2 && rig.meter(0).config().fault == "none") rig.meter(0).setFault("silent");
    // Ten seconds into the silent read, the user presses Stop.
    if (stoppedAt == 0 && rig.tables.ScansDone[1] >= 12) {
      stoppedAt = rig.clock.now();
      rig.run.StopReading_Click();
    }
  });
  rig.run.StartReading_Click();
  rig.run.driveUntilEnded();
  ASSERT_NE(stoppedAt, 0);
  EXPECT_FALSE(rig.run.running());
  EXPECT_LT(rig.clock.now() - stoppedAt, 1000);  // not the rest of the time-out
  EXPECT_EQ(rig.messages.texts(), std::vector<std::string>{"End of Job."});
  EXPECT_FALSE(rig.run.instrumentFailed());
  EXPECT_EQ(rig.records.log.back(), "close 1");
  EXPECT_TRUE(rig.display.isEnabled("StartReading"));
  // The next run starts cleanly.
  rig.meter(0).setFault("none");
  rig.pump.set(nullptr);
  rig.tables.setup[0].scanCount_Status = 1;
  rig.tables.setup[0].ScanCount = "2";
  rig.tables.setup[1].scanCount_Status = 1;
  rig.tables.setup[1].ScanCount = "2";
  rig.messages.clear();
  rig.run.StartReading_Click();
  rig.run.driveUntilEnded();
  EXPECT_EQ(rig.tables.ScansDone[0], 2);
  EXPECT_EQ(rig.tables.ScansDone[1], 2);
}

// Keep logging when an instrument fails.

// The meter events a run reports, per slot, with the slot's stored scans at each.
struct EventLog final : RunObserver {
  explicit EventLog(const ScanTables& t) : tables(t) {}
  void meterEvent(int slot, const std::string& what) override {
    events.push_back({slot, what, tables.ScansDone[static_cast<std::size_t>(slot)]});
    if (onEvent) onEvent(slot, what);
  }
  struct Event {
    int slot;
    std::string what;
    double scansDone;
  };
  std::vector<std::string> of(int slot) const {
    std::vector<std::string> out;
    for (const auto& e : events) {
      if (e.slot == slot) out.push_back(e.what);
    }
    return out;
  }
  const ScanTables& tables;
  std::vector<Event> events;
  std::function<void(int, const std::string&)> onEvent;
};

// NUM 1..n without a gap or a double.
void expectNumberedWithoutGaps(const std::vector<testing::MemoryRow>& rows, const std::string& what) {
  for (std::size_t i = 0; i < rows.size(); ++i) {
    ASSERT_EQ(rows[i].num, std::to_string(i + 1)) << what << " row " << i;
  }
}

struct KeepGoing : SideBySide {
  std::filesystem::path dir = std::filesystem::temp_directory_path() /
                              ("kalivor-keepgoing-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
                               "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
  RunLog log{(dir / "kalivor-run.log").string()};
  EventLog events{rig.tables};
  KeepGoing() {
    std::filesystem::remove_all(dir);
    rig.run.setRunLog(&log);
    rig.run.setObserver(&events);
    rig.run.keepGoing = true;
  }
  ~KeepGoing() override { std::filesystem::remove_all(dir); }
  std::string logText() const {
    std::ifstream in(dir / "kalivor-run.log");
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
};

TEST_F(KeepGoing, AMeterUnpluggedAndBackResumesIntoItsRecordWithNoGapAndTheOthersLoseNothing) {
  for (std::size_t m = 0; m < 2; ++m) setFunctions(rig, m, 20, "VOLT", 2);
  byStop(2, "1");
  rig.meter(0).setFault("drop-after:300:back-after:45");
  std::vector<RunController::MeterCondition> seen;
  std::string captionWhileAway;
  rig.pump.set([&](std::int64_t) {
    seen.push_back(rig.run.condition(0));
    if (rig.run.condition(0) != RunController::MeterCondition::Healthy) captionWhileAway = rig.display.tabs[0].caption;
    // Stop once the meter has been lost twice and is back.
    if (rig.meter(0).drops() >= 2 && rig.run.condition(0) == RunController::MeterCondition::Healthy &&
        rig.tables.ScansDone[0] > events.events.back().scansDone + 5)
      rig.run.StopReading_Click();
  });
  rig.run.StartReading_Click();
  rig.run.driveUntilEnded();

  ASSERT_EQ(rig.meter(0).drops(), 2u);
  // No message box: the run went on; the end is the usual one.
  EXPECT_EQ(rig.messages.texts(), std::vector<std::string>{"End of Job."});
  EXPECT_FALSE(rig.run.instrumentFailed());
  EXPECT_EQ(rig.run.condition(0), RunController::MeterCondition::Healthy);
  EXPECT_NE(std::find(seen.begin(), seen.end(), RunController::MeterCondition::Reconnecting), seen.end());
  EXPECT_EQ(captionWhileAway, "SIM0101 -- 20ch (reconnecting)");
  EXPECT_EQ(rig.display.tabs[0].caption, "SIM0101 -- 20ch");
  // Back 45 s after each drop: the try at 30 s finds nothing, the one at 60 s gets it back.
  EXPECT_EQ(events.of(0), (std::vector<std::string>{"Timeout: link lost", "not reconnected: not found",
                                                     "reconnected", "Timeout: link lost",
                                                     "not reconnected: not found", "reconnected"}));
  EXPECT_TRUE(events.of(1).empty());

  // The same record goes on with the next numbers; scans were stored before and after each drop.
  const auto& lost = rig.records.files["Record1"];
  expectNumberedWithoutGaps(lost, "Record1");
  EXPECT_EQ(lost.size(), static_cast<std::size_t>(rig.tables.ScansDone[0]));
  EXPECT_GT(events.events[0].scansDone, 0);
  EXPECT_GT(events.events[3].scansDone, events.events[2].scansDone);
  EXPECT_GT(rig.tables.ScansDone[0], events.events[5].scansDone);
  EXPECT_EQ(rig.records.log, (std::vector<std::string>{"create 0 Record1", "open 0", "create 1 Record2",
                                                        "open 1", "close 0", "close 1"}));

  // The healthy meter scanned once a second all through: about 1.1 s a scan, nothing missing.
  const auto& healthy = rig.records.files["Record2"];
  expectNumberedWithoutGaps(healthy, "Record2");
  EXPECT_EQ(healthy.size(), static_cast<std::size_t>(rig.tables.ScansDone[1]));
  EXPECT_GT(healthy.size(), lost.size() + 100);  // two outages of about a minute each

  // It was opened again, identified, given its setup and read back before scanning on.
  const auto sent = rig.received(0);
  EXPECT_EQ(countOf(sent, "*IDN?"), 2u);
  EXPECT_EQ(countOf(sent, "ROUTe:SCAN:TIMER 0.5\n"), 2u);
  EXPECT_EQ(countOf(sent, "rout:scan:func 3,\"NONE\"\n"), 2u);
  EXPECT_EQ(countOf(sent, "rout:scan:func? 1\n"), 3u);  // at the start and after each return
  EXPECT_EQ(countOf(sent, "rout:scan:count 2\n"), 3u);

  // The run log beside the records says the same, one line per event.
  const std::string text = logText();
  EXPECT_NE(text.find("\tSIM0101 -- 20ch\tTimeout: link lost\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\tSIM0101 -- 20ch\treconnected\n"), std::string::npos) << text;
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 6) << text;
}

TEST_F(KeepGoing, WithoutTheOptionALostMeterStillEndsTheRunAndIsMarkedFailed) {
  rig.run.keepGoing = false;
  for (std::size_t m = 0; m < 2; ++m) setFunctions(rig, m, 20, "VOLT", 2);
  byStop(2, "1");
  rig.pump.set([&](std::int64_t) {
    if (rig.tables.ScansDone[1] == 5 && rig.meter(1).config().fault == "none") rig.meter(1).setFault("drop-after:0");
  });
  rig.run.StartReading_Click();
  rig.run.driveUntilEnded();
  EXPECT_EQ(rig.messages.texts(), (std::vector<std::string>{"Timeout", "End of Job."}));
  EXPECT_TRUE(rig.run.instrumentFailed());
  EXPECT_EQ(rig.run.condition(1), RunController::MeterCondition::Failed);
  EXPECT_EQ(rig.run.condition(0), RunController::MeterCondition::Healthy);
  EXPECT_EQ(events.of(1), std::vector<std::string>{"Timeout: link lost"});
  EXPECT_EQ(rows(1), 5u);
  EXPECT_EQ(rig.display.tabs[1].caption, "SIM0102 -- 20ch");  // looks as it always did
  EXPECT_FALSE(rig.display.isEnabled("StartReading"));
  EXPECT_NE(logText().find("\tSIM0102 -- 20ch\tTimeout: link lost\n"), std::string::npos);
}

TEST_F(KeepGoing, StopDuringAReconnectionTryEndsTheRunAtOnce) {
  for (std::size_t m = 0; m < 2; ++m) setFunctions(rig, m, 20, "VOLT", 2);
  byStop(2, "1");
  LocalMs stoppedAt = 0;
  events.onEvent = [&](int slot, const std::string& what) {
    // The meter goes quiet for ten minutes: its poll waits out 30 s, then the try 30 s later
    // waits for an identity that does not come; Stop comes 10 s into that wait.
    if (slot == 0 && what == "Timeout: no answer") {
      rig.run.scheduler().at(rig.clock.now() + RunController::kReconnectEveryMs + 10000, [&] {
        stoppedAt = rig.clock.now();
        rig.run.StopReading_Click();
      });
    }
  };
  rig.pump.set([&](std::int64_t) {
    if (rig.tables.ScansDone[0] == 3 && rig.meter(0).config().fault == "none") rig.meter(0).setFault("silent-after:0:for:600");
  });
  rig.run.StartReading_Click();
  rig.run.driveUntilEnded();
  ASSERT_NE(stoppedAt, 0);
  EXPECT_LT(rig.clock.now() - stoppedAt, 1000);
  EXPECT_EQ(events.of(0), std::vector<std::string>{"Timeout: no answer"});
  EXPECT_EQ(countOf(rig.received(0), "*IDN?"), 1u);  // the try was under way
  EXPECT_EQ(rig.messages.texts(), std::vector<std::string>{"End of Job."});
  // Still away at the end: the run reports the failure and locks as after one.
  EXPECT_EQ(rig.run.condition(0), RunController::MeterCondition::Failed);
  EXPECT_EQ(rig.display.tabs[0].caption, "SIM0101 -- 20ch (failed)");
  EXPECT_TRUE(rig.run.instrumentFailed());
  EXPECT_EQ(rows(0), 3u);
  // The other meter kept scanning through the minute and more.
  EXPECT_GT(rows(1), 50u);
  for (int d = 0; d < 2; ++d) EXPECT_FALSE(rig.records.open[static_cast<std::size_t>(d)]);
}

TEST_F(KeepGoing, AMeterThatNeverComesBackFinishesAtTheStopTimeAndTheRunEnds) {
  for (std::size_t m = 0; m < 2; ++m) setFunctions(rig, m, 20, "VOLT", 2);
  byStop(2, "1");
  const LocalMs start = rig.clock.now();
  for (int d = 0; d < 2; ++d) {
    rig.tables.setup[static_cast<std::size_t>(d)].StopAtTime = 1;
    rig.tables.setup[static_cast<std::size_t>(d)].StopTime = formatDateTime(start + 600 * 1000);
  }
  rig.meter(0).setFault("drop-after:30");  // gone for good; the resource still opens
  rig.run.StartReading_Click();
  rig.run.driveUntilEnded();
  EXPECT_GE(rig.clock.now() - start, 600 * 1000);
  EXPECT_LT(rig.clock.now() - start, 602 * 1000);
  EXPECT_EQ(rig.messages.texts(), std::vector<std::string>{"End of Job."});
  // Some twenty tries failed the same way: said once.
  EXPECT_EQ(events.of(0), (std::vector<std::string>{"Timeout: link lost",
                                                     "not reconnected: no answer to its identification (link lost)"}));
  EXPECT_EQ(rig.run.condition(0), RunController::MeterCondition::Failed);
  EXPECT_TRUE(rig.run.instrumentFailed());
  EXPECT_GT(rows(1), 500u);  // the other went on to its stop time
}

TEST_F(KeepGoing, TwentyFourHoursWithOneMeterLostThreeTimesStoreEveryScanOfTheOthers) {
  for (std::size_t m = 0; m < 4; ++m) setFunctions(rig, m, 20, "VOLT", 2);
  byStop(4, "60");
  rig.meter(3).setFault("drop-after:1000:back-after:300");
  const LocalMs start = rig.clock.now();
  for (int d = 0; d < 4; ++d) {
    ScanSetup& s = rig.tables.setup[static_cast<std::size_t>(d)];
    s.ScanInterval = 1;  // a scan every minute on the minute
    s.StopAtTime = 1;
    s.StopTime = formatDateTime(start + 24 * 3600 * 1000);
  }
  // Three times lost, then it stays.
  events.onEvent = [&](int slot, const std::string& what) {
    if (slot == 3 && what == "reconnected" && rig.meter(3).drops() == 3) rig.meter(3).setFault("none");
  };
  rig.run.StartReading_Click();
  rig.run.driveUntilEnded();

  EXPECT_GE(rig.clock.now() - start, 24 * 3600 * 1000);
  EXPECT_EQ(rig.messages.texts(), std::vector<std::string>{"End of Job."});
  EXPECT_FALSE(rig.run.instrumentFailed());
  ASSERT_EQ(rig.meter(3).drops(), 3u);
  for (int d = 0; d < 3; ++d) {
    // A scan every minute for a day (the first a second in, after the read-back): 1440.
    EXPECT_EQ(rows(d), 1440u) << "meter " << d + 1;
    expectNumberedWithoutGaps(rig.records.files["Record" + std::to_string(d + 1)], "healthy");
    EXPECT_TRUE(events.of(d).empty());
  }
  const std::vector<std::string> lostAndBack = {"Timeout: link lost", "not reconnected: not found",
                                                "reconnected"};
  std::vector<std::string> expected;
  for (int i = 0; i < 3; ++i) expected.insert(expected.end(), lostAndBack.begin(), lostAndBack.end());
  ASSERT_EQ(events.of(3), expected);
  // Scans before the first drop, between the drops and after the last.
  std::vector<double> at;
  for (const auto& e : events.events) at.push_back(e.scansDone);
  EXPECT_GT(at[0], 0);
  EXPECT_GT(at[3], at[2]);
  EXPECT_GT(at[6], at[5]);
  EXPECT_GT(rig.tables.ScansDone[3], at[8]);
  expectNumberedWithoutGaps(rig.records.files["Record4"], "the meter lost three times");
  // About six minutes away each time (five unplugged, then the next try): the rest is stored.
  EXPECT_GE(rows(3), 1440u - 3 * 7);
  EXPECT_LE(rows(3), 1440u - 3 * 5);
}

TEST_F(KeepGoing, AMeterLostWhileReadBackAtStartJoinsOnceBackAndTheOthersLogMeanwhile) {
  for (std::size_t m = 0; m < 2; ++m) setFunctions(rig, m, 20, "VOLT", 2);
  byStop(2, "1");
  rig.clearReceived();
  // Its second channel query loses the link; it is plugged back 45 s later.
  rig.meter(0).setFault("drop-after:1:back-after:45");
  std::string captionWhileAway, rowWhileAway;
  std::size_t othersAtReturn = 0;
  const LocalMs start = rig.clock.now();
  events.onEvent = [&](int slot, const std::string& what) {
    if (slot != 0) return;
    if (what == "reconnected") othersAtReturn = rows(1);
    if (what != "not reconnected: not found") return;
    captionWhileAway = rig.display.tabs[0].caption;
    rowWhileAway = rig.display.scanControlRows.empty() ? "" : rig.display.scanControlRows[0][0];
    rig.meter(0).setFault("none");  // it stays well once back
  };
  rig.pump.set([&](std::int64_t) {
    if (rig.tables.ScansDone[0] >= 5 || rig.clock.now() - start > 600000) rig.run.StopReading_Click();
  });
  rig.run.StartReading_Click();
  rig.run.driveUntilEnded();

  EXPECT_EQ(rig.messages.texts(), std::vector<std::string>{"End of Job."});
  EXPECT_FALSE(rig.run.instrumentFailed());
  EXPECT_EQ(events.of(0), (std::vector<std::string>{"Timeout: link lost", "not reconnected: not found", "reconnected"}));
  EXPECT_EQ(captionWhileAway, "SIM0101 -- 20ch (reconnecting)");
  EXPECT_EQ(rowWhileAway, "SIM0101 -- 20ch (reconnecting)");
  EXPECT_EQ(rig.display.tabs[0].caption, "SIM0101 -- 20ch");
  EXPECT_EQ(rig.display.meterMarks[0], MeterMark::None);
  // The other meter started at once and scanned about once a second through the minute away.
  EXPECT_GE(othersAtReturn, 50u);
  EXPECT_LE(othersAtReturn, 62u);
  // Both records were made at the start; the lost meter's starts at 1 once it is back.
  EXPECT_EQ(rig.records.log, (std::vector<std::string>{"create 0 Record1", "open 0", "create 1 Record2",
                                                        "open 1", "close 0", "close 1"}));
  EXPECT_EQ(rows(0), 5u);
  expectNumberedWithoutGaps(rig.records.files["Record1"], "Record1");
  expectNumberedWithoutGaps(rig.records.files["Record2"], "Record2");
  // It joined with the setup it was started with, not with what was half read back.
  EXPECT_EQ(rig.tables.channel[0][1].Function, "DCV");
  EXPECT_EQ(rig.tables.channel[0][2].Function, "NONE");
  EXPECT_EQ(rig.meter(0).function(2), "VOLT");
  // Its count is set once, after it came back, before its first trigger.
  const auto sent = rig.received(0);
  EXPECT_EQ(countOf(sent, "rout:scan:count 2\n"), 1u);
  const auto count = std::find(sent.begin(), sent.end(), "rout:scan:count 2\n");
  const auto idn = std::find(sent.begin(), sent.end(), "*IDN?");
  const auto trigger = std::find(sent.begin(), sent.end(), "rout:scan:SCAN\n");
  EXPECT_LT(idn - sent.begin(), count - sent.begin());
  EXPECT_LT(count - sent.begin(), trigger - sent.begin());
}

TEST_F(KeepGoing, AMeterSilentWhileReadBackAtStartHoldsBackNoOtherMeter) {
  for (std::size_t m = 0; m < 2; ++m) setFunctions(rig, m, 20, "VOLT", 2);
  byStop(2, "1");
  // Its second channel query goes unanswered: a 30 s time-out; it is well again for the next try.
  rig.meter(0).setFault("silent-after:1:for:40");
  events.onEvent = [&](int slot, const std::string& what) {
    if (slot == 0 && what == "Timeout: no answer") rig.meter(0).setFault("none");
  };
  const LocalMs start = rig.clock.now();
  LocalMs othersFirstScan = 0;
  rig.pump.set([&](std::int64_t) {
    if (othersFirstScan == 0 && rows(1) > 0) othersFirstScan = rig.clock.now();
    if (rig.tables.ScansDone[0] >= 3 || rig.clock.now() - start > 600000) rig.run.StopReading_Click();
  });
  rig.run.StartReading_Click();
  rig.run.driveUntilEnded();

  ASSERT_NE(othersFirstScan, 0);
  EXPECT_LT(othersFirstScan - start, 3000);  // not after the silent meter's 30 s
  EXPECT_EQ(events.of(0), (std::vector<std::string>{"Timeout: no answer", "reconnected"}));
  EXPECT_EQ(rig.messages.texts(), std::vector<std::string>{"End of Job."});
  EXPECT_EQ(rows(0), 3u);
  // About a second a scan from the start to the silent meter's third scan, a minute or more in.
  EXPECT_GE(rows(1), 55u);
  expectNumberedWithoutGaps(rig.records.files["Record1"], "Record1");
  expectNumberedWithoutGaps(rig.records.files["Record2"], "Record2");
  EXPECT_EQ(rig.records.log, (std::vector<std::string>{"create 0 Record1", "open 0", "create 1 Record2",
                                                        "open 1", "close 0", "close 1"}));
  // Each meter's scan control row shows when its first scan came, the late one's included.
  ASSERT_EQ(rig.display.scanControlRows.size(), 2u);
  EXPECT_EQ(rig.display.scanControlRows[1][4], rig.records.files["Record2"].front().time);
  EXPECT_EQ(rig.display.scanControlRows[0][4], rig.records.files["Record1"].front().time);
}

TEST_F(KeepGoing, StopWhileAMeterIsStillReadBackEndsTheRunAtOnce) {
  for (std::size_t m = 0; m < 2; ++m) setFunctions(rig, m, 20, "VOLT", 2);
  byStop(2, "1");
  rig.meter(0).setFault("silent-after:1:for:40");
  LocalMs stoppedAt = 0;
  rig.pump.set([&](std::int64_t) {
    if (stoppedAt == 0 && rows(1) >= 10) {
      stoppedAt = rig.clock.now();
      rig.run.StopReading_Click();
    }
  });
  rig.run.StartReading_Click();
  rig.run.driveUntilEnded();
  ASSERT_NE(stoppedAt, 0);
  EXPECT_LT(rig.clock.now() - stoppedAt, 1000);
  EXPECT_EQ(rig.messages.texts(), std::vector<std::string>{"End of Job."});
  EXPECT_EQ(rows(0), 0u);
  EXPECT_EQ(rows(1), 10u);
  EXPECT_EQ(countOf(rig.received(0), "rout:scan:SCAN\n"), 0u);
  EXPECT_FALSE(rig.records.open[0]);
  EXPECT_FALSE(rig.records.open[1]);
  EXPECT_TRUE(rig.display.isEnabled("StartReading"));
}

TEST_F(KeepGoing, WithoutTheOptionAMeterLostWhileReadBackStillStopsTheStart) {
  rig.run.keepGoing = false;
  for (std::size_t m = 0; m < 2; ++m) setFunctions(rig, m, 20, "VOLT", 2);
  byStop(2, "1");
  rig.meter(0).setFault("drop-after:1:back-after:45");
  rig.run.StartReading_Click();
  rig.run.driveUntilEnded();
  EXPECT_EQ(rig.messages.texts(), (std::vector<std::string>{"Timeout", "End of Job."}));
  EXPECT_TRUE(rig.run.instrumentFailed());
  EXPECT_EQ(rig.run.condition(0), RunController::MeterCondition::Failed);
  EXPECT_TRUE(rig.records.log.empty());  // nothing was logged
  EXPECT_EQ(countOf(rig.received(1), "rout:scan:SCAN\n"), 0u);
  EXPECT_EQ(rig.display.tabs[0].caption, "SIM0101 -- 20ch");
  EXPECT_EQ(rig.display.meterMarks[0], MeterMark::None);
  EXPECT_FALSE(rig.display.isEnabled("StartReading"));
}

TEST_F(KeepGoing, StopWhileAMeterLostAtStartWaitsLeavesItFailedInItsTabAndRow) {
  for (std::size_t m = 0; m < 2; ++m) setFunctions(rig, m, 20, "VOLT", 2);
  byStop(2, "1");
  rig.meter(0).setFault("drop-after:0");  // gone for good
  rig.pump.set([&](std::int64_t) {
    if (rig.tables.ScansDone[1] >= 10) rig.run.StopReading_Click();
  });
  rig.run.StartReading_Click();
  rig.run.driveUntilEnded();
  EXPECT_EQ(rig.messages.texts(), std::vector<std::string>{"End of Job."});
  EXPECT_EQ(rows(1), 10u);
  EXPECT_EQ(rows(0), 0u);
  EXPECT_EQ(rig.run.condition(0), RunController::MeterCondition::Failed);
  EXPECT_TRUE(rig.run.instrumentFailed());
  EXPECT_EQ(rig.display.tabs[0].caption, "SIM0101 -- 20ch (failed)");
  ASSERT_FALSE(rig.display.scanControlRows.empty());
  EXPECT_EQ(rig.display.scanControlRows[0][0], "SIM0101 -- 20ch (failed)");
  EXPECT_EQ(rig.display.scanControlRows[1][0], "SIM0102 -- 20ch");
  // The next run starts unmarked.
  rig.meter(0).setFault("none");
  rig.pump.set(nullptr);
  for (int d = 0; d < 2; ++d) {
    rig.tables.setup[static_cast<std::size_t>(d)].scanCount_Status = 1;
    rig.tables.setup[static_cast<std::size_t>(d)].ScanCount = "2";
  }
  rig.run.StartReading_Click();
  EXPECT_EQ(rig.display.tabs[0].caption, "SIM0101 -- 20ch");
  EXPECT_EQ(rig.display.scanControlRows[0][0], "SIM0101 -- 20ch");
}

TEST_F(KeepGoing, EveryMeterLostAtStartKeepsTryingUntilStop) {
  for (std::size_t m = 0; m < 2; ++m) setFunctions(rig, m, 20, "VOLT", 2);
  byStop(2, "1");
  for (std::size_t m = 0; m < 2; ++m) rig.meter(m).setFault("drop-after:0");
  const LocalMs start = rig.clock.now();
  rig.run.StartReading_Click();
  // Nothing scans, so nothing pumps: Stop comes from the clock, after three rounds of tries (the
  // run did not end at the start).
  rig.run.scheduler().at(start + 100000, [&] { rig.run.StopReading_Click(); });
  rig.run.driveUntilEnded();
  EXPECT_GE(rig.clock.now() - start, 100000);
  EXPECT_LT(rig.clock.now() - start, 101000);
  EXPECT_EQ(rig.messages.texts(), std::vector<std::string>{"End of Job."});
  const std::vector<std::string> tried = {"Timeout: link lost",
                                          "not reconnected: no answer to its identification (link lost)"};
  for (int d = 0; d < 2; ++d) {
    EXPECT_EQ(events.of(d), tried) << d;
    EXPECT_EQ(rig.run.condition(d), RunController::MeterCondition::Failed);
    EXPECT_EQ(rows(d), 0u);
  }
  EXPECT_TRUE(rig.run.instrumentFailed());
  EXPECT_EQ(rig.records.log, (std::vector<std::string>{"create 0 Record1", "open 0", "create 1 Record2",
                                                        "open 1", "close 0", "close 1"}));
}

TEST_F(KeepGoing, AFetchAnswerThatNeverEndsEndsOnlyThatMetersShare) {
  for (std::size_t m = 0; m < 2; ++m) setFunctions(rig, m, 20, "VOLT", 2);
  byStop(2, "1");
  std::size_t othersAtFailure = 0, othersAtReturn = 0;
  events.onEvent = [&](int slot, const std::string& what) {
    if (slot != 0) return;
    if (what == "reconnected") {
      othersAtReturn = rows(1);
      rig.meter(0).setFault("none");
    } else {
      othersAtFailure = rows(1);
    }
  };
  const LocalMs start = rig.clock.now();
  rig.pump.set([&](std::int64_t) {
    if (rig.tables.ScansDone[0] == 3 && events.events.empty()) rig.meter(0).setFault("endless-fetch-after:0");
    if ((!events.events.empty() && rig.tables.ScansDone[0] >= events.events[0].scansDone + 3) ||
        rig.clock.now() - start > 600000) {
      rig.run.StopReading_Click();
    }
  });
  rig.run.StartReading_Click();
  rig.run.driveUntilEnded();

  EXPECT_EQ(rig.messages.texts(), std::vector<std::string>{"End of Job."});
  EXPECT_FALSE(rig.run.instrumentFailed());
  EXPECT_EQ(events.of(0), (std::vector<std::string>{"fetch? answer does not end", "reconnected"}));
  // (The fault may meet the fetch after the one it was set at: the manual clock runs each
  // exchange ahead.)
  const double before = events.events[0].scansDone;
  EXPECT_GE(before, 3);
  EXPECT_LE(before, 4);
  // Nothing of the endless answer was taken for a scan; the record goes on with the next number.
  EXPECT_EQ(rows(0), static_cast<std::size_t>(before) + 3);
  expectNumberedWithoutGaps(rig.records.files["Record1"], "Record1");
  // The endless answer was read to its bound, then the meter was left alone for 30 s.
  EXPECT_EQ(countOf(rig.received(0), "fetch?\n"), rows(0) + 1);
  EXPECT_GE(othersAtReturn - othersAtFailure, 27u);
  EXPECT_LE(othersAtReturn - othersAtFailure, 31u);
  EXPECT_NE(logText().find("\tSIM0101 -- 20ch\tfetch? answer does not end\n"), std::string::npos) << logText();
}

TEST_F(KeepGoing, WithoutTheOptionAFetchAnswerThatNeverEndsStopsTheRunWithItsMessage) {
  rig.run.keepGoing = false;
  for (std::size_t m = 0; m < 2; ++m) setFunctions(rig, m, 20, "VOLT", 2);
  byStop(2, "1");
  rig.pump.set([&](std::int64_t) {
    if (rig.tables.ScansDone[1] == 2 && rig.meter(1).config().fault == "none") rig.meter(1).setFault("endless-fetch-after:0");
  });
  rig.run.StartReading_Click();
  rig.run.driveUntilEnded();
  EXPECT_EQ(rig.messages.texts(),
            (std::vector<std::string>{"The answer of SIM0102 -- 20ch to fetch? does not end; the run is stopped.",
                                      "End of Job."}));
  EXPECT_EQ(rows(1), 2u);
  EXPECT_EQ(events.of(1), std::vector<std::string>{"fetch? answer does not end"});
  EXPECT_EQ(rig.display.tabs[1].caption, "SIM0102 -- 20ch");
  for (int d = 0; d < 2; ++d) EXPECT_FALSE(rig.records.open[static_cast<std::size_t>(d)]);
}

// A meter whose scan-state answers hold no count would otherwise be polled for ever (without the
// option it still is: see the hardening tests).
TEST_F(KeepGoing, AMeterAnsweringNonsenseToTheStatePollFailsAfterTheTimeOutAndComesBack) {
  for (std::size_t m = 0; m < 2; ++m) setFunctions(rig, m, 20, "VOLT", 2);
  byStop(2, "1");
  LocalMs babbleFrom = 0, failedAt = 0;
  rig.pump.set([&](std::int64_t) {
    if (babbleFrom == 0 && rig.tables.ScansDone[1] == 2) {
      babbleFrom = rig.clock.now();
      rig.meter(1).setFault("garbage");
    }
    if (rig.tables.ScansDone[1] >= 5 || (babbleFrom != 0 && rig.clock.now() - babbleFrom > 300000)) rig.run.StopReading_Click();
  });
  events.onEvent = [&](int slot, const std::string& what) {
    if (slot != 1 || what != "rout:scan:state? answer is not a number") return;
    failedAt = rig.clock.now();
    rig.meter(1).setFault("none");
  };
  rig.run.StartReading_Click();
  rig.run.driveUntilEnded();
  ASSERT_NE(failedAt, 0);
  EXPECT_GE(failedAt - babbleFrom, 30000);
  EXPECT_LT(failedAt - babbleFrom, 32000);
  EXPECT_EQ(events.of(1), (std::vector<std::string>{"rout:scan:state? answer is not a number", "reconnected"}));
  EXPECT_EQ(rig.messages.texts(), std::vector<std::string>{"End of Job."});
  EXPECT_EQ(rows(1), 5u);
  expectNumberedWithoutGaps(rig.records.files["Record2"], "Record2");
  EXPECT_GE(rows(0), 55u);  // the other meter went on all the while
}

TEST_F(KeepGoing, ARecordThatCannotBeWrittenStillEndsTheWholeRunAndSaysSo) {
  for (std::size_t m = 0; m < 2; ++m) setFunctions(rig, m, 20, "VOLT", 2);
  byStop(2, "1");
  rig.records.failAppendAfter = 9;
  rig.run.StartReading_Click();
  rig.run.driveUntilEnded();
  // Not a meter's failure: no reconnecting, the run ends with the record's message.
  ASSERT_EQ(rig.messages.texts().size(), 2u);
  EXPECT_NE(rig.messages.texts()[0].find(": disk full"), std::string::npos);
  EXPECT_EQ(rig.messages.texts()[1], "End of Job.");
  EXPECT_TRUE(events.events.empty());
  EXPECT_EQ(rows(0) + rows(1), 9u);
  EXPECT_TRUE(rig.run.recordFailed(0) || rig.run.recordFailed(1));
  for (int d = 0; d < 2; ++d) EXPECT_FALSE(rig.records.open[static_cast<std::size_t>(d)]);
}

TEST_F(RunTest, SlotWhoseChannelsReadBackAsNoneIsNotTriggeredAndTheRunEnds) {
  setFunctions(rig, 0, 20, "VOLT", 2);
  setFunctions(rig, 1, 10, "VOLT", 2);
  select(2);
  for (int d = 0; d < 2; ++d) {
    rig.tables.setup[static_cast<std::size_t>(d)].scanCount_Status = 1;
    rig.tables.setup[static_cast<std::size_t>(d)].ScanCount = "2";
  }
  // The second meter was changed at its front panel after Set.
  setFunctions(rig, 1, 10, "VOLT", 0);
  rig.clearReceived();
  rig.run.StartReading_Click();
  rig.run.driveUntilEnded();
  EXPECT_EQ(rig.tables.ScansDone[0], 2);
  EXPECT_EQ(rig.tables.ScansDone[1], 0);
  EXPECT_EQ(countOf(rig.received(1), "rout:scan:count 0\n"), 0u);
  EXPECT_EQ(countOf(rig.received(1), "rout:scan:SCAN\n"), 0u);
  EXPECT_EQ(rig.messages.texts(), std::vector<std::string>{"End of Job."});
  EXPECT_FALSE(rig.run.running());
}

// The worked example of the current conversion, as an exact conversation.
TEST(StoreScan, CurrentChannelIsConvertedThroughItsShunt) {
  ManualClock clock;
  testing::ScriptedVisa visa(clock);
  int state = 0;
  visa.resources.push_back({"USB0::1::INSTR", {}, [&](const std::string& w) -> std::string {
                              if (w == "*IDN?") return "M,M1,S,1\n";
                              if (w == "rout:state?\n") return "1\n";
                              if (w == "cal:sec:serial?\n") return "S1\n";
                              if (w.rfind("rout:scan:func? ", 0) == 0) return w == "rout:scan:func? 2\n" ? "\"VOLT\"\n" : "\"NONE\"\n";
                              if (w == "rout:scan:SCAN\n") state = 2;
                              if (w == "rout:scan:state?\n") return std::to_string(state) + "\n";
                              if (w == "fetch?\n") return "+1.234560E-02,+2.000000E+00\n";
                              return "";
                            }});
  RecordingMessages messages;
  InstrumentLink link(visa, clock, messages);
  ScanTables tables;
  LiveDisplay display;
  testing::MemoryRecords records;
  CallbackEventPump pump;
  RunController run(link, tables, display, records, pump);
  link.DiscoverInstruments();
  link.InstrumentCount = 1;
  tables.setup[0].ChannelCount = 10;
  tables.setup[0].scanCount_Status = 1;
  tables.setup[0].ScanCount = "1";
  for (auto& ch : tables.channel[0]) ch.Function = "NONE";
  tables.channel[0][0].Function = "DCI";
  tables.channel[0][0].Ohm = 0.1;
  run.StartReading_Click();
  run.driveUntilEnded();
  EXPECT_EQ(tables.ScansDone[0], 1);
  EXPECT_EQ(tables.ReadingText[0][0], "0.123456");
  EXPECT_EQ(tables.ReadingText[0][1], "+2.000000E+00");
  EXPECT_EQ(display.channelGrids[0].cells[1][0].text, "0.123456");
  // DCI channels are not read back; the others are.
  const auto writes = visa.writesTo("USB0::1::INSTR");
  EXPECT_EQ(countOf(writes, "rout:scan:func? 1\n"), 0u);
  EXPECT_EQ(countOf(writes, "rout:scan:func? 2\n"), 1u);  // read back at run start
}

TEST(RunTime, StampsAndSecondsOfDay) {
  const LocalDateTime t{2024, 5, 6, 13, 45, 10, 125};
  EXPECT_EQ(MakeTimeStamp(t, false), "2024/05/06 13:45:10");
  EXPECT_EQ(MakeTimeStamp(t, true), "2024/05/06 13:45:10:125");
  EXPECT_DOUBLE_EQ(SecondsOfDay(t), 13 * 3600 + 45 * 60 + 10.125);
}

}  // namespace
}  // namespace kalivor
