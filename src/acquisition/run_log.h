// SPDX-License-Identifier: MIT
#pragma once
// The plain-text log of what happened during runs, kept beside the records
// (<data folder>/db/kalivor-run.log): an instrument lost and found again, an alarm raised and
// cleared. One line per event, "yyyy/MM/dd hh:mm:ss<TAB>instrument<TAB>what", appended, so a log
// left running over a weekend can be read with any pager. The file is made on the first event:
// a run with nothing to report leaves none.
#include <filesystem>
#include <string>

#include "common/clock.h"

namespace kalivor {

class RunLog {
 public:
  // <dataFolder>/db/kalivor-run.log, beside the records.
  static std::string pathFor(const std::filesystem::path& dataFolder);

  // An empty path writes nowhere.
  explicit RunLog(std::string path);

  void write(const LocalDateTime& when, const std::string& instrument, const std::string& what);

  const std::string& path() const { return path_; }
  // Whether a line could not be written (disk full, folder gone); the run goes on regardless.
  bool failed() const { return failed_; }

 private:
  std::string path_;
  bool failed_ = false;
};

}  // namespace kalivor
