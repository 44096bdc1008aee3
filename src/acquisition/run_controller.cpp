// SPDX-License-Identifier: MIT
#include "acquisition/run_controller.h"

#include <cmath>
#include <cstdio>

#include "acquisition/fetch_parser.h"
#include "common/numbers.h"
#include "common/text.h"
#include "instrument/vocabulary.h"
#include "scan/setup_file.h"
#include "scan/apply.h"
#include "visa/tracing_visa.h"

namespace kalivor {

double SecondsOfDay(const LocalDateTime& t) {
  return t.hour * 3600.0 + t.minute * 60.0 + t.second + t.millisecond * 0.001;
}

std::string MakeTimeStamp(const LocalDateTime& t, bool withMilliseconds) {
  char buf[40];
  if (withMilliseconds) {
    std::snprintf(buf, sizeof buf, "%04d/%02d/%02d %02d:%02d:%02d:%03d", t.year, t.month, t.day,
                  t.hour, t.minute, t.second, t.millisecond);
  } else {
    std::snprintf(buf, sizeof buf, "%04d/%02d/%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour,
                  t.minute, t.second);
  }
  return buf;
}

double AdjustForMidnight(double now, double due) {
  const double diff = now - due;
  return (diff > 3600 || diff < -3600) ? now + 86400 : now;
}

RunController::RunController(InstrumentLink& link, ScanTables& tables, LiveDisplay& display,
                             RunRecords& records, EventPump& pump)
    : link_(link),
      tables_(tables),
      display_(display),
      records_(records),
      pump_(pump),
      scheduler_(std::make_unique<Scheduler>(link.clock())) {
  // A failed instrument read outside a run stops the run before the message is shown.
  link_.setStopHook([this] { onInstrumentFailure(); });
}

RunController::~RunController() {
  // Unwinds every coroutine before the tasks, ports and scheduler go.
  for (auto& p : ports_) {
    if (p) p->cancel();
  }
}

int RunController::instruments() const {
  return std::clamp<int>(link_.InstrumentCount, 0, kMaxInstruments);
}

MeterPort& RunController::port(int slot) {
  auto& p = ports_[static_cast<std::size_t>(slot)];
  if (!p) p = std::make_unique<MeterPort>(link_.visaApi(), link_.clock(), *scheduler_);
  return *p;
}

void RunController::onInstrumentFailure() {
  if (running_) instrumentFailed_ = true;
  StopReading_Click();
}

bool RunController::laterThanNow(const std::string& dateTime) {
  const auto t = parseDateTime(dateTime);
  return t && *t > link_.clock().now();
}

bool RunController::earlierThanNow(const std::string& dateTime) {
  const auto t = parseDateTime(dateTime);
  return t && *t < link_.clock().now();
}

void RunController::StopReading_Click() {
  if (chart_) chart_->ReplotAll();
  link_.StopRequested = true;
  display_.contral_enable();
  display_.UnlockAfterRun();
  // Every meter's share ends at its next step; one waiting for a reply or a timer at once.
  if (running_) {
    for (auto& p : ports_) {
      if (p) p->cancel();
    }
  }
}

void RunController::stopForShutdown() {
  if (!running_) return;
  quiet_ = true;
  StopReading_Click();
  // The coroutines have been called off; the records close now, not when the scheduler next runs.
  runEnd();
}

void RunController::driveUntil(const std::function<bool()>& done) {
  scheduler_->runUntil([&] { return !running_ || (done && done()); });
}

void RunController::driveUntilEnded() { driveUntil({}); }

namespace {

// The per-channel rules of reading functions back, shared by the run's and the link's version.
bool keepsUserFunction(const ChannelSetup& ch) {
  // The instrument reports a voltage for a current channel: keep what the user chose.
  return contains(ch.Function, "ACI") || contains(ch.Function, "DCI");
}

void markSensePair(std::array<ChannelSetup, kChannelTableSize>& channels, int c, int half) {
  if (c + 1 > half && c - half >= 0 &&
      contains(channels[static_cast<std::size_t>(c - half)].Function, "4W"))
    channels[static_cast<std::size_t>(c)].Function = "NONE";
}

}  // namespace

void RunController::meter_scan_func(int slot) {
  if (slot < 0 || slot >= kSlotTableSize) return;
  const auto d = static_cast<std::size_t>(slot);
  const int count = std::min<int>(tables_.setup[d].ChannelCount, kMaxChannels);
  const int half = static_cast<int>(roundHalfEven(count / 2.0));
  auto& channels = tables_.channel[d];
  for (int c = 0; c < count; ++c) {
    ChannelSetup& ch = channels[static_cast<std::size_t>(c)];
    if (keepsUserFunction(ch)) continue;
    link_.SendCommand("rout:scan:func? " + intToText(c + 1), slot);
    if (link_.lastExchangeFailed()) {
      StopReading_Click();
      return;
    }
    const std::string answer = cleanAnswer(link_.ReplyBuffer);
    ch.Function = TranslateFunctionName(answer);
    if (contains(answer, "TEMP")) {
      link_.SendCommand("TEMPerature:TRANsducer? @" + intToText(c + 1), slot);
      if (link_.lastExchangeFailed()) {
        StopReading_Click();
        return;
      }
      if (contains(cleanAnswer(link_.ReplyBuffer), "FRTD")) ch.Function = "4W,TEMP";
    }
    markSensePair(channels, c, half);
  }
}

// The slot's channel functions, read back into its applied setup. The failed or cancelled reply
// that ended it, if one did.
Task<PortReply> RunController::readBack(int slot) {
  const auto d = static_cast<std::size_t>(slot);
  const int count = std::min<int>(tables_.setup[d].ChannelCount, kMaxChannels);
  const int half = static_cast<int>(roundHalfEven(count / 2.0));
  auto& channels = tables_.channel[d];
  MeterPort& p = port(slot);
  for (int c = 0; c < count; ++c) {
    ChannelSetup& ch = channels[static_cast<std::size_t>(c)];
    if (keepsUserFunction(ch)) continue;
    auto r = co_await p.query("rout:scan:func? " + intToText(c + 1));
    if (r.cancelled || r.failed()) co_return r;
    const std::string answer = cleanAnswer(r.text);
    ch.Function = TranslateFunctionName(answer);
    if (contains(answer, "TEMP")) {
      auto t = co_await p.query("TEMPerature:TRANsducer? @" + intToText(c + 1));
      if (t.cancelled || t.failed()) co_return t;
      if (contains(cleanAnswer(t.text), "FRTD")) ch.Function = "4W,TEMP";
    }
    markSensePair(channels, c, half);
  }
  co_return PortReply{};
}

Task<void> RunController::readBackSlot(int slot) {
  const auto s = static_cast<std::size_t>(slot);
  auto r = co_await readBack(slot);
  if (r.cancelled || !r.failed()) co_return;
  // Under keepGoing the meter joins later with the setup it was given, not with what was half
  // read back.
  if (keepGoing) tables_.channel[s] = startChannels_[s];
  failSlot(slot, r.status, "Timeout");
  readBackFailed_[s] = true;
}

void RunController::setCondition(int slot, MeterCondition condition) {
  const auto s = static_cast<std::size_t>(slot);
  condition_[s] = condition;
  // Under keepGoing the meter's tab and scan-control row say how it fares; without it nothing
  // looks different.
  if (!keepGoing) return;
  display_.markMeter(slot, condition == MeterCondition::Reconnecting ? MeterMark::Reconnecting
                           : condition == MeterCondition::Failed     ? MeterMark::Failed
                                                                      : MeterMark::None);
}

std::string RunController::meterName(int slot) const {
  const auto s = static_cast<std::size_t>(slot);
  if (s < display_.deviceList.size() && !display_.deviceList[s].empty()) return display_.deviceList[s];
  return "instrument " + intToText(slot + 1);
}

void RunController::meterEvent(int slot, const std::string& what) {
  const std::string who = meterName(slot);
  if (auto* trace = dynamic_cast<visa::TracingVisa*>(&link_.visaApi())) {
    // The trace names meters by resource, as its other lines do.
    const int entry = link_.slots[static_cast<std::size_t>(slot)].DiscoveredIndex;
    const std::string resource = entry >= 0 && entry < kIdentifiedCapacity
                                     ? link_.identified[static_cast<std::size_t>(entry)].Resource
                                     : std::string();
    trace->note(resource.empty() ? who : resource, what);
  }
  if (runLog_) runLog_->write(link_.clock().localTime(), who, what);
  if (observer_) observer_->meterEvent(slot, what);
}

namespace {

// What a failed exchange means, for the run log: "link lost", "no answer".
std::string failureText(visa::ViStatus status) {
  if (status == visa::VI_ERROR_CONN_LOST) return "link lost";
  if (status == visa::VI_ERROR_TMO) return "no answer";
  return visa::TracingVisa::statusText(status);
}

}  // namespace

bool RunController::pauseShare(int slot) {
  // From the first read-back on: a meter lost before its first scan joins once it is back.
  if (!keepGoing || !running_) return false;
  // It is tried again every 30 s (see reconnect).
  setCondition(slot, MeterCondition::Reconnecting);
  ScanInProgress[static_cast<std::size_t>(slot)] = false;
  return true;
}

void RunController::failSlot(int slot, visa::ViStatus status, const char* message) {
  const auto s = static_cast<std::size_t>(slot);
  meterEvent(slot, trimBlanks(message) + ": " + failureText(status));
  if (pauseShare(slot)) return;
  condition_[s] = MeterCondition::Failed;
  // The read-failure rule of the link, for the run's own ports.
  link_.LastVisaStatus = status;
  if (running_) instrumentFailed_ = true;
  StopReading_Click();
  link_.StopRequested = true;
  link_.messages().inform(message);
}

void RunController::failOnAnswer(int slot, const std::string& query, const std::string& problem) {
  meterEvent(slot, query + " answer " + problem);
  if (pauseShare(slot)) return;
  const auto s = static_cast<std::size_t>(slot);
  const std::string who = s < display_.deviceList.size() ? display_.deviceList[s] : "the instrument";
  link_.messages().inform("The answer of " + who + " to " + query + " " + problem + "; the run is stopped.");
  link_.StopRequested = true;
  StopReading_Click();
}

void RunController::abandonStart() {
  for (int d = 0; d < kSlotTableSize; ++d) {
    if (recordOpen_[static_cast<std::size_t>(d)]) records_.CloseRunDatabase(d);
    recordOpen_[static_cast<std::size_t>(d)] = false;
  }
  StopReading_Click();
  running_ = false;
  ++generation_;
  if (observer_) observer_->runEnded();
}

void RunController::recordFailure(const std::string& error) {
  link_.messages().inform(error);
  link_.StopRequested = true;
  StopReading_Click();
}

void RunController::StartReading_Click() {
  if (running_) return;
  running_ = true;
  quiet_ = false;
  ++generation_;
  instrumentFailed_ = false;
  display_.runNotices.clear();
  sharing_ = false;
  condition_.fill(MeterCondition::Healthy);
  recordOpen_.fill(false);
  recordBroken_.fill(false);
  readBackFailed_.fill(false);
  link_.LastVisaStatus = visa::VI_SUCCESS;
  link_.StopRequested = false;
  const int n = instruments();

  // 1-3: chart, locks, scan tables.
  if (chart_) chart_->beginRun();
  display_.enabled["Command1"] = false;
  display_.enabled["Command2"] = false;
  display_.LockForRun();
  for (int d = 0; d < n; ++d) display_.prepareScanTable(d, tables_.setup[static_cast<std::size_t>(d)].ChannelCount);

  // 4: something must be measured somewhere.
  int withoutChannels = 0;
  for (int d = 0; d < n; ++d) {
    const auto s = static_cast<std::size_t>(d);
    bool any = false;
    const int count = std::min<int>(tables_.setup[s].ChannelCount, kMaxChannels);
    for (int c = 0; c < count; ++c) any = any || tables_.channel[s][static_cast<std::size_t>(c)].Function != "NONE";
    hasChannels_[s] = any;
    withoutChannels += any ? 0 : 1;
  }
  if (withoutChannels == n) {
    link_.messages().inform("No scan function");
    StopReading_Click();
    running_ = false;
    if (observer_) observer_->runEnded();
    return;
  }

  // 5: every meter reads its channel functions back, side by side.
  for (int d = 0; d < n; ++d) {
    const auto s = static_cast<std::size_t>(d);
    display_.tabs[s].visible = true;
    display_.markMeter(d, MeterMark::None);  // its name on the tab, without a mark of the run before
    WaitFlag[s] = 0;
    ScanInProgress[s] = false;
    MeterPort& p = port(d);
    p.rearm();
    p.setSession(link_.sessionOfSlot(d));
  }
  ++display_.revision;
  pendingTasks_ = n;
  const std::uint64_t generation = generation_;
  for (int d = 0; d < n; ++d) {
    const auto s = static_cast<std::size_t>(d);
    startChannels_[s] = tables_.channel[s];
    readBackTasks_[s] = readBackSlot(d);
    readBackTasks_[s].start([this, generation, d] {
      scheduler_->post([this, generation, d] {
        if (generation == generation_) readBackDone(d);
      });
    });
  }
}

void RunController::readBackDone(int slot) {
  if (!keepGoing) {
    // Every meter read back, or the run does not start.
    if (--pendingTasks_ > 0) return;
    continueStart();
    return;
  }
  // Under keepGoing each meter starts once its own channels are read back, so one that is slow
  // or silent holds back no other; a lost one starts by reconnecting. pendingTasks_ now counts
  // the meters whose share has not ended.
  if (link_.StopRequested) {
    slotDone();
    return;
  }
  if (!sharing_ && !beginShares()) return;
  // Showing a meter lays out every meter's scan-control row afresh: those already scanning keep
  // the time of their first scan there.
  const auto rows = display_.scanControlRows;
  showMeter(slot);
  for (std::size_t d = 0; d < rows.size() && d < display_.scanControlRows.size(); ++d) {
    if (tables_.ScansDone[d] > 0) display_.scanControlRows[d][4] = rows[d][4];
  }
  describeRun(slot);
  if (!startShare(slot)) slotDone();
}

void RunController::showMeter(int slot) {
  display_.show_data(slot, tables_, instruments());
  display_.ListFetchTime[static_cast<std::size_t>(slot)].clear();
}

void RunController::resetRunViews() {
  display_.selectedTab = 0;
  for (int d = 0; d < kMaxInstruments; ++d) {
    if (chart_) chart_->clearPositionTables(d);
  }
}

bool RunController::openRecords() {
  const int n = instruments();
  for (int d = 0; d < n; ++d) {
    const auto s = static_cast<std::size_t>(d);
    if (chart_) chart_->ResetChartScale(d);
    tables_.ScansDone[s] = 0;
    const std::string& name = tables_.DatabaseName[s];
    if (name == "0") continue;
    if (const std::string error = records_.CreateRunDatabase(d, name); !error.empty()) {
      link_.messages().inform(error);
      abandonStart();
      return false;
    }
    if (!records_.exists(d)) {
      link_.messages().inform("The database is error!!Please choice a database again.");
      abandonStart();
      return false;
    }
    if (const std::string error = records_.OpenRunDatabase(d); !error.empty()) {
      link_.messages().inform(error);
      abandonStart();
      return false;
    }
    recordOpen_[s] = true;
  }
  return true;
}

bool RunController::beginShares() {
  resetRunViews();
  if (!openRecords()) return false;
  for (int d = instruments(); d < kSlotTableSize; ++d) watch_.clear(d);
  FinishedDeviceCount = 0;
  for (int d = 0; d < kSlotTableSize; ++d) DeviceFinished[static_cast<std::size_t>(d)] = 0;
  sharing_ = true;
  return true;
}

bool RunController::startShare(int slot) {
  const auto s = static_cast<std::size_t>(slot);
  // A slot whose channels all read back as NONE has nothing to measure: it is done before it
  // starts (triggering it with a count of 0 would loop for ever).
  hasChannels_[s] = hasChannels_[s] && display_.ActiveChannelCount[s] > 0;
  if (!hasChannels_[s]) {
    markFinished(slot);
    return false;
  }
  slotTasks_[s] = slotRun(slot);
  const std::uint64_t generation = generation_;
  slotTasks_[s].start([this, generation] {
    scheduler_->post([this, generation] {
      if (generation == generation_) slotDone();
    });
  });
  return true;
}

void RunController::continueStart() {
  const int n = instruments();
  bool failed = false;
  for (int d = 0; d < n; ++d) {
    if (readBackFailed_[static_cast<std::size_t>(d)] || link_.StopRequested) {
      failed = true;
      continue;
    }
    showMeter(d);
  }

  // 6
  if (failed || link_.StopRequested) {
    resetRunViews();
    runEnd();
    return;
  }
  // 7-9: records, then every meter's share.
  link_.StopRequested = false;
  if (!beginShares()) return;
  for (int d = 0; d < n; ++d) describeRun(d);
  pendingTasks_ = n;
  for (int d = 0; d < n; ++d) {
    if (!startShare(d)) slotDone();
  }
}

void RunController::slotDone() {
  if (--pendingTasks_ > 0) return;
  runEnd();
}

void RunController::markFinished(int slot) {
  const auto s = static_cast<std::size_t>(slot);
  DeviceFinished[s] += 1;
  ++FinishedDeviceCount;
  if (FinishedDeviceCount >= instruments()) {
    link_.StopRequested = true;
    StopReading_Click();
  }
}

// The count the slot's scans are made of; sets the first reading target.
std::string RunController::prepareCount(int slot) {
  const auto s = static_cast<std::size_t>(slot);
  const ScanSetup& setup = tables_.setup[s];
  const double active = display_.ActiveChannelCount[s];
  std::string count;
  if (setup.scanCount_Status == 0) {
    count = setup.ScanCount;
    const auto v = toInt16(strictNumber(setup.ScanCount).value_or(leadingNumber(setup.ScanCount)));
    ConfiguredScanCount[s] = v.value_or(0);
    NextReadingTarget[s] = ConfiguredScanCount[s] > active ? active : ConfiguredScanCount[s];
  } else {
    count = numberToText(active);
    ConfiguredScanCount[s] = toInt16(active).value_or(0);
    NextReadingTarget[s] = ConfiguredScanCount[s];
  }
  return count;
}

Task<void> RunController::slotRun(int slot) {
  MeterPort& p = port(slot);
  // A meter lost while its channels were read back starts by coming back.
  bool up = !readBackFailed_[static_cast<std::size_t>(slot)];
  if (up) {
    auto w = co_await p.write("rout:scan:count " + prepareCount(slot));
    if (w.cancelled) co_return;
  }
  while (true) {
    if (up) {
      const Share end = co_await scanLoop(slot);
      if (end != Share::Failed || !keepGoing || p.cancelled()) co_return;
    }
    up = co_await reconnect(slot);
    if (!up) co_return;
  }
}

// Tries the lost meter again every 30 s until it is back (true), its stop time passes or the run
// is stopped (false). An outcome is reported when it differs from the try before, so a meter
// away for a weekend leaves a few lines, not thousands.
Task<bool> RunController::reconnect(int slot) {
  const auto s = static_cast<std::size_t>(slot);
  const ScanSetup& setup = tables_.setup[s];
  MeterPort& p = port(slot);
  WaitFlag[s] = 1;
  std::string lastOutcome;
  LocalMs next = link_.clock().now() + kReconnectEveryMs;
  while (true) {
    const auto stopAt = setup.StopAtTime == 1 ? parseDateTime(setup.StopTime) : std::nullopt;
    if (stopAt && *stopAt < link_.clock().now()) {
      markFinished(slot);
      co_return false;
    }
    if (link_.clock().now() < next) {
      LocalMs until = next;
      if (stopAt) until = std::min(until, *stopAt + 1);
      auto r = co_await p.sleepUntil(until);
      if (r.cancelled) co_return false;
      continue;
    }
    setCondition(slot, MeterCondition::Reconnecting);
    const std::string outcome = co_await reconnectAttempt(slot);
    if (p.cancelled()) co_return false;
    if (outcome.empty()) {
      setCondition(slot, MeterCondition::Healthy);
      WaitFlag[s] = 0;
      display_.ListFetchTime[s].clear();  // stamps of the scan the failure cut short
      meterEvent(slot, "reconnected");
      co_return true;
    }
    if (outcome != lastOutcome) meterEvent(slot, "not reconnected: " + outcome);
    lastOutcome = outcome;
    next = link_.clock().now() + kReconnectEveryMs;
  }
}

namespace {

// A session opened by a reconnection attempt; closed again unless the run adopts it (an attempt
// that fails or is called off part way leaks nothing).
struct Reopened {
  explicit Reopened(visa::VisaApi& api) : api(api) {}
  ~Reopened() {
    if (session != 0 && !adopted) api.viClose(session);
  }
  visa::VisaApi& api;
  visa::ViSession session = 0;
  bool adopted = false;
  std::string identity, serial, problem;
};

}  // namespace

// One try: open the resource again, check that the same meter answers, give it its setup again,
// read its channels back and set its scan count. The reason it failed, or "" once it is back.
Task<std::string> RunController::reconnectAttempt(int slot) {
  const auto s = static_cast<std::size_t>(slot);
  MeterPort& p = port(slot);
  const int entry = link_.slots[s].DiscoveredIndex;
  if (entry < 0 || entry >= kIdentifiedCapacity) co_return "not identified";
  const DiscoveredInstrument want = link_.identified[static_cast<std::size_t>(entry)];
  const int index = want.ResourceIndex;
  if (index < 0 || index >= static_cast<int>(kDeviceSessionCount)) co_return "not identified";

  // The old session is dead: closed with the first try, never used again.
  const visa::ViSession old = link_.DeviceSessions[static_cast<std::size_t>(index)];
  link_.DeviceSessions[static_cast<std::size_t>(index)] = 0;
  p.setSession(0);

  auto opened = std::make_shared<Reopened>(link_.visaApi());
  const visa::ViSession manager = link_.ResourceManager;
  Clock& clock = link_.clock();
  std::function<PortReply()> job = [opened, old, manager, &clock, resource = want.Resource] {
    using namespace visa;
    VisaApi& api = opened->api;
    PortReply out;
    if (old != 0) api.viClose(old);
    ViSession session = 0;
    out.status = api.viOpen(manager, resource.c_str(), 0, 0, &session);
    if (out.status < VI_SUCCESS || session == 0) {
      opened->problem = out.status == VI_ERROR_RSRC_NFOUND
                            ? std::string("not found")
                            : "cannot be opened (" + failureText(out.status) + ")";
      if (out.status >= VI_SUCCESS) out.status = VI_ERROR_RSRC_NFOUND;
      return out;
    }
    opened->session = session;
    api.viSetAttribute(session, VI_ATTR_TMO_VALUE, kSessionTimeoutMs);
    // As discovery asks: the identity without a line feed, the serial with one.
    auto ask = [&](const std::string& q, std::string& answer) {
      ViUInt32 n = 0;
      out.status = api.viWrite(session, reinterpret_cast<const unsigned char*>(q.data()),
                               static_cast<ViUInt32>(q.size()), &n);
      if (out.status < VI_SUCCESS) return false;
      clock.sleep(kQueryPauseMs);
      unsigned char buf[kReplyBufferSize];
      ViUInt32 got = 0;
      out.status = api.viRead(session, buf, static_cast<ViUInt32>(kReplyBufferSize), &got);
      answer.assign(reinterpret_cast<const char*>(buf), std::min<std::size_t>(got, kReplyBufferSize));
      return !isVisaFailure(out.status);
    };
    if (!ask("*IDN?", opened->identity) || !ask("cal:sec:serial?\n", opened->serial)) {
      opened->problem = "no answer to its identification (" + failureText(out.status) + ")";
    }
    return out;
  };
  // (Reasons are built into locals before co_return: GCC 12 mishandles temporaries there.)
  std::string why;
  auto r = co_await p.run(std::move(job));
  if (r.cancelled) co_return "stopped";
  if (!opened->problem.empty()) co_return opened->problem;
  const std::string serial = trimBlanks(removeChar(removeChar(opened->serial, '\n'), '\r'));
  if (modelOfIdentity(opened->identity) != want.Model || serial != want.Serial) {
    why = "another instrument answers (" + cleanAnswer(opened->identity) + ")";
    co_return why;
  }
  opened->adopted = true;
  link_.DeviceSessions[static_cast<std::size_t>(index)] = opened->session;
  p.setSession(opened->session);

  // It may have been switched off and on: its setup again, as Apply sends it.
  const std::vector<std::string> commands = appliedSetupCommands(tables_.setup[s], tables_.channel[s]);
  for (const std::string& command : commands) {
    auto w = co_await p.write(command);
    if (w.cancelled) co_return "stopped";
    if (w.failed()) {
      why = "its setup could not be sent (" + failureText(w.status) + ")";
      co_return why;
    }
  }
  const ChannelRow before = tables_.channel[s];
  auto b = co_await readBack(slot);
  if (b.cancelled) co_return "stopped";
  bool same = !b.failed();
  for (int c = 0; same && c < kMaxChannels; ++c) {
    same = before[static_cast<std::size_t>(c)].Function == tables_.channel[s][static_cast<std::size_t>(c)].Function;
  }
  if (!same) {
    // The run goes on with the functions it started with, or not at all.
    tables_.channel[s] = before;
    if (b.failed()) {
      why = "its channels could not be read back (" + failureText(b.status) + ")";
    } else {
      why = "its channels read back differently from its setup";
    }
    co_return why;
  }
  const std::string count = "rout:scan:count " + prepareCount(slot);
  auto w = co_await p.write(count);
  if (w.cancelled) co_return "stopped";
  co_return why;
}

Task<RunController::Share> RunController::scanLoop(int slot) {
  const auto s = static_cast<std::size_t>(slot);
  const ScanSetup& setup = tables_.setup[s];
  MeterPort& p = port(slot);
  while (true) {
    pump_.processEvents();
    if (link_.StopRequested && !p.cancelled()) StopReading_Click();
    if (p.cancelled()) co_return Share::Cancelled;

    // Stop time: once passed, the slot is finished and never triggered again.
    const auto stopAt = setup.StopAtTime == 1 ? parseDateTime(setup.StopTime) : std::nullopt;
    if (stopAt && *stopAt < link_.clock().now()) {
      WaitFlag[s] = 1;
      markFinished(slot);
      co_return Share::Finished;
    }

    // Start time.
    if (setup.StartAtTime == 1 && laterThanNow(setup.StartTime)) {
      WaitFlag[s] = 1;
      LocalMs until = *parseDateTime(setup.StartTime);
      if (stopAt) until = std::min(until, *stopAt + 1);
      auto r = co_await p.sleepUntil(until);
      if (r.cancelled) co_return Share::Cancelled;
      continue;
    }
    WaitFlag[s] = 0;

    // Interval since the previous scan's start ("Period Scan") or fetch.
    if (setup.scanCount_Status == 0) {
      stampMs_[s] = false;
    } else {
      stampMs_[s] = setup.ScanInterval == 1;
      const double due = strictNumber(setup.ScanTime).value_or(leadingNumber(setup.ScanTime)) +
                         (setup.ScanInterval == 1 ? ScanStartSeconds[s] : LastFetchSeconds[s]);
      display_.NowTimeSeconds = numberToText(AdjustForMidnight(secondsOfDay(), due));
      const double now = leadingNumber(display_.NowTimeSeconds);
      if (now < due) {
        WaitFlag[s] = 1;
        LocalMs until = link_.clock().now() + static_cast<LocalMs>(std::ceil((due - now) * 1000));
        if (stopAt) until = std::min(until, *stopAt + 1);
        auto r = co_await p.sleepUntil(until);
        if (r.cancelled) co_return Share::Cancelled;
        continue;
      }
      WaitFlag[s] = 0;
    }
    StampWithMilliseconds = stampMs_[s];

    // Trigger.
    auto t = co_await p.write("rout:scan:" + setup.ScanType);
    if (t.cancelled) co_return Share::Cancelled;
    ScanInProgress[s] = true;
    ScanStartSeconds[s] = secondsOfDay();
    ScanStartStamp[s] = timeStamp(slot);

    auto polled = co_await pollAndFetch(slot);
    if (polled != Share::Finished) co_return polled;
    if (DeviceFinished[s] != 0) co_return Share::Finished;
  }
}

// Polls until the scan's readings are complete, fetches and stores them. Finished here means the
// scan was fetched (the slot itself may go on).
Task<RunController::Share> RunController::pollAndFetch(int slot) {
  const auto s = static_cast<std::size_t>(slot);
  const ScanSetup& setup = tables_.setup[s];
  MeterPort& p = port(slot);
  const double active = display_.ActiveChannelCount[s];
  // Since when the meter has answered without a count. Under keepGoing a meter that does so for as
  // long as a read may take is taken for one that does not answer, and reconnected; without it
  // it is polled until Stop, as ever, while the others go on logging.
  std::optional<LocalMs> noCountSince;
  while (true) {
    auto r = co_await p.query("rout:scan:state?");
    if (r.cancelled) co_return Share::Cancelled;
    if (r.failed()) {
      failSlot(slot, r.status, "Timeout");
      co_return Share::Failed;
    }
    const std::optional<double> counted = leadingNumberIfAny(r.text);
    const double state = counted.value_or(0.0);
    if (counted) {
      noCountSince.reset();
    } else if (!noCountSince) {
      noCountSince = link_.clock().now();
    } else if (keepGoing && link_.clock().now() - *noCountSince >= static_cast<LocalMs>(kSessionTimeoutMs)) {
      failOnAnswer(slot, "rout:scan:state?", "is not a number");
      co_return Share::Failed;
    }
    pump_.processEvents();
    if (p.cancelled()) co_return Share::Cancelled;
    // A stop time passing mid-scan finishes the slot; its scan is still fetched.
    if (DeviceFinished[s] == 0 && setup.StopAtTime == 1 && earlierThanNow(setup.StopTime)) {
      WaitFlag[s] = 1;
      markFinished(slot);
      if (p.cancelled()) co_return Share::Cancelled;
    }

    if (setup.scanCount_Status == 0) {
      // Counts beyond the configured number would otherwise be polled for ever.
      const bool complete = state >= ConfiguredScanCount[s];
      if (state >= NextReadingTarget[s] || complete) {
        NextReadingTarget[s] += active;
        FetchStamp[s] = timeStamp(slot);
        LastFetchTimeText = FetchStamp[s];
        display_.ListFetchTime[s].push_back(FetchStamp[s]);
        ++display_.revision;
      }
      if (!complete) continue;
      auto f = co_await fetch(slot);
      ScanInProgress[s] = false;
      if (f != Share::Finished) co_return f;
      if (DeviceFinished[s] == 0) markFinished(slot);
      co_return Share::Finished;
    }

    if (state < NextReadingTarget[s]) continue;  // the scan is still running
    auto f = co_await fetch(slot);
    ScanInProgress[s] = false;
    if (f != Share::Finished) co_return f;
    if (setup.scanCount_Status == 1 && DeviceFinished[s] == 0) {
      const double wanted = strictNumber(setup.ScanCount).value_or(leadingNumber(setup.ScanCount));
      if (tables_.ScansDone[s] >= wanted) markFinished(slot);
    }
    if (scanLimit > 0 && DeviceFinished[s] == 0 && tables_.ScansDone[s] >= static_cast<double>(scanLimit)) markFinished(slot);
    co_return Share::Finished;
  }
}

Task<RunController::Share> RunController::fetch(int slot) {
  const auto s = static_cast<std::size_t>(slot);
  const ScanSetup& setup = tables_.setup[s];
  MeterPort& p = port(slot);
  auto r = co_await p.query("fetch?");
  if (r.cancelled) co_return Share::Cancelled;
  LastFetchSeconds[s] = secondsOfDay();
  if (setup.scanCount_Status != 0) {
    FetchStamp[s] = timeStamp(slot);
    LastFetchTimeText = setup.ScanInterval == 1 ? ScanStartStamp[s] : FetchStamp[s];
    display_.ListFetchTime[s].push_back(LastFetchTimeText);
  }
  auto& stamps = display_.ListFetchTime[s];
  if (r.failed()) {
    stamps.clear();
    failSlot(slot, r.status, "Timeout");
    co_return Share::Failed;
  }

  const int count = std::min<int>(setup.ChannelCount, kMaxChannels);
  std::vector<int> active;
  for (int c = 0; c < count; ++c) {
    if (!contains(tables_.channel[s][static_cast<std::size_t>(c)].Function, "NONE")) active.push_back(c);
  }
  FetchParser parser(active, count, strictNumber(setup.ScanCount), tables_.ReadingText[s],
                     [this, slot](std::size_t sweep) { storeFetched(slot, sweep); });
  parser.feed(r.text, r.more());
  int reads = 1;
  Share outcome = Share::Finished;
  bool more = r.more();
  while (more) {
    if (++reads > kMaxFetchReads) {
      failOnAnswer(slot, "fetch?", "does not end");
      outcome = Share::Failed;
      break;
    }
    auto next = co_await p.read();
    if (next.cancelled) {
      outcome = Share::Cancelled;
      break;
    }
    if (next.failed()) {
      failSlot(slot, next.status, "Timeout ");
      outcome = Share::Failed;
      break;
    }
    more = next.more();
    parser.feed(next.text, more);
  }
  stamps.clear();
  ++display_.revision;
  if (outcome != Share::Finished) co_return outcome;
  pump_.processEvents();
  if (chart_) chart_->PushScanAndReplot();
  if (chart_) chart_->updateAxisLabels();
  if (observer_) observer_->fetchDone(slot);
  co_return Share::Finished;
}

void RunController::storeFetched(int slot, std::size_t sweep) {
  const auto s = static_cast<std::size_t>(slot);
  auto& stamps = display_.ListFetchTime[s];
  // One stamp per sweep; should the polls have missed one, the fetch's own stamp stands in
  // rather than an empty time.
  if (sweep < stamps.size()) {
    LastFetchTimeText = stamps[sweep];
  } else {
    LastFetchTimeText = stamps.empty() ? FetchStamp[s] : stamps.back();
  }
  StoreScan(slot);
  display_.UpdateDataTables(slot, static_cast<std::int64_t>(tables_.ScansDone[s]), LastFetchTimeText,
                            tables_, &watch_);
  // A scan its record refused is not reported as stored, nor are the rest of this answer's
  // scans once the record has failed.
  if (observer_ && !recordBroken_[s]) {
    observer_->scanStored(slot, static_cast<std::int64_t>(tables_.ScansDone[s]));
  }
}

void RunController::StoreScan(int slot) {
  const auto s = static_cast<std::size_t>(slot);
  tables_.ScansDone[s] += 1;
  const int count = std::min<int>(tables_.setup[s].ChannelCount, kMaxChannels);
  auto& readings = tables_.ReadingText[s];
  for (int c = 0; c < count; ++c) {
    const auto sc = static_cast<std::size_t>(c);
    const ChannelSetup& ch = tables_.channel[s][sc];
    if (ch.Function == "DCI" || ch.Function == "ACI") {
      // Volts across the shunt to amperes; a reading that is not a number, or a shunt that is
      // not above 0, is kept as it came rather than turned into nonsense.
      const auto volts = strictNumber(readings[sc]);
      if (volts && ch.Ohm > 0) readings[sc] = numberToText(*volts / ch.Ohm + ch.Current);
    }
  }
  const bool logs = tables_.DatabaseName[s] != "0" && recordOpen_[s];
  const double num = (logs ? records_.RowBase(slot) : 0) + tables_.ScansDone[s];
  if (logs && !recordBroken_[s]) {
    std::array<std::string, kMaxChannels> row;
    for (int c = 0; c < kMaxChannels; ++c) row[static_cast<std::size_t>(c)] = readings[static_cast<std::size_t>(c)];
    if (const std::string error = records_.AppendReadingRow(slot, numberToText(num), LastFetchTimeText, row);
        !error.empty()) {
      recordBroken_[s] = true;
      recordFailure(error);
    }
  }
  // Alarm events follow the scan they belong to, which is stored by now.
  watchScan(slot, static_cast<std::int64_t>(num));
  for (int c = 0; c < count; ++c) {
    display_.showReading(slot, c, displayedReading(watch_.info(slot, c), readings[static_cast<std::size_t>(c)]),
                         watch_.mark(slot, c));
  }
  pump_.processEvents();
}

void RunController::runEnd() {
  if (!running_) return;
  ++generation_;
  if (chart_) chart_->updateAxisLabels();
  endRunRecords();
  for (int d = 0; d < kSlotTableSize; ++d) {
    const auto s = static_cast<std::size_t>(d);
    if (recordOpen_[s]) records_.CloseRunDatabase(d);
    recordOpen_[s] = false;
    if (d < kMaxInstruments) ScanInProgress[s] = false;
  }
  running_ = false;
  sharing_ = false;
  StopReading_Click();
  // Under keepGoing, a meter still away at the end failed; one that came back did not.
  for (int d = 0; d < kSlotTableSize; ++d) {
    if (condition_[static_cast<std::size_t>(d)] == MeterCondition::Reconnecting) setCondition(d, MeterCondition::Failed);
    if (condition_[static_cast<std::size_t>(d)] == MeterCondition::Failed) instrumentFailed_ = true;
  }
  if (instrumentFailed_ || link_.lastExchangeFailed()) {
    instrumentFailed_ = true;
    link_.StopRequested = true;
    display_.lockAfterInstrumentFailure();
  }
  ++display_.revision;
  if (!quiet_) link_.messages().inform("End of Job.");
  if (observer_) observer_->runEnded();
}

std::string RunController::instrumentName(int slot) const {
  const auto s = static_cast<std::size_t>(slot);
  return s < display_.deviceList.size() ? display_.deviceList[s] : "Instrument " + intToText(slot + 1);
}

void RunController::describeRun(int d) {
  const auto s = static_cast<std::size_t>(d);
  const int count = std::min<int>(tables_.setup[s].ChannelCount, kMaxChannels);
  watch_.begin(d, tables_.channel[s], count);
  if (!recordOpen_[s]) return;

  store::RunInfo info;
  info.startTime = MakeTimeStamp(link_.clock().localTime(), false);
  info.programVersion = KALIVOR_VERSION;
  const int entry = link_.slots[s].DiscoveredIndex;
  if (entry >= 0 && entry < kIdentifiedCapacity) {
    const DiscoveredInstrument& found = link_.identified[static_cast<std::size_t>(entry)];
    info.resource = found.Resource;
    info.identity = found.Identity;
    info.serial = found.Serial;
    info.cardCode = found.ScanerCard;
    info.cardDescription = found.Description;
  }
  WorkingCopy applied;
  applied.setup[s] = tables_.setup[s];
  applied.channel[s] = tables_.channel[s];
  info.setupIni = setupFileText(applied, tables_, d, tables_.setup[s].ChannelTime,
                                tables_.setup[s].ScanTime);
  std::vector<store::ChannelInfo> channels;
  for (int c = 0; c < count; ++c) channels.push_back(watch_.info(d, c));

  const std::string& name = tables_.DatabaseName[s];
  std::string others;
  for (const std::string& serial : records_.describedSerials(d)) {
    if (serial == info.serial) continue;
    others += (others.empty() ? "" : ", ") + (serial.empty() ? std::string("an unnamed instrument") : serial);
  }
  if (!others.empty()) {
    notice(d, name + " already holds runs of " + others + "; " +
                  (info.serial.empty() ? instrumentName(d) : info.serial) + " now logs into it as well.");
  }
  if (const std::string error = records_.describeRun(d, info, channels); !error.empty()) {
    // The scans matter more than their description: the run goes on storing them.
    notice(d, error + " (the record does not describe this run; its scans are stored as usual)");
  }
}

void RunController::notice(int slot, const std::string& text) {
  display_.runNotices.push_back(instrumentName(slot) + ": " + text);
  ++display_.revision;
  if (observer_) observer_->runNotice(slot, text);
}

void RunController::watchScan(int slot, std::int64_t num) {
  const auto s = static_cast<std::size_t>(slot);
  const std::vector<AlarmEvent> events = watch_.scan(slot, num, LastFetchTimeText, tables_.ReadingText[s]);
  const bool logs = tables_.DatabaseName[s] != "0" && recordOpen_[s] && !recordBroken_[s];
  for (const AlarmEvent& e : events) {
    // An alarm that cannot be stored is said; the scan goes on.
    if (logs) {
      const std::string error =
          e.cleared ? records_.clearAlarm(slot, e.channel, e.num, e.time)
                    : records_.raiseAlarm(slot, e.channel, e.num, e.time, e.value, e.kind, e.limit);
      if (!error.empty()) notice(slot, error);
    }
    if (runLog_ != nullptr) runLog_->write(link_.clock().localTime(), instrumentName(slot), alarmEventText(e));
    if (observer_) observer_->alarmChanged(e);
  }
}

void RunController::endRunRecords() {
  const std::string end = MakeTimeStamp(link_.clock().localTime(), false);
  for (int d = 0; d < kSlotTableSize; ++d) {
    const auto s = static_cast<std::size_t>(d);
    if (!recordOpen_[s] || recordBroken_[s]) continue;
    (void)records_.endRun(d, end);  // closing goes on; the last scan's time is already there
  }
}

}  // namespace kalivor
