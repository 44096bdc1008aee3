// SPDX-License-Identifier: MIT
#include "acquisition/run_log.h"

#include <cstdio>
#include <filesystem>

#include "store/record_files.h"

namespace kalivor {

RunLog::RunLog(std::string path) : path_(std::move(path)) {}

std::string RunLog::pathFor(const std::filesystem::path& dataFolder) {
  return (store::recordFolder(dataFolder) / "kalivor-run.log").string();
}

void RunLog::write(const LocalDateTime& when, const std::string& instrument,
                   const std::string& what) {
  if (path_.empty()) return;
  std::error_code ec;
  std::filesystem::create_directories(std::filesystem::path(path_).parent_path(), ec);
  // Opened per line so that the file can be moved or read while a run goes on, and a line is
  // on disk as soon as it is written.
  std::FILE* f = std::fopen(path_.c_str(), "a");
  if (!f) {
    failed_ = true;
    return;
  }
  // Tabs and line breaks inside a field would break the one-event-per-line form.
  auto clean = [](std::string text) {
    for (char& c : text)
      if (c == '\t' || c == '\n' || c == '\r') c = ' ';
    return text;
  };
  const int n = std::fprintf(f, "%04d/%02d/%02d %02d:%02d:%02d\t%s\t%s\n", when.year, when.month,
                             when.day, when.hour, when.minute, when.second,
                             clean(instrument).c_str(), clean(what).c_str());
  if (n < 0 || std::fclose(f) != 0) failed_ = true;
}

}  // namespace kalivor
