// SPDX-License-Identifier: MIT
#include "scan/apply.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "support/sim_rig.h"

namespace kalivor {
namespace {

using testing::SimRig;

// Simulated instruments selected into slots, and a scan settings editor loaded over them.
struct ApplyTest : ::testing::Test {
  SimRig rig;
  ScanSetEditor editor{rig.tables, rig.clock};
  int checkDevs = 0;
  std::vector<int> shown;

  InstrumentAccess access() {
    InstrumentAccess a;
    a.readBack = [this](int slot) { ReadBack(editor, rig.link, slot, [this] { ++checkDevs; }); };
    a.lastExchangeFailed = [this] { return rig.link.lastExchangeFailed(); };
    return a;
  }
  void load(int n) {
    rig.selectFirst(n);
    ASSERT_EQ(editor.load(rig.display.deviceList, access()), ShowOutcome::Shown);
    rig.clearReceived();
    rig.messages.clear();
  }
  ApplyResult apply() {
    return ApplySetups(editor, rig.link, rig.link.InstrumentCount, [this](int s) { shown.push_back(s); });
  }
  std::vector<std::string> sent(std::size_t meter) { return rig.received(meter); }
};

std::vector<std::string> matching(const std::vector<std::string>& all, const std::string& head) {
  std::vector<std::string> out;
  for (const auto& m : all) {
    if (m.rfind(head, 0) == 0) out.push_back(m);
  }
  return out;
}

TEST_F(ApplyTest, UntickedIntervalSendsHalfASecondAndEveryChannel) {
  load(1);
  editor.clickEnable(4, false);  // channel 5 unticked
  const ApplyResult r = apply();
  EXPECT_TRUE(r.completed);
  const auto msgs = sent(0);
  ASSERT_FALSE(msgs.empty());
  EXPECT_EQ(msgs[0], "ROUTe:SCAN:TIMER 0.5\n");
  EXPECT_EQ(matching(msgs, "rout:scan:func ").size(), 20u);
  EXPECT_NE(std::find(msgs.begin(), msgs.end(), "rout:scan:func 5,\"NONE\"\n"), msgs.end());
  EXPECT_NE(std::find(msgs.begin(), msgs.end(), "rout:scan:func 1,\"VOLT\"\n"), msgs.end());
  EXPECT_EQ(rig.tables.channel[0][4].Function, "NONE");
  EXPECT_EQ(rig.messages.texts(), std::vector<std::string>{"Setting Complete"});
  EXPECT_EQ(shown, std::vector<int>{0});
  EXPECT_EQ(rig.meter(0).function(5), "NONE");
}

TEST_F(ApplyTest, FourWireChannelSendsFresAndNothingForItsPartner) {
  load(1);
  ASSERT_TRUE(editor.changeFunction(1, "4W").accepted);
  apply();
  const auto msgs = sent(0);
  EXPECT_NE(std::find(msgs.begin(), msgs.end(), "rout:scan:func 2,\"FRES\"\n"), msgs.end());
  for (const auto& m : msgs) EXPECT_EQ(m.find("12"), std::string::npos) << m;
  EXPECT_EQ(rig.meter(0).function(2), "FRES");
}

TEST_F(ApplyTest, TemperatureChannelsSendTransducerAndType) {
  load(2);
  editor.showInstrument(1, access());
  ASSERT_TRUE(editor.changeFunction(4, "TEMP").accepted);
  editor.working().channel[1][4].TEMP_TCO = "PT385";
  apply();
  auto temp = matching(sent(1), "rout:scan:func 5,");
  auto sensor = matching(sent(1), "SENSe:");
  ASSERT_EQ(temp, std::vector<std::string>{"rout:scan:func 5,\"TEMP\"\n"});
  std::vector<std::string> expectTemp = {"SENSe:TEMP:TRAN RTD ,@5\n", "SENSe:TEMP:RTD:TYPE PT385 ,@5\n"};
  std::vector<std::string> got;
  for (const auto& m : sensor) if (m.find(",@5") != std::string::npos) got.push_back(m);
  EXPECT_EQ(got, expectTemp);

  rig.clearReceived();
  ASSERT_TRUE(editor.changeFunction(4, "4W,TEMP").accepted);
  editor.working().channel[1][4].TEMP_TCO = "PT385";
  apply();
  got.clear();
  const auto msgs = sent(1);
  for (const auto& m : msgs) if (m.find("5,") != std::string::npos || m.find(",@5") != std::string::npos) got.push_back(m);
  EXPECT_EQ(got, (std::vector<std::string>{"rout:scan:func 5,\"TEMP\"\n", "SENSe:TEMP:TRAN FRTD ,@5\n",
                                           "SENSe:TEMP:RTD:TYPE PT385 ,@5\n"}));
  EXPECT_EQ(rig.meter(1).transducer(5), "FRTD");
}

// A meter reconnected during a run is set up again from its applied setup: exactly what Apply
// sent it, 4-wire partners, current and temperature channels and switched-off channels included.
TEST_F(ApplyTest, AnAppliedSetupGivesBackTheCommandsApplySent) {
  load(2);
  ASSERT_TRUE(editor.changeFunction(1, "4W").accepted);
  ASSERT_TRUE(editor.changeFunction(6, "DCI").accepted);
  editor.clickEnable(4, false);
  editor.showInstrument(1, access());
  ASSERT_TRUE(editor.changeFunction(4, "TEMP").accepted);
  editor.working().channel[1][4].TEMP_TCO = "PT385";
  rig.clearReceived();  // the second meter's read-back
  ASSERT_TRUE(apply().completed);
  for (std::size_t s = 0; s < 2; ++s) {
    std::vector<std::string> sentCommands;
    for (const auto& m : sent(s)) sentCommands.push_back(m.substr(0, m.size() - 1));  // line feed
    EXPECT_EQ(appliedSetupCommands(rig.tables.setup[s], rig.tables.channel[s]), sentCommands) << "slot " << s;
  }
  const auto again = appliedSetupCommands(rig.tables.setup[0], rig.tables.channel[0]);
  EXPECT_NE(std::find(again.begin(), again.end(), "rout:scan:func 7,\"VOLT\""), again.end());
  EXPECT_NE(std::find(again.begin(), again.end(), "rout:scan:func 5,\"NONE\""), again.end());
}

TEST_F(ApplyTest, StopBeforeStartIsRefusedEqualTimesAreAccepted) {
  load(2);
  ScanSetup& s = editor.working().setup[1];
  s.StartAtTime = 1;
  s.StopAtTime = 1;
  s.StartTime = "2024/05/06 10:00:00";
  s.StopTime = "2024/05/06 09:59:00";
  ApplyResult r = apply();
  EXPECT_FALSE(r.completed);
  EXPECT_EQ(r.slotsDone, 1);  // slot 0 went through first
  ASSERT_EQ(rig.messages.shown.size(), 1u);
  EXPECT_EQ(rig.messages.shown[0].text, "ERROR Time Set!.");
  EXPECT_EQ(rig.messages.shown[0].title, "Warning");
  EXPECT_EQ(rig.messages.shown[0].icon, MessageIcon::Critical);
  EXPECT_EQ(rig.tables.setup[1].StopAtTime, 0);  // not copied

  rig.messages.clear();
  s.StopTime = s.StartTime;
  r = apply();
  EXPECT_TRUE(r.completed);
  EXPECT_EQ(rig.messages.texts(), std::vector<std::string>{"Setting Complete"});
  EXPECT_EQ(rig.tables.setup[1].StopTime, "2024/05/06 10:00:00");
}

TEST_F(ApplyTest, DivisionTakesItsPrefix) {
  load(1);
  editor.changeDivision(0, "2", "m");
  editor.changeDivision(1, "1", "(none)");
  apply();
  EXPECT_EQ(rig.tables.channel[0][0].Division, "0.002");
  EXPECT_EQ(rig.tables.channel[0][1].Division, "1");
}

TEST_F(ApplyTest, ReadBackKeepsCurrentChannelsAndFollowsTheInstrument) {
  load(1);
  rig.tables.channel[0][0].Function = "DCI";
  rig.tables.channel[0][1].Function = "DCI";
  rig.tables.channel[0][2].Function = "ACI";
  rig.meter(0).write("rout:scan:func 2,\"VOLT:AC\"\n");
  rig.meter(0).write("rout:scan:func 3,\"RES\"\n");
  rig.meter(0).write("rout:scan:func 15,\"VOLT\"\n");
  ASSERT_TRUE(ReadBack(editor, rig.link, 0, {}));
  EXPECT_EQ(rig.tables.channel[0][0].Function, "DCI");
  EXPECT_EQ(rig.tables.channel[0][1].Function, "ACI");
  EXPECT_EQ(rig.tables.channel[0][2].Function, "2W");  // not "2WI"
  EXPECT_EQ(editor.working().channel[0][1].Function, "ACI");
}

TEST_F(ApplyTest, ReadBackShowsAnUpperFourWireChannelAsNoneAndLocked) {
  load(1);
  rig.meter(0).write("rout:scan:func 5,\"FRES\"\n");  // its partner 15 reports FRES too
  ASSERT_TRUE(ReadBack(editor, rig.link, 0, {}));
  EXPECT_EQ(rig.tables.channel[0][4].Function, "4W");
  EXPECT_EQ(rig.tables.channel[0][14].Function, "NONE");
  EXPECT_FALSE(editor.channelView(0, 14).functionSelectable);
  EXPECT_FALSE(editor.channelView(0, 14).enableTicked);
  EXPECT_EQ(editor.working().channel[0][14].EnableChannel, 0);
  EXPECT_TRUE(editor.channelView(0, 4).enableTicked);
}

TEST_F(ApplyTest, ReadBackOfTemperatureAndThermocoupleTypes) {
  load(2);
  rig.meter(1).write("rout:scan:func 4,\"TEMP\"\n");
  rig.meter(1).write("SENSe:TEMP:TRAN FRTD ,@4\n");
  rig.meter(1).write("SENSe:TEMP:RTD:TYPE PT385 ,@4\n");
  rig.meter(1).write("rout:scan:func 2,\"TCO\"\n");
  rig.meter(1).write("SENSe:TCOuple:TYPE K ,@2\n");
  ASSERT_TRUE(ReadBack(editor, rig.link, 1, {}));
  EXPECT_EQ(rig.tables.channel[1][3].Function, "4W,TEMP");
  EXPECT_EQ(rig.tables.channel[1][3].TEMP_TCO, "PT385");
  EXPECT_EQ(rig.tables.channel[1][3].SensorTypeIndex, 3);
  EXPECT_EQ(rig.tables.channel[1][1].Function, "TCOUPL");
  EXPECT_EQ(rig.tables.channel[1][1].TEMP_TCO, "K");
  EXPECT_EQ(rig.tables.channel[1][1].SensorTypeIndex, 2);
}

TEST_F(ApplyTest, AFailedWriteIsNamedAndEndsOnlyThatInstrumentsShare) {
  load(2);
  const std::string first = rig.display.deviceList[0];
  // Meter 1 takes the timer and two channel commands, then its link is gone.
  rig.meter(0).setFault("drop-after:3");
  const ApplyResult r = apply();
  EXPECT_FALSE(r.completed);
  ASSERT_EQ(r.failures.size(), 1u);
  EXPECT_EQ(r.failures[0].slot, 0);
  EXPECT_EQ(r.failures[0].command.rfind("rout:scan:func 3,", 0), 0u) << r.failures[0].command;
  ASSERT_EQ(rig.messages.shown.size(), 1u);
  const Message& m = rig.messages.shown[0];
  EXPECT_EQ(m.title, "KALIVOR");
  EXPECT_NE(m.text.find(first), std::string::npos) << m.text;
  EXPECT_NE(m.text.find("VI_ERROR_CONN_LOST"), std::string::npos) << m.text;
  EXPECT_EQ(rig.messages.count("Setting Complete"), 0u);
  // Nothing more was tried on the dead link; the healthy meter got all of its setup.
  EXPECT_EQ(sent(0).size(), 3u);
  EXPECT_EQ(matching(sent(1), "rout:scan:func ").size(), 10u);
  EXPECT_EQ(shown, std::vector<int>{1});
  EXPECT_EQ(r.slotsDone, 1);

  // Once the meter answers again, Set goes through as usual.
  rig.meter(0).setFault("none");
  rig.meter(0).reconnect();
  rig.messages.clear();
  EXPECT_TRUE(apply().completed);
  EXPECT_EQ(rig.messages.texts(), std::vector<std::string>{"Setting Complete"});
}

TEST_F(ApplyTest, ScalingAndLimitsAreAppliedWithoutAnyCommand) {
  load(1);
  apply();
  const auto plain = sent(0);
  rig.clearReceived();
  ChannelSetup& c = editor.working().channel[0][3];
  c.ScaleOn = 1;
  c.ScaleGain = 100;
  c.ScaleUnit = "bar";
  c.AlarmHigh = 7.5;
  EXPECT_TRUE(apply().completed);
  EXPECT_EQ(sent(0), plain);
  const ChannelSetup& a = rig.tables.channel[0][3];
  EXPECT_EQ(a.ScaleOn, 1);
  EXPECT_EQ(a.ScaleGain, 100.0);
  EXPECT_EQ(a.ScaleUnit, "bar");
  EXPECT_EQ(a.AlarmHigh, 7.5);
  EXPECT_FALSE(a.AlarmLow);
  EXPECT_EQ(rig.tables.channel[0][4].ScaleOn, 0);
}

TEST_F(ApplyTest, FailedReadBackStopsAndChecksTheDevices) {
  load(1);
  rig.meter(0).setFault("silent");
  EXPECT_FALSE(ReadBack(editor, rig.link, 0, [this] { ++checkDevs; }));
  EXPECT_EQ(checkDevs, 1);
  EXPECT_TRUE(rig.link.StopRequested);
  EXPECT_EQ(rig.messages.count("Timeout"), 1u);
}

}  // namespace
}  // namespace kalivor
