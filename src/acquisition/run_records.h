// SPDX-License-Identifier: MIT
#pragma once
// The run's records, one per slot, as the run controller uses them. The real implementation
// stores them in SQLite files below the data folder; tests may substitute their own.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "scan/setup_tables.h"
#include "store/record_meta.h"

namespace kalivor {

class RunRecords {
 public:
  virtual ~RunRecords() = default;
  // Each returns an error text naming the record, empty when it worked.
  // Creates the record when it does not exist yet; an existing one is left as it is.
  virtual std::string CreateRunDatabase(int slot, const std::string& name) = 0;
  virtual bool exists(int slot) const = 0;
  // Opens it and renumbers its rows; RowBase is then the number of rows it holds.
  virtual std::string OpenRunDatabase(int slot) = 0;
  virtual double RowBase(int slot) const = 0;
  // Appends one scan, durably stored when this returns.
  virtual std::string AppendReadingRow(int slot, const std::string& num, const std::string& time,
                                       const std::array<std::string, kMaxChannels>& channels) = 0;
  virtual void CloseRunDatabase(int slot) = 0;

  // The run's description of itself in the open record (RUNS, CHANNELS, ALARMS). Optional: the
  // defaults describe nothing, and a record that is never described stores DATA as before.
  // Serials of the instruments whose runs the record already describes.
  virtual std::vector<std::string> describedSerials(int slot) const { return {}; }
  // Once per run, before its first scan.
  virtual std::string describeRun(int slot, const store::RunInfo& run,
                                  const std::vector<store::ChannelInfo>& channels) {
    return {};
  }
  // An alarm of channel 1..20 raised at scan `num`; cleared later by clearAlarm of that channel.
  virtual std::string raiseAlarm(int slot, int channel, std::int64_t num, const std::string& time,
                                 double value, store::LimitKind kind, double limit) {
    return {};
  }
  virtual std::string clearAlarm(int slot, int channel, std::int64_t num, const std::string& time) {
    return {};
  }
  // The run ended at `time`; called before CloseRunDatabase of a described run.
  virtual std::string endRun(int slot, const std::string& time) { return {}; }
};

}  // namespace kalivor
