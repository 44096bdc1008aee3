// SPDX-License-Identifier: MIT
// kalivor-cli apply and setup --template over simulated meters that fail part-way, on a manual
// clock: what is said, on which stream, what reaches the meters (read from the VISA trace), and
// that everything opened is closed again.
#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <sstream>

#include "app/cli.h"
#include "store/record_lock.h"
#include "store/store_fixture.h"
#include "support/cli_fixture.h"

namespace kalivor {
namespace {

namespace fs = std::filesystem;
using store::test::readFile;
using store::test::TempDataFolder;
using store::test::writeFile;

std::vector<std::string> linesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);) lines.push_back(l);
  return lines;
}

// "[InstrumentK]" sections of a simulation file: one 20-channel meter per serial, with a fault.
std::string simulationText(const std::vector<std::pair<std::string, std::string>>& meters) {
  std::string text;
  int k = 0;
  for (const auto& [serial, fault] : meters) {
    text += "[Instrument" + std::to_string(++k) + "]\n";
    text += "Resource=USB0::0x0000::0x0001::" + serial + "::INSTR\n";
    text += "Identity=SIMULATED,M100," + serial + ",1.0\n";
    text += "Card=2\nSerial=" + serial + "\nFault=" + fault + "\n";
  }
  return text;
}

// The trace lines of writes to the meter with this serial, the written text only.
std::vector<std::string> writesTo(const std::string& trace, const std::string& serial) {
  static const std::regex write(R"(::([A-Z0-9]+)::INSTR write \d+ "(.*?)(\\n)?" status )");
  std::vector<std::string> out;
  for (const auto& line : linesOf(trace)) {
    std::smatch m;
    if (std::regex_search(line, m, write) && m[1] == serial) out.push_back(m[2]);
  }
  return out;
}

struct CliApply : testing::CliFixture {
  std::string path(const std::string& name) const { return (folder.root() / name).string(); }
  std::string simulation(const std::vector<std::pair<std::string, std::string>>& meters) {
    const std::string file = path("meters.sim");
    writeFile(file, simulationText(meters));
    return file;
  }
  // Meter n's present setup, from healthy meters with the same serials.
  std::string templateOf(const std::vector<std::string>& simulate, int n) {
    const std::string file = path("meter" + std::to_string(n) + ".ini");
    std::vector<std::string> args = {"setup"};
    args.insert(args.end(), simulate.begin(), simulate.end());
    args.insert(args.end(), {"--template", std::to_string(n), file});
    EXPECT_EQ(cli(args), 0) << err.str();
    return file;
  }
};

TEST_F(CliApply, MessagesGoToStderrSoStdoutCarriesDataOnly) {
  const std::string setup = templateOf({"--simulate"}, 1);
  EXPECT_EQ(out.str(), "");
  EXPECT_NE(err.str().find("written to " + setup), std::string::npos) << err.str();
  ASSERT_EQ(cli({"apply", "--simulate", "--use", "1:" + setup}), 0) << err.str();
  EXPECT_EQ(out.str(), "");
  EXPECT_EQ(err.str(), "kalivor-cli: 1 is USB0::0x0000::0x0001::SIM0001::INSTR, serial SIM0001\n"
                      "Setting Complete\n");
}

TEST_F(CliApply, AWriteFailureIsNamedOnStderrAndFailsTheCommand) {
  const std::string setup = templateOf({"--simulate", simulation({{"SIM0301", "none"}})}, 1);
  // Identification (3 exchanges) and read-back of 20 channels (20) pass, the setup's writes
  // do not.
  const std::string sim = simulation({{"SIM0301", "drop-after:25"}});
  const std::string trace = path("trace.txt");
  EXPECT_EQ(cli({"apply", "--simulate", sim, "--trace", trace, "--use", "1:" + setup}), 1);
  EXPECT_EQ(out.str(), "");
  EXPECT_NE(err.str().find("SIM0301"), std::string::npos) << err.str();
  EXPECT_NE(err.str().find("VI_ERROR_CONN_LOST"), std::string::npos) << err.str();
  EXPECT_EQ(err.str().find("Setting Complete"), std::string::npos) << err.str();
  // The first refused write was the last one tried.
  const auto writes = writesTo(readFile(trace), "SIM0301");
  ASSERT_FALSE(writes.empty());
  EXPECT_EQ(writes.back().rfind("rout:scan:func ", 0), 0u) << writes.back();
}

