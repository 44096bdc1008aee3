// SPDX-License-Identifier: MIT
#include "common/scheduler.h"

#include <algorithm>
#include <chrono>

namespace kalivor {

Scheduler::Scheduler(Clock& clock) : clock_(clock), manual_(dynamic_cast<ManualClock*>(&clock)) {}

void Scheduler::post(Fn fn) {
  Fn wake;
  {
    std::lock_guard lock(mutex_);
    posted_.push_back(std::move(fn));
    wake = wake_;
  }
  cv_.notify_all();
  if (wake) wake();
}

Scheduler::TimerId Scheduler::at(LocalMs when, Fn fn) {
  std::lock_guard lock(mutex_);
  const TimerId id = ++nextId_;
  timers_.emplace(std::make_pair(when, id), std::move(fn));
  timerTimes_.emplace(id, when);
  return id;
}

void Scheduler::cancel(TimerId id) {
  std::lock_guard lock(mutex_);
  const auto it = timerTimes_.find(id);
  if (it == timerTimes_.end()) return;
  timers_.erase(std::make_pair(it->second, id));
  timerTimes_.erase(it);
}

bool Scheduler::runDue() {
  if (running_) return false;
  running_ = true;
  bool ran = false;
  // Posted work first, then timers one at a time (a timer may post or add timers).
  while (true) {
    Fn fn;
    {
      std::lock_guard lock(mutex_);
      if (!posted_.empty()) {
        fn = std::move(posted_.front());
        posted_.pop_front();
      } else if (!timers_.empty() && timers_.begin()->first.first <= clock_.now()) {
        const auto it = timers_.begin();
        fn = std::move(it->second);
        timerTimes_.erase(it->first.second);
        timers_.erase(it);
      }
    }
    if (!fn) break;
    ran = true;
    fn();
  }
  running_ = false;
  return ran;
}

std::optional<LocalMs> Scheduler::nextDue() const {
  std::lock_guard lock(mutex_);
  if (!posted_.empty()) return clock_.now();
  if (timers_.empty()) return std::nullopt;
  return timers_.begin()->first.first;
}

bool Scheduler::hasWork() const {
  std::lock_guard lock(mutex_);
  return !posted_.empty() || !timers_.empty();
}

void Scheduler::runUntil(const std::function<bool()>& done) {
  // From inside a task (a nested event loop): the outer call carries on.
  if (running_) return;
  while (true) {
    runDue();
    if (done && done()) return;
    const auto next = nextDue();
    if (manual_) {
      if (!next) return;  // nothing can ever happen any more
      if (*next > manual_->now()) manual_->set(*next);
      continue;
    }
    std::unique_lock lock(mutex_);
    if (!posted_.empty() || interrupted_) {
      interrupted_ = false;
      continue;
    }
    LocalMs waitMs = kMaxWaitMs;
    if (next) waitMs = std::clamp<LocalMs>(*next - clock_.now(), 0, kMaxWaitMs);
    if (waitMs > 0) cv_.wait_for(lock, std::chrono::milliseconds(waitMs));
    interrupted_ = false;
  }
}

void Scheduler::setWake(Fn wake) {
  std::lock_guard lock(mutex_);
  wake_ = std::move(wake);
}

void Scheduler::interrupt() {
  {
    std::lock_guard lock(mutex_);
    interrupted_ = true;
  }
  cv_.notify_all();
}

}  // namespace kalivor
