// SPDX-License-Identifier: MIT
#include "visa/resource_manager.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

#include "visa/fake_provider.h"

namespace kalivor::visa {
namespace {

using testing::FakeLog;
using testing::FakeProvider;

constexpr const char* kUsb = "USB0::0x0000::0x0001::SIM0001::INSTR";
constexpr const char* kGpib = "GPIB0::22::INSTR";

class ResourceManagerTest : public ::testing::Test {
 protected:
  ResourceManagerTest() {
    auto a = std::make_unique<FakeProvider>(
        "alpha", std::vector<std::string>{kUsb, "USB0::0x0000::0x0001::SIM0001::RAW"}, log);
    auto b = std::make_unique<FakeProvider>(
        "beta", std::vector<std::string>{"GPIB0::INTFC", kGpib, "ASRL1::INSTR"}, log);
    alpha = a.get();
    beta = b.get();
    std::vector<std::unique_ptr<DeviceProvider>> providers;
    providers.push_back(std::move(a));
    providers.push_back(std::move(b));
    rm = std::make_unique<ResourceManager>(std::move(providers));
  }

  ViSession openRm() {
    ViSession h = 0;
    EXPECT_EQ(rm->viOpenDefaultRM(&h), VI_SUCCESS);
    EXPECT_NE(h, VI_NULL);
    return h;
  }

  ViSession openSession(ViSession manager, const char* name) {
    ViSession s = 0;
    EXPECT_EQ(rm->viOpen(manager, name, 0, 0, &s), VI_SUCCESS) << name;
    return s;
  }

