// SPDX-License-Identifier: MIT
#pragma once
// The program as the windows wire it, over simulated meters and real SQLite records in a
// temporary folder, with a VISA layer in between that can break reads or answer fetch? with bytes
// of our choosing. Every scan the run reports as stored is logged, so a test can hold the record
// files against what the user was told.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "acquisition/live_display.h"
#include "acquisition/run_controller.h"
#include "acquisition/sqlite_run_records.h"
#include "app/selection.h"
#include "common/event_pump.h"
#include "common/messages.h"
#include "instrument/instrument_link.h"
#include "sim/sim_config.h"
#include "sim/sim_provider.h"
#include "visa/resource_manager.h"

namespace kalivor::hardening {

namespace fs = std::filesystem;

// Passes everything to the real VISA layer, except what a test asks to break.
class FaultVisa final : public visa::VisaApi {
 public:
  explicit FaultVisa(visa::VisaApi& inner) : inner_(inner) {}

  // Read number `failRead` (counted from 1 over all sessions) fails with `failStatus`, as a cable
  // pulled in the middle of an answer would.
  std::int64_t failRead = 0;
  visa::ViStatus failStatus = visa::VI_ERROR_CONN_LOST;
  // When set, fetch? is answered with these bytes (in reads of at most the reader's count)
  // instead of the meter's own answer.
  std::function<std::optional<std::string>(visa::ViSession)> fetchAnswer;

  std::int64_t reads() const { return reads_; }

  std::string description() const override { return inner_.description(); }
  visa::ViStatus viOpenDefaultRM(visa::ViSession* rm) override { return inner_.viOpenDefaultRM(rm); }
  visa::ViStatus viFindRsrc(visa::ViSession rm, const char* expr, visa::ViFindList* list,
                            visa::ViUInt32* count, char* desc) override {
    return inner_.viFindRsrc(rm, expr, list, count, desc);
  }
  visa::ViStatus viFindNext(visa::ViFindList list, char* desc) override {
    return inner_.viFindNext(list, desc);
  }
  visa::ViStatus viOpen(visa::ViSession rm, const char* name, visa::ViAccessMode mode,
                        visa::ViUInt32 timeout, visa::ViSession* session) override {
    return inner_.viOpen(rm, name, mode, timeout, session);
  }
  visa::ViStatus viSetAttribute(visa::ViObject object, visa::ViAttr attribute,
                                visa::ViAttrState value) override {
    return inner_.viSetAttribute(object, attribute, value);
  }
  visa::ViStatus viWrite(visa::ViSession session, const unsigned char* buf, visa::ViUInt32 count,
                         visa::ViUInt32* written) override {
    const visa::ViStatus st = inner_.viWrite(session, buf, count, written);
    const std::string_view message(reinterpret_cast<const char*>(buf), count);
    pending_.erase(session);
    if (message == "fetch?\n" && fetchAnswer && visa::succeeded(st)) {
      if (auto bytes = fetchAnswer(session)) pending_[session] = {std::move(*bytes), 0, true};
    }
    return st;
  }
  visa::ViStatus viRead(visa::ViSession session, unsigned char* buf, visa::ViUInt32 count,
                        visa::ViUInt32* got) override {
    if (++reads_ == failRead) {
      *got = 0;
      return failStatus;
    }
    auto it = pending_.find(session);
    if (it == pending_.end()) return inner_.viRead(session, buf, count, got);
    Pending& p = it->second;
    if (p.drainMeter) {
      // The meter's own answer is read and dropped, so it does not linger in the session.
      unsigned char scratch[4096];
      visa::ViUInt32 n = 0;
      while (inner_.viRead(session, scratch, sizeof scratch, &n) == visa::VI_SUCCESS_MAX_CNT) {
      }
      p.drainMeter = false;
    }
    const std::size_t n = std::min<std::size_t>(count, p.bytes.size() - p.pos);
    std::memcpy(buf, p.bytes.data() + p.pos, n);
    p.pos += n;
    *got = static_cast<visa::ViUInt32>(n);
    if (p.pos < p.bytes.size()) return visa::VI_SUCCESS_MAX_CNT;
    pending_.erase(it);
    return visa::VI_SUCCESS;
  }
  visa::ViStatus viClose(visa::ViObject object) override { return inner_.viClose(object); }

