// SPDX-License-Identifier: MIT
#include "app/cli_run.h"

#include <algorithm>
#include <atomic>
#include <csignal>
#include <iostream>
#include <map>
#include <optional>
#include <set>

#include "acquisition/live_display.h"
#include "acquisition/run_controller.h"
#include "acquisition/run_status.h"
#include "acquisition/sqlite_run_records.h"
#include "app/cli_central.h"
#include "app/selection.h"
#include "common/numbers.h"
#include "common/paths.h"
#include "common/text.h"
#include "instrument/instrument_link.h"
#include "scan/apply.h"
#include "scan/setup_file.h"
#include "scan/setup_model.h"
#include "store/record_files.h"
#include "store/record_lock.h"

namespace kalivor {
namespace {

std::atomic<bool> gStopSignal{false};

extern "C" void onStopSignal(int) { gStopSignal = true; }

// The core's message boxes on a terminal. Standard output carries data only (scan lines, CSV), so
// every message goes to stderr; the two success texts are not problems.
class CliMessages final : public Messages {
 public:
  explicit CliMessages(std::ostream& err) : err_(err) {}
  MessageAnswer show(const Message& m) override {
    const bool fine = m.text == kSettingCompleteText || m.text == "End of Job.";
    if (!fine) problems.push_back(m.text);
    err_ << (m.title == kAppTitle || m.title.empty() ? "" : m.title + ": ") << m.text << "\n";
    return m.buttons == MessageButtons::Ok ? MessageAnswer::Ok : MessageAnswer::No;
  }
  std::vector<std::string> problems;

 private:
  std::ostream& err_;
};

class SignalPump final : public EventPump {
 public:
  RunController* run = nullptr;
  void processEvents() override {
    if (gStopSignal.exchange(false) && run) run->StopReading_Click();
  }
};

// Prints one line per stored scan: slot, scan number, time stamp, readings.
class ScanPrinter final : public RunObserver {
 public:
  ScanPrinter(std::ostream& out, const ScanTables& tables, const LiveDisplay& display)
      : out_(out), tables_(tables), display_(display) {}
  void scanStored(int slot, std::int64_t scanNumber) override {
    const auto s = static_cast<std::size_t>(slot);
    const ScanTable& t = display_.scanTables[s];
    out_ << slot << '\t' << scanNumber << '\t' << (t.rows.empty() ? "" : t.rows.back()[1]);
    const int n = std::min<int>(tables_.setup[s].ChannelCount, kMaxChannels);
    for (int c = 0; c < n; ++c) {
      if (tables_.channel[s][static_cast<std::size_t>(c)].Function == "NONE") continue;
      out_ << "\tCH" << c + 1 << '=' << escapeControl(tables_.ReadingText[s][static_cast<std::size_t>(c)]);
    }
    out_ << '\n' << std::flush;
  }
  // Alarm events and run notices go to standard error, with the other messages.
  std::ostream* events = nullptr;
  void alarmChanged(const AlarmEvent& e) override { say(e.slot, alarmEventText(e)); }
  void runNotice(int slot, const std::string& text) override { say(slot, text); }
  // A meter lost or back (the "Timeout" that follows without keep-going names none).
  void meterEvent(int slot, const std::string& what) override { say(slot, what); }

 private:
  void say(int slot, const std::string& text) {
    const auto s = static_cast<std::size_t>(slot);
    if (events) *events << (s < display_.deviceList.size() ? display_.deviceList[s] : "") << ": " << text << '\n' << std::flush;
  }
  std::ostream& out_;
  const ScanTables& tables_;
  const LiveDisplay& display_;
};

// Instruments found, chosen and set up from their setup files, as the windows would do it.
struct Session {
  Session(const visa::VisaOptions& options, Clock& c, std::ostream& /*out*/, std::ostream& err)
      : clock(c), messages(err) {
    setup = visa::makeVisa(options, clock);
  }

  bool ready(std::ostream& err) {
    if (!setup.api) {
      err << "kalivor-cli: " << setup.error << "\n";
      return false;
    }
    link = std::make_unique<InstrumentLink>(*setup.api, clock, messages);
    run = std::make_unique<RunController>(*link, tables, display, records, pump);
    pump.run = run.get();
    selection = std::make_unique<InstrumentSelection>(*link, tables, display, *run);
    editor = std::make_unique<ScanSetEditor>(tables, clock);
    return true;
  }

