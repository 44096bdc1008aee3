// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <random>

#include "common/text.h"
#include "sim/sim_test_util.h"

namespace kalivor::sim {
namespace {

using namespace testing;

const std::string kData = std::string(KALIVOR_TEST_DATA_DIR) + "/sim/";

std::string section(const std::string& extra = "", const std::string& name = "Instrument1") {
  return "[" + name + "]\nResource=USB0::0x0000::0x0001::SIM0001::INSTR\n"
         "Identity=SIMULATED,M100,SIM0001,1.0\nCard=2\nSerial=SIM0001\n" + extra;
}

TEST(SimFile, ReadsASampleBench) {
  const SimulationFile f = loadSimulationFile(kData + "bench_three.sim");
  ASSERT_EQ(f.error, "");
  ASSERT_EQ(f.instruments.size(), 3u);
  const auto& a = f.instruments[0];
  EXPECT_EQ(a.resource, "USB0::0x0000::0x0001::SIM0101::INSTR");
  EXPECT_EQ(a.identity, "SIMULATED,M100,SIM0101,1.0");
  EXPECT_EQ(a.card, "2");
  EXPECT_EQ(a.serial, "SIM0101");
  EXPECT_EQ(a.fault, "none");
  EXPECT_EQ(a.seed, 11u);
  EXPECT_EQ(a.terminator, "\n");
  // Keys in any case, blanks around '=', escapes decoded.
  const auto& b = f.instruments[1];
  EXPECT_EQ(b.resource, "GPIB0::22::INSTR");
  EXPECT_EQ(b.serial, "SIM0102\r\n");
  EXPECT_EQ(b.terminator, "\r\n");
  EXPECT_EQ(b.functions, (std::vector<std::string>{"TCO", "TCO", "\"TEMP\"", "VOLT", "NONE"}));
  EXPECT_EQ(f.instruments[2].fault, "silent");

  // What the file describes is what the meters do.
  ManualClock clock;
  SimProvider p(clock, f.instruments);
  auto s = openSession(p, 1);
  EXPECT_EQ(ask(*s, "cal:sec:serial?\n"), "SIM0102\r\n\r\n");
  EXPECT_EQ(p.instrument(1).function(3), "TEMP");
  EXPECT_EQ(p.instrument(1).function(5), "NONE");
  EXPECT_EQ(p.instrument(1).function(6), "VOLT");
}

TEST(SimFile, EscapesQuotesAndOptionalKeys) {
  const auto f = parseSimulationText(
      "\xEF\xBB\xBF# comment\n"
      "[Instrument1]\n"
      "Resource=USB0::0x0000::0x0001::SIM0001::INSTR\n"
      "Identity=X,\\\"Q\\\",Y\n"
      "Card=garbage\n"
      "Serial=\"  A\\tB\\x41\\\\ \"\n"
      "Fault=DROP-AFTER:4\n"
      "Seed=4294967295\n"
      "ReadingMs=5\n"
      "Terminator=\\n\\0\n");
  ASSERT_EQ(f.error, "");
  ASSERT_EQ(f.instruments.size(), 1u);
  const auto& c = f.instruments[0];
  EXPECT_EQ(c.identity, "X,\"Q\",Y");
  EXPECT_EQ(c.serial, "  A\tBA\\ ");  // quotes keep the blanks
  EXPECT_EQ(c.card, "garbage");  // raw answers are kept; discovery decides what they mean
  EXPECT_EQ(c.fault, "drop-after:4");
  EXPECT_EQ(c.seed, 4294967295u);
  EXPECT_EQ(c.readingMs, 5u);
  EXPECT_EQ(c.terminator, std::string("\n\0", 2));
}

TEST(SimFile, HealingFaultsAreDecoded) {
  const auto drop = parseFault(" Drop-After:12:Back-After:90 ");
  ASSERT_TRUE(drop);
  EXPECT_EQ(drop->kind, FaultSpec::Kind::DropAfter);
  EXPECT_EQ(drop->dropAfter, 12u);
  EXPECT_EQ(drop->backAfterMs, 90000u);
  // Without back-after the meter stays away, as before.
  const auto plain = parseFault("drop-after:12");
  ASSERT_TRUE(plain);
  EXPECT_FALSE(plain->backAfterMs);
  const auto quiet = parseFault("silent-after:40:for:45");
  ASSERT_TRUE(quiet);
  EXPECT_EQ(quiet->kind, FaultSpec::Kind::SilentAfter);
  EXPECT_EQ(quiet->dropAfter, 40u);
  EXPECT_EQ(quiet->silentForMs, 45000u);
  const auto f = parseSimulationText(section("Fault=Silent-After:40:For:45\n"));
  ASSERT_EQ(f.error, "");
  EXPECT_EQ(f.instruments[0].fault, "silent-after:40:for:45");
  const auto endless = parseFault("Endless-Fetch-After:7:for:20");
  ASSERT_TRUE(endless);
  EXPECT_EQ(endless->kind, FaultSpec::Kind::EndlessFetchAfter);
  EXPECT_EQ(endless->dropAfter, 7u);
  EXPECT_EQ(endless->endlessForMs, 20000u);
  EXPECT_FALSE(parseFault("endless-fetch-after:7")->endlessForMs);  // for good
  for (const char* bad : {"endless-fetch-after:", "endless-fetch-after:7:for:", "endless-fetch-after:7:back-after:3"}) {
    EXPECT_FALSE(parseFault(bad)) << bad;
    const auto refused = parseSimulationText(section(std::string("Fault=") + bad + "\n"));
    EXPECT_NE(refused.error.find("endless-fetch-after:N[:for:S]"), std::string::npos) << refused.error;
  }
}

TEST(SimFile, AnEmptyFileHasNoInstruments) {
  for (const char* text : {"", "\n\n", "; only a comment\r\n"}) {
    const auto f = parseSimulationText(text);
    EXPECT_EQ(f.error, "") << text;
    EXPECT_TRUE(f.instruments.empty());
  }
}

TEST(SimFile, MistakesAreNamedByLine) {
  const std::string two = section() + section("", "Instrument2");
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"Resource=X\n", "line 1: key \"Resource\" comes before any [InstrumentN] section"},
      {"[Meter1]\n", "line 1: unknown section [Meter1]"},
      {"[Instrument1\n", "line 1: section header \"[Instrument1\" lacks ']'"},
      {section("Colour=red\n"), "line 6: unknown key \"Colour\" in [Instrument1]"},
      {section("just words\n"), "line 6: \"just words\" is neither a [section] nor a Key=Value line"},
      {section("Card=3\n"), "line 6: Card is given twice in [Instrument1] (first on line 4)"},
      {section("Fault=drop-after:x\n"), "line 6: Fault \"drop-after:x\" is not none"},
      {section("Fault=loud\n"), "line 6: Fault \"loud\" is not none"},
      {section("Fault=drop-after:3:back-after:\n"), "line 6: Fault \"drop-after:3:back-after:\" is not"},
      {section("Fault=drop-after:3:back:5\n"), "line 6: Fault \"drop-after:3:back:5\" is not"},
      {section("Fault=drop-after:3:back-after:5s\n"), "line 6: Fault \"drop-after:3:back-after:5s\""},
      {section("Fault=silent-after:3\n"), "line 6: Fault \"silent-after:3\" is not"},
      {section("Fault=silent-after:3:for:-1\n"), "line 6: Fault \"silent-after:3:for:-1\" is not"},
      {section("Fault=silent-after::for:5\n"), "line 6: Fault \"silent-after::for:5\" is not"},
      {section("Seed=-1\n"), "line 6: Seed \"-1\" is not a whole number"},
      {section("Seed=4294967296\n"), "line 6: Seed"},
      {section("ReadingMs=0\n"), "line 6: ReadingMs \"0\" is not 1..60000"},
      {section("Terminator=\\q\n"), "line 6: Terminator has an unknown escape \\q"},
      {section("Terminator=ab\\\n"), "line 6: Terminator ends with a lone backslash"},
      {section("Terminator=\\x4\n"), "line 6: Terminator has \\x without two hex digits"},
      {section("Functions=VOLT,,RES\n"), "line 6: Functions: \"\" (channel 2) is not VOLT"},
      {section("Functions=VOLT,OHMS\n"), "line 6: Functions: \"OHMS\" (channel 2)"},
      {section("Functions=VOLT,TCO\n"), "line 6: Functions: channel 2 cannot measure \"TCO\" on card \"2\""},
      {two, "line 7: Resource \"USB0::0x0000::0x0001::SIM0001::INSTR\" is already used"},
      {section() + section(), "line 6: section [Instrument1] appears twice"},
      {"[Instrument1]\nResource=R1\nIdentity=I\nCard=2\n", "line 1: [Instrument1] has no Serial= line"},
      {"[instrument7]\nSerial=S\n[Instrument8]\n", "line 1: [instrument7] has no Resource= line"},
      {"[Instrument1]\nResource=A B\n", "line 2: Resource \"A B\" contains blanks"},
      {"[Instrument1]\nResource=\n", "line 2: Resource is empty"},
  };
  for (const auto& [text, expected] : cases) {
    const auto f = parseSimulationText(text);
    EXPECT_TRUE(startsWith(f.error, expected)) << escapeControl(text) << "\n got: " << f.error;
    EXPECT_TRUE(f.instruments.empty()) << escapeControl(text);
  }
  // A 4-wire channel's partner may be listed as NONE, not as anything else.
  std::string four = "Functions=VOLT,FRES,VOLT,VOLT,VOLT,VOLT,VOLT,VOLT,VOLT,VOLT,VOLT,NONE\n";
  EXPECT_EQ(parseSimulationText(section(four)).error, "");
  four.replace(four.rfind("NONE"), 4, "VOLT");
  EXPECT_TRUE(startsWith(parseSimulationText(section(four)).error,
                         "line 6: Functions: channel 12 cannot measure"));
}

