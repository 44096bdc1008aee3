// SPDX-License-Identifier: MIT
#pragma once
// Drives the run's scheduler from Qt's event loop: work posted from the meters' threads is run by
// a queued invocation, timers by a single-shot QTimer set to the next one. With a manual clock
// (tests) there is no real time to wait for: kick() runs everything at once, jumping the clock.
#include <QObject>
#include <QTimer>

#include "common/scheduler.h"

namespace kalivor {

class SchedulerDriver final : public QObject {
 public:
  explicit SchedulerDriver(Scheduler& scheduler, QObject* parent = nullptr);
  ~SchedulerDriver() override;
  // Runs what is due now and arms the timer for what comes next.
  void kick();

 private:
  void arm();
  Scheduler& scheduler_;
  QTimer timer_;
};

}  // namespace kalivor
