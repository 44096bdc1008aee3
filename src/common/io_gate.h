// SPDX-License-Identifier: MIT
#pragma once
// Where blocking instrument calls run. The windowed program runs each on a helper thread and
// keeps handling window events until it returns, so a silent instrument (30 s per read) never
// freezes a window; the CLI and the tests run them in place. Either way a call runs to its end
// before run() returns, so what it writes into is still there.
#include <functional>
#include <string>

namespace kalivor {

class IoGate {
 public:
  virtual ~IoGate() = default;

  // Runs `call` unless the gate was cancelled.
  void run(const std::function<void()>& call) {
    if (cancelled_) return;
    ++depth_;
    execute(call);
    --depth_;
    if (depth_ == 0 && onIdle) onIdle();
  }
  // What is being done, for a person who waits: which instrument, what step.
  void progress(const std::string& text) {
    if (text == progress_) return;
    progress_ = text;
    progressChanged(text);
  }
  const std::string& progressText() const { return progress_; }
  // Whether an instrument call is under way (its caller must not start another operation).
  bool busy() const { return depth_ > 0; }

  // The program is closing: no further call starts (callers see the call as failed).
  void cancel() { cancelled_ = true; }
  bool cancelled() const { return cancelled_; }

  // Runs after the last call of an operation has returned.
  std::function<void()> onIdle;

 protected:
  virtual void execute(const std::function<void()>& call) { call(); }
  virtual void progressChanged(const std::string& text) {}

 private:
  int depth_ = 0;
  bool cancelled_ = false;
  std::string progress_;
};

}  // namespace kalivor
