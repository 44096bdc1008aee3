// SPDX-License-Identifier: MIT
#include "visa/tracing_visa.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "visa/fake_provider.h"
#include "visa/resource_manager.h"

namespace kalivor::visa {
namespace {

namespace fs = std::filesystem;
using testing::FakeLog;
using testing::FakeProvider;

constexpr const char* kUsb = "USB0::0x0000::0x0001::SIM0001::INSTR";

std::vector<std::string> readLines(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::vector<std::string> lines;
  for (std::string l; std::getline(in, l);) lines.push_back(l);
  return lines;
}

class TracingVisaTest : public ::testing::Test {
 protected:
  TracingVisaTest() : clock(makeLocalMs(2024, 5, 6, 13, 45, 10, 7)) {
    dir = fs::temp_directory_path() /
          ("kalivor-trace-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
           "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir);
    fs::create_directories(dir);
    tracePath = dir / "trace.txt";
  }
  ~TracingVisaTest() override { fs::remove_all(dir); }

  std::unique_ptr<TracingVisa> makeTracer() {
    auto p = std::make_unique<FakeProvider>("fake", std::vector<std::string>{kUsb}, log);
    provider = p.get();
    provider->clock = &clock;
    std::vector<std::unique_ptr<DeviceProvider>> providers;
    providers.push_back(std::move(p));
    auto opened = TracingVisa::open(std::make_unique<ResourceManager>(std::move(providers)), clock,
                                    tracePath.string());
    EXPECT_EQ(opened.error, "");
    return std::move(opened.api);
  }

  ManualClock clock;
  FakeLog log;
  FakeProvider* provider = nullptr;
  fs::path dir;
  fs::path tracePath;
};

TEST_F(TracingVisaTest, TracesAConversationLineByLine) {
  auto visa = makeTracer();
  ASSERT_TRUE(visa);
  provider->replies = {"MAKER,\"M100\",SN1\r\n"};
  ViSession rm = 0;
  ASSERT_EQ(visa->viOpenDefaultRM(&rm), VI_SUCCESS);
  ViFindList list = 0;
  ViUInt32 count = 0;
  char desc[VI_FIND_BUFLEN];
  ASSERT_EQ(visa->viFindRsrc(rm, "(USB|GPIB)?*INSTR", &list, &count, desc), VI_SUCCESS);
  EXPECT_EQ(visa->viFindNext(list, desc), VI_ERROR_RSRC_NFOUND);
  ViSession s = 0;
  ASSERT_EQ(visa->viOpen(rm, kUsb, 0, 0, &s), VI_SUCCESS);
  ASSERT_EQ(visa->viSetAttribute(s, VI_ATTR_TMO_VALUE, 30000), VI_SUCCESS);
  clock.advance(1);
  const unsigned char idn[] = "*IDN?";
  ViUInt32 n = 0;
  ASSERT_EQ(visa->viWrite(s, idn, 5, &n), VI_SUCCESS);
  clock.advance(50);
  unsigned char buf[1024];
  ASSERT_EQ(visa->viRead(s, buf, sizeof buf, &n), VI_SUCCESS);
  EXPECT_EQ(n, 18u);  // the caller still gets the bytes and count
  EXPECT_EQ(visa->viRead(s, buf, sizeof buf, nullptr), VI_ERROR_TMO);
  ASSERT_EQ(visa->viClose(rm), VI_SUCCESS);
  EXPECT_EQ(visa->viWrite(s, idn, 5, &n), VI_ERROR_INV_OBJECT);

  // The lines are on disk before the tracer goes away.
  const auto lines = readLines(tracePath);
  const std::string rmName = "rm 0x" + [&] {
    char b[16];
    std::snprintf(b, sizeof b, "%08X", rm);
    return std::string(b);
  }();
  char listHex[16];
  std::snprintf(listHex, sizeof listHex, "0x%08X", list);
  char sessionHex[16];
  std::snprintf(sessionHex, sizeof sessionHex, "0x%08X", s);
  const std::string t0 = "2024/05/06 13:45:10.007 ";
  const std::string usb = kUsb;
  const std::vector<std::string> expected = {
      t0 + "trace started over built-in resource manager (fake)",
      t0 + rmName + " open-default-rm status 0x00000000 VI_SUCCESS",
      t0 + rmName + " find \"(USB|GPIB)?*INSTR\" count 1 first \"" + usb + "\" list " + listHex +
          " status 0x00000000 VI_SUCCESS",
      t0 + "find-list " + listHex + " find-next status 0xBFFF0011 VI_ERROR_RSRC_NFOUND",
      t0 + usb + " open session " + sessionHex + " status 0x00000000 VI_SUCCESS",
      t0 + usb + " set VI_ATTR_TMO_VALUE 30000 status 0x00000000 VI_SUCCESS",
      "2024/05/06 13:45:10.008 " + usb + " write 5 \"*IDN?\" status 0x00000000 VI_SUCCESS",
      "2024/05/06 13:45:10.058 " + usb +
          " read 18 \"MAKER,\\\"M100\\\",SN1\\r\\n\" in 0 ms status 0x00000000 VI_SUCCESS",
      "2024/05/06 13:45:40.058 " + usb + " read 0 \"\" in 30000 ms status 0xBFFF0015 VI_ERROR_TMO",
      "2024/05/06 13:45:40.058 " + rmName + " close status 0x00000000 VI_SUCCESS",
      "2024/05/06 13:45:40.058 object " + std::string(sessionHex) +
          " write 5 \"*IDN?\" sent 0 status 0xBFFF000E VI_ERROR_INV_OBJECT",
  };
  EXPECT_EQ(lines, expected);

  visa.reset();
  EXPECT_EQ(readLines(tracePath).back(), "2024/05/06 13:45:40.058 trace ended");
}

TEST_F(TracingVisaTest, AppendsToAnExistingTrace) {
  { std::ofstream(tracePath) << "earlier run\n"; }
  auto visa = makeTracer();
  ASSERT_TRUE(visa);
  EXPECT_EQ(visa->description(), "built-in resource manager (fake), traced to " + tracePath.string());
  const auto lines = readLines(tracePath);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "earlier run");
}

TEST_F(TracingVisaTest, UnwritableTraceFileIsAClearError) {
  const std::string bad = (dir / "missing" / "trace.txt").string();
  auto opened = TracingVisa::open(std::make_unique<ResourceManager>(), clock, bad);
  EXPECT_FALSE(opened.api);
  EXPECT_EQ(opened.error, "Cannot open trace file " + bad + ": No such file or directory");
}

TEST(TracingVisaText, BytesAndStatusesAreUnambiguous) {
  EXPECT_EQ(TracingVisa::quoteBytes(std::string("a\0b\n\r\t\x01\x7F", 8)),
            "\"a\\0b\\n\\r\\t\\x01\\x7F\"");
  EXPECT_EQ(TracingVisa::quoteBytes("say \"hi\" \\ \xC3\xA9"), "\"say \\\"hi\\\" \\\\ \\xC3\\xA9\"");
  EXPECT_EQ(TracingVisa::statusText(VI_SUCCESS_MAX_CNT), "0x3FFF0006 VI_SUCCESS_MAX_CNT");
  EXPECT_EQ(TracingVisa::statusText(VI_ERROR_CONN_LOST), "0xBFFF00A6 VI_ERROR_CONN_LOST");
  EXPECT_EQ(TracingVisa::statusText(0x12345), "0x00012345");
}

}  // namespace
}  // namespace kalivor::visa