  // Finds the instruments, resolves every use to a listed one, ticks them and confirms. Says on
  // err which instrument each use got.
  bool select(const std::vector<CliUse>& uses, std::ostream& err) {
    selection->Find_Button_Click();
    std::set<int> chosen;
    std::vector<int> positions;
    for (const CliUse& use : uses) {
      const int p = resolve(use, err);
      if (p == 0) return false;
      if (!chosen.insert(p).second) {
        err << "kalivor-cli: instrument " << describeUse(use) << " is named twice\n";
        return false;
      }
      positions.push_back(p);
    }
    if (chosen.size() > static_cast<std::size_t>(kMaxInstruments)) {
      err << "kalivor-cli: at most four instruments can be used at once\n";
      return false;
    }
    for (int p : chosen) selection->Check1[static_cast<std::size_t>(p - 1)] = true;
    selection->readChannelFunctions = false;
    selection->ok_Button_Click();
    selection->applyToMainWindow();
    // Slots follow the list order of the ticked instruments.
    std::map<int, int> slotOfPosition;
    int slot = 0;
    for (int p : chosen) slotOfPosition[p] = slot++;
    for (std::size_t i = 0; i < uses.size(); ++i) {
      const int p = positions[i];
      useSlots[&uses[i]] = slotOfPosition[p];
      if (uses.size() > 1 || !uses[i].setupFile.empty()) {
        const DiscoveredInstrument& d = link->identified[static_cast<std::size_t>(p - 1)];
        err << "kalivor-cli: " << describeUse(uses[i]) << " is " << d.Resource << ", serial "
            << serialOf(d) << "\n";
      }
    }
    return true;
  }

  // The slot a use was selected into.
  int slotFor(const CliUse& use) const {
    const auto it = useSlots.find(&use);
    return it == useSlots.end() ? 0 : it->second;
  }

  static std::string describeUse(const CliUse& use) {
    return use.device.empty() ? intToText(use.instrument) : use.device;
  }
  static std::string serialOf(const DiscoveredInstrument& d) {
    return trimBlanks(d.Description.substr(0, d.Description.find(" -- ")));
  }

  // The 1-based list position of a use's instrument; 0 (said on err) when there is none.
  int resolve(const CliUse& use, std::ostream& err) const {
    const int listed = selection->listedCount();
    if (use.device.empty()) {
      if (use.instrument >= 1 && use.instrument <= listed) return use.instrument;
      err << "kalivor-cli: there is no instrument " << use.instrument << " (" << listed
          << " found; see kalivor-cli list)\n";
      return 0;
    }
    for (int p = 1; p <= listed; ++p) {
      const DiscoveredInstrument& d = link->identified[static_cast<std::size_t>(p - 1)];
      if (equalsIgnoreCase(d.Resource, use.device) || serialOf(d) == use.device) return p;
    }
    err << "kalivor-cli: no instrument with the serial or resource \"" << use.device
        << "\" was found (" << listed << " found; see kalivor-cli list); nothing was started\n";
    return 0;
  }

  // Each selected meter is read back once; after a failed read nothing more is asked of any.
  InstrumentAccess access() {
    InstrumentAccess a;
    a.readBack = [this](int slot) {
      if (!readBackFailed.empty() || !readBackDone.insert(slot).second) return;
      if (!ReadBack(*editor, *link, slot, {})) readBackFailed.push_back(slot);
    };
    a.lastExchangeFailed = [this] { return !readBackFailed.empty(); };
    return a;
  }

  // The scan settings as the window loads them, every meter read back; false (said on err) when
  // a meter did not answer.
  bool loadEditor(std::ostream& err) {
    const bool shown = editor->load(display.deviceList, access()) == ShowOutcome::Shown;
    if (readBackFailed.empty() && shown) return true;
    for (int slot : readBackFailed) {
      err << "kalivor-cli: " << deviceName(slot)
          << " did not answer while its setup was read; nothing was sent to it\n";
    }
    return false;
  }

  std::string deviceName(int slot) const {
    const auto s = static_cast<std::size_t>(slot);
    return s < display.deviceList.size() ? display.deviceList[s] : "instrument " + intToText(slot + 1);
  }

  // Loads each setup file into its slot and applies all of them.
  bool applyUses(const std::vector<CliUse>& uses, std::ostream& err) {
    if (!loadEditor(err)) return false;
    for (const CliUse& use : uses) {
      const int slot = slotFor(use);
      if (editor->showInstrument(slot, access()) != ShowOutcome::Shown) return false;
      const SetupLoadResult r = loadSetupFile(*editor, use.setupFile);
      switch (r.status) {
        case SetupLoadResult::Status::Loaded: break;
        case SetupLoadResult::Status::Refused:
          err << "kalivor-cli: " << use.setupFile << ": " << (r.message ? r.message->text : std::string(kLoadFailedText)) << "\n";
          return false;
        case SetupLoadResult::Status::NotANumber:
        case SetupLoadResult::Status::EndedEarly:
          err << "kalivor-cli: " << use.setupFile << ": cannot be loaded"
              << (r.stoppedAt.empty() ? std::string() : " (stopped at " + r.stoppedAt + ")") << "\n";
          return false;
      }
    }
    const ApplyResult result = ApplySetups(*editor, *link, link->InstrumentCount,
                                           [this](int slot) { display.show_data(slot, tables, link->InstrumentCount); });
    return result.completed && !link->lastExchangeFailed();
  }

