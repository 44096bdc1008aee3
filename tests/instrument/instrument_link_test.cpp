// SPDX-License-Identifier: MIT
#include "instrument/instrument_link.h"

#include <gtest/gtest.h>

#include "support/scripted_visa.h"

namespace kalivor {
namespace {

using testing::ScriptedResource;
using testing::ScriptedVisa;
using namespace visa;

const char* kMeter = "USB0::0x0000::0x0001::SIM0001::INSTR";

// One identified meter in slot 0, ready for SendCommand/ReadReply.
struct LinkFixture : ::testing::Test {
  ManualClock clock;
  ScriptedVisa visa{clock};
  RecordingMessages messages;
  InstrumentLink link{visa, clock, messages};
  int stops = 0;
  std::vector<bool> stopSawRequested;
  std::vector<std::size_t> stopSawMessages;

  void SetUp() override {
    ScriptedResource meter{kMeter, {{"*IDN?", "MAKER,M100,SN1,1.0\n"}, {"rout:state?\n", "2\n"},
                                    {"cal:sec:serial?\n", "MY123\n"}}};
    visa.resources.push_back(meter);
    link.DiscoverInstruments();
    ASSERT_EQ(link.InstrumentCount, 1);
    link.slots[0].DiscoveredIndex = 0;
    link.setStopHook([this] {
      ++stops;
      // The stop runs before StopRequested is set and before the message.
      stopSawRequested.push_back(link.StopRequested);
      stopSawMessages.push_back(messages.shown.size());
    });
    visa.calls.clear();
  }
};

TEST_F(LinkFixture, CommandWithoutQuestionMarkIsWrittenWithLineFeedAndNotRead) {
  link.ReplyBuffer = std::string(1024, ' ');
  link.ReplyBuffer.replace(0, 3, "old");
  link.SendCommand("rout:scan:count 50", 0);
  ASSERT_EQ(visa.calls.size(), 1u);
  EXPECT_EQ(visa.calls[0].op, "write");
  EXPECT_EQ(visa.calls[0].bytes, "rout:scan:count 50\n");
  EXPECT_EQ(visa.calls[0].count, 19u);
  EXPECT_EQ(link.LastTransferCount, 19u);
  EXPECT_EQ(link.ReplyBuffer.substr(0, 3), "old");  // previous answer kept
  EXPECT_EQ(clock.sleptMs(), 0);
}

TEST_F(LinkFixture, QueryAnywhereIsAnsweredAfterTheFiftyMillisecondPause) {
  visa.resources[0].answers["rout:scan:func? 3\n"] = "\"VOLT\"\n";
  link.SendCommand("rout:scan:func? 3", 0);
  ASSERT_EQ(visa.calls.size(), 2u);
  EXPECT_EQ(visa.calls[1].op, "read");
  EXPECT_EQ(clock.sleptMs(), 50);
  EXPECT_EQ(link.ReplyBuffer.size(), 1024u);
  EXPECT_EQ(link.ReplyBuffer.substr(0, 7), "\"VOLT\"\n");
  EXPECT_EQ(link.ReplyBuffer.find_first_not_of(' ', 7), std::string::npos);  // blank-filled
  EXPECT_EQ(link.LastVisaStatus, VI_SUCCESS);
  EXPECT_TRUE(messages.shown.empty());
}

TEST_F(LinkFixture, LongAnswerIsCutAt1024BytesAndCountsAsSuccess) {
  std::string answer;
  while (answer.size() < 1500) answer += "+1.234560E-02,";
  visa.resources[0].answers["fetch?\n"] = answer + "\n";
  link.SendCommand("fetch?", 0);
  EXPECT_EQ(link.LastVisaStatus, VI_SUCCESS_MAX_CNT);
  EXPECT_EQ(link.LastTransferCount, 1024u);
  EXPECT_EQ(link.ReplyBuffer, answer.substr(0, 1024));
  EXPECT_FALSE(link.lastExchangeFailed());
  EXPECT_FALSE(link.StopRequested);
  EXPECT_TRUE(messages.shown.empty());

  link.ReadReply(0);  // the rest of the answer
  EXPECT_EQ(link.LastVisaStatus, VI_SUCCESS);
  EXPECT_EQ(link.receivedText(), (answer + "\n").substr(1024));
}

TEST_F(LinkFixture, ReadTimeoutStopsTheRunShowsTimeoutOnceAndLeavesStopRequested) {
  link.SendCommand("rout:scan:state?", 0);  // nothing scripted: the read times out
  EXPECT_EQ(link.LastVisaStatus, VI_ERROR_TMO);
  EXPECT_EQ(stops, 1);
  EXPECT_TRUE(link.StopRequested);
  ASSERT_EQ(messages.shown.size(), 1u);
  EXPECT_EQ(messages.shown[0].text, "Timeout");
  EXPECT_EQ(messages.shown[0].title, "KALIVOR");
  EXPECT_EQ(link.ReplyBuffer, std::string(1024, ' '));
  EXPECT_EQ(stopSawRequested, std::vector<bool>{false});
  EXPECT_EQ(stopSawMessages, std::vector<std::size_t>{0});
  // The 30 s time-out passed on the manual clock only.
  EXPECT_EQ(clock.sleptMs(), 50 + 30000);
}

TEST_F(LinkFixture, ReadReplyFailureSaysTimeoutWithTrailingBlankAndDoesNotPause) {
  link.ReadReply(0);
  ASSERT_EQ(messages.shown.size(), 1u);
  EXPECT_EQ(messages.shown[0].text, "Timeout ");
  EXPECT_TRUE(link.StopRequested);
  EXPECT_EQ(stops, 1);
  EXPECT_EQ(visa.callsOf("write").size(), 0u);
  EXPECT_EQ(clock.sleptMs(), 30000);  // the time-out only, no 50 ms pause
}

TEST_F(LinkFixture, UnresolvedSlotFailsThroughTheVisaStatusInsteadOfCrashing) {
  link.slots[1].DiscoveredIndex = 99;
  link.SendCommand("fetch?", 1);
  EXPECT_EQ(link.LastVisaStatus, VI_ERROR_INV_OBJECT);
  EXPECT_TRUE(link.StopRequested);
  EXPECT_EQ(messages.count("Timeout"), 1u);
  link.SendCommand("fetch?", 7);
  EXPECT_EQ(messages.count("Timeout"), 2u);
}

}  // namespace
}  // namespace kalivor
