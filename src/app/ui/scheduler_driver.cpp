// SPDX-License-Identifier: MIT
#include "app/ui/scheduler_driver.h"

#include <QMetaObject>
#include <QPointer>
#include <algorithm>

namespace kalivor {

SchedulerDriver::SchedulerDriver(Scheduler& scheduler, QObject* parent)
    : QObject(parent), scheduler_(scheduler) {
  timer_.setSingleShot(true);
  QObject::connect(&timer_, &QTimer::timeout, this, [this] { kick(); });
  QPointer<SchedulerDriver> self(this);
  // Called from the port threads: only a queued invocation crosses into the window's thread.
  scheduler_.setWake([self] {
    if (self) QMetaObject::invokeMethod(self.data(), [self] { if (self) self->kick(); }, Qt::QueuedConnection);
  });
}

SchedulerDriver::~SchedulerDriver() { scheduler_.setWake({}); }

void SchedulerDriver::kick() {
  if (scheduler_.virtualTime()) {
    scheduler_.runUntil({});
    return;
  }
  scheduler_.runDue();
  arm();
}

void SchedulerDriver::arm() {
  const auto next = scheduler_.nextDue();
  if (!next) {
    timer_.stop();
    return;
  }
  // Capped, so a clock that is set back or forward is noticed within a second.
  const auto ms = std::clamp<LocalMs>(*next - scheduler_.clock().now(), 0, 1000);
  timer_.start(static_cast<int>(ms));
}

}  // namespace kalivor
