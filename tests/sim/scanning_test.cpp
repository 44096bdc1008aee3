// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <regex>

#include "common/numbers.h"
#include "sim/scpi_words.h"
#include "sim/sim_test_util.h"

namespace kalivor::sim {
namespace {

using namespace testing;
using namespace visa;

std::vector<std::string> splitFetch(std::string answer) {
  EXPECT_FALSE(answer.empty());
  EXPECT_EQ(answer.back(), '\n');
  if (!answer.empty()) answer.pop_back();
  std::vector<std::string> out;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= answer.size(); ++i) {
    if (i == answer.size() || answer[i] == ',') {
      out.push_back(answer.substr(start, i - start));
      start = i + 1;
    }
  }
  return out;
}

// Reads pieces until a status other than VI_SUCCESS_MAX_CNT; returns them.
std::vector<ReadResult> readAll(DeviceSession& s, ViUInt32 count = 1024) {
  std::vector<ReadResult> pieces;
  do {
    pieces.push_back(readOnce(s, count));
  } while (pieces.back().status == VI_SUCCESS_MAX_CNT && pieces.size() < 1000);
  return pieces;
}

class Scanning : public ::testing::Test {
 protected:
  ManualClock clock;
  SimProvider provider{clock, defaultInstruments()};
  std::unique_ptr<DeviceSession> s = openSession(provider, 0);  // 20 channels, all VOLT
  SimInstrument& m = provider.instrument(0);

