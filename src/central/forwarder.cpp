// SPDX-License-Identifier: MIT
#include "central/forwarder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>

#include "central/central_schema.h"
#include "central/scan_values.h"
#include "common/json.h"
#include "common/numbers.h"
#include "store/record_files.h"

namespace kalivor::central {
namespace {

namespace fs = std::filesystem;

// Every this many passes a record whose file looks unchanged is read anyway: a write within the
// file system's time-stamp granularity that leaves the sizes as they were looks like none.
constexpr int kFullCheckEvery = 10;

std::string jsonNumber(const std::optional<double>& v) {
  return v && std::isfinite(*v) ? exactNumberText(*v) : "null";
}

// The record's channels as the runs table's JSON: one object per channel.
std::string channelsJson(const std::vector<const store::ChannelRow*>& channels) {
  std::string out = "[";
  for (const store::ChannelRow* row : channels) {
    const store::ChannelInfo& c = row->info;
    if (out.size() > 1) out += ',';
    out += "{\"channel\":" + std::to_string(c.channel) +
           ",\"function\":" + jsonString(c.function) +
           ",\"sensor_type\":" + jsonString(c.sensorType) +
           ",\"shunt_ohms\":" + jsonNumber(c.shuntOhms) +
           ",\"offset_current\":" + jsonNumber(c.offsetCurrent) +
           ",\"scale_m\":" + jsonNumber(c.scaleM) + ",\"scale_b\":" + jsonNumber(c.scaleB) +
           ",\"unit\":" + jsonString(c.unitLabel) +
           ",\"alarm_low\":" + jsonNumber(c.alarmLow) +
           ",\"alarm_high\":" + jsonNumber(c.alarmHigh) + "}";
  }
  return out + "]";
}

std::optional<std::string> optText(const std::string& s) {
  if (s.empty()) return std::nullopt;
  return s;
}

std::optional<std::string> optNumber(const std::optional<std::int64_t>& v) {
  if (!v) return std::nullopt;
  return std::to_string(*v);
}

std::optional<std::string> optNumber(const std::optional<double>& v) {
  if (!v || !std::isfinite(*v)) return std::nullopt;
  return exactNumberText(*v);
}

// Size, change time and inode of the record and its -wal: unchanged means no new scan.
std::string fileStamp(const fs::path& file) {
  std::string stamp;
  for (const char* suffix : {"", "-wal"}) {
    fs::path p = file;
    p += suffix;
    struct stat st{};
    if (::stat(p.c_str(), &st) == 0) {
      stamp += std::to_string(st.st_ino) + ':' + std::to_string(st.st_size) + ':' +
               std::to_string(st.st_mtim.tv_sec) + '.' + std::to_string(st.st_mtim.tv_nsec) +
               ';';
    } else {
      stamp += "-;";
    }
  }
  return stamp;
}

void appendField(std::string& out, const std::optional<std::string>& v) {
  if (v) {
    appendCopyField(out, *v);
  } else {
    appendCopyNull(out);
  }
}

}  // namespace

ForwarderConfig forwarderConfig(const CentralChoice& choice, const fs::path& dataFolder) {
  ForwarderConfig config;
  config.url = choice.url;
  config.bench = choice.bench;
  config.dataFolder = dataFolder;
  return config;
}

std::string defaultBenchName() {
  char host[256] = {};
  if (::gethostname(host, sizeof host - 1) != 0 || host[0] == '\0') return "bench";
  return host;
}

Forwarder::Forwarder(ForwarderConfig config, Clock& clock)
    : config_(std::move(config)), clock_(clock) {
  if (config_.bench.empty()) config_.bench = defaultBenchName();
  if (config_.batchScans < 1) config_.batchScans = 1;
  // A stop ends any wait for the server at once (the batch under way is rolled back there).
  conn_.setCancel(&stop_);
}

Forwarder::~Forwarder() = default;

ForwarderStatus Forwarder::status() const {
  std::lock_guard lock(statusMutex_);
  return status_;
}

void Forwarder::pause(std::uint32_t ms) {
  // In slices, so a stop is seen soon.
  while (ms > 0 && !stop_) {
    const std::uint32_t step = std::min<std::uint32_t>(ms, 100);
    clock_.sleep(step);
    ms -= step;
  }
}

std::map<std::int64_t, Forwarder::RunInfo>& Forwarder::runsOf(const std::string& recordUid) {
  return runs_[databaseUid_ + '/' + recordUid];
}

bool Forwarder::ensureConnected() {
  if (conn_.ok()) return true;
  runs_.clear();
  std::string error;
  SchemaState schema;
  PgResult bench;
  if (!conn_.connect(config_.url)) {
    error = conn_.error();
  } else if (!migrateSchema(conn_, schema, error)) {
    // error set
  } else if (!(bench = conn_.exec("INSERT INTO benches (name) VALUES ($1) ON CONFLICT (name)"
                                  " DO UPDATE SET last_seen = now() RETURNING id",
                                  {config_.bench}))) {
    error = conn_.error();
  } else if (!conn_.run("SET synchronous_commit TO on") ||
             // One scan row (channel NULL) and one row per reading, moved on in one go.
             !conn_.run("CREATE TEMP TABLE IF NOT EXISTS kalivor_batch (run_ref bigint,"
                        " scan bigint, time timestamptz, time_text text, channel smallint,"
                        " value double precision, raw text, scaled double precision, unit text)"
                        " ON COMMIT DELETE ROWS")) {
    // A commit the server acknowledges must survive its crash, as the local progress moves on
    // it; a server set to synchronous_commit=off would lose scans we count as sent.
    error = conn_.error();
  } else {
    benchId_ = cell(bench.get(), 0, 0);
    databaseUid_ = schema.databaseUid;
  }
  if (!error.empty()) {
    conn_.close();
    std::lock_guard lock(statusMutex_);
    status_.connected = false;
    // A connect ended by a stop says nothing about the server.
    if (!stop_) status_.lastError = error;
    return false;
  }
  std::lock_guard lock(statusMutex_);
  status_.connected = true;
  return true;
}

void Forwarder::countOnly(const std::string& fileName, RecordForwardStatus& st) {
  LocalRecord rec;
  Progress p;
  std::int64_t waiting = 0;
  if (rec.open(store::recordFolder(config_.dataFolder) / fileName) &&
      rec.loadProgress(databaseUid_, maskedUrl(config_.url), p, false)) {
    if (auto it = unsaved_.find(databaseUid_ + '/' + fileName);
        it != unsaved_.end() && it->second.recordUid == p.recordUid) {
      p.lastRowid = std::max(p.lastRowid, it->second.lastRowid);
    }
    if (!rec.countAfter(p.lastRowid, waiting)) return;
    st.waiting = waiting;
  }
}

bool Forwarder::sendRuns(const std::string& fileName, const Progress& progress,
                         const store::RecordMeta& meta, const std::set<std::int64_t>& needed,
                         std::string& error) {
  auto& known = runsOf(progress.recordUid);
  auto upsert = [&](const store::RunRow* run, std::int64_t runId) -> bool {
    std::vector<const store::ChannelRow*> channels;
    if (run != nullptr) channels = meta.channelsOf(runId);
    std::string json = channelsJson(channels);
    std::string sent = fileName + '\x1f' + json;
    std::optional<std::int64_t> cardCode;
    if (run != nullptr && run->info.cardCode) cardCode = *run->info.cardCode;
    if (run != nullptr) {
      for (const std::string* s : {&run->info.startTime, &run->endTime,
                                   &run->info.programVersion, &run->info.resource,
                                   &run->info.identity, &run->info.serial,
                                   &run->info.cardDescription, &run->info.setupIni}) {
        sent += '\x1f' + *s;
      }
      sent += '\x1f' + optNumber(run->firstNum).value_or("") + '\x1f' +
              optNumber(run->lastNum).value_or("") + '\x1f' + optNumber(cardCode).value_or("");
    }
    if (auto it = known.find(runId); it != known.end() && it->second.sent == sent) return true;

    std::optional<std::string> instrument;
    if (run != nullptr && (!run->info.serial.empty() || !run->info.identity.empty())) {
      PgResult r = conn_.exec(
          "INSERT INTO instruments (serial, identity, card_code, card_description)"
          " VALUES ($1, $2, $3, $4) ON CONFLICT (serial, identity, card_code)"
          " DO UPDATE SET card_description = EXCLUDED.card_description RETURNING id",
          {run->info.serial, run->info.identity, std::to_string(cardCode.value_or(0)),
           run->info.cardDescription});
      if (!r) {
        error = conn_.error();
        return false;
      }
      instrument = cell(r.get(), 0, 0);
    }
    std::vector<std::optional<std::string>> params = {
        benchId_, fileName, progress.recordUid, std::to_string(runId), instrument};
    if (run != nullptr) {
      params.insert(params.end(),
                    {optNumber(run->firstNum), optNumber(run->lastNum),
                     utcTimestamp(run->info.startTime), utcTimestamp(run->endTime),
                     optText(run->info.programVersion), optText(run->info.resource),
                     optText(run->info.identity), optText(run->info.serial),
                     optNumber(cardCode), optText(run->info.cardDescription),
                     optText(run->info.setupIni), json});
    } else {
      params.resize(16);
      params.push_back(json);
    }
    PgResult r = conn_.exec(
        "INSERT INTO runs (bench_id, record_name, record_uid, run_id, instrument_id, first_scan,"
        " last_scan, start_time, end_time, program_version, resource, identity, serial,"
        " card_code, card_description, setup_ini, channels)"
        " VALUES ($1, $2, $3, $4, $5, $6, $7, $8, $9, $10, $11, $12, $13, $14, $15, $16, $17)"
        " ON CONFLICT (bench_id, record_uid, run_id) DO UPDATE SET"
        " record_name = EXCLUDED.record_name, instrument_id = EXCLUDED.instrument_id,"
        " first_scan = EXCLUDED.first_scan, last_scan = EXCLUDED.last_scan,"
        " start_time = EXCLUDED.start_time, end_time = EXCLUDED.end_time,"
        " program_version = EXCLUDED.program_version, resource = EXCLUDED.resource,"
        " identity = EXCLUDED.identity, serial = EXCLUDED.serial,"
        " card_code = EXCLUDED.card_code, card_description = EXCLUDED.card_description,"
        " setup_ini = EXCLUDED.setup_ini, channels = EXCLUDED.channels RETURNING id",
        params);
    if (!r) {
      error = conn_.error();
      return false;
    }
    RunInfo info;
    info.sent = std::move(sent);
    info.ref = static_cast<std::int64_t>(leadingNumber(cell(r.get(), 0, 0)));
    for (const store::ChannelRow* row : channels) {
      const store::ChannelInfo& c = row->info;
      if (c.scaleM) info.scale[c.channel] = {*c.scaleM, c.scaleB.value_or(0.0)};
      if (auto u = readingUnit(c.function, c.unitLabel)) info.unit[c.channel] = *u;
    }
    known[runId] = std::move(info);
    return true;
  };
  for (const store::RunRow& run : meta.runs) {
    if (!upsert(&run, run.runId)) return false;
  }
  if (needed.count(kLegacyRunId) != 0 && known.count(kLegacyRunId) == 0) {
    if (!upsert(nullptr, kLegacyRunId)) return false;
  }
  return true;
}

bool Forwarder::sendBatch(const std::vector<LocalScan>& scans,
                          const std::vector<store::RunRow>& runs,
                          const Progress& progress, std::string& error) {
  auto& known = runsOf(progress.recordUid);
  std::string data;
  data.reserve(scans.size() * 600);
  for (const LocalScan& scan : scans) {
    if (scan.num == 0) continue;
    const RunInfo& info = known.at(runOfScan(runs, scan.num));
    const std::string ref = std::to_string(info.ref);
    const std::string num = std::to_string(scan.num);
    const std::optional<std::string> time = utcTimestamp(scan.time);
    data += ref + '\t' + num + '\t';
    appendField(data, time);
    data += '\t';
    appendCopyField(data, scan.time);
    data += "\t\\N\t\\N\t\\N\t\\N\t\\N\n";
    for (int c = 1; c <= kChannels; ++c) {
      const std::string& raw = scan.channels[static_cast<std::size_t>(c - 1)];
      if (isBlankReading(raw)) continue;
      data += ref + '\t' + num + '\t';
      appendField(data, time);
      data += "\t\\N\t" + std::to_string(c) + '\t';
      const std::optional<double> value = readingValue(raw);
      appendField(data, value ? std::optional(exactNumberText(*value)) : std::nullopt);
      data += '\t';
      appendCopyField(data, raw);
      data += '\t';
      std::optional<double> scaled = value;
      if (auto s = info.scale.find(c); value && s != info.scale.end()) {
        scaled = s->second.first * *value + s->second.second;
      }
      appendField(data, optNumber(scaled));
      data += '\t';
      auto u = info.unit.find(c);
      appendField(data, u != info.unit.end() ? std::optional(u->second) : std::nullopt);
      data += '\n';
    }
  }
  if (data.empty()) return true;
  bool ok = conn_.run("BEGIN") && conn_.copyIn("COPY kalivor_batch FROM STDIN", data) &&
            conn_.run("INSERT INTO scans (run_ref, scan, time, time_text)"
                      " SELECT run_ref, scan, time, time_text FROM kalivor_batch"
                      " WHERE channel IS NULL ON CONFLICT DO NOTHING;"
                      "INSERT INTO readings (run_ref, scan, channel, time, value, raw, scaled,"
                      " unit) SELECT run_ref, scan, channel, time, value, raw, scaled, unit"
                      " FROM kalivor_batch WHERE channel IS NOT NULL ON CONFLICT DO NOTHING") &&
            conn_.run("COMMIT");
  if (!ok) {
    error = conn_.error();  // the cause, before the rollback's answer replaces it
    if (conn_.ok()) conn_.run("ROLLBACK");
  }
  return ok;
}

Forwarder::Outcome Forwarder::sendAlarms(LocalRecord& record, const std::string& fileName,
                                         Progress& progress, const store::RecordMeta& meta,
                                         std::string& error) {
  std::vector<LocalAlarm> alarms;
  if (!record.alarmsFrom(progress.alarmFrom, alarms)) {
    error = record.error();
    return Outcome::LocalFailure;
  }
  if (alarms.empty()) return Outcome::Sent;
  std::set<std::int64_t> needed;
  for (const LocalAlarm& a : alarms) {
    const bool described = std::any_of(meta.runs.begin(), meta.runs.end(),
                                       [&](const store::RunRow& r) { return r.runId == a.runId; });
    needed.insert(described ? a.runId : kLegacyRunId);
  }
  if (!sendRuns(fileName, progress, meta, needed, error)) return Outcome::ServerFailure;
  auto& known = runsOf(progress.recordUid);
  bool ok = conn_.run("BEGIN");
  std::int64_t nextFrom = alarms.back().id + 1;
  for (const LocalAlarm& a : alarms) {
    if (!ok) break;
    const auto it = known.find(a.runId);
    const RunInfo& info = it != known.end() ? it->second : known.at(kLegacyRunId);
    ok = static_cast<bool>(conn_.exec(
        "INSERT INTO alarms (run_ref, alarm_id, channel, scan, time, value, limit_kind,"
        " limit_value, cleared_scan, cleared_time) VALUES ($1, $2, $3, $4, $5, $6, $7, $8, $9,"
        " $10) ON CONFLICT (run_ref, alarm_id) DO UPDATE SET cleared_scan ="
        " EXCLUDED.cleared_scan, cleared_time = EXCLUDED.cleared_time",
        {std::to_string(info.ref), std::to_string(a.id), optNumber(a.channel), optNumber(a.num),
         utcTimestamp(a.time), optNumber(a.value), optText(a.limitKind),
         optNumber(a.limitValue), optNumber(a.clearedNum), utcTimestamp(a.clearedTime)}));
    // An alarm still open may yet be cleared: it is looked at again next time.
    if (!a.clearedNum && a.clearedTime.empty()) nextFrom = std::min(nextFrom, a.id);
  }
  ok = ok && conn_.run("COMMIT");
  if (!ok) {
    error = conn_.error();
    if (conn_.ok()) conn_.run("ROLLBACK");
    return Outcome::ServerFailure;
  }
  progress.alarmFrom = nextFrom;
  if (!keepProgress(record, fileName, progress)) {
    error = record.error();
    return Outcome::LocalFailure;
  }
  return Outcome::Sent;
}

bool Forwarder::keepProgress(LocalRecord& record, const std::string& fileName,
                             const Progress& progress) {
  const std::string key = databaseUid_ + '/' + fileName;
  if (record.saveProgress(databaseUid_, maskedUrl(config_.url), progress)) {
    unsaved_.erase(key);
    return true;
  }
  if (!record.busy()) return false;
  // Written with a later batch or pass; lost with this process at worst, and then the scans
  // since the last written progress are sent again and dropped as doubles centrally.
  unsaved_[key] = progress;
  return true;
}

Forwarder::Outcome Forwarder::forwardRecord(const std::string& fileName,
                                            RecordForwardStatus& st) {
  LocalRecord rec;
  Progress p;
  const std::string url = maskedUrl(config_.url);
  auto localFailure = [&] {
    st.lastError = rec.error();
    return Outcome::LocalFailure;
  };
  if (!rec.open(store::recordFolder(config_.dataFolder) / fileName)) return localFailure();
  if (!rec.loadProgress(databaseUid_, url, p)) {
    countOnly(fileName, st);
    return localFailure();
  }
  // Progress a busy record could not take yet counts as well.
  if (auto it = unsaved_.find(databaseUid_ + '/' + fileName);
      it != unsaved_.end() && it->second.recordUid == p.recordUid &&
      it->second.lastRowid >= p.lastRowid) {
    p = it->second;
  }
  if (p.lastRowid > 0) {
    bool there = false;
    if (!rec.rowStillThere(p.lastRowid, p.lastNum, there)) return localFailure();
    if (!there) {
      // Renumbered, cut or replaced by the same identity: send all again, the store drops doubles.
      p.lastRowid = 0;
      p.lastNum = 0;
    }
  }
  store::RecordMeta meta;
  if (!rec.meta(meta)) return localFailure();
  const std::vector<store::RunRow>& runs = meta.runs;
  if (!runs.empty()) st.serial = runs.back().info.serial;

  std::string error;
  auto serverFailure = [&] {
    st.lastError = error.empty() ? conn_.error() : error;
    std::int64_t waiting = 0;
    if (rec.countAfter(p.lastRowid, waiting)) st.waiting = waiting;
    return Outcome::ServerFailure;
  };
  if (!sendRuns(fileName, p, meta, {}, error)) return serverFailure();
  std::vector<LocalScan> scans;
  while (!stop_) {
    std::int64_t skipped = 0;
    if (!rec.scansAfter(p.lastRowid, config_.batchScans, scans, skipped)) return localFailure();
    if (scans.empty()) break;
    std::set<std::int64_t> needed;
    for (const LocalScan& s : scans) {
      if (s.num != 0) needed.insert(runOfScan(runs, s.num));
    }
    if (!sendRuns(fileName, p, meta, needed, error)) return serverFailure();
    if (!sendBatch(scans, runs, p, error)) return serverFailure();
    p.lastRowid = scans.back().rowid;
    p.lastNum = scans.back().num;
    if (!keepProgress(rec, fileName, p)) return localFailure();
    const auto sent = static_cast<std::int64_t>(scans.size()) - skipped;
    st.sent += sent;
    st.skipped += skipped;
    std::lock_guard lock(statusMutex_);
    status_.scansSent += sent;
  }
  if (const Outcome o = sendAlarms(rec, fileName, p, meta, error); o != Outcome::Sent) {
    if (o == Outcome::ServerFailure) return serverFailure();
    st.lastError = error;
    return o;
  }
  std::int64_t waiting = 0;
  if (!rec.countAfter(p.lastRowid, waiting)) return localFailure();
  st.waiting = waiting;
  st.lastError.clear();
  return Outcome::Sent;
}

bool Forwarder::pass() {
  ++passes_;
  const std::vector<std::string> files = store::listRecordFiles(config_.dataFolder);
  const bool connected = ensureConnected();
  bool serverOk = connected;
  bool allSent = connected;
  std::string firstError;
  for (const std::string& file : files) {
    RecordForwardStatus& st = records_[file];
    st.record = file;
    if (stop_) {
      allSent = false;
      break;
    }
    if (!serverOk) {
      // Only counting what waits: the server is away.
      countOnly(file, st);
      if (st.waiting > 0) allSent = false;
      continue;
    }
    const fs::path path = store::recordFolder(config_.dataFolder) / file;
    const std::string stamp = fileStamp(path);
    if (stamps_[file] == stamp && passes_ % kFullCheckEvery != 0) continue;
    const Outcome o = forwardRecord(file, st);
    if (o == Outcome::Sent) {
      // The stamp from before the reading: a scan stored while we read changes the file after
      // it, so the next pass looks again (our own progress note makes it look once for nothing).
      stamps_[file] = stamp;
      if (st.waiting > 0) allSent = false;
      continue;
    }
    stamps_[file].clear();
    allSent = false;
    if (firstError.empty()) firstError = file + ": " + st.lastError;
    if (o == Outcome::ServerFailure) {
      serverOk = false;
      if (!conn_.ok()) conn_.close();
    }
  }
  // Records that are gone are no longer shown.
  for (auto it = records_.begin(); it != records_.end();) {
    if (std::find(files.begin(), files.end(), it->first) == files.end()) {
      stamps_.erase(it->first);
      it = records_.erase(it);
    } else {
      ++it;
    }
  }
  std::lock_guard lock(statusMutex_);
  status_.connected = conn_.ok();
  status_.records.clear();
  status_.scansWaiting = 0;
  for (const auto& [name, st] : records_) {
    status_.records.push_back(st);
    status_.scansWaiting += st.waiting;
  }
  // A pass cut short by a stop is no failure of the server's: its state stays as it was.
  const bool interrupted = stop_ && !serverOk;
  if (connected && !interrupted) status_.lastError = firstError;
  if (!interrupted) status_.failuresInRow = serverOk ? 0 : status_.failuresInRow + 1;
  status_.passes = passes_;
  lastPassAllSent_ = allSent;
  return serverOk;
}

void Forwarder::recount() {
  const std::vector<std::string> files = store::listRecordFiles(config_.dataFolder);
  std::vector<RecordForwardStatus> counted;
  std::int64_t waiting = 0;
  for (const std::string& file : files) {
    RecordForwardStatus& st = records_[file];
    st.record = file;
    countOnly(file, st);
    counted.push_back(st);
    waiting += st.waiting;
  }
  std::lock_guard lock(statusMutex_);
  status_.records = std::move(counted);
  status_.scansWaiting = waiting;
}

bool Forwarder::sendBacklog(int attempts) {
  std::uint32_t delay = config_.firstRetryMs;
  for (int attempt = 1; !stop_; ++attempt) {
    const bool serverOk = pass();
    if (serverOk || attempt >= attempts) break;
    pause(delay);
    delay = std::min(delay * 2, config_.maxRetryMs);
  }
  return lastPassAllSent_ && !stop_;
}

void Forwarder::follow(const std::function<void(const ForwarderStatus&)>& afterPass) {
  std::uint32_t delay = config_.firstRetryMs;
  while (!stop_) {
    const bool serverOk = pass();
    if (afterPass) afterPass(status());
    if (serverOk) {
      delay = config_.firstRetryMs;
      pause(config_.pollMs);
    } else {
      pause(delay);
      delay = std::min(delay * 2, config_.maxRetryMs);
    }
  }
}

BackgroundForwarder::BackgroundForwarder(ForwarderConfig config, Clock& clock)
    : clock_(clock), forwarder_(std::move(config), clock) {}

BackgroundForwarder::~BackgroundForwarder() {
  waitFinished();
  stop();
}

void BackgroundForwarder::start() {
  if (thread_.joinable() || finisher_.joinable()) return;
  forwarder_.clearStop();
  thread_ = std::thread([this] { forwarder_.follow(); });
}

void BackgroundForwarder::stop() {
  forwarder_.requestStop();
  if (thread_.joinable()) thread_.join();
}

void BackgroundForwarder::finishInBackground(std::uint32_t budgetMs) {
  if (finisher_.joinable()) return;
  deadline_ = clock_.now() + budgetMs;
  passDone_ = false;
  allSent_ = false;
  abandoned_ = false;
  finisher_ = std::thread([this] {
    stop();
    // While the server was failing a pass would only wait for its time-out: count what waits.
    if (forwarder_.status().failuresInRow > 0) {
      forwarder_.recount();
      passDone_ = true;
      return;
    }
    {
      std::lock_guard lock(finishMutex_);
      if (abandoned_) {
        passDone_ = true;
        return;
      }
      forwarder_.clearStop();
    }
    forwarder_.pass();
    allSent_ = forwarder_.lastPassAllSent();
    passDone_ = true;
  });
}

bool BackgroundForwarder::waitFinished() {
  if (!finisher_.joinable()) return false;
  while (!passDone_ && clock_.now() < deadline_) clock_.sleep(20);
  {
    // Past the budget the pass is stopped; the batch under way is rolled back by the server.
    std::lock_guard lock(finishMutex_);
    abandoned_ = true;
    forwarder_.requestStop();
  }
  finisher_.join();
  return passDone_ && allSent_;
}

bool BackgroundForwarder::finish(std::uint32_t budgetMs) {
  finishInBackground(budgetMs);
  return waitFinished();
}

std::string loggedRecordFile(const fs::path& dataFolder, const std::string& record) {
  fs::path file;
  if (record.empty() || record == "0" || !store::recordFilePath(dataFolder, record, file).ok()) {
    return {};
  }
  return file.filename().string();
}

CentralState centralStateOf(const ForwarderStatus& status, const std::string& recordFile) {
  CentralState state;
  state.connected = status.connected;
  if (!status.connected) state.error = status.lastError;
  for (const RecordForwardStatus& r : status.records) {
    if (recordFile.empty() || r.record != recordFile) continue;
    state.waiting = r.waiting;
    if (!r.lastError.empty()) state.error = r.lastError;
  }
  return state;
}

std::string centralStateText(const CentralState& state, bool hasRecord) {
  std::string text = state.connected ? "connected" : "not connected";
  if (!hasRecord) {
    text += ", no record";
  } else {
    text += ", " + std::to_string(state.waiting) + (state.waiting == 1 ? " scan" : " scans") +
            " waiting";
  }
  if (!state.error.empty()) text += " (" + state.error + ")";
  return text;
}

std::string centralStateText(const ForwarderStatus& status, const std::string& recordFile) {
  return centralStateText(centralStateOf(status, recordFile), !recordFile.empty());
}

}  // namespace kalivor::central
