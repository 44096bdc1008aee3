// SPDX-License-Identifier: MIT
#include "app/cli_run.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <csignal>
#include <iostream>
#include <functional>
#include <map>
#include <optional>
#include <set>

#include "acquisition/live_display.h"
#include "acquisition/run_controller.h"
#include "acquisition/run_status.h"
#include "acquisition/sqlite_run_records.h"
#include "app/cli_central.h"
#include "app/selection.h"
#include "common/json.h"
#include "common/numbers.h"
#include "common/paths.h"
#include "common/scheduler.h"
#include "common/text.h"
#include "instrument/instrument_link.h"
#include "scan/apply.h"
#include "scan/setup_file.h"
#include "scan/setup_model.h"
#include "store/record_files.h"
#include "store/record_lock.h"

namespace kalivor {
namespace {

std::atomic<int> gStopSignal{0};  // the signal that asked to stop; 0: none
std::function<void(const std::string&)> gCheckpointHook;
bool gStopSignalsInstalled = false;  // run and watch only: apply and setup keep the defaults

extern "C" void onStopSignal(int signal) { gStopSignal = signal; }

std::string signalName(int signal) {
  switch (signal) {
    case SIGINT: return "SIGINT";
    case SIGTERM: return "SIGTERM";
    case SIGHUP: return "SIGHUP";
    default: return "signal " + intToText(signal);
  }
}

// While a run or watch goes on: Ctrl+C, SIGTERM and SIGHUP only raise the stop flag, and a closed
// standard output is an error of the write (seen by the printer) instead of a silent death.
class StopSignals {
 public:
  StopSignals() {
    gStopSignal = 0;
    gStopSignalsInstalled = true;
    for (std::size_t i = 0; i < kSignals.size(); ++i) previous_[i] = std::signal(kSignals[i], onStopSignal);
    previousPipe_ = std::signal(SIGPIPE, SIG_IGN);
  }
  ~StopSignals() {
    for (std::size_t i = 0; i < kSignals.size(); ++i) std::signal(kSignals[i], previous_[i]);
    std::signal(SIGPIPE, previousPipe_);
    gStopSignalsInstalled = false;
    gStopSignal = 0;
  }
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

 private:
  static constexpr std::array<int, 3> kSignals = {SIGINT, SIGTERM, SIGHUP};
  std::array<void (*)(int), 3> previous_{};
  void (*previousPipe_)(int) = nullptr;
};

// Whether a stop was asked for, at a named point.
bool stopAskedAt(const std::string& step) {
  if (!gStopSignalsInstalled) return false;
  if (gCheckpointHook) gCheckpointHook(step);
  return gStopSignal.load() != 0;
}

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

// Where the run yields: looks for a stop request.
class StopPump final : public EventPump {
 public:
  std::function<void()> check;
  void processEvents() override {
    if (check) check();
  }
};

// Who logs in a slot, as printed with each scan.
struct SlotIdentity {
  int number = 0;  // position in `kalivor-cli list`, as --use counts
  std::string resource;
  std::string serial;
  std::string record;  // "" = none
};

// Prints each stored scan: instrument number, scan number, time stamp and readings on one
// tab-separated line, or as one JSON object per line.
class ScanPrinter final : public RunObserver {
 public:
  ScanPrinter(std::ostream& out, bool json, const ScanTables& tables, const LiveDisplay& display,
              const std::array<SlotIdentity, kMaxInstruments>& slots)
      : out_(out), json_(json), tables_(tables), display_(display), slots_(slots) {}

