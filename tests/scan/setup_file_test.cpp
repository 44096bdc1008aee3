// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "common/clock.h"
#include "scan/setup_file.h"

namespace kalivor {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> linesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find("\r\n", start);
    if (end == std::string::npos) {
      lines.push_back(text.substr(start) + "<no CR LF>");
      break;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// Replaces the value of one line "key=..." in a file text.
std::string withValue(std::string text, const std::string& key, const std::string& value) {
  const std::size_t at = text.find("\r\n" + key + "=");
  EXPECT_NE(at, std::string::npos) << key;
  const std::size_t from = at + 2 + key.size() + 1;
  text.replace(from, text.find("\r\n", from) - from, value);
  return text;
}

class SetupFileTest : public ::testing::Test {
 protected:
  SetupFileTest() : editor(tables, clock) {
    tables.setup[0].ScanerCard = 3;
    tables.setup[0].ChannelCount = 20;
    tables.setup[1].ScanerCard = 1;
    tables.setup[1].ChannelCount = 10;
    tables.setup[2].ScanerCard = 3;
    tables.setup[2].ChannelCount = 10;
    for (int slot = 0; slot < 3; ++slot) {
      for (int ch = 0; ch < 20; ++ch) {
        tables.channel[slot][ch].Function = "DCV";
        tables.channel[slot][ch].Color = rgb(ch, 0, 0);
      }
    }
    editor.load({"DMM-A", "DMM-B", "DMM-C"}, InstrumentAccess{});
    dir = fs::temp_directory_path() / ("kalivor_setup_file_test_" +
                                       std::string(::testing::UnitTest::GetInstance()
                                                       ->current_test_info()
                                                       ->name()));
    fs::remove_all(dir);
    fs::create_directories(dir);
  }
  ~SetupFileTest() override { fs::remove_all(dir); }

  void show(int slot) { editor.showInstrument(slot, InstrumentAccess{}); }
  std::string text() {
    return setupFileText(editor.working(), tables, editor.shownSlot(),
                         editor.controls().channelGroup.seconds,
                         editor.controls().scanGroup.seconds);
  }
  SetupLoadResult loadText(const std::string& t) { return loadSetup(editor, IniFile::fromText(t)); }

  // A setup with something of everything on the 20-channel thermocouple card.
  void editRichSetup() {
    editor.clickScanType(true);
    editor.clickPerChannelInterval(true);
    editor.changeTimeField(IntervalGroup::Channel, "sec", TimeFields{"00", "00", "1", "500"});
    editor.changeScanCount("5");
    editor.clickCountMode(1);
    editor.changeTimeField(IntervalGroup::Scan, "min", TimeFields{"0", "2", "0", "0"});
    editor.clickScanIntervalKind(1);
    editor.changeFunction(2, "4W");
    editor.chooseTemperatureType(4, 3);
    editor.changeFunction(4, "TEMP");
    editor.chooseThermocoupleType(6, 2);
    editor.changeFunction(6, "TCOUPL");
    editor.changeFunction(7, "DCI");
    tables.channel[0][7].Ohm = 0.1;
    tables.channel[0][7].Current = 0.002;
    editor.clickEnable(9, false);
    editor.changeDivision(5, "2", "m");
    editor.changeOffset(5, "-1.5");
  }

  ManualClock clock;
  ScanTables tables;
  ScanSetEditor editor;
  fs::path dir;
};

TEST_F(SetupFileTest, LinesOfATenChannelCardOne) {
  show(1);
  tables.channel[1][3].Ohm = 0.5;
  tables.channel[1][3].Current = -0.25;
  const std::string t = text();
  const auto lines = linesOf(t);
  const std::vector<std::string> head = {
      "[Scaner Card]", "ScanerCard=1",       "[Channel Count]",  "ChannelCount=10",
      "[Scan Type]",   "ScanType=SCAN",      "[Scan Count]",     "scanCount_Status=2",
      "ScanCount=10",  "[Scan Interval]",    "ChannelInterval=0", "ChannelTime=0.5",
      "ScanInterval=0", "ScanTime=10",       "[Enable Channel]", "EnableChannel(0)=1"};
  ASSERT_GE(lines.size(), head.size());
  EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + head.size()), head);
  // 14 head lines, then 6 sections with 1+1+2+2+1 lines per channel (no sensor section).
  EXPECT_EQ(lines.size(), 14u + 5u + 10u * 7u);
  for (const auto& line : lines) EXPECT_FALSE(line.empty());
  EXPECT_EQ(t.find("TEMP"), std::string::npos);
  const auto at = [&](const std::string& l) {
    return std::find(lines.begin(), lines.end(), l) - lines.begin();
  };
  EXPECT_LT(at("EnableChannel(9)=1"), at("[Function]"));
  EXPECT_EQ(at("Function(0)=DCV"), at("[Function]") + 1);
  EXPECT_EQ(at("Ohm(3)=0.5") + 1, at("Current(3)=-0.25"));
  EXPECT_EQ(at("Ohm(0)=1") + 1, at("Current(0)=0"));
  EXPECT_EQ(at("Division(9)=1") + 1, at("Unit(9)=(none)"));
  EXPECT_EQ(at("[Offset]") + 10, at("Offset(9)=0"));
  EXPECT_EQ(lines.back(), "Offset(9)=0");
}

