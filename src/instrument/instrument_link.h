// SPDX-License-Identifier: MIT
#pragma once
// The instrument link: the VISA handles and the shared I/O results, the two I/O primitives every
// exchange after discovery goes through, discovery itself, and the selected slots.
#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "common/clock.h"
#include "common/io_gate.h"
#include "common/messages.h"
#include "visa/visa_api.h"

namespace kalivor {

inline constexpr std::size_t kReplyBufferSize = 1024;
inline constexpr std::size_t kDeviceSessionCount = 21;  // sessions 0..20
inline constexpr int kIdentifiedCapacity = 5;
inline constexpr int kMaxListed = 4;
inline constexpr visa::ViUInt32 kSessionTimeoutMs = 30000;
inline constexpr std::uint32_t kQueryPauseMs = 50;

struct DiscoveredInstrument {
  std::int16_t ResourceIndex = 0;  // index of its session in DeviceSessions
  std::string Model;
  std::string Description;  // "<serial> -- 20ch" and the like; always ends in 10ch or 20ch
  std::int16_t ScanerCard = 0;
  std::int16_t BankCount = 0;
  std::int16_t ChannelCount = 0;
  std::string Resource;  // the VISA resource string (for the CLI and traces)
  std::string Serial;    // the answer to the serial-number query, without line ends and blanks
  std::string Identity;  // the *IDN? answer, cleaned
};

struct InstrumentSlot {
  std::int16_t DiscoveredIndex = 0;
};

// A status other than VI_SUCCESS and VI_SUCCESS_MAX_CNT is a failure of the exchange.
constexpr bool isVisaFailure(visa::ViStatus s) {
  return s != visa::VI_SUCCESS && s != visa::VI_SUCCESS_MAX_CNT;
}

class InstrumentLink {
 public:
  InstrumentLink(visa::VisaApi& visa, Clock& clock, Messages& messages);

  // Writes command + line feed to the slot's instrument; when the command holds a "?" anywhere,
  // blank-fills ReplyBuffer, pauses 50 ms and reads at most 1024 bytes into it. A failed read
  // runs the read-failure rule with "Timeout".
  void SendCommand(const std::string& command, int slot);
  // Reads one more answer of an earlier query; the read-failure rule says "Timeout ".
  void ReadReply(int slot);

  // Finds, opens and identifies the instruments; fills the identified list and InstrumentCount.
  void DiscoverInstruments();

  // Refresh and silent re-connection: the find list, the resource manager, then every session
  // discovery opened (not just 0..3, so refreshing never leaks sessions).
  void closeForRefresh();
  // Program end: every session, then the find list, then the resource manager.
  void closeAtShutdown();

  // Run by the read-failure rule before StopRequested is set and the message is shown: the
  // application installs the run controller's stop here.
  void setStopHook(std::function<void()> hook) { stopHook_ = std::move(hook); }
  // Where the blocking VISA calls and pauses run (in place unless a window gives its own gate).
  void setGate(IoGate* gate) { gate_ = gate ? gate : &inlineGate_; }
  IoGate& gate() { return *gate_; }

  bool lastExchangeFailed() const { return isVisaFailure(LastVisaStatus); }
  // The first LastTransferCount characters of ReplyBuffer (what the last read received).
  std::string receivedText() const;
  // The session of a slot, through its identified-list entry; 0 when the slot does not resolve.
  visa::ViSession sessionOfSlot(int slot) const;
  visa::VisaApi& visaApi() { return visa_; }
  Clock& clock() { return clock_; }
  Messages& messages() { return messages_; }

  // Shared I/O state.
  visa::ViSession ResourceManager = 0;
  visa::ViFindList FindList = 0;
  visa::ViUInt32 FoundCount = 0;
  std::string ResourceDescriptor = std::string(visa::VI_FIND_BUFLEN, ' ');
  std::array<visa::ViSession, kDeviceSessionCount> DeviceSessions{};
  visa::ViStatus LastVisaStatus = visa::VI_SUCCESS;
  visa::ViUInt32 LastTransferCount = 0;
  std::string ReplyBuffer = std::string(kReplyBufferSize, ' ');
  bool StopRequested = false;

  // Identified instruments (at most four in use after discovery) and the selected slots.
  std::array<DiscoveredInstrument, kIdentifiedCapacity> identified{};
  std::array<InstrumentSlot, kIdentifiedCapacity> slots{};
  // Identified instruments right after discovery; selected instruments after a confirmation.
  std::int16_t InstrumentCount = 0;

 private:
  void applyReadFailureRule(const char* message);
  // Runs one blocking VISA call through the gate; its status is taken on the caller's thread. A
  // call the gate no longer runs (the program is closing) counts as a lost link.
  template <typename F>
  visa::ViStatus gated(F&& call) {
    if (gate_->cancelled()) return visa::VI_ERROR_CONN_LOST;
    visa::ViStatus result = visa::VI_ERROR_CONN_LOST;
    gate_->run([&] { result = call(); });
    return result;
  }
  // "SIM0001 -- 20ch: rout:scan:func? 5" for the progress shown while a call is under way.
  std::string slotName(int slot) const;
  void readIntoReplyBuffer(visa::ViSession session);
  void writeRaw(visa::ViSession session, const std::string& bytes);
  std::string readRaw(visa::ViSession session);

  visa::VisaApi& visa_;
  Clock& clock_;
  Messages& messages_;
  std::function<void()> stopHook_;
  IoGate inlineGate_;
  IoGate* gate_ = &inlineGate_;
  std::size_t openedSessions_ = 0;  // sessions opened by the last discovery
};

// An answer as the program uses it: line feeds, carriage returns and NULs removed, blanks
// trimmed (some instruments end answers with "\r\n" or a NUL).
std::string cleanAnswer(std::string_view text);

// The description line of an identified instrument, line feeds removed.
std::string describeInstrument(const std::string& serial, int cardCode, int channelCount);
// The second comma-separated field of an identity answer; empty when there is none.
std::string modelOfIdentity(const std::string& identity);

}  // namespace kalivor