TEST_F(CliApply, AReadBackTimeoutSendsNothingAndSaysNoSuccess) {
  const std::string setup = templateOf({"--simulate", simulation({{"SIM0302", "none"}})}, 1);
  // The link drops while the channels are read back.
  const std::string sim = simulation({{"SIM0302", "drop-after:10"}});
  const std::string trace = path("trace.txt");
  EXPECT_EQ(cli({"apply", "--simulate", sim, "--trace", trace, "--use", "1:" + setup}), 1);
  EXPECT_EQ(out.str(), "");
  EXPECT_NE(err.str().find("Timeout"), std::string::npos) << err.str();
  EXPECT_NE(err.str().find("SIM0302"), std::string::npos) << err.str();
  EXPECT_EQ(err.str().find("Setting Complete"), std::string::npos) << err.str();
  for (const auto& w : writesTo(readFile(trace), "SIM0302")) {
    EXPECT_NE(w.find('?'), std::string::npos) << "sent after the failed read: " << w;
  }
}

TEST_F(CliApply, EachMeterIsReadBackOnceBeforeItsSetupIsSent) {
  const std::string one = templateOf({"--simulate"}, 1);
  const std::string two = templateOf({"--simulate"}, 2);
  const std::string trace = path("trace.txt");
  ASSERT_EQ(cli({"apply", "--simulate", "--trace", trace, "--use", "1:" + one, "--use", "2:" + two}),
            0)
      << err.str();
  const std::string text = readFile(trace);
  const std::map<std::string, std::size_t> channels = {{"SIM0001", 20}, {"SIM0002", 10}};
  for (const auto& [serial, count] : channels) {
    const auto writes = writesTo(text, serial);
    const auto timer = std::find_if(writes.begin(), writes.end(), [](const std::string& w) {
      return w.rfind("ROUTe:SCAN:TIMER ", 0) == 0;
    });
    ASSERT_NE(timer, writes.end()) << serial;
    const auto queries = std::count_if(writes.begin(), timer, [](const std::string& w) {
      return w.rfind("rout:scan:func? ", 0) == 0;
    });
    EXPECT_EQ(static_cast<std::size_t>(queries), count) << serial;
  }
}

TEST_F(CliApply, ApplyAndTemplateCloseWhatTheyOpenedInProgramEndOrder) {
  const std::string setup = templateOf({"--simulate"}, 1);
  for (const bool apply : {true, false}) {
    const std::string trace = path(apply ? "apply.txt" : "template.txt");
    const std::vector<std::string> args =
        apply ? std::vector<std::string>{"apply", "--simulate", "--trace", trace, "--use", "1:" + setup}
              : std::vector<std::string>{"setup", "--simulate", "--trace", trace, "--template", "2",
                                         path("again.ini")};
    ASSERT_EQ(cli(args), 0) << err.str();
    std::vector<std::string> closes;
    for (const auto& line : linesOf(readFile(trace))) {
      if (line.find(" close status ") != std::string::npos) closes.push_back(line);
    }
    // Both sessions, then the find list, then the resource manager.
    ASSERT_EQ(closes.size(), 4u) << readFile(trace);
    EXPECT_NE(closes[0].find("SIM0001::INSTR"), std::string::npos) << closes[0];
    EXPECT_NE(closes[1].find("SIM0002::INSTR"), std::string::npos) << closes[1];
    EXPECT_NE(closes[2].find("find"), std::string::npos) << closes[2];
    EXPECT_NE(closes[3].find("rm"), std::string::npos) << closes[3];
  }
}

TEST_F(CliApply, ASimulationFileIsNamedAsGiven) {
  writeFile(path("rb.sim"), "[Instrument1]\nResource=USB0::1::INSTR\nFault=sometimes\n");
  const fs::path before = fs::current_path();
  fs::current_path(folder.root());
  const int code = cli({"list", "--simulate", "rb.sim"});
  fs::current_path(before);
  EXPECT_NE(code, 0);
  EXPECT_NE(err.str().find("\"rb.sim\", line 3"), std::string::npos) << err.str();
  EXPECT_EQ(err.str().find("Rb.sim"), std::string::npos) << err.str();
}

