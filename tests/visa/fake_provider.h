// SPDX-License-Identifier: MIT
#pragma once
// A scripted device provider for the resource manager tests: fixed resources, and sessions that
// record what was written and answer from a queue of replies.
#include <algorithm>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "common/clock.h"
#include "visa/device_provider.h"

namespace kalivor::visa::testing {

struct FakeLog {
  std::vector<std::string> opened;  // resource names as passed to open()
  std::vector<std::string> written;
  std::vector<ViUInt32> timeouts;
  int alive = 0;  // sessions not yet destroyed
};

class FakeSession final : public DeviceSession {
 public:
  FakeSession(FakeLog& log, std::deque<std::string> replies, Clock* clock)
      : log_(log), replies_(std::move(replies)), clock_(clock) {
    ++log_.alive;
  }
  ~FakeSession() override { --log_.alive; }
  ViStatus write(const unsigned char* buf, ViUInt32 count, ViUInt32* written) override {
    log_.written.emplace_back(reinterpret_cast<const char*>(buf), count);
    *written = count;
    return VI_SUCCESS;
  }
  // Each reply is one message; a read smaller than what is left gives VI_SUCCESS_MAX_CNT. With
  // nothing left the read waits out the time-out on the clock.
  ViStatus read(unsigned char* buf, ViUInt32 count, ViUInt32* got) override {
    if (replies_.empty()) {
      if (clock_ != nullptr) clock_->sleep(timeout_);
      return VI_ERROR_TMO;
    }
    std::string& r = replies_.front();
    const ViUInt32 n = std::min<ViUInt32>(count, static_cast<ViUInt32>(r.size()));
    std::copy(r.begin(), r.begin() + n, buf);
    *got = n;
    r.erase(0, n);
    if (!r.empty()) return VI_SUCCESS_MAX_CNT;
    replies_.pop_front();
    return VI_SUCCESS;
  }
  ViStatus setTimeout(ViUInt32 ms) override {
    log_.timeouts.push_back(ms);
    timeout_ = ms;
    return VI_SUCCESS;
  }

 private:
  FakeLog& log_;
  std::deque<std::string> replies_;
  Clock* clock_;
  ViUInt32 timeout_ = 0;
};

class FakeProvider final : public DeviceProvider {
 public:
  FakeProvider(std::string name, std::vector<std::string> resources, FakeLog& log)
      : name_(std::move(name)), resources_(std::move(resources)), log_(log) {}

  std::string name() const override { return name_; }
  std::vector<std::string> listResources() override {
    ++listings;
    return resources_;
  }
  ViStatus open(const std::string& resource, std::unique_ptr<DeviceSession>* session) override {
    // Besides its listed names it accepts "<name>-ALIAS..." to stand for a differently spelt one.
    const bool listed = std::find(resources_.begin(), resources_.end(), resource) != resources_.end();
    if (!listed && resource.rfind(name_ + "-ALIAS", 0) != 0) return VI_ERROR_RSRC_NFOUND;
    log_.opened.push_back(resource);
    *session = std::make_unique<FakeSession>(log_, replies, clock);
    return VI_SUCCESS;
  }
  std::vector<std::string> notes() override { return providerNotes; }

  std::deque<std::string> replies;  // given to every new session
  Clock* clock = nullptr;            // advanced by reads that time out
  std::vector<std::string> providerNotes;
  int listings = 0;

 private:
  std::string name_;
  std::vector<std::string> resources_;
  FakeLog& log_;
};

}  // namespace kalivor::visa::testing
