// SPDX-License-Identifier: MIT
#include "scan/setup_file.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "common/numbers.h"
#include "scan/channel_extras.h"
#include "common/text.h"

namespace kalivor {
namespace {

constexpr const char* kEol = "\r\n";
constexpr const char* kScalingSection = "Scaling";
constexpr const char* kAlarmSection = "Alarm Limits";

bool finiteText(std::string_view t) {
  const auto v = strictNumber(t);
  return v && std::isfinite(*v);
}

// A value must stay on its own line.
std::string oneLine(std::string_view value) {
  std::string out;
  out.reserve(value.size());
  for (char c : value) {
    if (c != '\r' && c != '\n' && c != '\0') out.push_back(c);
  }
  return out;
}

std::string indexed(std::string_view name, int i) {
  return std::string(name) + "(" + intToText(i) + ")";
}

class LineWriter {
 public:
  void section(std::string_view name) {
    text_ += "[";
    text_ += name;
    text_ += "]";
    text_ += kEol;
  }
  void key(std::string_view name, std::string_view value) {
    text_ += name;
    text_ += "=";
    text_ += oneLine(value);
    text_ += kEol;
  }
  std::string take() { return std::move(text_); }

 private:
  std::string text_;
};

std::string errnoText(int error) { return std::generic_category().message(error); }

SaveResult saveFailure(const std::string& path, const std::string& reason) {
  return SaveResult{false, "The scan setup could not be saved to " + path + ": " + reason + "."};
}

// Writes all of text to a new file; an errno value on failure, 0 on success.
int writeWhole(const std::string& path, std::string_view text) {
  errno = 0;
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return errno != 0 ? errno : EIO;
  const std::size_t written = std::fwrite(text.data(), 1, text.size(), f);
  int error = 0;
  if (written != text.size() || std::fflush(f) != 0) error = errno != 0 ? errno : EIO;
  if (std::fclose(f) != 0 && error == 0) error = errno != 0 ? errno : EIO;
  return error;
}

// Sensor types go into instrument commands; only names made of letters and digits may come
// from a file.
bool plainSensorName(std::string_view text) {
  for (char c : text) {
    const bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
    if (!ok) return false;
  }
  return true;
}

// A numeric count as a whole number 1..limit.
std::string wholeCountText(std::string_view text, int limit) {
  const double v = std::min(leadingNumber(text), static_cast<double>(limit));
  return clampCountText(intToText(static_cast<std::int64_t>(roundHalfEven(std::max(v, 0.0)))), limit);
}

// Reads one file into the shown slot, step by step; the first key that cannot be taken ends it.
class Loader {
 public:
  Loader(ScanSetEditor& editor, const IniFile& file) : ed_(editor), file_(file) {}

