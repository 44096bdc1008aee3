// SPDX-License-Identifier: MIT
#pragma once
// What a record says about itself, beside its scans in DATA: the runs that wrote into it (RUNS),
// how each run's channels were set up (CHANNELS) and the alarm events of those runs (ALARMS).
//
// The tables are optional. A record made by an older release has none of them and every reader
// here treats that as "nothing described"; other programs may add tables of their own, which are
// ignored. The writing side lives on RunDatabase (run_database.h); this header holds the rows and
// the reading side.
//
// Times are texts in the record's own stamp form, "yyyy/MM/dd hh:mm:ss" (as DATA.Time). Scan
// numbers are DATA.NUM values; renumbering a record keeps them pointing at the same rows.
#include <sqlite3.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "store/store_types.h"

namespace kalivor::store {

// What a run knows about its instrument when it starts.
struct RunInfo {
  std::string startTime;
  std::string programVersion;
  std::string resource;
  std::string identity;  // the *idn? answer
  std::string serial;
  std::optional<int> cardCode;
  std::string cardDescription;
  std::string setupIni;  // the whole setup, as its setup file would hold it
};

// How one channel was measured in a run. Unset values are stored as NULL.
struct ChannelInfo {
  int channel = 0;  // 1..20
  std::string function;
  std::string sensorType;
  std::optional<double> shuntOhms;
  std::optional<double> offsetCurrent;
  std::optional<double> scaleM;  // no value: the channel is not scaled
  std::optional<double> scaleB;  // no value with scaleM set: 0
  std::string unitLabel;
  std::optional<double> alarmLow;  // no value: no limit
  std::optional<double> alarmHigh;

  bool scaled() const { return scaleM.has_value(); }
  double scale(double raw) const { return scaled() ? *scaleM * raw + scaleB.value_or(0.0) : raw; }
};

struct RunRow {
  std::int64_t runId = 0;
  std::optional<std::int64_t> firstNum;  // NUM of the run's first scan
  std::optional<std::int64_t> lastNum;   // NUM of its last stored scan; none before the first
  std::string endTime;                   // time of the last stored scan, or of the run's end
  RunInfo info;
};

struct ChannelRow {
  std::int64_t runId = 0;
  ChannelInfo info;
};

enum class LimitKind { Low, High };
const char* limitKindText(LimitKind kind);  // "low", "high"

struct AlarmRow {
  std::int64_t id = 0;
  std::int64_t runId = 0;
  int channel = 0;
  std::int64_t num = 0;  // the scan whose reading left the band
  std::string time;
  double value = 0;
  std::string limitKind;  // "low" or "high"
  double limitValue = 0;
  std::optional<std::int64_t> clearedNum;  // the scan whose reading came back; none until then
  std::string clearedTime;
};

// Everything a record describes; all empty for a record without the tables.
struct RecordMeta {
  std::vector<RunRow> runs;  // by run id
  std::vector<ChannelRow> channels;  // by run id, then channel
  std::vector<AlarmRow> alarms;  // by id

  bool described() const { return !runs.empty(); }
  // The run whose scans include `num` (the last such when runs overlap), or null.
  const RunRow* runOf(std::int64_t num) const;
  // The channel's row of run `runId`, or null.
  const ChannelInfo* channelOf(std::int64_t runId, int channel) const;
  std::vector<const ChannelRow*> channelsOf(std::int64_t runId) const;
};

// Reads the description of a record; a record without the tables gives an empty RecordMeta. The
// record is only read.
StoreStatus readRecordMeta(const std::filesystem::path& recordFile, RecordMeta& out);

namespace detail {

// The three tables, created when missing (inside the caller's write transaction).
int createMetaTables(sqlite3* db);
// Whether the record has a table of that name (any letter case).
bool hasTable(sqlite3* db, const char* name);
// Reads whichever of the tables exist into `out`; an SQLite result code. A table that cannot be
// read (made by hand with other columns) gives an error; callers that only enrich DATA with the
// description go on without it.
int loadMeta(sqlite3* db, RecordMeta& out);

}  // namespace detail
}  // namespace kalivor::store