TEST_F(SetupFileTest, ThermocoupleCardWritesSensorTypesAndTheBoxTexts) {
  editRichSetup();
  const std::string t = setupFileText(editor.working(), tables, 0, "1.5", "99");
  EXPECT_NE(t.find("\r\n[TEMP Type/ TCO Type]\r\nTEMP_TCO(0)=None\r\n"), std::string::npos);
  EXPECT_NE(t.find("\r\nTEMP_TCO(4)=PT385\r\n"), std::string::npos);
  EXPECT_NE(t.find("\r\nChannelTime=1.5\r\nScanInterval=1\r\nScanTime=99\r\n"),
            std::string::npos);
  EXPECT_NE(t.find("\r\nscanCount_Status=1\r\nScanCount=5\r\n"), std::string::npos);
  EXPECT_NE(t.find("\r\nFunction(12)=NONE\r\n"), std::string::npos);
  EXPECT_NE(t.find("\r\nEnableChannel(12)=0\r\n"), std::string::npos);
  EXPECT_NE(t.find("\r\nOhm(7)=0.1\r\nCurrent(7)=0.002\r\n"), std::string::npos);
  EXPECT_NE(t.find("\r\nDivision(5)=2\r\nUnit(5)=m\r\n"), std::string::npos);
  EXPECT_LT(t.find("[DCI_ACI]"), t.find("[TEMP Type/ TCO Type]"));
  EXPECT_LT(t.find("[TEMP Type/ TCO Type]"), t.find("[Division]"));
}

