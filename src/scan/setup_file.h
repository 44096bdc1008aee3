// SPDX-License-Identifier: MIT
#pragma once
// The scan setup file: one instrument's working copy in INI layout, saved from and loaded into
// the scan settings window's editor.
#include <optional>
#include <string>
#include <string_view>

#include "common/dialogs.h"
#include "common/messages.h"
#include "scan/ini_reader.h"
#include "scan/setup_model.h"
#include "scan/setup_tables.h"

namespace kalivor {

inline constexpr const char* kSetupFileFilter = "ini|*.ini";
inline constexpr const char* kLoadFailedText =
    "The data you loaded are failed. Please check up with your provider.";
inline constexpr const char* kLoadFailedTitle = "Warning";
inline constexpr const char* kLoadConfirmText =
    "The data you loaded are successful, but are not simultaneous with your device. Do you want "
    "them identical with each other? ";
inline constexpr const char* kLoadConfirmTitle = "Confirmation message";

// The boxes the window shows (and may hand to its Messages seam as they are).
Message loadFailedMessage();   // critical icon, OK
Message loadConfirmMessage();  // question icon, Yes/No; Yes: apply the setup

// File dialog requests: save presets the instrument's entry and asks before overwriting.
// A cancelled dialog ends the save or load.
FileDialogRequest saveDialogRequest(const std::string& presetName);
FileDialogRequest openDialogRequest();

// The file text of one slot, lines ended by CR LF. ChannelTime and ScanTime are the texts of
// the seconds boxes; Ohm and Current come from the applied setup.
std::string setupFileText(const WorkingCopy& working, const ScanTables& applied, int slot,
                          std::string_view channelTimeText, std::string_view scanTimeText);

struct SaveResult {
  bool ok = false;
  std::string error;  // names the file; for the window to show
};
// Writes the text through a temporary file beside the target, so a failed save (folder not
// writable, disk full) leaves an existing file as it was.
SaveResult writeSetupFile(const std::string& path, std::string_view text);
// The shown slot of the editor, with the seconds boxes it shows.
SaveResult saveSetupFile(const ScanSetEditor& editor, const std::string& path);

struct SetupLoadResult {
  enum class Status {
    Loaded,      // complete: ask kLoadConfirmText, Yes applies
    Refused,     // wrong card code or channel count: show `message`; nothing changed
    NotANumber,  // channel count not a number: nothing changed
    EndedEarly,  // stopped at `stoppedAt`; what was read before stays in the working copy
  };
  Status status = Status::Refused;
  std::optional<Message> message;  // Refused
  std::string stoppedAt;           // NotANumber, EndedEarly: "Section/Key" that stopped the load
  bool askConfirmation() const { return status == Status::Loaded; }
};

// Loads the file into the working copy of the editor's shown slot (Ohm and Current into the
// applied setup), runs the function change for every channel (4-wire pairing included, no shunt
// window) and refreshes the editor's views. The loading flag is set while it runs.
SetupLoadResult loadSetup(ScanSetEditor& editor, const IniFile& file);
SetupLoadResult loadSetupFile(ScanSetEditor& editor, const std::string& path);

}  // namespace kalivor