  void scanStored(int slot, std::int64_t scanNumber) override {
    if (outputFailed) return;
    const auto s = static_cast<std::size_t>(slot);
    const ScanTable& t = display_.scanTables[s];
    const std::string time = t.rows.empty() ? std::string() : t.rows.back()[1];
    const SlotIdentity& who = slots_[s];
    if (json_) {
      out_ << "{\"instrument\":" << who.number << ",\"resource\":" << jsonString(who.resource)
           << ",\"serial\":" << jsonString(who.serial)
           << ",\"record\":" << (who.record.empty() ? std::string("null") : jsonString(who.record))
           << ",\"scan\":" << scanNumber << ",\"time\":" << jsonString(time) << ",\"readings\":{";
    } else {
      out_ << who.number << '\t' << scanNumber << '\t' << time;
    }
    const int n = std::min<int>(tables_.setup[s].ChannelCount, kMaxChannels);
    bool first = true;
    for (int c = 0; c < n; ++c) {
      const auto ci = static_cast<std::size_t>(c);
      if (tables_.channel[s][ci].Function == "NONE") continue;
      const std::string& reading = tables_.ReadingText[s][ci];
      if (json_) {
        out_ << (first ? "" : ",") << "\"CH" << c + 1 << "\":" << jsonNumberOrString(reading);
      } else {
        out_ << "\tCH" << c + 1 << '=' << escapeControl(reading);
      }
      first = false;
    }
    out_ << (json_ ? "}}\n" : "\n") << std::flush;
    // A closed pipe (`run | head`) or a full disk: the run is stopped, the records are complete.
    if (!out_) outputFailed = true;
    stopAskedAt("stored");
  }
  bool outputFailed = false;
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
  bool json_;
  const ScanTables& tables_;
  const LiveDisplay& display_;
  const std::array<SlotIdentity, kMaxInstruments>& slots_;
};

// Instruments found, chosen and set up from their setup files, as the windows would do it.
struct Session {
  Session(const visa::VisaOptions& options, Clock& c, std::ostream& /*out*/, std::ostream& err)
      : clock(c), messages(err), err_(err) {
    setup = visa::makeVisa(options, clock);
  }
  // Whatever ended the command, the sessions, the find list and the manager are closed.
  ~Session() {
    if (link) link->closeAtShutdown();
  }
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  bool ready(std::ostream& err) {
    if (!setup.api) {
      err << "kalivor-cli: " << setup.error << "\n";
      return false;
    }
    link = std::make_unique<InstrumentLink>(*setup.api, clock, messages);
    run = std::make_unique<RunController>(*link, tables, display, records, pump);
    selection = std::make_unique<InstrumentSelection>(*link, tables, display, *run);
    editor = std::make_unique<ScanSetEditor>(tables, clock);
    return true;
  }

  // Says on err that a signal ended start-up; always false.
  bool stoppedWhile(const std::string& what) {
    stopped = true;
    err_ << "kalivor-cli: stopped by " << signalName(gStopSignal.load()) << " while " << what
         << "; nothing was logged\n";
    return false;
  }

  // Finds the instruments; false when a stop signal came meanwhile.
  bool discover() {
    selection->Find_Button_Click();
    if (stopAskedAt("discovered")) return stoppedWhile("finding the instruments");
    return true;
  }

  // Finds the instruments, resolves every use to a listed one, ticks them and confirms. Says on
  // err which instrument each use got.
  bool select(const std::vector<CliUse>& uses, std::ostream& err) { return discover() && choose(uses, err); }

