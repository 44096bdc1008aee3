// SPDX-License-Identifier: MIT
#include "visa/visa_factory.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "common/text.h"
#include "visa/fake_provider.h"
#include "visa/resource_manager.h"
#include "visa/standin_control.h"
#include "visa/tracing_visa.h"
#include "visa/vendor_library.h"

namespace kalivor::visa {
namespace {

namespace fs = std::filesystem;

bool hasNote(const VisaSetup& s, std::string_view part) {
  for (const std::string& n : s.notes) {
    if (contains(n, part)) return true;
  }
  return false;
}

// Resource names the api finds with the discovery expression.
std::vector<std::string> findAll(VisaApi& visa) {
  std::vector<std::string> out;
  ViSession rm = 0;
  EXPECT_EQ(visa.viOpenDefaultRM(&rm), VI_SUCCESS);
  ViFindList list = 0;
  ViUInt32 count = 0;
  char desc[VI_FIND_BUFLEN];
  if (visa.viFindRsrc(rm, "(USB|GPIB)?*INSTR", &list, &count, desc) == VI_SUCCESS) {
    out.push_back(desc);
    for (ViUInt32 i = 1; i < count && visa.viFindNext(list, desc) == VI_SUCCESS; ++i) out.push_back(desc);
  }
  visa.viClose(rm);
  return out;
}

class VisaFactoryTest : public ::testing::Test {
 protected:
  VisaFactoryTest() {
    dir = fs::temp_directory_path() /
          ("kalivor-factory-" +
           std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    missingLibrary = (dir / "libvisa.so").string();
  }
  ~VisaFactoryTest() override { fs::remove_all(dir); }

  ManualClock clock;
  fs::path dir;
  std::string missingLibrary;
};

TEST_F(VisaFactoryTest, SimulateWithoutFileGivesTheTwoDefaultInstruments) {
  VisaOptions o;
  o.simulate = true;
  o.visaLibrary = "/nowhere/libvisa.so";  // not even tried
  const VisaSetup s = makeVisa(o, clock, {missingLibrary});
  ASSERT_TRUE(s.api) << s.error;
  EXPECT_EQ(s.error, "");
  EXPECT_EQ(s.api->description(), "built-in resource manager (simulated)");
  EXPECT_TRUE(hasNote(s, "Simulated instruments: 2 built in"));
  EXPECT_TRUE(hasNote(s, "is not used when simulating"));
  EXPECT_EQ(findAll(*s.api), (std::vector<std::string>{"USB0::0x0000::0x0001::SIM0001::INSTR",
                                                       "USB0::0x0000::0x0001::SIM0002::INSTR"}));
}

TEST_F(VisaFactoryTest, SimulationFileIsReadOrRefusedClearly) {
  VisaOptions o;
  o.simulate = true;
  o.simulationFile = (dir / "bench.ini").string();
  std::ofstream(o.simulationFile) << "[Instrument1]\nResource=GPIB0::7::INSTR\nIdentity=A,B,C,D\n"
                                     "Card=1\nSerial=S7\n";
  VisaSetup s = makeVisa(o, clock, {missingLibrary});
  ASSERT_TRUE(s.api) << s.error;
  EXPECT_TRUE(hasNote(s, "Simulated instruments: 1 from " + o.simulationFile));
  EXPECT_EQ(findAll(*s.api), std::vector<std::string>{"GPIB0::7::INSTR"});

  std::ofstream(o.simulationFile) << "[Instrument1]\nResource=GPIB0::7::INSTR\nColour=red\n";
  s = makeVisa(o, clock, {missingLibrary});
  EXPECT_FALSE(s.api);
  EXPECT_TRUE(startsWith(s.error, "Simulation file \"" + o.simulationFile + "\", line 3")) << s.error;

  o.simulationFile = (dir / "absent.ini").string();
  s = makeVisa(o, clock, {missingLibrary});
  EXPECT_FALSE(s.api);
  EXPECT_TRUE(startsWith(s.error, "Cannot open simulation file")) << s.error;
  EXPECT_TRUE(contains(s.error, o.simulationFile)) << s.error;
}

TEST_F(VisaFactoryTest, NamedLibraryIsUsedOrItsFailureReported) {
  testing::resetStandin(nullptr);
  VisaOptions o;
  o.visaLibrary = KALIVOR_STANDIN_VISA;
  VisaSetup s = makeVisa(o, clock, {missingLibrary});
  ASSERT_TRUE(s.api) << s.error;
  EXPECT_EQ(s.api->description(), std::string("VISA library ") + KALIVOR_STANDIN_VISA);
  EXPECT_EQ(findAll(*s.api).size(), 2u);

  o.visaLibrary = KALIVOR_STANDIN_VISA_PARTIAL;
  s = makeVisa(o, clock, {KALIVOR_STANDIN_VISA});  // no fallback to the search
  EXPECT_FALSE(s.api);
  EXPECT_TRUE(contains(s.error, "lacks the function viClose")) << s.error;
}

TEST_F(VisaFactoryTest, SearchTakesTheFirstLoadableLibrary) {
  testing::resetStandin(nullptr);
  VisaOptions o;
  o.verbose = true;
  const VisaSetup s =
      makeVisa(o, clock, {missingLibrary, KALIVOR_STANDIN_VISA_PARTIAL, KALIVOR_STANDIN_VISA});
  ASSERT_TRUE(s.api) << s.error;
  EXPECT_EQ(s.api->description(), std::string("VISA library ") + KALIVOR_STANDIN_VISA);
  EXPECT_TRUE(hasNote(s, "Tried Cannot load VISA library " + missingLibrary));
  EXPECT_TRUE(hasNote(s, "lacks the function viClose"));
  EXPECT_TRUE(hasNote(s, std::string("Using VISA library ") + KALIVOR_STANDIN_VISA));

  o.verbose = false;
  const VisaSetup quiet = makeVisa(o, clock, {missingLibrary, KALIVOR_STANDIN_VISA});
  EXPECT_EQ(quiet.notes, std::vector<std::string>{std::string("Using VISA library ") +
                                                  KALIVOR_STANDIN_VISA});
}

TEST_F(VisaFactoryTest, WithoutAnyLibraryOurOwnResourceManagerIsUsed) {
  VisaOptions o;
  const VisaSetup s = makeVisa(o, clock, {missingLibrary});
  ASSERT_TRUE(s.api) << s.error;
  EXPECT_NE(dynamic_cast<ResourceManager*>(s.api.get()), nullptr);
  EXPECT_EQ(s.api->description(), "built-in resource manager (usbtmc, gpib)");
  EXPECT_EQ(s.notes, std::vector<std::string>{
                         "No VISA library found; using the built-in resource manager (usbtmc, gpib)"});
}

TEST_F(VisaFactoryTest, BackendNotesLookThroughTheTrace) {
  testing::FakeLog log;
  auto provider = std::make_unique<testing::FakeProvider>("fake", std::vector<std::string>{}, log);
  provider->providerNotes = {"/dev/fake0 is not readable"};
  std::vector<std::unique_ptr<DeviceProvider>> providers;
  providers.push_back(std::move(provider));
  auto traced = TracingVisa::open(std::make_unique<ResourceManager>(std::move(providers)), clock,
                                  (dir / "visa.trace").string());
  ASSERT_TRUE(traced.api);
  const std::vector<std::string> expected{"fake: /dev/fake0 is not readable"};
  EXPECT_EQ(backendNotes(*traced.api), expected);
  EXPECT_EQ(backendNotes(traced.api->inner()), expected);

  testing::resetStandin(nullptr);
  auto vendor = VendorLibrary::load(KALIVOR_STANDIN_VISA);
  ASSERT_TRUE(vendor.library);
  EXPECT_TRUE(backendNotes(*vendor.library).empty());
}

TEST_F(VisaFactoryTest, TraceFileWrapsTheChosenApi) {
  VisaOptions o;
  o.simulate = true;
  o.traceFile = (dir / "visa.trace").string();
  VisaSetup s = makeVisa(o, clock, {missingLibrary});
  ASSERT_TRUE(s.api) << s.error;
  auto* traced = dynamic_cast<TracingVisa*>(s.api.get());
  ASSERT_NE(traced, nullptr);
  EXPECT_EQ(traced->inner().description(), "built-in resource manager (simulated)");
  EXPECT_TRUE(hasNote(s, "Tracing VISA calls to " + o.traceFile));
  findAll(*s.api);
  std::ifstream in(o.traceFile);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_TRUE(contains(text, "find \"(USB|GPIB)?*INSTR\" count 2")) << text;

  o.traceFile = (dir / "no-such-dir" / "visa.trace").string();
  s = makeVisa(o, clock, {missingLibrary});
  EXPECT_FALSE(s.api);
  EXPECT_TRUE(startsWith(s.error, "Cannot open trace file " + o.traceFile)) << s.error;
}

}  // namespace
}  // namespace kalivor::visa
