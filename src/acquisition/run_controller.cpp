// SPDX-License-Identifier: MIT
#include "acquisition/run_controller.h"

#include <cstdio>

#include "acquisition/fetch_parser.h"
#include "common/numbers.h"
#include "common/text.h"
#include "instrument/vocabulary.h"

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
    : link_(link), tables_(tables), display_(display), records_(records), pump_(pump) {
  // A failed instrument read stops the run before the message is shown.
  link_.setStopHook([this] { onInstrumentFailure(); });
}

int RunController::instruments() const {
  return std::clamp<int>(link_.InstrumentCount, 0, kMaxInstruments);
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
}

void RunController::meter_scan_func(int slot) {
  if (slot < 0 || slot >= kSlotTableSize) return;
  const auto d = static_cast<std::size_t>(slot);
  const int count = std::min<int>(tables_.setup[d].ChannelCount, kMaxChannels);
  const int half = static_cast<int>(roundHalfEven(count / 2.0));
  auto& channels = tables_.channel[d];
  for (int c = 0; c < count; ++c) {
    ChannelSetup& ch = channels[static_cast<std::size_t>(c)];
    // The instrument reports a voltage for a current channel: keep what the user chose.
    if (contains(ch.Function, "ACI") || contains(ch.Function, "DCI")) continue;
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
    if (c + 1 > half && c - half >= 0 &&
        contains(channels[static_cast<std::size_t>(c - half)].Function, "4W"))
      ch.Function = "NONE";
  }
}

void RunController::abandonStart() {
  for (int d = 0; d < kSlotTableSize; ++d) {
    if (recordOpen_[static_cast<std::size_t>(d)]) records_.CloseRunDatabase(d);
    recordOpen_[static_cast<std::size_t>(d)] = false;
  }
  StopReading_Click();
  running_ = false;
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
  instrumentFailed_ = false;
  recordOpen_.fill(false);
  recordBroken_.fill(false);
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

  // 5: read the channel functions back and rebuild the grids.
  bool failed = false;
  for (int d = 0; d < n; ++d) {
    const auto s = static_cast<std::size_t>(d);
    display_.tabs[s].visible = true;
    display_.selectedTab = d;
    if (s < display_.deviceList.size()) display_.tabs[s].caption = display_.deviceList[s];
    WaitFlag[s] = 0;
    ScanInProgress[s] = false;
    meter_scan_func(d);
    if (link_.lastExchangeFailed()) {
      StopReading_Click();
      failed = true;
      break;
    }
    display_.show_data(d, tables_, n);
    display_.ListFetchTime[s].clear();
  }

  // 6
  display_.selectedTab = 0;
  for (int d = 0; d < kMaxInstruments; ++d) {
    if (chart_) chart_->clearPositionTables(d);
  }

  if (failed) {
    runEnd();
    return;
  }

  // 7: records.
  link_.StopRequested = false;
  for (int d = 0; d < n; ++d) {
    const auto s = static_cast<std::size_t>(d);
    if (chart_) chart_->ResetChartScale(d);
    tables_.ScansDone[s] = 0;
    const std::string& name = tables_.DatabaseName[s];
    if (name == "0") continue;
    if (const std::string error = records_.CreateRunDatabase(d, name); !error.empty()) {
      link_.messages().inform(error);
      abandonStart();
      return;
    }
    if (!records_.exists(d)) {
      link_.messages().inform("The database is error!!Please choice a database again.");
      abandonStart();
      return;
    }
    if (const std::string error = records_.OpenRunDatabase(d); !error.empty()) {
      link_.messages().inform(error);
      abandonStart();
      return;
    }
    recordOpen_[s] = true;
  }

  // 8: readings per scan.
  for (int d = 0; d < n; ++d) {
    const auto s = static_cast<std::size_t>(d);
    if (!hasChannels_[s]) continue;
    const ScanSetup& setup = tables_.setup[s];
    const double active = display_.ActiveChannelCount[s];
    if (setup.scanCount_Status == 0) {
      link_.SendCommand("rout:scan:count " + setup.ScanCount, d);
      const auto v = toInt16(strictNumber(setup.ScanCount).value_or(leadingNumber(setup.ScanCount)));
      ConfiguredScanCount[s] = v.value_or(0);
      NextReadingTarget[s] = ConfiguredScanCount[s] > active ? active : ConfiguredScanCount[s];
    } else {
      link_.SendCommand("rout:scan:count " + numberToText(active), d);
      ConfiguredScanCount[s] = toInt16(active).value_or(0);
      NextReadingTarget[s] = ConfiguredScanCount[s];
    }
  }

  // 9: a slot with nothing to measure is done before it starts.
  FinishedDeviceCount = 0;
  for (int d = 0; d < kSlotTableSize; ++d) DeviceFinished[static_cast<std::size_t>(d)] = 0;
  for (int d = 0; d < n; ++d) {
    if (!hasChannels_[static_cast<std::size_t>(d)]) {
      DeviceFinished[static_cast<std::size_t>(d)] = 1;
      ++FinishedDeviceCount;
    }
  }

  runLoop();
  runEnd();
}

