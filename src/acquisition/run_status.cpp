// SPDX-License-Identifier: MIT
#include "acquisition/run_status.h"

#include <algorithm>
#include <charconv>
#include <system_error>

namespace kalivor {

std::string meterStateText(MeterState state) {
  switch (state) {
    case MeterState::Idle: return "idle";
    case MeterState::Scanning: return "scanning";
    case MeterState::Waiting: return "waiting for the next interval";
    case MeterState::Reconnecting: return "reconnecting";
    case MeterState::Failed: return "failed";
    case MeterState::Finished: return "finished";
  }
  return {};
}

bool logsNowhere(const ScanTables& tables, int instrumentCount) {
  if (instrumentCount <= 0) return false;
  for (int d = 0; d < instrumentCount && d < kSlotTableSize; ++d) {
    if (tables.DatabaseName[static_cast<std::size_t>(d)] != "0") return false;
  }
  return true;
}

RunStatus::RunStatus(const RunController& run, const ScanTables& tables, const LiveDisplay& display,
                     std::filesystem::path dataFolder)
    : run_(run), tables_(tables), display_(display), folder_(std::move(dataFolder)) {
  probe_ = [](const std::filesystem::path& folder) -> std::optional<std::uintmax_t> {
    // The record folder appears with the first record; until then its parent tells.
    std::error_code ec;
    std::filesystem::path at = folder;
    while (!at.empty() && !std::filesystem::exists(at, ec) && at.has_parent_path() && at.parent_path() != at)
      at = at.parent_path();
    const auto info = std::filesystem::space(at, ec);
    if (ec) return std::nullopt;
    return info.available;
  };
}

MeterState RunStatus::stateOf(int slot) const {
  const auto s = static_cast<std::size_t>(slot);
  switch (run_.condition(slot)) {
    case RunController::MeterCondition::Reconnecting: return MeterState::Reconnecting;
    case RunController::MeterCondition::Failed: return MeterState::Failed;
    case RunController::MeterCondition::Healthy: break;
  }
  if (!run_.running()) {
    // After a run: what it got to; before any, nothing.
    return (run_.DeviceFinished[s] != 0 || tables_.ScansDone[s] > 0) ? MeterState::Finished
                                                                      : MeterState::Idle;
  }
  if (run_.DeviceFinished[s] != 0) return MeterState::Finished;
  if (run_.ScanInProgress[s]) return MeterState::Scanning;
  if (run_.WaitFlag[s] != 0) return MeterState::Waiting;
  return MeterState::Scanning;
}

RunStatusSnapshot RunStatus::meters(int instrumentCount) const {
  RunStatusSnapshot out;
  const int n = std::clamp(instrumentCount, 0, kMaxInstruments);
  for (int d = 0; d < n; ++d) {
    const auto s = static_cast<std::size_t>(d);
    MeterStatus m;
    m.slot = d;
    m.instrument = s < display_.deviceList.size() ? display_.deviceList[s] : std::string();
    const std::string& name = tables_.DatabaseName[s];
    m.record = name == "0" ? std::string() : name;
    // A scan its record refused is counted by the run but not stored.
    if (!m.record.empty()) {
      m.scansStored = static_cast<std::int64_t>(tables_.ScansDone[s]) - (run_.recordFailed(d) ? 1 : 0);
      if (m.scansStored < 0) m.scansStored = 0;
    }
    const ScanTable& t = display_.scanTables[s];
    if (!t.rows.empty() && t.rows.back().size() > 1) m.lastScanTime = t.rows.back()[1];
    m.state = stateOf(d);
    if (extra_) m.extra = extra_(d);
    out.meters.push_back(std::move(m));
  }
  out.hasExtra = static_cast<bool>(extra_);
  out.extraHeading = extraHeading_;
  return out;
}

RunStatusSnapshot RunStatus::snapshot(int instrumentCount) const {
  RunStatusSnapshot out = meters(instrumentCount);
  out.folder.folder = folder_;
  if (probe_ && !folder_.empty()) out.folder.freeBytes = probe_(folder_);
  out.folder.low = out.folder.freeBytes && *out.folder.freeBytes < kLowSpaceBytes;
  lastFolder_ = out.folder;
  return out;
}

RunStatusSnapshot RunStatus::snapshotKeepingSpace(int instrumentCount) const {
  if (!lastFolder_ || lastFolder_->folder != folder_) return snapshot(instrumentCount);
  RunStatusSnapshot out = meters(instrumentCount);
  out.folder = *lastFolder_;
  return out;
}

std::string formatBytes(std::uintmax_t bytes) {
  const char* const units[] = {"bytes", "kB", "MB", "GB", "TB"};
  double value = static_cast<double>(bytes);
  int unit = 0;
  while (value >= 1000 && unit < 4) {
    value /= 1000;
    ++unit;
  }
  if (unit == 0) return std::to_string(bytes) + " bytes";
  // to_chars: a decimal point whatever locale a toolkit has set.
  char buf[32];
  const auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, value < 10 ? 1 : 0);
  return std::string(buf, r.ptr) + " " + units[unit];
}

std::string folderStatusText(const FolderStatus& folder) {
  if (!folder.freeBytes) return "Free space: unknown in " + folder.folder.string();
  if (folder.low) {
    return "Low disk space: only " + formatBytes(*folder.freeBytes) + " free in " +
           folder.folder.string();
  }
  return "Free space: " + formatBytes(*folder.freeBytes) + " in " + folder.folder.string();
}

std::string recordText(const MeterStatus& meter) {
  return meter.record.empty() ? "none (not saved)" : meter.record;
}

std::string formatRunStatus(const RunStatusSnapshot& status) {
  std::string out;
  for (const MeterStatus& m : status.meters) {
    out += "Instrument " + std::to_string(m.slot + 1);
    if (!m.instrument.empty()) out += " (" + m.instrument + ")";
    out += ": " + meterStateText(m.state) + "; record " + recordText(m) + "; " +
           std::to_string(m.scansStored) + (m.scansStored == 1 ? " scan stored" : " scans stored");
    if (!m.lastScanTime.empty()) out += "; last scan " + m.lastScanTime;
    if (status.hasExtra && !m.extra.empty()) out += "; " + status.extraHeading + ": " + m.extra;
    out += "\n";
  }
  out += folderStatusText(status.folder) + "\n";
  return out;
}

}  // namespace kalivor