  void useOnly(const std::vector<std::pair<int, std::string>>& functions) {
    for (int c = 1; c <= m.channelCount(); ++c) send(*s, "rout:scan:func " + std::to_string(c) + ",\"NONE\"\n");
    for (const auto& [c, w] : functions) {
      send(*s, "rout:scan:func " + std::to_string(c) + ",\"" + w + "\"\n");
    }
  }
  std::string state() { return ask(*s, "rout:scan:state?\n"); }
};

TEST_F(Scanning, ScanTakesReadingsBackToBackAsTheClockAdvances) {
  useOnly({{1, "VOLT"}, {2, "VOLT"}, {3, "VOLT"}, {4, "VOLT"}, {5, "VOLT"},
           {6, "VOLT"}, {7, "VOLT"}, {8, "VOLT"}, {9, "VOLT"}, {10, "VOLT"}});
  send(*s, "rout:scan:count 50\n");
  EXPECT_EQ(state(), "0\n");  // nothing before a trigger
  send(*s, "rout:scan:SCAN\n");
  EXPECT_TRUE(m.scanRunning());
  clock.advance(19);
  EXPECT_EQ(state(), "0\n");
  clock.advance(1);
  EXPECT_EQ(state(), "1\n");
  clock.advance(20 * 36);
  EXPECT_EQ(state(), "37\n");
  clock.advance(60000);
  EXPECT_EQ(state(), "50\n");  // stops at the count
  EXPECT_FALSE(m.scanRunning());

  send(*s, "fetch?\n");
  std::string answer;
  for (const auto& piece : readAll(*s)) answer += piece.bytes;
  const auto values = splitFetch(answer);
  ASSERT_EQ(values.size(), 50u);
  const std::regex shape(R"([+-][0-9]\.[0-9]{6}E[+-][0-9]{2})");
  for (std::size_t k = 0; k < values.size(); ++k) {
    ASSERT_TRUE(std::regex_match(values[k], shape)) << values[k];
    const int channel = static_cast<int>(k % 10) + 1;  // channel order, round again
    EXPECT_EQ(values[k], formatReading(SimInstrument::modelValue(1, k, channel, "VOLT"))) << k;
  }
  // Fetching does not consume the readings.
  EXPECT_EQ(state(), "50\n");
}

TEST_F(Scanning, NoneChannelsAreSkippedAndEachChannelKeepsItsFunction) {
  useOnly({{1, "RES"}, {3, "FREQ"}, {20, "PER"}});
  send(*s, "rout:scan:count 6\n");
  send(*s, "rout:scan:SCAN\n");
  clock.advance(6 * 20);
  const auto values = splitFetch(ask(*s, "fetch?\n"));
  ASSERT_EQ(values.size(), 6u);
  const std::vector<std::pair<int, std::string>> order = {{1, "RES"}, {3, "FREQ"}, {20, "PER"}};
  for (std::size_t k = 0; k < 6; ++k) {
    const auto& [channel, word] = order[k % 3];
    EXPECT_EQ(values[k], formatReading(SimInstrument::modelValue(1, k, channel, word)));
  }
}

TEST_F(Scanning, StepTakesOneReadingPerTimerInterval) {
  useOnly({{1, "VOLT"}, {2, "VOLT"}});
  send(*s, "ROUTe:SCAN:TIMER 0.5\n");
  send(*s, "rout:scan:count 3\n");
  send(*s, "rout:scan:STEP\n");
  clock.advance(499);
  EXPECT_EQ(m.readingsTaken(), 0);
  clock.advance(1);
  EXPECT_EQ(m.readingsTaken(), 1);
  clock.advance(999);
  EXPECT_EQ(m.readingsTaken(), 2);
  clock.advance(1);
  EXPECT_EQ(state(), "3\n");
  clock.advance(10000);
  EXPECT_EQ(state(), "3\n");
  // A timer of 0 does not make readings free: they still take their measuring time.
  send(*s, "ROUTe:SCAN:TIMER 0\n");
  send(*s, "rout:scan:STEP\n");
  clock.advance(40);
  EXPECT_EQ(m.readingsTaken(), 2);
}

TEST_F(Scanning, TheQueryPauseAndTimeOutsMoveTheScanToo) {
  useOnly({{1, "VOLT"}});
  send(*s, "rout:scan:count 5\n");
  send(*s, "rout:scan:SCAN\n");
  clock.sleep(50);  // what the program waits between write and read
  EXPECT_EQ(state(), "2\n");
  EXPECT_EQ(readOnce(*s).status, VI_ERROR_TMO);  // nothing queued: 30 s pass
  EXPECT_EQ(state(), "5\n");
}

TEST_F(Scanning, EachTriggerStartsAFreshScanWithNewReadings) {
  useOnly({{1, "VOLT"}, {2, "VOLT"}});
  send(*s, "rout:scan:count 2\n");
  send(*s, "rout:scan:SCAN\n");
  clock.advance(100);
  const auto first = splitFetch(ask(*s, "fetch?\n"));
  send(*s, "rout:scan:SCAN\n");
  EXPECT_EQ(state(), "0\n");
  EXPECT_EQ(ask(*s, "fetch?\n"), "\n");  // no readings yet: an empty answer, not a stall
  clock.advance(100);
  const auto second = splitFetch(ask(*s, "fetch?\n"));
  ASSERT_EQ(second.size(), 2u);
  EXPECT_NE(first, second);
  // The reading index runs on over scans.
  EXPECT_EQ(second[0], formatReading(SimInstrument::modelValue(1, 2, 1, "VOLT")));
  EXPECT_EQ(second[1], formatReading(SimInstrument::modelValue(1, 3, 2, "VOLT")));
}

TEST_F(Scanning, AMeterWithNoChannelInUseTakesNoReadings) {
  useOnly({});
  send(*s, "rout:scan:count 10\n");
  send(*s, "rout:scan:SCAN\n");
  clock.advance(10000);
  EXPECT_EQ(state(), "0\n");
  EXPECT_FALSE(m.scanRunning());
}

TEST_F(Scanning, ReadingsAreReproducibleFromTheSeed) {
  auto fetchOf = [&](std::uint32_t seed) {
    auto config = meter("2");
    config.seed = seed;
    SimProvider p(clock, {config});
    auto session = openSession(p, 0);
    send(*session, "rout:scan:count 20\n");
    send(*session, "rout:scan:SCAN\n");
    clock.advance(1000);
    return ask(*session, "fetch?\n");
  };
  EXPECT_EQ(fetchOf(7), fetchOf(7));
  EXPECT_NE(fetchOf(7), fetchOf(8));
}

TEST(SimReadings, ValuesArePlausibleForEachFunction) {
  struct Range {
    const char* word;
    double lo, hi;
  };
  const std::vector<Range> ranges = {
      {"VOLT", 0.5, 6},        {"VOLT:AC", 0.1, 1.2},  {"RES", 1000, 2000},
      {"FRES", 100, 200},      {"FREQ", 900, 21000},   {"PER", 4e-5, 1.1e-3},
      {"TCO", 20, 30},         {"TEMP", 20, 30},
  };
  for (const auto& r : ranges) {
    bool varies = false;
    for (int channel = 1; channel <= 20; ++channel) {
      const double first = SimInstrument::modelValue(3, 0, channel, r.word);
      for (std::uint64_t k = 0; k < 300; ++k) {
        const double v = SimInstrument::modelValue(3, k, channel, r.word);
        ASSERT_GE(v, r.lo) << r.word << " ch " << channel;
        ASSERT_LE(v, r.hi) << r.word << " ch " << channel;
        varies = varies || v != first;
      }
    }
    EXPECT_TRUE(varies) << r.word << " has no noise";
  }
  EXPECT_EQ(SimInstrument::modelValue(3, 5, 1, "NONE"), 0.0);
}

TEST(SimReadings, ReadingFormat) {
  EXPECT_EQ(formatReading(0.0123456), "+1.234560E-02");
  EXPECT_EQ(formatReading(-5), "-5.000000E+00");
  EXPECT_EQ(formatReading(0), "+0.000000E+00");
  EXPECT_EQ(formatReading(-0.0), "+0.000000E+00");
  EXPECT_EQ(formatReading(1234.5678), "+1.234568E+03");
  EXPECT_EQ(formatReading(1e100), "+1.000000E+100");
  EXPECT_EQ(formatReading(1.0 / 0.0), "+9.900000E+37");  // overload
}

class LongAnswers : public ::testing::Test {
 protected:
  ManualClock clock;
  std::unique_ptr<SimProvider> provider;
  std::unique_ptr<DeviceSession> s;

