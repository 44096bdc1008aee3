// SPDX-License-Identifier: MIT
#include "acquisition/fetch_parser.h"

#include <gtest/gtest.h>

namespace kalivor {
namespace {

struct Collected {
  std::vector<std::vector<std::string>> scans;
  std::vector<std::size_t> sweeps;
};

// Feeds the answer in reads of `chunk` bytes, as the instrument link would.
Collected parse(const std::vector<int>& active, int channels, std::optional<double> scanCount,
                const std::string& answer, std::size_t chunk = 1024) {
  Collected out;
  ReadingRowTexts readings;
  readings.fill(" ");
  FetchParser parser(active, channels, scanCount, readings, [&](std::size_t sweep) {
    out.sweeps.push_back(sweep);
    out.scans.emplace_back(readings.begin(), readings.begin() + channels);
  });
  for (std::size_t pos = 0; pos < answer.size(); pos += chunk) {
    parser.feed(std::string_view(answer).substr(pos, chunk), pos + chunk < answer.size());
  }
  return out;
}

std::string values(int n, int first = 1) {
  std::string s;
  for (int i = 0; i < n; ++i) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%s+%d.%06dE+00", i ? "," : "", (first + i) % 10, first + i);
    s += buf;
  }
  return s + "\n";
}

TEST(FetchParser, ThreeValuesFillThreeChannelsAsOneScan) {
  const auto r = parse({0, 1, 2}, 10, 3, "+1.0E+00,+2.0E+00,+3.0E+00\n");
  ASSERT_EQ(r.scans.size(), 1u);
  EXPECT_EQ(r.scans[0][0], "+1.0E+00");
  EXPECT_EQ(r.scans[0][1], "+2.0E+00");
  EXPECT_EQ(r.scans[0][2], "+3.0E+00");  // terminator stripped
  EXPECT_EQ(r.scans[0][3], " ");
}

TEST(FetchParser, FiftyValuesOverTenChannelsAreFiveScansInOrder) {
  std::vector<int> active{0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
  const auto r = parse(active, 20, 50, values(50));
  ASSERT_EQ(r.scans.size(), 5u);
  EXPECT_EQ(r.sweeps, (std::vector<std::size_t>{0, 1, 2, 3, 4}));
  EXPECT_EQ(r.scans[0][0], "+1.000001E+00");
  EXPECT_EQ(r.scans[4][9], "+0.000050E+00");
}

TEST(FetchParser, NoneChannelsConsumeNoValueAndStayBlank) {
  const auto r = parse({0, 2, 5}, 10, std::nullopt, "+1.0E+00,+2.0E+00,+3.0E+00\n");
  ASSERT_EQ(r.scans.size(), 1u);
  EXPECT_EQ(r.scans[0][0], "+1.0E+00");
  EXPECT_EQ(r.scans[0][1], " ");
  EXPECT_EQ(r.scans[0][2], "+2.0E+00");
  EXPECT_EQ(r.scans[0][5], "+3.0E+00");
}

TEST(FetchParser, AnswerSplitOverReadsResumesAndJoinsCutValues) {
  // 200 values over 7 active channels with gaps, read in 1024-byte pieces: no value may be split
  // into two readings and every sweep must land on the same channels as in one read.
  std::vector<int> active{1, 3, 4, 8, 10, 15, 19};
  const std::string answer = values(196);  // 28 sweeps
  const auto whole = parse(active, 20, std::nullopt, answer, answer.size() + 1);
  for (std::size_t chunk : {1024u, 1000u, 13u, 14u, 1u}) {
    const auto split = parse(active, 20, std::nullopt, answer, chunk);
    ASSERT_EQ(split.scans.size(), 28u) << chunk;
    EXPECT_EQ(split.scans, whole.scans) << chunk;
  }
}

TEST(FetchParser, AnswersOfExactlyOneAndTwoReadsEndCleanly) {
  std::vector<int> active{0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
  std::string answer = values(60);
  answer.insert(answer.size() - 1, std::string(1024 - answer.size() % 1024, ' '));
  ASSERT_EQ(answer.size() % 1024, 0u);
  EXPECT_EQ(parse(active, 10, std::nullopt, answer).scans.size(), 6u);
}

TEST(FetchParser, EndInsideASweepStoresWhatWasFetchedAsAScan) {
  // A run ending after 5 channel readings on 10 active channels.
  std::vector<int> active{0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
  auto r = parse(active, 10, 5, values(5));
  ASSERT_EQ(r.scans.size(), 1u);
  EXPECT_EQ(r.scans[0][4], "+5.000005E+00");
  EXPECT_EQ(r.scans[0][5], " ");
  // 15 of 15: one full sweep and one partial.
  EXPECT_EQ(parse(active, 10, 15, values(15)).scans.size(), 2u);
  // A short answer in a scan-by-scan run still keeps its readings.
  const auto shortAnswer = parse(active, 10, 20, values(5));
  ASSERT_EQ(shortAnswer.scans.size(), 1u);
  EXPECT_EQ(shortAnswer.scans[0][4], "+5.000005E+00");
  EXPECT_EQ(shortAnswer.scans[0][5], " ");
  // A count that is not a whole number of sweeps ("25.6": the meter takes 26): all 26 readings
  // are kept, the last six as a scan of their own, even when the answer spans several reads.
  const auto odd = parse(active, 10, 25.6, values(26), 100);
  ASSERT_EQ(odd.scans.size(), 3u);
  EXPECT_EQ(odd.scans[2][5], "+6.000026E+00");
  EXPECT_EQ(odd.scans[2][6], " ");
  // A bare terminator or only empty values after a full sweep add no scan.
  EXPECT_EQ(parse(active, 10, std::nullopt, values(10).substr(0, values(10).size() - 1) + ",,\n").scans.size(), 1u);
}

TEST(FetchParser, EmptyValuesLeaveABlankAndDoNotShiftLaterSweeps) {
  const auto r = parse({0, 1, 2}, 10, std::nullopt, "+1,,+3,+4,+5,+6\n");
  ASSERT_EQ(r.scans.size(), 2u);
  EXPECT_EQ(r.scans[0][1], " ");
  EXPECT_EQ(r.scans[1][0], "+4");
  EXPECT_EQ(r.scans[1][2], "+6");
}

TEST(FetchParser, TerminatorsAndPaddingAreNotReadings) {
  EXPECT_EQ(parse({0}, 10, std::nullopt, "\n").scans.size(), 0u);
  EXPECT_EQ(parse({0}, 10, std::nullopt, "").scans.size(), 0u);
  const auto r = parse({0, 1}, 10, std::nullopt, std::string("+1,+2\r\n\0", 8));
  ASSERT_EQ(r.scans.size(), 1u);
  EXPECT_EQ(r.scans[0][1], "+2");
}

TEST(FetchParser, GarbageIsStoredAsTextNeverCrashes) {
  // Every byte value, commas included, in an order that repeats only after 256 bytes.
  std::string noise;
  for (int i = 0; i < 5000; ++i) noise.push_back(static_cast<char>((i * 131) % 256));
  // What must come out: each comma-separated field, its padding trimmed, on the next active
  // channel (an empty field leaves the channel blank); the channels not in use stay blank; a
  // last sweep that got any value is a scan of its own.
  const std::vector<int> active{0, 2, 3, 7};
  std::vector<std::vector<std::string>> expected;
  std::vector<std::string> scan(10, " ");
  std::size_t position = 0;
  bool anyValue = false;
  std::size_t from = 0;
  while (from <= noise.size()) {
    const std::size_t comma = std::min(noise.find(',', from), noise.size());
    std::string field = noise.substr(from, comma - from);
    const auto padding = [](char c) { return c == ' ' || c == '\r' || c == '\n' || c == '\0' || c == '\t'; };
    while (!field.empty() && padding(field.front())) field.erase(0, 1);
    while (!field.empty() && padding(field.back())) field.pop_back();
    if (comma == noise.size() && field.empty()) break;  // the terminator is no value
    if (!field.empty()) {
      scan[static_cast<std::size_t>(active[position])] = field;
      anyValue = true;
    }
    if (++position == active.size()) {
      expected.push_back(scan);
      scan.assign(10, " ");
      position = 0;
      anyValue = false;
    }
    from = comma + 1;
  }
  if (position > 0 && anyValue) expected.push_back(scan);
  ASSERT_GE(expected.size(), 4u) << "the noise holds several sweeps";

  for (std::size_t chunk : {std::size_t{1024}, std::size_t{7}, noise.size() + 1}) {
    EXPECT_EQ(parse(active, 10, std::nullopt, noise, chunk).scans, expected) << chunk;
  }
}

TEST(CleanAnswer, RemovesLineEndsAndNulsAndTrimsBlanks) {
  EXPECT_EQ(cleanAnswer("  \"VOLT\"\r\n   "), "\"VOLT\"");
  EXPECT_EQ(cleanAnswer(std::string("FRTD\n\0", 6)), "FRTD");
  EXPECT_EQ(cleanAnswer("   "), "");
}

}  // namespace
}  // namespace kalivor
