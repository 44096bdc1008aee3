// SPDX-License-Identifier: MIT
// Records that describe themselves (RUNS, CHANNELS, ALARMS), and records of the previous release
// that have none of it.
#include "store/record_meta.h"

#include "common/messages.h"
#include "store/csv_export.h"
#include "store/record_browser.h"
#include "store/record_files.h"
#include "store/record_reader.h"
#include "store/record_scan.h"
#include "store/run_database.h"
#include "store/statistics.h"
#include "store_fixture.h"

namespace kalivor::store {
namespace {

using test::TempDataFolder;

std::vector<std::string> tablesOf(const std::filesystem::path& file) {
  std::vector<std::string> names;
  sqlite3* db = nullptr;
  sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
  sqlite3_stmt* s = nullptr;
  sqlite3_prepare_v2(db, "SELECT name FROM sqlite_schema WHERE type='table' ORDER BY name", -1, &s,
                     nullptr);
  while (sqlite3_step(s) == SQLITE_ROW) {
    names.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(s, 0)));
  }
  sqlite3_finalize(s);
  sqlite3_close(db);
  return names;
}

std::vector<std::string> texts(const std::string& prefix) {
  std::vector<std::string> ch;
  for (int c = 1; c <= 20; ++c) ch.push_back(prefix + std::to_string(c));
  return ch;
}

// A record made by the previous release (`kalivor-cli run --simulate`, six scans of a 20-channel
// card), with the CSV that release exported from it.
struct OldRecord : ::testing::Test {
  TempDataFolder folder;
  std::filesystem::path file;
  std::string bytes;
  void SetUp() override {
    std::filesystem::create_directories(folder.db());
    file = folder.record("Record1");
    std::filesystem::copy_file(std::string(KALIVOR_TEST_DATA_DIR) + "/records/Record1.mdb", file);
    bytes = test::readFile(file);
  }
};

TEST_F(OldRecord, OpensBrowsesChartsAndExportsAsBeforeWithoutBeingWritten) {
  RecordingMessages messages;
  RecordBrowser browser(folder.root(), messages);
  browser.Fresh();
  browser.Open("Record1.mdb");
  EXPECT_TRUE(messages.texts().empty());
  EXPECT_EQ(browser.RecordTotal(), 6);
  ASSERT_EQ(browser.rows().size(), 6u);
  EXPECT_EQ(browser.rows()[0][1], "2026/12/09 01:59:54");
  EXPECT_EQ(browser.rows()[0][17], "+4.175619E+00");
  EXPECT_EQ(browser.rows()[5][0], "6");

  // What the record chart reads.
  RecordReader reader;
  ASSERT_TRUE(reader.open(file).ok());
  std::int64_t count = 0;
  ASSERT_TRUE(reader.renumberAndCount(count).ok());
  EXPECT_EQ(count, 6);
  std::vector<std::optional<std::string>> values;
  ASSERT_TRUE(reader.channelValues(1, 1, 6, values).ok());
  EXPECT_EQ(values.front(), "+7.380407E-01");
  EXPECT_EQ(values.back(), "+7.380574E-01");
  reader.close();

  const auto csv = folder.root() / "out.csv";
  std::int64_t rows = 0;
  ASSERT_TRUE(exportRecordCsv(file, csv, &rows).ok());
  EXPECT_EQ(rows, 6);
  EXPECT_EQ(test::readFile(csv),
            test::readFile(std::string(KALIVOR_TEST_DATA_DIR) + "/records/Record1.csv"));

  RecordMeta meta;
  ASSERT_TRUE(readRecordMeta(file, meta).ok());
  EXPECT_FALSE(meta.described());
  EXPECT_TRUE(meta.channels.empty() && meta.alarms.empty());
  RecordStatistics stats;
  ASSERT_TRUE(computeRecordStatistics(file, {}, stats).ok());
  EXPECT_EQ(stats.channels[0].count(), 6);
  RecordSummary summary;
  ASSERT_TRUE(summarizeRecord(file, summary).ok());
  EXPECT_EQ(summary.scans, 6);
  EXPECT_EQ(summary.lastTime, "2026/12/09 02:00:01");

  EXPECT_EQ(test::readFile(file), bytes);
  EXPECT_EQ(test::entriesOf(folder.db()), std::vector<std::string>{"Record1.mdb"});
}

