// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include "sim/scpi_words.h"
#include "sim/sim_test_util.h"

namespace kalivor::sim {
namespace {

using namespace testing;
using namespace visa;

class Conversation : public ::testing::Test {
 protected:
  ManualClock clock;
  SimProvider provider{clock, defaultInstruments()};
  std::unique_ptr<DeviceSession> meter20 = openSession(provider, 0);  // card 2
  std::unique_ptr<DeviceSession> meterTc = openSession(provider, 1);  // card 3
};

TEST_F(Conversation, DiscoveryExchangeIsAnsweredExactly) {
  // The identity query arrives as exactly five bytes, without a line feed.
  EXPECT_EQ(ask(*meter20, "*IDN?"), "SIMULATED,M100,SIM0001,1.0\n");
  EXPECT_EQ(ask(*meter20, "rout:state?\n"), "2\n");
  EXPECT_EQ(ask(*meter20, "cal:sec:serial?\n"), "SIM0001\n");
  EXPECT_EQ(ask(*meterTc, "*IDN?"), "SIMULATED,M100,SIM0002,1.0\n");
  EXPECT_EQ(ask(*meterTc, "rout:state?\n"), "3\n");
  EXPECT_EQ(provider.instrument(0).received(),
            (std::vector<std::string>{"*IDN?", "rout:state?\n", "cal:sec:serial?\n"}));
}

TEST_F(Conversation, ProviderListsAndOpensByResource) {
  EXPECT_EQ(provider.name(), "simulated");
  EXPECT_EQ(provider.listResources(),
            (std::vector<std::string>{"USB0::0x0000::0x0001::SIM0001::INSTR",
                                      "USB0::0x0000::0x0001::SIM0002::INSTR"}));
  std::unique_ptr<DeviceSession> s;
  EXPECT_EQ(provider.open("USB0::0x0000::0x0001::NOPE::INSTR", &s), VI_ERROR_RSRC_NFOUND);
  EXPECT_EQ(s, nullptr);
  // Resource names ignore case, as VISA's do.
  ASSERT_EQ(provider.open("usb0::0x0000::0x0001::sim0002::instr", &s), VI_SUCCESS);
  EXPECT_EQ(ask(*s, "rout:state?\n"), "3\n");
  EXPECT_THROW(provider.instrument(2), std::out_of_range);
}

TEST_F(Conversation, SessionsOfOneResourceShareTheMeter) {
  auto second = openSession(provider, 0);
  send(*meter20, "rout:scan:func 4,\"RES\"\n");
  EXPECT_EQ(ask(*second, "rout:scan:func? 4\n"), "\"RES\"\n");
  EXPECT_EQ(ask(*meterTc, "rout:scan:func? 4\n"), "\"TEMP\"\n");  // the other meter is apart
}

TEST_F(Conversation, ChannelFunctionsRoundTripInShortAndLongForms) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"VOLT", "VOLT"},   {"VOLT:AC", "VOLT:AC"}, {"RES", "RES"},       {"FRES", "FRES"},
      {"FREQ", "FREQ"},   {"PERIOD", "PER"},      {"PER", "PER"},       {"TCO", "TCO"},
      {"TEMP", "TEMP"},   {"NONE", "NONE"},       {"voltage:ac", "VOLT:AC"},
      {"Frequency", "FREQ"}, {"VOLT:DC", "VOLT"},
  };
  for (const auto& [sent, answer] : cases) {
    send(*meterTc, "rout:scan:func 2,\"" + sent + "\"\n");
    EXPECT_EQ(ask(*meterTc, "rout:scan:func? 2\n"), "\"" + answer + "\"\n") << sent;
  }
  // Instruments take headers in any case and in long form.
  send(*meter20, "ROUTE:SCAN:FUNCTION 7,\"FREQ\"\n");
  EXPECT_EQ(ask(*meter20, "Rout:Scan:Func? 7\n"), "\"FREQ\"\n");
  EXPECT_EQ(provider.instrument(0).function(7), "FREQ");
}

