// SPDX-License-Identifier: MIT
#pragma once
// A small coroutine task: started lazily (by the first co_await, or by start() for a task that
// nobody awaits), resuming its awaiter by symmetric transfer so long chains never grow the stack.
// Tasks run on the scheduler's thread only; nothing here is thread-safe.
#include <coroutine>
#include <cstdint>
#include <exception>
#include <functional>
#include <optional>
#include <utility>

namespace kalivor {

template <typename T = void>
class Task;

namespace detail {

struct PromiseBase {
  std::coroutine_handle<> continuation;
  std::function<void()> onDone;  // for a started root task
  std::exception_ptr error;

  std::suspend_always initial_suspend() noexcept { return {}; }
  struct FinalAwaiter {
    bool await_ready() noexcept { return false; }
    template <typename P>
    std::coroutine_handle<> await_suspend(std::coroutine_handle<P> h) noexcept {
      PromiseBase& p = h.promise();
      if (p.continuation) return p.continuation;
      if (p.onDone) {
        // Moved out first: the callback may destroy the task that owns this frame.
        auto done = std::move(p.onDone);
        done();
      }
      return std::noop_coroutine();
    }
    void await_resume() noexcept {}
  };
  FinalAwaiter final_suspend() noexcept { return {}; }
  void unhandled_exception() noexcept { error = std::current_exception(); }
};

template <typename T>
struct Promise : PromiseBase {
  std::optional<T> value;
  Task<T> get_return_object() noexcept;
  template <typename U>
  void return_value(U&& v) {
    value.emplace(std::forward<U>(v));
  }
  T take() {
    if (error) std::rethrow_exception(error);
    return std::move(*value);
  }
};

template <>
struct Promise<void> : PromiseBase {
  Task<void> get_return_object() noexcept;
  void return_void() noexcept {}
  void take() {
    if (error) std::rethrow_exception(error);
  }
};

}  // namespace detail

template <typename T>
class [[nodiscard]] Task {
 public:
  using promise_type = detail::Promise<T>;
  using Handle = std::coroutine_handle<promise_type>;

  Task() = default;
  explicit Task(Handle h) : h_(h) {}
  Task(Task&& o) noexcept : h_(std::exchange(o.h_, {})) {}
  Task& operator=(Task&& o) noexcept {
    if (this != &o) {
      reset();
      h_ = std::exchange(o.h_, {});
    }
    return *this;
  }
  Task(const Task&) = delete;
  Task& operator=(const Task&) = delete;
  ~Task() { reset(); }

  bool valid() const { return static_cast<bool>(h_); }
  bool done() const { return h_ && h_.done(); }

  // Runs a task nobody awaits; onDone runs when it has finished (on the thread that resumed it
  // last). The task object must outlive the run, or be destroyed only once it is done.
  void start(std::function<void()> onDone = {}) {
    h_.promise().onDone = std::move(onDone);
    h_.resume();
  }

  auto operator co_await() && noexcept {
    struct Awaiter {
      Handle h;
      bool await_ready() noexcept { return !h || h.done(); }
      std::coroutine_handle<> await_suspend(std::coroutine_handle<> awaiting) noexcept {
        h.promise().continuation = awaiting;
        return h;
      }
      T await_resume() { return h.promise().take(); }
    };
    return Awaiter{h_};
  }

 private:
  void reset() {
    if (h_) h_.destroy();
    h_ = {};
  }
  Handle h_;
};

namespace detail {
template <typename T>
Task<T> Promise<T>::get_return_object() noexcept {
  return Task<T>(std::coroutine_handle<Promise<T>>::from_promise(*this));
}
inline Task<void> Promise<void>::get_return_object() noexcept {
  return Task<void>(std::coroutine_handle<Promise<void>>::from_promise(*this));
}
}  // namespace detail

// Where one coroutine waits for one thing at a time (a reply, a timer), and the means to call it
// off: cancel() resumes a waiting coroutine at once, and the completion that comes later for
// the wait it abandoned is recognised by its ticket and dropped.
class WaitPoint {
 public:
  // Called from await_suspend; the ticket identifies this wait.
  std::uint64_t suspend(std::coroutine_handle<> h) {
    waiting_ = h;
    return ++ticket_;
  }
  // A completion: resumes the coroutine if it still waits for this ticket.
  void complete(std::uint64_t ticket) {
    if (ticket != ticket_ || !waiting_) return;
    auto h = std::exchange(waiting_, {});
    h.resume();
  }
  void cancel() {
    cancelled_ = true;
    ++ticket_;
    if (auto h = std::exchange(waiting_, {})) h.resume();
  }
  bool cancelled() const { return cancelled_; }
  bool waiting() const { return static_cast<bool>(waiting_); }
  void rearm() { cancelled_ = false; }

 private:
  std::coroutine_handle<> waiting_;
  std::uint64_t ticket_ = 0;
  bool cancelled_ = false;
};

}  // namespace kalivor