  FakeLog log;
  FakeProvider* alpha = nullptr;
  FakeProvider* beta = nullptr;
  std::unique_ptr<ResourceManager> rm;
};

TEST_F(ResourceManagerTest, FindListsMatchingResourcesInProviderOrder) {
  const ViSession manager = openRm();
  ViFindList list = 0;
  ViUInt32 count = 99;
  char desc[VI_FIND_BUFLEN];
  std::memset(desc, 'x', sizeof desc);
  ASSERT_EQ(rm->viFindRsrc(manager, "(USB|GPIB)?*INSTR", &list, &count, desc), VI_SUCCESS);
  EXPECT_EQ(count, 2u);
  EXPECT_STREQ(desc, kUsb);
  EXPECT_NE(list, VI_NULL);
  ASSERT_EQ(rm->viFindNext(list, desc), VI_SUCCESS);
  EXPECT_STREQ(desc, kGpib);
  EXPECT_EQ(rm->viFindNext(list, desc), VI_ERROR_RSRC_NFOUND);
  EXPECT_EQ(rm->viFindNext(list, desc), VI_ERROR_RSRC_NFOUND);
  EXPECT_EQ(rm->viClose(list), VI_SUCCESS);
  EXPECT_EQ(rm->viFindNext(list, desc), VI_ERROR_INV_OBJECT);

  // Each search asks the providers again: devices come and go.
  const int before = alpha->listings;
  ASSERT_EQ(rm->viFindRsrc(manager, "?*", &list, &count, desc), VI_SUCCESS);
  EXPECT_EQ(count, 5u);
  EXPECT_EQ(alpha->listings, before + 1);
}

TEST_F(ResourceManagerTest, FindWithoutMatchOrWithBadExpressionGivesNoList) {
  const ViSession manager = openRm();
  ViFindList list = 1234;
  ViUInt32 count = 7;
  char desc[VI_FIND_BUFLEN] = "old";
  EXPECT_EQ(rm->viFindRsrc(manager, "TCPIP?*", &list, &count, desc), VI_ERROR_RSRC_NFOUND);
  EXPECT_EQ(list, VI_NULL);
  EXPECT_EQ(count, 0u);
  EXPECT_STREQ(desc, "");
  EXPECT_EQ(rm->viFindRsrc(manager, "(USB", &list, &count, desc), VI_ERROR_INV_EXPR);
  EXPECT_EQ(rm->viFindRsrc(manager, nullptr, &list, &count, desc), VI_ERROR_INV_EXPR);
  EXPECT_EQ(rm->viFindRsrc(manager + 1000, "?*", &list, &count, desc), VI_ERROR_INV_OBJECT);

  // Null outputs are allowed; without a list pointer nothing is left to close.
  EXPECT_EQ(rm->viFindRsrc(manager, "GPIB?*", nullptr, &count, nullptr), VI_SUCCESS);
  EXPECT_EQ(count, 2u);
}

TEST(ResourceManager, LongResourceNamesAreCutToTheDescriptorBuffer) {
  FakeLog log;
  const std::string longName = "USB0::" + std::string(400, 'A') + "::INSTR";
  std::vector<std::unique_ptr<DeviceProvider>> providers;
  providers.push_back(std::make_unique<FakeProvider>("p", std::vector<std::string>{longName}, log));
  ResourceManager rm(std::move(providers));
  ViSession manager = 0;
  ASSERT_EQ(rm.viOpenDefaultRM(&manager), VI_SUCCESS);
  char desc[VI_FIND_BUFLEN + 16];
  std::memset(desc, 'z', sizeof desc);
  ViUInt32 count = 0;
  ViFindList list = 0;
  ASSERT_EQ(rm.viFindRsrc(manager, "?*", &list, &count, desc), VI_SUCCESS);
  EXPECT_EQ(std::strlen(desc), VI_FIND_BUFLEN - 1);
  EXPECT_EQ(desc[VI_FIND_BUFLEN], 'z');  // nothing written past the buffer
  EXPECT_EQ(std::string(desc), longName.substr(0, VI_FIND_BUFLEN - 1));
}

TEST_F(ResourceManagerTest, OpenGoesToTheOwningProviderWithItsSpelling) {
  const ViSession manager = openRm();
  const ViSession s = openSession(manager, "gpib0::22::instr");
  ASSERT_EQ(log.opened.size(), 1u);
  EXPECT_EQ(log.opened[0], kGpib);
  EXPECT_EQ(log.timeouts, std::vector<ViUInt32>{ResourceManager::kDefaultTimeoutMs});

  EXPECT_EQ(rm->viSetAttribute(s, VI_ATTR_TMO_VALUE, 30000), VI_SUCCESS);
  EXPECT_EQ(log.timeouts.back(), 30000u);
  EXPECT_EQ(rm->viSetAttribute(s, VI_ATTR_TMO_VALUE, VI_TMO_INFINITE), VI_SUCCESS);
  EXPECT_EQ(log.timeouts.back(), VI_TMO_INFINITE);
  EXPECT_EQ(rm->viSetAttribute(s, VI_ATTR_TMO_VALUE, 0x1'0000'0000ull), VI_ERROR_NSUP_ATTR_STATE);
  EXPECT_EQ(rm->viSetAttribute(s, 0x3FFF0018, 1), VI_ERROR_NSUP_ATTR);
  EXPECT_EQ(rm->viSetAttribute(manager, VI_ATTR_TMO_VALUE, 30000), VI_ERROR_NSUP_ATTR);
  EXPECT_EQ(rm->viSetAttribute(s + 1000, VI_ATTR_TMO_VALUE, 30000), VI_ERROR_INV_OBJECT);
  EXPECT_EQ(log.timeouts.size(), 3u);
}

TEST_F(ResourceManagerTest, OpenOfUnknownOrAliasedNames) {
  const ViSession manager = openRm();
  ViSession s = 77;
  EXPECT_EQ(rm->viOpen(manager, "USB0::0x9999::0x1::X::INSTR", 0, 0, &s), VI_ERROR_RSRC_NFOUND);
  EXPECT_EQ(s, VI_NULL);
  EXPECT_EQ(rm->viOpen(manager, "", 0, 0, &s), VI_ERROR_INV_RSRC_NAME);
  EXPECT_EQ(rm->viOpen(manager, nullptr, 0, 0, &s), VI_ERROR_INV_RSRC_NAME);
  EXPECT_EQ(rm->viOpen(manager, kUsb, 0, 0, nullptr), VI_ERROR_USER_BUF);
  EXPECT_EQ(rm->viOpen(manager + 1000, kUsb, 0, 0, &s), VI_ERROR_INV_OBJECT);
  // Opening needs no earlier search; a name no listing has is offered to each provider in turn.
  s = openSession(manager, "beta-ALIAS::5");
  EXPECT_NE(s, VI_NULL);
  EXPECT_EQ(log.opened, std::vector<std::string>{"beta-ALIAS::5"});
}

TEST_F(ResourceManagerTest, WriteAndReadReachTheSession) {
  alpha->replies = {"MAKER,M100,SN1,1.0\n", std::string(1500, 'x') + "\n"};
  const ViSession manager = openRm();
  const ViSession s = openSession(manager, kUsb);
  const unsigned char idn[] = "*IDN?";
  ViUInt32 n = 0;
  EXPECT_EQ(rm->viWrite(s, idn, 5, &n), VI_SUCCESS);
  EXPECT_EQ(n, 5u);
  EXPECT_EQ(log.written, std::vector<std::string>{"*IDN?"});

  unsigned char buf[1024];
  EXPECT_EQ(rm->viRead(s, buf, sizeof buf, &n), VI_SUCCESS);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), n), "MAKER,M100,SN1,1.0\n");
  EXPECT_EQ(rm->viRead(s, buf, sizeof buf, &n), VI_SUCCESS_MAX_CNT);
  EXPECT_EQ(n, 1024u);
  EXPECT_EQ(rm->viRead(s, buf, sizeof buf, &n), VI_SUCCESS);
  EXPECT_EQ(n, 1501u - 1024u);
  EXPECT_EQ(rm->viRead(s, buf, sizeof buf, nullptr), VI_ERROR_TMO);

  EXPECT_EQ(rm->viRead(s, nullptr, 10, &n), VI_ERROR_USER_BUF);
  EXPECT_EQ(rm->viWrite(manager, idn, 5, &n), VI_ERROR_INV_OBJECT);
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(rm->viRead(s + 1000, buf, sizeof buf, &n), VI_ERROR_INV_OBJECT);
}