TEST_F(OldRecord, ARunWithoutADescriptionAddsNoTable) {
  RunDatabase run;
  ASSERT_TRUE(run.OpenRunDatabase(file).ok());
  ASSERT_TRUE(run.AppendReadingRow(7, "2026/12/09 02:00:02", texts("v")).ok());
  EXPECT_FALSE(run.RunId().has_value());
  run.CloseRunDatabase();
  EXPECT_EQ(tablesOf(file), std::vector<std::string>{"DATA"});
}

TEST_F(OldRecord, ARunThatDescribesItselfAddsTheTablesAndKeepsTheOldScans) {
  RunDatabase run;
  ASSERT_TRUE(run.OpenRunDatabase(file).ok());
  RunInfo info;
  info.serial = "SIM0001";
  ASSERT_TRUE(run.BeginRunRecord(info, {}).ok());
  ASSERT_TRUE(run.AppendReadingRow(7, "2026/12/09 02:00:02", texts("v")).ok());
  run.CloseRunDatabase();
  EXPECT_EQ(tablesOf(file), (std::vector<std::string>{"ALARMS", "CHANNELS", "DATA", "RUNS"}));
  RecordMeta meta;
  ASSERT_TRUE(readRecordMeta(file, meta).ok());
  ASSERT_EQ(meta.runs.size(), 1u);
  EXPECT_EQ(meta.runs[0].firstNum, 7);
  EXPECT_EQ(meta.runOf(3), nullptr);  // the old scans belong to no described run
  EXPECT_EQ(meta.runOf(7), &meta.runs[0]);
  EXPECT_EQ(test::storedColumn(file, 0).size(), 7u);
}

RunInfo simulatedRun(const std::string& serial, const std::string& start) {
  RunInfo info;
  info.startTime = start;
  info.programVersion = "2.40";
  info.resource = "USB0::0x0000::0x0001::" + serial + "::INSTR";
  info.identity = "SIMULATED,M100," + serial + ",1.0";
  info.serial = serial;
  info.cardCode = 2;
  info.cardDescription = "20 Channel";
  info.setupIni = "[Scaner Card]\r\nScanerCard=2\r\n";
  return info;
}

std::vector<ChannelInfo> twoChannels() {
  ChannelInfo pressure;
  pressure.channel = 1;
  pressure.function = "DCV";
  pressure.scaleM = 2.5;
  pressure.scaleB = -1;
  pressure.unitLabel = "bar";
  pressure.alarmHigh = 10;
  ChannelInfo shunt;
  shunt.channel = 2;
  shunt.function = "DCI";
  shunt.shuntOhms = 0.1;
  shunt.offsetCurrent = 0;
  return {pressure, shunt};
}

