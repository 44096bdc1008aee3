// SPDX-License-Identifier: MIT
#include "sim/scpi_words.h"

#include <array>
#include <charconv>
#include <cmath>

#include "common/numbers.h"
#include "common/text.h"

namespace kalivor::sim {
namespace {

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string_view trimSpace(std::string_view s) {
  while (!s.empty() && isSpace(s.front())) s.remove_prefix(1);
  while (!s.empty() && isSpace(s.back())) s.remove_suffix(1);
  return s;
}

std::string upper(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

std::vector<std::string_view> splitNodes(std::string_view s) {
  std::vector<std::string_view> out;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= s.size(); ++i) {
    if (i == s.size() || s[i] == ':') {
      out.push_back(s.substr(start, i - start));
      start = i + 1;
    }
  }
  return out;
}

struct PatternNode {
  std::string shortForm;
  std::string longForm;
  bool optional = false;
};

std::vector<PatternNode> compilePattern(std::string_view pattern) {
  std::vector<PatternNode> nodes;
  // "[SENSe]:TEMPerature" and "[:TYPE]" both mark a node as optional.
  bool inBracket = false;
  std::string word;
  auto flush = [&] {
    if (word.empty()) return;
    PatternNode n;
    n.optional = inBracket;
    n.longForm = upper(word);
    for (char c : word) {
      if ((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) {
        n.shortForm.push_back(c);
      } else {
        break;
      }
    }
    if (n.shortForm.empty()) n.shortForm = n.longForm;
    nodes.push_back(std::move(n));
    word.clear();
  };
  for (char c : pattern) {
    if (c == '[') {
      flush();
      inBracket = true;
    } else if (c == ']') {
      flush();
      inBracket = false;
    } else if (c == ':') {
      flush();
    } else {
      word.push_back(c);
    }
  }
  flush();
  return nodes;
}

bool nodeMatches(std::string_view node, const PatternNode& p) {
  return equalsIgnoreCase(node, p.shortForm) || equalsIgnoreCase(node, p.longForm);
}

bool matchFrom(const std::vector<std::string_view>& h, std::size_t hi,
               const std::vector<PatternNode>& p, std::size_t pi) {
  if (pi == p.size()) return hi == h.size();
  if (p[pi].optional && matchFrom(h, hi, p, pi + 1)) return true;
  return hi < h.size() && nodeMatches(h[hi], p[pi]) && matchFrom(h, hi + 1, p, pi + 1);
}

std::optional<int> parseInt(std::string_view s) {
  s = trimSpace(s);
  if (s.empty() || s.size() > 6) return std::nullopt;
  int v = 0;
  const auto res = std::from_chars(s.data(), s.data() + s.size(), v);
  if (res.ec != std::errc() || res.ptr != s.data() + s.size()) return std::nullopt;
  return v;
}

std::optional<std::string> wordIn(std::string_view text, std::initializer_list<const char*> list) {
  const std::string w = upper(trimSpace(text));
  for (const char* item : list) {
    if (w == item) return w;
  }
  return std::nullopt;
}

}  // namespace

std::vector<MessageUnit> splitMessage(std::string_view message) {
  std::vector<MessageUnit> units;
  std::vector<std::string_view> pieces;
  char quote = 0;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= message.size(); ++i) {
    const char c = i < message.size() ? message[i] : ';';
    if (quote != 0) {
      if (c == quote) quote = 0;
      if (i < message.size()) continue;
    }
    if (c == '"' || c == '\'') {
      quote = c;
    } else if (c == ';' || c == '\n') {
      pieces.push_back(message.substr(start, i - start));
      start = i + 1;
    }
  }
  for (std::string_view piece : pieces) {
    piece = trimSpace(piece);
    if (piece.empty()) continue;
    std::size_t cut = 0;
    while (cut < piece.size() && !isSpace(piece[cut])) ++cut;
    MessageUnit u;
    std::string_view header = piece.substr(0, cut);
    if (!header.empty() && header.back() == '?') {
      u.query = true;
      header.remove_suffix(1);
    }
    u.header = std::string(header);
    u.arguments = std::string(trimSpace(piece.substr(cut)));
    units.push_back(std::move(u));
  }
  return units;
}

bool headerMatches(std::string_view header, std::string_view pattern) {
  if (!pattern.empty() && pattern.front() == '*') return equalsIgnoreCase(header, pattern);
  if (!header.empty() && header.front() == ':') header.remove_prefix(1);
  if (header.empty()) return false;
  return matchFrom(splitNodes(header), 0, compilePattern(pattern), 0);
}

std::optional<std::string> functionWord(std::string_view text) {
  text = trimSpace(text);
  if (text.size() >= 2 && (text.front() == '"' || text.front() == '\'') &&
      text.back() == text.front()) {
    text = trimSpace(text.substr(1, text.size() - 2));
  }
  if (text.empty() || text.front() == ':') return std::nullopt;
  static const std::array<std::pair<const char*, const char*>, 9> kWords = {{
      {"VOLTage:AC", "VOLT:AC"},
      {"VOLTage[:DC]", "VOLT"},
      {"FRESistance", "FRES"},
      {"RESistance", "RES"},
      {"FREQuency", "FREQ"},
      {"PERiod", "PER"},
      {"[TEMPerature]:TCOuple", "TCO"},
      {"TEMPerature", "TEMP"},
      {"NONE", "NONE"},
  }};
  for (const auto& [pattern, word] : kWords) {
    if (headerMatches(text, pattern)) return std::string(word);
  }
  return std::nullopt;
}

std::optional<std::vector<int>> parseChannelList(std::string_view text, int channelCount) {
  text = trimSpace(text);
  if (!text.empty() && text.front() == '(') {
    if (text.back() != ')') return std::nullopt;
    text = trimSpace(text.substr(1, text.size() - 2));
  }
  if (!text.empty() && text.front() == '@') text = trimSpace(text.substr(1));
  if (text.empty()) return std::nullopt;
  std::vector<int> out;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= text.size(); ++i) {
    if (i < text.size() && text[i] != ',') continue;
    const std::string_view item = text.substr(start, i - start);
    start = i + 1;
    const std::size_t colon = item.find(':');
    const auto first = parseInt(item.substr(0, colon));
    const auto last = colon == std::string_view::npos ? first : parseInt(item.substr(colon + 1));
    if (!first || !last) return std::nullopt;
    for (int c : {*first, *last}) {
      if (c < 1 || c > channelCount) return std::nullopt;
    }
    const int step = *last >= *first ? 1 : -1;
    for (int c = *first;; c += step) {
      out.push_back(c);
      if (c == *last) break;
    }
  }
  return out;
}