TEST_F(SetupFileTest, SavedAndLoadedSetupIsTheSame) {
  editRichSetup();
  const std::string path = (dir / "DMM-A.ini").string();
  ASSERT_TRUE(saveSetupFile(editor, path).ok);
  const WorkingCopy saved = editor.working();
  const ScanControlsView savedControls = editor.controls();

  // Start again from the window's defaults and a fresh shunt table.
  tables.channel[0][7].Ohm = 1;
  tables.channel[0][7].Current = 0;
  editor.load({"DMM-A"}, InstrumentAccess{});
  ASSERT_EQ(editor.shownChannel(12).Function, "DCV");
  const SetupLoadResult r = loadSetupFile(editor, path);
  ASSERT_EQ(r.status, SetupLoadResult::Status::Loaded) << r.stoppedAt;
  EXPECT_TRUE(r.askConfirmation());
  EXPECT_FALSE(editor.loading());

  const ScanSetup& a = saved.setup[0];
  const ScanSetup& b = editor.working().setup[0];
  EXPECT_EQ(b.ScanType, a.ScanType);
  EXPECT_EQ(b.scanCount_Status, a.scanCount_Status);
  EXPECT_EQ(b.ScanCount, a.ScanCount);
  EXPECT_EQ(b.ChannelInterval, a.ChannelInterval);
  EXPECT_EQ(b.ChannelTime, a.ChannelTime);
  EXPECT_EQ(b.ScanInterval, a.ScanInterval);
  EXPECT_EQ(b.ScanTime, a.ScanTime);
  for (int i = 0; i < 20; ++i) {
    const ChannelSetup& x = saved.channel[0][i];
    const ChannelSetup& y = editor.working().channel[0][i];
    EXPECT_EQ(y.EnableChannel, x.EnableChannel) << i;
    EXPECT_EQ(y.Function, x.Function) << i;
    EXPECT_EQ(y.TEMP_TCO, x.TEMP_TCO) << i;
    EXPECT_EQ(y.SensorTypeIndex, x.SensorTypeIndex) << i;
    EXPECT_EQ(y.Division, x.Division) << i;
    EXPECT_EQ(y.Unit, x.Unit) << i;
    EXPECT_EQ(y.Offset, x.Offset) << i;
    EXPECT_EQ(y.PartnerFlag, x.PartnerFlag) << i;
    EXPECT_EQ(y.Color, x.Color) << i;
  }
  EXPECT_EQ(tables.channel[0][7].Ohm, 0.1);
  EXPECT_EQ(tables.channel[0][7].Current, 0.002);

  // The pairing is back in the controls too.
  EXPECT_EQ(editor.shownView(12).functionText, "NONE");
  EXPECT_FALSE(editor.shownView(12).functionSelectable);
  EXPECT_FALSE(editor.shownView(12).enableTicked);
  EXPECT_EQ(editor.shownView(2).gridFunction, "4W");
  EXPECT_EQ(editor.shownView(4).gridSensor, "PT385");
  EXPECT_EQ(editor.shownView(4).temperatureIndex, 3);
  EXPECT_EQ(editor.shownView(6).thermocoupleIndex, 2);
  EXPECT_FALSE(editor.shownView(9).enableTicked);
  const ScanControlsView& c = editor.controls();
  EXPECT_TRUE(c.stepSelected);
  EXPECT_EQ(c.countMode, 1);
  EXPECT_EQ(c.nScan, "5");
  EXPECT_TRUE(c.perChannelTicked);
  EXPECT_EQ(c.channelGroup.seconds, savedControls.channelGroup.seconds);
  EXPECT_EQ(c.channelGroup.fields, (TimeFields{"0", "0", "1", "500"}));
  EXPECT_EQ(c.scanGroup.seconds, "120");
  EXPECT_EQ(c.scanKindIndex, 1);
  // Saving again gives the same file.
  EXPECT_EQ(text(), readFile(path));
}

TEST_F(SetupFileTest, FileOfAnotherCardOrChannelCountIsRefused) {
  const std::string twenty = text();  // card 3, 20 channels
  show(2);                            // card 3, 10 channels
  const WorkingCopy before = editor.working();
  SetupLoadResult r = loadText(twenty);
  EXPECT_EQ(r.status, SetupLoadResult::Status::Refused);
  ASSERT_TRUE(r.message);
  EXPECT_EQ(r.message->text, kLoadFailedText);
  EXPECT_EQ(r.message->title, "Warning");
  EXPECT_EQ(r.message->icon, MessageIcon::Critical);
  EXPECT_EQ(r.message->buttons, MessageButtons::Ok);
  EXPECT_FALSE(r.askConfirmation());

  show(1);  // card 1
  EXPECT_EQ(loadText(twenty).status, SetupLoadResult::Status::Refused);
  EXPECT_EQ(loadText("").status, SetupLoadResult::Status::Refused);
  EXPECT_EQ(loadText(withValue(twenty, "ScanerCard", "01")).status,
            SetupLoadResult::Status::Refused);
  EXPECT_EQ(loadSetupFile(editor, (dir / "missing.ini").string()).status,
            SetupLoadResult::Status::Refused);

  show(0);
  r = loadText(withValue(withValue(twenty, "ChannelCount", "twenty"), "ScanType", "STEP"));
  EXPECT_EQ(r.status, SetupLoadResult::Status::NotANumber);
  EXPECT_FALSE(r.message);
  EXPECT_EQ(editor.shownSetup().ScanType, "SCAN");
  EXPECT_EQ(editor.working().channel[2][3].Function, before.channel[2][3].Function);
}