 private:
  struct Pending {
    std::string bytes;
    std::size_t pos = 0;
    bool drainMeter = true;
  };
  visa::VisaApi& inner_;
  std::int64_t reads_ = 0;
  std::map<visa::ViSession, Pending> pending_;
};

// Passes everything to the real records, except the append a test wants to fail.
class FaultRecords final : public RunRecords {
 public:
  explicit FaultRecords(RunRecords& inner) : inner_(inner) {}
  int failAppend = 0;  // the n-th append (from 1, over all slots) fails
  int appends = 0;

  std::string CreateRunDatabase(int slot, const std::string& name) override {
    return inner_.CreateRunDatabase(slot, name);
  }
  bool exists(int slot) const override { return inner_.exists(slot); }
  std::string OpenRunDatabase(int slot) override { return inner_.OpenRunDatabase(slot); }
  double RowBase(int slot) const override { return inner_.RowBase(slot); }
  std::string AppendReadingRow(int slot, const std::string& num, const std::string& time,
                               const std::array<std::string, kMaxChannels>& channels) override {
    if (++appends == failAppend) return "Cannot store a scan in the record of slot " + std::to_string(slot) + ": disk full";
    return inner_.AppendReadingRow(slot, num, time, channels);
  }
  void CloseRunDatabase(int slot) override { inner_.CloseRunDatabase(slot); }

 private:
  RunRecords& inner_;
};

using ChannelTexts = std::array<std::string, kMaxChannels>;

// One row of table DATA as stored.
struct StoredRow {
  std::string num;
  std::string time;
  ChannelTexts channels;
  friend bool operator==(const StoredRow&, const StoredRow&) = default;
};

inline void PrintTo(const StoredRow& r, std::ostream* os) {
  *os << "{" << r.num << ", " << r.time << ", " << r.channels[0] << ", " << r.channels[1] << "...}";
}

// What the run told its observer: each scan reported stored, with the texts it had then.
class ScanLog final : public RunObserver {
 public:
  ScanLog(const ScanTables& tables, const RunController& run) : tables_(tables), run_(run) {}
  void scanStored(int slot, std::int64_t n) override {
    StoredRow row;
    row.num = std::to_string(n);
    row.time = run_.LastFetchTimeText;
    const auto& texts = tables_.ReadingText[static_cast<std::size_t>(slot)];
    std::copy_n(texts.begin(), kMaxChannels, row.channels.begin());
    bySlot[slot].push_back(row);
  }
  std::map<int, std::vector<StoredRow>> bySlot;

 private:
  const ScanTables& tables_;
  const RunController& run_;
};

// The rows of a record file as they lie on disk (no renumbering), or nullopt with a reason when
// the file cannot be read as a record. Also runs the integrity check.
struct RecordContents {
  std::string integrity;
  std::vector<StoredRow> rows;
};

inline std::optional<RecordContents> readRecord(const fs::path& file, std::string* why = nullptr) {
  sqlite3* db = nullptr;
  auto fail = [&](const std::string& what) -> std::optional<RecordContents> {
    if (why) *why = what + (db ? std::string(": ") + sqlite3_errmsg(db) : std::string());
    sqlite3_close(db);
    return std::nullopt;
  };
  if (!fs::exists(file)) return fail("no file " + file.string());
  if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
    return fail("cannot open");
  }
  sqlite3_busy_timeout(db, 2000);
  RecordContents out;
  sqlite3_stmt* s = nullptr;
  if (sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &s, nullptr) != SQLITE_OK) {
    return fail("integrity check");
  }
  while (sqlite3_step(s) == SQLITE_ROW) {
    if (!out.integrity.empty()) out.integrity += "; ";
    out.integrity += reinterpret_cast<const char*>(sqlite3_column_text(s, 0));
  }
  sqlite3_finalize(s);
  std::string sql = "SELECT NUM, Time";
  for (int c = 1; c <= kMaxChannels; ++c) sql += ", CH" + std::to_string(c);
  sql += " FROM DATA ORDER BY rowid";
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &s, nullptr) != SQLITE_OK) return fail("select");
  auto text = [&](int col) {
    const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(s, col));
    return p ? std::string(p, static_cast<std::size_t>(sqlite3_column_bytes(s, col))) : "<NULL>";
  };
  while (sqlite3_step(s) == SQLITE_ROW) {
    StoredRow r;
    r.num = text(0);
    r.time = text(1);
    for (int c = 0; c < kMaxChannels; ++c) r.channels[static_cast<std::size_t>(c)] = text(2 + c);
    out.rows.push_back(std::move(r));
  }
  sqlite3_finalize(s);
  sqlite3_close(db);
  return out;
}