TEST_F(CliApply, UseTakesAPositionASerialOrAResourceAndSaysWhatItGot) {
  const std::string two = templateOf({"--simulate"}, 2);
  const std::string resource = "USB0::0x0000::0x0001::SIM0002::INSTR";
  for (const std::string& which : std::vector<std::string>{"2", "SIM0002", resource, "usb0::0x0000::0x0001::sim0002::instr"}) {
    const std::string trace = path("trace.txt");
    fs::remove(trace);
    ASSERT_EQ(cli({"apply", "--simulate", "--trace", trace, "--use", which + ":" + two}), 0)
        << which << ": " << err.str();
    EXPECT_NE(err.str().find("kalivor-cli: " + which + " is " + resource + ", serial SIM0002\n"),
              std::string::npos)
        << err.str();
    const std::string text = readFile(trace);
    EXPECT_FALSE(writesTo(text, "SIM0002").empty()) << which;
    for (const auto& w : writesTo(text, "SIM0001")) EXPECT_NE(w.find('?'), std::string::npos) << w;
  }
}

TEST_F(CliApply, AMeterNamedBySerialThatIsMissingStopsEverythingBeforeItStarts) {
  // The second of three meters does not answer, so it drops out of the list and the third
  // becomes instrument 2: by serial, the third is still the third.
  const std::string setup = templateOf({"--simulate", simulation({{"SIM0401", "none"},
                                                                  {"SIM0403", "none"}})}, 2);
  // One scan, then the run ends by itself.
  std::string text = readFile(setup);
  text = std::regex_replace(text, std::regex("scanCount_Status=2"), "scanCount_Status=1");
  text = std::regex_replace(text, std::regex("ScanCount=20"), "ScanCount=1");
  writeFile(setup, text);
  const std::string sim = simulation({{"SIM0401", "none"}, {"SIM0402", "silent"}, {"SIM0403", "none"}});
  const std::string trace = path("trace.txt");
  EXPECT_EQ(cli({"run", "--simulate", sim, "--trace", trace, "--data-dir", path("data"), "--use",
                 "SIM0402:" + setup + ":Record2"}),
            1);
  EXPECT_NE(err.str().find("\"SIM0402\""), std::string::npos) << err.str();
  EXPECT_NE(err.str().find("nothing was started"), std::string::npos) << err.str();
  for (const char* serial : {"SIM0401", "SIM0402", "SIM0403"}) {
    for (const auto& w : writesTo(readFile(trace), serial)) {
      EXPECT_NE(w.find('?'), std::string::npos) << serial << " was set: " << w;
    }
  }
  EXPECT_FALSE(fs::exists(folder.root() / "data" / "db" / "Record2.mdb"));

  EXPECT_EQ(cli({"run", "--simulate", sim, "--data-dir", path("data"), "--use",
                 "SIM0403:" + setup + ":Record3"}),
            0)
      << err.str();
  EXPECT_NE(err.str().find("SIM0403 is USB0::0x0000::0x0001::SIM0403::INSTR, serial SIM0403"),
            std::string::npos)
      << err.str();
}

TEST_F(CliApply, ARunChecksItsRecordsBeforeTouchingAnyMeter) {
  const std::string setup = templateOf({"--simulate"}, 1);
  const std::string trace = path("trace.txt");
  const fs::path record = folder.root() / "db" / "Record5.mdb";
  fs::create_directories(record.parent_path());
  store::RecordLock other;
  ASSERT_TRUE(other.acquire(record).ok());
  EXPECT_EQ(cli({"run", "--simulate", "--trace", trace, "--data-dir", folder.root().string(),
                 "--use", "1:" + setup + ":Record5"}),
            1);
  EXPECT_NE(err.str().find("Record5"), std::string::npos) << err.str();
  EXPECT_NE(err.str().find("in use"), std::string::npos) << err.str();
  EXPECT_TRUE(writesTo(readFile(trace), "SIM0001").empty()) << readFile(trace);
  other.release();

  // One record for two meters, and names that would make another file, are refused as well.
  const std::string two = templateOf({"--simulate"}, 2);
  EXPECT_EQ(cli({"run", "--simulate", "--trace", trace, "--data-dir", folder.root().string(),
                 "--use", "1:" + setup + ":Record6", "--use", "2:" + two + ":Record6"}),
            1);
  EXPECT_NE(err.str().find("Record6 is named twice"), std::string::npos) << err.str();
  for (const char* name : {"Record1 ", " Record1"}) {
    EXPECT_EQ(cli({"run", "--simulate", "--data-dir", folder.root().string(), "--use",
                   "1:" + setup + ":" + name}),
              2);
    EXPECT_NE(err.str().find("not a record name"), std::string::npos) << err.str();
  }
  EXPECT_TRUE(writesTo(readFile(trace), "SIM0001").empty());
}

}  // namespace
}  // namespace kalivor