TEST_F(SetupFileTest, CardOneFileLeavesSensorTypesAlone) {
  show(1);
  const std::string t = text();
  editor.shownChannel(3).TEMP_TCO = "K";
  ASSERT_EQ(loadText(t).status, SetupLoadResult::Status::Loaded);
  EXPECT_EQ(editor.shownChannel(3).TEMP_TCO, "K");
}

TEST_F(SetupFileTest, KeysAreFoundInAnyOrderAndCase) {
  show(1);
  std::string t = text();
  t = withValue(t, "Function(4)", "ACV");
  // Move the function section to the front and shout its key names.
  const std::size_t from = t.find("[Function]");
  const std::size_t to = t.find("[DCI_ACI]");
  std::string block = t.substr(from, to - from);
  t.erase(from, to - from);
  for (std::size_t p = 0; (p = block.find("Function(", p)) != std::string::npos; ++p) {
    block.replace(p, 8, "FUNCTION");
  }
  t = "[function]\r\n" + block.substr(block.find("\r\n") + 2) + t;
  ASSERT_EQ(loadText(t).status, SetupLoadResult::Status::Loaded);
  EXPECT_EQ(editor.shownChannel(4).Function, "ACV");
}

TEST_F(SetupFileTest, FirstBadKeyEndsTheLoadAndKeepsWhatWasRead) {
  const std::string good = text();
  editor.shownChannel(14).Function = "DCV";

  // A function the upper half cannot show.
  SetupLoadResult r = loadText(withValue(withValue(good, "Function(13)", "ACV"),
                                         "Function(15)", "4W"));
  EXPECT_EQ(r.status, SetupLoadResult::Status::EndedEarly);
  EXPECT_EQ(r.stoppedAt, "Function/Function(15)");
  EXPECT_FALSE(r.askConfirmation());
  EXPECT_FALSE(editor.loading());
  EXPECT_EQ(editor.shownChannel(13).Function, "ACV");

  // A shunt of 0 ohm ends it too; earlier channels keep their new values.
  r = loadText(withValue(withValue(good, "Ohm(2)", "0.25"), "Ohm(3)", "0"));
  EXPECT_EQ(r.stoppedAt, "DCI_ACI/Ohm(3)");
  EXPECT_EQ(tables.channel[0][2].Ohm, 0.25);
  EXPECT_EQ(tables.channel[0][3].Ohm, 1.0);
  EXPECT_EQ(loadText(withValue(good, "Ohm(0)", "-5")).stoppedAt, "DCI_ACI/Ohm(0)");
  EXPECT_EQ(loadText(withValue(good, "Current(1)", "x")).stoppedAt, "DCI_ACI/Current(1)");

  // Whole numbers: missing, not numeric or outside their values.
  r = loadText(withValue(withValue(good, "ScanType", "STEP"), "scanCount_Status", ""));
  EXPECT_EQ(r.stoppedAt, "Scan Count/scanCount_Status");
  EXPECT_EQ(editor.shownSetup().ScanType, "STEP");  // read before the bad key
  EXPECT_TRUE(editor.controls().stepSelected);
  EXPECT_EQ(loadText(withValue(good, "scanCount_Status", "7")).stoppedAt,
            "Scan Count/scanCount_Status");
  EXPECT_EQ(loadText(withValue(good, "ChannelInterval", "yes")).stoppedAt,
            "Scan Interval/ChannelInterval");
  EXPECT_EQ(loadText(withValue(good, "EnableChannel(3)", "2")).stoppedAt,
            "Enable Channel/EnableChannel(3)");
  // Interval seconds must be numbers within 0..3600 (they go to the instrument).
  EXPECT_EQ(loadText(withValue(good, "ChannelTime", "0.5;*RST")).stoppedAt,
            "Scan Interval/ChannelTime");
  EXPECT_EQ(loadText(withValue(good, "ScanTime", "4000")).stoppedAt, "Scan Interval/ScanTime");
  EXPECT_EQ(loadText(withValue(good, "ScanCount", "many")).stoppedAt, "Scan Count/ScanCount");
  // So must sensor types: they are sent inside instrument commands.
  EXPECT_EQ(loadText(withValue(good, "TEMP_TCO(2)", "K ,@1;*RST")).stoppedAt,
            "TEMP Type/ TCO Type/TEMP_TCO(2)");
  EXPECT_EQ(loadText(withValue(good, "Unit(4)", "x")).stoppedAt, "Division/Unit(4)");
}

TEST_F(SetupFileTest, LoadedValuesAreShownTheWayTheBoxesWouldCorrectThem) {
  std::string t = text();
  t = withValue(withValue(t, "scanCount_Status", "0"), "ScanCount", "5000");
  t = withValue(withValue(t, "ScanInterval", "5"), "ScanType", "scan");
  t = withValue(withValue(t, "TEMP_TCO(1)", "PT3916"), "TEMP_TCO(2)", "None");
  t = withValue(t, "Function(1)", "TEMP");
  ASSERT_EQ(loadText(t).status, SetupLoadResult::Status::Loaded);
  const ScanSetup& s = editor.shownSetup();
  EXPECT_EQ(s.ScanCount, "2000");
  EXPECT_EQ(editor.controls().nChannelScan, "2000");
  EXPECT_EQ(s.ScanInterval, 0);
  EXPECT_EQ(s.ScanType, "SCAN");
  EXPECT_EQ(editor.shownChannel(1).TEMP_TCO, "PT3916");
  EXPECT_EQ(editor.shownChannel(1).SensorTypeIndex, 4);
  EXPECT_EQ(editor.shownView(1).gridSensor, "PT3916");
  EXPECT_EQ(editor.shownView(2).gridSensor, "None");
  EXPECT_FALSE(editor.controls().stopEnabled);  // "After N Channel"
}

TEST_F(SetupFileTest, CountsAreWholeNumbersInEveryMode) {
  const std::string good = text();
  struct Case {
    const char* mode;
    const char* count;
    const char* expected;
  };
  // Mode 2 always counts the card's channels (20 here).
  for (const Case& c : {Case{"0", "25.6", "26"}, Case{"1", "25.6", "26"}, Case{"0", "2.5", "2"},
                        Case{"1", "0.4", "1"}, Case{"0", "1e9", "2000"}, Case{"1", "7", "7"},
                        Case{"2", "25.6", "20"}}) {
    const std::string t = withValue(withValue(good, "scanCount_Status", c.mode), "ScanCount", c.count);
    ASSERT_EQ(loadText(t).status, SetupLoadResult::Status::Loaded) << c.mode << " " << c.count;
    EXPECT_EQ(editor.shownSetup().ScanCount, c.expected) << c.mode << " " << c.count;
  }
  // What Set sends is the whole count.
  ASSERT_EQ(loadText(withValue(withValue(good, "scanCount_Status", "0"), "ScanCount", "25.6")).status,
            SetupLoadResult::Status::Loaded);
  EXPECT_EQ(editor.controls().nChannelScan, "26");
}

TEST_F(SetupFileTest, ScanTypeIsReadWithoutRegardToCaseAndNothingElseIsTaken) {
  const std::string good = text();
  for (const char* step : {"STEP", "step", "Step", " sTeP "}) {
    ASSERT_EQ(loadText(withValue(good, "ScanType", step)).status, SetupLoadResult::Status::Loaded)
        << step;
    EXPECT_EQ(editor.shownSetup().ScanType, "STEP") << step;
    EXPECT_TRUE(editor.controls().stepSelected) << step;
  }
  ASSERT_EQ(loadText(withValue(good, "ScanType", "Scan")).status, SetupLoadResult::Status::Loaded);
  EXPECT_EQ(editor.shownSetup().ScanType, "SCAN");
  for (const char* other : {"STEPS", "", "1", "SCAN STEP"}) {
    const SetupLoadResult r = loadText(withValue(good, "ScanType", other));
    EXPECT_EQ(r.status, SetupLoadResult::Status::EndedEarly) << other;
    EXPECT_EQ(r.stoppedAt, "Scan Type/ScanType") << other;
    EXPECT_EQ(editor.shownSetup().ScanType, "SCAN") << "kept what it was: " << other;
  }
}

