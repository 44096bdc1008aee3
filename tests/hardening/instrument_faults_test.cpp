// SPDX-License-Identifier: MIT
// Instruments that fail during a run: silence, a dropped connection at any exchange, a read that
// breaks inside a long answer, garbage, and answers that end exactly on the read buffer. Each run
// must end with a clear message, keep every scan it reported stored, and a second run must work
// once the instrument is back.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/numbers.h"
#include "hardening/hardening_rig.h"
#include "store/record_browser.h"

namespace kalivor::hardening {
namespace {

std::size_t timeouts(const RecordingMessages& m) { return m.count("Timeout") + m.count("Timeout "); }

std::size_t rowsIn(const fs::path& file) {
  if (!fs::exists(file)) return 0;
  const auto contents = readRecord(file);
  return contents ? contents->rows.size() : 0;
}

// Both records hold what the last run reported, on top of `before` rows each.
void expectRecordsHoldReported(Program& p, const std::array<std::size_t, 2>& before) {
  for (int d = 0; d < 2; ++d) {
    SCOPED_TRACE("slot " + std::to_string(d));
    const fs::path file = p.recordPath("Record" + std::to_string(d + 1));
    const auto& reported = p.log.bySlot[d];
    if (!fs::exists(file)) {
      EXPECT_TRUE(reported.empty()) << "scans reported stored into a record that was never made";
      continue;
    }
    expectRecordHoldsReportedScans(file, before[static_cast<std::size_t>(d)], reported);
  }
}

// The user plugs the meters back in and reconnects; the next run stores where the last one ended.
void reconnectAndRunAgain(Program& p) {
  for (std::size_t i = 0; i < 2; ++i) {
    p.meter(i).setFault("none");
    p.meter(i).reconnect();
  }
  p.selection.CheckDev();
  ASSERT_EQ(p.link.InstrumentCount, 2);
  EXPECT_TRUE(p.display.isEnabled("StartReading"));
  const std::array<std::size_t, 2> before = {rowsIn(p.recordPath("Record1")),
                                             rowsIn(p.recordPath("Record2"))};
  p.logUntilStop();
  p.stopAfterScans(6);
  p.start();
  EXPECT_EQ(p.messages.texts(), std::vector<std::string>{"End of Job."});
  EXPECT_FALSE(p.run.instrumentFailed());
  EXPECT_FALSE(p.log.bySlot[0].empty());
  EXPECT_FALSE(p.log.bySlot[1].empty());
  expectRecordsHoldReported(p, before);
}

// The messages of a run an instrument broke: one time-out, then the end of the run.
void expectEndedByTimeout(const Program& p) {
  EXPECT_EQ(timeouts(p.messages), 1u);
  ASSERT_FALSE(p.messages.texts().empty());
  EXPECT_EQ(p.messages.texts().back(), "End of Job.");
  EXPECT_TRUE(p.run.instrumentFailed());
  EXPECT_FALSE(p.run.running());
  // Only reconnecting and leaving remain, so nobody starts a run on a dead link.
  EXPECT_FALSE(p.display.isEnabled("StartReading"));
  EXPECT_TRUE(p.display.isEnabled("Connect_to_Instrument_Menu"));
}

TEST(InstrumentFaults, SilentMeterMidRunTimesOutKeepsBothRecordsAndRecovers) {
  TempFolder folder;
  Program p(folder.root());
  p.connect(2);
  p.logUntilStop();
  bool silenced = false;
  p.pump.set([&](std::int64_t) {
    if (!silenced && p.tables.ScansDone[0] + p.tables.ScansDone[1] >= 5) {
      silenced = true;
      p.meter(0).setFault("silent");
    }
  });
  p.start();
  ASSERT_TRUE(silenced);
  expectEndedByTimeout(p);
  EXPECT_FALSE(p.log.bySlot[0].empty());
  expectRecordsHoldReported(p, {0, 0});
  reconnectAndRunAgain(p);
}

// A connection that drops at exchange N, for every N from the read-back of the channel functions
// through triggers, polls and fetches of several scans.
TEST(InstrumentFaults, ConnectionDroppedAtAnyExchange) {
  int failedRuns = 0;
  for (int n = 0; n <= 64; ++n) {
    SCOPED_TRACE("drop after " + std::to_string(n) + " exchanges");
    TempFolder folder;
    Program p(folder.root());
    p.connect(2);
    p.logUntilStop();
    p.stopAfterScans(6);
    p.meter(0).setFault("drop-after:" + std::to_string(n));
    p.start();
    if (p.run.instrumentFailed()) {
      ++failedRuns;
      expectEndedByTimeout(p);
    } else {
      EXPECT_EQ(p.messages.texts(), std::vector<std::string>{"End of Job."});
    }
    expectRecordsHoldReported(p, {0, 0});
    reconnectAndRunAgain(p);
    if (HasFailure()) break;
  }
  // The sweep must reach past the start of the run into its scans.
  EXPECT_GT(failedRuns, 30);
}

// A read that fails part-way through a fetch answer of three reads: the scans completed from the
// reads before it are kept, nothing half-read is stored.
TEST(InstrumentFaults, ReadFailingInsideALongAnswer) {
  auto setUp = [](Program& p) {
    p.connect(1);
    p.tables.setup[0].scanCount_Status = 0;  // one fetch of 200 readings, about 2.8 KB
    p.tables.setup[0].ScanCount = "200";
    p.tables.DatabaseName[0] = "Record1";
  };
  std::int64_t totalReads = 0;
  {
    TempFolder folder;
    Program p(folder.root());
    setUp(p);
    const std::int64_t startReads = p.visa.reads();
    p.start();
    ASSERT_EQ(p.messages.texts(), std::vector<std::string>{"End of Job."});
    ASSERT_EQ(p.log.bySlot[0].size(), 10u);
    totalReads = p.visa.reads() - startReads;
  }
  for (std::int64_t k = 1; k <= totalReads; ++k) {
    SCOPED_TRACE("read " + std::to_string(k) + " of " + std::to_string(totalReads) + " fails");
    for (visa::ViStatus status : {visa::VI_ERROR_CONN_LOST, visa::VI_ERROR_TMO}) {
      TempFolder folder;
      Program p(folder.root());
      setUp(p);
      p.visa.failRead = p.visa.reads() + k;
      p.visa.failStatus = status;
      p.start();
      expectEndedByTimeout(p);
      if (fs::exists(p.recordPath("Record1"))) {
        expectRecordHoldsReportedScans(p.recordPath("Record1"), 0, p.log.bySlot[0]);
      }
      // Only whole scans of 20 readings are ever reported.
      for (const auto& row : p.log.bySlot[0]) {
        for (const auto& v : row.channels) EXPECT_TRUE(strictNumber(v).has_value()) << v;
      }
      p.visa.failRead = 0;
      p.selection.CheckDev();
      setUp(p);
      p.start();
      EXPECT_EQ(p.messages.texts(), std::vector<std::string>{"End of Job."});
      EXPECT_EQ(p.log.bySlot[0].size(), 10u);
    }
    if (HasFailure()) break;
  }
}

// A meter that starts answering nonsense: its state never reads as progress, so the run waits
// until the user presses Stop; nothing of the nonsense is stored and the next run is normal.
TEST(InstrumentFaults, GarbageAnswersMidRunStoreNothingAndStopStillWorks) {
  TempFolder folder;
  Program p(folder.root());
  p.connect(2);
  p.logUntilStop();
  LocalMs garbageSince = 0;
  p.pump.set([&](std::int64_t) {
    if (garbageSince == 0 && p.tables.ScansDone[0] >= 3) {
      garbageSince = p.clock.now();
      p.meter(0).setFault("garbage");
    }
    if (garbageSince != 0 && p.clock.now() - garbageSince > 60000 && p.run.running()) {
      p.run.StopReading_Click();
    }
  });
  p.start();
  EXPECT_EQ(p.messages.texts(), std::vector<std::string>{"End of Job."});
  EXPECT_EQ(p.log.bySlot[0].size(), 3u);
  // The other meter kept logging meanwhile.
  EXPECT_GT(p.log.bySlot[1].size(), 30u);
  expectRecordsHoldReported(p, {0, 0});
  reconnectAndRunAgain(p);
}

// Whatever bytes a fetch answer holds are stored as they came, and the record stays a record the
// browser can show and export.
TEST(InstrumentFaults, GarbageFetchAnswerIsStoredVerbatimAndStaysBrowsable) {
  TempFolder folder;
  Program p(folder.root());
  p.connect(1);
  p.tables.setup[0].scanCount_Status = 1;
  p.tables.setup[0].ScanCount = "3";
  p.tables.DatabaseName[0] = "Record1";
  // 70 fields of bytes of every value (NULs, quotes, line feeds, invalid UTF-8) but the comma:
  // three scans of 20 and a rest.
  std::string junk;
  std::uint32_t h = 7;
  for (int field = 0; field < 70; ++field) {
    if (field > 0) junk += ",";
    for (int i = 0; i < 1 + field % 23; ++i) {
      h = h * 1103515245u + 12345u;
      const char c = static_cast<char>(h >> 23);
      junk.push_back(c == ',' ? ';' : c);
    }
  }
  junk += "\n";
  p.visa.fetchAnswer = [&](visa::ViSession) { return std::optional<std::string>(junk); };
  const LocalMs started = p.clock.now();
  p.pump.set([&](std::int64_t) {
    if (p.clock.now() - started > 600000 && p.run.running()) p.run.StopReading_Click();
  });
  p.start();
  // Three scans of 20, and the rest of 10 fetched readings kept as a fourth rather than dropped.
  EXPECT_EQ(p.log.bySlot[0].size(), 4u);
  EXPECT_EQ(p.messages.texts(), std::vector<std::string>{"End of Job."});
  ASSERT_FALSE(p.log.bySlot[0].empty());
  expectRecordHoldsReportedScans(p.recordPath("Record1"), 0, p.log.bySlot[0]);

  RecordingMessages shown;
  store::RecordBrowser browser(folder.root(), shown);
  browser.Open("Record1.mdb");
  EXPECT_EQ(shown.texts(), std::vector<std::string>{});
  EXPECT_EQ(browser.rows().size(), p.log.bySlot[0].size());
  ASSERT_TRUE(browser.buttons().csv);
  EXPECT_TRUE(browser.exportCsv(folder.root() / "junk.csv").ok());
  EXPECT_GT(fs::file_size(folder.root() / "junk.csv"), junk.size());
}

// Answers of 1023..1025 and 2047..2049 bytes, with and without a line feed at the end, and with
// the read boundary moved through every position of a reading: every reading lands on its channel.
TEST(InstrumentFaults, AnswersEndingOnTheReadBuffer) {
  constexpr int kReadings = 73;  // three scans of 20 and a last one of 13
  for (std::size_t length : {1023u, 1024u, 1025u, 2047u, 2048u, 2049u}) {
    for (const std::string terminator : {"\n", ""}) {
      for (int shift = 0; shift < 14; ++shift) {
        SCOPED_TRACE(std::to_string(length) + " bytes, terminator " +
                     (terminator.empty() ? "none" : "LF") + ", shift " + std::to_string(shift));
        // Readings "+1.<index digits>E+00" whose widths add up to the length; `shift` moves
        // width from the front to the back, and with it where the 1024th byte falls.
        const std::size_t widths = length - terminator.size() - (kReadings - 1);
        std::vector<std::size_t> width(kReadings, widths / kReadings);
        for (std::size_t i = 0; i < widths % kReadings; ++i) width[i] += 1;
        for (int s = 0; s < shift; ++s) {
          width[static_cast<std::size_t>(s)] -= 1;
          width[kReadings - 1 - static_cast<std::size_t>(s)] += 1;
        }
        std::vector<std::string> values;
        std::string answer;
        for (int i = 0; i < kReadings; ++i) {
          std::string digits = std::to_string(i + 1);
          const std::size_t w = width[static_cast<std::size_t>(i)];
          ASSERT_GE(w, digits.size() + 7);
          digits.resize(w - 7, '0');
          values.push_back("+1." + digits + "E+00");
          if (i > 0) answer += ",";
          answer += values.back();
        }
        answer += terminator;
        ASSERT_EQ(answer.size(), length);

        TempFolder folder;
        Program p(folder.root());
        p.connect(1);
        p.tables.setup[0].scanCount_Status = 0;
        p.tables.setup[0].ScanCount = std::to_string(kReadings);
        p.tables.DatabaseName[0] = "Record1";
        p.visa.fetchAnswer = [&](visa::ViSession) { return std::optional<std::string>(answer); };
        p.start();
        EXPECT_EQ(p.messages.texts(), std::vector<std::string>{"End of Job."});
        const auto& scans = p.log.bySlot[0];
        ASSERT_EQ(scans.size(), 4u);
        for (int i = 0; i < kReadings; ++i) {
          EXPECT_EQ(scans[static_cast<std::size_t>(i / 20)].channels[static_cast<std::size_t>(i % 20)],
                    values[static_cast<std::size_t>(i)]);
        }
        for (int c = 13; c < 20; ++c) EXPECT_EQ(scans[3].channels[static_cast<std::size_t>(c)], " ");
        expectRecordHoldsReportedScans(p.recordPath("Record1"), 0, scans);
        if (HasFailure()) return;
      }
    }
  }
}

// A fetch answer of three reads on a card with NONE channels between the ones in use: filling
// resumes after each read at the channel the sweep had reached, so every reading lands on its
// own channel and the unused ones stay blank.
TEST(InstrumentFaults, LongAnswerOverChannelsWithGapsResumesAtTheRightChannel) {
  const std::vector<int> active = {0, 2, 3, 7, 11, 12, 19};
  constexpr int kSweeps = 30;  // 210 readings, about 2.9 KB
  TempFolder folder;
  Program p(folder.root());
  for (int c = 0; c < 20; ++c) {
    const bool used = std::find(active.begin(), active.end(), c) != active.end();
    p.meter(0).write("rout:scan:func " + std::to_string(c + 1) + ",\"" + (used ? "VOLT" : "NONE") +
                     "\"\n");
  }
  p.connect(1);
  ASSERT_EQ(p.display.ActiveChannelCount[0], 7);
  std::vector<std::string> values;
  std::string answer;
  for (int i = 0; i < kSweeps * 7; ++i) {
    char v[32];
    std::snprintf(v, sizeof v, "+%d.%06dE+00", i % 10, i);
    values.emplace_back(v);
    answer += (i ? "," : "") + values.back();
  }
  answer += "\n";
  ASSERT_GT(answer.size(), 2048u);
  p.tables.setup[0].scanCount_Status = 0;
  p.tables.setup[0].ScanCount = std::to_string(kSweeps * 7);
  p.tables.DatabaseName[0] = "Record1";
  p.visa.fetchAnswer = [&](visa::ViSession) { return std::optional<std::string>(answer); };
  p.start();
  EXPECT_EQ(p.messages.texts(), std::vector<std::string>{"End of Job."});
  const auto& scans = p.log.bySlot[0];
  ASSERT_EQ(scans.size(), static_cast<std::size_t>(kSweeps));
  for (int s = 0; s < kSweeps; ++s) {
    const auto& ch = scans[static_cast<std::size_t>(s)].channels;
    std::size_t k = 0;
    for (int c = 0; c < 20; ++c) {
      const bool used = k < active.size() && active[k] == c;
      EXPECT_EQ(ch[static_cast<std::size_t>(c)],
                used ? values[static_cast<std::size_t>(s * 7) + k] : std::string(" "))
          << "scan " << s + 1 << " CH" << c + 1;
      k += used ? 1 : 0;
    }
  }
  expectRecordHoldsReportedScans(p.recordPath("Record1"), 0, scans);
}

}  // namespace
}  // namespace kalivor::hardening
