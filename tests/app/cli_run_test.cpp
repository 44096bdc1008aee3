// SPDX-License-Identifier: MIT
// kalivor-cli apply and run end to end over simulated meters, on a manual clock: the setup file
// is loaded and sent, the run logs into real records, and what it prints is held against the
// files (read back with SQLite, and with the sqlite3 program where it is installed).
#include "app/cli.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <sys/wait.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>

#include "app/cli_run.h"
#include "common/clock.h"
#include "store/store_fixture.h"
#include "support/cli_fixture.h"

namespace kalivor {
namespace {

namespace fs = std::filesystem;
using store::test::readFile;
using store::test::TempDataFolder;
using store::test::writeFile;

// One "slot<TAB>scan<TAB>time<TAB>CHk=value..." line of a run.
struct PrintedScan {
  int slot = -1;
  std::int64_t scan = 0;
  std::string time;
  std::map<int, std::string> readings;  // channel number (1..20) -> text
};

std::vector<PrintedScan> printedScans(const std::string& out) {
  static const std::regex line(R"(^(\d+)\t(\d+)\t([^\t]*)((\t[^\t]*)*)$)");
  std::vector<PrintedScan> scans;
  std::istringstream in(out);
  for (std::string text; std::getline(in, text);) {
    std::smatch m;
    if (!std::regex_match(text, m, line)) continue;
    PrintedScan s;
    s.slot = std::stoi(m[1]);
    s.scan = std::stoll(m[2]);
    s.time = m[3];
    std::istringstream fields(m[4].str());
    for (std::string field; std::getline(fields, field, '\t');) {
      if (field.empty()) continue;
      const auto eq = field.find('=');
      if (field.rfind("CH", 0) != 0 || eq == std::string::npos) continue;
      s.readings[std::stoi(field.substr(2, eq - 2))] = field.substr(eq + 1);
    }
    scans.push_back(std::move(s));
  }
  return scans;
}

std::vector<std::string> linesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);) lines.push_back(l);
  return lines;
}

// Rows of DATA in stored order, every column as text ("<NULL>" for NULL).
std::vector<std::vector<std::string>> recordRows(const fs::path& file) {
  std::vector<std::vector<std::string>> rows;
  sqlite3* db = nullptr;
  // Read-write, so that closing removes the -wal and -shm any reader of a WAL record makes.
  if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
    ADD_FAILURE() << "cannot open " << file;
    sqlite3_close(db);
    return rows;
  }
  sqlite3_stmt* s = nullptr;
  if (sqlite3_prepare_v2(db, "SELECT * FROM DATA ORDER BY rowid", -1, &s, nullptr) != SQLITE_OK) {
    ADD_FAILURE() << sqlite3_errmsg(db);
  }
  while (s != nullptr && sqlite3_step(s) == SQLITE_ROW) {
    std::vector<std::string> row;
    for (int c = 0; c < sqlite3_column_count(s); ++c) {
      const auto* t = reinterpret_cast<const char*>(sqlite3_column_text(s, c));
      row.emplace_back(t ? t : "<NULL>");
    }
    rows.push_back(std::move(row));
  }
  sqlite3_finalize(s);
  sqlite3_close(db);
  return rows;
}

// The record holds rows before+1 .. before+n exactly as the run printed its scans 1..n.
void expectRowsMatchPrinted(const std::vector<std::vector<std::string>>& rows, std::size_t before,
                            const std::vector<PrintedScan>& printed) {
  ASSERT_EQ(rows.size(), before + printed.size());
  for (std::size_t i = 0; i < printed.size(); ++i) {
    const auto& row = rows[before + i];
    ASSERT_EQ(row.size(), 22u);
    EXPECT_EQ(printed[i].scan, static_cast<std::int64_t>(i + 1)) << "a run counts its scans from 1";
    EXPECT_EQ(row[0], std::to_string(before + i + 1)) << "row " << before + i + 1;
    EXPECT_EQ(row[1], printed[i].time) << "row " << before + i + 1;
    ASSERT_FALSE(printed[i].readings.empty());
    for (const auto& [channel, value] : printed[i].readings) {
      EXPECT_EQ(row[static_cast<std::size_t>(1 + channel)], value)
          << "row " << before + i + 1 << " CH" << channel;
    }
  }
}

// Replaces "Key=..." lines of an INI text.
std::string withValues(std::string text, const std::map<std::string, std::string>& values) {
  for (const auto& [key, value] : values) {
    const std::regex line("(^|\n)" + std::regex_replace(key, std::regex(R"([()])"), R"(\$&)") +
                          "=[^\r\n]*");
    EXPECT_TRUE(std::regex_search(text, line)) << key;
    text = std::regex_replace(text, line, "$1" + key + "=" + value);
  }
  return text;
}

std::string simulationFile(const std::string& fault) {
  return "[Instrument1]\n"
         "Resource=USB0::0x0000::0x0001::SIM0201::INSTR\n"
         "Identity=SIMULATED,M100,SIM0201,1.0\n"
         "Card=2\n"
         "Serial=SIM0201\n"
         "Fault=" + fault + "\n";
}

