// SPDX-License-Identifier: MIT
#pragma once
// Store and forward: every scan of the local records is copied to the central PostgreSQL
// database, in batches of one transaction each, exactly once. The local record stays the source
// of truth and the backlog: the forwarder keeps, inside each record, how far it got; the central
// tables refuse doubles, so a batch sent again after a crash or a lost answer changes nothing.
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "central/local_record.h"
#include "central/pg.h"
#include "common/clock.h"

namespace kalivor::central {

struct ForwarderConfig {
  std::string url;                     // postgresql://user@host/db
  std::string bench;                   // this bench's name (see defaultBenchName)
  std::filesystem::path dataFolder;    // records live in its db/
  int batchScans = 500;                // scans per transaction
  std::uint32_t pollMs = 1000;         // how often --follow looks for new scans
  std::uint32_t firstRetryMs = 1000;   // back-off after a failure, doubled up to maxRetryMs
  std::uint32_t maxRetryMs = 60'000;
};

// The central store as the user chose it for a run or for the window: off while `url` is empty;
// an empty `bench` is the host name.
struct CentralChoice {
  std::string url;
  std::string bench;
  bool on() const { return !url.empty(); }
};

struct ForwarderConfig;
ForwarderConfig forwarderConfig(const CentralChoice& choice, const std::filesystem::path& dataFolder);

// The host name, or "bench" when it cannot be had.
std::string defaultBenchName();

struct RecordForwardStatus {
  std::string record;           // file name, "Record1.mdb"
  std::string serial;           // the instrument of its latest described run, if any
  std::int64_t waiting = 0;     // scans not yet in the central store
  std::int64_t sent = 0;        // scans sent by this forwarder
  std::int64_t skipped = 0;     // rows without a scan number, never sent
  std::string lastError;
};

// What the windows and the CLI show: a plain copy, taken under the forwarder's lock.
struct ForwarderStatus {
  bool connected = false;
  std::int64_t scansWaiting = 0;
  std::int64_t scansSent = 0;
  std::string lastError;        // the latest failure (empty once a pass went through)
  int failuresInRow = 0;
  int passes = 0;               // passes made; before the first, nothing above is known yet
  std::vector<RecordForwardStatus> records;
};

class Forwarder {
 public:
  Forwarder(ForwarderConfig config, Clock& clock);
  ~Forwarder();
  Forwarder(const Forwarder&) = delete;
  Forwarder& operator=(const Forwarder&) = delete;

  // One pass: connects when needed, then sends every record's backlog (all of it, batch after
  // batch, until done or stop is asked). True when every record is fully sent.
  bool pass();
  // Counts what waits in every record without reaching for the server (the status shows it).
  void recount();
  // Passes until the backlog is sent; a failed pass is tried again after the back-off, at most
  // `attempts` times in all. True when everything was sent.
  bool sendBacklog(int attempts);
  // Passes until stop is asked: polls for new scans, backs off while the server is away.
  // `afterPass` (optional) sees the status after each pass.
  void follow(const std::function<void(const ForwarderStatus&)>& afterPass = {});

  void requestStop() { stop_ = true; }
  void clearStop() { stop_ = false; }
  bool stopRequested() const { return stop_; }
  // Whether the latest pass left nothing waiting.
  bool lastPassAllSent() const { return lastPassAllSent_; }
  ForwarderStatus status() const;

 private:
  // A run as the central store knows it: its row, and how its channels' readings are scaled.
  struct RunInfo {
    std::string sent;  // what was sent about it, to send it again only when it changed
    std::int64_t ref = 0;
    std::map<int, std::pair<double, double>> scale;  // channel -> m, b
    std::map<int, std::string> unit;
  };
  enum class Outcome { Sent, LocalFailure, ServerFailure };

