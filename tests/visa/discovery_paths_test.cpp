// SPDX-License-Identifier: MIT
// Discovery gives the same list through the built-in resource manager and through a vendor
// library's C interface (the stand-in library backed by the same simulated meters).
#include <gtest/gtest.h>

#include "instrument/instrument_link.h"
#include "sim/sim_config.h"
#include "sim/sim_provider.h"
#include "standin_control.h"
#include "visa/resource_manager.h"
#include "visa/vendor_library.h"

namespace kalivor {
namespace {

const std::string kMixed = std::string(KALIVOR_TEST_DATA_DIR) + "/discovery/mixed.sim";

std::vector<std::string> discover(visa::VisaApi& api, Clock& clock) {
  RecordingMessages messages;
  InstrumentLink link(api, clock, messages);
  link.DiscoverInstruments();
  std::vector<std::string> out;
  for (int i = 0; i < link.InstrumentCount; ++i)
    out.push_back(link.identified[static_cast<std::size_t>(i)].Model + "|" +
                  link.identified[static_cast<std::size_t>(i)].Description);
  link.closeAtShutdown();
  return out;
}

const std::vector<std::string> kExpected = {
    "M101|C1\r -- 10ch", "M102|C2 -- 20ch", "M103|C3 --  TC-Scanner Card  -- 10ch",
    "M104|C4 -- SSR Card -- 10ch"};

TEST(DiscoveryPaths, BuiltInResourceManagerListsTheFirstFourQualifying) {
  ManualClock clock;
  const sim::SimulationFile file = sim::loadSimulationFile(kMixed);
  ASSERT_TRUE(file.error.empty()) << file.error;
  std::vector<std::unique_ptr<visa::DeviceProvider>> providers;
  providers.push_back(std::make_unique<sim::SimProvider>(clock, file.instruments));
  visa::ResourceManager rm(std::move(providers));
  EXPECT_EQ(discover(rm, clock), kExpected);
  EXPECT_EQ(clock.sleptMs(), 30000);  // the silent meter's time-out, on the manual clock
}

TEST(DiscoveryPaths, VendorLibraryPathGivesTheSameList) {
  visa::testing::resetStandin(kMixed.c_str());
  auto loaded = visa::VendorLibrary::load(KALIVOR_STANDIN_VISA);
  ASSERT_TRUE(loaded.library) << loaded.error;
  ManualClock clock;
  EXPECT_EQ(discover(*loaded.library, clock), kExpected);
  visa::testing::resetStandin(nullptr);
}

}  // namespace
}  // namespace kalivor
