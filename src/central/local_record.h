// SPDX-License-Identifier: MIT
#pragma once
// The forwarder's own view of a local record file: the scans after a point, the optional tables
// that describe the record's runs, and the forwarding progress it keeps inside the file.
//
// It opens the record on a connection of its own and holds it only for one pass. In WAL mode its
// reads never block the run that appends; its only writes (the progress table) are one short
// transaction each, so a run's append waits a moment at most.
#include <sqlite3.h>

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "store/record_meta.h"

namespace kalivor::central {

inline constexpr int kChannels = 20;

struct LocalScan {
  std::int64_t rowid = 0;
  std::int64_t num = 0;
  std::string time;
  std::array<std::string, kChannels> channels;
};

// What the file remembers about forwarding to one central database.
struct Progress {
  std::string recordUid;       // this file's identity there (a record made anew gets a new one)
  std::int64_t lastRowid = 0;  // scans up to this row are in the central store
  std::int64_t lastNum = 0;    // NUM of that row, to notice a renumbered or shortened record
  std::int64_t alarmFrom = 0;  // alarms from this id on may still be new or change
};

// One row of the record's ALARMS as it stands: a field a hand-made row left empty (or filled with
// no number) is nullopt, so it stays NULL in the central store instead of turning into 0.
struct LocalAlarm {
  std::int64_t id = 0;
  std::int64_t runId = 0;  // none: the legacy run
  std::optional<std::int64_t> channel, num;
  std::string time;
  std::optional<double> value;
  std::string limitKind;
  std::optional<double> limitValue;
  std::optional<std::int64_t> clearedNum;
  std::string clearedTime;
};

class LocalRecord {
 public:
  ~LocalRecord() { close(); }
  // Opens an existing record (never creates one); false with error() when it is none.
  bool open(const std::filesystem::path& file);
  void close();
  const std::string& error() const { return error_; }
  // The last failure was another connection (the run) holding the record: try again later.
  bool busy() const { return busy_; }

  // The progress towards the central database `target` (its uid), reached through `url` (shown
  // without password). A record seen for the first time gets its identity stored before anything
  // is sent, so a crash cannot send its scans under two. With an empty target (the server not
  // reached yet) the progress last saved for `url` is read. Without `create` nothing is written
  // (a record never forwarded shows as progress 0).
  bool loadProgress(const std::string& target, const std::string& url, Progress& out,
                    bool create = true);
  bool saveProgress(const std::string& target, const std::string& url, const Progress& progress);
  // Whether the row `rowid` still exists with NUM `num` (else the record was renumbered, cut or
  // made anew, and forwarding starts again from its first scan; the central store drops doubles).
  bool rowStillThere(std::int64_t rowid, std::int64_t num, bool& there);

  // Up to `limit` scans stored after row `afterRowid`, in stored order. Rows whose NUM is no whole
  // number are passed over (skipped counts them): they have no number to be stored under.
  bool scansAfter(std::int64_t afterRowid, int limit, std::vector<LocalScan>& out,
                  std::int64_t& skipped);
  // Number of scans stored after row `afterRowid`.
  bool countAfter(std::int64_t afterRowid, std::int64_t& count);

  bool hasTable(const char* name, bool& has);
  // What the record says of its runs, their channels and alarms, read as every reader of records
  // reads it; run 0 (the scans no described run covers) is left out of the runs.
  bool meta(store::RecordMeta& out);
  // The alarms from id `fromId` on, by id (none when the record has no ALARMS table).
  bool alarmsFrom(std::int64_t fromId, std::vector<LocalAlarm>& out);

 private:
  bool fail(const std::string& action);

  sqlite3* db_ = nullptr;
  std::filesystem::path path_;
  std::string error_;
  bool busy_ = false;
};

// The run a record without a RUNS table (or a scan before its first described run) belongs to.
inline constexpr std::int64_t kLegacyRunId = 0;

// The run scan `num` belongs to: the described run with the greatest first scan at or below it,
// else the legacy run.
// Unlike RecordMeta::runOf, a scan past a run's last scan still belongs to it: the central store
// keys scans by their run, so this rule must stay as scans were always sent.
std::int64_t runOfScan(const std::vector<store::RunRow>& runs, std::int64_t num);

}  // namespace kalivor::central
