// SPDX-License-Identifier: MIT
#pragma once
// The scan setup records of every instrument slot and channel: the applied setups that the run,
// the live display and the chart read, and the scan settings window's working copy.
#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "common/color.h"

namespace kalivor {

inline constexpr int kSlotTableSize = 5;      // slots 0..4; at most four are ever filled
inline constexpr int kMaxInstruments = 4;
inline constexpr int kChannelTableSize = 21;  // channel indexes 0..20; 20 is never used
inline constexpr int kMaxChannels = 20;

struct ScanSetup {
  std::int16_t ScanerCard = 0;    // scanner-card code 1..4
  std::int16_t ChannelCount = 0;  // 10 or 20
  std::string ScanType = "SCAN";  // "SCAN" or "STEP"
  std::int16_t scanCount_Status = 2;  // 0 after N channel readings, 1 after N scans, 2 on Stop
  std::string ScanCount = "0";
  std::int16_t ChannelInterval = 0;  // 1 = per-channel interval set
  std::string ChannelTime = "0.5";   // seconds
  std::int16_t ScanInterval = 0;     // 0 "Per Scan Interval", 1 "Period Scan"
  std::string ScanTime = "0.5";      // seconds
  std::int16_t StartAtTime = 0;
  std::string StartTime;  // "yyyy/MM/dd hh:mm:ss" (common/clock.h)
  std::int16_t StopAtTime = 0;
  std::string StopTime;
  bool operator==(const ScanSetup&) const = default;
};

struct ChannelSetup {
  // Working copy and setup file only: in the applied setup a channel that takes no part has
  // Function "NONE".
  std::int16_t EnableChannel = 1;
  std::string Function;            // display name: "DCV", "4W,TEMP", "NONE", ...
  std::string TEMP_TCO = "None";   // sensor type for TEMP, 4W,TEMP and TCOUPL
  std::int16_t SensorTypeIndex = 0;  // position of TEMP_TCO in its sensor-type list
  Rgb Color = 0;
  std::string Division = "1";   // applied: plain number; working copy: as typed (with Unit)
  std::string Unit = "(none)";  // working copy and setup file only
  std::string Offset = "0";
  double Ohm = 1.0;      // shunt of DCI/ACI channels, applied setup only
  double Current = 0.0;  // current offset of DCI/ACI channels, applied setup only
  std::int16_t PartnerFlag = 0;  // working copy only: upper partner of a 4-wire channel
  // Optional and off by default: a linear scaling with its own unit label (shown value =
  // ScaleGain * reading + ScaleOffset) and an alarm band. Kept with the setup; the run does not
  // use them yet.
  std::int16_t ScaleOn = 0;
  double ScaleGain = 1.0;
  double ScaleOffset = 0.0;
  std::string ScaleUnit;  // up to 8 characters
  std::optional<double> AlarmLow;
  std::optional<double> AlarmHigh;
  bool operator==(const ChannelSetup&) const = default;
};

using ChannelRow = std::array<ChannelSetup, kChannelTableSize>;

// The applied setups and the run-wide per-slot texts that go with them.
struct ScanTables {
  std::array<ScanSetup, kSlotTableSize> setup{};
  std::array<ChannelRow, kSlotTableSize> channel{};
  // Latest reading of each slot and channel as text; " " means no reading.
  std::array<std::array<std::string, kChannelTableSize>, kSlotTableSize> ReadingText{};
  std::array<double, kSlotTableSize> ScansDone{};  // scans stored in the current run
  std::array<std::string, kSlotTableSize> DatabaseName{};  // "0" = none, else e.g. "Record3"

  ScanTables() {
    for (auto& row : ReadingText) row.fill(" ");
    DatabaseName.fill("0");
  }
};

// The scan settings window's working copy of every slot, and the slot it shows.
struct WorkingCopy {
  std::array<ScanSetup, kSlotTableSize> setup{};
  std::array<ChannelRow, kSlotTableSize> channel{};
  std::int16_t shownSlot = 0;
};

}  // namespace kalivor
