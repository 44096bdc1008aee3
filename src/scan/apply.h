// SPDX-License-Identifier: MIT
#pragma once
// Apply (the scan settings window's Set) sends every selected instrument its scan timer and
// channel configuration and copies the working copy into the applied setups; read-back asks one
// instrument what each channel is set to and fills the working copy and the channel views.
#include <functional>
#include <string>
#include <vector>

#include "instrument/instrument_link.h"
#include "scan/setup_model.h"

namespace kalivor {

inline constexpr const char* kTimeSetErrorText = "ERROR Time Set!.";
inline constexpr const char* kTimeSetErrorTitle = "Warning";
inline constexpr const char* kSettingCompleteText = "Setting Complete";

// A write of Apply that the instrument's link refused.
struct ApplyFailure {
  int slot = 0;
  std::string instrument;  // its entry in the instrument list
  std::string command;     // the first command that could not be written
  visa::ViStatus status = 0;
};

struct ApplyResult {
  // false: stopped by the time check, or a write failed; the window stays open.
  bool completed = false;
  int slotsDone = 0;       // slots fully sent and copied
  // The main window's scan-mode picture: the "After N Channel" one when the last slot's mode is 0.
  bool afterNChannelPicture = false;
  // Instruments whose link failed: nothing more was sent to them and their applied setup holds
  // only what was copied before the failure. The other instruments were set as usual.
  std::vector<ApplyFailure> failures;
};

// The message that names every failed instrument and its failure (instead of "Setting Complete").
std::string applyFailureText(const std::vector<ApplyFailure>& failures);

// Applies the working copy of slots 0..instrumentCount-1. `showData(slot)` refreshes the main
// window's live display of a slot once it is applied. Shows "ERROR Time Set!.", the
// failure text or "Setting Complete" through the link's messages.
ApplyResult ApplySetups(ScanSetEditor& editor, InstrumentLink& link, int instrumentCount,
                        const std::function<void(int slot)>& showData);

// What Apply sends for channel index c: its function and, for temperatures, the sensor settings.
// `enabled` false sends NONE; the upper partner of a 4-wire channel (`partner`, function NONE)
// gets nothing, as the meter gives it to its 4-wire channel.
std::vector<std::string> channelCommands(int c, const ChannelSetup& channel, bool enabled,
                                         bool partner);
// Everything Apply sends one instrument for an applied setup, in Apply's order: the channel timer,
// then every channel. A meter reconnected during a run gets its setup again this way.
std::vector<std::string> appliedSetupCommands(const ScanSetup& setup, const ChannelRow& channels);

// Reads slot's channels back. A failed query sets StopRequested, runs `checkDev` (the connect
// window's silent re-connection) and returns false; the channels not reached keep their values.
bool ReadBack(ScanSetEditor& editor, InstrumentLink& link, int slot,
              const std::function<void()>& checkDev);

}  // namespace kalivor
