// SPDX-License-Identifier: MIT
#pragma once
// The run's status at a glance, as data: per instrument the record it logs into (or none), the
// scans stored, the time of the last scan and what it is doing; for the data folder the free disk
// space. The main window shows it; kalivor-cli prints it on request. Built from the run
// controller's per-slot state each time it is asked, so it never falls out of step with the run.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "acquisition/live_display.h"
#include "acquisition/run_controller.h"
#include "scan/setup_tables.h"

namespace kalivor {

enum class MeterState { Idle, Scanning, Waiting, Reconnecting, Failed, Finished };

// "scanning", "waiting for the next interval", ...
std::string meterStateText(MeterState state);

struct MeterStatus {
  int slot = 0;
  std::string instrument;  // the instrument's description
  std::string record;      // "Record3"; empty when the instrument logs nowhere
  std::int64_t scansStored = 0;
  std::string lastScanTime;  // empty before the first scan
  MeterState state = MeterState::Idle;
  std::string extra;  // the optional column's text for this instrument
};

struct FolderStatus {
  std::filesystem::path folder;
  std::optional<std::uintmax_t> freeBytes;  // nullopt: could not be found out
  bool low = false;                          // below kLowSpaceBytes
};

struct RunStatusSnapshot {
  std::vector<MeterStatus> meters;
  FolderStatus folder;
  bool hasExtra = false;
  std::string extraHeading;
};

// Free space is reported as low below this (100 MB).
inline constexpr std::uintmax_t kLowSpaceBytes = 100ull * 1000 * 1000;

// Whether a run would store nothing: instruments are selected and none has a record.
bool logsNowhere(const ScanTables& tables, int instrumentCount);
inline constexpr const char* kNoRecordQuestion =
    "No record is chosen: the scans of this run will not be saved. Start anyway?";

class RunStatus {
 public:
  // How much room is left on the file system holding a folder; nullopt when unknown.
  using SpaceProbe = std::function<std::optional<std::uintmax_t>(const std::filesystem::path&)>;
  using ExtraColumn = std::function<std::string(int slot)>;

  RunStatus(const RunController& run, const ScanTables& tables, const LiveDisplay& display,
            std::filesystem::path dataFolder);

  void setDataFolder(std::filesystem::path folder) { folder_ = std::move(folder); }
  // Tests put a fixed answer here; by default std::filesystem::space.
  void setSpaceProbe(SpaceProbe probe) { probe_ = std::move(probe); }
  // An extra per-instrument column (e.g. another store's state); shown only once set.
  void setExtraColumn(std::string heading, ExtraColumn column) {
    extraHeading_ = std::move(heading);
    extra_ = std::move(column);
  }

  RunStatusSnapshot snapshot(int instrumentCount) const;
  // The same with the folder's free space as last found out (found out now if never, or if the
  // folder changed): for a caller that asks after every scan and looks at the disk less often.
  RunStatusSnapshot snapshotKeepingSpace(int instrumentCount) const;

 private:
  MeterState stateOf(int slot) const;
  // Everything but the folder.
  RunStatusSnapshot meters(int instrumentCount) const;

  const RunController& run_;
  const ScanTables& tables_;
  const LiveDisplay& display_;
  std::filesystem::path folder_;
  SpaceProbe probe_;
  std::string extraHeading_;
  ExtraColumn extra_;
  mutable std::optional<FolderStatus> lastFolder_;
};

// "12.3 GB", "85 MB", "512 kB".
std::string formatBytes(std::uintmax_t bytes);
// "Free space: 12.3 GB in /data", or the low-space warning.
std::string folderStatusText(const FolderStatus& folder);
// What a record column says: the record, or that nothing is saved.
std::string recordText(const MeterStatus& meter);
// The status as lines of text (kalivor-cli --status-every): one per instrument, then the folder.
std::string formatRunStatus(const RunStatusSnapshot& status);

}  // namespace kalivor
