// SPDX-License-Identifier: MIT
#include "app/cli_records.h"

#include "app/cli.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>

#include "store/run_database.h"
#include "store/store_fixture.h"

namespace kalivor {
namespace {

namespace fs = std::filesystem;
using store::test::readFile;
using store::test::TempDataFolder;

struct CliRecords : ::testing::Test {
  TempDataFolder folder;
  std::ostringstream out, err;
  std::string dir() const { return folder.root().string(); }
  int exportTo(const std::string& name, const std::string& file) {
    out.str("");
    err.str("");
    return commandExport(dir(), name, file, out, err);
  }
};

TEST_F(CliRecords, ListsTheRecordFilesAsTheBrowserDoes) {
  EXPECT_EQ(commandRecords(dir(), out, err), 0);
  EXPECT_EQ(out.str(), "");
  EXPECT_NE(err.str().find("no records yet"), std::string::npos);

  store::test::writeRecord(folder, "Record2", store::test::numbered(1, 2));
  store::test::writeRecord(folder, "Record10", {});
  store::test::writeFile(folder.db() / "Upper.MDB", "x");
  store::test::writeFile(folder.db() / "notes.txt", "x");
  err.str("");
  EXPECT_EQ(commandRecords(dir(), out, err), 0);
  EXPECT_EQ(out.str(), "Record10.mdb\nRecord2.mdb\n");
  EXPECT_EQ(err.str(), "");
}

// Every page with its title line, quotes doubled, CR LF: what a CSV reader must take back whole.
TEST_F(CliRecords, ExportParsesAsCsvAndAppends) {
  const fs::path record =
      store::test::writeRecord(folder, "Record1", store::test::numbered(1, 2500));
  store::test::execSql(record, "UPDATE DATA SET CH3 = 'say \"hi\", twice' WHERE NUM = '7'");
  const fs::path csv = folder.root() / "out.csv";
  ASSERT_EQ(exportTo("Record1", csv.string()), 0) << err.str();
  EXPECT_EQ(out.str(), "2500 scans of Record1.mdb appended to " + csv.string() + "\n");
  ASSERT_EQ(exportTo("Record1.mdb", csv.string()), 0) << err.str();

  const fs::path summary = folder.root() / "summary.txt";
  const std::string script =
      "import csv, sys\n"
      "rows = list(csv.reader(open(sys.argv[1], newline=''), strict=True))\n"
      "titles = [i for i, r in enumerate(rows) if r[0] == 'Scan Cycle']\n"
      "print(len(rows), sorted(set(len(r) for r in rows)), titles[:4], rows[7][4], rows[-1][0],"
      " rows[-1][21], rows[0][21])\n";
  const fs::path py = folder.root() / "check.py";
  store::test::writeFile(py, script);
  const std::string command =
      "python3 " + py.string() + " " + csv.string() + " > " + summary.string() + " 2>&1";
  ASSERT_EQ(std::system(command.c_str()), 0) << readFile(summary);
  // 2 x (3 title lines + 2500 scans); row 7 of the file is scan 7 (after the first title).
  EXPECT_EQ(readFile(summary),
            "5006 [22] [0, 1001, 2002, 2503] say \"hi\", twice 2500 2499.20 CH 20\n");
  EXPECT_NE(readFile(csv).find("\r\n"), std::string::npos);
}

TEST_F(CliRecords, ExportToStandardOutputMatchesTheFileAndLeavesTheRecordAsItIs) {
  const fs::path record =
      store::test::writeRecord(folder, "Record4", {"1", "2", std::nullopt, "5"});
  const fs::path csv = folder.root() / "a.csv";
  ASSERT_EQ(exportTo("Record4", csv.string()), 0) << err.str();
  ASSERT_EQ(exportTo("Record4", "-"), 0) << err.str();
  EXPECT_EQ(out.str(), readFile(csv));
  EXPECT_EQ(err.str(), "");
  // Numbered as the browser would show them, the NULL row left out ...
  EXPECT_NE(out.str().find("\r\n\"3\",\"t3\""), std::string::npos) << out.str();
  EXPECT_EQ(out.str().find("\"5\""), std::string::npos);
  // ... while the file keeps its own numbers.
  EXPECT_EQ(store::test::storedColumn(record, 0),
            (std::vector<std::string>{"1", "2", "<null>", "5"}));
}

TEST_F(CliRecords, FailuresSayWhyAndWriteNothing) {
  const fs::path record = store::test::writeRecord(folder, "Record1", store::test::numbered(1, 3));
  store::test::writeRecord(folder, "Record2", {});
  const fs::path csv = folder.root() / "x.csv";
  const std::string before = readFile(record);

  EXPECT_EQ(exportTo("Record9", csv.string()), 1);
  EXPECT_NE(err.str().find("there is no record Record9"), std::string::npos) << err.str();
  EXPECT_EQ(exportTo("../db/Record1", csv.string()), 1);
  EXPECT_NE(err.str().find("not allowed"), std::string::npos) << err.str();
  EXPECT_EQ(exportTo("../Record1.mdb", csv.string()), 1);
  EXPECT_FALSE(fs::exists(csv));

  // Appending CSV text to a database would damage it.
  EXPECT_EQ(exportTo("Record1", record.string()), 1);
  EXPECT_NE(err.str().find("is a database"), std::string::npos) << err.str();
  EXPECT_EQ(exportTo("Record1", folder.record("Record2").string()), 1);
  EXPECT_EQ(readFile(record), before);

  EXPECT_EQ(exportTo("Record2", csv.string()), 1);
  EXPECT_NE(err.str().find("holds no scans"), std::string::npos) << err.str();
  EXPECT_FALSE(fs::exists(csv));

  store::test::writeFile(folder.db() / "Record5.mdb", "not a database at all");
  EXPECT_EQ(exportTo("Record5", csv.string()), 1);
  EXPECT_NE(err.str().find("Record5.mdb"), std::string::npos) << err.str();
  EXPECT_FALSE(fs::exists(csv));

  EXPECT_EQ(exportTo("Record1", (folder.root() / "missing" / "x.csv").string()), 1);
  EXPECT_NE(err.str().find("Cannot open the CSV file"), std::string::npos) << err.str();
}

// Runs kalivor-cli with `args` (the data folder added); the exit code.
struct CliCommands : CliRecords {
  int cli(std::vector<std::string> args) {
    out.str("");
    err.str("");
    args.push_back("--data-dir");
    args.push_back(dir());
    return runCli(args, out, err);
  }
  // Whether python's json module takes `text`, and the summary `expr` of it prints.
  std::string python(const std::string& text, const std::string& expr) {
    const fs::path in = folder.root() / "in.txt";
    const fs::path py = folder.root() / "check.py";
    const fs::path result = folder.root() / "result.txt";
    store::test::writeFile(in, text);
    store::test::writeFile(py, "import csv, json, sys\ntext = open(sys.argv[1], newline='').read()\n"
                               "print(" + expr + ")\n");
    const std::string command =
        "python3 " + py.string() + " " + in.string() + " > " + result.string() + " 2>&1";
    const int rc = std::system(command.c_str());
    return (rc == 0 ? "" : "python failed: ") + readFile(result);
  }
};

// CH1 of rows 0..3 reads 0.1, 1.1, 2.1, 3.1 (writeRecord's pattern).
TEST_F(CliCommands, StatsAsATableAndAsJsonOfTheWholeRecordOrARange) {
  store::test::writeRecord(folder, "Record1", store::test::numbered(1, 4));
  ASSERT_EQ(cli({"stats", "Record1"}), 0) << err.str();
  EXPECT_EQ(out.str().substr(0, out.str().find('\n')), "Record1.mdb: scans 1 to 4 (4), t0 to t3");
  EXPECT_NE(out.str().find("\nCH1  4        3.1                  0.1                  3.1"
                           "                  1.6                  1.29099444873581"),
            std::string::npos)
      << out.str();

  ASSERT_EQ(cli({"stats", "Record1.mdb", "--from", "2", "--to", "3", "--json"}), 0) << err.str();
  EXPECT_EQ(python(out.str(), "[(c['channel'], c['count'], c['min'], c['max'], c['min_time']) "
                              "for c in json.loads(text)['channels'][:2]]"),
            "[(1, 2, 1.1, 2.1, 't1'), (2, 2, 1.2, 2.2, 't1')]\n");

  EXPECT_EQ(cli({"stats", "Record1", "--from", "soon"}), 2);
  EXPECT_NE(err.str().find("--from: \"soon\" is neither a scan number nor a time"),
            std::string::npos)
      << err.str();
  EXPECT_EQ(cli({"stats"}), 2);
  EXPECT_EQ(cli({"stats", "Record7"}), 1);
  EXPECT_NE(err.str().find("there is no record Record7"), std::string::npos);
}

TEST_F(CliCommands, TidyExportReadsBackAsOneRowPerReading) {
  store::test::writeRecord(folder, "Record1", store::test::numbered(1, 3));
  ASSERT_EQ(cli({"export", "Record1", "-", "--format", "tidy", "--to", "2"}), 0) << err.str();
  EXPECT_EQ(python(out.str(), "(lambda r: (len(r), r[0], r[1], r[-1]))"
                              "(list(csv.reader(text.splitlines())))"),
            "(41, ['time', 'serial', 'channel', 'function', 'value', 'unit', 'raw'], "
            "['t0', '', '1', '', '0.1', '', '0.1'], ['t1', '', '20', '', '1.20', '', '1.20'])\n");

  // The default stays the CSV of before.
  const fs::path a = folder.root() / "a.csv";
  const fs::path b = folder.root() / "b.csv";
  ASSERT_EQ(exportTo("Record1", a.string()), 0);
  ASSERT_EQ(cli({"export", "Record1", b.string(), "--format", "csv"}), 0) << err.str();
  EXPECT_EQ(readFile(a), readFile(b));

  EXPECT_EQ(cli({"export", "Record1", "-", "--format", "xlsx"}), 2);
  EXPECT_NE(err.str().find("use csv or tidy"), std::string::npos) << err.str();
  EXPECT_EQ(cli({"export", "Record1", "c.csv", "--from", "9"}), 1);
  EXPECT_NE(err.str().find("no scans in that range"), std::string::npos) << err.str();
  EXPECT_FALSE(fs::exists(folder.root() / "c.csv"));
}

TEST_F(CliCommands, RecordsAsJsonWithTheirRuns) {
  ASSERT_EQ(cli({"records", "--json"}), 0);
  EXPECT_EQ(out.str(), "[]\n");
  const fs::path described =
      store::test::writeRecord(folder, "Record2", store::test::numbered(1, 2));
  {
    store::RunDatabase run;
    ASSERT_TRUE(run.OpenRunDatabase(described).ok());
    store::RunInfo info;
    info.serial = "MY\"1234";
    info.cardCode = 3;
    ASSERT_TRUE(run.BeginRunRecord(info, {}).ok());
    ASSERT_TRUE(run.AppendReadingRow(3, "t2", std::vector<std::string>(20, "1")).ok());
  }
  store::test::writeRecord(folder, "Record1", {});
  store::test::writeFile(folder.db() / "Record3.mdb", "not a database");
  ASSERT_EQ(cli({"records", "--json"}), 0) << err.str();
  EXPECT_EQ(python(out.str(), "[(r['name'], r.get('scans'), r.get('first_time'), "
                              "[(x['serial'], x['first_num'], x['last_num'], x['card_code']) "
                              "for x in r.get('runs', [])], 'error' in r) "
                              "for r in json.loads(text)]"),
            "[('Record1.mdb', 0, None, [], False), "
            "('Record2.mdb', 3, 't0', [('MY\"1234', 3, 3, 3)], False), "
            "('Record3.mdb', None, None, [], True)]\n");
}

}  // namespace
}  // namespace kalivor
