// SPDX-License-Identifier: MIT
#include "acquisition/meter_port.h"

#include <algorithm>

namespace kalivor {

using namespace visa;

void InlineExecutor::submit(std::function<void()> job, std::function<void()> done) {
  const LocalMs start = clock_.now();
  job();
  const LocalMs end = clock_.now();
  clock_.set(start);
  scheduler_.at(std::max(start, end), std::move(done));
}

ThreadExecutor::ThreadExecutor(Scheduler& scheduler)
    : scheduler_(scheduler), thread_([this] { work(); }) {}

ThreadExecutor::~ThreadExecutor() {
  {
    std::lock_guard lock(mutex_);
    quit_ = true;
    jobs_.clear();
  }
  cv_.notify_all();
  thread_.join();
}

void ThreadExecutor::submit(std::function<void()> job, std::function<void()> done) {
  {
    std::lock_guard lock(mutex_);
    jobs_.emplace_back(std::move(job), std::move(done));
  }
  cv_.notify_all();
}

void ThreadExecutor::work() {
  while (true) {
    std::pair<std::function<void()>, std::function<void()>> next;
    {
      std::unique_lock lock(mutex_);
      cv_.wait(lock, [this] { return quit_ || !jobs_.empty(); });
      if (quit_) return;
      next = std::move(jobs_.front());
      jobs_.pop_front();
    }
    next.first();
    scheduler_.post(std::move(next.second));
  }
}

MeterPort::MeterPort(VisaApi& visa, Clock& clock, Scheduler& scheduler)
    : visa_(visa), clock_(clock), scheduler_(scheduler), state_(std::make_shared<State>()) {
  if (auto* manual = dynamic_cast<ManualClock*>(&clock)) {
    executor_ = std::make_unique<InlineExecutor>(*manual, scheduler);
  } else {
    executor_ = std::make_unique<ThreadExecutor>(scheduler);
  }
}

MeterPort::~MeterPort() { cancel(); }

PortReply MeterPort::exchange(ViSession session, const std::string& bytes, bool write, bool pause,
                              bool read) {
  PortReply r;
  if (write) {
    ViUInt32 written = 0;
    r.status = visa_.viWrite(session, reinterpret_cast<const unsigned char*>(bytes.data()),
                             static_cast<ViUInt32>(bytes.size()), &written);
  }
  if (!read) return r;
  if (pause) clock_.sleep(kQueryPauseMs);
  unsigned char buf[kReplyBufferSize];
  ViUInt32 got = 0;
  r.status = visa_.viRead(session, buf, static_cast<ViUInt32>(kReplyBufferSize), &got);
  got = std::min<ViUInt32>(got, static_cast<ViUInt32>(kReplyBufferSize));
  r.text.assign(reinterpret_cast<const char*>(buf), got);
  return r;
}

MeterPort::Op MeterPort::write(std::string command) {
  return Op(this, [this, s = session_, bytes = std::move(command) + "\n"] { return exchange(s, bytes, true, false, false); });
}

MeterPort::Op MeterPort::query(std::string command) {
  return Op(this, [this, s = session_, bytes = std::move(command) + "\n"] { return exchange(s, bytes, true, true, true); });
}

MeterPort::Op MeterPort::read() {
  return Op(this, [this, s = session_] { return exchange(s, {}, false, false, true); });
}

MeterPort::Op MeterPort::run(std::function<PortReply()> job) { return Op(this, std::move(job)); }

MeterPort::Op MeterPort::sleepUntil(LocalMs when) { return Op(this, {}, when); }

void MeterPort::cancel() {
  if (state_->timer != 0) scheduler_.cancel(state_->timer);
  state_->timer = 0;
  state_->wait.cancel();
}

void MeterPort::rearm() { state_->wait.rearm(); }

void MeterPort::Op::await_suspend(std::coroutine_handle<> h) {
  auto state = port_->state_;
  const std::uint64_t ticket = state->wait.suspend(h);
  if (!job_) {
    state->timer = port_->scheduler_.at(when_, [state, ticket] {
      state->timer = 0;
      state->wait.complete(ticket);
    });
    return;
  }
  auto reply = std::make_shared<PortReply>();
  port_->executor_->submit([reply, job = std::move(job_)] { *reply = job(); },
                           [state, reply, ticket] {
                             state->reply = std::move(*reply);
                             state->wait.complete(ticket);
                           });
}

PortReply MeterPort::Op::await_resume() {
  if (port_->state_->wait.cancelled()) {
    PortReply r;
    r.cancelled = true;
    return r;
  }
  return std::move(port_->state_->reply);
}

}  // namespace kalivor
