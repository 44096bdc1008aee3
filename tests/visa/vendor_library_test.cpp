// SPDX-License-Identifier: MIT
#include "visa/vendor_library.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "common/text.h"
#include "visa/standin_control.h"

namespace kalivor::visa {
namespace {

namespace fs = std::filesystem;

using testing::resetStandin;

class VendorLibraryTest : public ::testing::Test {
 protected:
  VendorLibraryTest() {
    dir = fs::temp_directory_path() /
          ("kalivor-vendor-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(dir);
    fs::create_directories(dir);
  }
  ~VendorLibraryTest() override {
    ::unsetenv("KALIVOR_STANDIN_SIM_FILE");
    fs::remove_all(dir);
  }

  std::unique_ptr<VendorLibrary> loadStandin() {
    auto r = VendorLibrary::load(KALIVOR_STANDIN_VISA);
    EXPECT_EQ(r.error, "");
    return std::move(r.library);
  }

  std::string read(VendorLibrary& visa, ViSession s, ViStatus expected, ViUInt32 max = 1024) {
    std::string buf(max, '\0');
    ViUInt32 n = 0;
    EXPECT_EQ(visa.viRead(s, reinterpret_cast<unsigned char*>(buf.data()), max, &n), expected);
    buf.resize(n);
    return buf;
  }

  fs::path dir;
};

TEST_F(VendorLibraryTest, StandinAnswersThroughTheCInterface) {
  resetStandin(nullptr);
  auto visa = loadStandin();
  ASSERT_TRUE(visa);
  EXPECT_EQ(visa->description(), std::string("VISA library ") + KALIVOR_STANDIN_VISA);
  EXPECT_EQ(visa->file(), KALIVOR_STANDIN_VISA);

  ViSession rm = 0;
  ASSERT_EQ(visa->viOpenDefaultRM(&rm), VI_SUCCESS);
  ViFindList list = 0;
  ViUInt32 count = 0;
  char desc[VI_FIND_BUFLEN];
  ASSERT_EQ(visa->viFindRsrc(rm, "(USB|GPIB)?*INSTR", &list, &count, desc), VI_SUCCESS);
  EXPECT_EQ(count, 2u);
  EXPECT_STREQ(desc, "USB0::0x0000::0x0001::SIM0001::INSTR");
  ViSession s = 0;
  ASSERT_EQ(visa->viOpen(rm, desc, 0, 0, &s), VI_SUCCESS);
  ASSERT_EQ(visa->viFindNext(list, desc), VI_SUCCESS);
  EXPECT_STREQ(desc, "USB0::0x0000::0x0001::SIM0002::INSTR");
  EXPECT_EQ(visa->viFindNext(list, desc), VI_ERROR_RSRC_NFOUND);

  // The 64-bit attribute value must arrive whole: a value above 32 bits is refused, not cut.
  EXPECT_EQ(visa->viSetAttribute(s, VI_ATTR_TMO_VALUE, 30000), VI_SUCCESS);
  EXPECT_EQ(visa->viSetAttribute(s, VI_ATTR_TMO_VALUE, 0x1'0000'7530ull), VI_ERROR_NSUP_ATTR_STATE);

  const unsigned char idn[] = "*IDN?";
  ViUInt32 n = 0;
  ASSERT_EQ(visa->viWrite(s, idn, 5, &n), VI_SUCCESS);
  EXPECT_EQ(n, 5u);
  EXPECT_EQ(read(*visa, s, VI_SUCCESS), "SIMULATED,M100,SIM0001,1.0\n");

  EXPECT_EQ(visa->viClose(list), VI_SUCCESS);
  EXPECT_EQ(visa->viClose(rm), VI_SUCCESS);
  EXPECT_EQ(visa->viWrite(s, idn, 5, &n), VI_ERROR_INV_OBJECT);
  EXPECT_EQ(visa->viClose(s), VI_ERROR_INV_OBJECT);
}

TEST_F(VendorLibraryTest, LongAnswersComeIn1024ByteReads) {
  const std::string longId = "MAKER," + std::string(2000, 'L');
  const std::string exactId = "MAKER," + std::string(1024 - 7, 'E');  // 1024 with the line feed
  const fs::path sim = dir / "sim.ini";
  std::ofstream(sim) << "[Instrument1]\nResource=USB0::0x0000::0x0001::LONG::INSTR\nIdentity="
                     << longId << "\nCard=2\nSerial=LONG\n\n[Instrument2]\n"
                     << "Resource=GPIB0::9::INSTR\nIdentity=" << exactId
                     << "\nCard=1\nSerial=EXACT\n\n[Instrument3]\n"
                     << "Resource=GPIB0::10::INSTR\nIdentity=X\nCard=1\nSerial=Q\nFault=silent\n";
  resetStandin(sim.c_str());
  auto visa = loadStandin();
  ASSERT_TRUE(visa);
  ViSession rm = 0;
  ASSERT_EQ(visa->viOpenDefaultRM(&rm), VI_SUCCESS);
  ViUInt32 count = 0;
  char desc[VI_FIND_BUFLEN];
  ASSERT_EQ(visa->viFindRsrc(rm, "?*INSTR", nullptr, &count, desc), VI_SUCCESS);
  EXPECT_EQ(count, 3u);

  const unsigned char idn[] = "*IDN?";
  ViUInt32 n = 0;
  ViSession s = 0;
  ASSERT_EQ(visa->viOpen(rm, "usb0::0x0000::0x0001::long::instr", 0, 0, &s), VI_SUCCESS);
  ASSERT_EQ(visa->viWrite(s, idn, 5, &n), VI_SUCCESS);
  const std::string first = read(*visa, s, VI_SUCCESS_MAX_CNT);
  const std::string rest = read(*visa, s, VI_SUCCESS);
  EXPECT_EQ(first.size(), 1024u);
  EXPECT_EQ(first + rest, longId + "\n");

  ASSERT_EQ(visa->viOpen(rm, "GPIB0::9::INSTR", 0, 0, &s), VI_SUCCESS);
  ASSERT_EQ(visa->viWrite(s, idn, 5, &n), VI_SUCCESS);
  EXPECT_EQ(read(*visa, s, VI_SUCCESS), exactId + "\n");  // ends exactly at the buffer's end

  ASSERT_EQ(visa->viOpen(rm, "GPIB0::10::INSTR", 0, 0, &s), VI_SUCCESS);
  ASSERT_EQ(visa->viSetAttribute(s, VI_ATTR_TMO_VALUE, 30000), VI_SUCCESS);
  ASSERT_EQ(visa->viWrite(s, idn, 5, &n), VI_SUCCESS);
  EXPECT_EQ(read(*visa, s, VI_ERROR_TMO), "");  // the stand-in's manual clock: no real wait
  EXPECT_EQ(visa->viClose(rm), VI_SUCCESS);
}

TEST_F(VendorLibraryTest, BadSimulationFileLeavesNothingToFind) {
  const fs::path sim = dir / "bad.ini";
  std::ofstream(sim) << "[Instrument1]\nResource=USB0::1::INSTR\n";
  resetStandin(sim.c_str());
  auto visa = loadStandin();
  ASSERT_TRUE(visa);
  ViSession rm = 0;
  ASSERT_EQ(visa->viOpenDefaultRM(&rm), VI_SUCCESS);
  ViFindList list = 5;
  ViUInt32 count = 5;
  char desc[VI_FIND_BUFLEN];
  EXPECT_EQ(visa->viFindRsrc(rm, "?*", &list, &count, desc), VI_ERROR_RSRC_NFOUND);
  EXPECT_EQ(list, VI_NULL);
  EXPECT_EQ(count, 0u);
}

TEST_F(VendorLibraryTest, MissingFunctionIsNamed) {
  const auto r = VendorLibrary::load(KALIVOR_STANDIN_VISA_PARTIAL);
  EXPECT_FALSE(r.library);
  EXPECT_TRUE(startsWith(r.error, std::string("VISA library ") + KALIVOR_STANDIN_VISA_PARTIAL +
                                      " lacks the function viClose ("))
      << r.error;
  EXPECT_TRUE(contains(r.error, "undefined symbol: viClose")) << r.error;
}

TEST_F(VendorLibraryTest, UnloadableFilesGiveTheLoadersReason) {
  const std::string missing = (dir / "libvisa.so").string();
  auto r = VendorLibrary::load(missing);
  EXPECT_FALSE(r.library);
  EXPECT_EQ(r.error, "Cannot load VISA library " + missing +
                         ": cannot open shared object file: No such file or directory");

  const fs::path notElf = dir / "libfake.so";
  std::ofstream(notElf) << std::string(4096, 'x');
  r = VendorLibrary::load(notElf.string());
  EXPECT_FALSE(r.library);
  EXPECT_TRUE(startsWith(r.error, "Cannot load VISA library " + notElf.string() + ": ")) << r.error;
  EXPECT_TRUE(contains(r.error, "ELF")) << r.error;

  EXPECT_EQ(VendorLibrary::load("").error, "No VISA library named");
}

TEST_F(VendorLibraryTest, SearchKeepsTheFirstLibraryThatLoads) {
  resetStandin(nullptr);
  const std::string missing = (dir / "libvisa.so").string();
  auto found = VendorLibrary::search({missing, KALIVOR_STANDIN_VISA_PARTIAL, KALIVOR_STANDIN_VISA,
                                      KALIVOR_STANDIN_VISA_PARTIAL});
  ASSERT_TRUE(found.library);
  EXPECT_EQ(found.library->path(), KALIVOR_STANDIN_VISA);
  ASSERT_EQ(found.attempts.size(), 3u);
  EXPECT_TRUE(contains(found.attempts[0], missing));
  EXPECT_TRUE(contains(found.attempts[1], "lacks the function viClose"));
  EXPECT_EQ(found.attempts[2], std::string(KALIVOR_STANDIN_VISA) + ": loaded");

  found = VendorLibrary::search({missing, KALIVOR_STANDIN_VISA_PARTIAL});
  EXPECT_FALSE(found.library);
  EXPECT_EQ(found.attempts.size(), 2u);
}

}  // namespace
}  // namespace kalivor::visa
