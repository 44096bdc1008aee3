// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include "instrument/instrument_link.h"
#include "support/scripted_visa.h"

namespace kalivor {
namespace {

using testing::ScriptedResource;
using testing::ScriptedVisa;
using namespace visa;

ScriptedResource meter(const std::string& name, const std::string& card, const std::string& serial,
                       const std::string& identity = "MAKER,M100,SN1,1.0\n") {
  return ScriptedResource{name, {{"*IDN?", identity}, {"rout:state?\n", card}, {"cal:sec:serial?\n", serial}}};
}

struct DiscoveryTest : ::testing::Test {
  ManualClock clock;
  ScriptedVisa visa{clock};
  RecordingMessages messages;
  InstrumentLink link{visa, clock, messages};
};

TEST_F(DiscoveryTest, TwentyChannelMeterIsDescribedAndExchangesExactBytes) {
  visa.resources.push_back(meter("USB0::1::2::MY123::INSTR", "2\n", "MY123\n"));
  link.DiscoverInstruments();
  ASSERT_EQ(link.InstrumentCount, 1);
  const DiscoveredInstrument& e = link.identified[0];
  EXPECT_EQ(e.Model, "M100");
  EXPECT_EQ(e.Description, "MY123 -- 20ch");
  EXPECT_EQ(e.ScanerCard, 2);
  EXPECT_EQ(e.BankCount, 2);
  EXPECT_EQ(e.ChannelCount, 20);
  EXPECT_EQ(e.ResourceIndex, 0);

  EXPECT_EQ(visa.callsOf("find").at(0).bytes, "(USB|GPIB)?*INSTR");
  const auto writes = visa.callsOf("write");
  ASSERT_EQ(writes.size(), 3u);
  EXPECT_EQ(writes[0].bytes, "*IDN?");
  EXPECT_EQ(writes[0].count, 5u);
  EXPECT_EQ(writes[1].bytes, "rout:state?\n");
  EXPECT_EQ(writes[1].count, 12u);
  EXPECT_EQ(writes[2].bytes, "cal:sec:serial?\n");
  EXPECT_EQ(writes[2].count, 16u);
  EXPECT_EQ(visa.timeoutOf("USB0::1::2::MY123::INSTR"), 30000u);
  // Reads ask for up to 1024 bytes; discovery pauses nowhere.
  EXPECT_EQ(clock.sleptMs(), 0);
}

TEST_F(DiscoveryTest, CardLabelsAndCarriageReturnsStayOnlyLineFeedsGo) {
  visa.resources.push_back(meter("USB0::1::2::A::INSTR", "3\n", "MY123\n"));
  visa.resources.push_back(meter("USB0::1::2::B::INSTR", "4\n", "MY124\r\n"));
  visa.resources.push_back(meter("GPIB0::22::INSTR", "1", "X\nY\n"));
  link.DiscoverInstruments();
  ASSERT_EQ(link.InstrumentCount, 3);
  EXPECT_EQ(link.identified[0].Description, "MY123 --  TC-Scanner Card  -- 10ch");
  EXPECT_EQ(link.identified[1].Description, "MY124\r -- SSR Card -- 10ch");
  EXPECT_EQ(link.identified[2].Description, "XY -- 10ch");
  EXPECT_EQ(link.identified[2].ResourceIndex, 2);
}

TEST_F(DiscoveryTest, OnlyKnownCardCodesQualifyAndFirstFourAreListedInSearchOrder) {
  visa.resources.push_back(meter("USB0::0::INSTR", "0\n", "S0\n"));
  visa.resources.push_back(meter("USB0::5::INSTR", "5\n", "S5\n"));
  visa.resources.push_back(meter("USB0::1::INSTR", "1\n", "S1\n"));
  ScriptedResource silent{"GPIB0::9::INSTR", {}};
  silent.silent = true;
  visa.resources.push_back(silent);
  visa.resources.push_back(meter("USB0::2::INSTR", "2.5\n", "S2\n"));  // rounds half to even: 2
  visa.resources.push_back(meter("USB0::3::INSTR", " 3\n", "S3\n"));
  visa.resources.push_back(meter("USB0::4::INSTR", "4\n", "S4\n"));
  visa.resources.push_back(meter("USB0::4b::INSTR", "4\n", "S4b\n"));
  link.DiscoverInstruments();

  ASSERT_EQ(link.InstrumentCount, 4);
  EXPECT_EQ(link.identified[0].Description, "S1 -- 10ch");
  EXPECT_EQ(link.identified[1].Description, "S2 -- 20ch");
  EXPECT_EQ(link.identified[2].Description, "S3 --  TC-Scanner Card  -- 10ch");
  EXPECT_EQ(link.identified[3].Description, "S4 -- SSR Card -- 10ch");
  EXPECT_EQ(link.identified[3].ResourceIndex, 6);
  // An unknown card sees only the identity and card exchanges; a silent one only the identity.
  EXPECT_EQ(visa.writesTo("USB0::5::INSTR").size(), 2u);
  EXPECT_EQ(visa.writesTo("GPIB0::9::INSTR").size(), 1u);
  // The silent resource cost its time-out on the manual clock only.
  EXPECT_EQ(clock.sleptMs(), 30000);
  // Every resource has a session, listed or not.
  EXPECT_EQ(visa.callsOf("open").size(), 8u);
  EXPECT_TRUE(messages.shown.empty());  // discovery shows no message
}

TEST_F(DiscoveryTest, GarbageAndEmptyAnswersNeverListAnInstrument) {
  visa.resources.push_back(meter("USB0::a::INSTR", "garbage\n", "S\n"));
  visa.resources.push_back(meter("USB0::b::INSTR", "", "S\n"));
  visa.resources.push_back(meter("USB0::c::INSTR", "1e300\n", "S\n"));
  visa.resources.push_back(meter("USB0::d::INSTR", "-2\n", "S\n"));
  visa.resources.push_back(meter("USB0::e::INSTR", std::string("\0\xff\x01", 3), "S\n"));
  visa.resources.push_back(meter("USB0::f::INSTR", "2\n", "S\n", std::string(1000, 'x')));
  link.DiscoverInstruments();
  // Only the last one qualifies (its identity is long but not empty; the model is empty).
  ASSERT_EQ(link.InstrumentCount, 1);
  EXPECT_EQ(link.identified[0].Model, "");
  EXPECT_EQ(link.identified[0].Description, "S -- 20ch");
  for (int i = 1; i < 5; ++i) EXPECT_EQ(link.identified[i].Description, "");
}

TEST_F(DiscoveryTest, ModelIsTheSecondFieldOrEmpty) {
  EXPECT_EQ(modelOfIdentity("MAKER,M100,SN1,1.0"), "M100");
  EXPECT_EQ(modelOfIdentity("MAKER,M100"), "");
  EXPECT_EQ(modelOfIdentity("MAKER"), "");
  EXPECT_EQ(modelOfIdentity("MAKER,,SN"), "");
  EXPECT_EQ(modelOfIdentity(""), "");
}

TEST_F(DiscoveryTest, EmptySearchClosesTheResourceManagerAndListsNothing) {
  link.DiscoverInstruments();
  EXPECT_EQ(link.InstrumentCount, 0);
  ASSERT_EQ(visa.callsOf("close").size(), 1u);
  EXPECT_EQ(visa.callsOf("open").size(), 0u);
}

TEST_F(DiscoveryTest, FailingResourceManagerListsNothing) {
  visa.openRmStatus = VI_ERROR_SYSTEM_ERROR;
  visa.resources.push_back(meter("USB0::1::INSTR", "1\n", "S\n"));
  link.DiscoverInstruments();
  EXPECT_EQ(link.InstrumentCount, 0);
  EXPECT_EQ(visa.callsOf("find").size(), 0u);
}

TEST_F(DiscoveryTest, OnlyTwentyOneResourcesAreOpenedAndRefreshClosesThemAll) {
  for (int i = 0; i < 25; ++i) visa.resources.push_back(meter("USB0::" + std::to_string(i) + "::INSTR", "0\n", "S\n"));
  link.DiscoverInstruments();
  EXPECT_EQ(visa.callsOf("open").size(), 21u);
  EXPECT_EQ(visa.openSessions(), 21u);
  link.closeForRefresh();
  EXPECT_EQ(visa.openSessions(), 0u);  // not only sessions 0..3
  link.DiscoverInstruments();
  EXPECT_EQ(visa.openSessions(), 21u);
  link.closeAtShutdown();
  EXPECT_EQ(visa.openSessions(), 0u);
}

}  // namespace
}  // namespace kalivor