struct CliRun : testing::CliFixture {
  std::string dir() const { return folder.root().string(); }
  fs::path path(const std::string& name) const { return folder.root() / name; }

  // Meter n's present setup as a file, changed by `values`.
  std::string setupOf(const std::vector<std::string>& simulate, int n,
                      const std::map<std::string, std::string>& values) {
    const fs::path file = path("meter" + std::to_string(n) + ".ini");
    std::vector<std::string> args = {"setup"};
    args.insert(args.end(), simulate.begin(), simulate.end());
    args.insert(args.end(), {"--template", std::to_string(n), file.string()});
    EXPECT_EQ(cli(args), 0) << err.str();
    writeFile(file, withValues(readFile(file), values));
    return file.string();
  }
};

// Three scans of four channels, a second apart, then the run ends by itself.
const std::map<std::string, std::string> kThreeScans = {
    {"scanCount_Status", "1"}, {"ScanCount", "3"},          {"ScanTime", "1"},
    {"EnableChannel(0)", "1"}, {"EnableChannel(1)", "1"},   {"EnableChannel(2)", "1"},
    {"EnableChannel(3)", "1"}, {"EnableChannel(4)", "0"},   {"EnableChannel(5)", "0"},
    {"EnableChannel(6)", "0"}, {"EnableChannel(7)", "0"},   {"EnableChannel(8)", "0"},
    {"EnableChannel(9)", "0"}, {"EnableChannel(10)", "0"},  {"EnableChannel(11)", "0"},
    {"EnableChannel(12)", "0"}, {"EnableChannel(13)", "0"}, {"EnableChannel(14)", "0"},
    {"EnableChannel(15)", "0"}, {"EnableChannel(16)", "0"}, {"EnableChannel(17)", "0"},
    {"EnableChannel(18)", "0"}, {"EnableChannel(19)", "0"},
};

// Runs until Stop, a scan a second.
std::map<std::string, std::string> untilStop(std::map<std::string, std::string> values = kThreeScans) {
  values["scanCount_Status"] = "2";
  return values;
}

TEST_F(CliRun, ARunPrintsEveryStoredScanEndsWithEndOfJobAndTheNextRunAppends) {
  const std::string setup = setupOf({"--simulate"}, 1, kThreeScans);
  const std::vector<std::string> run = {"run", "--simulate", "--data-dir", dir(),
                                        "--use", "1:" + setup + ":Record1"};
  ASSERT_EQ(cli(run), 0) << err.str();
  EXPECT_EQ(err.str(),
            "kalivor-cli: 1 is USB0::0x0000::0x0001::SIM0001::INSTR, serial SIM0001\n"
            "Setting Complete\nEnd of Job.\n");
  const auto first = printedScans(out.str());
  ASSERT_EQ(first.size(), 3u) << out.str();
  EXPECT_EQ(linesOf(err.str()).back(), "End of Job.");
  for (const auto& s : first) {
    EXPECT_EQ(s.slot, 1) << "instruments are numbered as --use numbers them";
    EXPECT_EQ(s.readings.size(), 4u) << "only the channels in use are printed";
  }
  // A second apart on the instrument's clock, each with its own stamp.
  EXPECT_LT(first[0].time, first[1].time);
  EXPECT_LT(first[1].time, first[2].time);
  const fs::path record = folder.record("Record1");
  expectRowsMatchPrinted(recordRows(record), 0, first);
  EXPECT_EQ(recordRows(record)[0][6], " ") << "channels not in use are stored as one blank";

  ASSERT_EQ(cli(run), 0) << err.str();
  const auto second = printedScans(out.str());
  ASSERT_EQ(second.size(), 3u);
  const auto rows = recordRows(record);
  expectRowsMatchPrinted(rows, 3, second);
  expectRowsMatchPrinted(std::vector(rows.begin(), rows.begin() + 3), 0, first);
  // Closed cleanly: no journal, lock or build file is left beside the record, nor after an
  // export has read it.
  EXPECT_EQ(store::test::entriesOf(folder.db()), std::vector<std::string>{"Record1.mdb"});
  ASSERT_EQ(cli({"export", "Record1", path("all.csv").string(), "--data-dir", dir()}), 0)
      << err.str();
  EXPECT_EQ(out.str(), "6 scans of Record1.mdb appended to " + path("all.csv").string() + "\n");
  EXPECT_EQ(store::test::entriesOf(folder.db()), std::vector<std::string>{"Record1.mdb"});
}

