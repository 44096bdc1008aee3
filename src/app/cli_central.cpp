// SPDX-License-Identifier: MIT
#include "app/cli_central.h"

#include <signal.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <ostream>

#include "app/cli_records.h"
#include "central/central_reader.h"
#include "central/forwarder.h"
#include "common/clock.h"
#include "common/numbers.h"
#include "common/paths.h"
#include "common/text.h"
#include "store/csv_export.h"

namespace kalivor {

const char* const kCentralUsage =
    "  forward --central URL [--bench NAME] [--data-dir DIR] [--follow]\n"
    "                       send every scan of the records in DIR/db to the central PostgreSQL\n"
    "                       database URL (postgresql://user@host/db; the password comes from\n"
    "                       ~/.pgpass or PGPASSWORD) and exit, or with --follow keep sending new\n"
    "                       scans until Ctrl+C; each scan arrives once, also after a failure;\n"
    "                       --batch N sets the scans per transaction (default 500)\n"
    "  run --use ... --central URL [--bench NAME]\n"
    "                       also send the run's scans to the central database while it runs (the\n"
    "                       run never waits for it; what the server missed goes on the next run\n"
    "                       with --central or by forward); stderr tells each instrument's\n"
    "                       central state when it changes\n"
    "  records --central URL [--bench NAME]\n"
    "                       list the runs the central database holds\n"
    "  export NAME FILE.csv --central URL [--bench NAME] [--format csv|tidy] [--from A]\n"
    "         [--to B]      append record NAME of this bench (or NAME) from the central database\n"
    "                       to FILE.csv, as the local export writes it\n"
    "  stats NAME --central URL [--bench NAME] [--from A] [--to B] [--json]\n"
    "                       the channel statistics of record NAME from the central database\n";

namespace {

namespace fs = std::filesystem;

struct CentralOptions {
  std::string command;
  std::string url;
  std::string bench;
  std::string dataDir;
  bool follow = false;
  bool json = false;
  int batch = 500;
  std::string format;   // export: csv (the default) or tidy
  ScanRangeArgs range;  // export and stats: --from/--to
  std::vector<std::string> positional;
};

std::optional<std::string> parseCentral(const std::vector<std::string>& args,
                                        CentralOptions& o) {
  o.command = args[0];
  for (std::size_t i = 1; i < args.size(); ++i) {
    std::string a = args[i];
    std::optional<std::string> inlineValue;
    if (startsWith(a, "--")) {
      if (const auto eq = a.find('='); eq != std::string::npos) {
        inlineValue = a.substr(eq + 1);
        a.resize(eq);
      }
    }
    auto value = [&](const char* what) -> std::optional<std::string> {
      if (inlineValue) return inlineValue;
      if (i + 1 >= args.size()) return std::nullopt;
      return args[++i];
    };
    if (a == "--central") {
      auto v = value("URL");
      if (!v || v->empty()) return "--central needs a URL";
      o.url = *v;
    } else if (a == "--bench") {
      auto v = value("NAME");
      if (!v || trimBlanks(*v).empty()) return "--bench needs a NAME";
      o.bench = *v;
    } else if (a == "--data-dir") {
      auto v = value("DIR");
      if (!v) return "--data-dir needs a DIR";
      o.dataDir = *v;
    } else if (a == "--batch") {
      auto v = value("N");
      const auto n = v ? strictNumber(*v) : std::nullopt;
      if (!n || *n < 1 || *n > 100000 || *n != static_cast<int>(*n)) {
        return "--batch needs a number of scans from 1 to 100000";
      }
      o.batch = static_cast<int>(*n);
    } else if (a == "--follow" && !inlineValue) {
      o.follow = true;
    } else if (a == "--json" && !inlineValue) {
      o.json = true;
    } else if (a == "--format" || a == "--from" || a == "--to") {
      auto v = value("");
      if (!v || v->empty()) {
        return a + (a == "--format" ? " needs csv or tidy" : " needs a scan number or a time");
      }
      (a == "--format" ? o.format : a == "--from" ? o.range.from : o.range.to) = *v;
    } else if (startsWith(a, "-") && a != "-") {
      return "unknown option for " + o.command + ": " + args[i];
    } else {
      o.positional.push_back(a);
    }
  }
  if (o.url.empty()) return o.command + " needs --central URL";
  const bool ranged = !o.range.from.empty() || !o.range.to.empty();
  if (o.command == "forward" && (ranged || !o.format.empty() || o.json)) {
    return "forward takes no --format, --from, --to or --json";
  }
  if (o.command == "export" && o.json) return "export has no --json output";
  if (o.command != "export" && !o.format.empty()) return "--format is for export";
  if (o.command == "records" && (ranged || o.json)) {
    return "records --central takes no --from, --to or --json";
  }
  return std::nullopt;
}

std::atomic<central::Forwarder*> gForwarder{nullptr};

extern "C" void stopForwarding(int) {
  if (central::Forwarder* f = gForwarder.load()) f->requestStop();
}

void printStatus(const central::ForwarderStatus& st, std::ostream& out) {
  for (const auto& r : st.records) {
    out << escapeControl(r.record) << ": " << r.sent << " scans sent, " << r.waiting
        << " waiting";
    if (r.skipped > 0) out << ", " << r.skipped << " rows without a scan number left out";
    if (!r.lastError.empty()) out << " (" << escapeControl(r.lastError) << ")";
    out << "\n";
  }
}

int commandForward(const CentralOptions& o, std::ostream& out, std::ostream& err) {
  if (!o.positional.empty()) {
    err << "kalivor-cli: forward takes no arguments besides its options (got \""
        << escapeControl(o.positional[0]) << "\")\n";
    return 2;
  }
  central::ForwarderConfig config;
  config.url = o.url;
  config.bench = o.bench;
  config.dataFolder = resolveDataFolder(o.dataDir);
  config.batchScans = o.batch;
  SystemClock clock;
  central::Forwarder forwarder(config, clock);
  gForwarder = &forwarder;
  struct sigaction sa{};
  sa.sa_handler = stopForwarding;
  sigemptyset(&sa.sa_mask);
  struct sigaction oldInt{}, oldTerm{};
  sigaction(SIGINT, &sa, &oldInt);
  sigaction(SIGTERM, &sa, &oldTerm);
  bool done = false;
  if (o.follow) {
    // A line whenever something was sent or the state changed, so a terminal shows it lives.
    std::int64_t shownSent = 0;
    std::string shownError;
    bool shownConnected = true;
    forwarder.follow([&](const central::ForwarderStatus& st) {
      if (st.scansSent == shownSent && st.lastError == shownError &&
          st.connected == shownConnected) {
        return;
      }
      out << st.scansSent << " scans sent, " << st.scansWaiting << " waiting"
          << (st.connected ? "" : ", not connected")
          << (st.lastError.empty() ? "" : " (" + escapeControl(st.lastError) + ")") << "\n";
      out.flush();
      shownSent = st.scansSent;
      shownError = st.lastError;
      shownConnected = st.connected;
    });
    done = true;
  } else {
    done = forwarder.sendBacklog(4);
  }
  sigaction(SIGINT, &oldInt, nullptr);
  sigaction(SIGTERM, &oldTerm, nullptr);
  gForwarder = nullptr;
  const central::ForwarderStatus st = forwarder.status();
  printStatus(st, out);
  out.flush();
  if (!st.lastError.empty()) err << "kalivor-cli: " << escapeControl(st.lastError) << "\n";
  if (!done) {
    err << "kalivor-cli: " << st.scansWaiting
        << " scans wait in the local records; run forward again to send them\n";
    return 1;
  }
  return 0;
}

bool connectTo(const std::string& url, central::PgConnection& conn, std::ostream& err) {
  if (conn.connect(url)) return true;
  err << "kalivor-cli: " << escapeControl(conn.error()) << "\n";
  return false;
}

int commandRecords(const CentralOptions& o, std::ostream& out, std::ostream& err) {
  if (!o.positional.empty()) {
    err << "kalivor-cli: records takes no arguments (got \"" << escapeControl(o.positional[0])
        << "\")\n";
    return 2;
  }
  central::PgConnection conn;
  if (!connectTo(o.url, conn, err)) return 1;
  std::vector<central::CentralRun> runs;
  std::string error;
  if (!central::listCentralRuns(conn, o.bench, runs, error)) {
    // A database the forwarder never reached has no tables yet: nothing to list.
    if (contains(error, "does not exist")) {
      err << "kalivor-cli: the central database holds no KALIVOR runs yet\n";
      return 0;
    }
    err << "kalivor-cli: " << escapeControl(error) << "\n";
    return 1;
  }
  out << "bench\trecord\trun\tscans\tfirst\tlast\tstart\tend\tserial\n";
  for (const auto& r : runs) {
    out << escapeControl(r.bench) << '\t' << escapeControl(r.record) << '\t' << r.runId << '\t'
        << r.scans << '\t' << r.firstScan << '\t' << r.lastScan << '\t' << r.startTime << '\t'
        << r.endTime << '\t' << escapeControl(r.serial) << '\n';
  }
  out.flush();
  return 0;
}

// The record a central command names, copied into a scratch record of its own (see
// CentralSnapshot); false with the message on err.
bool snapshotOf(const CentralOptions& o, const std::string& name,
                central::CentralSnapshot& snapshot, std::ostream& err) {
  central::PgConnection conn;
  if (!connectTo(o.url, conn, err)) return false;
  const std::string bench = o.bench.empty() ? central::defaultBenchName() : o.bench;
  std::string error;
  if (snapshot.make(conn, bench, name, error)) return true;
  if (contains(error, "does not exist")) error = "the central database holds no KALIVOR records yet";
  err << "kalivor-cli: " << escapeControl(error) << "\n";
  return false;
}

std::string recordFileName(std::string name) {
  if (!endsWith(name, ".mdb")) name += ".mdb";
  return name;
}

// `stats NAME --central URL`: the local statistics, of the central copy of the record.
int commandStats(const CentralOptions& o, std::ostream& out, std::ostream& err) {
  if (o.positional.size() != 1) {
    err << "kalivor-cli: stats needs NAME\n";
    return 2;
  }
  const std::string name = recordFileName(o.positional[0]);
  central::CentralSnapshot snapshot;
  if (!snapshotOf(o, name, snapshot, err)) return 1;
  return kalivor::commandStats(snapshot.dataFolder().string(), name, o.range, o.json, out, err);
}

int commandExport(const CentralOptions& o, std::ostream& out, std::ostream& err) {
  if (o.positional.size() != 2) {
    err << "kalivor-cli: export needs NAME FILE.csv\n";
    return 2;
  }
  const std::string name = recordFileName(o.positional[0]);
  const std::string& file = o.positional[1];
  if ((!o.format.empty() && o.format != "csv") || !o.range.from.empty() || !o.range.to.empty()) {
    // The tidy form and ranges need the runs' description: the local export of a central copy.
    if (o.format != "csv" && o.format != "tidy" && !o.format.empty()) {
      err << "kalivor-cli: --format " << escapeControl(o.format) << ": use csv or tidy\n";
      return 2;
    }
    central::CentralSnapshot snapshot;
    if (!snapshotOf(o, name, snapshot, err)) return 1;
    return kalivor::commandExport(snapshot.dataFolder().string(), name, file, out, err,
                                  o.format.empty() ? "csv" : o.format, o.range);
  }
  central::PgConnection conn;
  if (!connectTo(o.url, conn, err)) return 1;
  const std::string bench = o.bench.empty() ? central::defaultBenchName() : o.bench;

  std::FILE* csv = nullptr;
  std::int64_t rows = 0;
  std::string failure;
  auto page = [&](const std::vector<store::RecordRow>& rowsOfPage) {
    if (file == "-") {
      std::string text;
      store::appendCsvLine(text, store::columnTitles());
      for (const auto& row : rowsOfPage) store::appendCsvLine(text, row);
      out << text;
    } else {
      // Opened at the first page, so a missing record leaves no empty file behind.
      if (csv == nullptr) {
        if (auto st = store::openCsvForAppend(file, csv); !st.ok()) {
          failure = st.error;
          return false;
        }
      }
      if (auto st = store::writeCsvPage(csv, file, rowsOfPage); !st.ok()) {
        failure = st.error;
        return false;
      }
    }
    rows += static_cast<std::int64_t>(rowsOfPage.size());
    return true;
  };
  std::error_code ec;
  if (file != "-" && fs::exists(file, ec)) {
    std::ifstream in(file, std::ios::binary);
    char head[16] = {};
    in.read(head, sizeof head);
    if (in.gcount() == sizeof head && std::memcmp(head, "SQLite format 3", 16) == 0) {
      err << "kalivor-cli: " << file << " is a database, not a CSV file: nothing written\n";
      return 1;
    }
  }
  std::string error;
  const bool read = central::readCentralRecord(conn, bench, name, page, error);
  if (!read && contains(error, "does not exist")) {
    error = "the central database holds no KALIVOR records yet";
  }
  if (csv != nullptr) {
    if (auto st = store::closeCsv(csv, file); !st.ok() && failure.empty()) failure = st.error;
  }
  if (!read || !failure.empty()) {
    err << "kalivor-cli: " << escapeControl(failure.empty() ? error : failure) << "\n";
    return 1;
  }
  if (rows == 0) {
    err << "kalivor-cli: " << escapeControl(name) << " holds no scans: nothing exported\n";
    return 1;
  }
  if (file != "-") out << rows << " scans of " << name << " appended to " << file << "\n";
  out.flush();
  return 0;
}

}  // namespace

std::vector<OptionSpec> centralChoiceOptions(central::CentralChoice& choice) {
  using V = OptionSpec::Value;
  return {
      {"--central", "", V::Required, "a URL",
       [&choice](const std::string& v) { choice.url = v; }},
      {"--bench", "", V::Required, "a NAME", [&choice](const std::string& v) { choice.bench = v; }},
  };
}

std::optional<std::string> centralChoiceProblem(const central::CentralChoice& choice) {
  if (!choice.bench.empty() && trimBlanks(choice.bench).empty()) return "--bench needs a NAME";
  if (!choice.bench.empty() && !choice.on()) return "--bench names the bench for --central URL";
  return std::nullopt;
}

CentralBesideRun::CentralBesideRun(const central::CentralChoice& choice, fs::path dataFolder)
    : dataFolder_(std::move(dataFolder)) {
  if (!choice.on()) return;
  forwarder_ = std::make_unique<central::BackgroundForwarder>(
      central::forwarderConfig(choice, dataFolder_), clock_);
  where_ = central::maskedUrl(choice.url);
}

CentralBesideRun::~CentralBesideRun() {
  if (forwarder_) forwarder_->stop();
}

void CentralBesideRun::start(std::ostream& err) {
  if (!forwarder_) return;
  err << "kalivor-cli: central: the scans also go to " << escapeControl(where_) << "\n";
  forwarder_->start();
}

std::string CentralBesideRun::stateOf(const std::string& record) const {
  if (!forwarder_) return {};
  return central::centralStateText(forwarder_->status(), central::loggedRecordFile(dataFolder_, record));
}

void CentralBesideRun::report(LocalMs now,
                              const std::vector<std::pair<std::string, std::string>>& instruments,
                              std::ostream& err) {
  if (!forwarder_ || (looked_ && now - lastLook_ < 1000 && now >= lastLook_)) return;
  looked_ = true;
  lastLook_ = now;
  const central::ForwarderStatus status = forwarder_->status();
  if (status.passes == 0) return;  // not known yet
  shown_.resize(instruments.size());
  for (std::size_t i = 0; i < instruments.size(); ++i) {
    const std::string file = central::loggedRecordFile(dataFolder_, instruments[i].second);
    const central::CentralState state = central::centralStateOf(status, file);
    // A change of connection or of failure is news; the count of waiting scans alone is not.
    const std::string key = (state.connected ? "1" : "0") + state.error;
    if (shown_[i] == key) continue;
    shown_[i] = key;
    err << "kalivor-cli: central: " << escapeControl(instruments[i].first) << ": "
        << escapeControl(central::centralStateText(state, !file.empty())) << "\n";
  }
}

void CentralBesideRun::finish(std::ostream& err) {
  if (!forwarder_) return;
  const bool allSent = forwarder_->finish(15'000);
  const central::ForwarderStatus st = forwarder_->status();
  if (allSent) {
    err << "kalivor-cli: central: every scan was sent to " << escapeControl(where_) << "\n";
    return;
  }
  err << "kalivor-cli: central: " << st.scansWaiting
      << (st.scansWaiting == 1 ? " scan waits" : " scans wait") << " in the local records"
      << (st.lastError.empty() ? "" : " (" + escapeControl(st.lastError) + ")")
      << "; they are sent on the next run with --central, or by kalivor-cli forward\n";
}

bool isCentralCommand(const std::vector<std::string>& args) {
  if (args.empty()) return false;
  if (args[0] == "forward") return true;
  if (args[0] != "records" && args[0] != "export" && args[0] != "stats") return false;
  for (const std::string& a : args) {
    if (a == "--central" || startsWith(a, "--central=")) return true;
  }
  return false;
}

int runCentralCommand(const std::vector<std::string>& args, std::ostream& out,
                      std::ostream& err) {
  for (const std::string& a : args) {
    if (a == "--help" || a == "-h") {
      out << kCentralUsage;
      return 0;
    }
  }
  CentralOptions o;
  if (auto error = parseCentral(args, o)) {
    err << "kalivor-cli: " << *error << "\nTry 'kalivor-cli --help'.\n";
    return 2;
  }
  if (o.command == "forward") return commandForward(o, out, err);
  if (o.command == "records") return commandRecords(o, out, err);
  if (o.command == "stats") return commandStats(o, out, err);
  return commandExport(o, out, err);
}

}  // namespace kalivor
