// SPDX-License-Identifier: MIT
#include "visa/usbtmc_provider.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "link_fakes.h"

namespace kalivor::visa {
namespace {

using testing::addSysfsDevice;
using testing::FakeUsbDevice;
using testing::StandinIo;
using testing::SysfsUsbDevice;
using testing::TempRoot;

bool anyNoteHas(const std::vector<std::string>& notes, const std::string& part) {
  for (const std::string& n : notes) {
    if (n.find(part) != std::string::npos) return true;
  }
  return false;
}

struct UsbtmcTest : ::testing::Test {
  TempRoot root;
  std::shared_ptr<StandinIo> io = std::make_shared<StandinIo>(root);
  UsbtmcProvider provider{io};

  // A device in sysfs and its stand-in behind /dev.
  FakeUsbDevice& plug(const SysfsUsbDevice& d) {
    addSysfsDevice(root, d);
    return io->devices["/dev/" + d.entry];
  }

  std::unique_ptr<DeviceSession> openOk(const std::string& resource) {
    std::unique_ptr<DeviceSession> s;
    EXPECT_EQ(provider.open(resource, &s), VI_SUCCESS) << resource;
    return s;
  }

  ViStatus send(DeviceSession& s, const std::string& message) {
    ViUInt32 written = 0;
    const ViStatus st = s.write(reinterpret_cast<const unsigned char*>(message.data()),
                                static_cast<ViUInt32>(message.size()), &written);
    EXPECT_EQ(written, succeeded(st) ? message.size() : 0u);
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

// --- finding devices ---------------------------------------------------------------------

TEST_F(UsbtmcTest, ListsDevicesInNodeOrderWithTheirResourceNames) {
  plug({.entry = "usbtmc10", .busPath = "1-4", .interfaceNumber = 2, .idVendor = "05e6",
        .idProduct = "6500", .serial = std::string("SN77")});
  plug({.entry = "usbtmc0", .busPath = "1-3"});
  plug({.entry = "usbtmc2", .busPath = "2-1", .idVendor = "0957", .idProduct = "0607",
        .serial = std::nullopt});
  // Other drivers share the class directory.
  std::filesystem::create_directories(root.path() + "/sys/class/usbmisc/hiddev0");

  EXPECT_EQ(provider.listResources(),
            (std::vector<std::string>{"USB0::0x1AB1::0x0588::DM3R1234::INSTR",
                                      "USB0::0x0957::0x0607::NONE::INSTR",
                                      "USB0::0x05E6::0x6500::SN77::2::INSTR"}));
  const auto notes = provider.notes();
  EXPECT_TRUE(
      anyNoteHas(notes, "USB0::0x1AB1::0x0588::DM3R1234::INSTR on /dev/usbtmc0 (Maker Meter)"));
  EXPECT_TRUE(anyNoteHas(notes, "no serial number"));

  const auto devices = provider.devices();
  ASSERT_EQ(devices.size(), 3u);
  EXPECT_EQ(devices[2].node, "/dev/usbtmc10");
  EXPECT_EQ(devices[2].interfaceNumber, 2u);
  EXPECT_EQ(devices[1].serial, "");
}

// Other VISA tools refuse an empty field; the name a device without serial gets opens it, as
// does the empty field of earlier listings, and never a device that has a serial.
TEST_F(UsbtmcTest, ADeviceWithoutSerialGetsANameOtherToolsAcceptAndOpensByIt) {
  plug({.entry = "usbtmc0", .busPath = "1-3", .serial = std::nullopt});
  plug({.entry = "usbtmc1", .busPath = "1-4", .idProduct = "0589", .serial = std::string("NONE")});
  plug({.entry = "usbtmc2", .busPath = "1-5", .idProduct = "058a"});
  const auto listed = provider.listResources();
  ASSERT_EQ(listed.size(), 3u);
  EXPECT_EQ(listed[0], "USB0::0x1AB1::0x0588::NONE::INSTR");
  for (const std::string& r : listed) {
    EXPECT_EQ(r.find("::::"), std::string::npos) << r;
    const auto n = parseUsbResourceName(r);
    ASSERT_TRUE(n) << r;
    EXPECT_FALSE(n->serial.empty()) << r;
  }
  EXPECT_TRUE(anyNoteHas(provider.notes(), "no serial number (named NONE)"));

  openOk("usb0::0x1ab1::0x0588::none::instr");
  openOk("USB0::0x1AB1::0x0588::::INSTR");
  EXPECT_EQ(io->devices["/dev/usbtmc0"].opens, 2);
  std::unique_ptr<DeviceSession> s;
  EXPECT_EQ(provider.open("USB0::0x1AB1::0x058A::NONE::INSTR", &s), VI_ERROR_RSRC_NFOUND);
  EXPECT_EQ(io->devices["/dev/usbtmc2"].opens, 0);
}

TEST_F(UsbtmcTest, SerialPaddingFromTheDeviceIsNotPartOfTheName) {
  plug({.serial = std::string("MY4401\0\0  ", 10)});
  EXPECT_EQ(provider.listResources(),
            std::vector<std::string>{"USB0::0x1AB1::0x0588::MY4401::INSTR"});
}

TEST_F(UsbtmcTest, NothingFoundSaysWhy) {
  EXPECT_TRUE(provider.listResources().empty());
  EXPECT_TRUE(anyNoteHas(provider.notes(), "no usbtmc devices"));
  // Notes are there before any search, for the start-up report.
  UsbtmcProvider fresh{io};
  EXPECT_TRUE(anyNoteHas(fresh.notes(), "usbtmc driver"));
}

TEST_F(UsbtmcTest, EntriesWithUnreadableIdsAreSkippedWithANote) {
  plug({.entry = "usbtmc0", .busPath = "1-3"});
  plug({.entry = "usbtmc1", .busPath = "1-5", .idVendor = "zz"});
  EXPECT_EQ(provider.listResources().size(), 1u);
  EXPECT_TRUE(anyNoteHas(provider.notes(), "usbtmc1 skipped"));
}

TEST_F(UsbtmcTest, TwoDevicesWithTheSameNameAreListedOnce) {
  plug({.entry = "usbtmc0", .busPath = "1-3", .serial = std::nullopt});
  plug({.entry = "usbtmc1", .busPath = "1-4", .serial = std::nullopt});
  EXPECT_EQ(provider.listResources().size(), 1u);
  EXPECT_TRUE(anyNoteHas(provider.notes(), "/dev/usbtmc1 has the same name"));
}

// --- names asked for --------------------------------------------------------------------

TEST(UsbResourceNameTest, ParsesTheFieldsAndRefusesWhatIsNotAUsbInstrument) {
  const auto n = parseUsbResourceName("usb3::6833::0X0588::SN 1::4::instr  ");
  ASSERT_TRUE(n);
  EXPECT_EQ(n->vendorId, 0x1AB1u);
  EXPECT_EQ(n->productId, 0x0588u);
  EXPECT_EQ(n->serial, "SN 1");
  EXPECT_EQ(n->interfaceNumber, 4u);
  EXPECT_FALSE(parseUsbResourceName("USB::0x1AB1::0x0588::SN::INSTR")->interfaceNumber);

  for (const char* bad : {"USB0::0x1AB1::0x0588::SN::RAW", "USB0::0x1AB1::0x0588::INSTR",
                          "USB0::0xZZ::0x0588::SN::INSTR", "USB0::0x10000::0x0588::SN::INSTR",
                          "USBx::0x1AB1::0x0588::SN::INSTR", "GPIB0::5::INSTR",
                          "USB0::0x1AB1::0x0588::SN::1::2::INSTR", "USB0::-1::0x0588::SN::INSTR"}) {
    EXPECT_FALSE(parseUsbResourceName(bad)) << bad;
  }
}

TEST_F(UsbtmcTest, OpensByIdsInEitherBaseAnySerialPaddingAndAnyCase) {
  plug({});
  for (const std::string& name : std::vector<std::string>{
           "USB0::0x1AB1::0x0588::DM3R1234::INSTR", "USB0::6833::1416::DM3R1234::INSTR",
        "usb7::0x1ab1::0x0588::dm3r1234::instr", "USB0::0x1AB1::0x0588::DM3R1234::0::INSTR",
        std::string("USB0::0x1AB1::0x0588::DM3R1234\0\0::INSTR", 39),
        "USB0::0x1AB1::0x0588::DM3R1234  ::INSTR"}) {
    std::unique_ptr<DeviceSession> s;
    EXPECT_EQ(provider.open(name, &s), VI_SUCCESS) << name;
    EXPECT_TRUE(s);
  }
  EXPECT_EQ(io->devices["/dev/usbtmc0"].opens, 6);
}

TEST_F(UsbtmcTest, NamesThatDoNotFitAreNotOpened) {
  plug({});
  std::unique_ptr<DeviceSession> s;
  EXPECT_EQ(provider.open("USB0::0x1AB1::0x0588::OTHER::INSTR", &s), VI_ERROR_RSRC_NFOUND);
  EXPECT_EQ(provider.open("USB0::0x1AB1::0x0589::DM3R1234::INSTR", &s), VI_ERROR_RSRC_NFOUND);
  EXPECT_EQ(provider.open("USB0::0x1AB1::0x0588::DM3R1234::1::INSTR", &s), VI_ERROR_RSRC_NFOUND);
  // A serial is compared whole: a prefix is another instrument.
  EXPECT_EQ(provider.open("USB0::0x1AB1::0x0588::DM3R12::INSTR", &s), VI_ERROR_RSRC_NFOUND);
  EXPECT_EQ(provider.open("USB0::0x1AB1::0x0588::DM3R1234::RAW", &s), VI_ERROR_INV_RSRC_NAME);
  // Not ours at all: the resource manager goes on to the next backend.
  EXPECT_EQ(provider.open("GPIB0::22::INSTR", &s), VI_ERROR_RSRC_NFOUND);
  EXPECT_FALSE(s);
  EXPECT_EQ(io->devices["/dev/usbtmc0"].opens, 0);
}

TEST_F(UsbtmcTest, EveryListedNameOpensItsOwnNode) {
  plug({.entry = "usbtmc0", .busPath = "1-3", .serial = std::string("A 1  ")});
  plug({.entry = "usbtmc1", .busPath = "1-4", .serial = std::nullopt});
  plug({.entry = "usbtmc2", .busPath = "1-5", .interfaceNumber = 3});
  for (const std::string& r : provider.listResources()) openOk(r);
  for (const char* node : {"/dev/usbtmc0", "/dev/usbtmc1", "/dev/usbtmc2"}) {
    EXPECT_EQ(io->devices[node].opens, 1) << node;
  }
}

TEST_F(UsbtmcTest, WithoutAnInterfaceNumberTheLowestInterfaceIsMeant) {
  // One instrument with two usbtmc interfaces; the second one is listed with its number.
  plug({.entry = "usbtmc0", .busPath = "1-3", .interfaceNumber = 1});
  plug({.entry = "usbtmc1", .busPath = "1-3", .interfaceNumber = 0});
  EXPECT_EQ(provider.listResources(),
            (std::vector<std::string>{"USB0::0x1AB1::0x0588::DM3R1234::1::INSTR",
                                      "USB0::0x1AB1::0x0588::DM3R1234::INSTR"}));
  openOk("USB0::0x1AB1::0x0588::DM3R1234::INSTR");
  EXPECT_EQ(io->devices["/dev/usbtmc1"].opens, 1);
  EXPECT_EQ(io->devices["/dev/usbtmc0"].opens, 0);
}

// --- exchanges --------------------------------------------------------------------------

TEST_F(UsbtmcTest, AMessageIsOneWriteHoweverLong) {
  FakeUsbDevice& d = plug({});
  auto s = openOk("USB0::0x1AB1::0x0588::DM3R1234::INSTR");
  const std::string longCommand = "rout:scan (@" + std::string(3000, '1') + ")\n";
  EXPECT_EQ(send(*s, "*IDN?"), VI_SUCCESS);
  EXPECT_EQ(send(*s, longCommand), VI_SUCCESS);
  EXPECT_EQ(d.written, (std::vector<std::string>{"*IDN?", longCommand}));
}

TEST_F(UsbtmcTest, ALongAnswerComesIn1024BytePiecesAndEndsWithSuccess) {
  FakeUsbDevice& d = plug({});
  const std::string answer = std::string(2500, 'a') + "\n";
  d.answers["fetch?\n"] = answer;
  auto s = openOk("USB0::0x1AB1::0x0588::DM3R1234::INSTR");
  send(*s, "fetch?\n");
  const Got a = receive(*s);
  const Got b = receive(*s);
  const Got c = receive(*s);
  EXPECT_EQ(a.status, VI_SUCCESS_MAX_CNT);
  EXPECT_EQ(b.status, VI_SUCCESS_MAX_CNT);
  EXPECT_EQ(c.status, VI_SUCCESS);
  EXPECT_EQ(a.bytes.size(), 1024u);
  EXPECT_EQ(c.bytes.size(), 2501u - 2048u);
  EXPECT_EQ(a.bytes + b.bytes + c.bytes, answer);
}

TEST_F(UsbtmcTest, AnswersOfExactlyOneOrTwoBuffersEndOnTheirLastByte) {
  FakeUsbDevice& d = plug({});
  d.answers["a?\n"] = std::string(1023, 'x') + "\n";
  d.answers["b?\n"] = std::string(2047, 'y') + "\n";
  auto s = openOk("USB0::0x1AB1::0x0588::DM3R1234::INSTR");
  send(*s, "a?\n");
  EXPECT_EQ(receive(*s).status, VI_SUCCESS);
  send(*s, "b?\n");
  EXPECT_EQ(receive(*s).status, VI_SUCCESS_MAX_CNT);
  const Got last = receive(*s);
  EXPECT_EQ(last.status, VI_SUCCESS);
  EXPECT_EQ(last.bytes.back(), '\n');
  // Nothing is left queued to be mistaken for the next answer.
  EXPECT_EQ(receive(*s).status, VI_ERROR_TMO);
}

TEST_F(UsbtmcTest, AnAnswerSentInPartsIsCollectedUntilItsEnd) {
  FakeUsbDevice& d = plug({});
  d.maxTransfer = 64;
  d.answers["*IDN?"] = "MAKER,M100," + std::string(150, 'S') + ",1.0\n";
  auto s = openOk("USB0::0x1AB1::0x0588::DM3R1234::INSTR");
  send(*s, "*IDN?");
  const Got g = receive(*s);
  EXPECT_EQ(g.status, VI_SUCCESS);
  EXPECT_EQ(g.bytes, d.answers["*IDN?"]);
}

TEST_F(UsbtmcTest, WithoutTheEndOfMessageIoctlAShortReadEndsTheAnswer) {
  FakeUsbDevice& d = plug({});
  d.hasMsgInAttr = false;
  d.answers["fetch?\n"] = std::string(1500, 'z');
  auto s = openOk("USB0::0x1AB1::0x0588::DM3R1234::INSTR");
  send(*s, "fetch?\n");
  EXPECT_EQ(receive(*s).status, VI_SUCCESS_MAX_CNT);
  EXPECT_EQ(receive(*s).status, VI_SUCCESS);
  EXPECT_TRUE(anyNoteHas(provider.notes(), "does not report the end of a message"));
}

TEST_F(UsbtmcTest, ReadingNothingAsksTheDriverForNothing) {
  plug({});
  auto s = openOk("USB0::0x1AB1::0x0588::DM3R1234::INSTR");
  ViUInt32 got = 99;
  unsigned char b = 0;
  EXPECT_EQ(s->read(&b, 0, &got), VI_SUCCESS);
  EXPECT_EQ(got, 0u);
  EXPECT_TRUE(io->devices["/dev/usbtmc0"].ioctls.empty());
}

// --- time-outs --------------------------------------------------------------------------

TEST_F(UsbtmcTest, TimeOutsGoToTheDriverNeverBelowItsMinimum) {
  FakeUsbDevice& d = plug({});
  auto s = openOk("USB0::0x1AB1::0x0588::DM3R1234::INSTR");
  EXPECT_EQ(s->setTimeout(30000), VI_SUCCESS);
  EXPECT_EQ(s->setTimeout(0), VI_SUCCESS);
  EXPECT_EQ(s->setTimeout(99), VI_SUCCESS);
  EXPECT_EQ(s->setTimeout(VI_TMO_INFINITE), VI_SUCCESS);
  EXPECT_EQ(d.timeouts, (std::vector<std::uint32_t>{30000, 100, 100, VI_TMO_INFINITE}));
}

TEST_F(UsbtmcTest, AKernelWithoutTimeOutControlIsReportedNotHidden) {
  FakeUsbDevice& d = plug({});
  d.hasSetTimeout = false;
  auto s = openOk("USB0::0x1AB1::0x0588::DM3R1234::INSTR");
  // A warning: the session works, but not with the time-out asked for.
  EXPECT_EQ(s->setTimeout(30000), VI_WARN_NSUP_ATTR_STATE);
  EXPECT_TRUE(succeeded(s->setTimeout(30000)));
  EXPECT_TRUE(anyNoteHas(provider.notes(), "cannot set time-outs"));
}

TEST_F(UsbtmcTest, ATimeOutClearsTheDeviceSoALateAnswerIsNotTakenForTheNext) {
  FakeUsbDevice& d = plug({});
  d.answers["rout:scan:state?\n"] = "OLD\n";
  d.answers["*IDN?"] = "MAKER,M100,SN1,1.0\n";
  auto s = openOk("USB0::0x1AB1::0x0588::DM3R1234::INSTR");
  d.stallReads = 1;  // the answer comes after the read gave up
  send(*s, "rout:scan:state?\n");
  const Got g = receive(*s);
  EXPECT_EQ(g.status, VI_ERROR_TMO);
  EXPECT_TRUE(g.bytes.empty());
  ASSERT_FALSE(d.ioctls.empty());
  EXPECT_EQ(d.ioctls.back(), kUsbtmcIoctlClear);

  send(*s, "*IDN?");
  const Got next = receive(*s);
  EXPECT_EQ(next.status, VI_SUCCESS);
  EXPECT_EQ(next.bytes, "MAKER,M100,SN1,1.0\n");
}

TEST_F(UsbtmcTest, ATimeOutInTheMiddleOfAnAnswerKeepsWhatArrived) {
  FakeUsbDevice& d = plug({});
  d.maxTransfer = 10;
  d.stallAfterParts = 1;
  d.answers["fetch?\n"] = std::string(40, 'q');
  auto s = openOk("USB0::0x1AB1::0x0588::DM3R1234::INSTR");
  send(*s, "fetch?\n");
  const Got g = receive(*s);
  EXPECT_EQ(g.status, VI_ERROR_TMO);
  EXPECT_EQ(g.bytes, std::string(10, 'q'));
  EXPECT_EQ(d.ioctls.back(), kUsbtmcIoctlClear);
}

// --- faults -----------------------------------------------------------------------------

TEST_F(UsbtmcTest, AnUnpluggedDeviceIsALostConnection) {
  FakeUsbDevice& d = plug({});
  auto s = openOk("USB0::0x1AB1::0x0588::DM3R1234::INSTR");
  d.unplugged = true;
  EXPECT_EQ(receive(*s).status, VI_ERROR_CONN_LOST);
  EXPECT_EQ(send(*s, "*IDN?"), VI_ERROR_CONN_LOST);
  EXPECT_EQ(s->setTimeout(30000), VI_ERROR_CONN_LOST);
  EXPECT_TRUE(anyNoteHas(provider.notes(), "/dev/usbtmc0 was disconnected"));
  // Gone between the listing and the open: there is nothing to open.
  std::unique_ptr<DeviceSession> again;
  EXPECT_EQ(provider.open("USB0::0x1AB1::0x0588::DM3R1234::INSTR", &again), VI_ERROR_RSRC_NFOUND);
  s.reset();
  EXPECT_EQ(d.closes, 1);
}

TEST_F(UsbtmcTest, AReadOfNoBytesIsAnErrorNotAnEmptyAnswer) {
  FakeUsbDevice& d = plug({});
  d.answers["*IDN?"] = "MAKER,M100,SN1,1.0\n";
  auto s = openOk("USB0::0x1AB1::0x0588::DM3R1234::INSTR");
  send(*s, "*IDN?");
  d.zeroRead = true;
  EXPECT_EQ(receive(*s).status, VI_ERROR_IO);
}

TEST_F(UsbtmcTest, PermissionDeniedNamesTheUdevRuleAndFailsTheOpen) {
  FakeUsbDevice& d = plug({});
  d.denied = true;
  // Listed all the same: the instrument is there, only out of reach.
  EXPECT_EQ(provider.listResources().size(), 1u);
  const std::string rule = "KERNEL==\"usbtmc[0-9]*\", MODE=\"0660\", GROUP=\"usbtmc\"";
  EXPECT_TRUE(anyNoteHas(provider.notes(), "/dev/usbtmc0 cannot be opened: permission denied"));
  EXPECT_TRUE(anyNoteHas(provider.notes(), rule));
  EXPECT_TRUE(anyNoteHas(provider.notes(), "replug"));

  UsbtmcProvider other{io};  // the open alone also says why
  std::unique_ptr<DeviceSession> s;
  EXPECT_EQ(other.open("USB0::0x1AB1::0x0588::DM3R1234::INSTR", &s), VI_ERROR_SYSTEM_ERROR);
  EXPECT_FALSE(s);
  EXPECT_TRUE(anyNoteHas(other.notes(), rule));
}

TEST_F(UsbtmcTest, ClosingASessionClosesItsNode) {
  FakeUsbDevice& d = plug({});
  {
    auto a = openOk("USB0::0x1AB1::0x0588::DM3R1234::INSTR");
    auto b = openOk("USB0::0x1AB1::0x0588::DM3R1234::INSTR");
    EXPECT_EQ(io->openDescriptors(), 2);
  }
  EXPECT_EQ(io->openDescriptors(), 0);
  EXPECT_EQ(d.closes, 2);
}

}  // namespace
}  // namespace kalivor::visa