TEST_F(CliRun, TheSqlite3ProgramReadsExactlyTheTwentyTwoColumns) {
  if (std::system("command -v sqlite3 >/dev/null 2>&1") != 0) {
    GTEST_SKIP() << "the sqlite3 program is not installed: the record is read through the "
                    "library only (see the other tests)";
  }
  const std::string setup = setupOf({"--simulate"}, 1, kThreeScans);
  ASSERT_EQ(cli({"run", "--simulate", "--data-dir", dir(), "--use", "1:" + setup + ":Record7"}), 0)
      << err.str();
  const auto printed = printedScans(out.str());
  ASSERT_EQ(printed.size(), 3u);

  const fs::path record = folder.record("Record7");
  const fs::path dump = path("dump.txt");
  const std::string command = "sqlite3 -batch -header -separator '|' '" + record.string() +
                              "' 'PRAGMA integrity_check;' 'SELECT * FROM DATA;' > '" +
                              dump.string() + "' 2>&1";
  ASSERT_EQ(std::system(command.c_str()), 0) << readFile(dump);
  const auto lines = linesOf(readFile(dump));
  ASSERT_EQ(lines.size(), 2u + 1u + 3u) << readFile(dump);  // check header, ok, header, 3 rows
  EXPECT_EQ(lines[1], "ok");
  std::string header = "NUM|Time";
  for (int c = 1; c <= 20; ++c) header += "|Ch" + std::to_string(c);
  EXPECT_EQ(lines[2], header);
  for (std::size_t i = 0; i < 3; ++i) {
    std::vector<std::string> fields;
    std::istringstream row(lines[3 + i]);
    for (std::string f; std::getline(row, f, '|');) fields.push_back(f);
    if (lines[3 + i].back() == '|') fields.emplace_back();
    ASSERT_EQ(fields.size(), 22u) << lines[3 + i];
    EXPECT_EQ(fields[0], std::to_string(i + 1));
    EXPECT_EQ(fields[1], printed[i].time);
    for (const auto& [channel, value] : printed[i].readings) {
      EXPECT_EQ(fields[static_cast<std::size_t>(1 + channel)], value);
    }
  }
}

// A meter whose link drops in the third scan, from a simulation file: "Timeout" on stderr, a
// failing exit code, "End of Job.", and the two scans stored before intact.
TEST_F(CliRun, AMeterThatStopsAnsweringEndsTheRunWithTimeoutAndKeepsTheStoredScans) {
  const fs::path sim = path("bench.sim");
  writeFile(sim, simulationFile("none"));
  std::map<std::string, std::string> values = kThreeScans;
  values["ScanCount"] = "5";
  const std::string setup = setupOf({"--simulate", sim.string()}, 1, values);

  // Where the third scan starts in the conversation, from a trace of the same run done cleanly.
  const fs::path trace = path("trace.txt");
  ASSERT_EQ(cli({"run", "--simulate", sim.string(), "--trace", trace.string(), "--use",
                 "1:" + setup}),
            0)
      << err.str();
  int writes = 0;
  int fetches = 0;
  int dropAfter = 0;
  for (const auto& line : linesOf(readFile(trace))) {
    if (line.find(" write ") == std::string::npos) continue;
    ++writes;
    if (line.find("\"fetch?") != std::string::npos && ++fetches == 2) dropAfter = writes + 2;
  }
  ASSERT_EQ(fetches, 5) << "the clean run fetches five scans";

  writeFile(sim, simulationFile("drop-after:" + std::to_string(dropAfter)));
  EXPECT_EQ(cli({"run", "--simulate", sim.string(), "--data-dir", dir(), "--use",
                 "1:" + setup + ":Record1"}),
            1);
  EXPECT_NE(err.str().find("SIM0201 -- 20ch: Timeout: link lost\nTimeout\n"), std::string::npos)
      << err.str();
  EXPECT_EQ(linesOf(err.str()).back(), "End of Job.");
  const auto printed = printedScans(out.str());
  ASSERT_EQ(printed.size(), 2u) << out.str();
  expectRowsMatchPrinted(recordRows(folder.record("Record1")), 0, printed);

  // With --keep-going the meter, plugged back 40 s later, is reconnected (on the second try, 60 s
  // after the drop) and the run ends as set up: all five scans, numbered on without a gap.
  writeFile(sim, simulationFile("drop-after:" + std::to_string(dropAfter) + ":back-after:40"));
  const fs::path trace2 = path("trace2.txt");
  EXPECT_EQ(cli({"run", "--keep-going", "--simulate", sim.string(), "--trace", trace2.string(),
                 "--data-dir", dir(), "--use", "1:" + setup + ":Record2"}),
            0)
      << err.str();
  const auto all = printedScans(out.str());
  ASSERT_EQ(all.size(), 5u) << out.str();
  expectRowsMatchPrinted(recordRows(folder.record("Record2")), 0, all);
  EXPECT_NE(err.str().find("SIM0201 -- 20ch: Timeout: link lost\n"
                           "SIM0201 -- 20ch: not reconnected: not found\n"
                           "SIM0201 -- 20ch: reconnected\n"),
            std::string::npos)
      << err.str();
  EXPECT_EQ(err.str().find("Timeout\n"), std::string::npos) << "no message box text under keep-going";
  EXPECT_EQ(linesOf(err.str()).back(), "End of Job.");
  const std::string runLog = readFile(folder.root() / "db" / "kalivor-run.log");
  EXPECT_NE(runLog.find("\tSIM0201 -- 20ch\tTimeout: link lost\n"), std::string::npos) << runLog;
  EXPECT_NE(runLog.find("\tSIM0201 -- 20ch\treconnected\n"), std::string::npos) << runLog;
  EXPECT_NE(readFile(trace2).find(" USB0::0x0000::0x0001::SIM0201::INSTR reconnected\n"), std::string::npos);
}

