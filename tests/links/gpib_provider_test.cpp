// SPDX-License-Identifier: MIT
#include "visa/gpib_provider.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <memory>
#include <sstream>
#include <string>

#include "link_fakes.h"

namespace kalivor::visa {
namespace {

using testing::StandinIo;
using testing::TempRoot;

bool anyNoteHas(const std::vector<std::string>& notes, const std::string& part) {
  for (const std::string& n : notes) {
    if (n.find(part) != std::string::npos) return true;
  }
  return false;
}

// The scripting side of a stand-in libgpib, reached through the same loaded copy the provider uses.
struct Standin {
  explicit Standin(const char* path) : handle(dlopen(path, RTLD_NOW | RTLD_LOCAL)) {
    if (handle == nullptr) throw std::runtime_error(dlerror());
    bind("standin_reset", reset);
    bind("standin_set_boards", setBoards);
    bind("standin_add_listener", addListener);
    bind("standin_answer", answer);
    bind("standin_queue", queue);
    bind("standin_power", power);
    bind("standin_fail_next", failNext);
    bind("standin_log", log);
    bind("standin_open_devices", openDevices);
    reset();
  }
  ~Standin() { dlclose(handle); }

  template <typename F>
  void bind(const char* name, F& f) {
    f = reinterpret_cast<F>(dlsym(handle, name));
    if (f == nullptr) throw std::runtime_error(name);
  }
  void answers(int board, int pad, const std::string& query, const std::string& reply) {
    answer(board, pad, 0, query.c_str(), reply.data(), static_cast<long>(reply.size()));
  }
  // The log's lines that start with a call's name.
  std::vector<std::string> calls(const std::string& op) const {
    std::vector<std::string> out;
    std::istringstream in(log());
    for (std::string line; std::getline(in, line);) {
      if (line.rfind(op + " ", 0) == 0) out.push_back(line);
    }
    return out;
  }

  void* handle;
  void (*reset)();
  void (*setBoards)(const int*, int);
  void (*addListener)(int, int, int);
  void (*answer)(int, int, int, const char*, const char*, long);
  void (*queue)(int, int, int, const char*, long);
  void (*power)(int, int, int, int);
  void (*failNext)(const char*, int, long, int, long);
  const char* (*log)();
  int (*openDevices)();
};

struct GpibFixture {
  explicit GpibFixture(const char* library) : standin(library), libraryPath(library) {
    root.writeFile("/dev/gpib0", "");
  }
  std::unique_ptr<GpibProvider> make(int boards = 4) {
    return std::make_unique<GpibProvider>(io, libraryPath, boards);
  }

  TempRoot root;
  std::shared_ptr<StandinIo> io = std::make_shared<StandinIo>(root);
  Standin standin;
  std::string libraryPath;
};

// Most tests run against both builds of the stand-in: with linux-gpib's per-thread results and
// with only the old process-wide variables.
struct GpibTest : ::testing::TestWithParam<const char*> {
  GpibFixture f{GetParam()};
  std::unique_ptr<GpibProvider> provider;

  void SetUp() override { provider = f.make(); }