  bool ensureConnected();
  Outcome forwardRecord(const std::string& fileName, RecordForwardStatus& st);
  bool sendRuns(const std::string& fileName, const Progress& progress,
                const store::RecordMeta& meta, const std::set<std::int64_t>& needed,
                std::string& error);
  bool sendBatch(const std::vector<LocalScan>& scans, const std::vector<store::RunRow>& runs,
                 const Progress& progress, std::string& error);
  Outcome sendAlarms(LocalRecord& record, const std::string& fileName, Progress& progress,
                     const store::RecordMeta& meta, std::string& error);
  void countOnly(const std::string& fileName, RecordForwardStatus& st);
  void pause(std::uint32_t ms);
  // Writes the progress into the record, or keeps it here while the run holds the record.
  bool keepProgress(LocalRecord& record, const std::string& fileName, const Progress& progress);
  std::map<std::int64_t, RunInfo>& runsOf(const std::string& recordUid);

  ForwarderConfig config_;
  Clock& clock_;
  std::atomic<bool> stop_{false};
  PgConnection conn_;
  std::string databaseUid_;  // of the database last reached
  std::string benchId_;
  // Per (database uid, record uid): the runs sent through this connection.
  std::map<std::string, std::map<std::int64_t, RunInfo>> runs_;
  std::map<std::string, std::string> stamps_;  // file name -> its stamp when last fully sent
  std::map<std::string, RecordForwardStatus> records_;
  // Progress not yet written into its record, which a run kept busy; by database uid / file.
  std::map<std::string, Progress> unsaved_;
  int passes_ = 0;
  bool lastPassAllSent_ = false;
  mutable std::mutex statusMutex_;
  ForwarderStatus status_;
};

// A forwarder on a thread of its own, started and stopped by its owner (the run, the window).
class BackgroundForwarder {
 public:
  BackgroundForwarder(ForwarderConfig config, Clock& clock);
  // Waits for a last pass begun by finishInBackground (up to its budget), then stops.
  ~BackgroundForwarder();
  void start();
  // Asks the thread to end and waits for it: promptly, as every wait for the server looks at the
  // stop; the batch under way is rolled back by the server and goes again next time.
  void stop();
  // Ends the following and begins one last pass of what waits, on a thread of its own, without
  // waiting for it: the scans of a run that just ended go now. While the server was failing it
  // only counts what waits (a pass would just wait for the server's time-out). The pass gets
  // `budgetMs` (on the clock given at construction) from now; what is left goes on the next start.
  void finishInBackground(std::uint32_t budgetMs);
  // Waits for that last pass until its budget is spent, then stops it. True when every record
  // was fully sent.
  bool waitFinished();
  // Both of the above in one.
  bool finish(std::uint32_t budgetMs);
  bool running() const { return thread_.joinable(); }
  ForwarderStatus status() const { return forwarder_.status(); }

 private:
  Clock& clock_;
  Forwarder forwarder_;
  std::thread thread_;
  std::thread finisher_;
  std::mutex finishMutex_;
  bool abandoned_ = false;  // the last pass is no longer wanted (under finishMutex_)
  LocalMs deadline_ = 0;
  std::atomic<bool> passDone_{false};
  std::atomic<bool> allSent_{false};
};

// The central store's state for the instrument that logs into record file `recordFile`
// ("Record1.mdb"; empty: it logs into none): "connected, 0 scans waiting",
// "not connected, 42 scans waiting (connection refused)".
// The file name ("Record1.mdb") of the record an instrument logs into by its setup's name
// ("Record1"; "0" or empty: none), or "" when it logs into none.
std::string loggedRecordFile(const std::filesystem::path& dataFolder, const std::string& record);

struct CentralState {
  bool connected = false;
  std::int64_t waiting = 0;
  std::string error;
};
CentralState centralStateOf(const ForwarderStatus& status, const std::string& recordFile);
std::string centralStateText(const CentralState& state, bool hasRecord = true);
std::string centralStateText(const ForwarderStatus& status, const std::string& recordFile);

}  // namespace kalivor::central