  // Resolves every use to a listed instrument, ticks them and confirms; `announce`: says on err
  // which instrument each use got.
  bool choose(const std::vector<CliUse>& uses, std::ostream& err, bool announce = false) {
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
      const int useSlot = slotOfPosition[p];
      useSlots[&uses[i]] = useSlot;
      const DiscoveredInstrument& d = link->identified[static_cast<std::size_t>(p - 1)];
      slots[static_cast<std::size_t>(useSlot)] = {p, d.Resource, serialOf(d), uses[i].record};
      if (announce || uses.size() > 1 || !uses[i].setupFile.empty()) {
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

  // Each selected meter is read back once; after a failed read (or a stop signal) nothing more
  // is asked of any.
  InstrumentAccess access() {
    InstrumentAccess a;
    a.readBack = [this](int slot) {
      if (stopped || !readBackFailed.empty() || readBackDone.count(slot)) return;
      if (stopAskedAt("read-back")) {
        stoppedWhile("reading the setups back");
        return;
      }
      readBackDone.insert(slot);
      if (!ReadBack(*editor, *link, slot, {})) readBackFailed.push_back(slot);
    };
    a.lastExchangeFailed = [this] { return stopped || !readBackFailed.empty(); };
    return a;
  }

  // The scan settings as the window loads them, every meter read back; false (said on err) when
  // a meter did not answer.
  bool loadEditor(std::ostream& err) {
    const bool shown = editor->load(display.deviceList, access()) == ShowOutcome::Shown;
    if (stopped) return false;
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

  // Loads a setup file into the shown slot; false (said on err) when it cannot be.
  bool loadFile(const std::string& file, std::ostream& err) {
    const SetupLoadResult r = loadSetupFile(*editor, file);
    switch (r.status) {
      case SetupLoadResult::Status::Loaded: return true;
      case SetupLoadResult::Status::Refused:
        err << "kalivor-cli: " << file << ": " << (r.message ? r.message->text : std::string(kLoadFailedText)) << "\n";
        return false;
      case SetupLoadResult::Status::NotANumber:
      case SetupLoadResult::Status::EndedEarly:
        err << "kalivor-cli: " << file << ": cannot be loaded"
            << (r.stoppedAt.empty() ? std::string() : " (stopped at " + r.stoppedAt + ")") << "\n";
        return false;
    }
    return false;
  }

  // The start and stop times asked for on the command line, set as the scan settings window's
  // boxes set them; Apply then checks them as it does the window's. The window offers a stop
  // time only to a setup that runs until Stop.
  bool setTimes(const CliUse& use, const RunOptions& times, std::ostream& err) {
    if (times.stopAt && editor->shownSetup().scanCount_Status != 2) {
      err << "kalivor-cli: --stop-at: " << use.setupFile << " ends "
          << (editor->shownSetup().scanCount_Status == 0 ? "after a number of channel readings"
                                                         : "after a number of scans")
          << "; a stop time applies only to a setup that runs until Stop (use --scans or "
             "--duration to end it earlier)\n";
      return false;
    }
    if (times.startAt) editor->setStartTime(true, *times.startAt);
    if (times.stopAt) editor->setStopTime(true, *times.stopAt);
    return true;
  }

  // Loads each setup file into its slot and applies all of them; a use without a file applies
  // the instrument's setup as read back.
  bool applyUses(const std::vector<CliUse>& uses, std::ostream& err,
                 const RunOptions& times = RunOptions()) {
    if (!loadEditor(err)) return false;
    for (const CliUse& use : uses) {
      if (use.setupFile.empty()) continue;
      if (stopAskedAt("setup-file")) return stoppedWhile("loading the setup files");
      const int slot = slotFor(use);
      if (editor->showInstrument(slot, access()) != ShowOutcome::Shown) return false;
      if (!loadFile(use.setupFile, err) || !setTimes(use, times, err)) return false;
    }
    if (stopAskedAt("apply")) return stoppedWhile("loading the setup files");
    const ApplyResult result = ApplySetups(*editor, *link, link->InstrumentCount,
                                           [this](int slot) { display.show_data(slot, tables, link->InstrumentCount); });
    if (!result.completed || link->lastExchangeFailed()) return false;
    if (stopAskedAt("applied")) return stoppedWhile("sending the setups (they were sent)");
    return true;
  }

  // Runs the scans until the run ends, printing each stored scan; a stop signal or an output that
  // cannot be written presses Stop. Exit code: 1 after an instrument or record failure.
  // `eachStep` runs beside the run (the central store's state lines).
  int runScans(const RunOptions& o, std::ostream& out, std::ostream& err,
               const std::function<void()>& eachStep = {}) {
    ScanPrinter printer(out, o.json, tables, display, slots);
    bool stopping = false;
    auto lookForStop = [&] {
      if (stopping) return;
      if (const int signal = gStopSignal.load()) {
        err << "kalivor-cli: " << signalName(signal) << ": stopping the run\n";
      } else if (printer.outputFailed) {
        err << "kalivor-cli: the standard output cannot be written (closed?); stopping the run\n";
      } else {
        return;
      }
      stopping = true;
      run->StopReading_Click();
    };
    printer.events = &err;
    pump.check = lookForStop;
    run->setObserver(&printer);
    run->scanLimit = o.scans;
    messages.problems.clear();
    run->StartReading_Click();
    std::optional<Scheduler::TimerId> deadline;
    if (o.durationMs > 0) {
      LocalMs from = clock.now();
      if (o.startAt && *o.startAt > from) from = *o.startAt;
      deadline = run->scheduler().at(from + o.durationMs, [this] { run->StopReading_Click(); });
    }
    run->driveUntil([&] {
      lookForStop();
      if (eachStep) eachStep();
      return false;
    });
    if (deadline) run->scheduler().cancel(*deadline);
    run->setObserver(nullptr);
    pump.check = nullptr;
    return (run->instrumentFailed() || !messages.problems.empty()) ? 1 : 0;
  }

  Clock& clock;
  CliMessages messages;
  std::ostream& err_;
  visa::VisaSetup setup;
  ScanTables tables;
  LiveDisplay display;
  SqliteRunRecords records{std::filesystem::path()};
  std::unique_ptr<RunLog> runLog;
  StopPump pump;
  std::unique_ptr<InstrumentLink> link;
  std::unique_ptr<RunController> run;
  std::unique_ptr<InstrumentSelection> selection;
  std::unique_ptr<ScanSetEditor> editor;
  std::map<const CliUse*, int> useSlots;
  std::array<SlotIdentity, kMaxInstruments> slots{};
  std::set<int> readBackDone;
  std::vector<int> readBackFailed;
  bool stopped = false;  // a stop signal ended start-up
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

// A watch scans every slot once a second until Stop, whatever its setup says about when to
// start and end; no record is touched.
void setUpForWatching(ScanTables& tables, int instruments) {
  for (int slot = 0; slot < instruments; ++slot) {
    const auto s = static_cast<std::size_t>(slot);
    ScanSetup& setup = tables.setup[s];
    setup.scanCount_Status = 2;
    setup.ScanCount = intToText(setup.ChannelCount);
    setup.ScanInterval = 1;
    setup.ScanTime = "1";
    setup.StartAtTime = 0;
    setup.StopAtTime = 0;
    tables.DatabaseName[s] = "0";
  }
}

}  // namespace

void requestStopFromSignal(int signal) { gStopSignal = signal; }

void setStopCheckpointHook(std::function<void(const std::string& step)> hook) {
  gCheckpointHook = std::move(hook);
}

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
  return s.select(uses, err) && s.applyUses(uses, err) ? 0 : 1;
}

int commandSetupTemplate(const visa::VisaOptions& options, Clock& clock, int instrument,
                         const std::string& file, std::ostream& out, std::ostream& err) {
  Session s(options, clock, out, err);
  if (!s.ready(err)) return 1;
  CliUse use;
  use.instrument = instrument;
  if (!s.select({use}, err) || !s.loadEditor(err)) return 1;
  const SaveResult r = saveSetupFile(*s.editor, file);
  if (!r.ok) {
    err << "kalivor-cli: " << r.error << "\n";
    return 1;
  }
  err << "Setup of " << s.display.deviceList[0] << " written to " << file << "\n";
  return 0;
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

int commandRun(const visa::VisaOptions& options, Clock& clock, const RunOptions& o,
               const std::vector<CliUse>& uses, std::ostream& out, std::ostream& err) {
  if (uses.empty()) {
    err << "kalivor-cli: run needs at least one --use N:SETUP.ini[:RecordK]\n";
    return 2;
  }
  if (!recordsUsable(o.dataDir, uses, err)) return 1;
  const StopSignals signals;
  Session s(options, clock, out, err);
  if (!s.ready(err) || !s.select(uses, err) || !s.applyUses(uses, err, o)) return 1;
  // As in the window, a stop time already past ends the run before its first scan; a script is
  // told why it got nothing.
  if (o.stopAt && *o.stopAt < clock.now()) {
    err << "kalivor-cli: --stop-at " << formatDateTime(*o.stopAt) << " has passed: the run ends before its first scan\n";
  }
  s.records.setDataFolder(resolveDataFolder(o.dataDir));
  s.runLog = std::make_unique<RunLog>(RunLog::pathFor(resolveDataFolder(o.dataDir)));
  s.run->setRunLog(s.runLog.get());
  for (const CliUse& use : uses) {
    s.tables.DatabaseName[static_cast<std::size_t>(s.slotFor(use))] = use.record.empty() ? "0" : use.record;
  }
  s.run->keepGoing = o.keepGoing;
  CentralBesideRun central(o.central, resolveDataFolder(o.dataDir));
  central.start(err);
  RunStatus status(*s.run, s.tables, s.display, store::recordFolder(resolveDataFolder(o.dataDir)));
  if (central.on()) {
    status.setExtraColumn("central", [&](int slot) {
      return central.stateOf(s.tables.DatabaseName[static_cast<std::size_t>(slot)]);
    });
  }
  std::optional<StatusPrinter> statusPrinter;
  const int code = s.runScans(o, out, err, [&] {
    if (!statusPrinter && o.statusEverySeconds > 0) {
      statusPrinter.emplace(s.run->scheduler(), status, s.link->InstrumentCount, o.statusEverySeconds, err);
    }
    if (central.on()) central.report(clock.now(), centralInstruments(s), err);
  });
  central.finish(err);
  statusPrinter.reset();
  return code;
}

int commandWatch(const visa::VisaOptions& options, Clock& clock, const RunOptions& o,
                 const std::vector<CliUse>& uses, std::ostream& out, std::ostream& err) {
  for (const CliUse& use : uses) {
    if (!use.record.empty()) {
      err << "kalivor-cli: watch stores nothing; leave out \":" << use.record << "\"\n";
      return 2;
    }
  }
  const StopSignals signals;
  Session s(options, clock, out, err);
  if (!s.ready(err) || !s.discover()) return 1;
  std::vector<CliUse> chosen = uses;
  if (chosen.empty()) {
    const int listed = s.selection->listedCount();
    if (listed == 0) {
      err << "kalivor-cli: no instrument was found (see kalivor-cli list --verbose)\n";
      return 1;
    }
    if (listed > kMaxInstruments) {
      err << "kalivor-cli: " << listed << " instruments found; watching the first four (choose "
             "others with --use)\n";
    }
    for (int p = 1; p <= std::min(listed, kMaxInstruments); ++p) {
      CliUse use;
      use.instrument = p;
      chosen.push_back(use);
    }
  }
  if (!s.choose(chosen, err, true) || !s.applyUses(chosen, err)) return 1;
  setUpForWatching(s.tables, s.link->InstrumentCount);
  return s.runScans(o, out, err);
}

}  // namespace kalivor