TEST(SimFile, FileProblemsNameTheFile) {
  const auto missing = loadSimulationFile(kData + "no_such_file.sim");
  EXPECT_TRUE(startsWith(missing.error, "cannot open simulation file \"" + kData + "no_such_file.sim\""))
      << missing.error;
  const auto bad = loadSimulationFile(kData + "bad_fault.sim");
  EXPECT_EQ(bad.error, "simulation file \"" + kData + "bad_fault.sim\", line 6: Fault \"drop-after:N\" is not none, "
                               "silent, garbage, drop-after:N[:back-after:S], silent-after:N:for:S or "
                               "endless-fetch-after:N[:for:S]");
  EXPECT_TRUE(bad.instruments.empty());
}

TEST(SimFile, GarbageInputNeverBreaksTheParser) {
  std::mt19937 rng(12345);
  const std::string pieces[] = {"[",  "]",  "Instrument", "1", "=", "\n", "\r", "\\", "x",
                                "Resource", "Card", "Functions", "FRES", ",", "\"", "\0", "\xff",
                                "drop-after:", "99999999999999999999", " "};
  for (int round = 0; round < 2000; ++round) {
    std::string text;
    const int n = static_cast<int>(rng() % 60);
    for (int i = 0; i < n; ++i) {
      if (rng() % 4 == 0) {
        text.push_back(static_cast<char>(rng() & 0xFF));
      } else {
        text += pieces[rng() % std::size(pieces)];
      }
    }
    SimulationFile f;
    ASSERT_NO_THROW(f = parseSimulationText(text)) << escapeControl(text);
    if (!f.error.empty()) {
      EXPECT_TRUE(f.instruments.empty());
    } else {
      // Whatever passes must build working meters.
      ManualClock clock;
      ASSERT_NO_THROW(SimProvider(clock, f.instruments)) << escapeControl(text);
    }
  }
  // One enormous line.
  EXPECT_FALSE(parseSimulationText(std::string(1 << 20, 'A')).error.empty());
}

TEST(SimDefaults, TwoNeutralMetersOfCards2And3) {
  const auto d = defaultInstruments();
  ASSERT_EQ(d.size(), 2u);
  EXPECT_EQ(d[0].card, "2");
  EXPECT_EQ(d[1].card, "3");
  EXPECT_NE(d[0].resource, d[1].resource);
  for (const auto& c : d) {
    EXPECT_TRUE(startsWith(c.resource, "USB0::0x0000::"));
    EXPECT_TRUE(startsWith(c.identity, "SIMULATED,"));
    EXPECT_EQ(c.fault, "none");
  }
  ManualClock clock;
  SimProvider p(clock, d);
  EXPECT_EQ(p.instrument(0).channelCount(), 20);
  EXPECT_EQ(p.instrument(1).channelCount(), 10);
  EXPECT_EQ(p.instrument(1).function(1), "TCO");
}

}  // namespace
}  // namespace kalivor::sim
