// SPDX-License-Identifier: MIT
// Channel statistics of a record, and the exports by range and in the tidy form.
#include <signal.h>
#include <sys/resource.h>

#include <cmath>
#include <random>
#include <sstream>

#include "store/csv_export.h"
#include "store/record_meta.h"
#include "store/statistics.h"
#include "store_fixture.h"

namespace kalivor::store {
namespace {

using test::TempDataFolder;

std::string stamp(int second) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "2026/12/09 10:%02d:%02d", second / 60, second % 60);
  return buf;
}

// Rows of mixed readings: numbers in several spellings, blanks, overloads and text.
std::vector<std::vector<std::string>> mixedRows(int count, unsigned seed) {
  std::mt19937 random(seed);
  std::uniform_real_distribution<double> value(-5, 5);
  std::vector<std::vector<std::string>> rows;
  for (int r = 0; r < count; ++r) {
    std::vector<std::string> row;
    for (int c = 1; c <= 20; ++c) {
      const unsigned pick = random() % 20;
      char buf[40];
      if (c == 20) {
        row.emplace_back(" ");  // a channel beyond a 10-channel card, say
      } else if (pick == 0) {
        row.emplace_back(" ");
      } else if (pick == 1) {
        row.emplace_back(pick % 2 ? "+9.90000000E+37" : "9.9E+37");
      } else if (pick == 2) {
        row.emplace_back("-9.9E+37");
      } else if (pick == 3) {
        row.emplace_back("OPEN");
      } else {
        std::snprintf(buf, sizeof buf, pick % 2 ? "%+.6E" : "%.9f", 1000 + value(random) * c);
        row.emplace_back(buf);
      }
    }
    rows.push_back(row);
  }
  return rows;
}

std::filesystem::path writeRows(const TempDataFolder& folder, const std::string& name,
                                const std::vector<std::vector<std::string>>& rows) {
  std::filesystem::path file;
  EXPECT_TRUE(CreateRunDatabase(folder.root(), name, &file).ok());
  std::string sql = "BEGIN;";
  for (std::size_t i = 0; i < rows.size(); ++i) {
    sql += "INSERT INTO DATA VALUES ('" + std::to_string(i + 1) + "', '" +
           stamp(static_cast<int>(i)) + "'";
    for (std::size_t c = 0; c < 20; ++c) {
      sql += ", '" + (c < rows[i].size() ? rows[i][c] : std::string(" ")) + "'";
    }
    sql += ");";
  }
  test::execSql(file, sql + "COMMIT;");
  return file;
}

struct Expected {
  std::int64_t count = 0, blanks = 0, overloads = 0, text = 0;
  double min = 0, max = 0, mean = 0, sd = 0, last = 0;
  std::string minTime, maxTime;
};

// Two passes over the raw rows, with strtod: independent of the accumulator under test.
Expected expectedOf(const std::vector<std::vector<std::string>>& rows, int channel,
                    std::size_t from, std::size_t to, double m = 1, double b = 0) {
  Expected e;
  std::vector<double> values;
  for (std::size_t r = from; r <= to; ++r) {
    const std::string& t = rows[r][static_cast<std::size_t>(channel - 1)];
    if (t == " ") {
      ++e.blanks;
      continue;
    }
    char* end = nullptr;
    const double v = std::strtod(t.c_str(), &end);
    if (*end != '\0') {
      ++e.text;
    } else if (std::fabs(v) >= 9.9e37) {
      ++e.overloads;
    } else {
      const double s = m * v + b;
      if (values.empty() || s < e.min) e.min = s, e.minTime = stamp(static_cast<int>(r));
      if (values.empty() || s > e.max) e.max = s, e.maxTime = stamp(static_cast<int>(r));
      values.push_back(s);
      e.last = s;
    }
  }
  e.count = static_cast<std::int64_t>(values.size());
  double sum = 0;
  for (double v : values) sum += v;
  e.mean = values.empty() ? 0 : sum / static_cast<double>(values.size());
  double squares = 0;
  for (double v : values) squares += (v - e.mean) * (v - e.mean);
  e.sd = values.size() < 2 ? 0 : std::sqrt(squares / static_cast<double>(values.size() - 1));
  return e;
}