TEST_F(CliRun, RecordProblemsFailTheRunWithTheRecordNamed) {
  const std::string setup = setupOf({"--simulate"}, 1, kThreeScans);
  // Not a database: the run refuses it and leaves the file as it was.
  writeFile(folder.record("Record2"), "notes, not scans");
  EXPECT_EQ(cli({"run", "--simulate", "--data-dir", dir(), "--use", "1:" + setup + ":Record2"}), 1);
  EXPECT_NE(err.str().find("Record2.mdb"), std::string::npos) << err.str();
  EXPECT_TRUE(printedScans(out.str()).empty());
  EXPECT_EQ(readFile(folder.record("Record2")), "notes, not scans");
  // An empty file (what a creation killed half-way left in earlier versions) is no record either.
  writeFile(folder.record("Record3"), "");
  EXPECT_EQ(cli({"run", "--simulate", "--data-dir", dir(), "--use", "1:" + setup + ":Record3"}), 1);
  EXPECT_NE(err.str().find("Record3.mdb: the file is empty"), std::string::npos) << err.str();
  EXPECT_EQ(fs::file_size(folder.record("Record3")), 0u);
}

TEST_F(CliRun, ApplySendsTheSetupFileToTheChosenMeter) {
  // Meter 2 (the 10-channel thermocouple card) gets a J thermocouple on channel 2, AC volts on
  // channel 7 and channel 5 left out.
  const std::string setup = setupOf({"--simulate"}, 2, {{"TEMP_TCO(1)", "J"},
                                                         {"Function(6)", "ACV"},
                                                         {"EnableChannel(4)", "0"}});
  const fs::path trace = path("apply.txt");
  ASSERT_EQ(cli({"apply", "--simulate", "--trace", trace.string(), "--use", "2:" + setup}), 0)
      << err.str();
  EXPECT_EQ(err.str(), "kalivor-cli: 2 is USB0::0x0000::0x0001::SIM0002::INSTR, serial SIM0002\n"
                      "Setting Complete\n");
  EXPECT_EQ(out.str(), "");
  const std::string sent = readFile(trace);
  EXPECT_NE(sent.find("SIM0002::INSTR write 25 \"SENSe:TCOuple:TYPE J ,@2\\n\""),
            std::string::npos);
  EXPECT_NE(sent.find("SIM0002::INSTR write 27 \"rout:scan:func 7,\\\"VOLT:AC\\\"\\n\""),
            std::string::npos);
  EXPECT_NE(sent.find("SIM0002::INSTR write 24 \"rout:scan:func 5,\\\"NONE\\\"\\n\""),
            std::string::npos);
  // Meter 1 was only asked who it is, nothing was set.
  for (const auto& line : linesOf(sent)) {
    if (line.find("SIM0001::INSTR write") != std::string::npos) {
      EXPECT_NE(line.find('?'), std::string::npos) << line;
    }
  }
}

TEST_F(CliRun, ApplyRefusesWhatCannotBeApplied) {
  const std::string twenty = setupOf({"--simulate"}, 1, {});
  // A 20-channel setup for the 10-channel card.
  EXPECT_EQ(cli({"apply", "--simulate", "--use", "2:" + twenty}), 1);
  EXPECT_NE(err.str().find(twenty), std::string::npos) << err.str();
  EXPECT_EQ(out.str().find("Setting Complete"), std::string::npos);

  EXPECT_EQ(cli({"apply", "--simulate", "--use", "1:" + path("missing.ini").string()}), 1);
  EXPECT_NE(err.str().find("missing.ini"), std::string::npos) << err.str();

  EXPECT_EQ(cli({"apply", "--simulate", "--use", "3:" + twenty}), 1);
  EXPECT_NE(err.str().find("there is no instrument 3"), std::string::npos) << err.str();
  EXPECT_EQ(cli({"apply", "--simulate", "--use", "1:" + twenty, "--use", "1:" + twenty}), 1);
  EXPECT_NE(err.str().find("named twice"), std::string::npos) << err.str();

  EXPECT_EQ(cli({"apply", "--simulate"}), 2);
  EXPECT_EQ(cli({"apply", "--simulate", "--use", "1"}), 2);
  EXPECT_EQ(cli({"apply", "--simulate", "--use", "x:" + twenty}), 1);  // no meter with serial x
  EXPECT_EQ(cli({"apply", "--simulate", "--use", "0:" + twenty}), 2);
  EXPECT_EQ(cli({"run", "--simulate", "--use", "1:" + twenty + ":../Record1"}), 2);
  EXPECT_NE(err.str().find("not a record name"), std::string::npos) << err.str();
}

