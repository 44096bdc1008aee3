// SPDX-License-Identifier: MIT
// Cutting a 2000-reading fetch? answer (about 32 KB, read in 1024-byte pieces) into scans.
#include <benchmark/benchmark.h>

#include <cstdio>

#include "acquisition/fetch_parser.h"

namespace {

std::string answerOf(int readings) {
  std::string s;
  char buf[32];
  for (int i = 0; i < readings; ++i) {
    std::snprintf(buf, sizeof buf, "%s+%d.%06dE-02", i ? "," : "", i % 10, (i * 7919) % 1000000);
    s += buf;
  }
  return s + "\n";
}

void BM_ParseFetchAnswer2000(benchmark::State& state) {
  const std::string answer = answerOf(2000);
  std::vector<int> active;
  for (int c = 0; c < 20; ++c) active.push_back(c);
  kalivor::ReadingRowTexts readings;
  std::size_t scans = 0;
  for (auto _ : state) {
    kalivor::FetchParser parser(active, 20, 2000.0, readings, [&](std::size_t) { ++scans; });
    for (std::size_t pos = 0; pos < answer.size(); pos += 1024)
      parser.feed(std::string_view(answer).substr(pos, 1024), pos + 1024 < answer.size());
    benchmark::DoNotOptimize(readings);
  }
  state.counters["ns_per_reading"] = benchmark::Counter(
      2000.0 * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  state.counters["bytes"] = static_cast<double>(answer.size());
  benchmark::DoNotOptimize(scans);
}
BENCHMARK(BM_ParseFetchAnswer2000);

}  // namespace
