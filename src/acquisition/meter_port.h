// SPDX-License-Identifier: MIT
#pragma once
// One meter's line during a run: its own reply and status (never the link's shared buffer), and
// awaitable write, query and read, so each meter's conversation is written as a plain sequence
// while the meters are served side by side. The blocking VISA work of each exchange runs on an
// executor:
// - threaded (the real program): one worker thread per port runs its jobs in order and posts
//   each completion to the scheduler;
// - inline (ManualClock): the job runs at once, the clock is set back to where the job started,
//   and the completion is timed at start + how long the job took on the clock. A meter that keeps
//   silent for its 30 s time-out so costs that meter 30 s of simulated time, the others nothing.
#include <condition_variable>
#include <coroutine>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "common/clock.h"
#include "common/scheduler.h"
#include "common/task.h"
#include "instrument/instrument_link.h"
#include "visa/visa_api.h"

namespace kalivor {

struct PortReply {
  visa::ViStatus status = visa::VI_SUCCESS;
  std::string text;        // the bytes received (at most 1024)
  bool cancelled = false;  // the run was stopped while this waited
  bool failed() const { return isVisaFailure(status); }
  bool more() const { return status == visa::VI_SUCCESS_MAX_CNT; }
};

class PortExecutor {
 public:
  virtual ~PortExecutor() = default;
  // Runs the blocking job, then `done` on the scheduler's thread.
  virtual void submit(std::function<void()> job, std::function<void()> done) = 0;
};

class InlineExecutor final : public PortExecutor {
 public:
  InlineExecutor(ManualClock& clock, Scheduler& scheduler) : clock_(clock), scheduler_(scheduler) {}
  void submit(std::function<void()> job, std::function<void()> done) override;

 private:
  ManualClock& clock_;
  Scheduler& scheduler_;
};

class ThreadExecutor final : public PortExecutor {
 public:
  explicit ThreadExecutor(Scheduler& scheduler);
  // Waits for the job under way (a read may take up to its time-out) and drops the rest.
  ~ThreadExecutor() override;
  void submit(std::function<void()> job, std::function<void()> done) override;

 private:
  void work();
  Scheduler& scheduler_;
  std::mutex mutex_;
  std::condition_variable cv_;
  std::deque<std::pair<std::function<void()>, std::function<void()>>> jobs_;
  bool quit_ = false;
  std::thread thread_;
};

class MeterPort {
 public:
  MeterPort(visa::VisaApi& visa, Clock& clock, Scheduler& scheduler);
  ~MeterPort();

  void setSession(visa::ViSession session) { session_ = session; }
  visa::ViSession session() const { return session_; }

  class Op;
  // command + line feed; the write's status is kept, nothing is read.
  Op write(std::string command);
  // command + line feed, the 50 ms pause, one read of at most 1024 bytes.
  Op query(std::string command);
  // One more read of an answer that did not fit.
  Op read();
  // Any blocking work on this port's thread, in line with its exchanges (a reconnection).
  Op run(std::function<PortReply()> job);
  // Waits until the clock reaches `when`.
  Op sleepUntil(LocalMs when);

  // Resumes a waiting coroutine at once with a cancelled reply; so will every later wait, until
  // rearm(). A completion still under way is dropped when it arrives.
  void cancel();
  void rearm();
  bool cancelled() const { return state_->wait.cancelled(); }

  class Op {
   public:
    bool await_ready() const noexcept { return port_->state_->wait.cancelled(); }
    void await_suspend(std::coroutine_handle<> h);
    PortReply await_resume();

   private:
    friend class MeterPort;
    Op(MeterPort* port, std::function<PortReply()> job, LocalMs when = -1)
        : port_(port), job_(std::move(job)), when_(when) {}
    MeterPort* port_;
    std::function<PortReply()> job_;
    LocalMs when_;
  };

 private:
  struct State {
    WaitPoint wait;
    PortReply reply;
    Scheduler::TimerId timer = 0;
  };
  PortReply exchange(visa::ViSession session, const std::string& bytes, bool write, bool pause,
                     bool read);

  visa::VisaApi& visa_;
  Clock& clock_;
  Scheduler& scheduler_;
  visa::ViSession session_ = 0;
  std::shared_ptr<State> state_;
  std::unique_ptr<PortExecutor> executor_;
};

}  // namespace kalivor