  void withIdentity(std::size_t answerBytes) {
    auto config = meter("2");
    config.identity = std::string(answerBytes - 1, 'A');  // plus the line feed
    provider = std::make_unique<SimProvider>(clock, std::vector{config});
    s = openSession(*provider, 0);
    send(*s, "*IDN?");
  }
};

TEST_F(LongAnswers, FetchIsSplitIntoPiecesOfTheRequestedCount) {
  provider = std::make_unique<SimProvider>(clock, defaultInstruments());
  s = openSession(*provider, 0);
  send(*s, "rout:scan:count 100\n");
  send(*s, "rout:scan:SCAN\n");
  clock.advance(2000);
  send(*s, "fetch?\n");
  const auto pieces = readAll(*s);
  ASSERT_EQ(pieces.size(), 2u);  // 100 readings of 14 bytes = 1400 bytes
  EXPECT_EQ(pieces[0].status, VI_SUCCESS_MAX_CNT);
  EXPECT_EQ(pieces[0].bytes.size(), 1024u);
  EXPECT_EQ(pieces[1].status, VI_SUCCESS);
  EXPECT_EQ(pieces[1].bytes.size(), 376u);
  EXPECT_EQ(splitFetch(pieces[0].bytes + pieces[1].bytes).size(), 100u);
  // The answer is gone once read: the next read waits out the time-out.
  EXPECT_EQ(readOnce(*s).status, VI_ERROR_TMO);

  // Small reads hand out the same bytes.
  send(*s, "fetch?\n");
  std::string joined;
  const auto small = readAll(*s, 100);
  ASSERT_EQ(small.size(), 14u);
  for (const auto& p : small) joined += p.bytes;
  EXPECT_EQ(joined, pieces[0].bytes + pieces[1].bytes);
}

TEST_F(LongAnswers, AnAnswerOfExactly1024BytesEndsWithSuccess) {
  withIdentity(1024);
  const auto r = readOnce(*s, 1024);
  EXPECT_EQ(r.status, VI_SUCCESS);
  EXPECT_EQ(r.bytes.size(), 1024u);
  EXPECT_EQ(r.bytes.back(), '\n');
  const auto slept = clock.sleptMs();
  EXPECT_EQ(readOnce(*s).status, VI_ERROR_TMO);
  EXPECT_EQ(clock.sleptMs() - slept, 30000);
}

TEST_F(LongAnswers, An2048ByteAnswerTakesTwoReads) {
  withIdentity(2048);
  const auto pieces = readAll(*s);
  ASSERT_EQ(pieces.size(), 2u);
  EXPECT_EQ(pieces[0].status, VI_SUCCESS_MAX_CNT);
  EXPECT_EQ(pieces[1].status, VI_SUCCESS);
  EXPECT_EQ(pieces[1].bytes.size(), 1024u);
  EXPECT_EQ(pieces[1].bytes.back(), '\n');
}

TEST_F(LongAnswers, ALongerReadBufferTakesAShortAnswerWhole) {
  withIdentity(1025);
  const auto r = readOnce(*s, 4096);
  EXPECT_EQ(r.status, VI_SUCCESS);
  EXPECT_EQ(r.bytes.size(), 1025u);
}

}  // namespace
}  // namespace kalivor::sim
