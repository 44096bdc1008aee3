// SPDX-License-Identifier: MIT
#pragma once
// The run controller: starts a run on every selected instrument, waits for start times and
// intervals, triggers, polls, fetches, converts and stores every scan, and ends the run when
// every slot has finished, when an instrument stops answering or when Stop is pressed. It runs on
// the caller's thread and lets pending events run at fixed points (the event pump).
#include <array>
#include <cstdint>
#include <string>

#include "acquisition/live_display.h"
#include "acquisition/run_chart.h"
#include "acquisition/run_records.h"
#include "common/event_pump.h"
#include "instrument/instrument_link.h"
#include "scan/setup_tables.h"

namespace kalivor {

// Told what happened; the CLI prints from here, the windows refresh.
class RunObserver {
 public:
  virtual ~RunObserver() = default;
  virtual void scanStored(int slot, std::int64_t scanNumber) {}
  virtual void fetchDone(int slot) {}
  virtual void runEnded() {}
};

// hh*3600 + mm*60 + ss + ms/1000 of a local time.
double SecondsOfDay(const LocalDateTime& t);
// "yyyy/MM/dd hh:mm:ss", with ":mmm" when asked.
std::string MakeTimeStamp(const LocalDateTime& t, bool withMilliseconds);
// A difference of more than an hour means the clock passed midnight.
double AdjustForMidnight(double now, double due);

class RunController {
 public:
  RunController(InstrumentLink& link, ScanTables& tables, LiveDisplay& display, RunRecords& records,
                EventPump& pump);

  void setChart(RunChart* chart) { chart_ = chart; }
  void setObserver(RunObserver* observer) { observer_ = observer; }

  // Starts a run; returns when it has ended.
  void StartReading_Click();
  // Usable at any time; idempotent. The loop leaves at the end of the current pass.
  void StopReading_Click();
  // Reads the slot's channel functions back from its instrument.
  void meter_scan_func(int slot);

  bool running() const { return running_; }
  // Whether the last run ended because an instrument stopped answering.
  bool instrumentFailed() const { return instrumentFailed_; }

  // Pause of the loop when no slot has a scan in progress, so waiting for an interval does not
  // spin a core for hours.
  static constexpr std::uint32_t kIdlePauseMs = 10;

  // Per-slot run state.
  std::array<std::int16_t, kSlotTableSize> ConfiguredScanCount{};
  std::array<double, kSlotTableSize> NextReadingTarget{};
  std::array<std::int16_t, kSlotTableSize> DeviceFinished{};
  std::int16_t FinishedDeviceCount = 0;
  std::array<bool, kSlotTableSize> ScanInProgress{};
  std::array<std::int16_t, kSlotTableSize> WaitFlag{};
  std::array<double, kSlotTableSize> ScanStartSeconds{};
  std::array<double, kSlotTableSize> LastFetchSeconds{};
  std::array<std::string, kSlotTableSize> ScanStartStamp{};
  std::array<std::string, kSlotTableSize> FetchStamp{};
  bool StampWithMilliseconds = false;
  std::string LastFetchTimeText;

  // Upper bound of one fetch answer; an instrument that keeps sending is stopped there.
  static constexpr int kMaxFetchReads = 1024;

 private:
  void PollDevice(int slot);
  void ParseFetchAnswer(int slot);
  void StoreScan(int slot);
  void runLoop();
  void runEnd();
  void abandonStart();
  void onInstrumentFailure();
  void recordFailure(const std::string& error);
  double secondsOfDay() { return SecondsOfDay(link_.clock().localTime()); }
  std::string timeStamp() { return MakeTimeStamp(link_.clock().localTime(), StampWithMilliseconds); }
  bool laterThanNow(const std::string& dateTime);
  bool earlierThanNow(const std::string& dateTime);
  int instruments() const;

  InstrumentLink& link_;
  ScanTables& tables_;
  LiveDisplay& display_;
  RunRecords& records_;
  EventPump& pump_;
  RunChart* chart_ = nullptr;
  RunObserver* observer_ = nullptr;

  bool running_ = false;
  bool instrumentFailed_ = false;
  std::array<bool, kSlotTableSize> hasChannels_{};
  std::array<bool, kSlotTableSize> recordOpen_{};
  std::array<bool, kSlotTableSize> recordBroken_{};
};

}  // namespace kalivor
