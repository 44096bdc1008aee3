// SPDX-License-Identifier: MIT
#include "instrument/instrument_link.h"

#include <algorithm>
#include <cstring>

#include "common/numbers.h"
#include "common/text.h"

namespace kalivor {

using namespace visa;

namespace {

constexpr const char* kFindExpression = "(USB|GPIB)?*INSTR";

bool isKnownCard(int code) { return code >= 1 && code <= 4; }

std::string descriptorName(const char* desc) {
  return std::string(desc, strnlen(desc, VI_FIND_BUFLEN));
}

std::string blankPadded(const std::string& name) {
  std::string out = name.substr(0, VI_FIND_BUFLEN);
  out.resize(VI_FIND_BUFLEN, ' ');
  return out;
}

}  // namespace

InstrumentLink::InstrumentLink(VisaApi& visa, Clock& clock, Messages& messages)
    : visa_(visa), clock_(clock), messages_(messages) {}

ViSession InstrumentLink::sessionOfSlot(int slot) const {
  if (slot < 0 || slot >= kIdentifiedCapacity) return 0;
  const int entry = slots[static_cast<std::size_t>(slot)].DiscoveredIndex;
  if (entry < 0 || entry >= kIdentifiedCapacity) return 0;
  const int index = identified[static_cast<std::size_t>(entry)].ResourceIndex;
  if (index < 0 || index >= static_cast<int>(kDeviceSessionCount)) return 0;
  return DeviceSessions[static_cast<std::size_t>(index)];
}

std::string InstrumentLink::receivedText() const {
  return ReplyBuffer.substr(0, std::min<std::size_t>(LastTransferCount, ReplyBuffer.size()));
}

std::string InstrumentLink::slotName(int slot) const {
  if (slot >= 0 && slot < kIdentifiedCapacity) {
    const int entry = slots[static_cast<std::size_t>(slot)].DiscoveredIndex;
    if (entry >= 0 && entry < kIdentifiedCapacity) {
      const DiscoveredInstrument& d = identified[static_cast<std::size_t>(entry)];
      if (!d.Description.empty()) return d.Description;
      if (!d.Resource.empty()) return d.Resource;
    }
  }
  return "instrument " + intToText(slot + 1);
}

void InstrumentLink::writeRaw(ViSession session, const std::string& bytes) {
  ViUInt32 written = 0;
  LastVisaStatus = gated([&] {
    return visa_.viWrite(session, reinterpret_cast<const unsigned char*>(bytes.data()),
                         static_cast<ViUInt32>(bytes.size()), &written);
  });
  LastTransferCount = written;
}

void InstrumentLink::readIntoReplyBuffer(ViSession session) {
  ReplyBuffer.assign(kReplyBufferSize, ' ');
  unsigned char buf[kReplyBufferSize];
  ViUInt32 got = 0;
  LastVisaStatus =
      gated([&] { return visa_.viRead(session, buf, static_cast<ViUInt32>(kReplyBufferSize), &got); });
  // A misbehaving backend must not make us read past our buffer.
  got = std::min<ViUInt32>(got, static_cast<ViUInt32>(kReplyBufferSize));
  LastTransferCount = got;
  std::memcpy(ReplyBuffer.data(), buf, got);
}

std::string InstrumentLink::readRaw(ViSession session) {
  readIntoReplyBuffer(session);
  return receivedText();
}

void InstrumentLink::applyReadFailureRule(const char* message) {
  if (!isVisaFailure(LastVisaStatus)) return;
  if (stopHook_) stopHook_();
  StopRequested = true;
  messages_.inform(message);
}

void InstrumentLink::SendCommand(const std::string& command, int slot) {
  const std::string message = command + "\n";
  const ViSession session = sessionOfSlot(slot);
  gate_->progress(slotName(slot) + ": " + command);
  writeRaw(session, message);
  if (command.find('?') == std::string::npos) return;
  ReplyBuffer.assign(kReplyBufferSize, ' ');
  gate_->run([this] { clock_.sleep(kQueryPauseMs); });
  readIntoReplyBuffer(session);
  applyReadFailureRule("Timeout");
}

void InstrumentLink::ReadReply(int slot) {
  const ViSession session = sessionOfSlot(slot);
  readIntoReplyBuffer(session);
  applyReadFailureRule("Timeout ");
}

std::string cleanAnswer(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (c != '\n' && c != '\r' && c != '\0') out.push_back(c);
  }
  return trimBlanks(out);
}

std::string modelOfIdentity(const std::string& identity) {
  const std::size_t first = identity.find(',');
  if (first == std::string::npos) return {};
  const std::size_t second = identity.find(',', first + 1);
  if (second == std::string::npos) return {};
  return identity.substr(first + 1, second - first - 1);
}

