// SPDX-License-Identifier: MIT
#pragma once
// The run's event scheduler: timers at clock times and work posted from any thread, run on one
// thread (the window's, or the CLI's main thread). In virtual mode (a ManualClock) waiting for the
// next timer jumps the clock there, so hours of logging cost no real time; in real mode it sleeps
// on a condition variable, at most ~100 ms at a time so signal flags and clock changes are seen.
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <utility>

#include "common/clock.h"

namespace kalivor {

class Scheduler {
 public:
  using Fn = std::function<void()>;
  using TimerId = std::uint64_t;

  // Virtual mode when the clock is a ManualClock.
  explicit Scheduler(Clock& clock);

  Clock& clock() { return clock_; }
  bool virtualTime() const { return manual_ != nullptr; }

  // Any thread: runs fn on the scheduler's thread, after what was posted before it.
  void post(Fn fn);
  // Scheduler thread: runs fn once the clock has reached `when`; equal times run in order.
  TimerId at(LocalMs when, Fn fn);
  void cancel(TimerId id);

  // Runs what was posted and the timers that are due; false when nothing ran. Does nothing when
  // called from inside itself (a modal message box under a timer must not run the next one).
  bool runDue();
  std::optional<LocalMs> nextDue() const;
  bool hasWork() const;
  // Runs until done() holds. Virtual mode: returns also when nothing is left to run.
  void runUntil(const std::function<bool()>& done);

  // Called (from any thread) after something was posted, so an outside event loop can run it.
  void setWake(Fn wake);
  // Wakes runUntil's wait (a signal flag was set).
  void interrupt();

  static constexpr std::uint32_t kMaxWaitMs = 100;

 private:
  Clock& clock_;
  ManualClock* manual_;
  mutable std::mutex mutex_;
  std::condition_variable cv_;
  std::deque<Fn> posted_;
  std::map<std::pair<LocalMs, TimerId>, Fn> timers_;
  std::map<TimerId, LocalMs> timerTimes_;
  TimerId nextId_ = 0;
  Fn wake_;
  bool running_ = false;
  bool interrupted_ = false;
};

}  // namespace kalivor
