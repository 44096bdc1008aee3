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
  if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg) return std::string(xdg) + "/kalivor";
  if (const char* home = std::getenv("HOME"); home && *home) return std::string(home) + "/.local/share/kalivor";
  return "/tmp/kalivor";
}

std::string resolveDataFolder(const std::string& dataDirOption) {
  if (!dataDirOption.empty()) return dataDirOption;
  const std::string program = executableFolder();
  if (::access(program.c_str(), W_OK) == 0) return program;
  return userDataFolder();
}

std::string dbFolderOf(const std::string& dataFolder) { return dataFolder + "/db"; }

}  // namespace kalivor