// Each write is visible to another connection as soon as it returns: committed, like a scan.
TEST(RecordMeta, ARunDescribesItselfScanByScanAndAlarmsComeAndGo) {
  TempDataFolder folder;
  std::filesystem::path file;
  ASSERT_TRUE(CreateRunDatabase(folder.root(), "Record1", &file).ok());
  RunDatabase run;
  ASSERT_TRUE(run.OpenRunDatabase(file).ok());
  const auto channels = twoChannels();
  ASSERT_TRUE(run.BeginRunRecord(simulatedRun("SIM0001", "2026/12/09 10:00:00"), channels).ok());
  EXPECT_FALSE(run.BeginRunRecord(simulatedRun("SIM0001", "x"), {}).ok());  // once per run
  RecordMeta meta;
  ASSERT_TRUE(readRecordMeta(file, meta).ok());
  ASSERT_EQ(meta.runs.size(), 1u);
  EXPECT_EQ(meta.runs[0].firstNum, 1);
  EXPECT_FALSE(meta.runs[0].lastNum.has_value());
  EXPECT_EQ(meta.runs[0].info.identity, "SIMULATED,M100,SIM0001,1.0");
  EXPECT_EQ(meta.runs[0].info.cardCode, 2);
  EXPECT_EQ(meta.runs[0].info.setupIni, "[Scaner Card]\r\nScanerCard=2\r\n");
  ASSERT_EQ(meta.channels.size(), 2u);
  const ChannelInfo* ch1 = meta.channelOf(*run.RunId(), 1);
  ASSERT_NE(ch1, nullptr);
  EXPECT_EQ(ch1->scaleM, 2.5);
  EXPECT_EQ(ch1->unitLabel, "bar");
  EXPECT_FALSE(ch1->alarmLow.has_value());
  EXPECT_EQ(ch1->alarmHigh, 10);
  const ChannelInfo* ch2 = meta.channelOf(*run.RunId(), 2);
  ASSERT_NE(ch2, nullptr);
  EXPECT_FALSE(ch2->scaled());
  EXPECT_EQ(ch2->shuntOhms, 0.1);
  EXPECT_TRUE(ch2->sensorType.empty());

  for (int scan = 1; scan <= 3; ++scan) {
    const std::string time = "2026/12/09 10:00:0" + std::to_string(scan);
    ASSERT_TRUE(run.AppendReadingRow(scan, time, texts("v")).ok());
    ASSERT_TRUE(readRecordMeta(file, meta).ok());
    EXPECT_EQ(meta.runs[0].lastNum, scan);
    EXPECT_EQ(meta.runs[0].endTime, time);
  }
  std::int64_t alarm = 0;
  ASSERT_TRUE(
      run.RaiseAlarm(1, 2, "2026/12/09 10:00:02", 11.5, LimitKind::High, 10, &alarm).ok());
  ASSERT_TRUE(readRecordMeta(file, meta).ok());
  ASSERT_EQ(meta.alarms.size(), 1u);
  EXPECT_EQ(meta.alarms[0].id, alarm);
  EXPECT_EQ(meta.alarms[0].limitKind, "high");
  EXPECT_EQ(meta.alarms[0].value, 11.5);
  EXPECT_FALSE(meta.alarms[0].clearedNum.has_value());
  ASSERT_TRUE(run.ClearAlarm(alarm, 3, "2026/12/09 10:00:03").ok());
  ASSERT_TRUE(run.EndRunRecord("2026/12/09 10:00:09").ok());
  run.CloseRunDatabase();

  // A second run, of another meter, follows on.
  ASSERT_TRUE(run.OpenRunDatabase(file).ok());
  ASSERT_TRUE(run.BeginRunRecord(simulatedRun("SIM0002", "2026/12/09 11:00:00"), {}).ok());
  ASSERT_TRUE(run.AppendReadingRow(4, "2026/12/09 11:00:01", texts("w")).ok());
  std::int64_t low = 0;
  ASSERT_TRUE(run.RaiseAlarm(3, 4, "2026/12/09 11:00:01", -1, LimitKind::Low, 0, &low).ok());
  run.CloseRunDatabase();

  ASSERT_TRUE(readRecordMeta(file, meta).ok());
  ASSERT_EQ(meta.runs.size(), 2u);
  EXPECT_EQ(meta.runs[0].endTime, "2026/12/09 10:00:09");
  EXPECT_EQ(meta.runs[1].firstNum, 4);
  EXPECT_EQ(meta.runs[1].lastNum, 4);
  EXPECT_EQ(meta.runOf(3)->info.serial, "SIM0001");
  EXPECT_EQ(meta.runOf(4)->info.serial, "SIM0002");
  EXPECT_EQ(meta.runOf(5), nullptr);
  ASSERT_EQ(meta.alarms.size(), 2u);
  EXPECT_EQ(meta.alarms[0].clearedNum, 3);
  EXPECT_EQ(meta.alarms[0].clearedTime, "2026/12/09 10:00:03");
  EXPECT_EQ(meta.alarms[1].limitKind, "low");
  EXPECT_FALSE(meta.alarms[1].clearedNum.has_value());
  EXPECT_TRUE(meta.channelsOf(meta.runs[1].runId).empty());
}

