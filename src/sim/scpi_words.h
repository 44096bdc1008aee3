// SPDX-License-Identifier: MIT
#pragma once
// The pieces of SCPI that the simulated meter understands: headers in short or long form, function
// words, channel lists, the reading format, and what each scanner card can measure.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kalivor::sim {

// One program message unit: "rout:scan:func? 3" gives header "rout:scan:func?" and arguments "3".
struct MessageUnit {
  std::string header;     // without the trailing '?'
  std::string arguments;  // trimmed
  bool query = false;
};

// Splits one written message at ';' (outside quotes), drops the line end, skips empty units.
std::vector<MessageUnit> splitMessage(std::string_view message);

// Matches a header against a pattern such as "[SENSe]:TEMPerature:TRANsducer[:TYPE]": each node
// may be written in its short form (the upper-case part) or its long form, in any case; nodes in
// brackets may be left out; a leading ':' is allowed. Common commands ("*IDN") match exactly.
bool headerMatches(std::string_view header, std::string_view pattern);

// A function parameter ("VOLT", 'volt:ac', FRESistance, "PERIOD", ...) as the short word the meter
// answers with: VOLT, VOLT:AC, RES, FRES, FREQ, PER, TCO, TEMP or NONE.
std::optional<std::string> functionWord(std::string_view text);

// A channel list "3", "@3", "(@3)", "(@1,3,5:7)" as 1-based channel numbers, in the order given.
// nullopt when it is malformed or names a channel outside 1..channelCount.
std::optional<std::vector<int>> parseChannelList(std::string_view text, int channelCount);

// Sensor type words the meter accepts, upper-cased; nullopt for others.
std::optional<std::string> rtdTypeWord(std::string_view text);
std::optional<std::string> thermocoupleTypeWord(std::string_view text);
std::optional<std::string> transducerWord(std::string_view text);  // RTD or FRTD

// "+1.234560E-02": sign, one digit, point, six digits, E, sign, (at least) two digits.
std::string formatReading(double value);

// Whether a card can set channel index (0-based) to a function word. 4-wire functions take the
// upper half as their sense pair, so only the lower half offers them. Cards the meter does not
// know (no card, unreadable code) are not restricted.
bool cardOffers(int cardCode, int channelCount, int channelIndex, std::string_view word);
// Index of the first upper-half channel (and the offset of a 4-wire channel's partner).
int halfOf(int channelCount);

}  // namespace kalivor::sim