std::optional<std::string> rtdTypeWord(std::string_view text) {
  return wordIn(text, {"PT100", "D100", "F100", "PT385", "PT3916", "USER", "SPRTD"});
}

std::optional<std::string> thermocoupleTypeWord(std::string_view text) {
  return wordIn(text, {"B", "E", "J", "K", "N", "R", "S", "T"});
}

std::optional<std::string> transducerWord(std::string_view text) {
  return wordIn(text, {"RTD", "FRTD"});
}

std::string formatReading(double value) {
  // What meters send for an overload.
  if (!std::isfinite(value)) value = std::signbit(value) ? -9.9e37 : 9.9e37;
  std::array<char, 64> buf{};
  const auto res = std::to_chars(buf.data(), buf.data() + buf.size(), std::fabs(value),
                                 std::chars_format::scientific, 6);
  std::string out(buf.data(), res.ptr);
  for (char& c : out) {
    if (c == 'e') c = 'E';
  }
  const bool negative = value < 0 && out != "0.000000E+00";
  return (negative ? "-" : "+") + out;
}

bool cardOffers(int cardCode, int channelCount, int channelIndex, std::string_view word) {
  if (word == "NONE") return true;
  if (word == "FRES" && channelIndex >= halfOf(channelCount)) return false;
  const bool basic = word == "VOLT" || word == "VOLT:AC" || word == "FREQ" || word == "PER";
  const bool ohms = word == "RES" || word == "FRES";
  const bool temperature = word == "TCO" || word == "TEMP";
  switch (cardCode) {
    case 1:
    case 2:
      return basic || ohms;
    case 3:
      return basic || ohms || temperature;
    case 4:  // solid-state relays carry no resistance or temperature measurement
      return basic;
    default:
      return basic || ohms || temperature;
  }
}

int halfOf(int channelCount) { return static_cast<int>(roundHalfEven(channelCount / 2.0)); }

}  // namespace kalivor::sim
