// SPDX-License-Identifier: MIT
#include "sim/sim_provider.h"

#include <stdexcept>

#include "common/text.h"

namespace kalivor::sim {
namespace {

using namespace visa;

// VISA's default time-out until the program sets its own.
constexpr ViUInt32 kDefaultTimeoutMs = 2000;

class SimSession final : public DeviceSession {
 public:
  // Shared ownership: a session outliving the provider still has its instrument.
  explicit SimSession(std::shared_ptr<SimInstrument> instrument)
      : instrument_(std::move(instrument)), epoch_(instrument_->linkEpoch()) {}

  ViStatus write(const unsigned char* buf, ViUInt32 count, ViUInt32* written) override {
    if (written != nullptr) *written = 0;
    if (stale()) return VI_ERROR_CONN_LOST;
    if (buf == nullptr && count > 0) return VI_ERROR_IO;
    const std::string_view message(reinterpret_cast<const char*>(buf), buf ? count : 0);
    const ViStatus status = instrument_->write(message);
    if (written != nullptr && succeeded(status)) *written = count;
    return status;
  }

  ViStatus read(unsigned char* buf, ViUInt32 count, ViUInt32* got) override {
    if (stale()) {
      if (got != nullptr) *got = 0;
      return VI_ERROR_CONN_LOST;
    }
    return instrument_->read(buf, count, got, timeoutMs_);
  }

  ViStatus setTimeout(ViUInt32 ms) override {
    if (stale() || !instrument_->linkUp()) return VI_ERROR_CONN_LOST;
    timeoutMs_ = ms;
    return VI_SUCCESS;
  }

 private:
  // Opened before the meter was unplugged: dead for good, even once it is back.
  bool stale() const { return epoch_ != instrument_->linkEpoch(); }

  std::shared_ptr<SimInstrument> instrument_;
  std::uint64_t epoch_;
  ViUInt32 timeoutMs_ = kDefaultTimeoutMs;
};

}  // namespace

SimProvider::SimProvider(Clock& clock, std::vector<SimInstrumentConfig> instruments) {
  for (auto& config : instruments) {
    if (find(config.resource) != nullptr) {
      throw std::invalid_argument("two simulated instruments on " + config.resource);
    }
    instruments_.push_back(std::make_shared<SimInstrument>(clock, std::move(config)));
  }
}

std::vector<std::string> SimProvider::listResources() {
  std::vector<std::string> out;
  // An unplugged meter is not there to be found.
  for (const auto& i : instruments_) {
    if (i->present()) out.push_back(i->config().resource);
  }
  return out;
}

SimInstrument* SimProvider::find(const std::string& resource) {
  for (const auto& i : instruments_) {
    if (equalsIgnoreCase(i->config().resource, resource)) return i.get();
  }
  return nullptr;
}

ViStatus SimProvider::open(const std::string& resource, std::unique_ptr<DeviceSession>* session) {
  for (const auto& i : instruments_) {
    if (equalsIgnoreCase(i->config().resource, resource)) {
      if (!i->present()) return VI_ERROR_RSRC_NFOUND;
      if (session != nullptr) *session = std::make_unique<SimSession>(i);
      return VI_SUCCESS;
    }
  }
  return VI_ERROR_RSRC_NFOUND;
}

std::vector<std::string> SimProvider::notes() {
  std::vector<std::string> out;
  out.push_back(std::to_string(instruments_.size()) + " simulated instrument" +
                (instruments_.size() == 1 ? "" : "s"));
  for (const auto& i : instruments_) {
    const auto& c = i->config();
    std::string line = c.resource + ": card " + escapeControl(c.card);
    if (c.fault != "none") line += ", fault " + c.fault;
    out.push_back(std::move(line));
  }
  return out;
}

SimInstrument& SimProvider::instrument(std::size_t i) { return *instruments_.at(i); }

}  // namespace kalivor::sim