TEST_F(SetupFileTest, ScalingAndAlarmLimitsHaveSectionsOfTheirOwn) {
  const std::string plain = text();
  EXPECT_EQ(plain.find("[Scaling]"), std::string::npos);
  EXPECT_EQ(plain.find("[Alarm Limits]"), std::string::npos);

  ChannelSetup& two = editor.shownChannel(2);
  two.ScaleOn = 1;
  two.ScaleGain = 2.5;
  two.ScaleOffset = -1;
  two.ScaleUnit = "bar";
  editor.shownChannel(5).AlarmLow = 0.1;
  editor.shownChannel(5).AlarmHigh = 5;
  editor.shownChannel(6).AlarmHigh = -3;
  const std::string t = text();
  // The old sections come first, unchanged; the new ones follow.
  EXPECT_EQ(t.substr(0, plain.size()), plain);
  EXPECT_NE(t.find("\r\n[Scaling]\r\nScale(0)=0\r\nScaleGain(0)=1\r\nScaleOffset(0)=0\r\n"
                   "ScaleUnit(0)=\r\n"),
            std::string::npos);
  EXPECT_NE(t.find("\r\nScale(2)=1\r\nScaleGain(2)=2.5\r\nScaleOffset(2)=-1\r\nScaleUnit(2)=bar\r\n"),
            std::string::npos);
  EXPECT_NE(t.find("\r\n[Alarm Limits]\r\nAlarmLow(0)=\r\nAlarmHigh(0)=\r\n"), std::string::npos);
  EXPECT_NE(t.find("\r\nAlarmLow(5)=0.1\r\nAlarmHigh(5)=5\r\nAlarmLow(6)=\r\nAlarmHigh(6)=-3\r\n"),
            std::string::npos);

  // A file from before has none of them: loading it switches them off.
  ASSERT_EQ(loadText(plain).status, SetupLoadResult::Status::Loaded);
  for (int i = 0; i < 20; ++i) {
    EXPECT_EQ(editor.shownChannel(i).ScaleOn, 0) << i;
    EXPECT_EQ(editor.shownChannel(i).ScaleUnit, "") << i;
    EXPECT_FALSE(editor.shownChannel(i).AlarmLow) << i;
    EXPECT_FALSE(editor.shownChannel(i).AlarmHigh) << i;
  }
  EXPECT_EQ(text(), plain);

  // The file with them brings everything back.
  ASSERT_EQ(loadText(t).status, SetupLoadResult::Status::Loaded);
  EXPECT_EQ(editor.shownChannel(2).ScaleOn, 1);
  EXPECT_EQ(editor.shownChannel(2).ScaleGain, 2.5);
  EXPECT_EQ(editor.shownChannel(2).ScaleOffset, -1.0);
  EXPECT_EQ(editor.shownChannel(2).ScaleUnit, "bar");
  EXPECT_EQ(editor.shownChannel(5).AlarmLow, 0.1);
  EXPECT_EQ(editor.shownChannel(6).AlarmHigh, -3.0);
  EXPECT_FALSE(editor.shownChannel(6).AlarmLow);
  EXPECT_EQ(text(), t);
}

