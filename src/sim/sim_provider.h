// SPDX-License-Identifier: MIT
#pragma once
// The simulated instruments as a VISA backend. Every session opened to a resource talks to the
// same SimInstrument, as sessions to one real meter share its state.
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "common/clock.h"
#include "sim/sim_config.h"
#include "sim/sim_instrument.h"
#include "visa/device_provider.h"

namespace kalivor::sim {

class SimProvider final : public visa::DeviceProvider {
 public:
  // Throws std::invalid_argument for a config SimInstrument refuses (see there) and for two
  // instruments on one resource.
  SimProvider(Clock& clock, std::vector<SimInstrumentConfig> instruments);

  std::string name() const override { return "simulated"; }
  std::vector<std::string> listResources() override;
  visa::ViStatus open(const std::string& resource,
                      std::unique_ptr<visa::DeviceSession>* session) override;
  std::vector<std::string> notes() override;

  std::size_t instrumentCount() const { return instruments_.size(); }
  // Throws std::out_of_range for an index past the end.
  SimInstrument& instrument(std::size_t i);
  // nullptr for a resource that is not simulated. Resource names compare ignoring case.
  SimInstrument* find(const std::string& resource);

 private:
  std::vector<std::shared_ptr<SimInstrument>> instruments_;
};

}  // namespace kalivor::sim
