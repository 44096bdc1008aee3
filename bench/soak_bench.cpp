// SPDX-License-Identifier: MIT
// Soak: 250 000 scans on four 20-channel meters through the whole run loop (link, poll, fetch,
// conversion, live grids and scan tables, stored rows, trend chart on a null canvas), on the
// manual clock. Reports the time per scan over the first and the last 10 000 scans and the
// process's resident memory at intervals: neither may grow with the length of the run.
//
// The meters are a small stand-in answering what a run asks, not the simulator: the simulator
// keeps every message it was sent for its tests, which over 250 000 scans would be most of the
// memory measured. Stored rows go to a record that keeps only the last one, so the disk is no
// part of the figures (store_bench.cpp measures that).
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "acquisition/live_display.h"
#include "acquisition/run_chart.h"
#include "acquisition/run_controller.h"
#include "charts/trend_chart.h"
#include "charts/trend_chart_for_run.h"
#include "common/clock.h"
#include "common/event_pump.h"
#include "common/messages.h"
#include "common/numbers.h"
#include "instrument/instrument_link.h"

namespace {

using namespace kalivor;
using namespace kalivor::visa;

constexpr int kMeters = 4;
constexpr int kChannels = 20;
constexpr std::int64_t kScans = 250'000;
constexpr std::int64_t kWindow = 10'000;       // scans per timing window
constexpr std::int64_t kRssEvery = 25'000;     // scans between memory samples
constexpr LocalMs kReadingMs = 20;

// Four meters with a 20-channel card, every channel measuring DC volts; a trigger starts a scan
// that takes one reading per 20 ms of the clock.
class SoakMeters final : public VisaApi {
 public:
  explicit SoakMeters(Clock& clock) : clock_(clock) {}

  std::string description() const override { return "soak meters"; }
  ViStatus viOpenDefaultRM(ViSession* rm) override {
    *rm = 1;
    return VI_SUCCESS;
  }
  ViStatus viFindRsrc(ViSession, const char*, ViFindList* list, ViUInt32* count,
                      char* desc) override {
    *list = 2;
    *count = kMeters;
    next_ = 0;
    return viFindNext(*list, desc);
  }
  ViStatus viFindNext(ViFindList, char* desc) override {
    if (next_ >= kMeters) return VI_ERROR_RSRC_NFOUND;
    std::snprintf(desc, VI_FIND_BUFLEN, "USB0::0x0000::0x0001::SOAK%d::INSTR", next_++);
    return VI_SUCCESS;
  }
  ViStatus viOpen(ViSession, const char* name, ViAccessMode, ViUInt32, ViSession* s) override {
    const int index = name[std::strlen(name) - 7] - '0';  // the digit before "::INSTR"
    *s = 100 + index;
    meters_[*s].serial = "SOAK" + std::to_string(index);
    return VI_SUCCESS;
  }
  ViStatus viSetAttribute(ViObject, ViAttr, ViAttrState) override { return VI_SUCCESS; }
  ViStatus viClose(ViObject) override { return VI_SUCCESS; }