TEST(RecordMeta, AlarmsNeedADescribedRunAndOtherTablesAreIgnored) {
  TempDataFolder folder;
  const auto file = test::writeRecord(folder, "Record1", test::numbered(1, 2));
  // A table another program added (the central store's progress, say) is no concern of ours.
  test::execSql(file, "CREATE TABLE CENTRAL_PROGRESS(target TEXT, last_rowid INTEGER)");
  RunDatabase run;
  ASSERT_TRUE(run.OpenRunDatabase(file).ok());
  EXPECT_FALSE(run.RaiseAlarm(1, 1, "t", 1, LimitKind::Low, 0).ok());
  RecordMeta meta;
  ASSERT_TRUE(readRecordMeta(file, meta).ok());
  EXPECT_FALSE(meta.described());
}

// NUM of rows written by hand may need renumbering; the description must then still point at
// the same rows (told apart here by their Time).
class RenumberingDescribed : public ::testing::TestWithParam<RenumberMethod> {};

TEST_P(RenumberingDescribed, KeepsRunsAndAlarmsOnTheirRows) {
  TempDataFolder folder;
  const auto file = test::writeRecord(folder, "Record1", {"1", "2", std::nullopt, "5", "6", "9"});
  test::execSql(file,
                "CREATE TABLE RUNS(run_id INTEGER PRIMARY KEY, first_num INTEGER, last_num "
                "INTEGER, start_time TEXT, end_time TEXT, program_version TEXT, resource TEXT, "
                "identity TEXT, serial TEXT, card_code INTEGER, card_description TEXT, "
                "setup_ini TEXT);"
                "CREATE TABLE ALARMS(id INTEGER PRIMARY KEY, run_id INTEGER, channel INTEGER, "
                "num INTEGER, time TEXT, value REAL, limit_kind TEXT, limit_value REAL, "
                "cleared_num INTEGER, cleared_time TEXT);"
                "INSERT INTO RUNS(run_id, first_num, last_num) VALUES (1, 1, 2), (2, 5, 9);"
                "INSERT INTO ALARMS(run_id, num, cleared_num) VALUES (2, 5, 6), (2, 9, NULL);");
  RunDatabase run;
  ASSERT_TRUE(run.OpenRunDatabase(file, kRunJournal, GetParam()).ok());
  run.CloseRunDatabase();
  // Rows t0 t1 t3 t4 t5 are now 1..5.
  EXPECT_EQ(test::storedColumn(file, 1), (std::vector<std::string>{"t0", "t1", "t3", "t4", "t5"}));
  RecordMeta meta;
  ASSERT_TRUE(readRecordMeta(file, meta).ok());
  ASSERT_EQ(meta.runs.size(), 2u);
  EXPECT_EQ(meta.runs[0].firstNum, 1);
  EXPECT_EQ(meta.runs[0].lastNum, 2);
  EXPECT_EQ(meta.runs[1].firstNum, 3);
  EXPECT_EQ(meta.runs[1].lastNum, 5);
  ASSERT_EQ(meta.alarms.size(), 2u);
  EXPECT_EQ(meta.alarms[0].num, 3);
  EXPECT_EQ(meta.alarms[0].clearedNum, 4);
  EXPECT_EQ(meta.alarms[1].num, 5);
  EXPECT_FALSE(meta.alarms[1].clearedNum.has_value());
  // No helper table is left in the record.
  EXPECT_EQ(tablesOf(file), (std::vector<std::string>{"ALARMS", "DATA", "RUNS"}));
}

INSTANTIATE_TEST_SUITE_P(BothMethods, RenumberingDescribed,
                         ::testing::Values(RenumberMethod::RowByRow, RenumberMethod::SetBased));

}  // namespace
}  // namespace kalivor::store
