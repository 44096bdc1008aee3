// SPDX-License-Identifier: MIT
#include "sim/sim_instrument.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>
#include <stdexcept>

#include "common/numbers.h"
#include "common/text.h"
#include "sim/scpi_words.h"

namespace kalivor::sim {
namespace {

using namespace visa;

constexpr std::size_t kMaxErrors = 20;
constexpr int kMaxScanCount = 100000;
constexpr double kMaxTimerSeconds = 3600;

std::uint64_t splitmix64(std::uint64_t x) {
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

// Uniform in [-1, 1).
double unitNoise(std::uint64_t h) { return static_cast<double>(h >> 11) * 0x1.0p-52 - 1.0; }

std::string_view trimSpace(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

std::string join(const std::vector<std::string>& parts, char sep) {
  std::string out;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    if (i > 0) out.push_back(sep);
    out += parts[i];
  }
  return out;
}

// "RTD ,@3" -> parameter "RTD", channels "@3". Without an at sign the first comma separates them.
bool splitParameterAndChannels(std::string_view args, std::string_view& param,
                               std::string_view& channels) {
  std::size_t at = args.find('@');
  if (at != std::string_view::npos) {
    std::size_t start = at;
    std::size_t p = at;
    while (p > 0 && (args[p - 1] == ' ' || args[p - 1] == '\t')) --p;
    if (p > 0 && args[p - 1] == '(') start = p - 1;
    channels = args.substr(start);
    param = trimSpace(args.substr(0, start));
  } else {
    const std::size_t comma = args.find(',');
    if (comma == std::string_view::npos) return false;
    channels = args.substr(comma + 1);
    param = trimSpace(args.substr(0, comma + 1));
  }
  if (!param.empty() && param.back() == ',') param = trimSpace(param.substr(0, param.size() - 1));
  return !param.empty();
}

}  // namespace

SimInstrument::SimInstrument(Clock& clock, SimInstrumentConfig config)
    : clock_(clock), config_(std::move(config)) {
  const auto fault = parseFault(config_.fault);
  if (!fault) throw std::invalid_argument("unknown fault \"" + config_.fault + "\"");
  fault_ = *fault;
  cardCode_ = cardCodeOf(config_.card);
  if (static_cast<int>(config_.functions.size()) > channelCountOf(cardCode_)) {
    throw std::invalid_argument("more power-on functions than channels");
  }
  resetState();
  for (std::size_t i = 0; i < config_.functions.size(); ++i) {
    const int channel = static_cast<int>(i) + 1;
    const auto word = functionWord(config_.functions[i]);
    // Listing a sense pair as NONE is how a file describes a 4-wire channel completely.
    if (word == "NONE" && isSensePair(channel)) continue;
    if (!word || !setFunction(channel, *word)) {
      throw std::invalid_argument("channel " + std::to_string(i + 1) + " cannot measure \"" +
                                  config_.functions[i] + "\"");
    }
  }
  errors_.clear();
}

void SimInstrument::resetState() {
  channels_.assign(static_cast<std::size_t>(channelCountOf(cardCode_)), Channel{});
  timerSeconds_ = 0.5;
  scanCount_ = 1;
  if (scan_.triggered) readingsBefore_ += static_cast<std::uint64_t>(readingsTaken());
  scan_ = Scan{};
}

void SimInstrument::setFault(std::string_view fault) {
  const auto spec = parseFault(fault);
  if (!spec) throw std::invalid_argument("unknown fault \"" + std::string(fault) + "\"");
  fault_ = *spec;
  config_.fault = std::string(fault);
  exchanges_ = 0;
  dropped_ = false;
  quiet_ = false;
  endless_ = false;
  endlessAnswer_ = false;
}

void SimInstrument::reconnect() {
  dropped_ = false;
  quiet_ = false;
  endless_ = false;
  endlessAnswer_ = false;
  exchanges_ = 0;
  output_.clear();
  outputPos_ = 0;
}

void SimInstrument::dropLink() {
  dropped_ = true;
  ++drops_;
  output_.clear();
  outputPos_ = 0;
  endlessAnswer_ = false;
  if (fault_.backAfterMs) {
    backAt_ = clock_.now() + static_cast<LocalMs>(*fault_.backAfterMs);
    ++linkEpoch_;
  }
}

void SimInstrument::heal() {
  const LocalMs now = clock_.now();
  if (dropped_ && fault_.backAfterMs && now >= backAt_) {
    dropped_ = false;
    exchanges_ = 0;
  }
  if (quiet_ && now >= quietUntil_) {
    quiet_ = false;
    exchanges_ = 0;
  }
  if (endless_ && fault_.endlessForMs && now >= endlessUntil_) {
    endless_ = false;
    exchanges_ = 0;
  }
}

bool SimInstrument::linkUp() {
  heal();
  return !dropped_;
}

bool SimInstrument::present() {
  heal();
  return !(dropped_ && fault_.backAfterMs);
}

bool SimInstrument::quiet() {
  heal();
  return quiet_;
}

bool SimInstrument::endless() {
  heal();
  return endless_;
}

ViStatus SimInstrument::write(std::string_view message) {
  heal();
  if (dropped_) return VI_ERROR_CONN_LOST;
  if (fault_.kind == FaultSpec::Kind::DropAfter && exchanges_ >= fault_.dropAfter) {
    dropLink();
    return VI_ERROR_CONN_LOST;
  }
  if (fault_.kind == FaultSpec::Kind::SilentAfter && !quiet_ && exchanges_ >= fault_.dropAfter) {
    // What was still unread is lost with the meter's attention.
    quiet_ = true;
    quietUntil_ = clock_.now() + static_cast<LocalMs>(fault_.silentForMs);
    output_.clear();
    outputPos_ = 0;
  }
  if (fault_.kind == FaultSpec::Kind::EndlessFetchAfter && !endless_ && exchanges_ >= fault_.dropAfter) {
    endless_ = true;
    if (fault_.endlessForMs) endlessUntil_ = clock_.now() + static_cast<LocalMs>(*fault_.endlessForMs);
  }
  ++exchanges_;
  received_.emplace_back(message);
  ++receivedCount_;
  if (received_.size() > kReceivedKept) received_.pop_front();
  if (fault_.kind == FaultSpec::Kind::Silent || quiet_) return VI_SUCCESS;

  // A new message while an answer is still unread discards that answer, as meters do.
  if (!output_.empty()) {
    output_.clear();
    outputPos_ = 0;
    pushError("-410,\"Query INTERRUPTED\"");
  }
  endlessAnswer_ = false;
  std::vector<std::string> answers;
  for (const MessageUnit& unit : splitMessage(message)) {
    if (endless_ && unit.query && headerMatches(unit.header, "FETCh")) endlessAnswer_ = true;
    if (fault_.kind == FaultSpec::Kind::Garbage && unit.query) {
      answers.push_back(noise());
    } else {
      execute(unit.header, unit.arguments, unit.query, answers);
    }
  }
  if (!answers.empty()) output_.push_back(join(answers, ';') + config_.terminator);
  return VI_SUCCESS;
}

std::vector<std::string> SimInstrument::receivedSince(std::uint64_t mark) const {
  const std::uint64_t first = receivedCount_ - received_.size();  // life index of received_[0]
  const std::uint64_t from = std::max(mark, first) - first;
  if (from >= received_.size()) return {};
  return {received_.begin() + static_cast<std::ptrdiff_t>(from), received_.end()};
}

ViStatus SimInstrument::read(unsigned char* buf, ViUInt32 count, ViUInt32* got,
                             ViUInt32 timeoutMs) {
  ViUInt32 dummy = 0;
  if (got == nullptr) got = &dummy;
  *got = 0;
  heal();
  if (dropped_) return VI_ERROR_CONN_LOST;
  if (buf == nullptr && count > 0) return VI_ERROR_IO;
  if (fault_.kind == FaultSpec::Kind::DropAfter && exchanges_ >= fault_.dropAfter &&
      output_.empty()) {
    dropLink();
    return VI_ERROR_CONN_LOST;
  }
  if (fault_.kind == FaultSpec::Kind::Silent || quiet_ || output_.empty()) {
    clock_.sleep(timeoutMs);
    return VI_ERROR_TMO;
  }
  if (endlessAnswer_) {
    // No comma and no terminator: nothing a reader could ever take as a value or an end.
    static constexpr std::string_view kBabble = "#%&*?@^~|!$<>{}[]xyzQW0123456789.E+-";
    for (ViUInt32 i = 0; i < count; ++i) {
      buf[i] = static_cast<unsigned char>(kBabble[static_cast<std::size_t>(splitmix64(noiseCounter_++) % kBabble.size())]);
    }
    *got = count;
    return VI_SUCCESS_MAX_CNT;
  }
  const std::string& message = output_.front();
  const std::size_t n = std::min<std::size_t>(count, message.size() - outputPos_);
  if (n > 0) std::memcpy(buf, message.data() + outputPos_, n);
  outputPos_ += n;
  *got = static_cast<ViUInt32>(n);
  if (outputPos_ < message.size()) return VI_SUCCESS_MAX_CNT;
  output_.pop_front();
  outputPos_ = 0;
  return VI_SUCCESS;
}

void SimInstrument::pushError(std::string error) {
  if (errors_.size() >= kMaxErrors) {
    errors_.back() = "-350,\"Queue overflow\"";
    return;
  }
  errors_.push_back(std::move(error));
}

bool SimInstrument::channelsOf(std::string_view list, std::vector<int>& out) {
  auto parsed = parseChannelList(list, channelCount());
  if (!parsed) {
    pushError("-222,\"Data out of range\"");
    return false;
  }
  out = std::move(*parsed);
  return true;
}

void SimInstrument::execute(std::string_view header, std::string_view args, bool query,
                            std::vector<std::string>& answers) {
  auto undefined = [&] { pushError("-113,\"Undefined header\""); };
  auto illegal = [&] { pushError("-224,\"Illegal parameter value\""); };
  auto conflict = [&] { pushError("-221,\"Settings conflict\""); };
  // Queries over a channel list answer one value per channel, comma-separated.
  auto perChannel = [&](auto value) {
    std::vector<int> list;
    if (!channelsOf(args, list)) return;
    std::vector<std::string> parts;
    for (int c : list) parts.push_back(value(reported(c)));
    answers.push_back(join(parts, ','));
  };
  // Sensor settings: "<parameter> ,@<channels>".
  auto perChannelSetting = [&](auto decode, auto apply) {
    std::string_view param;
    std::string_view list;
    if (!splitParameterAndChannels(args, param, list)) {
      pushError("-109,\"Missing parameter\"");
      return;
    }
    const auto word = decode(param);
    if (!word) return illegal();
    std::vector<int> channels;
    if (!channelsOf(list, channels)) return;
    for (int c : channels) {
      Channel& ch = channels_[static_cast<std::size_t>(c - 1)];
      if (ch.sensePair || !apply(c, ch, *word)) conflict();
    }
    updateSensePairs();
  };

  if (headerMatches(header, "*IDN")) {
    if (!query) return undefined();
    answers.push_back(config_.identity);
  } else if (headerMatches(header, "*RST")) {
    if (query) return undefined();
    resetState();
  } else if (headerMatches(header, "*CLS")) {
    if (query) return undefined();
    errors_.clear();
  } else if (headerMatches(header, "*OPC")) {
    if (query) answers.push_back("1");
  } else if (headerMatches(header, "SYSTem:ERRor[:NEXT]")) {
    if (!query) return undefined();
    if (errors_.empty()) {
      answers.push_back("+0,\"No error\"");
    } else {
      answers.push_back(errors_.front());
      errors_.pop_front();
    }
  } else if (headerMatches(header, "ROUTe:STATe")) {
    if (!query) return undefined();
    answers.push_back(config_.card);
  } else if (headerMatches(header, "CALibration:SECure:SERial")) {
    if (!query) return undefined();
    answers.push_back(config_.serial);
  } else if (headerMatches(header, "ROUTe:SCAN:FUNCtion")) {
    if (query) {
      perChannel([](const Channel& ch) { return "\"" + ch.function + "\""; });
      return;
    }
    // rout:scan:func 3,"VOLT": the quoted word comes last.
    std::size_t cut = args.find_first_of("\"'");
    if (cut == std::string_view::npos) cut = args.rfind(',');
    if (cut == std::string_view::npos) {
      pushError("-109,\"Missing parameter\"");
      return;
    }
    std::string_view list = trimSpace(args.substr(0, cut));
    if (!list.empty() && list.back() == ',') list.remove_suffix(1);
    std::string_view wordText = args.substr(cut);
    if (!wordText.empty() && wordText.front() == ',') wordText.remove_prefix(1);
    const auto word = functionWord(wordText);
    if (!word) return illegal();
    std::vector<int> channels;
    if (!channelsOf(list, channels)) return;
    for (int c : channels) setFunction(c, *word);
  } else if (headerMatches(header, "ROUTe:SCAN:TIMer")) {
    if (query) {
      answers.push_back(numberToText(timerSeconds_));
      return;
    }
    const auto v = strictNumber(args);
    if (!v || !(*v >= 0 && *v <= kMaxTimerSeconds)) {
      pushError("-222,\"Data out of range\"");
      return;
    }
    timerSeconds_ = *v;
  } else if (headerMatches(header, "ROUTe:SCAN:COUNt")) {
    if (query) {
      answers.push_back(intToText(scanCount_));
      return;
    }
    const auto v = strictNumber(args);
    const double n = v ? roundHalfEven(*v) : 0;
    if (!v || !(n >= 1 && n <= kMaxScanCount)) {
      pushError("-222,\"Data out of range\"");
      return;
    }
    scanCount_ = static_cast<int>(n);
  } else if (headerMatches(header, "ROUTe:SCAN:SCAN") || headerMatches(header, "ROUTe:SCAN:STEP")) {
    if (query) return undefined();
    trigger(headerMatches(header, "ROUTe:SCAN:STEP"));
  } else if (headerMatches(header, "ROUTe:SCAN:STATe")) {
    if (!query) return undefined();
    answers.push_back(intToText(readingsTaken()));
  } else if (headerMatches(header, "ROUTe:SCAN:ABORt") || headerMatches(header, "ABORt")) {
    if (query) return undefined();
    if (scan_.triggered) scan_.count = readingsTaken();
  } else if (headerMatches(header, "FETCh")) {
    if (!query) return undefined();
    answers.push_back(fetchAnswer());
  } else if (headerMatches(header, "[SENSe]:TEMPerature:TRANsducer[:TYPE]")) {
    if (query) {
      perChannel([](const Channel& ch) { return ch.transducer; });
      return;
    }
    perChannelSetting(transducerWord, [this](int c, Channel& ch, const std::string& w) {
      // The 4-wire sense pair lies in the upper half, so only the lower half can be 4-wire.
      if (w == "FRTD" && c - 1 >= halfOf(channelCount())) return false;
      ch.transducer = w;
      return true;
    });
  } else if (headerMatches(header, "[SENSe]:TEMPerature:RTD:TYPE")) {
    if (query) {
      perChannel([](const Channel& ch) { return ch.rtdType; });
      return;
    }
    perChannelSetting(rtdTypeWord, [](int, Channel& ch, const std::string& w) {
      ch.rtdType = w;
      return true;
    });
  } else if (headerMatches(header, "[SENSe]:[TEMPerature]:TCOuple:TYPE")) {
    if (query) {
      perChannel([](const Channel& ch) { return ch.tcType; });
      return;
    }
    perChannelSetting(thermocoupleTypeWord, [](int, Channel& ch, const std::string& w) {
      ch.tcType = w;
      return true;
    });
  } else {
    undefined();
  }
}

bool SimInstrument::setFunction(int channel, const std::string& word) {
  Channel& ch = channels_.at(static_cast<std::size_t>(channel - 1));
  // A sense pair belongs to its 4-wire channel until that one is set to something else.
  if (ch.sensePair || !cardOffers(cardCode_, channelCount(), channel - 1, word)) {
    pushError("-221,\"Settings conflict\"");
    return false;
  }
  ch.function = word;
  updateSensePairs();
  return true;
}

void SimInstrument::updateSensePairs() {
  const int h = halfOf(channelCount());
  for (int i = 0; i < h && i + h < channelCount(); ++i) {
    const Channel& lower = channels_[static_cast<std::size_t>(i)];
    Channel& pair = channels_[static_cast<std::size_t>(i + h)];
    const bool fourWire =
        lower.function == "FRES" || (lower.function == "TEMP" && lower.transducer == "FRTD");
    if (fourWire != pair.sensePair) {
      pair = Channel{};
      pair.function = "NONE";
      pair.sensePair = fourWire;
    }
  }
}

const SimInstrument::Channel& SimInstrument::reported(int channel) const {
  const Channel& ch = channels_.at(static_cast<std::size_t>(channel - 1));
  if (!ch.sensePair) return ch;
  return channels_.at(static_cast<std::size_t>(channel - 1 - halfOf(channelCount())));
}

std::string SimInstrument::function(int channel) const { return reported(channel).function; }
std::string SimInstrument::transducer(int channel) const { return reported(channel).transducer; }
std::string SimInstrument::rtdType(int channel) const { return reported(channel).rtdType; }
std::string SimInstrument::thermocoupleType(int channel) const {
  return reported(channel).tcType;
}
bool SimInstrument::isSensePair(int channel) const {
  return channels_.at(static_cast<std::size_t>(channel - 1)).sensePair;
}

std::vector<int> SimInstrument::scanChannels() const {
  std::vector<int> out;
  for (int c = 1; c <= channelCount(); ++c) {
    const Channel& ch = channels_[static_cast<std::size_t>(c - 1)];
    if (!ch.sensePair && ch.function != "NONE") out.push_back(c);
  }
  return out;
}

void SimInstrument::trigger(bool step) {
  if (scan_.triggered) readingsBefore_ += static_cast<std::uint64_t>(readingsTaken());
  Scan s;
  s.triggered = true;
  s.start = clock_.now();
  const auto timerMs = static_cast<std::uint32_t>(std::llround(timerSeconds_ * 1000.0));
  // A reading takes its measuring time whatever the timer says.
  s.paceMs = std::max<std::uint32_t>(1, step ? std::max(timerMs, config_.readingMs)
                                             : config_.readingMs);
  s.count = scanCount_;
  s.channels = scanChannels();
  for (int c : s.channels) s.words.push_back(channels_[static_cast<std::size_t>(c - 1)].function);
  s.firstIndex = readingsBefore_;
  scan_ = std::move(s);
}

int SimInstrument::readingsTaken() {
  if (!scan_.triggered || scan_.channels.empty()) return 0;
  const LocalMs elapsed = clock_.now() - scan_.start;
  if (elapsed <= 0) return 0;
  const auto done = elapsed / static_cast<LocalMs>(scan_.paceMs);
  return static_cast<int>(std::min<LocalMs>(done, scan_.count));
}

bool SimInstrument::scanRunning() {
  return scan_.triggered && !scan_.channels.empty() && readingsTaken() < scan_.count;
}

std::string SimInstrument::fetchAnswer() {
  const int n = readingsTaken();
  std::string out;
  out.reserve(static_cast<std::size_t>(n) * 14);
  for (int k = 0; k < n; ++k) {
    const std::size_t slot = static_cast<std::size_t>(k) % scan_.channels.size();
    if (k > 0) out.push_back(',');
    out += formatReading(modelValue(config_.seed, scan_.firstIndex + static_cast<std::uint64_t>(k),
                                    scan_.channels[slot], scan_.words[slot]));
  }
  return out;
}

std::string SimInstrument::noise() {
  std::uint64_t h = splitmix64((static_cast<std::uint64_t>(config_.seed) << 32) ^
                               (0xA5A5A5A5ull + noiseCounter_++));
  const std::size_t length = 1 + static_cast<std::size_t>(h % 48);
  // The first byte never starts a number, so noise is never taken for a card code.
  static constexpr std::string_view kLead = "#%&*?@^~|!$<>{}[]xyzQW";
  std::string out(1, kLead[static_cast<std::size_t>((h >> 8) % kLead.size())]);
  for (std::size_t i = 1; i < length; ++i) {
    h = splitmix64(h);
    out.push_back(static_cast<char>(h & 0xFF));
  }
  return out;
}

double SimInstrument::modelValue(std::uint32_t seed, std::uint64_t index, int channel,
                                 std::string_view word) {
  const std::uint64_t key = (static_cast<std::uint64_t>(seed) << 32) ^
                            (index * 0x100000001B3ull) ^ static_cast<std::uint64_t>(channel);
  const double u = unitNoise(splitmix64(key));
  // A slow wander, different per channel, so trend charts have something to show.
  const double drift = std::sin(static_cast<double>(index) * (2 * std::numbers::pi / 500.0) +
                                static_cast<double>(channel));
  const double c = channel;
  if (word == "VOLT") return 0.5 + 0.23 * c + 0.01 * drift + 0.0005 * u;
  if (word == "VOLT:AC") return (0.1 + 0.05 * c) * (1 + 0.002 * drift) + 0.0002 * u;
  if (word == "RES") return (1000 + 47 * c) * (1 + 0.0002 * drift + 0.0001 * u);
  if (word == "FRES") return (100 + 4.7 * c) * (1 + 0.0002 * drift + 0.0001 * u);
  if (word == "FREQ") return 1000 * c * (1 + 0.00005 * u);
  if (word == "PER") return 1 / (1000 * c) * (1 + 0.00005 * u);
  if (word == "TCO") return 22 + 0.3 * c + 0.5 * drift + 0.05 * u;
  if (word == "TEMP") return 24 + 0.2 * c + 0.3 * drift + 0.02 * u;
  return 0;
}

}  // namespace kalivor::sim