  ViStatus viWrite(ViSession s, const unsigned char* buf, ViUInt32 count,
                   ViUInt32* written) override {
    *written = count;
    Meter& m = meters_[s];
    std::string_view msg(reinterpret_cast<const char*>(buf), count);
    if (!msg.empty() && msg.back() == '\n') msg.remove_suffix(1);
    m.answer.clear();
    m.pos = 0;
    if (msg == "*IDN?") {
      m.answer = "SOAK,M100," + m.serial + ",1.0\n";
    } else if (msg == "rout:state?") {
      m.answer = "2\n";
    } else if (msg == "cal:sec:serial?") {
      m.answer = m.serial + "\n";
    } else if (msg.rfind("rout:scan:func?", 0) == 0) {
      m.answer = "\"VOLT\"\n";
    } else if (msg.rfind("rout:scan:count ", 0) == 0) {
      m.count = static_cast<int>(leadingNumber(msg.substr(16)));
    } else if (msg == "rout:scan:SCAN") {
      m.start = clock_.now();
      m.first += m.taken;
      m.taken = 0;
      m.triggered = true;
    } else if (msg == "rout:scan:state?") {
      m.answer = intToText(readings(m)) + "\n";
    } else if (msg == "fetch?") {
      m.taken = readings(m);
      char value[32];
      for (int k = 0; k < m.taken; ++k) {
        const std::int64_t i = m.first + k;
        std::snprintf(value, sizeof value, "%+.6E", 0.5 + 0.23 * (k % kChannels) + 1e-4 * (i % 997));
        if (k > 0) m.answer.push_back(',');
        m.answer += value;
      }
      m.answer.push_back('\n');
    }
    return VI_SUCCESS;
  }
  ViStatus viRead(ViSession s, unsigned char* buf, ViUInt32 count, ViUInt32* got) override {
    Meter& m = meters_[s];
    if (m.pos >= m.answer.size()) {
      *got = 0;
      return VI_ERROR_TMO;
    }
    const std::size_t n = std::min<std::size_t>(count, m.answer.size() - m.pos);
    std::memcpy(buf, m.answer.data() + m.pos, n);
    m.pos += n;
    *got = static_cast<ViUInt32>(n);
    return m.pos < m.answer.size() ? VI_SUCCESS_MAX_CNT : VI_SUCCESS;
  }

 private:
  struct Meter {
    std::string serial;
    std::string answer;
    std::size_t pos = 0;
    int count = 1;
    bool triggered = false;
    LocalMs start = 0;
    int taken = 0;
    std::int64_t first = 0;
  };
  int readings(const Meter& m) {
    if (!m.triggered) return 0;
    return static_cast<int>(std::min<LocalMs>((clock_.now() - m.start) / kReadingMs, m.count));
  }
  Clock& clock_;
  int next_ = 0;
  std::map<ViSession, Meter> meters_;
};

// A record that keeps its last row only: the append path runs, the memory stays flat.
class LastRowRecords final : public RunRecords {
 public:
  std::string CreateRunDatabase(int, const std::string&) override { return {}; }
  bool exists(int) const override { return true; }
  std::string OpenRunDatabase(int) override { return {}; }
  double RowBase(int) const override { return 0; }
  std::string AppendReadingRow(int slot, const std::string& num, const std::string& time,
                               const std::array<std::string, kMaxChannels>& channels) override {
    last[static_cast<std::size_t>(slot)] = channels;
    lastNum = num;
    lastTime = time;
    ++rows;
    return {};
  }
  void CloseRunDatabase(int) override {}
  std::array<std::array<std::string, kMaxChannels>, kSlotTableSize> last{};
  std::string lastNum, lastTime;
  std::int64_t rows = 0;
};

double residentMiB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return leadingNumber(line.substr(6)) / 1024.0;
  }
  return 0;
}

