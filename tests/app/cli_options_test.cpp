// SPDX-License-Identifier: MIT
// The command line of both programs: every option as "--opt value" and "--opt=value", --version,
// and list --json read back by a JSON parser.
#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>

#include "app/cli.h"
#include "app/command_line.h"
#include "common/json.h"
#include "store/store_fixture.h"
#include "support/cli_fixture.h"

namespace kalivor {
namespace {

namespace fs = std::filesystem;
using store::test::readFile;
using store::test::TempDataFolder;
using store::test::writeFile;
using V = OptionSpec::Value;

struct Parsed {
  std::string file, dir;
  bool simulate = false, verbose = false;
  std::vector<std::string> positional;
  std::optional<std::string> error;
};

Parsed parse(const std::vector<std::string>& args) {
  Parsed p;
  const std::vector<OptionSpec> specs = {
      {"--verbose", "-v", V::None, "", [&](const std::string&) { p.verbose = true; }},
      {"--simulate", "", V::Optional, "a FILE",
       [&](const std::string& v) {
         p.simulate = true;
         p.file = v;
       }},
      {"--data-dir", "", V::Required, "a DIR", [&](const std::string& v) { p.dir = v; }},
  };
  p.error = parseCommandLine(args, 0, specs, p.positional);
  return p;
}

TEST(CommandLine, EqualsFormGivesTheSameAsTheSeparateWord) {
  const Parsed a = parse({"--data-dir", "/d", "--simulate", "sim.ini", "x"});
  const Parsed b = parse({"--data-dir=/d", "--simulate=sim.ini", "x"});
  for (const Parsed* p : {&a, &b}) {
    EXPECT_FALSE(p->error) << *p->error;
    EXPECT_EQ(p->dir, "/d");
    EXPECT_TRUE(p->simulate);
    EXPECT_EQ(p->file, "sim.ini");
    EXPECT_EQ(p->positional, std::vector<std::string>{"x"});
  }
  // Only the first '=' splits; the value keeps the rest.
  EXPECT_EQ(parse({"--data-dir=/a=b"}).dir, "/a=b");
}

TEST(CommandLine, OptionalValueIsTakenOnlyWhenItIsNoOption) {
  Parsed p = parse({"--simulate", "--verbose"});
  EXPECT_TRUE(p.simulate);
  EXPECT_EQ(p.file, "");
  EXPECT_TRUE(p.verbose);
  p = parse({"--simulate", "-"});  // "-" stays a word of its own (standard output)
  EXPECT_EQ(p.file, "");
  EXPECT_EQ(p.positional, std::vector<std::string>{"-"});
  p = parse({"-v", "--", "--simulate"});  // after "--" every word is an argument
  EXPECT_TRUE(p.verbose);
  EXPECT_FALSE(p.simulate);
  EXPECT_EQ(p.positional, std::vector<std::string>{"--simulate"});
}

TEST(CommandLine, BadUsageIsNamed) {
  EXPECT_EQ(parse({"--data-dir"}).error, "--data-dir needs a DIR");
  EXPECT_EQ(parse({"--data-dir="}).error, "--data-dir needs a DIR");
  EXPECT_EQ(parse({"--data-dir", ""}).error, "--data-dir needs a DIR");
  EXPECT_EQ(parse({"--simulate="}).error, "--simulate needs a FILE after '='");
  EXPECT_EQ(parse({"--verbose=yes"}).error, "--verbose takes no value");
  EXPECT_EQ(parse({"--nope=1"}).error, "unknown option: --nope");
  EXPECT_EQ(parse({"-x"}).error, "unknown option: -x");
  EXPECT_EQ(parse({"-v=1"}).error, "unknown option: -v=1");  // short options carry no '='
}

TEST(Json, StringsAreEscapedAndAlwaysValidUtf8) {
  EXPECT_EQ(jsonString("a\"b\\c"), R"("a\"b\\c")");
  EXPECT_EQ(jsonString(std::string("\r\n\t\x01\x7f", 5) + std::string(1, '\0')),
            R"("\r\n\t\u0001\u007f\u0000")");
  EXPECT_EQ(jsonString("\xC2\xB0" "C \xE4\xB8\xAD"), "\"\xC2\xB0" "C \xE4\xB8\xAD\"");
  // A stray byte, a cut-off sequence, an overlong form and a surrogate become U+FFFD each.
  EXPECT_EQ(jsonString("\xFF"), "\"\xEF\xBF\xBD\"");
  EXPECT_EQ(jsonString("x\xE4\xB8"), "\"x\xEF\xBF\xBD\xEF\xBF\xBD\"");
  EXPECT_EQ(jsonString("\xC0\xAF"), "\"\xEF\xBF\xBD\xEF\xBF\xBD\"");
  EXPECT_EQ(jsonString("\xED\xA0\x80"), "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\"");
}

struct CliOptions : testing::CliFixture {
  fs::path path(const std::string& name) const { return folder.root() / name; }
  // Runs python3 on `script` with `input` as standard input; returns what it printed.
  std::string python(const std::string& script, const std::string& input) {
    writeFile(path("check.py"), script);
    writeFile(path("in.txt"), input);
    const std::string command = "python3 " + path("check.py").string() + " < " +
                                path("in.txt").string() + " > " + path("py.txt").string() + " 2>&1";
    EXPECT_EQ(std::system(command.c_str()), 0) << readFile(path("py.txt"));
    return readFile(path("py.txt"));
  }
};

TEST_F(CliOptions, EveryCommandTakesItsOptionsWithEquals) {
  const std::string sim = path("sim.ini").string();
  writeFile(sim,
            "[Instrument1]\nResource=USB0::0x0000::0x0001::EQ1::INSTR\n"
            "Identity=SIMULATED,M100,EQ1,1.0\nCard=1\nSerial=EQ1\nFault=none\n");
  ASSERT_EQ(cli({"list", "--simulate", sim}), 0) << err.str();
  const std::string spaced = out.str();
  ASSERT_EQ(cli({"list", "--simulate=" + sim}), 0) << err.str();
  EXPECT_EQ(out.str(), spaced);
  EXPECT_NE(spaced.find("EQ1 -- 10ch"), std::string::npos) << spaced;

  const std::string setup = path("s.ini").string();
  ASSERT_EQ(cli({"setup", "--simulate=" + sim, "--template=1", setup}), 0) << err.str();
  EXPECT_NE(readFile(setup).find("ScanCount"), std::string::npos);
  EXPECT_EQ(cli({"apply", "--simulate=" + sim, "--use=1:" + setup, "--trace=" + path("t").string()}),
            0)
      << err.str();
  EXPECT_NE(readFile(path("t")).find("EQ1"), std::string::npos);

  store::test::writeRecord(folder, "Record3", store::test::numbered(1, 2));
  ASSERT_EQ(cli({"records", "--data-dir=" + folder.root().string()}), 0) << err.str();
  EXPECT_EQ(out.str(), "Record3.mdb\n");
  ASSERT_EQ(cli({"export", "Record3", "-", "--data-dir=" + folder.root().string()}), 0);
  EXPECT_NE(out.str().find("\"2\""), std::string::npos);

  EXPECT_EQ(cli({"list", "--data-dir="}), 2);
  EXPECT_NE(err.str().find("--data-dir needs a DIR"), std::string::npos) << err.str();
  EXPECT_EQ(cli({"list", "--json=yes"}), 2);
}

TEST_F(CliOptions, JsonIsRefusedWhereACommandHasNone) {
  // Before, `run --json` ran and printed text lines a script would fail to parse.
  for (const std::string command : {"apply", "export", "setup"}) {
    EXPECT_EQ(cli({command, "--json", "--simulate"}), 2) << command;
    EXPECT_NE(err.str().find(command + " has no --json output"), std::string::npos) << err.str();
    EXPECT_TRUE(out.str().empty()) << command;
  }
}

TEST_F(CliOptions, RunLimitsAndTimesAreCheckedBeforeAnyInstrumentIsTouched) {
  const std::string trace = path("trace").string();
  const std::vector<std::vector<std::string>> bad = {
      {"--scans", "0"},          {"--scans", "2.5"},         {"--scans", "-3"},
      {"--scans", "ten"},        {"--duration", "90"},       {"--duration", "2h30"},
      {"--duration", "30m2h"},   {"--duration", "1d"},       {"--duration", "0s"},
      {"--duration", "1h 30m"},  {"--start-at", "tomorrow"}, {"--stop-at", "2026/13/01 10:00:00"},
      {"--start-at", "2026/12/09"},
  };
  for (const auto& option : bad) {
    EXPECT_EQ(cli({"run", "--simulate", "--trace", trace, "--use", "1:x.ini", option[0], option[1]}), 2)
        << option[0] << " " << option[1];
    EXPECT_NE(err.str().find(option[0] + " needs"), std::string::npos) << err.str();
    EXPECT_NE(err.str().find("\"" + option[1] + "\""), std::string::npos) << err.str();
  }
  EXPECT_FALSE(fs::exists(trace)) << "no instrument was asked anything";
  // Only run takes them; watch and apply have no end or start to set.
  for (const std::string command : {"apply", "watch", "list"}) {
    EXPECT_EQ(cli({command, "--simulate", "--scans=3"}), 2) << command;
    EXPECT_NE(err.str().find("for run only"), std::string::npos) << err.str();
  }
  EXPECT_EQ(cli({"watch", "--simulate", "--use", "1:x.ini:Record1"}), 2);
  EXPECT_NE(err.str().find("watch stores nothing"), std::string::npos) << err.str();
}

TEST(Duration, TheFormsUsersWrite) {
  EXPECT_EQ(parseDurationMs("90s"), 90'000);
  EXPECT_EQ(parseDurationMs("45m"), 45 * 60'000);
  EXPECT_EQ(parseDurationMs("1h"), 3'600'000);
  EXPECT_EQ(parseDurationMs("2h30m"), 9'000'000);
  EXPECT_EQ(parseDurationMs("1h15m30s"), 4'530'000);
  EXPECT_EQ(parseDurationMs("0h5s"), 5'000);
  EXPECT_EQ(parseDurationMs("8760h"), 8760LL * 3'600'000);
  for (const char* bad : {"", "h", "5", "5x", "5m5m", "5s5m", "-5s", "1.5h", "5 s", "8785h",
                          "99999999999999999999s", "0s"}) {
    EXPECT_EQ(parseDurationMs(bad), std::nullopt) << bad;
  }
}

TEST(Json, ReadingsAreNumbersWhereTheyAreNumbers) {
  EXPECT_EQ(jsonNumberOrString("+1.234500E+00"), "1.2345");
  EXPECT_EQ(jsonNumberOrString("-0.000012"), "-1.2e-05");
  EXPECT_EQ(jsonNumberOrString("9.9E37"), "9.9e+37");
  EXPECT_EQ(jsonNumberOrString(" 25 "), "25");
  // Not numbers: kept as text, so nothing a meter sends is lost or breaks the line.
  EXPECT_EQ(jsonNumberOrString("OVLD"), "\"OVLD\"");
  EXPECT_EQ(jsonNumberOrString(""), "\"\"");
  EXPECT_EQ(jsonNumberOrString(" "), "\" \"");
  EXPECT_EQ(jsonNumberOrString("1e999"), "\"1e999\"");
  EXPECT_EQ(jsonNumberOrString(".5"), "0.5");
}

TEST_F(CliOptions, VersionAndTheBackendItWouldUse) {
  ASSERT_EQ(cli({"--version"}), 0);
  EXPECT_EQ(out.str(), std::string("kalivor-cli ") + KALIVOR_VERSION + "\n");
  ASSERT_EQ(cli({"list", "--version"}), 0);  // wins over the command, as --help does
  EXPECT_EQ(out.str(), std::string("kalivor-cli ") + KALIVOR_VERSION + "\n");

  ASSERT_EQ(cli({"--version", "--verbose", "--simulate"}), 0) << err.str();
  EXPECT_EQ(out.str(), std::string("kalivor-cli ") + KALIVOR_VERSION +
                           "\nVISA backend: Simulated instruments: 2 built in\n");
  // Nothing is opened or written: no trace file appears.
  ASSERT_EQ(cli({"--version", "-v", "--simulate", "--trace", path("trace").string()}), 0);
  EXPECT_FALSE(fs::exists(path("trace")));

  EXPECT_EQ(cli({"--version", "--verbose", "--visa-library=" + path("none.so").string()}), 1);
  EXPECT_NE(out.str().find("VISA backend: none"), std::string::npos) << out.str();
  EXPECT_NE(err.str().find("none.so"), std::string::npos) << err.str();

  EXPECT_EQ(cli({"--verbose"}), 2);
  EXPECT_NE(err.str().find("no command given"), std::string::npos) << err.str();
}

TEST_F(CliOptions, HelpSaysWhereThisCopyKeepsItsRecords) {
  ASSERT_EQ(cli({"--help", "--data-dir", folder.root().string()}), 0);
  EXPECT_NE(out.str().find("Records of this copy: " + folder.db().string() + "\n"),
            std::string::npos)
      << out.str();
  EXPECT_NE(out.str().find("~/.local/share/kalivor"), std::string::npos);
  EXPECT_NE(out.str().find("--data-dir=DIR"), std::string::npos);
}

TEST_F(CliOptions, ListJsonParsesWithEveryFieldWhateverTheMetersAnswer) {
  // Answers with quotes, backslashes, control characters and bytes that are not UTF-8.
  const std::string sim = path("sim.ini").string();
  writeFile(sim,
            "[Instrument1]\nResource=USB0::0x0000::0x0001::A1::INSTR\n"
            "Identity=MAKER,M\\\"1\\\\x,A1,1.0\nCard=2\nSerial=S\\\"N\\t\\xff1\\r\\n\nFault=none\n"
            "[Instrument2]\nResource=GPIB0::7::INSTR\n"
            "Identity=MAKER,M200,B2,1.0\nCard=3\nSerial=B2\nFault=none\n");
  ASSERT_EQ(cli({"list", "--simulate", sim, "--json"}), 0) << err.str();
  const std::string script =
      "import json, sys\n"
      "for m in json.load(sys.stdin):\n"
      "    print(sorted(m), ascii(m['resource']), ascii(m['model']), ascii(m['serial']), m['card'],"
      " ascii(m['description']), m['channels'])\n";
  EXPECT_EQ(python(script, out.str()),
            "['card', 'channels', 'description', 'model', 'resource', 'serial'] "
            "'USB0::0x0000::0x0001::A1::INSTR' 'M\"1\\\\x' 'S\"N\\t\\ufffd1' 2 "
            "'S\"N\\t\\ufffd1\\r -- 20ch' 20\n"
            "['card', 'channels', 'description', 'model', 'resource', 'serial'] "
            "'GPIB0::7::INSTR' 'M200' 'B2' 3 'B2 --  TC-Scanner Card  -- 10ch' 10\n");

  // No instruments: an empty array, still JSON.
  writeFile(sim, "");
  ASSERT_EQ(cli({"list", "--simulate=" + sim, "--json"}), 0) << err.str();
  EXPECT_EQ(out.str(), "[]\n");
}

}  // namespace
}  // namespace kalivor