TEST_F(Conversation, PowerOnFunctionsComeFromTheConfig) {
  EXPECT_EQ(ask(*meter20, "rout:scan:func? 1\n"), "\"VOLT\"\n");
  EXPECT_EQ(ask(*meter20, "rout:scan:func? 20\n"), "\"VOLT\"\n");
  EXPECT_EQ(ask(*meterTc, "rout:scan:func? 1\n"), "\"TCO\"\n");
  EXPECT_EQ(ask(*meterTc, "rout:scan:func? 4\n"), "\"TEMP\"\n");
  EXPECT_EQ(provider.instrument(1).channelCount(), 10);
  EXPECT_EQ(provider.instrument(0).channelCount(), 20);
}

TEST_F(Conversation, CardsRefuseWhatTheyCannotMeasure) {
  SimInstrument& m20 = provider.instrument(0);
  send(*meter20, "rout:scan:func 3,\"TCO\"\n");  // no thermocouple card
  EXPECT_EQ(m20.function(3), "VOLT");
  send(*meter20, "rout:scan:func 15,\"FRES\"\n");  // 4-wire only in the lower half
  EXPECT_EQ(m20.function(15), "VOLT");
  ASSERT_FALSE(m20.errors().empty());
  EXPECT_EQ(m20.errors().back(), "-221,\"Settings conflict\"");

  SimProvider ssr(clock, {meter("4")});
  auto s = openSession(ssr, 0);
  send(*s, "rout:scan:func 1,\"RES\"\n");
  send(*s, "rout:scan:func 2,\"FREQ\"\n");
  EXPECT_EQ(ssr.instrument(0).function(1), "VOLT");
  EXPECT_EQ(ssr.instrument(0).function(2), "FREQ");
  // Channel numbers outside the card are not applied anywhere.
  send(*s, "rout:scan:func 11,\"FREQ\"\n");
  EXPECT_EQ(ssr.instrument(0).errors().back(), "-222,\"Data out of range\"");
}

TEST_F(Conversation, SensorCommandsAsTheProgramSendsThem) {
  SimInstrument& tc = provider.instrument(1);
  send(*meterTc, "rout:scan:func 5,\"TEMP\"\n");
  send(*meterTc, "SENSe:TEMP:TRAN RTD ,@5\n");
  send(*meterTc, "SENSe:TEMP:RTD:TYPE PT385 ,@5\n");
  send(*meterTc, "rout:scan:func 3,\"TCO\"\n");
  send(*meterTc, "SENSe:TCOuple:TYPE J ,@3\n");
  EXPECT_EQ(ask(*meterTc, "TEMPerature:RTD:TYPE? @5\n"), "PT385\n");
  EXPECT_EQ(ask(*meterTc, "TEMPerature:TRANsducer? @5\n"), "RTD\n");
  EXPECT_EQ(ask(*meterTc, "TCOuple:TYPE? @3\n"), "J\n");
  EXPECT_EQ(tc.thermocoupleType(3), "J");
  // Unknown sensor types are refused and the old one stays.
  send(*meterTc, "SENSe:TCOuple:TYPE Q ,@3\n");
  send(*meterTc, "SENSe:TEMP:RTD:TYPE PT999 ,@5\n");
  EXPECT_EQ(tc.thermocoupleType(3), "J");
  EXPECT_EQ(tc.rtdType(5), "PT385");
  // Channel lists in parentheses and with ranges answer one value per channel.
  send(*meterTc, "SENS:TCO:TYPE T,(@1:2)\n");
  EXPECT_EQ(ask(*meterTc, "TCOuple:TYPE? (@1,2,3)\n"), "T,T,J\n");
}

