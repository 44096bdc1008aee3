// SPDX-License-Identifier: MIT
#include "visa/visa_factory.h"

#include <exception>
#include <utility>

#include "sim/sim_config.h"
#include "sim/sim_provider.h"
#include "visa/gpib_provider.h"
#include "visa/resource_manager.h"
#include "visa/tracing_visa.h"
#include "visa/usbtmc_provider.h"
#include "visa/vendor_library.h"

namespace kalivor::visa {

namespace {

std::string capitalized(std::string text) {
  if (!text.empty() && text[0] >= 'a' && text[0] <= 'z') text[0] = static_cast<char>(text[0] - 'a' + 'A');
  return text;
}

// Our own backends for when no vendor library is installed, in search order. They look for
// devices only when searched, and say in their notes why they found none (no driver, no
// permission, no libgpib).
std::vector<std::unique_ptr<DeviceProvider>> builtInProviders() {
  std::vector<std::unique_ptr<DeviceProvider>> providers;
  providers.push_back(std::make_unique<UsbtmcProvider>());
  providers.push_back(std::make_unique<GpibProvider>());
  return providers;
}

void addProviderNotes(const ResourceManager& rm, std::vector<std::string>& notes) {
  for (std::string& line : rm.notes()) notes.push_back(std::move(line));
}

VisaSetup simulated(const VisaOptions& options, Clock& clock) {
  VisaSetup setup;
  std::vector<sim::SimInstrumentConfig> instruments;
  if (options.simulationFile.empty()) {
    instruments = sim::defaultInstruments();
    setup.notes.push_back("Simulated instruments: " + std::to_string(instruments.size()) +
                          " built in");
  } else {
    sim::SimulationFile file = sim::loadSimulationFile(options.simulationFile);
    if (!file.error.empty()) {
      setup.error = capitalized(file.error);
      return setup;
    }
    instruments = std::move(file.instruments);
    setup.notes.push_back("Simulated instruments: " + std::to_string(instruments.size()) + " from " +
                          options.simulationFile);
  }
  if (!options.visaLibrary.empty()) {
    setup.notes.push_back("The VISA library " + options.visaLibrary + " is not used when simulating");
  }
  std::vector<std::unique_ptr<DeviceProvider>> providers;
  try {
    providers.push_back(std::make_unique<sim::SimProvider>(clock, std::move(instruments)));
  } catch (const std::exception& e) {
    setup.error = "Cannot simulate the instruments: " + std::string(e.what());
    setup.notes.clear();
    return setup;
  }
  auto rm = std::make_unique<ResourceManager>(std::move(providers));
  if (options.verbose) addProviderNotes(*rm, setup.notes);
  setup.api = std::move(rm);
  return setup;
}

VisaSetup real(const VisaOptions& options, const std::vector<std::string>& candidates) {
  VisaSetup setup;
  if (!options.visaLibrary.empty()) {
    VendorLibrary::LoadResult r = VendorLibrary::load(options.visaLibrary);
    if (!r.library) {
      setup.error = r.error;
      return setup;
    }
    setup.notes.push_back("Using " + r.library->description());
    setup.api = std::move(r.library);
    return setup;
  }

  VendorLibrary::SearchResult found = VendorLibrary::search(candidates);
  if (options.verbose) {
    for (const std::string& attempt : found.attempts) setup.notes.push_back("Tried " + attempt);
  }
  if (found.library) {
    setup.notes.push_back("Using " + found.library->description());
    setup.api = std::move(found.library);
    return setup;
  }

  auto rm = std::make_unique<ResourceManager>(builtInProviders());
  setup.notes.push_back("No VISA library found; using the " + rm->description());
  if (options.verbose) addProviderNotes(*rm, setup.notes);
  setup.api = std::move(rm);
  return setup;
}

}  // namespace

std::vector<std::string> backendNotes(const VisaApi& api) {
  const VisaApi* inner = &api;
  if (const auto* traced = dynamic_cast<const TracingVisa*>(inner)) inner = &traced->inner();
  if (const auto* rm = dynamic_cast<const ResourceManager*>(inner)) return rm->notes();
  return {};
}

VisaSetup makeVisa(const VisaOptions& options, Clock& clock) {
  return makeVisa(options, clock, VendorLibrary::searchPaths());
}

VisaSetup makeVisa(const VisaOptions& options, Clock& clock,
                   const std::vector<std::string>& libraryCandidates) {
  VisaSetup setup = options.simulate ? simulated(options, clock) : real(options, libraryCandidates);
  if (!setup.api || options.traceFile.empty()) return setup;

  TracingVisa::OpenResult traced = TracingVisa::open(std::move(setup.api), clock, options.traceFile);
  if (!traced.api) {
    setup.error = traced.error;
    return setup;
  }
  setup.notes.push_back("Tracing VISA calls to " + options.traceFile);
  setup.api = std::move(traced.api);
  return setup;
}

}  // namespace kalivor::visa