void BM_Soak(benchmark::State& state) {
  for (auto _ : state) {
    ManualClock clock;
    SoakMeters meters(clock);
    RecordingMessages messages;
    InstrumentLink link(meters, clock, messages);
    ScanTables tables;
    LiveDisplay display;
    LastRowRecords records;
    CallbackEventPump pump;
    RunController run(link, tables, display, records, pump);
    NullCanvas canvas;
    TrendChart chart(tables,
                     TrendChartLink{[&] { return static_cast<int>(link.InstrumentCount); },
                                    [&] { return link.LastVisaStatus; },
                                    [&] { link.StopRequested = true; }, &pump},
                     canvas);
    TrendChartForRun chartForRun(chart);
    run.setChart(&chartForRun);

    link.DiscoverInstruments();
    if (link.InstrumentCount != kMeters) {
      state.SkipWithError("the soak meters were not found");
      return;
    }
    for (int d = 0; d < kMeters; ++d) {
      const auto s = static_cast<std::size_t>(d);
      link.slots[s].DiscoveredIndex = static_cast<std::int16_t>(d);
      tables.setup[s].ScanerCard = 2;
      tables.setup[s].ChannelCount = kChannels;
      tables.setup[s].scanCount_Status = 2;  // until Stop
      tables.setup[s].ScanType = "SCAN";
      tables.setup[s].ScanTime = "0";
      tables.DatabaseName[s] = "Record" + std::to_string(d + 1);
      for (int c = 0; c < kChannels; ++c) {
        tables.channel[s][static_cast<std::size_t>(c)].Function = "DCV";
        tables.channel[s][static_cast<std::size_t>(c)].Color = kDefaultChannelColors[static_cast<std::size_t>(c)];
      }
      display.deviceList.push_back(link.identified[s].Description);
      display.show_data(d, tables, kMeters);
    }

    using Steady = std::chrono::steady_clock;
    std::vector<double> windowUs;  // microseconds per scan, per window of kWindow scans
    std::vector<std::pair<std::int64_t, double>> rss{{0, residentMiB()}};
    std::int64_t nextWindow = kWindow;
    std::int64_t nextRss = kRssEvery;
    auto windowStart = Steady::now();
    bool stopPressed = false;
    pump.set([&](std::int64_t) {
      const auto total = static_cast<std::int64_t>(tables.ScansDone[0] + tables.ScansDone[1] +
                                                   tables.ScansDone[2] + tables.ScansDone[3]);
      if (total >= nextWindow) {
        const auto now = Steady::now();
        windowUs.push_back(std::chrono::duration<double, std::micro>(now - windowStart).count() /
                           static_cast<double>(kWindow));
        windowStart = now;
        nextWindow += kWindow;
      }
      if (total >= nextRss) {
        rss.emplace_back(total, residentMiB());
        nextRss += kRssEvery;
      }
      // Once, as a user would: Stop redraws the chart, which lets events run again.
      if (total >= kScans && !stopPressed) {
        stopPressed = true;
        run.StopReading_Click();
      }
    });
    run.StartReading_Click();
    run.driveUntilEnded();

    std::size_t tableRows = 0;
    for (int d = 0; d < kMeters; ++d) {
      tableRows = std::max(tableRows, display.scanTables[static_cast<std::size_t>(d)].gridRows());
    }
    const double stored = static_cast<double>(records.rows);
    state.counters["scans"] = stored;
    state.counters["us_per_scan_first_10k"] = windowUs.empty() ? 0 : windowUs.front();
    state.counters["us_per_scan_last_10k"] = windowUs.empty() ? 0 : windowUs.back();
    state.counters["rss_MiB_start"] = rss.front().second;
    state.counters["rss_MiB_end"] = rss.back().second;
    state.counters["chart_MiB"] = static_cast<double>(chart.memoryBytes()) / (1024.0 * 1024.0);
    state.counters["scan_table_rows"] = static_cast<double>(tableRows);
    state.counters["simulated_hours"] = static_cast<double>(clock.sleptMs()) / 3.6e6;

    std::fprintf(stderr, "\nsoak: %.0f scans stored, %.1f h on the manual clock, %s\n", stored,
                 static_cast<double>(clock.sleptMs()) / 3.6e6,
                 messages.texts().empty() ? "no message" : messages.texts().back().c_str());
    std::fprintf(stderr, "soak: us per scan, per 10 000 scans:");
    for (std::size_t i = 0; i < windowUs.size(); ++i) std::fprintf(stderr, "%s%.1f", i % 13 ? " " : "\n  ", windowUs[i]);
    std::fprintf(stderr, "\nsoak: resident MiB after n scans:");
    for (const auto& [n, mib] : rss) std::fprintf(stderr, "\n  %7lld  %6.1f", static_cast<long long>(n), mib);
    std::fprintf(stderr, "\nsoak: chart histories and tables %.1f MiB, scan table %zu rows\n",
                 static_cast<double>(chart.memoryBytes()) / (1024.0 * 1024.0), tableRows);
  }
}
BENCHMARK(BM_Soak)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace
