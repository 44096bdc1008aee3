// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "common/clock.h"
#include "scan/setup_model.h"

namespace kalivor {
namespace {

bool offers(int card, int count, int ch, const std::string& function) {
  const auto list = functionList(card, count, ch);
  return std::find(list.begin(), list.end(), function) != list.end();
}

TEST(SensorTypes, ClassifiedTemperatureListFirst) {
  EXPECT_EQ(classifySensorType("PT385"), SensorKind::Temperature);
  EXPECT_EQ(classifySensorType("K"), SensorKind::Thermocouple);
  EXPECT_EQ(classifySensorType("None"), SensorKind::Neither);
  EXPECT_EQ(classifySensorType("pt100"), SensorKind::Neither);
  EXPECT_EQ(sensorTypeIndex("SPRTD"), 6);
  EXPECT_EQ(sensorTypeIndex("E"), 0);
  EXPECT_EQ(sensorTypeIndex("T"), 6);
  EXPECT_FALSE(sensorTypeIndex("None"));
}

TEST(FunctionLists, FourWireOnlyInTheLowerHalf) {
  for (int card : {1, 2, 3}) {
    for (int ch = 0; ch < 20; ++ch) EXPECT_EQ(offers(card, 20, ch, "4W"), ch < 10) << ch;
    for (int ch = 0; ch < 10; ++ch) EXPECT_EQ(offers(card, 10, ch, "4W"), ch < 5) << ch;
  }
  for (int ch = 0; ch < 20; ++ch) EXPECT_EQ(offers(3, 20, ch, "4W,TEMP"), ch < 10);
}

TEST(FunctionLists, CardsOfferTheirOwnFunctions) {
  for (int ch : {0, 19}) {
    for (const char* f : {"2W", "4W", "TEMP", "TCOUPL", "4W,TEMP"}) EXPECT_FALSE(offers(4, 20, ch, f));
    for (const char* f : {"TEMP", "TCOUPL"}) EXPECT_FALSE(offers(2, 20, ch, f));
    EXPECT_TRUE(offers(3, 20, ch, "TCOUPL"));
    EXPECT_EQ(functionList(ch == 0 ? 1 : 4, 20, ch).back(), "NONE");
  }
  EXPECT_EQ(functionList(3, 20, 0).size(), 12u);
  EXPECT_TRUE(functionList(0, 20, 0).empty());
  EXPECT_TRUE(functionList(5, 20, 0).empty());
}

TEST(FourWirePairing, OffsetAndPartners) {
  EXPECT_EQ(fourWireOffset(20), 10);
  EXPECT_EQ(fourWireOffset(10), 5);
  EXPECT_EQ(fourWireOffset(5), 2);   // 2.5 goes to the even number
  EXPECT_EQ(fourWireOffset(15), 8);  // 7.5 too
  EXPECT_EQ(fourWirePartner(20, 2), 12);
  EXPECT_EQ(fourWirePartner(10, 4), 9);
  EXPECT_FALSE(fourWirePartner(10, 5));
  EXPECT_FALSE(fourWirePartner(15, 7));  // 15 lies outside the card
  EXPECT_FALSE(fourWirePartner(20, -1));
}

TEST(FourWirePairing, PartnerFlagOnlyBesideAFourWireChannel) {
  ChannelRow row{};
  for (auto& c : row) c.Function = "DCV";
  row[2].Function = "4W";
  row[12].Function = "NONE";
  row[3].Function = "4W,TEMP";
  row[13].Function = "NONE";
  row[15].Function = "NONE";  // unused, but no 4-wire channel below it
  row[14].Function = "DCV";
  row[4].Function = "4W";      // partner 14 has a function of its own
  row[14].PartnerFlag = 1;
  recomputePartnerFlags(row, 20);
  EXPECT_EQ(row[12].PartnerFlag, 1);
  EXPECT_EQ(row[13].PartnerFlag, 1);
  EXPECT_EQ(row[15].PartnerFlag, 0);
  EXPECT_EQ(row[14].PartnerFlag, 0);
  EXPECT_EQ(row[2].PartnerFlag, 0);
  EXPECT_TRUE(isPairedByLower(row, 20, 12));
  EXPECT_FALSE(isPairedByLower(row, 20, 2));
}

TEST(Defaults, ConnectResetLeavesFunctionColorAndEnableAlone) {
  ScanTables t;
  ChannelSetup& c = t.channel[1][4];
  c.Function = "2W";
  c.Color = rgb(1, 2, 3);
  c.EnableChannel = 0;
  c.Division = "7";
  c.Ohm = 5;
  c.Current = 2;
  c.TEMP_TCO = "K";
  t.channel[1][20].Division = "untouched";
  t.ReadingText[1][4] = "1.5";
  t.ScansDone[1] = 9;
  t.DatabaseName[1] = "Record2";
  t.setup[1].ScanType = "STEP";
  t.setup[1].scanCount_Status = 0;
  t.setup[1].ScanTime = "10";
  const LocalMs now = makeLocalMs(2024, 5, 6, 13, 45, 10);
  resetScanSetupForConnect(t, 1, now);
  const ScanSetup& s = t.setup[1];
  EXPECT_EQ(s.ScanType, "SCAN");
  EXPECT_EQ(s.scanCount_Status, 2);
  EXPECT_EQ(s.ScanCount, "0");
  EXPECT_EQ(s.ChannelTime, "0.5");
  EXPECT_EQ(s.ScanTime, "0.5");
  EXPECT_EQ(s.StartTime, "2024/05/06 13:45:10");
  EXPECT_EQ(s.StopTime, "2024/05/06 13:45:10");
  EXPECT_EQ(c.Division, "1");
  EXPECT_EQ(c.Offset, "0");
  EXPECT_EQ(c.Ohm, 1.0);
  EXPECT_EQ(c.Current, 0.0);
  EXPECT_EQ(c.TEMP_TCO, "None");
  EXPECT_EQ(t.ReadingText[1][4], " ");
  EXPECT_EQ(t.ScansDone[1], 0);
  EXPECT_EQ(t.DatabaseName[1], "0");
  EXPECT_EQ(c.Function, "2W");
  EXPECT_EQ(c.Color, rgb(1, 2, 3));
  EXPECT_EQ(c.EnableChannel, 0);
  EXPECT_EQ(t.channel[1][20].Division, "untouched");
  const ScanTables before = t;
  resetScanSetupForConnect(t, 7, now);  // outside the table: nothing happens
  resetScanSetupForConnect(t, -1, now);
  EXPECT_EQ(t.setup, before.setup);
  EXPECT_EQ(t.channel, before.channel);
  EXPECT_EQ(t.DatabaseName, before.DatabaseName);
}

TEST(Defaults, WindowDefaultsComeFromTheAppliedSetup) {
  ScanTables t;
  t.setup[0].ScanerCard = 2;
  t.setup[0].ChannelCount = 20;
  t.channel[0][2].Function = "4W";
  t.channel[0][12].Function = "NONE";
  t.channel[0][5].TEMP_TCO = "PT385";
  t.channel[0][5].SensorTypeIndex = 3;
  t.channel[0][5].Color = rgb(9, 9, 9);
  t.channel[0][5].Division = "0.002";
  WorkingCopy w;
  w.channel[0][5].Unit = "m";
  w.channel[0][5].EnableChannel = 0;
  applyWindowDefaults(w, t, 0, makeLocalMs(2024, 1, 2, 3, 4, 5));
  EXPECT_EQ(w.setup[0].ScanerCard, 2);
  EXPECT_EQ(w.setup[0].ScanCount, "20");
  EXPECT_EQ(w.setup[0].ScanTime, "10");
  EXPECT_EQ(w.setup[0].ChannelTime, "0.5");
  EXPECT_EQ(w.setup[0].StartTime, "2024/01/02 03:04:05");
  const ChannelSetup& c = w.channel[0][5];
  EXPECT_EQ(c.EnableChannel, 1);
  EXPECT_EQ(c.TEMP_TCO, "PT385");
  EXPECT_EQ(c.SensorTypeIndex, 3);
  EXPECT_EQ(c.Color, rgb(9, 9, 9));
  EXPECT_EQ(c.Division, "1");
  EXPECT_EQ(c.Unit, "(none)");
  EXPECT_EQ(w.channel[0][12].PartnerFlag, 1);
}

TEST(CountBoxes, ClampedToTheirLimits) {
  EXPECT_EQ(clampCountText("5000", kMaxChannelReadings), "2000");
  EXPECT_EQ(clampCountText("2000", kMaxChannelReadings), "2000");
  EXPECT_EQ(clampCountText("17", kMaxChannelReadings), "17");
  EXPECT_EQ(clampCountText("0", kMaxChannelReadings), "1");
  EXPECT_EQ(clampCountText("", kMaxChannelReadings), "1");
  EXPECT_EQ(clampCountText("abc", kMaxScans), "1");
  EXPECT_EQ(clampCountText("1001", kMaxScans), "1000");
}

// ---- the editor ---------------------------------------------------------------------------------

class EditorTest : public ::testing::Test {
 protected:
  EditorTest() : editor(tables, clock) {
    tables.setup[0].ScanerCard = 2;
    tables.setup[0].ChannelCount = 20;
    tables.setup[1].ScanerCard = 3;
    tables.setup[1].ChannelCount = 10;
    for (int ch = 0; ch < 20; ++ch) tables.channel[0][ch].Function = "DCV";
    for (int ch = 0; ch < 10; ++ch) tables.channel[1][ch].Function = "DCV";
  }

