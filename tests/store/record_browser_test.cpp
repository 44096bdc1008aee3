// SPDX-License-Identifier: MIT
#include "store/record_browser.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include "store/csv_export.h"
#include "store/record_files.h"
#include "store_fixture.h"

namespace kalivor::store {
namespace {

using test::TempDataFolder;

struct Page {
  std::int64_t first, last, rows;
  bool previous, next;
  bool operator==(const Page&) const = default;
};
std::ostream& operator<<(std::ostream& os, const Page& p) {
  return os << p.first << ".." << p.last << " rows " << p.rows << " prev " << p.previous
            << " next " << p.next;
}

Page page(const RecordBrowser& b) {
  return {b.PageFirst(), b.PageLast(), static_cast<std::int64_t>(b.rows().size()),
          b.buttons().previous, b.buttons().next};
}

class Browser : public ::testing::Test {
 protected:
  TempDataFolder folder;
  RecordingMessages messages;
  RecordBrowser browser{folder.root(), messages};
};

TEST_F(Browser, PagesThroughARecordAThousandScansAtATime) {
  test::writeRecord(folder, "Record1", test::numbered(1, 2500));
  browser.Open("Record1.mdb");
  EXPECT_TRUE(messages.shown.empty());
  EXPECT_EQ(browser.RecordTotal(), 2500);
  EXPECT_EQ(page(browser), (Page{1, 1000, 1000, false, true}));
  EXPECT_TRUE(browser.buttons().csv);
  EXPECT_EQ(browser.rows().front()[0], "1");
  EXPECT_EQ(browser.rows().back()[0], "1000");
  EXPECT_EQ(browser.files(), std::vector<std::string>{"Record1.mdb"});

  browser.Next();
  EXPECT_EQ(page(browser), (Page{1001, 2000, 1000, true, true}));
  EXPECT_EQ(browser.rows().front()[0], "1001");
  browser.Next();
  EXPECT_EQ(page(browser), (Page{2001, 2500, 500, true, false}));
  EXPECT_EQ(browser.rows().back()[0], "2500");
  EXPECT_EQ(browser.rows().back()[1], "t2499");
  EXPECT_EQ(browser.rows().back()[21], "2499.20");
  browser.Next();  // disabled: nothing happens
  EXPECT_EQ(page(browser), (Page{2001, 2500, 500, true, false}));
  browser.Previous();
  EXPECT_EQ(page(browser), (Page{1001, 2000, 1000, true, true}));
  browser.Previous();
  EXPECT_EQ(page(browser), (Page{1, 1000, 1000, false, true}));
}

TEST_F(Browser, AThousandScansFitOnOnePage) {
  test::writeRecord(folder, "Record1", test::numbered(1, 1000));
  browser.Open("Record1.mdb");
  EXPECT_EQ(page(browser), (Page{1, 1000, 1000, false, false}));
  EXPECT_TRUE(browser.buttons().csv);
}

TEST_F(Browser, ShowingRenumbersTheFileAndShowsNullFieldsAsEmptyText) {
  const auto file = test::writeRecord(folder, "Record1", {"1", "2", std::nullopt, "5"});
  test::execSql(file, "UPDATE DATA SET CH3 = NULL, Time = NULL WHERE NUM = '5'");
  browser.Open("Record1.mdb");
  EXPECT_EQ(test::storedColumn(file, 0), (std::vector<std::string>{"1", "2", "3"}));
  ASSERT_EQ(browser.rows().size(), 3u);
  EXPECT_EQ(browser.rows()[2][0], "3");
  EXPECT_EQ(browser.rows()[2][1], "");
  EXPECT_EQ(browser.rows()[2][4], "");
  EXPECT_EQ(browser.rows()[2][5], "3.4");
}

TEST_F(Browser, EmptyRecordsAndBadSelectionsAreReported) {
  browser.Open("");
  browser.Open("Record1.txt");
  EXPECT_EQ(messages.texts(), std::vector<std::string>(2, "Please select a Record."));
  messages.clear();

  test::writeRecord(folder, "Record1", test::numbered(1, 1500));
  browser.Open("Record1.mdb");
  test::writeRecord(folder, "Record2", {});
  browser.Open("Record2.mdb");
  EXPECT_EQ(messages.texts(), std::vector<std::string>{"The Record is NULL"});
  EXPECT_EQ(browser.buttons().csv || browser.buttons().previous || browser.buttons().next, false);
  EXPECT_TRUE(browser.rows().empty());
  EXPECT_FALSE(browser.exportCsv(folder.root() / "out.csv").ok());
}

TEST_F(Browser, FilesThatAreNoRecordGiveAMessageNotACrash) {
  test::writeFile(folder.db() / "Bad.mdb", std::string("SQLite format 3\0garbage", 23));
  test::writeFile(folder.db() / "Empty.mdb", "");
  for (const char* name : {"Bad.mdb", "Empty.mdb", "Gone.mdb"}) {
    messages.clear();
    browser.Open(name);
    ASSERT_EQ(messages.shown.size(), 1u) << name;
    EXPECT_NE(messages.shown[0].text.find(name), std::string::npos) << messages.shown[0].text;
    EXPECT_TRUE(browser.rows().empty());
    EXPECT_FALSE(browser.buttons().csv);
  }
}

TEST_F(Browser, ANewRecordStartsWithPreviousDisabled) {
  test::writeRecord(folder, "Record1", test::numbered(1, 2500));
  test::writeRecord(folder, "Record2", test::numbered(1, 2500));
  browser.Open("Record1.mdb");
  browser.Next();
  browser.Open("Record2.mdb");
  EXPECT_EQ(page(browser), (Page{1, 1000, 1000, false, true}));
}

TEST_F(Browser, ARecordThatShrankMeanwhileIsShownWhole) {
  const auto file = test::writeRecord(folder, "Record1", test::numbered(1, 2500));
  browser.Open("Record1.mdb");
  browser.Next();
  browser.Next();
  test::execSql(file, "DELETE FROM DATA WHERE rowid > 800");
  browser.Previous();
  EXPECT_EQ(page(browser), (Page{1, 800, 800, false, false}));
  EXPECT_EQ(browser.rows().front()[0], "1");
}

TEST_F(Browser, DeletingAsksFirstAndRefreshes) {
  test::writeRecord(folder, "Record1", test::numbered(1, 2));
  test::writeFile(folder.db() / "Other.mdb", "x");
  int beeps = 0;
  browser.beep = [&] { ++beeps; };

  browser.Deleted("Other.mdb");
  EXPECT_TRUE(messages.shown.empty());
  messages.answers = {MessageAnswer::No, MessageAnswer::Yes};
  browser.Deleted("Record1.mdb");
  ASSERT_EQ(messages.shown.size(), 1u);
  EXPECT_EQ(messages.shown[0].text, "Will you delete the \"Record1.mdb\"?");
  EXPECT_EQ(messages.shown[0].title, "");
  EXPECT_EQ(messages.shown[0].buttons, MessageButtons::YesNo);
  EXPECT_EQ(browser.files().size(), 2u);
  browser.Deleted("Record1.mdb");
  EXPECT_EQ(beeps, 2);
  EXPECT_EQ(browser.files(), std::vector<std::string>{"Other.mdb"});
  EXPECT_EQ(messages.shown.size(), 2u);  // the second question, no failure message
}

TEST_F(Browser, DeletingARecordInUseShowsTheInUseMessage) {
  const auto file = test::writeRecord(folder, "Record1", test::numbered(1, 2));
  RunDatabase run;
  ASSERT_TRUE(run.OpenRunDatabase(file).ok());
  browser.Deleted("Record1.mdb");
  EXPECT_EQ(messages.texts().back(), kRecordInUseMessage);
  EXPECT_TRUE(std::filesystem::exists(file));
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t end = text.find("\r\n", at);
    EXPECT_NE(end, std::string::npos) << "line without CR LF";
    if (end == std::string::npos) break;
    out.push_back(text.substr(at, end - at));
    at = end + 2;
  }
  return out;
}

const std::string kTitleLine = [] {
  std::string s = "\"Scan Cycle\",\"Time\"";
  for (int c = 1; c <= 20; ++c) s += ",\"CH " + std::to_string(c) + "\"";
  return s;
}();

TEST_F(Browser, ExportWritesTheShownAndFollowingPagesAndAppends) {
  test::writeRecord(folder, "Record1", test::numbered(1, 2500));
  const auto csv = folder.root() / "out.csv";
  test::writeFile(csv, "earlier\r\n");
  browser.Open("Record1.mdb");
  ASSERT_TRUE(browser.exportCsv(csv).ok());
  EXPECT_EQ(messages.texts(), std::vector<std::string>{"Data saved !"});
  EXPECT_EQ(page(browser), (Page{2001, 2500, 500, true, false}));

  auto all = lines(test::readFile(csv));
  ASSERT_EQ(all.size(), 1u + 3 + 2500);
  EXPECT_EQ(all[0], "earlier");
  EXPECT_EQ(all[1], kTitleLine);
  EXPECT_EQ(all[1002], kTitleLine);
  EXPECT_EQ(all[2003], kTitleLine);
  std::string first = "\"1\",\"t0\"";
  for (int c = 1; c <= 20; ++c) first += ",\"0." + std::to_string(c) + "\"";
  EXPECT_EQ(all[2], first);
  EXPECT_EQ(all.back().substr(0, 16), "\"2500\",\"t2499\",\"");

  // The second export starts from the page left shown, after the first one.
  ASSERT_TRUE(browser.exportCsv(csv).ok());
  all = lines(test::readFile(csv));
  ASSERT_EQ(all.size(), 1u + 3 + 2500 + 1 + 500);
  EXPECT_EQ(all[2504], kTitleLine);
  EXPECT_EQ(all[2505].substr(0, 7), "\"2001\",");
}

TEST_F(Browser, ExportStopsAfterTenPagesAndDoublesQuotes) {
  const auto file = test::writeRecord(folder, "Record1", test::numbered(1, 10500));
  test::execSql(file, "UPDATE DATA SET CH1 = 'say \"hi\"' WHERE NUM = '1'");
  browser.Open("Record1.mdb");
  const auto csv = folder.root() / "out.csv";
  ASSERT_TRUE(browser.exportCsv(csv).ok());
  const auto all = lines(test::readFile(csv));
  EXPECT_EQ(all.size(), 10u + 10000);
  // After the tenth page the next one is shown, so another export carries on from there.
  EXPECT_EQ(page(browser), (Page{10001, 10500, 500, true, false}));
  EXPECT_EQ(all[1].rfind("\"1\",\"t0\",\"say \"\"hi\"\"\",\"0.2\",", 0), 0u) << all[1];
}

TEST_F(Browser, ExportFailuresAreReportedNotSaved) {
  test::writeRecord(folder, "Record1", test::numbered(1, 5));
  browser.Open("Record1.mdb");
  const StoreStatus st = browser.exportCsv(folder.root() / "missing" / "out.csv");
  EXPECT_FALSE(st.ok());
  EXPECT_NE(st.error.find("out.csv"), std::string::npos) << st.error;
  EXPECT_EQ(messages.texts(), std::vector<std::string>{st.error});
  if (std::filesystem::exists("/dev/full")) {
    messages.clear();
    EXPECT_FALSE(browser.exportCsv("/dev/full").ok());
    EXPECT_EQ(messages.count("Data saved !"), 0u);
  }
}

// A full disk (a file size limit in a child process: writes fail with EFBIG as with ENOSPC): the
// file keeps what it held, never half a line, and a file the export made is not left behind.
TEST_F(Browser, AFullDiskLeavesTheCsvFileAsItWas) {
  test::writeRecord(folder, "Record1", test::numbered(1, 3000));
  browser.Open("Record1.mdb");
  auto exportLimited = [&](const std::filesystem::path& file, rlim_t limit) {
    const pid_t child = ::fork();
    if (child == 0) {
      ::signal(SIGXFSZ, SIG_IGN);
      const rlimit r{limit, limit};
      ::setrlimit(RLIMIT_FSIZE, &r);
      ::_exit(browser.exportCsv(file).ok() ? 0 : 1);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  };
  const auto file = folder.root() / "out.csv";
  const std::string before = "\"earlier\",\"export\"\r\n";
  test::writeFile(file, before);
  EXPECT_EQ(exportLimited(file, 100 * 1024 + 77), 1);
  EXPECT_TRUE(test::readFile(file) == before) << std::filesystem::file_size(file) << " bytes";
  const auto fresh = folder.root() / "fresh.csv";
  EXPECT_EQ(exportLimited(fresh, 50 * 1024 + 13), 1);
  EXPECT_FALSE(std::filesystem::exists(fresh));
  EXPECT_EQ(exportLimited(file, RLIM_INFINITY), 0);
  EXPECT_GT(std::filesystem::file_size(file), 200u * 1024);
}

// The command-line export writes what the browser's export writes, for every page.
TEST(CsvExport, WholeRecordMatchesTheBrowsersExportWithoutChangingTheFile) {
  TempDataFolder folder;
  std::vector<std::optional<std::string>> nums = test::numbered(1, 2500);
  nums.insert(nums.begin() + 10, std::nullopt);
  nums[20] = "x";
  const auto file = test::writeRecord(folder, "Record1", nums);
  const auto before = test::readFile(file);

  std::int64_t rows = 0;
  ASSERT_TRUE(exportRecordCsv(file, folder.root() / "cli.csv", &rows).ok());
  EXPECT_EQ(rows, 2500);
  EXPECT_EQ(test::readFile(file), before);

  RecordingMessages messages;
  RecordBrowser browser(folder.root(), messages);
  browser.Open("Record1.mdb");
  ASSERT_TRUE(browser.exportCsv(folder.root() / "browser.csv").ok());
  EXPECT_EQ(test::readFile(folder.root() / "cli.csv"), test::readFile(folder.root() / "browser.csv"));

  // Appends, and has no page limit.
  ASSERT_TRUE(exportRecordCsv(test::writeRecord(folder, "Record2", test::numbered(1, 10500)),
                              folder.root() / "cli.csv", &rows)
                  .ok());
  const auto all = lines(test::readFile(folder.root() / "cli.csv"));
  EXPECT_EQ(all.size(), 3u + 2500 + 11 + 10500);
  EXPECT_EQ(all.back().substr(0, 8), "\"10500\",");
}

TEST(CsvExport, ReadsARecordARunHasWrittenAndOneARunHasOpen) {
  TempDataFolder folder;
  const auto file = test::writeRecord(folder, "Record1", test::numbered(1, 2));
  const auto csv = folder.root() / "out.csv";
  std::int64_t rows = 0;
  {
    RunDatabase run;  // leaves the file in its journal mode
    ASSERT_TRUE(run.OpenRunDatabase(file).ok());
    ASSERT_TRUE(run.AppendReadingRow(3, "t", std::vector<std::string>(20, "v")).ok());
    ASSERT_TRUE(exportRecordCsv(file, csv, &rows).ok());
    EXPECT_EQ(rows, 3);
  }
  ASSERT_TRUE(exportRecordCsv(file, csv, &rows).ok());
  EXPECT_EQ(rows, 3);
  EXPECT_EQ(lines(test::readFile(csv)).size(), 8u);
}

TEST(CsvExport, FailuresNameTheFile) {
  TempDataFolder folder;
  test::writeFile(folder.db() / "Bad.mdb", "garbage");
  const auto csv = folder.root() / "out.csv";
  StoreStatus st = exportRecordCsv(folder.db() / "Bad.mdb", csv);
  EXPECT_NE(st.error.find("Bad.mdb"), std::string::npos) << st.error;
  EXPECT_FALSE(std::filesystem::exists(csv));  // no empty CSV left behind

  const auto file = test::writeRecord(folder, "Record1", test::numbered(1, 3));
  st = exportRecordCsv(file, folder.root() / "no" / "out.csv");
  EXPECT_NE(st.error.find("Cannot open the CSV file"), std::string::npos) << st.error;
  if (std::filesystem::exists("/dev/full")) {
    st = exportRecordCsv(file, std::filesystem::path("/dev/full"));
    EXPECT_NE(st.error.find("Cannot write"), std::string::npos) << st.error;
  }
}

}  // namespace
}  // namespace kalivor::store
