// SPDX-License-Identifier: MIT
#include "common/paths.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>

namespace kalivor {

namespace fs = std::filesystem;

std::string executableFolder() {
  std::error_code ec;
  const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  if (ec) return fs::current_path(ec).string();
  return exe.parent_path().string();
}

static std::string userDataFolder() {
  // A relative XDG_DATA_HOME is to be ignored, as the base-directory rules say.
  if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg == '/')
    return std::string(xdg) + "/kalivor";
  if (const char* home = std::getenv("HOME"); home && *home) return std::string(home) + "/.local/share/kalivor";
  return "/tmp/kalivor";
}

std::string resolveDataFolder(const std::string& dataDirOption) {
  return resolveDataFolder(dataDirOption, executableFolder());
}

std::string resolveDataFolder(const std::string& dataDirOption, const std::string& programFolder) {
  if (!dataDirOption.empty()) return dataDirOption;
  // An installed copy has its desktop entry installed beside it. It keeps records per user even
  // when it may write its own folder (run as root, say), so they never land in /usr/bin/db.
  std::error_code ec;
  const bool installed =
      fs::exists(fs::path(programFolder).parent_path() / "share/applications/kalivor.desktop", ec);
  if (!installed && ::access(programFolder.c_str(), W_OK) == 0) return programFolder;
  return userDataFolder();
}

std::string dbFolderOf(const std::string& dataFolder) { return dataFolder + "/db"; }

}  // namespace kalivor