void expectMatches(const ChannelStatistics& s, const Expected& e, int channel) {
  SCOPED_TRACE("CH" + std::to_string(channel));
  EXPECT_EQ(s.count(), e.count);
  EXPECT_EQ(s.blanks(), e.blanks);
  EXPECT_EQ(s.overloads(), e.overloads);
  EXPECT_EQ(s.notNumbers(), e.text);
  EXPECT_DOUBLE_EQ(s.min(), e.min);
  EXPECT_DOUBLE_EQ(s.max(), e.max);
  EXPECT_DOUBLE_EQ(s.last(), e.last);
  EXPECT_NEAR(s.mean(), e.mean, 1e-9 * std::fabs(e.mean) + 1e-12);
  EXPECT_NEAR(s.standardDeviation(), e.sd, 1e-7 * e.sd + 1e-12);
  EXPECT_EQ(s.minTime(), e.minTime);
  EXPECT_EQ(s.maxTime(), e.maxTime);
}

TEST(RecordStatistics, EqualThoseComputedFromTheRawRows) {
  TempDataFolder folder;
  const auto rows = mixedRows(700, 7);
  const auto file = writeRows(folder, "Record1", rows);
  RecordStatistics stats;
  ASSERT_TRUE(computeRecordStatistics(file, {}, stats).ok());
  EXPECT_EQ(stats.scans, 700);
  EXPECT_EQ(stats.firstTime, stamp(0));
  EXPECT_EQ(stats.lastNum, 700);
  for (int c = 1; c <= 20; ++c) {
    expectMatches(stats.channels[static_cast<std::size_t>(c - 1)], expectedOf(rows, c, 0, 699), c);
  }
  EXPECT_FALSE(stats.channels[19].any());  // blanks only

  // A range by number, then the same range by time.
  ScanSelection byNumber;
  ASSERT_TRUE(parseScanBound("101", false, byNumber.from).ok());
  ASSERT_TRUE(parseScanBound("250", true, byNumber.to).ok());
  ASSERT_TRUE(computeRecordStatistics(file, byNumber, stats).ok());
  EXPECT_EQ(stats.scans, 150);
  EXPECT_EQ(stats.firstNum, 101);
  for (int c : {1, 7, 19}) {
    expectMatches(stats.channels[static_cast<std::size_t>(c - 1)], expectedOf(rows, c, 100, 249),
                  c);
  }
  ScanSelection byTime;
  ASSERT_TRUE(parseScanBound(stamp(100), false, byTime.from).ok());
  ASSERT_TRUE(parseScanBound("2026-12-09T10:04:09", true, byTime.to).ok());
  RecordStatistics timed;
  ASSERT_TRUE(computeRecordStatistics(file, byTime, timed).ok());
  EXPECT_EQ(timed.scans, 150);
  EXPECT_EQ(timed.channels[6].mean(), stats.channels[6].mean());
}

TEST(RecordStatistics, ScaleWhereTheRunSaysSoAndOnlyThere) {
  TempDataFolder folder;
  const auto rows = mixedRows(40, 11);
  const auto file = writeRows(folder, "Record1", rows);
  // Scans 21..40 were taken by a run that scaled CH3 (M 2.5, B -1, "bar"); 1..20 by an older one.
  {
    RunDatabase run;
    ASSERT_TRUE(run.OpenRunDatabase(file).ok());
    ASSERT_TRUE(run.BeginRunRecord({}, {}).ok());
  }
  test::execSql(file,
                "UPDATE RUNS SET first_num = 21, last_num = 40;"
                "INSERT INTO CHANNELS(run_id, channel, function, scale_m, scale_b, unit_label)"
                " VALUES (1, 3, 'DCV', 2.5, -1, 'bar'), (1, 4, 'DCV', NULL, 5, 'x');");
  RecordStatistics stats;
  ASSERT_TRUE(computeRecordStatistics(file, {}, stats).ok());
  EXPECT_TRUE(stats.scaled[2]);
  EXPECT_EQ(stats.units[2], "bar");
  EXPECT_FALSE(stats.scaled[3]);  // B without M is no scaling
  ScanSelection described;
  described.from.kind = ScanBound::Kind::Number;
  described.from.num = 21;
  ASSERT_TRUE(computeRecordStatistics(file, described, stats).ok());
  expectMatches(stats.channels[2], expectedOf(rows, 3, 20, 39, 2.5, -1), 3);
  expectMatches(stats.channels[3], expectedOf(rows, 4, 20, 39), 4);
}