TEST_F(Conversation, FourWireChannelsTakeTheirUpperPartner) {
  SimInstrument& m20 = provider.instrument(0);
  send(*meter20, "rout:scan:func 2,\"FRES\"\n");
  EXPECT_TRUE(m20.isSensePair(12));
  // The partner reports the 4-wire function, which is how read-back recognises it.
  EXPECT_EQ(ask(*meter20, "rout:scan:func? 12\n"), "\"FRES\"\n");
  send(*meter20, "rout:scan:func 12,\"VOLT\"\n");  // busy as the sense pair
  EXPECT_TRUE(m20.isSensePair(12));
  const auto scanned = m20.scanChannels();
  EXPECT_EQ(std::count(scanned.begin(), scanned.end(), 12), 0);
  EXPECT_EQ(scanned.size(), 19u);
  // Another function on channel 2 frees the partner, which is then unused.
  send(*meter20, "rout:scan:func 2,\"VOLT\"\n");
  EXPECT_FALSE(m20.isSensePair(12));
  EXPECT_EQ(ask(*meter20, "rout:scan:func? 12\n"), "\"NONE\"\n");

  // 4-wire resistance thermometer on a 10-channel card: channel 4 pairs with 9.
  SimInstrument& tc = provider.instrument(1);
  send(*meterTc, "SENSe:TEMP:TRAN FRTD ,@4\n");
  send(*meterTc, "SENSe:TEMP:RTD:TYPE PT100 ,@4\n");
  EXPECT_TRUE(tc.isSensePair(9));
  EXPECT_EQ(ask(*meterTc, "rout:scan:func? 9\n"), "\"TEMP\"\n");
  EXPECT_EQ(ask(*meterTc, "TEMPerature:TRANsducer? @9\n"), "FRTD\n");
  send(*meterTc, "SENSe:TEMP:TRAN FRTD ,@8\n");  // upper half cannot be 4-wire
  EXPECT_EQ(tc.transducer(8), "RTD");
}

TEST_F(Conversation, TimerAndCountTakeNumbersAndIgnoreNonsense) {
  SimInstrument& m = provider.instrument(0);
  send(*meter20, "ROUTe:SCAN:TIMER 0.25\n");
  send(*meter20, "rout:scan:count 50\n");
  EXPECT_DOUBLE_EQ(m.scanTimer(), 0.25);
  EXPECT_EQ(m.scanCount(), 50);
  for (const char* bad : {"ROUTe:SCAN:TIMER -1\n", "ROUTe:SCAN:TIMER abc\n",
                          "rout:scan:count 0\n", "rout:scan:count 12x\n", "rout:scan:count\n"}) {
    send(*meter20, bad);
  }
  EXPECT_DOUBLE_EQ(m.scanTimer(), 0.25);
  EXPECT_EQ(m.scanCount(), 50);
  EXPECT_EQ(ask(*meter20, "rout:scan:count?\n"), "50\n");
  EXPECT_EQ(ask(*meter20, "ROUT:SCAN:TIM?\n"), "0.25\n");
}

TEST_F(Conversation, UnknownCommandsAreIgnoredAndQueueAnError) {
  SimInstrument& m = provider.instrument(0);
  EXPECT_EQ(send(*meter20, "FOO:BAR 1\n"), VI_SUCCESS);
  EXPECT_EQ(m.pendingAnswers(), 0u);
  EXPECT_EQ(ask(*meter20, "SYST:ERR?\n"), "-113,\"Undefined header\"\n");
  EXPECT_EQ(ask(*meter20, "SYST:ERR?\n"), "+0,\"No error\"\n");
  // An unknown query gives no answer: the read waits out the time-out.
  send(*meter20, "rout:scan:bogus?\n");
  const auto before = clock.sleptMs();
  EXPECT_EQ(readOnce(*meter20).status, VI_ERROR_TMO);
  EXPECT_EQ(clock.sleptMs() - before, 30000);
}

TEST_F(Conversation, ANewMessageDiscardsAnUnreadAnswer) {
  send(*meter20, "*IDN?");
  send(*meter20, "rout:state?\n");
  EXPECT_EQ(readOnce(*meter20).bytes, "2\n");
  EXPECT_EQ(provider.instrument(0).errors().back(), "-410,\"Query INTERRUPTED\"");
  // Several queries in one message give one answer.
  EXPECT_EQ(ask(*meter20, "rout:state?;cal:sec:serial?\n"), "2;SIM0001\n");
}

