// SPDX-License-Identifier: MIT
#include "sim/sim_config.h"

#include <array>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <fstream>
#include <stdexcept>

#include "common/clock.h"
#include "common/numbers.h"
#include "common/text.h"
#include "sim/scpi_words.h"
#include "sim/sim_instrument.h"

namespace kalivor::sim {
namespace {

// Files larger than this are not simulation files; refusing them keeps a wrong pick harmless.
constexpr std::size_t kMaxFileBytes = 1 << 20;
constexpr std::size_t kMaxResourceLength = 255;  // VI_FIND_BUFLEN less the terminating NUL

std::string_view trimSpace(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

// For messages: control characters escaped, long texts cut.
std::string shown(std::string_view s) {
  constexpr std::size_t kMax = 60;
  std::string out = escapeControl(s.substr(0, kMax));
  if (s.size() > kMax) out += "...";
  return "\"" + out + "\"";
}

std::optional<std::uint64_t> parseUnsigned(std::string_view s, std::uint64_t max) {
  if (s.empty() || s.size() > 19) return std::nullopt;
  std::uint64_t v = 0;
  const auto res = std::from_chars(s.data(), s.data() + s.size(), v);
  if (res.ec != std::errc() || res.ptr != s.data() + s.size() || v > max) return std::nullopt;
  return v;
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// \r \n \t \0 \\ \" and \xHH; anything else after a backslash is refused so typos show.
bool decodeEscapes(std::string_view in, std::string& out, std::string& problem) {
  out.clear();
  for (std::size_t i = 0; i < in.size(); ++i) {
    if (in[i] != '\\') {
      out.push_back(in[i]);
      continue;
    }
    if (++i == in.size()) {
      problem = "ends with a lone backslash";
      return false;
    }
    switch (in[i]) {
      case 'r': out.push_back('\r'); break;
      case 'n': out.push_back('\n'); break;
      case 't': out.push_back('\t'); break;
      case '0': out.push_back('\0'); break;
      case '\\': out.push_back('\\'); break;
      case '"': out.push_back('"'); break;
      case 'x': {
        const int hi = i + 1 < in.size() ? hexDigit(in[i + 1]) : -1;
        const int lo = i + 2 < in.size() ? hexDigit(in[i + 2]) : -1;
        if (hi < 0 || lo < 0) {
          problem = "has \\x without two hex digits";
          return false;
        }
        out.push_back(static_cast<char>(hi * 16 + lo));
        i += 2;
        break;
      }
      default:
        problem = std::string("has an unknown escape \\") + in[i];
        return false;
    }
  }
  return true;
}

enum Key { kResource, kIdentity, kCard, kSerial, kFault, kSeed, kTerminator, kFunctions,
           kReadingMs, kKeyCount };
constexpr std::array<const char*, kKeyCount> kKeyNames = {
    "Resource", "Identity", "Card", "Serial", "Fault", "Seed", "Terminator", "Functions",
    "ReadingMs"};
constexpr std::array<Key, 4> kRequired = {kResource, kIdentity, kCard, kSerial};

struct Section {
  std::string name;
  int line = 0;
  SimInstrumentConfig config;
  std::array<int, kKeyCount> keyLine{};  // 0 = not given
};

class Parser {
 public:
  SimulationFile run(std::string_view text) {
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    int lineNo = 0;
    std::size_t pos = 0;
    while (pos <= text.size() && error_.empty()) {
      std::size_t end = text.find('\n', pos);
      if (end == std::string_view::npos) end = text.size();
      std::string_view line = text.substr(pos, end - pos);
      pos = end + 1;
      ++lineNo;
      if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
      handleLine(lineNo, line);
      if (end == text.size()) break;
    }
    if (error_.empty()) finishSection();
    SimulationFile out;
    if (error_.empty()) {
      out.instruments = std::move(done_);
    } else {
      out.error = std::move(error_);
    }
    return out;
  }

 private:
  void fail(int line, const std::string& what) {
    if (error_.empty()) error_ = "line " + std::to_string(line) + ": " + what;
  }

  void handleLine(int lineNo, std::string_view raw) {
    const std::string_view line = trimSpace(raw);
    if (line.empty() || line.front() == ';' || line.front() == '#') return;
    if (line.front() == '[') {
      if (line.back() != ']') return fail(lineNo, "section header " + shown(line) + " lacks ']'");
      finishSection();
      if (!error_.empty()) return;
      const std::string_view name = trimSpace(line.substr(1, line.size() - 2));
      constexpr std::string_view kPrefix = "instrument";
      const bool good = name.size() > kPrefix.size() && name.size() <= kPrefix.size() + 6 &&
                        equalsIgnoreCase(name.substr(0, kPrefix.size()), kPrefix) &&
                        parseUnsigned(name.substr(kPrefix.size()), 999999).has_value();
      if (!good) {
        return fail(lineNo, "unknown section [" + escapeControl(name.substr(0, 60)) +
                                "] (sections are [Instrument1], [Instrument2], ...)");
      }
      for (const auto& s : sectionNames_) {
        if (equalsIgnoreCase(s, name)) {
          return fail(lineNo, "section [" + std::string(name) + "] appears twice");
        }
      }
      sectionNames_.emplace_back(name);
      current_ = Section{};
      current_->name = std::string(name);
      current_->line = lineNo;
      return;
    }
    const std::size_t eq = line.find('=');
    if (eq == std::string_view::npos) {
      return fail(lineNo, shown(line) + " is neither a [section] nor a Key=Value line");
    }
    const std::string_view key = trimSpace(line.substr(0, eq));
    const std::string_view value = trimSpace(line.substr(eq + 1));
    if (!current_) return fail(lineNo, "key " + shown(key) + " comes before any [InstrumentN] section");
    int k = -1;
    for (int i = 0; i < kKeyCount; ++i) {
      if (equalsIgnoreCase(key, kKeyNames[static_cast<std::size_t>(i)])) k = i;
    }
    if (k < 0) return fail(lineNo, "unknown key " + shown(key) + " in [" + current_->name + "]");
    int& seen = current_->keyLine[static_cast<std::size_t>(k)];
    if (seen != 0) {
      return fail(lineNo, std::string(kKeyNames[static_cast<std::size_t>(k)]) +
                              " is given twice in [" + current_->name + "] (first on line " +
                              std::to_string(seen) + ")");
    }
    seen = lineNo;
    setKey(lineNo, static_cast<Key>(k), value);
  }

  void setKey(int lineNo, Key key, std::string_view value) {
    SimInstrumentConfig& c = current_->config;
    const std::string keyName = kKeyNames[static_cast<std::size_t>(key)];
    auto text = [&](std::string& into) {
      // Quotes keep leading and trailing blanks of an answer.
      std::string_view v = value;
      if (v.size() >= 2 && v.front() == '"' && v.back() == '"') v = v.substr(1, v.size() - 2);
      std::string problem;
      if (!decodeEscapes(v, into, problem)) fail(lineNo, keyName + " " + problem);
    };
    switch (key) {
      case kResource:
        if (value.empty()) return fail(lineNo, "Resource is empty");
        if (value.size() > kMaxResourceLength) {
          return fail(lineNo, "Resource is longer than 255 characters");
        }
        for (char ch : value) {
          if (static_cast<unsigned char>(ch) <= ' ' || ch == 0x7F) {
            return fail(lineNo, "Resource " + shown(value) + " contains blanks or control characters");
          }
        }
        for (const auto& other : done_) {
          if (equalsIgnoreCase(other.resource, value)) {
            return fail(lineNo, "Resource " + shown(value) + " is already used by another instrument");
          }
        }
        c.resource = std::string(value);
        return;
      case kIdentity: return text(c.identity);
      case kCard: return text(c.card);
      case kSerial: return text(c.serial);
      case kTerminator: return text(c.terminator);
      case kFault:
        if (!parseFault(value)) {
          return fail(lineNo, "Fault " + shown(value) +
                                  " is not none, silent, garbage, drop-after:N[:back-after:S], "
                                  "silent-after:N:for:S or endless-fetch-after:N[:for:S]");
        }
        c.fault = toLowerAscii(value);
        return;
      case kSeed: {
        const auto v = parseUnsigned(value, 0xFFFFFFFFull);
        if (!v) return fail(lineNo, "Seed " + shown(value) + " is not a whole number 0..4294967295");
        c.seed = static_cast<std::uint32_t>(*v);
        return;
      }
      case kReadingMs: {
        const auto v = parseUnsigned(value, 60000);
        if (!v || *v == 0) return fail(lineNo, "ReadingMs " + shown(value) + " is not 1..60000");
        c.readingMs = static_cast<std::uint32_t>(*v);
        return;
      }
      case kFunctions: {
        c.functions.clear();
        std::size_t start = 0;
        for (std::size_t i = 0; i <= value.size(); ++i) {
          if (i < value.size() && value[i] != ',') continue;
          const std::string_view item = trimSpace(value.substr(start, i - start));
          start = i + 1;
          if (!functionWord(item)) {
            return fail(lineNo, "Functions: " + shown(item) + " (channel " +
                                    std::to_string(c.functions.size() + 1) +
                                    ") is not VOLT, VOLT:AC, RES, FRES, FREQ, PER, TCO, TEMP or NONE");
          }
          c.functions.emplace_back(item);
        }
        return;
      }
      case kKeyCount: return;
    }
  }

  void finishSection() {
    if (!current_) return;
    Section s = std::move(*current_);
    current_.reset();
    for (Key k : kRequired) {
      if (s.keyLine[static_cast<std::size_t>(k)] == 0) {
        return fail(s.line, "[" + s.name + "] has no " + kKeyNames[static_cast<std::size_t>(k)] +
                                "= line");
      }
    }
    // The instrument itself decides what its card can measure; ask it.
    try {
      ManualClock clock;
      SimInstrument probe(clock, s.config);
    } catch (const std::exception& e) {
      return fail(s.keyLine[kFunctions] ? s.keyLine[kFunctions] : s.line,
                  "Functions: " + std::string(e.what()) + " on card " + shown(s.config.card));
    }
    done_.push_back(std::move(s.config));
  }

  std::optional<Section> current_;
  std::vector<std::string> sectionNames_;
  std::vector<SimInstrumentConfig> done_;
  std::string error_;
};

}  // namespace

std::vector<SimInstrumentConfig> defaultInstruments() {
  SimInstrumentConfig a;
  a.resource = "USB0::0x0000::0x0001::SIM0001::INSTR";
  a.identity = "SIMULATED,M100,SIM0001,1.0";
  a.card = "2";
  a.serial = "SIM0001";
  a.seed = 1;

  SimInstrumentConfig b;
  b.resource = "USB0::0x0000::0x0001::SIM0002::INSTR";
  b.identity = "SIMULATED,M100,SIM0002,1.0";
  b.card = "3";
  b.serial = "SIM0002";
  b.seed = 2;
  // A thermocouple card is bought for temperatures: a few of each kind, the rest voltages.
  b.functions = {"TCO", "TCO", "TCO", "TEMP", "VOLT", "VOLT", "VOLT", "VOLT", "VOLT", "VOLT"};
  return {a, b};
}

std::optional<FaultSpec> parseFault(std::string_view text) {
  const std::string t = toLowerAscii(trimSpace(text));
  FaultSpec f;
  if (t == "none") return f;
  if (t == "silent") {
    f.kind = FaultSpec::Kind::Silent;
    return f;
  }
  if (t == "garbage") {
    f.kind = FaultSpec::Kind::Garbage;
    return f;
  }
  // "<head>N" or "<head>N<tail>S": N exchanges, S seconds.
  auto counted = [&t](std::string_view head, std::string_view tail, bool tailNeeded,
                      std::uint64_t& n, std::optional<std::uint64_t>& ms) {
    if (!startsWith(t, head)) return false;
    std::string_view rest = std::string_view(t).substr(head.size());
    const std::size_t cut = rest.find(':');
    const auto count = parseUnsigned(rest.substr(0, cut), 1'000'000'000'000ull);
    if (!count) return false;
    n = *count;
    if (cut == std::string_view::npos) return !tailNeeded;
    rest.remove_prefix(cut);
    if (!startsWith(rest, tail)) return false;
    const auto seconds = parseUnsigned(rest.substr(tail.size()), 100'000'000ull);
    if (!seconds) return false;
    ms = *seconds * 1000;
    return true;
  };
  if (counted("drop-after:", ":back-after:", false, f.dropAfter, f.backAfterMs)) {
    f.kind = FaultSpec::Kind::DropAfter;
    return f;
  }
  std::optional<std::uint64_t> quietMs;
  if (counted("silent-after:", ":for:", true, f.dropAfter, quietMs)) {
    f.kind = FaultSpec::Kind::SilentAfter;
    f.silentForMs = *quietMs;
    return f;
  }
  if (counted("endless-fetch-after:", ":for:", false, f.dropAfter, f.endlessForMs)) {
    f.kind = FaultSpec::Kind::EndlessFetchAfter;
    return f;
  }
  return std::nullopt;
}

int cardCodeOf(std::string_view cardAnswer) {
  const double v = roundHalfEven(leadingNumber(cardAnswer));
  if (!std::isfinite(v) || v < -1e6 || v > 1e6) return 0;
  return static_cast<int>(v);
}

int channelCountOf(int cardCode) { return cardCode == 2 ? 20 : 10; }

SimulationFile parseSimulationText(std::string_view text) { return Parser().run(text); }

SimulationFile loadSimulationFile(const std::string& path) {
  SimulationFile out;
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    out.error = "cannot open simulation file \"" + path + "\": " + std::strerror(errno);
    return out;
  }
  std::string text;
  char buf[65536];
  while (in.read(buf, sizeof buf) || in.gcount() > 0) {
    text.append(buf, static_cast<std::size_t>(in.gcount()));
    if (text.size() > kMaxFileBytes) {
      out.error = "simulation file \"" + path + "\" is larger than 1 MiB";
      return out;
    }
  }
  if (in.bad()) {
    out.error = "cannot read simulation file \"" + path + "\"";
    return out;
  }
  out = parseSimulationText(text);
  // The path leads no sentence: callers capitalise messages, and a path is shown as given.
  if (!out.error.empty()) out.error = "simulation file \"" + path + "\", " + out.error;
  return out;
}

}  // namespace kalivor::sim
