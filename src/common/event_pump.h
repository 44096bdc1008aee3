// SPDX-License-Identifier: MIT
#pragma once
// Event pump seam: "let pending window events run" at the fixed yield points of long operations.
// The windows pass QCoreApplication::processEvents; tests pass a callback (for example one that
// presses Stop at pass N); the CLI checks its signal flag.
#include <cstdint>
#include <functional>

namespace kalivor {

class EventPump {
 public:
  virtual ~EventPump() = default;
  virtual void processEvents() = 0;
};

class CallbackEventPump final : public EventPump {
 public:
  CallbackEventPump() = default;
  explicit CallbackEventPump(std::function<void(std::int64_t call)> fn) : fn_(std::move(fn)) {}
  void processEvents() override {
    ++calls_;
    if (fn_) fn_(calls_);
  }
  void set(std::function<void(std::int64_t call)> fn) { fn_ = std::move(fn); }
  std::int64_t calls() const { return calls_; }

 private:
  std::function<void(std::int64_t)> fn_;
  std::int64_t calls_ = 0;
};

}  // namespace kalivor