  void loadWindow() {
    InstrumentAccess access;
    access.readBack = [this](int slot) {
      readBacks.push_back(slot);
      // What a read-back leaves behind: functions shown and selectable.
      for (int ch = 0; ch < tables.setup[slot].ChannelCount; ++ch) {
        editor.channelView(slot, ch).functionText = tables.channel[slot][ch].Function;
        editor.channelView(slot, ch).functionSelectable = true;
      }
    };
    editor.load({"DMM-A", "DMM-B"}, access);
  }

  ScanSetup& shown() { return editor.shownSetup(); }
  ChannelSetup& ch(int i) { return editor.shownChannel(i); }
  ChannelView& view(int i) { return editor.shownView(i); }

  ManualClock clock;
  ScanTables tables;
  ScanSetEditor editor;
  std::vector<int> readBacks;
};

TEST_F(EditorTest, LoadReadsEveryInstrumentAndShowsTheFirst) {
  loadWindow();
  EXPECT_EQ(readBacks, (std::vector<int>{0, 1, 0}));
  EXPECT_EQ(editor.shownSlot(), 0);
  EXPECT_FALSE(editor.loading());
  EXPECT_EQ(editor.suggestedFileName(), "DMM-A");
  EXPECT_EQ(editor.gridCopy().rowPosLwlmt(), 1);
  EXPECT_EQ(editor.gridCopy().rowPosUplmt(), 20);
  EXPECT_EQ(editor.gridCopy().colPosLwlmt(), 3);
  EXPECT_EQ(editor.gridCopy().colPosUplmt(), 3);
  const ScanControlsView& c = editor.controls();
  EXPECT_EQ(c.countMode, 2);
  EXPECT_FALSE(c.stepSelected);
  EXPECT_EQ(c.scanGroup.seconds, "10");
  EXPECT_EQ(c.scanGroup.fields, (TimeFields{"0", "0", "10", "0"}));
  EXPECT_FALSE(c.perChannelTicked);
  EXPECT_FALSE(c.perChannelEnabled);  // SCAN: no per-channel interval
  EXPECT_EQ(c.channelGroup.seconds, "0.5");
  EXPECT_EQ(view(3).gridFunction, "DCV");
  EXPECT_EQ(editor.gridCellText(4, 1), "CH 4");
  EXPECT_EQ(editor.gridCellText(0, 3), "Function");
  EXPECT_EQ(editor.gridCellText(21, 3), "");
}

TEST_F(EditorTest, ShowingAnInstrumentAfterAFailedExchangeReadsNothing) {
  loadWindow();
  readBacks.clear();
  InstrumentAccess access;
  access.readBack = [this](int slot) { readBacks.push_back(slot); };
  access.lastExchangeFailed = [] { return true; };
  editor.controls().status = "old";
  EXPECT_EQ(editor.showInstrument(1, access), ShowOutcome::LinkFailed);
  EXPECT_TRUE(readBacks.empty());
  EXPECT_EQ(editor.shownSlot(), 1);
  EXPECT_EQ(editor.controls().status, "");

  access.lastExchangeFailed = [] { return false; };
  access.readBack = [this](int slot) {
    readBacks.push_back(slot);
    tables.channel[1][2].TEMP_TCO = "K";
    editor.working().channel[1][2].SensorTypeIndex = 2;
  };
  EXPECT_EQ(editor.showInstrument(1, access), ShowOutcome::Shown);
  EXPECT_EQ(readBacks, (std::vector<int>{1}));
  EXPECT_EQ(editor.shuntSlot(), 1);
  EXPECT_EQ(view(2).gridSensor, "K");
  EXPECT_EQ(view(2).thermocoupleIndex, 2);
  EXPECT_EQ(view(2).temperatureIndex, 2);
}

TEST_F(EditorTest, FourWirePairsTheUpperChannelAndReleasesIt) {
  loadWindow();
  const FunctionChange change = editor.changeFunction(2, "4W");
  ASSERT_TRUE(change.accepted);
  EXPECT_EQ(change.pairedChannel, 12);
  EXPECT_FALSE(change.openShuntWindow);
  EXPECT_EQ(ch(2).Function, "4W");
  EXPECT_EQ(view(2).gridFunction, "4W");
  EXPECT_EQ(ch(12).Function, "NONE");
  EXPECT_EQ(ch(12).EnableChannel, 0);
  EXPECT_EQ(ch(12).PartnerFlag, 1);
  EXPECT_EQ(view(12).functionText, "NONE");
  EXPECT_FALSE(view(12).functionSelectable);
  EXPECT_FALSE(view(12).enableTicked);
  EXPECT_EQ(view(12).gridFunction, "NONE");
  EXPECT_EQ(view(12).gridSensor, "None");
  EXPECT_EQ(editor.shuntChannel(), 2);

  ASSERT_TRUE(editor.changeFunction(2, "DCV").accepted);
  EXPECT_TRUE(view(12).functionSelectable);
  EXPECT_EQ(ch(12).PartnerFlag, 1);  // until recomputed
  // Giving the channel a function of its own ends its partnership.
  ASSERT_TRUE(editor.changeFunction(12, "ACV").accepted);
  EXPECT_EQ(ch(12).PartnerFlag, 0);
  editor.clickEnable(12, false);
  EXPECT_EQ(ch(12).Function, "NONE");
  EXPECT_EQ(ch(12).PartnerFlag, 0);
}

TEST_F(EditorTest, FunctionsOutsideTheChannelsListAreRefused) {
  loadWindow();
  EXPECT_FALSE(editor.changeFunction(12, "4W").accepted);  // upper half
  EXPECT_FALSE(editor.changeFunction(2, "TEMP").accepted);  // card 2
  EXPECT_FALSE(editor.changeFunction(2, "dcv").accepted);
  EXPECT_FALSE(editor.changeFunction(20, "DCV").accepted);
  EXPECT_FALSE(editor.changeFunction(-1, "DCV").accepted);
  EXPECT_EQ(ch(12).Function, "DCV");
  EXPECT_EQ(ch(2).Function, "DCV");
}

TEST_F(EditorTest, CurrentFunctionsAskForTheShuntWindowUnlessLoading) {
  loadWindow();
  const FunctionChange dci = editor.changeFunction(7, "DCI");
  EXPECT_TRUE(dci.openShuntWindow);
  EXPECT_EQ(editor.shuntChannel(), 7);
  editor.setLoading(true);
  EXPECT_FALSE(editor.changeFunction(8, "ACI").openShuntWindow);
  editor.setLoading(false);
  EXPECT_EQ(ch(8).Function, "ACI");
}

TEST_F(EditorTest, TemperatureFunctionsTakeTheSensorTypeFromTheirList) {
  InstrumentAccess none;
  loadWindow();
  editor.showInstrument(1, none);  // the thermocouple card, 10 channels
  editor.chooseTemperatureType(1, 3);
  editor.changeFunction(1, "TEMP");
  EXPECT_EQ(ch(1).TEMP_TCO, "PT385");
  EXPECT_EQ(view(1).gridSensor, "PT385");

  editor.chooseThermocoupleType(2, 2);
  editor.changeFunction(2, "TCOUPL");
  EXPECT_EQ(ch(2).TEMP_TCO, "K");
  EXPECT_EQ(ch(2).SensorTypeIndex, 2);

  editor.chooseTemperatureType(4, 6);
  const FunctionChange c = editor.changeFunction(4, "4W,TEMP");
  EXPECT_EQ(c.pairedChannel, 9);
  EXPECT_EQ(ch(4).TEMP_TCO, "SPRTD");
  EXPECT_EQ(view(9).gridSensor, "None");

  // Another function shows "None" in the sensor column; the stored type stays.
  editor.changeFunction(1, "DCV");
  EXPECT_EQ(view(1).gridSensor, "None");
  EXPECT_EQ(editor.clickGrid(5, 4), GridCellEditor::TemperatureList);
  EXPECT_EQ(editor.clickGrid(3, 4), GridCellEditor::ThermocoupleList);
  EXPECT_EQ(editor.clickGrid(2, 4), GridCellEditor::None);
  EXPECT_EQ(editor.clickGrid(2, 2), GridCellEditor::Color);
  EXPECT_EQ(editor.clickGrid(2, 3), GridCellEditor::FunctionList);
  EXPECT_EQ(editor.clickGrid(11, 3), GridCellEditor::None);  // beyond 10 channels
}

TEST_F(EditorTest, UntickingOneChannelLeavesTheOthersTicked) {
  loadWindow();
  editor.clickCheckAll(true);
  editor.clickEnable(4, false);
  EXPECT_FALSE(editor.controls().checkAllTicked);
  EXPECT_EQ(ch(4).Function, "NONE");
  EXPECT_EQ(ch(4).EnableChannel, 0);
  // The window mirrors the untick; that untick must not clear the other channels.
  editor.clickCheckAll(false);
  EXPECT_TRUE(view(5).enableTicked);
  EXPECT_EQ(ch(5).EnableChannel, 1);
  // Unticking "Select All" by hand clears all of them.
  editor.clickCheckAll(true);
  EXPECT_EQ(ch(4).Function, "DCV");  // back from its function list
  editor.clickCheckAll(false);
  for (int i = 0; i < 20; ++i) {
    EXPECT_FALSE(view(i).enableTicked);
    EXPECT_EQ(ch(i).EnableChannel, 0);
    EXPECT_EQ(ch(i).Function, "NONE");
  }
}

TEST_F(EditorTest, CountModesAndIntervalAvailability) {
  loadWindow();
  editor.changeChannelReadings("5000");
  EXPECT_EQ(editor.controls().nChannelScan, "2000");
  editor.clickCountMode(0);
  EXPECT_EQ(shown().scanCount_Status, 0);
  EXPECT_EQ(shown().ScanCount, "2000");
  EXPECT_FALSE(editor.controls().scanKindEnabled);
  EXPECT_FALSE(editor.controls().scanGroup.fieldsEnabled);
  EXPECT_FALSE(editor.controls().stopEnabled);
  EXPECT_EQ(shown().StopAtTime, 0);
  EXPECT_EQ(editor.changeChannelReadings(""), "1");
  EXPECT_EQ(shown().ScanCount, "1");
  // The other box does not write the count while its mode is not selected.
  editor.changeScanCount("7");
  EXPECT_EQ(shown().ScanCount, "1");

  editor.clickCountMode(1);
  EXPECT_EQ(shown().ScanCount, "7");
  EXPECT_EQ(editor.changeScanCount("1200"), "1000");
  EXPECT_EQ(shown().ScanCount, "1000");
  EXPECT_TRUE(editor.controls().scanKindEnabled);

  editor.clickCountMode(2);
  EXPECT_EQ(shown().ScanCount, "20");
  EXPECT_TRUE(editor.controls().stopEnabled);
  EXPECT_FALSE(editor.controls().stopTicked);

  // Ignored while loading, except "By Pressing Stop Button".
  editor.setLoading(true);
  editor.clickCountMode(0);
  EXPECT_EQ(shown().scanCount_Status, 2);
  editor.setLoading(false);
}

TEST_F(EditorTest, PerChannelIntervalOnlyWithStep) {
  loadWindow();
  EXPECT_FALSE(editor.controls().perChannelEnabled);
  editor.clickScanType(true);
  EXPECT_EQ(shown().ScanType, "STEP");
  EXPECT_TRUE(editor.controls().perChannelEnabled);
  editor.clickPerChannelInterval(true);
  EXPECT_EQ(shown().ChannelInterval, 1);
  EXPECT_TRUE(editor.controls().channelGroup.fieldsEnabled);
  editor.changeTimeField(IntervalGroup::Channel, "min", TimeFields{"00", "7", "00", "000"});
  EXPECT_EQ(shown().ChannelTime, "420");
  EXPECT_EQ(editor.controls().channelGroup.seconds, "420");
  EXPECT_EQ(editor.controls().channelGroup.fields.minute, "07");

  // Back to SCAN: the box is unticked and the interval goes back to 0.5 s.
  editor.clickScanType(false);
  EXPECT_FALSE(editor.controls().perChannelTicked);
  EXPECT_FALSE(editor.controls().channelGroup.fieldsEnabled);
  EXPECT_EQ(shown().ChannelInterval, 0);
  EXPECT_EQ(shown().ChannelTime, "0.5");
  EXPECT_EQ(editor.controls().channelGroup.seconds, "0.5");
  EXPECT_EQ(editor.controls().channelGroup.fields, (TimeFields{"00", "00", "00", "500"}));
}

TEST_F(EditorTest, UntickingPerChannelIntervalResetsItsFields) {
  loadWindow();
  editor.clickScanType(true);
  editor.clickPerChannelInterval(true);
  editor.changeTimeField(IntervalGroup::Channel, "sec", TimeFields{"0", "2", "5", "250"});
  ASSERT_EQ(shown().ChannelTime, "125.25");
  editor.clickPerChannelInterval(false);
  EXPECT_EQ(shown().ChannelInterval, 0);
  EXPECT_EQ(shown().ChannelTime, "0.5");
  EXPECT_FALSE(editor.controls().perChannelTicked);
  EXPECT_FALSE(editor.controls().channelGroup.fieldsEnabled);
  EXPECT_EQ(editor.controls().channelGroup.seconds, "0.5");
  EXPECT_EQ(editor.controls().channelGroup.fields, (TimeFields{"00", "00", "00", "500"}));
  // The scan interval is not touched by it.
  EXPECT_EQ(shown().ScanTime, "10");
  // Ticking it again takes the fields as they now are.
  editor.clickPerChannelInterval(true);
  EXPECT_EQ(shown().ChannelInterval, 1);
  EXPECT_EQ(shown().ChannelTime, "0.5");
  EXPECT_TRUE(editor.controls().channelGroup.fieldsEnabled);
}

TEST_F(EditorTest, ATemperatureFunctionChosenBeforeAnySensorTypeTakesTheListsFirstEntry) {
  InstrumentAccess none;
  loadWindow();
  editor.showInstrument(1, none);  // the thermocouple card
  ASSERT_TRUE(editor.changeFunction(2, "TEMP").accepted);
  EXPECT_EQ(ch(2).TEMP_TCO, "PT100");
  EXPECT_EQ(view(2).gridSensor, "PT100");
  ASSERT_TRUE(editor.changeFunction(3, "TCOUPL").accepted);
  EXPECT_EQ(ch(3).TEMP_TCO, "E");
  EXPECT_EQ(view(3).gridSensor, "E");
  ASSERT_TRUE(editor.changeFunction(1, "4W,TEMP").accepted);
  EXPECT_EQ(ch(1).TEMP_TCO, "PT100");
  EXPECT_EQ(view(6).gridSensor, "None");  // its partner
}

TEST_F(EditorTest, EditsOfAnInstrumentSurviveShowingAnotherOne) {
  loadWindow();
  InstrumentAccess access;
  access.readBack = [this](int slot) { readBacks.push_back(slot); };
  EXPECT_FALSE(editor.anyEdited());
  editor.changeFunction(4, "ACV");
  editor.changeDivision(1, "2", "m");
  editor.clickScanType(true);
  EXPECT_TRUE(editor.edited(0));
  EXPECT_FALSE(editor.edited(1));
  readBacks.clear();
  editor.showInstrument(1, access);
  editor.showInstrument(0, access);
  EXPECT_EQ(readBacks, std::vector<int>{1});  // the edited one is not read over its edits
  EXPECT_EQ(ch(4).Function, "ACV");
  EXPECT_EQ(view(4).gridFunction, "ACV");
  EXPECT_EQ(ch(1).Division, "2");
  EXPECT_EQ(ch(1).Unit, "m");
  EXPECT_TRUE(editor.controls().stepSelected);
  // Undoing an edit by hand leaves nothing to keep.
  editor.changeFunction(4, "DCV");
  editor.changeDivision(1, "1", "(none)");
  editor.clickScanType(false);
  EXPECT_FALSE(editor.anyEdited());
}

TEST_F(EditorTest, TimeFieldsAndScanIntervalKind) {
  loadWindow();
  editor.changeTimeField(IntervalGroup::Scan, "hour", TimeFields{"1", "01", "00", "000"});
  EXPECT_EQ(shown().ScanTime, "3600");
  EXPECT_EQ(editor.controls().status, kTimeRangeMessage);
  editor.changeTimeField(IntervalGroup::Scan, "sec", TimeFields{"00", "00", "", "000"});
  EXPECT_EQ(shown().ScanTime, "0.5");
  EXPECT_EQ(editor.controls().status, kTimeNumberMessage);
  editor.clickScanIntervalKind(1);
  EXPECT_EQ(shown().ScanInterval, 1);
  EXPECT_EQ(shown().ScanTime, "0.5");

  // Start and stop times.
  const LocalMs at = makeLocalMs(2024, 6, 1, 8, 0, 0);
  editor.setStartTime(true, at);
  EXPECT_EQ(shown().StartAtTime, 1);
  EXPECT_EQ(shown().StartTime, "2024/06/01 08:00:00");
  clock.set(makeLocalMs(2024, 6, 2, 9, 30, 15));
  editor.setStartTime(false, at);
  EXPECT_EQ(shown().StartAtTime, 0);
  EXPECT_EQ(shown().StartTime, "2024/06/02 09:30:15");
}

TEST_F(EditorTest, PastingFourWireSkipsTheUpperHalf) {
  loadWindow();
  editor.changeFunction(0, "4W");
  ASSERT_TRUE(editor.copyCell(1, 3));
  EXPECT_EQ(editor.gridCopy().value(), "4W");
  EXPECT_FALSE(editor.copyCell(1, 4));  // outside the copy range

  const PasteResult r = editor.pasteCells(12, 9, 3, 3);  // counting down
  EXPECT_TRUE(r.consumed);
  EXPECT_FALSE(r.error);
  EXPECT_EQ(r.changedChannels, (std::vector<int>{9, 8}));
  EXPECT_EQ(ch(8).Function, "4W");
  EXPECT_EQ(ch(9).Function, "4W");
  EXPECT_EQ(ch(19).Function, "NONE");
  EXPECT_EQ(ch(11).Function, "DCV");

  // Not in the copied column, or from another instrument: nothing happens.
  EXPECT_FALSE(editor.pasteCells(2, 3, 3, 4).consumed);
  EXPECT_FALSE(editor.pasteCells(0, 3, 3, 3).consumed);
  InstrumentAccess none;
  editor.showInstrument(1, none);
  EXPECT_FALSE(editor.pasteCells(2, 3, 3, 3).consumed);
}

TEST_F(EditorTest, CopyRangeFollowsTheShownCard) {
  loadWindow();
  InstrumentAccess none;
  editor.showInstrument(1, none);  // 10 channels, shown after the 20-channel card
  EXPECT_EQ(editor.gridCopy().rowPosUplmt(), 10);
  editor.changeFunction(0, "4W");
  ASSERT_TRUE(editor.copyCell(1, 3));
  const PasteResult r = editor.pasteCells(4, 8, 3, 3);
  EXPECT_TRUE(r.consumed);
  EXPECT_EQ(r.changedChannels, (std::vector<int>{3, 4}));
  EXPECT_FALSE(r.error);
  EXPECT_EQ(ch(6).Function, "DCV");
  EXPECT_FALSE(editor.pasteCells(9, 11, 3, 3).consumed);  // row 11 is no channel of this card

  editor.showInstrument(0, none);
  EXPECT_EQ(editor.gridCopy().rowPosUplmt(), 20);
}

TEST_F(EditorTest, PastingAnEmptyFunctionReportsTheFailure) {
  tables.channel[0][3].Function = "";
  loadWindow();
  ASSERT_TRUE(editor.copyCell(4, 3));
  const PasteResult r = editor.pasteCells(1, 2, 3, 3);
  EXPECT_TRUE(r.consumed);
  EXPECT_TRUE(r.changedChannels.empty());
  ASSERT_TRUE(r.error);
  EXPECT_EQ(*r.error, kGridCopyFailedText);
  EXPECT_EQ(ch(0).Function, "DCV");
}

TEST_F(EditorTest, PastingCurrentOpensTheShuntWindowPerRow) {
  loadWindow();
  editor.changeFunction(0, "DCI");
  ASSERT_TRUE(editor.copyCell(1, 3));
  std::vector<int> opened;
  editor.pasteCells(2, 4, 3, 3, [&](int c) {
    EXPECT_EQ(editor.shuntChannel(), c);
    opened.push_back(c);
  });
  EXPECT_EQ(opened, (std::vector<int>{1, 2, 3}));
}

}  // namespace
}  // namespace kalivor