TEST(RecordStatistics, LiveAccumulatorStaysExactOverALargeOffset) {
  // Naive sum-of-squares loses every digit here; Welford keeps them.
  ChannelStatistics s;
  for (int i = 0; i < 100000; ++i) s.addValue(1e6 + (i % 2 == 0 ? 0.001 : -0.001), "t");
  EXPECT_NEAR(s.mean(), 1e6, 1e-8);
  EXPECT_NEAR(s.standardDeviation(), 0.001, 1e-8);
  s.addReading("+9.9E+37", "t");
  s.addReading("", "t");
  s.addReading("1,5", "t");
  EXPECT_EQ(s.count(), 100000);
  EXPECT_EQ(s.overloads(), 1);
  EXPECT_EQ(s.blanks(), 1);
  EXPECT_EQ(s.notNumbers(), 1);
}

TEST(ScanBounds, AcceptNumbersAndTimesAndSayWhatIsWrong) {
  ScanBound b;
  ASSERT_TRUE(parseScanBound(" 42 ", false, b).ok());
  EXPECT_EQ(b.kind, ScanBound::Kind::Number);
  EXPECT_EQ(b.num, 42);
  ASSERT_TRUE(parseScanBound("2026-12-09", true, b).ok());
  EXPECT_EQ(b.time, "2026/12/09 23:59:59");
  ASSERT_TRUE(parseScanBound("2026/12/09", false, b).ok());
  EXPECT_EQ(b.time, "2026/12/09 00:00:00");
  for (const char* bad : {"", "-3", "12a", "2026/12-09", "2026/12/09 1:00:00", "yesterday"}) {
    const StoreStatus st = parseScanBound(bad, false, b);
    EXPECT_FALSE(st.ok()) << bad;
    EXPECT_NE(st.error.find("neither a scan number nor a time"), std::string::npos) << st.error;
  }
  // Milliseconds of a stamp belong to their second.
  ScanSelection s;
  ASSERT_TRUE(parseScanBound("2026/12/09 10:00:01", true, s.to).ok());
  EXPECT_TRUE(s.contains(5, "2026/12/09 10:00:01:999"));
  EXPECT_FALSE(s.contains(6, "2026/12/09 10:00:02:000"));
}

struct Exporting : ::testing::Test {
  TempDataFolder folder;
  std::filesystem::path record;
  void SetUp() override {
    record = writeRows(folder, "Record1",
                       {{"+1.000000E+00", "2", "OPEN", "+9.9E+37", " "},
                        {"+2.500000E+00", "x,\"y\"", "-0.5", "", " "},
                        {"3", "4", "5", "6", " "}});
  }
  std::string exported(const ExportOptions& options, std::int64_t* scans = nullptr) {
    const auto file = folder.root() / "out.txt";
    std::filesystem::remove(file);
    EXPECT_TRUE(exportRecord(record, file, options, scans).ok());
    return test::readFile(file);
  }
};