// A temporary data folder, removed with everything in it.
class TempFolder {
 public:
  TempFolder() {
    std::string pattern = (fs::temp_directory_path() / "kalivor-hardening-XXXXXX").string();
    root_ = ::mkdtemp(pattern.data());
  }
  ~TempFolder() {
    std::error_code ec;
    for (const auto& e : fs::recursive_directory_iterator(root_, ec)) {
      fs::permissions(e.path(), fs::perms::owner_all, fs::perm_options::add, ec);
    }
    fs::remove_all(root_, ec);
  }
  const fs::path& root() const { return root_; }

 private:
  fs::path root_;
};

// The windowed program's objects, without windows: selection, run controller and SQLite records.
struct Program {
  explicit Program(const fs::path& dataFolder,
                   std::vector<sim::SimInstrumentConfig> meters = sim::defaultInstruments())
      : sim(makeSim(clock, std::move(meters))),
        visa(*rm),
        link(visa, clock, messages),
        records(dataFolder),
        faultyRecords(records),
        run(link, tables, display, faultyRecords, pump),
        selection(link, tables, display, run),
        log(tables, run) {
    run.setObserver(&log);
  }

  sim::SimInstrument& meter(std::size_t i) { return sim->instrument(i); }
  fs::path recordPath(const std::string& name) const {
    return records.dataFolder() / "db" / (name + ".mdb");
  }

  // The connect window: refresh, tick the first n, OK, then the main window takes over.
  void connect(int n) {
    selection.Find_Button_Click();
    for (int i = 0; i < n; ++i) selection.Check1[static_cast<std::size_t>(i)] = true;
    selection.ok_Button_Click();
    selection.applyToMainWindow();  // reads every slot's channel functions back
  }

  // Every slot in use runs "By Pressing Stop Button" every `scanSeconds` into Record<slot+1>.
  void logUntilStop(const std::string& scanSeconds = "1") {
    for (int d = 0; d < link.InstrumentCount; ++d) {
      ScanSetup& s = tables.setup[static_cast<std::size_t>(d)];
      s.scanCount_Status = 2;
      s.ScanTime = scanSeconds;
      tables.DatabaseName[static_cast<std::size_t>(d)] = "Record" + std::to_string(d + 1);
    }
  }

  // Presses Stop once `total` scans have been stored over all slots.
  void stopAfterScans(std::int64_t total) {
    pump.set([this, total](std::int64_t) {
      std::int64_t done = 0;
      for (int d = 0; d < kMaxInstruments; ++d) done += tables.ScansDone[static_cast<std::size_t>(d)];
      if (done >= total && run.running()) run.StopReading_Click();
    });
  }

  void start() {
    log.bySlot.clear();
    messages.clear();
    run.StartReading_Click();
    run.driveUntilEnded();
  }

  ManualClock clock;
  std::unique_ptr<visa::ResourceManager> rm;
  sim::SimProvider* sim;
  FaultVisa visa;
  RecordingMessages messages;
  InstrumentLink link;
  ScanTables tables;
  LiveDisplay display;
  SqliteRunRecords records;
  FaultRecords faultyRecords;
  CallbackEventPump pump;
  RunController run;
  InstrumentSelection selection;
  ScanLog log;

 private:
  sim::SimProvider* makeSim(ManualClock& c, std::vector<sim::SimInstrumentConfig> meters) {
    auto p = std::make_unique<sim::SimProvider>(c, std::move(meters));
    sim::SimProvider* raw = p.get();
    std::vector<std::unique_ptr<visa::DeviceProvider>> providers;
    providers.push_back(std::move(p));
    rm = std::make_unique<visa::ResourceManager>(std::move(providers));
    return raw;
  }
};

// The record holds `before` rows from earlier runs, then exactly the scans the run reported
// stored, byte for byte, and passes SQLite's integrity check.
inline void expectRecordHoldsReportedScans(const fs::path& file, std::size_t before,
                                           const std::vector<StoredRow>& reported) {
  std::string why;
  const auto contents = readRecord(file, &why);
  ASSERT_TRUE(contents) << why;
  EXPECT_EQ(contents->integrity, "ok") << file;
  ASSERT_EQ(contents->rows.size(), before + reported.size())
      << file << ": rows on disk against rows reported stored";
  for (std::size_t i = 0; i < reported.size(); ++i) {
    EXPECT_EQ(reported[i].num, std::to_string(i + 1)) << "scans of a run count from 1";
    StoredRow expected = reported[i];
    expected.num = std::to_string(before + i + 1);
    EXPECT_EQ(contents->rows[before + i], expected) << file << " row " << before + i + 1;
  }
}

}  // namespace kalivor::hardening
