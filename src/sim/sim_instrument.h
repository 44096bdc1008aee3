// SPDX-License-Identifier: MIT
#pragma once
// One simulated scanning multimeter: the SCPI state machine behind every session opened to its
// resource. It scans as the clock advances, so a test moves a ManualClock and polls.
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "common/clock.h"
#include "sim/sim_config.h"
#include "visa/visa_types.h"

namespace kalivor::sim {

class SimInstrument {
 public:
  // Throws std::invalid_argument for a fault text or a power-on function that cannot be (the
  // simulation file parser refuses those with a message before it gets here).
  SimInstrument(Clock& clock, SimInstrumentConfig config);

  const SimInstrumentConfig& config() const { return config_; }
  int cardCode() const { return cardCode_; }
  int channelCount() const { return static_cast<int>(channels_.size()); }

  // The link, as the sessions use it. write takes one whole message; read hands out the queued
  // answer in pieces of at most count bytes and waits timeoutMs (on the clock) when none is queued.
  visa::ViStatus write(std::string_view message);
  visa::ViStatus read(unsigned char* buf, visa::ViUInt32 count, visa::ViUInt32* got,
                      visa::ViUInt32 timeoutMs);
  // Whether a session may still talk (false once the link has dropped, until it is back).
  bool linkUp();
  // Whether the meter can be opened: not while it is unplugged by a healing drop.
  bool present();
  // Bumped at every drop that heals: a session opened before it stays dead, as after a real
  // unplug, so talking again takes a fresh open.
  std::uint64_t linkEpoch() const { return linkEpoch_; }
  std::uint64_t drops() const { return drops_; }  // times the link was lost
  bool quiet();                                   // within a silent-after silence
  bool endless();                                 // within an endless-fetch-after period

  // What tests look at. Channels are numbered from 1, as on the front panel.
  std::string function(int channel) const;  // as rout:scan:func? answers, without quotes
  std::string transducer(int channel) const;  // RTD or FRTD
  std::string rtdType(int channel) const;
  std::string thermocoupleType(int channel) const;
  bool isSensePair(int channel) const;  // upper-half channel serving a 4-wire measurement
  double scanTimer() const { return timerSeconds_; }
  int scanCount() const { return scanCount_; }
  int readingsTaken();                   // of the current scan, at the clock's time
  bool scanRunning();                    // triggered and not all readings taken yet
  std::vector<int> scanChannels() const;  // channels a trigger now would read, in order
  // The messages written to it, raw, oldest first: the last kReceivedKept of them, so a meter
  // simulated for days keeps flat memory.
  static constexpr std::size_t kReceivedKept = 4096;
  std::vector<std::string> received() const { return {received_.begin(), received_.end()}; }
  // Messages written over its whole life, and those written after the first `mark` of them
  // (as far as they are still kept).
  std::uint64_t receivedCount() const { return receivedCount_; }
  std::vector<std::string> receivedSince(std::uint64_t mark) const;
  std::uint64_t exchanges() const { return exchanges_; }  // messages written
  std::size_t pendingAnswers() const { return output_.size(); }
  const std::deque<std::string>& errors() const { return errors_; }  // oldest first

  // Plugs a dropped instrument back in: the link works again and the exchange count restarts.
  void reconnect();
  // Changes the fault while the meter is in use (a meter that goes silent mid-run, say); the
  // exchange count of drop-after starts again. Throws std::invalid_argument for a bad fault text.
  void setFault(std::string_view fault);

  // The reading a channel gives with a function word, for reading number index of this
  // instrument's life (counted over all scans). Pure: tests use it to check fetch answers.
  static double modelValue(std::uint32_t seed, std::uint64_t index, int channel,
                           std::string_view word);

 private:
  struct Channel {
    std::string function = "VOLT";
    std::string transducer = "RTD";
    std::string rtdType = "PT100";
    std::string tcType = "K";
    bool sensePair = false;
  };
  struct Scan {
    bool triggered = false;
    LocalMs start = 0;
    std::uint32_t paceMs = 20;
    int count = 0;
    std::vector<int> channels;
    std::vector<std::string> words;
    std::uint64_t firstIndex = 0;
  };

  void resetState();
  void dropLink();
  void heal();  // ends a drop or a silence whose time is over
  void execute(std::string_view header, std::string_view arguments, bool query,
               std::vector<std::string>& answers);
  bool setFunction(int channel, const std::string& word);
  void updateSensePairs();
  const Channel& reported(int channel) const;  // a sense pair reports its 4-wire partner
  void trigger(bool step);
  std::string fetchAnswer();
  std::string noise();
  void pushError(std::string error);
  bool channelsOf(std::string_view list, std::vector<int>& out);

  Clock& clock_;
  SimInstrumentConfig config_;
  FaultSpec fault_;
  int cardCode_ = 0;
  std::vector<Channel> channels_;
  double timerSeconds_ = 0.5;
  int scanCount_ = 1;
  Scan scan_;
  std::uint64_t readingsBefore_ = 0;  // readings of earlier scans, for the value model
  std::deque<std::string> output_;    // answers not yet read, one message each
  std::size_t outputPos_ = 0;         // bytes of output_.front() already read
  std::deque<std::string> errors_;
  std::deque<std::string> received_;
  std::uint64_t receivedCount_ = 0;
  std::uint64_t exchanges_ = 0;
  std::uint64_t noiseCounter_ = 0;
  bool dropped_ = false;
  LocalMs backAt_ = 0;  // a healing drop is over then
  std::uint64_t linkEpoch_ = 0;
  std::uint64_t drops_ = 0;
  bool quiet_ = false;
  LocalMs quietUntil_ = 0;
  bool endless_ = false;        // fetch? answers do not end now
  LocalMs endlessUntil_ = 0;    // ... until then, when the fault heals
  bool endlessAnswer_ = false;  // the answer being read is one of them
};

}  // namespace kalivor::sim
