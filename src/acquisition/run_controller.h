// SPDX-License-Identifier: MIT
#pragma once
// The run controller: starts a run on every selected instrument, waits for start times and
// intervals, triggers, polls, fetches, converts and stores every scan, and ends the run when
// every slot has finished, when an instrument stops answering or when Stop is pressed.
//
// Each meter is served by a coroutine of its own over its own port (see meter_port.h), so one
// meter's pauses, polls and time-outs never hold up another; all of them, and everything they
// change (tables, live display, records, chart), run on the scheduler's thread. StartReading_Click
// starts the run and returns; whoever owns the thread drives the scheduler (the windows through
// a Qt timer, the CLI and tests with driveUntilEnded()). The event pump is still called where the
// single-threaded loop used to yield (after each poll, fetch and stored scan), as a hook.
#include <array>
#include <memory>
#include <cstdint>
#include <string>

#include "acquisition/channel_watch.h"
#include "acquisition/live_display.h"
#include "acquisition/run_chart.h"
#include "acquisition/run_records.h"
#include "acquisition/meter_port.h"
#include "acquisition/run_log.h"
#include "common/event_pump.h"
#include "common/scheduler.h"
#include "common/task.h"
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
  // A reading left its alarm band or came back (channels with limits only).
  virtual void alarmChanged(const AlarmEvent& event) {}
  // Something the user should know about the run that is no failure (shown, never asked).
  virtual void runNotice(int slot, const std::string& text) {}
  // A meter lost or back during a run ("Timeout: link lost", "reconnected"); also in the trace
  // and the run log.
  virtual void meterEvent(int slot, const std::string& what) {}
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
  ~RunController();

  void setChart(RunChart* chart) { chart_ = chart; }
  void setObserver(RunObserver* observer) { observer_ = observer; }
  // Where failures, recoveries and alarms are written; null: nowhere.
  void setRunLog(RunLog* log) { runLog_ = log; }
  RunLog* runLog() const { return runLog_; }

  // Starts a run and returns; the scheduler carries it on.
  void StartReading_Click();
  // Usable at any time; idempotent. Every meter's share is called off at once (a read under way
  // is abandoned), then the run ends: records closed, "End of Job.".
  void StopReading_Click();
  // Closing the program: stops the run, closes the records at once and says nothing.
  void stopForShutdown();
  // Runs the scheduler on this thread until the run has ended (tests, the CLI).
  void driveUntilEnded();
  // Runs it until `done` holds or the run has ended.
  void driveUntil(const std::function<bool()>& done);
  Scheduler& scheduler() { return *scheduler_; }
  // Reads the slot's channel functions back from its instrument.
  void meter_scan_func(int slot);

  bool running() const { return running_; }
  // Scaling, alarm states and statistics of every channel since the run started (kept after
  // the run until the next one starts).
  const ChannelWatch& channelWatch() const { return watch_; }
  // "Keep logging when an instrument fails": a meter that stops answering ends only its own
  // share; it is reconnected every 30 s and goes on into the same record. Off by default.
  bool keepGoing = false;
  // How a slot's meter fares: under keepGoing a meter that stopped answering is Reconnecting
  // until it is back, or Failed when it cannot come back.
  enum class MeterCondition { Healthy, Reconnecting, Failed };
  MeterCondition condition(int slot) const { return condition_[static_cast<std::size_t>(slot)]; }
  // Ends each slot's share once it has stored this many scans in the run, whatever its run-end
  // mode (the CLI's --scans); 0: no limit.
  std::int64_t scanLimit = 0;
  // Whether the last run ended because an instrument stopped answering.
  bool instrumentFailed() const { return instrumentFailed_; }
  // Whether this slot's record refused a scan (the run status counts only stored scans).
  bool recordFailed(int slot) const { return recordBroken_[static_cast<std::size_t>(slot)]; }

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
  // Under keepGoing, a lost meter is tried again this long after its last try ended.
  static constexpr LocalMs kReconnectEveryMs = 30000;

 private:
  enum class Share { Finished, Failed, Cancelled };
  Task<PortReply> readBack(int slot);
  Task<void> readBackSlot(int slot);
  Task<void> slotRun(int slot);
  Task<bool> reconnect(int slot);
  Task<std::string> reconnectAttempt(int slot);
  std::string prepareCount(int slot);
  Task<Share> scanLoop(int slot);
  Task<Share> pollAndFetch(int slot);
  Task<Share> fetch(int slot);
  void readBackDone(int slot);
  void continueStart();
  void showMeter(int slot);
  // The selected tab and the chart's tables, as every run starts.
  void resetRunViews();
  // Every slot's record created and opened; on failure the start is abandoned (false).
  bool openRecords();
  // What every share needs before the first of them starts; false: the start was abandoned.
  bool beginShares();
  // The slot's share started; false when it has nothing to measure (it is finished then).
  bool startShare(int slot);
  void slotDone();
  void markFinished(int slot);
  void StoreScan(int slot);
  void storeFetched(int slot, std::size_t sweep);
  void runEnd();
  void describeRun(int slot);
  void notice(int slot, const std::string& text);
  void watchScan(int slot, std::int64_t num);
  void endRunRecords();
  std::string instrumentName(int slot) const;
  void abandonStart();
  void onInstrumentFailure();
  void failSlot(int slot, visa::ViStatus status, const char* message);
  // A meter that answers, but never usably, fails like one that does not answer: under keepGoing
  // only its share ends, otherwise the run stops with a message naming the query.
  void failOnAnswer(int slot, const std::string& query, const std::string& problem);
  // Under keepGoing: this meter's share pauses (reconnecting) and the others go on; true then.
  bool pauseShare(int slot);
  // To the trace, the run log and the observer.
  void meterEvent(int slot, const std::string& what);
  // Sets the condition and, under keepGoing, marks the meter's tab.
  void setCondition(int slot, MeterCondition condition);
  std::string meterName(int slot) const;
  void recordFailure(const std::string& error);
  MeterPort& port(int slot);
  double secondsOfDay() { return SecondsOfDay(link_.clock().localTime()); }
  std::string timeStamp(int slot) {
    return MakeTimeStamp(link_.clock().localTime(), stampMs_[static_cast<std::size_t>(slot)]);
  }
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
  RunLog* runLog_ = nullptr;
  ChannelWatch watch_;

  std::unique_ptr<Scheduler> scheduler_;
  std::array<std::unique_ptr<MeterPort>, kMaxInstruments> ports_;
  std::array<Task<void>, kMaxInstruments> readBackTasks_;
  std::array<Task<void>, kMaxInstruments> slotTasks_;
  std::array<bool, kMaxInstruments> readBackFailed_{};
  // Each meter's channels as the run was started with them: what a meter lost while they were
  // read back gets again when it reconnects.
  std::array<ChannelRow, kMaxInstruments> startChannels_{};
  std::array<bool, kSlotTableSize> stampMs_{};
  int pendingTasks_ = 0;
  std::uint64_t generation_ = 0;  // work posted for an earlier run is ignored
  bool quiet_ = false;            // ended by closing the program: no message

  bool running_ = false;
  bool sharing_ = false;  // records are open and the meters' shares may start
  bool instrumentFailed_ = false;
  std::array<bool, kSlotTableSize> hasChannels_{};
  std::array<MeterCondition, kSlotTableSize> condition_{};
  std::array<bool, kSlotTableSize> recordOpen_{};
  std::array<bool, kSlotTableSize> recordBroken_{};
};

}  // namespace kalivor
