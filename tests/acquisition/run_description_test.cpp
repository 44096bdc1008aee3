// SPDX-License-Identifier: MIT
// A run describing itself in its records, and its alarm events, on simulated meters and real
// record files.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <optional>

#include "acquisition/run_controller.h"
#include "acquisition/run_log.h"
#include "acquisition/sqlite_run_records.h"
#include "common/numbers.h"
#include "store/record_meta.h"
#include "store/record_scan.h"
#include "store/statistics.h"
#include "store/store_fixture.h"
#include "support/sim_rig.h"

namespace kalivor {
namespace {

using testing::SimRig;

struct Events final : RunObserver {
  std::vector<AlarmEvent> alarms;
  std::vector<std::string> notices;
  void alarmChanged(const AlarmEvent& e) override { alarms.push_back(e); }
  void runNotice(int, const std::string& text) override { notices.push_back(text); }
};

struct DescribedRun : ::testing::Test {
  store::test::TempDataFolder folder;
  SimRig rig;
  SqliteRunRecords records{folder.root()};
  RunController run{rig.link, rig.tables, rig.display, records, rig.pump};
  Events events;

  RunLog log{(folder.db() / "kalivor-run.log").string()};

  DescribedRun() {
    run.setObserver(&events);
    run.setRunLog(&log);
  }