TEST_F(Exporting, TidyWritesOneLinePerReadingOfAnOldRecord) {
  ExportOptions tidy;
  tidy.format = ExportFormat::Tidy;
  tidy.selection.to.kind = ScanBound::Kind::Number;
  tidy.selection.to.num = 2;
  std::int64_t scans = 0;
  EXPECT_EQ(exported(tidy, &scans),
            "time,serial,channel,function,value,unit,raw\r\n"
            "2026-12-09T10:00:00,,1,,+1.000000E+00,,+1.000000E+00\r\n"
            "2026-12-09T10:00:00,,2,,2,,2\r\n"
            "2026-12-09T10:00:00,,3,,,,OPEN\r\n"
            "2026-12-09T10:00:00,,4,,,,+9.9E+37\r\n"
            "2026-12-09T10:00:01,,1,,+2.500000E+00,,+2.500000E+00\r\n"
            "2026-12-09T10:00:01,,2,,,,\"x,\"\"y\"\"\"\r\n"
            "2026-12-09T10:00:01,,3,,-0.5,,-0.5\r\n");
  EXPECT_EQ(scans, 2);
}

// An unscaled reading that is already a plain number is its own value; anything else is read as a
// number first, so blanks, overloads near and far, and malformed texts come out as before.
TEST(TidyValues, PlainNumbersAreReusedAndEverythingElseIsChecked) {
  TempDataFolder folder;
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"+1.234500E-03", "+1.234500E-03"}, {"-0.5", "-0.5"}, {".5", ".5"}, {"7.", "7."},
      {"1E-300", "1E-300"}, {"1E+28", "1E+28"}, {"1E+29", "1e+29"}, {" 2.5 ", "2.5"},
      {"+9.9E+37", ""}, {"-9.90000E+37", ""}, {"99999999999999999999999999999999", "1e+32"},
      {std::string(40, '9'), ""},
      {"1E", ""}, {"1.2.3", ""}, {"1E+00001", "10"}, {"+", ""}, {"-.", ""}, {"0x10", ""}};
  std::vector<std::vector<std::string>> rows;
  for (const auto& c : cases) rows.push_back({c.first});
  const auto record = writeRows(folder, "Record1", rows);
  ExportOptions tidy;
  tidy.format = ExportFormat::Tidy;
  const auto file = folder.root() / "out.csv";
  ASSERT_TRUE(exportRecord(record, file, tidy).ok());
  std::istringstream lines(test::readFile(file));
  std::string line;
  std::getline(lines, line);  // title
  for (const auto& c : cases) {
    ASSERT_TRUE(std::getline(lines, line)) << c.first;
    // time,serial,channel,function,value,unit,raw
    std::vector<std::string> fields;
    std::stringstream split(line);
    for (std::string f; std::getline(split, f, ',');) fields.push_back(f);
    ASSERT_GE(fields.size(), 5u) << line;
    EXPECT_EQ(fields[4], c.second) << c.first;
  }
}

TEST_F(Exporting, TidyScalesDescribedChannelsAndLeavesOutUnmeasuredOnes) {
  {
    RunDatabase run;
    ASSERT_TRUE(run.OpenRunDatabase(record).ok());
    RunInfo info;
    info.serial = "MY1234";
    ChannelInfo ch1;
    ch1.channel = 1;
    ch1.function = "DCV";
    ch1.scaleM = 2;
    ch1.scaleB = 0.5;
    ch1.unitLabel = "bar";
    ChannelInfo ch2;
    ch2.channel = 2;
    ch2.function = "2W";
    ChannelInfo ch3;
    ch3.channel = 3;
    ch3.function = "NONE";
    const std::vector<ChannelInfo> channels{ch1, ch2, ch3};
    ASSERT_TRUE(run.BeginRunRecord(info, channels).ok());
  }
  test::execSql(record, "UPDATE RUNS SET first_num = 3, last_num = 3");
  ExportOptions tidy;
  tidy.format = ExportFormat::Tidy;
  ASSERT_TRUE(parseScanBound("3", false, tidy.selection.from).ok());
  EXPECT_EQ(exported(tidy),
            "time,serial,channel,function,value,unit,raw\r\n"
            "2026-12-09T10:00:02,MY1234,1,DCV,6.5,bar,3\r\n"
            "2026-12-09T10:00:02,MY1234,2,2W,4,Ohm,4\r\n");
  // The stored readings are what they were.
  EXPECT_EQ(test::storedColumn(record, 0).size(), 3u);
}

