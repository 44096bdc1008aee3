// SPDX-License-Identifier: MIT
#include "scan/setup_model.h"

#include "scan/channel_extras.h"

#include <algorithm>

#include "common/numbers.h"

namespace kalivor {
namespace {

const std::vector<std::string> kLowerCard12 = {"DCV", "ACV", "DCI", "ACI", "2W",
                                               "4W",  "FREQ", "PER", "NONE"};
const std::vector<std::string> kUpperCard12 = {"DCV", "ACV", "DCI", "ACI",
                                               "2W",  "FREQ", "PER", "NONE"};
const std::vector<std::string> kLowerCard3 = {"DCV",  "ACV", "DCI", "ACI",    "2W",    "4W",
                                              "FREQ", "PER", "TCOUPL", "TEMP", "4W,TEMP", "NONE"};
const std::vector<std::string> kUpperCard3 = {"DCV", "ACV", "DCI",    "ACI",  "2W",
                                              "FREQ", "PER", "TCOUPL", "TEMP", "NONE"};
const std::vector<std::string> kCard4 = {"DCV", "ACV", "DCI", "ACI", "FREQ", "PER", "NONE"};
const std::vector<std::string> kNoFunctions;

const std::vector<std::string>& listFor(int card, bool lower) {
  switch (card) {
    case 1:
    case 2: return lower ? kLowerCard12 : kUpperCard12;
    case 3: return lower ? kLowerCard3 : kUpperCard3;
    case 4: return kCard4;
    default: return kNoFunctions;
  }
}

template <std::size_t N>
std::optional<int> positionIn(const std::array<const char*, N>& list, std::string_view text) {
  for (std::size_t i = 0; i < N; ++i) {
    if (text == list[i]) return static_cast<int>(i);
  }
  return std::nullopt;
}

bool validSlot(int slot) { return slot >= 0 && slot < kSlotTableSize; }

std::string wholeNumberText(std::string_view text) {
  const auto v = strictNumber(text);
  const auto whole = v ? toInt16(*v) : std::nullopt;
  return whole ? intToText(*whole) : "1";
}

}  // namespace

// ---- Value lists -------------------------------------------------------------------------------

SensorKind classifySensorType(std::string_view text) {
  if (positionIn(kTemperatureSensorTypes, text)) return SensorKind::Temperature;
  if (positionIn(kThermocoupleTypes, text)) return SensorKind::Thermocouple;
  return SensorKind::Neither;
}

std::optional<int> sensorTypeIndex(std::string_view text) {
  if (auto i = positionIn(kTemperatureSensorTypes, text)) return i;
  return positionIn(kThermocoupleTypes, text);
}

bool isDivisionUnit(std::string_view text) { return positionIn(kDivisionUnits, text).has_value(); }

// ---- Channel functions and 4-wire pairing ------------------------------------------------------

bool isLowerHalf(int channelCount, int channelIndex) {
  return channelIndex < channelCount / 2.0;
}

std::vector<std::string> functionList(int card, int channelCount, int channelIndex) {
  return listFor(card, isLowerHalf(channelCount, channelIndex));
}

bool functionListContains(int card, int channelCount, int channelIndex,
                          std::string_view function) {
  const auto& list = listFor(card, isLowerHalf(channelCount, channelIndex));
  return std::find(list.begin(), list.end(), function) != list.end();
}

bool isFourWireFunction(std::string_view function) {
  return function == "4W" || function == "4W,TEMP";
}

bool isTemperatureFunction(std::string_view function) {
  return function == "TEMP" || function == "4W,TEMP";
}

int fourWireOffset(int channelCount) {
  return static_cast<int>(roundHalfEven(channelCount / 2.0));
}

int usedChannels(int channelCount) { return std::clamp(channelCount, 0, kMaxChannels); }

std::optional<int> fourWirePartner(int channelCount, int lowerIndex) {
  if (lowerIndex < 0 || !isLowerHalf(channelCount, lowerIndex)) return std::nullopt;
  const int partner = lowerIndex + fourWireOffset(channelCount);
  if (partner >= usedChannels(channelCount)) return std::nullopt;
  return partner;
}

bool isPairedByLower(const ChannelRow& row, int channelCount, int channelIndex) {
  const int lower = channelIndex - fourWireOffset(channelCount);
  if (lower < 0) return false;
  const auto partner = fourWirePartner(channelCount, lower);
  return partner == channelIndex && isFourWireFunction(row[lower].Function);
}

void recomputePartnerFlags(ChannelRow& row, int channelCount) {
  const int used = usedChannels(channelCount);
  for (int i = 0; i < used; ++i) {
    row[i].PartnerFlag =
        row[i].Function == "NONE" && isPairedByLower(row, channelCount, i) ? 1 : 0;
  }
}

// ---- Defaults ----------------------------------------------------------------------------------

void resetScanSetupForConnect(ScanTables& tables, int slot, LocalMs now) {
  if (!validSlot(slot)) return;
  tables.ScansDone[slot] = 0;
  tables.DatabaseName[slot] = "0";
  ScanSetup& s = tables.setup[slot];
  s.ScanType = "SCAN";
  s.scanCount_Status = 2;
  s.ScanCount = "0";
  s.ChannelInterval = 0;
  s.ChannelTime = numberToText(0.5);
  s.ScanInterval = 0;
  s.ScanTime = "0.5";
  s.StartAtTime = 0;
  s.StartTime = formatDateTime(now);
  s.StopAtTime = 0;
  s.StopTime = formatDateTime(now);
  for (int i = 0; i < kMaxChannels; ++i) {
    ChannelSetup& c = tables.channel[slot][i];
    c.Division = "1";
    c.Offset = "0";
    c.Ohm = 1.0;
    c.Current = 0.0;
    c.TEMP_TCO = "None";
    tables.ReadingText[slot][i] = " ";
  }
}

void applyWindowDefaults(WorkingCopy& working, const ScanTables& applied, int slot, LocalMs now) {
  if (!validSlot(slot)) return;
  const ScanSetup& a = applied.setup[slot];
  ScanSetup& s = working.setup[slot];
  s.ScanerCard = a.ScanerCard;
  s.ChannelCount = a.ChannelCount;
  s.ScanType = "SCAN";
  s.scanCount_Status = 2;
  s.ScanCount = intToText(a.ChannelCount);
  s.ChannelInterval = 0;
  s.ChannelTime = "0.5";
  s.ScanInterval = 0;
  s.ScanTime = "10";
  s.StartAtTime = 0;
  s.StartTime = formatDateTime(now);
  s.StopAtTime = 0;
  s.StopTime = formatDateTime(now);
  const int used = usedChannels(a.ChannelCount);
  for (int i = 0; i < used; ++i) {
    const ChannelSetup& ac = applied.channel[slot][i];
    ChannelSetup& c = working.channel[slot][i];
    c.EnableChannel = 1;
    c.Function = ac.Function;
    c.TEMP_TCO = ac.TEMP_TCO;
    c.SensorTypeIndex = ac.SensorTypeIndex;
    c.Color = ac.Color;
    copyExtras(ac, c);
    c.Division = "1";
    c.Unit = "(none)";
    c.Offset = "0";
    c.Ohm = ac.Ohm;
    c.Current = ac.Current;
  }
  recomputePartnerFlags(working.channel[slot], a.ChannelCount);
}

// ---- Small window rules ------------------------------------------------------------------------

std::string clampCountText(std::string_view text, int limit) {
  const auto v = strictNumber(text);
  if (!v || !(*v > 0)) return "1";
  if (*v > limit) return intToText(limit);
  return std::string(text);
}

IntervalAvailability intervalAvailability(int countMode, bool stepSelected) {
  IntervalAvailability a;
  if (countMode == 0) {
    a.scanKindEnabled = false;
    a.scanFieldsEnabled = false;
  } else if (!stepSelected) {
    a.perChannelEnabled = false;
    a.untickPerChannel = true;
  }
  return a;
}

// ---- ScanSetEditor -----------------------------------------------------------------------------

ScanSetEditor::ScanSetEditor(ScanTables& applied, Clock& clock) : applied_(applied), clock_(clock) {
  controls_.startPicker = controls_.stopPicker = clock_.now();
}

std::string ScanSetEditor::suggestedFileName() const {
  const auto k = static_cast<std::size_t>(working_.shownSlot);
  return k < deviceEntries_.size() ? deviceEntries_[k] : std::string();
}

void ScanSetEditor::resetControlsForLoad() {
  const LocalMs now = clock_.now();
  controls_.perChannelTicked = false;
  controls_.channelGroup = IntervalGroupView{};
  controls_.channelGroup.fieldsEnabled = false;
  controls_.nChannelScan = "1";
  controls_.nScan = "1";
  controls_.scanKindIndex = 0;
  controls_.scanGroup = IntervalGroupView{};
  controls_.startPicker = now;
  controls_.stopPicker = now;
  controls_.status.clear();
}

ShowOutcome ScanSetEditor::load(std::vector<std::string> deviceEntries,
                                const InstrumentAccess& access) {
  deviceEntries_ = std::move(deviceEntries);
  loading_ = true;
  checkAllGuard_ = false;
  resetControlsForLoad();
  const LocalMs now = clock_.now();
  for (int slot = 0; slot < kSlotTableSize; ++slot) {
    applyWindowDefaults(working_, applied_, slot, now);
    for (int ch = 0; ch < kChannelTableSize; ++ch) {
      ChannelView v;
      v.functionText = working_.channel[slot][ch].Function;
      views_[slot][ch] = v;
    }
  }
  const std::size_t listed = std::min<std::size_t>(deviceEntries_.size(), kMaxInstruments);
  for (std::size_t k = 0; k < listed; ++k) {
    if (access.readBack) access.readBack(static_cast<int>(k));
  }
  const ShowOutcome outcome = showInstrument(0, access);
  loading_ = true;
  for (int ch = 0; ch < shownChannelCount(); ++ch) {
    const int index = shownChannel(ch).SensorTypeIndex;
    shownView(ch).temperatureIndex = shownView(ch).thermocoupleIndex =
        index >= 0 && index < 7 ? index : -1;
  }
  setCopyRange();
  copy_.colPosLwlmt(3);
  copy_.colPosUplmt(3);
  copy_.enableCopy(false);
  loading_ = false;
  for (int slot = 0; slot < kSlotTableSize; ++slot) markUnedited(slot);
  return outcome;
}

bool ScanSetEditor::edited(int slot) const {
  if (!validSlot(slot) || !unedited_[slot]) return false;
  const SlotCopy& was = *unedited_[slot];
  return !(was.setup == working_.setup[slot] && was.channel == working_.channel[slot]);
}

bool ScanSetEditor::anyEdited() const {
  for (int slot = 0; slot < kSlotTableSize; ++slot) {
    if (edited(slot)) return true;
  }
  return false;
}

void ScanSetEditor::markUnedited(int slot) {
  if (validSlot(slot)) unedited_[slot] = SlotCopy{working_.setup[slot], working_.channel[slot]};
}

ShowOutcome ScanSetEditor::showInstrument(int slot, const InstrumentAccess& access) {
  if (!validSlot(slot)) return ShowOutcome::Shown;
  if (edited(slot)) {
    // Back to an instrument whose edits were not set yet: show them as they were left rather
    // than read the instrument over them.
    working_.shownSlot = static_cast<std::int16_t>(slot);
    controls_.status.clear();
    loading_ = true;
    shuntSlot_ = slot;
    setCopyRange();
    refreshScanControls();
    loading_ = false;
    return ShowOutcome::Shown;
  }
  for (auto& v : views_[slot]) {
    v.gridFunction.clear();
    v.gridSensor.clear();
  }
  working_.shownSlot = static_cast<std::int16_t>(slot);
  controls_.status.clear();
  if (access.lastExchangeFailed && access.lastExchangeFailed()) return ShowOutcome::LinkFailed;
  if (access.readBack) access.readBack(slot);

  loading_ = true;
  const int used = shownChannelCount();
  ChannelRow& row = working_.channel[slot];
  for (int ch = 0; ch < used; ++ch) {
    const int index = row[ch].SensorTypeIndex;
    views_[slot][ch].temperatureIndex = views_[slot][ch].thermocoupleIndex =
        index >= 0 && index < 7 ? index : -1;
  }
  shuntSlot_ = slot;
  // Copy and paste cover the rows of the card shown, so a 10-channel card shown after a
  // 20-channel one keeps its 4-wire check at its own half.
  setCopyRange();
  refreshScanControls();
  for (int ch = 0; ch < used; ++ch) {
    views_[slot][ch].gridFunction = applied_.channel[slot][ch].Function;
    views_[slot][ch].gridSensor = applied_.channel[slot][ch].TEMP_TCO;
    views_[slot][ch].enableTicked = row[ch].EnableChannel == 1;
  }
  recomputePartnerFlags(row, shownSetup().ChannelCount);
  loading_ = false;
  markUnedited(slot);
  return ShowOutcome::Shown;
}

void ScanSetEditor::setCopyRange() {
  copy_.rowPosLwlmt(1);
  copy_.rowPosUplmt(shownSetup().ChannelCount == 20 ? 20 : 10);
}

void ScanSetEditor::applyAvailability() {
  const IntervalAvailability a =
      intervalAvailability(controls_.countMode, controls_.stepSelected);
  controls_.perChannelEnabled = a.perChannelEnabled;
  controls_.scanKindEnabled = a.scanKindEnabled;
  controls_.scanGroup.fieldsEnabled = a.scanFieldsEnabled;
  if (a.untickPerChannel) {
    const bool wasTicked = controls_.perChannelTicked;
    controls_.perChannelTicked = false;
    controls_.channelGroup.fieldsEnabled = false;
    if (wasTicked && !loading_) {
      // The untick runs the box's own handler.
      shownSetup().ChannelInterval = 0;
      controls_.channelGroup.seconds = kResetSecondsText;
      controls_.channelGroup.fields = resetTimeFields();
      shownSetup().ChannelTime = kResetSecondsText;
    }
  }
}

void ScanSetEditor::stopOffAtNow() {
  const LocalMs now = clock_.now();
  controls_.stopTicked = false;
  controls_.stopEnabled = false;
  controls_.stopPicker = now;
  shownSetup().StopAtTime = 0;
  shownSetup().StopTime = formatDateTime(now);
}

void ScanSetEditor::showCountMode() {
  ScanSetup& s = shownSetup();
  switch (s.scanCount_Status) {
    case 0:
      controls_.countMode = 0;
      controls_.nChannelScan = s.ScanCount;
      controls_.nScan = "1";
      stopOffAtNow();
      break;
    case 1:
      controls_.countMode = 1;
      controls_.nScan = s.ScanCount;
      controls_.nChannelScan = "1";
      stopOffAtNow();
      break;
    default:
      controls_.countMode = 2;
      controls_.nChannelScan = "1";
      controls_.nScan = "1";
      controls_.stopEnabled = true;
      break;
  }
}

void ScanSetEditor::refreshScanControls() {
  ScanSetup& s = shownSetup();
  // Showing the option runs its click, so an unknown scan type ends up as "SCAN".
  controls_.stepSelected = s.ScanType == "STEP";
  s.ScanType = controls_.stepSelected ? "STEP" : "SCAN";
  applyAvailability();
  showCountMode();
  applyAvailability();

  if (s.ChannelInterval == 1) {
    controls_.perChannelTicked = true;
    controls_.channelGroup.fieldsEnabled = true;
    controls_.channelGroup.seconds = s.ChannelTime;
    controls_.channelGroup.fields = splitSeconds(s.ChannelTime);
  } else {
    controls_.perChannelTicked = false;
    controls_.channelGroup.fieldsEnabled = false;
    controls_.channelGroup.seconds = kResetSecondsText;
    controls_.channelGroup.fields = resetTimeFields();
  }
  controls_.scanGroup.seconds = s.ScanTime;
  controls_.scanGroup.fields = splitSeconds(s.ScanTime);
  controls_.scanKindIndex = s.ScanInterval == 1 ? 1 : 0;

  const LocalMs now = clock_.now();
  controls_.startTicked = s.StartAtTime == 1;
  controls_.startPicker = parseDateTime(s.StartTime).value_or(now);
  controls_.stopTicked = s.StopAtTime == 1;
  controls_.stopPicker = parseDateTime(s.StopTime).value_or(now);
}

void ScanSetEditor::clickScanType(bool step) {
  controls_.stepSelected = step;
  shownSetup().ScanType = step ? "STEP" : "SCAN";
  applyAvailability();
}

void ScanSetEditor::clickCountMode(int mode) {
  ScanSetup& s = shownSetup();
  if (mode == 0 || mode == 1) {
    if (loading_) return;
    controls_.countMode = mode;
    s.scanCount_Status = static_cast<std::int16_t>(mode);
    s.ScanCount = mode == 0 ? controls_.nChannelScan : wholeNumberText(controls_.nScan);
    applyAvailability();
    stopOffAtNow();
  } else if (mode == 2) {
    controls_.countMode = 2;
    s.scanCount_Status = 2;
    s.ScanCount = intToText(s.ChannelCount);
    applyAvailability();
    controls_.stopEnabled = true;
    controls_.stopTicked = false;
    s.StopAtTime = 0;
    s.StopTime = formatDateTime(controls_.stopPicker);
  }
}

std::string ScanSetEditor::changeChannelReadings(std::string_view text) {
  if (loading_) return controls_.nChannelScan = std::string(text);
  controls_.nChannelScan = clampCountText(text, kMaxChannelReadings);
  if (controls_.countMode == 0) shownSetup().ScanCount = controls_.nChannelScan;
  return controls_.nChannelScan;
}

std::string ScanSetEditor::changeScanCount(std::string_view text) {
  if (loading_) return controls_.nScan = std::string(text);
  controls_.nScan = clampCountText(text, kMaxScans);
  if (controls_.countMode == 1) shownSetup().ScanCount = wholeNumberText(controls_.nScan);
  return controls_.nScan;
}

void ScanSetEditor::clickPerChannelInterval(bool ticked) {
  controls_.perChannelTicked = ticked;
  if (loading_) return;
  ScanSetup& s = shownSetup();
  s.ChannelInterval = ticked ? 1 : 0;
  IntervalGroupView& g = controls_.channelGroup;
  if (ticked) {
    g.fieldsEnabled = true;
    g.seconds = totalSecondsText(g.fields);
    s.ChannelTime = g.seconds;
  } else {
    g.fieldsEnabled = false;
    g.seconds = kResetSecondsText;
    g.fields = resetTimeFields();
    s.ChannelTime = kResetSecondsText;
  }
}

void ScanSetEditor::clickScanIntervalKind(int index) {
  if (index != 0 && index != 1) return;
  controls_.scanKindIndex = index;
  if (loading_) return;
  shownSetup().ScanInterval = static_cast<std::int16_t>(index);
  shownSetup().ScanTime = controls_.scanGroup.seconds;
}

void ScanSetEditor::setStartTime(bool ticked, LocalMs picker) {
  controls_.startTicked = ticked;
  controls_.startPicker = picker;
  shownSetup().StartAtTime = ticked ? 1 : 0;
  shownSetup().StartTime = formatDateTime(ticked ? picker : clock_.now());
}

void ScanSetEditor::setStopTime(bool ticked, LocalMs picker) {
  controls_.stopTicked = ticked;
  controls_.stopPicker = picker;
  shownSetup().StopAtTime = ticked ? 1 : 0;
  shownSetup().StopTime = formatDateTime(picker);
}

void ScanSetEditor::changeTimeField(IntervalGroup group, std::string_view unit,
                                    const TimeFields& current) {
  IntervalGroupView& g =
      group == IntervalGroup::Channel ? controls_.channelGroup : controls_.scanGroup;
  if (loading_) {
    g.fields = current;
    return;
  }
  const TimeCheck check = validateTimeFields(unit, current);
  g.fields = check.fields;
  g.seconds = totalSecondsText(check.fields);
  if (group == IntervalGroup::Channel) {
    shownSetup().ChannelTime = g.seconds;
  } else {
    shownSetup().ScanTime = g.seconds;
  }
  controls_.status = check.message;
}

void ScanSetEditor::clickCheckAll(bool ticked) {
  controls_.checkAllTicked = ticked;
  if (ticked) {
    checkAllGuard_ = false;
    for (int ch = 0; ch < shownChannelCount(); ++ch) {
      if (!shownView(ch).enableTicked) clickEnable(ch, true);
    }
    return;
  }
  if (checkAllGuard_) {
    // This untick came from a channel being unticked: leave the other channels alone.
    checkAllGuard_ = false;
    return;
  }
  for (int ch = 0; ch < shownChannelCount(); ++ch) {
    if (shownView(ch).enableTicked) clickEnable(ch, false);
  }
}

void ScanSetEditor::clickEnable(int ch, bool ticked) {
  if (!validChannel(ch)) return;
  shownView(ch).enableTicked = ticked;
  if (loading_) return;
  ChannelSetup& c = shownChannel(ch);
  if (ticked) {
    c.Function = shownView(ch).functionText;
    c.EnableChannel = 1;
  } else {
    if (controls_.checkAllTicked) {
      checkAllGuard_ = true;
      controls_.checkAllTicked = false;
    }
    c.Function = "NONE";
    c.EnableChannel = 0;
  }
}

void ScanSetEditor::temperatureComboClick(int ch) {
  if (loading_) return;
  ChannelView& v = shownView(ch);
  ChannelSetup& c = shownChannel(ch);
  const int index = v.temperatureIndex;
  c.TEMP_TCO = index >= 0 && index < 7 ? kTemperatureSensorTypes[index] : "";
  if (index >= 0 && index < 7) c.SensorTypeIndex = static_cast<std::int16_t>(index);
  v.gridSensor = c.TEMP_TCO;
}

void ScanSetEditor::thermocoupleComboClick(int ch) {
  if (loading_) return;
  ChannelView& v = shownView(ch);
  ChannelSetup& c = shownChannel(ch);
  const int index = v.thermocoupleIndex;
  c.TEMP_TCO = index >= 0 && index < 7 ? kThermocoupleTypes[index] : "";
  if (index >= 0 && index < 7) c.SensorTypeIndex = static_cast<std::int16_t>(index);
  v.gridSensor = c.TEMP_TCO;
}

void ScanSetEditor::chooseTemperatureType(int ch, int index) {
  if (!validChannel(ch)) return;
  shownView(ch).temperatureIndex = index >= 0 && index < 7 ? index : -1;
  temperatureComboClick(ch);
}

void ScanSetEditor::chooseThermocoupleType(int ch, int index) {
  if (!validChannel(ch)) return;
  shownView(ch).thermocoupleIndex = index >= 0 && index < 7 ? index : -1;
  thermocoupleComboClick(ch);
}

FunctionChange ScanSetEditor::changeFunction(int ch, std::string_view function) {
  FunctionChange result;
  const int count = shownSetup().ChannelCount;
  if (!validChannel(ch) || !functionListContains(shownCard(), count, ch, function)) return result;
  result.accepted = true;
  shuntChannel_ = ch;
  const int used = shownChannelCount();
  const int h = fourWireOffset(count);
  auto& views = views_[working_.shownSlot];
  ChannelRow& row = working_.channel[working_.shownSlot];

  // Release an earlier pairing.
  if (ch < h) {
    if (ch + h < used) views[ch + h].functionSelectable = true;
  } else {
    views[ch].functionSelectable = true;
  }
  views[ch].gridSensor = "None";

  const std::string f(function);
  if (f == "TEMP") {
    temperatureComboClick(ch);
  } else if (f == "TCOUPL") {
    thermocoupleComboClick(ch);
  } else if (f == "DCI" || f == "ACI") {
    result.openShuntWindow = !loading_;
  } else if (isFourWireFunction(f)) {
    if (f == "4W,TEMP") temperatureComboClick(ch);
    if (const auto p = fourWirePartner(count, ch)) {
      row[*p].PartnerFlag = 1;
      row[*p].Function = "NONE";
      row[*p].EnableChannel = 0;
      views[*p].functionText = "NONE";
      views[*p].functionSelectable = false;
      views[*p].enableTicked = false;
      views[*p].gridFunction = "NONE";
      views[*p].gridSensor = "None";
      result.pairedChannel = *p;
    }
  }
  row[ch].Function = f;
  views[ch].functionText = f;
  views[ch].gridFunction = f;
  // A channel with a function of its own is nobody's partner any more; a stale flag would keep
  // it from being switched off on the instrument once it is unticked.
  if (f != "NONE") row[ch].PartnerFlag = 0;
  return result;
}

void ScanSetEditor::changeDivision(int ch, std::string_view division, std::string_view unit) {
  if (loading_ || !validChannel(ch)) return;
  shownChannel(ch).Division = std::string(division);
  shownChannel(ch).Unit = std::string(unit);
}

void ScanSetEditor::changeOffset(int ch, std::string_view offset) {
  if (loading_ || !validChannel(ch)) return;
  shownChannel(ch).Offset = std::string(offset);
}

GridCellEditor ScanSetEditor::clickGrid(int row, int col) const {
  if (row < 1 || row > shownChannelCount()) return GridCellEditor::None;
  const std::string& f = working_.channel[working_.shownSlot][row - 1].Function;
  switch (col) {
    case 2: return GridCellEditor::Color;
    case 3: return GridCellEditor::FunctionList;
    case 4:
      if (isTemperatureFunction(f)) return GridCellEditor::TemperatureList;
      if (f == "TCOUPL") return GridCellEditor::ThermocoupleList;
      return GridCellEditor::None;
    default: return GridCellEditor::None;
  }
}

void ScanSetEditor::setChannelColor(int ch, Rgb color) {
  if (validChannel(ch)) shownChannel(ch).Color = color;
}

std::string ScanSetEditor::gridCellText(int row, int col) const {
  if (col < 0 || col >= static_cast<int>(kGridHeaders.size())) return {};
  if (row == 0) return kGridHeaders[col];
  if (row < 1 || row > shownChannelCount()) return {};
  const int ch = row - 1;
  const ChannelView& v = shownView(ch);
  const ChannelSetup& a = applied_.channel[working_.shownSlot][ch];
  switch (col) {
    case 1: return "CH " + intToText(row);
    case 3: return v.gridFunction;
    case 4: return v.gridSensor;
    case 5: return a.Division;
    case 6: return a.Offset;
    default: return {};
  }
}

bool ScanSetEditor::copyCell(int row, int col) {
  if (!copy_.IsSelectCpyRange(static_cast<std::int16_t>(row), static_cast<std::int16_t>(col))) {
    return false;
  }
  copy_.dev_list(working_.shownSlot);
  copy_.col(static_cast<std::int16_t>(col));
  copy_.row(static_cast<std::int16_t>(row));
  copy_.value(gridCellText(row, col));
  copy_.enableCopy(true);
  return true;
}

PasteResult ScanSetEditor::pasteCells(int row, int rowSel, int col, int colSel,
                                      const std::function<void(int ch)>& openShuntWindow) {
  PasteResult result;
  const auto inRows = [&](int r) {
    return copy_.rowPosLwlmt() <= r && r <= copy_.rowPosUplmt();
  };
  if (copy_.dev_list() != working_.shownSlot || !copy_.enableCopy() || col != copy_.col() ||
      colSel != copy_.col() || !inRows(row) || !inRows(rowSel)) {
    return result;
  }
  result.consumed = true;
  const int step = row <= rowSel ? 1 : -1;
  for (int r = row;; r += step) {
    const int ch = r - 1;
    // Rows below the shown card's channels have no controls to take the value.
    if (validChannel(ch) &&
        copy_.chck4Wsafe(static_cast<std::int16_t>(r), copy_.value(), shownView(ch).functionSelectable)) {
      const FunctionChange change = changeFunction(ch, copy_.value());
      if (!change.accepted) {
        result.error = kGridCopyFailedText;
        break;
      }
      result.changedChannels.push_back(ch);
      if (change.openShuntWindow && openShuntWindow) openShuntWindow(ch);
    }
    if (r == rowSel) break;
  }
  return result;
}

}  // namespace kalivor