  // Meter `meter` in slot 0 with `active` VOLT channels, `scans` scans one second apart.
  void prepare(std::size_t meter, int active, int scans, const std::string& record) {
    for (int c = 1; c <= 20; ++c) {
      rig.meter(meter).write("rout:scan:func " + std::to_string(c) + ",\"" + (c <= active ? "VOLT" : "NONE") + "\"\n");
    }
    rig.link.DiscoverInstruments();
    rig.link.slots[0].DiscoveredIndex = static_cast<std::int16_t>(meter);
    rig.link.InstrumentCount = 1;
    rig.tables.setup[0].ScanerCard = rig.link.identified[meter].ScanerCard;
    rig.tables.setup[0].ChannelCount = rig.link.identified[meter].ChannelCount;
    rig.display.deviceList = {rig.link.identified[meter].Description};
    run.meter_scan_func(0);
    rig.display.show_data(0, rig.tables, 1);
    ScanSetup& s = rig.tables.setup[0];
    s.scanCount_Status = 1;
    s.ScanCount = std::to_string(scans);
    s.ScanTime = "1";
    rig.tables.DatabaseName[0] = record;
    rig.messages.clear();
  }
  void runToEnd() {
    run.StartReading_Click();
    run.driveUntilEnded();
  }
  store::RecordMeta meta(const std::string& record) {
    store::RecordMeta m;
    EXPECT_TRUE(store::readRecordMeta(folder.record(record), m).ok());
    return m;
  }
  ChannelSetup& channel(int index) { return rig.tables.channel[0][static_cast<std::size_t>(index)]; }
};

TEST_F(DescribedRun, RecordSaysWhichMeterCardSetupAndChannelsMadeItsScans) {
  prepare(0, 3, 4, "Record1");
  channel(1).ScaleOn = 1;
  channel(1).ScaleGain = 2;
  channel(1).ScaleOffset = 1;
  channel(1).ScaleUnit = "bar";
  channel(2).AlarmHigh = 100;
  rig.clock.set(makeLocalMs(2026, 12, 9, 10, 0, 0));
  runToEnd();

  const store::RecordMeta m = meta("Record1");
  ASSERT_EQ(m.runs.size(), 1u);
  const store::RunRow& r = m.runs[0];
  EXPECT_EQ(r.firstNum, 1);
  EXPECT_EQ(r.lastNum, 4);
  EXPECT_EQ(r.info.startTime.substr(0, 18), "2026/12/09 10:00:0");  // after the read-back
  EXPECT_GT(r.endTime, r.info.startTime);
  EXPECT_EQ(r.info.serial, "SIM0001");
  EXPECT_EQ(r.info.resource, rig.link.identified[0].Resource);
  EXPECT_NE(r.info.identity.find("SIM0001"), std::string::npos);
  EXPECT_EQ(r.info.cardCode, 2);
  EXPECT_EQ(r.info.cardDescription, rig.link.identified[0].Description);
  EXPECT_EQ(r.info.programVersion, KALIVOR_VERSION);
  // The setup as its file would hold it, extras included.
  EXPECT_NE(r.info.setupIni.find("[Scan Count]"), std::string::npos);
  EXPECT_NE(r.info.setupIni.find("[Scaling]"), std::string::npos);
  EXPECT_NE(r.info.setupIni.find("[Alarm Limits]"), std::string::npos);

  const auto channels = m.channelsOf(r.runId);
  ASSERT_EQ(channels.size(), 20u);
  EXPECT_EQ(channels[0]->info.function, "DCV");
  EXPECT_FALSE(channels[0]->info.scaled());
  EXPECT_EQ(channels[1]->info.scaleM, 2.0);
  EXPECT_EQ(channels[1]->info.scaleB, 1.0);
  EXPECT_EQ(channels[1]->info.unitLabel, "bar");
  EXPECT_EQ(channels[2]->info.alarmHigh, 100.0);
  EXPECT_FALSE(channels[2]->info.alarmLow);
  EXPECT_EQ(channels[3]->info.function, "NONE");

  // DATA keeps the reading as measured; the display shows the scaled value with its unit.
  store::ScanCursor cursor;
  ASSERT_TRUE(cursor.open(folder.record("Record1"), {}).ok());
  ASSERT_TRUE(cursor.next());
  const std::string raw(cursor.channel(2));
  const double x = strictNumber(raw).value();
  EXPECT_NE(raw.find('E'), std::string::npos);  // the meter's own text, not the scaled value
  const auto& firstRow = rig.display.scanTables[0].rows.front();
  EXPECT_EQ(firstRow[3], valueText(2 * x + 1) + " bar");
  EXPECT_EQ(firstRow[2], std::string(cursor.channel(1)));  // unscaled: as stored
  EXPECT_TRUE(events.notices.empty());
  EXPECT_TRUE(events.alarms.empty());
  EXPECT_FALSE(std::filesystem::exists(log.path())) << "nothing to report, no log";
}

TEST_F(DescribedRun, AnotherMetersRunIntoTheSameRecordIsStoredAndSaidAtStart) {
  prepare(0, 2, 2, "Record1");
  runToEnd();
  EXPECT_TRUE(events.notices.empty());
  runToEnd();  // the same meter again: nothing to say
  EXPECT_TRUE(events.notices.empty());

  prepare(1, 2, 3, "Record1");
  runToEnd();
  ASSERT_EQ(events.notices.size(), 1u);
  EXPECT_EQ(events.notices[0], "Record1 already holds runs of SIM0001; SIM0002 now logs into it as well.");
  ASSERT_EQ(rig.display.runNotices.size(), 1u);
  EXPECT_NE(rig.display.runNotices[0].find("SIM0002 now logs"), std::string::npos);
  const store::RecordMeta m = meta("Record1");
  ASSERT_EQ(m.runs.size(), 3u);
  EXPECT_EQ(m.runs[2].info.serial, "SIM0002");
  EXPECT_EQ(m.runs[2].firstNum, 5);
  EXPECT_EQ(m.runs[2].lastNum, 7);
  EXPECT_EQ(rig.messages.texts(), std::vector<std::string>{"End of Job."});
}

// The alarm transitions of one channel, worked out from the stored readings alone.
struct Expected {
  std::int64_t num;
  bool cleared;
  std::string kind;
};
std::vector<Expected> transitions(const std::filesystem::path& record, int channel, double m, double b,
                                  std::optional<double> low, std::optional<double> high) {
  std::vector<Expected> out;
  std::string state;
  store::ScanCursor cursor;
  EXPECT_TRUE(cursor.open(record, {}).ok());
  while (cursor.next()) {
    const double v = m * std::stod(std::string(cursor.channel(channel))) + b;
    const std::string now = high && v > *high ? "high" : low && v < *low ? "low" : "";
    if (now == state) continue;
    if (!state.empty()) out.push_back({cursor.num(), true, state});
    if (!now.empty()) out.push_back({cursor.num(), false, now});
    state = now;
  }
  return out;
}

TEST_F(DescribedRun, AlarmsFollowTheScaledReadingsOutOfTheirBandAndBack) {
  // 20 channels, 30 scans: each channel's reading wanders once up and down around its middle.
  prepare(0, 20, 30, "Record1");
  channel(0).AlarmHigh = 0.73;  // CH1 wanders around 0.73 V
  channel(1).ScaleOn = 1;       // CH2 around 0.96 V, read in mV
  channel(1).ScaleGain = 1000;
  channel(1).ScaleUnit = "mV";
  channel(1).AlarmLow = 960;
  channel(2).AlarmLow = -5;  // CH3 never leaves this band
  channel(2).AlarmHigh = 5;
  runToEnd();
  ASSERT_EQ(rig.tables.ScansDone[0], 30);

  const auto ch1 = transitions(folder.record("Record1"), 1, 1, 0, std::nullopt, 0.73);
  const auto ch2 = transitions(folder.record("Record1"), 2, 1000, 0, 960, std::nullopt);
  ASSERT_GE(ch1.size(), 2u);  // out and back at least once
  ASSERT_GE(ch2.size(), 2u);

  const store::RecordMeta m = meta("Record1");
  std::vector<Expected> stored1, stored2, seen1, seen2;
  for (const store::AlarmRow& a : m.alarms) {
    auto& to = a.channel == 1 ? stored1 : stored2;
    ASSERT_TRUE(a.channel == 1 || a.channel == 2);
    to.push_back({a.num, false, a.limitKind});
    if (a.clearedNum) to.push_back({*a.clearedNum, true, a.limitKind});
    EXPECT_EQ(a.limitValue, a.channel == 1 ? 0.73 : 960);
    if (a.channel == 2) {
      EXPECT_LT(a.value, 960);  // the scaled value is stored
    }
  }
  auto sameAs = [](const std::vector<Expected>& got, const std::vector<Expected>& want) {
    ASSERT_EQ(got.size(), want.size());
    for (std::size_t i = 0; i < got.size(); ++i) {
      EXPECT_EQ(got[i].num, want[i].num) << i;
      EXPECT_EQ(got[i].cleared, want[i].cleared) << i;
      EXPECT_EQ(got[i].kind, want[i].kind) << i;
    }
  };
  std::sort(stored1.begin(), stored1.end(), [](auto& a, auto& b) { return a.num < b.num || (a.num == b.num && a.cleared); });
  std::sort(stored2.begin(), stored2.end(), [](auto& a, auto& b) { return a.num < b.num || (a.num == b.num && a.cleared); });
  sameAs(stored1, ch1);
  sameAs(stored2, ch2);
  for (const AlarmEvent& e : events.alarms) {
    (e.channel == 1 ? seen1 : seen2).push_back({e.num, e.cleared, store::limitKindText(e.kind)});
  }
  sameAs(seen1, ch1);
  sameAs(seen2, ch2);
  // The run log has one line per event, in the order they happened.
  std::ifstream logFile(log.path());
  std::vector<std::string> logged;
  for (std::string line; std::getline(logFile, line);) logged.push_back(line);
  ASSERT_EQ(logged.size(), events.alarms.size());
  for (std::size_t i = 0; i < logged.size(); ++i) {
    EXPECT_EQ(logged[i].substr(19), "\tSIM0001 -- 20ch\t" + alarmEventText(events.alarms[i])) << i;
  }

  // Counted per channel; the latest state shows in the grid and the scan table.
  const ChannelWatch& w = run.channelWatch();
  EXPECT_EQ(w.alarmCount(0, 0), static_cast<int>((ch1.size() + 1) / 2));
  EXPECT_EQ(w.alarmCount(0, 2), 0);
  const bool ch1Out = !ch1.back().cleared;
  EXPECT_EQ(w.alarmed(0, 0), ch1Out);
  const GridCell& cell = rig.display.channelGrids[0].cells[1][0];
  EXPECT_EQ(cell.alarm, ch1Out ? AlarmMark::High : AlarmMark::None);
  EXPECT_EQ(cell.text.rfind(kAlarmMarkerHigh, 0) == 0, ch1Out);
  const ScanTable& table = rig.display.scanTables[0];
  const std::string marker = kAlarmMarkerHigh;
  ASSERT_EQ(table.rows.size(), 30u);
  for (std::size_t row = 0; row < table.rows.size(); ++row) {
    std::string text = table.rows[row][2];
    const bool marked = text.rfind(marker, 0) == 0;
    if (marked) text.erase(0, marker.size());
    EXPECT_EQ(marked, table.alarmed(row, 0)) << row;
    EXPECT_EQ(table.alarmed(row, 0), std::stod(text) > 0.73) << row;
  }
  // Nothing about an alarm changes the run: every scan was taken and stored.
  EXPECT_EQ(meta("Record1").runs[0].lastNum, 30);
  EXPECT_EQ(rig.messages.texts(), std::vector<std::string>{"End of Job."});
}

TEST(ChannelWatchRules, JumpAcrossTheBandEndsOneAlarmAndRaisesTheOther) {
  ChannelRow row{};
  row[0].Function = "DCV";
  row[0].AlarmLow = 0;
  row[0].AlarmHigh = 10;
  ChannelWatch w;
  w.begin(0, row, 1);
  std::array<std::string, kChannelTableSize> r{};
  auto scan = [&](std::int64_t n, const std::string& text) {
    r[0] = text;
    return w.scan(0, n, "t", r);
  };
  EXPECT_TRUE(scan(1, "+5.0E+00").empty());
  auto e = scan(2, "+1.2E+01");
  ASSERT_EQ(e.size(), 1u);
  EXPECT_EQ(alarmEventText(e[0]), "ALARM CH 1 high: 12 above 10 (scan 2)");
  // Overload and text say nothing about the band: the alarm stays as it was.
  EXPECT_TRUE(scan(3, "+9.9E+37").empty());
  EXPECT_TRUE(scan(4, "garbage").empty());
  EXPECT_TRUE(w.alarmed(0, 0));
  e = scan(5, "-1.0E+00");
  ASSERT_EQ(e.size(), 2u);
  EXPECT_TRUE(e[0].cleared);
  EXPECT_EQ(alarmEventText(e[0]), "CH 1 back in band: -1 (scan 5; high since scan 2)");
  EXPECT_FALSE(e[1].cleared);
  EXPECT_EQ(e[1].kind, store::LimitKind::Low);
  EXPECT_EQ(w.alarmCount(0, 0), 2);
  // A reading exactly on a limit is inside the band.
  e = scan(6, "+0.0E+00");
  ASSERT_EQ(e.size(), 1u);
  EXPECT_TRUE(e[0].cleared);
  const auto& s = w.statistics(0, 0);
  EXPECT_EQ(s.count(), 4);
  EXPECT_EQ(s.overloads(), 1);
  EXPECT_EQ(s.notNumbers(), 1);
  EXPECT_EQ(s.max(), 12);
  EXPECT_EQ(s.min(), -1);
}

}  // namespace
}  // namespace kalivor
