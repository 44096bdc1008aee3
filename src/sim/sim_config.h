// SPDX-License-Identifier: MIT
#pragma once
// What a simulated scanning multimeter is: its resource, its raw answers, its faults. Built in
// (defaultInstruments) or read from a simulation file in INI layout (parseSimulationText).
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kalivor::sim {

struct SimInstrumentConfig {
  std::string resource;        // "USB0::0x0000::0x0001::SIM0001::INSTR"
  std::string identity;        // raw *IDN? answer without terminator
  std::string card;            // raw answer to rout:state? (any text: "2", "0", "5", "garbage")
  std::string serial;          // raw serial answer (escapes already decoded)
  // "none", "silent", "garbage", "drop-after:N[:back-after:S]", "silent-after:N:for:S"
  std::string fault = "none";
  std::uint32_t seed = 1;      // readings and noise are reproducible from it
  // Appended to every answer. "\r\n" or "\n\0" exercise the link's handling of odd endings; an
  // empty terminator gives answers with nothing after them.
  std::string terminator = "\n";
  // Function of channel 1, 2, ... at power-on, as SCPI words (VOLT, VOLT:AC, RES, FRES, FREQ, PER,
  // TCO, TEMP, NONE). Channels not named measure VOLT.
  std::vector<std::string> functions;
  // Time one reading takes in a back-to-back ("SCAN") sweep.
  std::uint32_t readingMs = 20;
};

// Two instruments: a 20-channel card (code 2) and a 10-channel thermocouple card (code 3).
std::vector<SimInstrumentConfig> defaultInstruments();

struct SimulationFile {
  std::vector<SimInstrumentConfig> instruments;
  std::string error;  // empty when fine; instruments is then empty
};

// Pure function of the text: never throws, whatever the input.
SimulationFile parseSimulationText(std::string_view text);
SimulationFile loadSimulationFile(const std::string& path);

// The fault modes, decoded.
struct FaultSpec {
  enum class Kind { None, Silent, Garbage, DropAfter, SilentAfter, EndlessFetchAfter };
  Kind kind = Kind::None;
  std::uint64_t dropAfter = 0;  // exchanges (messages written) before the link drops / goes quiet
  // drop-after:N:back-after:S — the meter is plugged back S seconds after the drop (and drops
  // again after another N exchanges). Without it a dropped meter stays away.
  std::optional<std::uint64_t> backAfterMs;
  // silent-after:N:for:S — after N exchanges the meter answers nothing for S seconds, then
  // answers again (and goes quiet again after another N).
  std::uint64_t silentForMs = 0;
  // endless-fetch-after:N[:for:S] — after N exchanges every answer to fetch? goes on for ever
  // (noise, never a terminator); with :for:S only for S seconds, then again after another N.
  std::optional<std::uint64_t> endlessForMs;
};
std::optional<FaultSpec> parseFault(std::string_view text);

// Card code as discovery reads it (leading number, halves to even); 0 when there is none.
int cardCodeOf(std::string_view cardAnswer);
// Channels of a card: 20 for code 2, otherwise 10.
int channelCountOf(int cardCode);

}  // namespace kalivor::sim