TEST_F(CliRun, AlarmEventsGoToStandardErrorAndTheRunLogNotBetweenTheScans) {
  std::string setup = setupOf({"--simulate"}, 1, kThreeScans);
  // CH1 reads about 0.73 V throughout: above this high limit from the first scan on.
  writeFile(setup, readFile(setup) + "[Alarm Limits]\r\nAlarmHigh(0)=0.5\r\nAlarmLow(0)=\r\n");
  ASSERT_EQ(cli({"run", "--simulate", "--data-dir", dir(), "--use", "1:" + setup + ":Record1"}), 0)
      << err.str();
  const auto lines = linesOf(err.str());
  std::vector<std::string> alarms;
  for (const auto& l : lines) {
    if (l.find("ALARM") != std::string::npos) alarms.push_back(l);
  }
  ASSERT_EQ(alarms.size(), 1u) << err.str();  // raised once, not at every scan
  EXPECT_EQ(alarms[0].rfind("SIM0001 -- 20ch: ALARM CH 1 high: 0.73", 0), 0u) << alarms[0];
  EXPECT_NE(alarms[0].find(" above 0.5 (scan 1)"), std::string::npos) << alarms[0];
  EXPECT_EQ(printedScans(out.str()).size(), 3u) << "standard output carries the scans only";
  const std::string log = readFile(folder.db() / "kalivor-run.log");
  EXPECT_NE(log.find("\tSIM0001 -- 20ch\tALARM CH 1 high: 0.73"), std::string::npos) << log;
}

TEST_F(CliRun, StatusEveryPrintsEachInstrumentsStateAndTheFreeSpaceOnStandardError) {
  const std::string setup = setupOf({"--simulate"}, 1, kThreeScans);
  ASSERT_EQ(cli({"run", "--simulate", "--data-dir", dir(), "--use", "1:" + setup + ":Record1",
                 "--status-every", "0.5"}), 0) << err.str();
  // Standard output still carries the scans only.
  EXPECT_EQ(printedScans(out.str()).size(), 3u);
  EXPECT_EQ(linesOf(out.str()).size(), 3u) << out.str();
  std::vector<std::string> meterLines;
  std::size_t headers = 0;
  std::size_t freeLines = 0;
  for (const std::string& line : linesOf(err.str())) {
    if (line.rfind("Run status at 2024/05/06 ", 0) == 0) ++headers;
    if (line.rfind("  Instrument 1 (SIM0001 -- 20ch): ", 0) == 0) meterLines.push_back(line);
    if (line.rfind("  Free space: ", 0) == 0) freeLines += line.find(folder.db().string()) != std::string::npos;
  }
  // Three scans a second apart: some two seconds of run, a status every half second.
  EXPECT_GE(headers, 3u) << err.str();
  EXPECT_EQ(meterLines.size(), headers);
  EXPECT_EQ(freeLines, headers);
  ASSERT_FALSE(meterLines.empty());
  EXPECT_NE(meterLines.front().find("; record Record1; "), std::string::npos) << meterLines.front();
  // The count grows as scans are stored, and the last scan's time is given once there is one.
  EXPECT_NE(meterLines.back().find("; 2 scans stored; last scan 2024/05/06 "), std::string::npos)
      << err.str();
  EXPECT_EQ(linesOf(err.str()).back(), "End of Job.");
}

TEST_F(CliRun, StatusEveryNamesAnInstrumentWithoutRecordAndRefusesABadPeriod) {
  const std::string setup = setupOf({"--simulate"}, 1, kThreeScans);
  ASSERT_EQ(cli({"run", "--simulate", "--data-dir", dir(), "--use", "1:" + setup,
                 "--status-every=1"}), 0) << err.str();
  EXPECT_NE(err.str().find("; record none (not saved); 0 scans stored"), std::string::npos) << err.str();
  for (const char* bad : {"0", "-1", "abc", "", "0.01", "1e9"}) {
    EXPECT_EQ(cli({"run", "--simulate", "--data-dir", dir(), "--use", "1:" + setup,
                   "--status-every", bad}), 2) << bad;
    EXPECT_NE(err.str().find("--status-every needs "), std::string::npos) << err.str();
    EXPECT_TRUE(out.str().empty());
  }
}

// One line of `run --json`.
struct JsonScan {
  int instrument = 0;
  std::string resource, serial, record, time;
  std::int64_t scan = 0;
  std::map<int, std::string> readings;  // channel -> the JSON value as written
};

