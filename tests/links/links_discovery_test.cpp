// SPDX-License-Identifier: MIT
// Discovery over the real-link backends: the resource manager over the usbtmc and GPIB providers
// must find and identify the same instruments as it does over the simulated ones.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "common/clock.h"
#include "common/messages.h"
#include "instrument/instrument_link.h"
#include "link_fakes.h"
#include "sim/sim_config.h"
#include "sim/sim_instrument.h"
#include "sim/sim_provider.h"
#include "visa/gpib_provider.h"
#include "visa/resource_manager.h"
#include "visa/usbtmc_provider.h"

namespace kalivor {
namespace {

using namespace visa;
using visa::testing::addSysfsDevice;
using visa::testing::StandinIo;
using visa::testing::TempRoot;

// One whole answer of a simulated instrument, read as the link reads: 1024 bytes at a time.
std::string ask(sim::SimInstrument& instrument, const std::string& message) {
  instrument.write(message);
  std::string out;
  for (;;) {
    unsigned char buf[1024];
    ViUInt32 got = 0;
    const ViStatus st = instrument.read(buf, sizeof buf, &got, 100);
    out.append(reinterpret_cast<const char*>(buf), got);
    if (st != VI_SUCCESS_MAX_CNT) return out;
  }
}

struct Identified {
  std::string model, description, resource;
  int card, banks, channels;
  bool operator==(const Identified&) const = default;
};

std::vector<Identified> discover(VisaApi& visa, Clock& clock) {
  RecordingMessages messages;
  InstrumentLink link{visa, clock, messages};
  link.DiscoverInstruments();
  EXPECT_TRUE(messages.shown.empty());
  std::vector<Identified> out;
  for (int i = 0; i < link.InstrumentCount; ++i) {
    const DiscoveredInstrument& e = link.identified[static_cast<std::size_t>(i)];
    out.push_back({e.Model, e.Description, e.Resource, e.ScanerCard, e.BankCount, e.ChannelCount});
  }
  link.closeAtShutdown();
  return out;
}

TEST(LinksDiscoveryTest, RealBackendsIdentifyTheSameInstrumentsAsTheSimulation) {
  ManualClock clock;
  const std::vector<sim::SimInstrumentConfig> configs = sim::defaultInstruments();
  ASSERT_EQ(configs.size(), 2u);

  std::vector<std::unique_ptr<DeviceProvider>> simulated;
  simulated.push_back(std::make_unique<sim::SimProvider>(clock, configs));
  ResourceManager simRm{std::move(simulated)};
  std::vector<Identified> expected = discover(simRm, clock);
  ASSERT_EQ(expected.size(), 2u);

  // The first instrument on USB, with the ids and serial of its simulated resource name, and a
  // live simulated instrument behind the stand-in device.
  TempRoot root;
  auto io = std::make_shared<StandinIo>(root);
  addSysfsDevice(root, {.entry = "usbtmc0", .busPath = "3-1", .idVendor = "0000",
                        .idProduct = "0001", .serial = std::string("SIM0001")});
  sim::SimInstrument onUsb{clock, configs[0]};
  io->devices["/dev/usbtmc0"].respond = [&](const std::string& m) {
    return m.find('?') == std::string::npos ? std::string() : ask(onUsb, m);
  };

  // The second on GPIB board 0, address 7, answering what the simulated one answers.
  root.writeFile("/dev/gpib0", "");
  void* standin = dlopen(KALIVOR_STANDIN_GPIB, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(standin, nullptr) << dlerror();
  auto reset = reinterpret_cast<void (*)()>(dlsym(standin, "standin_reset"));
  auto addListener =
      reinterpret_cast<void (*)(int, int, int)>(dlsym(standin, "standin_add_listener"));
  auto answer = reinterpret_cast<void (*)(int, int, int, const char*, const char*, long)>(
      dlsym(standin, "standin_answer"));
  auto log = reinterpret_cast<const char* (*)()>(dlsym(standin, "standin_log"));
  reset();
  addListener(0, 7, 0);
  sim::SimInstrument onGpib{clock, configs[1]};
  for (const char* q : {"*IDN?", "rout:state?\n", "cal:sec:serial?\n"}) {
    const std::string a = ask(onGpib, q);
    answer(0, 7, 0, q, a.data(), static_cast<long>(a.size()));
  }

  {
    std::vector<std::unique_ptr<DeviceProvider>> links;
    links.push_back(std::make_unique<UsbtmcProvider>(io));
    links.push_back(std::make_unique<GpibProvider>(io, KALIVOR_STANDIN_GPIB));
    ResourceManager rm{std::move(links)};
    const std::vector<Identified> found = discover(rm, clock);

    expected[1].resource = "GPIB0::7::INSTR";
    EXPECT_EQ(found, expected);
    // The session time-out reached both drivers: the manager's default, then discovery's 30 s.
    EXPECT_EQ(io->devices["/dev/usbtmc0"].timeouts, (std::vector<std::uint32_t>{2000, 30000}));
    EXPECT_NE(std::string(log()).find("ibtmo 16 14"), std::string::npos) << log();
  }
  EXPECT_EQ(io->openDescriptors(), 0);  // every session closed at shutdown
  dlclose(standin);
}

}  // namespace
}  // namespace kalivor
