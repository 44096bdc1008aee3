// SPDX-License-Identifier: MIT
#include "app/selection.h"

#include <gtest/gtest.h>

#include "support/sim_rig.h"

namespace kalivor {
namespace {

using testing::SimRig;

sim::SimInstrumentConfig meter(const std::string& serial, const std::string& card) {
  sim::SimInstrumentConfig c;
  c.resource = "USB0::0x0000::0x0001::" + serial + "::INSTR";
  c.identity = "SIMULATED,M" + card + "00," + serial + ",1.0";
  c.card = card;
  c.serial = serial;
  return c;
}

struct SelectionTest : ::testing::Test {
  explicit SelectionTest(std::vector<sim::SimInstrumentConfig> meters = {meter("SIM1", "2"), meter("SIM2", "3"), meter("SIM3", "1")})
      : rig(std::move(meters)), sel(rig.link, rig.tables, rig.display, rig.run) {
    sel.hooks.resetChart = [this] { ++chartResets; };
    sel.hooks.unloadScanSettings = [this] { ++scanSettingsUnloads; };
  }
  SimRig rig;
  InstrumentSelection sel;
  int chartResets = 0;
  int scanSettingsUnloads = 0;
};

TEST_F(SelectionTest, TickingTheSecondInstrumentPutsItIntoSlotZero) {
  sel.Find_Button_Click();
  ASSERT_EQ(sel.listedCount(), 3);
  EXPECT_EQ(sel.Check1Visible, (std::array<bool, 4>{true, true, true, false}));
  sel.Check1[1] = true;
  sel.ok_Button_Click();
  EXPECT_EQ(rig.link.InstrumentCount, 1);
  EXPECT_EQ(rig.link.slots[0].DiscoveredIndex, 1);
  EXPECT_EQ(rig.display.deviceList, std::vector<std::string>{"SIM2 --  TC-Scanner Card  -- 10ch"});
  EXPECT_EQ(rig.tables.setup[0].ChannelCount, 10);
  EXPECT_EQ(rig.tables.setup[0].ScanerCard, 3);
  EXPECT_EQ(scanSettingsUnloads, 1);
  EXPECT_EQ(rig.link.sessionOfSlot(0), rig.link.DeviceSessions[1]);
}

TEST_F(SelectionTest, RefreshPreTicksExactlyTheInstrumentsAlreadySelected) {
  rig.display.deviceList = {"SIM3 -- 10ch", "SIM1 -- 20ch ", "sim2 --  TC-Scanner Card  -- 10ch"};
  sel.Find_Button_Click();
  // Only the exact description counts: a trailing blank or another letter case does not.
  EXPECT_EQ(sel.Check1, (std::array<bool, 4>{false, false, true, false}));
}

TEST_F(SelectionTest, ConfirmingNothingResetsTheMainWindow) {
  sel.Find_Button_Click();
  sel.ok_Button_Click();
  EXPECT_EQ(rig.link.InstrumentCount, 0);
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(rig.display.tabs[static_cast<std::size_t>(i)].caption, "Deviec " + std::to_string(i));
    EXPECT_EQ(rig.display.channelGrids[static_cast<std::size_t>(i)].rows, 4);
  }
  for (const char* c : {"StartReading", "StopReading", "DATATable", "dbSet", "Set_Scan_Button",
                        "Start_Reading_Menu", "Command1", "Command2"})
    EXPECT_FALSE(rig.display.isEnabled(c)) << c;
  EXPECT_EQ(chartResets, 1);
}

TEST_F(SelectionTest, EveryConfirmationResetsEverySlotsSetup) {
  for (int d = 0; d < 4; ++d) {
    auto& s = rig.tables.setup[static_cast<std::size_t>(d)];
    s.ScanType = "STEP";
    s.scanCount_Status = 0;
    rig.tables.channel[static_cast<std::size_t>(d)][3].TEMP_TCO = "K";
    rig.tables.channel[static_cast<std::size_t>(d)][3].Function = "TCOUPL";
    rig.tables.DatabaseName[static_cast<std::size_t>(d)] = "Record2";
  }
  sel.Find_Button_Click();
  sel.Check1[0] = true;
  sel.ok_Button_Click();
  for (int d = 0; d < 4; ++d) {
    const auto i = static_cast<std::size_t>(d);
    EXPECT_EQ(rig.tables.setup[i].ScanType, "SCAN");
    EXPECT_EQ(rig.tables.setup[i].scanCount_Status, 2);
    EXPECT_EQ(rig.tables.setup[i].ChannelTime, "0.5");
    EXPECT_EQ(rig.tables.channel[i][3].TEMP_TCO, "None");
    EXPECT_EQ(rig.tables.channel[i][3].Function, "TCOUPL");  // functions are left alone
    EXPECT_EQ(rig.tables.DatabaseName[i], "0");
    EXPECT_EQ(rig.tables.ReadingText[i][3], " ");
  }
}

TEST_F(SelectionTest, MainWindowReadsTheSelectedInstrumentsBack) {
  rig.meter(0).write("rout:scan:func 2,\"FRES\"\n");
  sel.Find_Button_Click();
  sel.Check1[0] = sel.Check1[2] = true;
  sel.ok_Button_Click();
  sel.applyToMainWindow();
  EXPECT_EQ(rig.display.tabs[0].caption, "SIM1 -- 20ch");
  EXPECT_EQ(rig.display.tabs[1].caption, "SIM3 -- 10ch");
  EXPECT_FALSE(rig.display.tabs[2].visible);
  EXPECT_EQ(rig.display.channelGrids[0].cells[0][1].text, "CH 2(4W)");
  EXPECT_EQ(rig.display.channelGrids[0].cells[2][1].text, "CH 12(NONE)");
  EXPECT_EQ(rig.display.channelGrids[1].rows, 2);
  ASSERT_EQ(rig.display.scanControlRows.size(), 2u);
  EXPECT_EQ(rig.display.scanControlRows[1][2], "Default");
  EXPECT_EQ(rig.display.scanControlRows[1][4], "Immediately");
  EXPECT_TRUE(rig.display.isEnabled("StartReading"));
}

TEST_F(SelectionTest, CheckDevReselectsWhatAnswersAgainAndResetsWhenNothingDoes) {
  sel.Find_Button_Click();
  sel.Check1[2] = true;
  sel.ok_Button_Click();
  sel.applyToMainWindow();
  sel.CheckDev();
  EXPECT_EQ(rig.link.InstrumentCount, 1);
  EXPECT_EQ(rig.display.deviceList, std::vector<std::string>{"SIM3 -- 10ch"});
  EXPECT_EQ(rig.link.slots[0].DiscoveredIndex, 2);

  rig.meter(2).setFault("silent");
  rig.messages.clear();
  sel.CheckDev();
  EXPECT_EQ(rig.link.InstrumentCount, 0);
  EXPECT_TRUE(rig.display.deviceList.empty());
  EXPECT_FALSE(rig.display.isEnabled("StartReading"));
  EXPECT_TRUE(rig.messages.shown.empty());  // discovery shows nothing
}

}  // namespace
}  // namespace kalivor