TEST_F(SetupFileTest, WrongScalingOrLimitsEndTheLoadAtTheirKey) {
  ChannelSetup& c = editor.shownChannel(3);
  c.ScaleOn = 1;
  c.AlarmLow = 1;
  c.AlarmHigh = 2;
  const std::string good = text();
  ASSERT_EQ(loadText(good).status, SetupLoadResult::Status::Loaded);
  EXPECT_EQ(loadText(withValue(good, "Scale(1)", "2")).stoppedAt, "Scaling/Scale(1)");
  EXPECT_EQ(loadText(withValue(good, "ScaleGain(3)", "x")).stoppedAt, "Scaling/ScaleGain(3)");
  EXPECT_EQ(loadText(withValue(good, "ScaleOffset(3)", "1e999")).stoppedAt, "Scaling/ScaleOffset(3)");
  EXPECT_EQ(loadText(withValue(good, "ScaleUnit(0)", "kilopascal")).stoppedAt, "Scaling/ScaleUnit(0)");
  EXPECT_EQ(loadText(withValue(good, "AlarmLow(3)", "low")).stoppedAt, "Alarm Limits/AlarmLow(3)");
  EXPECT_EQ(loadText(withValue(good, "AlarmLow(3)", "3")).stoppedAt, "Alarm Limits/AlarmHigh(3)");
}

TEST_F(SetupFileTest, ShuntValuesAreSavedAsPlainDecimals) {
  tables.channel[0][0].Ohm = 1e-7;
  tables.channel[0][1].Ohm = 100000;
  tables.channel[0][1].Current = -2.5e-5;
  const std::string t = text();
  EXPECT_NE(t.find("\r\nOhm(0)=0.0000001\r\n"), std::string::npos);
  EXPECT_NE(t.find("\r\nOhm(1)=100000\r\nCurrent(1)=-0.000025\r\n"), std::string::npos);
  ASSERT_EQ(loadText(t).status, SetupLoadResult::Status::Loaded);
  EXPECT_EQ(tables.channel[0][0].Ohm, 1e-7);
  EXPECT_EQ(tables.channel[0][1].Current, -2.5e-5);
}

TEST_F(SetupFileTest, PairingWinsOverTheFileForTheUpperPartner) {
  std::string t = text();
  t = withValue(withValue(t, "Function(3)", "4W"), "Function(13)", "DCV");
  t = withValue(t, "EnableChannel(13)", "1");
  ASSERT_EQ(loadText(t).status, SetupLoadResult::Status::Loaded);
  EXPECT_EQ(editor.shownChannel(13).Function, "NONE");
  EXPECT_EQ(editor.shownChannel(13).EnableChannel, 0);
  EXPECT_EQ(editor.shownChannel(13).PartnerFlag, 1);
  EXPECT_FALSE(editor.shownView(13).functionSelectable);

  // A file without the 4-wire channel releases the partner.
  ASSERT_EQ(loadText(text()).status, SetupLoadResult::Status::Loaded);
  ASSERT_EQ(loadText(withValue(withValue(text(), "Function(3)", "DCV"), "Function(13)", "ACV"))
                .status,
            SetupLoadResult::Status::Loaded);
  EXPECT_EQ(editor.shownChannel(13).Function, "ACV");
  EXPECT_TRUE(editor.shownView(13).functionSelectable);
  EXPECT_EQ(editor.shownChannel(13).PartnerFlag, 0);
}

TEST_F(SetupFileTest, FailedSaveNamesTheFileAndKeepsTheOldOne) {
  const std::string nowhere = (dir / "no such folder" / "setup.ini").string();
  const SaveResult r = saveSetupFile(editor, nowhere);
  EXPECT_FALSE(r.ok);
  EXPECT_NE(r.error.find(nowhere), std::string::npos) << r.error;

  // A folder in the way of the file: the save fails and nothing is left behind.
  const fs::path blocked = dir / "blocked.ini";
  fs::create_directories(blocked / "inner");
  const SaveResult b = saveSetupFile(editor, blocked.string());
  EXPECT_FALSE(b.ok);
  EXPECT_NE(b.error.find(blocked.string()), std::string::npos);
  EXPECT_TRUE(fs::is_directory(blocked / "inner"));
  EXPECT_FALSE(fs::exists(blocked.string() + ".saving"));

  EXPECT_FALSE(writeSetupFile("", "x").ok);

  // A successful save replaces an existing file completely.
  const std::string path = (dir / "old.ini").string();
  { std::ofstream(path, std::ios::binary) << std::string(100000, 'z'); }
  ASSERT_TRUE(saveSetupFile(editor, path).ok);
  EXPECT_EQ(readFile(path), text());
}

}  // namespace
}  // namespace kalivor
