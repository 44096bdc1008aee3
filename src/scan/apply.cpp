// SPDX-License-Identifier: MIT
#include "scan/apply.h"

#include "common/numbers.h"
#include "common/text.h"
#include "instrument/vocabulary.h"
#include "scan/channel_extras.h"
#include "visa/tracing_visa.h"

namespace kalivor {

namespace {

std::string channelList(int n) { return intToText(n); }

std::string instrumentName(const ScanSetEditor& editor, int slot) {
  const auto& entries = editor.deviceEntries();
  const auto s = static_cast<std::size_t>(slot);
  if (s < entries.size() && !entries[s].empty()) return entries[s];
  return "instrument " + intToText(slot + 1);
}

}  // namespace

std::string applyFailureText(const std::vector<ApplyFailure>& failures) {
  std::string text;
  for (const ApplyFailure& f : failures) {
    if (!text.empty()) text += "\n";
    text += "The scan setup was not sent to " + f.instrument + ": writing \"" + f.command +
            "\" failed (" + visa::TracingVisa::statusText(f.status) + ").";
  }
  text += "\nCheck the instrument and its connection, then press Set again.";
  return text;
}

std::vector<std::string> channelCommands(int c, const ChannelSetup& channel, bool enabled,
                                         bool partner) {
  const std::string N = channelList(c + 1);
  if (!enabled && !partner) return {"rout:scan:func " + N + ",\"NONE\""};
  std::vector<std::string> out;
  if (!(channel.Function == "NONE" && partner))
    out.push_back("rout:scan:func " + N + "," + TranslateFunctionName(channel.Function));
  if (channel.Function == "TEMP") {
    out.push_back("SENSe:TEMP:TRAN RTD ,@" + N);
    out.push_back("SENSe:TEMP:RTD:TYPE " + channel.TEMP_TCO + " ,@" + N);
  } else if (channel.Function == "4W,TEMP") {
    out.push_back("SENSe:TEMP:TRAN FRTD ,@" + N);
    out.push_back("SENSe:TEMP:RTD:TYPE " + channel.TEMP_TCO + " ,@" + N);
  } else if (channel.Function == "TCOUPL") {
    out.push_back("SENSe:TCOuple:TYPE " + channel.TEMP_TCO + " ,@" + N);
  }
  return out;
}

std::vector<std::string> appliedSetupCommands(const ScanSetup& setup, const ChannelRow& channels) {
  std::vector<std::string> out{"ROUTe:SCAN:TIMER " + setup.ChannelTime};
  const int count = usedChannels(setup.ChannelCount);
  for (int i = 0; i < count; ++i) {
    const ChannelSetup& ch = channels[static_cast<std::size_t>(i)];
    // In an applied setup the sense pair of a 4-wire channel reads NONE; the meter keeps it.
    const bool partner = isPairedByLower(channels, setup.ChannelCount, i);
    const auto more = channelCommands(i, ch, ch.Function != "NONE", partner);
    out.insert(out.end(), more.begin(), more.end());
  }
  return out;
}

ApplyResult ApplySetups(ScanSetEditor& editor, InstrumentLink& link, int instrumentCount,
                        const std::function<void(int)>& showData) {
  ApplyResult result;
  WorkingCopy& w = editor.working();
  ScanTables& applied = editor.applied();
  const int n = std::clamp(instrumentCount, 0, kMaxInstruments);
  for (int s = 0; s < n; ++s) {
    // A write that fails ends this instrument's share: the rest would only go into a dead link.
    bool failed = false;
    auto send = [&](const std::string& command) {
      if (failed) return;
      link.SendCommand(command, s);
      if (!link.lastExchangeFailed()) return;
      failed = true;
      result.failures.push_back(ApplyFailure{s, instrumentName(editor, s), command, link.LastVisaStatus});
    };
    const auto si = static_cast<std::size_t>(s);
    ScanSetup& ws = w.setup[si];
    ScanSetup& as = applied.setup[si];

    as.ScanType = ws.ScanType;
    if (ws.scanCount_Status == 0 || ws.scanCount_Status == 1) {
      if (s == editor.shownSlot())
        ws.ScanCount = ws.scanCount_Status == 0 ? editor.controls().nChannelScan : editor.controls().nScan;
    } else {
      ws.ScanCount = intToText(ws.ChannelCount);
    }
    result.afterNChannelPicture = ws.scanCount_Status == 0;
    as.scanCount_Status = ws.scanCount_Status;
    as.ScanCount = ws.ScanCount;

    if (ws.ChannelInterval == 0) ws.ChannelTime = "0.5";
    send("ROUTe:SCAN:TIMER " + ws.ChannelTime);
    as.ChannelInterval = ws.ChannelInterval;
    as.ChannelTime = ws.ChannelTime;
    as.ScanInterval = ws.ScanInterval;
    as.ScanTime = ws.ScanTime;

    const LocalMs now = link.clock().now();
    if (ws.StartAtTime == 0) {
      editor.controls().startPicker = now;
      ws.StartTime = formatDateTime(now);
    }
    if (ws.StopAtTime == 0) {
      editor.controls().stopPicker = now;
      ws.StopTime = formatDateTime(now);
    }
    if (ws.StartAtTime == 1 && ws.StopAtTime == 1) {
      const auto start = parseDateTime(ws.StartTime);
      const auto stop = parseDateTime(ws.StopTime);
      if (start && stop && *stop < *start) {
        link.messages().inform(kTimeSetErrorText, kTimeSetErrorTitle, MessageIcon::Critical);
        if (!result.failures.empty())
          link.messages().inform(applyFailureText(result.failures), kAppTitle, MessageIcon::Critical);
        return result;
      }
    }
    as.StartAtTime = ws.StartAtTime;
    as.StartTime = ws.StartTime;
    as.StopAtTime = ws.StopAtTime;
    as.StopTime = ws.StopTime;

    const int channels = usedChannels(ws.ChannelCount);
    for (int i = 0; i < channels && !failed; ++i) {
      const auto ci = static_cast<std::size_t>(i);
      ChannelSetup& wc = w.channel[si][ci];
      ChannelSetup& ac = applied.channel[si][ci];
      ac.Function = wc.Function;
      ac.TEMP_TCO = wc.TEMP_TCO;
      if (wc.EnableChannel != 1 && wc.PartnerFlag != 1) ac.Function = "NONE";
      for (const std::string& command : channelCommands(i, wc, wc.EnableChannel == 1, wc.PartnerFlag == 1))
        send(command);
      ac.Color = wc.Color;
      ac.Division = numberToText(ParsePrefixedNumber(wc.Division + wc.Unit));
      ac.Offset = wc.Offset;
      copyExtras(wc, ac);
    }
    if (failed) continue;
    editor.markUnedited(s);
    ++result.slotsDone;
    if (showData) showData(s);
  }
  if (!result.failures.empty()) {
    link.messages().inform(applyFailureText(result.failures), kAppTitle, MessageIcon::Critical);
    return result;
  }
  link.messages().inform(kSettingCompleteText);
  result.completed = true;
  return result;
}

bool ReadBack(ScanSetEditor& editor, InstrumentLink& link, int slot,
              const std::function<void()>& checkDev) {
  if (slot < 0 || slot >= kSlotTableSize) return false;
  const auto s = static_cast<std::size_t>(slot);
  ScanTables& applied = editor.applied();
  WorkingCopy& w = editor.working();
  const int count = usedChannels(applied.setup[s].ChannelCount);
  const int h = fourWireOffset(applied.setup[s].ChannelCount);

  auto query = [&](const std::string& command) -> std::optional<std::string> {
    link.SendCommand(command, slot);
    if (link.lastExchangeFailed()) {
      link.StopRequested = true;
      if (checkDev) checkDev();
      return std::nullopt;
    }
    return cleanAnswer(link.ReplyBuffer);
  };

  for (int i = 0; i < count; ++i) {
    const auto ci = static_cast<std::size_t>(i);
    const int N = i + 1;
    ChannelSetup& ac = applied.channel[s][ci];
    ChannelView& view = editor.channelView(slot, i);

    const auto answer = query("rout:scan:func? " + intToText(N));
    if (!answer) return false;
    const std::string translated = TranslateFunctionName(*answer);

    if (contains(ac.Function, "DCI") || contains(ac.Function, "ACI")) {
      // The instrument measures a current channel as a voltage across its shunt. Should it
      // report something else, that is what the channel now is.
      if (translated == "DCV") {
        ac.Function = "DCI";
      } else if (translated == "ACV") {
        ac.Function = "ACI";
      } else {
        ac.Function = translated;
      }
    } else {
      ac.Function = translated;
      if (contains(*answer, "TEMP")) {
        const auto type = query("TEMPerature:RTD:TYPE? @" + intToText(N));
        if (!type) return false;
        ac.TEMP_TCO = *type;
        if (const auto idx = sensorTypeIndex(*type); idx && classifySensorType(*type) == SensorKind::Temperature)
          ac.SensorTypeIndex = static_cast<std::int16_t>(*idx);
        const auto transducer = query("TEMPerature:TRANsducer? @" + intToText(N));
        if (!transducer) return false;
        if (contains(*transducer, "FRTD")) {
          ac.Function = "4W,TEMP";
          if (N > h) ac.TEMP_TCO = "None";
        }
      } else if (contains(*answer, "TCO")) {
        const auto type = query("TCOuple:TYPE? @" + intToText(N));
        if (!type) return false;
        ac.TEMP_TCO = *type;
        if (const auto idx = sensorTypeIndex(*type); idx && classifySensorType(*type) == SensorKind::Thermocouple)
          ac.SensorTypeIndex = static_cast<std::int16_t>(*idx);
      }
    }

    view.functionText = ac.Function;
    view.functionSelectable = true;
    if (N > h && (contains(translated, "4W") || contains(ac.Function, "4W"))) {
      ac.Function = "NONE";
      view.functionText = "NONE";
      view.functionSelectable = false;
    }
    ChannelSetup& wc = w.channel[s][ci];
    const bool used = ac.Function != "NONE";
    view.enableTicked = used;
    wc.EnableChannel = used ? 1 : 0;
    wc.Function = ac.Function;
    wc.TEMP_TCO = ac.TEMP_TCO;
    wc.SensorTypeIndex = ac.SensorTypeIndex;
    view.gridFunction = ac.Function;
    view.gridSensor = ac.TEMP_TCO;
  }
  return true;
}

}  // namespace kalivor
