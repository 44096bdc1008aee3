// SPDX-License-Identifier: MIT
#include "app/cli.h"

#include <cmath>
#include <iostream>
#include <optional>

#include "common/clock.h"
#include "common/text.h"
#include "app/cli_central.h"
#include "app/cli_records.h"
#include "app/cli_run.h"
#include "app/command_line.h"
#include "app/product_info.h"
#include "common/json.h"
#include "common/paths.h"
#include "common/numbers.h"
#include "instrument/instrument_link.h"
#include "visa/visa_factory.h"

namespace kalivor {
namespace {

const char* kUsage =
    "Usage: kalivor-cli COMMAND [OPTIONS]\n"
    "\n"
    "Commands:\n"
    "  list [--json]        find the instruments VISA can reach and identify them; prints one\n"
    "                       line per instrument: resource, model and description, tab-separated;\n"
    "                       --json: an array of objects (resource, model, serial, card,\n"
    "                       description, channels)\n"
    "  apply --use N:SETUP.ini [--use ...]\n"
    "                       load each setup file into instrument N of the list (1-based, up to\n"
    "                       four) and send the setups to the instruments; N may also be the\n"
    "                       instrument's serial or VISA resource name\n"
    "  setup --template N OUT.ini\n"
    "                       write instrument N's present setup as a file to start from\n"
    "  run --use N:SETUP.ini[:RecordK] [--use ...] [--data-dir DIR] [--json]\n"
    "      [--scans N] [--duration LENGTH] [--start-at TIME] [--stop-at TIME] [--keep-going]\n"
    "                       apply as above and run the scans; each instrument logs into its\n"
    "                       record DIR/db/RecordK.mdb (none when omitted); one line per stored\n"
    "                       scan: instrument N, scan number, time, CHk=reading...; --json: one\n"
    "                       object per line (instrument, resource, serial, record, scan, time,\n"
    "                       readings by channel); --scans N: each instrument ends after N\n"
    "                       stored scans; --duration: the run ends so long after it starts\n"
    "                       (90s, 45m, 1h, 2h30m); --start-at/--stop-at \"yyyy/MM/dd hh:mm:ss\":\n"
    "                       the scan settings' start and stop times (a stop time only for a\n"
    "                       setup that runs until Stop); Ctrl+C, SIGTERM, SIGHUP or a closed\n"
    "                       output stop the run cleanly; --keep-going: an instrument that\n"
    "                       fails ends only its own share and is reconnected every 30 s;\n"
    "                       --status-every SECONDS: per instrument its state, record, scans\n"
    "                       stored and last scan, and the free disk space, on standard error\n"
    "                       every SECONDS\n"
    "  watch [--use N[:SETUP.ini]] [--use ...] [--json]\n"
    "                       set the instruments up as for a run (all of them, up to four, as\n"
    "                       they are set, without --use) and print their readings once a\n"
    "                       second as run does, storing nothing; Ctrl+C ends it\n"
    "  records [--json] [--data-dir DIR]\n"
    "                       list the record files (DIR/db/*.mdb); --json: name, size, scans,\n"
    "                       first and last time and the runs of each\n"
    "  export NAME FILE [--format csv|tidy] [--from X] [--to Y] [--data-dir DIR]\n"
    "                       append the scans of record NAME to FILE: csv as the record browser\n"
    "                       exports it, tidy one line per reading (time, serial, channel,\n"
    "                       function, value, unit, raw); FILE - writes to standard output\n"
    "  stats NAME [--from X] [--to Y] [--json] [--data-dir DIR]\n"
    "                       per channel: count, last, min, max, mean, standard deviation and\n"
    "                       when min and max were read; X and Y are scan numbers or times\n"
    "                       \"yyyy/MM/dd hh:mm:ss\"\n"
    "\n"
    "Instrument options:\n"
    "  --simulate [FILE]    use simulated instruments instead of real ones: those described by\n"
    "                       FILE (INI layout), or two built-in meters\n"
    "  --visa-library PATH  use this vendor VISA library instead of searching for one\n"
    "  --trace FILE         append every VISA write and read (time, resource, bytes, status)\n"
    "                       to FILE, for bug reports\n"
    "  --data-dir DIR       folder whose db/ holds the records; by default an installed copy\n"
    "                       uses the per-user data folder, $XDG_DATA_HOME/kalivor or\n"
    "                       ~/.local/share/kalivor, and a copy run from its build folder uses\n"
    "                       the program's own folder (the per-user one when that cannot be\n"
    "                       written)\n"
    "  --verbose            also say which VISA backend is used and what it found\n"
    "  --version            show the version (with --verbose: and the VISA backend)\n"
    "  --help               show this text\n"
    "\n"
    "An option's value may also follow an equals sign: --data-dir=DIR.\n"
    "\n"
    "Exit status: 0 done (also a run or watch stopped by Ctrl+C, SIGTERM, SIGHUP or a closed\n"
    "output once it had started: every stored scan is in its record); 1 an instrument, record or\n"
    "file failed, or a signal stopped run or watch before it started; 2 bad usage.\n";

// The text of --help, ending with where this copy keeps its records.
std::string usage(const std::string& dataDir = std::string()) {
  return std::string(kUsage) + "\nCentral store:\n" + kCentralUsage +
         "\nRecords of this copy: " + dbFolderOf(resolveDataFolder(dataDir)) + "\n";
}

struct CommonOptions {
  visa::VisaOptions visa;
  std::string dataDir;
  std::vector<std::string> positional;
  std::vector<std::string> uses;
  std::string templateOf;
  bool help = false;
  bool version = false;
  bool json = false;
  bool keepGoing = false;
  std::string format = "csv";
  ScanRangeArgs range;
  central::CentralChoice central;  // run: also forward to the central store
  std::string statusEvery;
  // run's limits and times as given; checked by runLimits.
  std::optional<std::string> scans, duration, startAt, stopAt;
};

// Parses the options every command shares; returns an error text for bad usage. Each option is
// one row: name, short form, its value (none, required, optional), what the value is, and where it
// goes.
std::optional<std::string> parseOptions(const std::vector<std::string>& args, std::size_t from,
                                        CommonOptions& o) {
  using V = OptionSpec::Value;
  std::vector<OptionSpec> options = instrumentOptions(o.visa, o.dataDir);
  options.insert(options.end(), {
      {"--help", "-h", V::None, "", [&](const std::string&) { o.help = true; }},
      {"--version", "", V::None, "", [&](const std::string&) { o.version = true; }},
      {"--verbose", "-v", V::None, "", [&](const std::string&) { o.visa.verbose = true; }},
      {"--json", "", V::None, "", [&](const std::string&) { o.json = true; }},
      {"--keep-going", "", V::None, "", [&](const std::string&) { o.keepGoing = true; }},
      {"--use", "", V::Required, "N:SETUP.ini", [&](const std::string& v) { o.uses.push_back(v); }},
      {"--template", "", V::Required, "N", [&](const std::string& v) { o.templateOf = v; }},
      {"--format", "", V::Required, "csv or tidy", [&](const std::string& v) { o.format = v; }},
      {"--from", "", V::Required, "a scan number or a time",
       [&](const std::string& v) { o.range.from = v; }},
      {"--to", "", V::Required, "a scan number or a time",
       [&](const std::string& v) { o.range.to = v; }},
      {"--status-every", "", V::Required, "SECONDS", [&](const std::string& v) { o.statusEvery = v; }},
      {"--scans", "", V::Required, "a number of scans", [&](const std::string& v) { o.scans = v; }},
      {"--duration", "", V::Required, "a length such as 2h30m",
       [&](const std::string& v) { o.duration = v; }},
      {"--start-at", "", V::Required, "a time \"yyyy/MM/dd hh:mm:ss\"",
       [&](const std::string& v) { o.startAt = v; }},
      {"--stop-at", "", V::Required, "a time \"yyyy/MM/dd hh:mm:ss\"",
       [&](const std::string& v) { o.stopAt = v; }},
  });
  const std::vector<OptionSpec> centralOptions = centralChoiceOptions(o.central);
  options.insert(options.end(), centralOptions.begin(), centralOptions.end());
  if (auto error = parseCommandLine(args, from, options, o.positional)) return error;
  return centralChoiceProblem(o.central);
}

int commandList(const CommonOptions& o, Clock& clock, std::ostream& out, std::ostream& err) {
  if (!o.positional.empty()) {
    err << "kalivor-cli: list takes no arguments (got \"" << o.positional[0] << "\")\n";
    return 2;
  }
  visa::VisaSetup setup = visa::makeVisa(o.visa, clock);
  if (!setup.api) {
    err << "kalivor-cli: " << setup.error << "\n";
    return 1;
  }
  if (o.visa.verbose) {
    for (const auto& note : setup.notes) err << note << "\n";
  }
  StreamMessages messages(err);
  InstrumentLink link(*setup.api, clock, messages);
  link.DiscoverInstruments();
  if (o.json) out << "[";
  for (int i = 0; i < link.InstrumentCount; ++i) {
    const DiscoveredInstrument& e = link.identified[static_cast<std::size_t>(i)];
    if (o.json) {
      out << (i == 0 ? "\n" : ",\n") << "  {\"resource\": " << jsonString(e.Resource)
          << ", \"model\": " << jsonString(e.Model) << ", \"serial\": " << jsonString(e.Serial)
          << ", \"card\": " << e.ScanerCard << ", \"description\": " << jsonString(e.Description)
          << ", \"channels\": " << e.ChannelCount << "}";
    } else {
      out << escapeControl(e.Resource) << '\t' << escapeControl(e.Model) << '\t'
          << escapeControl(e.Description) << '\n';
    }
  }
  if (o.json) out << (link.InstrumentCount > 0 ? "\n]\n" : "]\n");
  if (o.visa.verbose) err << link.InstrumentCount << " instrument(s) identified\n";
  link.closeAtShutdown();
  return 0;
}

// The version; with --verbose also the VISA backend the options choose (nothing is searched).
int commandVersion(const CommonOptions& o, Clock& clock, std::ostream& out, std::ostream& err) {
  out << "kalivor-cli " << product::kVersion << "\n";
  if (!o.visa.verbose) return 0;
  visa::VisaOptions quiet = o.visa;
  quiet.verbose = false;
  quiet.traceFile.clear();
  const visa::VisaSetup setup = visa::makeVisa(quiet, clock);
  if (!setup.api) {
    out << "VISA backend: none\n";
    err << "kalivor-cli: " << setup.error << "\n";
    return 1;
  }
  out << "VISA backend: " << (setup.notes.empty() ? std::string("?") : setup.notes.front()) << "\n";
  return 0;
}

// run's --scans, --duration, --start-at and --stop-at, checked; an error text for bad usage.
std::optional<std::string> runLimits(const CommonOptions& o, RunOptions& run) {
  if (o.scans) {
    const auto n = strictNumber(*o.scans);
    if (!n || *n < 1 || *n > 1e15 || *n != std::floor(*n))
      return "--scans needs a whole number of scans above 0, got \"" + *o.scans + "\"";
    run.scans = static_cast<std::int64_t>(*n);
  }
  if (o.duration) {
    const auto ms = parseDurationMs(*o.duration);
    if (!ms) return "--duration needs a length such as 90s, 45m, 1h or 2h30m, got \"" + *o.duration + "\"";
    run.durationMs = *ms;
  }
  const auto time = [](const char* name, const std::optional<std::string>& text,
                       std::optional<LocalMs>& into) -> std::optional<std::string> {
    if (!text) return std::nullopt;
    into = parseDateTime(*text);
    if (!into) return std::string(name) + " needs a time \"yyyy/MM/dd hh:mm:ss\", got \"" + *text + "\"";
    return std::nullopt;
  };
  if (auto e = time("--start-at", o.startAt, run.startAt)) return e;
  return time("--stop-at", o.stopAt, run.stopAt);
}

}  // namespace

MessageAnswer StreamMessages::show(const Message& message) {
  shown.push_back(message.text);
  err_ << (message.title.empty() || message.title == kAppTitle ? "" : message.title + ": ")
       << message.text << "\n";
  return message.buttons == MessageButtons::Ok ? MessageAnswer::Ok : MessageAnswer::No;
}

int runCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  SystemClock clock;
  return runCli(args, out, err, clock);
}

int runCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
           Clock& clock) {
  if (args.empty()) {
    err << usage();
    return 2;
  }
  if (args[0] == "help") {
    out << usage();
    return 0;
  }
  // Options before any command: --help, --version.
  const bool noCommand = startsWith(args[0], "-");
  const std::string command = noCommand ? std::string() : args[0];
  if (isCentralCommand(args)) return runCentralCommand(args, out, err);
  CommonOptions o;
  if (auto error = parseOptions(args, noCommand ? 0 : 1, o)) {
    err << "kalivor-cli: " << *error << "\n" << "Try 'kalivor-cli --help'.\n";
    return 2;
  }
  if (o.help) {
    out << usage(o.dataDir);
    return 0;
  }
  if (o.version) return commandVersion(o, clock, out, err);
  if (noCommand) {
    err << "kalivor-cli: no command given\nTry 'kalivor-cli --help'.\n";
    return 2;
  }
  // A script asking for JSON must not get text it would misread.
  if (o.json && command != "list" && command != "records" && command != "stats" &&
      command != "run" && command != "watch") {
    err << "kalivor-cli: " << command << " has no --json output\nTry 'kalivor-cli --help'.\n";
    return 2;
  }
  if ((o.central.on() || !o.central.bench.empty()) && command != "run") {
    err << "kalivor-cli: " << command << " takes no --central\nTry 'kalivor-cli --help'.\n";
    return 2;
  }
  const bool limited = o.scans || o.duration || o.startAt || o.stopAt;
  if (limited && command != "run") {
    err << "kalivor-cli: --scans, --duration, --start-at and --stop-at are for run only\n"
        << "Try 'kalivor-cli --help'.\n";
    return 2;
  }
  if (command == "list") return commandList(o, clock, out, err);
  if (command == "apply" || command == "run" || command == "watch") {
    if (!o.positional.empty()) {
      err << "kalivor-cli: " << command << " takes no arguments besides its options (got \"" << o.positional[0] << "\")\n";
      return 2;
    }
    std::vector<CliUse> uses;
    for (const auto& u : o.uses) {
      CliUse use;
      // watch may name an instrument alone: it is then watched as it is set.
      const bool alone = command == "watch" && (u.find(':') == std::string::npos ||
                                                (u.size() > 7 && equalsIgnoreCase(u.substr(u.size() - 7), "::INSTR")));
      if (const std::string e = alone ? parseUse(u + ":-", use) : parseUse(u, use); !e.empty()) {
        err << "kalivor-cli: " << e << "\n";
        return 2;
      }
      if (alone) use.setupFile.clear();
      uses.push_back(use);
    }
    if (command == "apply") return commandApply(o.visa, clock, uses, out, err);
    RunOptions run;
    run.dataDir = o.dataDir;
    run.json = o.json;
    run.central = o.central;
    run.keepGoing = o.keepGoing;
    if (!o.statusEvery.empty()) {
      if (const std::string e = parseStatusEvery(o.statusEvery, run.statusEverySeconds); !e.empty()) {
        err << "kalivor-cli: " << e << "\n";
        return 2;
      }
    }
    if (auto error = runLimits(o, run)) {
      err << "kalivor-cli: " << *error << "\n" << "Try 'kalivor-cli --help'.\n";
      return 2;
    }
    return command == "run" ? commandRun(o.visa, clock, run, uses, out, err)
                            : commandWatch(o.visa, clock, run, uses, out, err);
  }
  if (command == "records") {
    if (!o.positional.empty()) {
      err << "kalivor-cli: records takes no arguments (got \"" << o.positional[0] << "\")\n";
      return 2;
    }
    return commandRecords(o.dataDir, out, err, o.json);
  }
  if (command == "export") {
    if (o.positional.size() != 2) {
      err << "kalivor-cli: export needs NAME FILE\n";
      return 2;
    }
    return commandExport(o.dataDir, o.positional[0], o.positional[1], out, err, o.format,
                         o.range);
  }
  if (command == "stats") {
    if (o.positional.size() != 1) {
      err << "kalivor-cli: stats needs NAME\n";
      return 2;
    }
    return commandStats(o.dataDir, o.positional[0], o.range, o.json, out, err);
  }
  if (command == "setup") {
    const auto n = strictNumber(o.templateOf);
    if (!n || *n < 1 || o.positional.size() != 1) {
      err << "kalivor-cli: setup needs --template N OUT.ini\n";
      return 2;
    }
    return commandSetupTemplate(o.visa, clock, static_cast<int>(*n), o.positional[0], out, err);
  }
  err << "kalivor-cli: unknown command: " << command << "\nTry 'kalivor-cli --help'.\n";
  return 2;
}

}  // namespace kalivor