TEST_F(Exporting, CsvByRangeStartsItsOwnPageAndAppendsTidyWithoutASecondTitle) {
  ExportOptions csv;
  ASSERT_TRUE(parseScanBound("2026/12/09 10:00:01", false, csv.selection.from).ok());
  const std::string text = exported(csv);
  EXPECT_EQ(text.substr(0, text.find("\r\n")), "\"Scan Cycle\",\"Time\",\"CH 1\",\"CH 2\",\"CH 3\","
                                               "\"CH 4\",\"CH 5\",\"CH 6\",\"CH 7\",\"CH 8\","
                                               "\"CH 9\",\"CH 10\",\"CH 11\",\"CH 12\",\"CH 13\","
                                               "\"CH 14\",\"CH 15\",\"CH 16\",\"CH 17\",\"CH 18\","
                                               "\"CH 19\",\"CH 20\"");
  EXPECT_NE(text.find("\r\n\"2\",\"2026/12/09 10:00:01\",\"+2.500000E+00\",\"x,\"\"y\"\"\""),
            std::string::npos);
  EXPECT_EQ(text.find("10:00:00"), std::string::npos);

  const auto file = folder.root() / "tidy.csv";
  ExportOptions tidy;
  tidy.format = ExportFormat::Tidy;
  ASSERT_TRUE(exportRecord(record, file, tidy).ok());
  ASSERT_TRUE(exportRecord(record, file, tidy).ok());
  const std::string twice = test::readFile(file);
  EXPECT_EQ(twice.find("time,serial"), 0u);
  EXPECT_EQ(twice.find("time,serial", 1), std::string::npos);

  // Nothing selected: nothing written, not even a title.
  ASSERT_TRUE(parseScanBound("2030/01/01", false, tidy.selection.from).ok());
  std::int64_t scans = -1;
  EXPECT_EQ(exported(tidy, &scans), "");
  EXPECT_EQ(scans, 0);
}

// A full disk, imitated by a file size limit in a child process: writes beyond it fail with
// EFBIG the way they fail with ENOSPC on a full disk.
int exportWithSizeLimit(const std::filesystem::path& record, const std::filesystem::path& file,
                        ExportFormat format, rlim_t limit) {
  const pid_t child = ::fork();
  if (child < 0) return -1;
  if (child == 0) {
    ::signal(SIGXFSZ, SIG_IGN);
    const rlimit r{limit, limit};
    ::setrlimit(RLIMIT_FSIZE, &r);
    ExportOptions options;
    options.format = format;
    ::_exit(exportRecord(record, file, options).ok() ? 0 : 1);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(ExportFailure, AFullDiskLeavesTheFileAsItWasNeverHalfALine) {
  TempDataFolder folder;
  const auto record = writeRows(folder, "Record1", mixedRows(3000, 3));
  for (ExportFormat format : {ExportFormat::Csv, ExportFormat::Tidy}) {
    const auto file = folder.root() / "out.csv";
    const std::string before = "\"earlier\",\"export\"\r\n";
    test::writeFile(file, before);
    EXPECT_EQ(exportWithSizeLimit(record, file, format, 200 * 1024 + 77), 1);
    EXPECT_EQ(test::readFile(file), before);
    // A new file that cannot be written whole is not left behind at all.
    const auto fresh = folder.root() / "fresh.csv";
    EXPECT_EQ(exportWithSizeLimit(record, fresh, format, 100 * 1024 + 13), 1);
    EXPECT_FALSE(std::filesystem::exists(fresh));
    // With room enough the same export works.
    EXPECT_EQ(exportWithSizeLimit(record, file, format, RLIM_INFINITY), 0);
    EXPECT_GT(std::filesystem::file_size(file), 300u * 1024);
  }
}

}  // namespace
}  // namespace kalivor::store