TEST(SimTerminator, AnswersEndWithTheConfiguredTerminator) {
  ManualClock clock;
  auto crlf = meter("2", "SIM0003");
  crlf.terminator = "\r\n";
  auto nul = meter("1", "SIM0004");
  nul.terminator = std::string("\n\0", 2);
  auto none = meter("3", "SIM0005");
  none.terminator = "";
  SimProvider p(clock, {crlf, nul, none});
  EXPECT_EQ(ask(*openSession(p, 0), "cal:sec:serial?\n"), "SIM0003\r\n");
  EXPECT_EQ(ask(*openSession(p, 1), "rout:state?\n"), std::string("1\n\0", 3));
  EXPECT_EQ(ask(*openSession(p, 2), "rout:state?\n"), "3");
}

TEST(ScpiWords, HeadersChannelListsAndMessages) {
  EXPECT_TRUE(headerMatches("SENSe:TEMP:TRAN", "[SENSe]:TEMPerature:TRANsducer[:TYPE]"));
  EXPECT_TRUE(headerMatches("TEMPerature:TRANsducer", "[SENSe]:TEMPerature:TRANsducer[:TYPE]"));
  EXPECT_TRUE(headerMatches(":temp:tran:type", "[SENSe]:TEMPerature:TRANsducer[:TYPE]"));
  EXPECT_FALSE(headerMatches("TEMPer:TRAN", "[SENSe]:TEMPerature:TRANsducer"));  // neither form
  EXPECT_FALSE(headerMatches("ROUT:SCAN", "ROUTe:SCAN:SCAN"));
  EXPECT_FALSE(headerMatches("ROUT:SCAN:SCAN:SCAN", "ROUTe:SCAN:SCAN"));

  EXPECT_EQ(parseChannelList("@3", 10), (std::vector<int>{3}));
  EXPECT_EQ(parseChannelList(" (@1,4:6) ", 10), (std::vector<int>{1, 4, 5, 6}));
  EXPECT_EQ(parseChannelList("12", 20), (std::vector<int>{12}));
  for (const char* bad : {"", "@", "@0", "@11", "(@3", "@3,", "@x", "@1:99", "@-1", "@9999999"}) {
    EXPECT_FALSE(parseChannelList(bad, 10).has_value()) << bad;
  }

  const auto units = splitMessage("rout:scan:func 3,\"A;B\";FETC?\n");
  ASSERT_EQ(units.size(), 2u);
  EXPECT_EQ(units[0].header, "rout:scan:func");
  EXPECT_EQ(units[0].arguments, "3,\"A;B\"");
  EXPECT_FALSE(units[0].query);
  EXPECT_EQ(units[1].header, "FETC");
  EXPECT_TRUE(units[1].query);
}

}  // namespace
}  // namespace kalivor::sim

namespace kalivor::sim {
namespace {

// Days of simulated polling must not make the meter hold every message it was ever sent.
TEST(SimHistory, KeepsOnlyTheLatestMessagesAndCountsAll) {
  ManualClock clock;
  SimInstrument m(clock, defaultInstruments()[0]);
  const std::size_t total = SimInstrument::kReceivedKept * 3 + 5;
  for (std::size_t i = 0; i < total; ++i) m.write("rout:scan:state? " + std::to_string(i) + "\n");
  EXPECT_EQ(m.receivedCount(), total);
  const auto kept = m.received();
  ASSERT_EQ(kept.size(), SimInstrument::kReceivedKept);
  EXPECT_EQ(kept.back(), "rout:scan:state? " + std::to_string(total - 1) + "\n");
  EXPECT_EQ(kept.front(), "rout:scan:state? " + std::to_string(total - SimInstrument::kReceivedKept) + "\n");
  // Since a mark: what came after it; a mark older than what is kept gives all that is kept.
  const auto lastTwo = m.receivedSince(total - 2);
  ASSERT_EQ(lastTwo.size(), 2u);
  EXPECT_EQ(lastTwo[0], "rout:scan:state? " + std::to_string(total - 2) + "\n");
  EXPECT_EQ(m.receivedSince(0).size(), SimInstrument::kReceivedKept);
  EXPECT_TRUE(m.receivedSince(total).empty());
}

}  // namespace
}  // namespace kalivor::sim