  // Empty when complete, else "Section/Key" of the key that ended the load.
  std::optional<std::string> run() {
    ScanSetup& s = ed_.shownSetup();
    const int count = s.ChannelCount;
    const int used = usedChannels(count);

    // Hand-written files may say "step"; anything but the two types would silently run as SCAN.
    const std::string scanType = trimBlanks(text("Scan Type", "ScanType"));
    if (equalsIgnoreCase(scanType, "STEP")) {
      s.ScanType = "STEP";
    } else if (equalsIgnoreCase(scanType, "SCAN")) {
      s.ScanType = "SCAN";
    } else {
      return stop("Scan Type", "ScanType");
    }

    const auto status = whole("Scan Count", "scanCount_Status");
    if (!status || *status < 0 || *status > 2) return stop("Scan Count", "scanCount_Status");
    const std::string scanCount = text("Scan Count", "ScanCount");
    if (!isNumeric(scanCount)) return stop("Scan Count", "ScanCount");
    s.scanCount_Status = static_cast<std::int16_t>(*status);
    // Counts are whole numbers: the meter would round 25.6 itself and take readings the run
    // does not expect. Rounded (halves to even) and kept in the range the count boxes allow;
    // mode 2 always counts the card's channels.
    if (*status == 0) s.ScanCount = wholeCountText(scanCount, kMaxChannelReadings);
    if (*status == 1) s.ScanCount = wholeCountText(scanCount, kMaxScans);
    if (*status == 2) s.ScanCount = intToText(count);

    const auto channelInterval = whole("Scan Interval", "ChannelInterval");
    if (!channelInterval || (*channelInterval != 0 && *channelInterval != 1)) {
      return stop("Scan Interval", "ChannelInterval");
    }
    const std::string channelTime = text("Scan Interval", "ChannelTime");
    if (!intervalSeconds(channelTime)) return stop("Scan Interval", "ChannelTime");
    s.ChannelInterval = static_cast<std::int16_t>(*channelInterval);
    s.ChannelTime = channelTime;

    const auto scanInterval = whole("Scan Interval", "ScanInterval");
    if (!scanInterval) return stop("Scan Interval", "ScanInterval");
    const std::string scanTime = text("Scan Interval", "ScanTime");
    if (!intervalSeconds(scanTime)) return stop("Scan Interval", "ScanTime");
    // cbScan shows entry 0 for any other kind; keep what it shows.
    s.ScanInterval = static_cast<std::int16_t>(*scanInterval == 1 ? 1 : 0);
    s.ScanTime = scanTime;

    for (int i = 0; i < used; ++i) {
      const auto enable = whole("Enable Channel", indexed("EnableChannel", i));
      if (!enable || (*enable != 0 && *enable != 1)) {
        return stop("Enable Channel", indexed("EnableChannel", i));
      }
      ed_.shownChannel(i).EnableChannel = static_cast<std::int16_t>(*enable);
      ed_.shownView(i).enableTicked = *enable == 1;
    }

    ChannelRow& row = ed_.working().channel[ed_.shownSlot()];
    for (int i = 0; i < used; ++i) {
      const std::string function = text("Function", indexed("Function", i));
      if (!functionListContains(s.ScanerCard, count, i, function)) {
        return stop("Function", indexed("Function", i));
      }
      // The partner of a 4-wire channel loaded just before stays "NONE" and locked.
      if (isPairedByLower(row, count, i)) continue;
      ed_.changeFunction(i, function);
    }
    recomputePartnerFlags(row, count);

    ChannelRow& appliedRow = ed_.applied().channel[ed_.shownSlot()];
    for (int i = 0; i < used; ++i) {
      const auto ohm = number("DCI_ACI", indexed("Ohm", i));
      if (!ohm || !(*ohm > 0)) return stop("DCI_ACI", indexed("Ohm", i));
      appliedRow[i].Ohm = *ohm;
      const auto current = number("DCI_ACI", indexed("Current", i));
      if (!current) return stop("DCI_ACI", indexed("Current", i));
      appliedRow[i].Current = *current;
    }

    if (s.ScanerCard == 3) {
      for (int i = 0; i < used; ++i) {
        const std::string type = text("TEMP Type/ TCO Type", indexed("TEMP_TCO", i));
        if (!plainSensorName(type)) return stop("TEMP Type/ TCO Type", indexed("TEMP_TCO", i));
        ChannelSetup& c = ed_.shownChannel(i);
        ChannelView& v = ed_.shownView(i);
        c.TEMP_TCO = type;
        v.gridSensor = type;
        const auto index = sensorTypeIndex(type);
        switch (classifySensorType(type)) {
          case SensorKind::Temperature: v.temperatureIndex = *index; break;
          case SensorKind::Thermocouple: v.thermocoupleIndex = *index; break;
          case SensorKind::Neither: break;
        }
        if (index) c.SensorTypeIndex = static_cast<std::int16_t>(*index);
      }
    }
    for (int i = 0; i < used; ++i) {
      const std::string division = text("Division", indexed("Division", i));
      const std::string unit = text("Division", indexed("Unit", i));
      if (!isDivisionUnit(unit)) return stop("Division", indexed("Unit", i));
      ed_.shownChannel(i).Division = division;
      ed_.shownChannel(i).Unit = unit;
    }
    for (int i = 0; i < used; ++i) {
      ed_.shownChannel(i).Offset = text("Offset", indexed("Offset", i));
    }
    // Scaling and alarm limits: a file without their sections has none.
    for (int i = 0; i < used; ++i) {
      ChannelExtrasText t;
      const std::string on = text(kScalingSection, indexed("Scale", i));
      if (!on.empty() && on != "0" && on != "1") return stop(kScalingSection, indexed("Scale", i));
      t.scaleOn = on == "1";
      const std::string gain = text(kScalingSection, indexed("ScaleGain", i));
      const std::string offset = text(kScalingSection, indexed("ScaleOffset", i));
      if (!gain.empty()) t.gain = gain;
      if (!offset.empty()) t.offset = offset;
      t.unit = text(kScalingSection, indexed("ScaleUnit", i));
      t.low = text(kAlarmSection, indexed("AlarmLow", i));
      t.high = text(kAlarmSection, indexed("AlarmHigh", i));
      ChannelSetup taken;
      if (takeExtras(t, taken)) {
        // Name the first key that is wrong.
        const char* key = "ScaleUnit";
        const char* section = kScalingSection;
        if (!finiteText(t.gain)) key = "ScaleGain";
        else if (!finiteText(t.offset)) key = "ScaleOffset";
        else if (validScaleUnit(t.unit)) {
          section = kAlarmSection;
          key = !t.low.empty() && !finiteText(t.low) ? "AlarmLow" : "AlarmHigh";
        }
        return stop(section, indexed(key, i));
      }
      copyExtras(taken, ed_.shownChannel(i));
    }
    return std::nullopt;
  }