TEST_F(ResourceManagerTest, ClosingTheManagerClosesWhatWasOpenedFromIt) {
  const ViSession first = openRm();
  const ViSession second = openRm();
  const ViSession a = openSession(first, kUsb);
  const ViSession b = openSession(first, kGpib);
  const ViSession c = openSession(second, kGpib);
  ViFindList list = 0;
  ViUInt32 count = 0;
  char desc[VI_FIND_BUFLEN];
  ASSERT_EQ(rm->viFindRsrc(first, "?*INSTR", &list, &count, desc), VI_SUCCESS);
  EXPECT_EQ(log.alive, 3);

  EXPECT_EQ(rm->viClose(a), VI_SUCCESS);
  EXPECT_EQ(log.alive, 2);
  EXPECT_EQ(rm->viClose(a), VI_ERROR_INV_OBJECT);
  EXPECT_EQ(rm->viClose(first), VI_SUCCESS);
  EXPECT_EQ(log.alive, 1);
  ViUInt32 n = 0;
  const unsigned char msg[] = "x";
  EXPECT_EQ(rm->viWrite(b, msg, 1, &n), VI_ERROR_INV_OBJECT);
  EXPECT_EQ(rm->viFindNext(list, desc), VI_ERROR_INV_OBJECT);
  EXPECT_EQ(rm->viClose(list), VI_ERROR_INV_OBJECT);
  EXPECT_EQ(rm->viClose(first), VI_ERROR_INV_OBJECT);
  EXPECT_EQ(rm->viWrite(c, msg, 1, &n), VI_SUCCESS);  // the other manager's session lives on
  EXPECT_EQ(rm->viClose(VI_NULL), VI_WARN_NULL_OBJECT);

  rm.reset();  // sessions still open go with the manager
  EXPECT_EQ(log.alive, 0);
}

TEST_F(ResourceManagerTest, HandlesAreNeverHandedOutTwice) {
  std::set<ViObject> seen;
  for (int i = 0; i < 50; ++i) {
    const ViSession manager = openRm();
    const ViSession s = openSession(manager, kUsb);
    EXPECT_TRUE(seen.insert(manager).second);
    EXPECT_TRUE(seen.insert(s).second);
    ASSERT_EQ(rm->viClose(manager), VI_SUCCESS);
  }
  // Another resource manager in the same process does not reuse them either.
  ResourceManager other;
  ViSession h = 0;
  ASSERT_EQ(other.viOpenDefaultRM(&h), VI_SUCCESS);
  EXPECT_TRUE(seen.insert(h).second);
  EXPECT_EQ(rm->viClose(h), VI_ERROR_INV_OBJECT);
}

TEST_F(ResourceManagerTest, DescriptionAndNotesNameTheProviders) {
  EXPECT_EQ(rm->description(), "built-in resource manager (alpha, beta)");
  beta->providerNotes = {"no board configured"};
  EXPECT_EQ(rm->notes(), std::vector<std::string>{"beta: no board configured"});
  EXPECT_EQ(ResourceManager().description(), "built-in resource manager (no backends)");
}

TEST(ResourceManager, DuplicateNamesKeepTheFirstProvider) {
  FakeLog log;
  std::vector<std::unique_ptr<DeviceProvider>> providers;
  providers.push_back(std::make_unique<FakeProvider>("one", std::vector<std::string>{kGpib}, log));
  providers.push_back(std::make_unique<FakeProvider>(
      "two", std::vector<std::string>{"gpib0::22::INSTR", kUsb}, log));
  ResourceManager rm(std::move(providers));
  ViSession manager = 0;
  ASSERT_EQ(rm.viOpenDefaultRM(&manager), VI_SUCCESS);
  ViFindList list = 0;
  ViUInt32 count = 0;
  char desc[VI_FIND_BUFLEN];
  ASSERT_EQ(rm.viFindRsrc(manager, "?*", &list, &count, desc), VI_SUCCESS);
  EXPECT_EQ(count, 2u);
  EXPECT_STREQ(desc, kGpib);
}

}  // namespace
}  // namespace kalivor::visa