void RunController::runLoop() {
  const int n = instruments();
  while (true) {
    bool busy = false;
    for (int k = 0; k < n; ++k) {
      const auto sk = static_cast<std::size_t>(k);
      const ScanSetup& setup = tables_.setup[sk];
      WaitFlag[sk] = (setup.StartAtTime == 1 && laterThanNow(setup.StartTime)) ? 1 : 0;
      pump_.processEvents();

      if (setup.scanCount_Status == 0) {
        StampWithMilliseconds = false;
      } else if (WaitFlag[sk] != 1) {
        for (int o = 0; o < n; ++o) {
          const auto so = static_cast<std::size_t>(o);
          StampWithMilliseconds = setup.ScanInterval == 1;
          const std::string& scanTime = tables_.setup[so].ScanTime;
          const double due = strictNumber(scanTime).value_or(leadingNumber(scanTime)) +
                             (setup.ScanInterval == 1 ? ScanStartSeconds[so] : LastFetchSeconds[so]);
          display_.NowTimeSeconds = numberToText(AdjustForMidnight(secondsOfDay(), due));
          const double now = leadingNumber(display_.NowTimeSeconds);
          WaitFlag[so] = now >= due ? 0 : 1;
        }
      }

      if (WaitFlag[sk] != 1 && DeviceFinished[sk] == 0 && !ScanInProgress[sk] && hasChannels_[sk]) {
        link_.SendCommand("rout:scan:" + setup.ScanType, k);
        ScanInProgress[sk] = true;
        ScanStartSeconds[sk] = secondsOfDay();
        ScanStartStamp[sk] = timeStamp();
      }
    }

    for (int o = 0; o < n; ++o) {
      const auto so = static_cast<std::size_t>(o);
      if (!ScanInProgress[so]) continue;
      busy = true;
      PollDevice(o);
      if (!ScanInProgress[so]) {
        pump_.processEvents();
        if (chart_) chart_->PushScanAndReplot();
        if (observer_) observer_->fetchDone(o);
      }
    }

    if (chart_) chart_->updateAxisLabels();

    for (int i = 0; i < n; ++i) {
      const auto si = static_cast<std::size_t>(i);
      const ScanSetup& setup = tables_.setup[si];
      if (setup.StopAtTime != 1 || !earlierThanNow(setup.StopTime)) {
        WaitFlag[si] = 0;
      } else if (DeviceFinished[si] == 0) {
        WaitFlag[si] = 1;
        ++FinishedDeviceCount;
        DeviceFinished[si] = 1;
      }
    }

    if (FinishedDeviceCount >= n) {
      link_.StopRequested = true;
      StopReading_Click();
    }
    pump_.processEvents();
    if (link_.StopRequested) break;
    if (!busy) link_.clock().sleep(kIdlePauseMs);
  }
}

void RunController::PollDevice(int slot) {
  const auto s = static_cast<std::size_t>(slot);
  const ScanSetup& setup = tables_.setup[s];
  link_.SendCommand("rout:scan:state?", slot);
  if (link_.lastExchangeFailed()) return;  // the failure has stopped the run
  const double state = leadingNumber(link_.ReplyBuffer);
  const double active = display_.ActiveChannelCount[s];

  if (setup.scanCount_Status == 0) {
    // Counts beyond the configured number would otherwise be polled for ever.
    const bool complete = state >= ConfiguredScanCount[s];
    if (state >= NextReadingTarget[s] || complete) {
      NextReadingTarget[s] += active;
      FetchStamp[s] = timeStamp();
      LastFetchTimeText = FetchStamp[s];
      display_.ListFetchTime[s].push_back(FetchStamp[s]);
    }
    if (complete) {
      link_.SendCommand("fetch?", slot);
      LastFetchSeconds[s] = secondsOfDay();
      if (!link_.lastExchangeFailed()) ParseFetchAnswer(slot);
      ScanInProgress[s] = false;
      DeviceFinished[s] += 1;
      ++FinishedDeviceCount;
    }
    return;
  }

  if (state < NextReadingTarget[s]) return;  // the scan is still running
  link_.SendCommand("fetch?", slot);
  LastFetchSeconds[s] = secondsOfDay();
  FetchStamp[s] = timeStamp();
  LastFetchTimeText = setup.ScanInterval == 1 ? ScanStartStamp[s] : FetchStamp[s];
  display_.ListFetchTime[s].push_back(LastFetchTimeText);
  if (!link_.lastExchangeFailed()) ParseFetchAnswer(slot);
  ScanInProgress[s] = false;
  if (setup.scanCount_Status == 1 && DeviceFinished[s] == 0) {
    const double wanted = strictNumber(setup.ScanCount).value_or(leadingNumber(setup.ScanCount));
    if (tables_.ScansDone[s] >= wanted) {
      DeviceFinished[s] += 1;
      ++FinishedDeviceCount;
    }
  }
}

