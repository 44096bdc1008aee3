// SPDX-License-Identifier: MIT
#pragma once
// A name service for the tests, in place of the system's for as long as it lives: names it was
// told resolve to their addresses, any other fails as "Name or service not known", and a name
// marked stuck gets no answer until released, as a dead DNS server keeps a lookup waiting.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "central/pg.h"

namespace kalivor::central::test {

class FakeNameService {
 public:
  FakeNameService() : state_(std::make_shared<State>()) {
    previous_ = setHostResolver([s = state_](const std::string& host) { return s->resolve(host); });
  }
  ~FakeNameService() {
    release();
    setHostResolver(previous_);
  }
  FakeNameService(const FakeNameService&) = delete;
  FakeNameService& operator=(const FakeNameService&) = delete;

  void add(const std::string& name, std::vector<std::string> addresses) {
    std::lock_guard lock(state_->mutex);
    state_->known[name] = std::move(addresses);
  }
  void stick(const std::string& name) {
    std::lock_guard lock(state_->mutex);
    state_->stuck.insert(name);
  }
  // Every stuck lookup, and any later one, answers now.
  void release() {
    {
      std::lock_guard lock(state_->mutex);
      state_->released = true;
    }
    state_->changed.notify_all();
  }
  // How often `name` was asked for (every name: empty).
  int asked(const std::string& name = {}) const {
    std::lock_guard lock(state_->mutex);
    int n = 0;
    for (const std::string& a : state_->asked) n += name.empty() || a == name ? 1 : 0;
    return n;
  }
  // Waits (real time, up to `seconds`) until `name` was asked for `times` times in all.
  bool waitAsked(const std::string& name, double seconds, int times = 1) {
    std::unique_lock lock(state_->mutex);
    return state_->changed.wait_for(
        lock, std::chrono::milliseconds(static_cast<int>(seconds * 1000)), [&] {
          return std::count(state_->asked.begin(), state_->asked.end(), name) >= times;
        });
  }
  // Shares of this service held beyond ours and the installed lookup's: lookups under way.
  long heldByLookups() const { return state_.use_count() - 2; }

 private:
  struct State {
    mutable std::mutex mutex;
    std::condition_variable changed;
    std::map<std::string, std::vector<std::string>> known;
    std::set<std::string> stuck;
    std::vector<std::string> asked;
    bool released = false;

    HostAddresses resolve(const std::string& host) {
      std::unique_lock lock(mutex);
      asked.push_back(host);
      changed.notify_all();
      if (stuck.count(host) != 0) changed.wait(lock, [this] { return released; });
      HostAddresses out;
      if (const auto it = known.find(host); it != known.end()) {
        out.addresses = it->second;
      } else {
        out.error = "Name or service not known";
      }
      return out;
    }
  };
  std::shared_ptr<State> state_;
  HostResolver previous_;
};

}  // namespace kalivor::central::test