std::vector<JsonScan> jsonScans(const std::string& out) {
  static const std::regex line(
      R"re(^\{"instrument":(\d+),"resource":"([^"]*)","serial":"([^"]*)","record":("[^"]*"|null),"scan":(\d+),"time":"([^"]*)","readings":\{(.*)\}\}$)re");
  static const std::regex reading(R"re("CH(\d+)":("[^"]*"|[^,"]+))re");
  std::vector<JsonScan> scans;
  for (const auto& text : linesOf(out)) {
    std::smatch m;
    if (!std::regex_match(text, m, line)) {
      ADD_FAILURE() << "not a scan object: " << text;
      continue;
    }
    JsonScan j{std::stoi(m[1]), m[2], m[3], m[4], m[6], std::stoll(m[5]), {}};
    const std::string readings = m[7];
    for (auto it = std::sregex_iterator(readings.begin(), readings.end(), reading);
         it != std::sregex_iterator(); ++it) {
      j.readings[std::stoi((*it)[1])] = (*it)[2];
    }
    scans.push_back(std::move(j));
  }
  return scans;
}

std::vector<PrintedScan> scansOf(const std::vector<PrintedScan>& all, int instrument) {
  std::vector<PrintedScan> some;
  for (const auto& s : all) {
    if (s.slot == instrument) some.push_back(s);
  }
  return some;
}

LocalMs timeOf(const std::string& text) {
  const auto t = parseDateTime(text);
  EXPECT_TRUE(t.has_value()) << text;
  return t.value_or(0);
}

// Raises `signal` the `nth` time run or watch reaches `step`, as a user's Ctrl+C or kill would.
class SignalAt {
 public:
  SignalAt(const std::string& step, int nth, int signal) {
    setStopCheckpointHook([step, nth, signal, seen = 0](const std::string& at) mutable {
      if (at == step && ++seen == nth) std::raise(signal);
    });
  }
  ~SignalAt() { setStopCheckpointHook({}); }
};

TEST_F(CliRun, JsonLinesNameTheInstrumentAndHoldTheReadingsAsNumbers) {
  const std::string one = setupOf({"--simulate"}, 1, untilStop());
  const std::string two = setupOf({"--simulate"}, 2, {{"scanCount_Status", "2"}, {"ScanTime", "1"}});
  ASSERT_EQ(cli({"run", "--simulate", "--data-dir", dir(), "--json", "--scans", "2", "--use",
                 "2:" + two + ":Record2", "--use", "SIM0001:" + one}),
            0)
      << err.str();
  EXPECT_EQ(linesOf(err.str()).back(), "End of Job.");
  const auto scans = jsonScans(out.str());
  ASSERT_EQ(scans.size(), 4u) << "--scans 2 ends each instrument after two scans: " << out.str();
  std::map<int, std::vector<JsonScan>> byInstrument;
  for (const auto& j : scans) byInstrument[j.instrument].push_back(j);
  ASSERT_EQ(byInstrument.size(), 2u);
  EXPECT_EQ(byInstrument[1][0].resource, "USB0::0x0000::0x0001::SIM0001::INSTR");
  EXPECT_EQ(byInstrument[1][0].serial, "SIM0001");
  EXPECT_EQ(byInstrument[1][0].record, "null");
  EXPECT_EQ(byInstrument[1][0].readings.size(), 4u);
  EXPECT_EQ(byInstrument[2][0].serial, "SIM0002");
  EXPECT_EQ(byInstrument[2][0].record, "\"Record2\"");
  // Instrument 2's record holds exactly its two scans, the readings as printed (numbers).
  const auto rows = recordRows(folder.record("Record2"));
  ASSERT_EQ(rows.size(), 2u);
  for (std::size_t i = 0; i < 2; ++i) {
    const JsonScan& j = byInstrument[2][i];
    EXPECT_EQ(j.scan, static_cast<std::int64_t>(i + 1));
    EXPECT_EQ(j.time, rows[i][1]);
    ASSERT_FALSE(j.readings.empty());
    for (const auto& [channel, value] : j.readings) {
      ASSERT_NE(value.front(), '"') << "CH" << channel << " is a number: " << value;
      EXPECT_EQ(std::stod(value), std::stod(rows[i][static_cast<std::size_t>(1 + channel)]));
    }
  }
  // Without --scans the setup's own end holds; with it, a setup that ends sooner still does.
  const std::string three = setupOf({"--simulate"}, 1, kThreeScans);
  ASSERT_EQ(cli({"run", "--simulate", "--scans", "10", "--use", "1:" + three}), 0) << err.str();
  EXPECT_EQ(printedScans(out.str()).size(), 3u);
}

TEST_F(CliRun, DurationEndsTheRunCleanlyAfterSoLong) {
  const std::string setup = setupOf({"--simulate"}, 1, untilStop());
  ASSERT_EQ(cli({"run", "--simulate", "--data-dir", dir(), "--duration", "10s", "--use",
                 "1:" + setup + ":Record1"}),
            0)
      << err.str();
  EXPECT_EQ(linesOf(err.str()).back(), "End of Job.");
  const auto printed = printedScans(out.str());
  ASSERT_GE(printed.size(), 8u) << "a scan a second for ten seconds";
  ASSERT_LE(printed.size(), 11u);
  EXPECT_LE(timeOf(printed.back().time) - timeOf(printed.front().time), 10'000);
  expectRowsMatchPrinted(recordRows(folder.record("Record1")), 0, printed);
  EXPECT_EQ(store::test::entriesOf(folder.db()), std::vector<std::string>{"Record1.mdb"});
  // Whichever comes first: three scans long before an hour is up.
  ASSERT_EQ(cli({"run", "--simulate", "--duration=1h", "--scans=3", "--use", "1:" + setup}), 0);
  EXPECT_EQ(printedScans(out.str()).size(), 3u);
}

TEST_F(CliRun, StartAndStopTimesAreThoseOfTheScanSettings) {
  const std::string setup = setupOf({"--simulate"}, 1, untilStop());
  // The manual clock starts at 2024/05/06 13:45:10: the run waits for 14:00:00.
  ASSERT_EQ(cli({"run", "--simulate", "--data-dir", dir(), "--start-at", "2024/05/06 14:00:00",
                 "--stop-at=2024/05/06 14:00:05", "--use", "1:" + setup + ":Record1"}),
            0)
      << err.str();
  const auto printed = printedScans(out.str());
  ASSERT_GE(printed.size(), 4u) << err.str();
  EXPECT_GE(timeOf(printed.front().time), timeOf("2024/05/06 14:00:00"));
  EXPECT_LE(timeOf(printed.back().time), timeOf("2024/05/06 14:00:06"));
  EXPECT_EQ(linesOf(err.str()).back(), "End of Job.");

  // Stop before start: the window's check and message; nothing is started, no record made.
  EXPECT_EQ(cli({"run", "--simulate", "--data-dir", dir(), "--start-at", "2024/05/06 14:00:00",
                 "--stop-at", "2024/05/06 13:59:59", "--use", "1:" + setup + ":Record9"}),
            1);
  EXPECT_NE(err.str().find("Warning: ERROR Time Set!.\n"), std::string::npos) << err.str();
  EXPECT_EQ(err.str().find("Setting Complete"), std::string::npos) << err.str();
  EXPECT_EQ(out.str(), "");
  EXPECT_FALSE(fs::exists(folder.record("Record9")));
  // Equal times are accepted.
  EXPECT_EQ(cli({"run", "--simulate", "--start-at", "2024/05/06 14:00:00", "--stop-at",
                 "2024/05/06 14:00:00", "--use", "1:" + setup}),
            0)
      << err.str();
  EXPECT_EQ(err.str().find("ERROR Time Set!."), std::string::npos) << err.str();
  // A stop time already past: the run ends before its first scan, as in the window, and says so.
  EXPECT_EQ(cli({"run", "--simulate", "--stop-at", "2024/05/06 13:00:00", "--use", "1:" + setup}), 0)
      << err.str();
  EXPECT_EQ(out.str(), "");
  EXPECT_NE(err.str().find("kalivor-cli: --stop-at 2024/05/06 13:00:00 has passed: the run ends before "
                           "its first scan\n"),
            std::string::npos)
      << err.str();
  // The window offers no stop time to a setup that ends after N scans.
  EXPECT_EQ(cli({"run", "--simulate", "--stop-at", "2024/05/06 14:00:00", "--use",
                 "1:" + setupOf({"--simulate"}, 1, kThreeScans)}),
            1);
  EXPECT_NE(err.str().find("a stop time applies only to a setup that runs until Stop"),
            std::string::npos)
      << err.str();
}

TEST_F(CliRun, WatchPrintsReadingsOnceASecondAndStoresNothing) {
  {
    const SignalAt ctrlC("stored", 6, SIGINT);
    ASSERT_EQ(cli({"watch", "--simulate", "--data-dir", dir()}), 0) << err.str();
  }
  EXPECT_NE(err.str().find("kalivor-cli: 1 is USB0::0x0000::0x0001::SIM0001::INSTR"),
            std::string::npos)
      << err.str();
  EXPECT_NE(err.str().find("SIGINT: stopping the run"), std::string::npos) << err.str();
  const auto printed = printedScans(out.str());
  ASSERT_EQ(printed.size(), 6u) << out.str();
  const auto first = scansOf(printed, 1);
  ASSERT_GE(first.size(), 2u) << "both instruments are watched: " << out.str();
  ASSERT_GE(scansOf(printed, 2).size(), 2u) << out.str();
  EXPECT_GE(timeOf(first[1].time) - timeOf(first[0].time), 1000);
  EXPECT_LT(timeOf(first[1].time) - timeOf(first[0].time), 3000);
  EXPECT_FALSE(fs::exists(folder.db()) && !store::test::entriesOf(folder.db()).empty())
      << "no record is touched";

  // One instrument by number, set up from a file: only its channels in use.
  const std::string setup = setupOf({"--simulate"}, 1, kThreeScans);
  {
    const SignalAt term("stored", 2, SIGTERM);
    ASSERT_EQ(cli({"watch", "--simulate", "--json", "--use", "1:" + setup}), 0) << err.str();
  }
  const auto scans = jsonScans(out.str());
  ASSERT_EQ(scans.size(), 2u);
  EXPECT_EQ(scans[0].readings.size(), 4u);
  {
    const SignalAt term("stored", 1, SIGTERM);
    ASSERT_EQ(cli({"watch", "--simulate", "--use", "2"}), 0) << err.str();
  }
  ASSERT_EQ(printedScans(out.str()).size(), 1u);
  EXPECT_EQ(printedScans(out.str())[0].slot, 2);
}

// A signal at any step of start-up stops it there: said on stderr, every session closed, no
// record made, exit 1. Before, the process died silently.
TEST_F(CliRun, ASignalDuringStartUpStopsItCleanly) {
  const std::string setup = setupOf({"--simulate"}, 1, untilStop());
  const fs::path trace = path("trace.txt");
  const std::vector<std::pair<std::string, int>> steps = {
      {"discovered", SIGTERM}, {"read-back", SIGINT}, {"setup-file", SIGHUP},
      {"apply", SIGTERM},      {"applied", SIGHUP}};
  for (const auto& [step, signal] : steps) {
    fs::remove(trace);
    {
      const SignalAt at(step, 1, signal);
      EXPECT_EQ(cli({"run", "--simulate", "--trace", trace.string(), "--data-dir", dir(), "--use",
                     "1:" + setup + ":Record1"}),
                1)
          << step;
    }
    const std::string name = signal == SIGTERM ? "SIGTERM" : signal == SIGINT ? "SIGINT" : "SIGHUP";
    EXPECT_NE(err.str().find("kalivor-cli: stopped by " + name + " while "), std::string::npos)
        << step << ": " << err.str();
    EXPECT_EQ(err.str().find("End of Job."), std::string::npos) << step;
    EXPECT_EQ(err.str().find("Setting Complete") != std::string::npos, step == "applied") << step;
    EXPECT_EQ(out.str(), "") << step;
    EXPECT_FALSE(fs::exists(folder.record("Record1"))) << step;
    // The resource manager is closed last (closing it closes what it opened).
    const auto lines = linesOf(readFile(trace));
    ASSERT_GE(lines.size(), 2u) << step;
    EXPECT_NE(lines[lines.size() - 2].find("close status"), std::string::npos)
        << step << ": " << lines[lines.size() - 2];
    EXPECT_NE(lines[lines.size() - 2].find(" rm "), std::string::npos) << step;
  }
}

TEST_F(CliRun, ASignalDuringTheRunStopsItLikeStop) {
  const std::string setup = setupOf({"--simulate"}, 1, untilStop());
  {
    const SignalAt hangUp("stored", 2, SIGHUP);
    ASSERT_EQ(cli({"run", "--simulate", "--data-dir", dir(), "--use", "1:" + setup + ":Record1"}), 0)
        << err.str();
  }
  EXPECT_NE(err.str().find("kalivor-cli: SIGHUP: stopping the run\n"), std::string::npos)
      << err.str();
  EXPECT_EQ(linesOf(err.str()).back(), "End of Job.");
  const auto printed = printedScans(out.str());
  ASSERT_EQ(printed.size(), 2u);
  expectRowsMatchPrinted(recordRows(folder.record("Record1")), 0, printed);
  EXPECT_EQ(store::test::entriesOf(folder.db()), std::vector<std::string>{"Record1.mdb"});
}

// Standard output that fails after its first line, as a pipe whose reader has gone.
class ClosedAfterOneLine final : public std::streambuf {
 protected:
  int overflow(int c) override {
    if (closed_) return traits_type::eof();
    if (c == '\n') closed_ = true;
    return c;
  }

 private:
  bool closed_ = false;
};

TEST_F(CliRun, AnOutputThatCannotBeWrittenEndsTheRunWithItsRecordsClosed) {
  const std::string setup = setupOf({"--simulate"}, 1, untilStop());
  ClosedAfterOneLine buffer;
  std::ostream closing(&buffer);
  std::ostringstream messages;
  ManualClock clock;
  ASSERT_EQ(runCli({"run", "--simulate", "--data-dir", dir(), "--use", "1:" + setup + ":Record1"},
                   closing, messages, clock),
            0)
      << messages.str();
  EXPECT_NE(messages.str().find("standard output cannot be written"), std::string::npos)
      << messages.str();
  EXPECT_EQ(linesOf(messages.str()).back(), "End of Job.");
  EXPECT_EQ(recordRows(folder.record("Record1")).size(), 2u)
      << "the scan whose line failed is stored; the run ends there";
  EXPECT_EQ(store::test::entriesOf(folder.db()), std::vector<std::string>{"Record1.mdb"});
}

// The real thing: `kalivor-cli run | head -1` on the real clock. Before, SIGPIPE killed the
// program (exit 141) without "End of Job.".
TEST_F(CliRun, PipedIntoHeadTheProgramEndsTheRunCleanly) {
  const std::string setup = setupOf({"--simulate"}, 1, untilStop());
  const fs::path errors = path("err.txt"), first = path("first.txt");
  const std::string command = "set -o pipefail; timeout 60 '" + std::string(KALIVOR_CLI_PATH) +
                              "' run --simulate --data-dir '" + dir() + "' --use '1:" + setup +
                              ":Record1' 2>'" + errors.string() + "' | head -1 >'" +
                              first.string() + "'";
  const std::string shell = "bash -c \"" + std::regex_replace(command, std::regex("\""), "\\\"") + "\"";
  const int status = std::system(shell.c_str());
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << readFile(errors);
  EXPECT_EQ(printedScans(readFile(first)).size(), 1u) << readFile(first);
  EXPECT_EQ(linesOf(readFile(errors)).back(), "End of Job.") << readFile(errors);
  EXPECT_GE(recordRows(folder.record("Record1")).size(), 1u);
  EXPECT_EQ(store::test::entriesOf(folder.db()), std::vector<std::string>{"Record1.mdb"});
}

}  // namespace
}  // namespace kalivor