  Clock& clock;
  CliMessages messages;
  visa::VisaSetup setup;
  ScanTables tables;
  LiveDisplay display;
  SqliteRunRecords records{std::filesystem::path()};
  std::unique_ptr<RunLog> runLog;
  SignalPump pump;
  std::unique_ptr<InstrumentLink> link;
  std::unique_ptr<RunController> run;
  std::unique_ptr<InstrumentSelection> selection;
  std::unique_ptr<ScanSetEditor> editor;
  std::map<const CliUse*, int> useSlots;
  std::set<int> readBackDone;
  std::vector<int> readBackFailed;
};

// Each selected instrument's name and the record it logs into, for the central state lines.
std::vector<std::pair<std::string, std::string>> centralInstruments(const Session& s) {
  std::vector<std::pair<std::string, std::string>> instruments;
  for (int slot = 0; slot < static_cast<int>(s.link->InstrumentCount); ++slot) {
    instruments.emplace_back(s.deviceName(slot),
                             s.tables.DatabaseName[static_cast<std::size_t>(slot)]);
  }
  return instruments;
}

}  // namespace

void requestStopFromSignal() { gStopSignal = true; }

std::string parseUse(const std::string& text, CliUse& use) {
  // A resource name has colons of its own: "USB0::0x0957::0x1234::MY1234::INSTR:setup.ini".
  std::size_t colon = std::string::npos;
  const std::string upper = [&] {
    std::string u = text;
    for (char& c : u) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    return u;
  }();
  if (const auto instr = upper.find("::INSTR:"); instr != std::string::npos) colon = instr + 7;
  else colon = text.find(':');
  if (colon == std::string::npos || colon == 0) {
    return "--use needs N:SETUP.ini[:RecordK] (N: a position in the list, a serial or a resource "
           "name), got \"" + text + "\"";
  }
  const std::string which = text.substr(0, colon);
  const bool digitsOnly = which.find_first_not_of("0123456789") == std::string::npos;
  if (digitsOnly) {
    const auto n = strictNumber(which);
    if (!n || *n < 1 || *n > 1000) return "--use: \"" + which + "\" is not an instrument number";
    use.instrument = static_cast<int>(*n);
  } else {
    for (char c : which) {
      if (static_cast<unsigned char>(c) <= ' ' || c == 0x7F)
        return "--use: \"" + escapeControl(which) + "\" is not a position, serial or resource name";
    }
    use.device = which;
  }
  std::string rest = text.substr(colon + 1);
  const auto last = rest.rfind(':');
  if (last != std::string::npos) {
    use.record = rest.substr(last + 1);
    rest = rest.substr(0, last);
    if (!store::isSafeRecordName(use.record))
      return "--use: \"" + use.record + "\" is not a record name (letters, digits, blanks, - and _ only)";
  }
  if (rest.empty()) return "--use: no setup file in \"" + text + "\"";
  use.setupFile = rest;
  return {};
}

bool recordsUsable(const std::string& dataDir, const std::vector<CliUse>& uses, std::ostream& err) {
  const std::filesystem::path folder = resolveDataFolder(dataDir);
  std::set<std::string> named;
  for (const CliUse& use : uses) {
    if (use.record.empty()) continue;
    if (!named.insert(use.record).second) {
      err << "kalivor-cli: the record " << use.record << " is named twice; nothing was started\n";
      return false;
    }
    std::filesystem::path file;
    if (const store::StoreStatus st = store::recordFilePath(folder, use.record, file); !st.ok()) {
      err << "kalivor-cli: " << st.error << "\n";
      return false;
    }
    if (store::isRecordInUse(file)) {
      err << "kalivor-cli: the record " << use.record << " (" << file.string()
          << ") is in use by another run; nothing was started\n";
      return false;
    }
  }
  return true;
}

int commandApply(const visa::VisaOptions& options, Clock& clock, const std::vector<CliUse>& uses,
                 std::ostream& out, std::ostream& err) {
  if (uses.empty()) {
    err << "kalivor-cli: apply needs at least one --use N:SETUP.ini\n";
    return 2;
  }
  Session s(options, clock, out, err);
  if (!s.ready(err)) return 1;
  const int code = s.select(uses, err) && s.applyUses(uses, err) ? 0 : 1;
  s.link->closeAtShutdown();
  return code;
}

int commandSetupTemplate(const visa::VisaOptions& options, Clock& clock, int instrument,
                         const std::string& file, std::ostream& out, std::ostream& err) {
  Session s(options, clock, out, err);
  if (!s.ready(err)) return 1;
  int code = 1;
  CliUse use;
  use.instrument = instrument;
  if (s.select({use}, err) && s.loadEditor(err)) {
    const SaveResult r = saveSetupFile(*s.editor, file);
    if (r.ok) {
      err << "Setup of " << s.display.deviceList[0] << " written to " << file << "\n";
      code = 0;
    } else {
      err << "kalivor-cli: " << r.error << "\n";
    }
  }
  s.link->closeAtShutdown();
  return code;
}

std::string parseStatusEvery(const std::string& text, double& seconds) {
  const auto v = strictNumber(text);
  // A day is the longest period that makes sense for a status line; below 0.1 s it would flood.
  if (!v || !(*v >= 0.1) || *v > 86400) {
    return "--status-every needs a number of seconds from 0.1 to 86400, got \"" + escapeControl(text) + "\"";
  }
  seconds = *v;
  return {};
}

namespace {

// Prints the run status on err every `seconds` of the run's clock, from the run's own scheduler.
class StatusPrinter {
 public:
  StatusPrinter(Scheduler& scheduler, const RunStatus& status, int instruments, double seconds,
                std::ostream& err)
      : scheduler_(scheduler), status_(status), instruments_(instruments),
        periodMs_(static_cast<LocalMs>(seconds * 1000 + 0.5)), err_(err) {
    if (periodMs_ > 0) arm();
  }
  ~StatusPrinter() {
    if (armed_) scheduler_.cancel(timer_);
  }

