// SPDX-License-Identifier: MIT
#include "acquisition/run_status.h"

#include <gtest/gtest.h>

#include <optional>

#include "support/sim_rig.h"

namespace kalivor {
namespace {

using testing::SimRig;

struct RunStatusTest : ::testing::Test {
  SimRig rig;
  std::optional<std::uintmax_t> free = 5'000'000'000ull;
  RunStatus status{rig.run, rig.tables, rig.display, "/data/kalivor"};

  RunStatusTest() {
    status.setSpaceProbe([this](const std::filesystem::path&) { return free; });
  }
  // Both meters selected; meter 1 scans every `interval` s until Stop into Record1, meter 2
  // stores nowhere and ends after `scans` scans.
  void prepare(const std::string& interval = "10", const std::string& scans = "3") {
    rig.selectFirst(2);
    rig.messages.clear();
    rig.tables.setup[0].scanCount_Status = 2;
    rig.tables.setup[0].ScanTime = interval;
    rig.tables.DatabaseName[0] = "Record1";
    rig.tables.setup[1].scanCount_Status = 1;
    rig.tables.setup[1].ScanCount = scans;
    rig.tables.setup[1].ScanTime = "0";
  }
  RunStatusSnapshot now() const { return status.snapshot(rig.link.InstrumentCount); }
};

TEST_F(RunStatusTest, BeforeARunEveryInstrumentIsIdleAndNamesItsRecordOrNone) {
  prepare();
  const RunStatusSnapshot s = now();
  ASSERT_EQ(s.meters.size(), 2u);
  EXPECT_EQ(s.meters[0].record, "Record1");
  EXPECT_EQ(s.meters[1].record, "");
  EXPECT_EQ(recordText(s.meters[1]), "none (not saved)");
  for (const MeterStatus& m : s.meters) {
    EXPECT_EQ(m.state, MeterState::Idle);
    EXPECT_EQ(m.scansStored, 0);
    EXPECT_EQ(m.lastScanTime, "");
  }
  EXPECT_EQ(s.meters[0].instrument, rig.display.deviceList[0]);
  EXPECT_FALSE(s.hasExtra);
  EXPECT_EQ(now().meters.size(), 2u);
  EXPECT_TRUE(status.snapshot(0).meters.empty());
}

TEST_F(RunStatusTest, FollowsEachMeterThroughTheRun) {
  prepare();
  rig.run.StartReading_Click();
  // Meter 1 triggered and not yet fetched.
  rig.run.driveUntil([&] { return rig.run.ScanInProgress[0]; });
  EXPECT_EQ(now().meters[0].state, MeterState::Scanning);
  // After its second scan it waits out its 10 s interval; meter 2 (no interval) is done by then.
  rig.run.driveUntil([&] { return rig.tables.ScansDone[0] >= 2 && !rig.run.ScanInProgress[0]; });
  rig.run.driveUntil([&] { return rig.run.WaitFlag[0] != 0; });
  RunStatusSnapshot s = now();
  EXPECT_EQ(s.meters[0].state, MeterState::Waiting);
  EXPECT_EQ(meterStateText(s.meters[0].state), "waiting for the next interval");
  EXPECT_EQ(s.meters[0].scansStored, 2);
  EXPECT_EQ(s.meters[0].lastScanTime, rig.display.scanTables[0].rows.back()[1]);
  EXPECT_EQ(s.meters[0].lastScanTime.size(), 19u);
  EXPECT_EQ(s.meters[1].state, MeterState::Finished);
  // Meter 2 scanned three times but logs nowhere: nothing is stored for it.
  EXPECT_EQ(rig.tables.ScansDone[1], 3);
  EXPECT_EQ(s.meters[1].scansStored, 0);
  EXPECT_FALSE(s.meters[1].lastScanTime.empty());

  rig.run.StopReading_Click();
  rig.run.driveUntilEnded();
  s = now();
  EXPECT_EQ(s.meters[0].state, MeterState::Finished);
  EXPECT_EQ(s.meters[0].scansStored, static_cast<std::int64_t>(rig.records.files["Record1"].size()));
}

TEST_F(RunStatusTest, TheMeterThatStoppedAnsweringIsTheOneMarkedFailed) {
  prepare("1");
  rig.tables.setup[1].scanCount_Status = 2;
  rig.pump.set([&](std::int64_t) {
    if (rig.tables.ScansDone[1] >= 2) rig.meter(1).setFault("silent");
  });
  rig.run.StartReading_Click();
  rig.run.driveUntilEnded();
  ASSERT_TRUE(rig.run.instrumentFailed());
  const RunStatusSnapshot s = now();
  EXPECT_EQ(s.meters[1].state, MeterState::Failed);
  EXPECT_EQ(s.meters[0].state, MeterState::Finished);
  // The next run starts with a clean slate.
  rig.meter(1).setFault("none");
  rig.pump.set(nullptr);
  rig.tables.setup[0].scanCount_Status = 1;
  rig.tables.setup[0].ScanCount = "1";
  rig.tables.setup[1].scanCount_Status = 1;
  rig.tables.setup[1].ScanCount = "1";
  rig.run.StartReading_Click();
  rig.run.driveUntilEnded();
  EXPECT_EQ(now().meters[1].state, MeterState::Finished);
}

TEST_F(RunStatusTest, FreeSpaceWarnsBelowOneHundredMegabytes) {
  prepare();
  EXPECT_EQ(folderStatusText(now().folder), "Free space: 5.0 GB in /data/kalivor");
  free = kLowSpaceBytes;
  EXPECT_FALSE(now().folder.low);
  EXPECT_EQ(folderStatusText(now().folder), "Free space: 100 MB in /data/kalivor");
  free = kLowSpaceBytes - 1;
  EXPECT_TRUE(now().folder.low);
  free = 85'400'000;
  EXPECT_EQ(folderStatusText(now().folder), "Low disk space: only 85 MB free in /data/kalivor");
  free = std::nullopt;
  EXPECT_FALSE(now().folder.low);
  EXPECT_EQ(folderStatusText(now().folder), "Free space: unknown in /data/kalivor");
  EXPECT_EQ(formatBytes(512), "512 bytes");
  EXPECT_EQ(formatBytes(1'260'000'000'000ull), "1.3 TB");
}

TEST_F(RunStatusTest, KeepingTheSpaceAsksTheDiskOnlyWhenItNeverDidOrTheFolderChanged) {
  prepare();
  int asked = 0;
  status.setSpaceProbe([&](const std::filesystem::path&) -> std::optional<std::uintmax_t> {
    ++asked;
    return free;
  });
  // Never asked yet: it asks.
  EXPECT_EQ(status.snapshotKeepingSpace(2).folder.freeBytes, free);
  EXPECT_EQ(asked, 1);
  const auto before = free;
  free = 42'000'000;
  rig.tables.DatabaseName[1] = "Record2";
  const RunStatusSnapshot kept = status.snapshotKeepingSpace(2);
  EXPECT_EQ(asked, 1);
  EXPECT_EQ(kept.folder.freeBytes, before);
  EXPECT_EQ(kept.meters[1].record, "Record2");  // the meters as they are now
  // A full snapshot asks, and what it found is kept from then on.
  EXPECT_TRUE(now().folder.low);
  EXPECT_TRUE(status.snapshotKeepingSpace(2).folder.low);
  EXPECT_EQ(asked, 2);
  // Another folder is asked about at once.
  status.setDataFolder("/elsewhere");
  EXPECT_EQ(status.snapshotKeepingSpace(2).folder.folder, std::filesystem::path("/elsewhere"));
  EXPECT_EQ(asked, 3);
}

TEST_F(RunStatusTest, TheRealProbeAsksTheFileSystemAlsoBeforeTheRecordFolderExists) {
  const auto base = std::filesystem::temp_directory_path();
  RunStatus real(rig.run, rig.tables, rig.display, base / "kalivor-no-such-folder" / "db");
  const auto free = real.snapshot(0).folder.freeBytes;
  ASSERT_TRUE(free.has_value());
  EXPECT_GT(*free, 0u);
  real.setDataFolder({});
  EXPECT_FALSE(real.snapshot(0).folder.freeBytes.has_value());
}

TEST_F(RunStatusTest, TheExtraColumnIsFilledPerInstrumentOnlyOnceSet) {
  prepare();
  status.setExtraColumn("Central", [](int slot) { return slot == 0 ? "connected" : "3 scans waiting"; });
  const RunStatusSnapshot s = now();
  EXPECT_TRUE(s.hasExtra);
  EXPECT_EQ(s.extraHeading, "Central");
  EXPECT_EQ(s.meters[0].extra, "connected");
  EXPECT_EQ(s.meters[1].extra, "3 scans waiting");
  const std::string text = formatRunStatus(s);
  EXPECT_NE(text.find("Central: 3 scans waiting"), std::string::npos) << text;
}

TEST_F(RunStatusTest, TheTextFormHasALinePerInstrumentAndOneForTheFolder) {
  prepare("10", "1");
  rig.run.StartReading_Click();
  rig.run.driveUntil([&] { return rig.tables.ScansDone[0] >= 1 && rig.run.WaitFlag[0] != 0; });
  const std::string last = rig.display.scanTables[0].rows.back()[1];
  EXPECT_EQ(formatRunStatus(now()),
            "Instrument 1 (" + rig.display.deviceList[0] + "): waiting for the next interval; record Record1; "
            "1 scan stored; last scan " + last + "\n"
            "Instrument 2 (" + rig.display.deviceList[1] + "): finished; record none (not saved); "
            "0 scans stored; last scan " + rig.display.scanTables[1].rows.back()[1] + "\n"
            "Free space: 5.0 GB in /data/kalivor\n");
  rig.run.StopReading_Click();
  rig.run.driveUntilEnded();
}

TEST(LogsNowhere, OnlyWhenNoSelectedInstrumentHasARecord) {
  ScanTables tables;
  EXPECT_FALSE(logsNowhere(tables, 0));
  EXPECT_TRUE(logsNowhere(tables, 2));
  tables.DatabaseName[1] = "Record2";
  EXPECT_FALSE(logsNowhere(tables, 2));
  // A record on a slot beyond the selection does not count.
  EXPECT_TRUE(logsNowhere(tables, 1));
}

}  // namespace
}  // namespace kalivor