void RunController::ParseFetchAnswer(int slot) {
  const auto s = static_cast<std::size_t>(slot);
  const ScanSetup& setup = tables_.setup[s];
  const int count = std::min<int>(setup.ChannelCount, kMaxChannels);
  std::vector<int> active;
  for (int c = 0; c < count; ++c) {
    if (!contains(tables_.channel[s][static_cast<std::size_t>(c)].Function, "NONE")) active.push_back(c);
  }
  auto& stamps = display_.ListFetchTime[s];
  const std::string fallbackStamp = FetchStamp[s];
  FetchParser parser(active, count, strictNumber(setup.ScanCount), tables_.ReadingText[s],
                     [&](std::size_t sweep) {
                       // One stamp per sweep; should the polls have missed one, the fetch's own
                       // stamp stands in rather than an empty time.
                       if (sweep < stamps.size()) {
                         LastFetchTimeText = stamps[sweep];
                       } else {
                         LastFetchTimeText = stamps.empty() ? fallbackStamp : stamps.back();
                       }
                       StoreScan(slot);
                       display_.UpdateDataTables(slot, static_cast<std::int64_t>(tables_.ScansDone[s]),
                                                 LastFetchTimeText, tables_);
                       // A scan its record refused is not reported as stored, nor are the
                       // rest of this answer's scans once the record has failed.
                       if (observer_ && !recordBroken_[s]) {
                         observer_->scanStored(slot, static_cast<std::int64_t>(tables_.ScansDone[s]));
                       }
                     });
  parser.feed(link_.receivedText(), link_.LastVisaStatus == visa::VI_SUCCESS_MAX_CNT);
  int reads = 1;
  while (link_.LastVisaStatus == visa::VI_SUCCESS_MAX_CNT) {
    if (++reads > kMaxFetchReads) {
      const std::string who = s < display_.deviceList.size() ? display_.deviceList[s] : "the instrument";
      link_.messages().inform("The answer of " + who + " to fetch? does not end; the run is stopped.");
      link_.StopRequested = true;
      StopReading_Click();
      break;
    }
    link_.ReadReply(slot);
    if (link_.lastExchangeFailed()) break;
    parser.feed(link_.receivedText(), link_.LastVisaStatus == visa::VI_SUCCESS_MAX_CNT);
  }
  stamps.clear();
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
    display_.showReading(slot, c, readings[sc]);
  }
  if (tables_.DatabaseName[s] != "0" && recordOpen_[s] && !recordBroken_[s]) {
    std::array<std::string, kMaxChannels> row;
    for (int c = 0; c < kMaxChannels; ++c) row[static_cast<std::size_t>(c)] = readings[static_cast<std::size_t>(c)];
    const std::string num = numberToText(records_.RowBase(slot) + tables_.ScansDone[s]);
    if (const std::string error = records_.AppendReadingRow(slot, num, LastFetchTimeText, row);
        !error.empty()) {
      recordBroken_[s] = true;
      recordFailure(error);
    }
  }
  pump_.processEvents();
}

void RunController::runEnd() {
  if (chart_) chart_->updateAxisLabels();
  for (int d = 0; d < kSlotTableSize; ++d) {
    const auto s = static_cast<std::size_t>(d);
    if (recordOpen_[s]) records_.CloseRunDatabase(d);
    recordOpen_[s] = false;
  }
  StopReading_Click();
  if (instrumentFailed_ || link_.lastExchangeFailed()) {
    instrumentFailed_ = true;
    link_.StopRequested = true;
    display_.lockAfterInstrumentFailure();
  }
  link_.messages().inform("End of Job.");
  running_ = false;
  if (observer_) observer_->runEnded();
}

}  // namespace kalivor