 private:
  void arm() {
    armed_ = true;
    timer_ = scheduler_.at(scheduler_.clock().now() + periodMs_, [this] {
      armed_ = false;
      err_ << "Run status at " << MakeTimeStamp(scheduler_.clock().localTime(), false) << "\n";
      const std::string text = formatRunStatus(status_.snapshot(instruments_));
      std::size_t from = 0;
      while (from < text.size()) {
        const std::size_t end = text.find('\n', from);
        err_ << "  " << text.substr(from, end - from) << "\n";
        from = end == std::string::npos ? text.size() : end + 1;
      }
      err_ << std::flush;
      arm();
    });
  }

  Scheduler& scheduler_;
  const RunStatus& status_;
  int instruments_;
  LocalMs periodMs_;
  std::ostream& err_;
  Scheduler::TimerId timer_ = 0;
  bool armed_ = false;
};

}  // namespace

int commandRun(const visa::VisaOptions& options, Clock& clock, const std::string& dataDir,
               const std::vector<CliUse>& uses, std::ostream& out, std::ostream& err,
               const central::CentralChoice& centralChoice, bool keepGoing,
               const CliRunOptions& runOptions) {
  if (uses.empty()) {
    err << "kalivor-cli: run needs at least one --use N:SETUP.ini[:RecordK]\n";
    return 2;
  }
  if (!recordsUsable(dataDir, uses, err)) return 1;
  Session s(options, clock, out, err);
  if (!s.ready(err) || !s.select(uses, err)) return 1;
  if (!s.applyUses(uses, err)) return 1;
  s.records.setDataFolder(resolveDataFolder(dataDir));
  s.runLog = std::make_unique<RunLog>(dbFolderOf(resolveDataFolder(dataDir)) + "/kalivor-run.log");
  s.run->setRunLog(s.runLog.get());
  for (const CliUse& use : uses) {
    s.tables.DatabaseName[static_cast<std::size_t>(s.slotFor(use))] = use.record.empty() ? "0" : use.record;
  }
  ScanPrinter printer(out, s.tables, s.display);
  printer.events = &err;
  s.run->setObserver(&printer);
  s.run->keepGoing = keepGoing;
  s.messages.problems.clear();
  gStopSignal = false;
  auto previousInt = std::signal(SIGINT, onStopSignal);
  auto previousTerm = std::signal(SIGTERM, onStopSignal);
  CentralBesideRun central(centralChoice, resolveDataFolder(dataDir));
  central.start(err);
  RunStatus status(*s.run, s.tables, s.display, store::recordFolder(resolveDataFolder(dataDir)));
  s.run->StartReading_Click();
  std::optional<StatusPrinter> statusPrinter;
  if (runOptions.statusEverySeconds > 0) {
    statusPrinter.emplace(s.run->scheduler(), status, s.link->InstrumentCount, runOptions.statusEverySeconds, err);
  }
  s.run->driveUntil([&] {
    if (gStopSignal.exchange(false)) s.run->StopReading_Click();
    if (central.on()) central.report(clock.now(), centralInstruments(s), err);
    return false;
  });
  central.finish(err);
  statusPrinter.reset();
  std::signal(SIGINT, previousInt);
  std::signal(SIGTERM, previousTerm);
  s.run->setObserver(nullptr);
  s.link->closeAtShutdown();
  return (s.run->instrumentFailed() || !s.messages.problems.empty()) ? 1 : 0;
}

}  // namespace kalivor