 private:
  std::string text(std::string_view section, std::string_view key) const {
    return file_.value(section, key);
  }
  std::optional<double> number(std::string_view section, std::string_view key) const {
    const auto v = strictNumber(text(section, key));
    if (!v || !std::isfinite(*v)) return std::nullopt;
    return v;
  }
  std::optional<int> whole(std::string_view section, std::string_view key) const {
    const auto v = number(section, key);
    if (!v) return std::nullopt;
    const auto w = toInt16(*v);
    if (!w) return std::nullopt;
    return *w;
  }
  static bool intervalSeconds(std::string_view text) {
    const auto v = strictNumber(text);
    return v && *v >= 0 && *v <= ProtectTime::kTotalMax;
  }
  static std::optional<std::string> stop(std::string_view section, std::string_view key) {
    return std::string(section) + "/" + std::string(key);
  }

  ScanSetEditor& ed_;
  const IniFile& file_;
};

}  // namespace

Message loadFailedMessage() {
  return Message{kLoadFailedText, kLoadFailedTitle, MessageButtons::Ok, MessageIcon::Critical};
}

Message loadConfirmMessage() {
  return Message{kLoadConfirmText, kLoadConfirmTitle, MessageButtons::YesNo,
                 MessageIcon::Question};
}

FileDialogRequest saveDialogRequest(const std::string& presetName) {
  FileDialogRequest r;
  r.presetName = presetName;
  r.filter = kSetupFileFilter;
  r.defaultSuffix = "ini";
  r.confirmOverwrite = true;
  return r;
}

FileDialogRequest openDialogRequest() {
  FileDialogRequest r;
  r.filter = kSetupFileFilter;
  return r;
}

std::string setupFileText(const WorkingCopy& working, const ScanTables& applied, int slot,
                          std::string_view channelTimeText, std::string_view scanTimeText) {
  if (slot < 0 || slot >= kSlotTableSize) return {};
  const ScanSetup& s = working.setup[slot];
  const ChannelRow& row = working.channel[slot];
  const ChannelRow& appliedRow = applied.channel[slot];
  const int used = usedChannels(s.ChannelCount);
  LineWriter w;
  w.section("Scaner Card");
  w.key("ScanerCard", intToText(s.ScanerCard));
  w.section("Channel Count");
  w.key("ChannelCount", intToText(s.ChannelCount));
  w.section("Scan Type");
  w.key("ScanType", s.ScanType);
  w.section("Scan Count");
  w.key("scanCount_Status", intToText(s.scanCount_Status));
  w.key("ScanCount", s.ScanCount);
  w.section("Scan Interval");
  w.key("ChannelInterval", intToText(s.ChannelInterval));
  w.key("ChannelTime", channelTimeText);
  w.key("ScanInterval", intToText(s.ScanInterval));
  w.key("ScanTime", scanTimeText);
  w.section("Enable Channel");
  for (int i = 0; i < used; ++i) w.key(indexed("EnableChannel", i), intToText(row[i].EnableChannel));
  w.section("Function");
  for (int i = 0; i < used; ++i) w.key(indexed("Function", i), row[i].Function);
  w.section("DCI_ACI");
  for (int i = 0; i < used; ++i) {
    w.key(indexed("Ohm", i), numberToText(appliedRow[i].Ohm));
    w.key(indexed("Current", i), numberToText(appliedRow[i].Current));
  }
  if (s.ScanerCard == 3) {
    w.section("TEMP Type/ TCO Type");
    for (int i = 0; i < used; ++i) w.key(indexed("TEMP_TCO", i), row[i].TEMP_TCO);
  }
  w.section("Division");
  for (int i = 0; i < used; ++i) {
    w.key(indexed("Division", i), row[i].Division);
    w.key(indexed("Unit", i), row[i].Unit);
  }
  w.section("Offset");
  for (int i = 0; i < used; ++i) w.key(indexed("Offset", i), row[i].Offset);
  // The optional extras get sections of their own, written only when used: a setup without them
  // is saved exactly as before, and older files simply lack them.
  bool scaling = false;
  bool alarms = false;
  for (int i = 0; i < used; ++i) {
    scaling = scaling || usesScaling(row[i]);
    alarms = alarms || usesAlarms(row[i]);
  }
  if (scaling) {
    w.section(kScalingSection);
    for (int i = 0; i < used; ++i) {
      const ChannelExtrasText t = extrasText(row[i]);
      w.key(indexed("Scale", i), t.scaleOn ? "1" : "0");
      w.key(indexed("ScaleGain", i), t.gain);
      w.key(indexed("ScaleOffset", i), t.offset);
      w.key(indexed("ScaleUnit", i), t.unit);
    }
  }
  if (alarms) {
    w.section(kAlarmSection);
    for (int i = 0; i < used; ++i) {
      const ChannelExtrasText t = extrasText(row[i]);
      w.key(indexed("AlarmLow", i), t.low);
      w.key(indexed("AlarmHigh", i), t.high);
    }
  }
  return w.take();
}

SaveResult writeSetupFile(const std::string& path, std::string_view text) {
  if (path.empty()) return saveFailure(path, "no file name");
  const std::string temp = path + ".saving";
  int error = writeWhole(temp, text);
  if (error == 0) {
    std::error_code ec;
    std::filesystem::rename(temp, path, ec);
    if (!ec) return SaveResult{true, {}};
    std::filesystem::remove(temp, ec);
    return saveFailure(path, errnoText(ec.value()));
  }
  std::error_code ignored;
  std::filesystem::remove(temp, ignored);
  if (error == EACCES || error == EROFS || error == EPERM) {
    // The folder may refuse new files while the file itself can still be overwritten.
    const int direct = writeWhole(path, text);
    if (direct == 0) return SaveResult{true, {}};
    error = direct;
  }
  return saveFailure(path, errnoText(error));
}

SaveResult saveSetupFile(const ScanSetEditor& editor, const std::string& path) {
  const auto& c = editor.controls();
  return writeSetupFile(path, setupFileText(editor.working(), editor.applied(), editor.shownSlot(),
                                            c.channelGroup.seconds, c.scanGroup.seconds));
}

SetupLoadResult loadSetup(ScanSetEditor& editor, const IniFile& file) {
  using Status = SetupLoadResult::Status;
  const ScanSetup& s = editor.shownSetup();
  const std::string card = file.value("Scaner Card", "ScanerCard");
  if (card.empty() || card != intToText(s.ScanerCard)) {
    return SetupLoadResult{Status::Refused, loadFailedMessage(), {}};
  }
  const auto count = strictNumber(file.value("Channel Count", "ChannelCount"));
  if (!count) return SetupLoadResult{Status::NotANumber, {}, "Channel Count/ChannelCount"};
  if (*count != s.ChannelCount) return SetupLoadResult{Status::Refused, loadFailedMessage(), {}};

  const bool wasLoading = editor.loading();
  editor.setLoading(true);
  const std::optional<std::string> stoppedAt = Loader(editor, file).run();
  editor.refreshScanControls();
  editor.setLoading(wasLoading);
  if (stoppedAt) return SetupLoadResult{Status::EndedEarly, {}, *stoppedAt};
  return SetupLoadResult{Status::Loaded, {}, {}};
}

SetupLoadResult loadSetupFile(ScanSetEditor& editor, const std::string& path) {
  return loadSetup(editor, IniFile::fromFile(path));
}

}  // namespace kalivor
