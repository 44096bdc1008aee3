// SPDX-License-Identifier: MIT
#include "app/cli.h"

#include <iostream>
#include <optional>

#include "common/clock.h"
#include "common/text.h"
#include "app/cli_central.h"
#include "app/cli_records.h"
#include "app/cli_run.h"
#include "common/numbers.h"
#include "instrument/instrument_link.h"
#include "visa/visa_factory.h"

namespace kalivor {
namespace {

const char* kUsage =
    "Usage: kalivor-cli COMMAND [OPTIONS]\n"
    "\n"
    "Commands:\n"
    "  list                 find the instruments VISA can reach and identify them; prints one\n"
    "                       line per instrument: resource, model and description, tab-separated\n"
    "  apply --use N:SETUP.ini [--use ...]\n"
    "                       load each setup file into instrument N of the list (1-based, up to\n"
    "                       four) and send the setups to the instruments; N may also be the\n"
    "                       instrument's serial or VISA resource name\n"
    "  setup --template N OUT.ini\n"
    "                       write instrument N's present setup as a file to start from\n"
    "  run --use N:SETUP.ini[:RecordK] [--use ...] [--data-dir DIR]\n"
    "                       apply as above and run the scans; each instrument logs into its\n"
    "                       record DIR/db/RecordK.mdb (none when omitted); one line per stored\n"
    "                       scan; Ctrl+C stops the run cleanly\n"
    "  records [--data-dir DIR]\n"
    "                       list the record files (DIR/db/*.mdb)\n"
    "  export NAME FILE.csv [--data-dir DIR]\n"
    "                       append every scan of record NAME to FILE.csv as the record\n"
    "                       browser exports it; FILE - writes to standard output\n"
    "\n"
    "Instrument options:\n"
    "  --simulate [FILE]    use simulated instruments instead of real ones: those described by\n"
    "                       FILE (INI layout), or two built-in meters\n"
    "  --visa-library PATH  use this vendor VISA library instead of searching for one\n"
    "  --trace FILE         append every VISA write and read (time, resource, bytes, status)\n"
    "                       to FILE, for bug reports\n"
    "  --data-dir DIR       folder whose db/ holds the records (default: the program folder,\n"
    "                       or the per-user data folder when that cannot be written)\n"
    "  --verbose            also say which VISA backend is used and what it found\n"
    "  --help               show this text\n";

struct CommonOptions {
  visa::VisaOptions visa;
  std::string dataDir;
  std::vector<std::string> positional;
  std::vector<std::string> uses;
  std::string templateOf;
  bool help = false;
};

// Parses the options every command shares; returns an error text for bad usage.
std::optional<std::string> parseOptions(const std::vector<std::string>& args, std::size_t from,
                                        CommonOptions& o) {
  for (std::size_t i = from; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&]() -> std::optional<std::string> {
      if (i + 1 >= args.size()) return std::nullopt;
      return args[++i];
    };
    if (a == "--help" || a == "-h") {
      o.help = true;
    } else if (a == "--simulate") {
      o.visa.simulate = true;
      // An optional FILE follows when the next word is not an option.
      if (i + 1 < args.size() && !startsWith(args[i + 1], "-")) o.visa.simulationFile = args[++i];
    } else if (a == "--visa-library") {
      auto v = value();
      if (!v) return "--visa-library needs a PATH";
      o.visa.visaLibrary = *v;
    } else if (a == "--trace") {
      auto v = value();
      if (!v) return "--trace needs a FILE";
      o.visa.traceFile = *v;
    } else if (a == "--data-dir") {
      auto v = value();
      if (!v) return "--data-dir needs a DIR";
      o.dataDir = *v;
    } else if (a == "--use") {
      auto v = value();
      if (!v) return "--use needs N:SETUP.ini";
      o.uses.push_back(*v);
    } else if (a == "--template") {
      auto v = value();
      if (!v) return "--template needs N";
      o.templateOf = *v;
    } else if (a == "--verbose" || a == "-v") {
      o.visa.verbose = true;
    } else if (startsWith(a, "-") && a != "-") {
      return "unknown option: " + a;
    } else {
      o.positional.push_back(a);
    }
  }
  return std::nullopt;
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
  for (int i = 0; i < link.InstrumentCount; ++i) {
    const DiscoveredInstrument& e = link.identified[static_cast<std::size_t>(i)];
    out << escapeControl(e.Resource) << '\t' << escapeControl(e.Model) << '\t'
        << escapeControl(e.Description) << '\n';
  }
  if (o.visa.verbose) err << link.InstrumentCount << " instrument(s) identified\n";
  link.closeAtShutdown();
  return 0;
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
  if (args.empty() || args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
    (args.empty() ? err : out) << kUsage << "\nCentral store:\n" << kCentralUsage;
    return args.empty() ? 2 : 0;
  }
  const std::string& command = args[0];
  if (isCentralCommand(args)) return runCentralCommand(args, out, err);
  CommonOptions o;
  if (auto error = parseOptions(args, 1, o)) {
    err << "kalivor-cli: " << *error << "\n" << "Try 'kalivor-cli --help'.\n";
    return 2;
  }
  if (o.help) {
    out << kUsage << "\nCentral store:\n" << kCentralUsage;
    return 0;
  }
  if (command == "list") return commandList(o, clock, out, err);
  if (command == "apply" || command == "run") {
    if (!o.positional.empty()) {
      err << "kalivor-cli: " << command << " takes no arguments besides its options (got \"" << o.positional[0] << "\")\n";
      return 2;
    }
    std::vector<CliUse> uses;
    for (const auto& u : o.uses) {
      CliUse use;
      if (const std::string e = parseUse(u, use); !e.empty()) {
        err << "kalivor-cli: " << e << "\n";
        return 2;
      }
      uses.push_back(use);
    }
    return command == "apply" ? commandApply(o.visa, clock, uses, out, err)
                              : commandRun(o.visa, clock, o.dataDir, uses, out, err);
  }
  if (command == "records") {
    if (!o.positional.empty()) {
      err << "kalivor-cli: records takes no arguments (got \"" << o.positional[0] << "\")\n";
      return 2;
    }
    return commandRecords(o.dataDir, out, err);
  }
  if (command == "export") {
    if (o.positional.size() != 2) {
      err << "kalivor-cli: export needs NAME FILE.csv\n";
      return 2;
    }
    return commandExport(o.dataDir, o.positional[0], o.positional[1], out, err);
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