std::string describeInstrument(const std::string& serial, int cardCode, int channelCount) {
  const std::string channels = intToText(channelCount) + "ch";
  std::string text;
  switch (cardCode) {
    case 3: text = serial + " -- " + " TC-Scanner Card " + " -- " + channels; break;
    case 4: text = serial + " -- " + "SSR Card" + " -- " + channels; break;
    default: text = serial + " -- " + channels; break;
  }
  return removeChar(text, '\n');
}

void InstrumentLink::DiscoverInstruments() {
  InstrumentCount = 0;
  openedSessions_ = 0;
  for (auto& entry : identified) entry = DiscoveredInstrument{};

  gate_->progress("Looking for instruments");
  LastVisaStatus = gated([&] { return visa_.viOpenDefaultRM(&ResourceManager); });
  if (LastVisaStatus < 0) return;

  char desc[VI_FIND_BUFLEN + 1] = {};
  LastVisaStatus = gated(
      [&] { return visa_.viFindRsrc(ResourceManager, kFindExpression, &FindList, &FoundCount, desc); });
  if (LastVisaStatus < 0) {
    LastVisaStatus = gated([&] { return visa_.viClose(ResourceManager); });
    ResourceManager = 0;
    FindList = 0;
    FoundCount = 0;
    return;
  }
  if (FoundCount == 0) return;
  ResourceDescriptor = blankPadded(descriptorName(desc));

  // Only 21 sessions fit; resources beyond them are left alone.
  const std::size_t count = std::min<std::size_t>(FoundCount, kDeviceSessionCount);
  for (std::size_t i = 0; i < count; ++i) {
    const std::string resource = trimBlanks(ResourceDescriptor);
    ViSession session = 0;
    gate_->progress("Identifying " + resource);
    LastVisaStatus = gated([&] { return visa_.viOpen(ResourceManager, resource.c_str(), 0, 0, &session); });
    DeviceSessions[i] = session;
    openedSessions_ = i + 1;
    LastVisaStatus = gated([&] { return visa_.viSetAttribute(session, VI_ATTR_TMO_VALUE, kSessionTimeoutMs); });

    // Once four are listed there is no room for more: leave the rest unidentified rather than
    // spend up to 30 s per silent resource on instruments that cannot be shown.
    if (InstrumentCount < kMaxListed) {
      writeRaw(session, "*IDN?");
      const std::string identity = readRaw(session);
      if (LastTransferCount > 0) {
        DiscoveredInstrument& entry = identified[static_cast<std::size_t>(InstrumentCount)];
        entry.Model = modelOfIdentity(identity);
        entry.Identity = cleanAnswer(identity);

        writeRaw(session, "rout:state?\n");
        const std::string cardAnswer = readRaw(session);
        const auto code = toInt16(leadingNumber(cardAnswer));
        const int card = code ? *code : 0;
        if (isKnownCard(card)) {
          entry.ScanerCard = static_cast<std::int16_t>(card);
          entry.BankCount = static_cast<std::int16_t>(card == 2 ? 2 : 1);
          entry.ResourceIndex = static_cast<std::int16_t>(i);
          entry.ChannelCount = static_cast<std::int16_t>(entry.BankCount * 10);
          entry.Resource = resource;

          writeRaw(session, "cal:sec:serial?\n");
          const std::string serial = readRaw(session);
          entry.Description = describeInstrument(serial, card, entry.ChannelCount);
          entry.Serial = trimBlanks(removeChar(removeChar(serial, '\n'), '\r'));
          ++InstrumentCount;
        } else {
          entry = DiscoveredInstrument{};
        }
      }
    }

    std::memset(desc, 0, sizeof desc);
    LastVisaStatus = gated([&] { return visa_.viFindNext(FindList, desc); });
    if (LastVisaStatus >= 0) ResourceDescriptor = blankPadded(descriptorName(desc));
  }
  if (InstrumentCount > kMaxListed) InstrumentCount = kMaxListed;
  gate_->progress("");
}

void InstrumentLink::closeForRefresh() {
  if (FindList != 0) LastVisaStatus = visa_.viClose(FindList);
  if (ResourceManager != 0) LastVisaStatus = visa_.viClose(ResourceManager);
  FindList = 0;
  ResourceManager = 0;
  for (std::size_t i = 0; i < kDeviceSessionCount; ++i) {
    if (DeviceSessions[i] != 0) LastVisaStatus = visa_.viClose(DeviceSessions[i]);
    DeviceSessions[i] = 0;
  }
  openedSessions_ = 0;
}

void InstrumentLink::closeAtShutdown() {
  for (std::size_t i = 0; i < kDeviceSessionCount; ++i) {
    if (DeviceSessions[i] != 0) LastVisaStatus = visa_.viClose(DeviceSessions[i]);
    DeviceSessions[i] = 0;
  }
  if (FindList != 0) LastVisaStatus = visa_.viClose(FindList);
  if (ResourceManager != 0) LastVisaStatus = visa_.viClose(ResourceManager);
  FindList = 0;
  ResourceManager = 0;
  openedSessions_ = 0;
}

}  // namespace kalivor
