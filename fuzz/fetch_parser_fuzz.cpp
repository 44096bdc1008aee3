// SPDX-License-Identifier: MIT
// The answer to fetch? as an instrument may send it, cut into reads of any size: however the reads
// fall, the scans that come out must be the same as from the answer in one piece, and every reading
// must land on an active channel without separators or padding in it.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "acquisition/fetch_parser.h"

namespace {

using namespace kalivor;

struct Outcome {
  std::vector<ReadingRowTexts> scans;
  std::int64_t taken = 0;
};

void check(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "fetch parser: %s\n", what);
  std::abort();
}

Outcome parse(const std::vector<int>& active, int channelCount, std::optional<double> scanCount,
              const std::string& answer, const std::vector<std::size_t>& cuts) {
  Outcome out;
  ReadingRowTexts readings;
  readings.fill("untouched");
  FetchParser parser(active, channelCount, scanCount, readings,
                     [&](std::size_t sweep) {
                       check(sweep == out.scans.size(), "sweep numbers run 0, 1, 2, ...");
                       out.scans.push_back(readings);
                     });
  std::size_t from = 0;
  for (std::size_t cut : cuts) {
    parser.feed(std::string_view(answer).substr(from, cut - from), true);
    from = cut;
  }
  parser.feed(std::string_view(answer).substr(from), false);
  out.taken = parser.valuesTaken();
  check(parser.scansCompleted() == out.scans.size(), "scansCompleted counts the callbacks");
  return out;
}

bool isPadding(char c) { return c == ' ' || c == '\r' || c == '\n' || c == '\0' || c == '\t'; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  const int channelCount = in.ConsumeBool() ? 20 : in.ConsumeIntegralInRange(0, 20);
  const std::uint32_t mask = in.ConsumeIntegral<std::uint32_t>();
  std::vector<int> active;
  for (int c = 0; c < channelCount; ++c) {
    if (mask & (1u << c)) active.push_back(c);
  }
  std::optional<double> scanCount;
  if (in.ConsumeBool()) scanCount = in.ConsumeIntegralInRange(0, 4000);
  // Read sizes: the link's 1024 bytes, or anything from 1 byte.
  const bool linkSized = in.ConsumeBool();
  const std::uint8_t sizeSeed = in.ConsumeIntegral<std::uint8_t>();
  const std::string answer = in.ConsumeRemainingBytesAsString();

  std::vector<std::size_t> cuts;
  std::uint32_t state = sizeSeed * 2654435761u + 1;
  for (std::size_t at = 0;;) {
    state = state * 1103515245u + 12345u;
    at += linkSized ? 1024 : 1 + (state >> 16) % 64;
    if (at >= answer.size()) break;
    cuts.push_back(at);
  }

  const Outcome whole = parse(active, channelCount, scanCount, answer, {});
  const Outcome pieces = parse(active, channelCount, scanCount, answer, cuts);
  check(whole.taken == pieces.taken, "the same readings are taken however the reads fall");
  check(whole.scans == pieces.scans, "the same scans come out however the reads fall");

  if (active.empty()) {
    check(whole.scans.empty() && whole.taken == 0, "no active channel takes nothing");
    return 0;
  }
  // Empty fields fill their channel with "no reading", so fields, not readings, bound the scans.
  const auto fields = static_cast<std::size_t>(std::count(answer.begin(), answer.end(), ',')) + 1;
  // A count of readings may end the answer inside a sweep: that part-sweep is a scan too.
  check(whole.scans.size() <= (fields + active.size() - 1) / active.size(),
        "one scan per sweep of fields at most");
  for (const ReadingRowTexts& scan : whole.scans) {
    for (int c = 0; c < channelCount; ++c) {
      const std::string& v = scan[static_cast<std::size_t>(c)];
      const bool isActive = mask & (1u << c);
      check(!v.empty(), "a reading is never empty text");
      if (!isActive) check(v == " ", "inactive channels stay blank");
      if (v == " ") continue;
      check(v.find(',') == std::string::npos, "no separator inside a reading");
      check(!isPadding(v.front()) && !isPadding(v.back()), "readings are trimmed");
    }
    for (std::size_t c = static_cast<std::size_t>(channelCount); c < scan.size(); ++c) {
      check(scan[c] == "untouched", "channels beyond the card are left alone");
    }
  }
  return 0;
}