  std::unique_ptr<DeviceSession> openOk(const std::string& resource) {
    std::unique_ptr<DeviceSession> s;
    EXPECT_EQ(provider->open(resource, &s), VI_SUCCESS) << resource;
    return s;
  }
  ViStatus send(DeviceSession& s, const std::string& m, ViUInt32* written = nullptr) {
    ViUInt32 w = 0;
    const ViStatus st = s.write(reinterpret_cast<const unsigned char*>(m.data()),
                                static_cast<ViUInt32>(m.size()), &w);
    if (written != nullptr) *written = w;
    return st;
  }
  struct Got {
    ViStatus status;
    std::string bytes;
  };
  Got receive(DeviceSession& s, ViUInt32 count = 1024) {
    std::string buf(count, '\xEE');
    ViUInt32 got = 0;
    const ViStatus st = s.read(reinterpret_cast<unsigned char*>(buf.data()), count, &got);
    EXPECT_LE(got, count);
    return {st, buf.substr(0, got)};
  }
};

INSTANTIATE_TEST_SUITE_P(Libraries, GpibTest,
                         ::testing::Values(KALIVOR_STANDIN_GPIB, KALIVOR_STANDIN_GPIB_GLOBALS),
                         [](const auto& info) {
                           return info.index == 0 ? "ThreadResults" : "GlobalsOnly";
                         });

// --- finding instruments ----------------------------------------------------------------

TEST_P(GpibTest, ListsListenersOnConfiguredBoards) {
  f.root.writeFile("/dev/gpib1", "");
  const int boards[] = {0, 1, 2};  // board 2 has no /dev node: not configured, not searched
  f.standin.setBoards(boards, 3);
  f.standin.addListener(0, 22, 0);
  f.standin.addListener(0, 5, 0);
  f.standin.addListener(1, 9, 0);
  f.standin.addListener(2, 3, 0);

  EXPECT_EQ(provider->listResources(),
            (std::vector<std::string>{"GPIB0::5::INSTR", "GPIB0::22::INSTR", "GPIB1::9::INSTR"}));
  const auto ibln = f.standin.calls("ibln");
  ASSERT_EQ(ibln.size(), 60u);  // addresses 1..30 on boards 0 and 1
  EXPECT_EQ(ibln.front(), "ibln 0 1 0");
  EXPECT_EQ(ibln.back(), "ibln 1 30 0");
  EXPECT_TRUE(anyNoteHas(provider->notes(), "GPIB0::22::INSTR has a listener"));
}

TEST_P(GpibTest, ABoardWithoutListenersOrWithoutNodeIsExplained) {
  EXPECT_TRUE(provider->listResources().empty());
  EXPECT_TRUE(anyNoteHas(provider->notes(), "board 0: no listener at addresses 1..30"));

  std::filesystem::remove(f.root.path() + "/dev/gpib0");
  EXPECT_TRUE(provider->listResources().empty());
  EXPECT_TRUE(anyNoteHas(provider->notes(), "gpib_config"));
  EXPECT_EQ(f.standin.calls("ibln").size(), 30u);  // only the first listing searched
}

TEST_P(GpibTest, ASearchRefusedByTheDriverStopsAtTheFirstAddressAndSaysWhy) {
  f.standin.addListener(0, 5, 0);
  f.standin.failNext("ibln", 0 /*EDVR*/, EACCES, 0, 0);
  EXPECT_TRUE(provider->listResources().empty());
  EXPECT_EQ(f.standin.calls("ibln").size(), 1u);
  EXPECT_TRUE(anyNoteHas(provider->notes(), "Permission denied"));
  EXPECT_TRUE(anyNoteHas(provider->notes(), "gpib group"));
}

TEST_P(GpibTest, ANodeOutOfReachIsNotSearchedAndCannotBeOpened) {
  f.standin.addListener(0, 5, 0);
  f.io->deniedPaths.push_back("/dev/gpib0");
  EXPECT_TRUE(provider->listResources().empty());
  EXPECT_TRUE(anyNoteHas(provider->notes(), "/dev/gpib0 cannot be opened: permission denied"));
  std::unique_ptr<DeviceSession> s;
  EXPECT_EQ(provider->open("GPIB0::5::INSTR", &s), VI_ERROR_SYSTEM_ERROR);
  EXPECT_TRUE(f.standin.calls("ibdev").empty());
}

// --- opening ----------------------------------------------------------------------------

TEST(GpibResourceNameTest, ParsesBoardAddressesAndRefusesOthers) {
  const auto a = parseGpibResourceName("gpib1::22::instr");
  ASSERT_TRUE(a);
  EXPECT_EQ(a->board, 1);
  EXPECT_EQ(a->pad, 22);
  EXPECT_FALSE(a->sad);
  const auto b = parseGpibResourceName("GPIB::5::3::INSTR");
  ASSERT_TRUE(b);
  EXPECT_EQ(b->board, 0);
  EXPECT_EQ(b->sad, 3);
  for (const char* bad : {"GPIB0::31::INSTR", "GPIB0::5::31::INSTR", "GPIB0::INTFC",
                          "GPIB0::5::INTFC", "GPIB0::-1::INSTR", "GPIB0::x::INSTR",
                          "GPIB16::5::INSTR",
                          "USB0::1::2::3::INSTR", "GPIB0::5::3::1::INSTR"}) {
    EXPECT_FALSE(parseGpibResourceName(bad)) << bad;
  }
}

TEST_P(GpibTest, OpenAsksForEoiAndTheDefaultTimeOutAndCloseTakesTheDeviceOffline) {
  f.standin.addListener(0, 5, 0);
  auto s = openOk("GPIB0::5::INSTR");
  ASSERT_EQ(f.standin.calls("ibdev"), std::vector<std::string>{"ibdev 0 5 0 12 1 0"});
  EXPECT_EQ(f.standin.openDevices(), 1);
  s.reset();
  EXPECT_EQ(f.standin.openDevices(), 0);
  EXPECT_EQ(f.standin.calls("ibonl"), std::vector<std::string>{"ibonl 16 0"});
}

TEST_P(GpibTest, SecondaryAddressesAreWrittenTheLinuxGpibWay) {
  f.standin.addListener(0, 5, 0x63);
  auto s = openOk("GPIB0::5::3::INSTR");
  EXPECT_EQ(f.standin.calls("ibln").back(), "ibln 0 5 99");
  EXPECT_EQ(f.standin.calls("ibdev"), std::vector<std::string>{"ibdev 0 5 99 12 1 0"});
}

TEST_P(GpibTest, NamesWithoutAnInstrumentOrNotGpibAreNotFound) {
  f.standin.addListener(0, 5, 0);
  std::unique_ptr<DeviceSession> s;
  EXPECT_EQ(provider->open("GPIB0::6::INSTR", &s), VI_ERROR_RSRC_NFOUND);
  EXPECT_EQ(provider->open("GPIB3::5::INSTR", &s), VI_ERROR_RSRC_NFOUND);  // no /dev/gpib3
  EXPECT_EQ(provider->open("GPIB0::99::INSTR", &s), VI_ERROR_INV_RSRC_NAME);
  EXPECT_EQ(provider->open("USB0::0x1AB1::0x0588::SN::INSTR", &s), VI_ERROR_RSRC_NFOUND);
  EXPECT_FALSE(s);
  EXPECT_TRUE(f.standin.calls("ibdev").empty());
}

// --- exchanges --------------------------------------------------------------------------

TEST_P(GpibTest, ReadsEndWithEndOrFillTheBuffer) {
  f.standin.addListener(0, 5, 0);
  const std::string longAnswer = std::string(2500, 'v') + "\n";
  f.standin.answers(0, 5, "fetch?\n", longAnswer);
  f.standin.answers(0, 5, "one?\n", std::string(1023, 'o') + "\n");
  auto s = openOk("GPIB0::5::INSTR");

  ViUInt32 written = 0;
  EXPECT_EQ(send(*s, "fetch?\n", &written), VI_SUCCESS);
  EXPECT_EQ(written, 7u);
  const Got a = receive(*s);
  const Got b = receive(*s);
  const Got c = receive(*s);
  EXPECT_EQ(a.status, VI_SUCCESS_MAX_CNT);
  EXPECT_EQ(b.status, VI_SUCCESS_MAX_CNT);
  EXPECT_EQ(c.status, VI_SUCCESS);
  EXPECT_EQ(a.bytes + b.bytes + c.bytes, longAnswer);

  // Exactly a buffer's worth with END on its last byte is a complete answer.
  send(*s, "one?\n");
  const Got one = receive(*s);
  EXPECT_EQ(one.status, VI_SUCCESS);
  EXPECT_EQ(one.bytes.size(), 1024u);
  EXPECT_EQ(f.standin.calls("ibwrt").front().substr(0, 6), "ibwrt ");
}

TEST_P(GpibTest, ATimeOutIsReportedWithWhateverArrived) {
  f.standin.addListener(0, 5, 0);
  auto s = openOk("GPIB0::5::INSTR");
  const Got silent = receive(*s);
  EXPECT_EQ(silent.status, VI_ERROR_TMO);
  EXPECT_TRUE(silent.bytes.empty());

  const std::string part = "+1.0E+00,+2.0E+00";
  f.standin.queue(0, 5, 0, part.data(), static_cast<long>(part.size()));
  f.standin.failNext("ibrd", 6 /*EABO*/, 0, 1, 8);
  const Got partial = receive(*s);
  EXPECT_EQ(partial.status, VI_ERROR_TMO);
  EXPECT_EQ(partial.bytes, "+1.0E+00");
}

TEST_P(GpibTest, TheSessionTimeOutBecomesALinuxGpibCode) {
  f.standin.addListener(0, 5, 0);
  auto s = openOk("GPIB0::5::INSTR");
  EXPECT_EQ(s->setTimeout(30000), VI_SUCCESS);
  EXPECT_EQ(s->setTimeout(2500), VI_SUCCESS);
  const auto tmo = f.standin.calls("ibtmo");
  ASSERT_EQ(tmo.size(), 2u);
  EXPECT_EQ(tmo[0].substr(tmo[0].rfind(' ')), " 14");
  EXPECT_EQ(tmo[1].substr(tmo[1].rfind(' ')), " 12");
  f.standin.failNext("ibtmo", 4 /*EARG*/, 0, 0, 0);
  EXPECT_EQ(s->setTimeout(1000), VI_ERROR_NSUP_ATTR_STATE);
}

TEST(GpibTimeoutCodeTest, RoundsUpToTheNextCode) {
  const std::pair<ViUInt32, int> cases[] = {
      {0, 1},        {1, 5},        {2, 6},         {299, 10},     {300, 10},
      {1000, 11},    {1001, 12},    {2000, 12},     {3000, 12},    {3001, 13},
      {10000, 13},   {30000, 14},   {30001, 15},    {100000, 15},  {300000, 16},
      {1000000, 17}, {5000000, 17}, {VI_TMO_INFINITE, 0}};
  for (const auto& [ms, code] : cases) EXPECT_EQ(gpibTimeoutCode(ms), code) << ms << " ms";
}

// --- faults -----------------------------------------------------------------------------

TEST_P(GpibTest, AnInstrumentSwitchedOffIsALostConnection) {
  f.standin.addListener(0, 5, 0);
  auto s = openOk("GPIB0::5::INSTR");
  f.standin.power(0, 5, 0, 0);
  ViUInt32 written = 99;
  EXPECT_EQ(send(*s, "*IDN?", &written), VI_ERROR_CONN_LOST);
  EXPECT_EQ(written, 0u);
  std::unique_ptr<DeviceSession> again;
  EXPECT_EQ(provider->open("GPIB0::5::INSTR", &again), VI_ERROR_RSRC_NFOUND);
}

TEST_P(GpibTest, DriverErrorsBecomeVisaStatuses) {
  f.standin.addListener(0, 5, 0);
  f.standin.answers(0, 5, "*IDN?", "MAKER,M100,SN1,1.0\n");
  auto s = openOk("GPIB0::5::INSTR");
  // An adapter pulled out: the driver reports the device gone.
  f.standin.failNext("ibwrt", 0 /*EDVR*/, ENODEV, 0, 0);
  EXPECT_EQ(send(*s, "*IDN?"), VI_ERROR_CONN_LOST);
  f.standin.failNext("ibwrt", 0 /*EDVR*/, EIO, 0, 0);
  EXPECT_EQ(send(*s, "*IDN?"), VI_ERROR_IO);
  f.standin.failNext("ibwrt", 1 /*ECIC*/, 0, 0, 0);
  EXPECT_EQ(send(*s, "*IDN?"), VI_ERROR_IO);
  f.standin.failNext("ibwrt", 6 /*EABO*/, 0, 1, 0);
  EXPECT_EQ(send(*s, "*IDN?"), VI_ERROR_TMO);
  f.standin.failNext("ibrd", 7 /*ENEB*/, 0, 0, 0);
  EXPECT_EQ(receive(*s).status, VI_ERROR_CONN_LOST);
  // And after all that, an exchange still works.
  EXPECT_EQ(send(*s, "*IDN?"), VI_SUCCESS);
  EXPECT_EQ(receive(*s).bytes, "MAKER,M100,SN1,1.0\n");
}

TEST_P(GpibTest, AFailedIbdevOpensNothing) {
  f.standin.addListener(0, 5, 0);
  f.standin.failNext("ibdev", 0 /*EDVR*/, EACCES, 0, 0);
  std::unique_ptr<DeviceSession> s;
  EXPECT_EQ(provider->open("GPIB0::5::INSTR", &s), VI_ERROR_SYSTEM_ERROR);
  EXPECT_FALSE(s);
  EXPECT_TRUE(anyNoteHas(provider->notes(), "gpib group"));
}

TEST(GpibLibraryTest, AMissingLibraryIsANoteNotAnError) {
  TempRoot root;
  root.writeFile("/dev/gpib0", "");
  GpibProvider provider{std::make_shared<StandinIo>(root), root.path() + "/no/libgpib.so.0"};
  EXPECT_TRUE(anyNoteHas(provider.notes(), "could not be loaded"));
  EXPECT_TRUE(anyNoteHas(provider.notes(), "install linux-gpib"));
  EXPECT_FALSE(provider.libraryLoaded());
  EXPECT_TRUE(provider.listResources().empty());
  std::unique_ptr<DeviceSession> s;
  EXPECT_EQ(provider.open("GPIB0::5::INSTR", &s), VI_ERROR_LIBRARY_NFOUND);
  EXPECT_EQ(provider.open("USB0::1::2::3::INSTR", &s), VI_ERROR_RSRC_NFOUND);
}

TEST(GpibLibraryTest, ALibraryWithoutTheGpibCallsIsRefused) {
  TempRoot root;
  // Any shared library that is not libgpib will do; the C library is always there.
  GpibProvider provider{std::make_shared<StandinIo>(root), "libc.so.6"};
  EXPECT_FALSE(provider.libraryLoaded());
  EXPECT_TRUE(anyNoteHas(provider.notes(), "lacks functions of linux-gpib"));
}

}  // namespace
}  // namespace kalivor::visa
