// SPDX-License-Identifier: MIT
#pragma once
// The run's records, one per slot, as the run controller uses them. The real implementation
// stores them in SQLite files below the data folder; tests may substitute their own.
#include <array>
#include <string>

#include "scan/setup_tables.h"

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
};

}  // namespace kalivor
